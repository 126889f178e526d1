#include "system/registry.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

#include "system/unique_handle.h"

namespace System {

namespace {

constexpr DWORD kDwordTextBytes = 22;  // ten digits and the terminator

struct RootPrefix {
  std::wstring_view prefix;
  HKEY key;
};
const RootPrefix kRoots[] = {
    {L"HKLM", HKEY_LOCAL_MACHINE},
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKCU", HKEY_CURRENT_USER},
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
};

// The stored bytes of a value, and its type; false when it cannot be read.
bool QueryValue(HKEY key, const std::wstring& name, DWORD& type, std::vector<BYTE>& data) {
  DWORD bytes = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
  // Two spare zero bytes, so that text stored without its terminator, or with
  // an odd byte count, still ends in one.
  data.assign(bytes + sizeof(wchar_t), 0);
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &bytes) != ERROR_SUCCESS) return false;
  data.resize(bytes);
  return true;
}

// Characters of a REG_SZ value up to its first terminator, and whether the
// stored bytes end with that terminator.
std::wstring_view StoredText(const std::vector<BYTE>& data, bool& terminated) {
  const auto* chars = reinterpret_cast<const wchar_t*>(data.data());
  const size_t count = (data.size() + 1) / 2;  // an odd last byte counts as a character
  const size_t length = wcsnlen(chars, count);
  terminated = length < count && data.size() % 2 == 0;
  return {chars, length};
}

}  // namespace

Result SplitRegistryPath(std::wstring_view path, HKEY* root, std::wstring* subkey, std::wstring* valueName) {
  if (path.empty()) return RESULT_ERROR;
  const size_t first = path.find(L'\\');
  const size_t last = path.rfind(L'\\');
  if (first == std::wstring_view::npos || first == last) return RESULT_ERROR;

  if (root) {
    *root = nullptr;
    for (const RootPrefix& candidate : kRoots) {
      if (path.starts_with(candidate.prefix)) {
        *root = candidate.key;
        break;
      }
    }
    if (!*root) return RESULT_ERROR;
  }
  if (subkey) *subkey = path.substr(first + 1, last - first - 1);
  if (valueName) *valueName = path.substr(last + 1);
  return RESULT_PASSED;
}

Result ReadRegistryValue(std::wstring_view path, wchar_t* buffer, DWORD* size) {
  if (path.empty() || !size) return RESULT_ERROR;
  HKEY root = nullptr;
  std::wstring subkey, valueName;
  if (const Result split = SplitRegistryPath(path, &root, &subkey, &valueName); split != RESULT_PASSED) {
    return split;
  }

  // No 32-bit or 64-bit view flag: a 32-bit process reads the 32-bit view.
  UniqueHKey key;
  if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
    return RESULT_FAILED;

  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  if (!QueryValue(key.get(), valueName, type, data)) return RESULT_FAILED;

  DWORD neededChars = 0;
  std::wstring_view text;
  if (type == REG_SZ) {
    bool terminated = false;
    text = StoredText(data, terminated);
    if (text.empty()) return RESULT_FAILED;
    neededChars = static_cast<DWORD>((data.size() + 1) / 2);
    if (!terminated) ++neededChars;  // room for the terminator that was not stored
  } else if (type == REG_DWORD) {
    neededChars = kDwordTextBytes / 2;
  } else {
    return RESULT_ERROR;
  }

  if (!buffer) {
    *size = neededChars;
    return RESULT_PASSED;
  }
  if (neededChars > *size) return RESULT_ERROR;
  if (type == REG_SZ) {
    text.copy(buffer, text.size());
    buffer[text.size()] = L'\0';
  } else {
    DWORD number = 0;
    memcpy(&number, data.data(), std::min<size_t>(data.size(), sizeof(number)));
    _snwprintf(buffer, neededChars, L"%lu", static_cast<unsigned long>(number));
    buffer[neededChars - 1] = L'\0';
  }
  return RESULT_PASSED;
}

Result ReadRegistryText(std::wstring_view path, std::wstring& text) {
  text.clear();
  DWORD size = 0;
  if (const Result sized = ReadRegistryValue(path, nullptr, &size); sized != RESULT_PASSED) return sized;
  std::vector<wchar_t> buffer(size);
  if (const Result read = ReadRegistryValue(path, buffer.data(), &size); read != RESULT_PASSED) return read;
  text = buffer.data();
  return RESULT_PASSED;
}

}  // namespace System
