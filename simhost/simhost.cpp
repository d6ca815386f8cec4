#include "simhost/simhost.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "host/chains.h"
#include "simhost/low_arena.h"

namespace simhost {

namespace {

constexpr std::size_t MaxKeySize = StaffMeasureKeyLayout::Size;
// Room for the largest layer (32767 entries) with plenty to spare.
constexpr std::size_t LayerArenaBytes = std::size_t{64} << 20;
// Entries follow the LayerEntries object in the same block.
constexpr std::size_t LayerHeaderBytes = 24;
static_assert(LayerHeaderBytes >= LayerEntriesLayout::Size);
constexpr std::uint8_t LayerFillByte = 0xCC;  // unused layer bytes, never zero by accident

struct RecordId {
  std::uint32_t tag;
  std::uint64_t key;  // the key bytes, little-endian
  bool operator==(const RecordId& other) const { return tag == other.tag && key == other.key; }
};
struct RecordIdHash {
  std::size_t operator()(const RecordId& id) const {
    return std::hash<std::uint64_t>{}(id.key * 0x9E3779B97F4A7C15ull ^ id.tag);
  }
};

using RecordMap = std::unordered_map<RecordId, std::vector<std::uint8_t>, RecordIdHash>;

std::uint64_t PackKey(const std::uint8_t* key, std::size_t size) {
  std::uint64_t packed = 0;
  for (std::size_t i = 0; i < size; ++i) packed |= static_cast<std::uint64_t>(key[i]) << (8 * i);
  return packed;
}
void UnpackKey(std::uint64_t packed, std::uint8_t* key, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) key[i] = static_cast<std::uint8_t>(packed >> (8 * i));
}

RecordId IdFromBytes(std::uint32_t tag, const std::uint8_t* key) {
  return RecordId{tag, PackKey(key, KeySizeForTag(tag))};
}
RecordId IdFromVector(std::uint32_t tag, const std::vector<std::uint8_t>& key) {
  std::uint8_t bytes[MaxKeySize] = {};
  std::copy_n(key.begin(), std::min(key.size(), KeySizeForTag(tag)), bytes);
  return IdFromBytes(tag, bytes);
}
RecordId RecordKeyId(std::uint32_t tag, std::int16_t number, std::int16_t sequence) {
  return IdFromBytes(tag, MakeRecordKey(number, sequence).bytes);
}
RecordId StaffMeasureId(std::int16_t staff, std::int16_t measure) {
  return IdFromBytes(StaffTimeSigRecordTag, MakeStaffMeasureKey(staff, measure, 0).bytes);
}

// WalkChain's loader on the stored records themselves: no host call is made or counted.
struct StoredChainRecords {
  const RecordMap& records;
  bool operator()(std::uint32_t tag, const RecordKeyBytes& key, std::uint8_t* record,
                  std::size_t& size) const {
    const auto it = records.find(IdFromBytes(tag, key.bytes));
    if (it == records.end()) return false;
    size = std::min(size, it->second.size());
    std::copy_n(it->second.data(), size, record);
    return true;
  }
};

std::uint64_t LayerKey(std::int16_t staff, std::int16_t measure, int layer) {
  return (static_cast<std::uint64_t>(static_cast<std::uint16_t>(staff)) << 24) |
         (static_cast<std::uint64_t>(static_cast<std::uint16_t>(measure)) << 8) |
         static_cast<std::uint64_t>(layer);
}

struct Fault {
  std::uint32_t tag;
  bool anyKey;
  std::uint64_t key;
};
bool Matches(const std::vector<Fault>& faults, const RecordId& id) {
  for (const Fault& f : faults) {
    if (f.tag == id.tag && (f.anyKey || f.key == id.key)) return true;
  }
  return false;
}

struct LayerData {
  std::int32_t duration = 0;
  std::vector<Entry> entries;
};

struct LoadedLayer {
  std::uint8_t* block;
  std::size_t bytes;
  std::int32_t duration;
};

Host* currentHost = nullptr;

}  // namespace

