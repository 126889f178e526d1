#pragma once

#include <optional>
#include <string>

// The folder of the download cache, which keeps what downloads brought from
// one run to the next: one for each user, under the user's local application
// data, for a run as that user; one for the machine, under ProgramData, for a
// run as SYSTEM or with administrator rights.
namespace System {

// The cache folder of this run, made on first use with a DACL of its own
// (SYSTEM, the Administrators and, for a user's cache, the user; nothing
// inherited). A folder that is there already is used only where it is the
// launcher's: no link or junction on its way, owned by SYSTEM, the
// Administrators or the user running the launcher, and no one else able to
// write to it (System::UntrustedLevel). Nothing when there is none to use,
// logged once: "System::DownloadCacheFolder - <level> <why>: this run keeps
// no download cache". The answer is kept for the process. Without `make`, a
// folder that is not there is not made, and nothing is kept.
std::optional<std::wstring> DownloadCacheFolder(bool make = true);

namespace Detail {
// Test seam: the folder that the cache folder is made in, instead of the
// user's or the machine's; an empty one: no cache at all, unlogged; nothing
// puts them back. Forgets the kept answer.
void SetCacheRoot(const std::optional<std::wstring>& root);
}  // namespace Detail

}  // namespace System
