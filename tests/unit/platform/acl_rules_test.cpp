#include "agent/platform/acl_rules.h"

#include <gtest/gtest.h>

namespace pelko {
namespace {

// The rights Windows gives C:\ProgramData's subfolders, which an installer
// that keeps them leaves to Pelko's Path, and some an attacker would want.
constexpr uint32_t kFull = 0x1f01ff, kReadExecute = 0x1200a9, kAddFile = 0x2, kAddFolder = 0x4,
                   kWriteDac = 0x40000, kGenericAll = 0x10000000;

TEST(AclRules, OnlyTheSystemItsAdministratorsAndTheAgentMayChangeIt) {
  const AccessEntry system{Trustee::kSystem, "SYSTEM", true, false, kFull};
  const AccessEntry admins{Trustee::kAdministrators, "Administrators", true, false, kFull};
  const AccessEntry readers{Trustee::kOther, "Pelko Readers", true, false, kReadExecute};
  const auto users = [](uint32_t mask, bool allows = true, bool inheritOnly = false) {
    return AccessEntry{Trustee::kOther, "BUILTIN\\Users", allows, inheritOnly, mask};
  };
  struct Case {
    const char* what;
    Trustee owner;
    std::vector<AccessEntry> dacl;
    bool noDacl;
    std::string why;
  } cases[] = {
      {"the installer's rights", Trustee::kAdministrators, {system, admins, readers}, false, ""},
      {"owned by SYSTEM", Trustee::kSystem, {system, admins}, false, ""},
      {"owned by TrustedInstaller", Trustee::kTrustedInstaller, {system, admins}, false, ""},
      {"the Wine user's own file",
       Trustee::kSelf,
       {system, {Trustee::kSelf, "wine", true, false, kFull}},
       false,
       ""},
      {"owned by a user", Trustee::kOther, {system, admins}, false, "is owned by mallory"},
      {"ProgramData's: Users add files",
       Trustee::kAdministrators,
       {system, admins, users(kAddFile | kAddFolder)},
       false,
       "can be changed by BUILTIN\\Users"},
      {"Users add folders only",
       Trustee::kAdministrators,
       {system, admins, users(kAddFolder)},
       false,
       "can be changed by BUILTIN\\Users"},
      {"Users change the rights",
       Trustee::kAdministrators,
       {users(kWriteDac)},
       false,
       "can be changed by BUILTIN\\Users"},
      {"Users hold generic all",
       Trustee::kAdministrators,
       {users(kGenericAll)},
       false,
       "can be changed by BUILTIN\\Users"},
      {"Users only read",
       Trustee::kAdministrators,
       {system, admins, users(kReadExecute)},
       false,
       ""},
      {"a denial gives nothing",
       Trustee::kAdministrators,
       {admins, users(kFull, false)},
       false,
       ""},
      {"for what is made inside only",
       Trustee::kAdministrators,
       {admins, users(kFull, true, true)},
       false,
       ""},
      {"no access list at all",
       Trustee::kAdministrators,
       {},
       true,
       "has no access list: everyone can change it"},
      {"an empty list lets no one in", Trustee::kAdministrators, {}, false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UntrustedChange(c.owner, "mallory", c.noDacl ? nullptr : &c.dacl), c.why) << c.what;
  }
}

}  // namespace
}  // namespace pelko
