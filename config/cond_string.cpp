#include "config/cond_string.h"

#include "log/log.h"

namespace CondString {

RecordList<Record>& List() {
  static RecordList<Record> strings;
  return strings;
}

Record* CondString(std::wstring_view name) {
  if (name.empty()) return nullptr;
  Record& record = List().Append(std::wstring(name));
  LogInfo(L"%s - new %s", L"CondString::CondString", record.name.c_str());
  return &record;
}

Record* Find(std::wstring_view name) {
  return List().Find(name);
}

std::optional<std::wstring> Evaluate(const std::optional<std::wstring>& value) {
  constexpr wchar_t kName[] = L"CondString::Evaluate";
  if (!value || value->size() < 2 || value->front() != L'$') return value;
  Record* record = Find(std::wstring_view(*value).substr(1));
  if (!record) return value;

  bool passed = false;
  if (record->check) {
    passed = Condition::Evaluate(*record->check) == RESULT_PASSED;
  } else {
    LogError(L"%s - %s No Condition", kName, record->name.c_str());
  }
  const std::optional<std::wstring>& chosen = passed ? record->pass : record->fail;
  LogInfo(L"%s - %s, %s", kName, record->name.c_str(), chosen ? chosen->c_str() : nullptr);
  return chosen;
}

void ClearCondStrings() {
  LogInfo(L"%s", L"CondString::ClearCondStrings");
  List().Clear();
}

}  // namespace CondString
