#include "components/download_cache.h"

#include <cwchar>
#include <cwctype>
#include <string_view>

#include "components/component.h"
#include "log/log.h"
#include "log/temp_folder.h"
#include "system/cache_folder.h"
#include "system/file_system.h"

namespace Component {

namespace {

constexpr wchar_t kBytes[] = L".bin";
constexpr wchar_t kTag[] = L".tag";
constexpr wchar_t kLock[] = L".lock";

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

// The entry's name without its ending, or empty for a component that has no digest.
std::wstring Key(const Record& component) {
  const std::wstring md5 = Lower(component.md5.value_or(L"")), sha256 = Lower(component.sha256.value_or(L""));
  if (md5.empty() && sha256.empty()) return {};
  // Digests are hexadecimal: anything else would not make a name of the cache's own.
  for (const wchar_t c : md5 + sha256)
    if (!iswxdigit(c)) return {};
  wchar_t size[12];
  _snwprintf(size, 12, L"%lu", component.size);
  size[11] = L'\0';
  return size + (L"-" + md5) + L"-" + sha256;
}

std::wstring Stem(const std::wstring& file) {
  return file.substr(0, file.size() - (sizeof(kBytes) / sizeof(wchar_t) - 1));
}

// The kept bytes' file, open as it is (a link is opened, not followed), when
// it is a file at its own path, no link or junction; an invalid handle
// otherwise.
UniqueFile OpenKept(const std::wstring& file) {
  UniqueFile kept(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  if (kept && (!GetFileInformationByHandle(kept.get(), &information) ||
               (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
               !System::IsFinalPath(file, System::FinalPath(kept.get()))))
    kept.reset();
  return kept;
}

// Makes the kept bytes a file of one name again, where a run that ended
// before its clean-up left the second name it gave them in its run folder:
// they are copied to a file of their own, which takes the entry's name.
// False when they cannot be.
bool Detach(const std::wstring& file, UniqueFile kept) {
  if (System::IsPlainFile(kept.get())) return true;
  const std::wstring copy = System::TemporaryBeside(file);
  const bool copied = !copy.empty() && System::CopyOpenFile(kept.get(), copy) == RESULT_PASSED;
  kept.reset();
  if (copied && System::CommitTemporary(copy, file)) return true;
  if (!copy.empty()) DeleteFileW(copy.c_str());
  return false;
}

void DeleteLogged(const std::wstring& file, const wchar_t* name, const wchar_t* why) {
  if (System::DeleteUnlinked(file) == RESULT_PASSED) LogInfo(L"%s - deleted %s%s", name, file.c_str(), why);
}

}  // namespace

std::optional<std::wstring> CacheFileOf(const Record& component) {
  const std::wstring key = Key(component);
  if (key.empty()) return std::nullopt;
  const std::optional<std::wstring> folder = System::DownloadCacheFolder();
  if (!folder) return std::nullopt;
  return System::JoinPath(*folder, key + kBytes);
}

std::optional<CacheEntry> ClaimCacheEntry(const Record& component) {
  constexpr wchar_t kName[] = L"Component::ClaimCacheEntry";
  const std::optional<std::wstring> file = CacheFileOf(component);
  if (!file) return std::nullopt;
  CacheEntry entry;
  entry.file = *file;
  // The claim is deleted when its handle closes, however the run ends; it
  // is made so only once it is known to be a file of the cache's own.
  const std::wstring lock = Stem(*file) + kLock;
  entry.claim.reset(CreateFileW(lock.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!entry.claim) {
    LogWarning(L"%s - %s is being fetched by another launcher: this run fetches its own copy", kName,
               file->c_str());
    return std::nullopt;
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (!System::IsPlainFile(entry.claim.get()) || !System::IsFinalPath(lock, System::FinalPath(entry.claim.get())) ||
      !SetFileInformationByHandle(entry.claim.get(), FileDispositionInfo, &disposition, sizeof(disposition))) {
    LogWarning(L"%s - %s leads elsewhere: this run fetches its own copy", kName, lock.c_str());
    return std::nullopt;
  }
  if (System::FileExists(*file) == RESULT_PASSED) {
    UniqueFile kept = OpenKept(*file);
    const std::optional<ULONGLONG> size = System::FileSize(*file);
    // Nothing that is not a file of the cache's own is ever written to.
    if (!kept || !size || *size > component.size || !Detach(*file, std::move(kept))) {
      DropCacheEntry(entry);
      if (System::FileExists(*file) != RESULT_FAILED) {
        LogWarning(L"%s - %s leads elsewhere: this run fetches its own copy", kName, file->c_str());
        return std::nullopt;
      }
    }
  }
  UniqueFile tagFile(CreateFileW((Stem(*file) + kTag).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  wchar_t text[256] = L"";
  DWORD read = 0;
  if (tagFile && System::IsPlainFile(tagFile.get()) &&
      ReadFile(tagFile.get(), text, sizeof(text) - sizeof(wchar_t), &read, nullptr))
    entry.validator.assign(text, read / sizeof(wchar_t));
  return entry;
}

DWORD KeptBytes(const CacheEntry& entry) {
  return static_cast<DWORD>(System::FileSize(entry.file).value_or(0));
}

void KeepValidator(CacheEntry& entry, const std::wstring& validator) {
  if (validator == entry.validator) return;
  entry.validator = validator;
  const std::wstring tag = Stem(entry.file) + kTag;
  if (validator.empty()) {
    System::DeleteUnlinked(tag);
    return;
  }
  System::WriteWholeFile(tag, std::string_view(reinterpret_cast<const char*>(validator.data()),
                                               validator.size() * sizeof(wchar_t)));
}

void DropCacheEntry(const CacheEntry& entry) {
  DeleteLogged(entry.file, L"Component::DropCacheEntry", L"");
  System::DeleteUnlinked(Stem(entry.file) + kTag);
}

void PruneCache() {
  const std::optional<std::wstring> folder = System::DownloadCacheFolder();
  if (!folder) return;
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG limit = (ULARGE_INTEGER{{now.dwLowDateTime, now.dwHighDateTime}}).QuadPart -
                          ULONGLONG{kCacheDays} * 24 * 3600 * 10000000;
  WIN32_FIND_DATAW found{};
  UniqueFindFile search(FindFirstFileW(System::JoinPath(*folder, std::wstring(L"*") + kBytes).c_str(), &found));
  if (!search) return;
  do {
    const ULONGLONG used =
        (ULARGE_INTEGER{{found.ftLastWriteTime.dwLowDateTime, found.ftLastWriteTime.dwHighDateTime}}).QuadPart;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || used >= limit) continue;
    const std::wstring file = System::JoinPath(*folder, found.cFileName);
    // A run that has claimed the entry is using it.
    const UniqueFile claim(CreateFileW((Stem(file) + kLock).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!claim) continue;
    DeleteLogged(file, L"Component::PruneCache", L", unused for 30 days");
    System::DeleteUnlinked(Stem(file) + kTag);
  } while (FindNextFileW(search.get(), &found));
}

std::optional<ULONGLONG> CachedBytes(const Record& component) {
  const std::wstring key = Key(component);
  const std::optional<std::wstring> folder = key.empty() ? std::nullopt : System::DownloadCacheFolder(false);
  if (!folder) return std::nullopt;
  const std::optional<ULONGLONG> size = System::FileSize(System::JoinPath(*folder, key + kBytes));
  return size && *size > 0 ? size : std::nullopt;
}

}  // namespace Component
