#pragma once

#include <atomic>
#include <string>

// The process-wide diagnostic log: "VantorLauncher.log" in the temp folder.
// Every line is the logging operation's qualified name, " - " and a text; by
// convention each format begins "%s - " and its first argument is that name.
// "%s" takes a wide string (a null one prints "(null)"), "%d" a signed int.
// Logging never changes its callers' flow and reports no failure of its own.
// Each line reaches the file when it is written, so a process that is killed
// or crashes leaves every line it logged, each whole and ending in CR LF.

enum LogLevelValue : int {
  LOG_LEVEL_ERROR = 1,
  LOG_LEVEL_WARNING = 2,
  LOG_LEVEL_INFO = 4,
};

// A line of level L is written only when L <= LogLevel. It is 0 (nothing is
// written) until the main window exists and 4 (everything) while it does.
// Only the main thread writes it.
extern std::atomic<int> LogLevel;

void LogError(const wchar_t* format, ...);
void LogWarning(const wchar_t* format, ...);
void LogInfo(const wchar_t* format, ...);

// A line that says why something failed, such as "<url>: HTTP status 404":
// logged as LogError logs, and its text after "<name> - " kept, whatever the
// log level, as the last reason that Log::LastReason gives.
void LogReason(const wchar_t* format, ...);

namespace Log {
// The longest message kept; longer ones are cut to this many characters.
inline constexpr int kMaxMessageChars = 1023;

// The text of the last LogReason line since the last ForgetReason; empty
// when there is none.
std::wstring LastReason();
// Forgets the last reason: what fails after this has a cause of its own.
void ForgetReason();

// The log's file name in the temp folder, for a process whose log is not
// the run's: set before the first line. "VantorLauncher.log" otherwise.
void SetFileName(const wchar_t* name);

// The full path of the log file, once a line has been written to it; empty
// while there is none.
std::wstring FilePath();
}  // namespace Log
