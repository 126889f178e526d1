#include "conditions/condition.h"

#include <windows.h>
#include <msi.h>

#include <vector>

#include "conditions/version.h"
#include "config/flag.h"
#include "config/text_value.h"
#include "log/log.h"
#include "system/privileges.h"
#include "system/registry.h"

int installContext = INSTALL_CONTEXT_NONE;

namespace Condition {

namespace {

std::wstring_view Text(const std::optional<std::wstring>& text) {
  return text ? std::wstring_view(*text) : std::wstring_view();
}

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                              TRUE) == CSTR_EQUAL;
}

Result EvaluateRegistry(const Record& condition) {
  const std::wstring_view path = Text(condition.path), value = Text(condition.value);
  if (path.empty() || condition.op == OP_UNKNOWN) return RESULT_ERROR;
  if (value.empty() && condition.op != OP_EXISTS) return RESULT_ERROR;
  std::wstring text;
  const Result read = System::ReadRegistryText(path, text);
  if (read != RESULT_PASSED) return read;
  if (condition.op == OP_EXISTS) return RESULT_PASSED;
  return DoOperation(text, value, condition.op);
}

Result EvaluateProductCode(const Record& condition) {
  if (Text(condition.value).empty()) return RESULT_ERROR;
  return MsiQueryProductStateW(condition.value->c_str()) == INSTALLSTATE_DEFAULT ? RESULT_PASSED
                                                                                 : RESULT_FAILED;
}

Result EvaluateOr(const Record& condition) {
  if (condition.children.empty()) return RESULT_ERROR;
  for (Record* child : condition.children) {
    if (const Result result = Evaluate(*child); result != RESULT_FAILED) return result;
  }
  return RESULT_FAILED;
}

Result EvaluateAnd(const Record& condition) {
  if (condition.children.empty()) return RESULT_ERROR;
  for (Record* child : condition.children) {
    if (const Result result = Evaluate(*child); result != RESULT_PASSED) return result;
  }
  return RESULT_PASSED;
}

Result EvaluateNot(const Record& condition) {
  if (condition.children.empty()) return RESULT_ERROR;
  switch (Evaluate(*condition.children.front())) {
    case RESULT_FAILED: return RESULT_PASSED;
    case RESULT_PASSED: return RESULT_FAILED;
    default: return RESULT_ERROR;
  }
}

Result EvaluateAdmin(const Record& condition) {
  const std::wstring_view value = Text(condition.value);
  if (value.empty()) return RESULT_ERROR;
  const int wanted = Parser::BooleanValue(value) ? 1 : 0;
  return System::UserIsAdmin() == wanted ? RESULT_PASSED : RESULT_FAILED;
}

Result EvaluateInstallContext(const Record& condition) {
  const std::wstring_view value = Text(condition.value);
  if (installContext == INSTALL_CONTEXT_USER && EqualsIgnoringCase(value, L"user")) return RESULT_PASSED;
  if (installContext == INSTALL_CONTEXT_MACHINE && EqualsIgnoringCase(value, L"machine"))
    return RESULT_PASSED;
  return RESULT_FAILED;
}

Result EvaluateFlag(const Record& condition) {
  const Flag::Record* flag = Flag::Find(Text(condition.value));
  if (!flag) return RESULT_ERROR;
  return flag->value ? RESULT_PASSED : RESULT_FAILED;
}

Result EvaluateByType(const Record& condition) {
  switch (condition.type) {
    case TYPE_REGISTRY: return EvaluateRegistry(condition);
    case TYPE_FILE: return CheckFileVersion(Text(condition.path), Text(condition.value), condition.op);
    case TYPE_PRODUCT_CODE: return EvaluateProductCode(condition);
    case TYPE_QV_VERSION: return CheckQvVersion(Text(condition.path), Text(condition.value), condition.op);
    case TYPE_OR: return EvaluateOr(condition);
    case TYPE_AND: return EvaluateAnd(condition);
    case TYPE_NOT: return EvaluateNot(condition);
    case TYPE_ADMIN: return EvaluateAdmin(condition);
    case TYPE_USER_INSTALL_CONTEXT: return EvaluateInstallContext(condition);
    case TYPE_FLAG: return EvaluateFlag(condition);
    default: return RESULT_ERROR;
  }
}

}  // namespace

