#include "deploy/text.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

class TextTest : public testing::Test {
 protected:
  void SetUp() override {
    languageOffset = 0;
    ResetTextRing();
  }
  void TearDown() override { languageOffset = 0; }
};

TEST_F(TextTest, LoadsByEnglishIdPlusTheLanguageOffset) {
  EXPECT_STREQ(L"Yes", LoadText(201));
  EXPECT_STREQ(L"Just Me", LoadText(242));
  EXPECT_STREQ(L"", LoadText(245));  // past the last text
  languageOffset = 5000;  // no such block
  EXPECT_STREQ(L"", LoadText(201));
}

TEST_F(TextTest, TextStaysValidUntilFiveMoreLoads) {
  const wchar_t* yes = LoadText(201);
  for (UINT id = 202; id <= 205; ++id) LoadText(id);
  EXPECT_STREQ(L"Yes", yes);
  LoadText(206);  // the fifth load after it takes its slot again
  EXPECT_STREQ(L"Error reading configuration file.", yes);
}

TEST_F(TextTest, EachThreadHasItsOwnRing) {
  const wchar_t* mine = LoadText(237);
  std::thread other([] {
    for (int i = 0; i < 20; ++i) LoadText(238);
  });
  other.join();
  EXPECT_STREQ(L"Are you sure you want to cancel?", mine);
}

TEST_F(TextTest, ResetStartsAgainAtSlotZero) {
  const wchar_t* first = LoadText(201);
  LoadText(202);
  ResetTextRing();
  EXPECT_EQ(first, LoadText(203));
}

TEST(FormatText, FormatsWithTheWideRules) {
  std::wstring text;
  EXPECT_EQ(66, FormatText(text, LoadText(210), L"Tessel", L"11.4"));
  EXPECT_EQ(L"This package will install Tessel v11.4.\nWould you like to install?", text);
  EXPECT_EQ(L"Copying component (2 of 3)...", (FormatTextN(text, 256, LoadText(230), 2u, 3u), text));
  EXPECT_EQ(15, FormatTextN(text, 256, L"%.1f of %.1f %s", 1.2, 999.9, L"KB"));
  EXPECT_EQ(L"1.2 of 999.9 KB", text);
}

TEST(FormatText, LongTextsGrowTheBufferAndAreNeverCut) {
  const std::wstring name(500, L'n');
  std::wstring text;
  const int written = FormatText(text, L"Error launching %s.", name.c_str());
  EXPECT_EQ(static_cast<int>(name.size()) + 17, written);
  EXPECT_EQ(L"Error launching " + name + L".", text);
  // Exactly at the first buffer's edge: 119 characters fit with the terminator.
  const std::wstring edge(119, L'e');
  EXPECT_EQ(119, FormatText(text, L"%s", edge.c_str()));
  EXPECT_EQ(edge, text);
  const std::wstring over(120, L'o');
  EXPECT_EQ(120, FormatText(text, L"%s", over.c_str()));
  EXPECT_EQ(over, text);
}

}  // namespace
