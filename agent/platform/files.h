#pragma once

namespace pelko {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
};

FileSystem& PlatformFileSystem();

}  // namespace pelko
