#include "tests/support/progress_window.h"

#include <commctrl.h>

#include "deploy/lifecycle.h"
#include "ui/window_frontend.h"

namespace Testing {

namespace {
constexpr wchar_t kClassName[] = L"TesselTestProgressWindow";
}

ProgressWindow::ProgressWindow() {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);  // fails harmlessly when a test made it before

  window_ = CreateWindowExW(0, kClassName, L"Test progress", WS_OVERLAPPEDWINDOW, 0, 0, 400, 200, nullptr,
                            nullptr, GetModuleHandleW(nullptr), this);
  auto makeStatic = [&](int id) {
    return CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, id * 20, 380, 20, window_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  };
  statusControl_ = makeStatic(1);
  componentControl_ = makeStatic(2);
  sizeControl_ = makeStatic(3);
  bar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0, 80, 380, 20, window_, nullptr,
                         nullptr, nullptr);
  SetWindowSubclass(statusControl_, RecordingProc, 1, reinterpret_cast<DWORD_PTR>(&status_));
  SetWindowSubclass(componentControl_, RecordingProc, 1, reinterpret_cast<DWORD_PTR>(&component_));
  SetWindowSubclass(sizeControl_, RecordingProc, 1, reinterpret_cast<DWORD_PTR>(&size_));
  SetWindowSubclass(bar_, RecordingProc, 1, reinterpret_cast<DWORD_PTR>(&progress_));

  Deploy::Window& run = Deploy::RunWindow();
  run.main = window_;
  run.status = statusControl_;
  run.component = componentControl_;
  run.size = sizeControl_;
  run.progress = bar_;
  Deploy::LastProgressPosition() = 0;
  Deploy::ResetTransferMemory();
  Deploy::SetFrontend(&UI::TheWindowFrontend());
}

ProgressWindow::~ProgressWindow() {
  if (Deploy::RunWindow().main == window_) {
    Deploy::RunWindow() = Deploy::Window{};
    Deploy::SetFrontend(nullptr);
  }
  for (HWND control : {statusControl_, componentControl_, sizeControl_, bar_}) {
    RemoveWindowSubclass(control, RecordingProc, 1);
  }
  DestroyWindow(window_);
  Pump();
}

LRESULT CALLBACK ProgressWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
  } else if (message == WM_DEPLOY_DONE) {
    if (auto* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
      self->done_ = true;
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK ProgressWindow::RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                               UINT_PTR, DWORD_PTR data) {
  auto* record = reinterpret_cast<Record*>(data);
  if (message == WM_SETTEXT) record->texts.emplace_back(reinterpret_cast<const wchar_t*>(lParam));
  if (message == PBM_SETPOS) record->positions.push_back(static_cast<int>(wParam));
  return DefSubclassProc(window, message, wParam, lParam);
}

std::wstring ProgressWindow::TextOf(HWND control) const {
  wchar_t text[1024] = L"";
  GetWindowTextW(control, text, 1024);
  return text;
}

int ProgressWindow::BarPosition() const {
  return static_cast<int>(SendMessageW(bar_, PBM_GETPOS, 0, 0));
}

void ProgressWindow::Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

bool ProgressWindow::PumpUntilDone(DWORD timeoutMs, const std::function<void()>& onIdle) {
  const DWORD start = GetTickCount();
  while (!done_) {
    if (GetTickCount() - start > timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    Pump();
    if (onIdle && !done_) onIdle();
  }
  return true;
}

}  // namespace Testing
