#include "system/signature.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/unique_handle.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;

// Made by tests/fixtures/make_signed.sh, whose CA the prefix trusts; the CA
// of the untrusted programs it never trusts.
std::wstring Signed(const wchar_t* name) {
  return Testing::ProgramFolder() + L"\\signed\\" + name;
}

// The lines are Wine's: Windows refuses the untrusted chains in
// WinVerifyTrust already, where Wine passes them (authenticode-wine.md).
TEST(VerifySigner, OnlyATrustedSignatureByExactlyThePinnedSignerPasses) {
  constexpr wchar_t kGood[] = L"Good Publisher Ltd";
  const struct {
    const wchar_t* file;
    const wchar_t* signer;
    Result result;
    const char* logged;
  } cases[] = {
      {L"good.exe", kGood, RESULT_PASSED, "signed by \"Good Publisher Ltd\""},
      {L"unsigned.exe", kGood, RESULT_FAILED, "WinVerifyTrust failed (0x800B0100)"},
      {L"other.exe", kGood, RESULT_FAILED,
       "the signer is \"Other Publisher Ltd\", not \"Good Publisher Ltd\" (0x800B010F)"},
      {L"good.exe", L"good publisher ltd", RESULT_FAILED,
       "the signer is \"Good Publisher Ltd\", not \"good publisher ltd\" (0x800B010F)"},
      {L"good.exe", L"Good Publisher", RESULT_FAILED,
       "the signer is \"Good Publisher Ltd\", not \"Good Publisher\" (0x800B010F)"},
      {L"tampered.exe", kGood, RESULT_FAILED, "WinVerifyTrust failed (0x80096010)"},
      // The right name from a CA never trusted: only the chain check refuses it.
      {L"untrusted.exe", kGood, RESULT_FAILED, "the signer's chain is not trusted (0x00010000)"},
      {L"untrusted-chain.exe", kGood, RESULT_FAILED, "the signer's chain is not trusted (0x00000020)"},
  };
  for (const auto& c : cases) {
    const std::wstring path = Signed(c.file);
    Testing::LogCapture log;
    EXPECT_EQ(c.result, System::VerifySigner(path, c.signer)) << c.logged;
    EXPECT_EQ(Lines{"System::VerifySigner - " + Testing::Narrow(path) + ": " + c.logged}, log.Lines());
  }
  // The trust state was closed: nothing of the checks holds a file still.
  for (const auto& c : cases) {
    EXPECT_TRUE(UniqueFile(CreateFileW(Signed(c.file).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr)))
        << Testing::Narrow(c.file);
  }
}

}  // namespace