std::array<std::uint8_t, SelectionRegionLayout::Size> MakeSelectionRegion(
    std::int16_t staffList, std::int16_t firstSlot, std::int16_t firstMeasure,
    std::int32_t startPosition, std::int16_t lastSlot, std::int16_t lastMeasure,
    std::int32_t endPosition) {
  namespace L = SelectionRegionLayout;
  std::array<std::uint8_t, L::Size> region;
  region.fill(UnlistedByteFill);
  WriteI16(region.data() + L::StaffList, staffList);
  WriteI16(region.data() + L::FirstSlot, firstSlot);
  WriteI16(region.data() + L::FirstMeasure, firstMeasure);
  WriteI32(region.data() + L::StartPosition, startPosition);
  WriteI16(region.data() + L::LastSlot, lastSlot);
  WriteI16(region.data() + L::LastMeasure, lastMeasure);
  WriteI32(region.data() + L::EndPosition, endPosition);
  return region;
}

std::size_t KeySizeForTag(std::uint32_t tag) {
  return tag == StaffTimeSigRecordTag ? StaffMeasureKeyLayout::Size : RecordKeyLayout::Size;
}

struct Host::Impl {
  RecordMap records;
  std::unordered_map<std::uint32_t, std::int32_t> highestNumber;  // per tag, for new chains
  std::unordered_map<std::uint64_t, LayerData> layers;
  std::map<std::int16_t, std::vector<std::int16_t>> staffLists;  // lists other than 0
  std::vector<Fault> loadFaults;
  std::vector<Fault> saveFaults;
  std::unordered_map<std::uint32_t, int> createFaults;  // tag: creates still allowed
  std::unordered_set<std::uint64_t> layerFaults;
  LowArena arena{LayerArenaBytes};
  std::vector<LoadedLayer> loaded;
  std::unordered_map<std::uint32_t, int> savesByTag;
  std::unordered_map<std::uint32_t, int> createsByTag;

  const std::vector<std::uint8_t>* Find(const RecordId& id) const {
    auto it = records.find(id);
    return it == records.end() ? nullptr : &it->second;
  }
  void NoteNumber(const RecordId& id) {
    std::uint8_t key[MaxKeySize];
    UnpackKey(id.key, key, KeySizeForTag(id.tag));
    std::int32_t& highest = highestNumber[id.tag];
    highest = std::max<std::int32_t>(highest, ReadI16(key));
  }
  void Put(const RecordId& id, std::vector<std::uint8_t> bytes) {
    records[id] = std::move(bytes);
    NoteNumber(id);
  }
  // The next unused number of a tag, or -1 when the int16 range is used up.
  std::int32_t NextNumber(std::uint32_t tag) {
    const std::int32_t next = std::max<std::int32_t>(highestNumber[tag], 0) + 1;
    return next > 0x7FFF ? -1 : next;
  }
  std::vector<LoadedLayer>::iterator FindLoaded(const void* layer) {
    return std::find_if(loaded.begin(), loaded.end(),
                        [layer](const LoadedLayer& l) { return l.block == layer; });
  }
};

Host::Host() : impl_(std::make_unique<Impl>()) {}

Host::~Host() {
  if (currentHost == this) currentHost = nullptr;
}

std::int32_t Host::Result(bool ok) const {
  // Only the low 16 bits carry the answer; garbage above proves callers mask.
  const std::int32_t high = garbage_ ? 0x5A5A0000 : 0;
  return high | (ok ? 1 : 0);
}

// --- building ---

void Host::AddStaff(std::int16_t staff, std::uint16_t staffFlags) {
  std::int16_t slot = 0;
  while (impl_->Find(RecordKeyId(StaffListRecordTag, 0, slot)) != nullptr) ++slot;
  std::vector<std::uint8_t> entry(StaffListRecordLayout::Size, UnlistedByteFill);
  WriteI16(entry.data() + StaffListRecordLayout::Staff, staff);
  impl_->Put(RecordKeyId(StaffListRecordTag, 0, slot), std::move(entry));

  const RecordId id = RecordKeyId(StaffRecordTag, staff, 0);
  const auto* existing = impl_->Find(id);
  std::vector<std::uint8_t> record =
      existing != nullptr && existing->size() >= StaffRecordLayout::Size
          ? *existing
          : std::vector<std::uint8_t>(StaffRecordLayout::Size, UnlistedByteFill);
  WriteU16(record.data() + StaffRecordLayout::StaffFlags, staffFlags);
  impl_->Put(id, std::move(record));
}

