#include "conditions/condition.h"

#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "config/flag.h"
#include "system/unique_handle.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;
using Condition::Evaluate;

class ConditionTest : public testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    Condition::List().Clear();
    Flag::List().Clear();
    installContext = INSTALL_CONTEXT_NONE;
  }

  static Condition::Record* Make(const wchar_t* name, int type, int op = OP_UNKNOWN,
                                 std::optional<std::wstring> path = std::nullopt,
                                 std::optional<std::wstring> value = std::nullopt) {
    Condition::Record* condition = Condition::Condition(name, type);
    condition->op = op;
    condition->path = std::move(path);
    condition->value = std::move(value);
    return condition;
  }
  static Condition::Record* MakeFlag(const wchar_t* name, const wchar_t* flag) {
    return Make(name, TYPE_FLAG, OP_UNKNOWN, std::nullopt, flag);
  }
  static Condition::Record* Combine(const wchar_t* name, int type, std::vector<Condition::Record*> children) {
    Condition::Record* condition = Make(name, type);
    condition->children = std::move(children);
    return condition;
  }
  static void SetFlag(const wchar_t* name, bool value) {
    Flag::Record* flag = Flag::Find(name);
    if (!flag) flag = Flag::Flag(name);
    flag->value = value;
  }
};

TEST_F(ConditionTest, NewConditionIsLoggedWithItsTypeName) {
  Testing::LogCapture log;
  EXPECT_EQ(nullptr, Condition::Condition(L"", TYPE_FLAG));
  EXPECT_EQ(nullptr, Condition::Condition(L"Nothing", TYPE_UNKNOWN));
  Condition::Record* condition = Condition::Condition(L"QvInstalled", TYPE_QV_VERSION);
  ASSERT_NE(nullptr, condition);
  EXPECT_EQ(OP_UNKNOWN, condition->op);
  EXPECT_FALSE(condition->path);
  EXPECT_FALSE(condition->value);
  EXPECT_EQ(RESULT_ERROR, condition->cachedResult);
  EXPECT_TRUE(condition->children.empty());
  Condition::Record* odd = Condition::Condition(L"Odd", 11);
  ASSERT_NE(nullptr, odd);
  EXPECT_EQ(RESULT_ERROR, Evaluate(*odd));
  EXPECT_EQ((Lines{"Condition::Condition - new QvInstalled, TYPE_QV_VERSION",
                   "Condition::Condition - new Odd, <invalid>"}),
            log.Lines());
  EXPECT_EQ(2u, Condition::List().size());
}

TEST_F(ConditionTest, DuplicateNamesResolveToTheFirst) {
  Condition::Record* first = MakeFlag(L"Silent", L"silent");
  Condition::Record* second = MakeFlag(L"Silent", L"other");
  ASSERT_NE(first, second);
  EXPECT_EQ(first, Condition::Find(L"Silent"));
  EXPECT_EQ(nullptr, Condition::Find(L"silent"));
  EXPECT_EQ(nullptr, Condition::Find(L""));
}

TEST_F(ConditionTest, ClearConditionsLogsItsName) {
  MakeFlag(L"A", L"a");
  Testing::LogCapture log;
  Condition::ClearConditions();
  EXPECT_TRUE(Condition::List().empty());
  EXPECT_EQ(Lines{"Condition::ClearConditions"}, log.Lines());
}

TEST(ConditionNames, TypesAndOperators) {
  const wchar_t* const types[] = {
      L"TYPE_UNKNOWN", L"TYPE_REGISTRY", L"TYPE_FILE", L"TYPE_PRODUCT_CODE", L"TYPE_QV_VERSION",
      L"TYPE_OR",      L"TYPE_AND",      L"TYPE_NOT",  L"TYPE_ADMIN",        L"TYPE_USER_INSTALL_CONTEXT",
      L"TYPE_FLAG"};
  for (int type = 0; type <= 10; ++type) EXPECT_STREQ(types[type], Condition::TypeName(type));
  EXPECT_STREQ(L"<invalid>", Condition::TypeName(11));
  EXPECT_STREQ(L"<invalid>", Condition::TypeName(-1));
  const wchar_t* const ops[] = {L"OP_UNKNOWN",
                                L"OP_GREATER_THAN",
                                L"OP_LESS_THAN",
                                L"OP_EQUAL",
                                L"OP_GREATER_THAN_OR_EQUAL",
                                L"OP_LESS_THAN_OR_EQUAL",
                                L"OP_STRING_COMPARE",
                                L"OP_EXISTS"};
  for (int op = 0; op <= 7; ++op) EXPECT_STREQ(ops[op], Condition::OpName(op));
  EXPECT_STREQ(L"<invalid>", Condition::OpName(8));
}

