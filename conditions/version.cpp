#include "conditions/version.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "conditions/condition.h"
#include "config/run_settings.h"
#include "system/file_system.h"
#include "system/registry.h"

namespace {

std::vector<unsigned long> VersionFields(std::wstring_view text) {
  std::vector<unsigned long> fields;
  size_t position = 0;
  while (position < text.size()) {
    const size_t start = text.find_first_not_of(L" ,.", position);
    if (start == std::wstring_view::npos) break;
    const size_t end = std::min(text.find_first_of(L" ,.", start), text.size());
    const std::wstring field(text.substr(start, end - start));
    // wcstoul would also take a sign or leading blanks; fields never hold
    // blanks, and a sign is not a digit, so only leading digits count here.
    unsigned long number = 0;
    if (field.front() >= L'0' && field.front() <= L'9') number = wcstoul(field.c_str(), nullptr, 10);
    fields.push_back(number);
    position = end;
  }
  return fields;
}

}  // namespace

int CompareVersions(std::wstring_view v1, std::wstring_view v2) {
  if (v1.empty() || v2.empty()) return 0;
  const std::vector<unsigned long> first = VersionFields(v1), second = VersionFields(v2);
  for (size_t i = 0; i < first.size() || i < second.size(); ++i) {
    const unsigned long a = i < first.size() ? first[i] : 0;
    const unsigned long b = i < second.size() ? second[i] : 0;
    if (a > b) return 2;
    if (a < b) return 1;
  }
  return 3;
}

namespace Condition {

namespace {
constexpr size_t kVersionTextChars = 128;

// The product versions read in this run, by path. One run asks for the
// installed client's several times while it decides; the file changes only
// when the installer runs, and then the cached results are forgotten.
std::vector<std::pair<std::wstring, std::wstring>> fileVersions;

// The file's product version as "a.b.c.d"; false when it cannot be read.
bool ProductVersion(const std::wstring& file, std::wstring& version) {
  for (const auto& [path, known] : fileVersions) {
    if (path == file) {
      version = known;
      return true;
    }
  }
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  wchar_t text[kVersionTextChars];
  _snwprintf(text, kVersionTextChars, L"%u.%u.%u.%u", HIWORD(fixed->dwProductVersionMS),
             LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
             LOWORD(fixed->dwProductVersionLS));
  text[kVersionTextChars - 1] = L'\0';
  version = text;
  fileVersions.emplace_back(file, version);
  return true;
}
}  // namespace

std::optional<std::wstring> FileProductVersion(const std::wstring& file) {
  std::wstring version;
  if (!ProductVersion(file, version)) return std::nullopt;
  return version;
}

void ForgetFileVersions() {
  fileVersions.clear();
}

Result CheckFileVersion(std::wstring_view path, std::wstring_view value, int op) {
  if (path.empty() || op == OP_UNKNOWN || op == OP_STRING_COMPARE) return RESULT_ERROR;
  if (value.empty() && op != OP_EXISTS) return RESULT_ERROR;

  const Result exists = System::FileExists(path);
  if (exists != RESULT_PASSED) return exists;  // RESULT_FAILED for nothing there or a folder
  if (op == OP_EXISTS) return RESULT_PASSED;

  std::wstring version;
  if (!ProductVersion(std::wstring(path), version)) return RESULT_ERROR;
  return DoOperation(version, value, op);
}

Result CheckQvVersion(std::wstring_view registryPath, std::wstring_view value, int op) {
  const std::optional<std::wstring>& packageVersion = Config::Settings().packageVersion;
  const std::wstring wanted(value.empty() && packageVersion ? std::wstring_view(*packageVersion) : value);
  if (registryPath.empty() || wanted.empty() || op == OP_UNKNOWN || op == OP_EXISTS) return RESULT_ERROR;

  std::wstring folder;
  if (const Result read = System::ReadRegistryText(registryPath, folder); read != RESULT_PASSED) return read;

  const Result client = CheckFileVersion(System::JoinPath(folder, kClientPrograms[0]), wanted, op);
  if (client == RESULT_PASSED) return client;
  return CheckFileVersion(System::JoinPath(folder, kClientPrograms[1]), wanted, op);
}

}  // namespace Condition
