#include "simhost/simhost.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "host/records.h"
#include "host/host.h"

namespace {

constexpr std::int32_t V = HostInterfaceVersion;

class SimHostTest : public ::testing::Test {
 protected:
  void SetUp() override { simhost::SetCurrentHost(&host); }
  void TearDown() override { simhost::SetCurrentHost(nullptr); }
  simhost::Host host;
};

std::vector<std::uint8_t> Key(std::int16_t number, std::int16_t sequence) {
  const RecordKeyBytes k = MakeRecordKey(number, sequence);
  return {k.bytes, k.bytes + 4};
}

TEST_F(SimHostTest, LoadCopiesAtMostTheGivenSizeAndReportsTheStoredSize) {
  host.PutRecord(MeasureRecordTag, Key(3, 0), {1, 2, 3, 4, 5, 6});
  RecordKeyBytes key = MakeRecordKey(3, 0);
  std::uint8_t buffer[8];
  std::memset(buffer, 0xEE, sizeof buffer);
  std::int32_t size = 4;
  EXPECT_TRUE(HostSucceeded(HostLoadRecord(MeasureRecordTag, key.bytes, buffer, &size, V)));
  EXPECT_EQ(size, 6);
  EXPECT_EQ(buffer[3], 4);
  EXPECT_EQ(buffer[4], 0xEE);  // beyond the size passed in: untouched

  size = 8;
  EXPECT_TRUE(HostSucceeded(HostLoadRecord(MeasureRecordTag, key.bytes, buffer, &size, V)));
  EXPECT_EQ(size, 6);
  EXPECT_EQ(buffer[5], 6);
  EXPECT_EQ(buffer[6], 0xEE);
}

TEST_F(SimHostTest, EmptyRecordLoadsWithSizeZeroAndLeavesTheBuffer) {
  host.PutRecord(StaffListRecordTag, Key(0, 3), {});
  RecordKeyBytes key = MakeRecordKey(0, 3);
  std::uint8_t buffer[StaffListRecordLayout::Size];
  std::memset(buffer, 0xEE, sizeof buffer);
  std::int32_t size = sizeof buffer;
  EXPECT_TRUE(HostSucceeded(HostLoadRecord(StaffListRecordTag, key.bytes, buffer, &size, V)));
  EXPECT_EQ(size, 0);
  EXPECT_EQ(buffer[0], 0xEE);
  EXPECT_EQ(buffer[sizeof buffer - 1], 0xEE);
}

TEST_F(SimHostTest, NullBufferTestsExistence) {
  host.PutRecord(CompositeTopRecordTag, Key(1, 0), std::vector<std::uint8_t>(12, 0));
  RecordKeyBytes present = MakeRecordKey(1, 0);
  RecordKeyBytes absent = MakeRecordKey(1, 1);
  std::int32_t size = 0;
  EXPECT_TRUE(
      HostSucceeded(HostLoadRecord(CompositeTopRecordTag, present.bytes, nullptr, &size, V)));
  EXPECT_EQ(size, 12);
  EXPECT_FALSE(
      HostSucceeded(HostLoadRecord(CompositeTopRecordTag, absent.bytes, nullptr, &size, V)));
  EXPECT_TRUE(
      HostSucceeded(HostLoadRecord(CompositeTopRecordTag, present.bytes, nullptr, nullptr, V)));
  std::uint8_t buffer[12];
  EXPECT_FALSE(
      HostSucceeded(HostLoadRecord(CompositeTopRecordTag, present.bytes, buffer, nullptr, V)));
  EXPECT_FALSE(HostSucceeded(HostLoadRecord(CompositeTopRecordTag, nullptr, buffer, &size, V)));
}

TEST_F(SimHostTest, SaveStoresExactlyTheBufferAndOnlyOverExistingRecords) {
  host.SetMeasure(2, 4, 1024);
  RecordKeyBytes key = MakeRecordKey(2, 0);
  std::uint8_t buffer[MeasureRecordLayout::Size];
  std::int32_t size = sizeof buffer;
  ASSERT_TRUE(HostSucceeded(HostLoadRecord(MeasureRecordTag, key.bytes, buffer, &size, V)));
  EXPECT_EQ(buffer[0], simhost::UnlistedByteFill);
  EXPECT_EQ(buffer[23], simhost::UnlistedByteFill);
  buffer[20] = 0x42;
  WriteI16(buffer + MeasureRecordLayout::Beats, 6);
  EXPECT_TRUE(HostSucceeded(HostSaveRecord(MeasureRecordTag, key.bytes, buffer, size, V)));
  std::vector<std::uint8_t> stored;
  ASSERT_TRUE(host.GetRecord(MeasureRecordTag, Key(2, 0), stored));
  EXPECT_EQ(stored, std::vector<std::uint8_t>(buffer, buffer + sizeof buffer));

  // A shorter save leaves a shorter record.
  EXPECT_TRUE(HostSucceeded(HostSaveRecord(MeasureRecordTag, key.bytes, buffer, 10, V)));
  ASSERT_TRUE(host.GetRecord(MeasureRecordTag, Key(2, 0), stored));
  EXPECT_EQ(stored.size(), 10u);

  RecordKeyBytes missing = MakeRecordKey(9, 0);
  EXPECT_FALSE(HostSucceeded(HostSaveRecord(MeasureRecordTag, missing.bytes, buffer, 24, V)));
  EXPECT_FALSE(HostSucceeded(HostSaveRecord(MeasureRecordTag, key.bytes, buffer, -1, V)));
  EXPECT_EQ(host.RecordCount(MeasureRecordTag), 1u);
  EXPECT_EQ(host.counters().saves, 4);
  EXPECT_EQ(host.counters().failedSaves, 2);
}

TEST_F(SimHostTest, ResultsCarryGarbageInTheHighBits) {
  host.SetResultGarbage(true);
  host.SetMeasure(1, 3, 1024);
  RecordKeyBytes key = MakeRecordKey(1, 0);
  RecordKeyBytes missing = MakeRecordKey(7, 0);
  std::uint8_t buffer[24];
  std::int32_t size = 24;
  const std::int32_t ok = HostLoadRecord(MeasureRecordTag, key.bytes, buffer, &size, V);
  const std::int32_t bad = HostLoadRecord(MeasureRecordTag, missing.bytes, buffer, &size, V);
  EXPECT_NE(ok & 0xFFFF, 0);
  EXPECT_NE(ok & ~0xFFFF, 0);
  EXPECT_EQ(bad & 0xFFFF, 0);
  EXPECT_NE(bad, 0);  // a caller testing the whole value would take this for success
  const std::int32_t saved = HostSaveRecord(MeasureRecordTag, key.bytes, buffer, 24, V);
  EXPECT_TRUE(HostSucceeded(saved));
  EXPECT_NE(saved & ~0xFFFF, 0);
}

TEST_F(SimHostTest, CreateAssignsChainNumbersAndAppendsSequences) {
  const std::vector<std::uint8_t> bytes(12, 7);
  RecordKeyBytes key = MakeRecordKey(-1, -1);  // 0xFFFF, 0xFFFF
  ASSERT_TRUE(HostSucceeded(HostCreateRecord(CompositeTopRecordTag, key.bytes,
                                             const_cast<std::uint8_t*>(bytes.data()), 12, V)));
  EXPECT_EQ(ReadI16(key.bytes), 1);
  EXPECT_EQ(ReadI16(key.bytes + 2), 0);
  // Same chain, next sequence.
  WriteU16(key.bytes + 2, AppendSequence);
  ASSERT_TRUE(HostSucceeded(HostCreateRecord(CompositeTopRecordTag, key.bytes,
                                             const_cast<std::uint8_t*>(bytes.data()), 12, V)));
  EXPECT_EQ(ReadI16(key.bytes), 1);
  EXPECT_EQ(ReadI16(key.bytes + 2), 1);
  // A new chain after existing numbers; numbering is per tag.
  host.PutRecord(CompositeTopRecordTag, Key(5, 0), bytes);
  RecordKeyBytes next = MakeRecordKey(-1, -1);
  ASSERT_TRUE(HostSucceeded(HostCreateRecord(CompositeTopRecordTag, next.bytes,
                                             const_cast<std::uint8_t*>(bytes.data()), 12, V)));
  EXPECT_EQ(ReadI16(next.bytes), 6);
  RecordKeyBytes bottom = MakeRecordKey(-1, -1);
  ASSERT_TRUE(HostSucceeded(HostCreateRecord(CompositeBottomRecordTag, bottom.bytes,
                                             const_cast<std::uint8_t*>(bytes.data()), 12, V)));
  EXPECT_EQ(ReadI16(bottom.bytes), 1);
  EXPECT_EQ(host.ChainRecordCount(CompositeTopRecordTag, 1), 2);
  // Creating over an existing record fails and leaves the key alone.
  RecordKeyBytes taken = MakeRecordKey(1, 0);
  EXPECT_FALSE(HostSucceeded(HostCreateRecord(CompositeTopRecordTag, taken.bytes,
                                              const_cast<std::uint8_t*>(bytes.data()), 12, V)));
  EXPECT_EQ(host.counters().creates, 5);
}

TEST_F(SimHostTest, StaffMeasureKeysUseSixBytes) {
  host.SetStaffTimeSig(3, 10, 3, 1024);
  host.SetStaffTimeSig(3, 11, 2, 2048);
  StaffMeasureKeyBytes key = MakeStaffMeasureKey(3, 11, 0);
  std::uint8_t buffer[StaffTimeSigRecordLayout::Size];
  std::int32_t size = sizeof buffer;
  ASSERT_TRUE(HostSucceeded(HostLoadRecord(StaffTimeSigRecordTag, key.bytes, buffer, &size, V)));
  EXPECT_EQ(ReadI16(buffer + StaffTimeSigRecordLayout::Beats), 2);
  EXPECT_EQ(ReadI16(buffer + StaffTimeSigRecordLayout::BeatDuration), 2048);
  StaffMeasureKeyBytes other = MakeStaffMeasureKey(3, 12, 0);
  EXPECT_FALSE(
      HostSucceeded(HostLoadRecord(StaffTimeSigRecordTag, other.bytes, nullptr, &size, V)));
}

TEST_F(SimHostTest, ChainsReadBackAndFormat) {
  using simhost::BottomSlot;
  using simhost::TopSlot;
  const std::int16_t top = host.AddTopChain({TopSlot{3, 1}, TopSlot{2, 0}, TopSlot{3, 1}});
  const std::int16_t bottom = host.AddBottomChain(
      {BottomSlot{512, 1}, BottomSlot{0, 1}, BottomSlot{1024, 1}, BottomSlot{256, 0}});
  EXPECT_EQ(host.ChainRecordCount(CompositeTopRecordTag, top), 2);
  EXPECT_EQ(host.ChainRecordCount(CompositeBottomRecordTag, bottom), 2);
  const auto slots = host.ReadTopChain(top);
  ASSERT_EQ(slots.size(), 4u);  // the last record's second slot is empty
  EXPECT_EQ(slots[3].beatCount, 0);
  EXPECT_EQ(host.FormatTop(top, true), "3+2++3");
  EXPECT_EQ(host.FormatBottom(bottom, true), "512++1024+256");
  EXPECT_EQ(host.FormatTop(6, false), "6");
  EXPECT_EQ(host.FormatTop(99, true), "");  // no records: no slots
  host.SetMeasure(4, top, bottom, CompositeTopFlag | CompositeBottomFlag);
  EXPECT_EQ(host.FormatMeasure(4), "3+2++3/512++1024+256");
}

TEST_F(SimHostTest, LayersLiveBelow4GiBWithEntriesAtTheirOffsets) {
  host.AddStaff(7);
  host.SetLayer(
      7, 2, 1, 3072,
      {{0, 512, true, false, 0}, {512, 512, false, false, 0}, {1024, 256, false, true, 0x10}});
  const std::int32_t frame = HostCellFrame(7, 0, V);
  EXPECT_NE(frame, 7);
  EXPECT_EQ(HostLoadLayer(0, 7, 2, 1, 0, V), nullptr);  // the staff is not the frame
  void* layer = HostLoadLayer(0, frame, 2, 1, 0, V);
  ASSERT_NE(layer, nullptr);
  const auto* object = static_cast<const std::uint8_t*>(layer);
  EXPECT_LT(reinterpret_cast<std::uintptr_t>(layer), std::uintptr_t{1} << 32);
  EXPECT_EQ(ReadI16(object + LayerEntriesLayout::EntryCount), 3);
  const std::uint8_t* entries = LayerEntryArray(object);
  ASSERT_NE(entries, nullptr);
  EXPECT_LE(reinterpret_cast<std::uintptr_t>(entries) + 3 * LayerEntryLayout::Size,
            std::uintptr_t{1} << 32);
  const std::uint32_t flags[] = {BeamStartFlag, 0, SkipEntryFlag | 0x10};
  const std::int32_t positions[] = {0, 512, 1024};
  const std::int32_t durations[] = {512, 512, 256};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const std::uint8_t* e = entries + i * LayerEntryLayout::Size;
    EXPECT_EQ(ReadU32(e + LayerEntryLayout::EntryFlags), flags[i]);
    EXPECT_EQ(ReadI32(e + LayerEntryLayout::Position), positions[i]);
    EXPECT_EQ(ReadI32(e + LayerEntryLayout::Duration), durations[i]);
  }
  EXPECT_EQ(HostLayerDuration(layer, V), 3072);
  EXPECT_EQ(host.OutstandingLayers(), 1);
  HostFreeLayer(layer, V);
  EXPECT_EQ(host.OutstandingLayers(), 0);
  HostFreeLayer(layer, V);  // twice: noted, not counted
  EXPECT_EQ(host.OutstandingLayers(), 0);
  EXPECT_EQ(host.counters().badCalls, 1);
}

