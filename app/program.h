#pragma once

#include <windows.h>

#include <string_view>

namespace App {

// The program's work behind `WinMain`: confines the DLL search to the system
// folder, picks the language, brings a launcher that is already running
// forward (and then ends with 0, logging nothing), or runs the main window.
// Returns the process exit code.
int Main(HINSTANCE instance);

// The string table offset of a locale name such as "fr-CA": its first two
// characters pick the language; anything else is English (0).
int LanguageOffsetFor(std::wstring_view localeName);

// Brings a running launcher's window, or its open dialog, to the front.
// False when no launcher is running.
bool ActivateRunningLauncher();

}  // namespace App
