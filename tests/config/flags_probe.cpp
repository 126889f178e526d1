// A helper GUI program with the launcher's own narrow entry: it sets up the
// shipped configuration's four flags, applies its real command line and logs
// every flag, so that a test can see which switches arrived.
#include <windows.h>

#include "config/command_line.h"
#include "config/flag.h"
#include "log/log.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  LogLevel = LOG_LEVEL_INFO;
  Flag::Flag(L"silent");
  Flag::Flag(L"silentinstaller")->value = true;
  Flag::Flag(L"showinstallcontext");
  Flag::Flag(L"skiplaunch");
  Parser::ParseCommandLineFlags();
  for (const Flag::Record& flag : Flag::List()) {
    LogInfo(L"%s - %s=%d", L"FlagsProbe", flag.name.c_str(), flag.value ? 1 : 0);
  }
  return 0;
}
