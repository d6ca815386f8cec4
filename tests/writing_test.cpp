#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/records.h"
#include "analysis/writing.h"
#include "settings/settings.h"
#include "simhost/simhost.h"

namespace {

using simhost::BottomSlot;
using simhost::MeasureView;
using simhost::TopSlot;

constexpr std::int16_t G = GroupStartFlag;

std::vector<std::uint8_t> Key(std::int16_t number, std::int16_t sequence) {
  const RecordKeyBytes k = MakeRecordKey(number, sequence);
  return {k.bytes, k.bytes + RecordKeyLayout::Size};
}

bool SameTop(const std::vector<TopSlot>& a, const std::vector<TopSlot>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].beatCount != b[i].beatCount || a[i].slotFlags != b[i].slotFlags) return false;
  }
  return true;
}
bool SameBottom(const std::vector<BottomSlot>& a, const std::vector<BottomSlot>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].duration != b[i].duration || a[i].slotFlags != b[i].slotFlags) return false;
  }
  return true;
}

class WritingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simhost::SetCurrentHost(&host);
    ApplyDefaultSettings(globalSettings);
    globalSettings.hideTimeSig = 0;
    globalSettings.displayCurrentTimeSig = 0;
    globalSettings.abbreviateDisplay = 0;
    host.SetResultGarbage(true);
  }
  void TearDown() override { simhost::SetCurrentHost(nullptr); }

  MeasureView Measure(std::int16_t measure) {
    MeasureView view;
    EXPECT_TRUE(host.ReadMeasure(measure, view));
    return view;
  }
  std::string Top(std::int16_t value, bool composite) {
    char buffer[FormatBufferSize];
    EXPECT_EQ(FormatTopChain(buffer, value, composite ? 1 : 0), 1);
    return buffer;
  }
  std::string Bottom(std::int16_t value, bool composite) {
    char buffer[FormatBufferSize];
    EXPECT_EQ(FormatBottomChain(buffer, value, composite ? 1 : 0), 1);
    return buffer;
  }

  simhost::Host host;
};

TEST_F(WritingTest, SameSignatureIsLeftAlone) {
  host.SetMeasure(1, 6, 512);
  const int saves = host.counters().saves;
  EXPECT_EQ(WriteMeasureSignature(1, "6", "512"), 0);
  EXPECT_EQ(host.counters().saves, saves);
}

TEST_F(WritingTest, HidingSetsAlwaysHideAndClearsTheExtraBitKeepingUnlistedBytes) {
  MeasureView view;
  view.beats = 6;
  view.beatDuration = 512;
  view.signatureFlags = 0x1100;  // unlisted bits
  view.extraFlags = 0x0C01;
  host.SetMeasure(1, view);
  std::vector<std::uint8_t> before;
  ASSERT_TRUE(host.GetRecord(MeasureRecordTag, Key(1, 0), before));

  globalSettings.hideTimeSig = 1;
  EXPECT_NE(WriteMeasureSignature(1, "6", "512"), 0);
  const MeasureView after = Measure(1);
  EXPECT_EQ(after.signatureFlags, 0x1100 | AlwaysHideFlag);
  EXPECT_EQ(after.extraFlags, 0x0801);
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(host.GetRecord(MeasureRecordTag, Key(1, 0), bytes));
  ASSERT_EQ(bytes.size(), 24u);
  for (std::size_t i : {0u, 1u, 2u, 3u, 18u, 19u, 20u, 21u, 22u, 23u}) {
    EXPECT_EQ(bytes[i], before[i]) << "byte " << i;
  }
  // Hidden already: nothing more to do.
  EXPECT_EQ(WriteMeasureSignature(1, "6", "512"), 0);
}

TEST_F(WritingTest, TopChainWithAGroupInTheSecondRecord) {
  host.SetMeasure(1, 8, 512);
  EXPECT_NE(WriteMeasureSignature(1, "3+2++3", "512"), 0);
  const MeasureView view = Measure(1);
  EXPECT_EQ(view.signatureFlags & (CompositeTopFlag | CompositeBottomFlag), CompositeTopFlag);
  EXPECT_EQ(view.beatDuration, 512);
  EXPECT_EQ(host.ChainRecordCount(CompositeTopRecordTag, view.beats), 2);
  EXPECT_TRUE(SameTop(host.ReadTopChain(view.beats), {{3, G}, {2, 0}, {3, G}, {0, 0}}));
  EXPECT_EQ(Top(view.beats, true), "3+2++3");
}

