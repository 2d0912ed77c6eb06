// ObjectList: the container of every kind of engine object.
//
// An ordered, intrusive, doubly linked list of records of one type. Each element is a two-word
// link header (next, previous) followed by the record; callers only see the record's address,
// which stays valid until that element is removed. New records are value-initialised, so plain
// fields start zeroed and string fields empty. The list keeps a cursor: passes walk it with
// Reset/Next and may remove the element they are visiting without losing their place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

template <class Record>
class ObjectList {
 public:
  ObjectList() = default;
  ~ObjectList() {
    Clear();
    FreeSlabs();
  }
  ObjectList(const ObjectList&) = delete;
  ObjectList& operator=(const ObjectList&) = delete;

  // Inserts a new record directly after the current element (at the head when the cursor is
  // before the first element), makes it current and returns it.
  Record* Add() {
    if (count_ == 0 && addsSinceRechain_ >= capacity_ / 2) RechainSpares();
    if (spare_ == nullptr) Grow();
    Element* element = spare_;
    spare_ = element->next;
    ++addsSinceRechain_;
    new (element->storage) Record();
    if (current_ == nullptr) {
      element->next = first_;
      element->previous = nullptr;
      if (first_ != nullptr) first_->previous = element;
      first_ = element;
      if (last_ == nullptr) last_ = element;
      index_ = 0;
    } else {
      element->next = current_->next;
      element->previous = current_;
      if (current_->next != nullptr) {
        current_->next->previous = element;
      } else {
        last_ = element;
      }
      current_->next = element;
      ++index_;
    }
    current_ = element;
    ++count_;
    return &element->Rec();
  }

  // Puts the cursor before the first element.
  void Reset() {
    current_ = nullptr;
    index_ = -1;
  }

  // Moves to the following element (from before the first: to the first) and returns it. At the
  // end of the list: null, and the cursor stays on the last element.
  Record* Next() {
    Element* next = current_ == nullptr ? first_ : current_->next;
    if (next == nullptr) return nullptr;
    current_ = next;
    ++index_;
    return &current_->Rec();
  }

  Record* First() {
    if (first_ == nullptr) return nullptr;
    current_ = first_;
    index_ = 0;
    return &current_->Rec();
  }

  Record* Last() {
    if (last_ == nullptr) return nullptr;
    current_ = last_;
    index_ = static_cast<int32_t>(count_) - 1;
    return &current_->Rec();
  }

  // Moves the cursor to the element with zero-based `index`, walking from whichever of head,
  // tail or current element is nearest. Out of range: cursor before the first, null.
  Record* Select(int64_t index) {
    if (index < 0 || index >= static_cast<int64_t>(count_)) {
      Reset();
      return nullptr;
    }
    const int64_t fromHead = index;
    const int64_t fromTail = static_cast<int64_t>(count_) - 1 - index;
    int64_t fromCurrent = INT64_MAX;
    if (current_ != nullptr) fromCurrent = index > index_ ? index - index_ : index_ - index;

    Element* element;
    int64_t at;
    if (fromCurrent <= fromHead && fromCurrent <= fromTail) {
      element = current_;
      at = index_;
    } else if (fromHead <= fromTail) {
      element = first_;
      at = 0;
    } else {
      element = last_;
      at = static_cast<int64_t>(count_) - 1;
    }
    while (at < index) {
      element = element->next;
      ++at;
    }
    while (at > index) {
      element = element->previous;
      --at;
    }
    current_ = element;
    index_ = static_cast<int32_t>(index);
    return &current_->Rec();
  }

  // Moves the record's element to the head of the list and makes it current. False (nothing
  // moves) when the record is not in the list.
  bool MoveToFront(const Record* record) {
    Element* element = first_;
    while (element != nullptr && &element->Rec() != record) element = element->next;
    if (element == nullptr) return false;
    if (element != first_) {
      element->previous->next = element->next;
      if (element->next != nullptr) {
        element->next->previous = element->previous;
      } else {
        last_ = element->previous;
      }
      element->previous = nullptr;
      element->next = first_;
      first_->previous = element;
      first_ = element;
    }
    current_ = element;
    index_ = 0;
    return true;
  }

