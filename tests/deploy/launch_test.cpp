#include "deploy/launch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "config/cond_string.h"
#include "config/run_settings.h"
#include "deploy/embedded_config.h"
#include "system/file_system.h"
#include "system/special_folders.h"
#include "system/unique_handle.h"
#include "tests/support/test_support.h"

namespace {

using Testing::Narrow;

// Runs the command-line probe, copied to a folder with blanks in its name,
// and reads back the command line it was given.
class LaunchTest : public testing::Test {
 protected:
  void SetUp() override {
    Deploy::ParseConfigText("<Empty/>");
    folder_ = temp_.File(L"Program Files\\Tessel Client");
    System::CreateDir(folder_);
    output_ = temp_.File(L"commandline.txt");
    SetEnvironmentVariableW(L"TESSEL_CMDLINE_OUT", output_.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"TESSEL_CMDLINE_OUT", nullptr);
    Deploy::ParseConfigText("<Empty/>");
  }

  std::wstring InstallProbe(const wchar_t* name) {
    const std::wstring target = folder_ + L"\\" + name;
    CopyFileW((Testing::ProgramFolder() + L"\\fixtures\\cmdline_probe.exe").c_str(), target.c_str(), FALSE);
    return target;
  }
  // The command line the probe saw; waits for it when the launch did not.
  std::wstring SeenCommandLine() {
    std::string bytes;
    for (int i = 0; i < 500 && !Testing::ReadFileBytes(output_, bytes); ++i) Sleep(10);
    for (int i = 0; i < 100 && bytes.empty(); ++i) {
      Sleep(10);
      Testing::ReadFileBytes(output_, bytes);
    }
    DeleteFileW(output_.c_str());
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  }