TEST_F(WritingTest, TopChainOfOneGroup) {
  const std::int16_t chain = CreateTopChain("2+2+3");
  EXPECT_TRUE(SameTop(host.ReadTopChain(chain), {{2, G}, {2, 0}, {3, 0}, {0, 0}}));
  EXPECT_EQ(Top(chain, true), "2+2+3");
}

TEST_F(WritingTest, BottomChainGivesEveryValueItsOwnGroup) {
  const std::int16_t chain = CreateBottomChain("1024+512");
  EXPECT_EQ(host.ChainRecordCount(CompositeBottomRecordTag, chain), 1);
  EXPECT_TRUE(SameBottom(host.ReadBottomChain(chain), {{1024, G}, {512, G}, {0, 0}}));
  EXPECT_EQ(Bottom(chain, true), "1024++512");
}

TEST_F(WritingTest, DoubledPlusInALowerTextLeavesAnEmptySlot) {
  const std::int16_t chain = CreateBottomChain("512++1024");
  EXPECT_TRUE(SameBottom(host.ReadBottomChain(chain), {{512, G}, {0, G}, {1024, G}}));
  EXPECT_EQ(Bottom(chain, true), "512++1024");
}

TEST_F(WritingTest, LongTextsMakeSeveralRecords) {
  const std::int16_t top = CreateTopChain("1+2+3+4+5");
  EXPECT_EQ(host.ChainRecordCount(CompositeTopRecordTag, top), 3);
  EXPECT_TRUE(SameTop(host.ReadTopChain(top), {{1, G}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {0, 0}}));
  const std::int16_t bottom = CreateBottomChain("128+256+512+1024");
  EXPECT_EQ(host.ChainRecordCount(CompositeBottomRecordTag, bottom), 2);
  EXPECT_TRUE(SameBottom(host.ReadBottomChain(bottom),
                         {{128, G}, {256, G}, {512, G}, {1024, G}, {0, 0}, {0, 0}}));
  EXPECT_NE(top, CreateTopChain("1+2+3+4+5"));  // every creation is a chain of its own
}

TEST_F(WritingTest, TrailingPlusStillCreatesThePendingRecord) {
  const std::int16_t chain = CreateTopChain("3+");
  EXPECT_TRUE(SameTop(host.ReadTopChain(chain), {{3, G}, {0, 0}}));
}

TEST_F(WritingTest, NumbersInTexts) {
  EXPECT_EQ(ReadTextNumber("1536"), 1536);
  EXPECT_EQ(ReadTextNumber("  12x"), 12);
  EXPECT_EQ(ReadTextNumber("+5"), 5);
  EXPECT_EQ(ReadTextNumber("-3"), -3);
  EXPECT_EQ(ReadTextNumber("abc"), 0);
  EXPECT_EQ(ReadTextNumber(""), 0);
  EXPECT_EQ(ReadTextNumber("70000"), static_cast<std::int16_t>(70000 & 0xFFFF));
  EXPECT_EQ(ReadTextNumber("99999999999999999999"), ReadTextNumber("99999999999999999999"));
  EXPECT_EQ(Top(-7, false), "-7");
  EXPECT_EQ(Bottom(-32768, false), "-32768");
}

TEST_F(WritingTest, DisplayKeepsTheFormerSignatureVisible) {
  globalSettings.displayCurrentTimeSig = 1;
  for (std::int16_t abbreviate : {0, 1}) {
    SCOPED_TRACE(abbreviate);
    globalSettings.abbreviateDisplay = abbreviate;
    host.SetMeasure(1, 4, 1024);
    EXPECT_NE(WriteMeasureSignature(1, "2", "2048"), 0);
    const MeasureView view = Measure(1);
    EXPECT_EQ(view.beats, 2);
    EXPECT_EQ(view.beatDuration, 2048);
    EXPECT_EQ(view.displayFlags & 0x0306,
              DisplayInUseFlag | (abbreviate ? DisplayAbbreviateFlag : 0));
    EXPECT_EQ(view.displayBeats, 4);
    EXPECT_EQ(view.displayBeatDuration, 1024);
  }
  // The same texts again: already there.
  const std::size_t records = host.RecordCount();
  const int saves = host.counters().saves;
  EXPECT_EQ(WriteMeasureSignature(1, "2", "2048"), 0);
  EXPECT_EQ(host.counters().saves, saves);
  EXPECT_EQ(host.RecordCount(), records);
}

