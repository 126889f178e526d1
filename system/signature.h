#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "system/result.h"

// Who signed a file, as the system's Authenticode check sees it. A signer
// pins a component to its publisher where no digest can be known ahead.
namespace System {

// What ReadSignature found.
struct Signature {
  bool trusted = false;
  std::wstring signer;   // when trusted: the signing certificate's simple display name
  std::wstring failure;  // when not: what failed
  DWORD code = 0;        // when not: the Windows error or the chain's error bits
};

// Checks the file's Authenticode signature: WinVerifyTrust (generic verify,
// no UI, no revocation check, so that an offline machine still works) must
// pass; the signer's chain must carry no error besides unknown revocation;
// and the Authenticode chain policy must accept it. The open `file`, when
// given, is what is checked (it must be readable); otherwise `path` is opened.
// The trust state is closed on every path. Logs nothing. The DLLs it needs
// (wintrust, crypt32) are loaded at its first call.
Signature ReadSignature(std::wstring_view path, HANDLE file = nullptr);

// Whether the file is signed, as ReadSignature checks it, by a certificate
// whose simple display name is exactly `expectedSigner` (whole name, case
// counts). RESULT_PASSED, logged at level 4 "System::VerifySigner - <path>:
// signed by "<signer>""; otherwise RESULT_FAILED, logged at level 1
// "System::VerifySigner - <path>: <what failed> (0x<code>)".
Result VerifySigner(std::wstring_view path, std::wstring_view expectedSigner, HANDLE file = nullptr);

}  // namespace System
