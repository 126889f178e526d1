#include "conditions/version.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conditions/condition.h"
#include "config/run_settings.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;
using Testing::Narrow;

TEST(CompareVersions, ComparesFieldByField) {
  const struct {
    const wchar_t* v1;
    const wchar_t* v2;
    int expected;
  } cases[] = {
      {L"11.4.8.18902", L"5.1.0", 2},
      {L"5.1", L"5.1.0.0", 3},
      {L"5.1", L"5.10", 1},
      {L"", L"1", 0},
      {L"1", L"", 0},
      {L"...", L"0", 3},
      {L"1.0", L"1.0.0.0", 3},
      {L"1,2", L"1.2", 3},
      {L"1 2", L"1.2", 3},
      {L"1..2", L"1.2", 3},
      {L".1.2.", L"1.2", 3},
      {L"10", L"9", 2},
      {L"3beta", L"3", 3},
      {L"3beta", L"3.1", 1},
      {L"beta", L"0", 3},
      {L"abc", L"xyz", 3},
      {L"+5", L"0", 3},  // only leading digits count
      {L"4294967295", L"4294967294", 2},
      {L"1.2.3.4.5.6.7.8.9.10", L"1.2.3.4.5.6.7.8.9.9", 2},
      {L"1.2.3.4.5.6.7.8.9", L"1.2.3.4.5.6.7.8.9.0.0.1", 1},
      {L"5.1.0.1", L"5.1.0", 2},
      {L"007", L"7", 3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, CompareVersions(c.v1, c.v2)) << Narrow(c.v1) << " vs " << Narrow(c.v2);
  }
}

// Copies of the fixture programs, and a registry value that names their folder.
class InstalledClient : public testing::Test {
 protected:
  void SetUp() override {
    Config::ClearSettings();
    Testing::TestRegistryKey::SetText(HKEY_CURRENT_USER, L"InstallFolder", folder_.path());
  }
  void TearDown() override { Config::ClearSettings(); }

  void Install(const wchar_t* fixture, const wchar_t* as) {
    const std::wstring source = Testing::ProgramFolder() + L"\\fixtures\\" + fixture + L".exe";
    ASSERT_TRUE(CopyFileW(source.c_str(), folder_.File(as).c_str(), FALSE)) << Narrow(source);
  }
  std::wstring File(const wchar_t* name) const { return folder_.File(name); }
  std::wstring Folder() const { return folder_.path(); }

  static constexpr wchar_t kRegistryPath[] = L"HKCU\\Software\\TesselLauncherTests\\InstallFolder";

 private:
  Testing::TestRegistryKey key_;
  Testing::TempFolder folder_;
};

TEST_F(InstalledClient, FileVersionIsTheProductVersion) {
  Install(L"product_5_1_0_1", L"client.exe");
  Install(L"unversioned", L"plain.exe");
  const struct {
    std::wstring path;
    const wchar_t* value;
    int op;
    Result expected;
  } cases[] = {
      {File(L"client.exe"), L"5.1.0", OP_GREATER_THAN, RESULT_PASSED},
      {File(L"client.exe"), L"5.1.0.1", OP_EQUAL, RESULT_PASSED},
      {File(L"client.exe"), L"9.8.7.6", OP_EQUAL, RESULT_FAILED},  // the file version does not count
      {File(L"client.exe"), L"5.2", OP_LESS_THAN, RESULT_PASSED},
      {File(L"client.exe"), L"5.1.0.1", OP_GREATER_THAN_OR_EQUAL, RESULT_PASSED},
      {File(L"client.exe"), L"5.1.0.1", OP_LESS_THAN_OR_EQUAL, RESULT_PASSED},
      {File(L"client.exe"), L"5.1.0.1", OP_STRING_COMPARE, RESULT_ERROR},
      {File(L"client.exe"), L"5.1", OP_UNKNOWN, RESULT_ERROR},
      {File(L"client.exe"), L"", OP_EQUAL, RESULT_ERROR},
      {File(L"client.exe"), L"", OP_EXISTS, RESULT_PASSED},
      {File(L"plain.exe"), L"", OP_EXISTS, RESULT_PASSED},
      {File(L"plain.exe"), L"1.0", OP_GREATER_THAN_OR_EQUAL, RESULT_ERROR},
      {File(L"missing.exe"), L"1.0", OP_GREATER_THAN_OR_EQUAL, RESULT_FAILED},
      {File(L"missing.exe"), L"", OP_EXISTS, RESULT_FAILED},
      {Folder(), L"", OP_EXISTS, RESULT_FAILED},
      {L"", L"1.0", OP_EQUAL, RESULT_ERROR},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, Condition::CheckFileVersion(c.path, c.value, c.op))
        << Narrow(c.path) << " " << Narrow(c.value) << " op " << c.op;
  }
}

