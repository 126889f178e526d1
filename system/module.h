#pragma once

#include <windows.h>

// The module that holds the string table, the dialog templates and the
// embedded documents: the program's own, unless the entry said otherwise.
namespace System {

// The module set by SetModuleInstance, else the process's executable.
HINSTANCE ModuleInstance() noexcept;

// Called once by the program's entry with the instance that it was given.
void SetModuleInstance(HINSTANCE instance) noexcept;

}  // namespace System
