#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "analysis/beatlist.h"
#include "analysis/driver.h"
#include "host/records.h"
#include "platform/standin/standin.h"
#include "settings/settings.h"
#include "simhost/simhost.h"

namespace {

using simhost::Entry;
using simhost::MeasureView;
using Region = std::array<std::uint8_t, SelectionRegionLayout::Size>;

constexpr std::int16_t G = GroupStartFlag;
HWND const Owner = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234));

Region Select(std::int16_t firstMeasure, std::int32_t startPosition, std::int16_t lastMeasure,
              std::int32_t endPosition, std::int16_t firstSlot = 0, std::int16_t lastSlot = 99) {
  Region r{};
  WriteI16(r.data() + SelectionRegionLayout::StaffList, 0);
  WriteI16(r.data() + SelectionRegionLayout::FirstSlot, firstSlot);
  WriteI16(r.data() + SelectionRegionLayout::FirstMeasure, firstMeasure);
  WriteI32(r.data() + SelectionRegionLayout::StartPosition, startPosition);
  WriteI16(r.data() + SelectionRegionLayout::LastSlot, lastSlot);
  WriteI16(r.data() + SelectionRegionLayout::LastMeasure, lastMeasure);
  WriteI32(r.data() + SelectionRegionLayout::EndPosition, endPosition);
  return r;
}
Region Measures(std::int16_t first, std::int16_t last) {
  return Select(first, 0, last, EndOfMeasure);
}

// Beamed groups of (group length, note value): the notes of each group follow
// its start; the layer lasts as long as all groups together.
std::vector<Entry> Beamed(const std::vector<std::pair<std::int32_t, std::int32_t>>& groups) {
  std::vector<Entry> entries;
  std::int32_t position = 0;
  for (const auto& [length, value] : groups) {
    for (std::int32_t p = 0; p < length; p += value) {
      entries.push_back({position + p, value, p == 0});
    }
    position += length;
  }
  return entries;
}
std::int32_t Length(const std::vector<Entry>& entries) {
  return entries.empty() ? 0 : entries.back().position + entries.back().duration;
}

// Eighths beamed 3+3+2 in 4096: 8/512 plain, 3+3+2/512 compact composite.
const std::vector<Entry> ThreeThreeTwo = Beamed({{1536, 512}, {1536, 512}, {1024, 512}});
// Quarters beamed in pairs: 4/1024.
const std::vector<Entry> QuarterPairs = Beamed({{2048, 1024}, {2048, 1024}});
// Two quarters, then three eighths in 3584: 1+1++3/1024+512 per group.
// Four unbeamed quarters: 4/1024, also where composites are allowed.
const std::vector<Entry> FourQuarters =
    Beamed({{1024, 1024}, {1024, 1024}, {1024, 1024}, {1024, 1024}});
const std::vector<Entry> TwoFourThreeEight = Beamed({{1024, 1024}, {1024, 1024}, {1536, 512}});

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    simhost::SetCurrentHost(&host);
    standin::ResetMessageBoxes();
    ApplyDefaultSettings(globalSettings);
    globalSettings.onlySelectedStaves = 0;
    globalSettings.onlyChangeAtConflicts = 0;
    globalSettings.minMeasureDuration = 0;
    host.SetResultGarbage(true);
  }
  void TearDown() override {
    EXPECT_EQ(host.OutstandingLayers(), 0);
    EXPECT_EQ(host.counters().badCalls, 0);
    EXPECT_EQ(standin::UnexpectedMessageBoxCount(), 0);
    EXPECT_EQ(standin::PendingMessageBoxAnswers(), 0);
    beatListFailAllocations = false;
    standin::ResetMessageBoxes();
    simhost::SetCurrentHost(nullptr);
  }

  void Layer(std::int16_t staff, std::int16_t measure, const std::vector<Entry>& entries,
             int layer = 0) {
    host.SetLayer(staff, measure, layer, Length(entries), entries);
  }
  std::string Signature(std::int16_t measure) { return host.FormatMeasure(measure); }
  std::string StaffSignature(std::int16_t staff, std::int16_t measure) {
    simhost::StaffTimeSigView view;
    if (!host.ReadStaffTimeSig(staff, measure, view)) return "";
    return host.FormatTop(view.beats, (view.signatureFlags & CompositeTopFlag) != 0) + "/" +
           host.FormatBottom(view.beatDuration, (view.signatureFlags & CompositeBottomFlag) != 0);
  }
  std::int16_t Run(const Region& region) { return ProcessSelection(Owner, region.data()); }

  simhost::Host host;
};

