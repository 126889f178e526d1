#pragma once

#include <windows.h>

namespace App {

// The module that holds the string table and the dialog templates.
HINSTANCE Instance() noexcept;

// The program's work behind `WinMain`. Returns the process exit code.
int Main(HINSTANCE instance);

}  // namespace App
