/* Starts one program and prints, in 100 ns units of the precise system
   clock, the moment just before its CreateProcessW; then waits for it to
   end. bench/start.sh sets that moment beside the one the started client
   records at its first instruction. */
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0602
#include <windows.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  STARTUPINFOW startup = {sizeof startup};
  PROCESS_INFORMATION process;
  FILETIME before;
  GetSystemTimePreciseAsFileTime(&before);
  if (!CreateProcessW(NULL, argv[1], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) return 1;
  printf("%llu\n", ((unsigned long long)before.dwHighDateTime << 32) | before.dwLowDateTime);
  fflush(stdout);
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}
