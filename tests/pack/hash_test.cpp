#include "pack/hash.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

std::string Md5(const std::string& bytes) {
  return Testing::Narrow(Testing::Md5Hex(bytes));
}

class HashTest : public testing::Test {
 protected:
  void SetUp() override {
    Testing::WriteFileBytes(folder_.File(L"setup.exe"), "setup program bytes");
    Testing::WriteFileBytes(folder_.File(L"client.msi"), std::string(70000, 'm'));
  }
  Testing::TempFolder folder_;
};

TEST_F(HashTest, FillsInSizesAndDigestsAndKeepsEveryOtherByte) {
  const std::string document =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!-- <Component name=\"InAComment\" filename=\"none\"/> -->\r\n"
      "<QvDeploy version=\"2\">\r\n"
      "  <Components>\r\n"
      "    <Component name=\"Setup\"  display='Tessel Installer' filename=\"setup.exe\" size = '1' "
      "md5=\"OLD\" sha256=\"OLD\">\r\n"
      "      <Location type=\"download\" file=\"http://127.0.0.1/setup.exe\"/>\r\n"
      "    </Component>\r\n"
      "    <Component name=\"Msi\" display=\"Tessel Installer\" filename=\"client.msi\"/>\r\n"
      "  </Components>\r\n"
      "</QvDeploy>\r\n";
  std::string hashed;
  std::wstring message;
  ASSERT_EQ(Pack::kExitOk, Pack::HashDocument(document, folder_.path(), hashed, message))
      << Testing::Narrow(message);
  EXPECT_EQ(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!-- <Component name=\"InAComment\" filename=\"none\"/> -->\r\n"
      "<QvDeploy version=\"2\">\r\n"
      "  <Components>\r\n"
      "    <Component name=\"Setup\"  display='Tessel Installer' filename=\"setup.exe\" size = '19' md5=\"" +
          Md5("setup program bytes") +
          "\" sha256=\"8aedfe628f3892d2be997f4f7c9b8ee39912c7708c92a3ae113fcd8e0dde59d2\">\r\n"
          "      <Location type=\"download\" file=\"http://127.0.0.1/setup.exe\"/>\r\n"
          "    </Component>\r\n"
          "    <Component name=\"Msi\" display=\"Tessel Installer\" filename=\"client.msi\" size=\"70000\" "
          "md5=\"" +
          Md5(std::string(70000, 'm')) +
          "\" sha256=\"544d93c11fff99f0c1bf63722ac70df1da257ab500d8c0a465cb0158febfb6c4\"/>\r\n"
          "  </Components>\r\n"
          "</QvDeploy>\r\n",
      hashed);
}

TEST_F(HashTest, BadInputGetsAClearMessageAndNoOutput) {
  const struct {
    std::string document;
    int code;
    std::wstring message;
  } cases[] = {
      {"<QvDeploy><Components><Component name=\"Gone\" filename=\"gone.bin\"/></Components></QvDeploy>",
       Pack::kExitFindings, L"component Gone: cannot read " + folder_.File(L"gone.bin")},
      {"<QvDeploy><Components><Component name=\"NoFile\"/></Components></QvDeploy>", Pack::kExitFindings,
       L"component NoFile has no filename"},
      {"<QvDeploy><Components>", Pack::kExitUnreadable, L""},
  };
  for (const auto& c : cases) {
    const std::wstring input = folder_.File(L"in.xml"), output = folder_.File(L"out.xml");
    Testing::WriteFileBytes(input, c.document);
    std::wstring message;
    EXPECT_EQ(c.code, Pack::Hash(input, folder_.path(), output, message)) << c.document;
    if (!c.message.empty()) {
      EXPECT_EQ(c.message, message);
    }
    if (c.code == Pack::kExitUnreadable) {
      EXPECT_EQ(0u, message.find(L"not an XML document: ")) << Testing::Narrow(message);
    }
    std::string left;
    EXPECT_FALSE(Testing::ReadFileBytes(output, left)) << "no output after a failure";
    EXPECT_FALSE(Testing::ReadFileBytes(output + L".tmp", left)) << "no temporary file left";
  }
  std::wstring message;
  EXPECT_EQ(Pack::kExitUnreadable,
            Pack::Hash(folder_.File(L"missing.xml"), folder_.path(), folder_.File(L"o.xml"), message));
  EXPECT_EQ(L"cannot read " + folder_.File(L"missing.xml"), message);
}

TEST_F(HashTest, FileOf4GiBOrMoreIsRefused) {
  const std::wstring big = folder_.File(L"big.bin");
  {
    HANDLE file = CreateFileW(big.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    LARGE_INTEGER end{};
    end.QuadPart = 1LL << 32;
    SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
  }
  std::string hashed;
  std::wstring message;
  EXPECT_EQ(
      Pack::kExitFindings,
      Pack::HashDocument(
          "<QvDeploy><Components><Component name=\"Big\" filename=\"big.bin\"/></Components></QvDeploy>",
          folder_.path(), hashed, message));
  EXPECT_EQ(L"component Big: " + big + L" is 4 GiB or more, which a size cannot hold", message);
}

TEST_F(HashTest, WrittenThroughTheCommand) {
  const std::wstring input = folder_.File(L"in.xml"), output = folder_.File(L"out.xml");
  Testing::WriteFileBytes(
      input, "<QvDeploy><Components><Component name=\"S\" filename=\"setup.exe\"/></Components></QvDeploy>");
  Testing::WriteFileBytes(output, "an older output");
  std::wstring message;
  ASSERT_EQ(Pack::kExitOk, Pack::Hash(input, folder_.path(), output, message));
  std::string written;
  ASSERT_TRUE(Testing::ReadFileBytes(output, written));
  EXPECT_EQ("<QvDeploy><Components><Component name=\"S\" filename=\"setup.exe\" size=\"19\" md5=\"" +
                Md5("setup program bytes") +
                "\" sha256=\"8aedfe628f3892d2be997f4f7c9b8ee39912c7708c92a3ae113fcd8e0dde59d2\"/></Components></QvDeploy>",
            written);
}

// The programs made by tests/fixtures/make_signed.sh.
TEST(HashSigners, EachFileSaysWhoSignedIt) {
  const std::string document =
      "<QvDeploy><Components><Component name=\"Signed\" filename=\"good.exe\"/>"
      "<Component name=\"Plain\" filename=\"unsigned.exe\"/></Components></QvDeploy>";
  std::string hashed;
  std::wstring message;
  std::vector<std::wstring> signers;
  ASSERT_EQ(Pack::kExitOk,
            Pack::HashDocument(document, Testing::ProgramFolder() + L"\\signed", hashed, message, &signers));
  EXPECT_EQ((std::vector<std::wstring>{
                L"component \"Signed\": signer=\"Good Publisher Ltd\"",
                L"component \"Plain\": no trusted signer: WinVerifyTrust failed (0x800B0100)"}),
            signers);
}

}  // namespace
