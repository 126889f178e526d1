#pragma once

#include <list>
#include <string_view>
#include <utility>

// One of the process-wide configuration lists. It owns its records, keeps
// them in the order they were added, and hands out stable pointers. Records
// carry a `name`; a look-up takes the first record whose name is equal,
// case-sensitively, so a later record of the same name is never found.
template <typename Record>
class RecordList {
 public:
  template <typename... Args>
  Record& Append(Args&&... args) {
    return records_.emplace_back(std::forward<Args>(args)...);
  }

  // The first record named `name`; nullptr for an empty name or no match.
  [[nodiscard]] Record* Find(std::wstring_view name) {
    if (name.empty()) return nullptr;
    for (Record& record : records_) {
      if (record.name == name) return &record;
    }
    return nullptr;
  }

  // Removes the records from the front, one by one.
  void Clear() {
    while (!records_.empty()) records_.pop_front();
  }

  [[nodiscard]] bool empty() const noexcept { return records_.empty(); }
  [[nodiscard]] size_t size() const noexcept { return records_.size(); }
  auto begin() noexcept { return records_.begin(); }
  auto end() noexcept { return records_.end(); }

 private:
  std::list<Record> records_;
};
