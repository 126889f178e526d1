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

// Whether the process was started in that mode: the switch is its first argument.
bool StagedInstallRequested();

// The arguments that start the mode for the installer at `installer` (a
// file of the run folder), the client configuration at `configPath` and the
// install context, followed by this process's own arguments, so that the
// document's conditions read the same flags there.
std::wstring StagedInstallArguments(const std::wstring& installer, const std::wstring& configPath, int context);

// Runs the mode, with the log off (the user's log is the run's). Takes from
// the embedded document the installer and every component beside it (the
// same dest) that is in the installer's folder, opens each there, checks its size, digests
// and signer, copies it into a new folder under ProgramData made for SYSTEM
// and the Administrators alone, checks the copy again through its own
// handle and holds it; runs the installer there, in that folder, and waits.
// Returns the installer's exit code; kExitFailed (1603) when anything is
// missing or different, or the installer cannot be started. The folder is
// removed in every case.
int RunStagedInstall();

}  // namespace Deploy
