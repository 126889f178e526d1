#include "system/integrity.h"

#include <winioctl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/unique_handle.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;
using Testing::TempFolder;

TEST(VerifyFilesize, ComparesTheSize) {
  TempFolder folder;
  Testing::WriteFileBytes(folder.File(L"five"), "12345");
  Testing::WriteFileBytes(folder.File(L"empty"), "");
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_PASSED, System::VerifyFilesize(folder.File(L"five"), 5));
  EXPECT_EQ(RESULT_FAILED, System::VerifyFilesize(folder.File(L"five"), 4));
  EXPECT_EQ(RESULT_PASSED, System::VerifyFilesize(folder.File(L"empty"), 0));
  EXPECT_EQ(RESULT_FAILED, System::VerifyFilesize(folder.File(L"missing"), 0));
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_EQ(RESULT_ERROR, System::VerifyFilesize(L"", 0));
  EXPECT_EQ(Lines{"System::VerifyFilesize - Invalid File"}, log.Lines());
}

TEST(VerifyFilesize, ComparesOnlyTheLow32Bits) {
  TempFolder folder;
  const std::wstring path = folder.File(L"sparse");
  {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD ignored = 0;
    DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end{};
    end.QuadPart = (1LL << 32) + 7;
    ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file.get()));
  }
  EXPECT_EQ(RESULT_PASSED, System::VerifyFilesize(path, 7));
  EXPECT_EQ(RESULT_FAILED, System::VerifyFilesize(path, 0));
}

struct Md5Case {
  std::string content;
  const char* digest;
};

// The test suite of RFC 1321, and a file that takes many 1024-byte reads.
std::vector<Md5Case> KnownAnswers() {
  return {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
  };
}

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

TEST(VerifyMd5, KnownAnswersMatchAndAreLogged) {
  TempFolder folder;
  for (const Md5Case& c : KnownAnswers()) {
    const std::wstring path = folder.File(L"file");
    Testing::WriteFileBytes(path, c.content);
    Testing::LogCapture log;
    EXPECT_EQ(RESULT_PASSED, System::VerifyMd5(path, Wide(c.digest))) << c.digest;
    EXPECT_EQ(Lines{std::string("System::VerifyMd5 - Generated Md5 ") + c.digest}, log.Lines());
  }
}

TEST(VerifyMd5, ComparesWithoutRegardToCase) {
  TempFolder folder;
  Testing::WriteFileBytes(folder.File(L"abc"), "abc");
  const std::wstring path = folder.File(L"abc");
  const struct {
    const wchar_t* expected;
    Result result;
  } cases[] = {
      {L"900150983CD24FB0D6963F7D28E17F72", RESULT_PASSED},
      {L"900150983cD24fB0d6963F7D28E17F72", RESULT_PASSED},
      {L"900150983cd24fb0d6963f7d28e17f73", RESULT_FAILED},
      {L"000150983cd24fb0d6963f7d28e17f72", RESULT_FAILED},
      {L"900150983cd24fb0d6963f7d28e17f7", RESULT_ERROR},    // 31 characters
      {L"900150983cd24fb0d6963f7d28e17f720", RESULT_ERROR},  // 33 characters
  };
  for (const auto& c : cases) {
    Testing::LogCapture log;
    EXPECT_EQ(c.result, System::VerifyMd5(path, c.expected)) << Testing::Narrow(c.expected);
    EXPECT_EQ(Lines{"System::VerifyMd5 - Generated Md5 900150983cd24fb0d6963f7d28e17f72"}, log.Lines());
  }
}

// FIPS 180-2's examples, each hashed alone and then with its MD5 in the same read.
TEST(VerifySha256, KnownAnswersMatchAloneAndBesideTheMd5) {
  TempFolder folder;
  const struct {
    std::string content;
    const char* md5;
    const char* sha256;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21",
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    const std::wstring path = folder.File(L"file");
    Testing::WriteFileBytes(path, c.content);
    const std::string md5Line = std::string("System::VerifyMd5 - Generated Md5 ") + c.md5;
    const std::string sha256Line = std::string("System::VerifySha256 - Generated Sha256 ") + c.sha256;
    Testing::LogCapture log;
    EXPECT_EQ(RESULT_PASSED, System::VerifySha256(path, Wide(c.sha256))) << c.sha256;
    EXPECT_EQ(RESULT_PASSED, System::VerifyDigests(path, Wide(c.md5), Wide(c.sha256))) << c.sha256;
    EXPECT_EQ((Lines{sha256Line, md5Line, sha256Line}), log.Lines());
  }
}

