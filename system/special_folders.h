#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "log/temp_folder.h"  // UserTempFolder
#include "system/result.h"

// The special-folder tokens that a configured path may start with:
//   "[SystemFolder]"  the system directory
//   "[TempFolder]"    the user's temp directory and this process's run folder
//   "[ExeFolder]"     the folder of the program's own executable
// Letter case counts, and only a token at the very start is resolved.
namespace System {

inline constexpr std::wstring_view kSystemFolder = L"[SystemFolder]";
inline constexpr std::wstring_view kTempFolder = L"[TempFolder]";
inline constexpr std::wstring_view kExeFolder = L"[ExeFolder]";
inline constexpr std::wstring_view kSpecialFolders[] = {kSystemFolder, kTempFolder, kExeFolder};

// The longest path ReplaceSpecials gives; a longer one is cut to it.
inline constexpr size_t kMaxResolvedChars = 1023;

// The text with a leading token resolved: the folder, one separator, then the
// rest of the text after the token (one "\" or "/" right after it is
// dropped). A token alone gives the folder without a trailing separator. A
// text without a token, or with one that cannot be resolved, comes back as it
// is. The run folder is not created here.
std::wstring ReplaceSpecials(std::wstring_view text);

// The run folder's name, "QV" and 8 upper-case hexadecimal digits: made from
// a new GUID at the first "[TempFolder]" of the process, then kept, so that
// every component of one run lands in the same folder. Logs
// "CoCreateGuid Failed" when there is no GUID, and still makes a name.
const std::wstring& RunFolderName();

// A new name of the run folder's form, from a new GUID: for a folder of
// this process's own elsewhere. Logs as RunFolderName does.
std::wstring NewFolderName();

// Makes `name` (of the run folder's form) the run folder's name for
// "[TempFolder]", before anything has chosen one: the launcher that runs
// the installer for another reads that one's document as that one resolved
// it. The folder is that launcher's: this process never makes or removes
// it. False, and nothing changed, when the name has another form or a name
// was chosen already.
bool AdoptRunFolderName(const std::wstring& name);

// This process's run folder when `path` is it or lies inside it (letter case
// aside); nothing while no "[TempFolder]" has been resolved.
std::optional<std::wstring> RunFolderOf(std::wstring_view path);

// The run folder, once this process has made it.
std::optional<std::wstring> MadeRunFolder();

// Makes the run folder, with a DACL of its own that nothing above it can
// widen: full control for SYSTEM, the Administrators and the user running
// the launcher, inherited by what is made in it. A run with administrator
// rights (System::RunsElevated) gives the user read and run only, and a high
// integrity label that keeps the user's unelevated programs from writing. RESULT_PASSED when this
// process has made it; RESULT_ERROR when it cannot (logged "Unable to Create
// Directory"), or when a folder of its name is there already: the name is
// random, so someone else made it, and it is never used (logged; every later
// call refuses too).
Result MakeRunFolder(const std::wstring& path);

// Makes one folder with the DACL of a user's run folder (full control for
// SYSTEM, the Administrators and the user, nothing inherited). RESULT_PASSED
// when this process made it; RESULT_ERROR, logged as MakeRunFolder logs, when
// it cannot, or when it is there already.
Result MakeProtectedFolder(const std::wstring& path);

// Makes one folder for SYSTEM and the Administrators alone
// ("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"). As MakeProtectedFolder otherwise.
Result MakeAdministratorsFolder(const std::wstring& path);

// Whether the run has administrator rights: System::RunsElevated, or what a
// test's Detail::SetElevationSource says.
bool RunHasAdministratorRights();

namespace Detail {
// Test seams: where GUIDs come from, and forgetting the run folder's name
// (and whether it was made or refused).
using GuidSource = HRESULT(WINAPI*)(GUID*);
void SetGuidSource(GuidSource source);
// Whether the run has administrator rights; null puts System::RunsElevated back.
using ElevationSource = bool (*)();
void SetElevationSource(ElevationSource source);
void ForgetRunFolderName();
// The SDDL that the run folder's descriptor is made from (its DACL and
// label); empty when no descriptor can be made from it.
std::wstring RunFolderSddl();
}  // namespace Detail

}  // namespace System
