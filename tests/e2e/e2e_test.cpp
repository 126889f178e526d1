// Whole runs of real launchers under Wine: a deployment of the client and a
// stand-in setup program, copied from beside the launcher. Each test checks
// the exit code, the log, and what is left on disk and in the registry.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <urlmon.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/program.h"
#include "system/file_system.h"
#include "system/unique_handle.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;
using Testing::Narrow;

constexpr wchar_t kClientKey[] = L"Software\\Morrow Labs\\Brix";

std::wstring ReadWideFile(const std::wstring& path) {
  std::string bytes;
  if (!Testing::ReadFileBytes(path, bytes)) return L"(missing)";
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

struct Answer {
  WPARAM command;                        // the button to press in the dialog or message box
  std::wstring seen;                     // its text, read before pressing
  int click = 0;                         // a radio button to click first
  bool justMeChecked = false;            // the install-context dialog's preselection, as seen
  const wchar_t* secondStart = nullptr;  // a launcher to start while the dialog is open
  DWORD secondExit = 0xFFFFFFFF;         // its exit code
  bool dialogInFront = false;            // the dialog was in front after it
};

// The dialogs and message boxes of another process, answered in turn.
class Answerer {
 public:
  Answerer(DWORD process, std::vector<Answer>& answers) : process_(process), answers_(answers) {
    thread_ = std::thread([this] { Work(); });
  }
  ~Answerer() {
    stop_ = true;
    thread_.join();
  }

 private:
  struct Search {
    DWORD process;
    HWND found;
  };
  static BOOL CALLBACK Visit(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[16] = L"";
    GetClassNameW(window, className, 16);
    if (owner == search->process && IsWindowVisible(window) && std::wstring(className) == L"#32770") {
      search->found = window;
      return FALSE;
    }
    return TRUE;
  }
  void Work() {
    size_t next = 0;
    while (!stop_ && next < answers_.size()) {
      Search search{process_, nullptr};
      EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
      if (!search.found) {
        Sleep(50);
        continue;
      }
      Sleep(200);
      wchar_t text[1024] = L"";
      // The question dialog's text, or a message box's.
      if (!GetDlgItemTextW(search.found, 115, text, 1024) &&
          !GetDlgItemTextW(search.found, 1003, text, 1024)) {
        GetDlgItemTextW(search.found, 0xFFFF, text, 1024);
      }
      answers_[next].seen = text;
      answers_[next].justMeChecked = IsDlgButtonChecked(search.found, 1001) == BST_CHECKED;
      if (answers_[next].click) SendMessageW(GetDlgItem(search.found, answers_[next].click), BM_CLICK, 0, 0);
      if (answers_[next].secondStart) {
        answers_[next].secondExit = Testing::RunProgram(answers_[next].secondStart, L"");
        Sleep(300);
        answers_[next].dialogInFront = GetForegroundWindow() == search.found;
      }
      PostMessageW(search.found, WM_COMMAND, answers_[next].command, 0);
      ++next;
      for (int i = 0; i < 100 && IsWindow(search.found); ++i) Sleep(20);
    }
  }
  DWORD process_;
  std::vector<Answer>& answers_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Counts the top-level windows of a process, hidden ones too, polling until
// it is destroyed.
class WindowWatcher {
 public:
  explicit WindowWatcher(DWORD process) : process_(process) {
    thread_ = std::thread([this] {
      while (!stop_) {
        EnumWindows(Visit, reinterpret_cast<LPARAM>(this));
        Sleep(10);
      }
    });
  }
  ~WindowWatcher() {
    stop_ = true;
    thread_.join();
  }
  int Seen() const { return seen_; }

 private:
  static BOOL CALLBACK Visit(HWND window, LPARAM data) {
    auto* self = reinterpret_cast<WindowWatcher*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == self->process_) ++self->seen_;
    return TRUE;
  }
  DWORD process_;
  std::atomic<int> seen_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class EndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kClientKey);
    installDir_ = temp_.File(L"Installed Client");
  }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kClientKey); }

  // Runs a launcher in the test's temp folder and answers its dialogs.
  DWORD Launch(const wchar_t* launcher, const std::wstring& arguments, std::vector<Answer> answers = {},
               const wchar_t* setupMode = L"") {
    PROCESS_INFORMATION process{};
    if (!Start(launcher, arguments, setupMode, temp_.path(), process)) return 0xFFFFFFFF;
    UniqueHandleOwner processHandle(process.hProcess), threadHandle(process.hThread);
    {
      WindowWatcher watcher(process.dwProcessId);
      Answerer answerer(process.dwProcessId, answers);
      WaitForSingleObject(processHandle.get(), 60000);
      windowsSeen_ = watcher.Seen();
    }
    answers_ = answers;
    DWORD code = 0xFFFFFFFE;
    GetExitCodeProcess(processHandle.get(), &code);
    if (code == STILL_ACTIVE) TerminateProcess(processHandle.get(), 1);
    WaitForClients();
    return code;
  }

  // The launcher starts the client without waiting for it; the client writes
  // its command line as it starts, which under an emulator takes a second.
  static void WaitForClients() {
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
      if (lstrcmpiW(entry.szExeFile, L"VantorConnect.exe") != 0) continue;
      UniqueHandleOwner client(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
      if (client) WaitForSingleObject(client.get(), 30000);
    }
  }

  // Starts a launcher with `temp` as its temp folder.
  bool Start(const wchar_t* launcher, const std::wstring& arguments, const wchar_t* setupMode,
             const std::wstring& temp, PROCESS_INFORMATION& process) {
    return StartProgram(Testing::ProgramFolder() + L"\\" + launcher + L".exe", arguments, setupMode, temp, process);
  }
  // Starts the program at `path` with `temp` as its temp folder.
  bool StartProgram(const std::wstring& path, const std::wstring& arguments, const wchar_t* setupMode,
                    const std::wstring& temp, PROCESS_INFORMATION& process) {
    wchar_t savedTmp[MAX_PATH + 1] = L"", savedTemp[MAX_PATH + 1] = L"";
    GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH + 1);
    GetEnvironmentVariableW(L"TEMP", savedTemp, MAX_PATH + 1);
    std::wstring savedPath(32767, L'\0');
    savedPath.resize(GetEnvironmentVariableW(L"PATH", savedPath.data(), 32767));
    SetEnvironmentVariableW(L"TMP", temp.c_str());
    SetEnvironmentVariableW(L"TEMP", temp.c_str());
    // A folder of the user's own first, where an elevated installer must not look.
    SetEnvironmentVariableW(L"PATH", (UserPathFolder() + L";" + savedPath).c_str());
    SetEnvironmentVariableW(L"TESSEL_FAKE_INSTALL_DIR", installDir_.c_str());
    SetEnvironmentVariableW(L"TESSEL_CMDLINE_OUT", temp_.File(L"client-commandline.txt").c_str());
    SetEnvironmentVariableW(L"TESSEL_FAKE_SETUP", setupMode);
    SetEnvironmentVariableW(L"TESSEL_FAKE_SETUP_OUT", temp_.path().c_str());
    std::wstring line = L"\"" + path + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &process);
    SetEnvironmentVariableW(L"TMP", savedTmp);
    SetEnvironmentVariableW(L"TEMP", savedTemp);
    SetEnvironmentVariableW(L"PATH", savedPath.c_str());
    for (const wchar_t* name :
         {L"TESSEL_FAKE_INSTALL_DIR", L"TESSEL_CMDLINE_OUT", L"TESSEL_FAKE_SETUP", L"TESSEL_FAKE_SETUP_OUT"}) {
      SetEnvironmentVariableW(name, nullptr);
    }
    return started != FALSE;
  }

  Lines Log() const {
    std::string bytes;
    Testing::ReadFileBytes(temp_.File(L"VantorLauncher.log"), bytes);
    return Testing::SplitLines(bytes);
  }
  bool Logged(const std::string& line) const {
    const Lines lines = Log();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  std::wstring RegisteredFolder() const {
    wchar_t value[MAX_PATH] = L"";
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, kClientKey, L"Path", RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS) {
      return L"(none)";
    }
    return value;
  }
  // Installs a client as its setup would: current (11.4.8.18902), older
  // (5.2.0.100, in "old\\") or newer (12.0.0.1, in "newer\\").
  void PreInstall(const wchar_t* build = L"") {
    CreateDirectoryW(installDir_.c_str(), nullptr);
    CopyFileW((Testing::ProgramFolder() + L"\\e2e\\" + build + L"VantorConnect.exe").c_str(),
              (installDir_ + L"\\VantorConnect.exe").c_str(), FALSE);
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kClientKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    RegSetValueExW(key, L"Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(installDir_.c_str()),
                   static_cast<DWORD>((installDir_.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }

  // An error's text as its box shows it, with its cause, if any, and the log's path below.
  std::wstring WithLog(const std::wstring& text, const std::wstring& cause = L"") const {
    return text + L"\n" + (cause.empty() ? L"" : L"\nDetails: " + cause) + L"\nLog: " +
           temp_.File(L"VantorLauncher.log");
  }

  std::wstring ClientCommandLine() const { return ReadWideFile(temp_.File(L"client-commandline.txt")); }
  std::wstring SetupCommandLine() const { return ReadWideFile(temp_.File(L"fake-setup-commandline.txt")); }
  // The installer's TMP, TEMP and PATH, as it recorded them.
  std::wstring SetupEnvironment() const { return ReadWideFile(temp_.File(L"fake-setup-environment.txt")); }
  std::wstring UserPathFolder() const { return temp_.File(L"user-bin"); }
  // What the elevated side logged.
  Lines ElevatedLog() const {
    std::string bytes;
    Testing::ReadFileBytes(temp_.File(L"VantorLauncher-elevated.log"), bytes);
    return Testing::SplitLines(bytes);
  }

  Testing::TempFolder temp_;
  std::wstring installDir_;
  std::vector<Answer> answers_;
  int windowsSeen_ = 0;
};

TEST_F(EndToEnd, FreshSilentInstallFetchesInstallsVerifiesAndLaunches) {
  ASSERT_EQ(0u, Launch(L"E2ELauncherSetup", L"/silent"));
  EXPECT_EQ(installDir_, RegisteredFolder());
  const std::wstring setup = SetupCommandLine();
  const size_t config = setup.find(L"QV_CONFIG_PATH=\"");
  ASSERT_NE(std::wstring::npos, config) << Narrow(setup);
  const std::wstring configPath = setup.substr(config + 16, setup.size() - config - 17);
  EXPECT_EQ(L"\"" + temp_.path() + L"\\", setup.substr(0, temp_.path().size() + 2));
  EXPECT_NE(std::wstring::npos,
            setup.find(L"\\Standard\\SetupStandard.exe\" /exebasicui /qb QV_CONFIG_PATH=\""));
  EXPECT_EQ(L"\"" + installDir_ + L"\\VantorConnect.exe\" /l" + configPath, ClientCommandLine());
  std::string written;
  EXPECT_TRUE(Testing::ReadFileBytes(configPath, written));
  EXPECT_NE(std::string::npos, written.find("<PeltConfig>"));
  EXPECT_TRUE(Logged("Deploy::ParseConfig - return: RESULT_PASSED"));
  EXPECT_TRUE(Logged("Component::CheckRequirements - Client, RESULT_FAILED"));
  EXPECT_TRUE(Logged("Component::CheckRequirements - Client, RESULT_PASSED"));
  EXPECT_EQ("Flag::ClearFlags", Log().back());
}

// The machine's PATH, as the registry defines it.
std::wstring MachinePath() {
  wchar_t value[4096] = L"";
  DWORD size = sizeof(value);
  RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", L"PATH",
               RRF_RT_REG_SZ, nullptr, value, &size);
  return value;
}

// The staging folders that are under ProgramData.
Lines StagingFolders() {
  wchar_t programData[MAX_PATH] = L"";
  SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, programData);
  Lines names;
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((std::wstring(programData) + L"\\Tessel-*").c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
    names.push_back(Narrow(found.cFileName));
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  return names;
}

// The launcher's elevated side, started as the consent prompt starts it,
// with the run folder as a run leaves it that took its files from the
// download cache: each a second name of a file of the cache. It copies the
// installer and the file beside it into a folder of its own under
// ProgramData, checks them there against its own document, and runs the
// installer in that folder, with a configuration that it wrote there, a temp
// folder of its own there and the machine's PATH; it passes the exit code
// back and removes the folder. The user's log is not touched. Whatever it
// cannot check is refused, with one line in its own log, and nothing runs.
TEST_F(EndToEnd, TheElevatedSideStagesWhatTheCacheHandedOverAndTakesNothingUnchecked) {
  const std::wstring source = temp_.File(L"QV0000ABCD\\Standard"), cache = temp_.File(L"cache");
  ASSERT_EQ(RESULT_PASSED, System::CreateDir(source));
  ASSERT_TRUE(CreateDirectoryW(cache.c_str(), nullptr));
  for (const wchar_t* name : {L"SetupStandard.exe", L"VantorConnect.exe"}) {
    ASSERT_TRUE(CopyFileW((Testing::ProgramFolder() + L"\\e2e\\" + name).c_str(), (cache + L"\\" + name).c_str(),
                          FALSE));
    ASSERT_TRUE(CreateHardLinkW((source + L"\\" + name).c_str(), (cache + L"\\" + name).c_str(), nullptr));
  }
  const std::wstring installer = source + L"\\SetupStandard.exe";
  const Lines staging = StagingFolders();
  // What follows the context is the caller's own arguments: flags, never properties.
  const std::wstring staged = L"/stageinstall \"" + installer + L"\" 1";
  ASSERT_EQ(3010u, Launch(L"E2ELauncherSetup", staged + L" \"cfg.xml\\\" EVIL=\\\"1\"", {}, L"reboot"));
  const std::wstring setup = SetupCommandLine();
  const size_t end = setup.find(L"\\SetupStandard.exe\" /exebasicui /qb QV_CONFIG_PATH=\"");
  ASSERT_NE(std::wstring::npos, end) << Narrow(setup);
  const std::wstring folder = setup.substr(1, end - 1);
  EXPECT_NE(std::wstring::npos, folder.find(L"\\Tessel-QV")) << Narrow(folder);
  EXPECT_EQ(std::wstring::npos, folder.find(temp_.path())) << Narrow(folder);
  EXPECT_TRUE(setup.ends_with(L" QV_CONFIG_PATH=\"" + folder + L"\\QvConfig.xml\"")) << Narrow(setup);
  EXPECT_EQ(L"TMP=" + folder + L"\\InstallerTemp\nTEMP=" + folder + L"\\InstallerTemp\nPATH=" + MachinePath() + L"\n",
            SetupEnvironment());
  EXPECT_EQ(RESULT_FAILED, System::DirectoryExists(folder)) << "the staging folder is left behind";
  EXPECT_EQ(installDir_, RegisteredFolder()) << "the client beside the installer was not staged";
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ("Deploy::RunProcess - exit code: 3010", ElevatedLog().back());

  Testing::WriteFileBytes(cache + L"\\VantorConnect.exe", "changed after the check");
  const struct {
    std::wstring arguments;
    std::string line;
  } refusals[] = {
      {L"/stageinstall \"" + installer + L"\\\" EVIL=\\\"1\" 1",
       "refused the path " + Narrow(installer) + "\" EVIL=\"1: it holds a quote or a control character"},
      {L"/stageinstall \"\\\\127.0.0.1\\c$\\SetupStandard.exe\" 1",
       "refused the path \\\\127.0.0.1\\c$\\SetupStandard.exe: it is not a full path on a local fixed disk"},
      {L"/stageinstall \"\\\\?\\" + installer + L"\" 1",
       "refused the path \\\\?\\" + Narrow(installer) + ": it is not a full path on a local fixed disk"},
      {L"/stageinstall \"" + temp_.File(L"elsewhere\\Standard\\SetupStandard.exe") + L"\" 1",
       "refused the path " + Narrow(temp_.File(L"elsewhere\\Standard\\SetupStandard.exe")) +
           ": the document's installer is not there"},
      {staged.substr(0, staged.size() - 1) + L"7", "refused the install context 7: it is not 0, 1 or 2"},
      {staged, "refused " + Narrow(source) + "\\VantorConnect.exe: it is not the file that the document describes"},
  };
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(refusal.line);
    DeleteFileW(temp_.File(L"fake-setup-commandline.txt").c_str());
    EXPECT_EQ(1603u, Launch(L"E2ELauncherSetup", refusal.arguments));
    EXPECT_EQ(L"(missing)", SetupCommandLine());
    EXPECT_EQ("Deploy::RunStagedInstall - " + refusal.line, ElevatedLog().back());
  }
  EXPECT_EQ(staging, StagingFolders());
  EXPECT_TRUE(Log().empty());
}

