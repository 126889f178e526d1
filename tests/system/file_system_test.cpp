#include "system/file_system.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/cache_folder.h"
#include "system/folder_trust.h"
#include "system/special_folders.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;
using Testing::Narrow;
using Testing::TempFolder;

void MakeFile(const std::wstring& path, const std::string& bytes = "content") {
  Testing::WriteFileBytes(path, bytes);
}

std::string Contents(const std::wstring& path) {
  std::string bytes;
  Testing::ReadFileBytes(path, bytes);
  return bytes;
}

TEST(FileSystem, ExistenceIsThreeValued) {
  TempFolder folder;
  MakeFile(folder.File(L"file.txt"));
  CreateDirectoryW(folder.File(L"sub").c_str(), nullptr);
  struct Case {
    std::wstring path;
    Result file;
    Result directory;
  };
  const Case cases[] = {
      {folder.File(L"file.txt"), RESULT_PASSED, RESULT_FAILED},
      {folder.File(L"sub"), RESULT_FAILED, RESULT_PASSED},
      {folder.File(L"missing"), RESULT_FAILED, RESULT_FAILED},
      {folder.File(L"missing\\below"), RESULT_FAILED, RESULT_FAILED},
      {folder.path() + L"/sub", RESULT_FAILED, RESULT_PASSED},
  };
  Testing::LogCapture log;
  for (const Case& c : cases) {
    EXPECT_EQ(c.file, System::FileExists(c.path)) << Narrow(c.path);
    EXPECT_EQ(c.directory, System::DirectoryExists(c.path)) << Narrow(c.path);
  }
  EXPECT_TRUE(log.Lines().empty());
}

TEST(FileSystem, EmptyPathIsLoggedAsAnError) {
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_ERROR, System::FileExists(L""));
  EXPECT_EQ(RESULT_ERROR, System::DirectoryExists(L""));
  EXPECT_EQ(RESULT_ERROR, System::CreateDir(L""));
  EXPECT_EQ(RESULT_ERROR, System::RemoveFileAttributes(L""));
  EXPECT_EQ((Lines{"System::FileExists - Invalid File: ", "System::DirectoryExists - Invalid Path: ",
                   "System::CreateDir - Invalid Path: ", "System::FileExists - Invalid File: "}),
            log.Lines());
}

TEST(FileSystem, FailedAttributeQueryLogsTheReturnedValue) {
  Testing::LogCapture log;
  // A name with characters that Windows refuses: not "not found", but an error.
  EXPECT_EQ(RESULT_ERROR, System::FileExists(L"C:\\bad<name>"));
  EXPECT_EQ(RESULT_ERROR, System::DirectoryExists(L"C:\\bad<name>"));
  EXPECT_EQ((Lines{"System::FileExists - GetFileAttributes Failed, err: -1",
                   "System::DirectoryExists - GetFileAttributes Failed, err: -1"}),
            log.Lines());
}

TEST(FileSystem, CreateDirOfAnExistingFolderCreatesNothing) {
  TempFolder folder;
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_PASSED, System::CreateDir(folder.path()));
  EXPECT_TRUE(log.Lines().empty());
}

TEST(FileSystem, CreateDirMakesEveryMissingLevelOverMixedSeparators) {
  TempFolder folder;
  // folder.path() starts with a drive, as in C:\users\...
  ASSERT_EQ(L':', folder.path()[1]);
  const std::wstring forward = folder.path() + L"/one\\two//three/";
  EXPECT_EQ(RESULT_PASSED, System::CreateDir(forward));
  EXPECT_EQ(RESULT_PASSED, System::DirectoryExists(folder.File(L"one")));
  EXPECT_EQ(RESULT_PASSED, System::DirectoryExists(folder.File(L"one\\two")));
  EXPECT_EQ(RESULT_PASSED, System::DirectoryExists(folder.File(L"one\\two\\three")));

  std::wstring slashes = folder.path() + L"\\four\\five";
  for (wchar_t& c : slashes) c = c == L'\\' ? L'/' : c;
  EXPECT_EQ(RESULT_PASSED, System::CreateDir(slashes));
  EXPECT_EQ(RESULT_PASSED, System::DirectoryExists(folder.File(L"four\\five")));
}

TEST(FileSystem, CreateDirReportsAFileInTheWay) {
  TempFolder folder;
  MakeFile(folder.File(L"blocker"));
  const std::wstring path = folder.File(L"blocker\\below");
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_FAILED, System::CreateDir(path));
  EXPECT_EQ(Lines{"System::CreateDir - Unable to Create Directory: " + Narrow(path)}, log.Lines());
  EXPECT_EQ("content", Contents(folder.File(L"blocker")));
}

