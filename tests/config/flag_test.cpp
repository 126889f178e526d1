#include "config/flag.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;

class FlagTest : public testing::Test {
 protected:
  void SetUp() override { Flag::List().Clear(); }
  void TearDown() override { Flag::List().Clear(); }
};

TEST_F(FlagTest, NewFlagIsFalseAppendedAndLogged) {
  Testing::LogCapture log;
  Flag::Record* flag = Flag::Flag(L"silent");
  ASSERT_NE(nullptr, flag);
  EXPECT_EQ(L"silent", flag->name);
  EXPECT_FALSE(flag->value);
  EXPECT_EQ(Lines{"Flag::Flag - new silent"}, log.Lines());
}

TEST_F(FlagTest, EmptyNameGivesNothingAndLogsNothing) {
  Testing::LogCapture log;
  EXPECT_EQ(nullptr, Flag::Flag(L""));
  EXPECT_TRUE(Flag::List().empty());
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(FlagTest, FindTakesTheFirstOfEqualNamesCaseSensitively) {
  Flag::Record* first = Flag::Flag(L"silent");
  Flag::Record* second = Flag::Flag(L"silent");
  Flag::Record* upper = Flag::Flag(L"Silent");
  ASSERT_NE(first, second);
  EXPECT_EQ(3u, Flag::List().size());
  EXPECT_EQ(first, Flag::Find(L"silent"));
  EXPECT_EQ(upper, Flag::Find(L"Silent"));
  EXPECT_EQ(nullptr, Flag::Find(L"SILENT"));
  EXPECT_EQ(nullptr, Flag::Find(L"silen"));
  EXPECT_EQ(nullptr, Flag::Find(L""));
}

TEST_F(FlagTest, ClearFlagsLogsItsNameAndEmptiesTheList) {
  Flag::Flag(L"a");
  Flag::Flag(L"b");
  Testing::LogCapture log;
  Flag::ClearFlags();
  EXPECT_TRUE(Flag::List().empty());
  EXPECT_EQ(nullptr, Flag::Find(L"a"));
  EXPECT_EQ(Lines{"Flag::ClearFlags"}, log.Lines());
}

}  // namespace
