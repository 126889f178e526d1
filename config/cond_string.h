#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "conditions/condition.h"
#include "config/record_list.h"

// Conditional strings: a named pair of texts of which a condition chooses
// one. A setting whose value is "$" and a name refers to one.
namespace CondString {

struct Record {
  explicit Record(std::wstring stringName) : name(std::move(stringName)) {}
  std::wstring name;  // never empty
  std::optional<std::wstring> pass;
  std::optional<std::wstring> fail;
  Condition::Record* check = nullptr;  // not owned
};

// Appends a new conditional string with nothing set and logs
// "CondString::CondString - new <name>". Returns nullptr, and logs nothing,
// for an empty name.
Record* CondString(std::wstring_view name);

// The value to use for a setting. A value of "$" and a name resolves to the
// pass or fail string of the first conditional string of that name, by its
// check condition (a failure and an error both choose the fail string), and
// logs "CondString::Evaluate - <name>, <chosen>"; a string without a check
// condition logs "<name> No Condition" and takes the fail string. Any other
// value, or a name that matches nothing, comes back as it is, unlogged. The
// chosen string is not resolved again.
std::optional<std::wstring> Evaluate(const std::optional<std::wstring>& value);

// The first conditional string named exactly `name`, or nullptr.
Record* Find(std::wstring_view name);

// Logs "CondString::ClearCondStrings" and empties the list from the front.
// The check conditions are not touched.
void ClearCondStrings();

RecordList<Record>& List();

}  // namespace CondString