// A run with administrator rights uses a folder outside its run folder only
// when no level of it is another user's or writable by one. Wine keeps no
// owners or ACLs on files, and runs everything elevated, so both come from
// stand-ins: each case's descriptor for the level "a", a trusted one above it.
std::wstring levelSddl;
std::wstring levelPath;
TEST(FileSystem, CreateDirWithAdministratorRightsTrustsNoFolderOthersCanWrite) {
  TempFolder folder;
  levelPath = folder.File(L"a");
  ASSERT_TRUE(CreateDirectoryW(levelPath.c_str(), nullptr));
  const std::wstring below = folder.File(L"a\\b");
  // C:\ProgramData's own entries: every user may add files and folders to it.
  const std::wstring programData =
      L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;0x116;;;BU)";
  const struct {
    bool elevated;
    std::wstring sddl, path;
    std::string line;  // empty: the folder is made, or used
  } cases[] = {
      {true, L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x100004;;;AU)(A;OICIIO;FA;;;CO)", below, ""},
      {true, programData, below, ""},
      {true, programData, levelPath, " can be written by S-1-5-32-545"},
      {true, L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)", below, " is owned by S-1-5-21-1-2-3-1001"},
      {true, L"O:SYD:(A;;FA;;;SY)(A;;0x40;;;WD)", below, " can be written by S-1-1-0"},
      {false, L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;WD)", below, ""},
  };
  for (const auto& c : cases) {
    System::Detail::SetElevationSource(c.elevated ? +[] { return true; } : +[] { return false; });
    levelSddl = c.sddl;
    System::Detail::SetSecurityQuery([](const std::wstring& level, std::wstring& sddl) {
      sddl = level == levelPath ? levelSddl : L"O:SYD:(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;WD)";
      return true;
    });
    RemoveDirectoryW(below.c_str());
    Testing::LogCapture log;
    const Result made = System::CreateDir(c.path);
    System::Detail::SetSecurityQuery(nullptr);
    System::Detail::SetElevationSource(nullptr);
    if (c.line.empty()) {
      EXPECT_EQ(RESULT_PASSED, made) << Narrow(c.sddl);
      EXPECT_TRUE(log.Lines().empty()) << Narrow(c.sddl);
    } else {
      EXPECT_EQ(RESULT_ERROR, made) << Narrow(c.sddl);
      EXPECT_EQ(Lines{"System::CreateDir - " + Narrow(levelPath) + c.line +
                      ": a run with administrator rights does not use " + Narrow(c.path)},
                log.Lines());
      if (c.path == below) {
        EXPECT_EQ(RESULT_FAILED, System::DirectoryExists(below)) << Narrow(c.sddl);
      }
    }
  }
}