// Measures 1..6 in 2/2 (never derived by default), each beamed 3+3+2.
class SelectionTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    host.AddStaff(1);
    for (std::int16_t m = 1; m <= 6; ++m) {
      host.SetMeasure(m, 2, 2048);
      Layer(1, m, ThreeThreeTwo);
    }
  }
  std::vector<int> Changed() {
    std::vector<int> changed;
    for (std::int16_t m = 1; m <= 6; ++m) {
      if (Signature(m) != "2/2048") changed.push_back(m);
    }
    return changed;
  }
};

TEST_F(SelectionTest, OnlyFullySelectedMeasures) {
  struct Row {
    const char* name;
    Region region;
    std::vector<int> changed;
  };
  const std::vector<Row> rows = {
      {"2 to 4 whole", Measures(2, 4), {2, 3, 4}},
      {"starts inside 2", Select(2, 100, 4, EndOfMeasure), {3, 4}},
      {"ends inside 4", Select(2, 0, 4, 2000), {2, 3}},
      {"ends at position 0 of 4", Select(2, 0, 4, 0), {2, 3}},
      {"both partial", Select(1, 1, 6, 4095), {2, 3, 4, 5}},
      {"measure 5 alone", Measures(5, 5), {5}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (std::int16_t m = 1; m <= 6; ++m) host.SetMeasure(m, 2, 2048);
    EXPECT_EQ(Run(row.region), 1);
    EXPECT_EQ(Changed(), row.changed);
    for (int m : row.changed) EXPECT_EQ(Signature(static_cast<std::int16_t>(m)), "8/512");
    EXPECT_TRUE(standin::MessageBoxCalls().empty());
  }
}

TEST_F(SelectionTest, NoFullMeasureGivesTheInformationMessage) {
  const std::vector<Region> regions = {Select(3, 512, 3, EndOfMeasure), Select(3, 0, 3, 2000),
                                       Select(3, 1, 4, 5), Measures(4, 3)};
  for (const Region& region : regions) {
    standin::ResetMessageBoxes();
    standin::ExpectMessageBox(IDOK);
    const int saves = host.counters().saves;
    EXPECT_EQ(Run(region), 0);
    EXPECT_EQ(host.counters().saves, saves);
    ASSERT_EQ(standin::MessageBoxCalls().size(), 1u);
    const standin::MessageBoxCall& call = standin::MessageBoxCalls()[0];
    EXPECT_EQ(call.owner, Owner);
    EXPECT_EQ(call.text, "No full measures selected. No editing can be done.");
    EXPECT_EQ(call.caption, "KQ Meterfix info");
    EXPECT_EQ(call.style, MB_ICONINFORMATION);
  }
  EXPECT_TRUE(Changed().empty());
}

TEST_F(SelectionTest, FailingMeasuresAreReportedInOrderAndTheRestIsWritten) {
  // 1280 EDUs: no allowed beat divides it once only quarters are allowed.
  for (std::int16_t m : {3, 5}) Layer(1, m, Beamed({{1280, 256}}));
  Layer(1, 2, QuarterPairs);
  Layer(1, 4, QuarterPairs);
  Layer(1, 6, QuarterPairs);
  for (std::int16_t& allow : globalSettings.allowBeat) allow = 0;
  globalSettings.allowBeat[2] = 1;
  standin::ExpectMessageBox(IDOK);
  standin::ExpectMessageBox(IDOK);
  EXPECT_EQ(Run(Measures(2, 6)), 1);
  EXPECT_EQ(Changed(), (std::vector<int>{2, 4, 6}));
  ASSERT_EQ(standin::MessageBoxCalls().size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const standin::MessageBoxCall& call = standin::MessageBoxCalls()[i];
    EXPECT_EQ(call.owner, Owner);
    EXPECT_EQ(call.text, std::string("Couldn't find any valid time signature for measure: ") +
                             (i == 0 ? "3" : "5"));
    EXPECT_EQ(call.caption, "Error");
    EXPECT_EQ(call.style, MB_ICONERROR);
  }
}

TEST_F(SelectionTest, ResultIsZeroWhenNothingChanged) {
  for (std::int16_t m = 1; m <= 6; ++m) host.SetMeasure(m, 8, 512);
  EXPECT_EQ(Run(Measures(1, 6)), 0);
}

TEST_F(SelectionTest, EmptyAndShortMeasuresAreSkippedSilently) {
  Layer(1, 2, {});
  host.SetLayer(1, 3, 0, 0, {});
  host.FailLayerLoads(1, 4, 0);
  Layer(1, 5, QuarterPairs);
  Layer(1, 6, Beamed({{1024, 1024}}));
  globalSettings.minMeasureDuration = 1024;
  EXPECT_EQ(Run(Measures(2, 6)), 1);
  EXPECT_EQ(Changed(), (std::vector<int>{5, 6}));
  EXPECT_EQ(Signature(6), "1/1024");  // exactly minMeasureDuration long
  globalSettings.minMeasureDuration = 1025;
  host.SetMeasure(6, 2, 2048);
  EXPECT_EQ(Run(Measures(6, 6)), 0);
  EXPECT_EQ(Signature(6), "2/2048");
}

TEST_F(SelectionTest, OnlyChangeAtConflicts) {
  globalSettings.onlyChangeAtConflicts = 1;
  host.SetMeasure(1, 4, 1024);
  Layer(1, 1, QuarterPairs);    // agrees with 4/4
  host.SetMeasure(2, 4, 1024);  // 3+3+2 eighths conflict with 4/4
  host.SetMeasure(3, host.AddTopChain({{3, G}, {3, 0}, {2, 0}}), 512, CompositeTopFlag);
  const int saves = host.counters().saves;
  EXPECT_EQ(Run(Measures(1, 3)), 1);
  EXPECT_EQ(Signature(1), "4/1024");
  EXPECT_EQ(Signature(2), "8/512");
  EXPECT_EQ(Signature(3), "3+3+2/512");         // agrees with its composite
  EXPECT_EQ(host.counters().saves, saves + 2);  // the measure, then its display cleared
}

TEST_F(SelectionTest, FailedAllocationSkipsTheMeasure) {
  beatListFailAllocations = true;
  EXPECT_EQ(Run(Measures(1, 6)), 0);
  EXPECT_TRUE(Changed().empty());
  EXPECT_TRUE(standin::MessageBoxCalls().empty());
}

// Staff 1 beamed 3+3+2 alone gives 8/512, staff 2 in quarter pairs alone 4/1024.
class StaffFilterTest : public DriverTest {
 protected:
  void Score(std::uint16_t flags1, std::uint16_t flags2 = 0, std::uint16_t flags3 = 0) {
    host.AddStaff(1, flags1);
    host.AddStaff(2, flags2);
    host.AddStaff(3, flags3);
    host.SetMeasure(1, 2, 2048);
    Layer(1, 1, ThreeThreeTwo);
    Layer(2, 1, QuarterPairs);
    Layer(3, 1, QuarterPairs);
    for (std::int16_t s = 1; s <= 3; ++s) host.SetStaffTimeSig(s, 1, 2, 2048);
  }
};

TEST_F(StaffFilterTest, OnlySelectedStaves) {
  Score(0);
  globalSettings.onlySelectedStaves = 1;
  EXPECT_EQ(Run(Select(1, 0, 1, EndOfMeasure, 1, 2)), 1);
  EXPECT_EQ(Signature(1), "4/1024");
  host.SetMeasure(1, 2, 2048);
  globalSettings.onlySelectedStaves = 0;
  EXPECT_EQ(Run(Select(1, 0, 1, EndOfMeasure, 1, 2)), 1);
  EXPECT_EQ(Signature(1), "8/512");
}

TEST_F(StaffFilterTest, HiddenStaves) {
  Score(HiddenStaffFlag);
  EXPECT_EQ(Run(Measures(1, 1)), 1);
  EXPECT_EQ(Signature(1), "4/1024");

  host.SetMeasure(1, 2, 2048);
  globalSettings.includeHiddenStaves = 1;
  EXPECT_EQ(Run(Measures(1, 1)), 1);
  EXPECT_EQ(Signature(1), "8/512");

  // Never while only selected staves are analysed, even a selected hidden one.
  host.SetMeasure(1, 2, 2048);
  globalSettings.onlySelectedStaves = 1;
  EXPECT_EQ(Run(Measures(1, 1)), 1);
  EXPECT_EQ(Signature(1), "4/1024");
}

TEST_F(StaffFilterTest, StaffFlagsAndSelectionHelpers) {
  Score(HiddenStaffFlag, IndependentSignaturesFlag);
  EXPECT_TRUE(StaffIsHidden(1));
  EXPECT_FALSE(StaffIsHidden(2));
  EXPECT_TRUE(StaffHasFlag(2, IndependentSignaturesFlag));
  EXPECT_FALSE(StaffHasFlag(9, 0xFFFF));  // no StaffRecord: no flags
  const Region region = Select(1, 0, 1, EndOfMeasure, 1, 2);
  EXPECT_FALSE(StaffInSelection(1, region.data()));
  EXPECT_TRUE(StaffInSelection(2, region.data()));
  EXPECT_TRUE(StaffInSelection(3, region.data()));
  EXPECT_FALSE(StaffInSelection(4, region.data()));

  // The region's staff list is the one asked.
  host.SetStaffList(5, {3, 1, 2});
  Region other = Select(1, 0, 1, EndOfMeasure, 0, 1);
  WriteI16(other.data() + SelectionRegionLayout::StaffList, 5);
  EXPECT_TRUE(StaffInSelection(1, other.data()));
  EXPECT_TRUE(StaffInSelection(3, other.data()));
  EXPECT_FALSE(StaffInSelection(2, other.data()));
}

TEST_F(StaffFilterTest, IndependentStavesAreWrittenBeforeAndBesideTheMeasure) {
  Score(IndependentSignaturesFlag);
  globalSettings.changeIndependentStaves = 1;
  EXPECT_EQ(Run(Measures(1, 1)), 1);
  EXPECT_EQ(Signature(1), "8/512");
  EXPECT_EQ(StaffSignature(1, 1), "8/512");
  EXPECT_EQ(StaffSignature(2, 1), "2/2048");  // not independent: follows the measure
}

TEST_F(StaffFilterTest, AllIndependentWritesOnlyTheStaves) {
  Score(IndependentSignaturesFlag, IndependentSignaturesFlag, IndependentSignaturesFlag);
  globalSettings.changeIndependentStaves = 1;
  EXPECT_EQ(Run(Measures(1, 1)), 1);
  EXPECT_EQ(Signature(1), "2/2048");
  for (std::int16_t s = 1; s <= 3; ++s) EXPECT_EQ(StaffSignature(s, 1), "8/512");

  // With the current signature displayed such staves are not written at all.
  for (std::int16_t s = 1; s <= 3; ++s) host.SetStaffTimeSig(s, 1, 2, 2048);
  globalSettings.displayCurrentTimeSig = 1;
  const int saves = host.counters().saves;
  EXPECT_EQ(Run(Measures(1, 1)), 0);
  EXPECT_EQ(host.counters().saves, saves);
  EXPECT_EQ(Signature(1), "2/2048");
}

TEST_F(StaffFilterTest, IndependentStavesAreAnalysedButNotWrittenWhenTheOptionIsOff) {
  Score(IndependentSignaturesFlag);
  EXPECT_EQ(Run(Measures(1, 1)), 1);
  EXPECT_EQ(Signature(1), "8/512");
  EXPECT_EQ(StaffSignature(1, 1), "2/2048");
}

TEST_F(StaffFilterTest, IndependentPassFollowsTheSelectionButNotTheHiddenFilter) {
  Score(IndependentSignaturesFlag | HiddenStaffFlag, IndependentSignaturesFlag, 0);
  globalSettings.changeIndependentStaves = 1;
  // Hidden staff 1 takes no part in the analysis but is written.
  EXPECT_EQ(Run(Measures(1, 1)), 1);
  EXPECT_EQ(Signature(1), "4/1024");
  EXPECT_EQ(StaffSignature(1, 1), "4/1024");
  EXPECT_EQ(StaffSignature(2, 1), "4/1024");

  // Only staff 2 selected: staff 1 is left alone, and no follower means no measure write.
  host.SetMeasure(1, 2, 2048);
  host.SetStaffTimeSig(1, 1, 2, 2048);
  host.SetStaffTimeSig(2, 1, 2, 2048);
  globalSettings.onlySelectedStaves = 1;
  EXPECT_EQ(Run(Select(1, 0, 1, EndOfMeasure, 1, 1)), 1);
  EXPECT_EQ(StaffSignature(1, 1), "2/2048");
  EXPECT_EQ(StaffSignature(2, 1), "4/1024");
  EXPECT_EQ(Signature(1), "2/2048");
}

TEST_F(DriverTest, StavesBeyondMaxStavesTakeNoPart) {
  for (std::int16_t s = 1; s <= MaxStaves + 1; ++s) {
    host.AddStaff(s);
    Layer(s, 1, s <= MaxStaves ? QuarterPairs : ThreeThreeTwo);
  }
  host.SetMeasure(1, 2, 2048);
  EXPECT_EQ(Run(Measures(1, 1)), 1);
  EXPECT_EQ(Signature(1), "4/1024");
  EXPECT_EQ(host.counters().layerLoads, MaxStaves);  // one layer each
}

TEST_F(DriverTest, MeasureWithoutStavesIsSkipped) {
  host.SetMeasure(1, 2, 2048);
  EXPECT_EQ(Run(Measures(1, 1)), 0);
  EXPECT_EQ(host.counters().layerLoads, 0);
}

// A score of several measures: a run changes exactly the measures whose
// beaming does not match, and a second run over its result changes nothing.
class EndToEndTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    host.AddStaff(1);
    host.AddStaff(2, IndependentSignaturesFlag);
    host.AddStaff(3, HiddenStaffFlag);
    const std::vector<std::pair<std::string, std::vector<Entry>>> measures = {
        {"4/1024", FourQuarters},                        // 1: already right
        {"4/1024", ThreeThreeTwo},                       // 2: 3+3+2 in 4/4
        {"2/1536", Beamed({{1536, 512}, {1536, 512}})},  // 3: 6/8 already
        {"4/1024", TwoFourThreeEight},                   // 4: 2/4 + 3/8 in 4/4
        {"3/1024", Beamed({{1536, 512}, {1536, 512}})},  // 5: 6/8 in 3/4
        {"4/1024", Beamed({{1024, 1024}})},              // 6: a one-beat upbeat
    };
    for (std::size_t i = 0; i < measures.size(); ++i) {
      const auto m = static_cast<std::int16_t>(i + 1);
      const std::string& sig = measures[i].first;
      const auto slash = sig.find('/');
      host.SetMeasure(m, static_cast<std::int16_t>(std::stoi(sig.substr(0, slash))),
                      static_cast<std::int16_t>(std::stoi(sig.substr(slash + 1))));
      for (std::int16_t s = 1; s <= 3; ++s) {
        Layer(s, m, measures[i].second);
        host.SetStaffTimeSig(2, m, 4, 1024);
      }
    }
  }

  // Runs twice; the second run must find every measure already right.
  void RunTwice(const std::vector<std::string>& expected) {
    EXPECT_EQ(Run(Measures(1, 6)), 1);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE(i + 1);
      EXPECT_EQ(Signature(static_cast<std::int16_t>(i + 1)), expected[i]);
    }
    const std::size_t records = host.RecordCount();
    const int saves = host.counters().saves;
    const int creates = host.counters().creates;
    EXPECT_EQ(Run(Measures(1, 6)), 0);
    EXPECT_EQ(host.RecordCount(), records);
    EXPECT_EQ(host.counters().saves, saves);
    EXPECT_EQ(host.counters().creates, creates);
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(Signature(static_cast<std::int16_t>(i + 1)), expected[i]);
    }
  }
};

