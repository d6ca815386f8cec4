#include "analysis/check.h"

#include <algorithm>

#include "host/chains.h"
#include "host/host.h"
#include "host/records.h"

namespace {

// A non-empty slot of a chain: beatCount (top) or duration (bottom), and its flags.
struct Slot {
  std::int16_t number;
  std::int16_t slotFlags;
};

bool StartsGroup(std::int16_t slotFlags) { return (slotFlags & GroupStartFlag) != 0; }

// Loads a chain's non-empty slots; false when it holds more than `capacity`.
bool LoadChain(ChainKind kind, std::int16_t chain, Slot* slots, std::int16_t capacity,
               std::int16_t* count) {
  *count = 0;
  bool fits = true;
  WalkHostChain(kind, chain, [&](std::int16_t number, std::int16_t slotFlags) {
    if (number == 0) return true;
    if (*count >= capacity) {
      fits = false;
      return false;
    }
    slots[*count] = {number, slotFlags};
    ++*count;
    return true;
  });
  return fits;
}

// The first slot begins a group whatever its flag; later ones by their flag.
int GroupCount(const Slot* slots, std::int16_t count) {
  int groups = count > 0 ? 1 : 0;
  for (std::int16_t i = 1; i < count; ++i) {
    if (StartsGroup(slots[i].slotFlags)) ++groups;
  }
  return groups;
}

// Two's-complement addition, as the host's 32-bit positions wrap.
std::int32_t AddWrapping(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

bool Full(const BeatList* list) { return list->count >= list->capacity; }

}  // namespace

std::int16_t ExpandCompositeStarts(const std::uint8_t* measureRecord, BeatList* beatStarts) {
  const std::uint16_t flags = ReadU16(measureRecord + MeasureRecordLayout::SignatureFlags);
  const bool compositeTop = (flags & CompositeTopFlag) != 0;
  const bool compositeBottom = (flags & CompositeBottomFlag) != 0;
  const std::int16_t beats = ReadI16(measureRecord + MeasureRecordLayout::Beats);
  const std::int16_t beatDuration = ReadI16(measureRecord + MeasureRecordLayout::BeatDuration);

  Slot top[TopSlotCapacity];
  Slot bottom[BottomSlotCapacity];
  std::int16_t topCount = 0;
  std::int16_t bottomCount = 0;
  if (compositeTop) {
    if (!LoadChain(ChainKind::Top, beats, top, TopSlotCapacity, &topCount) || topCount == 0) {
      return 0;
    }
  }
  if (compositeBottom) {
    if (!LoadChain(ChainKind::Bottom, beatDuration, bottom, BottomSlotCapacity, &bottomCount) ||
        bottomCount == 0) {
      return 0;
    }
  }
  // Each run of top slots takes one bottom group; unequal counts cannot pair.
  if (compositeTop && compositeBottom &&
      GroupCount(top, topCount) != GroupCount(bottom, bottomCount)) {
    return 0;
  }

  std::int32_t a = 0;
  std::int16_t t = 0;
  std::int16_t b = 0;
  bool more = true;
  while (more && !Full(beatStarts)) {
    more = false;
    std::int16_t g = beatDuration;
    if (compositeBottom) {
      g = 0;
      do {
        g = static_cast<std::int16_t>(g + bottom[b].number);
        ++b;
      } while (b < bottomCount && !StartsGroup(bottom[b].slotFlags));
      if (b < bottomCount) more = true;
    }
    if (compositeTop) {
      do {
        BeatListPush(beatStarts, a, 0);
        a = AddWrapping(a, static_cast<std::int32_t>(top[t].number) * g);
        ++t;
      } while (t < topCount && !StartsGroup(top[t].slotFlags));
      if (t < topCount) more = true;
    } else {
      for (std::int32_t i = 0; i < beats && !Full(beatStarts); ++i) {
        BeatListPush(beatStarts, a, 0);
        a = AddWrapping(a, g);
      }
    }
  }
  return 1;
}

std::int16_t CheckExistingSignature(std::int16_t measure, std::int32_t measureLength,
                                    const BeatList* lists, std::int16_t n) {
  std::uint8_t record[MeasureRecordLayout::Size]{};
  RecordKeyBytes key = MakeRecordKey(measure, 0);
  std::int32_t size = MeasureRecordLayout::Size;
  // Without the present signature nothing can agree with it: let the derivation decide.
  if (!HostSucceeded(
          HostLoadRecord(MeasureRecordTag, key.bytes, record, &size, HostInterfaceVersion))) {
    return CheckConflict;
  }

  BeatList beatStarts;
  BeatListInit(&beatStarts);
  if (beatStarts.positions == nullptr) return CheckNoStorage;

  const std::uint16_t flags = ReadU16(record + MeasureRecordLayout::SignatureFlags);
  if ((flags & (CompositeTopFlag | CompositeBottomFlag)) != 0) {
    if (ExpandCompositeStarts(record, &beatStarts) == 0) {
      BeatListRelease(&beatStarts);
      return CheckConflict;
    }
  } else {
    const std::int16_t beats = ReadI16(record + MeasureRecordLayout::Beats);
    const std::int16_t beatDuration = ReadI16(record + MeasureRecordLayout::BeatDuration);
    if (static_cast<std::int32_t>(beats) * beatDuration != measureLength) {
      BeatListRelease(&beatStarts);
      return CheckConflict;
    }
    for (std::int32_t i = 0; i < beats && !Full(&beatStarts); ++i) {
      BeatListPush(&beatStarts, i * beatDuration, beatDuration);
    }
  }

  // Membership only: a sorted copy gives the same answer as a linear search.
  std::int32_t sorted[BeatListCapacity];
  const std::int16_t startCount = std::min<std::int16_t>(beatStarts.count, BeatListCapacity);
  std::copy(beatStarts.positions, beatStarts.positions + startCount, sorted);
  BeatListRelease(&beatStarts);
  std::sort(sorted, sorted + startCount);

  for (std::int16_t l = 0; l < n; ++l) {
    const BeatList& list = lists[l];
    for (std::int16_t i = 0; i < list.count; ++i) {
      if (!std::binary_search(sorted, sorted + startCount, list.positions[i])) return CheckConflict;
    }
  }
  return CheckNoConflict;
}