// Both digests from one read: every one given must match, and an expected
// text of the wrong length is an error whatever the other says.
TEST(VerifyDigests, EveryGivenDigestMustMatch) {
  TempFolder folder;
  const std::wstring path = folder.File(L"abc");
  Testing::WriteFileBytes(path, "abc");
  const std::wstring md5 = L"900150983cd24fb0d6963f7d28e17f72", otherMd5 = L"000150983cd24fb0d6963f7d28e17f72";
  const std::wstring sha256 = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  const std::wstring otherSha256 = L"0a7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  const struct {
    std::wstring md5, sha256;
    Result result;
  } cases[] = {
      {md5, L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", RESULT_PASSED},
      {md5, otherSha256, RESULT_FAILED},
      {otherMd5, sha256, RESULT_FAILED},
      {L"", otherSha256, RESULT_FAILED},
      {otherMd5, sha256.substr(0, 63), RESULT_ERROR},
      {L"", sha256 + L"0", RESULT_ERROR},
      {L"", L"", RESULT_PASSED},  // nothing to compare: the file is not read
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.result, System::VerifyDigests(path, c.md5, c.sha256))
        << Testing::Narrow(c.md5) << " " << Testing::Narrow(c.sha256);
  }
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_ERROR, System::VerifySha256(folder.File(L"missing"), sha256));
  EXPECT_EQ(RESULT_ERROR, System::VerifySha256(path, L""));
  EXPECT_EQ((Lines{"System::VerifySha256 - CreateFile failed, GetLastError 2",
                   "System::VerifySha256 - Invalid Parameters"}),
            log.Lines());
}

// Through a held handle the checks read the held file, even once its path
// names another: Wine, unlike Windows, lets the folder of an open file be
// renamed, which stands in for a junction put on the way.
TEST(VerifyDigests, AHeldFileIsCheckedWhateverItsPathNamesNow) {
  TempFolder folder;
  const std::wstring inner = folder.File(L"run"), path = inner + L"\\abc";
  CreateDirectoryW(inner.c_str(), nullptr);
  Testing::WriteFileBytes(path, "abc");
  UniqueFile held(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  ASSERT_TRUE(MoveFileW(inner.c_str(), (inner + L"-away").c_str()));
  CreateDirectoryW(inner.c_str(), nullptr);
  Testing::WriteFileBytes(path, "other");
  const std::wstring md5 = L"900150983cd24fb0d6963f7d28e17f72";
  DWORD read = 0;
  char first = 0;
  ASSERT_TRUE(ReadFile(held.get(), &first, 1, &read, nullptr));  // the checks read from the start all the same
  EXPECT_EQ(RESULT_PASSED, System::VerifyFilesize(held.get(), 3));
  EXPECT_EQ(RESULT_PASSED, System::VerifyDigests(held.get(), md5, L""));
  EXPECT_EQ(RESULT_FAILED, System::VerifyFilesize(path, 3));
  EXPECT_EQ(RESULT_FAILED, System::VerifyDigests(path, md5, L""));
}

TEST(VerifyMd5, FailuresAreLoggedWithTheError) {
  TempFolder folder;
  const std::wstring held = folder.File(L"held");
  Testing::WriteFileBytes(held, "abc");
  // Held open for writing by another handle, with no sharing.
  UniqueFile writer(CreateFileW(held.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(writer);

  Testing::LogCapture log;
  EXPECT_EQ(RESULT_ERROR, System::VerifyMd5(L"", L"900150983cd24fb0d6963f7d28e17f72"));
  EXPECT_EQ(RESULT_ERROR, System::VerifyMd5(held, L""));
  EXPECT_EQ(RESULT_ERROR, System::VerifyMd5(folder.File(L"missing"), L"900150983cd24fb0d6963f7d28e17f72"));
  EXPECT_EQ(RESULT_ERROR, System::VerifyMd5(held, L"900150983cd24fb0d6963f7d28e17f72"));
  EXPECT_EQ((Lines{
                "System::VerifyMd5 - Invalid Parameters",
                "System::VerifyMd5 - Invalid Parameters",
                "System::VerifyMd5 - CreateFile failed, GetLastError 2",
                "System::VerifyMd5 - CreateFile failed, GetLastError 32",
            }),
            log.Lines());

  writer.reset();
  EXPECT_EQ(RESULT_PASSED, System::VerifyMd5(held, L"900150983cd24fb0d6963f7d28e17f72"));
}

TEST(VerifyMd5, LeavesTheFileOpenToOthersAfterwards) {
  TempFolder folder;
  const std::wstring path = folder.File(L"file");
  Testing::WriteFileBytes(path, "abc");
  for (int i = 0; i < 3; ++i) System::VerifyMd5(path, L"900150983cd24fb0d6963f7d28e17f72");
  // Every handle was closed: the file can be opened without sharing and deleted.
  UniqueFile exclusive(
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(exclusive);
  exclusive.reset();
  EXPECT_TRUE(DeleteFileW(path.c_str()));
}

}  // namespace
