#pragma once

#include <string>
#include <string_view>

#include "config/record_list.h"

// Named boolean switches: the configuration gives their defaults and the
// command line changes them or adds new ones.
namespace Flag {

struct Record {
  explicit Record(std::wstring flagName) : name(std::move(flagName)) {}
  std::wstring name;  // never empty
  bool value = false;
};

// Appends a new flag with the value false and logs "Flag::Flag - new <name>".
// Returns nullptr, and logs nothing, for an empty name. It does not look for
// an existing flag of the same name.
Record* Flag(std::wstring_view name);

// The first flag named exactly `name`; nullptr for an empty name or no match.
Record* Find(std::wstring_view name);

// Logs "Flag::ClearFlags" and empties the list from the front.
void ClearFlags();

// The process-wide list, in the order the flags were added.
RecordList<Record>& List();

}  // namespace Flag
