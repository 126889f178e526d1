#include "log/log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using Testing::ReadFileBytes;
using Testing::RunProgram;
using Testing::TempFolder;

// Runs the log probe with the given steps in a temp folder of its own and
// returns what it left in VantorLauncher.log there.
struct ProbeRun {
  TempFolder folder;
  std::wstring LogPath() const { return folder.File(L"VantorLauncher.log"); }
  DWORD Run(const std::wstring& steps) { return RunProgram(L"log_probe.exe", steps, folder.path()); }
  bool Read(std::string& bytes) const { return ReadFileBytes(LogPath(), bytes); }
};

TEST(Log, LevelZeroWritesNothingAndCreatesNoFile) {
  ProbeRun probe;
  ASSERT_EQ(0u, probe.Run(L"level=0 error=a warning=b info=c"));
  std::string bytes;
  EXPECT_FALSE(probe.Read(bytes));
}

TEST(Log, LevelZeroLeavesAnEarlierLogUntouched) {
  ProbeRun probe;
  Testing::WriteFileBytes(probe.LogPath(), "earlier run\r\n");
  ASSERT_EQ(0u, probe.Run(L"error=a warning=b info=c"));
  std::string bytes;
  ASSERT_TRUE(probe.Read(bytes));
  EXPECT_EQ("earlier run\r\n", bytes);
}

TEST(Log, LevelFourWritesAllLevelsInCallOrderWithCrLf) {
  ProbeRun probe;
  ASSERT_EQ(0u, probe.Run(L"level=4 info=first error=second warning=third"));
  std::string bytes;
  ASSERT_TRUE(probe.Read(bytes));
  EXPECT_EQ("LogProbe - first\r\nLogProbe - second\r\nLogProbe - third\r\n", bytes);
}

TEST(Log, KilledProcessKeepsEveryLineWrittenWithCrLf) {
  ProbeRun probe;
  ASSERT_EQ(9u, probe.Run(L"level=4 info=first error=second newline kill info=never"));
  std::string bytes;
  ASSERT_TRUE(probe.Read(bytes));
  EXPECT_EQ("LogProbe - first\r\nLogProbe - second\r\nLogProbe - a\r\nb\r\n", bytes);
}

// In a temp folder where others may add files, a name linked to another
// file is never written through, and the log stays off.
TEST(Log, AHardLinkAtTheLogsPlaceLeavesItsTargetUnchanged) {
  ProbeRun probe;
  const std::wstring target = probe.folder.File(L"someone else's.txt");
  Testing::WriteFileBytes(target, "keep me\r\n");
  ASSERT_TRUE(CreateHardLinkW(probe.LogPath().c_str(), target.c_str(), nullptr));
  ASSERT_EQ(0u, probe.Run(L"level=4 info=first error=second"));
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(target, bytes));
  EXPECT_EQ("keep me\r\n", bytes);
}

// A log that another user made first, where all may add files, is theirs:
// it is never written into, and the log stays off. SYSTEM's, the
// Administrators' and the user's own are used. Wine makes every file the
// user's, so the owner comes from a stand-in.
TEST(Log, ALogThatAnotherUserOwnsIsNeverWrittenInto) {
  for (const wchar_t* owner : {L"S-1-5-21-1-2-3-1001", L"S-1-5-18", L"S-1-5-32-544"}) {
    ProbeRun probe;
    Testing::WriteFileBytes(probe.LogPath(), "someone else's\r\n");
    ASSERT_EQ(0u, probe.Run(std::wstring(L"owner=") + owner + L" level=4 info=first"));
    std::string bytes;
    ASSERT_TRUE(probe.Read(bytes));
    const bool theirs = std::wstring(owner) == L"S-1-5-21-1-2-3-1001";
    EXPECT_EQ(theirs ? "someone else's\r\n" : "LogProbe - first\r\n", bytes) << Testing::Narrow(owner);
  }
}

TEST(Log, ThresholdKeepsLevelsUpToIt) {
  struct Case {
    int level;
    const char* expected;
  };
  const Case cases[] = {
      {1, "LogProbe - e\r\n"},
      {2, "LogProbe - e\r\nLogProbe - w\r\n"},
      {3, "LogProbe - e\r\nLogProbe - w\r\n"},
      {4, "LogProbe - e\r\nLogProbe - w\r\nLogProbe - i\r\n"},
  };
  for (const Case& c : cases) {
    ProbeRun probe;
    ASSERT_EQ(0u, probe.Run(L"level=" + std::to_wstring(c.level) + L" error=e warning=w info=i"));
    std::string bytes;
    ASSERT_TRUE(probe.Read(bytes)) << "level " << c.level;
    EXPECT_EQ(c.expected, bytes) << "level " << c.level;
  }
}