TEST_F(SimHostTest, UnknownLayersAndFaultsGiveNull) {
  host.SetLayer(1, 1, 0, 4096, {{0, 1024, true, false, 0}});
  const std::int32_t frame = HostCellFrame(1, 0, V);
  EXPECT_EQ(HostLoadLayer(0, frame, 1, 1, 0, V), nullptr);  // never set
  EXPECT_EQ(HostLoadLayer(0, frame, 1, 4, 0, V), nullptr);  // no such layer index
  host.FailLayerLoads(1, 1, 0);
  EXPECT_EQ(HostLoadLayer(0, frame, 1, 0, 0, V), nullptr);
  host.ClearFaults();
  host.FailLowMemory(true);
  EXPECT_EQ(HostLoadLayer(0, frame, 1, 0, 0, V), nullptr);
  host.FailLowMemory(false);
  // Many loads reuse freed blocks.
  for (int i = 0; i < 1000; ++i) {
    void* layer = HostLoadLayer(0, frame, 1, 0, 0, V);
    ASSERT_NE(layer, nullptr);
    HostFreeLayer(layer, V);
  }
  EXPECT_EQ(host.OutstandingLayers(), 0);
  EXPECT_EQ(host.counters().layerLoads, 1000);
  // An empty layer still loads, with no entries.
  host.SetLayer(1, 2, 3, 0, {});
  void* empty = HostLoadLayer(0, frame, 2, 3, 0, V);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(ReadI16(static_cast<std::uint8_t*>(empty) + LayerEntriesLayout::EntryCount), 0);
  HostFreeLayer(empty, V);
  EXPECT_EQ(host.counters().badCalls, 0);
}