// The whole prompted chain: the run takes a file from the download cache,
// its installer's start needs the consent prompt (a stand-in for Windows'
// answer, 740), and the prompt starts the launcher's elevated side, which
// stages the files, the cache's second name among them, and runs the
// installer; the run then verifies, starts the client and ends with 0.
TEST_F(EndToEnd, APromptedInstallationRunsWithFilesFromTheCache) {
  // A quiet run may not ask: it fails, and leaves what it fetched in the cache.
  ASSERT_EQ(1603u, Launch(L"E2ELauncherPrompted", L"/quiet"));
  EXPECT_TRUE(Logged("Deploy::RunProcess - the installer needs elevation"));
  DeleteFileW(temp_.File(L"VantorLauncher.log").c_str());
  ASSERT_EQ(0u, Launch(L"E2ELauncherPrompted", L"/silent"));
  bool fromCache = false;
  for (const std::string& line : Log())
    fromCache = fromCache || line.starts_with("Component::GatherComponents - Data is taken from the download cache: ");
  EXPECT_TRUE(fromCache);
  EXPECT_NE(std::wstring::npos, SetupCommandLine().find(L"\\Tessel-QV")) << Narrow(SetupCommandLine());
  EXPECT_EQ("Deploy::RunProcess - exit code: 0", ElevatedLog().back());
  EXPECT_TRUE(Logged("Deploy::RunProcess - exit code: 0"));
  EXPECT_TRUE(Logged("Component::CheckRequirements - Client, RESULT_PASSED"));
  EXPECT_NE(std::wstring::npos, ClientCommandLine().find(L"VantorConnect.exe\" /l")) << Narrow(ClientCommandLine());
}