TEST(DoOperation, ComparesAndLogsEachComparison) {
  const struct {
    const wchar_t* v1;
    const wchar_t* v2;
    int op;
    Result expected;
    const char* line;
  } cases[] = {
      {L"5.1.0.1", L"5.1.0", OP_GREATER_THAN, RESULT_PASSED,
       "v1: 5.1.0.1, v2: 5.1.0, op: OP_GREATER_THAN, res: RESULT_PASSED"},
      {L"5.1", L"5.1.0", OP_GREATER_THAN, RESULT_FAILED,
       "v1: 5.1, v2: 5.1.0, op: OP_GREATER_THAN, res: RESULT_FAILED"},
      {L"5.0", L"5.1", OP_LESS_THAN, RESULT_PASSED, "v1: 5.0, v2: 5.1, op: OP_LESS_THAN, res: RESULT_PASSED"},
      {L"5.1", L"5.1", OP_LESS_THAN, RESULT_FAILED, "v1: 5.1, v2: 5.1, op: OP_LESS_THAN, res: RESULT_FAILED"},
      {L"1", L"1.0", OP_EQUAL, RESULT_PASSED, "v1: 1, v2: 1.0, op: OP_EQUAL, res: RESULT_PASSED"},
      {L"2", L"1", OP_EQUAL, RESULT_FAILED, "v1: 2, v2: 1, op: OP_EQUAL, res: RESULT_FAILED"},
      {L"2", L"1", OP_GREATER_THAN_OR_EQUAL, RESULT_PASSED,
       "v1: 2, v2: 1, op: OP_GREATER_THAN_OR_EQUAL, res: RESULT_PASSED"},
      {L"1", L"1", OP_GREATER_THAN_OR_EQUAL, RESULT_PASSED,
       "v1: 1, v2: 1, op: OP_GREATER_THAN_OR_EQUAL, res: RESULT_PASSED"},
      {L"0.9", L"1", OP_GREATER_THAN_OR_EQUAL, RESULT_FAILED,
       "v1: 0.9, v2: 1, op: OP_GREATER_THAN_OR_EQUAL, res: RESULT_FAILED"},
      {L"0.9", L"1", OP_LESS_THAN_OR_EQUAL, RESULT_PASSED,
       "v1: 0.9, v2: 1, op: OP_LESS_THAN_OR_EQUAL, res: RESULT_PASSED"},
      {L"1", L"1", OP_LESS_THAN_OR_EQUAL, RESULT_PASSED,
       "v1: 1, v2: 1, op: OP_LESS_THAN_OR_EQUAL, res: RESULT_PASSED"},
      {L"2", L"1", OP_LESS_THAN_OR_EQUAL, RESULT_FAILED,
       "v1: 2, v2: 1, op: OP_LESS_THAN_OR_EQUAL, res: RESULT_FAILED"},
      {L"Abc", L"Abc", OP_STRING_COMPARE, RESULT_PASSED,
       "v1: Abc, v2: Abc, op: OP_STRING_COMPARE, res: RESULT_PASSED"},
      {L"Abc", L"abc", OP_STRING_COMPARE, RESULT_FAILED,
       "v1: Abc, v2: abc, op: OP_STRING_COMPARE, res: RESULT_FAILED"},
      {L"1.0", L"1", OP_STRING_COMPARE, RESULT_FAILED,
       "v1: 1.0, v2: 1, op: OP_STRING_COMPARE, res: RESULT_FAILED"},
      {L"1", L"1", OP_EXISTS, RESULT_ERROR, "v1: 1, v2: 1, op: OP_EXISTS, res: RESULT_ERROR"},
      {L"1", L"1", OP_UNKNOWN, RESULT_ERROR, "v1: 1, v2: 1, op: OP_UNKNOWN, res: RESULT_ERROR"},
      {L"1", L"1", 8, RESULT_ERROR, "v1: 1, v2: 1, op: <invalid>, res: RESULT_ERROR"},
  };
  for (const auto& c : cases) {
    Testing::LogCapture log;
    EXPECT_EQ(c.expected, Condition::DoOperation(c.v1, c.v2, c.op)) << c.line;
    EXPECT_EQ(Lines{std::string("Condition::DoOperation - ") + c.line}, log.Lines());
  }
}

TEST(DoOperation, EmptyTextIsAnInvalidString) {
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_ERROR, Condition::DoOperation(L"", L"1", OP_EQUAL));
  EXPECT_EQ(RESULT_ERROR, Condition::DoOperation(L"1", L"", OP_STRING_COMPARE));
  EXPECT_EQ((Lines{"Condition::DoOperation - Invalid string", "Condition::DoOperation - Invalid string"}),
            log.Lines());
}

