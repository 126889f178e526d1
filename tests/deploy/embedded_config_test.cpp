#include "deploy/embedded_config.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "components/component.h"
#include "config/cond_string.h"
#include "config/flag.h"
#include "config/run_settings.h"
#include "log/log.h"
#include "resources/resource_ids.h"
#include "system/file_system.h"
#include "system/special_folders.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;

std::string Embedded(int id) {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), L"XML_FILE");
  if (!found) return {};
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
  return std::string(bytes, SizeofResource(nullptr, found));
}

class EmbeddedConfig : public testing::Test {
 protected:
  void TearDown() override { Deploy::ParseConfigText("<Empty/>"); }
};

TEST_F(EmbeddedConfig, ShippedDocumentParsesToItsRecords) {
  Testing::LogCapture log;
  ASSERT_EQ(RESULT_PASSED, Deploy::ParseConfig());
  const Lines lines = log.Lines();
  EXPECT_EQ("Deploy::ParseConfig - enter", lines.front());
  EXPECT_EQ("Deploy::ParseConfig - return: RESULT_PASSED", lines.back());

  const Config::RunSettings& settings = Config::Settings();
  EXPECT_EQ(L"2", settings.formatVersion);
  EXPECT_EQ(L"11.4.8.18902", settings.packageVersion);
  EXPECT_EQ(L"$InstallerComponent", settings.installerName);
  EXPECT_EQ(L"$InstallerArgs", settings.installerArgs);
  EXPECT_EQ(L"$LaunchRegKey", settings.launchRegKey);
  EXPECT_EQ(std::nullopt, settings.launchArgs);
  EXPECT_EQ(System::ReplaceSpecials(L"[TempFolder]\\QvConfig.xml"), settings.configPath);
  EXPECT_EQ(L"5.1.0", settings.minVersion);
  EXPECT_EQ(std::nullopt, settings.altUrl);

  std::vector<std::pair<std::wstring, bool>> flags;
  for (const Flag::Record& flag : Flag::List()) flags.emplace_back(flag.name, flag.value);
  EXPECT_EQ((std::vector<std::pair<std::wstring, bool>>{{L"silent", false},
                                                        {L"silentinstaller", true},
                                                        {L"showinstallcontext", false},
                                                        {L"skiplaunch", false}}),
            flags);

  struct ConditionRow {
    const wchar_t* name;
    int type;
    int op;
    const wchar_t* path;
    const wchar_t* value;
    std::vector<const wchar_t*> operands;
  };
  const wchar_t* const perUserPath = L"HKCU\\Software\\Morrow Labs\\Brix\\Path";
  const wchar_t* const perMachinePath = L"HKLM\\Software\\Morrow Labs\\Brix\\Path";
  const ConditionRow rows[] = {
      {L"IsAdmin", TYPE_ADMIN, OP_UNKNOWN, nullptr, L"1", {}},
      {L"DisableUserInstalls",
       TYPE_REGISTRY,
       OP_EQUAL,
       L"HKLM\\SOFTWARE\\Policies\\Microsoft\\Windows\\Installer\\DisableUserInstalls",
       L"1",
       {}},
      {L"DisableUserMSI",
       TYPE_REGISTRY,
       OP_GREATER_THAN_OR_EQUAL,
       L"HKLM\\SOFTWARE\\Policies\\Microsoft\\Windows\\Installer\\DisableMSI",
       L"1",
       {}},
      {L"NotUserInstallsAllowed",
       TYPE_OR,
       OP_UNKNOWN,
       nullptr,
       nullptr,
       {L"DisableUserInstalls", L"DisableUserMSI"}},
      {L"Silent", TYPE_FLAG, OP_UNKNOWN, nullptr, L"silent", {}},
      {L"SilentInstaller", TYPE_FLAG, OP_UNKNOWN, nullptr, L"silentinstaller", {}},
      {L"ShowInstallContext", TYPE_FLAG, OP_UNKNOWN, nullptr, L"showinstallcontext", {}},
      {L"SilentInstallerArgs", TYPE_OR, OP_UNKNOWN, nullptr, nullptr, {L"Silent", L"SilentInstaller"}},
      {L"InstallContextDlgShow",
       TYPE_AND,
       OP_UNKNOWN,
       nullptr,
       nullptr,
       {L"NotPerUserOrPerMachineExists", L"ShowInstallContext"}},
      {L"InstallContextDlgPerUserDefault", TYPE_AND, OP_UNKNOWN, nullptr, nullptr, {L"PerUserPreferred"}},
      {L"PerUserSelected", TYPE_USER_INSTALL_CONTEXT, OP_UNKNOWN, nullptr, L"user", {}},
      {L"NotPerUserSelected", TYPE_NOT, OP_UNKNOWN, nullptr, nullptr, {L"PerUserSelected"}},
      {L"PerMachineSelected", TYPE_USER_INSTALL_CONTEXT, OP_UNKNOWN, nullptr, L"machine", {}},
      {L"PerMachinePreferred",
       TYPE_OR,
       OP_UNKNOWN,
       nullptr,
       nullptr,
       {L"IsAdmin", L"NotUserInstallsAllowed"}},
      {L"PerUserPreferred", TYPE_NOT, OP_UNKNOWN, nullptr, nullptr, {L"PerMachinePreferred"}},
      {L"PerMachineDefaulted",
       TYPE_AND,
       OP_UNKNOWN,
       nullptr,
       nullptr,
       {L"PerMachinePreferred", L"NotPerUserSelected", L"NotPerUserExists"}},
      {L"PerMachineContext",
       TYPE_OR,
       OP_UNKNOWN,
       nullptr,
       nullptr,
       {L"PerMachineExists", L"PerMachineSelected", L"PerMachineDefaulted"}},
      {L"PerUserContext", TYPE_NOT, OP_UNKNOWN, nullptr, nullptr, {L"PerMachineContext"}},
      {L"DotNet461",
       TYPE_REGISTRY,
       OP_GREATER_THAN_OR_EQUAL,
       L"HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full\\Release",
       L"394270",
       {}},
      {L"PerUserExists", TYPE_QV_VERSION, OP_GREATER_THAN_OR_EQUAL, perUserPath, L"0.0.0", {}},
      {L"NotPerUserExists", TYPE_NOT, OP_UNKNOWN, nullptr, nullptr, {L"PerUserExists"}},
      {L"PerMachineExists", TYPE_QV_VERSION, OP_GREATER_THAN_OR_EQUAL, perMachinePath, L"0.0.0", {}},
      {L"PerUserOrPerMachineExists",
       TYPE_OR,
       OP_UNKNOWN,
       nullptr,
       nullptr,
       {L"PerUserExists", L"PerMachineExists"}},
      {L"NotPerUserOrPerMachineExists",
       TYPE_NOT,
       OP_UNKNOWN,
       nullptr,
       nullptr,
       {L"PerUserOrPerMachineExists"}},
      {L"PerUserUpToDate", TYPE_QV_VERSION, OP_GREATER_THAN_OR_EQUAL, perUserPath, nullptr, {}},
      {L"PerMachineUpToDate", TYPE_QV_VERSION, OP_GREATER_THAN_OR_EQUAL, perMachinePath, nullptr, {}},
      {L"PerUserInstalled", TYPE_AND, OP_UNKNOWN, nullptr, nullptr, {L"PerUserContext", L"PerUserUpToDate"}},
      {L"PerMachineInstalled",
       TYPE_AND,
       OP_UNKNOWN,
       nullptr,
       nullptr,
       {L"PerMachineContext", L"PerMachineUpToDate"}},
      {L"QvInstalled", TYPE_OR, OP_UNKNOWN, nullptr, nullptr, {L"PerUserInstalled", L"PerMachineInstalled"}},
      {L"PerUserInstalledWithPrereqs",
       TYPE_AND,
       OP_UNKNOWN,
       nullptr,
       nullptr,
       {L"DotNet461", L"PerUserInstalled"}},
      {L"PerMachineInstalledWithPrereqs",
       TYPE_AND,
       OP_UNKNOWN,
       nullptr,
       nullptr,
       {L"DotNet461", L"PerMachineInstalled"}},
      {L"PerUserOk",
       TYPE_OR,
       OP_UNKNOWN,
       nullptr,
       nullptr,
       {L"PerUserInstalledWithPrereqs", L"PerMachineContext"}},
      {L"PerMachineOk",
       TYPE_OR,
       OP_UNKNOWN,
       nullptr,
       nullptr,
       {L"PerMachineInstalledWithPrereqs", L"PerUserContext"}},
  };
  ASSERT_EQ(33u, Condition::List().size());
  auto condition = Condition::List().begin();
  for (const ConditionRow& row : rows) {
    SCOPED_TRACE(Testing::Narrow(row.name));
    EXPECT_EQ(row.name, condition->name);
    EXPECT_EQ(row.type, condition->type);
    EXPECT_EQ(row.op, condition->op);
    EXPECT_EQ(row.path ? std::optional<std::wstring>(row.path) : std::nullopt, condition->path);
    if (row.operands.empty()) {
      EXPECT_EQ(row.value ? std::optional<std::wstring>(row.value) : std::nullopt, condition->value);
    }
    ASSERT_EQ(row.operands.size(), condition->children.size());
    for (size_t i = 0; i < row.operands.size(); ++i)
      EXPECT_EQ(Condition::Find(row.operands[i]), condition->children[i]);
    ++condition;
  }

  struct ComponentRow {
    const wchar_t* name;
    const wchar_t* display;
    const wchar_t* check;
    const wchar_t* dest;
    const wchar_t* filename;
    bool requiresAdmin;
    DWORD size;
  };
  const ComponentRow components[] = {
      {L"DotNetFramework", L".NET Framework 4.6.1", L"DotNet461", L"[TempFolder]\\Prerequisites",
       L"NDP461-KB3102436-x86-x64-AllOS-ENU.exe", true, 67681000},
      {L"PerUserQvCab", L"Tessel Installer", L"PerUserOk", L"[TempFolder]\\Standard", L"TesselStandard1.cab",
       false, 19630806},
      {L"PerUserQvMsi", L"Tessel Installer", L"PerUserOk", L"[TempFolder]\\Standard", L"TesselStandard.msi",
       false, 7417856},
      {L"PerUserQvSetup", L"Tessel Installer", L"PerUserOk", L"[TempFolder]\\Standard", L"SetupStandard.exe",
       false, 5456888},
      {L"PerMachineQvCab", L"Tessel Installer", L"PerMachineOk", L"[TempFolder]\\Enterprise",
       L"TesselEnterprise1.cab", true, 19630806},
      {L"PerMachineQvMsi", L"Tessel Installer", L"PerMachineOk", L"[TempFolder]\\Enterprise",
       L"TesselEnterprise.msi", true, 7442432},
      {L"PerMachineQvSetup", L"Tessel Installer", L"PerMachineOk", L"[TempFolder]\\Enterprise",
       L"SetupEnterprise.exe", true, 5456928},
  };
  ASSERT_EQ(7u, Component::List().size());
  auto component = Component::List().begin();
  for (const ComponentRow& row : components) {
    SCOPED_TRACE(Testing::Narrow(row.name));
    EXPECT_EQ(row.name, component->name);
    EXPECT_EQ(row.display, component->display);
    EXPECT_EQ(Condition::Find(row.check), component->check);
    ASSERT_NE(nullptr, component->check);
    EXPECT_EQ(System::ReplaceSpecials(row.dest), component->dest);
    EXPECT_EQ(row.filename, component->filename);
    EXPECT_EQ(row.requiresAdmin, component->requiresadmin);
    EXPECT_EQ(row.size, component->size);
    EXPECT_EQ(std::nullopt, component->md5);
    ASSERT_EQ(1u, component->locations.size());
    EXPECT_EQ(TRANSFER_DOWNLOAD, component->locations.front().type);
    EXPECT_EQ(0u, component->locations.front().file.rfind(L"https://", 0));
    ++component;
  }

  ASSERT_EQ(3u, CondString::List().size());
  const CondString::Record* installer = CondString::Find(L"InstallerComponent");
  EXPECT_EQ(Condition::Find(L"PerUserContext"), installer->check);
  EXPECT_EQ(L"PerUserQvSetup", installer->pass);
  EXPECT_EQ(L"PerMachineQvSetup", installer->fail);
  const CondString::Record* args = CondString::Find(L"InstallerArgs");
  EXPECT_EQ(Condition::Find(L"SilentInstallerArgs"), args->check);
  EXPECT_NE(std::wstring::npos, args->pass->find(L"/exebasicui /qb"));
  const CondString::Record* key = CondString::Find(L"LaunchRegKey");
  EXPECT_EQ(Condition::Find(L"PerUserContext"), key->check);
  EXPECT_EQ(L"HKCU\\Software\\Morrow Labs\\Brix\\Path", key->pass);
  EXPECT_EQ(L"HKLM\\Software\\Morrow Labs\\Brix\\Path", key->fail);
}

