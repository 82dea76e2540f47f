// The values of Software\Pelko as they are stored, type and bytes, for a
// command that must see what the agent would misread rather than read it
// the agent's forgiving way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "agent/platform/registry.h"

namespace pelko::ctl {

struct StoredValue {
  uint32_t type = kRegNone;
  std::string data;  // the stored bytes

  // The number of a 4-byte REG_DWORD; none for anything else.
  std::optional<uint32_t> Number() const;
  // The text of a REG_SZ up to its first zero byte; none for anything else.
  std::optional<std::string> Text() const;
  // For messages: 20, "Office", or what else is there and how it is stored.
  std::string Describe() const;
};

class PelkoKey {
 public:
  explicit PelkoKey(Registry& registry) : registry(registry) {}

  // The value; none when it (or the key) is missing. A store that cannot be
  // read at all sets *failure.
  std::optional<StoredValue> Get(const std::string& name, std::string* failure = nullptr);
  // Each returns an empty text or why the write failed.
  std::string PutNumber(const std::string& name, uint32_t number);
  std::string PutText(const std::string& name, const std::string& text);
  // A value moved as it was stored, type and bytes, mistyped or not.
  std::string PutStored(const std::string& name, const StoredValue& value) {
    return Put(name, value.type, value.data);
  }
  std::string Delete(const std::string& name);

 private:
  std::string Put(const std::string& name, uint32_t type, const std::string& bytes);
  Registry& registry;
};

// A registry status as words an administrator can act on.
std::string DescribeStatus(int32_t status);

}  // namespace pelko::ctl
