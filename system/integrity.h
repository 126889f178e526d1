#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "system/result.h"

// Checks that a file on disk is the one the configuration describes. Both
// leave the file unchanged. An absent path or text is passed as empty.
namespace System {

// Compares the low 32 bits of the file's size with `expectedSize` (the
// configuration's sizes are 32-bit). RESULT_PASSED when equal; RESULT_FAILED
// when it differs or cannot be read (not logged); RESULT_ERROR, logged
// "Invalid File", for an empty path.
Result VerifyFilesize(std::wstring_view path, DWORD expectedSize);

// Computes the file's MD5 and compares it with `expectedMd5`, 32 hexadecimal
// digits in either case. Logs the digest ("Generated Md5"). RESULT_PASSED
// when equal; RESULT_FAILED when they differ; RESULT_ERROR, logged, for empty
// arguments, a file or hashing failure, or an expected text that is not 32
// characters long (then only the digest is logged).
Result VerifyMd5(std::wstring_view path, std::wstring_view expectedMd5);

// The file's MD5 as 32 lower-case hexadecimal digits, in `digest`. False,
// logged as VerifyMd5 logs its failures, when the file cannot be hashed.
bool ComputeMd5(std::wstring_view path, std::wstring& digest);

}  // namespace System