void Host::SetStaffList(std::int16_t staffList, const std::vector<std::int16_t>& staves) {
  if (staffList == 0) return;  // the score's list is built with AddStaff
  impl_->staffLists[staffList] = staves;
}

void Host::SetMeasure(std::int16_t measure, std::int16_t beats, std::int16_t beatDuration,
                      std::uint16_t signatureFlags) {
  MeasureView view;
  view.beats = beats;
  view.beatDuration = beatDuration;
  view.signatureFlags = signatureFlags;
  SetMeasure(measure, view);
}

void Host::SetMeasure(std::int16_t measure, const MeasureView& view) {
  namespace L = MeasureRecordLayout;
  const RecordId id = RecordKeyId(MeasureRecordTag, measure, 0);
  const auto* existing = impl_->Find(id);
  std::vector<std::uint8_t> r = existing != nullptr && existing->size() >= L::Size
                                    ? *existing
                                    : std::vector<std::uint8_t>(L::Size, UnlistedByteFill);
  WriteI16(r.data() + L::Beats, view.beats);
  WriteI16(r.data() + L::BeatDuration, view.beatDuration);
  WriteU16(r.data() + L::SignatureFlags, view.signatureFlags);
  WriteU16(r.data() + L::ExtraFlags, view.extraFlags);
  WriteI16(r.data() + L::DisplayBeats, view.displayBeats);
  WriteI16(r.data() + L::DisplayBeatDuration, view.displayBeatDuration);
  WriteU16(r.data() + L::DisplayFlags, view.displayFlags);
  impl_->Put(id, std::move(r));
}

std::int16_t Host::AddTopChain(const std::vector<TopSlot>& slots) {
  namespace L = CompositeTopRecordLayout;
  const std::int32_t number = impl_->NextNumber(CompositeTopRecordTag);
  if (number < 0) return -1;
  const auto chain = static_cast<std::int16_t>(number);
  impl_->highestNumber[CompositeTopRecordTag] = number;  // reserved even when empty
  std::int16_t sequence = 0;
  for (std::size_t i = 0; i < slots.size(); i += L::SlotCount) {
    std::vector<std::uint8_t> r(L::Size, 0);
    for (std::size_t s = 0; s < L::SlotCount && i + s < slots.size(); ++s) {
      std::uint8_t* slot = r.data() + s * L::SlotSize;
      WriteI16(slot + L::BeatCount, slots[i + s].beatCount);
      WriteI16(slot + L::SlotFlags, slots[i + s].slotFlags);
    }
    impl_->Put(RecordKeyId(CompositeTopRecordTag, chain, sequence++), std::move(r));
  }
  return chain;
}

std::int16_t Host::AddBottomChain(const std::vector<BottomSlot>& slots) {
  namespace L = CompositeBottomRecordLayout;
  const std::int32_t number = impl_->NextNumber(CompositeBottomRecordTag);
  if (number < 0) return -1;
  const auto chain = static_cast<std::int16_t>(number);
  impl_->highestNumber[CompositeBottomRecordTag] = number;
  std::int16_t sequence = 0;
  for (std::size_t i = 0; i < slots.size(); i += L::SlotCount) {
    std::vector<std::uint8_t> r(L::Size, 0);
    for (std::size_t s = 0; s < L::SlotCount && i + s < slots.size(); ++s) {
      std::uint8_t* slot = r.data() + s * L::SlotSize;
      WriteI16(slot + L::Duration, slots[i + s].duration);
      WriteI16(slot + L::SlotFlags, slots[i + s].slotFlags);
    }
    impl_->Put(RecordKeyId(CompositeBottomRecordTag, chain, sequence++), std::move(r));
  }
  return chain;
}

void Host::SetStaffTimeSig(std::int16_t staff, std::int16_t measure, std::int16_t beats,
                           std::int16_t beatDuration, std::uint16_t signatureFlags) {
  namespace L = StaffTimeSigRecordLayout;
  const RecordId id = StaffMeasureId(staff, measure);
  const auto* existing = impl_->Find(id);
  std::vector<std::uint8_t> r = existing != nullptr && existing->size() >= L::Size
                                    ? *existing
                                    : std::vector<std::uint8_t>(L::Size, UnlistedByteFill);
  WriteI16(r.data() + L::Beats, beats);
  WriteI16(r.data() + L::BeatDuration, beatDuration);
  WriteU16(r.data() + L::SignatureFlags, signatureFlags);
  impl_->Put(id, std::move(r));
}

