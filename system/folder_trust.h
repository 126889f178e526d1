#pragma once

#include <optional>
#include <string>
#include <string_view>

// Whether a run with administrator rights may use a folder that a document
// names: one that another user could have made, or can still write to, could
// hold a DLL that the installer, running with those rights, would load.
namespace System {

// A level of a folder's path that is not to be trusted, and why.
struct Distrust {
  std::wstring level;
  std::wstring why;  // "is a link or junction", "is owned by <SID>", "can be written by <SID>"
};

// Checks each level of `path` that exists, from the top down: it must be no
// link or junction, and owned by SYSTEM, the Administrators, TrustedInstaller
// or the user running the launcher; no one else may delete or rename what is
// in it, delete or rename it, or change its DACL or owner; and no one else
// may add a file to the folder that `path` names. Adding a file or a folder
// above it does not count: a subfolder that someone else makes on the way is
// a level owned by them. Nothing when every level passes (or nothing of the
// path exists); otherwise the first level that does not. A level whose owner
// or DACL cannot be read does not pass. Logs nothing.
std::optional<Distrust> UntrustedLevel(std::wstring_view path);

namespace Detail {
// The owner and DACL of a folder as SDDL; false when they cannot be read. A
// test seam: Wine keeps no owners or ACLs on files. Null puts the real query back.
using SecurityQuery = bool (*)(const std::wstring& folder, std::wstring& sddl);
void SetSecurityQuery(SecurityQuery query);
}  // namespace Detail

}  // namespace System
