#pragma once

#include <windows.h>

#include <string>

// The one temporary folder of the process, for the log, the run folder,
// "[TempFolder]" and the detect report. It sits beside the log, the lowest
// layer, since the log needs it too.
namespace System {

// GetTempPath2W where the system has it: for a process that runs as SYSTEM
// it gives C:\Windows\SystemTemp, which only SYSTEM and administrators can
// use, where GetTempPathW gives C:\Windows\Temp, where every user may add
// files. For everyone else both give the same. GetTempPathW elsewhere. With
// its trailing separator; empty when there is none or it is too long.
std::wstring UserTempFolder();

// Whether an open file is a file of its own: neither a reparse point (a
// link, opened with FILE_FLAG_OPEN_REPARSE_POINT) nor one of several hard
// links. In a temp folder where others may add files, a name someone linked
// to another file must not be written through.
bool IsPlainFile(HANDLE file);

// A SID as text ("S-1-5-18"); empty when it cannot be converted.
std::wstring SidText(PSID sid);

// The SID of the user that the process runs as, as text; empty when the
// token cannot be read.
std::wstring RunningUserSid();

// Whether an open file (opened with READ_CONTROL) belongs to SYSTEM, the
// Administrators or the user running the launcher. Where others may add
// files, as in C:\Windows\Temp, a file another user made first is theirs to
// read and change: it is never written into. False when the owner cannot be read.
bool HasTrustedOwner(HANDLE file);

namespace Detail {
// Test seam: a stand-in for GetTempPath2W; null looks it up in kernel32 again.
using TempPathFunction = DWORD(WINAPI*)(DWORD length, LPWSTR buffer);
void SetTempPath2Source(TempPathFunction source);
// Test seam: the owner of an open file, as a SID string; false when it cannot
// be read. Wine makes every file the user's. Null puts the real query back.
using OwnerQuery = bool (*)(HANDLE file, std::wstring& sid);
void SetOwnerQuery(OwnerQuery query);
}  // namespace Detail

}  // namespace System
