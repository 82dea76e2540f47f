#pragma once

namespace pelko {

class Spooler {
 public:
  virtual ~Spooler() = default;
};

Spooler& PlatformSpooler();

}  // namespace pelko
