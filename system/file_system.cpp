#include "system/file_system.h"

#include "log/log.h"
#include "log/temp_folder.h"
#include "system/folder_trust.h"
#include "system/special_folders.h"
#include "system/unique_handle.h"

namespace System {

namespace {

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// Existence by attributes, with the lines of `name` for a failed query.
// RESULT_PASSED when something is there and `attributes` says what it is.
Result QueryAttributes(const std::wstring& path, const wchar_t* name, DWORD& attributes) {
  attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return RESULT_PASSED;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return RESULT_FAILED;
  // The value that the query returned, not the error code.
  LogError(L"%s - GetFileAttributes Failed, err: %d", name, static_cast<int>(attributes));
  return RESULT_ERROR;
}

// Whether a file (or a folder, with `wantFolder`) is at the path, with the
// lines of `name` for an empty path and a failed query.
Result Exists(std::wstring_view path, const wchar_t* name, const wchar_t* emptyFormat, bool wantFolder) {
  const std::wstring target(path);
  if (target.empty()) {
    LogError(emptyFormat, name, target.c_str());
    return RESULT_ERROR;
  }
  DWORD attributes = 0;
  const Result found = QueryAttributes(target, name, attributes);
  if (found != RESULT_PASSED) return found;
  const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return isFolder == wantFolder ? RESULT_PASSED : RESULT_FAILED;
}

}  // namespace

Result FileExists(std::wstring_view path) {
  return Exists(path, L"System::FileExists", L"%s - Invalid File: %s", false);
}

Result DirectoryExists(std::wstring_view path) {
  return Exists(path, L"System::DirectoryExists", L"%s - Invalid Path: %s", true);
}

Result CreateDir(std::wstring_view path) {
  constexpr wchar_t kName[] = L"System::CreateDir";
  const std::wstring whole(path);
  if (whole.empty()) {
    LogError(L"%s - Invalid Path: %s", kName, whole.c_str());
    return RESULT_ERROR;
  }
  // The run folder is made once, by this process, with permissions of its
  // own, and never taken over: whatever lies in it was made by this run.
  const std::optional<std::wstring> runFolder = RunFolderOf(whole);
  if (runFolder && MakeRunFolder(*runFolder) != RESULT_PASSED) return RESULT_ERROR;
  // A run with administrator rights takes a folder that a document names
  // elsewhere only where no other user could have put anything, and makes
  // the missing levels itself, for nobody else.
  const bool guarded = !runFolder && RunHasAdministratorRights();
  if (guarded) {
    if (const std::optional<Distrust> distrust = UntrustedLevel(whole)) {
      LogError(L"%s - %s %s: a run with administrator rights does not use %s", kName, distrust->level.c_str(),
               distrust->why.c_str(), whole.c_str());
      return RESULT_ERROR;
    }
  }
  const Result existing = DirectoryExists(whole);
  if (existing != RESULT_FAILED) return existing;

  std::wstring prefix;
  size_t position = 0;
  while (position < whole.size()) {
    const size_t start = position;
    while (position < whole.size() && !IsSeparator(whole[position])) ++position;
    const size_t end = position;
    // The separators before this part, written as backslashes.
    while (position < whole.size() && IsSeparator(whole[position])) ++position;
    if (end == start) {  // a leading separator, as in "\\server" or "/folder"
      prefix.append(position - start, L'\\');
      continue;
    }
    prefix.append(whole, start, end - start);

    // A drive letter and a colon alone count as an existing folder.
    const bool driveOnly = prefix.size() == 2 && prefix[1] == L':';
    if (!driveOnly) {
      const Result found = DirectoryExists(prefix);
      if (found == RESULT_ERROR) break;
      if (found == RESULT_FAILED) {
        // A level that is missing is made for nobody else when guarded; one
        // that is there already by then was made by someone else. A file in
        // the way fails either way.
        if (guarded && GetFileAttributesW(prefix.c_str()) == INVALID_FILE_ATTRIBUTES) {
          if (MakeProtectedFolder(prefix) != RESULT_PASSED) return RESULT_ERROR;
        } else if (!CreateDirectoryW(prefix.c_str(), nullptr)) {
          LogError(L"%s - Unable to Create Directory: %s", kName, whole.c_str());
          break;
        }
      }
    }
    if (position > end) prefix.append(position - end, L'\\');
  }
  return DirectoryExists(whole);
}

Result RemoveFileAttributes(std::wstring_view path) {
  const std::wstring file(path);
  if (file.empty()) {
    LogError(L"%s - Invalid File: %s", L"System::FileExists", file.c_str());
    return RESULT_ERROR;
  }
  DWORD attributes = 0;
  const Result found = QueryAttributes(file, L"System::FileExists", attributes);
  if (found != RESULT_PASSED) return found;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RESULT_FAILED;
  if (!SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL)) {
    LogError(L"%s - SetFileAttributes Failed, err: %d", L"System::RemoveFileAttributes",
             static_cast<int>(GetLastError()));
    return RESULT_ERROR;
  }
  return RESULT_PASSED;
}