  Testing::TempFolder temp_;
  Testing::TestRegistryKey key_;
  std::wstring folder_, output_;
};

TEST_F(LaunchTest, RunProcessQuotesThePathAndAddsArgumentsOnlyWhenThereAreAny) {
  const std::wstring probe = InstallProbe(L"setup probe.exe");
  const struct {
    std::optional<std::wstring> arguments;
    std::wstring expected;
  } cases[] = {
      {std::nullopt, L"\"" + probe + L"\""},
      {L"", L"\"" + probe + L"\""},
      {L"/exebasicui /qb QV_CONFIG_PATH=\"C:\\a b\\QvConfig.xml\"",
       L"\"" + probe + L"\" /exebasicui /qb QV_CONFIG_PATH=\"C:\\a b\\QvConfig.xml\""},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(RESULT_PASSED, Deploy::RunProcess(probe, c.arguments, true));
    EXPECT_EQ(c.expected, SeenCommandLine()) << Narrow(c.expected);
  }
  EXPECT_EQ(RESULT_ERROR, Deploy::RunProcess(folder_ + L"\\missing.exe", std::nullopt, true));
}

// Under UAC an installer that requires administrator rights cannot be
// started as the user (740); Wine starts everything elevated, so the refusals
// come from stand-ins, while the consent start itself is Wine's real one.
BOOL WINAPI NeedsElevation(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                           LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
  SetLastError(740);
  return FALSE;
}
int consentStarts = 0;
BOOL WINAPI PromptRefused(SHELLEXECUTEINFOW*) {
  ++consentStarts;
  SetLastError(ERROR_CANCELLED);
  return FALSE;
}
BOOL WINAPI PromptAccepted(SHELLEXECUTEINFOW* execute) {
  ++consentStarts;
  EXPECT_STREQ(L"runas", execute->lpVerb);
  EXPECT_EQ(GetDesktopWindow(), execute->hwnd);
  return ShellExecuteExW(execute);
}

std::wstring promptedFile, promptedParameters;
BOOL WINAPI PromptSeenAndRefused(SHELLEXECUTEINFOW* execute) {
  promptedFile = execute->lpFile;
  promptedParameters = execute->lpParameters ? execute->lpParameters : L"";
  SetLastError(ERROR_CANCELLED);
  return FALSE;
}

TEST_F(LaunchTest, AnInstallerThatNeedsElevationIsStartedThroughTheConsentPrompt) {
  const std::wstring probe = InstallProbe(L"setup probe.exe");
  SetEnvironmentVariableW(L"TESSEL_EXIT_CODE", L"3010");
  const Deploy::CreateProcessFunction savedCreate = std::exchange(Deploy::createProcess, NeedsElevation);
  const Deploy::ShellExecuteExFunction savedExecute = Deploy::shellExecuteEx;
  const struct {
    HWND owner;
    Deploy::ShellExecuteExFunction execute;
    Result result;
    bool refused;
    int consentStarts;
    std::string line;
  } cases[] = {
      {GetDesktopWindow(), PromptAccepted, RESULT_PASSED, false, 1, "Deploy::RunProcess - exit code: 3010"},
      {GetDesktopWindow(), PromptRefused, RESULT_FAILED, true, 1, "Deploy::RunProcess - elevation refused"},
      {nullptr, PromptAccepted, RESULT_ERROR, false, 0, "Deploy::RunProcess - the installer needs elevation"},
  };
  for (const auto& c : cases) {
    Deploy::shellExecuteEx = c.execute;
    consentStarts = 0;
    Deploy::Elevation elevation{c.owner};
    DWORD exitCode = 0;
    Testing::LogCapture log;
    EXPECT_EQ(c.result, Deploy::RunProcess(probe, L"/qb", true, &exitCode, &elevation)) << c.line;
    EXPECT_EQ(c.refused, elevation.refused) << c.line;
    EXPECT_EQ(c.consentStarts, consentStarts) << c.line;
    EXPECT_EQ(std::vector<std::string>{c.line}, log.Lines());
    if (c.result == RESULT_PASSED) {
      EXPECT_EQ(3010u, exitCode);
      EXPECT_NE(std::wstring::npos, SeenCommandLine().find(L"/qb"));
    }
  }

  // An installer's start elevates the launcher itself, which stages it.
  Deploy::shellExecuteEx = PromptSeenAndRefused;
  const Deploy::InstallerStart start{nullptr, folder_, L"/stageinstall \"x\" 1", {}};
  Deploy::Elevation elevation{GetDesktopWindow()};
  EXPECT_EQ(RESULT_FAILED, Deploy::RunProcess(probe, L"/qb", true, nullptr, &elevation, &start));
  wchar_t self[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_EQ(self, promptedFile);
  EXPECT_EQ(start.staged, promptedParameters);

  Deploy::createProcess = savedCreate;
  Deploy::shellExecuteEx = savedExecute;
  SetEnvironmentVariableW(L"TESSEL_EXIT_CODE", nullptr);
}

// An installer's start runs it in its own folder, and only from the held file.
TEST_F(LaunchTest, AnInstallerRunsInItsFolderOnlyWhenItsImageIsTheHeldFile) {
  const std::wstring probe = InstallProbe(L"setup probe.exe"), other = InstallProbe(L"other.exe");
  const std::wstring seenFolder = temp_.File(L"folder.txt");
  SetEnvironmentVariableW(L"TESSEL_CWD_OUT", seenFolder.c_str());
  UniqueFile held(CreateFileW(probe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  const Deploy::InstallerStart start{held.get(), folder_, {}, {}};
  EXPECT_EQ(RESULT_PASSED, Deploy::RunProcess(probe, std::nullopt, true, nullptr, nullptr, &start));
  std::string bytes;
  EXPECT_TRUE(Testing::ReadFileBytes(seenFolder, bytes));
  EXPECT_EQ(folder_, std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t)));
  DeleteFileW(seenFolder.c_str());

  Testing::LogCapture log;
  EXPECT_EQ(RESULT_ERROR, Deploy::RunProcess(other, std::nullopt, true, nullptr, nullptr, &start));
  EXPECT_EQ(std::vector<std::string>{"Deploy::RunProcess - " + Narrow(other) + " is not the file that was verified"},
            log.Lines());
  EXPECT_FALSE(Testing::ReadFileBytes(seenFolder, bytes)) << "the other program ran";
  SetEnvironmentVariableW(L"TESSEL_CWD_OUT", nullptr);
}

// An elevated run's installer gets a temp folder of the run's own and the
// machine's variables; an unelevated run's keeps the launcher's environment.
TEST_F(LaunchTest, OnlyARunWithAdministratorRightsGivesTheInstallerAnEnvironmentOfItsOwn) {
  std::wstring temp = L"x", environment = L"x";
  System::Detail::SetElevationSource([] { return false; });
  EXPECT_TRUE(Deploy::InstallerEnvironment(folder_, temp, environment));
  EXPECT_EQ(L"", temp);
  EXPECT_EQ(L"", environment);
  System::Detail::SetElevationSource([] { return true; });
  EXPECT_TRUE(Deploy::InstallerEnvironment(folder_, temp, environment));
  System::Detail::SetElevationSource(nullptr);
  EXPECT_EQ(folder_ + L"\\InstallerTemp", temp);
  EXPECT_EQ(RESULT_PASSED, System::DirectoryExists(temp));
  std::vector<std::wstring> entries;
  for (const wchar_t* entry = environment.c_str(); *entry; entry += entries.back().size() + 1) entries.push_back(entry);
  for (const std::wstring& expected : {L"TMP=" + temp, L"TEMP=" + temp, L"TESSEL_CMDLINE_OUT=" + output_})
    EXPECT_NE(entries.end(), std::find(entries.begin(), entries.end(), expected)) << Narrow(expected);
  EXPECT_FALSE(Deploy::InstallerEnvironment(folder_, temp, environment)) << "a temp folder that is there already";
}

TEST(ClientArguments, ConfigPathAndLaunchArguments) {
  EXPECT_EQ(L"", Deploy::ClientArguments(L"", L""));
  EXPECT_EQ(L"-min", Deploy::ClientArguments(L"", L"-min"));
  EXPECT_EQ(L"/lC:\\Temp\\QvConfig.xml", Deploy::ClientArguments(L"C:\\Temp\\QvConfig.xml", L""));
  EXPECT_EQ(L"/lC:\\Temp\\QvConfig.xml -min -x",
            Deploy::ClientArguments(L"C:\\Temp\\QvConfig.xml", L"-min -x"));

  // A path with a blank reaches a client that splits its arguments whole.
  Testing::TempFolder folder;
  const std::wstring spaced = folder.File(L"John Smith");
  ASSERT_TRUE(CreateDirectoryW(spaced.c_str(), nullptr));
  Testing::WriteFileBytes(spaced + L"\\QvConfig.xml", "<PeltConfig/>");
  for (const std::wstring& path : {spaced + L"\\QvConfig.xml", spaced + L"\\NotYetWritten.xml"}) {
    const std::wstring line = L"VantorConnect.exe " + Deploy::ClientArguments(path, L"-min");
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(line.c_str(), &count);
    ASSERT_EQ(3, count) << Testing::Narrow(line);
    std::wstring given = arguments[1];
    LocalFree(arguments);
    ASSERT_TRUE(given.starts_with(L"/l")) << Testing::Narrow(line);
    wchar_t full[MAX_PATH] = L"", expected[MAX_PATH] = L"";
    GetLongPathNameW(given.substr(2).c_str(), full, MAX_PATH);
    GetLongPathNameW(path.c_str(), expected, MAX_PATH);
    EXPECT_EQ(std::wstring(expected[0] ? expected : path.c_str()), std::wstring(full[0] ? full : given.c_str() + 2))
        << Testing::Narrow(line);
  }
}

TEST_F(LaunchTest, ClientStartsFromTheRegisteredFolderWithItsArguments) {
  InstallProbe(L"VantorConnect.exe");
  Testing::TestRegistryKey::SetText(HKEY_CURRENT_USER, L"Path", folder_);
  Config::RunSettings& settings = Config::Settings();
  settings.launchRegKey = L"HKCU\\Software\\TesselLauncherTests\\Path";
  settings.configPath = L"C:\\users\\me\\Temp\\QV0000ABCD\\QvConfig.xml";
  settings.launchArgs = L"-silent";
  const std::wstring seenFolder = temp_.File(L"folder.txt");
  SetEnvironmentVariableW(L"TESSEL_CWD_OUT", seenFolder.c_str());
  ASSERT_EQ(RESULT_PASSED, Deploy::LaunchApplication());
  EXPECT_EQ(
      L"\"" + folder_ + L"\\VantorConnect.exe\" /lC:\\users\\me\\Temp\\QV0000ABCD\\QvConfig.xml -silent",
      SeenCommandLine());
  SetEnvironmentVariableW(L"TESSEL_CWD_OUT", nullptr);
  std::string bytes;
  EXPECT_TRUE(Testing::ReadFileBytes(seenFolder, bytes));
  EXPECT_EQ(folder_, std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t)))
      << "a direct start runs the client in its own folder";

