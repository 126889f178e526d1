#pragma once

#include <windows.h>

#include <list>
#include <optional>
#include <string>
#include <string_view>

#include "conditions/condition.h"
#include "config/record_list.h"
#include "components/download_cache.h"
#include "components/transfer_kind.h"
#include "system/result.h"
#include "system/unique_handle.h"

// The files that an installation needs, when they count as present, and how
// they are fetched: each component has an ordered list of locations, a URL
// to download or a path to copy, tried until one delivers the file.
namespace Component {

struct Record;

// Beside a component's file while it is fetched: the transfer's output.
inline constexpr wchar_t kTemporarySuffix[] = L".tmp";

struct Location {
  // Logs "Component::Location::Location - new <component>, <type>, <file>"
  // with the file as configured, and keeps it with its special folder
  // resolved. The parser makes locations of TRANSFER_COPY and
  // TRANSFER_DOWNLOAD with a file only (see Record::AddLocation).
  Location(Record& owner, int transferType, std::wstring_view configuredFile);

  // Fetches the component's file from here into "<destination>.tmp", makes
  // it the destination file and checks it again. RESULT_PASSED when the file
  // is in place and intact; RESULT_FAILED when not from here (wrong size,
  // download cancelled or refused, rename failed, wrong MD5); RESULT_ERROR
  // for a failed copy, a copy cancel, or files that cannot be replaced. A
  // download with `retries` is fetched by DownloadWithRetries
  // (download_retry.h), whose results it returns in the same way.
  Result GetFile();

  // The download's progress callback (user data: the location). Returns 1 to
  // abort: when the announced total differs from the component's size, or
  // when the reporter asks to cancel (which sets `aborted`).
  static int DownloadProgress(ULONG progress, ULONG progressMax, ULONG statusCode, void* location);

  // The copy's progress callback (user data: the location). Returns 1 when
  // the reporter asks to cancel, and sets `aborted`.
  static int CopyProgress(DWORD copiedLow, DWORD copiedHigh, DWORD sizeLow, DWORD sizeHigh, void* location);

  // The most transient failures of a download that are retried here.
  static constexpr int kMaxRetries = 10;

  Record* owner;
  int type;
  std::wstring file;
  int retries = 0;         // downloads: 0 to kMaxRetries; 0 tries once, as always
  DWORD progressMark = 0;  // highest progress seen by the current transfer
  bool aborted = false;    // the user cancelled a transfer from here; never cleared
  bool diskFull = false;   // a download from here filled the disk: no other location is tried
};

struct Record {
  Record(std::wstring componentName, std::wstring displayText)
      : name(std::move(componentName)), display(std::move(displayText)) {}
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;

  // Appends a location; nullptr for another type or an empty file.
  Location* AddLocation(int transferType, std::wstring_view configuredFile);