TEST_F(EmbeddedConfig, MutatedAndTruncatedDocumentsNeverCrashOrHang) {
  const std::string shipped = Embedded(IDR_DEPLOY_CONFIG);
  ASSERT_FALSE(shipped.empty());
  const int savedLevel = LogLevel;
  LogLevel = 0;  // thousands of parses: the lines are not what is tested here
  std::mt19937 random(20261208);
  const char kInteresting[] = "<>/=\"' \t\n&;$[]\\,.0123456789abcdefgtqeorlsnQVD\x80\xff";
  int counts[3] = {0, 0, 0};
  for (int round = 0; round < 3000; ++round) {
    std::string text = shipped;
    const int kind = round % 4;
    if (kind == 0) {
      text.resize(random() % (text.size() + 1));
    } else {
      const int edits = 1 + static_cast<int>(random() % 8);
      for (int edit = 0; edit < edits && !text.empty(); ++edit) {
        const size_t at = random() % text.size();
        const char c = kInteresting[random() % (sizeof(kInteresting) - 1)];
        if (kind == 1) {
          text[at] = c;
        } else if (kind == 2) {
          text.insert(at, 1, c);
        } else {
          text.erase(at, 1 + random() % 40);
        }
      }
    }
    const Result result = Deploy::ParseConfigText(text.c_str());
    ASSERT_TRUE(result == RESULT_ERROR || result == RESULT_FAILED || result == RESULT_PASSED) << round;
    ++counts[result];
  }
  LogLevel = savedLevel;
  EXPECT_GT(counts[RESULT_PASSED], 0);
  EXPECT_GT(counts[RESULT_ERROR], 0);
}

