#pragma once

#include <string>

// The environment that a program started with the launcher's administrator
// rights gets: nothing in it comes from what the user's own programs can set.
namespace System {

// An environment block for CreateProcessW with CREATE_UNICODE_ENVIRONMENT:
// this process's variables, in their order, but every variable that the
// machine defines (Path, ComSpec, PATHEXT, windir and the rest) with the
// machine's own value, whatever the user set, and TMP and TEMP naming
// `temp`. The profile's variables (USERPROFILE, APPDATA and the like) and
// PROCESSOR_ARCHITECTURE stay the launcher's. Empty when the machine's
// variables cannot be read. Logs nothing.
std::wstring AdministratorEnvironment(const std::wstring& temp);

}  // namespace System
