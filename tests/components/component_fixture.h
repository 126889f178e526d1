#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "components/component.h"
#include "system/file_system.h"
#include "tests/support/progress_window.h"
#include "tests/support/test_support.h"

namespace Testing {

// Components in a temp folder of their own, gathered on a real worker thread
// while the test's thread pumps the messages of a real progress window.
class ComponentTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Forgets every component, condition and flag, and makes the flags again.
  void Reset();

  // Check conditions: passing, failing, and in error (its flag is missing).
  Condition::Record* Installed();
  Condition::Record* Missing();
  Condition::Record* Broken();

  // A missing component whose file is `content`: size and upper-case MD5 set.
  Component::Record* MakeComponent(const std::wstring& name, const std::string& content);
  // Writes a copy source and adds a copy location for it; returns its path.
  std::wstring AddCopySource(Component::Record& component, const std::string& content);
  void PlaceAtDestination(const Component::Record& component, const std::string& content);
  static std::wstring DestinationOf(const Component::Record& component);
  static std::string Read(const std::wstring& path);

  // Runs Component::GatherComponents on the worker thread, pumping until it
  // has ended; `onIdle` runs on this thread between messages.
  Result GatherInWorker(const std::function<void()>& onIdle = {}, DWORD timeoutMs = 60000);

  ProgressWindow& window() { return *window_; }
  TempFolder& folder() { return folder_; }

 private:
  TempFolder folder_;
  std::unique_ptr<ProgressWindow> window_;
  int files_ = 0;
};

}  // namespace Testing
