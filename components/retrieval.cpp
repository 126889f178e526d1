#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include <string>

#include <wrl/client.h>

#include "components/component.h"
#include "components/download_retry.h"
#include "components/file_download.h"
#include "log/log.h"
#include "log/temp_folder.h"
#include "system/file_system.h"
#include "system/integrity.h"
#include "system/unique_handle.h"

namespace Component {

namespace {

constexpr wchar_t kGetFileName[] = L"Component::Location::GetFile";

// Counts the bytes of this attempt that were not counted yet: a progress
// value that falls back never counts twice.
void CountProgress(Location& location, DWORD progress) {
  if (progress > location.progressMark) {
    transferDone += progress - location.progressMark;
    location.progressMark = progress;
  }
}

bool ReporterCancels(const Location& location, int kind) {
  return transferReporter && transferReporter(location.owner->display.c_str(), kind, transferIndex,
                                              transferCount, transferDone, transferTotal) == 1;
}

}  // namespace

int Location::DownloadProgress(ULONG progress, ULONG progressMax, ULONG, void* data) {
  auto& location = *static_cast<Location*>(data);
  constexpr wchar_t kName[] = L"Component::Location::DownloadProgress";
  if (progressMax != 0 && progressMax != location.owner->size) {
    // Not a cancel: the next location is tried.
    LogReason(L"%s - Download Aborted %s, Size does not match", kName, location.file.c_str());
    return 1;
  }
  CountProgress(location, progress);
  if (ReporterCancels(location, TRANSFER_DOWNLOAD)) {
    LogWarning(L"%s - Download Aborted %s", kName, location.file.c_str());
    location.aborted = true;
    return 1;
  }
  return 0;
}

int Location::CopyProgress(DWORD copiedLow, DWORD, DWORD, DWORD, void* data) {
  auto& location = *static_cast<Location*>(data);
  CountProgress(location, copiedLow);
  if (ReporterCancels(location, TRANSFER_COPY)) {
    LogWarning(L"%s - Copy Aborted %s", L"Component::Location::CopyProgress", location.file.c_str());
    location.aborted = true;
    return 1;
  }
  return 0;
}

namespace {

// Whether a transfer brought as many bytes as the component has; logs the
// difference when not. Some monikers report a body that was cut as complete.
bool CameWhole(const Record& component, const std::wstring& file, ULONGLONG size) {
  if (size == component.size) return true;
  LogReason(L"%s - %s: %lu bytes, expected %lu", L"System::VerifyFilesize", file.c_str(),
           static_cast<unsigned long>(size), component.size);
  return false;
}

// Downloads into the component's claimed cache entry, resuming what it
// keeps; what arrives stays there whatever the outcome. RESULT_PASSED when
// the entry holds as many bytes as the component; RESULT_FAILED for a body
// that came short, and otherwise as the download gives it.
Result FetchIntoCache(Location& location) {
  CacheEntry& entry = *location.owner->cache;
  Resume resume{KeptBytes(entry), entry.validator, true};
  if (resume.kept > 0)
    LogInfo(L"%s - resuming %s after %lu bytes kept in the download cache", kGetFileName, location.file.c_str(),
            resume.kept);
  Result downloaded;
  if (location.retries > 0) {
    downloaded = DownloadWithRetries(location, entry.file, resume);
  } else {
    System::HttpExchange exchange = resume.Request();
    downloaded = System::DownloadFileTo(location.file, entry.file, location, &exchange);
    resume.Answered(exchange);
  }
  // A disk that filled needs its room back more than the bytes.
  if (location.diskFull) DropCacheEntry(entry);
  const DWORD kept = KeptBytes(entry);
  if (kept == 0) {
    System::DeleteUnlinked(entry.file);
    resume.validator.clear();
  }
  KeepValidator(entry, resume.validator);
  if (downloaded != RESULT_PASSED) return downloaded;
  // What came short stays, for the next location to resume.
  return CameWhole(*location.owner, entry.file, kept) ? RESULT_PASSED : RESULT_FAILED;
}

// Gives the cache entry's file the name `temporary` as well, or where the
// two folders are on different volumes, copies it there: through a handle
// held, read-shared only, so that it is that very file. Its checks come in
// place, once. RESULT_PASSED when done; RESULT_FAILED when the entry is not a
// file of the cache's own; RESULT_ERROR, logged, when it cannot be copied.
Result LinkFromCache(Record& component, const std::wstring& temporary) {
  const CacheEntry& entry = *component.cache;
  UniqueFile held(CreateFileW(entry.file.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!held || !System::IsPlainFile(held.get())) return RESULT_FAILED;
  // Its last use, by which the cache's age limit counts.
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  SetFileTime(held.get(), nullptr, nullptr, &now);
  DeleteFileW(temporary.c_str());
  if (CreateHardLinkW(temporary.c_str(), entry.file.c_str(), nullptr)) return RESULT_PASSED;
  return System::CopyOpenFile(held.get(), temporary);
}

// Makes `temporary` the component's file and checks it there.
Result Place(Record& component, const std::wstring& temporary, const std::wstring& destination) {
  const Result writable = System::RemoveFileAttributes(temporary);
  if (writable != RESULT_PASSED) return writable;

  const Result existing = System::FileExists(destination);
  if (existing == RESULT_ERROR) return RESULT_ERROR;
  const bool replaced = existing == RESULT_PASSED;
  if (replaced &&
      (System::RemoveFileAttributes(destination) != RESULT_PASSED || !DeleteFileW(destination.c_str()))) {
    return RESULT_ERROR;
  }

  if (!MoveFileW(temporary.c_str(), destination.c_str()) && !replaced) return RESULT_FAILED;
  // A signer refused or a file in use says so itself; what else fails is the content.
  Log::ForgetReason();
  const Result present = IsPresent(component, &component.verified);
  if (present == RESULT_FAILED && Log::LastReason().empty())
    LogReason(L"%s - %s: its size or digest is not the document's", kGetFileName, destination.c_str());
  return present;
}

// Puts the cache entry's file in place; an entry whose file fails its checks
// there is deleted.
Result PlaceFromCache(Record& component, const std::wstring& temporary, const std::wstring& destination) {
  Result placed = LinkFromCache(component, temporary);
  if (placed != RESULT_PASSED) {
    DeleteFileW(temporary.c_str());
  } else {
    placed = Place(component, temporary, destination);
  }
  if (placed == RESULT_FAILED) DropCacheEntry(*component.cache);
  return placed;
}

}  // namespace

Result TakeFromCache(Record& component) {
  const std::wstring destination = DestinationOf(component);
  return PlaceFromCache(component, destination + kTemporarySuffix, destination);
}

Result Location::GetFile() {
  progressMark = 0;
  const std::wstring destination = DestinationOf(*owner);
  const std::wstring temporary = destination + kTemporarySuffix;

  if (type == TRANSFER_COPY) {
    const Result sized = System::VerifyFilesize(file, owner->size);
    if (sized != RESULT_PASSED) {
      LogReason(L"%s - Download Aborted %s, Size does not match", kGetFileName, file.c_str());
      return sized == RESULT_ERROR ? RESULT_ERROR : RESULT_FAILED;
    }
    const Result copied = System::CopyFileTo(file, temporary, CopyProgress, this);
    if (copied != RESULT_PASSED) return copied;
  } else if (type == TRANSFER_DOWNLOAD && owner->cache) {
    const Result fetched = FetchIntoCache(*this);
    return fetched == RESULT_PASSED ? PlaceFromCache(*owner, temporary, destination) : fetched;
  } else if (type == TRANSFER_DOWNLOAD) {
    Resume resume;
    const Result downloaded = retries > 0 ? DownloadWithRetries(*this, temporary, resume)
                                          : System::DownloadFileTo(file, temporary, *this);
    if (downloaded != RESULT_PASSED || !CameWhole(*owner, destination, System::FileSize(temporary).value_or(0))) {
      // What a failed download left is no use to anybody: a stall or a cut leaves part of a body.
      DeleteFileW(temporary.c_str());
      return downloaded != RESULT_PASSED ? downloaded : RESULT_FAILED;
    }
  } else {
    return RESULT_ERROR;
  }
  return Place(*owner, temporary, destination);
}

}  // namespace Component

namespace System {

namespace {
// Often enough that a cancel ends a download well within a second.
constexpr DWORD kDownloadTickMs = 250;
constexpr ULONGLONG kAbortGraceMs = 5000;

// Runs the asynchronous bind of `url` with `callback` to its end, pumping
// this thread's messages, which carry the bind's work, and ticking the
// callback between them. The bind's result: how OnStopBinding saw it end, or
// why it could not start.
HRESULT Bind(const std::wstring& url, FileDownload* callback) {
  Microsoft::WRL::ComPtr<IMoniker> moniker;
  HRESULT result = CreateURLMonikerEx(nullptr, url.c_str(), &moniker, URL_MK_UNIFORM);
  if (FAILED(result)) return result;
  Microsoft::WRL::ComPtr<IBindCtx> context;
  result = CreateAsyncBindCtx(0, callback, nullptr, &context);
  if (FAILED(result)) return result;
  Microsoft::WRL::ComPtr<IStream> stream;
  result = moniker->BindToStorage(context.Get(), nullptr, IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf()));
  if (FAILED(result)) {
    RevokeBindStatusCallback(context.Get(), callback);
    return callback->Stopped() ? callback->StopResult() : result;
  }
  ULONGLONG nextTick = GetTickCount64() + kDownloadTickMs;
  ULONGLONG abortedAt = 0;
  while (!callback->Stopped()) {
    const ULONGLONG now = GetTickCount64();
    // A binding that does not stop once told to is left to itself.
    if (callback->Aborted() && abortedAt == 0) abortedAt = now;
    if (abortedAt != 0 && now - abortedAt > kAbortGraceMs) break;
    if (now >= nextTick) {
      // A stalled server or a cancel while no byte moves brings no
      // notification, so the download is looked at between them as well.
      callback->Tick();
      nextTick = now + kDownloadTickMs;
      continue;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(nextTick - now), QS_ALLINPUT);
    MSG message;
    while (!callback->Stopped() && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  RevokeBindStatusCallback(context.Get(), callback);
  return callback->Stopped() ? callback->StopResult() : E_ABORT;
}

}  // namespace

Result DownloadFileTo(std::wstring_view url, std::wstring_view path, Component::Location& location,
                      HttpExchange* exchange) {
  constexpr wchar_t kName[] = L"System::DownloadFileTo";
  if (url.empty() || path.empty()) return RESULT_ERROR;
  const std::wstring address(url), target(path);

  if (!DeleteUrlCacheEntryW(address.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return RESULT_ERROR;

  // Every failed attempt is logged as failed, then with one line that says why.
  const auto fail = [&](const std::wstring& reason, Result result) {
    LogError(L"%s - URLDownloadToFile Failed (url: %s)", kName, address.c_str());
    LogReason(L"%s - %s: %s", kName, address.c_str(), reason.c_str());
    return result;
  };
  const bool append = exchange && exchange->append && exchange->rangeFrom > 0;
  UniqueFile file(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              append ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER keptEnd{};
  keptEnd.QuadPart = append ? exchange->rangeFrom : 0;
  if (file && append && (!SetFilePointerEx(file.get(), keptEnd, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())))
    file.reset();
  if (!file) return fail(DownloadErrorText(HRESULT_FROM_WIN32(GetLastError())), RESULT_ERROR);

  // The bind needs COM on this thread; a thread that has it keeps it as it is.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  auto* callback = new FileDownload(Component::Location::DownloadProgress, &location,
                                    Component::transferPromptOwner, file.get());
  callback->AddRef();
  if (exchange) callback->Negotiate(exchange->rangeFrom, exchange->ifRange);
  HRESULT result = Bind(address, callback);
  // An abort stands even where the download went on and reported success.
  const bool aborted = callback->Aborted();
  const bool stalled = callback->Stalled();
  const DWORD status = callback->Exchange().status;
  const DWORD writeError = callback->WriteError();
  if (exchange) {
    *exchange = callback->Exchange();
    exchange->stalled = stalled;
  }
  callback->Release();
  if (SUCCEEDED(com)) CoUninitialize();
  file.reset();
  // Nothing is written to the URL cache; an entry of an earlier program is dropped all the same.
  DeleteUrlCacheEntryW(address.c_str());

  if (status >= 400) {
    wchar_t reason[24];
    _snwprintf(reason, 24, L"HTTP status %lu", status);
    return fail(reason, RESULT_FAILED);
  }
  if (stalled) return fail(StallReason(), RESULT_ERROR);
  if (writeError != 0) {
    location.diskFull = IsDiskFull(writeError);
    return fail(DownloadErrorText(HRESULT_FROM_WIN32(writeError)), RESULT_ERROR);
  }
  if (result == E_ABORT || aborted) {
    LogInfo(L"%s - URLDownloadToFile Aborted (url: %s)", kName, address.c_str());
    return RESULT_FAILED;
  }
  return FAILED(result) ? fail(DownloadErrorText(result), RESULT_ERROR) : RESULT_PASSED;
}

}  // namespace System
