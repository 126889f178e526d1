#include "app/program.h"

#include "deploy/text.h"
#include "deploy/workflow.h"
#include "system/dll_search.h"
#include "system/module.h"
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
  wchar_t locale[LOCALE_NAME_MAX_LENGTH] = L"";
  languageOffset =
      GetUserDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH) > 0 ? LanguageOffsetFor(locale) : 0;
  ResetTextRing();
  if (ActivateRunningLauncher()) return 0;
  const int result = MainWindow::Run(instance, Deploy::Run);
  return result == 0 ? Deploy::ExitCode() : result;
}

}  // namespace App
