// ObjectList recycles removed elements: a reused element must come back exactly like a new one.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "engine/core/object_list.h"

namespace {

struct Record {
  int a;
  double b;
  char bytes[16];
  std::string text;
};

TEST(ObjectListReuseTest, RecycledRecordsAreValueInitialisedAgain) {
  ObjectList<Record> list;
  for (int round = 0; round < 3; ++round) {
    std::set<Record*> seen;
    for (int i = 0; i < 100; ++i) {
      Record* r = list.Add();
      EXPECT_EQ(r->a, 0);
      EXPECT_EQ(r->b, 0.0);
      for (char c : r->bytes) EXPECT_EQ(c, 0);
      EXPECT_TRUE(r->text.empty());
      r->a = i + 1;
      r->b = 2.5;
      for (char& c : r->bytes) c = 'x';
      r->text = std::string(64, 'y');  // heap-allocated: must be released on removal
      seen.insert(r);
    }
    EXPECT_EQ(seen.size(), 100u);
    // Remove while walking, as the passes do.
    list.Reset();
    while (list.Next() != nullptr) list.Remove();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Next(), nullptr);
  }
}

TEST(ObjectListReuseTest, ClearThenAddKeepsOrderAndCursorRules) {
  ObjectList<Record> list;
  for (int i = 0; i < 5; ++i) list.Add()->a = i;
  list.Clear();
  Record* first = list.Add();
  Record* second = list.Add();
  list.Reset();
  Record* head = list.Add();
  EXPECT_EQ(list.First(), head);
  EXPECT_EQ(list.Next(), first);
  EXPECT_EQ(list.Next(), second);
  EXPECT_EQ(list.Next(), nullptr);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(first->a, 0);
}

// A per-frame queue is emptied in an order of its own (the sprite pass removes each sprite's
// commands in turn). Refilled, it must reuse exactly its old memory, handed out in address order
// so that filling and walking it stay sequential.
TEST(ObjectListReuseTest, RefilledQueueReusesItsMemoryInAddressOrder) {
  ObjectList<Record> list;
  constexpr int kCount = 1000;
  std::set<Record*> before;
  for (int i = 0; i < kCount; ++i) {
    Record* r = list.Add();
    r->a = i;
    before.insert(r);
  }
  for (int pass = 0; pass < 5; ++pass) {  // every fifth record per pass, as five sprites would
    list.Reset();
    while (Record* r = list.Next())
      if (r->a % 5 == pass) list.Remove();
  }
  ASSERT_EQ(list.Count(), 0);
  std::vector<Record*> after;
  for (int i = 0; i < kCount; ++i) after.push_back(list.Add());
  EXPECT_EQ(std::set<Record*>(after.begin(), after.end()), before);
  int forward = 0;
  for (int i = 1; i < kCount; ++i)
    forward += reinterpret_cast<uintptr_t>(after[i]) > reinterpret_cast<uintptr_t>(after[i - 1]);
  // Consecutive records step forward inside each slab of elements; only slab boundaries may not.
  EXPECT_GE(forward, kCount - 1 - kCount / 256);
}

}  // namespace
