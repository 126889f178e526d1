#include "system/environment.h"

#include <windows.h>
#include <userenv.h>

#include <string_view>

namespace System {

namespace {

// The name of a "NAME=value" entry; a name may begin with "=" (the current
// folder of a drive, "=C:=C:\x").
std::wstring_view NameOf(std::wstring_view entry) {
  return entry.substr(0, entry.find(L'=', 1));
}

// TMP and TEMP, which the installer gets of its own; then what the machine's
// block holds of a profile, another one's (the default user's), never the
// machine's; and the processor's architecture, which a 32-bit launcher has
// as its own programs see it, where the registry gives the machine's.
constexpr std::wstring_view kNotTheMachines[] = {
    L"TMP",     L"TEMP",         L"USERPROFILE", L"USERNAME", L"USERDOMAIN",
    L"APPDATA", L"LOCALAPPDATA", L"HOMEDRIVE",   L"HOMEPATH", L"PROCESSOR_ARCHITECTURE"};

// Whether `name` is one of kNotTheMachines from `first` on.
bool Listed(std::wstring_view name, size_t first) {
  for (size_t i = first; i < std::size(kNotTheMachines); ++i) {
    const std::wstring_view listed = kNotTheMachines[i];
    if (CompareStringOrdinal(name.data(), static_cast<int>(name.size()), listed.data(),
                             static_cast<int>(listed.size()), TRUE) == CSTR_EQUAL)
      return true;
  }
  return false;
}

// Whether the machine's block names the variable `name`.
bool MachineDefines(const wchar_t* machine, std::wstring_view name) {
  for (const wchar_t* entry = machine; *entry; entry += wcslen(entry) + 1) {
    const std::wstring_view defined = NameOf(entry);
    if (CompareStringOrdinal(defined.data(), static_cast<int>(defined.size()), name.data(),
                             static_cast<int>(name.size()), TRUE) == CSTR_EQUAL)
      return true;
  }
  return false;
}

}  // namespace

std::wstring AdministratorEnvironment(const std::wstring& temp) {
  void* machineBlock = nullptr;
  // No token: the system's variables alone, as the registry defines them.
  if (!CreateEnvironmentBlock(&machineBlock, nullptr, FALSE)) return {};
  const auto* machine = static_cast<const wchar_t*>(machineBlock);
  std::wstring block;
  wchar_t* own = GetEnvironmentStringsW();
  for (const wchar_t* entry = own; entry && *entry; entry += wcslen(entry) + 1) {
    const std::wstring_view name = NameOf(entry);
    // The user's own profile and the like; every other variable that the machine defines is the machine's.
    if (Listed(name, 2) || (!Listed(name, 0) && !MachineDefines(machine, name))) block.append(entry).push_back(L'\0');
  }
  if (own) FreeEnvironmentStringsW(own);
  for (const wchar_t* entry = machine; *entry; entry += wcslen(entry) + 1)
    if (!Listed(NameOf(entry), 0)) block.append(entry).push_back(L'\0');
  DestroyEnvironmentBlock(machineBlock);
  for (const wchar_t* name : {L"TMP=", L"TEMP="}) block.append(name).append(temp).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

}  // namespace System
