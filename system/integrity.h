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

// As VerifyFilesize, for the file that `file` is open on (read attributes):
// what is checked is that file, whatever its path names by now.
Result VerifyFilesize(HANDLE file, DWORD expectedSize);

// Computes the file's MD5 and compares it with `expectedMd5`, 32 hexadecimal
// digits in either case. Logs the digest ("Generated Md5"). RESULT_PASSED
// when equal; RESULT_FAILED when they differ; RESULT_ERROR, logged, for empty
// arguments, a file or hashing failure, or an expected text that is not 32
// characters long (then only the digest is logged).
Result VerifyMd5(std::wstring_view path, std::wstring_view expectedMd5);

// As VerifyMd5, for SHA-256 and 64 hexadecimal digits: logs "System::
// VerifySha256 - Generated Sha256 <digest>" and its failures under that name.
Result VerifySha256(std::wstring_view path, std::wstring_view expectedSha256);

// Checks the digests that are given (non-empty) in one read of the file: the
// MD5 exactly as VerifyMd5 does, then the SHA-256 as VerifySha256 does, both
// digests logged in that order. A failure of the shared read is logged under
// VerifyMd5's name when an MD5 is given. RESULT_PASSED when every given digest
// matches (and when none is given, without reading); otherwise the worse of
// the two results: RESULT_ERROR before RESULT_FAILED.
Result VerifyDigests(std::wstring_view path, std::wstring_view expectedMd5, std::wstring_view expectedSha256);

// As VerifyDigests, reading from the first byte of the file that `file` is
// open on (for reading), with the same log lines.
Result VerifyDigests(HANDLE file, std::wstring_view expectedMd5, std::wstring_view expectedSha256);

// The digests of a file, each as lower-case hexadecimal digits.
struct FileDigests {
  std::wstring md5;
  std::wstring sha256;
};

// Hashes the file once, for the digests asked for. False, logged under
// `logName` as VerifyMd5 logs its failures, when it cannot be hashed.
bool ComputeDigests(std::wstring_view path, bool md5, bool sha256, FileDigests& digests,
                    const wchar_t* logName);
bool ComputeDigests(HANDLE file, bool md5, bool sha256, FileDigests& digests, const wchar_t* logName);

// The file's MD5 as 32 lower-case hexadecimal digits, in `digest`. False,
// logged as VerifyMd5 logs its failures, when the file cannot be hashed.
bool ComputeMd5(std::wstring_view path, std::wstring& digest);

}  // namespace System
