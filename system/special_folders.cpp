#define _CRT_RAND_S
#include "system/special_folders.h"

#include <objbase.h>
#include <shlwapi.h>

#include <cstdlib>
#include <cwchar>
#include <optional>

#include "log/log.h"

namespace System {

namespace {

constexpr DWORD kPathBufferChars = kMaxResolvedChars + 1;

Detail::GuidSource guidSource = ::CoCreateGuid;
std::optional<std::wstring> runFolderName;

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// Random bits for the run folder's name when there is no GUID: the system's
// random generator, or failing that, the clock mixed with the process id.
unsigned long FallbackRandom() {
  unsigned int value = 0;
  if (rand_s(&value) == 0) return value;
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return static_cast<unsigned long>(counter.LowPart ^ (counter.HighPart * 2654435761u) ^
                                    (GetCurrentProcessId() << 16) ^ GetTickCount());
}

std::wstring MakeRunFolderName() {
  GUID guid{};
  unsigned long value = 0;
  if (FAILED(guidSource(&guid))) {
    LogError(L"%s - CoCreateGuid Failed, GetLastError: %d", L"System::ReplaceSpecials",
             static_cast<int>(GetLastError()));
    value = FallbackRandom();
  } else {
    value = guid.Data1;
  }
  wchar_t name[11];
  _snwprintf(name, 11, L"QV%08lX", value);
  name[10] = L'\0';
  return name;
}

std::wstring FolderFromApi(UINT(WINAPI* query)(LPWSTR, UINT)) {
  wchar_t buffer[kPathBufferChars];
  const UINT length = query(buffer, kPathBufferChars);
  if (length == 0 || length >= kPathBufferChars) return {};
  return std::wstring(buffer, length);
}

std::wstring TempFolder() {
  const std::wstring folder = UserTempFolder();
  return folder.empty() ? folder : folder + RunFolderName();
}

std::wstring ExeFolder() {
  wchar_t buffer[kPathBufferChars];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, kPathBufferChars);
  if (length == 0 || length == kPathBufferChars) return {};  // failed, or the path was cut
  PathRemoveFileSpecW(buffer);
  return buffer;
}

}  // namespace

const std::wstring& RunFolderName() {
  if (!runFolderName) runFolderName = MakeRunFolderName();
  return *runFolderName;
}

std::wstring ReplaceSpecials(std::wstring_view text) {
  std::wstring result;
  if (text.starts_with(kSystemFolder)) {
    result = FolderFromApi(GetSystemDirectoryW);
  } else if (text.starts_with(kTempFolder)) {
    result = TempFolder();
  } else if (text.starts_with(kExeFolder)) {
    result = ExeFolder();
  }

  std::wstring_view rest = text;
  if (!result.empty()) {
    rest = text.substr(text.find(L']') + 1);
    if (!rest.empty() && IsSeparator(rest.front())) rest.remove_prefix(1);
    if (!rest.empty() && !IsSeparator(result.back())) result.push_back(L'\\');
  }
  result.append(rest);
  if (result.size() > kMaxResolvedChars) result.resize(kMaxResolvedChars);
  return result;
}

namespace Detail {
void SetGuidSource(GuidSource source) {
  guidSource = source ? source : ::CoCreateGuid;
}
void ForgetRunFolderName() {
  runFolderName.reset();
}
}  // namespace Detail

}  // namespace System
