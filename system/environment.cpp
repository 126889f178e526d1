#include "system/environment.h"

#include <windows.h>
#include <userenv.h>

#include <span>
#include <string_view>

namespace System {

namespace {

// The name of a "NAME=value" entry; a name may begin with "=" (the current
// folder of a drive, "=C:=C:\x").
std::wstring_view NameOf(std::wstring_view entry) {
  return entry.substr(0, entry.find(L'=', 1));
}

bool SameName(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// What the installer gets of its own, whoever defines it.
constexpr std::wstring_view kTempVariables[] = {L"TMP", L"TEMP"};
// What stays the launcher's: what the machine's block holds of a profile is
// another one's (the default user's), never the machine's; and the
// processor's architecture, which a 32-bit launcher has as its own programs
// see it, where the registry gives the machine's.
constexpr std::wstring_view kLaunchersVariables[] = {L"USERPROFILE",  L"USERNAME",  L"USERDOMAIN",
                                                     L"APPDATA",      L"LOCALAPPDATA", L"HOMEDRIVE",
                                                     L"HOMEPATH",     L"PROCESSOR_ARCHITECTURE"};

bool OneOf(std::wstring_view name, std::span<const std::wstring_view> names) {
  for (const std::wstring_view listed : names)
    if (SameName(name, listed)) return true;
  return false;
}

// Whether the machine's block names the variable `name`.
bool MachineDefines(const wchar_t* machine, std::wstring_view name) {
  for (const wchar_t* entry = machine; *entry; entry += wcslen(entry) + 1)
    if (SameName(NameOf(entry), name)) return true;
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
    if (OneOf(name, kLaunchersVariables) || (!OneOf(name, kTempVariables) && !MachineDefines(machine, name)))
      block.append(entry).push_back(L'\0');
  }
  if (own) FreeEnvironmentStringsW(own);
  for (const wchar_t* entry = machine; *entry; entry += wcslen(entry) + 1)
    if (!OneOf(NameOf(entry), kTempVariables) && !OneOf(NameOf(entry), kLaunchersVariables))
      block.append(entry).push_back(L'\0');
  DestroyEnvironmentBlock(machineBlock);
  for (const wchar_t* name : {L"TMP=", L"TEMP="}) block.append(name).append(temp).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

}  // namespace System