TEST_F(WritingTest, NewDisplayIsTheSignatureHeldJustBefore) {
  globalSettings.displayCurrentTimeSig = 1;
  MeasureView view;
  view.beats = 3;
  view.beatDuration = 1024;
  view.displayBeats = 4;
  view.displayBeatDuration = 1024;
  view.displayFlags = DisplayInUseFlag;
  host.SetMeasure(1, view);
  EXPECT_NE(WriteMeasureSignature(1, "6", "512"), 0);
  const MeasureView after = Measure(1);
  EXPECT_EQ(after.beats, 6);
  EXPECT_EQ(after.displayBeats, 3);
  EXPECT_EQ(after.displayBeatDuration, 1024);
}

TEST_F(WritingTest, CompositeDisplayFromAFormattedPresentSignature) {
  globalSettings.displayCurrentTimeSig = 1;
  MeasureView view;
  view.beats = host.AddTopChain({{1, G}, {1, 0}, {3, G}});
  view.beatDuration = host.AddBottomChain({{1024, G}, {512, G}});
  view.signatureFlags = CompositeTopFlag | CompositeBottomFlag;
  host.SetMeasure(1, view);
  EXPECT_NE(WriteMeasureSignature(1, "7", "512"), 0);
  const MeasureView after = Measure(1);
  EXPECT_EQ(after.signatureFlags & (CompositeTopFlag | CompositeBottomFlag), 0);
  EXPECT_EQ(after.displayFlags & (DisplayCompositeTopFlag | DisplayCompositeBottomFlag),
            DisplayCompositeTopFlag | DisplayCompositeBottomFlag);
  EXPECT_EQ(Top(after.displayBeats, true), "1+1++3");
  // Formatted as 1024++512, stored with an empty slot, formats the same.
  EXPECT_TRUE(
      SameBottom(host.ReadBottomChain(after.displayBeatDuration), {{1024, G}, {0, G}, {512, G}}));
  EXPECT_EQ(Bottom(after.displayBeatDuration, true), "1024++512");
}

TEST_F(WritingTest, HiddenMeasureGetsNoDisplaySignature) {
  globalSettings.displayCurrentTimeSig = 1;
  globalSettings.hideTimeSig = 1;
  MeasureView view;
  view.beats = 3;
  view.beatDuration = 1024;
  view.displayBeats = 4;
  view.displayBeatDuration = 1024;
  view.displayFlags = DisplayInUseFlag | DisplayCompositeTopFlag | 0x0800;
  host.SetMeasure(1, view);
  EXPECT_NE(WriteMeasureSignature(1, "2", "2048"), 0);
  const MeasureView after = Measure(1);
  EXPECT_NE(after.signatureFlags & AlwaysHideFlag, 0);
  EXPECT_EQ(after.displayFlags, 0x0800);
  EXPECT_EQ(after.displayBeats, 0);
  EXPECT_EQ(after.displayBeatDuration, 0);
  // Hidden without a display signature is what these settings give: unchanged.
  const int saves = host.counters().saves;
  EXPECT_EQ(WriteMeasureSignature(1, "2", "2048"), 0);
  EXPECT_EQ(host.counters().saves, saves);
}

TEST_F(WritingTest, CompositeWrittenOnceIsAlreadyThereTheSecondTime) {
  host.SetMeasure(1, 7, 512);
  EXPECT_NE(WriteMeasureSignature(1, "1+1++3", "1024+512"), 0);
  const std::size_t records = host.RecordCount();
  const int saves = host.counters().saves;
  const int creates = host.counters().creates;
  EXPECT_EQ(WriteMeasureSignature(1, "1+1++3", "1024+512"), 0);
  EXPECT_EQ(host.RecordCount(), records);
  EXPECT_EQ(host.counters().saves, saves);
  EXPECT_EQ(host.counters().creates, creates);
  // A different grouping is a change.
  EXPECT_NE(WriteMeasureSignature(1, "1+1+3", "1024+512"), 0);
}

