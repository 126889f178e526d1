#include "log/temp_folder.h"

#include <aclapi.h>
#include <sddl.h>

namespace System {

namespace {

constexpr DWORD kPathBufferChars = 1024;

// Looked up at run time: older systems, and Wine 8, do not have it.
Detail::TempPathFunction LookUpTempPath2() {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  return kernel32 ? reinterpret_cast<Detail::TempPathFunction>(
                        reinterpret_cast<void*>(GetProcAddress(kernel32, "GetTempPath2W")))
                  : nullptr;
}

Detail::TempPathFunction tempPath2 = LookUpTempPath2();

}  // namespace

std::wstring UserTempFolder() {
  wchar_t buffer[kPathBufferChars];
  const DWORD length = (tempPath2 ? tempPath2 : GetTempPathW)(kPathBufferChars, buffer);
  if (length == 0 || length >= kPathBufferChars) return {};
  return std::wstring(buffer, length);
}

bool IsPlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  return GetFileInformationByHandle(file, &information) &&
         !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && information.nNumberOfLinks == 1;
}

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return {};
  std::wstring result = text;
  LocalFree(text);
  return result;
}

std::wstring RunningUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  const bool read = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size);
  CloseHandle(token);
  return read ? SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) : L"";
}

namespace {
bool QueryOwner(HANDLE file, std::wstring& sid) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return false;
  sid = owner ? SidText(owner) : L"";
  LocalFree(descriptor);
  return !sid.empty();
}

Detail::OwnerQuery ownerQuery = QueryOwner;
}  // namespace

bool HasTrustedOwner(HANDLE file) {
  std::wstring owner;
  if (!ownerQuery(file, owner)) return false;
  return owner == L"S-1-5-18" || owner == L"S-1-5-32-544" || owner == RunningUserSid();
}

namespace Detail {
void SetTempPath2Source(TempPathFunction source) {
  tempPath2 = source ? source : LookUpTempPath2();
}
void SetOwnerQuery(OwnerQuery query) {
  ownerQuery = query ? query : QueryOwner;
}
}  // namespace Detail

}  // namespace System