TEST_F(ConditionTest, RegistryConditionsReadValuesAsText) {
  Testing::TestRegistryKey key;
  Testing::TestRegistryKey::SetDword(L"Number", 1);
  Testing::TestRegistryKey::SetText(HKEY_CURRENT_USER, L"Text", L"Hello");
  const BYTE binary[] = {1, 0, 0, 0};
  Testing::TestRegistryKey::SetRaw(HKEY_CURRENT_USER, L"", L"Binary", REG_BINARY, binary, sizeof(binary));
  const std::wstring base = L"HKCU\\Software\\TesselLauncherTests\\";
  const struct {
    std::wstring path;
    int op;
    std::optional<std::wstring> value;
    Result expected;
  } cases[] = {
      {base + L"Number", OP_EQUAL, L"1", RESULT_PASSED},
      {base + L"Number", OP_STRING_COMPARE, L"1", RESULT_PASSED},
      {base + L"Number", OP_GREATER_THAN, L"1", RESULT_FAILED},
      {base + L"Missing", OP_EQUAL, L"1", RESULT_FAILED},
      {base + L"Missing", OP_EXISTS, std::nullopt, RESULT_FAILED},
      {base + L"Binary", OP_EQUAL, L"1", RESULT_ERROR},
      {base + L"Text", OP_EXISTS, std::nullopt, RESULT_PASSED},
      {base + L"Text", OP_STRING_COMPARE, L"Hello", RESULT_PASSED},
      {base + L"Text", OP_STRING_COMPARE, L"hello", RESULT_FAILED},
      {base + L"Text", OP_UNKNOWN, L"Hello", RESULT_ERROR},
      {base + L"Text", OP_EQUAL, std::nullopt, RESULT_ERROR},
      {base + L"Text", OP_EQUAL, L"", RESULT_ERROR},
      {L"", OP_EXISTS, std::nullopt, RESULT_ERROR},
  };
  for (const auto& c : cases) {
    Condition::Record* condition = Make(L"Reg", TYPE_REGISTRY, c.op, c.path, c.value);
    EXPECT_EQ(c.expected, Evaluate(*condition)) << Testing::Narrow(c.path) << " op " << c.op;
  }
}

TEST_F(ConditionTest, OrStopsAtTheFirstOperandThatDoesNotFail) {
  SetFlag(L"on", true);
  SetFlag(L"off", false);
  Condition::Record* on = MakeFlag(L"On", L"on");
  Condition::Record* off = MakeFlag(L"Off", L"off");
  Condition::Record* broken = MakeFlag(L"Broken", L"nosuchflag");
  Condition::Record* spare = MakeFlag(L"Spare", L"on");

  EXPECT_EQ(RESULT_PASSED, Evaluate(*Combine(L"OnFirst", TYPE_OR, {on, spare})));
  EXPECT_EQ(RESULT_ERROR, spare->cachedResult) << "the second operand was evaluated";
  EXPECT_EQ(RESULT_ERROR, Evaluate(*Combine(L"BrokenFirst", TYPE_OR, {broken, spare})));
  EXPECT_EQ(RESULT_ERROR, spare->cachedResult) << "the second operand was evaluated";
  EXPECT_EQ(RESULT_PASSED, Evaluate(*Combine(L"OffFirst", TYPE_OR, {off, spare})));
  EXPECT_EQ(RESULT_PASSED, spare->cachedResult);
  EXPECT_EQ(RESULT_FAILED, Evaluate(*Combine(L"AllOff", TYPE_OR, {off, off})));
  EXPECT_EQ(RESULT_ERROR, Evaluate(*Combine(L"NoOperands", TYPE_OR, {})));
}

TEST_F(ConditionTest, AndStopsAtTheFirstOperandThatDoesNotPassAndRetriesErrors) {
  SetFlag(L"on", true);
  Condition::Record* on = MakeFlag(L"On", L"on");
  Condition::Record* later = MakeFlag(L"Later", L"later");
  Condition::Record* spare = MakeFlag(L"Spare", L"on");
  Condition::Record* both = Combine(L"Both", TYPE_AND, {later, spare});

  EXPECT_EQ(RESULT_ERROR, Evaluate(*both));
  EXPECT_EQ(RESULT_ERROR, both->cachedResult);
  EXPECT_EQ(RESULT_ERROR, spare->cachedResult) << "the second operand was evaluated";
  SetFlag(L"later", true);  // an error is not remembered: the next call evaluates again
  EXPECT_EQ(RESULT_PASSED, Evaluate(*both));
  EXPECT_EQ(RESULT_PASSED, both->cachedResult);

  SetFlag(L"off", false);
  Condition::Record* off = MakeFlag(L"Off", L"off");
  EXPECT_EQ(RESULT_FAILED, Evaluate(*Combine(L"OffFirst", TYPE_AND, {off, on})));
  EXPECT_EQ(RESULT_ERROR, Evaluate(*Combine(L"NoOperands", TYPE_AND, {})));
}