TEST_F(SimHostTest, LoadAndSaveFaultsByTagAndKey) {
  host.SetMeasure(1, 4, 1024);
  host.SetMeasure(2, 4, 1024);
  host.FailLoads(MeasureRecordTag, Key(2, 0));
  host.FailSaves(MeasureRecordTag);
  RecordKeyBytes one = MakeRecordKey(1, 0);
  RecordKeyBytes two = MakeRecordKey(2, 0);
  std::uint8_t buffer[24];
  std::int32_t size = 24;
  EXPECT_TRUE(HostSucceeded(HostLoadRecord(MeasureRecordTag, one.bytes, buffer, &size, V)));
  EXPECT_FALSE(HostSucceeded(HostLoadRecord(MeasureRecordTag, two.bytes, buffer, &size, V)));
  EXPECT_FALSE(HostSucceeded(HostSaveRecord(MeasureRecordTag, one.bytes, buffer, 24, V)));
  host.FailCreates(CompositeTopRecordTag);
  RecordKeyBytes chain = MakeRecordKey(-1, -1);
  EXPECT_FALSE(HostSucceeded(HostCreateRecord(CompositeTopRecordTag, chain.bytes, buffer, 12, V)));
  EXPECT_EQ(ReadU16(chain.bytes), NewChainNumber);  // nothing written back
  host.ClearFaults();
  EXPECT_TRUE(HostSucceeded(HostLoadRecord(MeasureRecordTag, two.bytes, buffer, &size, V)));
}

