#include "pelkoctl/setting_admin.h"

#include <algorithm>

#include "agent/util/coding.h"

namespace pelko::ctl {

namespace {

std::string Values(const SettingInfo& setting) {
  if (setting.owner == SettingOwner::kPasswordCommand) return "sealed secret";
  if (setting.kind == SettingKind::kText) return "text";
  if (setting.maximum == 0) return "any number";
  return std::to_string(setting.minimum) + " to " + std::to_string(setting.maximum);
}

std::string WrittenBy(const SettingInfo& setting) {
  switch (setting.owner) {
    case SettingOwner::kAdministrator:
      return "pelkoctl set";
    case SettingOwner::kPrinterCommands:
      return "pelkoctl add/remove/cost";
    case SettingOwner::kAgent:
      return "Pelko itself";
    case SettingOwner::kPasswordCommand:
      return setting.setWith;
  }
  return "";
}

}  // namespace

void PrintSettingsTable(std::ostream& out, bool markdown) {
  std::vector<std::vector<std::string>> rows{
      {"Setting", "Type", "Values", "Written by", "Meaning"}};
  for (const SettingInfo& setting : KnownSettings()) {
    rows.push_back({setting.name, RegTypeName(StoredType(setting.kind)), Values(setting),
                    WrittenBy(setting), setting.meaning});
  }
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::string line;
    for (std::size_t i = 0; i < rows[r].size(); ++i) {
      const bool last = i + 1 == rows[r].size();
      std::string cell = markdown && r > 0 && i == 0 ? "`" + rows[r][i] + "`" : rows[r][i];
      if (markdown) {
        line += "| " + cell + " ";
        if (last) line += "|";
      } else {
        line += last ? cell : cell + std::string(widths[i] + 2 - cell.size(), ' ');
      }
    }
    out << line << '\n';
    if (markdown && r == 0) out << "|---|---|---|---|---|\n";
  }
}

SettingLine SettingAdmin::Look(const SettingInfo& setting) {
  SettingLine line{&setting, "(not set)", "", "", kRegNone};
  std::string failure;
  auto stored = key.Get(setting.name, &failure);
  if (!failure.empty()) {
    line.shown = "(cannot be read)";
    line.trouble = failure;
    return line;
  }
  if (!stored) return line;
  line.storedType = stored->type;
  const std::string name = setting.name;
  switch (setting.owner) {
    case SettingOwner::kPasswordCommand:
      line.fix = setting.setWith;
      break;
    case SettingOwner::kAgent:
      line.fix = "delete it; the agent writes it again";
      break;
    default:
      line.fix = "pelkoctl set " + name + (setting.kind == SettingKind::kNumber ? " N" : " TEXT");
  }
  if (setting.owner == SettingOwner::kPasswordCommand) {
    // Never shown: only whether there is one.
    line.shown = "(set)";
    return line;
  }
  if (setting.kind == SettingKind::kNumber) {
    if (auto number = stored->Number()) {
      line.shown = std::to_string(*number);
      const std::string why = RejectValue(setting, line.shown, nullptr);
      if (!why.empty()) line.trouble = why;
      return line;
    }
    line.shown = stored->Describe();
    line.trouble = "stored as " + RegTypeName(stored->type) +
                   ", which the agent reads as 0; it must be a REG_DWORD";
    return line;
  }
  if (auto text = stored->Text(); text && stored->type == kRegSz) {
    line.shown = "\"" + *text + "\"";
    const std::string why = RejectValue(setting, *text, nullptr);
    if (!why.empty()) line.trouble = why;
    return line;
  }
  line.shown = stored->Describe();
  line.trouble = "stored as " + RegTypeName(stored->type) + "; it must be a REG_SZ";
  return line;
}

Outcome SettingAdmin::Show(const std::string& name, std::vector<SettingLine>* lines) {
  lines->clear();
  if (name.empty()) {
    for (const SettingInfo& setting : KnownSettings()) lines->push_back(Look(setting));
    return {};
  }
  const SettingInfo* setting = FindSetting(name);
  if (setting == nullptr) return {"no setting '" + name + "' (pelkoctl show lists them)", ""};
  lines->push_back(Look(*setting));
  return {};
}

Outcome SettingAdmin::Set(const std::string& name, const std::string& value,
                          const std::string& restartHint) {
  const SettingInfo* setting = FindSetting(name);
  if (setting == nullptr) {
    // A printer's own values have commands of their own, which name it.
    if (AsciiLowered(name).rfind("printer", 0) == 0) {
      return {"no setting '" + name +
                  "': a printer's values are set with pelkoctl cost NAME N "
                  "[PRICES] (pelkoctl list names the printers)",
              ""};
    }
    return {"no setting '" + name + "' (pelkoctl show lists them)", ""};
  }
  switch (setting->owner) {
    case SettingOwner::kAgent:
      return {std::string(setting->name) + " is written by the agent itself", ""};
    case SettingOwner::kPasswordCommand:
      return {std::string("the password is never given on a command line: ") + setting->setWith +
                  " reads it",
              ""};
    case SettingOwner::kPrinterCommands:
      // nPrinters only to mend a count stored as text, and only where every
      // slot it takes in has a printer; IsModified to have the agent take up
      // printers written by hand.
      if (std::string(setting->name) != "nPrinters" && std::string(setting->name) != "IsModified") {
        return {std::string(setting->name) + " is raised by pelkoctl add, remove and cost", ""};
      }
      break;
    case SettingOwner::kAdministrator:
      break;
  }
  uint32_t number = 0;
  if (std::string why = RejectValue(*setting, value, &number); !why.empty()) {
    return {std::string(setting->name) + ": " + why, ""};
  }
  if (std::string(setting->name) == "nPrinters") {
    for (uint32_t i = 1; i <= number; ++i) {
      auto slot = key.Get("Printer" + std::to_string(i));
      if (!slot || !slot->Text() || slot->Text()->empty()) {
        return {"Printer" + std::to_string(i) + " has no name: nPrinters cannot be " + value +
                    " (use pelkoctl add)",
                ""};
      }
    }
  }
  const std::string previous = std::string(setting->name) == "Path"
                                   ? key.Get("Path").value_or(StoredValue{}).Text().value_or("")
                                   : "";
  const std::string failure = setting->kind == SettingKind::kNumber
                                  ? key.PutNumber(setting->name, number)
                                  : key.PutText(setting->name, value);
  if (!failure.empty()) return {failure, ""};
  if (std::string(setting->name) == "nPrinters") {
    if (std::string raised = key.PutNumber("IsModified", 1); !raised.empty()) return {raised, ""};
  }
  std::string said = std::string(setting->name) + " = " +
                     (setting->kind == SettingKind::kNumber ? value : "\"" + value + "\"") + " (" +
                     RegTypeName(StoredType(setting->kind)) + ")";
  if (std::string(setting->name) == "Path") {
    // The agent gathers and mails from the Path it started with.
    if (!previous.empty() && previous != value) {
      said += "\nwarning: a running agent gathers and mails the logs of " + previous +
              " until it starts again (" + restartHint + ")";
    }
    if (files != nullptr && !files->OpenFolder(value)) {
      said += "\nwarning: " + value +
              " is missing: make it, and its Logs folder, before the "
              "agent writes there (pelkoctl check says what it needs)";
    }
  }
  return {"", said};
}

}  // namespace pelko::ctl
