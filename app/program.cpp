#include "app/program.h"

#include "deploy/detect.h"
#include "deploy/text.h"
#include "deploy/lifecycle.h"
#include "deploy/quiet_frontend.h"
#include "deploy/staged_install.h"
#include "deploy/workflow.h"
#include "log/log.h"
#include "system/dll_search.h"
#include "system/module.h"
#include "system/unique_handle.h"
#include "ui/main_window.h"

namespace App {

namespace {

struct Language {
  std::wstring_view code;
  int offset;
};
// In this order. A Brazilian Portuguese block is carried at 900, but a
// two-letter code can never pick it: pt-BR gets Portuguese.
constexpr Language kLanguages[] = {
    {L"zh", 200}, {L"fr", 100}, {L"es", 300}, {L"ja", 400},  {L"de", 500},
    {L"ko", 600}, {L"ru", 700}, {L"pt", 800}, {L"sv", 1000}, {L"it", 1100},
};

}  // namespace

int LanguageOffsetFor(std::wstring_view localeName) {
  const std::wstring_view code = localeName.substr(0, 2);
  for (const Language& language : kLanguages) {
    if (code == language.code) return language.offset;
  }
  return 0;
}

bool ActivateRunningLauncher() {
  HWND running = FindWindowW(MainWindow::kClassName, MainWindow::kTitle);
  if (!running) return false;
  // Restored first: restoring activates the window, which would otherwise
  // push its open dialog back behind it.
  if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
  HWND popup = GetLastActivePopup(running);
  SetForegroundWindow(popup ? popup : running);
  return true;
}

int Main(HINSTANCE instance) {
  System::RestrictDllSearch();
  System::SetModuleInstance(instance);
  // Before the common controls or any other DLL is loaded: a ".local" beside
  // the program could hand it DLLs of someone else's, and a window or a
  // message box would load them, so there is only the log.
  const std::wstring redirection = System::LocalRedirection();
  if (!redirection.empty()) {
    if (!Deploy::StagedInstallRequested()) {
      LogLevel = LOG_LEVEL_ERROR;
      LogError(L"%s - %s is beside the launcher, and Windows could load DLLs from it: the launcher does not run",
               L"App::Main", redirection.c_str());
      LogLevel = 0;
    }
    return kExitLocalRedirection;
  }
  // The elevated side of an installer that needs the consent prompt: no
  // window, and a log of its own, since the user's is the waiting run's.
  if (Deploy::StagedInstallRequested()) {
    Log::SetFileName(Deploy::kStagedLogName);
    LogLevel = LOG_LEVEL_INFO;
    const int code = Deploy::RunStagedInstall();
    LogLevel = 0;
    return code;
  }
  wchar_t locale[LOCALE_NAME_MAX_LENGTH] = L"";
  languageOffset =
      GetUserDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH) > 0 ? LanguageOffsetFor(locale) : 0;
  ResetTextRing();
  if (Deploy::DetectRequested()) return RunDetect();
  if (Deploy::QuietRequested()) return RunQuietly();
  if (ActivateRunningLauncher()) return 0;
  // A quiet run has no window to bring forward: this one ends as if it had.
  const UniqueHandleOwner claim = ClaimRun();
  if (!claim) return 0;
  const int result = MainWindow::Run(instance, Deploy::Run);
  return result == 0 ? Deploy::ExitCode() : result;
}

UniqueHandleOwner ClaimRun() {
  UniqueHandleOwner mutex(CreateMutexW(nullptr, FALSE, kRunMutexName));
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) mutex.reset();
  return mutex;
}

int RunDetect() {
  // It changes nothing, so it needs no claim: it may run beside a launcher.
  Deploy::SetFrontend(nullptr);
  LogLevel = LOG_LEVEL_INFO;
  const int code = Deploy::Detect(Deploy::DetectReportPath());
  LogLevel = 0;
  return code;
}

int RunQuietly() {
  const UniqueHandleOwner claim = ClaimRun();
  if (!claim) return kExitAlreadyRunning;
  Deploy::SetFrontend(nullptr);  // the quiet one
  // There is no window whose creation would switch logging on.
  LogLevel = LOG_LEVEL_INFO;
  const bool ran = Deploy::RunHere(Deploy::Run);
  LogLevel = 0;
  return ran ? Deploy::ExitCode() : -1;
}

}  // namespace App
