#include "system/privileges.h"

#include <windows.h>

#include "log/log.h"
#include "log/temp_folder.h"
#include "system/scope_exit.h"
#include "system/unique_handle.h"

namespace System {

int UserIsAdmin() {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                               0, 0, 0, &administrators)) {
    ScopeExit freeSid([&] { FreeSid(administrators); });
    BOOL member = FALSE;
    if (CheckTokenMembership(nullptr, administrators, &member) && member) return 1;
  }
  return UserHasSplitToken() ? 1 : 0;
}

bool UserHasSplitToken() {
  UniqueHandleOwner token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION_TYPE type{};
  DWORD returned = 0;
  if (!GetTokenInformation(token.get(), TokenElevationType, &type, sizeof(type), &returned)) return false;

  constexpr wchar_t kName[] = L"System::UserHasSplitToken";
  switch (type) {
    case TokenElevationTypeDefault:
      LogWarning(L"%s - TokenElevationTypeDefault: User is not using a split token.", kName);
      return false;
    case TokenElevationTypeFull:
      LogWarning(L"%s - TokenElevationTypeFull: User has a split token, and the process is running elevated.",
                 kName);
      return true;
    case TokenElevationTypeLimited:
      LogWarning(
          L"%s - TokenElevationTypeLimited: User has a split token, but the process is not running elevated",
          kName);
      return true;
    default: return false;
  }
}

bool RunsAsSystem() {
  return RunningUserSid() == L"S-1-5-18";
}

bool IsElevated(HANDLE process) {
  UniqueHandleOwner token;
  TOKEN_ELEVATION elevation{};
  DWORD returned = 0;
  return OpenProcessToken(process, TOKEN_QUERY, token.put()) &&
         GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &returned) &&
         elevation.TokenIsElevated;
}

namespace {
// The integrity level of a token (its label's last sub-authority); 0 when it cannot be read.
DWORD IntegrityOf(HANDLE token) {
  alignas(TOKEN_MANDATORY_LABEL) BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof(buffer), &size)) return 0;
  const PSID label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
  return *GetSidSubAuthority(label, *GetSidSubAuthorityCount(label) - 1);
}
}  // namespace

bool RunsAboveUser() {
  UniqueHandleOwner token;
  TOKEN_LINKED_TOKEN linked{};
  DWORD returned = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
      !GetTokenInformation(token.get(), TokenLinkedToken, &linked, sizeof(linked), &returned))
    return false;
  const UniqueHandleOwner other(linked.LinkedToken);
  return IntegrityOf(token.get()) > IntegrityOf(other.get());
}

bool RunsElevated() {
  return IsElevated(GetCurrentProcess()) || RunsAsSystem();
}

}  // namespace System