// The download cache's folder is made by the run, or used where it is the
// launcher's alone; otherwise the run keeps no cache, and says why once.
TEST(FileSystem, DownloadCacheFolderIsUsedOnlyWhereItIsTheLaunchers) {
  TempFolder folder;
  levelPath = folder.File(L"TesselCache");
  const struct {
    bool there;
    std::wstring sddl;
    std::string line;  // empty: the folder is used
  } cases[] = {
      {false, L"", ""},
      {true, L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", ""},
      {true, L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", " is owned by S-1-5-21-1-2-3-1001"},
      {true, L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x116;;;BU)", " can be written by S-1-5-32-545"},
  };
  for (const auto& c : cases) {
    RemoveDirectoryW(levelPath.c_str());
    if (c.there) {
      ASSERT_TRUE(CreateDirectoryW(levelPath.c_str(), nullptr));
    }
    levelSddl = c.sddl;
    System::Detail::SetSecurityQuery([](const std::wstring& level, std::wstring& sddl) {
      sddl = level == levelPath ? levelSddl : L"O:SYD:(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;WD)";
      return true;
    });
    System::Detail::SetCacheRoot(folder.path());
    Testing::LogCapture log;
    const std::optional<std::wstring> cache = System::DownloadCacheFolder();
    EXPECT_EQ(cache, System::DownloadCacheFolder()) << "asked once";
    System::Detail::SetSecurityQuery(nullptr);
    System::Detail::SetCacheRoot(std::nullopt);
    EXPECT_EQ(c.line.empty() ? std::optional(levelPath) : std::nullopt, cache) << Narrow(c.sddl);
    EXPECT_EQ(c.line.empty() ? Lines{}
                             : Lines{"System::DownloadCacheFolder - " + Narrow(levelPath) + c.line +
                                     ": this run keeps no download cache"},
              log.Lines());
  }
}

// A deletion takes the name it is given and nothing a link there, or on the
// way to it, leads to.
TEST(FileSystem, DeleteUnlinkedNeverReachesThroughALink) {
  TempFolder folder;
  const std::wstring outside = folder.File(L"outside"), inside = folder.File(L"inside");
  ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(inside.c_str(), nullptr));
  const std::wstring target = outside + L"\\data.bin";
  MakeFile(target, "keep");
  MakeFile(inside + L"\\plain.bin");
  ASSERT_TRUE(SetFileAttributesW((inside + L"\\plain.bin").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CreateHardLinkW((inside + L"\\hard.bin").c_str(), target.c_str(), nullptr));
  const Testing::PlantedLink link(target, inside + L"\\link.bin"), junction(outside, inside + L"\\junction");
  ASSERT_TRUE(link.planted() && junction.planted());
  ASSERT_TRUE(CreateDirectoryW((inside + L"\\empty").c_str(), nullptr));
  const struct {
    const wchar_t* name;
    Result result;
    bool gone;
    const char* logged;
  } cases[] = {
      {L"plain.bin", RESULT_PASSED, true, nullptr},
      {L"hard.bin", RESULT_PASSED, true, nullptr},
      {L"link.bin", RESULT_ERROR, false, "leads elsewhere and is left alone"},
      {L"junction\\data.bin", RESULT_ERROR, false, "leads elsewhere and is left alone"},
      {L"missing.bin", RESULT_FAILED, true, nullptr},
      {L"empty", RESULT_PASSED, true, nullptr},
      {L"", RESULT_FAILED, false, nullptr},  // the folder itself, not empty
  };
  for (const auto& c : cases) {
    const std::wstring path = c.name[0] ? inside + L"\\" + c.name : inside;
    Testing::LogCapture log;
    EXPECT_EQ(c.result, System::DeleteUnlinked(path)) << Narrow(path);
    EXPECT_EQ(c.gone, GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) << Narrow(path);
    EXPECT_EQ(c.logged ? Lines{"System::DeleteUnlinked - " + Narrow(path) + " " + c.logged} : Lines{},
              log.Lines());
    EXPECT_EQ("keep", Contents(target)) << Narrow(path);
  }
}

TEST(FileSystem, RemoveFileAttributesLeavesNormalAttributes) {
  TempFolder folder;
  for (DWORD attributes : {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM,
                           FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}) {
    const std::wstring path = folder.File(L"file" + std::to_wstring(attributes));
    MakeFile(path);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
    EXPECT_EQ(RESULT_PASSED, System::RemoveFileAttributes(path)) << attributes;
    const DWORD left = GetFileAttributesW(path.c_str());
    EXPECT_EQ(0u, left & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) << left;
    EXPECT_EQ("content", Contents(path));
  }
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_FAILED, System::RemoveFileAttributes(folder.File(L"missing")));
  EXPECT_EQ(RESULT_FAILED, System::RemoveFileAttributes(folder.path()));
  EXPECT_TRUE(log.Lines().empty());
}

TEST(FileSystem, CopyFileToCopiesAndOverwritesTheTarget) {
  TempFolder folder;
  const std::string content(200000, 'x');
  MakeFile(folder.File(L"source"), content);
  MakeFile(folder.File(L"target"), std::string(300000, 'o'));
  EXPECT_EQ(RESULT_PASSED,
            System::CopyFileTo(folder.File(L"source"), folder.File(L"target"), nullptr, nullptr));
  EXPECT_EQ(content, Contents(folder.File(L"target")));
  EXPECT_EQ(content, Contents(folder.File(L"source")));
}

TEST(FileSystem, CopyFileToFailuresAreLogged) {
  TempFolder folder;
  MakeFile(folder.File(L"source"));
  const std::wstring missing = folder.File(L"missing");
  const std::wstring intoNowhere = folder.File(L"no\\such\\folder\\target");
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_ERROR, System::CopyFileTo(L"", folder.File(L"target"), nullptr, nullptr));
  EXPECT_EQ(RESULT_ERROR, System::CopyFileTo(folder.File(L"source"), L"", nullptr, nullptr));
  EXPECT_EQ(RESULT_ERROR, System::CopyFileTo(missing, folder.File(L"target"), nullptr, nullptr));
  EXPECT_EQ(RESULT_ERROR, System::CopyFileTo(folder.path(), folder.File(L"target"), nullptr, nullptr));
  EXPECT_EQ(RESULT_ERROR, System::CopyFileTo(folder.File(L"source"), intoNowhere, nullptr, nullptr));
  EXPECT_EQ(
      (Lines{
          "System::CopyFileTo - CopyFileEx Failed (file: " + Narrow(missing) + "), cannot find file",
          "System::CopyFileTo - CopyFileEx Failed (file: " + Narrow(folder.path()) + "), cannot find file",
          "System::CopyFileTo - CopyFileEx Failed (file: " + Narrow(folder.File(L"source")) +
              "), GetLastError: 3",
      }),
      log.Lines());
  EXPECT_EQ(RESULT_FAILED, System::FileExists(folder.File(L"target")));
}