TEST_F(ConditionTest, NotTakesItsFirstOperandOnly) {
  SetFlag(L"on", true);
  SetFlag(L"off", false);
  Condition::Record* on = MakeFlag(L"On", L"on");
  Condition::Record* off = MakeFlag(L"Off", L"off");
  Condition::Record* missing = MakeFlag(L"Missing", L"nosuchflag");
  EXPECT_EQ(RESULT_PASSED, Evaluate(*Combine(L"NotOff", TYPE_NOT, {off, on})));
  EXPECT_EQ(RESULT_FAILED, Evaluate(*Combine(L"NotOn", TYPE_NOT, {on, off})));
  EXPECT_EQ(RESULT_ERROR, Evaluate(*Combine(L"NotMissing", TYPE_NOT, {missing})));
  EXPECT_EQ(RESULT_ERROR, Evaluate(*Combine(L"NotNothing", TYPE_NOT, {})));
}

TEST_F(ConditionTest, ResultsAreRememberedUntilReset) {
  SetFlag(L"silent", true);
  Condition::Record* silent = MakeFlag(L"Silent", L"silent");
  EXPECT_EQ(RESULT_PASSED, Evaluate(*silent));
  SetFlag(L"silent", false);
  EXPECT_EQ(RESULT_PASSED, Evaluate(*silent));
  Condition::ResetCachedResults();
  EXPECT_EQ(RESULT_FAILED, Evaluate(*silent));
}

TEST_F(ConditionTest, SharedOperandIsEvaluatedOnce) {
  Testing::TestRegistryKey key;
  Testing::TestRegistryKey::SetDword(L"Number", 1);
  Condition::Record* number =
      Make(L"Number", TYPE_REGISTRY, OP_EQUAL, L"HKCU\\Software\\TesselLauncherTests\\Number", L"1");
  Condition::Record* first = Combine(L"First", TYPE_AND, {number});
  Condition::Record* second = Combine(L"Second", TYPE_OR, {number});
  Testing::LogCapture log;
  EXPECT_EQ(RESULT_PASSED, Evaluate(*first));
  EXPECT_EQ(RESULT_PASSED, Evaluate(*second));
  EXPECT_EQ(Lines{"Condition::DoOperation - v1: 1, v2: 1, op: OP_EQUAL, res: RESULT_PASSED"}, log.Lines());
}

TEST_F(ConditionTest, ContextConditionFollowsTheChosenContextAfterAReset) {
  Condition::Record* perUser = Make(L"PerUser", TYPE_USER_INSTALL_CONTEXT, OP_UNKNOWN, std::nullopt, L"user");
  Condition::Record* perMachine =
      Make(L"PerMachine", TYPE_USER_INSTALL_CONTEXT, OP_UNKNOWN, std::nullopt, L"MACHINE");
  Condition::Record* noValue = Make(L"NoValue", TYPE_USER_INSTALL_CONTEXT);
  EXPECT_EQ(RESULT_FAILED, Evaluate(*perUser));
  EXPECT_EQ(RESULT_FAILED, Evaluate(*perMachine));

  installContext = INSTALL_CONTEXT_USER;
  EXPECT_EQ(RESULT_FAILED, Evaluate(*perUser)) << "remembered until the reset";
  Condition::ResetCachedResults();
  EXPECT_EQ(RESULT_PASSED, Evaluate(*perUser));
  EXPECT_EQ(RESULT_FAILED, Evaluate(*perMachine));
  EXPECT_EQ(RESULT_FAILED, Evaluate(*noValue));

  installContext = INSTALL_CONTEXT_MACHINE;
  Condition::ResetCachedResults();
  EXPECT_EQ(RESULT_FAILED, Evaluate(*perUser));
  EXPECT_EQ(RESULT_PASSED, Evaluate(*perMachine));
}

