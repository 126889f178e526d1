#pragma once

#include <windows.h>

#include "components/transfer_kind.h"
#include "system/result.h"

// The run's two threads: the main thread owns the window, one worker runs
// the deployment. They meet through the shutdown event, texts sent to the
// window's controls, posted progress positions, and WM_DEPLOY_DONE.

// Posted to the main window when the run has ended; the window destroys itself.
inline constexpr UINT WM_DEPLOY_DONE = WM_APP + 1;

namespace Deploy {

// The window and the controls that the run reports to. The main window sets
// them when it has made them; until then they are null and reports go nowhere.
struct Window {
  HWND main = nullptr;
  HWND status = nullptr;
  HWND component = nullptr;
  HWND size = nullptr;
  HWND progress = nullptr;
};
Window& RunWindow();

// The work of the worker thread. The worker then closes the run's thread and
// event handles and posts WM_DEPLOY_DONE to the main window.
using WorkerFunction = void (*)();

// Main thread: creates the shutdown event and the worker thread, which runs
// `work`. Returns false, logged, when a worker exists already or the event
// or the thread cannot be made.
bool Start(WorkerFunction work);

// Main thread, before the window is made: starts the worker as Start does,
// so that it reads the document and checks the machine meanwhile. Its first
// report that cannot wait, and its end, wait for WindowShown.
bool StartBeforeWindow(WorkerFunction work);

// Main thread, after StartBeforeWindow: waits until the worker first needs
// the window, is about to start the client, or has ended; or until `limitMs`
// have passed. A window made meanwhile would hold the loader (the display
// driver, the theme), which the worker's start and resources wait for.
// Returns false when the limit passed first; true at once for a run from
// Start, or when the worker could not be started.
bool GiveHeadStart(DWORD limitMs);

// Worker: ends the window's wait in GiveHeadStart, as needing the window does.
void EndHeadStart();

// Main thread: the window of a run from StartBeforeWindow is shown (true) or
// could not be made (false). Without a window, the run is stopped as after
// Quit, and this returns once the worker has ended.
void WindowShown(bool shown);

// Worker: waits until the window of the run is shown; false when it never
// will be. True at once for a run from Start.
bool WaitForWindow();

// Whether a run from StartBeforeWindow still waits for its window.
bool WindowPending();

// Runs `work` on the calling thread, as the worker would run it, with a
// shutdown event that nothing signals: for a run with no window. Returns
// false, logged as Start logs it, when a run exists or the event cannot be
// made.
bool RunHere(WorkerFunction work);

// Main thread: logs "Deploy::Quit" and asks the worker to stop; when there
// is no worker any more, posts WM_DEPLOY_DONE so the window closes itself.
void Quit();

// True, logged, when the run should stop: the shutdown event is signalled,
// or gone because the run has ended.
bool CheckShutdownEvent();

// Whether a stop was asked for while the run still holds its event (the user
// cancelled). Logs nothing.
bool ShutdownRequested();

// Component::GatherComponents with its first report shown whole, progress
// reported to TransferProgress, and the front end's window as the owner of
// a download's authentication prompt.
Result GatherComponents();

// Reports one step of a component transfer, through the front end: the status line names the
// component's number on a change of `index`, the bar shows the whole
// percentage of `done` in `size`, and the size line shows both in decimal
// kilobytes or megabytes, in tenths, rounded down. The front end hears only
// of a shown value that changes. Returns 1, logged, to cancel the
// transfer after a shutdown request, else 0.
int TransferProgress(const wchar_t* componentText, int kind, DWORD index, DWORD count, DWORD done,
                     DWORD size);

// The last position posted to the progress bar.
int& LastProgressPosition();

// Forgets what TransferProgress last showed, so the next report shows all.
void ResetTransferMemory();

}  // namespace Deploy
