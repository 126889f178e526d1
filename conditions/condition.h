#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/record_list.h"
#include "system/result.h"

enum ConditionType : int {
  TYPE_UNKNOWN = 0,
  TYPE_REGISTRY = 1,
  TYPE_FILE = 2,
  TYPE_PRODUCT_CODE = 3,
  TYPE_QV_VERSION = 4,
  TYPE_OR = 5,
  TYPE_AND = 6,
  TYPE_NOT = 7,
  TYPE_ADMIN = 8,
  TYPE_USER_INSTALL_CONTEXT = 9,
  TYPE_FLAG = 10,
};

enum ConditionOp : int {
  OP_UNKNOWN = 0,
  OP_GREATER_THAN = 1,
  OP_LESS_THAN = 2,
  OP_EQUAL = 3,
  OP_GREATER_THAN_OR_EQUAL = 4,
  OP_LESS_THAN_OR_EQUAL = 5,
  OP_STRING_COMPARE = 6,
  OP_EXISTS = 7,
};

enum InstallContext : int {
  INSTALL_CONTEXT_NONE = 0,
  INSTALL_CONTEXT_USER = 1,     // "Just Me"
  INSTALL_CONTEXT_MACHINE = 2,  // "Everyone"
};

// The install context that the user chose in the install-context dialog;
// the workflow writes it, context conditions read it.
extern int installContext;

// Named, typed tests of the machine's state, and and/or/not combinations of
// them. A result other than RESULT_ERROR is remembered until the workflow
// resets it.
namespace Condition {

struct Record {
  Record(std::wstring conditionName, int conditionType)
      : name(std::move(conditionName)), type(conditionType) {}
  std::wstring name;  // never empty
  int type;
  int op = OP_UNKNOWN;
  std::optional<std::wstring> path;
  std::optional<std::wstring> value;
  int cachedResult = RESULT_ERROR;  // RESULT_ERROR also means "not evaluated"
  std::vector<Record*> children;    // operands of or/and/not; not owned
  bool evaluating = false;          // set while its own evaluation runs, to catch cycles
};

// Appends a new condition and logs "Condition::Condition - new <name>, <type>".
// Returns nullptr, and logs nothing, for an empty name or TYPE_UNKNOWN.
Record* Condition(std::wstring_view name, int type);

// The first condition named exactly `name`; nullptr for an empty name or no match.
Record* Find(std::wstring_view name);

// The condition's result: the remembered one, or a new evaluation by type,
// remembered unless it is RESULT_ERROR. A combination that reaches itself
// again through its operands logs "Condition::Evaluate - <name> refers to
// itself" and gives RESULT_ERROR.
Result Evaluate(Record& condition);

// Compares two texts by the operator: as versions, or as exact text for
// OP_STRING_COMPARE. Logs "Invalid string" for an empty text, otherwise the
// comparison and its result. OP_UNKNOWN and OP_EXISTS give RESULT_ERROR.
Result DoOperation(std::wstring_view v1, std::wstring_view v2, int op);

// Forgets every remembered result, for when the machine or the context changed.
void ResetCachedResults();

// Logs "Condition::ClearConditions" and empties the list from the front.
void ClearConditions();

RecordList<Record>& List();

// Log names: "TYPE_REGISTRY", "OP_EQUAL", ...; "<invalid>" for other values.
const wchar_t* TypeName(int type);
const wchar_t* OpName(int op);

}  // namespace Condition