// Wine runs the tests as an administrator, so only that side can be seen.
TEST_F(ConditionTest, AdminConditionUsesTheBooleanWords) {
  const struct {
    std::optional<std::wstring> value;
    Result expected;
  } cases[] = {
      {L"1", RESULT_PASSED},        {L"yes", RESULT_PASSED}, {L"0", RESULT_FAILED},
      {L"FALSE", RESULT_FAILED},    {L"No", RESULT_FAILED},  {L"", RESULT_ERROR},
      {std::nullopt, RESULT_ERROR},
  };
  for (const auto& c : cases) {
    Condition::Record* admin = Make(L"Admin", TYPE_ADMIN, OP_UNKNOWN, std::nullopt, c.value);
    EXPECT_EQ(c.expected, Evaluate(*admin)) << Testing::Narrow(c.value.value_or(L"(absent)"));
  }
}

TEST_F(ConditionTest, FlagConditionNeedsTheFlag) {
  SetFlag(L"silent", true);
  EXPECT_EQ(RESULT_PASSED, Evaluate(*MakeFlag(L"Silent", L"silent")));
  EXPECT_EQ(RESULT_ERROR, Evaluate(*MakeFlag(L"Upper", L"SILENT")));
  EXPECT_EQ(RESULT_ERROR, Evaluate(*Make(L"NoValue", TYPE_FLAG)));
}

TEST_F(ConditionTest, CombinationThatReachesItselfIsAnErrorNamingIt) {
  Condition::Record* first = Make(L"First", TYPE_AND);
  Condition::Record* second = Combine(L"Second", TYPE_OR, {first});
  first->children = {second};
  Condition::Record* self = Make(L"Self", TYPE_NOT);
  self->children = {self};

  Testing::LogCapture log;
  EXPECT_EQ(RESULT_ERROR, Evaluate(*first));
  EXPECT_EQ(Lines{"Condition::Evaluate - First refers to itself"}, log.Lines());
  EXPECT_EQ(RESULT_ERROR, Evaluate(*self));
  EXPECT_EQ(RESULT_ERROR, Evaluate(*second));
  EXPECT_EQ(
      (Lines{"Condition::Evaluate - First refers to itself", "Condition::Evaluate - Self refers to itself",
             "Condition::Evaluate - Second refers to itself"}),
      log.Lines());
  EXPECT_FALSE(first->evaluating || second->evaluating || self->evaluating);
}

// A real package, installed into the test prefix and removed again.
class ProductCode : public ConditionTest {
 protected:
  static constexpr wchar_t kProductCode[] = L"{5D2B0E4A-6C1F-4E8B-9A51-3C7D2F0B9E11}";

  static DWORD Msiexec(const std::wstring& arguments) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(system) + L"\\msiexec.exe\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
      return GetLastError();
    }
    UniqueHandleOwner processHandle(process.hProcess), threadHandle(process.hThread);
    WaitForSingleObject(processHandle.get(), 120000);
    DWORD code = 0;
    GetExitCodeProcess(processHandle.get(), &code);
    return code;
  }
  void SetUp() override {
    ConditionTest::SetUp();
    Msiexec(L"/x " + std::wstring(kProductCode) + L" /qn");  // a leftover of an earlier run
  }
  void TearDown() override {
    Msiexec(L"/x " + std::wstring(kProductCode) + L" /qn");
    ConditionTest::TearDown();
  }
};

TEST_F(ProductCode, FollowsTheInstalledStateOfARealPackage) {
  Condition::Record* installed =
      Make(L"Installed", TYPE_PRODUCT_CODE, OP_UNKNOWN, std::nullopt, kProductCode);
  EXPECT_EQ(RESULT_FAILED, Evaluate(*installed));

  const std::wstring package = Testing::ProgramFolder() + L"\\fixtures\\tessel-test-product.msi";
  ASSERT_EQ(0u, Msiexec(L"/i \"" + package + L"\" /qn"));
  ASSERT_EQ(INSTALLSTATE_DEFAULT, MsiQueryProductStateW(kProductCode));
  EXPECT_EQ(RESULT_FAILED, Evaluate(*installed)) << "remembered until the reset";
  Condition::ResetCachedResults();
  EXPECT_EQ(RESULT_PASSED, Evaluate(*installed));

  ASSERT_EQ(0u, Msiexec(L"/x " + std::wstring(kProductCode) + L" /qn"));
  Condition::ResetCachedResults();
  EXPECT_EQ(RESULT_FAILED, Evaluate(*installed));

  EXPECT_EQ(RESULT_ERROR, Evaluate(*Make(L"NoCode", TYPE_PRODUCT_CODE)));
  EXPECT_EQ(RESULT_FAILED, Evaluate(*Make(L"Other", TYPE_PRODUCT_CODE, OP_UNKNOWN, std::nullopt,
                                          L"{00000000-0000-0000-0000-000000000001}")));
}

}  // namespace
