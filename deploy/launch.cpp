#include "deploy/launch.h"

#include <windows.h>

#include <vector>

#include "conditions/version.h"
#include "config/cond_string.h"
#include "config/run_settings.h"
#include "system/file_system.h"
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

Result RunProcess(std::wstring_view program, const std::optional<std::wstring>& arguments, bool wait,
                  DWORD* exitCode) {
  std::wstring commandLine = CommandLine(program, arguments);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return RESULT_ERROR;
  }
  UniqueHandleOwner processHandle(process.hProcess), threadHandle(process.hThread);
  if (wait) {
    WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(processHandle.get(), &code);
    LogInfo(L"%s - exit code: %d", L"Deploy::RunProcess", static_cast<int>(code));
    if (exitCode) *exitCode = code;
  }
  return RESULT_PASSED;
}

std::wstring ClientArguments(std::wstring_view configPath, std::wstring_view launchArgs) {
  std::wstring arguments;
  if (!configPath.empty()) {
    arguments = L"/l";
    arguments.append(configPath);
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
  return found == RESULT_PASSED ? RunProcess(program, arguments, false) : found;
}

}  // namespace Deploy