// While the installer runs, another program of the user can neither change,
// rename nor delete a verified file; once the installation has verified,
// the run deletes what it fetched, and the installer's temp folder: only the
// client's configuration, which the client is started with, stays in the run
// folder. The installer runs in its own folder, not in the launcher's.
TEST_F(EndToEnd, VerifiedFilesAreHeldUntilTheRunEndsAndThenDeleted) {
  ASSERT_EQ(0u, Launch(L"E2ELauncherSetup", L"/silent", {}, L"probe"));
  std::string probe;
  ASSERT_TRUE(Testing::ReadFileBytes(temp_.File(L"fake-setup-probe.txt"), probe));
  Lines held = Testing::SplitLines(probe);
  std::sort(held.begin(), held.end());
  EXPECT_EQ((Lines{"SetupStandard.exe write 32 rename 32 delete 32",
                   "VantorConnect.exe write 32 rename 32 delete 32", "current folder own"}),
            held);

  const std::wstring setup = SetupCommandLine();
  const std::wstring folder = setup.substr(1, setup.find(L"\\SetupStandard.exe\"") - 1);
  const std::wstring runFolder = folder.substr(0, folder.find_last_of(L'\\'));
  for (const wchar_t* name : {L"SetupStandard.exe", L"VantorConnect.exe"}) {
    EXPECT_TRUE(Logged("Component::RemoveFetchedFiles - deleted " + Narrow(folder) + "\\" + Narrow(name)));
  }
  Lines left;
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW((runFolder + L"\\*").c_str(), &found);
  for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
    if (found.cFileName[0] != L'.') left.push_back(Narrow(found.cFileName));
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  EXPECT_EQ(Lines{"QvConfig.xml"}, left);
  // Wine runs every launcher elevated: its installer unpacks into a folder of
  // the run's own, gone with what was fetched, and finds programs by the machine's PATH.
  EXPECT_EQ(L"TMP=" + runFolder + L"\\InstallerTemp\nTEMP=" + runFolder + L"\\InstallerTemp\nPATH=" + MachinePath() +
                L"\n",
            SetupEnvironment());
}

