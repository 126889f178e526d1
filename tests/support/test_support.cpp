#include "tests/support/test_support.h"

#include <algorithm>
#include <filesystem>

#include "log/log.h"
#include "system/unique_handle.h"

namespace Testing {

namespace {
std::wstring TempPath() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  std::wstring path(buffer, length);
  if (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}
}  // namespace

std::wstring ProgramFolder() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  std::wstring path(buffer, length);
  return path.substr(0, path.find_last_of(L"\\/"));
}

TempFolder::TempFolder() {
  static unsigned counter = 0;
  path_ =
      TempPath() + L"\\case-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

namespace {

// The host's name for a Windows path, empty when there is none.
std::wstring UnixPath(const std::wstring& path) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unixName ? unixName(path.c_str()) : nullptr;
  if (!name) return {};
  wchar_t wide[MAX_PATH * 2] = L"";
  MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, MAX_PATH * 2);
  HeapFree(GetProcessHeap(), 0, name);
  return wide;
}

// Starts a program of the host; its end cannot be waited for from here.
bool StartHostProgram(std::wstring line) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return true;
}

// Whether something is at `path` within 5 s (`present`), or gone.
bool Await(const std::wstring& path, bool present) {
  for (int i = 0; i < 100; ++i) {
    if ((GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) == present) return true;
    Sleep(50);
  }
  return false;
}

}  // namespace

PlantedLink::PlantedLink(const std::wstring& target, const std::wstring& link) : link_(link) {
  const std::wstring from = UnixPath(target), to = UnixPath(link);
  planted_ = !from.empty() && !to.empty() &&
             StartHostProgram(L"Z:\\bin\\ln -s \"" + from + L"\" \"" + to + L"\"") && Await(link, true);
}

PlantedLink::~PlantedLink() {
  const std::wstring path = UnixPath(link_);
  if (planted_ && !path.empty() && StartHostProgram(L"Z:\\bin\\rm -f \"" + path + L"\"")) Await(link_, false);
}

DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, const std::wstring& tempFolder) {
  const std::wstring path = ProgramFolder() + L"\\" + program;
  std::wstring commandLine = L"\"" + path + L"\" " + arguments;

  wchar_t savedTmp[MAX_PATH + 1] = L"", savedTemp[MAX_PATH + 1] = L"";
  GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH + 1);
  GetEnvironmentVariableW(L"TEMP", savedTemp, MAX_PATH + 1);
  if (!tempFolder.empty()) {
    SetEnvironmentVariableW(L"TMP", tempFolder.c_str());
    SetEnvironmentVariableW(L"TEMP", tempFolder.c_str());
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &startup, &process);
  SetEnvironmentVariableW(L"TMP", savedTmp);
  SetEnvironmentVariableW(L"TEMP", savedTemp);
  if (!started) return 0xFFFFFFFF;

  UniqueHandleOwner processHandle(process.hProcess), threadHandle(process.hThread);
  if (WaitForSingleObject(processHandle.get(), 60000) != WAIT_OBJECT_0) {
    TerminateProcess(processHandle.get(), 0xFFFFFFFE);
    return 0xFFFFFFFE;
  }
  DWORD exitCode = 0xFFFFFFFD;
  GetExitCodeProcess(processHandle.get(), &exitCode);
  return exitCode;
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  bytes.clear();
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
  return true;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  UniqueFile file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file) WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::vector<std::wstring> FilesIn(const TempFolder& folder) {
  return FilesIn(folder.path());
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  UniqueFindFile find(FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
  } while (FindNextFileW(find.get(), &data));
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

TestRegistryKey::TestRegistryKey() {
  Remove();
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    UniqueHKey key;
    RegCreateKeyExW(root, kSubkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
  }
}

TestRegistryKey::~TestRegistryKey() {
  Remove();
}

void TestRegistryKey::Remove() {
  RegDeleteTreeW(HKEY_CURRENT_USER, kSubkey);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSubkey);
}

void TestRegistryKey::SetRaw(HKEY root, const std::wstring& subkey, const wchar_t* name, DWORD type,
                             const void* data, DWORD bytes) {
  UniqueHKey key;
  if (RegCreateKeyExW(root, (std::wstring(kSubkey) + subkey).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      key.put(), nullptr) == ERROR_SUCCESS) {
    RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes);
  }
}

void TestRegistryKey::SetText(HKEY root, const wchar_t* name, const std::wstring& text, DWORD type) {
  SetRaw(root, L"", name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void TestRegistryKey::SetDword(const wchar_t* name, DWORD value) {
  SetRaw(HKEY_CURRENT_USER, L"", name, REG_DWORD, &value, sizeof(value));
}

std::wstring LogFilePath() {
  return TempPath() + L"\\VantorLauncher.log";
}

LogCapture::LogCapture() : savedLevel_(LogLevel.load()) {
  std::string bytes;
  ReadFileBytes(LogFilePath(), bytes);
  start_ = bytes.size();
  LogLevel = LOG_LEVEL_INFO;
}

LogCapture::~LogCapture() {
  LogLevel = savedLevel_;
}

std::vector<std::string> LogCapture::Lines() const {
  std::string bytes;
  ReadFileBytes(LogFilePath(), bytes);
  return SplitLines(bytes.size() > start_ ? bytes.substr(start_) : std::string());
}

std::wstring Md5Hex(const std::string& bytes) {
  UniqueCryptProv provider;
  UniqueCryptHash hash;
  BYTE digest[16] = {};
  DWORD size = sizeof(digest);
  if (!CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) ||
      !CryptCreateHash(provider.get(), CALG_MD5, 0, 0, hash.put()) ||
      !CryptHashData(hash.get(), reinterpret_cast<const BYTE*>(bytes.data()),
                     static_cast<DWORD>(bytes.size()), 0) ||
      !CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &size, 0)) {
    return L"";
  }
  std::wstring text;
  for (BYTE byte : digest) {
    text.push_back(L"0123456789abcdef"[byte >> 4]);
    text.push_back(L"0123456789abcdef"[byte & 15]);
  }
  return text;
}

std::string Narrow(const std::wstring& text) {
  std::string bytes;
  for (wchar_t c : text) bytes.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return bytes;
}

std::wstring Widen(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

}  // namespace Testing
