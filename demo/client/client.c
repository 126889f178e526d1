/* The demo's stand-in for the Tessel client: a windowless GUI program that
   writes its own command line, as UTF-16, to
   %TEMP%\VantorConnect-commandline.txt and exits, so that the demo can show
   exactly how the launcher started it. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR args, int show) {
  (void)instance;
  (void)previous;
  (void)args;
  (void)show;
  wchar_t path[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"TEMP", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) length = GetTempPathW(MAX_PATH, path);
  if (length == 0 || length >= MAX_PATH - 40) return 1;
  if (path[length - 1] != L'\\') path[length++] = L'\\';
  lstrcpyW(path + length, L"VantorConnect-commandline.txt");
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 2;
  const wchar_t* line = GetCommandLineW();
  DWORD written = 0;
  BOOL ok = WriteFile(file, line, (DWORD)(lstrlenW(line) * sizeof(wchar_t)), &written, NULL);
  CloseHandle(file);
  return ok ? 0 : 3;
}