TEST_F(WritingTest, MeasureComparesTextsSoAOneElementChainReadsAsItsNumber) {
  // A chain of one element formats as "3" (or "512"), which is the derived text.
  MeasureView view;
  view.beats = host.AddTopChain({{3, G}});
  view.beatDuration = 512;
  view.signatureFlags = CompositeTopFlag;
  host.SetMeasure(1, view);
  view.beats = 3;
  view.beatDuration = host.AddBottomChain({{512, G}});
  view.signatureFlags = CompositeBottomFlag;
  host.SetMeasure(2, view);
  const int saves = host.counters().saves;
  const int creates = host.counters().creates;
  EXPECT_EQ(WriteMeasureSignature(1, "3", "512"), 0);
  EXPECT_EQ(WriteMeasureSignature(2, "3", "512"), 0);
  EXPECT_EQ(host.counters().saves, saves);
  EXPECT_EQ(host.counters().creates, creates);
  EXPECT_NE(WriteMeasureSignature(1, "4", "512"), 0);
  EXPECT_EQ(Measure(1).signatureFlags & CompositeTopFlag, 0);

  // A staff's own signature keeps its rule: plain only when no composite bit is set.
  host.SetStaffTimeSig(3, 1, host.AddTopChain({{3, G}}), 512, CompositeTopFlag);
  EXPECT_NE(WriteStaffSignature(1, "3", "512", 3), 0);
  simhost::StaffTimeSigView staff;
  ASSERT_TRUE(host.ReadStaffTimeSig(3, 1, staff));
  EXPECT_EQ(staff.beats, 3);
  EXPECT_EQ(staff.signatureFlags & CompositeTopFlag, 0);
}

TEST_F(WritingTest, ReplacedChainsStayInTheScore) {
  host.SetMeasure(1, 8, 512);
  EXPECT_NE(WriteMeasureSignature(1, "3+3+2", "512"), 0);
  const std::int16_t chain = Measure(1).beats;
  EXPECT_NE(WriteMeasureSignature(1, "4", "1024"), 0);
  EXPECT_EQ(Measure(1).beats, 4);
  EXPECT_EQ(host.ChainRecordCount(CompositeTopRecordTag, chain), 2);
}

TEST_F(WritingTest, BottomGroupOfSeveralSlotsIsNotTheSameAsSeveralGroups) {
  // 1024 and 512 in one group (a beat of 1536) formats with a single plus.
  MeasureView view;
  view.beats = host.AddTopChain({{1, G}, {1, G}});
  view.beatDuration = host.AddBottomChain({{1024, G}, {512, 0}});
  view.signatureFlags = CompositeTopFlag | CompositeBottomFlag;
  host.SetMeasure(1, view);
  EXPECT_NE(WriteMeasureSignature(1, "1++1", "1024+512"), 0);
}

TEST_F(WritingTest, LongPresentChainIsCutCleanlyAndNeverEqual) {
  std::vector<TopSlot> slots(60, TopSlot{10, 0});
  slots[0].slotFlags = G;
  const std::int16_t chain = host.AddTopChain(slots);
  char buffer[FormatBufferSize + 8];
  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(FormatTopChain(buffer, chain, 1), 0);
  const std::string text = buffer;
  EXPECT_LE(text.size(), FormatBufferSize - 1);
  EXPECT_EQ(buffer[FormatBufferSize], 'X');
  EXPECT_EQ(text.substr(text.size() - 3), "+10");
  EXPECT_EQ(text.size() % 3, 2u);  // "10" and whole "+10" pieces

  // The measure's own text is a prefix of the chain: it must still be rewritten,
  // and its display keeps the whole former chain.
  globalSettings.displayCurrentTimeSig = 1;
  MeasureView view;
  view.beats = chain;
  view.beatDuration = 128;
  view.signatureFlags = CompositeTopFlag;
  host.SetMeasure(1, view);
  EXPECT_NE(WriteMeasureSignature(1, text.c_str(), "128"), 0);
  const MeasureView after = Measure(1);
  EXPECT_NE(after.beats, chain);
  EXPECT_EQ(after.displayBeats, chain);
  EXPECT_NE(after.displayFlags & DisplayCompositeTopFlag, 0);
  EXPECT_EQ(after.displayBeatDuration, 128);
}

