#include "config/cond_string.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "config/flag.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;
using Text = std::optional<std::wstring>;

class CondStringTest : public testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    CondString::List().Clear();
    Condition::List().Clear();
    Flag::List().Clear();
  }
  static Condition::Record* FlagCondition(const wchar_t* name, const wchar_t* flag) {
    Condition::Record* condition = Condition::Condition(name, TYPE_FLAG);
    condition->value = flag;
    return condition;
  }
  static CondString::Record* Make(const wchar_t* name, Text pass, Text fail, Condition::Record* check) {
    CondString::Record* record = CondString::CondString(name);
    record->pass = std::move(pass);
    record->fail = std::move(fail);
    record->check = check;
    return record;
  }
};

TEST_F(CondStringTest, NewStringIsLogged) {
  Testing::LogCapture log;
  EXPECT_EQ(nullptr, CondString::CondString(L""));
  CondString::Record* record = CondString::CondString(L"LaunchRegKey");
  ASSERT_NE(nullptr, record);
  EXPECT_FALSE(record->pass || record->fail || record->check);
  EXPECT_EQ(Lines{"CondString::CondString - new LaunchRegKey"}, log.Lines());
}

TEST_F(CondStringTest, ValuesThatAreNoReferenceComeBackUnlogged) {
  Make(L"Name", L"pass", L"fail", nullptr);
  Testing::LogCapture log;
  const struct {
    Text value;
  } cases[] = {{std::nullopt}, {L""},      {L"$"},      {L"plain\\path.txt"},
               {L"Name"},      {L"$name"}, {L"$Other"}, {L" $Name"}};
  for (const auto& c : cases) EXPECT_EQ(c.value, CondString::Evaluate(c.value));
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(CondStringTest, ConditionChoosesThePassOrFailString) {
  Flag::Flag(L"peruser")->value = true;
  Condition::Record* perUser = FlagCondition(L"PerUser", L"peruser");
  Condition::Record* broken = FlagCondition(L"Broken", L"nosuchflag");
  Make(L"LaunchRegKey", L"HKCU\\Key\\Path", L"HKLM\\Key\\Path", perUser);
  Make(L"Broken", L"pass", L"fail", broken);

  Testing::LogCapture log;
  EXPECT_EQ(Text(L"HKCU\\Key\\Path"), CondString::Evaluate(L"$LaunchRegKey"));
  EXPECT_EQ(Text(L"fail"), CondString::Evaluate(L"$Broken"));
  Flag::Find(L"peruser")->value = false;
  Condition::ResetCachedResults();
  EXPECT_EQ(Text(L"HKLM\\Key\\Path"), CondString::Evaluate(L"$LaunchRegKey"));
  EXPECT_EQ(
      (Lines{"CondString::Evaluate - LaunchRegKey, HKCU\\Key\\Path", "CondString::Evaluate - Broken, fail",
             "CondString::Evaluate - LaunchRegKey, HKLM\\Key\\Path"}),
      log.Lines());
}

TEST_F(CondStringTest, MissingConditionTakesTheFailString) {
  Make(L"NoCheck", L"pass", L"fail", nullptr);
  Testing::LogCapture log;
  EXPECT_EQ(Text(L"fail"), CondString::Evaluate(L"$NoCheck"));
  EXPECT_EQ((Lines{"CondString::Evaluate - NoCheck No Condition", "CondString::Evaluate - NoCheck, fail"}),
            log.Lines());
}

TEST_F(CondStringTest, AbsentChoiceIsLoggedAsNull) {
  Flag::Flag(L"off");
  Make(L"Args", L"/qb", std::nullopt, FlagCondition(L"Off", L"off"));
  Testing::LogCapture log;
  EXPECT_EQ(std::nullopt, CondString::Evaluate(L"$Args"));
  EXPECT_EQ(Lines{"CondString::Evaluate - Args, (null)"}, log.Lines());
}

TEST_F(CondStringTest, ChosenStringIsNotResolvedAgainAndTheFirstNameWins) {
  Flag::Flag(L"on")->value = true;
  Condition::Record* on = FlagCondition(L"On", L"on");
  Make(L"Outer", L"$Inner", L"fail", on);
  Make(L"Inner", L"inner pass", L"inner fail", on);
  Make(L"Outer", L"second pass", L"second fail", on);
  EXPECT_EQ(Text(L"$Inner"), CondString::Evaluate(L"$Outer"));
}

TEST_F(CondStringTest, ClearLeavesTheConditions) {
  Condition::Record* on = FlagCondition(L"On", L"on");
  Make(L"A", L"a", L"b", on);
  Testing::LogCapture log;
  CondString::ClearCondStrings();
  EXPECT_TRUE(CondString::List().empty());
  EXPECT_EQ(on, Condition::Find(L"On"));
  EXPECT_EQ(Lines{"CondString::ClearCondStrings"}, log.Lines());
}

}  // namespace
