#include "ui/window_frontend.h"

#include <commctrl.h>

#include "deploy/lifecycle.h"
#include "log/log.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace UI {

bool WindowFrontend::Keep(const std::wstring& status, bool progressLayout) {
  AcquireSRWLockExclusive(&lock_);
  const bool keep = Deploy::WindowPending();
  if (keep) {
    pendingStatus_ = status;
    pendingProgressLayout_ = progressLayout;
  }
  ReleaseSRWLockExclusive(&lock_);
  return keep;
}

void WindowFrontend::Open() {
  AcquireSRWLockExclusive(&lock_);
  if (pendingStatus_) {
    if (pendingProgressLayout_) {
      MainWindow::ShowProgressStatus(pendingStatus_->c_str());
    } else {
      MainWindow::ShowStatus(pendingStatus_->c_str());
    }
    pendingStatus_.reset();
  }
  Deploy::WindowShown(true);  // under the lock: no status is kept after this
  ReleaseSRWLockExclusive(&lock_);
}

// One synchronous send for the whole layout, which the window's own thread
// then carries out, rather than a send for each of its steps.
void WindowFrontend::ShowStatus(const std::wstring& status) {
  if (Keep(status, false)) return;
  SendMessageW(Deploy::RunWindow().main, MainWindow::WM_SHOW_STATUS, 0,
               reinterpret_cast<LPARAM>(status.c_str()));
}

void WindowFrontend::ShowProgressStatus(const std::wstring& status) {
  if (Keep(status, true)) return;
  SendMessageW(Deploy::RunWindow().main, MainWindow::WM_SHOW_STATUS, 1,
               reinterpret_cast<LPARAM>(status.c_str()));
}

void WindowFrontend::ShowTransferText(Deploy::TransferLine line, const std::wstring& text) {
  if (!Deploy::WaitForWindow()) return;
  const Deploy::Window& window = Deploy::RunWindow();
  HWND control = line == Deploy::TransferLine::Status      ? window.status
                 : line == Deploy::TransferLine::Component ? window.component
                                                           : window.size;
  SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void WindowFrontend::ShowProgress(int position) {
  if (!Deploy::WaitForWindow()) return;
  PostMessageW(Deploy::RunWindow().progress, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void WindowFrontend::Restore() {
  if (!Deploy::WaitForWindow()) return;
  ShowWindow(Deploy::RunWindow().main, SW_RESTORE);
}

void WindowFrontend::Minimize() {
  if (Deploy::WindowPending()) return;  // it is shown minimized
  ShowWindow(Deploy::RunWindow().main, SW_MINIMIZE);
}

bool WindowFrontend::Ask(UINT, const std::wstring& text, const std::wstring& okText,
                         const std::wstring& cancelText) {
  if (!Deploy::WaitForWindow()) return false;
  DialogInputs inputs;
  inputs.dlgText = text;
  inputs.dlgOkText = okText;
  inputs.dlgCancelText = cancelText;
  inputs.dlgQuestionStyle = true;
  return ShowQuestionDialog(inputs) == kOkButton;
}

bool WindowFrontend::ChooseInstallContext(const std::wstring& text, const std::wstring& okText,
                                          const std::wstring& cancelText, int& choice) {
  if (!Deploy::WaitForWindow()) return false;
  DialogInputs inputs;
  inputs.installContextChoice = choice;
  inputs.dlgText = text;
  inputs.dlgOkText = okText;
  inputs.dlgCancelText = cancelText;
  if (ShowInstallContextDialog(inputs) != kOkButton) return false;
  choice = inputs.installContextChoice;
  return true;
}

void WindowFrontend::ShowError(UINT, const std::wstring& text, const std::wstring&) {
  if (!Deploy::WaitForWindow()) return;  // the window's own failure was shown instead
  ShowErrorMsgBox(ErrorText(text, Log::LastReason(), Log::FilePath()).c_str());
}

void WindowFrontend::ShowNotice(UINT, const std::wstring& text) {
  if (!Deploy::WaitForWindow()) return;
  ShowMsgBox(text.c_str(), MB_ICONEXCLAMATION | MB_OK);
}

HWND WindowFrontend::PromptOwner() {
  Deploy::WaitForWindow();
  return Deploy::RunWindow().main;
}

WindowFrontend& TheWindowFrontend() {
  static WindowFrontend frontend;
  return frontend;
}

}  // namespace UI
