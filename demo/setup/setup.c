/* The demo's setup program: runs
     msiexec /i "<this program's folder>\<DEMO_MSI_NAME>" <arguments>
   waits for it, and returns its exit code. Arguments that start with "/exe"
   (the launcher's /exebasicui and /exefullui) are for this program only and
   are dropped; all others, such as /qb or QV_CONFIG_PATH="...", are passed
   on exactly as they were written. */
#include <windows.h>

#ifndef DEMO_MSI_NAME
#error "DEMO_MSI_NAME must name the MSI package, for example L\"TesselStandard.msi\""
#endif

/* Skips one argument of a Windows command line, honouring double quotes. */
static const wchar_t* skip_argument(const wchar_t* p) {
  int quoted = 0;
  while (*p && (quoted || (*p != L' ' && *p != L'\t'))) {
    if (*p == L'"') quoted = !quoted;
    ++p;
  }
  return p;
}

static const wchar_t* skip_blanks(const wchar_t* p) {
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

#define COMMAND_CAPACITY 32768
static wchar_t command[COMMAND_CAPACITY];
static size_t used;

/* Appends to the command line; a command line too long for CreateProcessW
   leaves it unchanged and returns 0. */
static int append(const wchar_t* text, size_t length) {
  if (length >= COMMAND_CAPACITY - used) return 0;
  for (size_t i = 0; i < length; ++i) command[used + i] = text[i];
  used += length;
  command[used] = 0;
  return 1;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR unused, int show) {
  (void)instance;
  (void)previous;
  (void)unused;
  (void)show;
  wchar_t folder[MAX_PATH];
  DWORD length = GetModuleFileNameW(NULL, folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1603;
  while (length > 0 && folder[length - 1] != L'\\') --length;
  folder[length] = 0;

  wchar_t msiexec[MAX_PATH];
  UINT system = GetSystemDirectoryW(msiexec, MAX_PATH - 16);
  if (system == 0 || system >= MAX_PATH - 16) return 1603;
  lstrcatW(msiexec, L"\\msiexec.exe");

  int ok = append(L"\"", 1) && append(msiexec, lstrlenW(msiexec)) && append(L"\" /i \"", 6) &&
           append(folder, lstrlenW(folder)) && append(DEMO_MSI_NAME, lstrlenW(DEMO_MSI_NAME)) &&
           append(L"\"", 1);

  const wchar_t* p = skip_blanks(skip_argument(skip_blanks(GetCommandLineW())));
  while (ok && *p) {
    const wchar_t* end = skip_argument(p);
    if (!(end - p >= 4 &&
          CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, p, 4, L"/exe", 4) == CSTR_EQUAL)) {
      ok = append(L" ", 1) && append(p, (size_t)(end - p));
    }
    p = skip_blanks(end);
  }

  if (!ok) return 1603;

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(msiexec, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) return 1603;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1603;
  if (!GetExitCodeProcess(process.hProcess, &code)) code = 1603;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return (int)code;
}
