#include "deploy/staged_install.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <iterator>
#include <vector>

#include "components/component.h"
#include "conditions/condition.h"
#include "config/command_line.h"
#include "config/run_settings.h"
#include "deploy/embedded_config.h"
#include "deploy/launch.h"
#include "deploy/workflow.h"
#include "log/log.h"
#include "log/temp_folder.h"
#include "system/file_system.h"
#include "system/privileges.h"
#include "system/scope_exit.h"
#include "system/special_folders.h"
#include "system/unique_handle.h"

namespace Deploy {

namespace {

constexpr wchar_t kName[] = L"Deploy::RunStagedInstall";

// The part of the command line after the program's own path.
const wchar_t* OwnArguments() {
  const wchar_t* line = GetCommandLineW();
  bool quoted = false;
  for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line)
    if (*line == L'"') quoted = !quoted;
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

// Logs why the start is refused, with what the caller gave made printable
// (a control character would start a line of its own), and gives the exit
// code. A format without a second "%s" ignores it.
int Refuse(const wchar_t* format, std::wstring given = {}) {
  for (wchar_t& c : given)
    if (c < L' ' || c == 0x7F) c = L'?';
  LogReason(format, kName, given.c_str());
  return kExitFailed;
}

// Why a path from the caller cannot be used; null when it can: a full path
// on a local fixed disk ("C:\..."), never a share, which the elevated side
// would log on to, nor a device path.
const wchar_t* PathProblem(const std::wstring& path) {
  for (const wchar_t c : path)
    if (c == L'"' || c < L' ' || c == 0x7F) return L"%s - refused the path %s: it holds a quote or a control character";
  const bool drive = path.size() > 3 && iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\';
  if (!drive || GetDriveTypeW(path.substr(0, 3).c_str()) != DRIVE_FIXED)
    return L"%s - refused the path %s: it is not a full path on a local fixed disk";
  return nullptr;
}

// Takes the run folder's name from a path in this user's temp folder, so that
// the document's "[TempFolder]" resolves to the caller's run folder.
void AdoptCallersRunFolder(const std::wstring& path) {
  const std::wstring temp = System::UserTempFolder();
  const size_t nameLength = 10;  // "QV" and 8 hexadecimal digits
  if (temp.empty() || path.size() <= temp.size() + nameLength ||
      CompareStringOrdinal(path.c_str(), static_cast<int>(temp.size()), temp.c_str(),
                           static_cast<int>(temp.size()), TRUE) != CSTR_EQUAL ||
      path[temp.size() + nameLength] != L'\\')
    return;
  System::AdoptRunFolderName(path.substr(temp.size(), nameLength));
}

// Opens, checks, copies and checks again one component; the copy is held.
// A file that the download cache handed over has a second name: it is
// read through its handle, and only the copy must be a file of its own.
bool Stage(const Component::Record& component, const std::wstring& staging, std::vector<UniqueFile>& held) {
  const std::wstring from = Component::DestinationOf(component);
  const std::wstring to = System::JoinPath(staging, *component.filename);
  UniqueFile original(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  if (!original || !GetFileInformationByHandle(original.get(), &information)) {
    LogReason(L"%s - refused %s: it cannot be opened, GetLastError: %d", kName, from.c_str(),
              static_cast<int>(GetLastError()));
    return false;
  }
  if (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
    Refuse(L"%s - refused %s: it is a link or a folder", from);
    return false;
  }
  bool intact = Component::CheckOpenFile(component, from, original.get()) == RESULT_PASSED &&
                System::CopyOpenFile(original.get(), to) == RESULT_PASSED;
  if (intact) {
    UniqueFile copy(CreateFileW(to.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    intact = copy && System::IsPlainFile(copy.get()) &&
             Component::CheckOpenFile(component, to, copy.get()) == RESULT_PASSED;
    if (intact) held.push_back(std::move(copy));
  }
  if (!intact) Refuse(L"%s - refused %s: it is not the file that the document describes", from);
  return intact;
}

// A new folder under ProgramData for SYSTEM and the Administrators alone.
std::wstring MakeStagingFolder() {
  wchar_t programData[MAX_PATH] = L"";
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, programData)))
    return {};
  // Its name is random: one that is there already was made by someone else.
  const std::wstring folder = System::JoinPath(programData, L"Tessel-" + System::NewFolderName());
  return System::MakeAdministratorsFolder(folder) == RESULT_PASSED ? folder : std::wstring();
}

// Removes the staging folder. The installer that has just ended can hold
// its folder, its current one, a moment longer: the deletion is tried
// again for up to two seconds, and only the last try's failures are logged.
void RemoveStagingFolder(const std::wstring& staging) {
  const int level = LogLevel;
  for (int attempt = 0; attempt < 40; ++attempt, Sleep(50)) {
    LogLevel = attempt < 39 ? 0 : level;
    const Result removed = System::DeleteTree(staging);
    LogLevel = level;
    if (removed == RESULT_PASSED) return;
  }
}

}  // namespace

bool StagedInstallRequested() {
  constexpr size_t kLength = std::size(kStagedInstallSwitch) - 1;
  const wchar_t* arguments = OwnArguments();
  return wcsncmp(arguments, kStagedInstallSwitch, kLength) == 0 && arguments[kLength] == L' ';
}

std::wstring StagedInstallArguments(const std::wstring& installer, int context) {
  std::wstring arguments = kStagedInstallSwitch;
  arguments += L" \"" + installer + L"\" ";
  arguments += static_cast<wchar_t>(L'0' + (context >= 0 && context <= 2 ? context : 0));
  arguments += L' ';
  return arguments + OwnArguments();
}

int RunStagedInstall() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  const ScopeExit freeArguments([&] { LocalFree(argv); });
  // Only the consent prompt's elevated start has a use for it: a folder that
  // only administrators can write is of no help to anyone else.
  if (!System::RunsElevated()) return Refuse(L"%s - refused: the launcher does not run elevated");
  if (!argv || count < 4) return Refuse(L"%s - refused: the installer's path and the install context are not given");
  const std::wstring installerPath = argv[2], context = argv[3];
  if (const wchar_t* problem = PathProblem(installerPath)) return Refuse(problem, installerPath);
  if (context.size() != 1 || context[0] < L'0' || context[0] > L'2')
    return Refuse(L"%s - refused the install context %s: it is not 0, 1 or 2", context);
  installContext = context[0] - L'0';

