#include "deploy/launch.h"

#include <windows.h>
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <vector>

#include "conditions/version.h"
#include "config/cond_string.h"
#include "config/run_settings.h"
#include "deploy/lifecycle.h"
#include "system/file_system.h"
#include "system/privileges.h"
#include "system/environment.h"
#include "system/scope_exit.h"
#include "system/special_folders.h"
#include "system/registry.h"
#include "system/unique_handle.h"
#include "log/log.h"

namespace Deploy {

std::wstring CommandLine(std::wstring_view program, const std::optional<std::wstring>& arguments) {
  std::wstring commandLine = L"\"";
  commandLine.append(program);
  commandLine.push_back(L'"');
  if (arguments && !arguments->empty()) {
    commandLine.push_back(L' ');
    commandLine.append(*arguments);
  }
  return commandLine;
}

CreateProcessFunction createProcess = CreateProcessW;
ShellExecuteExFunction shellExecuteEx = ShellExecuteExW;
bool (*runsAsSystem)() = System::RunsAsSystem;
ShellStartFunction startThroughShell = StartThroughShell;

namespace {

constexpr wchar_t kRunProcessName[] = L"Deploy::RunProcess";
// What CreateProcessW gives, under UAC, for a program whose manifest requires
// administrator rights; mingw-w64's headers do not name it.
constexpr DWORD kElevationRequired = 740;

// Waits for the process when asked, and logs and keeps its exit code.
void Finish(HANDLE process, bool wait, DWORD* exitCode) {
  if (!wait) return;
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  LogInfo(L"%s - exit code: %d", kRunProcessName, static_cast<int>(code));
  if (exitCode) *exitCode = code;
}

// The same program through the consent prompt: what a program that must run
// as an administrator needs, where the launcher itself runs as the user.
Result RunElevated(std::wstring_view program, const std::optional<std::wstring>& arguments, bool wait,
                   DWORD* exitCode, Elevation& elevation, const InstallerStart* installer) {
  if (!elevation.owner) {
    LogError(L"%s - the installer needs elevation", kRunProcessName);
    return RESULT_ERROR;
  }
  // The prompt elevates the launcher, which stages the installer where the
  // user's programs cannot write, rather than the installer in the run folder.
  const bool staged = installer && !installer->staged.empty();
  wchar_t self[MAX_PATH] = L"";
  if (staged && !GetModuleFileNameW(nullptr, self, MAX_PATH)) return RESULT_ERROR;
  const std::wstring file = staged ? std::wstring(self) : std::wstring(program);
  SHELLEXECUTEINFOW execute{};
  execute.cbSize = sizeof execute;
  execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  execute.hwnd = elevation.owner;  // brings the prompt to the front, above the run's window
  execute.lpVerb = L"runas";
  execute.lpFile = file.c_str();
  execute.lpParameters = staged ? installer->staged.c_str()
                        : arguments && !arguments->empty() ? arguments->c_str()
                                                           : nullptr;
  execute.lpDirectory = installer && !installer->folder.empty() ? installer->folder.c_str() : nullptr;
  execute.nShow = SW_SHOWNORMAL;
  if (!shellExecuteEx(&execute)) {
    if (GetLastError() == ERROR_CANCELLED) {
      LogWarning(L"%s - elevation refused", kRunProcessName);
      elevation.refused = true;
      return RESULT_FAILED;
    }
    return RESULT_ERROR;
  }
  if (!execute.hProcess) return RESULT_ERROR;  // nothing was started that could be waited for
  const UniqueHandleOwner process(execute.hProcess);
  Finish(process.get(), wait, exitCode);
  return RESULT_PASSED;
}

// Whether the process was made from the held file. A folder with an open
// file below it cannot be renamed, so while the file is held the name that
// the process was made from still leads to the file it was made from.
bool ImageIs(HANDLE process, HANDLE held) {
  std::wstring image(MAX_PATH, L'\0');
  DWORD length = static_cast<DWORD>(image.size());
  if (!QueryFullProcessImageNameW(process, 0, image.data(), &length)) {
    image.assign(32768, L'\0');
    length = static_cast<DWORD>(image.size());
    if (!QueryFullProcessImageNameW(process, 0, image.data(), &length)) return false;
  }
  image.resize(length);
  return System::IsSameFile(held, image);
}

}  // namespace

bool InstallerEnvironment(const std::wstring& folder, std::wstring& temp, std::wstring& environment) {
  temp.clear();
  environment.clear();
  if (!System::RunHasAdministratorRights()) return true;
  std::wstring parent = folder.empty() ? System::MadeRunFolder().value_or(L"") : folder;
  if (parent.empty()) {
    parent = System::ReplaceSpecials(System::kTempFolder);
    if (!System::RunFolderOf(parent) || System::MakeRunFolder(parent) != RESULT_PASSED) return false;
  }
  // What an installer unpacks and loads from there, nobody below it can plant.
  temp = System::JoinPath(parent, L"InstallerTemp");
  if (System::MakeAdministratorsFolder(temp) != RESULT_PASSED) {
    temp.clear();
    return false;
  }
  environment = System::AdministratorEnvironment(temp);
  if (environment.empty())
    LogError(L"%s - the machine's environment cannot be read, GetLastError: %d", kRunProcessName,
             static_cast<int>(GetLastError()));
  return !environment.empty();
}

Result RunProcess(std::wstring_view program, const std::optional<std::wstring>& arguments, bool wait,
                  DWORD* exitCode, Elevation* elevation, const InstallerStart* installer) {
  std::wstring commandLine = CommandLine(program, arguments);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  const bool checked = installer && installer->image;
  const wchar_t* folder = installer && !installer->folder.empty() ? installer->folder.c_str() : nullptr;
  std::wstring environment = installer ? installer->environment : std::wstring();
  const DWORD flags = (checked ? CREATE_SUSPENDED : 0) | (environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT);
  if (!createProcess(nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags,
                     environment.empty() ? nullptr : environment.data(), folder, &startup, &process)) {
    if (elevation && GetLastError() == kElevationRequired)
      return RunElevated(program, arguments, wait, exitCode, *elevation, installer);
    return RESULT_ERROR;
  }
  UniqueHandleOwner processHandle(process.hProcess), threadHandle(process.hThread);
  if (checked) {
    if (!ImageIs(processHandle.get(), installer->image)) {
      TerminateProcess(processHandle.get(), ERROR_ACCESS_DENIED);
      LogError(L"%s - %s is not the file that was verified", kRunProcessName, std::wstring(program).c_str());
      return RESULT_ERROR;
    }
    ResumeThread(threadHandle.get());
  }
  Finish(processHandle.get(), wait, exitCode);
  return RESULT_PASSED;
}

namespace {

// Where this run stands against the desktop's shell: kFailed when the
// shell is below it, so that a start through the shell comes out lower.
ShellStart LevelOfShell() {
  if (!System::RunsAboveUser()) return ShellStart::kSameLevel;
  DWORD shellProcess = 0;
  HWND shell = GetShellWindow();
  if (!shell || !GetWindowThreadProcessId(shell, &shellProcess) || !shellProcess) return ShellStart::kNoShell;
  const UniqueHandleOwner process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcess));
  if (!process) return ShellStart::kNoShell;
  return System::IsElevated(process.get()) ? ShellStart::kSameLevel : ShellStart::kFailed;
}