DWORD CALLBACK CopyProgressRoutine(LARGE_INTEGER totalFileSize, LARGE_INTEGER totalBytesTransferred,
                                   LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD callbackReason, HANDLE, HANDLE,
                                   LPVOID context) {
  if (callbackReason != CALLBACK_CHUNK_FINISHED || !context) return PROGRESS_CONTINUE;
  const auto* copy = static_cast<const CopyProgressContext*>(context);
  if (!copy->progress) return PROGRESS_CONTINUE;
  const int answer =
      copy->progress(totalBytesTransferred.LowPart, static_cast<DWORD>(totalBytesTransferred.HighPart),
                     totalFileSize.LowPart, static_cast<DWORD>(totalFileSize.HighPart), copy->userData);
  return answer == 1 ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
}

Result CopyFileTo(std::wstring_view source, std::wstring_view target, CopyProgressFunction progress,
                  void* userData) {
  constexpr wchar_t kName[] = L"System::CopyFileTo";
  if (source.empty() || target.empty()) return RESULT_ERROR;
  const std::wstring from(source), to(target);

  DWORD attributes = 0;
  if (QueryAttributes(from, L"System::FileExists", attributes) != RESULT_PASSED ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    LogReason(L"%s - CopyFileEx Failed (file: %s), cannot find file", kName, from.c_str());
    return RESULT_ERROR;
  }

  CopyProgressContext context{progress, userData};
  if (!CopyFileExW(from.c_str(), to.c_str(), CopyProgressRoutine, &context, nullptr, 0)) {
    LogReason(L"%s - CopyFileEx Failed (file: %s), GetLastError: %d", kName, from.c_str(),
             static_cast<int>(GetLastError()));
    return RESULT_ERROR;
  }
  return RESULT_PASSED;
}

std::optional<ULONGLONG> FileSize(std::wstring_view path) {
  const std::wstring file(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return std::nullopt;
  }
  return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
  std::wstring path;
  path.reserve(folder.size() + name.size() + 1);
  path.append(folder);
  if (!path.empty() && !IsSeparator(path.back())) path.push_back(L'\\');
  path.append(name);
  return path;
}

bool IsSameFile(HANDLE held, std::wstring_view path) {
  // Attribute access only: it takes no part in sharing, so the holder's
  // read-only sharing does not stand in the way.
  UniqueFile named(CreateFileW(std::wstring(path).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  return named && GetFileInformationByHandle(held, &a) && GetFileInformationByHandle(named.get(), &b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

std::wstring ParentFolder(std::wstring_view path) {
  const size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring_view::npos) return {};
  std::wstring folder(path.substr(0, separator));
  if (folder.size() == 2 && folder[1] == L':') folder.push_back(L'\\');
  return folder;
}

std::wstring FinalPath(HANDLE file) {
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
      if (path.starts_with(L"\\\\?\\")) return path.substr(4);
      return path;
    }
    path.assign(length, L'\0');
  }
  return {};
}

std::wstring LongFullPath(std::wstring_view path) {
  const std::wstring given(path);
  std::wstring full(GetFullPathNameW(given.c_str(), 0, nullptr, nullptr), L'\0');
  const DWORD fullLength = full.empty() ? 0 : GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()),
                                                               full.data(), nullptr);
  if (fullLength == 0 || fullLength >= full.size()) return given;
  full.resize(fullLength);
  std::wstring long_(GetLongPathNameW(full.c_str(), nullptr, 0), L'\0');
  const DWORD longLength = long_.empty() ? 0 : GetLongPathNameW(full.c_str(), long_.data(),
                                                                static_cast<DWORD>(long_.size()));
  if (longLength == 0 || longLength >= long_.size()) return full;
  long_.resize(longLength);
  return long_;
}

bool IsInFolder(std::wstring_view path, std::wstring_view folder) {
  const std::wstring inner = LongFullPath(path);
  std::wstring outer = LongFullPath(folder);
  while (!outer.empty() && IsSeparator(outer.back())) outer.pop_back();
  if (outer.empty() || inner.size() < outer.size() ||
      CompareStringOrdinal(inner.c_str(), static_cast<int>(outer.size()), outer.c_str(),
                           static_cast<int>(outer.size()), TRUE) != CSTR_EQUAL)
    return false;
  return inner.size() == outer.size() || IsSeparator(inner[outer.size()]);
}

