#include "app/program.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace {

TEST(Program, LocalePicksTheLanguageByItsFirstTwoLetters) {
  const struct {
    const wchar_t* locale;
    int offset;
  } cases[] = {
      {L"zh-CN", 200},  {L"zh-TW", 200}, {L"fr-FR", 100}, {L"fr-CA", 100}, {L"es-ES", 300}, {L"ja-JP", 400},
      {L"de-DE", 500},  {L"ko-KR", 600}, {L"ru-RU", 700}, {L"pt-BR", 800}, {L"pt-PT", 800}, {L"sv-SE", 1000},
      {L"it-IT", 1100}, {L"en-US", 0},   {L"nl-NL", 0},   {L"FR-fr", 0},   {L"", 0},        {L"f", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.offset, App::LanguageOffsetFor(c.locale)) << Testing::Narrow(c.locale);
}

// A second launcher, started while the first shows a dialog, brings that
// dialog forward and ends at once with 0, writing no log.
TEST(Program, SecondLauncherActivatesTheFirstAndExits) {
  Testing::TempFolder folder;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION first{};
  std::wstring line = L"\"" + Testing::ProgramFolder() + L"\\ui_gallery.exe\" question 8000";
  ASSERT_TRUE(
      CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &first));
  HWND dialog = nullptr;
  for (int i = 0; i < 500 && !dialog; ++i) {
    Sleep(10);
    dialog = FindWindowW(L"#32770", L"Tessel Launcher");
  }
  ASSERT_NE(nullptr, dialog);
  HWND main = FindWindowW(L"QVDeployMainWindow", L"Tessel Launcher");

  // Something else is in front; the second start brings the dialog forward.
  HWND other = CreateWindowExW(0, L"STATIC", L"Other window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300,
                               200, nullptr, nullptr, nullptr, nullptr);
  SetForegroundWindow(other);
  Sleep(300);
  EXPECT_EQ(0u, Testing::RunProgram(L"VantorLauncher.exe", L"", folder.path()));
  Sleep(300);
  EXPECT_EQ(dialog, GetForegroundWindow()) << "main window " << main << ", other " << other;

  // A minimised launcher is restored. (Under Wine the window manager then
  // focuses the restored owner, so only the restore is checked here.)
  ShowWindow(main, SW_MINIMIZE);
  Sleep(300);
  ASSERT_TRUE(IsIconic(main));
  EXPECT_EQ(0u, Testing::RunProgram(L"VantorLauncher.exe", L"", folder.path()));
  Sleep(300);
  EXPECT_FALSE(IsIconic(main));
  EXPECT_TRUE(IsWindowVisible(dialog));
  std::string log;
  EXPECT_FALSE(Testing::ReadFileBytes(folder.File(L"VantorLauncher.log"), log));
  DestroyWindow(other);

  PostMessageW(dialog, WM_COMMAND, 113, 0);
  WaitForSingleObject(first.hProcess, 10000);
  CloseHandle(first.hProcess);
  CloseHandle(first.hThread);
}

}  // namespace
