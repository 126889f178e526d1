#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "system/result.h"

// Registry paths name one value: root, backslash, subkey (which may hold
// backslashes), backslash, value name, as in
// "HKLM\SOFTWARE\Policies\Microsoft\Windows\Installer\DisableMSI". The roots
// are the prefixes "HKLM", "HKEY_LOCAL_MACHINE", "HKCU" and
// "HKEY_CURRENT_USER", case-sensitive. A path that ends in a backslash names
// the key's default value. An absent path is passed as an empty one.
namespace System {

// Splits a registry path. Each output is optional; the root is only parsed
// when it is asked for. Returns RESULT_PASSED, or RESULT_ERROR for an empty
// path, an unknown root, or fewer than two backslashes. Logs nothing.
Result SplitRegistryPath(std::wstring_view path, HKEY* root, std::wstring* subkey, std::wstring* valueName);

// Reads a REG_SZ value as its text, or a REG_DWORD as unsigned decimal text,
// from the default registry view. Two calls: with no buffer it stores the
// size needed, in characters, terminator included; with a buffer of at least
// that size it writes the terminated text. Returns RESULT_PASSED; RESULT_FAILED
// for a missing key or value or an empty text; RESULT_ERROR for a bad path, a
// missing size, another value type or a buffer that is too small. Logs nothing.
Result ReadRegistryValue(std::wstring_view path, wchar_t* buffer, DWORD* size);

// Both calls of ReadRegistryValue into `text`; the result is that of the
// first call that did not pass, else RESULT_PASSED.
Result ReadRegistryText(std::wstring_view path, std::wstring& text);

}  // namespace System
