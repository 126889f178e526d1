#include "system/integrity.h"

#include <wincrypt.h>

#include <cwctype>
#include <string>
#include <vector>

#include "log/log.h"
#include "system/unique_handle.h"

namespace System {

namespace {
constexpr wchar_t kMd5Name[] = L"System::VerifyMd5";
constexpr wchar_t kSha256Name[] = L"System::VerifySha256";
// 64 KiB reads rather than 1 KiB ones: the same single sequential pass, at
// about twice the speed, so that checking a download costs no more than a
// plain program's check of it would.
constexpr DWORD kReadBlockBytes = 65536;
constexpr DWORD kMd5Bytes = 16;
constexpr DWORD kSha256Bytes = 32;

void LogHashFailure(const wchar_t* logName, const wchar_t* call) {
  LogError(L"%s - %s failed, GetLastError %d", logName, call, static_cast<int>(GetLastError()));
}

bool FetchDigest(HCRYPTHASH hash, DWORD bytes, std::wstring& text, const wchar_t* logName) {
  BYTE digest[kSha256Bytes];
  DWORD digestSize = bytes;
  if (!CryptGetHashParam(hash, HP_HASHVAL, digest, &digestSize, 0)) {
    LogHashFailure(logName, L"CryptGetHashParam");
    return false;
  }
  constexpr wchar_t kDigits[] = L"0123456789abcdef";
  text.clear();
  for (DWORD i = 0; i < digestSize; ++i) {
    text.push_back(kDigits[digest[i] >> 4]);
    text.push_back(kDigits[digest[i] & 0xF]);
  }
  return true;
}

// RESULT_ERROR when the expected text is not as long as the digest.
Result CompareDigest(std::wstring_view expected, const std::wstring& generated) {
  if (expected.size() != generated.size()) return RESULT_ERROR;
  for (size_t i = 0; i < generated.size(); ++i) {
    if (static_cast<wchar_t>(towlower(expected[i])) != generated[i]) return RESULT_FAILED;
  }
  return RESULT_PASSED;
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

Result VerifyFilesize(HANDLE file, DWORD expectedSize) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return RESULT_FAILED;
  return size.LowPart == expectedSize ? RESULT_PASSED : RESULT_FAILED;
}

bool ComputeDigests(std::wstring_view path, bool md5, bool sha256, FileDigests& digests,
                    const wchar_t* logName) {
  digests = {};
  UniqueFile file(CreateFileW(std::wstring(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    LogHashFailure(logName, L"CreateFile");
    return false;
  }
  return ComputeDigests(file.get(), md5, sha256, digests, logName);
}

bool ComputeDigests(HANDLE file, bool md5, bool sha256, FileDigests& digests, const wchar_t* logName) {
  digests = {};
  // From the first byte, whatever the handle read before.
  if (!SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
    LogHashFailure(logName, L"SetFilePointerEx");
    return false;
  }
  // MD5 alone keeps the provider it always had; SHA-256 needs the AES one,
  // which has MD5 as well.
  UniqueCryptProv provider;
  if (!CryptAcquireContextW(provider.put(), nullptr, nullptr, sha256 ? PROV_RSA_AES : PROV_RSA_FULL,
                            CRYPT_VERIFYCONTEXT)) {
    LogHashFailure(logName, L"CryptAcquireContext");
    return false;
  }
  UniqueCryptHash md5Hash, sha256Hash;
  if (md5 && !CryptCreateHash(provider.get(), CALG_MD5, 0, 0, md5Hash.put())) {
    LogHashFailure(kMd5Name, L"CryptCreateHash");
    return false;
  }
  if (sha256 && !CryptCreateHash(provider.get(), CALG_SHA_256, 0, 0, sha256Hash.put())) {
    LogHashFailure(kSha256Name, L"CryptCreateHash");
    return false;
  }

  std::vector<BYTE> block(kReadBlockBytes);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, block.data(), kReadBlockBytes, &read, nullptr)) {
      LogHashFailure(logName, L"ReadFile");
      return false;
    }
    if (read == 0) break;
    if (md5 && !CryptHashData(md5Hash.get(), block.data(), read, 0)) {
      LogHashFailure(kMd5Name, L"CryptHashData");
      return false;
    }
    if (sha256 && !CryptHashData(sha256Hash.get(), block.data(), read, 0)) {
      LogHashFailure(kSha256Name, L"CryptHashData");
      return false;
    }
  }
  return (!md5 || FetchDigest(md5Hash.get(), kMd5Bytes, digests.md5, kMd5Name)) &&
         (!sha256 || FetchDigest(sha256Hash.get(), kSha256Bytes, digests.sha256, kSha256Name));
}

bool ComputeMd5(std::wstring_view path, std::wstring& generated) {
  FileDigests digests;
  const bool computed = ComputeDigests(path, true, false, digests, kMd5Name);
  generated = std::move(digests.md5);
  return computed;
}

namespace {
// Logs the digests that were asked for and compares them, the worse result winning.
Result CompareDigests(const FileDigests& digests, std::wstring_view expectedMd5,
                      std::wstring_view expectedSha256) {
  Result result = RESULT_PASSED;
  if (!expectedMd5.empty()) {
    LogInfo(L"%s - Generated Md5 %s", kMd5Name, digests.md5.c_str());
    result = CompareDigest(expectedMd5, digests.md5);
  }
  if (!expectedSha256.empty()) {
    LogInfo(L"%s - Generated Sha256 %s", kSha256Name, digests.sha256.c_str());
    const Result compared = CompareDigest(expectedSha256, digests.sha256);
    if (compared < result) result = compared;
  }
  return result;
}
}  // namespace

Result VerifyDigests(std::wstring_view path, std::wstring_view expectedMd5,
                     std::wstring_view expectedSha256) {
  const bool md5 = !expectedMd5.empty(), sha256 = !expectedSha256.empty();
  if (!md5 && !sha256) return RESULT_PASSED;
  if (path.empty()) {
    LogError(L"%s - Invalid Parameters", md5 ? kMd5Name : kSha256Name);
    return RESULT_ERROR;
  }
  FileDigests digests;
  if (!ComputeDigests(path, md5, sha256, digests, md5 ? kMd5Name : kSha256Name)) return RESULT_ERROR;
  return CompareDigests(digests, expectedMd5, expectedSha256);
}

Result VerifyDigests(HANDLE file, std::wstring_view expectedMd5, std::wstring_view expectedSha256) {
  const bool md5 = !expectedMd5.empty(), sha256 = !expectedSha256.empty();
  if (!md5 && !sha256) return RESULT_PASSED;
  FileDigests digests;
  if (!ComputeDigests(file, md5, sha256, digests, md5 ? kMd5Name : kSha256Name)) return RESULT_ERROR;
  return CompareDigests(digests, expectedMd5, expectedSha256);
}

Result VerifyMd5(std::wstring_view path, std::wstring_view expectedMd5) {
  if (path.empty() || expectedMd5.empty()) {
    LogError(L"%s - Invalid Parameters", kMd5Name);
    return RESULT_ERROR;
  }
  return VerifyDigests(path, expectedMd5, {});
}

Result VerifySha256(std::wstring_view path, std::wstring_view expectedSha256) {
  if (path.empty() || expectedSha256.empty()) {
    LogError(L"%s - Invalid Parameters", kSha256Name);
    return RESULT_ERROR;
  }
  return VerifyDigests(path, {}, expectedSha256);
}

}  // namespace System
