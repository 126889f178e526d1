#define _CRT_RAND_S
#include "system/special_folders.h"

#include <objbase.h>
#include <sddl.h>
#include <shlwapi.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <optional>

#include "log/log.h"
#include "system/privileges.h"
#include "system/unique_handle.h"

namespace System {

namespace {

constexpr DWORD kPathBufferChars = kMaxResolvedChars + 1;

Detail::GuidSource guidSource = ::CoCreateGuid;
Detail::ElevationSource elevationSource = RunsElevated;
std::optional<std::wstring> runFolderName;
std::optional<std::wstring> madeRunFolder;  // the run folder, once this process has made it
bool runFolderRefused = false;              // its name was taken by someone else

constexpr wchar_t kCreateDirName[] = L"System::CreateDir";

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

// "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;<the user's SID>)": no
// entry inherited from the temp folder, where every user may add files. A run
// with administrator rights keeps the folder to SYSTEM and the Administrators:
// the user may read and run what is in it, and the high integrity label keeps
// the user's programs, which run below it, from adding a file even where an
// entry would let them: "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;
// <the user's SID>)S:(ML;OICI;NW;;;HI)", without the user's entry for SYSTEM.
std::wstring RunFolderDacl(bool elevated) {
  const std::wstring userSid = RunningUserSid();
  if (userSid.empty()) return {};
  if (!elevated) return L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + userSid + L")";
  std::wstring dacl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  if (userSid != L"S-1-5-18") dacl += L"(A;OICI;0x1200a9;;;" + userSid + L")";
  return dacl + L"S:(ML;OICI;NW;;;HI)";
}

// The descriptor of RunFolderDacl, owned by LocalFree; null when it cannot be made.
PSECURITY_DESCRIPTOR RunFolderDescriptor(bool elevated) {
  const std::wstring dacl = RunFolderDacl(elevated);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (dacl.empty() ||
      !ConvertStringSecurityDescriptorToSecurityDescriptorW(dacl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return nullptr;
  return descriptor;
}

// Makes one folder with the descriptor. RESULT_FAILED, logged, when it is
// there already: then someone else made it; RESULT_ERROR, logged, when it
// cannot be made.
Result MakeFolderWith(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor) {
  if (!descriptor) {
    LogError(L"%s - Unable to Create Directory: %s", kCreateDirName, path.c_str());
    return RESULT_ERROR;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const BOOL made = CreateDirectoryW(path.c_str(), &attributes);
  const DWORD error = GetLastError();
  LocalFree(descriptor);
  if (made) return RESULT_PASSED;
  if (error == ERROR_ALREADY_EXISTS) {
    LogError(L"%s - %s was there already: someone else made it, and it is not used", kCreateDirName,
             path.c_str());
    return RESULT_FAILED;
  }
  LogError(L"%s - Unable to Create Directory: %s", kCreateDirName, path.c_str());
  return RESULT_ERROR;
}

// Whether `name` has the run folder's form: "QV" and 8 upper-case hexadecimal digits.
bool IsRunFolderName(std::wstring_view name) {
  if (name.size() != 10 || !name.starts_with(L"QV")) return false;
  for (const wchar_t c : name.substr(2))
    if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) return false;
  return true;
}

bool SameFolder(std::wstring_view a, std::wstring_view b) {
  while (!a.empty() && IsSeparator(a.back())) a.remove_suffix(1);
  while (!b.empty() && IsSeparator(b.back())) b.remove_suffix(1);
  return !a.empty() && CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                            static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::optional<std::wstring> RunFolderOf(std::wstring_view path) {
  if (!runFolderName) return std::nullopt;
  const std::wstring folder = UserTempFolder() + *runFolderName;
  if (path.size() < folder.size() || !SameFolder(path.substr(0, folder.size()), folder)) return std::nullopt;
  if (path.size() > folder.size() && !IsSeparator(path[folder.size()])) return std::nullopt;
  return folder;
}

std::optional<std::wstring> MadeRunFolder() {
  return madeRunFolder;
}

Result MakeRunFolder(const std::wstring& path) {
  if (runFolderRefused) return RESULT_ERROR;
  if (madeRunFolder && SameFolder(*madeRunFolder, path)) return RESULT_PASSED;
  const Result made = MakeFolderWith(path, RunFolderDescriptor(elevationSource()));
  if (made == RESULT_PASSED) madeRunFolder = path;
  if (made == RESULT_FAILED) runFolderRefused = true;
  return made == RESULT_PASSED ? RESULT_PASSED : RESULT_ERROR;
}

Result MakeProtectedFolder(const std::wstring& path) {
  return MakeFolderWith(path, RunFolderDescriptor(false)) == RESULT_PASSED ? RESULT_PASSED : RESULT_ERROR;
}

Result MakeAdministratorsFolder(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
                                                       &descriptor, nullptr);
  return MakeFolderWith(path, descriptor) == RESULT_PASSED ? RESULT_PASSED : RESULT_ERROR;
}

bool RunHasAdministratorRights() {
  return elevationSource();
}

std::wstring NewFolderName() {
  return MakeRunFolderName();
}

bool AdoptRunFolderName(const std::wstring& name) {
  if (runFolderName || !IsRunFolderName(name)) return false;
  runFolderName = name;
  runFolderRefused = true;  // another's: never made here
  return true;
}

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
void SetElevationSource(ElevationSource source) {
  elevationSource = source ? source : RunsElevated;
}
void ForgetRunFolderName() {
  runFolderName.reset();
  madeRunFolder.reset();
  runFolderRefused = false;
}
std::wstring RunFolderSddl() {
  // Wine's SDDL parser drops a mandatory label, so the text is given as the
  // descriptor is made from it, once it is known to make one.
  const bool elevated = elevationSource();
  PSECURITY_DESCRIPTOR descriptor = RunFolderDescriptor(elevated);
  if (!descriptor) return {};
  LocalFree(descriptor);
  return RunFolderDacl(elevated);
}
}  // namespace Detail

}  // namespace System