TEST_F(SimHostTest, StaffListAndStaffAtSlot) {
  host.AddStaff(4);
  host.AddStaff(9, HiddenStaffFlag);
  host.SetStaffList(3, {9});
  EXPECT_EQ(host.StaffList(), (std::vector<std::int16_t>{4, 9}));
  EXPECT_EQ(HostStaffAtSlot(0, 0, V), 4);
  EXPECT_EQ(HostStaffAtSlot(1, 0, V), 9);
  EXPECT_EQ(HostStaffAtSlot(2, 0, V), 0);
  EXPECT_EQ(HostStaffAtSlot(0, 3, V), 9);
  EXPECT_EQ(HostStaffAtSlot(1, 3, V), 0);
  EXPECT_EQ(HostStaffAtSlot(0, 8, V), 0);
  RecordKeyBytes slot1 = MakeRecordKey(0, 1);
  std::uint8_t entry[StaffListRecordLayout::Size];
  std::int32_t size = sizeof entry;
  ASSERT_TRUE(HostSucceeded(HostLoadRecord(StaffListRecordTag, slot1.bytes, entry, &size, V)));
  EXPECT_EQ(ReadI16(entry), 9);
  RecordKeyBytes staff = MakeRecordKey(9, 0);
  std::uint8_t record[StaffRecordLayout::Size];
  size = sizeof record;
  ASSERT_TRUE(HostSucceeded(HostLoadRecord(StaffRecordTag, staff.bytes, record, &size, V)));
  EXPECT_EQ(size, 66);
  EXPECT_EQ(ReadU16(record + StaffRecordLayout::StaffFlags), HiddenStaffFlag);
}

