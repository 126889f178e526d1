#include "pack/files.h"

#include <windows.h>

#include <algorithm>

#include "config/parser.h"
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
  std::wstring folder = path;
  const size_t separator = folder.find_last_of(L"\\/");
  folder = separator == std::wstring::npos ? L"." : folder.substr(0, separator == 0 ? 1 : separator);
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  wchar_t name[MAX_PATH + 1] = {};
  if (folder.size() > MAX_PATH - 14 || !GetTempFileNameW(folder.c_str(), L"vpk", 0, name)) {
    message = L"cannot write " + path;
    return {};
  }
  return name;
}

bool CommitTemporary(const std::wstring& temporary, const std::wstring& path, std::wstring& message) {
  if (MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  DeleteFileW(temporary.c_str());
  message = L"cannot write " + path;
  return false;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes, std::wstring& message) {
  const std::wstring temporary = TemporaryBeside(path, message);
  if (temporary.empty()) return false;
  {
    UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(file.get())) {
      file.reset();
      DeleteFileW(temporary.c_str());
      message = L"cannot write " + path;
      return false;
    }
  }
  return CommitTemporary(temporary, path, message);
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
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string ToUtf8(const std::wstring& text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                      nullptr);
  return narrow;
}

}  // namespace Pack