void Host::SetLayer(std::int16_t staff, std::int16_t measure, int layer, std::int32_t duration,
                    const std::vector<Entry>& entries) {
  if (layer < 0 || layer > 3) return;
  LayerData& data = impl_->layers[LayerKey(staff, measure, layer)];
  data.duration = duration;
  data.entries = entries;
}

void Host::PutRecord(std::uint32_t tag, const std::vector<std::uint8_t>& key,
                     const std::vector<std::uint8_t>& bytes) {
  impl_->Put(IdFromVector(tag, key), bytes);
}

bool Host::GetRecord(std::uint32_t tag, const std::vector<std::uint8_t>& key,
                     std::vector<std::uint8_t>& bytes) const {
  const auto* r = impl_->Find(IdFromVector(tag, key));
  if (r == nullptr) return false;
  bytes = *r;
  return true;
}

// --- reading back ---

bool Host::ReadMeasure(std::int16_t measure, MeasureView& view) const {
  namespace L = MeasureRecordLayout;
  const auto* r = impl_->Find(RecordKeyId(MeasureRecordTag, measure, 0));
  if (r == nullptr || r->size() < L::Size) return false;
  const std::uint8_t* p = r->data();
  view.beats = ReadI16(p + L::Beats);
  view.beatDuration = ReadI16(p + L::BeatDuration);
  view.signatureFlags = ReadU16(p + L::SignatureFlags);
  view.extraFlags = ReadU16(p + L::ExtraFlags);
  view.displayBeats = ReadI16(p + L::DisplayBeats);
  view.displayBeatDuration = ReadI16(p + L::DisplayBeatDuration);
  view.displayFlags = ReadU16(p + L::DisplayFlags);
  return true;
}

bool Host::ReadStaffTimeSig(std::int16_t staff, std::int16_t measure,
                            StaffTimeSigView& view) const {
  namespace L = StaffTimeSigRecordLayout;
  const auto* r = impl_->Find(StaffMeasureId(staff, measure));
  if (r == nullptr || r->size() < L::Size) return false;
  view.beats = ReadI16(r->data() + L::Beats);
  view.beatDuration = ReadI16(r->data() + L::BeatDuration);
  view.signatureFlags = ReadU16(r->data() + L::SignatureFlags);
  return true;
}

std::vector<TopSlot> Host::ReadTopChain(std::int16_t chain) const {
  std::vector<TopSlot> slots;
  WalkChain(ChainKind::Top, chain, StoredChainRecords{impl_->records},
            [&](std::int16_t beatCount, std::int16_t slotFlags) {
              slots.push_back(TopSlot{beatCount, slotFlags});
              return true;
            });
  return slots;
}

std::vector<BottomSlot> Host::ReadBottomChain(std::int16_t chain) const {
  std::vector<BottomSlot> slots;
  WalkChain(ChainKind::Bottom, chain, StoredChainRecords{impl_->records},
            [&](std::int16_t duration, std::int16_t slotFlags) {
              slots.push_back(BottomSlot{duration, slotFlags});
              return true;
            });
  return slots;
}

int Host::ChainRecordCount(std::uint32_t tag, std::int16_t chain) const {
  int count = 0;
  while (count < 0x8000 &&
         impl_->Find(RecordKeyId(tag, chain, static_cast<std::int16_t>(count))) != nullptr) {
    ++count;
  }
  return count;
}

namespace {

// Joins non-empty values with "+", doubling it before a later group start.
template <typename Slot, typename Value>
std::string JoinChain(const std::vector<Slot>& slots, Value value) {
  std::string text;
  for (const Slot& slot : slots) {
    if (value(slot) == 0) continue;
    if (!text.empty() && (slot.slotFlags & GroupStartFlag) != 0) text += '+';
    if (!text.empty()) text += '+';
    text += std::to_string(value(slot));
  }
  return text;
}

}  // namespace

std::string Host::FormatTop(std::int16_t value, bool composite) const {
  if (!composite) return std::to_string(value);
  return JoinChain(ReadTopChain(value), [](const TopSlot& s) { return s.beatCount; });
}

