// The host's score records, keys, tags and flag bits, and the selection
// region. All are wire formats: fixed offsets, little-endian, no padding.
// Code reads and writes them through the helpers of platform/le_bytes.h on
// byte buffers; bytes and bits not named here are carried through untouched.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/le_bytes.h"

constexpr std::int32_t EdusPerQuarter = 1024;

// Record tags; read from the most significant byte down they spell the name.
constexpr std::uint32_t MeasureRecordTag = 0x534F4D53;          // SOMS
constexpr std::uint32_t StaffListRecordTag = 0x534F4975;        // SOIu
constexpr std::uint32_t StaffRecordTag = 0x534F4953;            // SOIS
constexpr std::uint32_t CompositeTopRecordTag = 0x6F745455;     // otTU
constexpr std::uint32_t CompositeBottomRecordTag = 0x6F74544C;  // otTL
constexpr std::uint32_t StaffTimeSigRecordTag = 0x6474464C;     // dtFL

// RecordKey: int16 number, int16 sequence.
namespace RecordKeyLayout {
constexpr std::size_t Number = 0;
constexpr std::size_t Sequence = 2;
constexpr std::size_t Size = 4;
}  // namespace RecordKeyLayout

// StaffMeasureKey: int16 staff, int16 measure, int16 sequence.
namespace StaffMeasureKeyLayout {
constexpr std::size_t Staff = 0;
constexpr std::size_t Measure = 2;
constexpr std::size_t Sequence = 4;
constexpr std::size_t Size = 6;
}  // namespace StaffMeasureKeyLayout

// Key numbers and sequences that ask HostCreateRecord to assign one.
constexpr std::uint16_t NewChainNumber = 0xFFFF;
constexpr std::uint16_t AppendSequence = 0xFFFF;

struct RecordKeyBytes {
  std::uint8_t bytes[RecordKeyLayout::Size];
};
struct StaffMeasureKeyBytes {
  std::uint8_t bytes[StaffMeasureKeyLayout::Size];
};
static_assert(sizeof(RecordKeyBytes) == 4);
static_assert(sizeof(StaffMeasureKeyBytes) == 6);

inline RecordKeyBytes MakeRecordKey(std::int16_t number, std::int16_t sequence) {
  RecordKeyBytes key{};
  WriteI16(key.bytes + RecordKeyLayout::Number, number);
  WriteI16(key.bytes + RecordKeyLayout::Sequence, sequence);
  return key;
}
inline StaffMeasureKeyBytes MakeStaffMeasureKey(std::int16_t staff, std::int16_t measure,
                                                std::int16_t sequence) {
  StaffMeasureKeyBytes key{};
  WriteI16(key.bytes + StaffMeasureKeyLayout::Staff, staff);
  WriteI16(key.bytes + StaffMeasureKeyLayout::Measure, measure);
  WriteI16(key.bytes + StaffMeasureKeyLayout::Sequence, sequence);
  return key;
}

// MeasureRecord: a measure's time signature, visibility and display signature.
namespace MeasureRecordLayout {
constexpr std::size_t Beats = 4;                 // int16; chain number with CompositeTop
constexpr std::size_t BeatDuration = 6;          // int16 EDUs; chain number with CompositeBottom
constexpr std::size_t SignatureFlags = 8;        // uint16
constexpr std::size_t ExtraFlags = 10;           // uint16
constexpr std::size_t DisplayBeats = 12;         // int16
constexpr std::size_t DisplayBeatDuration = 14;  // int16
constexpr std::size_t DisplayFlags = 16;         // uint16
constexpr std::size_t Size = 24;
}  // namespace MeasureRecordLayout
// Fields follow each other without gaps; six unused bytes end the record.
static_assert(MeasureRecordLayout::BeatDuration == MeasureRecordLayout::Beats + 2 &&
              MeasureRecordLayout::SignatureFlags == MeasureRecordLayout::BeatDuration + 2 &&
              MeasureRecordLayout::ExtraFlags == MeasureRecordLayout::SignatureFlags + 2 &&
              MeasureRecordLayout::DisplayBeats == MeasureRecordLayout::ExtraFlags + 2 &&
              MeasureRecordLayout::DisplayBeatDuration == MeasureRecordLayout::DisplayBeats + 2 &&
              MeasureRecordLayout::DisplayFlags == MeasureRecordLayout::DisplayBeatDuration + 2);
static_assert(MeasureRecordLayout::DisplayFlags + 2 + 6 == MeasureRecordLayout::Size);

// signatureFlags of MeasureRecord and StaffTimeSigRecord.
constexpr std::uint16_t CompositeTopFlag = 0x0080;
constexpr std::uint16_t CompositeBottomFlag = 0x0040;
constexpr std::uint16_t AlwaysHideFlag = 0x0010;
// extraFlags: cleared whenever alwaysHide is set.
constexpr std::uint16_t ExtraHideClearedBit = 0x0400;
// displayFlags.
constexpr std::uint16_t DisplayInUseFlag = 0x0004;
constexpr std::uint16_t DisplayAbbreviateFlag = 0x0002;
constexpr std::uint16_t DisplayCompositeTopFlag = 0x0100;
constexpr std::uint16_t DisplayCompositeBottomFlag = 0x0200;
// ANDed into displayFlags to drop a display time signature.
constexpr std::uint16_t ClearDisplayMask = 0xFCFB;

