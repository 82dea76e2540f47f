#include "agent/platform/launcher.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>

#include <vector>

#include "agent/platform/acl_rules.h"
#include "agent/platform/win32/file_owner.h"

namespace pelko {

namespace {

// The account as "DOMAIN\name (S-1-...)", or the SID alone.
std::string NameOf(PSID sid) {
  std::string text = "an unknown account";
  char* sidText = nullptr;
  if (ConvertSidToStringSidA(sid, &sidText)) {
    text = sidText;
    LocalFree(sidText);
  }
  char name[256], domain[256];
  DWORD nameSize = sizeof name, domainSize = sizeof domain;
  SID_NAME_USE use;
  if (LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
    text =
        (*domain != '\0' ? std::string(domain) + "\\" : std::string()) + name + " (" + text + ")";
  }
  return text;
}

Trustee TrusteeOf(PSID sid) {
  if (IsWellKnownSid(sid, WinLocalSystemSid)) return Trustee::kSystem;
  if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return Trustee::kAdministrators;
  // NT SERVICE\TrustedInstaller, which owns the system's own files.
  static const char kTrustedInstaller[] =
      "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  char* sidText = nullptr;
  if (ConvertSidToStringSidA(sid, &sidText)) {
    const bool installer = std::string(sidText) == kTrustedInstaller;
    LocalFree(sidText);
    if (installer) return Trustee::kTrustedInstaller;
  }
  return IsTrustedOwner(sid) ? Trustee::kSelf : Trustee::kOther;
}

// Under Wine, which keeps no access lists, the rights read are those Wine
// makes of the file's Unix owner and mode: the Wine user (the agent's own
// account) owns it and may write; everyone may write only where the mode
// lets others write.
LaunchResult VetRights(const std::string& path) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            &owner, nullptr, &dacl, nullptr, &descriptor);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return {LaunchStatus::kFailed, path + " is missing"};
  }
  if (error != ERROR_SUCCESS || owner == nullptr) {
    if (descriptor != nullptr) LocalFree(descriptor);
    return {LaunchStatus::kFailed,
            path + ": its rights cannot be read (error " + std::to_string(error) + ")"};
  }
  std::vector<AccessEntry> entries;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const auto* header = static_cast<ACE_HEADER*>(ace);
    AccessEntry entry;
    // Only the plain kinds name their SID here; treat any other allowing
    // kind as allowing everything to someone unknown.
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
      const auto* plain = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      PSID sid = const_cast<DWORD*>(&plain->SidStart);
      entry.who = TrusteeOf(sid);
      entry.name = NameOf(sid);
      entry.mask = plain->Mask;
      entry.allows = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
    } else {
      entry.name = "an entry of type " + std::to_string(header->AceType);
      entry.mask = kChangingRights;
      entry.allows = header->AceType != ACCESS_DENIED_OBJECT_ACE_TYPE &&
                     header->AceType != ACCESS_DENIED_CALLBACK_ACE_TYPE &&
                     header->AceType != ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE &&
                     header->AceType != SYSTEM_AUDIT_ACE_TYPE &&
                     header->AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE;
    }
    entry.inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
    entries.push_back(std::move(entry));
  }
  const std::string why =
      UntrustedChange(TrusteeOf(owner), NameOf(owner), dacl != nullptr ? &entries : nullptr);
  LocalFree(descriptor);
  if (!why.empty()) return {LaunchStatus::kRefused, path + " " + why};
  return {LaunchStatus::kStarted, ""};
}

class ProcessHandle : public StartedProgram {
 public:
  explicit ProcessHandle(HANDLE process) : process(process) {}
  ~ProcessHandle() override { CloseHandle(process); }
  bool Running() override { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

 private:
  const HANDLE process;
};

class ShellLauncher : public Launcher {
 public:
  LaunchResult Vet(const std::string& path) override { return VetRights(path); }

  LaunchResult Check(const std::string& program) override {
    const DWORD attributes = GetFileAttributesA(program.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
      return {LaunchStatus::kFailed, program + " is missing"};
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
      return {LaunchStatus::kFailed, program + " is a folder"};
    return {LaunchStatus::kStarted, ""};
  }

  LaunchResult Launch(const std::string& program) override {
    SHELLEXECUTEINFOA start{};
    start.cbSize = sizeof start;
    start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    start.lpFile = program.c_str();
    start.nShow = SW_SHOW;
    if (!ShellExecuteExA(&start)) {
      return {LaunchStatus::kFailed,
              "ShellExecute failed with error " + std::to_string(GetLastError())};
    }
    std::shared_ptr<StartedProgram> followed;
    if (start.hProcess != nullptr) followed = std::make_shared<ProcessHandle>(start.hProcess);
    return {LaunchStatus::kStarted, "", std::move(followed)};
  }
};

}  // namespace

Launcher& PlatformLauncher() {
  static ShellLauncher launcher;
  return launcher;
}

}  // namespace pelko
