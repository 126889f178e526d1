#include "deploy/lifecycle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "deploy/frontend.h"
#include "tests/support/progress_window.h"
#include "ui/window_frontend.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;
using Texts = std::vector<std::wstring>;

// The worker of these tests waits until it is told to stop.
std::vector<bool> shutdownSeen;
void WaitForShutdown() {
  while (!Deploy::CheckShutdownEvent()) Sleep(5);
  shutdownSeen.push_back(true);
}
void ReturnAtOnce() {}

TEST(Lifecycle, WorkerRunsUntilQuitThenPostsDone) {
  Testing::ProgressWindow window;
  shutdownSeen.clear();
  Testing::LogCapture log;
  ASSERT_TRUE(Deploy::Start(WaitForShutdown));
  EXPECT_FALSE(Deploy::Start(WaitForShutdown));
  window.Pump();
  EXPECT_FALSE(window.Done());
  Deploy::Quit();
  ASSERT_TRUE(window.PumpUntilDone(5000));
  EXPECT_EQ(1u, shutdownSeen.size());
  EXPECT_EQ((Lines{"Deploy::Start - Thread already created", "Deploy::Quit",
                   "Deploy::CheckShutdownEvent - return true"}),
            log.Lines());
}

TEST(Lifecycle, AfterTheRunCheckIsTrueAndQuitClosesTheWindow) {
  Testing::ProgressWindow window;
  ASSERT_TRUE(Deploy::Start(ReturnAtOnce));
  ASSERT_TRUE(window.PumpUntilDone(5000));
  Testing::LogCapture log;
  EXPECT_TRUE(Deploy::CheckShutdownEvent());
  Testing::ProgressWindow second;
  Deploy::Quit();  // no worker: the window is told to close itself
  EXPECT_TRUE(second.PumpUntilDone(5000));
  EXPECT_EQ((Lines{"Deploy::CheckShutdownEvent - return true", "Deploy::Quit"}), log.Lines());
  // A new run can start after the last one ended.
  Testing::ProgressWindow third;
  ASSERT_TRUE(Deploy::Start(ReturnAtOnce));
  EXPECT_TRUE(third.PumpUntilDone(5000));
}

// Reports two statuses, says so, then shows a text that needs the window.
HANDLE statusesReported = nullptr;
void ReportBeforeTheWindow() {
  Deploy::CurrentFrontend().ShowStatus(L"Reading");
  Deploy::CurrentFrontend().ShowStatus(L"Checking");
  SetEvent(statusesReported);
  Deploy::CurrentFrontend().ShowTransferText(Deploy::TransferLine::Component, L"Client");
}

TEST(Lifecycle, ARunStartedBeforeItsWindowKeepsItsLastStatusAndWaitsForTheWindow) {
  Testing::ProgressWindow window;
  statusesReported = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(Deploy::StartBeforeWindow(ReportBeforeTheWindow));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(statusesReported, 5000));
  EXPECT_TRUE(Deploy::GiveHeadStart(5000));  // ends when the transfer text needs the window
  window.Pump();
  EXPECT_TRUE(window.Status().texts.empty());
  EXPECT_TRUE(Deploy::WindowPending());
  UI::TheWindowFrontend().Open();
  EXPECT_EQ(Texts{L"Checking"}, window.Status().texts);
  ASSERT_TRUE(window.PumpUntilDone(5000));
  EXPECT_EQ(L"Client", window.Component().texts.back());
  CloseHandle(statusesReported);

  // A window that cannot be made stops the run, which then posts nothing.
  Testing::ProgressWindow second;
  shutdownSeen.clear();
  ASSERT_TRUE(Deploy::StartBeforeWindow(WaitForShutdown));
  EXPECT_FALSE(Deploy::GiveHeadStart(50));  // a worker still checking keeps it
  Deploy::WindowShown(false);
  EXPECT_EQ(1u, shutdownSeen.size());
  second.Pump();
  EXPECT_FALSE(second.Done());
}

