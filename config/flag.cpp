#include "config/flag.h"

#include "log/log.h"

namespace Flag {

RecordList<Record>& List() {
  static RecordList<Record> flags;
  return flags;
}

Record* Flag(std::wstring_view name) {
  if (name.empty()) return nullptr;
  Record& flag = List().Append(std::wstring(name));
  LogInfo(L"%s - new %s", L"Flag::Flag", flag.name.c_str());
  return &flag;
}

Record* Find(std::wstring_view name) {
  return List().Find(name);
}

void ClearFlags() {
  LogInfo(L"%s", L"Flag::ClearFlags");
  List().Clear();
}

}  // namespace Flag
