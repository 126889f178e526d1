#include "deploy/staged_install.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>
#include <iterator>
#include <memory>
#include <vector>

#include "components/component.h"
#include "conditions/condition.h"
#include "config/command_line.h"
#include "config/run_settings.h"
#include "deploy/embedded_config.h"
#include "deploy/launch.h"
#include "deploy/workflow.h"
#include "log/temp_folder.h"
#include "system/file_system.h"
#include "system/privileges.h"
#include "system/scope_exit.h"
#include "system/special_folders.h"
#include "system/unique_handle.h"

namespace Deploy {

namespace {

// The part of the command line after the program's own path.
const wchar_t* OwnArguments() {
  const wchar_t* line = GetCommandLineW();
  bool quoted = false;
  for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line)
    if (*line == L'"') quoted = !quoted;
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

// Whether the file open on `file` is the component's, and a file of its own.
bool Intact(const Component::Record& component, const std::wstring& path, HANDLE file) {
  return System::IsPlainFile(file) && Component::CheckOpenFile(component, path, file) == RESULT_PASSED;
}

// Copies the open file, from its first byte, into a new file at `target`.
bool CopyOpenFile(HANDLE from, const std::wstring& target) {
  UniqueFile to(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!to || !SetFilePointerEx(from, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) return false;
  constexpr DWORD kBlock = 65536;
  const std::unique_ptr<char[]> block(new char[kBlock]);
  for (;;) {
    DWORD read = 0, written = 0;
    if (!ReadFile(from, block.get(), kBlock, &read, nullptr)) return false;
    if (read == 0) break;
    if (!WriteFile(to.get(), block.get(), read, &written, nullptr) || written != read) return false;
  }
  return FlushFileBuffers(to.get()) != FALSE;
}

// Opens, checks, copies and checks again one component; the copy is held.
bool Stage(const Component::Record& component, const std::wstring& source, const std::wstring& staging,
           std::vector<UniqueFile>& held) {
  const std::wstring from = System::JoinPath(source, *component.filename);
  const std::wstring to = System::JoinPath(staging, *component.filename);
  UniqueFile original(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!original || !Intact(component, from, original.get())) return false;
  if (!CopyOpenFile(original.get(), to)) return false;
  UniqueFile copy(CreateFileW(to.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!copy || !Intact(component, to, copy.get())) return false;
  held.push_back(std::move(copy));
  return true;
}

// A new folder under ProgramData for SYSTEM and the Administrators alone.
std::wstring MakeStagingFolder() {
  wchar_t programData[MAX_PATH] = L"";
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, programData)))
    return {};
  // Its name is random: one that is there already was made by someone else.
  const std::wstring folder = System::JoinPath(programData, L"Tessel-" + System::RunFolderName());
  return System::MakeAdministratorsFolder(folder) == RESULT_PASSED ? folder : std::wstring();
}

}  // namespace

bool StagedInstallRequested() {
  constexpr size_t kLength = std::size(kStagedInstallSwitch) - 1;
  const wchar_t* arguments = OwnArguments();
  return wcsncmp(arguments, kStagedInstallSwitch, kLength) == 0 && arguments[kLength] == L' ';
}

std::wstring StagedInstallArguments(const std::wstring& installer, const std::wstring& configPath, int context) {
  std::wstring arguments = kStagedInstallSwitch;
  for (const std::wstring* path : {&installer, &configPath}) {
    arguments += L" \"";
    arguments += *path;
    arguments += L'"';
  }
  arguments += L' ';
  arguments += static_cast<wchar_t>(L'0' + (context >= 0 && context <= 9 ? context : 0));  // 0, 1 or 2
  arguments += L' ';
  return arguments + OwnArguments();
}

int RunStagedInstall() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  const ScopeExit freeArguments([&] { LocalFree(argv); });
  // Only the consent prompt's elevated start has a use for it: a folder that
  // only administrators can write is of no help to anyone else.
  if (!argv || count < 5 || !System::RunsElevated()) return kExitFailed;
  const std::wstring installerPath = argv[2], configPath = argv[3];
  installContext = argv[4][0] - L'0';  // one digit, as StagedInstallArguments writes it

  // Only what the launcher's own document says is installed: the caller
  // names the folder and the configuration, never the files or their checks.
  if (ParseConfig() != RESULT_PASSED) return kExitFailed;
  Parser::ParseCommandLineFlags();
  const Config::RunSettings& settings = Config::Settings();
  const Component::Record* installer = Component::Find(Evaluated(settings.installerName));
  // Only its folder is taken from the caller's path: which file runs is the document's.
  const std::wstring source = System::ParentFolder(installerPath);
  if (!installer || !installer->filename || !installer->dest) return kExitFailed;

  const std::wstring staging = MakeStagingFolder();
  if (staging.empty()) return kExitFailed;
  std::vector<UniqueFile> held;
  // Everything in it was made by this process: the folder is its own.
  const ScopeExit removeStaging([&] {
    held.clear();
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(System::JoinPath(staging, L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        DeleteFileW(System::JoinPath(staging, found.cFileName).c_str());  // "." and ".." stay, as folders do
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(staging.c_str());
  });
  HANDLE image = nullptr;
  for (const Component::Record& component : Component::List()) {
    if (!component.filename || component.dest != installer->dest) continue;
    // A neighbour that the run did not fetch, since it was installed already, is not needed.
    if (&component != installer &&
        System::FileExists(System::JoinPath(source, *component.filename)) != RESULT_PASSED)
      continue;
    if (!Stage(component, source, staging, held)) return kExitFailed;
    if (&component == installer) image = held.back().get();
  }

  if (!image) return kExitFailed;
  const std::wstring program = System::JoinPath(staging, *installer->filename);
  const InstallerStart start{image, staging, {}};
  DWORD exitCode = kExitFailed;
  if (RunProcess(program, InstallerArguments(&configPath), true, &exitCode, nullptr, &start) != RESULT_PASSED)
    return kExitFailed;
  return static_cast<int>(exitCode);
}

}  // namespace Deploy
