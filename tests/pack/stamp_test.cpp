#include "pack/stamp.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/support/test_support.h"

namespace {

const std::string kDocument =
    "<QvDeploy version=\"2\">\r\n"
    "<Conditions><Condition name=\"QvInstalled\" type=\"reg\" op=\"exists\" "
    "path=\"HKCU\\Software\\T\\Path\"/>"
    "<Condition name=\"InstallContextDlgShow\" type=\"admin\" value=\"0\"/>"
    "<Condition name=\"InstallContextDlgPerUserDefault\" type=\"admin\" value=\"0\"/></Conditions>\r\n"
    "<Components><Component name=\"Setup\" display=\"Setup\" check=\"QvInstalled\" dest=\"[TempFolder]\\S\" "
    "filename=\"setup.exe\" size=\"10\" md5=\"0123456789abcdef0123456789abcdef\">"
    "<Location type=\"download\" file=\"http://127.0.0.1/setup.exe\"/></Component></Components>\r\n"
    "<Installer name=\"Setup\"/>\r\n"
    "</QvDeploy>\r\n";

std::wstring Launcher() {
  return Testing::ProgramFolder() + L"\\VantorLauncher.exe";
}

std::string ResourceKey(LPCWSTR type, LPCWSTR name, WORD language) {
  auto part = [](LPCWSTR id) {
    return IS_INTRESOURCE(id) ? std::to_string(reinterpret_cast<ULONG_PTR>(id)) : Testing::Narrow(id);
  };
  return part(type) + "/" + part(name) + "/" + std::to_string(language);
}

struct ResourceWalk {
  HMODULE module;
  std::map<std::string, std::string> found;
};

BOOL CALLBACK TakeLanguage(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR walk) {
  HRSRC found = FindResourceExW(module, type, name, language);
  const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
  reinterpret_cast<ResourceWalk*>(walk)->found[ResourceKey(type, name, language)] =
      std::string(data, SizeofResource(module, found));
  return TRUE;
}

BOOL CALLBACK TakeName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR walk) {
  return EnumResourceLanguagesW(module, type, name, TakeLanguage, walk);
}

BOOL CALLBACK TakeType(HMODULE module, LPWSTR type, LONG_PTR walk) {
  return EnumResourceNamesW(module, type, TakeName, walk);
}

// Every resource of a program, by type, name and language.
std::map<std::string, std::string> Resources(const std::wstring& path) {
  ResourceWalk walk{LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), {}};
  EXPECT_NE(nullptr, walk.module);
  if (!walk.module) return {};
  EnumResourceTypesW(walk.module, TakeType, reinterpret_cast<LONG_PTR>(&walk));
  FreeLibrary(walk.module);
  return walk.found;
}

class StampTest : public testing::Test {
 protected:
  void SetUp() override {
    Testing::WriteFileBytes(folder_.File(L"d.xml"), kDocument);
    Testing::WriteFileBytes(folder_.File(L"c.xml"), "<?xml version=\"1.0\"?>\r\n<Client server=\"a\"/>\r\n");
  }

  int Stamp(const std::wstring& launcher, const std::wstring& document,
            const std::optional<std::wstring>& client, const std::wstring& output) {
    message_.clear();
    return Pack::Stamp(launcher, document, client, output, message_);
  }

  // The files in the test folder, to see that a failure leaves nothing behind.
  std::vector<std::wstring> Files() const { return Testing::FilesIn(folder_); }

  Testing::TempFolder folder_;
  std::wstring message_;
};

