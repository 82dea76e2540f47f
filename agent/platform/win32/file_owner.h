// Whether a file's owner is an account that others cannot act as: SYSTEM,
// the Administrators group, or this process's own account (the agent's
// service runs as SYSTEM; under Wine files belong to the Wine user).
#pragma once

#include <windows.h>
#include <aclapi.h>

namespace pelko {

inline bool IsTrustedOwner(PSID owner) {
  if (IsWellKnownSid(owner, WinLocalSystemSid) ||
      IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) {
    return true;
  }
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(TOKEN_USER) char buffer[256];
  DWORD size = 0;
  const bool same = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
                    EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
  CloseHandle(token);
  return same;
}

// file must have been opened with READ_CONTROL.
inline bool OwnedByTrustedAccount(HANDLE file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool trusted = owner != nullptr && IsTrustedOwner(owner);
  LocalFree(descriptor);
  return trusted;
}

}  // namespace pelko
