#include "log/log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>

std::atomic<int> LogLevel{0};

namespace {

constexpr wchar_t kLogFileName[] = L"VantorLauncher.log";

// Opened by the first line that is written, then kept for the process; the C
// runtime flushes and closes it at a normal exit.
std::atomic<FILE*> logStream{nullptr};
// Both threads log, so the first open is guarded: two opens with mode "w"
// would each empty the file and one stream would leak.
SRWLOCK openLock = SRWLOCK_INIT;

FILE* OpenStream() {
  if (FILE* stream = logStream.load(std::memory_order_acquire)) return stream;
  struct Guard {
    Guard() { AcquireSRWLockExclusive(&openLock); }
    ~Guard() { ReleaseSRWLockExclusive(&openLock); }
  } guard;
  if (FILE* stream = logStream.load(std::memory_order_relaxed)) return stream;

  wchar_t folder[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return nullptr;
  std::wstring path(folder, length);
  path += kLogFileName;
  if (path.size() > MAX_PATH) return nullptr;  // the line is dropped; the next one tries again

  FILE* stream = _wfopen(path.c_str(), L"w");
  logStream.store(stream, std::memory_order_release);
  return stream;
}

void WriteLine(int level, const wchar_t* format, va_list args) {
  if (level > LogLevel.load(std::memory_order_relaxed)) return;

  // Zeroed, so that a message the runtime gives up on half-way stays terminated.
  std::unique_ptr<wchar_t[]> message(new wchar_t[Log::kMaxMessageChars + 1]());
  // The C runtime's own formatter: "%s" takes a wide string and prints a null
  // one as "(null)". A longer message is cut, never rejected.
  _vsnwprintf(message.get(), Log::kMaxMessageChars, format, args);
  message[Log::kMaxMessageChars] = L'\0';

  FILE* stream = OpenStream();
  if (!stream) return;

  // Sized by the conversion itself, so that a multi-byte code page can never
  // overrun the line; characters outside the code page become its default one.
  const int bytes = WideCharToMultiByte(CP_ACP, 0, message.get(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return;
  std::string line(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, message.get(), -1, line.data(), bytes, nullptr, nullptr);
  line.back() = '\n';  // replaces the terminator; text mode writes CR LF

  // One write call per line: the stream's own lock keeps concurrent lines whole.
  fwrite(line.data(), 1, line.size(), stream);
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

void Log::Flush() {
  if (FILE* stream = logStream.load(std::memory_order_acquire)) fflush(stream);
}