// The data component's address on the end-to-end server, and what it sends.
constexpr wchar_t kDataUrl[] = L"http://127.0.0.1:18742/script/16777216/resumable-20?u=e2e-cache";
constexpr ULONGLONG kDataSize = 16777216;
constexpr ULONGLONG kMegabyte = 1 << 20;

// The bytes of the data component's body that the server has sent so far.
ULONGLONG DataSent(const Testing::TempFolder& temp) {
  const std::wstring answer = temp.File(L"sent.txt");
  std::string text;
  if (FAILED(URLDownloadToFileW(nullptr, L"http://127.0.0.1:18742/sent?of=e2e-cache", answer.c_str(), 0, nullptr)) ||
      !Testing::ReadFileBytes(answer, text))
    return 0;
  return std::stoull(text);
}

// The machine's download cache, which every run under Wine uses: Wine runs
// every program with administrator rights.
std::wstring MachineCache() {
  wchar_t programData[MAX_PATH] = L"";
  SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, programData);
  return std::wstring(programData) + L"\\TesselCache";
}

// The names of the cache's files that hold bytes.
Lines CachedFiles() {
  Lines names;
  for (const std::wstring& name : Testing::FilesIn(MachineCache()))
    if (name.ends_with(L".bin")) names.push_back(Narrow(name));
  return names;
}

// The server's body: byte i is (i * 31) & 255.
std::string DataBody() {
  std::string body(kDataSize, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 31) & 255);
  return body;
}