TEST_F(EndToEndTest, PlainSignatures) {
  const int saves = host.counters().saves;
  RunTwice({"4/1024", "8/512", "2/1536", "7/512", "2/1536", "1/1024"});
  EXPECT_EQ(host.counters().creates, 0);
  EXPECT_GE(host.counters().saves, saves + 4);
  // Measures 1 and 3 were never written.
  EXPECT_EQ(StaffSignature(2, 1), "4/1024");
}

TEST_F(EndToEndTest, CompositeSignatures) {
  globalSettings.useComposite = 1;
  globalSettings.compactBeatDuration = 0;
  RunTwice({"4/1024", "3+3+2/512", "2/1536", "1+1++3/1024++512", "2/1536", "1/1024"});
}

TEST_F(EndToEndTest, CompactCompositesWithDisplayedFormerSignatures) {
  globalSettings.useComposite = 1;
  globalSettings.compactBeatDuration = 1;
  globalSettings.displayCurrentTimeSig = 1;
  RunTwice({"4/1024", "3+3+2/512", "2/1536", "2+2+3/512", "2/1536", "1/1024"});
  MeasureView view;
  ASSERT_TRUE(host.ReadMeasure(2, view));
  EXPECT_NE(view.displayFlags & DisplayInUseFlag, 0);
  EXPECT_EQ(view.displayBeats, 4);
  EXPECT_EQ(view.displayBeatDuration, 1024);
}

