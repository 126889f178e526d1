#pragma once

#include <windows.h>

#include <string_view>

#include "system/unique_handle.h"

namespace App {

// The program's work behind `WinMain`: confines the DLL search to the system
// folder, picks the language, brings a launcher that is already running
// forward (and then ends with 0, logging nothing), or runs the main window.
// Returns the process exit code.
int Main(HINSTANCE instance);

// The string table offset of a locale name such as "fr-CA": its first two
// characters pick the language; anything else is English (0).
int LanguageOffsetFor(std::wstring_view localeName);

// The exit code of a quiet launcher that finds another launcher running:
// Windows Installer's ERROR_INSTALL_ALREADY_RUNNING.
inline constexpr int kExitAlreadyRunning = 1618;

// The exit code of a launcher that finds "<its path>.local" beside it and
// does not run: Windows Installer's ERROR_INSTALL_PACKAGE_REJECTED.
inline constexpr int kExitLocalRedirection = 1625;

// Held by a run for as long as it lasts, one per session.
inline constexpr wchar_t kRunMutexName[] = L"Local\\TesselLauncherRun";

// Claims the session's run: the mutex, or nothing when another launcher holds it.
UniqueHandleOwner ClaimRun();

// A run with no window, no dialog and no message box: nothing at all, and
// kExitAlreadyRunning, when another launcher runs; else the run's exit code,
// with its errors and notices in the log.
int RunQuietly();

// A detect run: a report of what a run would find and do, and its exit code.
// It changes nothing and needs no claim on the session's run.
int RunDetect();

// Brings a running launcher's window, or its open dialog, to the front.
// False when no launcher is running.
bool ActivateRunningLauncher();

}  // namespace App
