#include "system/folder_trust.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <vector>

#include "log/temp_folder.h"

namespace System {

namespace {

bool QuerySecurity(const std::wstring& folder, std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  wchar_t* text = nullptr;
  const bool converted = ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr);
  LocalFree(descriptor);
  if (!converted) return false;
  sddl = text;
  LocalFree(text);
  return true;
}

Detail::SecurityQuery securityQuery = QuerySecurity;

// Rights on a folder above that let someone take away or rename what is
// below it, or give themselves that right. Adding a file or a subfolder there
// is not among them: C:\ and C:\ProgramData let every user do that.
constexpr ACCESS_MASK kAboveRights = FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL |
                                     MAXIMUM_ALLOWED;
// On the folder itself, adding a file counts too: that is how a DLL is planted.
constexpr ACCESS_MASK kFolderRights = kAboveRights | FILE_ADD_FILE | GENERIC_WRITE;

// The account as the refusal names it.
std::wstring AccountName(PSID sid) {
  const std::wstring text = SidText(sid);
  return text.empty() ? L"an unknown account" : text;
}

// SYSTEM, the Administrators, TrustedInstaller and the user running the launcher.
bool IsTrusted(PSID sid, const std::wstring& user) {
  static constexpr wchar_t kTrustedInstaller[] =
      L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  const std::wstring text = SidText(sid);
  return IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         (!user.empty() && text == user) || text == kTrustedInstaller;
}

// Why a level is not to be trusted, or nothing; `itself` for the folder that
// the path names, rather than one above it.
std::optional<std::wstring> Judge(const std::wstring& level, const std::wstring& user, bool itself) {
  const DWORD attributes = GetFileAttributesW(level.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return L"is a link or junction";
  std::wstring sddl;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!securityQuery(level, sddl) ||
      !ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return L"has an owner or DACL that cannot be read";
  const std::unique_ptr<void, decltype(&LocalFree)> owned(descriptor, LocalFree);
  PSID owner = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner ||
      !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
    return L"has an owner or DACL that cannot be read";
  if (!IsTrusted(owner, user)) return L"is owned by " + AccountName(owner);
  if (!present || !dacl) return L"has no DACL, so anyone can write to it";
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, index, reinterpret_cast<void**>(&header))) return L"has a DACL that cannot be read";
    // Entries that only pass on to what is made inside do not apply here.
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    PSID sid = &ace->SidStart;
    if ((ace->Mask & (itself ? kFolderRights : kAboveRights)) && !IsTrusted(sid, user))
      return L"can be written by " + AccountName(sid);
  }
  return std::nullopt;
}

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// The levels of a path from the top: "C:\" or "\\server\share" first, then
// each folder below it.
std::vector<std::wstring> Levels(std::wstring_view path) {
  std::vector<std::wstring> levels;
  size_t at = 0;
  if (path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    const size_t server = path.find_first_of(L"\\/", 2);
    if (server == std::wstring_view::npos) return levels;
    const size_t share = path.find_first_of(L"\\/", server + 1);
    at = share == std::wstring_view::npos ? path.size() : share;
    levels.emplace_back(path.substr(0, at));
  } else if (path.size() >= 2 && path[1] == L':') {
    levels.push_back(std::wstring(path.substr(0, 2)) + L"\\");
    at = 2;
  }
  while (at < path.size()) {
    while (at < path.size() && IsSeparator(path[at])) ++at;
    size_t end = path.find_first_of(L"\\/", at);
    if (end == std::wstring_view::npos) end = path.size();
    if (end > at) levels.emplace_back(path.substr(0, end));
    at = end;
  }
  return levels;
}

}  // namespace

std::optional<Distrust> UntrustedLevel(std::wstring_view path) {
  const std::wstring user = RunningUserSid();
  const std::vector<std::wstring> levels = Levels(path);
  for (size_t index = 0; index < levels.size(); ++index) {
    const std::wstring& level = levels[index];
    if (GetFileAttributesW(level.c_str()) == INVALID_FILE_ATTRIBUTES) break;  // nor does anything below it
    if (const std::optional<std::wstring> why = Judge(level, user, index + 1 == levels.size()))
      return Distrust{level, *why};
  }
  return std::nullopt;
}

namespace Detail {
void SetSecurityQuery(SecurityQuery query) {
  securityQuery = query ? query : QuerySecurity;
}
}  // namespace Detail

}  // namespace System