// Wine's CopyFileExW never calls its progress routine, so the routine is
// tested by calling it as the copy would.
struct ProgressCall {
  DWORD copiedLow, copiedHigh, sizeLow, sizeHigh;
  void* userData;
};
std::vector<ProgressCall> progressCalls;
int progressAnswer = 0;
int RecordProgress(DWORD copiedLow, DWORD copiedHigh, DWORD sizeLow, DWORD sizeHigh, void* userData) {
  progressCalls.push_back({copiedLow, copiedHigh, sizeLow, sizeHigh, userData});
  return progressAnswer;
}

DWORD CallRoutine(DWORD reason, System::CopyProgressContext* context, LONGLONG copied = 0,
                  LONGLONG size = 0) {
  LARGE_INTEGER total{}, transferred{}, zero{};
  total.QuadPart = size;
  transferred.QuadPart = copied;
  return System::CopyProgressRoutine(total, transferred, zero, zero, 1, reason, nullptr, nullptr, context);
}

TEST(FileSystem, ProgressRoutineReportsFinishedChunksAndCancelsOnOne) {
  int userData = 0;
  System::CopyProgressContext context{RecordProgress, &userData};
  progressCalls.clear();

  progressAnswer = 0;
  EXPECT_EQ(static_cast<DWORD>(PROGRESS_CONTINUE), CallRoutine(CALLBACK_STREAM_SWITCH, &context));
  EXPECT_TRUE(progressCalls.empty());

  const LONGLONG copied = (1LL << 32) + 5, size = (3LL << 32) + 7;
  EXPECT_EQ(static_cast<DWORD>(PROGRESS_CONTINUE),
            CallRoutine(CALLBACK_CHUNK_FINISHED, &context, copied, size));
  ASSERT_EQ(1u, progressCalls.size());
  EXPECT_EQ(5u, progressCalls[0].copiedLow);
  EXPECT_EQ(1u, progressCalls[0].copiedHigh);
  EXPECT_EQ(7u, progressCalls[0].sizeLow);
  EXPECT_EQ(3u, progressCalls[0].sizeHigh);
  EXPECT_EQ(&userData, progressCalls[0].userData);

  const struct {
    int answer;
    DWORD expected;
  } answers[] = {
      {1, PROGRESS_CANCEL}, {2, PROGRESS_CONTINUE}, {-1, PROGRESS_CONTINUE}, {0, PROGRESS_CONTINUE}};
  for (const auto& a : answers) {
    progressAnswer = a.answer;
    EXPECT_EQ(a.expected, CallRoutine(CALLBACK_CHUNK_FINISHED, &context, 10, 20)) << a.answer;
  }

  System::CopyProgressContext none{nullptr, nullptr};
  EXPECT_EQ(static_cast<DWORD>(PROGRESS_CONTINUE), CallRoutine(CALLBACK_CHUNK_FINISHED, &none, 10, 20));
}

TEST(FileSystem, JoinPathPutsExactlyOneSeparator) {
  const struct {
    const wchar_t* folder;
    const wchar_t* name;
    const wchar_t* expected;
  } cases[] = {
      {L"C:\\dir", L"file.txt", L"C:\\dir\\file.txt"},
      {L"C:\\dir\\", L"file.txt", L"C:\\dir\\file.txt"},
      {L"C:/dir/", L"file.txt", L"C:/dir/file.txt"},
      {L"C:\\dir", L"\\file.txt", L"C:\\dir\\\\file.txt"},
      {L"dir", L"", L"dir\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, System::JoinPath(c.folder, c.name)) << Narrow(c.folder);
}

}  // namespace