std::string Host::FormatBottom(std::int16_t value, bool composite) const {
  if (!composite) return std::to_string(value);
  return JoinChain(ReadBottomChain(value), [](const BottomSlot& s) { return s.duration; });
}

std::string Host::FormatMeasure(std::int16_t measure) const {
  SignatureText text;
  if (!ReadMeasureSignature(*this, measure, text)) return std::string();
  return text.top + "/" + text.bottom;
}

std::size_t Host::RecordCount() const { return impl_->records.size(); }

std::size_t Host::RecordCount(std::uint32_t tag) const {
  return static_cast<std::size_t>(
      std::count_if(impl_->records.begin(), impl_->records.end(),
                    [tag](const auto& record) { return record.first.tag == tag; }));
}

std::vector<std::int16_t> Host::StaffList() const {
  std::vector<std::int16_t> staves;
  for (std::int16_t slot = 0; slot >= 0; ++slot) {
    const auto* r = impl_->Find(RecordKeyId(StaffListRecordTag, 0, slot));
    if (r == nullptr || r->size() < 2) break;
    staves.push_back(ReadI16(r->data() + StaffListRecordLayout::Staff));
  }
  return staves;
}

bool Host::ReadStaffFlags(std::int16_t staff, std::uint16_t& staffFlags) const {
  const auto* r = impl_->Find(RecordKeyId(StaffRecordTag, staff, 0));
  if (r == nullptr || r->size() < StaffRecordLayout::StaffFlags + 2) return false;
  staffFlags = ReadU16(r->data() + StaffRecordLayout::StaffFlags);
  return true;
}

std::vector<std::int16_t> Host::MeasureNumbers() const {
  std::vector<std::int16_t> measures;
  for (const auto& [id, bytes] : impl_->records) {
    std::uint8_t key[RecordKeyLayout::Size];
    UnpackKey(id.key, key, sizeof key);
    if (id.tag == MeasureRecordTag && ReadI16(key + RecordKeyLayout::Sequence) == 0) {
      measures.push_back(ReadI16(key + RecordKeyLayout::Number));
    }
  }
  std::sort(measures.begin(), measures.end());
  return measures;
}

bool Host::ReadLayer(std::int16_t staff, std::int16_t measure, int layer, std::int32_t& duration,
                     std::vector<Entry>& entries) const {
  if (layer < 0 || layer > 3) return false;
  auto it = impl_->layers.find(LayerKey(staff, measure, layer));
  if (it == impl_->layers.end()) return false;
  duration = it->second.duration;
  entries = it->second.entries;
  return true;
}

std::size_t Host::LayerCount() const { return impl_->layers.size(); }

int Host::SaveCount(std::uint32_t tag) const {
  auto it = impl_->savesByTag.find(tag);
  return it == impl_->savesByTag.end() ? 0 : it->second;
}

int Host::CreateCount(std::uint32_t tag) const {
  auto it = impl_->createsByTag.find(tag);
  return it == impl_->createsByTag.end() ? 0 : it->second;
}

// --- fault injection ---

void Host::FailLoads(std::uint32_t tag, const std::vector<std::uint8_t>& key) {
  impl_->loadFaults.push_back(Fault{tag, key.empty(), IdFromVector(tag, key).key});
}

void Host::FailSaves(std::uint32_t tag, const std::vector<std::uint8_t>& key) {
  impl_->saveFaults.push_back(Fault{tag, key.empty(), IdFromVector(tag, key).key});
}

void Host::FailCreates(std::uint32_t tag, int after) { impl_->createFaults[tag] = after; }

void Host::FailLayerLoads(std::int16_t staff, std::int16_t measure, int layer) {
  impl_->layerFaults.insert(LayerKey(staff, measure, layer));
}

void Host::ClearFaults() {
  impl_->loadFaults.clear();
  impl_->saveFaults.clear();
  impl_->createFaults.clear();
  impl_->layerFaults.clear();
  noLowMemory_ = false;
}

// --- host functions ---

