#pragma once

#include <windows.h>

#include <functional>
#include <thread>

namespace Testing {

// The first visible dialog-class window of this process with the caption,
// waited for up to `timeoutMs`.
inline HWND WaitForDialog(const wchar_t* caption, DWORD timeoutMs = 5000) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 10) {
    HWND found = FindWindowW(L"#32770", caption);
    if (found && IsWindowVisible(found)) return found;
    Sleep(10);
  }
  return nullptr;
}

// Runs `act` on another thread once a dialog with the caption is open, so
// that the modal loop on this thread can answer it.
class DialogDriver {
 public:
  explicit DialogDriver(std::function<void(HWND)> act, const wchar_t* caption = L"Tessel Launcher")
      : thread_([act = std::move(act), caption] {
          if (HWND dialog = WaitForDialog(caption)) act(dialog);
        }) {}
  ~DialogDriver() { thread_.join(); }

 private:
  std::thread thread_;
};

}  // namespace Testing
