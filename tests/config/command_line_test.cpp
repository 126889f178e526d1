#include "config/command_line.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "config/flag.h"
#include "tests/support/test_support.h"

namespace {

using FlagValues = std::vector<std::pair<std::wstring, bool>>;

// Sets the C runtime's own narrow argument vector for one parse, as the
// runtime fills it at start-up, and puts the real one back afterwards.
class CommandLineTest : public testing::Test {
 protected:
  void SetUp() override {
    savedArgc_ = __argc;
    savedArgv_ = __argv;
    ResetToShippedFlags();
  }
  void TearDown() override {
    __argc = savedArgc_;
    __argv = savedArgv_;
    Flag::List().Clear();
  }

  static void ResetToShippedFlags() {
    Flag::List().Clear();
    Flag::Flag(L"silent");
    Flag::Flag(L"silentinstaller")->value = true;
    Flag::Flag(L"showinstallcontext");
    Flag::Flag(L"skiplaunch");
  }

  Result Parse(std::vector<std::string> arguments) {
    arguments_ = std::move(arguments);
    arguments_.insert(arguments_.begin(), "VantorLauncher.exe");
    pointers_.clear();
    for (std::string& argument : arguments_) pointers_.push_back(argument.data());
    pointers_.push_back(nullptr);
    __argc = static_cast<int>(arguments_.size());
    __argv = pointers_.data();
    return Parser::ParseCommandLineFlags();
  }

  static FlagValues Flags() {
    FlagValues values;
    for (const Flag::Record& flag : Flag::List()) values.emplace_back(flag.name, flag.value);
    return values;
  }

  static FlagValues Shipped(bool silent = false, FlagValues added = {}) {
    FlagValues values{{L"silent", silent},
                      {L"silentinstaller", true},
                      {L"showinstallcontext", false},
                      {L"skiplaunch", false}};
    values.insert(values.end(), added.begin(), added.end());
    return values;
  }

 private:
  int savedArgc_ = 0;
  char** savedArgv_ = nullptr;
  std::vector<std::string> arguments_;
  std::vector<char*> pointers_;
};

TEST_F(CommandLineTest, SwitchesSetAndAddFlags) {
  struct Case {
    std::vector<std::string> arguments;
    FlagValues expected;
  };
  // Built with append: GCC 12 warns falsely about "/" + std::string(...).
  const std::string tooLong = std::string("/").append(260, 'x').append("=no");
  const std::string fits = std::string("/").append(250, 'x').append("=no");
  const Case cases[] = {
      {{}, Shipped()},
      {{"/silent"}, Shipped(true)},
      {{"/silent=0"}, Shipped(false)},
      {{"/silent=false"}, Shipped(false)},
      {{"/silent=NO"}, Shipped(false)},
      {{"/silent=FALSE"}, Shipped(false)},
      {{"/silent="}, Shipped(true)},
      {{"/silent=yes"}, Shipped(true)},
      {{"silent"}, Shipped()},
      {{"-silent"}, Shipped()},
      {{"/"}, Shipped()},
      {{"/="}, Shipped()},
      {{"/=yes"}, Shipped()},
      {{""}, Shipped()},
      {{"/Silent"}, Shipped(false, {{L"Silent", true}})},
      {{"/newflag"}, Shipped(false, {{L"newflag", true}})},
      {{"/a=b=c"}, Shipped(false, {{L"a", true}})},
      {{"/a=no=c"}, Shipped(false, {{L"a", true}})},
      {{"/silent", "/silent=no"}, Shipped(false)},
      {{"/silent=no", "/silent"}, Shipped(true)},
      {{"/skiplaunch", "other", "/silentinstaller=0"},
       {{L"silent", false},
        {L"silentinstaller", false},
        {L"showinstallcontext", false},
        {L"skiplaunch", true}}},
      // Cut to 255 characters before the split: the "=no" is lost.
      {{tooLong}, Shipped(false, {{std::wstring(254, L'x'), true}})},
      {{fits}, Shipped(false, {{std::wstring(250, L'x'), false}})},
      // Bytes above 127 widen one by one.
      {{"/caf\xE9"}, Shipped(false, {{L"caf\x00E9", true}})},
  };
  for (const Case& c : cases) {
    ResetToShippedFlags();
    std::string shown;
    for (const std::string& argument : c.arguments) shown.append("[").append(argument, 0, 20).append("]");
    EXPECT_EQ(RESULT_PASSED, Parse(c.arguments)) << shown;
    EXPECT_EQ(c.expected, Flags()) << shown;
  }
}

TEST_F(CommandLineTest, LogsEnterAndEachNewFlag) {
  Testing::LogCapture log;
  Parse({"/silent", "/newflag", "/newflag=no", "/other=0"});
  EXPECT_EQ((std::vector<std::string>{"Parser::ParseCommandLineFlags - enter", "Flag::Flag - new newflag",
                                      "Flag::Flag - new other"}),
            log.Lines());
}

TEST_F(CommandLineTest, MissingArgumentVectorChangesNothing) {
  __argc = 3;
  __argv = nullptr;
  EXPECT_EQ(RESULT_PASSED, Parser::ParseCommandLineFlags());
  EXPECT_EQ(Shipped(), Flags());
}

TEST_F(CommandLineTest, AbsentArgumentIsSkipped) {
  char program[] = "VantorLauncher.exe";
  char silent[] = "/silent";
  char* arguments[] = {program, nullptr, silent, nullptr};
  __argc = 3;
  __argv = arguments;
  EXPECT_EQ(RESULT_PASSED, Parser::ParseCommandLineFlags());
  EXPECT_EQ(Shipped(true), Flags());
}

// The real thing: a GUI program with the launcher's narrow entry, started
// with a real command line. An argument vector that stayed empty would make
// every switch vanish without a word.
TEST(CommandLineProgram, SwitchesGivenToAGuiProgramArrive) {
  Testing::TempFolder folder;
  ASSERT_EQ(0u, Testing::RunProgram(L"flags_probe.exe",
                                    L"/silent -skiplaunch skiplaunch /newflag \"/a=b=c\" /silentinstaller=No",
                                    folder.path()));
  std::string bytes;
  ASSERT_TRUE(Testing::ReadFileBytes(folder.File(L"VantorLauncher.log"), bytes));
  EXPECT_EQ((std::vector<std::string>{
                "Flag::Flag - new silent",
                "Flag::Flag - new silentinstaller",
                "Flag::Flag - new showinstallcontext",
                "Flag::Flag - new skiplaunch",
                "Parser::ParseCommandLineFlags - enter",
                "Flag::Flag - new newflag",
                "Flag::Flag - new a",
                "FlagsProbe - silent=1",
                "FlagsProbe - silentinstaller=0",
                "FlagsProbe - showinstallcontext=0",
                "FlagsProbe - skiplaunch=0",
                "FlagsProbe - newflag=1",
                "FlagsProbe - a=1",
            }),
            Testing::SplitLines(bytes));
}

}  // namespace
