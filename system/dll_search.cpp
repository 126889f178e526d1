#include "system/dll_search.h"

#include <windows.h>

#include <delayimp.h>

namespace System {

namespace {

// Declared by the SDK for Windows 8; Windows 7 has it only with KB2533623,
// so it is looked up rather than imported, which would stop the program
// from starting there.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

bool searchFlagsWork = false;

HMODULE LoadFromSystemFolder(const char* name) noexcept {
  wchar_t path[MAX_PATH] = L"";
  UINT length = 0;
  if (!searchFlagsWork) {
    length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH - 1) return nullptr;
    path[length++] = L'\\';
  }
  // The name is ASCII.
  for (const char* c = name; *c; ++c) {
    if (length + 1 >= MAX_PATH) return nullptr;
    path[length++] = static_cast<unsigned char>(*c);
  }
  path[length] = L'\0';
  if (searchFlagsWork) return LoadLibraryExW(path, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Altered search: the DLL's own imports are then looked for in the system
  // folder before the program's.
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Called by the delay-load helper before it loads a delay-loaded DLL. When
// this returns null, the helper falls back to LoadLibraryA, which searches
// the program's folder unless the search flags work; that happens only for a
// DLL missing from the system folder.
FARPROC WINAPI DelayLoadNotify(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary) return nullptr;
  // Wine's wintrust delay-loads imagehlp, whose own imports (dbghelp) are
  // then looked for in the program's folder first, whatever the search
  // flags say: loaded here first, from the system folder, it is found loaded.
  if (lstrcmpiA(info->szDll, "wintrust.dll") == 0) LoadFromSystemFolder("imagehlp.dll");
  return reinterpret_cast<FARPROC>(LoadFromSystemFolder(info->szDll));
}

}  // namespace

void RestrictDllSearch() noexcept {
  const auto setDefaultDllDirectories =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  searchFlagsWork = setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Without the search flags, this at least takes the current folder out of
  // the search, for the system's own DLLs' loads too.
  if (!searchFlagsWork) SetDllDirectoryW(L"");
  __pfnDliNotifyHook2 = DelayLoadNotify;
}

std::wstring LocalRedirection() noexcept {
  wchar_t path[MAX_PATH + 7] = L"";
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return {};
  lstrcpyW(path + length, L".local");
  return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES ? std::wstring(path) : std::wstring();
}

}  // namespace System
