#include "settings/presets.h"

#include <cstring>

#include "platform/le_bytes.h"

std::uint8_t presetTable[PresetTableLayout::Size];

namespace {

std::uint8_t* Slot(std::int16_t index) {
  return presetTable + PresetTableLayout::FirstSlot +
         PresetTableLayout::SlotSize * static_cast<std::size_t>(index);
}

char* SlotName(std::int16_t index) {
  return reinterpret_cast<char*>(Slot(index) + PresetTableLayout::Name);
}

void SetCount(std::int16_t count) { WriteI16(presetTable + PresetTableLayout::Count, count); }

// Equal in every byte up to and including the terminator. A slot name
// without a terminator in its first 30 characters counts as cut there, as
// PresetName shows it.
bool SameName(const char* slotName, const char* name) {
  for (std::size_t i = 0; i + 1 < PresetNameSize; ++i) {
    if (slotName[i] != name[i]) return false;
    if (name[i] == '\0') return true;
  }
  return name[PresetNameSize - 1] == '\0';
}

struct BuiltInPreset {
  const char* name;
  std::int16_t options[13];
};

// The thirteen option fields in block order; every built-in allows the same
// beat durations (all but the half note) and has zero reserved words.
constexpr BuiltInPreset BuiltInPresets[] = {
    {"Upbeats", {0, 1, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 1024}},
    {"Complex Beating", {0, 1, 0, 0, 0, 1, 1, 0, 1, 0, 1, 0, 1024}},
    {"Cadenza", {0, 1, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 1024}},
    {"Composite", {0, 1, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 1024}},
};
constexpr std::int16_t BuiltInAllowBeat[BeatDurationCount] = {0, 1, 1, 1, 1, 1};

}  // namespace

std::int16_t PresetCount() {
  const std::int16_t count = ReadI16(presetTable + PresetTableLayout::Count);
  if (count < 0) return 0;
  return count > MaxPresets ? MaxPresets : count;
}

bool PresetName(int index, char (&out)[PresetNameSize]) {
  out[0] = '\0';
  if (index < 0 || index >= PresetCount()) return false;
  std::memcpy(out, SlotName(static_cast<std::int16_t>(index)), PresetNameSize);
  out[PresetNameSize - 1] = '\0';
  return true;
}

std::int16_t FindPreset(const char* name, std::int16_t* index) {
  if (name == nullptr) return 0;
  const std::int16_t count = PresetCount();
  for (std::int16_t i = 0; i < count; ++i) {
    if (SameName(SlotName(i), name)) {
      if (index != nullptr) *index = i;
      return 1;
    }
  }
  return 0;
}

std::int16_t StorePreset(HWND owner, const char* name, const std::uint8_t* block) {
  if (name == nullptr || block == nullptr) return 0;
  // Names are at most 30 characters; a longer one is cut there rather than
  // spilling into the next slot, and is looked up as cut.
  char bounded[PresetNameSize];
  std::size_t length = 0;
  while (length < PresetNameSize - 1 && name[length] != '\0') {
    bounded[length] = name[length];
    ++length;
  }
  bounded[length] = '\0';
  std::int16_t target = 0;
  const bool existing = FindPreset(bounded, &target) != 0;
  if (!existing) {
    // A count beyond the slots counts as full.
    if (ReadI16(presetTable + PresetTableLayout::Count) >= MaxPresets) {
      MessageBoxA(owner,
                  "No more presets can be added. You have to delete or overwrite an existing one.",
                  "Can't add more presets", MB_OK | MB_ICONHAND);
      return 0;
    }
    target = PresetCount();
  }
  std::memcpy(SlotName(target), bounded, length + 1);
  std::memcpy(Slot(target) + PresetTableLayout::OptionBlock, block,
              SettingsLayout::OptionBlockSize);
  if (!existing) SetCount(static_cast<std::int16_t>(target + 1));
  return 1;
}

std::int16_t DeletePreset(const char* name) {
  std::int16_t index = 0;
  if (FindPreset(name, &index) == 0) return 0;
  const std::int16_t count = PresetCount();
  // The former last slot keeps its bytes.
  for (std::int16_t j = index; j + 1 < count; ++j) {
    std::memmove(Slot(j), Slot(static_cast<std::int16_t>(j + 1)), PresetTableLayout::SlotSize);
  }
  SetCount(static_cast<std::int16_t>(count - 1));
  return 1;
}

std::int16_t CopyPresetSettings(const char* name, std::uint8_t* block) {
  std::int16_t index = 0;
  if (block == nullptr || FindPreset(name, &index) == 0) return 0;
  std::memcpy(block, Slot(index) + PresetTableLayout::OptionBlock, SettingsLayout::OptionBlockSize);
  return 1;
}

void ResetPresets() {
  SetCount(0);
  for (const BuiltInPreset& preset : BuiltInPresets) {
    std::uint8_t block[SettingsLayout::OptionBlockSize] = {};
    for (std::size_t i = 0; i < 13; ++i) WriteI16(block + 2 * i, preset.options[i]);
    for (std::size_t i = 0; i < BeatDurationCount; ++i)
      WriteI16(block + SettingsLayout::AllowBeat + 2 * i, BuiltInAllowBeat[i]);
    StorePreset(nullptr, preset.name, block);
  }
}
