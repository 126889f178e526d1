#pragma once

#include <utility>

// Runs a one-off clean-up when the scope ends, on every path.
template <typename Action>
class [[nodiscard]] ScopeExit {
 public:
  explicit ScopeExit(Action action) noexcept : action_(std::move(action)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() {
    if (active_) action_();
  }
  void Dismiss() noexcept { active_ = false; }

 private:
  Action action_;
  bool active_ = true;
};
