#include "ui/window_frontend.h"

#include <commctrl.h>

#include "deploy/lifecycle.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace UI {

// One synchronous send for the whole layout, which the window's own thread
// then carries out, rather than a send for each of its steps.
void WindowFrontend::ShowStatus(const std::wstring& status) {
  SendMessageW(Deploy::RunWindow().main, MainWindow::WM_SHOW_STATUS, 0,
               reinterpret_cast<LPARAM>(status.c_str()));
}

void WindowFrontend::ShowProgressStatus(const std::wstring& status) {
  SendMessageW(Deploy::RunWindow().main, MainWindow::WM_SHOW_STATUS, 1,
               reinterpret_cast<LPARAM>(status.c_str()));
}

void WindowFrontend::ShowTransferText(Deploy::TransferLine line, const std::wstring& text) {
  const Deploy::Window& window = Deploy::RunWindow();
  HWND control = line == Deploy::TransferLine::Status      ? window.status
                 : line == Deploy::TransferLine::Component ? window.component
                                                           : window.size;
  SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void WindowFrontend::ShowProgress(int position) {
  PostMessageW(Deploy::RunWindow().progress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void WindowFrontend::Restore() {
  ShowWindow(Deploy::RunWindow().main, SW_RESTORE);
}

void WindowFrontend::Minimize() {
  ShowWindow(Deploy::RunWindow().main, SW_MINIMIZE);
}

bool WindowFrontend::Ask(UINT, const std::wstring& text, const std::wstring& okText,
                         const std::wstring& cancelText) {
  DialogInputs inputs;
  inputs.dlgText = text;
  inputs.dlgOkText = okText;
  inputs.dlgCancelText = cancelText;
  inputs.dlgQuestionStyle = true;
  return ShowQuestionDialog(inputs) == kOkButton;
}

bool WindowFrontend::ChooseInstallContext(const std::wstring& text, const std::wstring& okText,
                                          const std::wstring& cancelText, int& choice) {
  DialogInputs inputs;
  inputs.installContextChoice = choice;
  inputs.dlgText = text;
  inputs.dlgOkText = okText;
  inputs.dlgCancelText = cancelText;
  if (ShowInstallContextDialog(inputs) != kOkButton) return false;
  choice = inputs.installContextChoice;
  return true;
}

void WindowFrontend::ShowError(UINT, const std::wstring& text) {
  ShowErrorMsgBox(text.c_str());
}

void WindowFrontend::ShowNotice(UINT, const std::wstring& text) {
  ShowMsgBox(text.c_str(), MB_ICONEXCLAMATION | MB_OK);
}

HWND WindowFrontend::PromptOwner() {
  return Deploy::RunWindow().main;
}

WindowFrontend& TheWindowFrontend() {
  static WindowFrontend frontend;
  return frontend;
}

}  // namespace UI
