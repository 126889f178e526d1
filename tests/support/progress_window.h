#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace Testing {

// A real window with the run's three static texts and a progress bar, made
// on the calling thread and handed to the run as its window. It records
// every text set on a static and every position given to the bar.
class ProgressWindow {
 public:
  ProgressWindow();
  ~ProgressWindow();
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  struct Record {
    std::vector<std::wstring> texts;  // every WM_SETTEXT, in order
    std::vector<int> positions;       // every PBM_SETPOS, in order
  };
  const Record& Status() const { return status_; }
  const Record& Component() const { return component_; }
  const Record& Size() const { return size_; }
  const Record& Progress() const { return progress_; }
  std::wstring TextOf(HWND control) const;
  HWND status() const { return statusControl_; }
  HWND size() const { return sizeControl_; }
  HWND component() const { return componentControl_; }
  int BarPosition() const;

  // Dispatches what is waiting in the thread's queue.
  void Pump();
  // Dispatches messages until WM_DEPLOY_DONE reaches the window, calling
  // `onIdle` between them; false after `timeoutMs` without it.
  bool PumpUntilDone(DWORD timeoutMs, const std::function<void()>& onIdle = {});
  bool Done() const { return done_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                        DWORD_PTR data);

  HWND window_ = nullptr;
  HWND statusControl_ = nullptr, componentControl_ = nullptr, sizeControl_ = nullptr, bar_ = nullptr;
  Record status_, component_, size_, progress_;
  bool done_ = false;
};

}  // namespace Testing