TEST(Log, FirstWrittenLineOpensTheFileAfterDroppedOnes) {
  ProbeRun probe;
  ASSERT_EQ(0u, probe.Run(L"info=dropped level=4 info=kept level=0 info=dropped-again"));
  std::string bytes;
  ASSERT_TRUE(probe.Read(bytes));
  EXPECT_EQ("LogProbe - kept\r\n", bytes);
}

TEST(Log, SecondRunEmptiesThePreviousLog) {
  ProbeRun probe;
  ASSERT_EQ(0u, probe.Run(L"level=4 info=one info=two info=three"));
  ASSERT_EQ(0u, probe.Run(L"level=4 info=four"));
  std::string bytes;
  ASSERT_TRUE(probe.Read(bytes));
  EXPECT_EQ("LogProbe - four\r\n", bytes);
}

TEST(Log, MessageIsCutAt1023Characters) {
  ProbeRun probe;
  ASSERT_EQ(0u, probe.Run(L"level=4 long=1500 info=after"));
  std::string bytes;
  ASSERT_TRUE(probe.Read(bytes));
  std::string expected = "LogProbe - ";
  for (int i = 0; expected.size() < 1023; ++i) expected.push_back(static_cast<char>('0' + i % 10));
  EXPECT_EQ(expected + "\r\nLogProbe - after\r\n", bytes);
}

TEST(Log, MessageOfExactly1023CharactersIsKeptWhole) {
  ProbeRun probe;
  const int digits = 1023 - 11;  // after "LogProbe - "
  ASSERT_EQ(0u, probe.Run(L"level=4 long=" + std::to_wstring(digits)));
  std::string bytes;
  ASSERT_TRUE(probe.Read(bytes));
  ASSERT_EQ(1023u + 2, bytes.size());
  EXPECT_EQ('1', bytes[1022]);  // digit 1011 of the sequence 0123456789...
}

TEST(Log, NullStringPrintsAsNull) {
  ProbeRun probe;
  ASSERT_EQ(0u, probe.Run(L"level=4 null number=-42"));
  std::string bytes;
  ASSERT_TRUE(probe.Read(bytes));
  EXPECT_EQ("LogProbe - (null)\r\nLogProbe - -42\r\n", bytes);
}

TEST(Log, CharacterOutsideTheCodePageBecomesItsDefaultCharacter) {
  CPINFO info{};
  ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
  ASSERT_EQ(1u, info.MaxCharSize) << "this check expects a single-byte ANSI code page";
  const char fallback = static_cast<char>(info.DefaultChar[0]);

  ProbeRun probe;
  ASSERT_EQ(0u, probe.Run(L"level=4 wide"));
  std::string bytes;
  ASSERT_TRUE(probe.Read(bytes));
  EXPECT_EQ(std::string("LogProbe - a") + fallback + fallback + "z\r\n", bytes);
}

TEST(Log, LinesFromTwoThreadsStayWholeAndOpenTheFileOnce) {
  ProbeRun probe;
  const int count = 500;
  ASSERT_EQ(0u, probe.Run(L"level=4 threads=" + std::to_wstring(count)));
  std::string bytes;
  ASSERT_TRUE(probe.Read(bytes));
  const std::vector<std::string> lines = Testing::SplitLines(bytes);
  ASSERT_EQ(2u * count, lines.size());
  int next[2] = {0, 0};
  for (const std::string& line : lines) {
    ASSERT_EQ(0u, line.rfind("LogProbe - thread ", 0)) << line;
    const int thread = line[18] == 'A' ? 0 : 1;
    EXPECT_EQ("LogProbe - thread " + std::string(1, line[18]) + " line " + std::to_string(next[thread]) +
                  " of a longer text",
              line);
    ++next[thread];
  }
  EXPECT_EQ(count, next[0]);
  EXPECT_EQ(count, next[1]);
}

TEST(Log, TempFolderTooLongDropsLinesAndGoesOn) {
  TempFolder base;
  std::wstring longFolder = base.path() + L"\\";
  longFolder.append(270 - longFolder.size(), L'x');
  ASSERT_EQ(0u, RunProgram(L"log_probe.exe", L"level=4 info=a error=b", longFolder));
}

}  // namespace