TEST_F(StampTest, EmbedsTheDocumentsByteForByteAndKeepsEverythingElse) {
  std::string before;
  ASSERT_TRUE(Testing::ReadFileBytes(Launcher(), before));
  // Larger than the launcher's own resource section, so that it has to grow.
  std::string large = kDocument;
  large.insert(large.size() - 13, "<!--" + std::string(300000, 'x') + "-->\r\n");
  Testing::WriteFileBytes(folder_.File(L"large.xml"), large);

  for (const wchar_t* document : {L"d.xml", L"large.xml"}) {
    const std::wstring output = folder_.File(L"out.exe");
    ASSERT_EQ(0, Stamp(Launcher(), folder_.File(document), folder_.File(L"c.xml"), output))
        << Testing::Narrow(message_);
    std::string expected, embedded;
    ASSERT_TRUE(Testing::ReadFileBytes(folder_.File(document), expected));
    ASSERT_TRUE(Pack::ReadEmbeddedDocument(output, IDR_DEPLOY_CONFIG, embedded));
    EXPECT_EQ(expected, embedded);
    ASSERT_TRUE(Testing::ReadFileBytes(folder_.File(L"c.xml"), expected));
    ASSERT_TRUE(Pack::ReadEmbeddedDocument(output, IDR_CLIENT_CONFIG, embedded));
    EXPECT_EQ(expected, embedded);

    std::map<std::string, std::string> original = Resources(Launcher()), stamped = Resources(output);
    for (const int id : {IDR_DEPLOY_CONFIG, IDR_CLIENT_CONFIG}) {
      const std::string key =
          ResourceKey(L"XML_FILE", MAKEINTRESOURCEW(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
      EXPECT_EQ(1u, original.erase(key)) << key;
      EXPECT_EQ(1u, stamped.erase(key)) << key;
    }
    EXPECT_GT(original.size(), 20u);
    EXPECT_TRUE(original == stamped) << "the other resources changed";
  }
  std::string after;
  ASSERT_TRUE(Testing::ReadFileBytes(Launcher(), after));
  EXPECT_TRUE(before == after) << "the input launcher changed";
}

TEST_F(StampTest, WithoutAClientDocumentTheLaunchersOwnStays) {
  std::string own, embedded;
  ASSERT_TRUE(Pack::ReadEmbeddedDocument(Launcher(), IDR_CLIENT_CONFIG, own));
  ASSERT_EQ(0, Stamp(Launcher(), folder_.File(L"d.xml"), std::nullopt, folder_.File(L"out.exe")));
  ASSERT_TRUE(Pack::ReadEmbeddedDocument(folder_.File(L"out.exe"), IDR_CLIENT_CONFIG, embedded));
  EXPECT_EQ(own, embedded);
}

TEST_F(StampTest, ReplacesAnOutputThatIsThere) {
  Testing::WriteFileBytes(folder_.File(L"out.exe"), "old");
  ASSERT_EQ(0, Stamp(Launcher(), folder_.File(L"d.xml"), std::nullopt, folder_.File(L"out.exe")));
  std::string embedded;
  EXPECT_TRUE(Pack::ReadEmbeddedDocument(folder_.File(L"out.exe"), IDR_DEPLOY_CONFIG, embedded));
  EXPECT_EQ(kDocument, embedded);
}

TEST_F(StampTest, BadInputIsRefusedAndLeavesNoOutput) {
  Testing::WriteFileBytes(folder_.File(L"text.exe"), "MZ but not much else");
  Testing::WriteFileBytes(folder_.File(L"not.xml"), "just some text");
  Testing::WriteFileBytes(folder_.File(L"errors.xml"), "<QvDeploy version=\"2\"/>");
  // A launcher whose certificate table is set, as signing sets it.
  std::string image;
  ASSERT_TRUE(Testing::ReadFileBytes(Launcher(), image));
  const DWORD headers = *reinterpret_cast<const DWORD*>(image.data() + 0x3C);
  const size_t security = headers + 24 + 96 + IMAGE_DIRECTORY_ENTRY_SECURITY * 8;
  image[security + 4] = 0x10;
  Testing::WriteFileBytes(folder_.File(L"signed.exe"), image);

  const std::wstring d = folder_.File(L"d.xml"), c = folder_.File(L"c.xml"), out = folder_.File(L"out.exe");
  const std::wstring tests = Testing::ProgramFolder() + L"\\pack_tests.exe";
  struct Case {
    std::wstring launcher, document;
    std::optional<std::wstring> client;
    std::wstring output;
    int code;
    std::wstring message;
  };
  const std::vector<Case> cases = {
      {folder_.File(L"none.exe"), d, c, out, 1, L"cannot read " + folder_.File(L"none.exe")},
      {Launcher(), folder_.File(L"none.xml"), c, out, 2, L"cannot read " + folder_.File(L"none.xml")},
      {Launcher(), d, folder_.File(L"none.xml"), out, 2, L"cannot read " + folder_.File(L"none.xml")},
      {folder_.File(L"text.exe"), d, c, out, 1,
       folder_.File(L"text.exe") + L" is not a 32-bit Windows program"},
      {tests, d, c, out, 1, tests + L" has no embedded deployment document, so it is not a launcher"},
      {folder_.File(L"signed.exe"), d, c, out, 1,
       folder_.File(L"signed.exe") + L" is signed, and stamping would break its signature: stamp the "
                                     L"unsigned launcher, then sign the output"},
      {Launcher(), folder_.File(L"not.xml"), c, out, 2,
       folder_.File(L"not.xml") + L": not an XML document: Error document empty."},
      {Launcher(), d, folder_.File(L"not.xml"), out, 2,
       folder_.File(L"not.xml") + L": not an XML document: Error document empty."},
      {Launcher(), folder_.File(L"errors.xml"), c, out, 1,
       folder_.File(L"errors.xml") + L" has 2 errors; nothing was stamped"},
      {Launcher(), d, c, folder_.File(L"missing\\out.exe"), 1,
       L"cannot write " + folder_.File(L"missing\\out.exe")},
      {Launcher(), d, c, d, 1, L"the output " + d + L" would replace the input " + d},
  };
  const std::vector<std::wstring> files = Files();
  for (const Case& change : cases) {
    EXPECT_EQ(change.code, Stamp(change.launcher, change.document, change.client, change.output))
        << Testing::Narrow(change.message);
    EXPECT_EQ(Testing::Narrow(change.message), Testing::Narrow(message_));
    EXPECT_TRUE(files == Files()) << "a file was left behind: " << Testing::Narrow(change.message);
  }
  std::string unchanged;
  ASSERT_TRUE(Testing::ReadFileBytes(d, unchanged));
  EXPECT_EQ(kDocument, unchanged);
}

}  // namespace
