#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "components/component.h"
#include "components/file_download.h"
#include "system/result.h"

// A download that survives a flaky network: for a location with `retries`,
// a transient failure is tried again after a wait, and a cut body is resumed
// from where it stopped instead of fetched whole again.
namespace Component {

// Sleeps for the given milliseconds: Sleep, unless a test puts its own clock
// here to see the waits without spending them.
using SleepFunction = void (*)(DWORD milliseconds);
extern SleepFunction retrySleep;

// A random number from 0 to `bound`: a generator that the run seeds once
// from the system's random source, unless a test puts its own here.
using RandomFunction = DWORD (*)(DWORD bound);
extern RandomFunction retryRandom;

// Whether an HTTP status is worth another try: 408, 429 and every 5xx.
bool IsTransientStatus(DWORD status);

// The seconds to wait before retry `number` (1-based): 1, 2, 4 and so on up
// to 30; or the server's Retry-After, when it gave one, up to 60.
DWORD RetryDelay(int number, std::optional<DWORD> retryAfter);

// The milliseconds actually waited for a RetryDelay of `seconds`: a random
// time from half of it to all of it (retryRandom), so that launchers that
// failed together do not come back together; a server's Retry-After
// (`fromServer`) is waited in full.
DWORD SpreadDelay(DWORD seconds, bool fromServer);

// Where a download starts and what it keeps: the bytes already in its file,
// to resume after, with the validator they came with; and whether a failed
// download keeps what it brought (the download cache) or leaves nothing.
struct Resume {
  DWORD kept = 0;
  std::wstring validator;
  bool keepOnFailure = false;

  // The request that asks for what comes after the kept bytes, and writes it
  // after them in the file.
  System::HttpExchange Request() const;
  // Takes the validator of what the file holds after `answer`: that of the
  // last answer that wrote to it.
  void Answered(const System::HttpExchange& answer);
};

// Downloads the location's URL into `target`, and tries again, up to
// `location.retries` times, after a transient failure: a connection that
// fails or brings no status, a transient status, a body shorter than its
// announced length, or a stall. Each retry waits (logged "retry N of M in S s
// (REASON)", S the SpreadDelay in seconds with one decimal, REASON being the
// status, "short body", "connection failed" or "no data for N s") and ends
// at once on a cancel. A body that was cut is
// resumed: only the tail is asked for, and a 206 from where the body stopped
// is written after it, while a 200 replaces it; a file so joined that fails
// the size or a digest gets one full download more (logged). `resume` says
// where the first attempt starts, and holds the validator of what is kept.
// Returns RESULT_PASSED when `target` holds a whole answer, which the
// caller's checks judge; RESULT_FAILED when the location ends: on a cancel
// (`aborted` set, logged as a download's cancel), on any other status of 400
// or more or with the retries spent (logged "Download Failed URL (REASON)"),
// or for an announced length other than the size (logged as
// System::DownloadFileTo does); RESULT_ERROR, logged, when the file cannot
// be written, at once when the disk is full. Unless `resume.keepOnFailure`, a failure leaves no file.
Result DownloadWithRetries(Location& location, const std::wstring& target, Resume& resume);

}  // namespace Component