// A run whose worker waits, so that the shutdown event exists and is clear.
class TransferProgressTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Deploy::Start(WaitForShutdown)); }
  void TearDown() override {
    Deploy::Quit();
    window_.PumpUntilDone(5000);
  }
  int Report(int kind, DWORD index, DWORD count, DWORD done, DWORD size, const wchar_t* name = L"Client") {
    const int answer = Deploy::TransferProgress(name, kind, index, count, done, size);
    window_.Pump();
    return answer;
  }
  Testing::ProgressWindow window_;
};

TEST_F(TransferProgressTest, ShowsStatusComponentPercentageAndSize) {
  EXPECT_EQ(0, Report(TRANSFER_DOWNLOAD, 1, 2, 1234, 999999));
  EXPECT_EQ(Texts{L"Downloading component (1 of 2)..."}, window_.Status().texts);
  EXPECT_EQ(Texts{L"Client"}, window_.Component().texts);
  EXPECT_EQ(Texts{L"1.2 of 999.9 KB"}, window_.Size().texts);
  EXPECT_TRUE(window_.Progress().positions.empty());  // 0.12 % is 0 %, as before

  EXPECT_EQ(0, Report(TRANSFER_COPY, 2, 2, 0, 1000000, L"Runtime"));
  EXPECT_EQ(L"Copying component (2 of 2)...", window_.Status().texts.back());
  EXPECT_EQ(L"Runtime", window_.Component().texts.back());
  EXPECT_EQ(L"0.0 of 1.0 MB", window_.Size().texts.back());

  EXPECT_EQ(0, Report(TRANSFER_COPY, 2, 2, 999999, 1000000, L"Runtime"));
  EXPECT_EQ(std::vector<int>{99}, window_.Progress().positions);  // truncated, never rounded up
  EXPECT_EQ(99, window_.BarPosition());
  EXPECT_EQ(L"0.9 of 1.0 MB", window_.Size().texts.back());
}

TEST_F(TransferProgressTest, RepeatedReportsChangeNothing) {
  Report(TRANSFER_DOWNLOAD, 1, 1, 500000, 2000000);
  const size_t statusTexts = window_.Status().texts.size(), sizeTexts = window_.Size().texts.size();
  const size_t positions = window_.Progress().positions.size();
  for (int i = 0; i < 10; ++i) Report(TRANSFER_DOWNLOAD, 1, 1, 500000 + i, 2000000);
  EXPECT_EQ(statusTexts, window_.Status().texts.size());
  EXPECT_EQ(sizeTexts, window_.Size().texts.size());
  EXPECT_EQ(positions, window_.Progress().positions.size());
  EXPECT_EQ((std::vector<int>{25}), window_.Progress().positions);
  EXPECT_EQ(L"0.5 of 2.0 MB", window_.TextOf(window_.size()));
}

TEST_F(TransferProgressTest, ZeroSizeUpdatesOnlyTheTexts) {
  Report(TRANSFER_DOWNLOAD, 1, 1, 0, 0);
  Report(TRANSFER_DOWNLOAD, 1, 1, 500, 0);
  EXPECT_EQ(Texts{L"Downloading component (1 of 1)..."}, window_.Status().texts);
  EXPECT_TRUE(window_.Size().texts.empty());
  EXPECT_TRUE(window_.Progress().positions.empty());
}

TEST_F(TransferProgressTest, OtherKindLeavesTheStatusButSetsTheComponent) {
  Report(7, 1, 1, 0, 0, L"Odd");
  EXPECT_TRUE(window_.Status().texts.empty());
  EXPECT_EQ(Texts{L"Odd"}, window_.Component().texts);
}

TEST_F(TransferProgressTest, ReportAfterACancelReturnsOneWithoutTouchingTheWindow) {
  Deploy::Quit();
  // The worker logs its own check when it sees the cancel: let it end first.
  ASSERT_TRUE(window_.PumpUntilDone(5000));
  Testing::LogCapture log;
  EXPECT_EQ(1, Report(TRANSFER_DOWNLOAD, 1, 1, 50, 100));
  EXPECT_TRUE(window_.Status().texts.empty());
  EXPECT_TRUE(window_.Progress().positions.empty());
  EXPECT_EQ((Lines{"Deploy::CheckShutdownEvent - return true", "Deploy::TransferProgress - cancel transfer"}),
            log.Lines());
}

}  // namespace