bool IsFinalPath(std::wstring_view path, std::wstring_view final) {
  const std::wstring expected = LongFullPath(path);
  return !final.empty() && CompareStringOrdinal(expected.c_str(), static_cast<int>(expected.size()), final.data(),
                                                static_cast<int>(final.size()), TRUE) == CSTR_EQUAL;
}

Result CopyOpenFile(HANDLE source, const std::wstring& target) {
  UniqueFile output(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
  LARGE_INTEGER start{};
  bool copied = output && SetFilePointerEx(source, start, nullptr, FILE_BEGIN);
  std::string buffer(64 * 1024, '\0');
  for (DWORD read = 0; copied;) {
    copied = ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr);
    if (!copied || read == 0) break;
    DWORD wrote = 0;
    copied = WriteFile(output.get(), buffer.data(), read, &wrote, nullptr) && wrote == read;
  }
  if (copied) return RESULT_PASSED;
  LogError(L"%s - CopyOpenFile Failed (file: %s), GetLastError: %d", L"System::CopyOpenFile", target.c_str(),
           static_cast<int>(GetLastError()));
  return RESULT_ERROR;
}

Result DeleteUnlinked(const std::wstring& path) {
  constexpr wchar_t kName[] = L"System::DeleteUnlinked";
  UniqueFile item(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!item) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return RESULT_FAILED;
    LogError(L"%s - %s cannot be deleted, GetLastError %d", kName, path.c_str(), static_cast<int>(error));
    return RESULT_ERROR;
  }
  // Some file systems delete what a link leads to through a handle on the
  // link, so a path that is not its own final path is never deleted.
  if (!IsFinalPath(path, FinalPath(item.get()))) {
    LogError(L"%s - %s leads elsewhere and is left alone", kName, path.c_str());
    return RESULT_ERROR;
  }
  // A read-only file refuses to be deleted.
  FILE_BASIC_INFO basic{};
  if (GetFileInformationByHandleEx(item.get(), FileBasicInfo, &basic, sizeof(basic)) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(item.get(), FileBasicInfo, &basic, sizeof(basic));
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (SetFileInformationByHandle(item.get(), FileDispositionInfo, &disposition, sizeof(disposition)))
    return RESULT_PASSED;
  const DWORD error = GetLastError();
  if (error == ERROR_DIR_NOT_EMPTY) return RESULT_FAILED;
  LogError(L"%s - %s cannot be deleted, GetLastError %d", kName, path.c_str(), static_cast<int>(error));
  return RESULT_ERROR;
}

Result DeleteTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return RESULT_PASSED;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW found;
    const UniqueFindFile search(FindFirstFileW(JoinPath(path, L"*").c_str(), &found));
    for (bool more = static_cast<bool>(search); more; more = FindNextFileW(search.get(), &found)) {
      const std::wstring_view name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring item = JoinPath(path, name);
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
          !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        DeleteTree(item);
      else
        DeleteUnlinked(item);
    }
  }
  DeleteUnlinked(path);
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? RESULT_PASSED : RESULT_ERROR;
}

std::wstring TemporaryBeside(const std::wstring& path) {
  std::wstring folder = path;
  const size_t separator = folder.find_last_of(L"\\/");
  folder = separator == std::wstring::npos ? L"." : folder.substr(0, separator == 0 ? 1 : separator);
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
  wchar_t name[MAX_PATH + 1] = {};
  if (folder.size() > MAX_PATH - 14 || !GetTempFileNameW(folder.c_str(), L"vpk", 0, name)) return {};
  return name;
}

bool CommitTemporary(const std::wstring& temporary, const std::wstring& path) {
  if (MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  const DWORD error = GetLastError();
  DeleteFileW(temporary.c_str());
  SetLastError(error);
  return false;
}

bool WriteWholeFile(const std::wstring& path, std::string_view bytes) {
  const std::wstring temporary = TemporaryBeside(path);
  if (temporary.empty()) return false;
  {
    // GetTempFileNameW made the file; whoever can add files beside it could
    // have put a link in its place since, so it is opened as it is, checked,
    // and only then emptied.
    UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE | READ_CONTROL, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file && (!IsPlainFile(file.get()) || !HasTrustedOwner(file.get()))) {
      file.reset();
      SetLastError(ERROR_CANT_ACCESS_FILE);
      return false;  // not deleted: the name is someone else's now
    }
    DWORD written = 0;
    if (!file || !SetEndOfFile(file.get()) || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(file.get())) {
      const DWORD error = GetLastError();
      file.reset();
      DeleteFileW(temporary.c_str());
      SetLastError(error);
      return false;
    }
  }
  return CommitTemporary(temporary, path);
}

}  // namespace System
