// Handle lookup shared by the 2D operations.
#pragma once

#include "engine/core/object_list.h"

// Finds a handle by walking the list from its start, as every engine operation does before it
// touches a record. The walk leaves the found record as the list's current element; null (and
// the cursor on the last element) when the handle is not in the list.
template <class Record>
Record* FindRecord(ObjectList<Record>& list, const void* handle) {
  if (handle == nullptr) return nullptr;
  list.Reset();
  while (Record* record = list.Next()) {
    if (record == handle) return record;
  }
  return nullptr;
}