TEST_F(SimHostTest, LargeLayersAndManyOutstandingStayBelow4GiB) {
  std::vector<simhost::Entry> entries(5000, simhost::Entry{0, 128, true, false, 0});
  entries.back().position = 4999 * 128;
  host.SetLayer(2, 1, 0, 5000 * 128, entries);
  host.SetLayer(2, 1, 1, 512, {{0, 512, true, false, 0}});
  const std::int32_t frame = HostCellFrame(2, 0, V);
  std::vector<void*> held;
  for (int i = 0; i < 20; ++i) {
    void* layer = HostLoadLayer(0, frame, 1, i % 2, 0, V);
    ASSERT_NE(layer, nullptr);
    const auto* object = static_cast<const std::uint8_t*>(layer);
    const std::int16_t count = ReadI16(object + LayerEntriesLayout::EntryCount);
    EXPECT_EQ(count, i % 2 == 0 ? 5000 : 1);
    const std::uint8_t* last = LayerEntryArray(object) + (count - 1) * LayerEntryLayout::Size;
    EXPECT_LE(reinterpret_cast<std::uintptr_t>(last) + LayerEntryLayout::Size,
              std::uintptr_t{1} << 32);
    EXPECT_EQ(ReadI32(last + LayerEntryLayout::Position), i % 2 == 0 ? 4999 * 128 : 0);
    held.push_back(layer);
  }
  EXPECT_EQ(host.OutstandingLayers(), 20);
  for (void* layer : held) HostFreeLayer(layer, V);
  EXPECT_EQ(host.OutstandingLayers(), 0);
}