// The download cache, through the real launcher and a server that counts
// what it sends: a run killed part-way leaves what came in the cache and the
// next run fetches only the rest; a run whose installation failed leaves the
// whole file, which the next run takes with no request; a verified
// installation empties the cache and the run folder; a cached file with a
// changed byte is fetched again; and a link planted in the cache is never
// written through.
TEST_F(EndToEnd, TheDownloadCacheCarriesADownloadOverAndIsEmptiedByTheInstallation) {
  for (const std::string& name : CachedFiles()) DeleteFileW((MachineCache() + L"\\" + Testing::Widen(name)).c_str());
  const auto fresh = [&] {
    RegDeleteTreeW(HKEY_CURRENT_USER, kClientKey);
    DeleteFileW(temp_.File(L"VantorLauncher.log").c_str());
    return DataSent(temp_);
  };

  // Killed once 40 % have been sent.
  ULONGLONG start = fresh();
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(Start(L"E2ELauncherCached", L"/quiet", L"", temp_.path(), process));
  {
    const UniqueHandleOwner processHandle(process.hProcess), threadHandle(process.hThread);
    for (int i = 0; i < 1200 && DataSent(temp_) - start < kDataSize * 2 / 5; ++i) Sleep(25);
    TerminateProcess(processHandle.get(), 1);
    WaitForSingleObject(processHandle.get(), 10000);
  }
  const ULONGLONG killedAt = DataSent(temp_) - start;
  ASSERT_LT(killedAt, kDataSize);
  ASSERT_EQ(1u, CachedFiles().size());
  const std::wstring entry = MachineCache() + L"\\" + Testing::Widen(CachedFiles()[0]);
  const ULONGLONG kept = System::FileSize(entry).value_or(0);
  EXPECT_GE(kept + kMegabyte, killedAt) << "what came is on the disk, but for what was in flight";

  // Resumed; the installer installs nothing, so the whole file stays.
  start = fresh();
  EXPECT_EQ(1603u, Launch(L"E2ELauncherCached", L"/quiet", {}, L"nothing"));
  EXPECT_LE(DataSent(temp_) - start, kDataSize - killedAt + kMegabyte);
  const std::string resumed = "Component::Location::GetFile - resuming " + Narrow(kDataUrl) + " after " +
                              std::to_string(kept) + " bytes kept in the download cache";
  EXPECT_TRUE(Logged(resumed)) << resumed;
  EXPECT_EQ(kDataSize, System::FileSize(entry).value_or(0));

  // Nothing fetched twice, and nothing left once installed.
  start = fresh();
  EXPECT_EQ(0u, Launch(L"E2ELauncherCached", L"/quiet"));
  EXPECT_EQ(start, DataSent(temp_));
  EXPECT_TRUE(Logged("Component::GatherComponents - Data is taken from the download cache: " + Narrow(entry)));
  EXPECT_TRUE(Logged("Component::DropCacheEntry - deleted " + Narrow(entry)));
  EXPECT_EQ(Lines{}, CachedFiles());
  bool runFolderEmptied = false;
  for (const std::string& line : Log())
    runFolderEmptied = runFolderEmptied || (line.starts_with("Component::RemoveFetchedFiles - deleted ") &&
                                            line.ends_with("\\Standard\\data.bin"));
  EXPECT_TRUE(runFolderEmptied);

  // A changed byte: the cached file is deleted and fetched again.
  std::string body = DataBody();
  body[1000] ^= 1;
  Testing::WriteFileBytes(entry, body);
  start = fresh();
  EXPECT_EQ(0u, Launch(L"E2ELauncherCached", L"/quiet"));
  EXPECT_EQ(kDataSize, DataSent(temp_) - start);
  EXPECT_TRUE(Logged("Component::DropCacheEntry - deleted " + Narrow(entry)));

  // A link in the entry's place: its target is never written, and the run fetches its own copy.
  const std::wstring target = temp_.File(L"target.bin");
  Testing::WriteFileBytes(target, "keep");
  {
    const Testing::PlantedLink link(target, entry);
    ASSERT_TRUE(link.planted());
    start = fresh();
    EXPECT_EQ(0u, Launch(L"E2ELauncherCached", L"/quiet"));
    EXPECT_TRUE(Logged("Component::ClaimCacheEntry - " + Narrow(entry) +
                       " leads elsewhere: this run fetches its own copy"));
  }
  std::string left;
  EXPECT_TRUE(Testing::ReadFileBytes(target, left));
  EXPECT_EQ("keep", left);
}

// A ".local" folder beside a launcher: it ends at once, with its line and
// code, shows nothing and asks the server for nothing.
TEST_F(EndToEnd, ALocalFolderBesideTheLauncherStopsItBeforeAnything) {
  const std::wstring copy = temp_.File(L"Copy.exe");
  ASSERT_TRUE(CopyFileW((Testing::ProgramFolder() + L"\\E2ELauncherCached.exe").c_str(), copy.c_str(), FALSE));
  ASSERT_TRUE(CreateDirectoryW((copy + L".local").c_str(), nullptr));
  const ULONGLONG sent = DataSent(temp_);
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(StartProgram(copy, L"", L"", temp_.path(), process));
  const UniqueHandleOwner processHandle(process.hProcess), threadHandle(process.hThread);
  int windows = 0;
  {
    WindowWatcher watcher(process.dwProcessId);
    WaitForSingleObject(processHandle.get(), 30000);
    windows = watcher.Seen();
  }
  DWORD code = 0;
  GetExitCodeProcess(processHandle.get(), &code);
  EXPECT_EQ(1625u, code);
  EXPECT_EQ(0, windows);
  EXPECT_EQ(Lines{"App::Main - " + Narrow(copy) +
                  ".local is beside the launcher, and Windows could load DLLs from it: the launcher does not run"},
            Log());
  EXPECT_EQ(sent, DataSent(temp_));
}

