#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "system/result.h"

namespace Deploy {

// The command line of a program: its path in double quotes, then one blank
// and the arguments when there are any.
std::wstring CommandLine(std::wstring_view program, const std::optional<std::wstring>& arguments);

// Starts a program: its path in double quotes, then one blank and the
// arguments when there are any. Waits for it to end when `wait` is set, and
// then logs "Deploy::RunProcess - exit code: <code>" and stores the code in
// `exitCode` when given. RESULT_PASSED when it started, RESULT_ERROR when
// not (not logged).
Result RunProcess(std::wstring_view program, const std::optional<std::wstring>& arguments, bool wait,
                  DWORD* exitCode = nullptr);

// The client's arguments: "/l" directly followed by the configuration path,
// then one blank and the launch arguments; either part only when given.
std::wstring ClientArguments(std::wstring_view configPath, std::wstring_view launchArgs);

// The installed client and its ClientArguments: "VantorConnect.exe" in the
// folder that the launch registry value names. RESULT_FAILED when no launch
// registry key is configured; RESULT_ERROR when the folder cannot be read.
// Logs nothing.
Result FindClient(std::wstring& program, std::wstring& arguments);

// Starts the installed client, without waiting: "VantorConnect.exe" in the
// folder that the launch registry value names, with ClientArguments.
// RESULT_PASSED when started; RESULT_FAILED when no launch registry key is
// configured (nothing is started, and it is not an error); RESULT_ERROR when
// the folder cannot be read or the client cannot be started. Logs nothing.
Result LaunchApplication();

}  // namespace Deploy
