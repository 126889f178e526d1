#pragma once

#include <string>

// Where the process looks for the DLLs that it loads. Windows looks in the
// program's own folder first for any DLL that is not a KnownDLL, so that a
// DLL put beside the program would run its code in the program.
namespace System {

// Makes the process take every DLL that it loads from now on from the system
// folder only: through SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)
// where the system has it, else by taking the current folder out of the
// search and loading each delay-loaded DLL by its full path in the system
// folder. Call it first thing in a program, before any delay-loaded function
// (msi, urlmon, version, wininet) is called. Logs nothing; where neither
// works, the search stays as it was.
void RestrictDllSearch() noexcept;

// "<this program's path>.local" when a file or a folder of that name is
// there: Windows may then take the side-by-side DLLs that the program loads,
// the common controls among them, from that folder. Empty when there is
// none. Loads nothing, so that it can be asked before any DLL but the
// KnownDLLs is loaded; logs nothing.
std::wstring LocalRedirection() noexcept;

}  // namespace System