// StaffListRecord: key (0, slot index); only the staff number is read.
namespace StaffListRecordLayout {
constexpr std::size_t Staff = 0;  // int16
constexpr std::size_t Size = 24;
}  // namespace StaffListRecordLayout

// StaffRecord: key (staff, 0); only staffFlags is read, never written.
namespace StaffRecordLayout {
constexpr std::size_t StaffFlags = 22;  // uint16
constexpr std::size_t Size = 66;
}  // namespace StaffRecordLayout
constexpr std::uint16_t HiddenStaffFlag = 0x0004;
constexpr std::uint16_t IndependentSignaturesFlag = 0x4000;

// StaffTimeSigRecord: key (staff, measure, 0).
namespace StaffTimeSigRecordLayout {
constexpr std::size_t Beats = 2;           // int16
constexpr std::size_t BeatDuration = 4;    // int16
constexpr std::size_t SignatureFlags = 8;  // uint16
constexpr std::size_t Size = 10;
}  // namespace StaffTimeSigRecordLayout

// CompositeTopRecord: two 6-byte TopSlots.
namespace CompositeTopRecordLayout {
constexpr std::size_t SlotCount = 2;
constexpr std::size_t SlotSize = 6;
constexpr std::size_t BeatCount = 0;  // int16 in slot; 0 = empty slot
constexpr std::size_t Reserved = 2;   // int16 in slot; written 0
constexpr std::size_t SlotFlags = 4;  // int16 in slot
constexpr std::size_t Size = 12;
}  // namespace CompositeTopRecordLayout

// CompositeBottomRecord: three 4-byte BottomSlots.
namespace CompositeBottomRecordLayout {
constexpr std::size_t SlotCount = 3;
constexpr std::size_t SlotSize = 4;
constexpr std::size_t Duration = 0;   // int16 in slot; 0 = empty slot
constexpr std::size_t SlotFlags = 2;  // int16 in slot
constexpr std::size_t Size = 12;
}  // namespace CompositeBottomRecordLayout
static_assert(CompositeTopRecordLayout::SlotCount * CompositeTopRecordLayout::SlotSize ==
              CompositeTopRecordLayout::Size);
static_assert(CompositeBottomRecordLayout::SlotCount * CompositeBottomRecordLayout::SlotSize ==
              CompositeBottomRecordLayout::Size);
constexpr std::int16_t GroupStartFlag = 0x0001;

// LayerEntries: what HostLoadLayer returns. `entries` is a 32-bit address,
// also in 64-bit builds, so hosts keep layer memory below 4 GiB.
namespace LayerEntriesLayout {
constexpr std::size_t Entries = 14;     // uint32 address of the first LayerEntry
constexpr std::size_t EntryCount = 18;  // int16
constexpr std::size_t Size = 20;
}  // namespace LayerEntriesLayout

namespace LayerEntryLayout {
constexpr std::size_t EntryFlags = 8;  // int32
constexpr std::size_t Position = 136;  // int32 EDUs from the start of the measure
constexpr std::size_t Duration = 140;  // int32 EDUs
constexpr std::size_t Size = 146;      // stride between entries
}  // namespace LayerEntryLayout
constexpr std::uint32_t SkipEntryFlag = 0x00800000;
constexpr std::uint32_t BeamStartFlag = 0x00000800;

// The entry array of a loaded layer, from its 32-bit address.
inline const std::uint8_t* LayerEntryArray(const std::uint8_t* layer) {
  return reinterpret_cast<const std::uint8_t*>(
      static_cast<std::uintptr_t>(ReadU32(layer + LayerEntriesLayout::Entries)));
}

// SelectionRegion: the host's selection, read only.
namespace SelectionRegionLayout {
constexpr std::size_t StaffList = 0;      // int16
constexpr std::size_t FirstSlot = 2;      // int16
constexpr std::size_t FirstMeasure = 4;   // int16
constexpr std::size_t StartPosition = 6;  // int32 EDUs; nonzero: first measure not whole
constexpr std::size_t LastSlot = 12;      // int16, inclusive
constexpr std::size_t LastMeasure = 14;   // int16
constexpr std::size_t EndPosition = 16;   // int32 EDUs; 0x7FFFFFFF: through the end
constexpr std::size_t Size = 20;
}  // namespace SelectionRegionLayout
// int16, int16, int16, int32, an unused int16, int16, int16, int32.
static_assert(SelectionRegionLayout::FirstSlot == SelectionRegionLayout::StaffList + 2 &&
              SelectionRegionLayout::FirstMeasure == SelectionRegionLayout::FirstSlot + 2 &&
              SelectionRegionLayout::StartPosition == SelectionRegionLayout::FirstMeasure + 2 &&
              SelectionRegionLayout::LastSlot == SelectionRegionLayout::StartPosition + 4 + 2 &&
              SelectionRegionLayout::LastMeasure == SelectionRegionLayout::LastSlot + 2 &&
              SelectionRegionLayout::EndPosition == SelectionRegionLayout::LastMeasure + 2);
static_assert(SelectionRegionLayout::EndPosition + 4 == SelectionRegionLayout::Size);
constexpr std::int32_t EndOfMeasure = 0x7FFFFFFF;

// Host results report success in their low 16 bits only.
inline bool HostSucceeded(std::int32_t result) { return (result & 0xFFFF) != 0; }