RecordList<Record>& List() {
  static RecordList<Record> conditions;
  return conditions;
}

Record* Condition(std::wstring_view name, int type) {
  if (name.empty() || type == TYPE_UNKNOWN) return nullptr;
  Record& condition = List().Append(std::wstring(name), type);
  LogInfo(L"%s - new %s, %s", L"Condition::Condition", condition.name.c_str(), TypeName(type));
  return &condition;
}

Record* Find(std::wstring_view name) {
  return List().Find(name);
}

Result Evaluate(Record& condition) {
  if (condition.cachedResult != RESULT_ERROR) return static_cast<Result>(condition.cachedResult);
  if (condition.evaluating) {
    LogError(L"%s - %s refers to itself", L"Condition::Evaluate", condition.name.c_str());
    return RESULT_ERROR;
  }
  condition.evaluating = true;
  const Result result = EvaluateByType(condition);
  condition.evaluating = false;
  condition.cachedResult = result;
  return result;
}

Result DoOperation(std::wstring_view v1, std::wstring_view v2, int op) {
  constexpr wchar_t kName[] = L"Condition::DoOperation";
  if (v1.empty() || v2.empty()) {
    LogError(L"%s - Invalid string", kName);
    return RESULT_ERROR;
  }

  Result result = RESULT_ERROR;
  if (op == OP_STRING_COMPARE) {
    result = v1 == v2 ? RESULT_PASSED : RESULT_FAILED;
  } else if (op >= OP_GREATER_THAN && op <= OP_LESS_THAN_OR_EQUAL) {
    const int order = CompareVersions(v1, v2);  // 1 lower, 2 higher, 3 equal
    const bool lower = order == 1, higher = order == 2, equal = order == 3;
    bool passes = false;
    switch (op) {
      case OP_GREATER_THAN: passes = higher; break;
      case OP_LESS_THAN: passes = lower; break;
      case OP_EQUAL: passes = equal; break;
      case OP_GREATER_THAN_OR_EQUAL: passes = higher || equal; break;
      case OP_LESS_THAN_OR_EQUAL: passes = lower || equal; break;
    }
    result = order == 0 ? RESULT_ERROR : passes ? RESULT_PASSED : RESULT_FAILED;
  }

  const std::wstring first(v1), second(v2);
  LogInfo(L"%s - v1: %s, v2: %s, op: %s, res: %s", kName, first.c_str(), second.c_str(), OpName(op),
          ResultName(result));
  return result;
}

void ResetCachedResults() {
  for (Record& condition : List()) condition.cachedResult = RESULT_ERROR;
  ForgetFileVersions();
}

void ClearConditions() {
  LogInfo(L"%s", L"Condition::ClearConditions");
  List().Clear();
  ForgetFileVersions();
}

const wchar_t* TypeName(int type) {
  static const wchar_t* const kNames[] = {
      L"TYPE_UNKNOWN", L"TYPE_REGISTRY", L"TYPE_FILE", L"TYPE_PRODUCT_CODE", L"TYPE_QV_VERSION",
      L"TYPE_OR",      L"TYPE_AND",      L"TYPE_NOT",  L"TYPE_ADMIN",        L"TYPE_USER_INSTALL_CONTEXT",
      L"TYPE_FLAG"};
  return type >= 0 && type <= TYPE_FLAG ? kNames[type] : L"<invalid>";
}

const wchar_t* OpName(int op) {
  static const wchar_t* const kNames[] = {L"OP_UNKNOWN",
                                          L"OP_GREATER_THAN",
                                          L"OP_LESS_THAN",
                                          L"OP_EQUAL",
                                          L"OP_GREATER_THAN_OR_EQUAL",
                                          L"OP_LESS_THAN_OR_EQUAL",
                                          L"OP_STRING_COMPARE",
                                          L"OP_EXISTS"};
  return op >= 0 && op <= OP_EXISTS ? kNames[op] : L"<invalid>";
}

}  // namespace Condition
