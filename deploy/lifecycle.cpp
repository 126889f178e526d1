#include "deploy/lifecycle.h"

#include <string>

#include "components/component.h"
#include "deploy/frontend.h"
#include "deploy/text.h"
#include "log/log.h"
#include "system/scope_exit.h"

namespace Deploy {

namespace {

constexpr wchar_t kStartName[] = L"Deploy::Start";
constexpr size_t kTransferTextChars = 256;
constexpr DWORD kKilobyteLimit = 1000000;  // sizes below it show in KB

// The run's handles. Both threads reach them, and the worker closes them at
// its end while the main thread may be signalling a cancel, so every use
// holds this lock: a handle is never used after it was closed.
SRWLOCK handlesLock = SRWLOCK_INIT;
HANDLE workerThread = nullptr;
HANDLE shutdownEvent = nullptr;
WorkerFunction workerFunction = nullptr;
// Signalled once the window of the run is shown, or is known never to be.
HANDLE windowEvent = nullptr;
bool windowMade = true;
// Signalled once the worker needs the window, starts the client or has
// ended. Like the window event it lives as long as the process, so the
// worker may signal it while the main thread has stopped waiting.
HANDLE needEvent = nullptr;

struct TransferMemory {
  DWORD index = 0;
  DWORD percentage = 0;
  DWORD doneUnits = 0;
  DWORD totalUnits = 0;
};
TransferMemory transferMemory;
int lastProgressPosition = 0;

DWORD WINAPI WorkerMain(LPVOID) {
  if (workerFunction) workerFunction();
  EndHeadStart();
  AcquireSRWLockExclusive(&handlesLock);
  if (workerThread) CloseHandle(workerThread);
  if (shutdownEvent) CloseHandle(shutdownEvent);
  workerThread = shutdownEvent = nullptr;
  ReleaseSRWLockExclusive(&handlesLock);
  if (WaitForWindow()) PostMessageW(RunWindow().main, WM_DEPLOY_DONE, 0, 0);
  return 0;
}

// With the lock held: no run may exist yet, and the shutdown event is made
// (or kept, from a run that never started). False, logged, otherwise.
bool PrepareRun() {
  if (workerThread) {
    LogError(L"%s - Thread already created", kStartName);
    return false;
  }
  if (!shutdownEvent) {
    shutdownEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!shutdownEvent) {
      LogError(L"%s - Shutdown event could not be created, GetLastError: %d", kStartName,
               static_cast<int>(GetLastError()));
      return false;
    }
  }
  return true;
}

// With the lock held: starts the worker, with its window already shown or
// still to come.
bool StartWorker(WorkerFunction work, bool windowThere) {
  if (!PrepareRun()) return false;
  if (!windowThere && !windowEvent) {
    windowEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!windowEvent) {
      LogError(L"%s - Window event could not be created, GetLastError: %d", kStartName,
               static_cast<int>(GetLastError()));
      return false;
    }
  }
  if (!windowThere && !needEvent) needEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // else no head start
  if (windowThere) {
    EndHeadStart();
  } else if (needEvent) {
    ResetEvent(needEvent);
  }
  windowMade = true;
  if (windowEvent) {
    if (windowThere) {
      SetEvent(windowEvent);
    } else {
      ResetEvent(windowEvent);
    }
  }
  workerFunction = work;
  // Created suspended, so that the handle is stored before the worker can
  // reach its end and close it.
  workerThread = CreateThread(nullptr, 0, WorkerMain, nullptr, CREATE_SUSPENDED, nullptr);
  if (!workerThread) {
    LogError(L"%s - Error creating thread, GetLastError: %d", kStartName, static_cast<int>(GetLastError()));
    if (windowEvent) SetEvent(windowEvent);
    EndHeadStart();
    return false;
  }
  ResumeThread(workerThread);
  return true;
}

}  // namespace

Window& RunWindow() {
  static Window window;
  return window;
}

int& LastProgressPosition() {
  return lastProgressPosition;
}

void ResetTransferMemory() {
  transferMemory = TransferMemory{};
}

Result GatherComponents() {
  ResetTransferMemory();
  return Component::GatherComponents(TransferProgress, CurrentFrontend().PromptOwner());
}

bool Start(WorkerFunction work) {
  AcquireSRWLockExclusive(&handlesLock);
  ScopeExit unlock([] { ReleaseSRWLockExclusive(&handlesLock); });
  return StartWorker(work, true);
}

bool StartBeforeWindow(WorkerFunction work) {
  AcquireSRWLockExclusive(&handlesLock);
  ScopeExit unlock([] { ReleaseSRWLockExclusive(&handlesLock); });
  return StartWorker(work, false);
}

