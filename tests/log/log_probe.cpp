// A helper program for the log tests: each argument is one step, so that
// every scenario starts in a process whose log file is not open yet.
//   level=N      sets LogLevel
//   error=T warning=T info=T   logs "LogProbe - T" at that level
//   null         logs "%s - %s" with a null second string
//   number=N     logs "%s - %d" with N
//   long=N       logs a text of N digits
//   wide         logs a text with characters outside most code pages
//   threads=N    two threads log N numbered lines each, at the same time
//   newline      logs a text with a line feed inside it
//   kill         ends the process at once, as a kill from outside would
//   owner=SID    makes every file seem to be owned by SID
#include <windows.h>

#include <cwchar>
#include <string>
#include <thread>

#include "log/log.h"
#include "log/temp_folder.h"

namespace {

constexpr wchar_t kName[] = L"LogProbe";

void Step(const std::wstring& step) {
  const size_t equals = step.find(L'=');
  const std::wstring verb = step.substr(0, equals);
  const std::wstring value = equals == std::wstring::npos ? L"" : step.substr(equals + 1);
  if (verb == L"level") {
    LogLevel = _wtoi(value.c_str());
  } else if (verb == L"error") {
    LogError(L"%s - %s", kName, value.c_str());
  } else if (verb == L"warning") {
    LogWarning(L"%s - %s", kName, value.c_str());
  } else if (verb == L"info") {
    LogInfo(L"%s - %s", kName, value.c_str());
  } else if (verb == L"null") {
    LogInfo(L"%s - %s", kName, static_cast<const wchar_t*>(nullptr));
  } else if (verb == L"number") {
    LogInfo(L"%s - %d", kName, _wtoi(value.c_str()));
  } else if (verb == L"long") {
    std::wstring text;
    for (int i = 0, count = _wtoi(value.c_str()); i < count; ++i)
      text.push_back(static_cast<wchar_t>(L'0' + i % 10));
    LogInfo(L"%s - %s", kName, text.c_str());
  } else if (verb == L"wide") {
    LogInfo(L"%s - %s", kName, L"a\x4E2D\x0416z");
  } else if (verb == L"newline") {
    LogInfo(L"%s - %s", kName, L"a\nb");
  } else if (verb == L"owner") {
    static std::wstring owner;
    owner = value;
    System::Detail::SetOwnerQuery([](HANDLE, std::wstring& sid) {
      sid = owner;
      return true;
    });
  } else if (verb == L"kill") {
    TerminateProcess(GetCurrentProcess(), 9);
  } else if (verb == L"threads") {
    const int count = _wtoi(value.c_str());
    auto writer = [count](wchar_t id) {
      for (int i = 0; i < count; ++i) LogInfo(L"%s - thread %c line %d of a longer text", kName, id, i);
    };
    std::thread first(writer, L'A'), second(writer, L'B');
    first.join();
    second.join();
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) Step(argv[i]);
  return 0;
}
