#pragma once

#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <string_view>

#include "system/result.h"

namespace Deploy {

// The command line of a program: its path in double quotes, then one blank
// and the arguments when there are any.
std::wstring CommandLine(std::wstring_view program, const std::optional<std::wstring>& arguments);

// For a program that may ask for elevation: who owns the consent prompt,
// and what became of it.
struct Elevation {
  HWND owner = nullptr;  // null: nobody may be asked, as in a quiet run
  bool refused = false;  // set when the user refused the prompt
};

// What an installer's start adds to a plain one: the held file that must be
// the started program's image, the folder that it runs in, the arguments
// that start the launcher itself in its staged mode, should it need the
// consent prompt (empty: the installer itself goes through it), and the
// environment block that it gets (empty: the launcher's own).
struct InstallerStart {
  HANDLE image = nullptr;
  std::wstring folder;
  std::wstring staged;
  std::wstring environment;
};

// The two ways RunProcess starts a program; tests put stand-ins here to see
// a start refused as Windows refuses it.
using CreateProcessFunction = BOOL(WINAPI*)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                            DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
using ShellExecuteExFunction = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
extern CreateProcessFunction createProcess;
extern ShellExecuteExFunction shellExecuteEx;
// Whether the run is the local system account's; a test seam.
extern bool (*runsAsSystem)();
// What a start through the desktop's shell came to.
enum class ShellStart {
  kStarted,    // the shell started it, at the user's own level
  kSameLevel,  // this run is not above the user's level, or the shell is not below it: nothing started
  kNoShell,    // this run is above the user's level, and no shell window tells where that is: nothing started
  kFailed,     // the shell could not start it
};
// Starts a program through the desktop's shell, at the shell's own level,
// without waiting. A test seam for StartThroughShell.
using ShellStartFunction = ShellStart (*)(const std::wstring& program, const std::wstring& arguments);
extern ShellStartFunction startThroughShell;
ShellStart StartThroughShell(const std::wstring& program, const std::wstring& arguments);

// Starts a program: its path in double quotes, then one blank and the
// arguments when there are any. Waits for it to end when `wait` is set, and
// then logs "Deploy::RunProcess - exit code: <code>" and stores the code in
// `exitCode` when given. RESULT_PASSED when it started, RESULT_ERROR when
// not (not logged).
// With `elevation`, a program whose manifest requires administrator rights
// (ERROR_ELEVATION_REQUIRED) is started once more through the consent prompt
// ("runas", the same arguments, owned by `elevation->owner`) and waited for
// in the same way; with `installer->staged`, the launcher itself is, with
// those arguments, and its exit code is the installer's. A refused prompt is logged "elevation refused", sets
// `refused` and gives RESULT_FAILED; with no owner nobody is asked, and "the
// installer needs elevation" is logged with RESULT_ERROR.
// With `installer`, the program runs in `installer->folder`, with
// `installer->environment` when given, and it is started suspended and let
// run only when its image is `installer->image`; otherwise it is ended
// unrun, "<program> is not the file that was verified" is logged, and the
// result is RESULT_ERROR.
Result RunProcess(std::wstring_view program, const std::optional<std::wstring>& arguments, bool wait,
                  DWORD* exitCode = nullptr, Elevation* elevation = nullptr,
                  const InstallerStart* installer = nullptr);

// The environment of an installer that a run with administrator rights
// starts: `temp`, a new folder "InstallerTemp" in `folder` (the run folder,
// made when it is not yet, where `folder` is empty) that only SYSTEM and the
// Administrators can write, and `environment`, the block of
// System::AdministratorEnvironment for it. Both stay empty in a run without
// those rights: the installer keeps the launcher's environment. False when
// the folder or the block cannot be made (logged), and the installer is
// then not to be started.
bool InstallerEnvironment(const std::wstring& folder, std::wstring& temp, std::wstring& environment);

// The client's arguments: "/l" directly followed by the configuration path,
// then one blank and the launch arguments; either part only when given. A
// path with a blank is given in its short form, which has none, or, where
// there is none, in double quotes.
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
// the folder cannot be read or the client cannot be started. Logs nothing,
// but for a run as SYSTEM: the client is then not started, since nobody
// would see it and it would hold SYSTEM's rights; that is logged "not
// started as SYSTEM", and the result is RESULT_FAILED. A run above the
// user's own level starts the client through the shell, at that level;
// where the shell cannot, or there is no shell window, that is logged, the
// client is not started, and the result is RESULT_FAILED. A direct start
// runs the client in its own folder.
Result LaunchApplication();

}  // namespace Deploy
