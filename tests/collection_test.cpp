#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "analysis/beatlist.h"
#include "analysis/collection.h"
#include "settings/settings.h"
#include "simhost/simhost.h"

namespace {

using simhost::Entry;
using Pairs = std::vector<std::pair<std::int32_t, std::int16_t>>;

Entry Start(std::int32_t position, std::int32_t duration) { return {position, duration, true}; }
Entry Note(std::int32_t position, std::int32_t duration) { return {position, duration, false}; }
Entry Skipped(std::int32_t position, std::int32_t duration, bool beamStart = false) {
  return {position, duration, beamStart, true};
}

class CollectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simhost::SetCurrentHost(&host);
    ApplyDefaultSettings(globalSettings);
    host.SetResultGarbage(true);
    host.AddStaff(Staff);
  }
  void TearDown() override {
    EXPECT_EQ(host.OutstandingLayers(), 0);
    simhost::SetCurrentHost(nullptr);
  }

  // Collects staff `Staff` in measure 1; returns the pairs and sets `length`.
  Pairs Collect(std::int32_t* length = nullptr, std::int32_t* listLength = nullptr) {
    BeatList list;
    BeatListInit(&list);
    const std::int32_t result = CollectBeatStarts(Staff, 1, &list);
    Pairs pairs;
    for (int i = 0; i < list.count; ++i) pairs.emplace_back(list.positions[i], list.durations[i]);
    if (length != nullptr) *length = result;
    if (listLength != nullptr) *listLength = list.length;
    BeatListRelease(&list);
    return pairs;
  }

  static constexpr std::int16_t Staff = 7;
  simhost::Host host;
};

TEST_F(CollectionTest, FourBeamedEighthsGiveOneStartWithTheirValue) {
  host.SetLayer(Staff, 1, 0, 2048,
                {Start(0, 512), Note(512, 512), Note(1024, 512), Note(1536, 512)});
  EXPECT_EQ(Collect(), (Pairs{{0, 512}}));
  globalSettings.allowBeat[3] = 0;  // eighths not allowed
  EXPECT_EQ(Collect(), (Pairs{{0, 0}}));
}

TEST_F(CollectionTest, MixedGroupGivesZero) {
  host.SetLayer(Staff, 1, 0, 1024, {Start(0, 512), Note(512, 256), Note(768, 256)});
  EXPECT_EQ(Collect(), (Pairs{{0, 0}}));
}

TEST_F(CollectionTest, UnbeamedNotesAreGroupsOfTheirOwn) {
  // Quarter, dotted eighth (no beat duration), half (not allowed by default).
  host.SetLayer(Staff, 1, 0, 3840, {Start(0, 1024), Start(1024, 768), Start(1792, 2048)});
  EXPECT_EQ(Collect(), (Pairs{{0, 1024}, {1024, 0}, {1792, 0}}));
  globalSettings.allowBeat[0] = 1;
  EXPECT_EQ(Collect(), (Pairs{{0, 1024}, {1024, 0}, {1792, 2048}}));
}

TEST_F(CollectionTest, SkippedEntriesNeitherStartEndNorSpoilAGroup) {
  host.SetLayer(Staff, 1, 0, 2048,
                {Skipped(0, 64, true), Start(0, 512), Skipped(400, 128), Skipped(500, 100, true),
                 Note(512, 512), Start(1024, 512), Note(1536, 256)});
  EXPECT_EQ(Collect(), (Pairs{{0, 512}, {1024, 0}}));
}

TEST_F(CollectionTest, LayerOfSkippedEntriesGivesLengthButNoStart) {
  host.SetLayer(Staff, 1, 1, 3072, {Skipped(0, 512, true), Skipped(512, 512)});
  std::int32_t length = 0;
  std::int32_t listLength = 0;
  EXPECT_TRUE(Collect(&length, &listLength).empty());
  EXPECT_EQ(length, 3072);
  EXPECT_EQ(listLength, 3072);
}

TEST_F(CollectionTest, LayersInOrderWithRepeatsKept) {
  host.SetLayer(Staff, 1, 2, 2048, {Start(0, 1024), Start(1024, 1024)});
  host.SetLayer(Staff, 1, 0, 2048, {Start(1024, 1024), Start(0, 512)});
  EXPECT_EQ(Collect(), (Pairs{{1024, 1024}, {0, 512}, {0, 1024}, {1024, 1024}}));
}

TEST_F(CollectionTest, The501stStartIsDropped) {
  std::vector<Entry> first;
  for (int i = 0; i < 300; ++i) first.push_back(Start(i * 128, 128));
  std::vector<Entry> second;
  for (int i = 0; i < 201; ++i) second.push_back(Start(i * 128, 128));
  host.SetLayer(Staff, 1, 0, 300 * 128, first);
  host.SetLayer(Staff, 1, 3, 201 * 128, second);
  const Pairs pairs = Collect();
  ASSERT_EQ(pairs.size(), 500u);
  EXPECT_EQ(pairs[499], (std::pair<std::int32_t, std::int16_t>{199 * 128, 128}));
}

TEST_F(CollectionTest, LengthIsTheLongestLayerEvenWithoutStarts) {
  host.SetLayer(Staff, 1, 0, 3072, {Start(0, 1024), Start(1024, 1024), Start(2048, 1024)});
  host.SetLayer(Staff, 1, 2, 4096, {});
  std::int32_t length = 0;
  std::int32_t listLength = 0;
  EXPECT_EQ(Collect(&length, &listLength).size(), 3u);
  EXPECT_EQ(length, 4096);
  EXPECT_EQ(listLength, 4096);
}

TEST_F(CollectionTest, LayersThatDoNotLoadAreSkipped) {
  host.SetLayer(Staff, 1, 0, 4096, {Start(0, 1024)});
  host.SetLayer(Staff, 1, 1, 2048, {Start(512, 512)});
  host.FailLayerLoads(Staff, 1, 0);
  std::int32_t length = 0;
  EXPECT_EQ(Collect(&length), (Pairs{{512, 512}}));
  EXPECT_EQ(length, 2048);

  host.FailLayerLoads(Staff, 1, 1);
  EXPECT_TRUE(Collect(&length).empty());
  EXPECT_EQ(length, 0);
}

TEST_F(CollectionTest, OnlyTheStaffsOwnLayersAreRead) {
  host.AddStaff(8);
  host.SetLayer(8, 1, 0, 4096, {Start(0, 2048), Start(2048, 2048)});
  host.SetLayer(Staff, 2, 0, 4096, {Start(0, 2048)});
  std::int32_t length = 0;
  EXPECT_TRUE(Collect(&length).empty());
  EXPECT_EQ(length, 0);
  EXPECT_EQ(host.counters().badCalls, 0);
}

}  // namespace
