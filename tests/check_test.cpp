#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/beatlist.h"
#include "analysis/check.h"
#include "host/records.h"
#include "settings/settings.h"
#include "simhost/simhost.h"

namespace {

using simhost::BottomSlot;
using simhost::TopSlot;

constexpr std::int16_t G = GroupStartFlag;

// A measure's present signature as the check's examples give it.
struct Signature {
  std::int16_t beats = 0;  // plain beats when `top` is empty
  std::vector<TopSlot> top;
  std::int16_t beatDuration = 0;  // plain duration when `bottom` is empty
  std::vector<BottomSlot> bottom;
};

class CheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simhost::SetCurrentHost(&host);
    ApplyDefaultSettings(globalSettings);
    host.SetResultGarbage(true);
  }
  void TearDown() override {
    for (BeatList& list : lists) BeatListRelease(&list);
    beatListFailAllocations = false;
    simhost::SetCurrentHost(nullptr);
  }

  void SetSignature(std::int16_t measure, const Signature& s) {
    simhost::MeasureView view;
    view.beats = s.beats;
    view.beatDuration = s.beatDuration;
    if (!s.top.empty()) {
      view.beats = host.AddTopChain(s.top);
      view.signatureFlags |= CompositeTopFlag;
    }
    if (!s.bottom.empty()) {
      view.beatDuration = host.AddBottomChain(s.bottom);
      view.signatureFlags |= CompositeBottomFlag;
    }
    host.SetMeasure(measure, view);
  }

  void AddStaff(const std::vector<std::int32_t>& positions) {
    lists.emplace_back();
    BeatListInit(&lists.back());
    for (std::int32_t p : positions) BeatListPush(&lists.back(), p, 0);
  }

  std::int16_t Check(std::int16_t measure, std::int32_t length) {
    return CheckExistingSignature(measure, length, lists.data(),
                                  static_cast<std::int16_t>(lists.size()));
  }

  std::vector<std::int32_t> Starts(std::int16_t measure) {
    std::vector<std::uint8_t> record;
    EXPECT_TRUE(
        host.GetRecord(MeasureRecordTag, {static_cast<std::uint8_t>(measure), 0, 0, 0}, record));
    BeatList starts;
    BeatListInit(&starts);
    EXPECT_EQ(ExpandCompositeStarts(record.data(), &starts), 1);
    std::vector<std::int32_t> out(starts.positions, starts.positions + starts.count);
    BeatListRelease(&starts);
    return out;
  }

  simhost::Host host;
  std::vector<BeatList> lists;
};

struct CheckRow {
  const char* name;
  Signature signature;
  std::int32_t measureLength;
  std::vector<std::int32_t> groups;
  std::int16_t expected;
};

TEST_F(CheckTest, ExampleTable) {
  const Signature common{4, {}, 1024, {}};
  const Signature sixEight{2, {}, 1536, {}};
  const Signature threeThreeTwo{0, {{3, G}, {3, 0}, {2, 0}}, 512, {}};
  const Signature twoThreeOverMixed{0, {{2, G}, {3, G}}, 0, {{1024, G}, {512, G}}};
  const Signature oneOneThreeOverMixed{0, {{1, G}, {1, 0}, {3, G}}, 0, {{1024, G}, {512, G}}};
  const Signature threeOverMixed{3, {}, 0, {{1024, G}, {512, G}}};
  const Signature twoOverSum{2, {}, 0, {{1024, G}, {512, 0}}};
  const std::vector<CheckRow> rows = {
      {"4/4, groups on beats", common, 4096, {0, 2048}, CheckNoConflict},
      {"4/4, 1536 is no beat start", common, 4096, {0, 1536, 3072}, CheckConflict},
      {"4/4 in a 3072 measure", common, 3072, {0}, CheckConflict},
      {"6/8", sixEight, 3072, {0, 1536}, CheckNoConflict},
      {"3+3+2/8", threeThreeTwo, 4096, {0, 1536, 3072}, CheckNoConflict},
      {"3+3+2/8 whatever the length", threeThreeTwo, 1000, {0, 1536, 3072}, CheckNoConflict},
      {"3+3+2/8, a beat inside a slot", threeThreeTwo, 4096, {0, 512}, CheckConflict},
      {"2/4+3/8 as 2,3 over 1024,512", twoThreeOverMixed, 3584, {0, 1024, 2048}, CheckConflict},
      {"1+1,3 over 1024,512", oneOneThreeOverMixed, 3584, {0, 1024, 2048}, CheckNoConflict},
      {"3 over 1024,512", threeOverMixed, 4608, {0, 1024}, CheckNoConflict},
      {"2 over 1024+512", twoOverSum, 3072, {0, 1536}, CheckNoConflict},
      {"no starts against a composite", threeThreeTwo, 4096, {}, CheckNoConflict},
      {"no starts against a plain of the right length", common, 4096, {}, CheckNoConflict},
      {"no starts against a plain of another length", common, 2048, {}, CheckConflict},
      {"repeated and unordered starts", common, 4096, {3072, 0, 3072, 1024}, CheckNoConflict},
  };
  std::int16_t measure = 1;
  for (const CheckRow& row : rows) {
    SCOPED_TRACE(row.name);
    SetSignature(measure, row.signature);
    AddStaff(row.groups);
    EXPECT_EQ(Check(measure, row.measureLength), row.expected);
    for (BeatList& list : lists) BeatListRelease(&list);
    lists.clear();
    ++measure;
  }
}

