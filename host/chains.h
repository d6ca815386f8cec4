// Composite chains: the CompositeTopRecords or CompositeBottomRecords keyed
// (number, 0), (number, 1), ... that hold the elements of a composite time
// signature field, and the one walk over their slots.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "host/host.h"
#include "host/records.h"

// Kind of chain a composite field is stored as.
enum class ChainKind { Top, Bottom };

// Where the records of a top or a bottom chain keep their slots. A slot's
// number (beatCount or duration) is its first int16 in both.
struct ChainShape {
  std::uint32_t tag;
  std::size_t slotCount;
  std::size_t slotSize;
  std::size_t flagsOffset;
};

inline ChainShape ShapeOf(ChainKind kind) {
  if (kind == ChainKind::Top)
    return {CompositeTopRecordTag, CompositeTopRecordLayout::SlotCount,
            CompositeTopRecordLayout::SlotSize, CompositeTopRecordLayout::SlotFlags};
  return {CompositeBottomRecordTag, CompositeBottomRecordLayout::SlotCount,
          CompositeBottomRecordLayout::SlotSize, CompositeBottomRecordLayout::SlotFlags};
}

static_assert(CompositeTopRecordLayout::BeatCount == 0 &&
              CompositeBottomRecordLayout::Duration == 0);
static_assert(CompositeTopRecordLayout::Size == CompositeBottomRecordLayout::Size);
constexpr std::size_t ChainRecordSize = CompositeTopRecordLayout::Size;

// Walks the slots of chain `number`, record by record (sequences 0, 1, ...
// up to 32767) until a record does not load.
// `load(tag, key, record, size)` fills `record`, zeroed before each call and
// `size` (ChainRecordSize) bytes long, from the record with that tag and
// key, and returns false when there is none; it may lower `size` to the
// bytes the record holds, and slots beyond them are not visited.
// `visit(number, slotFlags)` sees every slot in order, empty ones (number 0)
// included; returning false ends the walk at once.
template <typename Load, typename Visit>
void WalkChain(ChainKind kind, std::int16_t number, Load&& load, Visit&& visit) {
  const ChainShape shape = ShapeOf(kind);
  std::uint8_t record[ChainRecordSize];
  for (std::int32_t sequence = 0; sequence <= INT16_MAX; ++sequence) {
    RecordKeyBytes key = MakeRecordKey(number, static_cast<std::int16_t>(sequence));
    std::memset(record, 0, sizeof record);  // a short record leaves no stale slots
    std::size_t size = sizeof record;
    if (!load(shape.tag, key, record, size)) return;
    for (std::size_t s = 0; s < shape.slotCount && (s + 1) * shape.slotSize <= size; ++s) {
      const std::uint8_t* slot = record + s * shape.slotSize;
      if (!visit(ReadI16(slot), ReadI16(slot + shape.flagsOffset))) return;
    }
  }
}

// WalkChain through the host's HostLoadRecord. Every slot of a loaded record
// is visited: bytes a short record does not fill read as empty slots.
template <typename Visit>
void WalkHostChain(ChainKind kind, std::int16_t number, Visit&& visit) {
  WalkChain(
      kind, number,
      [](std::uint32_t tag, RecordKeyBytes& key, std::uint8_t* record, std::size_t& size) {
        std::int32_t stored = static_cast<std::int32_t>(size);
        return HostSucceeded(HostLoadRecord(tag, key.bytes, record, &stored, HostInterfaceVersion));
      },
      visit);
}