  settings.configPath.reset();
  ASSERT_EQ(RESULT_PASSED, Deploy::LaunchApplication());
  EXPECT_EQ(L"\"" + folder_ + L"\\VantorConnect.exe\" -silent", SeenCommandLine());

  // A deployment tool's run as SYSTEM leaves the client to the user's next launch.
  const auto savedSystem = std::exchange(Deploy::runsAsSystem, [] { return true; });
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_FAILED, Deploy::LaunchApplication());
  Deploy::runsAsSystem = savedSystem;
  EXPECT_EQ(std::vector<std::string>{"Deploy::LaunchApplication - not started as SYSTEM: the client starts at "
                                     "the user's next launch"},
            log.Lines());

  // A run above the user's level hands the client to the user's shell; where
  // the shell cannot start it, or there is no shell window, nothing starts.
  // Wine keeps the user's other token at the same level, so the shell's
  // start is a stand-in.
  static Deploy::ShellStart shellAnswer;
  static std::wstring shellSaw;
  const auto savedShell = std::exchange(Deploy::startThroughShell, [](const std::wstring& p, const std::wstring& a) {
    shellSaw = p + L" " + a;
    return shellAnswer;
  });
  const struct {
    Deploy::ShellStart answer;
    Result result;
    std::vector<std::string> lines;
  } shellCases[] = {
      {Deploy::ShellStart::kStarted, RESULT_PASSED, {}},
      {Deploy::ShellStart::kFailed, RESULT_FAILED,
       {"Deploy::LaunchApplication - the shell could not start the client at the user's level: it is not "
        "started elevated"}},
      {Deploy::ShellStart::kNoShell, RESULT_FAILED,
       {"Deploy::LaunchApplication - no shell window to start the client at the user's level: it is not started "
        "elevated"}},
  };
  for (const auto& c : shellCases) {
    shellAnswer = c.answer;
    Testing::LogCapture shellLog;
    EXPECT_EQ(c.result, Deploy::LaunchApplication());
    EXPECT_EQ(folder_ + L"\\VantorConnect.exe -silent", shellSaw);
    EXPECT_EQ(c.lines, shellLog.Lines());
  }
  Sleep(200);
  std::string started;
  EXPECT_FALSE(Testing::ReadFileBytes(output_, started)) << "a client was started directly";
  Deploy::startThroughShell = savedShell;
}

TEST_F(LaunchTest, NoKeyIsNoLaunchAndAnUnreadableKeyIsAnError) {
  EXPECT_EQ(RESULT_FAILED, Deploy::LaunchApplication());
  Config::Settings().launchRegKey = L"HKCU\\Software\\TesselLauncherTests\\Missing";
  EXPECT_EQ(RESULT_ERROR, Deploy::LaunchApplication());
  Config::Settings().launchRegKey = L"$NoSuchString";  // comes back as written, and is no registry path
  EXPECT_EQ(RESULT_ERROR, Deploy::LaunchApplication());
  Testing::TestRegistryKey::SetText(HKEY_CURRENT_USER, L"Path", folder_);
  Config::Settings().launchRegKey = L"HKCU\\Software\\TesselLauncherTests\\Path";
  EXPECT_EQ(RESULT_ERROR, Deploy::LaunchApplication()) << "no client in the folder";
}

}  // namespace