// Unattended runs: never a window, hidden or not; what a window would have
// said is in the log, and the exit code tells the deployment tool the rest.
TEST_F(EndToEnd, QuietRunsNeverShowAWindow) {
  const struct {
    const wchar_t* launcher;
    const wchar_t* arguments;
    const wchar_t* setupMode;
    const wchar_t* installed;  // the client installed first, or none
    DWORD exitCode;
    const char* logged;
    bool launched;
  } cases[] = {
      {L"E2ELauncherSetup", L"/quiet", L"", nullptr, 0, "Deploy::RunProcess - exit code: 0", true},
      {L"E2ELauncherMissing", L"/quiet", L"", nullptr, 1603,
       "Deploy::Run - 215: Unable to retrieve required components.", false},
      // Failed updates: the installed client starts, but not with skiplaunch.
      {L"E2ELauncherMissing", L"/quiet", L"", L"old\\", 1603,
       "Deploy::Run - the installed version was started after the failed update", true},
      {L"E2ELauncherSetup", L"/quiet", L"nothing", L"old\\", 1603,
       "Deploy::Run - the installed version was started after the failed update", true},
      {L"E2ELauncherMissing", L"/quiet /skiplaunch", L"", L"old\\", 1603,
       "Deploy::Run - 215: Unable to retrieve required components.", false},
      {L"E2ELauncherSetup", L"/quiet /skiplaunch", L"", L"", 0,
       "Deploy::Run - 218: This version of Tessel is already installed on this computer.", false},
      {L"E2ELauncherSetup", L"/quiet", L"reboot", nullptr, 3010, "Deploy::RunProcess - exit code: 3010", true},
      {L"E2ELauncherSetup", L"/quiet", L"restart", nullptr, 1641, "Deploy::RunProcess - exit code: 1641", true},
      // Quiet by its document; fetched for an installer that cannot run
      // without a configuration path.
      {L"E2ELauncherNoConfig", L"", L"", nullptr, 1603, "Component::CheckRequirements - Client, RESULT_FAILED",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(std::wstring(c.launcher) + L" " + c.arguments + L" " + c.setupMode));
    RegDeleteTreeW(HKEY_CURRENT_USER, kClientKey);
    DeleteFileW(temp_.File(L"client-commandline.txt").c_str());
    if (c.installed) PreInstall(c.installed);
    EXPECT_EQ(c.exitCode, Launch(c.launcher, c.arguments, {}, c.setupMode));
    EXPECT_EQ(0, windowsSeen_);
    EXPECT_TRUE(Logged(c.logged));
    EXPECT_EQ("Flag::ClearFlags", Log().back());
    EXPECT_EQ(c.launched, ClientCommandLine() != L"(missing)");
  }
}

// One run per session: a quiet launcher that finds another one running does
// nothing and ends with 1618; a normal one finds no window to bring forward
// and ends with 0. Neither writes a log.
TEST_F(EndToEnd, SecondLauncherDuringAQuietRunDoesNothing) {
  PROCESS_INFORMATION first{};
  ASSERT_TRUE(Start(L"E2ELauncherSlow", L"/quiet", L"", temp_.path(), first));
  UniqueHandleOwner firstProcess(first.hProcess), firstThread(first.hThread);
  bool running = false;
  for (int i = 0; i < 200 && !running; ++i, Sleep(50)) {
    running = UniqueHandleOwner(OpenMutexW(SYNCHRONIZE, FALSE, App::kRunMutexName)).get() != nullptr;
  }
  ASSERT_TRUE(running);
  for (const auto& [arguments, exitCode] : {std::pair{L"/quiet", 1618u}, std::pair{L"", 0u}}) {
    Testing::TempFolder other;
    PROCESS_INFORMATION second{};
    ASSERT_TRUE(Start(L"E2ELauncherSlow", arguments, L"", other.path(), second));
    UniqueHandleOwner secondProcess(second.hProcess), secondThread(second.hThread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(secondProcess.get(), 30000));
    DWORD code = 0;
    GetExitCodeProcess(secondProcess.get(), &code);
    EXPECT_EQ(exitCode, code) << Narrow(arguments);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(other.File(L"VantorLauncher.log").c_str()))
        << Narrow(arguments);
  }
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(firstProcess.get(), 0)) << "still downloading";
  TerminateProcess(firstProcess.get(), 1);
  WaitForSingleObject(firstProcess.get(), 10000);
}

TEST_F(EndToEnd, InstalledAndCurrentIsLaunchedWithoutAQuestion) {
  PreInstall();
  ASSERT_EQ(0u, Launch(L"E2ELauncherSetup", L""));
  EXPECT_EQ(L"(missing)", SetupCommandLine());
  EXPECT_EQ(0u, ClientCommandLine().find(L"\"" + installDir_ + L"\\VantorConnect.exe\" /l"));
  EXPECT_FALSE(Logged("Component::CheckRequirements - Client, RESULT_FAILED"));
}

TEST_F(EndToEnd, DeclinedFirstInstallationEndsWith1602) {
  ASSERT_EQ(1602u, Launch(L"E2ELauncherSetup", L"", {{114, L""}}));
  EXPECT_EQ(L"This package will install Tessel v11.4.8.18902.\nWould you like to install?", answers_[0].seen);
  EXPECT_EQ(L"(none)", RegisteredFolder());
  EXPECT_EQ(L"(missing)", SetupCommandLine());
  EXPECT_EQ(L"(missing)", ClientCommandLine());
}

