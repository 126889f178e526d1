#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include <string>

#include "components/component.h"
#include "components/download_retry.h"
#include "components/file_download.h"
#include "log/log.h"
#include "system/file_system.h"
#include "system/integrity.h"
#include "system/thread_ticker.h"

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
    LogError(L"%s - Download Aborted %s, Size does not match", kName, location.file.c_str());
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

Result Location::GetFile() {
  progressMark = 0;
  const std::wstring destination = System::JoinPath(owner->dest.value_or(L""), owner->filename.value_or(L""));
  const std::wstring temporary = destination + kTemporarySuffix;

  if (type == TRANSFER_COPY) {
    const Result sized = System::VerifyFilesize(file, owner->size);
    if (sized != RESULT_PASSED) {
      LogError(L"%s - Download Aborted %s, Size does not match", kGetFileName, file.c_str());
      return sized == RESULT_ERROR ? RESULT_ERROR : RESULT_FAILED;
    }
    const Result copied = System::CopyFileTo(file, temporary, CopyProgress, this);
    if (copied != RESULT_PASSED) return copied;
  } else if (type == TRANSFER_DOWNLOAD) {
    const Result downloaded = retries > 0 ? DownloadWithRetries(*this, temporary, destination + kPartSuffix)
                                          : System::DownloadFileTo(file, temporary, *this);
    if (downloaded != RESULT_PASSED) {
      // What a failed download left is no use to anybody: a stall or a cut leaves part of a body.
      DeleteFileW(temporary.c_str());
      return downloaded;
    }
  } else {
    return RESULT_ERROR;
  }

  const Result writable = System::RemoveFileAttributes(temporary);
  if (writable != RESULT_PASSED) return writable;

  const Result existing = System::FileExists(destination);
  if (existing == RESULT_ERROR) return RESULT_ERROR;
  const bool replaced = existing == RESULT_PASSED;
  if (replaced &&
      (System::RemoveFileAttributes(destination) != RESULT_PASSED || !DeleteFileW(destination.c_str()))) {
    return RESULT_ERROR;
  }

  if (MoveFileW(temporary.c_str(), destination.c_str()) || replaced)
    return IsPresent(*owner, &owner->verified);
  return RESULT_FAILED;
}

}  // namespace Component

namespace System {

namespace {
// Often enough that a cancel ends a download well within a second.
constexpr DWORD kDownloadTickMs = 250;
}  // namespace

Result DownloadFileTo(std::wstring_view url, std::wstring_view path, Component::Location& location,
                      HttpExchange* exchange) {
  constexpr wchar_t kName[] = L"System::DownloadFileTo";
  if (url.empty() || path.empty()) return RESULT_ERROR;
  const std::wstring address(url), target(path);

  if (!DeleteUrlCacheEntryW(address.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return RESULT_ERROR;

  auto* callback =
      new FileDownload(Component::Location::DownloadProgress, &location, Component::transferPromptOwner);
  callback->AddRef();
  if (exchange) callback->Negotiate(exchange->rangeFrom);
  HRESULT result;
  {
    // A stalled server or a cancel while no byte moves brings no progress
    // notification, so the download is looked at in its wait as well.
    const ThreadTicker ticker(FileDownload::Tick, callback, kDownloadTickMs);
    result = URLDownloadToFileW(nullptr, address.c_str(), target.c_str(), 0, callback);
  }
  // An abort stands even where the download went on and reported success.
  const bool aborted = callback->Aborted();
  const bool stalled = callback->Stalled();
  const DWORD status = callback->Exchange().status;
  if (exchange) {
    *exchange = callback->Exchange();
    exchange->stalled = stalled;
  }
  callback->Release();
  // The download is in `path`; a second copy in the URL cache would only take room.
  DeleteUrlCacheEntryW(address.c_str());

  // Every failed attempt ends with one line that says why.
  const auto logReason = [&](const std::wstring& reason) {
    LogError(L"%s - %s: %s", kName, address.c_str(), reason.c_str());
  };
  if (status >= 400) {
    wchar_t reason[24];
    _snwprintf(reason, 24, L"HTTP status %lu", status);
    logReason(reason);
    return RESULT_FAILED;
  }
  if (stalled) {
    LogError(L"%s - URLDownloadToFile Failed (url: %s)", kName, address.c_str());
    logReason(StallReason());
    return RESULT_ERROR;
  }
  if (result == E_ABORT || aborted) {
    LogInfo(L"%s - URLDownloadToFile Aborted (url: %s)", kName, address.c_str());
    return RESULT_FAILED;
  }
  if (FAILED(result)) {
    LogError(L"%s - URLDownloadToFile Failed (url: %s)", kName, address.c_str());
    logReason(DownloadErrorText(result));
    return RESULT_ERROR;
  }
  return RESULT_PASSED;
}

}  // namespace System
