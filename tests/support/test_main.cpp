#include <windows.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

// Each test program gets a temp folder of its own, set before anything logs,
// so that its log file and scratch files never meet another program's.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);

  wchar_t base[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, base);
  const std::wstring folder =
      std::wstring(base, length) + L"tessel-tests-" + std::to_wstring(GetCurrentProcessId());
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  SetEnvironmentVariableW(L"TMP", folder.c_str());
  SetEnvironmentVariableW(L"TEMP", folder.c_str());

  const int result = RUN_ALL_TESTS();

  // The log stream stays open until exit; what cannot be removed now is left
  // under the temp folder and does no harm.
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return result;
}
