#pragma once

#include <windows.h>

#include <atomic>

#include "system/unique_handle.h"

namespace System {

// Runs a function every few milliseconds on the thread that made the ticker,
// while that thread is blocked inside a synchronous call that pumps its
// messages, as a URL download does. A watcher thread sends each tick to a
// message-only window of the owning thread, so the tick runs there, in the
// call's own message wait; and it posts a message as well, since a wait for
// posted messages does not wake for a sent one. A tick never runs inside
// another tick.
//
// Without a window (it could not be made) the ticker does nothing; the call
// it was meant to watch is then unwatched, as before.
class ThreadTicker {
 public:
  using TickFunction = void (*)(void* data);

  ThreadTicker(TickFunction tick, void* data, DWORD intervalMs) noexcept;
  // Stops the watcher and removes the window: no tick runs after it.
  ~ThreadTicker();
  ThreadTicker(const ThreadTicker&) = delete;
  ThreadTicker& operator=(const ThreadTicker&) = delete;

  // Whether ticks are coming.
  bool Running() const noexcept { return static_cast<bool>(watcher_); }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static DWORD WINAPI Watch(void* ticker);
  void OnTick();

  TickFunction tick_;
  void* data_;
  DWORD intervalMs_;
  HWND window_ = nullptr;
  UniqueHandleOwner stop_;
  UniqueHandleOwner watcher_;
  std::atomic<bool> wakePosted_{false};
  bool ticking_ = false;  // owning thread only
};

}  // namespace System
