// The runtime's object tables: objects under a chosen number, or "any" objects identified by the
// address of their record. Records are owned by the table.
#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "runtime/raster_image.h"

// Numbers above this are refused, so that a stray large number cannot grow a table without bound.
constexpr RuntimeId kMaxObjectNumber = (1 << 20) - 1;

template <typename Record>
class ObjectTable {
 public:
  // The record of a number within the table or of an "any" handle; null otherwise.
  Record* Find(RuntimeId id) const {
    if (id >= 0 && id < static_cast<RuntimeId>(numbered_.size())) return numbered_[id].get();
    auto found = any_.find(reinterpret_cast<Record*>(id));
    return found != any_.end() ? found->second.get() : nullptr;
  }

  // A new empty record under the number (growing the table) or as "any" (-1). The number's slot
  // must have been emptied by the caller, who releases what it held first. Null for a bad id.
  Record* Create(RuntimeId id) {
    if (id == kAnyObject) {
      auto record = std::make_unique<Record>();
      Record* raw = record.get();
      any_.emplace(raw, std::move(record));
      return raw;
    }
    if (id < 0 || id > kMaxObjectNumber) return nullptr;
    if (id >= static_cast<RuntimeId>(numbered_.size())) numbered_.resize(id + 1);
    numbered_[id] = std::make_unique<Record>();
    return numbered_[id].get();
  }

  // Removes (and frees) a record wherever it is registered.
  void Remove(Record* record) {
    if (!record) return;
    if (any_.erase(record)) return;
    for (auto& slot : numbered_)
      if (slot.get() == record) {
        slot.reset();
        return;
      }
  }

  template <typename F>
  void ForEach(F&& visit) const {
    for (auto& slot : numbered_)
      if (slot) visit(slot.get());
    for (auto& entry : any_) visit(entry.second.get());
  }

  void Clear() {
    numbered_.clear();
    any_.clear();
  }

  static bool ValidNewId(RuntimeId id) {
    return id == kAnyObject || (id >= 0 && id <= kMaxObjectNumber);
  }

 private:
  std::vector<std::unique_ptr<Record>> numbered_;
  std::unordered_map<Record*, std::unique_ptr<Record>> any_;
};
