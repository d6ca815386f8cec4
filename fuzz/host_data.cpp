// Decodes fuzzer bytes into a simulated host score. Layout, in order:
//   85 bytes    Settings image (any values: the registry is not checked)
//   u8          faults (bit 0 no low memory, 1 result garbage, 2 measure saves
//               fail, 3/4 top/bottom chain creation fails, 5 BeatList storage
//               fails, 6 staff signature saves fail, 7 measure loads fail)
//   count       staves; per staff: i16 number, u16 staffFlags
//   u8 % 4      further staff lists; per list: i16 number, count, i16 staves
//   i16, count  first measure number and measure count; per measure the
//               fields decoded in DecodeMeasure
//   u8 % 16     raw records: u8 tag index, 6 key bytes, u8 size, bytes
//   u8          region mode, then the region fields (DecodeRegion)
// Whatever is missing at the end reads as zero.
#include <algorithm>
#include <array>
#include <vector>

#include "analysis/beatlist.h"
#include "analysis/driver.h"
#include "host/records.h"
#include "fuzz/byte_reader.h"
#include "fuzz/drivers.h"
#include "platform/standin/standin.h"
#include "settings/settings.h"
#include "simhost/simhost.h"

namespace kqfuzz {

namespace {

// Keeps one input's running time bounded: measures x staves x selected
// slots beyond this are cut from the selection (slow, not wrong).
constexpr std::uint64_t MaxWork = std::uint64_t{1} << 21;

constexpr std::array<std::uint32_t, 6> Tags = {MeasureRecordTag,         StaffListRecordTag,
                                               StaffRecordTag,           CompositeTopRecordTag,
                                               CompositeBottomRecordTag, StaffTimeSigRecordTag};

constexpr std::array<std::int32_t, 16> Durations = {128, 256, 512,  1024, 1536, 2048, 384, 768,
                                                    170, 341, 3072, 4096, 0,    -512, 96,  1};

std::vector<simhost::Entry> DecodeEntries(ByteReader& in) {
  std::vector<simhost::Entry> entries(in.Count(1200));
  std::int32_t position = 0;
  for (simhost::Entry& e : entries) {
    const std::uint8_t how = in.U8();
    e.beamStart = (how & 0x01) != 0;
    e.skip = (how & 0x02) != 0;
    if ((how & 0x04) != 0) e.otherFlags = in.U32();
    // Mostly advancing positions and note values; raw ones now and then.
    if ((how & 0x08) != 0) {
      position = in.I32();
    } else {
      position = static_cast<std::int32_t>(static_cast<std::uint32_t>(position) +
                                           std::uint32_t{in.U8()} * 32u);
    }
    e.position = position;
    e.duration = (how & 0x10) != 0 ? in.I32() : Durations[in.U8() & 0x0F];
  }
  return entries;
}

void DecodeLayers(ByteReader& in, simhost::Host& host, const std::vector<std::int16_t>& staves,
                  std::int16_t measure) {
  for (std::int16_t staff : staves) {
    const std::uint8_t mask = in.U8();
    for (int layer = 0; layer < 4; ++layer) {
      if ((mask & (1 << layer)) == 0) continue;
      const std::uint8_t durationMode = in.U8();
      const std::int32_t duration =
          (durationMode & 1) != 0 ? in.I32() : std::int32_t{durationMode >> 1} * 256;
      host.SetLayer(staff, measure, layer, duration, DecodeEntries(in));
    }
  }
}

std::int16_t DecodeTopChain(ByteReader& in, simhost::Host& host) {
  std::vector<simhost::TopSlot> slots(in.Count(1000));
  for (simhost::TopSlot& s : slots) {
    s.beatCount = static_cast<std::int16_t>(in.I8());
    s.slotFlags = in.U8();
  }
  return host.AddTopChain(slots);
}

std::int16_t DecodeBottomChain(ByteReader& in, simhost::Host& host) {
  std::vector<simhost::BottomSlot> slots(in.Count(1000));
  for (simhost::BottomSlot& s : slots) {
    const std::uint8_t d = in.U8();
    s.duration = (d & 0x80) != 0 ? in.I16() : static_cast<std::int16_t>(Durations[d & 0x0F]);
    s.slotFlags = in.U8();
  }
  return host.AddBottomChain(slots);
}

// u8 kind: bit 0 measure record (7 fields), bit 1 top chain (its number
// becomes beats, flag set), bit 2 bottom chain, bit 3 staff signatures, bit 4 layers.
void DecodeMeasure(ByteReader& in, simhost::Host& host, const std::vector<std::int16_t>& staves,
                   std::int16_t measure) {
  const std::uint8_t kind = in.U8();
  simhost::MeasureView view;
  if ((kind & 0x01) != 0) {
    view.beats = in.I16();
    view.beatDuration = in.I16();
    view.signatureFlags = in.U16();
    view.extraFlags = in.U16();
    view.displayBeats = in.I16();
    view.displayBeatDuration = in.I16();
    view.displayFlags = in.U16();
  }
  if ((kind & 0x02) != 0) {
    view.beats = DecodeTopChain(in, host);
    view.signatureFlags |= CompositeTopFlag;
  }
  if ((kind & 0x04) != 0) {
    view.beatDuration = DecodeBottomChain(in, host);
    view.signatureFlags |= CompositeBottomFlag;
  }
  if ((kind & 0x07) != 0) host.SetMeasure(measure, view);
  if ((kind & 0x08) != 0 && !staves.empty()) {
    const int count = in.U8() % 8;
    for (int i = 0; i < count; ++i) {
      const std::int16_t staff = staves[in.U8() % staves.size()];
      const std::int16_t beats = in.I16();
      const std::int16_t beatDuration = in.I16();
      host.SetStaffTimeSig(staff, measure, beats, beatDuration, in.U16());
    }
  }
  if ((kind & 0x10) != 0) DecodeLayers(in, host, staves, measure);
}

// Mode bits choose raw values over ones near the decoded score: bit 0 staff
// list, bit 1 slots, bit 2 measures, bit 3 start position, bit 4 end position.
std::array<std::uint8_t, SelectionRegionLayout::Size> DecodeRegion(ByteReader& in,
                                                                   std::int16_t firstMeasure,
                                                                   std::size_t measureCount,
                                                                   std::size_t staffCount) {
  const std::uint8_t mode = in.U8();
  const std::int16_t staffList = (mode & 0x01) != 0 ? in.I16() : std::int16_t{0};
  std::int32_t firstSlot = 0;
  std::int32_t lastSlot = static_cast<std::int32_t>(staffCount) - 1;
  if ((mode & 0x02) != 0) {
    firstSlot = in.I16();
    lastSlot = in.I16();
  } else {
    const auto range = static_cast<std::int32_t>(staffCount + 1);
    firstSlot = in.U8() % range;
    lastSlot = std::max<std::int32_t>(firstSlot, lastSlot - in.U8() % range);
  }
  std::int32_t first = firstMeasure;
  std::int32_t last = firstMeasure + static_cast<std::int32_t>(measureCount) - 1;
  if ((mode & 0x04) != 0) {
    first = in.I16();
    last = in.I16();
  } else {
    first += in.I8() / 32;
    last += in.I8() / 32;
  }
  // The region holds 16-bit measures: a range computed past them would wrap
  // around to the far end and escape the work bound below.
  first = std::clamp<std::int32_t>(first, INT16_MIN, INT16_MAX);
  last = std::clamp<std::int32_t>(last, INT16_MIN, INT16_MAX);
  const std::int32_t start = (mode & 0x08) != 0 ? in.I32() : 0;
  const std::int32_t end = (mode & 0x10) != 0 ? in.I32() : EndOfMeasure;

  // Bound the work: each measure walks every staff (raw records can add up
  // to 16 to the list), and with onlySelectedStaves each staff walks the
  // selected slots.
  const std::int64_t staves = static_cast<std::int64_t>(staffCount) + 17;
  const std::int64_t maxSlots = std::max<std::int64_t>(1, std::int64_t{MaxWork} / staves);
  if (std::int64_t{lastSlot} - firstSlot + 1 > maxSlots) {
    lastSlot = static_cast<std::int32_t>(firstSlot + maxSlots - 1);
  }
  lastSlot = std::min<std::int32_t>(lastSlot, INT16_MAX);
  const std::int64_t slots = std::max<std::int64_t>(1, std::int64_t{lastSlot} - firstSlot + 1);
  const std::int64_t maxMeasures =
      std::max<std::int64_t>(1, std::int64_t{MaxWork} / (staves * (1 + slots)));
  if (last >= first && std::int64_t{last} - first + 1 > maxMeasures) {
    last = static_cast<std::int32_t>(first + maxMeasures - 1);
  }
  return simhost::MakeSelectionRegion(
      staffList, static_cast<std::int16_t>(firstSlot), static_cast<std::int16_t>(first), start,
      static_cast<std::int16_t>(lastSlot), static_cast<std::int16_t>(last), end);
}

}  // namespace

std::string RunHostData(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  standin::ResetAll();
  standin::SetAutoAnswer(true);

  std::uint8_t image[SettingsLayout::Size] = {};
  const std::vector<std::uint8_t> settingsBytes = in.Bytes(SettingsLayout::Size);
  std::copy(settingsBytes.begin(), settingsBytes.end(), image);
  ReadSettingsImage(image, globalSettings);

  simhost::Host host;
  simhost::SetCurrentHost(&host);
  const std::uint8_t faults = in.U8();

  std::vector<std::int16_t> staves(in.Count(700));
  for (std::int16_t& staff : staves) {
    staff = in.I16();
    host.AddStaff(staff, in.U16());
  }
  const int lists = in.U8() % 4;
  for (int i = 0; i < lists; ++i) {
    const std::int16_t number = in.I16();
    std::vector<std::int16_t> members(in.Count(400));
    for (std::int16_t& s : members) s = in.I16();
    host.SetStaffList(number, members);
  }

  const std::int16_t firstMeasure = in.I16();
  const std::size_t measureCount = in.Count(2000);
  for (std::size_t i = 0; i < measureCount; ++i) {
    DecodeMeasure(in, host, staves,
                  static_cast<std::int16_t>(firstMeasure + static_cast<std::int32_t>(i)));
  }
  const int raw = in.U8() % 16;
  for (int i = 0; i < raw; ++i) {
    const std::uint32_t tag = Tags[in.U8() % Tags.size()];
    const std::vector<std::uint8_t> key = in.Bytes(6);
    const std::vector<std::uint8_t> bytes = in.Bytes(in.U8());
    host.PutRecord(tag, key, bytes);
  }
  const auto region = DecodeRegion(in, firstMeasure, measureCount, staves.size());

  if ((faults & 0x01) != 0) host.FailLowMemory(true);
  if ((faults & 0x02) != 0) host.SetResultGarbage(true);
  if ((faults & 0x04) != 0) host.FailSaves(MeasureRecordTag);
  if ((faults & 0x08) != 0) host.FailCreates(CompositeTopRecordTag);
  if ((faults & 0x10) != 0) host.FailCreates(CompositeBottomRecordTag);
  beatListFailAllocations = (faults & 0x20) != 0;
  if ((faults & 0x40) != 0) host.FailSaves(StaffTimeSigRecordTag);
  if ((faults & 0x80) != 0) host.FailLoads(MeasureRecordTag);

  const std::size_t recordsBefore = host.RecordCount();
  const std::int16_t changed = ProcessSelection(nullptr, region.data());
  beatListFailAllocations = false;

  std::string problem;
  if (changed != 0 && changed != 1) problem = "ProcessSelection returned neither 0 nor 1";
  if (host.OutstandingLayers() != 0) problem = "a loaded layer was not handed back";
  if (host.counters().badCalls != 0) problem = "a host function was called wrongly";
  if (host.RecordCount() < recordsBefore) problem = "a host record disappeared";
  simhost::SetCurrentHost(nullptr);
  return problem;
}

}  // namespace kqfuzz
