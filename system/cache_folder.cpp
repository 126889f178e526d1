#include "system/cache_folder.h"

#include <windows.h>
#include <shlobj.h>

#include "log/log.h"
#include "system/file_system.h"
#include "system/folder_trust.h"
#include "system/special_folders.h"

namespace System {

namespace {

constexpr wchar_t kName[] = L"System::DownloadCacheFolder";
constexpr wchar_t kFolderName[] = L"TesselCache";

std::optional<std::wstring> cacheRoot;  // a test's stand-in for the user's or the machine's folder
bool looked = false;
std::optional<std::wstring> folder;

std::optional<std::wstring> Find(bool make) {
  const bool machine = RunHasAdministratorRights();
  if (cacheRoot && cacheRoot->empty()) return std::nullopt;
  std::wstring root = cacheRoot.value_or(L"");
  if (root.empty()) {
    wchar_t path[MAX_PATH] = L"";
    if (FAILED(SHGetFolderPathW(nullptr, machine ? CSIDL_COMMON_APPDATA : CSIDL_LOCAL_APPDATA, nullptr,
                                SHGFP_TYPE_CURRENT, path))) {
      LogWarning(L"%s - no folder for it: this run keeps no download cache", kName);
      return std::nullopt;
    }
    root = path;
  }
  const std::wstring cache = JoinPath(root, kFolderName);
  if (DirectoryExists(cache) != RESULT_PASSED) {
    if (!make) return std::nullopt;
    // What only this process could have made needs no further look; a
    // folder that another launcher made at the same moment is judged below.
    const Result made = machine ? MakeAdministratorsFolder(cache) : MakeProtectedFolder(cache);
    if (made == RESULT_PASSED) return cache;
    if (DirectoryExists(cache) != RESULT_PASSED) {
      LogWarning(L"%s - %s cannot be made: this run keeps no download cache", kName, cache.c_str());
      return std::nullopt;
    }
  }
  if (const std::optional<Distrust> distrust = UntrustedLevel(cache)) {
    LogWarning(L"%s - %s %s: this run keeps no download cache", kName, distrust->level.c_str(),
               distrust->why.c_str());
    return std::nullopt;
  }
  return cache;
}

}  // namespace

std::optional<std::wstring> DownloadCacheFolder(bool make) {
  if (!looked) {
    folder = Find(make);
    looked = make || folder.has_value();
  }
  return folder;
}

namespace Detail {
void SetCacheRoot(const std::optional<std::wstring>& root) {
  cacheRoot = root;
  looked = false;
  folder.reset();
}
}  // namespace Detail

}  // namespace System