TEST_F(InstalledClient, FileVersionComparisonIsLogged) {
  Install(L"product_5_1_0_1", L"client.exe");
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_PASSED, Condition::CheckFileVersion(File(L"client.exe"), L"5.1.0", OP_GREATER_THAN));
  EXPECT_EQ(Lines{"Condition::DoOperation - v1: 5.1.0.1, v2: 5.1.0, op: OP_GREATER_THAN, res: RESULT_PASSED"},
            log.Lines());
}

TEST_F(InstalledClient, ClientVersionFallsBackToTheExpertProgram) {
  Install(L"product_5_1_0_1", L"VantorConnect.exe");
  Install(L"product_11_4_8_18902", L"VantorExpert.exe");
  EXPECT_EQ(RESULT_PASSED, Condition::CheckQvVersion(kRegistryPath, L"5.1.0.1", OP_EQUAL));
  EXPECT_EQ(RESULT_PASSED, Condition::CheckQvVersion(kRegistryPath, L"11.4.8.18902", OP_EQUAL));
  EXPECT_EQ(RESULT_FAILED, Condition::CheckQvVersion(kRegistryPath, L"12", OP_GREATER_THAN_OR_EQUAL));
}

TEST_F(InstalledClient, ExpertProgramAloneIsFound) {
  Install(L"product_11_4_8_18902", L"VantorExpert.exe");
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_PASSED, Condition::CheckQvVersion(kRegistryPath, L"11.4.8.18902", OP_EQUAL));
  EXPECT_EQ(
      Lines{"Condition::DoOperation - v1: 11.4.8.18902, v2: 11.4.8.18902, op: OP_EQUAL, res: RESULT_PASSED"},
      log.Lines());
}

TEST_F(InstalledClient, NeitherProgramFails) {
  EXPECT_EQ(RESULT_FAILED, Condition::CheckQvVersion(kRegistryPath, L"1.0", OP_GREATER_THAN_OR_EQUAL));
}

TEST_F(InstalledClient, EmptyValueMeansThePackageVersion) {
  Install(L"product_11_4_8_18902", L"VantorConnect.exe");
  EXPECT_EQ(RESULT_ERROR, Condition::CheckQvVersion(kRegistryPath, L"", OP_EQUAL));  // no package version yet
  Config::Settings().packageVersion = L"11.4.8.18902";
  EXPECT_EQ(RESULT_PASSED, Condition::CheckQvVersion(kRegistryPath, L"", OP_EQUAL));
  Config::Settings().packageVersion = L"11.5";
  EXPECT_EQ(RESULT_PASSED, Condition::CheckQvVersion(kRegistryPath, L"", OP_LESS_THAN));
}

TEST_F(InstalledClient, BadRequestsAndMissingRegistryValues) {
  Install(L"product_11_4_8_18902", L"VantorConnect.exe");
  EXPECT_EQ(RESULT_ERROR, Condition::CheckQvVersion(kRegistryPath, L"1.0", OP_EXISTS));
  EXPECT_EQ(RESULT_ERROR, Condition::CheckQvVersion(kRegistryPath, L"1.0", OP_UNKNOWN));
  EXPECT_EQ(RESULT_ERROR, Condition::CheckQvVersion(L"", L"1.0", OP_EQUAL));
  EXPECT_EQ(RESULT_ERROR, Condition::CheckQvVersion(L"HKCU\\NoValue", L"1.0", OP_EQUAL));
  EXPECT_EQ(RESULT_FAILED,
            Condition::CheckQvVersion(L"HKCU\\Software\\TesselLauncherTests\\Missing", L"1.0", OP_EQUAL));
}

TEST_F(InstalledClient, FolderWithATrailingSeparatorGetsNoSecondOne) {
  Install(L"product_5_1_0_1", L"VantorConnect.exe");
  Testing::TestRegistryKey::SetText(HKEY_CURRENT_USER, L"InstallFolder", Folder() + L"/");
  EXPECT_EQ(RESULT_PASSED, Condition::CheckQvVersion(kRegistryPath, L"5.1.0.1", OP_EQUAL));
}

}  // namespace
