#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace Deploy {

// The process exit codes of a run, after Windows Installer's conventions, so
// that deployment tools that read only the exit code see what happened.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUserDeclined = 1602;  // a first installation refused, or the run cancelled
inline constexpr int kExitFailed = 1603;        // an error was reported, or nothing was installed
inline constexpr int kExitRebootRequired = 3010;  // installed; the installer asks for a restart
inline constexpr int kExitRebootStarted = 1641;   // installed; the installer started a restart

// The deployment, on the worker thread, stage after stage: read the
// configuration, apply the command line, decide with the user, check and
// fetch the components, copy the client's configuration, run the installer,
// verify, and launch the client. Every failure is shown to the user and
// closes the later stages; the lists are cleared at the end.
void Run();

// The exit code of the last run: kExitSuccess, kExitUserDeclined,
// kExitFailed, or the installer's kExitRebootRequired or kExitRebootStarted.
int ExitCode();

// The text of message `id`, with the product name and `version` filled in.
std::wstring Message(UINT id, const std::wstring& version = {});

// Whether the condition of that name exists and passes.
bool Passes(const wchar_t* conditionName);

// Whether the flag of that name exists and is set.
bool FlagIsSet(const wchar_t* name);

// The setting's value, a conditional string resolved; empty when absent.
std::wstring Evaluated(const std::optional<std::wstring>& setting);

// A quiet run takes every decision that a silent one takes: sets "silent"
// when "quiet" is set.
void ApplyQuietFlag();

// The installer's arguments: its configured ones, one blank, and
// QV_CONFIG_PATH="<configuration path>"; nothing when neither is configured.
// With `configPath`, that path rather than the configured one.
std::optional<std::wstring> InstallerArguments(const std::wstring* configPath = nullptr);

}  // namespace Deploy