TEST_F(CheckTest, BeatStartsOfCompositeSignatures) {
  SetSignature(1, {0, {{3, G}, {3, 0}, {2, 0}}, 512, {}});
  EXPECT_EQ(Starts(1), (std::vector<std::int32_t>{0, 1536, 3072}));
  SetSignature(2, {0, {{2, G}, {3, G}}, 0, {{1024, G}, {512, G}}});
  EXPECT_EQ(Starts(2), (std::vector<std::int32_t>{0, 2048}));
  SetSignature(3, {0, {{1, G}, {1, 0}, {3, G}}, 0, {{1024, G}, {512, G}}});
  EXPECT_EQ(Starts(3), (std::vector<std::int32_t>{0, 1024, 2048}));
  SetSignature(4, {3, {}, 0, {{1024, G}, {512, G}}});
  EXPECT_EQ(Starts(4), (std::vector<std::int32_t>{0, 1024, 2048, 3072, 3584, 4096}));
  SetSignature(5, {2, {}, 0, {{1024, G}, {512, 0}}});
  EXPECT_EQ(Starts(5), (std::vector<std::int32_t>{0, 1536}));
}

TEST_F(CheckTest, EmptySlotsInsideAChainAreSkipped) {
  // 3, empty | 3, 2: the empty slot ends neither the chain nor a group.
  SetSignature(1, {0, {{3, G}, {0, G}, {3, 0}, {2, 0}}, 512, {}});
  EXPECT_EQ(Starts(1), (std::vector<std::int32_t>{0, 1536, 3072}));
  // Bottom 1024, empty, 512 as a doubled plus leaves it.
  SetSignature(2, {0, {{2, G}, {3, G}}, 0, {{1024, G}, {0, G}, {512, G}}});
  EXPECT_EQ(Starts(2), (std::vector<std::int32_t>{0, 2048}));
}

TEST_F(CheckTest, OneStaffOffTheGridIsAConflictForTheMeasure) {
  SetSignature(1, {4, {}, 1024, {}});
  AddStaff({0, 1024, 2048});
  AddStaff({0, 2560});
  EXPECT_EQ(Check(1, 4096), CheckConflict);
}

TEST_F(CheckTest, MeasureRecordThatDoesNotLoadIsAConflict) {
  AddStaff({0});
  EXPECT_EQ(Check(9, 4096), CheckConflict);
  SetSignature(1, {4, {}, 1024, {}});
  host.FailLoads(MeasureRecordTag);
  EXPECT_EQ(Check(1, 4096), CheckConflict);
}

TEST_F(CheckTest, UnsoundChainsAreConflictsWithoutReadingPastTheirSlots) {
  AddStaff({0});
  // A composite bit whose chain holds no record.
  simhost::MeasureView view;
  view.beats = 77;
  view.beatDuration = 512;
  view.signatureFlags = CompositeTopFlag;
  host.SetMeasure(1, view);
  EXPECT_EQ(Check(1, 4096), CheckConflict);
  view.beats = 4;
  view.beatDuration = 88;
  view.signatureFlags = CompositeBottomFlag;
  host.SetMeasure(2, view);
  EXPECT_EQ(Check(2, 4096), CheckConflict);
  // A chain whose records hold only empty slots.
  SetSignature(3, {0, {{0, G}, {0, 0}}, 512, {}});
  EXPECT_EQ(Check(3, 4096), CheckConflict);
  // Two top groups over three bottom groups, and three over one.
  SetSignature(4, {0, {{2, G}, {3, G}}, 0, {{1024, G}, {512, G}, {256, G}}});
  EXPECT_EQ(Check(4, 4096), CheckConflict);
  SetSignature(5, {0, {{1, G}, {1, G}, {1, G}}, 0, {{1024, G}}});
  EXPECT_EQ(Check(5, 4096), CheckConflict);
}

TEST_F(CheckTest, ChainLongerThanTheSlotArraysIsAConflict) {
  AddStaff({0});
  std::vector<TopSlot> top(TopSlotCapacity, TopSlot{1, G});
  SetSignature(1, {0, top, 512, {}});
  EXPECT_EQ(Check(1, 4096), CheckNoConflict);  // exactly 200 slots still fit
  top.push_back({1, G});
  SetSignature(2, {0, top, 512, {}});
  EXPECT_EQ(Check(2, 4096), CheckConflict);

  std::vector<BottomSlot> bottom(BottomSlotCapacity + 1, BottomSlot{512, 0});
  SetSignature(3, {4, {}, 0, bottom});
  EXPECT_EQ(Check(3, 4096), CheckConflict);
}

TEST_F(CheckTest, StartsBeyondTheListCapacityAreNoBeatStarts) {
  // 600 beats of 128: only the first 500 starts are kept.
  SetSignature(1, {600, {}, 128, {}});
  AddStaff({0, 499 * 128});
  EXPECT_EQ(Check(1, 600 * 128), CheckNoConflict);
  AddStaff({500 * 128});
  EXPECT_EQ(Check(1, 600 * 128), CheckConflict);
}

TEST_F(CheckTest, FailedWorkingStorageIsReportedSoTheMeasureIsLeftAlone) {
  SetSignature(1, {4, {}, 1024, {}});
  AddStaff({0, 1536});
  beatListFailAllocations = true;
  EXPECT_EQ(Check(1, 4096), CheckNoStorage);
}

}  // namespace
