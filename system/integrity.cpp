#include "system/integrity.h"

#include <wincrypt.h>

#include <cwctype>
#include <string>

#include "log/log.h"
#include "system/unique_handle.h"

namespace System {

namespace {
constexpr wchar_t kMd5Name[] = L"System::VerifyMd5";
constexpr DWORD kReadBlockBytes = 1024;
constexpr DWORD kDigestBytes = 16;

void LogMd5Failure(const wchar_t* call) {
  LogError(L"%s - %s failed, GetLastError %d", kMd5Name, call, static_cast<int>(GetLastError()));
}
}  // namespace

Result VerifyFilesize(std::wstring_view path, DWORD expectedSize) {
  if (path.empty()) {
    LogError(L"%s - Invalid File", L"System::VerifyFilesize");
    return RESULT_ERROR;
  }
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(std::wstring(path).c_str(), GetFileExInfoStandard, &data)) return RESULT_FAILED;
  return data.nFileSizeLow == expectedSize ? RESULT_PASSED : RESULT_FAILED;
}

bool ComputeMd5(std::wstring_view path, std::wstring& generated) {
  generated.clear();
  UniqueFile file(CreateFileW(std::wstring(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    LogMd5Failure(L"CreateFile");
    return false;
  }
  UniqueCryptProv provider;
  if (!CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    LogMd5Failure(L"CryptAcquireContext");
    return false;
  }
  UniqueCryptHash hash;
  if (!CryptCreateHash(provider.get(), CALG_MD5, 0, 0, hash.put())) {
    LogMd5Failure(L"CryptCreateHash");
    return false;
  }

  BYTE block[kReadBlockBytes];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), block, sizeof(block), &read, nullptr)) {
      LogMd5Failure(L"ReadFile");
      return false;
    }
    if (read == 0) break;
    if (!CryptHashData(hash.get(), block, read, 0)) {
      LogMd5Failure(L"CryptHashData");
      return false;
    }
  }

  BYTE digest[kDigestBytes];
  DWORD digestSize = sizeof(digest);
  if (!CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &digestSize, 0)) {
    LogMd5Failure(L"CryptGetHashParam");
    return false;
  }
  constexpr wchar_t kDigits[] = L"0123456789abcdef";
  for (BYTE byte : digest) {
    generated.push_back(kDigits[byte >> 4]);
    generated.push_back(kDigits[byte & 0xF]);
  }
  return true;
}

Result VerifyMd5(std::wstring_view path, std::wstring_view expectedMd5) {
  if (path.empty() || expectedMd5.empty()) {
    LogError(L"%s - Invalid Parameters", kMd5Name);
    return RESULT_ERROR;
  }
  std::wstring generated;
  if (!ComputeMd5(path, generated)) return RESULT_ERROR;
  LogInfo(L"%s - Generated Md5 %s", kMd5Name, generated.c_str());

  if (expectedMd5.size() != generated.size()) return RESULT_ERROR;
  for (size_t i = 0; i < generated.size(); ++i) {
    if (static_cast<wchar_t>(towlower(expectedMd5[i])) != generated[i]) return RESULT_FAILED;
  }
  return RESULT_PASSED;
}

}  // namespace System
