// The cursor rules of ObjectList that the passes rely on, record initialisation and ownership.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/object_list.h"

namespace {

struct Item {
  int id;
  double weight;
  char bytes[16];
  std::string name;
};

// Counts live instances so removal and clearing can be seen to destroy records.
struct Tracked {
  static inline int live = 0;
  int id = 0;
  Tracked() { ++live; }
  ~Tracked() { --live; }
};

// Adds records with ids 1..n after a Reset, so they end up in order 1..n.
void Fill(ObjectList<Item>& list, int n) {
  list.Reset();
  list.Last();
  for (int i = 1; i <= n; ++i) list.Add()->id = i;
}

std::vector<int> Ids(ObjectList<Item>& list) {
  std::vector<int> ids;
  list.ForEach([&](Item& item) { ids.push_back(item.id); });
  return ids;
}

TEST(ObjectListWalk, NextOnEmptyListReturnsNull) {
  ObjectList<Item> list;
  EXPECT_EQ(list.Next(), nullptr);
  EXPECT_EQ(list.Index(), -1);
  EXPECT_EQ(list.Current(), nullptr);
  EXPECT_EQ(list.First(), nullptr);
  EXPECT_EQ(list.Last(), nullptr);
  EXPECT_EQ(list.Count(), 0);
}

TEST(ObjectListWalk, OneElementWalkStopsOnIt) {
  ObjectList<Item> list;
  Item* only = list.Add();
  list.Reset();
  EXPECT_EQ(list.Next(), only);
  EXPECT_EQ(list.Next(), nullptr);
  // The cursor stays on the last element after running off the end.
  EXPECT_EQ(list.Current(), only);
  EXPECT_EQ(list.Index(), 0);
}

TEST(ObjectListWalk, FullWalkVisitsInOrderAndTracksIndex) {
  ObjectList<Item> list;
  Fill(list, 5);
  list.Reset();
  int expected = 1;
  while (Item* item = list.Next()) {
    EXPECT_EQ(item->id, expected);
    EXPECT_EQ(list.Index(), expected - 1);
    ++expected;
  }
  EXPECT_EQ(expected, 6);
  EXPECT_EQ(list.Current()->id, 5);
  EXPECT_EQ(list.Index(), 4);
}

TEST(ObjectListWalk, FirstAndLastMoveTheCursor) {
  ObjectList<Item> list;
  Fill(list, 3);
  EXPECT_EQ(list.First()->id, 1);
  EXPECT_EQ(list.Index(), 0);
  EXPECT_EQ(list.Next()->id, 2);
  EXPECT_EQ(list.Last()->id, 3);
  EXPECT_EQ(list.Index(), 2);
  EXPECT_EQ(list.Next(), nullptr);
}

TEST(ObjectListAdd, AfterResetInsertsAtHead) {
  ObjectList<Item> list;
  Fill(list, 3);
  list.Reset();
  list.Add()->id = 10;
  EXPECT_EQ(list.Index(), 0);
  EXPECT_EQ(Ids(list), (std::vector<int>{10, 1, 2, 3}));
}

TEST(ObjectListAdd, AfterCompleteWalkAppends) {
  ObjectList<Item> list;
  Fill(list, 3);
  list.Reset();
  while (list.Next()) {
  }
  list.Add()->id = 4;
  EXPECT_EQ(Ids(list), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(list.Index(), 3);
  EXPECT_EQ(list.Last()->id, 4);
}

TEST(ObjectListAdd, InsertsDirectlyAfterCurrent) {
  ObjectList<Item> list;
  Fill(list, 4);
  list.Select(1);
  Item* added = list.Add();
  added->id = 20;
  EXPECT_EQ(list.Current(), added);
  EXPECT_EQ(list.Index(), 2);
  EXPECT_EQ(Ids(list), (std::vector<int>{1, 2, 20, 3, 4}));
  // The back links agree with the forward order.
  std::vector<int> backwards;
  for (Item* item = list.Last(); item != nullptr; item = list.Select(list.Index() - 1)) {
    backwards.push_back(item->id);
    if (list.Index() == 0) break;
  }
  EXPECT_EQ(backwards, (std::vector<int>{4, 3, 20, 2, 1}));
}

TEST(ObjectListAdd, RecordsAreZeroedAndStable) {
  ObjectList<Item> list;
  std::vector<Item*> addresses;
  for (int i = 0; i < 200; ++i) {
    Item* item = list.Add();
    EXPECT_EQ(item->id, 0);
    EXPECT_EQ(item->weight, 0.0);
    for (char c : item->bytes) EXPECT_EQ(c, 0);
    EXPECT_TRUE(item->name.empty());
    item->id = i;
    item->name = "record number " + std::to_string(i) + " with a long enough name";
    addresses.push_back(item);
  }
  // Reordering by later insertions and removals never moves a record.
  list.Select(100);
  list.Remove();
  EXPECT_FALSE(list.Contains(addresses[100]));
  list.Reset();
  list.Add();
  for (int i = 0; i < 200; ++i) {
    if (i == 100) continue;
    EXPECT_TRUE(list.Contains(addresses[i]));
    EXPECT_EQ(addresses[i]->id, i);
  }
}

TEST(ObjectListSelect, OutOfRangeLeavesCursorBeforeFirst) {
  ObjectList<Item> list;
  Fill(list, 3);
  list.Select(1);
  EXPECT_EQ(list.Select(-1), nullptr);
  EXPECT_EQ(list.Index(), -1);
  EXPECT_EQ(list.Current(), nullptr);
  EXPECT_EQ(list.Next()->id, 1);

  list.Select(2);
  EXPECT_EQ(list.Select(list.Count()), nullptr);
  EXPECT_EQ(list.Current(), nullptr);
  EXPECT_EQ(list.Next()->id, 1);

  ObjectList<Item> empty;
  EXPECT_EQ(empty.Select(0), nullptr);
}

TEST(ObjectListSelect, EveryIndexFromEveryStartingPoint) {
  // Exercises the head, tail and current-element starting points of the walk.
  ObjectList<Item> list;
  Fill(list, 9);
  for (int from = -1; from < 9; ++from) {
    for (int to = 0; to < 9; ++to) {
      if (from < 0) {
        list.Reset();
      } else {
        ASSERT_NE(list.Select(from), nullptr);
      }
      Item* item = list.Select(to);
      ASSERT_NE(item, nullptr);
      EXPECT_EQ(item->id, to + 1) << "from " << from << " to " << to;
      EXPECT_EQ(list.Index(), to);
      EXPECT_EQ(list.Current(), item);
    }
  }
}

TEST(ObjectListRemove, FirstElementWhileWalking) {
  ObjectList<Item> list;
  Fill(list, 3);
  list.Reset();
  ASSERT_EQ(list.Next()->id, 1);
  list.Remove();
  EXPECT_EQ(list.Current(), nullptr);
  EXPECT_EQ(list.Index(), -1);
  EXPECT_EQ(list.Next()->id, 2);
  EXPECT_EQ(list.Index(), 0);
  EXPECT_EQ(list.Count(), 2);
}

TEST(ObjectListRemove, MiddleElementWhileWalking) {
  ObjectList<Item> list;
  Fill(list, 4);
  list.Select(2);
  list.Remove();
  EXPECT_EQ(list.Current()->id, 2);
  EXPECT_EQ(list.Index(), 1);
  EXPECT_EQ(list.Next()->id, 4);
  EXPECT_EQ(Ids(list), (std::vector<int>{1, 2, 4}));
}

TEST(ObjectListRemove, LastElementUpdatesTail) {
  ObjectList<Item> list;
  Fill(list, 3);
  list.Last();
  list.Remove();
  EXPECT_EQ(list.Current()->id, 2);
  EXPECT_EQ(list.Next(), nullptr);
  EXPECT_EQ(list.Last()->id, 2);
  list.Add()->id = 7;
  EXPECT_EQ(Ids(list), (std::vector<int>{1, 2, 7}));
}

TEST(ObjectListRemove, WalkThatRemovesSomeKeepsTheRest) {
  ObjectList<Item> list;
  Fill(list, 10);
  list.Reset();
  std::vector<int> visited;
  while (Item* item = list.Next()) {
    visited.push_back(item->id);
    if (item->id % 3 != 0) list.Remove();
  }
  EXPECT_EQ(visited, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(Ids(list), (std::vector<int>{3, 6, 9}));
  EXPECT_EQ(list.Count(), 3);
}

TEST(ObjectListRemove, WalkThatRemovesEverythingEmptiesTheList) {
  ObjectList<Item> list;
  Fill(list, 5);
  list.Reset();
  while (list.Next()) list.Remove();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.First(), nullptr);
  EXPECT_EQ(list.Last(), nullptr);
  list.Add()->id = 1;
  EXPECT_EQ(Ids(list), (std::vector<int>{1}));
}

TEST(ObjectListRemove, BeforeFirstDoesNothing) {
  ObjectList<Item> list;
  Fill(list, 2);
  list.Reset();
  list.Remove();
  EXPECT_EQ(list.Count(), 2);
  ObjectList<Item> empty;
  empty.Remove();
  EXPECT_EQ(empty.Count(), 0);
}

TEST(ObjectListOwnership, RemoveAndClearDestroyRecords) {
  Tracked::live = 0;
  {
    ObjectList<Tracked> list;
    for (int i = 0; i < 5; ++i) list.Add()->id = i;
    EXPECT_EQ(Tracked::live, 5);
    list.Select(2);
    list.Remove();
    EXPECT_EQ(Tracked::live, 4);
    list.Clear();
    EXPECT_EQ(Tracked::live, 0);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Index(), -1);
    EXPECT_EQ(list.Next(), nullptr);
    list.Add();
    list.Add();
    EXPECT_EQ(Tracked::live, 2);
  }
  // The list's own destruction releases what is left.
  EXPECT_EQ(Tracked::live, 0);
}

TEST(ObjectListOwnership, ContainsDoesNotMoveTheCursor) {
  ObjectList<Item> list;
  Fill(list, 3);
  Item* second = list.Select(1);
  Item outsider{};
  EXPECT_TRUE(list.Contains(list.Select(2)));
  list.Select(1);
  EXPECT_FALSE(list.Contains(&outsider));
  EXPECT_FALSE(list.Contains(nullptr));
  EXPECT_EQ(list.Current(), second);
  EXPECT_EQ(list.Index(), 1);
}

TEST(ObjectListOwnership, NestedListsInRecords) {
  // Records of the 3D lists embed lists of their own; destroying the outer record frees them.
  struct Outer {
    int id;
    ObjectList<Item> inner;
  };
  ObjectList<Outer> list;
  Outer* outer = list.Add();
  EXPECT_EQ(outer->inner.Count(), 0);
  EXPECT_EQ(outer->inner.Index(), -1);
  for (int i = 0; i < 3; ++i) outer->inner.Add()->name = std::string(40, 'x');
  EXPECT_EQ(outer->inner.Count(), 3);
  list.Remove();
  EXPECT_EQ(list.Count(), 0);
}

TEST(ObjectListMove, MoveToFrontRelinksBothEnds) {
  ObjectList<Item> list;
  Fill(list, 4);
  Item* last = list.Last();
  ASSERT_TRUE(list.MoveToFront(last));
  EXPECT_EQ(list.Index(), 0);
  EXPECT_EQ(list.Current(), last);
  EXPECT_EQ(Ids(list), (std::vector<int>{4, 1, 2, 3}));
  // The tail and the backward links follow: the old third is now last, and walking back from
  // it reaches the moved record.
  EXPECT_EQ(list.Last()->id, 3);
  EXPECT_EQ(list.Select(0)->id, 4);
  EXPECT_EQ(list.Select(3)->id, 3);
  EXPECT_EQ(list.Select(1)->id, 1);
  Item* middle = list.Select(2);
  ASSERT_TRUE(list.MoveToFront(middle));
  EXPECT_EQ(Ids(list), (std::vector<int>{2, 4, 1, 3}));
  ASSERT_TRUE(list.MoveToFront(list.First()));
  EXPECT_EQ(Ids(list), (std::vector<int>{2, 4, 1, 3}));
  list.Add()->id = 9;  // after the current head
  EXPECT_EQ(Ids(list), (std::vector<int>{2, 9, 4, 1, 3}));

  Item stranger{};
  list.Select(3);
  EXPECT_FALSE(list.MoveToFront(&stranger));
  EXPECT_FALSE(list.MoveToFront(nullptr));
  EXPECT_EQ(list.Index(), 3) << "a refused move leaves the cursor";
  EXPECT_EQ(Ids(list), (std::vector<int>{2, 9, 4, 1, 3}));
}

}  // namespace