// A BSTR-holding VARIANT, cleared when it goes.
struct Variant {
  VARIANT value{};
  explicit Variant(const std::wstring& text) {
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(text.c_str());
  }
  Variant() = default;
  ~Variant() { VariantClear(&value); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
};

}  // namespace

ShellStart StartThroughShell(const std::wstring& program, const std::wstring& arguments) {
  using Microsoft::WRL::ComPtr;
  const ShellStart level = LevelOfShell();
  if (level != ShellStart::kFailed) return level;
  const HRESULT initialized = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const ScopeExit uninitialize([&] {
    if (SUCCEEDED(initialized)) CoUninitialize();
  });
  // The desktop's folder view, and through it the shell's automation object,
  // whose ShellExecute runs in the shell's process.
  ComPtr<IShellWindows> windows;
  ComPtr<IDispatch> desktop, background, application;
  ComPtr<IServiceProvider> provider;
  ComPtr<IShellBrowser> browser;
  ComPtr<IShellView> view;
  ComPtr<IShellFolderViewDual> folderView;
  ComPtr<IShellDispatch2> shell;
  Variant none;
  long window = 0;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&windows))) ||
      windows->FindWindowSW(&none.value, &none.value, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop) != S_OK ||
      !desktop || FAILED(desktop.As(&provider)) ||
      FAILED(provider->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&browser))) ||
      FAILED(browser->QueryActiveShellView(&view)) ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(&background))) ||
      FAILED(background.As(&folderView)) || FAILED(folderView->get_Application(&application)) ||
      FAILED(application.As(&shell)))
    return ShellStart::kFailed;
  Variant file(program), parameters(arguments), folder(System::ParentFolder(program)), verb(L"open"), show;
  show.value.vt = VT_I4;
  show.value.lVal = SW_SHOWNORMAL;
  return SUCCEEDED(shell->ShellExecute(file.value.bstrVal, parameters.value, folder.value, verb.value, show.value))
             ? ShellStart::kStarted
             : ShellStart::kFailed;
}