std::int32_t Host::LoadRecord(std::uint32_t tag, void* key, void* buffer, std::int32_t* size) {
  ++counters_.loads;
  if (key == nullptr || (buffer != nullptr && size == nullptr)) return Result(false);
  const RecordId id = IdFromBytes(tag, static_cast<const std::uint8_t*>(key));
  if (Matches(impl_->loadFaults, id)) return Result(false);
  const auto* r = impl_->Find(id);
  if (r == nullptr) return Result(false);
  if (buffer != nullptr) {
    const std::size_t room = *size > 0 ? static_cast<std::size_t>(*size) : 0;
    // An empty record has no data() to copy from, not even zero bytes.
    const std::size_t n = std::min(room, r->size());
    if (n != 0) std::memcpy(buffer, r->data(), n);
  }
  if (size != nullptr) *size = static_cast<std::int32_t>(r->size());
  return Result(true);
}

std::int32_t Host::SaveRecord(std::uint32_t tag, void* key, const void* buffer, std::int32_t size) {
  ++counters_.saves;
  ++impl_->savesByTag[tag];
  bool ok = key != nullptr && size >= 0 && (buffer != nullptr || size == 0);
  RecordId id{};
  if (ok) {
    id = IdFromBytes(tag, static_cast<const std::uint8_t*>(key));
    ok = !Matches(impl_->saveFaults, id) && impl_->Find(id) != nullptr;
  }
  if (!ok) {
    ++counters_.failedSaves;
    return Result(false);
  }
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  impl_->records[id].assign(bytes, bytes + size);
  return Result(true);
}

std::int32_t Host::CreateRecord(std::uint32_t tag, void* key, const void* buffer,
                                std::int32_t size) {
  ++counters_.creates;
  ++impl_->createsByTag[tag];
  const auto fault = impl_->createFaults.find(tag);
  bool injected = false;
  if (fault != impl_->createFaults.end()) {
    injected = fault->second == 0;
    if (!injected) --fault->second;
  }
  if (key == nullptr || size < 0 || (buffer == nullptr && size != 0) || injected) {
    ++counters_.failedSaves;
    return Result(false);
  }
  const std::size_t keySize = KeySizeForTag(tag);
  auto* keyBytes = static_cast<std::uint8_t*>(key);
  std::uint8_t assigned[MaxKeySize] = {};
  std::memcpy(assigned, keyBytes, keySize);
  std::uint8_t* number = assigned;                  // first int16 of either key
  std::uint8_t* sequence = assigned + keySize - 2;  // last int16 of either key
  if (ReadU16(number) == NewChainNumber) {
    const std::int32_t next = impl_->NextNumber(tag);
    if (next < 0) {
      ++counters_.failedSaves;
      return Result(false);
    }
    WriteI16(number, static_cast<std::int16_t>(next));
  }
  if (ReadU16(sequence) == AppendSequence) {
    WriteI16(sequence, 0);
    while (impl_->Find(IdFromBytes(tag, assigned)) != nullptr) {
      if (ReadI16(sequence) == 0x7FFF) {
        ++counters_.failedSaves;
        return Result(false);
      }
      WriteI16(sequence, static_cast<std::int16_t>(ReadI16(sequence) + 1));
    }
  }
  const RecordId id = IdFromBytes(tag, assigned);
  if (impl_->Find(id) != nullptr) {
    ++counters_.failedSaves;
    return Result(false);
  }
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  impl_->Put(id, std::vector<std::uint8_t>(bytes, bytes + size));
  std::memcpy(keyBytes, assigned, keySize);
  return Result(true);
}

void* Host::LoadLayer(std::int32_t frame, std::int32_t measure, std::int32_t layer) {
  if (noLowMemory_ || layer < 0 || layer > 3 || measure < -32768 || measure > 32767) {
    return nullptr;
  }
  const std::uint64_t key =
      LayerKey(StaffForFrame(frame), static_cast<std::int16_t>(measure), layer);
  if (impl_->layerFaults.contains(key)) return nullptr;
  auto it = impl_->layers.find(key);
  if (it == impl_->layers.end()) return nullptr;
  const LayerData& data = it->second;
  // entryCount is an int16: a longer layer shows its first 32767 entries.
  const std::size_t count = std::min<std::size_t>(data.entries.size(), 0x7FFF);
  const std::size_t bytes = LayerHeaderBytes + count * LayerEntryLayout::Size;
  std::uint8_t* block = impl_->arena.Allocate(bytes);
  if (block == nullptr) return nullptr;
  impl_->loaded.push_back(LoadedLayer{block, bytes, data.duration});

  std::memset(block, LayerFillByte, bytes);
  std::uint8_t* entries = block + LayerHeaderBytes;
  WriteU32(block + LayerEntriesLayout::Entries,
           static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(entries)));
  WriteI16(block + LayerEntriesLayout::EntryCount, static_cast<std::int16_t>(count));
  for (std::size_t i = 0; i < count; ++i) {
    const Entry& e = data.entries[i];
    std::uint8_t* p = entries + i * LayerEntryLayout::Size;
    const std::uint32_t flags =
        e.otherFlags | (e.beamStart ? BeamStartFlag : 0u) | (e.skip ? SkipEntryFlag : 0u);
    WriteU32(p + LayerEntryLayout::EntryFlags, flags);
    WriteI32(p + LayerEntryLayout::Position, e.position);
    WriteI32(p + LayerEntryLayout::Duration, e.duration);
  }
  ++counters_.layerLoads;
  return block;
}

