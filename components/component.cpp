#include "components/component.h"

#include <algorithm>
#include <vector>

#include "log/log.h"
#include "system/file_system.h"
#include "system/integrity.h"
#include "system/signature.h"
#include "system/special_folders.h"

namespace Component {

TransferReporter transferReporter = nullptr;
HWND transferPromptOwner = nullptr;
DWORD transferIndex = 0;
DWORD transferCount = 0;
DWORD transferDone = 0;
DWORD transferTotal = 0;
bool transferAborted = false;
std::optional<SpaceShortage> transferShortage;
FreeSpaceFunction freeSpace = [](const std::wstring& volume, ULONGLONG& free) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(volume.c_str(), &available, nullptr, nullptr)) return false;
  free = available.QuadPart;
  return true;
};

namespace {

constexpr wchar_t kGatherName[] = L"Component::GatherComponents";

// The failure points of a gathering, in its log line.
constexpr int kConditionError = 247;
constexpr int kPresenceError = 241;
constexpr int kFolderError = 268;
constexpr int kLocationsFailed = 291;

// The root of the volume that `folder` is on, or will be on once made.
std::wstring VolumeOf(const std::wstring& folder) {
  wchar_t root[MAX_PATH + 1] = L"";
  if (GetVolumePathNameW(folder.c_str(), root, MAX_PATH + 1)) return root;
  return folder.size() >= 3 && folder[1] == L':' ? folder.substr(0, 3) : folder;
}

bool SameVolume(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Whether every volume that the components still to fetch go to has room for
// them; the first that has not is logged and kept in transferShortage.
bool EnoughSpace(const std::vector<Record*>& needed) {
  struct Need {
    std::wstring volume, folder;
    ULONGLONG bytes;
  };
  std::vector<Need> needs;
  const auto add = [&](const std::wstring& folder, ULONGLONG bytes) {
    const std::wstring volume = VolumeOf(folder);
    for (Need& need : needs) {
      if (SameVolume(need.volume, volume)) {
        need.bytes += bytes;
        return;
      }
    }
    needs.push_back({volume, folder, bytes});
  };
  for (const Record* component : needed) {
    const std::wstring folder = component->dest.value_or(L"");
    bool downloads = false;
    for (const Location& location : component->locations) downloads = downloads || location.type == TRANSFER_DOWNLOAD;
    // A download goes to the cache first, and comes from there under a second
    // name, which takes no room on the same volume.
    const std::optional<std::wstring> entry = downloads ? CacheFileOf(*component) : std::nullopt;
    if (!entry) {
      add(folder, component->size);
      continue;
    }
    const ULONGLONG kept = std::min<ULONGLONG>(System::FileSize(*entry).value_or(0), component->size);
    const std::wstring cache = System::ParentFolder(*entry);
    add(cache, component->size - kept);
    if (!SameVolume(VolumeOf(cache), VolumeOf(folder))) add(folder, component->size);
  }
  for (const Need& need : needs) {
    ULONGLONG free = 0;
    if (!freeSpace(need.volume, free) || need.bytes + kSpaceMargin <= free) continue;
    transferShortage = SpaceShortage{need.folder, need.volume, need.bytes + kSpaceMargin, free};
    LogError(L"%s - not enough free space for %s: %lu MB needed, %lu MB free", kGatherName, need.folder.c_str(),
             static_cast<unsigned long>((need.bytes + kSpaceMargin + 999999) / 1000000),
             static_cast<unsigned long>(free / 1000000));
    return false;
  }
  return true;
}

void LogGatherProblem(int point, const Record& component) {
  LogError(L"%s (%d) - Problem Retrieving Component: %s", kGatherName, point, component.name.c_str());
}

}  // namespace

Location::Location(Record& component, int transferType, std::wstring_view configuredFile)
    : owner(&component), type(transferType) {
  const std::wstring configured(configuredFile);
  LogInfo(L"%s - new %s, %s, %s", L"Component::Location::Location", component.name.c_str(),
          TransferTypeName(transferType), configured.c_str());
  file = System::ReplaceSpecials(configured);
}

Location* Record::AddLocation(int transferType, std::wstring_view configuredFile) {
  if ((transferType != TRANSFER_COPY && transferType != TRANSFER_DOWNLOAD) || configuredFile.empty()) {
    return nullptr;
  }
  return &locations.emplace_back(*this, transferType, configuredFile);
}

const wchar_t* TransferTypeName(int type) {
  return type == TRANSFER_COPY       ? L"TRANSFER_COPY"
         : type == TRANSFER_DOWNLOAD ? L"TRANSFER_DOWNLOAD"
                                     : L"<invalid>";
}

RecordList<Record>& List() {
  static RecordList<Record> components;
  return components;
}

Record* Component(std::wstring_view name, std::wstring_view display) {
  if (name.empty() || display.empty()) return nullptr;
  Record& component = List().Append(std::wstring(name), std::wstring(display));
  LogInfo(L"%s - new %s, %s", L"Component::Component", component.name.c_str(), component.display.c_str());
  return &component;
}

Record* Find(std::wstring_view name) {
  return List().Find(name);
}

void ClearComponents() {
  LogInfo(L"%s", L"Component::ClearComponents");
  List().Clear();
}

Result CheckRequirements(bool& adminRequired) {
  constexpr wchar_t kName[] = L"Component::CheckRequirements";
  adminRequired = false;
  Result running = RESULT_PASSED;
  for (Record& component : List()) {
    if (!component.check) {
      LogError(L"%s - %s No Condition", kName, component.name.c_str());
      running = RESULT_ERROR;
      continue;
    }
    const Result result = Condition::Evaluate(*component.check);
    if (result == RESULT_ERROR) return RESULT_ERROR;
    if (result == RESULT_FAILED) {
      adminRequired = adminRequired || component.requiresadmin;
      running = RESULT_FAILED;
    }
    LogInfo(L"%s - %s, %s", kName, component.name.c_str(), ResultName(result));
  }
  return running;
}

Result IsPresent(const Record& component, UniqueFile* hold) {
  if (!component.dest || component.dest->empty() || !component.filename || component.filename->empty() ||
      component.size == 0) {
    return RESULT_ERROR;
  }
  const std::wstring path = System::JoinPath(*component.dest, *component.filename);
  const Result exists = System::FileExists(path);
  if (exists != RESULT_PASSED) return exists;
  // Held before it is checked, so that what was checked is what stays: a file
  // that someone else may still write to is not taken for present.
  UniqueFile held(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held) {
    LogReason(L"%s - %s is in use, GetLastError %d", L"Component::IsPresent", path.c_str(),
               static_cast<int>(GetLastError()));
    return RESULT_FAILED;
  }
  const Result intact = CheckOpenFile(component, path, held.get());
  if (intact == RESULT_PASSED && hold) *hold = std::move(held);
  return intact;
}

Result CheckOpenFile(const Record& component, const std::wstring& path, HANDLE file) {
  // Every check reads the open file, so that no other can be put in its
  // place, by a link on the way to it, between the checks.
  if (System::VerifyFilesize(file, component.size) != RESULT_PASSED) return RESULT_FAILED;
  Result intact = System::VerifyDigests(file, component.md5.value_or(L""), component.sha256.value_or(L""));
  if (intact == RESULT_PASSED && component.signer) intact = System::VerifySigner(path, *component.signer, file);
  return intact;
}

std::wstring DestinationOf(const Record& component) {
  return System::JoinPath(component.dest.value_or(L""), component.filename.value_or(L""));
}

bool StillVerified(const Record& component, std::wstring& program) {
  program = DestinationOf(component);
  if (!component.verified) return true;
  // Started by the path the held file has, and only when that is its own:
  // a link or junction on the way would make it another file's.
  const std::wstring final = System::FinalPath(component.verified.get());
  if (System::IsSameFile(component.verified.get(), program) && System::IsFinalPath(program, final)) {
    program = final;
    return true;
  }
  LogError(L"%s - %s is not the file that was verified", L"Component::StillVerified", program.c_str());
  return false;
}

void ForgetCachedFiles() {
  for (Record& component : List()) {
    if (!component.cache) continue;
    component.verified.reset();  // the same file, when it was linked
    DropCacheEntry(*component.cache);
  }
}

void RemoveFetchedFiles() {
  const std::optional<std::wstring> runFolder = System::MadeRunFolder();
  if (!runFolder) return;
  std::vector<std::wstring> folders;
  for (Record& component : List()) {
    // A name such as "..\\x" must not take the deletion out of the run folder.
    const std::wstring file = DestinationOf(component);
    if (!component.dest || component.dest->empty() || !component.filename || !System::IsInFolder(file, *runFolder))
      continue;
    component.verified.reset();
    for (const wchar_t* suffix : {L"", kTemporarySuffix}) {
      if (System::DeleteUnlinked(file + suffix) == RESULT_PASSED)
        LogInfo(L"%s - deleted %s", L"Component::RemoveFetchedFiles", (file + suffix).c_str());
    }
    folders.push_back(System::LongFullPath(System::ParentFolder(file)));
  }
  // Each folder and those above it, while they are empty, the run folder last.
  for (std::wstring folder : folders) {
    while (!System::IsInFolder(*runFolder, folder) && System::IsInFolder(folder, *runFolder) &&
           System::DeleteUnlinked(folder) == RESULT_PASSED)
      folder = System::ParentFolder(folder);
  }
  System::DeleteUnlinked(*runFolder);
}

Result GatherComponents(TransferReporter reporter, HWND promptOwner) {
  transferReporter = reporter;
  transferPromptOwner = promptOwner;
  transferIndex = transferCount = transferDone = transferTotal = 0;
  transferShortage.reset();

  std::vector<Record*> needed;
  for (Record& component : List()) {
    if (component.check) {
      const Result installed = Condition::Evaluate(*component.check);
      if (installed == RESULT_ERROR) {
        LogGatherProblem(kConditionError, component);
        return RESULT_ERROR;
      }
      if (installed != RESULT_FAILED) continue;
    }
    const Result present = IsPresent(component, &component.verified);
    if (present == RESULT_ERROR) {
      LogGatherProblem(kPresenceError, component);
      return RESULT_ERROR;
    }
    if (present == RESULT_FAILED) {
      needed.push_back(&component);
      transferTotal += component.size;
    }
  }

  transferCount = static_cast<DWORD>(needed.size());
  if (!needed.empty()) PruneCache();
  if (!EnoughSpace(needed)) return RESULT_FAILED;
  for (Record* component : needed) {
    ++transferIndex;
    Log::ForgetReason();  // a component that fails does so for a reason of its own
    const Result folder = System::CreateDir(component->dest.value_or(L""));
    if (folder != RESULT_PASSED) {
      LogGatherProblem(kFolderError, *component);
      return folder;
    }
    // A whole file in the cache needs no download; one that fails its
    // checks is gone, and the component is fetched afresh.
    component->cache = ClaimCacheEntry(*component);
    if (component->cache && KeptBytes(*component->cache) == component->size) {
      LogInfo(L"%s - %s is taken from the download cache: %s", kGatherName, component->name.c_str(),
              component->cache->file.c_str());
      if (TakeFromCache(*component) == RESULT_PASSED) continue;
    }
    Result result = RESULT_PASSED;  // a component without locations counts as fetched
    for (Location& location : component->locations) {
      result = location.GetFile();
      // A disk that filled would fill again from the next location.
      if (result == RESULT_PASSED || location.aborted || location.diskFull) {
        transferAborted = location.aborted;
        break;
      }
    }
    if (result != RESULT_PASSED) {
      LogGatherProblem(kLocationsFailed, *component);
      return result;
    }
  }
  return RESULT_PASSED;
}

}  // namespace Component
