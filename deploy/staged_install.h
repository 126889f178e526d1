#pragma once

#include <string>

// The launcher's narrow elevated mode. An installer that needs the consent
// prompt is not started from the user's run folder, which the user's own
// programs can write to: the prompt elevates the launcher itself, which
// copies the installer's files into a folder of its own that only SYSTEM
// and the Administrators can write, checks them there against its own
// embedded document, runs the installer from there and removes the folder.
namespace Deploy {

inline constexpr wchar_t kStagedInstallSwitch[] = L"/stageinstall";
// The mode's own log, beside the user's, which is the waiting run's.
inline constexpr wchar_t kStagedLogName[] = L"VantorLauncher-elevated.log";

// Whether the process was started in that mode: the switch is its first argument.
bool StagedInstallRequested();

// The arguments that start the mode for the installer at `installer` (a
// file of the run folder) and the install context, followed by this
// process's own arguments, so that the document's conditions read the same
// flags there.
std::wstring StagedInstallArguments(const std::wstring& installer, int context);

// Runs the mode. Takes nothing from its caller that it cannot check: the
// installer's path must be a full path on a local fixed disk, with no quote
// or control character, and the document's own installer, in its `dest`
// as the caller resolved it (for "[TempFolder]", a run folder of this
// user's temp folder); the context must be 0, 1 or 2. Anything else is
// refused with one line that names it ("Deploy::RunStagedInstall - refused
// ..."). Then takes from the embedded document the installer and every
// component beside it (the same dest) that is there, opens each without
// following a link (a file of several names is accepted), checks its size,
// digests and signer through that handle, copies it into a new folder under
// ProgramData made for SYSTEM and the Administrators alone, checks the copy
// again through its own handle and holds it; writes the client's
// configuration there from its own document; runs the installer there, in
// that folder, with InstallerEnvironment, and waits. Returns the installer's
// exit code; kExitFailed (1603) when anything is refused, missing or
// different, or the installer cannot be started. The folder is removed in
// every case.
int RunStagedInstall();

}  // namespace Deploy
