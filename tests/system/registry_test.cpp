#include "system/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using System::ReadRegistryValue;

// Works under a key of the tests' own in HKCU and HKLM.
class RegistryTest : public testing::Test {
 protected:
  static void SetRaw(HKEY root, const std::wstring& subkey, const wchar_t* name, DWORD type, const void* data,
                     DWORD bytes) {
    Testing::TestRegistryKey::SetRaw(root, subkey, name, type, data, bytes);
  }
  static void SetText(HKEY root, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    Testing::TestRegistryKey::SetText(root, name, text, type);
  }
  static void SetDword(const wchar_t* name, DWORD value) { Testing::TestRegistryKey::SetDword(name, value); }

 private:
  Testing::TestRegistryKey key_;
};

struct ReadCase {
  const wchar_t* path;
  Result result;
  DWORD size;  // from the size call, when it passes
  const wchar_t* text;
};

void ExpectReads(const std::vector<ReadCase>& cases) {
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "path " << c.path);
    DWORD size = 0;
    const Result sized = ReadRegistryValue(c.path, nullptr, &size);
    EXPECT_EQ(c.result, sized);
    if (sized != RESULT_PASSED) continue;
    EXPECT_EQ(c.size, size);
    std::vector<wchar_t> buffer(size, L'#');
    EXPECT_EQ(RESULT_PASSED, ReadRegistryValue(c.path, buffer.data(), &size));
    EXPECT_EQ(std::wstring(c.text), std::wstring(buffer.data()));
  }
}

TEST_F(RegistryTest, ReadsTextAndNumbersAsText) {
  SetText(HKEY_CURRENT_USER, L"Text", L"hello");
  SetText(HKEY_CURRENT_USER, L"", L"default text");
  SetText(HKEY_LOCAL_MACHINE, L"Text", L"machine");
  SetDword(L"Largest", 0xFFFFFFFF);
  SetDword(L"Zero", 0);
  SetDword(L"One", 1);
  SetRaw(HKEY_CURRENT_USER, L"\\Sub\\Deeper", L"Name", REG_SZ, L"deep", 10);
  ExpectReads({
      {L"HKCU\\Software\\TesselLauncherTests\\Text", RESULT_PASSED, 6, L"hello"},
      {L"HKEY_CURRENT_USER\\Software\\TesselLauncherTests\\Text", RESULT_PASSED, 6, L"hello"},
      {L"HKCU\\Software\\TesselLauncherTests\\", RESULT_PASSED, 13, L"default text"},
      {L"HKLM\\Software\\TesselLauncherTests\\Text", RESULT_PASSED, 8, L"machine"},
      {L"HKEY_LOCAL_MACHINE\\Software\\TesselLauncherTests\\Text", RESULT_PASSED, 8, L"machine"},
      // The roots are prefixes: more letters before the first backslash are allowed.
      {L"HKLMachine\\Software\\TesselLauncherTests\\Text", RESULT_PASSED, 8, L"machine"},
      {L"HKCU\\Software\\TesselLauncherTests\\Largest", RESULT_PASSED, 11, L"4294967295"},
      {L"HKCU\\Software\\TesselLauncherTests\\Zero", RESULT_PASSED, 11, L"0"},
      {L"HKCU\\Software\\TesselLauncherTests\\One", RESULT_PASSED, 11, L"1"},
      {L"HKCU\\Software\\TesselLauncherTests\\Sub\\Deeper\\Name", RESULT_PASSED, 5, L"deep"},
  });
}

TEST_F(RegistryTest, MissingThingsFailAndBadRequestsAreErrors) {
  SetText(HKEY_CURRENT_USER, L"Text", L"hello");
  SetText(HKEY_CURRENT_USER, L"Expand", L"%TEMP%", REG_EXPAND_SZ);
  const wchar_t multi[] = L"one\0two\0";
  SetRaw(HKEY_CURRENT_USER, L"", L"Multi", REG_MULTI_SZ, multi, sizeof(multi));
  const BYTE binary[] = {1, 2, 3, 4};
  SetRaw(HKEY_CURRENT_USER, L"", L"Binary", REG_BINARY, binary, sizeof(binary));
  SetRaw(HKEY_CURRENT_USER, L"", L"NoBytes", REG_SZ, L"", 0);
  SetText(HKEY_CURRENT_USER, L"EmptyText", L"");
  ExpectReads({
      {L"HKCU\\Software\\TesselLauncherTests\\Missing", RESULT_FAILED, 0, L""},
      {L"HKCU\\Software\\TesselLauncherTests\\NoSuchKey\\Text", RESULT_FAILED, 0, L""},
      {L"HKCU\\Software\\TesselLauncherTests\\NoBytes", RESULT_FAILED, 0, L""},
      {L"HKCU\\Software\\TesselLauncherTests\\EmptyText", RESULT_FAILED, 0, L""},
      // Not expanded, not joined: other types are errors.
      {L"HKCU\\Software\\TesselLauncherTests\\Expand", RESULT_ERROR, 0, L""},
      {L"HKCU\\Software\\TesselLauncherTests\\Multi", RESULT_ERROR, 0, L""},
      {L"HKCU\\Software\\TesselLauncherTests\\Binary", RESULT_ERROR, 0, L""},
      {L"hkcu\\Software\\TesselLauncherTests\\Text", RESULT_ERROR, 0, L""},
      {L"HKCR\\Software\\TesselLauncherTests\\Text", RESULT_ERROR, 0, L""},
      {L"HKCU\\Text", RESULT_ERROR, 0, L""},
      {L"HKCU", RESULT_ERROR, 0, L""},
      {L"", RESULT_ERROR, 0, L""},
  });
  wchar_t buffer[8];
  EXPECT_EQ(RESULT_ERROR, ReadRegistryValue(L"HKCU\\Software\\TesselLauncherTests\\Text", buffer, nullptr));
  EXPECT_EQ(RESULT_ERROR, ReadRegistryValue(L"HKCU\\Software\\TesselLauncherTests\\Text", nullptr, nullptr));
}

