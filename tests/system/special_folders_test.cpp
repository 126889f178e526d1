#include "system/special_folders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <vector>
#include <string>

#include "system/file_system.h"
#include "tests/support/test_support.h"

namespace {

using System::ReplaceSpecials;
using Testing::Narrow;

std::wstring TempPath() {
  wchar_t buffer[MAX_PATH + 1];
  return std::wstring(buffer, GetTempPathW(MAX_PATH + 1, buffer));
}

std::wstring SystemPath() {
  wchar_t buffer[MAX_PATH + 1];
  return std::wstring(buffer, GetSystemDirectoryW(buffer, MAX_PATH + 1));
}

bool IsRunFolderName(const std::wstring& name) {
  if (name.size() != 10 || name.compare(0, 2, L"QV") != 0) return false;
  for (wchar_t c : name.substr(2)) {
    if (!iswxdigit(c) || iswlower(c)) return false;
  }
  return true;
}

class SpecialFolders : public testing::Test {
 protected:
  void SetUp() override { System::Detail::ForgetRunFolderName(); }
  void TearDown() override {
    System::Detail::SetGuidSource(nullptr);
    System::Detail::ForgetRunFolderName();
  }
};

TEST_F(SpecialFolders, TempFolderGetsOneRunFolderPerProcess) {
  const std::wstring first = ReplaceSpecials(L"[TempFolder]\\Prerequisites");
  const std::wstring name = System::RunFolderName();
  EXPECT_TRUE(IsRunFolderName(name)) << Narrow(name);
  EXPECT_EQ(TempPath() + name + L"\\Prerequisites", first);
  EXPECT_EQ(first, ReplaceSpecials(L"[TempFolder]\\Prerequisites"));
  EXPECT_EQ(name, System::RunFolderName());
}

// Where the system has GetTempPath2W (a SYSTEM process gets its private
// SystemTemp there), it is the temp folder of everything; Wine 8 has none.
DWORD WINAPI SystemTemp(DWORD length, LPWSTR buffer) {
  constexpr wchar_t kFolder[] = L"C:\\windows\\SystemTemp\\";
  if (length < ARRAYSIZE(kFolder)) return ARRAYSIZE(kFolder);
  lstrcpyW(buffer, kFolder);
  return ARRAYSIZE(kFolder) - 1;
}

TEST_F(SpecialFolders, TempFolderIsGetTempPath2WhereTheSystemHasIt) {
  EXPECT_EQ(TempPath(), System::UserTempFolder());
  System::Detail::SetTempPath2Source(SystemTemp);
  EXPECT_EQ(L"C:\\windows\\SystemTemp\\", System::UserTempFolder());
  EXPECT_EQ(L"C:\\windows\\SystemTemp\\" + System::RunFolderName() + L"\\x", ReplaceSpecials(L"[TempFolder]\\x"));
  System::Detail::SetTempPath2Source(nullptr);
  EXPECT_EQ(TempPath(), System::UserTempFolder());
}

// Wine keeps no ACL on files, so the descriptor is seen as it is made. Wine
// runs everything elevated, so both kinds of run come from a stand-in.
TEST_F(SpecialFolders, RunFolderIsMadeForSystemAdministratorsAndTheUserOnly) {
  const struct {
    System::Detail::ElevationSource elevated;
    std::wstring start, userRights, end;
  } cases[] = {
      {[] { return false; }, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", L"(A;OICI;FA;;;S-1-5-", L")"},
      {[] { return true; }, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", L"(A;OICI;0x1200a9;;;S-1-5-",
       L")S:(ML;OICI;NW;;;HI)"},
  };
  for (const auto& c : cases) {
    System::Detail::SetElevationSource(c.elevated);
    const std::wstring sddl = System::Detail::RunFolderSddl();
    const std::wstring start = c.start + c.userRights;
    EXPECT_EQ(start, sddl.substr(0, start.size())) << Narrow(sddl);
    EXPECT_TRUE(sddl.ends_with(c.end)) << Narrow(sddl);
    size_t entries = 0;
    for (size_t at = sddl.find(L"(A;"); at != std::wstring::npos; at = sddl.find(L"(A;", at + 1)) ++entries;
    EXPECT_EQ(3u, entries) << "one entry more: " << Narrow(sddl);
  }
  System::Detail::SetElevationSource(nullptr);
}

// The name is random: a run folder that is there already was made by
// someone else, and nothing of the run goes into it. One made by the run is
// used again.
TEST_F(SpecialFolders, RunFolderThatIsThereAlreadyIsNeverUsed) {
  for (const bool planted : {false, true}) {
    System::Detail::ForgetRunFolderName();
    const std::wstring sub = ReplaceSpecials(L"[TempFolder]\\Sub");
    const std::wstring runFolder = TempPath() + System::RunFolderName();
    if (planted) {
      ASSERT_TRUE(CreateDirectoryW(runFolder.c_str(), nullptr));
    }
    Testing::LogCapture log;
    for (int call = 0; call < 2; ++call)
      EXPECT_EQ(planted ? RESULT_ERROR : RESULT_PASSED, System::CreateDir(sub)) << planted;
    EXPECT_EQ(planted ? RESULT_FAILED : RESULT_PASSED, System::DirectoryExists(sub)) << planted;
    const std::vector<std::string> refused{"System::CreateDir - " + Narrow(runFolder) +
                                           " was there already: someone else made it, and it is not used"};
    EXPECT_EQ(planted ? refused : std::vector<std::string>{}, log.Lines());
    RemoveDirectoryW(sub.c_str());
    RemoveDirectoryW(runFolder.c_str());
  }
}

TEST_F(SpecialFolders, TokensResolveAtTheStartOnly) {
  const std::wstring temp = TempPath() + System::RunFolderName();
  const std::wstring exe = Testing::ProgramFolder();
  const struct {
    std::wstring text;
    std::wstring expected;
  } cases[] = {
      {L"[TempFolder]\\Prerequisites", temp + L"\\Prerequisites"},
      {L"[TempFolder]Prerequisites", temp + L"\\Prerequisites"},
      {L"[TempFolder]/Prerequisites", temp + L"\\Prerequisites"},
      {L"[TempFolder]\\\\Double", temp + L"\\\\Double"},
      {L"[TempFolder]", temp},
      {L"[SystemFolder]\\msiexec.exe", SystemPath() + L"\\msiexec.exe"},
      {L"[SystemFolder]", SystemPath()},
      {L"[ExeFolder]", exe},
      {L"[ExeFolder]\\setup.exe", exe + L"\\setup.exe"},
      {L"[tempfolder]\\x", L"[tempfolder]\\x"},
      {L"[TEMPFOLDER]\\x", L"[TEMPFOLDER]\\x"},
      {L"C:\\[TempFolder]\\x", L"C:\\[TempFolder]\\x"},
      {L" [TempFolder]", L" [TempFolder]"},
      {L"[Temp]\\x", L"[Temp]\\x"},
      {L"plain\\path.txt", L"plain\\path.txt"},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, ReplaceSpecials(c.text)) << Narrow(c.text);
}

TEST_F(SpecialFolders, ResolvedPathIsCutAt1023Characters) {
  const std::wstring tail(2000, L'x');
  const std::wstring resolved = ReplaceSpecials(L"[TempFolder]\\" + tail);
  const std::wstring start = TempPath() + System::RunFolderName() + L"\\";
  ASSERT_EQ(System::kMaxResolvedChars, resolved.size());
  EXPECT_EQ(start + tail.substr(0, 1023 - start.size()), resolved);
  EXPECT_EQ(1023u, ReplaceSpecials(std::wstring(1500, L'y')).size());
}

HRESULT WINAPI FixedGuid(GUID* guid) {
  *guid = GUID{0x00ABCDEF, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  return S_OK;
}

HRESULT WINAPI FailingGuid(GUID*) {
  SetLastError(87);
  return E_FAIL;
}

TEST_F(SpecialFolders, RunFolderNameIsTheGuidsFirstFieldInUpperCaseHex) {
  System::Detail::SetGuidSource(FixedGuid);
  EXPECT_EQ(TempPath() + L"QV00ABCDEF\\x", ReplaceSpecials(L"[TempFolder]\\x"));
}

TEST_F(SpecialFolders, NoGuidStillMakesAName) {
  System::Detail::SetGuidSource(FailingGuid);
  Testing::LogCapture log;
  const std::wstring resolved = ReplaceSpecials(L"[TempFolder]");
  EXPECT_EQ((std::vector<std::string>{"System::ReplaceSpecials - CoCreateGuid Failed, GetLastError: 87"}),
            log.Lines());
  EXPECT_TRUE(IsRunFolderName(System::RunFolderName())) << Narrow(System::RunFolderName());
  EXPECT_EQ(TempPath() + System::RunFolderName(), resolved);
}

}  // namespace
