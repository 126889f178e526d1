#include "config/text_value.h"

#include <gtest/gtest.h>

namespace {

TEST(BooleanValue, OnlyTheThreeFalseWordsInAnyCaseAreFalse) {
  struct Case {
    const wchar_t* text;
    bool expected;
  };
  const Case cases[] = {
      {L"0", false},     {L"false", false}, {L"FALSE", false}, {L"False", false}, {L"no", false},
      {L"NO", false},    {L"nO", false},    {L"", true},       {L"1", true},      {L"yes", true},
      {L"true", true},   {L"00", true},     {L" no", true},    {L"no ", true},    {L"n", true},
      {L"falsey", true}, {L"b=c", true},    {L"off", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, Parser::BooleanValue(c.text)) << "text \"" << c.text << "\"";
}

TEST(WidenBytes, EachByteBecomesTheCharacterOfTheSameCode) {
  EXPECT_EQ(L"abc", Parser::WidenBytes("abc"));
  // UTF-8 "é" stays two characters: no multi-byte decoding in the "C" locale.
  EXPECT_EQ(std::wstring(L"\x00C3\x00A9"), Parser::WidenBytes("\xC3\xA9"));
  EXPECT_EQ(std::wstring(L"\x00FF"), Parser::WidenBytes("\xFF"));
}

TEST(WidenBytes, KeepsAtMost255Characters) {
  EXPECT_EQ(255u, Parser::WidenBytes(std::string(300, 'x')).size());
  EXPECT_EQ(255u, Parser::WidenBytes(std::string(255, 'x')).size());
  EXPECT_EQ(254u, Parser::WidenBytes(std::string(254, 'x')).size());
}

}  // namespace