TEST_F(RegistryTest, BufferSmallerThanTheSizeIsAnError) {
  SetText(HKEY_CURRENT_USER, L"Text", L"hello");
  SetDword(L"Number", 7);
  wchar_t buffer[16];
  DWORD size = 5;
  EXPECT_EQ(RESULT_ERROR, ReadRegistryValue(L"HKCU\\Software\\TesselLauncherTests\\Text", buffer, &size));
  size = 10;
  EXPECT_EQ(RESULT_ERROR, ReadRegistryValue(L"HKCU\\Software\\TesselLauncherTests\\Number", buffer, &size));
  size = 6;
  EXPECT_EQ(RESULT_PASSED, ReadRegistryValue(L"HKCU\\Software\\TesselLauncherTests\\Text", buffer, &size));
  EXPECT_STREQ(L"hello", buffer);
}

TEST_F(RegistryTest, TextStoredWithoutItsTerminatorIsReadTerminated) {
  SetRaw(HKEY_CURRENT_USER, L"", L"Even", REG_SZ, L"abcd", 8);
  SetRaw(HKEY_CURRENT_USER, L"", L"Odd", REG_SZ, "a\0b\0c", 5);
  ExpectReads({
      {L"HKCU\\Software\\TesselLauncherTests\\Even", RESULT_PASSED, 5, L"abcd"},
      {L"HKCU\\Software\\TesselLauncherTests\\Odd", RESULT_PASSED, 4, L"abc"},
  });
}

TEST_F(RegistryTest, ReadRegistryTextDoesBothCalls) {
  SetText(HKEY_CURRENT_USER, L"Text", L"hello");
  std::wstring text = L"stale";
  EXPECT_EQ(RESULT_PASSED, System::ReadRegistryText(L"HKCU\\Software\\TesselLauncherTests\\Text", text));
  EXPECT_EQ(L"hello", text);
  EXPECT_EQ(RESULT_FAILED, System::ReadRegistryText(L"HKCU\\Software\\TesselLauncherTests\\Gone", text));
  EXPECT_EQ(L"", text);
}

TEST(SplitRegistryPath, SplitsAtTheFirstAndLastBackslash) {
  struct Case {
    const wchar_t* path;
    Result result;
    HKEY root;
    const wchar_t* subkey;
    const wchar_t* value;
  };
  const Case cases[] = {
      {L"HKLM\\SOFTWARE\\Policies\\Microsoft\\Windows\\Installer\\DisableMSI", RESULT_PASSED,
       HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Microsoft\\Windows\\Installer", L"DisableMSI"},
      {L"HKEY_CURRENT_USER\\Software\\Key\\", RESULT_PASSED, HKEY_CURRENT_USER, L"Software\\Key", L""},
      {L"HKCU\\\\Value", RESULT_PASSED, HKEY_CURRENT_USER, L"", L"Value"},
      {L"HKCUx\\Key\\Value", RESULT_PASSED, HKEY_CURRENT_USER, L"Key", L"Value"},
      {L"HKCU\\Value", RESULT_ERROR, nullptr, L"", L""},
      {L"Hkcu\\Key\\Value", RESULT_ERROR, nullptr, L"", L""},
      {L"HKU\\Key\\Value", RESULT_ERROR, nullptr, L"", L""},
      {L"", RESULT_ERROR, nullptr, L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "path " << c.path);
    HKEY root = nullptr;
    std::wstring subkey, value;
    ASSERT_EQ(c.result, System::SplitRegistryPath(c.path, &root, &subkey, &value));
    if (c.result != RESULT_PASSED) continue;
    EXPECT_EQ(c.root, root);
    EXPECT_EQ(c.subkey, subkey);
    EXPECT_EQ(c.value, value);
  }
}

TEST(SplitRegistryPath, RootIsOnlyCheckedWhenAskedFor) {
  std::wstring value;
  EXPECT_EQ(RESULT_PASSED, System::SplitRegistryPath(L"HKU\\Key\\Value", nullptr, nullptr, &value));
  EXPECT_EQ(L"Value", value);
  HKEY root = nullptr;
  EXPECT_EQ(RESULT_ERROR, System::SplitRegistryPath(L"HKU\\Key\\Value", &root, nullptr, nullptr));
}

}  // namespace