void WindowShown(bool shown) {
  HANDLE worker = nullptr;
  AcquireSRWLockExclusive(&handlesLock);
  windowMade = shown;
  if (!shown) {
    if (shutdownEvent) SetEvent(shutdownEvent);
    if (workerThread)
      DuplicateHandle(GetCurrentProcess(), workerThread, GetCurrentProcess(), &worker, SYNCHRONIZE, FALSE, 0);
  }
  if (windowEvent) SetEvent(windowEvent);
  ReleaseSRWLockExclusive(&handlesLock);
  if (worker) {
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
  }
}

void EndHeadStart() {
  if (needEvent) SetEvent(needEvent);
}

bool GiveHeadStart(DWORD limitMs) {
  return !needEvent || WaitForSingleObject(needEvent, limitMs) == WAIT_OBJECT_0;
}

bool WaitForWindow() {
  EndHeadStart();
  if (windowEvent) WaitForSingleObject(windowEvent, INFINITE);
  return windowMade;
}

bool WindowPending() {
  return windowEvent && WaitForSingleObject(windowEvent, 0) != WAIT_OBJECT_0;
}

bool RunHere(WorkerFunction work) {
  {
    AcquireSRWLockExclusive(&handlesLock);
    ScopeExit unlock([] { ReleaseSRWLockExclusive(&handlesLock); });
    if (!PrepareRun()) return false;
  }
  work();
  AcquireSRWLockExclusive(&handlesLock);
  CloseHandle(shutdownEvent);
  shutdownEvent = nullptr;
  ReleaseSRWLockExclusive(&handlesLock);
  return true;
}

void Quit() {
  LogInfo(L"%s", L"Deploy::Quit");
  AcquireSRWLockExclusive(&handlesLock);
  const bool running = workerThread && shutdownEvent;
  if (running) SetEvent(shutdownEvent);
  ReleaseSRWLockExclusive(&handlesLock);
  if (!running) PostMessageW(RunWindow().main, WM_DEPLOY_DONE, 0, 0);
}

bool CheckShutdownEvent() {
  AcquireSRWLockShared(&handlesLock);
  const bool stop = !shutdownEvent || WaitForSingleObject(shutdownEvent, 0) == WAIT_OBJECT_0;
  ReleaseSRWLockShared(&handlesLock);
  if (stop) LogInfo(L"%s - return true", L"Deploy::CheckShutdownEvent");
  return stop;
}

bool ShutdownRequested() {
  AcquireSRWLockShared(&handlesLock);
  const bool requested = shutdownEvent && WaitForSingleObject(shutdownEvent, 0) == WAIT_OBJECT_0;
  ReleaseSRWLockShared(&handlesLock);
  return requested;
}

int TransferProgress(const wchar_t* componentText, int kind, DWORD index, DWORD count, DWORD done,
                     DWORD size) {
  if (CheckShutdownEvent()) {
    LogWarning(L"%s - cancel transfer", L"Deploy::TransferProgress");
    return 1;
  }
  Frontend& frontend = CurrentFrontend();

  if (index != transferMemory.index) {
    transferMemory.index = index;
    if (kind == TRANSFER_COPY || kind == TRANSFER_DOWNLOAD) {
      std::wstring status;
      FormatTextN(status, kTransferTextChars, LoadText(kind == TRANSFER_COPY ? 230 : 231), index, count);
      frontend.ShowTransferText(TransferLine::Status, status);
    }
    frontend.ShowTransferText(TransferLine::Component, componentText ? componentText : L"");
  }
  if (size == 0) return 0;

  const auto percentage = static_cast<DWORD>(static_cast<double>(done) * 100.0 / static_cast<double>(size));
  if (percentage != transferMemory.percentage) {
    transferMemory.percentage = percentage;
    if (static_cast<int>(percentage) != lastProgressPosition) {
      lastProgressPosition = static_cast<int>(percentage);
      frontend.ShowProgress(static_cast<int>(percentage));
    }
  }

  const bool kilobytes = size < kKilobyteLimit;
  const DWORD unit = kilobytes ? 100 : 100000;
  const DWORD doneUnits = done / unit, totalUnits = size / unit;
  if (doneUnits != transferMemory.doneUnits || totalUnits != transferMemory.totalUnits) {
    transferMemory.doneUnits = doneUnits;
    transferMemory.totalUnits = totalUnits;
    std::wstring sizeText;
    FormatTextN(sizeText, kTransferTextChars, LoadText(232), static_cast<double>(doneUnits / 10.0f),
                static_cast<double>(totalUnits / 10.0f), kilobytes ? L"KB" : L"MB");
    frontend.ShowTransferText(TransferLine::Size, sizeText);
  }
  return 0;
}

}  // namespace Deploy
