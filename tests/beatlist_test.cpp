#include <gtest/gtest.h>

#include "analysis/beatlist.h"

namespace {

TEST(BeatList, InitGivesEmptyListOfCapacity500) {
  BeatList list;
  BeatListInit(&list);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(list.length, 0);
  EXPECT_EQ(list.capacity, 500);
  BeatListRelease(&list);
}

TEST(BeatList, The501stPushIsRefusedAndChangesNothing) {
  BeatList list;
  BeatListInit(&list);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(BeatListPush(&list, i * 10, 512), 1);
  EXPECT_EQ(BeatListPush(&list, 99999, 256), 0);
  EXPECT_EQ(list.count, 500);
  EXPECT_EQ(list.positions[499], 4990);
  BeatListRelease(&list);
}

TEST(BeatList, RepeatedPositionsGiveTwoEntries) {
  BeatList list;
  BeatListInit(&list);
  EXPECT_EQ(BeatListPush(&list, 1536, 512), 1);
  EXPECT_EQ(BeatListPush(&list, 1536, 512), 1);
  ASSERT_EQ(list.count, 2);
  EXPECT_EQ(list.positions[0], list.positions[1]);
  EXPECT_EQ(list.durations[1], 512);
  BeatListRelease(&list);
}

TEST(BeatList, ReleasedListRefusesPushesUntilInitialised) {
  BeatList list;
  BeatListInit(&list);
  BeatListPush(&list, 0, 0);
  BeatListRelease(&list);
  EXPECT_EQ(list.count, 0);
  EXPECT_EQ(BeatListPush(&list, 0, 0), 0);
  BeatListInit(&list);
  EXPECT_EQ(BeatListPush(&list, 0, 0), 1);
  BeatListRelease(&list);
}

TEST(BeatList, ListWithoutStorageRefusesEveryPush) {
  beatListFailAllocations = true;
  BeatList list;
  BeatListInit(&list);
  beatListFailAllocations = false;
  EXPECT_EQ(list.positions, nullptr);
  EXPECT_EQ(BeatListPush(&list, 0, 512), 0);
  BeatListRelease(&list);  // harmless without storage
}

}  // namespace
