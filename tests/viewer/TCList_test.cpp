#include "FileOffset.h"
#include "TCList.h"

#include <gtest/gtest.h>

namespace {

TEST(TCList, PushesAndPopsInLastInFirstOutOrder) {
  TCList<TFileOffset> History;
  History.push(0);
  History.push(900);
  History.push(1800);
  EXPECT_EQ(History.count(), 3);
  EXPECT_EQ(History.last(), 1800);
  EXPECT_TRUE(History.pop());
  EXPECT_EQ(History.last(), 900);
  EXPECT_EQ(History.count(), 2);
  EXPECT_TRUE(History.pop());
  EXPECT_EQ(History.last(), 0);
  EXPECT_EQ(History.count(), 1);
}

TEST(TCList, PopOnEmptyFailsAndChangesNothing) {
  TCList<TFileOffset> History;
  EXPECT_FALSE(History.pop());
  EXPECT_EQ(History.count(), 0);
  History.push(42);
  EXPECT_TRUE(History.pop());
  EXPECT_EQ(History.count(), 0);
  EXPECT_FALSE(History.pop());
  EXPECT_EQ(History.count(), 0);
  History.push(7);  // the emptied list is usable again from its first node
  EXPECT_EQ(History.count(), 1);
  EXPECT_EQ(History.last(), 7);
}

TEST(TCList, ClearAndInitEmptyTheListForReuse) {
  TCList<TFileOffset> History;
  for (TFileOffset Value : {1, 2, 3}) History.push(Value);
  History.clear();
  EXPECT_EQ(History.count(), 0);
  EXPECT_FALSE(History.pop());
  History.push(5);
  EXPECT_EQ(History.count(), 1);
  EXPECT_EQ(History.last(), 5);
  History.push(6);
  History.init();
  EXPECT_EQ(History.count(), 0);
  History.push(8);
  EXPECT_EQ(History.last(), 8);
}

TEST(TCList, SameOffsetTwiceIsTwoEntries) {
  TCList<TFileOffset> History;
  History.push(4000);
  History.push(4000);
  EXPECT_EQ(History.count(), 2);
  EXPECT_TRUE(History.pop());
  EXPECT_EQ(History.last(), 4000);
  EXPECT_EQ(History.count(), 1);
}

TEST(TCList, KeepsOffsetsPastFourGib) {
  TCList<TFileOffset> History;
  const TFileOffset Far = (TFileOffset{5} << 30) + 3;
  History.push(Far);
  History.push(Far + 2000);
  EXPECT_TRUE(History.pop());
  EXPECT_EQ(History.last(), Far);
}

// A reader who holds Page Down through a whole novel builds a long history: it must count exactly,
// retrace in order, and release every node (the sanitizer build checks for leaks) without recursion.
TEST(TCList, LongHistoryCountsRetracesAndReleases) {
  constexpr TFileOffset Entries = 200000;
  TCList<TFileOffset> History;
  for (TFileOffset Value = 0; Value < Entries; ++Value) History.push(Value * 3);
  EXPECT_EQ(History.count(), Entries);
  for (TFileOffset Value = Entries - 1; Value >= Entries / 2; --Value) {
    ASSERT_EQ(History.last(), Value * 3);
    ASSERT_TRUE(History.pop());
  }
  EXPECT_EQ(History.count(), Entries / 2);
  TCList<TFileOffset> Abandoned;
  for (TFileOffset Value = 0; Value < Entries; ++Value) Abandoned.push(Value);
  // Both lists are destroyed here still holding entries.
}

}  // namespace