TEST_F(EndToEndTest, HiddenWithDisplayRequested) {
  globalSettings.useComposite = 1;
  globalSettings.compactBeatDuration = 0;
  globalSettings.hideTimeSig = 1;
  globalSettings.displayCurrentTimeSig = 1;
  RunTwice({"4/1024", "3+3+2/512", "2/1536", "1+1++3/1024++512", "2/1536", "1/1024"});
  MeasureView view;
  ASSERT_TRUE(host.ReadMeasure(4, view));
  EXPECT_NE(view.signatureFlags & AlwaysHideFlag, 0);
  EXPECT_EQ(view.displayFlags & DisplayInUseFlag, 0);
}

TEST_F(EndToEndTest, IndependentStavesWithComposites) {
  globalSettings.useComposite = 1;
  globalSettings.compactBeatDuration = 0;
  globalSettings.changeIndependentStaves = 1;
  RunTwice({"4/1024", "3+3+2/512", "2/1536", "1+1++3/1024++512", "2/1536", "1/1024"});
  EXPECT_EQ(StaffSignature(2, 1), "4/1024");
  EXPECT_EQ(StaffSignature(2, 3), "2/1536");
  EXPECT_EQ(StaffSignature(2, 4), "1+1++3/1024++512");
}

TEST_F(EndToEndTest, OnlyAtConflicts) {
  globalSettings.onlyChangeAtConflicts = 1;
  globalSettings.useComposite = 1;
  globalSettings.compactBeatDuration = 1;
  // 5: 1536 is no beat of 3/4; 6: a 4/4 that the notes do not fill is re-derived.
  RunTwice({"4/1024", "3+3+2/512", "2/1536", "2+2+3/512", "2/1536", "1/1024"});
}

}  // namespace
