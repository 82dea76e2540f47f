// The table of the settings an administrator sets, with the type each is
// stored as and the values the agent and the mail program can use. The
// configuration command writes only what this table allows, and the agent
// says when a setting it knows is stored with another type.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "agent/platform/registry.h"

namespace pelko {

enum class SettingKind { kNumber, kText };

// Who writes a setting: the administrator through `set`, the printer
// commands (add, remove, cost), the agent or the mail program itself, or a
// password command that reads the secret from standard input.
enum class SettingOwner { kAdministrator, kPrinterCommands, kAgent, kPasswordCommand };

// Why a text cannot be a setting's value; empty when it can.
using TextCheck = std::string (*)(std::string_view text);

struct SettingInfo {
  const char* name;  // the value's name under Software\Pelko
  SettingKind kind;
  uint32_t minimum;  // numbers only
  uint32_t maximum;
  SettingOwner owner;
  const char* meaning;
  TextCheck check = nullptr;      // texts only; none: any text without control bytes
  const char* setWith = nullptr;  // a password command's command line
};

// Every setting under Software\Pelko but the per-printer ones: the one list
// that `pelkoctl show`, `set` and `check`, and the documents' tables
// (`pelkoctl settings`) come from.
const std::vector<SettingInfo>& KnownSettings();
// The setting of that name, without regard to case; nullptr if unknown.
const SettingInfo* FindSetting(std::string_view name);

// The registry type a setting of this kind is stored with.
uint32_t StoredType(SettingKind kind);

// Why text cannot be the value of setting (empty when it can): a number out
// of range or not a decimal number, a time that is not HH:MM, a host name
// with bytes no host name has. *number gets the number of a kNumber.
std::string RejectValue(const SettingInfo& setting, std::string_view text, uint32_t* number);

// One line for each setting of the table, and each printer's name and
// cost up to nPrinters, that is stored with a type its reader cannot use
// (a number as text reads as 0). Missing values are not named.
std::vector<std::string> MistypedSettings(Registry& registry);

// "07:30" -> minutes after midnight; false unless it is HH:MM, 00:00..23:59.
bool ParseTimeOfDay(std::string_view text, int* minutes);

// The slots a printer may take: 1 to kMaxPrinters.
inline constexpr int kMaxPrinters = 49;
// A cost per page the logs can hold at all.
inline constexpr uint32_t kMaxPageCost = 2147483647u;

}  // namespace pelko
