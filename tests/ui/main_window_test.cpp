#include "ui/main_window.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "deploy/lifecycle.h"
#include "log/log.h"
#include "system/unique_handle.h"
#include "tests/support/test_support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/dialogs.h"

namespace {

SIZE SizeOf(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

std::wstring Text(HWND window) {
  wchar_t text[256] = L"";
  GetWindowTextW(window, text, 256);
  return text;
}

TEST(MainWindow, LayoutsAt96Dpi) {
  HWND window = MainWindow::Create(GetModuleHandleW(nullptr));
  ASSERT_NE(nullptr, window);
  EXPECT_EQ(LOG_LEVEL_INFO, LogLevel.load()) << "logging starts with the window";
  const Deploy::Window run = Deploy::RunWindow();
  EXPECT_EQ(window, run.main);
  EXPECT_EQ(375, SizeOf(window).cx);
  EXPECT_EQ(104, SizeOf(window).cy);
  EXPECT_EQ(L"Tessel Launcher", Text(window));
  HWND cancel = GetDlgItem(window, MainWindow::kCancelId);
  EXPECT_EQ(L"Cancel", Text(cancel));
  EXPECT_FALSE(IsWindowVisible(run.progress));

  MainWindow::ShowProgressStatus(L"Retrieving required components...");
  EXPECT_EQ(169, SizeOf(window).cy);
  EXPECT_EQ(L"Retrieving required components...", Text(run.status));
  EXPECT_TRUE(GetWindowLongW(run.progress, GWL_STYLE) & WS_VISIBLE);
  RECT button{};
  GetWindowRect(cancel, &button);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&button), 2);
  EXPECT_EQ(75, button.right - button.left);
  EXPECT_EQ(25, button.bottom - button.top);

  SendMessageW(run.size, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"1.0 of 2.0 MB"));
  MainWindow::ShowStatus(L"Checking prerequisites...");
  EXPECT_EQ(104, SizeOf(window).cy);
  EXPECT_EQ(L"", Text(run.size));
  EXPECT_FALSE(GetWindowLongW(run.progress, GWL_STYLE) & WS_VISIBLE);

  DestroyWindow(window);
  EXPECT_EQ(0, LogLevel.load()) << "logging ends with the window";
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// LogPixels is read when a process starts, so the window is measured in a
// helper process.
TEST(MainWindow, LayoutsAt144Dpi) {
  UniqueHKey desktop;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, desktop.put(), nullptr));
  const DWORD high = 144, normal = 96;
  RegSetValueExW(desktop.get(), L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&high),
                 sizeof(high));
  Testing::TempFolder folder;
  const std::wstring output = folder.File(L"sizes.txt");
  const std::wstring command =
      L"cmd /c \"\"" + Testing::ProgramFolder() + L"\\ui_gallery.exe\" sizes > \"" + output + L"\"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::wstring line = command;
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                      nullptr, nullptr, &startup, &process);
  if (started) {
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  RegSetValueExW(desktop.get(), L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&normal),
                 sizeof(normal));
  ASSERT_TRUE(started);
  std::string sizes;
  ASSERT_TRUE(Testing::ReadFileBytes(output, sizes));
  EXPECT_EQ("compact 563 156\r\ntall 563 254\r\n", sizes);
}

void WaitUntilCancelled() {
  while (!Deploy::CheckShutdownEvent()) Sleep(10);
  Sleep(200);  // the window stays until the worker has ended
}

TEST(MainWindow, CancelAsksAndOnlyYesStopsTheRun) {
  bool openAfterNo = false, disabled = false, openAfterYes = false;
  std::wstring status;
  Testing::DialogDriver driver([&](HWND question) {
    // First: Cancel, then No.
    HWND window = FindWindowW(MainWindow::kClassName, MainWindow::kTitle);
    PostMessageW(question, WM_COMMAND, 114, 0);
    Sleep(200);
    openAfterNo = IsWindow(window) && !Deploy::CheckShutdownEvent();
    // Then the close box, and Yes.
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (HWND again = Testing::WaitForDialog(L"Tessel Launcher")) SendMessageW(again, WM_COMMAND, 113, 0);
    Sleep(50);
    disabled = !IsWindowEnabled(GetDlgItem(window, MainWindow::kCancelId));
    status = Text(Deploy::RunWindow().status);
    openAfterYes = IsWindow(window);
  });
  std::thread clicker([] {
    HWND window = nullptr;
    for (int i = 0; i < 500 && !window; ++i) {
      window = FindWindowW(MainWindow::kClassName, MainWindow::kTitle);
      Sleep(10);
    }
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(MainWindow::kCancelId, BN_CLICKED), 0);
  });
  EXPECT_EQ(0, MainWindow::Run(GetModuleHandleW(nullptr), WaitUntilCancelled));
  clicker.join();
  EXPECT_TRUE(openAfterNo);
  EXPECT_TRUE(disabled);
  EXPECT_EQ(L"Cancelling installation...", status);
  EXPECT_TRUE(openAfterYes) << "the window waits for the worker";
  EXPECT_EQ(nullptr, FindWindowW(MainWindow::kClassName, MainWindow::kTitle));
}

std::atomic<bool> released{false};
void WaitForRelease() {
  while (!released) Sleep(10);
}

// A worker that cannot be started is an error, and the exit code is -1.
TEST(MainWindow, AWorkerThatCannotStartEndsTheRunWithMinusOne) {
  ASSERT_TRUE(Deploy::Start(WaitForRelease));  // the run's one worker, taken
  wchar_t message[256] = L"";
  {
    Testing::DialogDriver driver([&](HWND box) {
      GetDlgItemTextW(box, 0xFFFF, message, 256);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    EXPECT_EQ(-1, MainWindow::Run(GetModuleHandleW(nullptr), WaitUntilCancelled));
  }
  MSG left;  // the window's quit message, which would end the next test's dialogs
  while (PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) {
  }
  EXPECT_EQ(std::wstring(L"Error starting application."), message);
  released = true;
  while (!Deploy::CheckShutdownEvent()) Sleep(10);  // the worker has ended
}

}  // namespace
