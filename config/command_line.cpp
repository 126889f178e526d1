#include "config/command_line.h"

#include <cstdlib>
#include <string>
#include <string_view>

#include "config/flag.h"
#include "config/text_value.h"
#include "log/log.h"

namespace Parser {

namespace {

// Calls `apply` with the name and value of each switch, in order.
template <typename Apply>
void ForEachSwitch(Apply apply) {
  char** const argv = __argv;
  const int argc = __argc;
  if (!argv) return;
  for (int index = 1; index < argc; ++index) {
    if (!argv[index]) continue;
    // Cut before it is split, so a long value can lose its end, or its "=".
    const std::wstring argument = WidenBytes(argv[index]);
    if (argument.empty() || argument.front() != L'/') continue;

    std::wstring_view name = std::wstring_view(argument).substr(1);
    if (name.empty()) continue;
    bool value = true;
    if (const size_t equals = name.find(L'='); equals != std::wstring_view::npos) {
      value = BooleanValue(name.substr(equals + 1));
      name = name.substr(0, equals);
    }
    apply(name, value);
  }
}

}  // namespace

Result ParseCommandLineFlags() {
  LogInfo(L"%s - enter", L"Parser::ParseCommandLineFlags");
  ForEachSwitch([](std::wstring_view name, bool value) {
    Flag::Record* flag = Flag::Find(name);
    if (!flag) flag = Flag::Flag(name);  // nothing for "/=...": the argument is ignored
    if (flag) flag->value = value;
  });
  return RESULT_PASSED;
}

std::optional<bool> CommandLineFlag(std::wstring_view name) {
  std::optional<bool> found;
  ForEachSwitch([&](std::wstring_view switchName, bool value) {
    if (!name.empty() && switchName == name) found = value;
  });
  return found;
}

}  // namespace Parser
