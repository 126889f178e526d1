#pragma once

#include <windows.h>

namespace System {

// 1 when the user is an administrator: the process runs with the rights of
// the Administrators group, or the user has a split token and can elevate.
// 0 otherwise; a failed system call counts as "no".
int UserIsAdmin();

// True when the process token's elevation type is full or limited, that is,
// the user has a split token. Logs the type found at warning level.
bool UserHasSplitToken();

// True when the process runs as the local system account (S-1-5-18), as a
// deployment tool's service runs it. False when it cannot be told. Logs
// nothing.
bool RunsAsSystem();

// True when the process's token is elevated. False when it cannot be told.
// Logs nothing.
bool IsElevated(HANDLE process);

// True when the process runs above the user's own level: its token is one
// half of a split token, and the other, the one that the user's own programs
// run with, has a lower integrity level. False with UAC off, for a token
// that is not split, and when it cannot be told. Logs nothing.
bool RunsAboveUser();

// True when the process has administrator rights that programs of the user
// below it lack: its token is elevated, or it runs as SYSTEM. False when it
// cannot be told. Logs nothing.
bool RunsElevated();

}  // namespace System
