// Who may change a Windows file or folder, judged from its owner and access
// list: the rule of the Win32 Launcher::Vet, kept free of Windows headers
// so that both builds test it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pelko {

// The accounts the agent trusts are the system's own and the
// administrators'; kSelf is the agent's account (SYSTEM as a service, the
// Wine user under Wine).
enum class Trustee { kSystem, kAdministrators, kTrustedInstaller, kSelf, kOther };

struct AccessEntry {
  Trustee who = Trustee::kOther;
  std::string name;          // shown in the reason
  bool allows = true;        // a denying entry never widens anyone's access
  bool inheritOnly = false;  // for what is made inside, not for the entry itself
  uint32_t mask = 0;
};

// Rights that change an entry or what a folder holds: write data or add a
// file, append or add a folder, delete a child, delete, change the rights,
// take ownership, and the generic all and write.
inline constexpr uint32_t kChangingRights =
    0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;

inline bool Trusted(Trustee who) { return who != Trustee::kOther; }

// Empty when only trusted accounts own or can change it; else why not,
// after "<path> ". dacl is null when the entry has no access list, which
// lets everyone do everything.
inline std::string UntrustedChange(Trustee owner, const std::string& ownerName,
                                   const std::vector<AccessEntry>* dacl) {
  if (!Trusted(owner)) return "is owned by " + ownerName;
  if (dacl == nullptr) return "has no access list: everyone can change it";
  for (const AccessEntry& entry : *dacl) {
    if (entry.allows && !entry.inheritOnly && (entry.mask & kChangingRights) != 0 &&
        !Trusted(entry.who)) {
      return "can be changed by " + entry.name;
    }
  }
  return "";
}

}  // namespace pelko
