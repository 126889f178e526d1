#include "pack/files.h"

#include <windows.h>

#include <algorithm>

#include "config/parser.h"
#include "config/text_value.h"
#include "system/file_system.h"
#include "system/unique_handle.h"

namespace Pack {

bool ReadWholeFile(const std::wstring& path, std::string& bytes, std::wstring& message) {
  bytes.clear();
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    message = L"cannot read " + path;
    return false;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart >= 0x40000000) {
    message = L"cannot read " + path + (size.QuadPart >= 0x40000000 ? L": it is 1 GiB or more" : L"");
    return false;
  }
  bytes.resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr) ||
        read == 0) {
      bytes.clear();
      message = L"cannot read " + path;
      return false;
    }
    done += read;
  }
  return true;
}

std::wstring TemporaryBeside(const std::wstring& path, std::wstring& message) {
  std::wstring temporary = System::TemporaryBeside(path);
  if (temporary.empty()) message = L"cannot write " + path;
  return temporary;
}

bool CommitTemporary(const std::wstring& temporary, const std::wstring& path, std::wstring& message) {
  if (System::CommitTemporary(temporary, path)) return true;
  message = L"cannot write " + path;
  return false;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes, std::wstring& message) {
  if (System::WriteWholeFile(path, bytes)) return true;
  message = L"cannot write " + path;
  return false;
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
  UniqueFile file(CreateFileW(a.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file && System::IsSameFile(file.get(), b);
}

std::wstring NestedTooDeep(const std::string& text) {
  const size_t deep = Parser::FindTooDeep(text);
  if (deep == std::string::npos) return {};
  const size_t line = 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(deep), '\n');
  return L"elements are nested more than " + std::to_wstring(Parser::kMaxNesting) + L" deep (line " +
         std::to_wstring(line) + L")";
}

std::wstring FromUtf8(const std::string& text) {
  return Parser::DecodeUtf8(text, std::wstring::npos);
}

std::string ToUtf8(const std::wstring& text) {
  return Parser::EncodeUtf8(text);
}

}  // namespace Pack
