// Linked into one end-to-end launcher only: its installer's start answers
// as Windows answers, under UAC, for a program whose manifest requires
// administrator rights (740), so that the run goes through the consent
// prompt (which Wine grants at once) and the launcher's elevated side. That
// side, once elevated, starts the installer as Windows then would.
#include <windows.h>

#include <cwchar>

#include "deploy/launch.h"
#include "deploy/staged_install.h"

namespace {

BOOL WINAPI CreateProcessUnderUac(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES process,
                                  LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags, LPVOID environment,
                                  LPCWSTR folder, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION information) {
  if (!Deploy::StagedInstallRequested() && commandLine && wcsstr(commandLine, L"\\SetupStandard.exe\"")) {
    SetLastError(740);
    return FALSE;
  }
  return CreateProcessW(application, commandLine, process, thread, inherit, flags, environment, folder, startup,
                        information);
}

const bool installed = (Deploy::createProcess = CreateProcessUnderUac, true);

}  // namespace
