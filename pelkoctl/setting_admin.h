// show and set: the settings of the table by name, each written with the
// type the agent reads it with.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "agent/config/setting_table.h"
#include "agent/platform/files.h"
#include "agent/platform/registry.h"
#include "pelkoctl/pelko_key.h"
#include "pelkoctl/printer_admin.h"

namespace pelko::ctl {

struct SettingLine {
  const SettingInfo* setting = nullptr;
  std::string shown;               // the value as the agent reads it, or "(not set)"
  std::string trouble;             // why the agent would misread it; empty when fine
  std::string fix;                 // the command that mends the trouble
  uint32_t storedType = kRegNone;  // as stored; kRegNone when not set
};

// The table of every setting, as `pelkoctl settings` prints it: aligned
// columns, or a Markdown table (markdown) for the documents.
void PrintSettingsTable(std::ostream& out, bool markdown);

class SettingAdmin {
 public:
  // files, when given, tells set Path whether the folder is there.
  explicit SettingAdmin(Registry& registry, FileSystem* files = nullptr)
      : registry(registry), key(registry), files(files) {}

  // One setting, or every one of the table when name is empty.
  Outcome Show(const std::string& name, std::vector<SettingLine>* lines);
  // restartHint: how the agent is started again where Path changes.
  Outcome Set(const std::string& name, const std::string& value,
              const std::string& restartHint = "systemctl restart pelkomon");

  // The line of one setting: its value and whether it is stored as it should.
  SettingLine Look(const SettingInfo& setting);

 private:
  Registry& registry;
  PelkoKey key;
  FileSystem* files;
};

}  // namespace pelko::ctl
