#include "system/signature.h"

// wintrust.h and softpub.h build on wincrypt.h, which the lean windows.h leaves out.
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include "log/log.h"
#include "system/scope_exit.h"

namespace System {

namespace {

// Revocation is not checked, so that an offline machine still works; these
// are the bits that say so, and the only ones a trusted chain may carry.
constexpr DWORD kRevocationUnknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

Signature Refused(std::wstring failure, DWORD code) {
  return Signature{false, {}, std::move(failure), code};
}

std::wstring SimpleName(PCCERT_CONTEXT certificate) {
  const DWORD length = CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  std::wstring name(length, L'\0');
  CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), length);
  name.resize(length > 0 ? length - 1 : 0);  // without the terminator
  return name;
}

}  // namespace

Signature ReadSignature(std::wstring_view path, HANDLE file) {
  const std::wstring filePath(path);
  WINTRUST_FILE_INFO fileInfo{};
  fileInfo.cbStruct = sizeof fileInfo;
  fileInfo.pcwszFilePath = filePath.c_str();
  fileInfo.hFile = file;
  WINTRUST_DATA trust{};
  trust.cbStruct = sizeof trust;
  trust.dwUIChoice = WTD_UI_NONE;
  trust.fdwRevocationChecks = WTD_REVOKE_NONE;
  trust.dwUnionChoice = WTD_CHOICE_FILE;
  trust.pFile = &fileInfo;
  trust.dwStateAction = WTD_STATEACTION_VERIFY;
  trust.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const HWND noUser = static_cast<HWND>(INVALID_HANDLE_VALUE);
  const LONG verified = WinVerifyTrust(noUser, &action, &trust);
  // The state holds the signer's chain until it is closed, after a failure too.
  const ScopeExit close([&] {
    trust.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(noUser, &action, &trust);
  });
  if (verified != 0) return Refused(L"WinVerifyTrust failed", static_cast<DWORD>(verified));

  CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(trust.hWVTStateData);
  CRYPT_PROVIDER_SGNR* signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* leaf = signer ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
  if (!leaf || !leaf->pCert || !signer->pChainContext) {
    return Refused(L"the trust state holds no signer", static_cast<DWORD>(TRUST_E_NOSIGNATURE));
  }
  // Wine's WinVerifyTrust skips the chain policy for a certificate signed
  // with SHA-256 and passes a chain that ends at an untrusted root, or at
  // none: the chain is judged here, which on Windows repeats its own check.
  const DWORD chainErrors = signer->pChainContext->TrustStatus.dwErrorStatus & ~kRevocationUnknown;
  if (chainErrors != 0) return Refused(L"the signer's chain is not trusted", chainErrors);
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, signer->pChainContext, &policy,
                                        &status)) {
    return Refused(L"CertVerifyCertificateChainPolicy failed", GetLastError());
  }
  if (status.dwError != 0) return Refused(L"the Authenticode chain policy refused the chain", status.dwError);
  return Signature{true, SimpleName(leaf->pCert), {}, 0};
}

Result VerifySigner(std::wstring_view path, std::wstring_view expectedSigner, HANDLE file) {
  constexpr wchar_t kName[] = L"System::VerifySigner";
  const std::wstring filePath(path);
  Signature signature = ReadSignature(path, file);
  if (signature.trusted && signature.signer != expectedSigner) {
    signature =
        Refused(L"the signer is \"" + signature.signer + L"\", not \"" + std::wstring(expectedSigner) + L"\"",
                static_cast<DWORD>(CERT_E_CN_NO_MATCH));
  }
  if (!signature.trusted) {
    LogReason(L"%s - %s: %s (0x%08X)", kName, filePath.c_str(), signature.failure.c_str(),
             static_cast<unsigned>(signature.code));
    return RESULT_FAILED;
  }
  LogInfo(L"%s - %s: signed by \"%s\"", kName, filePath.c_str(), signature.signer.c_str());
  return RESULT_PASSED;
}

}  // namespace System