TEST_F(EndToEnd, AcceptedFirstInstallationInstallsWithTheSilentInstallerArguments) {
  ASSERT_EQ(0u, Launch(L"E2ELauncherSetup", L"", {{113, L""}}));
  EXPECT_EQ(installDir_, RegisteredFolder());
  EXPECT_NE(std::wstring::npos, SetupCommandLine().find(L"\" /exebasicui /qb QV_CONFIG_PATH="));
}

TEST_F(EndToEnd, SkipLaunchWithTheCurrentVersionInstalledGivesNotice218) {
  PreInstall();
  ASSERT_EQ(0u, Launch(L"E2ELauncherSetup", L"/skiplaunch", {{IDOK, L""}}));
  EXPECT_EQ(L"This version of Tessel is already installed on this computer.", answers_[0].seen);
  EXPECT_EQ(L"(missing)", ClientCommandLine());
}

TEST_F(EndToEnd, InstallerThatInstallsNothingIsReportedWith225And1603) {
  ASSERT_EQ(1603u, Launch(L"E2ELauncherSetup", L"/silent", {{IDOK, L""}}, L"nothing"));
  EXPECT_EQ(WithLog(L"Required components are not installed correctly."), answers_[0].seen);
  EXPECT_NE(L"(missing)", SetupCommandLine());
  EXPECT_EQ(L"(missing)", ClientCommandLine());
}

TEST_F(EndToEnd, InstallerNamingNoComponentIsReportedWith227And1603) {
  ASSERT_EQ(1603u, Launch(L"E2ELauncherNobody", L"/silent", {{IDOK, L""}}));
  EXPECT_EQ(WithLog(L"Unable to launch Tessel installer."), answers_[0].seen);
  EXPECT_EQ(L"(missing)", SetupCommandLine());
  EXPECT_EQ(L"(none)", RegisteredFolder());
}

TEST_F(EndToEnd, UpgradeQuestionAcceptedInstallsTheNewVersion) {
  PreInstall(L"old\\");
  ASSERT_EQ(0u, Launch(L"E2ELauncherSetup", L"", {{113, L""}}));
  EXPECT_EQ(
      L"There is a new version of software available (Tessel v11.4.8.18902).\nWould you like to install?",
      answers_[0].seen);
  EXPECT_NE(L"(missing)", SetupCommandLine());
  EXPECT_TRUE(Logged("Component::CheckRequirements - Client, RESULT_PASSED"));
}

TEST_F(EndToEnd, UpgradeRefusedStillCopiesTheConfigurationAndLaunches) {
  PreInstall(L"old\\");
  ASSERT_EQ(0u, Launch(L"E2ELauncherSetup", L"", {{114, L""}}));
  EXPECT_EQ(L"(missing)", SetupCommandLine());
  const std::wstring client = ClientCommandLine();
  EXPECT_EQ(0u, client.find(L"\"" + installDir_ + L"\\VantorConnect.exe\" /l")) << Narrow(client);
  std::string written;
  EXPECT_TRUE(Testing::ReadFileBytes(client.substr(client.find(L"/l") + 2), written));
  EXPECT_FALSE(Logged("Component::CheckRequirements - Client, RESULT_FAILED"));
}

TEST_F(EndToEnd, SkipLaunchWithANewerVersionInstalledGivesNotice217) {
  PreInstall(L"newer\\");
  ASSERT_EQ(0u, Launch(L"E2ELauncherSetup", L"/skiplaunch", {{IDOK, L""}}));
  EXPECT_EQ(L"A more recent version of Tessel is already installed on this computer.", answers_[0].seen);
  EXPECT_EQ(L"(missing)", ClientCommandLine());
  EXPECT_EQ(L"(missing)", SetupCommandLine());
}

// The box names the cause and the log; a failed first installation starts nothing.
TEST_F(EndToEnd, RetrievalFailureWithoutAnAlternateAddressGives215WithItsCause) {
  ASSERT_EQ(1603u, Launch(L"E2ELauncherMissing", L"/silent", {{IDOK, L""}}));
  EXPECT_EQ(WithLog(L"Unable to retrieve required components.",
                    L"http://127.0.0.1:18742/missing/SetupStandard.exe: HTTP status 404"),
            answers_[0].seen);
  EXPECT_TRUE(Logged("Component::GatherComponents (291) - Problem Retrieving Component: Setup"));
  EXPECT_EQ(L"(missing)", SetupCommandLine());
  EXPECT_EQ(L"(missing)", ClientCommandLine());
}

// A failed update leaves the user the client that works: it starts with its
// configuration, and the exit code still tells of the failure.
TEST_F(EndToEnd, AFailedUpdateStartsTheInstalledClientAndEndsWith1603) {
  PreInstall(L"old\\");
  ASSERT_EQ(1603u, Launch(L"E2ELauncherMissing", L"", {{113, L""}, {IDOK, L""}}));
  EXPECT_EQ(0u, answers_[1].seen.find(L"Unable to retrieve required components.\n\nDetails: "));
  const std::wstring client = ClientCommandLine();
  EXPECT_EQ(0u, client.find(L"\"" + installDir_ + L"\\VantorConnect.exe\" /l")) << Narrow(client);
  EXPECT_TRUE(Logged("Deploy::Run - the installed version was started after the failed update"));
}

