#pragma once

#include <optional>
#include <string_view>

#include "system/result.h"

namespace Parser {

// Applies the command line to the flags, after the configuration's own have
// been parsed, so that a switch always wins. Reads the C runtime's narrow
// argument vector (`__argc`/`__argv`), program path skipped. "/name" sets
// the flag true, "/name=value" sets it by the boolean text rule; a flag that
// does not exist yet is added. Other arguments are ignored without a message.
// Logs "Parser::ParseCommandLineFlags - enter". Returns RESULT_PASSED always.
Result ParseCommandLineFlags();

// The value that the command line gives the flag `name`, by the same rules
// (the last switch of that name wins); nothing when no switch names it. Logs
// nothing.
std::optional<bool> CommandLineFlag(std::wstring_view name);

}  // namespace Parser