TEST_F(SimHostTest, ReadBackHelpers) {
  host.AddStaff(5, IndependentSignaturesFlag);
  host.SetMeasure(12, 3, 1024);
  host.SetMeasure(-2, 3, 1024);
  host.SetMeasure(7, 3, 1024);
  EXPECT_EQ(host.MeasureNumbers(), (std::vector<std::int16_t>{-2, 7, 12}));
  std::uint16_t flags = 0;
  ASSERT_TRUE(host.ReadStaffFlags(5, flags));
  EXPECT_EQ(flags, IndependentSignaturesFlag);
  EXPECT_FALSE(host.ReadStaffFlags(6, flags));
  host.SetLayer(5, 7, 2, 1024, {{0, 1024, true, false, 0x40}});
  std::int32_t duration = 0;
  std::vector<simhost::Entry> entries;
  ASSERT_TRUE(host.ReadLayer(5, 7, 2, duration, entries));
  EXPECT_EQ(duration, 1024);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].otherFlags, 0x40u);
  EXPECT_FALSE(host.ReadLayer(5, 7, 3, duration, entries));

  RecordKeyBytes key = MakeRecordKey(7, 0);
  std::uint8_t buffer[24];
  std::int32_t size = 24;
  HostLoadRecord(MeasureRecordTag, key.bytes, buffer, &size, V);
  HostSaveRecord(MeasureRecordTag, key.bytes, buffer, size, V);
  EXPECT_EQ(host.SaveCount(MeasureRecordTag), 1);
  EXPECT_EQ(host.SaveCount(StaffTimeSigRecordTag), 0);
}

TEST(SimHostSelection, RegionFieldsAtTheirOffsets) {
  const auto region = simhost::MakeSelectionRegion(1, 2, 3, 256, 4, 5);
  EXPECT_EQ(ReadI16(region.data() + SelectionRegionLayout::StaffList), 1);
  EXPECT_EQ(ReadI16(region.data() + SelectionRegionLayout::FirstSlot), 2);
  EXPECT_EQ(ReadI16(region.data() + SelectionRegionLayout::FirstMeasure), 3);
  EXPECT_EQ(ReadI32(region.data() + SelectionRegionLayout::StartPosition), 256);
  EXPECT_EQ(ReadI16(region.data() + SelectionRegionLayout::LastSlot), 4);
  EXPECT_EQ(ReadI16(region.data() + SelectionRegionLayout::LastMeasure), 5);
  EXPECT_EQ(ReadI32(region.data() + SelectionRegionLayout::EndPosition), EndOfMeasure);
}

TEST_F(SimHostTest, UpdateLayoutAndArgumentChecks) {
  HostUpdateLayout(1, 0, V);
  EXPECT_EQ(host.counters().updateLayouts, 1);
  EXPECT_EQ(host.counters().badCalls, 0);
  HostUpdateLayout(1, 0, V + 1);
  EXPECT_EQ(host.counters().badCalls, 1);
}

TEST(SimHostNoCurrent, FunctionsFailSafely) {
  simhost::SetCurrentHost(nullptr);
  RecordKeyBytes key = MakeRecordKey(1, 0);
  std::uint8_t buffer[24];
  std::int32_t size = 24;
  EXPECT_EQ(HostLoadRecord(MeasureRecordTag, key.bytes, buffer, &size, V), 0);
  EXPECT_EQ(HostSaveRecord(MeasureRecordTag, key.bytes, buffer, 24, V), 0);
  EXPECT_EQ(HostCreateRecord(MeasureRecordTag, key.bytes, buffer, 24, V), 0);
  EXPECT_EQ(HostLoadLayer(0, 1, 1, 0, 0, V), nullptr);
  EXPECT_EQ(HostLayerDuration(buffer, V), 0);
  EXPECT_EQ(HostStaffAtSlot(0, 0, V), 0);
  EXPECT_EQ(HostCellFrame(1, 0, V), 0);
  HostFreeLayer(buffer, V);
  HostUpdateLayout(1, 0, V);
}

TEST(SimHostLifetime, DestroyedHostIsNoLongerCurrent) {
  {
    simhost::Host host;
    simhost::SetCurrentHost(&host);
  }
  EXPECT_EQ(simhost::CurrentHost(), nullptr);
}

}  // namespace
