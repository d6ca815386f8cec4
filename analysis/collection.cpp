#include "analysis/collection.h"

#include "host/records.h"
#include "host/host.h"
#include "settings/settings.h"

namespace {

// The group's note value if it is a beat duration the Settings allow, else 0.
std::int16_t AllowedBeatOrZero(std::int16_t value) {
  for (std::size_t i = 0; i < BeatDurationCount; ++i) {
    if (globalSettings.allowBeat[i] != 0 && BeatDurationTable[i] == value) return value;
  }
  return 0;
}

std::uint32_t EntryFlags(const std::uint8_t* entry) {
  return ReadU32(entry + LayerEntryLayout::EntryFlags);
}

bool IsGroupStart(std::uint32_t flags) {
  return (flags & BeamStartFlag) != 0 && (flags & SkipEntryFlag) == 0;
}

void CollectLayer(const std::uint8_t* block, BeatList* list) {
  const std::uint8_t* entries = LayerEntryArray(block);
  const std::int16_t count = ReadI16(block + LayerEntriesLayout::EntryCount);
  if (entries == nullptr || count <= 0) return;
  for (std::int32_t j = 0; j < count; ++j) {
    const std::uint8_t* start = entries + static_cast<std::size_t>(j) * LayerEntryLayout::Size;
    if (!IsGroupStart(EntryFlags(start))) continue;
    std::int16_t value = static_cast<std::int16_t>(ReadI32(start + LayerEntryLayout::Duration));
    for (std::int32_t k = j + 1; k < count; ++k) {
      const std::uint8_t* entry = entries + static_cast<std::size_t>(k) * LayerEntryLayout::Size;
      const std::uint32_t flags = EntryFlags(entry);
      if ((flags & SkipEntryFlag) != 0) continue;
      if ((flags & BeamStartFlag) != 0) break;
      if (ReadI32(entry + LayerEntryLayout::Duration) != value) {
        value = 0;
        break;
      }
    }
    if (value != 0) value = AllowedBeatOrZero(value);
    // A full list drops later starts; the refusal is not an error.
    BeatListPush(list, ReadI32(start + LayerEntryLayout::Position), value);
  }
}

}  // namespace

std::int32_t CollectBeatStarts(std::int16_t staff, std::int16_t measure, BeatList* list) {
  const std::int16_t frame =
      static_cast<std::int16_t>(HostCellFrame(staff, 0, HostInterfaceVersion));
  std::int32_t result = 0;
  for (int layer = 0; layer < LayerCount; ++layer) {
    void* block = HostLoadLayer(0, frame, measure, layer, 0, HostInterfaceVersion);
    if (block == nullptr) continue;
    const std::int32_t duration = HostLayerDuration(block, HostInterfaceVersion);
    if (duration > result) result = duration;
    if (duration > list->length) list->length = duration;
    CollectLayer(static_cast<const std::uint8_t*>(block), list);
    HostFreeLayer(block, HostInterfaceVersion);
  }
  return result;
}