void Host::FreeLayer(void* layer) {
  if (layer == nullptr) return;
  auto it = impl_->FindLoaded(layer);
  if (it == impl_->loaded.end()) {
    ++counters_.badCalls;  // not ours, or freed twice
    return;
  }
  impl_->arena.Release(it->block, it->bytes);
  *it = impl_->loaded.back();
  impl_->loaded.pop_back();
  ++counters_.layerFrees;
}

std::int32_t Host::LayerDuration(void* layer) {
  auto it = impl_->FindLoaded(layer);
  if (it == impl_->loaded.end()) {
    ++counters_.badCalls;
    return 0;
  }
  return it->duration;
}

std::int32_t Host::CellFrame(std::int32_t staff) const {
  return FrameForStaff(static_cast<std::int16_t>(staff));
}

std::int32_t Host::StaffAtSlot(std::int32_t slot, std::int32_t staffList) const {
  if (slot < 0 || slot > 0x7FFF) return 0;
  if (staffList == 0) {
    const auto* r =
        impl_->Find(RecordKeyId(StaffListRecordTag, 0, static_cast<std::int16_t>(slot)));
    return r == nullptr || r->size() < 2 ? 0 : ReadI16(r->data() + StaffListRecordLayout::Staff);
  }
  if (staffList < -32768 || staffList > 32767) return 0;
  auto it = impl_->staffLists.find(static_cast<std::int16_t>(staffList));
  if (it == impl_->staffLists.end() || static_cast<std::size_t>(slot) >= it->second.size()) {
    return 0;
  }
  return it->second[static_cast<std::size_t>(slot)];
}

bool ReadMeasureSignature(const Host& host, std::int16_t measure, SignatureText& out) try {
  MeasureView view;
  out = SignatureText{};
  if (!host.ReadMeasure(measure, view)) return false;
  out.top = host.FormatTop(view.beats, (view.signatureFlags & CompositeTopFlag) != 0);
  out.bottom =
      host.FormatBottom(view.beatDuration, (view.signatureFlags & CompositeBottomFlag) != 0);
  out.hidden = (view.signatureFlags & AlwaysHideFlag) != 0;
  out.hasDisplay = (view.displayFlags & DisplayInUseFlag) != 0;
  if (out.hasDisplay) {
    out.displayTop =
        host.FormatTop(view.displayBeats, (view.displayFlags & DisplayCompositeTopFlag) != 0);
    out.displayBottom = host.FormatBottom(view.displayBeatDuration,
                                          (view.displayFlags & DisplayCompositeBottomFlag) != 0);
  }
  return true;
} catch (...) {
  return false;
}

bool ReadStaffSignature(const Host& host, std::int16_t staff, std::int16_t measure,
                        SignatureText& out) try {
  StaffTimeSigView view;
  out = SignatureText{};
  if (!host.ReadStaffTimeSig(staff, measure, view)) return false;
  out.top = host.FormatTop(view.beats, (view.signatureFlags & CompositeTopFlag) != 0);
  out.bottom =
      host.FormatBottom(view.beatDuration, (view.signatureFlags & CompositeBottomFlag) != 0);
  return true;
} catch (...) {
  return false;
}

void SetCurrentHost(Host* host) { currentHost = host; }
Host* CurrentHost() { return currentHost; }

}  // namespace simhost
