#include "system/thread_ticker.h"

namespace System {

namespace {

constexpr wchar_t kClassName[] = L"TesselThreadTicker";
constexpr UINT kTickMessage = WM_APP + 1;

}  // namespace

ThreadTicker::ThreadTicker(TickFunction tick, void* data, DWORD intervalMs) noexcept
    : tick_(tick), data_(data), intervalMs_(intervalMs) {
  static const ATOM registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    return RegisterClassExW(&windowClass);
  }();
  if (!registered) return;
  window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                            nullptr);
  if (!window_) return;
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (stop_) watcher_.reset(CreateThread(nullptr, 0, Watch, this, 0, nullptr));
}

ThreadTicker::~ThreadTicker() {
  if (watcher_) {
    SetEvent(stop_.get());
    WaitForSingleObject(watcher_.get(), INFINITE);
  }
  if (window_) {
    // A tick still queued for the window finds no ticker.
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

DWORD WINAPI ThreadTicker::Watch(void* data) {
  auto& ticker = *static_cast<ThreadTicker*>(data);
  while (WaitForSingleObject(ticker.stop_.get(), ticker.intervalMs_) == WAIT_TIMEOUT) {
    SendNotifyMessageW(ticker.window_, kTickMessage, 0, 0);
    // One wake-up at a time: the wait leaves posted messages of other windows
    // in the queue, and they must not pile up over a long download.
    if (!ticker.wakePosted_.exchange(true)) PostMessageW(ticker.window_, WM_NULL, 0, 0);
  }
  return 0;
}

LRESULT CALLBACK ThreadTicker::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kTickMessage) {
    if (auto* ticker = reinterpret_cast<ThreadTicker*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
      ticker->OnTick();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void ThreadTicker::OnTick() {
  if (ticking_) return;
  ticking_ = true;
  MSG wake;
  while (PeekMessageW(&wake, window_, WM_NULL, WM_NULL, PM_REMOVE)) {
  }
  wakePosted_ = false;
  tick_(data_);
  ticking_ = false;
}

}  // namespace System
