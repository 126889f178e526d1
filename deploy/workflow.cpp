#include "deploy/workflow.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <optional>
#include <string>

#include "components/component.h"
#include "conditions/condition.h"
#include "conditions/version.h"
#include "config/cond_string.h"
#include "config/command_line.h"
#include "config/flag.h"
#include "config/run_settings.h"
#include "deploy/embedded_config.h"
#include "deploy/frontend.h"
#include "deploy/launch.h"
#include "deploy/staged_install.h"
#include "deploy/lifecycle.h"
#include "deploy/text.h"
#include "log/log.h"
#include "system/file_system.h"
#include "system/privileges.h"

namespace Deploy {

namespace {

constexpr wchar_t kRunName[] = L"Deploy::Run";
int exitCode = kExitSuccess;

// What the run told the user, for its exit code.
struct Outcome {
  bool errorReported = false;
  bool declinedOrCancelled = false;
  bool installationSkipped = false;  // components were fetched for an installer that never ran
  DWORD rebootCode = 0;              // the installer's 3010 or 1641, when its installation verified
};

void ReportError(Outcome& outcome, UINT id) {
  outcome.errorReported = true;
  CurrentFrontend().ShowError(id, Message(id));
}

// Error 239: the megabytes still to be freed on the volume, rounded up.
void ReportShortage(Outcome& outcome, const Component::SpaceShortage& shortage) {
  constexpr UINT kNoSpace = 239;
  wchar_t megabytes[24];
  _snwprintf(megabytes, 24, L"%lu",
             static_cast<unsigned long>((shortage.needed - std::min(shortage.free, shortage.needed) + 999999) / 1000000));
  megabytes[23] = L'\0';
  std::wstring text, english;
  FormatText(text, LoadText(kNoSpace), kProductName, megabytes, shortage.volume.c_str());
  FormatText(english, LoadEnglishText(kNoSpace), kProductName, megabytes, shortage.volume.c_str());
  outcome.errorReported = true;
  CurrentFrontend().ShowError(kNoSpace, text, english);
}

// Question `id`, Yes/No; true when accepted.
bool Ask(UINT id, const std::wstring& text) {
  Frontend& frontend = CurrentFrontend();
  frontend.Restore();
  return frontend.Ask(id, text, LoadText(201), LoadText(202));
}

// Whether the installed client's program is where the registry says.
bool InstalledClientIsThere() {
  std::wstring program, arguments;
  return FindClient(program, arguments) == RESULT_PASSED && System::FileExists(program) == RESULT_PASSED;
}

bool SystemHasElevation() {
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  version.dwMajorVersion = 6;
  DWORDLONG mask = 0;
  mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  mask = VerSetConditionMask(mask, VER_SERVICEPACKMINOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(
      &version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR | VER_SERVICEPACKMINOR, mask);
}

}  // namespace

std::wstring Message(UINT id, const std::wstring& version) {
  std::wstring text;
  FormatText(text, LoadText(id), kProductName, version.c_str());
  return text;
}

bool Passes(const wchar_t* conditionName) {
  Condition::Record* condition = Condition::Find(conditionName);
  return condition && Condition::Evaluate(*condition) == RESULT_PASSED;
}

bool FlagIsSet(const wchar_t* name) {
  const Flag::Record* flag = Flag::Find(name);
  return flag && flag->value;
}

std::wstring Evaluated(const std::optional<std::wstring>& setting) {
  return CondString::Evaluate(setting).value_or(L"");
}

void ApplyQuietFlag() {
  if (FlagIsSet(L"quiet") && !FlagIsSet(L"silent")) {
    Flag::Record* silent = Flag::Find(L"silent");
    if (!silent) silent = Flag::Flag(L"silent");
    if (silent) silent->value = true;
  }
}

std::optional<std::wstring> InstallerArguments(const std::wstring* givenConfigPath) {
  const Config::RunSettings& settings = Config::Settings();
  const std::wstring args = Evaluated(settings.installerArgs);
  const std::wstring configPath = givenConfigPath ? *givenConfigPath : Evaluated(settings.configPath);
  std::optional<std::wstring> arguments;
  if (!args.empty() || !configPath.empty()) {
    arguments.emplace();
    FormatText(*arguments, L"%s %s=\"%s\"", args.c_str(), L"QV_CONFIG_PATH", configPath.c_str());
  }
  return arguments;
}

int ExitCode() {
  return exitCode;
}

void Run() {
  Outcome outcome;
  bool userDeclinedInstall = false, userDeclinedUpgrade = false, retrievalDone = false, adminRequired = false;
  bool installationVerified = false;
  bool updating = false;  // an installed client at or above the minimum is to be replaced
  bool configWritten = false;
  std::wstring installerTemp;  // the folder that an elevated run's installer has for its temp files
  Result installedNewer = RESULT_ERROR, installedEqual = RESULT_ERROR;
  const Config::RunSettings& settings = Config::Settings();

  // 1. Reading. A failure changes no result: the run goes on with what was parsed.
  Frontend& frontend = CurrentFrontend();
  frontend.ShowStatus(LoadText(205));
  if (ParseConfig() != RESULT_PASSED) ReportError(outcome, 206);
  const std::wstring packageVersion = settings.packageVersion.value_or(L"");

  // 2. Flags.
  const Result flagsResult = Parser::ParseCommandLineFlags();
  Result stage = flagsResult;
  if (flagsResult != RESULT_PASSED) ReportError(outcome, 207);
  ApplyQuietFlag();

  // 3. Decision.
  if (!CheckShutdownEvent() && flagsResult == RESULT_PASSED) {
    const std::wstring key = Evaluated(settings.launchRegKey);
    const Result upgradeable =
        Condition::CheckQvVersion(key, Evaluated(settings.minVersion), OP_GREATER_THAN_OR_EQUAL);
    installedNewer = Condition::CheckQvVersion(key, packageVersion, OP_GREATER_THAN);
    installedEqual = Condition::CheckQvVersion(key, packageVersion, OP_EQUAL);
    if (Passes(L"QvInstalled")) {
      // Installed and current: nothing to ask.
    } else if (!settings.packageVersion || FlagIsSet(L"silent")) {
      // A silent run installs without asking.
      updating = upgradeable == RESULT_PASSED;
    } else if (upgradeable == RESULT_PASSED) {
      userDeclinedUpgrade = !Ask(208, Message(208, packageVersion));
      updating = !userDeclinedUpgrade;
    } else if (Passes(L"InstallContextDlgShow")) {
      int choice =
          Passes(L"InstallContextDlgPerUserDefault") ? INSTALL_CONTEXT_USER : INSTALL_CONTEXT_MACHINE;
      const std::wstring text = Message(209, packageVersion);
      const std::wstring okText = LoadText(203), cancelText = LoadText(204);
      frontend.Restore();
      if (frontend.ChooseInstallContext(text, okText, cancelText, choice)) {
        installContext = choice;
        Condition::ResetCachedResults();  // every condition again, under the chosen context
      } else {
        userDeclinedInstall = true;
      }
    } else {
      userDeclinedInstall = !Ask(210, Message(210, packageVersion));
    }
    if (userDeclinedInstall) outcome.declinedOrCancelled = true;
  }

  // 4. Prerequisites.
  if (!CheckShutdownEvent() && !userDeclinedInstall && !userDeclinedUpgrade && stage == RESULT_PASSED) {
    frontend.ShowStatus(LoadText(211));
    Log::ForgetReason();
    stage = Component::CheckRequirements(adminRequired);
    if (!CheckShutdownEvent() && stage == RESULT_ERROR) ReportError(outcome, 212);
  }

  // 5. Privileges: before version 6.0 there is no elevation to leave to the installer.
  if (!CheckShutdownEvent() && stage == RESULT_FAILED && adminRequired) {
    if (System::UserIsAdmin() == 0 && !SystemHasElevation()) {
      ReportError(outcome, 213);
      stage = RESULT_ERROR;
    }
  }

  // 6. Retrieval.
  if (!CheckShutdownEvent() && stage == RESULT_FAILED) {
    frontend.Restore();
    frontend.ShowProgressStatus(LoadText(214));
    retrievalDone = true;
    Log::ForgetReason();
    stage = GatherComponents();
    if (!CheckShutdownEvent()) {
      if (stage == RESULT_PASSED) {
        if (LastProgressPosition() != 100) {
          LastProgressPosition() = 100;
          frontend.ShowProgress(100);
        }
      } else if (Component::transferShortage) {
        // Nothing was requested: another address would not make room.
        ReportShortage(outcome, *Component::transferShortage);
      } else if (!Component::transferAborted) {
        const std::wstring altUrl = Evaluated(settings.altUrl);
        if (!altUrl.empty()) {
          outcome.errorReported = true;  // whatever the answer, nothing was installed
          if (Ask(216, Message(216)))
            ShellExecuteW(nullptr, L"open", altUrl.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        } else {
          ReportError(outcome, 215);
        }
      }
    }
  }

  // 7. Nothing to install and nothing to launch: say what is there.
  if (!CheckShutdownEvent() && !userDeclinedInstall && !userDeclinedUpgrade && stage == RESULT_PASSED &&
      !retrievalDone && FlagIsSet(L"skiplaunch")) {
    const UINT notice = installedNewer == RESULT_PASSED ? 217 : installedEqual == RESULT_PASSED ? 218 : 219;
    if (notice == 219) outcome.errorReported = true;  // the installation cannot continue
    frontend.Restore();
    frontend.ShowNotice(notice, Message(notice));
  }

  // 8. The client's configuration, also after a refused upgrade.
  if (!CheckShutdownEvent() && !userDeclinedInstall && stage == RESULT_PASSED) {
    frontend.ShowStatus(Message(220));
    Log::ForgetReason();
    stage = WriteAppConfig();
    configWritten = stage == RESULT_PASSED;
    if (stage == RESULT_ERROR) ReportError(outcome, 221);
    // Without a configuration path the installer never runs: what was
    // fetched for it is not installed, which a deployment tool must hear.
    if (stage == RESULT_FAILED && retrievalDone) outcome.installationSkipped = true;
  }

  // 9. Installer.
  if (!CheckShutdownEvent() && !userDeclinedInstall && !userDeclinedUpgrade && stage == RESULT_PASSED &&
      retrievalDone) {
    frontend.ShowStatus(Message(222));
    Log::ForgetReason();
    const std::wstring installerName = Evaluated(settings.installerName);
    const Component::Record* installer = installerName.empty() ? nullptr : Component::Find(installerName);
    if (!installer) {
      ReportError(outcome, 227);
      stage = RESULT_ERROR;
    } else {
      frontend.Minimize();
      const std::optional<std::wstring> arguments = InstallerArguments();
      // Started only from the very file that was verified and is held.
      DWORD installerExit = 0;
      // A consent prompt is a question: a run with nobody to ask shows none.
      Elevation elevation{frontend.PromptOwner()};
      std::wstring program, environment;
      stage = RESULT_ERROR;
      if (installer->dest && installer->filename && Component::StillVerified(*installer, program) &&
          InstallerEnvironment({}, installerTemp, environment)) {
        // It runs in its own folder, not in whatever folder the launcher was started from.
        // Should it need the consent prompt, the launcher elevates itself to stage and run it.
        const InstallerStart start{installer->verified.get(), System::ParentFolder(program),
                                   StagedInstallArguments(program, installContext), std::move(environment)};
        stage = RunProcess(program, arguments, true, &installerExit, &elevation, &start);
      }
      // A refused prompt ends the run as a cancel does, with no error shown.
      if (elevation.refused) outcome.declinedOrCancelled = true;
      if (!CheckShutdownEvent() && !elevation.refused) {
        if (stage != RESULT_PASSED) {
          ReportError(outcome, 223);
        } else {
          frontend.ShowStatus(LoadText(224));
          Condition::ResetCachedResults();  // the machine has changed
          Log::ForgetReason();
          stage = Component::CheckRequirements(adminRequired);
          if (stage == RESULT_FAILED) ReportError(outcome, 225);
          if (stage == RESULT_ERROR) ReportError(outcome, 226);
          installationVerified = stage == RESULT_PASSED;
          if (stage == RESULT_PASSED &&
              (installerExit == kExitRebootRequired || installerExit == kExitRebootStarted))
            outcome.rebootCode = installerExit;
        }
      }
    }
  }

  // A failed update leaves the installed client as it was: it gets its
  // configuration and starts, as after a refused update, while the exit
  // code still tells of the failure. A cancel or a refused prompt starts nothing.
  bool startsInstalled = false;
  if (!CheckShutdownEvent() && updating && retrievalDone && stage != RESULT_PASSED && !Component::transferAborted &&
      !outcome.declinedOrCancelled && !FlagIsSet(L"skiplaunch")) {
    if (!InstalledClientIsThere()) {
      LogWarning(L"%s - the update failed, and no installed version is left to start", kRunName);
    } else {
      startsInstalled = true;
      stage = RESULT_PASSED;
      if (!configWritten) {
        frontend.ShowStatus(Message(220));
        stage = WriteAppConfig();
        if (stage == RESULT_ERROR) ReportError(outcome, 221);
      }
    }
  }

  // 10. Launch, also after a refused upgrade.
  if (!CheckShutdownEvent() && !userDeclinedInstall && stage == RESULT_PASSED && !FlagIsSet(L"skiplaunch")) {
    frontend.ShowStatus(Message(228));
    frontend.Minimize();
    Log::ForgetReason();
    const Result launched = LaunchApplication();
    if (launched == RESULT_ERROR) ReportError(outcome, 229);
    if (launched == RESULT_PASSED && startsInstalled)
      LogWarning(L"%s - the installed version was started after the failed update", kRunName);
  }

  if (ShutdownRequested() || Component::transferAborted) outcome.declinedOrCancelled = true;
  exitCode = outcome.errorReported || outcome.installationSkipped ? kExitFailed
             : outcome.declinedOrCancelled                        ? kExitUserDeclined
             : outcome.rebootCode != 0                            ? static_cast<int>(outcome.rebootCode)
                                                                  : kExitSuccess;

  // 11. Clean-up; the worker's end closes the handles and tells the window.
  // What was fetched into the run folder has served once the installer and
  // its verification have run.
  if (!installerTemp.empty()) System::DeleteTree(installerTemp);
  Component::RemoveFetchedFiles();
  // The cache keeps only what is not installed yet.
  if (installationVerified) Component::ForgetCachedFiles();
  Component::ClearComponents();
  Condition::ClearConditions();
  CondString::ClearCondStrings();
  Flag::ClearFlags();
}

}  // namespace Deploy
