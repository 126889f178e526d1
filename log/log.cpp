#include "log/log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "log/temp_folder.h"

std::atomic<int> LogLevel{0};

namespace {

const wchar_t* logFileName = L"VantorLauncher.log";

// Opened by the first line that is written, then kept for the process and
// closed by its end. A plain HANDLE, since log/ sits below system/ and its
// owners; nothing ever closes it early.
std::atomic<HANDLE> logFile{nullptr};
// Both threads log, so the first open is guarded: two opens would each empty
// the file and one handle would leak.
SRWLOCK openLock = SRWLOCK_INIT;
// The log's place held a link or a file with other names: never opened again.
std::atomic<bool> logRefused{false};
// Set once, under openLock, before logFile is published.
std::wstring logPath;

SRWLOCK reasonLock = SRWLOCK_INIT;
std::wstring lastReason;

struct ExclusiveLock {
  explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;
  SRWLOCK& lock_;
};

HANDLE OpenLogFile() {
  if (HANDLE file = logFile.load(std::memory_order_acquire)) return file;
  const ExclusiveLock guard(openLock);
  if (HANDLE file = logFile.load(std::memory_order_relaxed)) return file;
  if (logRefused.load(std::memory_order_relaxed)) return nullptr;

  std::wstring path = System::UserTempFolder();
  if (path.empty()) return nullptr;
  path += logFileName;
  if (path.size() > MAX_PATH) return nullptr;  // the line is dropped; the next one tries again

  // Created or emptied, and shared for reading and writing, as the C runtime's
  // mode "w" did. GENERIC_WRITE rather than FILE_APPEND_DATA alone: Wine
  // appends for the latter by reading the size and then writing at it, which
  // two threads can race; a write at the shared file position cannot.
  // Opened as it is, and emptied only once it is known to be the log's own:
  // truncating on open would empty the file that a planted link leads to.
  // Another user's file there (one made first in a temp folder that all
  // may add to) is not written into either.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  if (!System::IsPlainFile(file) || !System::HasTrustedOwner(file) || !SetEndOfFile(file)) {
    // Nothing is written through a link: the log stays off for this process.
    CloseHandle(file);
    logRefused.store(true, std::memory_order_relaxed);
    return nullptr;
  }
  logPath = path;
  logFile.store(file, std::memory_order_release);
  return file;
}

void WriteLine(int level, const wchar_t* format, va_list args, bool reason = false) {
  if (!reason && level > LogLevel.load(std::memory_order_relaxed)) return;

  // Zeroed, so that a message the runtime gives up on half-way stays terminated.
  std::unique_ptr<wchar_t[]> message(new wchar_t[Log::kMaxMessageChars + 1]());
  // The C runtime's own formatter: "%s" takes a wide string and prints a null
  // one as "(null)". A longer message is cut, never rejected.
  _vsnwprintf(message.get(), Log::kMaxMessageChars, format, args);
  message[Log::kMaxMessageChars] = L'\0';
  if (reason) {
    const wchar_t* text = wcsstr(message.get(), L" - ");
    const ExclusiveLock guard(reasonLock);
    lastReason = text ? text + 3 : message.get();
  }
  if (level > LogLevel.load(std::memory_order_relaxed)) return;

  HANDLE file = OpenLogFile();
  if (!file) return;

  // Sized by the conversion itself, so that a multi-byte code page can never
  // overrun the line; characters outside the code page become its default one.
  const int bytes = WideCharToMultiByte(CP_ACP, 0, message.get(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  std::string line;
  line.reserve(static_cast<size_t>(bytes) + 1);  // room for the CR of the line end
  line.resize(static_cast<size_t>(bytes));
  WideCharToMultiByte(CP_ACP, 0, message.get(), -1, line.data(), bytes, nullptr, nullptr);
  line.back() = '\n';  // replaces the terminator
  // Every LF becomes CR LF, one inside a message too, byte for byte as the C
  // runtime's text mode wrote it; no trail byte of a multi-byte code page is
  // an LF.
  for (size_t at = line.find('\n'); at != std::string::npos; at = line.find('\n', at + 2))
    line.insert(at, 1, '\r');

  // One unbuffered write per line, so a kill or a crash loses no line that was
  // logged. The handle is synchronous: the system serializes its writes and
  // moves the shared file position past each one, so lines from the two
  // threads stay whole and never overwrite each other.
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

void LogError(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLine(LOG_LEVEL_ERROR, format, args);
  va_end(args);
}

void LogWarning(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLine(LOG_LEVEL_WARNING, format, args);
  va_end(args);
}

void LogInfo(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLine(LOG_LEVEL_INFO, format, args);
  va_end(args);
}

void LogReason(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLine(LOG_LEVEL_ERROR, format, args, true);
  va_end(args);
}

namespace Log {

std::wstring LastReason() {
  const ExclusiveLock guard(reasonLock);
  return lastReason;
}

void ForgetReason() {
  const ExclusiveLock guard(reasonLock);
  lastReason.clear();
}

void SetFileName(const wchar_t* name) {
  logFileName = name;
}

std::wstring FilePath() {
  return logFile.load(std::memory_order_acquire) ? logPath : std::wstring();
}

}  // namespace Log