class WriteAppConfig : public testing::Test {
 protected:
  void SetUp() override { Deploy::ParseConfigText("<Empty/>"); }
  void TearDown() override { Deploy::ParseConfigText("<Empty/>"); }
  Testing::TempFolder folder_;
};

TEST_F(WriteAppConfig, WritesTheEmbeddedDocumentAfterMakingItsFolders) {
  const std::string expected = Embedded(IDR_CLIENT_CONFIG).c_str();  // up to the first zero byte
  ASSERT_NE(std::string::npos, expected.find("<PeltConfig>"));
  for (const std::wstring& path :
       {folder_.File(L"one\\two\\QvConfig.xml"), folder_.path() + L"/three\\four/QvConfig.xml",
        folder_.path() + L"\\five/six\\QvConfig.xml"}) {
    Config::Settings().configPath = path;
    ASSERT_EQ(RESULT_PASSED, Deploy::WriteAppConfig()) << Testing::Narrow(path);
    std::string written;
    ASSERT_TRUE(Testing::ReadFileBytes(path, written));
    EXPECT_EQ(expected, written);
  }
}

TEST_F(WriteAppConfig, ReplacesAnExistingFile) {
  const std::wstring path = folder_.File(L"QvConfig.xml");
  Testing::WriteFileBytes(path, std::string(10000, 'x'));
  Config::Settings().configPath = path;
  ASSERT_EQ(RESULT_PASSED, Deploy::WriteAppConfig());
  std::string written;
  Testing::ReadFileBytes(path, written);
  EXPECT_EQ(Embedded(IDR_CLIENT_CONFIG).c_str(), written);
}

TEST_F(WriteAppConfig, NoPathIsNothingToDoAndAFolderInTheWayIsAnError) {
  EXPECT_EQ(RESULT_FAILED, Deploy::WriteAppConfig());
  Config::Settings().configPath = folder_.path();  // a folder stands at the path
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_ERROR, Deploy::WriteAppConfig());
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(WriteAppConfig, PathFromAConditionalString) {
  Flag::Flag(L"on")->value = true;
  Condition::Record* on = Condition::Condition(L"On", TYPE_FLAG);
  on->value = L"on";
  CondString::Record* string = CondString::CondString(L"Config");
  string->check = on;
  string->pass = folder_.File(L"chosen\\QvConfig.xml");
  Config::Settings().configPath = L"$Config";
  ASSERT_EQ(RESULT_PASSED, Deploy::WriteAppConfig());
  EXPECT_EQ(RESULT_PASSED, System::FileExists(folder_.File(L"chosen\\QvConfig.xml")));
}

}  // namespace