namespace {
// A path with a blank would reach a client that reads its arguments as two:
// its short form has none, and reads the same raw or split; where the volume
// keeps no short names, it goes in double quotes.
std::wstring WholeConfigPath(const std::wstring& path) {
  if (path.find(L' ') == std::wstring::npos) return path;
  std::wstring shortPath(MAX_PATH, L'\0');
  const DWORD length = GetShortPathNameW(path.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
  if (length > 0 && length < shortPath.size()) {
    shortPath.resize(length);
    if (shortPath.find(L' ') == std::wstring::npos) return shortPath;
  }
  return L"\"" + path + L"\"";
}
}  // namespace

std::wstring ClientArguments(std::wstring_view configPath, std::wstring_view launchArgs) {
  std::wstring arguments;
  if (!configPath.empty()) {
    arguments = L"/l";
    arguments.append(WholeConfigPath(std::wstring(configPath)));
  }
  if (!launchArgs.empty()) {
    if (!arguments.empty()) arguments.push_back(L' ');
    arguments.append(launchArgs);
  }
  return arguments;
}

Result FindClient(std::wstring& program, std::wstring& arguments) {
  const Config::RunSettings& settings = Config::Settings();
  const std::optional<std::wstring> key = CondString::Evaluate(settings.launchRegKey);
  const std::optional<std::wstring> configPath = CondString::Evaluate(settings.configPath);
  const std::optional<std::wstring> launchArgs = CondString::Evaluate(settings.launchArgs);
  if (!key || key->empty()) return RESULT_FAILED;

  std::wstring folder;
  if (System::ReadRegistryText(*key, folder) != RESULT_PASSED) return RESULT_ERROR;
  program = System::JoinPath(folder, Condition::kClientPrograms[0]);
  arguments = ClientArguments(configPath.value_or(L""), launchArgs.value_or(L""));
  return RESULT_PASSED;
}

Result LaunchApplication() {
  std::wstring program, arguments;
  const Result found = FindClient(program, arguments);
  EndHeadStart();  // a window still to be made may start now, beside the client
  if (found != RESULT_PASSED) return found;
  if (runsAsSystem()) {
    LogWarning(L"%s - not started as SYSTEM: the client starts at the user's next launch",
               L"Deploy::LaunchApplication");
    return RESULT_FAILED;
  }
  // An administrator's elevated run leaves the client at the user's level,
  // or does not start it: the folder it runs from is one the user's programs can change.
  switch (startThroughShell(program, arguments)) {
    case ShellStart::kStarted:
      return RESULT_PASSED;
    case ShellStart::kSameLevel:
      break;
    case ShellStart::kNoShell:
      LogWarning(L"%s - no shell window to start the client at the user's level: it is not started elevated",
                 L"Deploy::LaunchApplication");
      return RESULT_FAILED;
    case ShellStart::kFailed:
      LogWarning(L"%s - the shell could not start the client at the user's level: it is not started elevated",
                 L"Deploy::LaunchApplication");
      return RESULT_FAILED;
  }
  // In its own folder, not in the one the launcher was started from.
  const InstallerStart start{nullptr, System::ParentFolder(program), {}, {}};
  return RunProcess(program, arguments, false, nullptr, nullptr, &start);
}

}  // namespace Deploy
