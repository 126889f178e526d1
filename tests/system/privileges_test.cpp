#include "system/privileges.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

// Wine runs every process with a full token of an administrator; other
// token types cannot be made here.
TEST(Privileges, FullTokenCountsAsAdministratorAndIsLogged) {
  Testing::LogCapture log;
  EXPECT_TRUE(System::UserHasSplitToken());
  EXPECT_EQ((std::vector<std::string>{"System::UserHasSplitToken - TokenElevationTypeFull: User has a split "
                                      "token, and the process is running elevated."}),
            log.Lines());
  EXPECT_EQ(1, System::UserIsAdmin());
}

}  // namespace