  // The current record, or null when the cursor stands before the first element.
  Record* Current() const { return current_ == nullptr ? nullptr : &current_->Rec(); }
  // Zero-based index of the current element; -1 before the first element.
  int32_t Index() const { return index_; }
  int32_t Count() const { return count_; }

  // Removes the current element and destroys its record. Its predecessor becomes current, or the
  // cursor goes before the first element, so the next Next() yields the element that followed
  // the removed one. Does nothing when the cursor stands before the first element.
  void Remove() {
    Element* element = current_;
    if (element == nullptr) return;
    if (element->previous != nullptr) {
      element->previous->next = element->next;
    } else {
      first_ = element->next;
    }
    if (element->next != nullptr) {
      element->next->previous = element->previous;
    } else {
      last_ = element->previous;
    }
    current_ = element->previous;
    --index_;
    --count_;
    Release(element);
  }

  // Removes every element; the cursor goes before the (now absent) first element.
  void Clear() {
    Element* element = first_;
    while (element != nullptr) {
      Element* next = element->next;
      Release(element);
      element = next;
    }
    first_ = last_ = current_ = nullptr;
    count_ = 0;
    index_ = -1;
    if (capacity_ > kMaxKept) FreeSlabs();
  }

  // Whether `record` is the record of one of this list's elements. Leaves the cursor alone, so
  // operations can validate a handle without disturbing a walk in progress.
  bool Contains(const Record* record) const {
    if (record == nullptr) return false;
    for (const Element* element = first_; element != nullptr; element = element->next) {
      if (&element->Rec() == record) return true;
    }
    return false;
  }

  // Cursor-free iteration in list order, for code that must not disturb a walk (clean-up, tests).
  // The visitor must not add or remove elements.
  template <class Visitor>
  void ForEach(Visitor&& visit) {
    for (Element* element = first_; element != nullptr; element = element->next) {
      visit(element->Rec());
    }
  }

 private:
  // The record lives in raw storage so that an element's memory can be reused: per-frame queues
  // add and remove thousands of records every frame, and recycling spares them the allocator.
  struct Element {
    Element* next;
    Element* previous;
    alignas(Record) unsigned char storage[sizeof(Record)];
    Record& Rec() { return *std::launder(reinterpret_cast<Record*>(storage)); }
    const Record& Rec() const { return *std::launder(reinterpret_cast<const Record*>(storage)); }
  };
  // Elements come in slabs of this many, and are never freed one by one.
  static constexpr int32_t kSlabSize = 256;
  // An emptied list with more elements than this gives its memory back.
  static constexpr int32_t kMaxKept = 16384;

  // Destroys the element's record (releasing its strings) and keeps its memory for reuse.
  void Release(Element* element) {
    element->Rec().~Record();
    element->next = spare_;
    spare_ = element;
    if (count_ == 0 && first_ == nullptr && capacity_ > kMaxKept) FreeSlabs();  // the last one went
  }

  void Grow() {
    Element* slab = new Element[kSlabSize];
    slabs_.push_back(slab);
    for (int32_t i = 0; i + 1 < kSlabSize; ++i) slab[i].next = &slab[i + 1];
    slab[kSlabSize - 1].next = spare_;
    spare_ = slab;
    capacity_ += kSlabSize;
  }

  // With every element spare, threads them in address order. Per-frame queues are emptied in an
  // order of their own; without this, the next frame's records would land all over the slabs,
  // and filling and walking the queue would miss the cache on almost every record.
  void RechainSpares() {
    Element* next = nullptr;
    for (size_t s = slabs_.size(); s-- > 0;)
      for (int32_t i = kSlabSize; i-- > 0;) {
        slabs_[s][i].next = next;
        next = &slabs_[s][i];
      }
    spare_ = next;
    addsSinceRechain_ = 0;
  }

  void FreeSlabs() {
    for (Element* slab : slabs_) delete[] slab;
    slabs_.clear();
    spare_ = nullptr;
    capacity_ = 0;
    addsSinceRechain_ = 0;
  }

  Element* first_ = nullptr;
  Element* last_ = nullptr;
  Element* current_ = nullptr;
  int32_t count_ = 0;
  int32_t index_ = -1;
  Element* spare_ = nullptr;
  std::vector<Element*> slabs_;
  int32_t capacity_ = 0;          // elements in all slabs
  int32_t addsSinceRechain_ = 0;  // rechaining costs the capacity; it waits for as many adds
};