  std::wstring name;     // never empty
  std::wstring display;  // never empty
  std::optional<std::wstring> filename;
  std::optional<std::wstring> dest;    // special folder already resolved
  Condition::Record* check = nullptr;  // passes when installed; not owned
  std::optional<std::wstring> md5;
  std::optional<std::wstring> sha256;
  // The simple display name of the certificate that must have signed the
  // file: pins it to its publisher where no digest can be known ahead.
  std::optional<std::wstring> signer;
  DWORD size = 0;  // 0: not configured
  bool requiresadmin = true;
  std::list<Location> locations;  // tried in order
  // The file, held open for reading with read sharing only from the moment
  // the gathering found it present and intact until the component is
  // destroyed: nobody can write, replace, rename or delete what was verified.
  UniqueFile verified;
  // This run's claim on the component's entry in the download cache, while
  // it is fetched: downloads go there first.
  std::optional<CacheEntry> cache;
};

// Appends a new component and logs "Component::Component - new <name>,
// <display>". Returns nullptr, unlogged, for an empty name or display.
Record* Component(std::wstring_view name, std::wstring_view display);

// The first component named exactly `name`, or nullptr.
Record* Find(std::wstring_view name);

// Logs "Component::ClearComponents" and empties the list from the front. The
// check conditions are not touched.
void ClearComponents();

RecordList<Record>& List();

// Log names: "TRANSFER_COPY", "TRANSFER_DOWNLOAD"; "<invalid>" for others.
const wchar_t* TransferTypeName(int type);

// Whether every component's check condition passes: RESULT_PASSED; some
// component is missing: RESULT_FAILED, with `adminRequired` true when a
// missing one needs administrator rights; RESULT_ERROR when a condition is
// in error (at once) or a component has none (logged "No Condition"). The
// last component that is missing or unchecked decides.
Result CheckRequirements(bool& adminRequired);

// Whether the component's file is at its destination with its size and
// digests (MD5, SHA-256, those given) and, when a signer is given, signed by
// it (System::VerifySigner, after the digests): RESULT_PASSED; RESULT_FAILED
// when missing or different, when the signature does not pass (logged), or
// when it cannot be held against writers (logged "in use"); RESULT_ERROR
// when destination, file name or size is not configured, or a check fails.
// The file is held open, read-shared, from before the checks; on
// RESULT_PASSED the hold goes to `hold` when given.
Result IsPresent(const Record& component, UniqueFile* hold = nullptr);

// The checks of IsPresent on a file already open for reading at `path`: its
// size, its digests and its signer, each read through `file`. RESULT_PASSED
// when all pass; RESULT_FAILED or RESULT_ERROR as IsPresent gives them.
Result CheckOpenFile(const Record& component, const std::wstring& path, HANDLE file);

// The component's path: its `dest` joined with its `filename`.
std::wstring DestinationOf(const Record& component);

// Whether the component's path still names the file that the gathering
// verified and holds, with nothing on the way that leads elsewhere; true as
// well when it holds none. `program` is then the path to start it by: the
// held file's final path, or the component's path when none is held. False
// is logged ("not the file that was verified").
bool StillVerified(const Record& component, std::wstring& program);

// Puts the whole file that the component's claimed cache entry holds in
// place, as a download that ended there is put: linked (or, across volumes,
// copied through a held handle) to "<destination>.tmp", renamed, and checked
// there (IsPresent), through the handle that then holds it. RESULT_PASSED
// when in place; RESULT_FAILED when the entry is not a file of the cache's
// own or fails a check, and is then deleted; RESULT_ERROR when it cannot be
// copied or placed.
Result TakeFromCache(Record& component);

// Deletes the download cache's entries that this run claimed, once what
// they held is installed and verified (DropCacheEntry). Holds on those files
// are released first.
void ForgetCachedFiles();

// Deletes what the run put in its own run folder, once it is done with it:
// each component's file there and what its transfers left beside it, then
// the folders that this leaves empty, the run folder last. Holds on files
// there are released first. Each deleted file is logged
// "Component::RemoveFetchedFiles - deleted <path>". Nothing outside the run
// folder is touched, and nothing is deleted through a link
// (System::DeleteUnlinked). Does nothing when the run made no run folder.
void RemoveFetchedFiles();

// Fetches every needed component that is not present and intact, location
// after location, reporting to `reporter`; `promptOwner` owns a download's
// authentication prompt. RESULT_PASSED when all are in place. Otherwise the
// failure is logged "Problem Retrieving Component" with its point: 247
// condition error, 241 presence check error, 268 destination folder, 291
// every location failed or the user cancelled. Before the first transfer,
// the bytes still to fetch are added up for each volume that they go to
// (the destination's, and the download cache's, where the cache holds part
// of them already); a volume without them and kSpaceMargin free ends the
// gathering with RESULT_FAILED and nothing requested, logged "not enough
// free space for <folder>: <N> MB needed, <M> MB free", and sets
// `transferShortage`.
using TransferReporter = int (*)(const wchar_t* componentText, int kind, DWORD index, DWORD count, DWORD done,
                                 DWORD size);
Result GatherComponents(TransferReporter reporter, HWND promptOwner);

// A volume that a gathering found short of room before it fetched anything.
struct SpaceShortage {
  std::wstring folder;   // the folder that needs the room
  std::wstring volume;   // the root of its volume, such as "C:\\"
  ULONGLONG needed = 0;  // bytes, the margin included
  ULONGLONG free = 0;    // bytes free to this user
};
extern std::optional<SpaceShortage> transferShortage;  // of the last gathering

// The room kept free beyond what the components need, for the log, the
// client's configuration and what an installer unpacks: 10 MB.
inline constexpr ULONGLONG kSpaceMargin = 10000000;

// The bytes of a volume free to this user (GetDiskFreeSpaceExW), unless a
// test puts its own volumes here. False when it cannot be told.
using FreeSpaceFunction = bool (*)(const std::wstring& volume, ULONGLONG& free);
extern FreeSpaceFunction freeSpace;

// The state of one gathering, read and updated by the progress callbacks.
extern TransferReporter transferReporter;
extern HWND transferPromptOwner;  // owns a download's authentication prompt
extern DWORD transferIndex;   // 1-based number of the component being fetched
extern DWORD transferCount;   // components to fetch in this gathering
extern DWORD transferDone;    // bytes moved so far, over every attempt
extern DWORD transferTotal;   // bytes to fetch: the sizes of the components to fetch
extern bool transferAborted;  // the last location loop ended in a user cancel

}  // namespace Component

namespace System {

struct HttpExchange;

// Downloads `url` into `path` with the location's progress callback, writing
// each piece as it comes (with `exchange->append`, after the bytes of `path`
// that the range leaves out, which a whole answer replaces): first
// drops the URL's cache entry, so that a stale copy is never taken. Returns
// RESULT_PASSED when downloaded, RESULT_FAILED when aborted by the callback
// (logged "URLDownloadToFile Aborted"), RESULT_ERROR otherwise (logged
// "URLDownloadToFile Failed", except a cache entry that cannot be dropped).
// A download that receives no byte for downloadStallSeconds is aborted and
// fails; a cancel is seen within a second even while no byte moves.
// A status of 400 or more ends it before its page is saved, with
// RESULT_FAILED. A disk that fills ends it with RESULT_ERROR and sets the
// location's `diskFull`. With `exchange`, the download negotiates: it asks for the
// range that `exchange` names and records the answer there.
// Every failed attempt but an abort logs "URLDownloadToFile Failed", then
// ends with the line "<url>: <reason>":
// "HTTP status N", "no data for N s" or System::DownloadErrorText.
Result DownloadFileTo(std::wstring_view url, std::wstring_view path, Component::Location& location,
                      HttpExchange* exchange = nullptr);

}  // namespace System