  // Only what the launcher's own document says is installed: the caller
  // names the installer's path, never the files or their checks.
  AdoptCallersRunFolder(installerPath);
  if (ParseConfig() != RESULT_PASSED) return Refuse(L"%s - refused: the launcher's document cannot be read");
  Parser::ParseCommandLineFlags();
  const Config::RunSettings& settings = Config::Settings();
  const Component::Record* installer = Component::Find(Evaluated(settings.installerName));
  if (!installer || !installer->filename || !installer->dest)
    return Refuse(L"%s - refused: the launcher's document names no installer");
  const std::wstring expected = Component::DestinationOf(*installer);
  if (!System::IsInFolder(installerPath, expected) || !System::IsInFolder(expected, installerPath))
    return Refuse(L"%s - refused the path %s: the document's installer is not there", installerPath);

  const std::wstring staging = MakeStagingFolder();
  if (staging.empty()) return kExitFailed;
  std::vector<UniqueFile> held;
  // Everything in it was made by this process: the folder is its own.
  const ScopeExit removeStaging([&] {
    held.clear();
    RemoveStagingFolder(staging);
  });
  HANDLE image = nullptr;
  for (const Component::Record& component : Component::List()) {
    if (!component.filename || component.dest != installer->dest) continue;
    // A neighbour that the run did not fetch, since it was installed already, is not needed.
    if (&component != installer && System::FileExists(Component::DestinationOf(component)) != RESULT_PASSED)
      continue;
    if (!Stage(component, staging, held)) return kExitFailed;
    if (&component == installer) image = held.back().get();
  }
  if (!image) return kExitFailed;

  // The installer is told of a configuration that this side wrote, never of the caller's file.
  std::wstring configPath = Evaluated(settings.configPath);
  if (!configPath.empty()) {
    configPath = System::JoinPath(staging, configPath.substr(configPath.find_last_of(L"\\/") + 1));
    if (WriteAppConfigTo(configPath) != RESULT_PASSED) {
      LogReason(L"%s - the client's configuration cannot be written to %s", kName, configPath.c_str());
      return kExitFailed;
    }
  }
  std::wstring temp, environment;
  if (!InstallerEnvironment(staging, temp, environment)) return kExitFailed;
  const std::wstring program = System::JoinPath(staging, *installer->filename);
  const InstallerStart start{image, staging, {}, std::move(environment)};
  DWORD exitCode = kExitFailed;
  if (RunProcess(program, InstallerArguments(&configPath), true, &exitCode, nullptr, &start) != RESULT_PASSED)
    return kExitFailed;
  return static_cast<int>(exitCode);
}

}  // namespace Deploy