TEST_F(WritingTest, FailedSaveChangesNothingButLeavesItsChains) {
  MeasureView view;
  view.beats = 4;
  view.beatDuration = 1024;
  view.displayBeats = 3;
  view.displayBeatDuration = 1024;
  view.displayFlags = DisplayInUseFlag;
  host.SetMeasure(1, view);
  host.FailSaves(MeasureRecordTag);
  const std::size_t chains = host.RecordCount(CompositeTopRecordTag);
  EXPECT_EQ(WriteMeasureSignature(1, "3+3+2", "512"), 0);
  const MeasureView after = Measure(1);
  EXPECT_EQ(after.beats, 4);
  EXPECT_EQ(after.displayFlags, DisplayInUseFlag);
  EXPECT_EQ(host.RecordCount(CompositeTopRecordTag), chains + 2);
}

TEST_F(WritingTest, RecordLongerThanItsLayoutIsSavedFromNoMoreThanTheBuffer) {
  // The host reports 30 bytes; display saves pass the loaded size, capped.
  std::vector<std::uint8_t> bytes(30, 0);
  WriteI16(bytes.data() + MeasureRecordLayout::Beats, 4);
  WriteI16(bytes.data() + MeasureRecordLayout::BeatDuration, 1024);
  host.PutRecord(MeasureRecordTag, Key(1, 0), bytes);
  globalSettings.displayCurrentTimeSig = 1;
  EXPECT_NE(WriteMeasureSignature(1, "2", "2048"), 0);
  const MeasureView view = Measure(1);
  EXPECT_EQ(view.beats, 2);
  EXPECT_EQ(view.displayBeats, 4);
}

TEST_F(WritingTest, MissingMeasureIsNotWritten) {
  EXPECT_EQ(WriteMeasureSignature(5, "3+3+2", "512"), 0);
  EXPECT_EQ(host.RecordCount(), 0u);
  EXPECT_EQ(SetDisplaySignature(5, "4", "1024", 0), 0);
  ClearDisplaySignature(5);
  EXPECT_EQ(host.RecordCount(), 0u);
}

TEST_F(WritingTest, StaffSignature) {
  host.SetStaffTimeSig(3, 1, 3, 1024);
  const int saves = host.counters().saves;
  EXPECT_EQ(WriteStaffSignature(1, "3", "1024", 3), 0);
  EXPECT_EQ(host.counters().saves, saves);

  // Hide and display settings do not apply to staves.
  globalSettings.hideTimeSig = 1;
  globalSettings.displayCurrentTimeSig = 1;
  EXPECT_NE(WriteStaffSignature(1, "3+3+2", "512", 3), 0);
  simhost::StaffTimeSigView view;
  ASSERT_TRUE(host.ReadStaffTimeSig(3, 1, view));
  EXPECT_EQ(view.signatureFlags & (CompositeTopFlag | CompositeBottomFlag), CompositeTopFlag);
  EXPECT_EQ(view.beatDuration, 512);
  EXPECT_EQ(Top(view.beats, true), "3+3+2");

  // Holding the same composite already: no save and no new chain.
  const std::size_t records = host.RecordCount();
  EXPECT_EQ(WriteStaffSignature(1, "3+3+2", "512", 3), 0);
  EXPECT_EQ(WriteStaffSignature(1, "3+3+2", "512", 3), 0);
  EXPECT_EQ(host.RecordCount(), records);

  EXPECT_NE(WriteStaffSignature(1, "1+1++3", "1024+512", 3), 0);
  ASSERT_TRUE(host.ReadStaffTimeSig(3, 1, view));
  EXPECT_EQ(view.signatureFlags & (CompositeTopFlag | CompositeBottomFlag),
            CompositeTopFlag | CompositeBottomFlag);
  const std::size_t after = host.RecordCount();
  EXPECT_EQ(WriteStaffSignature(1, "1+1++3", "1024+512", 3), 0);
  EXPECT_EQ(host.RecordCount(), after);

  EXPECT_NE(WriteStaffSignature(1, "4", "1024", 3), 0);
  ASSERT_TRUE(host.ReadStaffTimeSig(3, 1, view));
  EXPECT_EQ(view.beats, 4);
  EXPECT_EQ(view.beatDuration, 1024);
  EXPECT_EQ(view.signatureFlags & (CompositeTopFlag | CompositeBottomFlag), 0);
}

TEST_F(WritingTest, StaffWithoutItsOwnRecordIsNeverGivenOne) {
  EXPECT_EQ(WriteStaffSignature(1, "3+3+2", "512", 4), 0);
  EXPECT_EQ(host.RecordCount(), 0u);
}

}  // namespace