// A configuration path with a blank reaches the client as one argument.
TEST_F(EndToEnd, AConfigurationPathWithABlankReachesTheClientWhole) {
  PreInstall();
  const std::wstring temp = temp_.File(L"John Smith");
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(Start(L"E2ELauncherSetup", L"/quiet", L"", temp, process));
  const UniqueHandleOwner processHandle(process.hProcess), threadHandle(process.hThread);
  WaitForSingleObject(processHandle.get(), 60000);
  WaitForClients();
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(ClientCommandLine().c_str(), &count);
  ASSERT_EQ(2, count) << Narrow(ClientCommandLine());
  const std::wstring given = arguments[1];
  LocalFree(arguments);
  ASSERT_EQ(0u, given.find(L"/l"));
  wchar_t whole[MAX_PATH] = L"";
  ASSERT_NE(0u, GetLongPathNameW(given.c_str() + 2, whole, MAX_PATH)) << Narrow(given);
  EXPECT_EQ(0u, std::wstring(whole).find(temp + L"\\")) << Narrow(whole);
}

TEST_F(EndToEnd, RetrievalFailureWithAnAlternateAddressAsksAndNoEndsWith1603) {
  ASSERT_EQ(1603u, Launch(L"E2ELauncherAltUrl", L"/silent", {{114, L""}}));
  EXPECT_EQ(
      L"There was an error retrieving the required components. Would you like to manually download the "
      L"Tessel installer?",
      answers_[0].seen);
  EXPECT_EQ(L"(missing)", ClientCommandLine());
}

TEST_F(EndToEnd, InstallContextJustMeTakesThePerUserPath) {
  ASSERT_EQ(0u, Launch(L"E2ELauncherContext", L"/peruserdefault", {{113, L""}}));
  EXPECT_EQ(L"This package will install Tessel v11.4.8.18902.", answers_[0].seen);
  EXPECT_TRUE(answers_[0].justMeChecked) << "the per-user default";
  EXPECT_EQ(installDir_, RegisteredFolder());
  EXPECT_NE(L"(missing)", ClientCommandLine());
}

TEST_F(EndToEnd, InstallContextEveryoneTakesThePerMachinePath) {
  // This document has no per-machine setup: choosing it ends in 227.
  ASSERT_EQ(1603u, Launch(L"E2ELauncherContext", L"", {{113, L""}, {IDOK, L""}}));
  EXPECT_FALSE(answers_[0].justMeChecked) << "Everyone is the default";
  EXPECT_EQ(WithLog(L"Unable to launch Tessel installer."), answers_[1].seen);
  EXPECT_EQ(L"(none)", RegisteredFolder());
}

TEST_F(EndToEnd, InstallContextChangedByTheUserAndCancelled) {
  ASSERT_EQ(0u, Launch(L"E2ELauncherContext", L"", {{113, L"", 1001}}));
  EXPECT_EQ(installDir_, RegisteredFolder());
  RegDeleteTreeW(HKEY_CURRENT_USER, kClientKey);
  ASSERT_EQ(1602u, Launch(L"E2ELauncherContext", L"", {{114, L""}}));
}

// The user cancels in the middle of a slow download and confirms: no
// installer runs, nothing is launched, and the run ends with 1602.
TEST_F(EndToEnd, CancelDuringADownloadConfirmedWithYes) {
  // Cancel as soon as the window shows the download, then answer the question.
  std::thread cancel([] {
    for (int i = 0; i < 600; ++i) {
      HWND window = FindWindowW(L"QVDeployMainWindow", L"Tessel Launcher");
      HWND status = window ? FindWindowExW(window, nullptr, L"STATIC", nullptr) : nullptr;
      wchar_t text[256] = L"";
      if (status) GetWindowTextW(status, text, 256);
      if (std::wstring(text).find(L"Downloading component") == 0) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return;
      }
      Sleep(50);
    }
  });
  const DWORD code = Launch(L"E2ELauncherSlow", L"/silent", {{113, L""}});
  cancel.join();
  EXPECT_EQ(1602u, code);
  EXPECT_EQ(L"Are you sure you want to cancel?", answers_[0].seen);
  EXPECT_TRUE(Logged("Deploy::Quit"));
  EXPECT_TRUE(Logged("Deploy::TransferProgress - cancel transfer"));
  EXPECT_EQ(L"(missing)", SetupCommandLine());
  EXPECT_EQ(L"(missing)", ClientCommandLine());
  EXPECT_EQ(L"(none)", RegisteredFolder());
}

TEST_F(EndToEnd, SecondStartDuringAQuestionBringsItForwardAndEnds) {
  Answer answer{114, L""};
  answer.secondStart = L"E2ELauncherSetup.exe";
  ASSERT_EQ(1602u, Launch(L"E2ELauncherSetup", L"", {answer}));
  EXPECT_EQ(0u, answers_[0].secondExit);
  EXPECT_TRUE(answers_[0].dialogInFront);
  EXPECT_EQ(L"(missing)", SetupCommandLine());
}

// Components all present, an older client installed, nothing launched:
// this installation cannot go on.
TEST_F(EndToEnd, SkipLaunchWithAnotherVersionGivesNotice219And1603) {
  PreInstall(L"old\\");
  ASSERT_EQ(1603u, Launch(L"E2ELauncherPresent", L"/silent /skiplaunch", {{IDOK, L""}}));
  EXPECT_EQ(
      L"Another version of Tessel is already installed on this computer. Installation of this version cannot "
      L"continue.",
      answers_[0].seen);
  EXPECT_EQ(L"(missing)", SetupCommandLine());
  EXPECT_EQ(L"(missing)", ClientCommandLine());
}

}  // namespace
