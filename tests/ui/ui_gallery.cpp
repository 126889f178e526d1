// Shows one state of the user interface for a screenshot or an input test,
// in the language of the user's locale (LANG under Wine), and ends by
// itself after a while. Prints the dialog's result to stdout.
//   ui_gallery compact|tall|question|context-user|context-machine|error|notice|cancel [MS]
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "app/program.h"
#include "deploy/lifecycle.h"
#include "deploy/text.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace {

DWORD lifetime = 4000;

// Closes whatever is open when its time is up, as the close box would.
DWORD WINAPI Closer(LPVOID window) {
  Sleep(lifetime);
  HWND popup = GetLastActivePopup(static_cast<HWND>(window));
  if (popup && popup != window) PostMessageW(popup, WM_CLOSE, 0, 0);
  Sleep(200);
  PostMessageW(static_cast<HWND>(window), WM_DEPLOY_DONE, 0, 0);
  return 0;
}

void Pump() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring state = argc > 1 ? argv[1] : L"compact";
  if (argc > 2) lifetime = static_cast<DWORD>(_wtoi(argv[2]));
  HINSTANCE instance = GetModuleHandleW(nullptr);
  wchar_t locale[LOCALE_NAME_MAX_LENGTH] = L"";
  GetUserDefaultLocaleName(locale, LOCALE_NAME_MAX_LENGTH);
  languageOffset = App::LanguageOffsetFor(locale);

  INITCOMMONCONTROLSEX controls{sizeof(controls), 0xFF};
  InitCommonControlsEx(&controls);
  HWND window = MainWindow::Create(instance);
  if (!window) return 3;
  ShowWindow(window, SW_SHOWNORMAL);
  CloseHandle(CreateThread(nullptr, 0, Closer, window, 0, nullptr));

  std::wstring text;
  INT_PTR result = -1;
  if (state == L"sizes") {
    RECT rect{};
    MainWindow::ShowStatus(L"");
    GetWindowRect(window, &rect);
    wprintf(L"compact %ld %ld\n", rect.right - rect.left, rect.bottom - rect.top);
    MainWindow::ShowProgressStatus(L"");
    GetWindowRect(window, &rect);
    wprintf(L"tall %ld %ld\n", rect.right - rect.left, rect.bottom - rect.top);
    fflush(stdout);
    return 0;
  }
  if (state == L"compact") {
    MainWindow::ShowStatus(LoadText(211));
  } else if (state == L"tall") {
    MainWindow::ShowProgressStatus(LoadText(214));
    FormatTextN(text, 256, LoadText(231), 1u, 2u);
    SendMessageW(Deploy::RunWindow().status, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(Deploy::RunWindow().component, WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(L".NET Framework 4.6.1"));
    FormatTextN(text, 256, LoadText(232), 27.0, 67.6, L"MB");
    SendMessageW(Deploy::RunWindow().size, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    PostMessageW(Deploy::RunWindow().progress, PBM_SETPOS, 40, 0);
  } else if (state == L"question") {
    MainWindow::ShowStatus(LoadText(205));
    UI::DialogInputs inputs;
    FormatText(inputs.dlgText, LoadText(210), L"Tessel", L"11.4.8.18902");
    inputs.dlgOkText = LoadText(201);
    inputs.dlgCancelText = LoadText(202);
    result = UI::ShowQuestionDialog(inputs);
  } else if (state == L"context-user" || state == L"context-machine") {
    MainWindow::ShowStatus(LoadText(205));
    UI::DialogInputs inputs;
    FormatText(inputs.dlgText, LoadText(209), L"Tessel", L"11.4.8.18902");
    inputs.dlgOkText = LoadText(203);
    inputs.dlgCancelText = LoadText(204);
    inputs.installContextChoice = state == L"context-user" ? 1 : 2;
    result = UI::ShowInstallContextDialog(inputs);
    wprintf(L"choice %d\n", inputs.installContextChoice);
  } else if (state == L"error") {
    MainWindow::ShowStatus(LoadText(214));
    // As a failed download shows it: the cause, shortened, and the log.
    const std::wstring cause = L"https://downloads.example.com/tessel/11.4.8.18902/enterprise/SetupEnterprise.exe: "
                               L"HTTP status 404";
    UI::ShowErrorMsgBox(
        UI::ErrorText(LoadText(215), cause, L"C:\\Users\\John Smith\\AppData\\Local\\Temp\\VantorLauncher.log").c_str());
  } else if (state == L"notice") {
    MainWindow::ShowStatus(LoadText(205));
    FormatText(text, LoadText(218), L"Tessel");
    result = UI::ShowMsgBox(text.c_str(), MB_ICONEXCLAMATION | MB_OK);
  }
  wprintf(L"result %d\n", static_cast<int>(result));
  fflush(stdout);
  Pump();
  return 0;
}
