#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "system/result.h"

// Versions are dotted numbers such as "11.4.8.18902". Fields are separated by
// blanks, commas or full stops; each is read as wcstoul reads base 10; a
// missing field counts as 0, so 1.0 equals 1.0.0.0.

// 0 when either text is empty, 1 when v1 is lower, 2 when v1 is higher, 3 when equal.
int CompareVersions(std::wstring_view v1, std::wstring_view v2);

namespace Condition {

// Tests the product version of the file at `path` against `value` with `op`
// (OP_EXISTS only asks for the file). RESULT_FAILED when there is no file;
// RESULT_ERROR for missing arguments, OP_UNKNOWN, OP_STRING_COMPARE, or a
// version resource that cannot be read.
Result CheckFileVersion(std::wstring_view path, std::wstring_view value, int op);

// Forgets the product versions that CheckFileVersion has read; each is read
// once until then. Called with the conditions' cached results.
void ForgetFileVersions();

// The installed client's programs, in the order CheckQvVersion tries them.
inline constexpr const wchar_t* kClientPrograms[] = {L"VantorConnect.exe", L"VantorExpert.exe"};

// The product version of the file as "a.b.c.d", read once per run as
// CheckFileVersion reads it; nothing when it cannot be read. Logs nothing.
std::optional<std::wstring> FileProductVersion(const std::wstring& file);

// Tests the installed client's version: the registry value at `registryPath`
// names its folder; "VantorConnect.exe" there is tried first, then
// "VantorExpert.exe". An empty value means the package version. RESULT_ERROR
// for OP_UNKNOWN, OP_EXISTS or missing arguments; RESULT_FAILED when the
// registry value is missing.
Result CheckQvVersion(std::wstring_view registryPath, std::wstring_view value, int op);

}  // namespace Condition
