#define _CRT_RAND_S
#include "components/download_retry.h"

#include <algorithm>

#include "components/file_download.h"
#include "log/log.h"
#include "system/file_system.h"
#include "system/integrity.h"
#include "system/scope_exit.h"

namespace Component {

SleepFunction retrySleep = [](DWORD milliseconds) { Sleep(milliseconds); };

namespace {
// xorshift32, seeded once from the system's random source; the clock and
// the process stand in where there is none.
DWORD NextRandom(DWORD bound) {
  static DWORD state = [] {
    unsigned int seed = 0;
    if (rand_s(&seed) != 0 || seed == 0) {
      LARGE_INTEGER counter{};
      QueryPerformanceCounter(&counter);
      seed = counter.LowPart ^ (GetCurrentProcessId() << 16) ^ GetTickCount();
    }
    return seed != 0 ? static_cast<DWORD>(seed) : DWORD{0x9E3779B9};
  }();
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return bound == MAXDWORD ? state : state % (bound + 1);
}
}  // namespace

RandomFunction retryRandom = NextRandom;

namespace {

constexpr wchar_t kName[] = L"Component::Location::GetFile";
constexpr DWORD kLongestBackoff = 30;     // seconds
constexpr DWORD kLongestRetryAfter = 60;  // seconds: a server may not hold the user longer
constexpr DWORD kWaitSlice = 100;         // milliseconds between looks at a cancel

// Waits, asking between slices whether the user cancels, exactly as the
// progress of a download asks. False on a cancel, which the progress
// callback has logged and marked on the location.
bool WaitUnlessCancelled(Location& location, DWORD milliseconds) {
  for (DWORD left = milliseconds;;) {
    if (Location::DownloadProgress(location.progressMark, 0, 0, &location) == 1) return false;
    if (left == 0) return true;
    const DWORD slice = std::min(left, kWaitSlice);
    retrySleep(slice);
    left -= slice;
  }
}

// Whether a file that was put together from pieces has the component's size
// and digests. Logs as the checks do.
bool JoinedFileIsIntact(const Record& component, const std::wstring& path) {
  return System::VerifyFilesize(path, component.size) == RESULT_PASSED &&
         System::VerifyDigests(path, component.md5.value_or(L""), component.sha256.value_or(L"")) ==
             RESULT_PASSED;
}

}  // namespace

bool IsTransientStatus(DWORD status) {
  return status == 408 || status == 429 || (status >= 500 && status <= 599);
}

DWORD RetryDelay(int number, std::optional<DWORD> retryAfter) {
  if (retryAfter) return std::min(*retryAfter, kLongestRetryAfter);
  return number > 5 ? kLongestBackoff : std::min(DWORD{1} << (number - 1), kLongestBackoff);
}

System::HttpExchange Resume::Request() const {
  System::HttpExchange exchange;
  exchange.rangeFrom = kept;
  exchange.ifRange = validator;
  exchange.append = true;
  return exchange;
}

void Resume::Answered(const System::HttpExchange& answer) {
  if (answer.status == 200 || (answer.status == 206 && !answer.validator.empty())) validator = answer.validator;
}

DWORD SpreadDelay(DWORD seconds, bool fromServer) {
  const DWORD full = seconds * 1000;
  if (fromServer) return full;
  const DWORD half = full / 2;
  return half + std::min(retryRandom(full - half), full - half);
}

Result DownloadWithRetries(Location& location, const std::wstring& target, Resume& resume) {
  bool kept = true;  // false once the file must go
  ScopeExit drop([&] {
    if (!kept) DeleteFileW(target.c_str());
  });
  const auto fail = [&](Result result) {
    kept = resume.keepOnFailure;
    return result;
  };
  const Record& component = *location.owner;
  bool joined = resume.kept > 0;  // `target` holds pieces of more than one answer
  bool lastChance = false;        // the full download after a joined file failed its checks
  for (int retried = 0;;) {
    System::HttpExchange exchange = resume.Request();
    const Result downloaded = System::DownloadFileTo(location.file, target, location, &exchange);
    resume.Answered(exchange);
    // The cancel first: some phases of the download go on to success after it.
    if (location.aborted) return fail(RESULT_FAILED);
    // A disk that filled is not mended by another try.
    if (location.diskFull) return fail(RESULT_ERROR);

    wchar_t status[12] = L"";
    const wchar_t* reason = status;
    const std::wstring stall = exchange.stalled ? System::StallReason() : std::wstring();
    if (exchange.status >= 400) {
      _snwprintf(status, 12, L"%lu", exchange.status);
      if (!IsTransientStatus(exchange.status)) {
        LogError(L"%s - Download Failed %s (%s)", kName, location.file.c_str(), reason);
        return fail(RESULT_FAILED);
      }
    } else if (downloaded == RESULT_FAILED) {
      return fail(RESULT_FAILED);  // another length than the size was announced: no retry mends that
    } else if (downloaded == RESULT_ERROR && exchange.status == 0) {
      reason = exchange.stalled ? stall.c_str() : L"connection failed";
    } else {
      // A cut body is what arrived, whether the moniker called it a success
      // (as Wine's does) or a failure. A 206 from where the body stopped was
      // written after it; a 200 started the file again; any other answer to a
      // range left the body kept so far as it was.
      if (resume.kept > 0 && exchange.status == 206 && exchange.rangeStart == resume.kept) joined = true;
      if (exchange.status == 200) joined = false;
      const ULONGLONG have = System::FileSize(target).value_or(0);
      if (have >= component.size) {
        if (!joined || JoinedFileIsIntact(component, target)) return RESULT_PASSED;
        LogWarning(L"%s - resumed download of %s failed its checks, one full download more", kName,
                   location.file.c_str());
        resume.kept = 0;
        resume.validator.clear();
        joined = false;
        lastChance = true;
        continue;
      }
      // Only a body that a status announced is resumed.
      if (exchange.status == 200 || exchange.status == 206) resume.kept = static_cast<DWORD>(have);
      // A body that stalled is resumed like one that was cut.
      reason = exchange.stalled ? stall.c_str() : exchange.status == 0 ? L"connection failed" : L"short body";
    }

    if (lastChance || retried == location.retries) {
      LogError(L"%s - Download Failed %s (%s)", kName, location.file.c_str(), reason);
      return fail(RESULT_FAILED);
    }
    ++retried;
    const DWORD delay = SpreadDelay(RetryDelay(retried, exchange.retryAfter), exchange.retryAfter.has_value());
    wchar_t seconds[16];
    _snwprintf(seconds, 16, L"%lu.%lu", delay / 1000, (delay % 1000) / 100);
    seconds[15] = L'\0';
    LogWarning(L"%s - retry %d of %d in %s s (%s)", kName, retried, location.retries, seconds, reason);
    if (!WaitUnlessCancelled(location, delay)) return fail(RESULT_FAILED);
  }
}

}  // namespace Component
