// The preset table: up to 20 named copies of the Settings' option block, kept
// as the 1622-byte little-endian image that the registry value "Presets"
// holds byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"
#include "settings/settings.h"

namespace PresetTableLayout {
constexpr std::size_t Count = 0;  // int16, presets in use
constexpr std::size_t FirstSlot = 2;
constexpr std::size_t SlotSize = 81;
constexpr std::size_t SlotCount = 20;
constexpr std::size_t Size = FirstSlot + SlotSize * SlotCount;
// Within a slot.
constexpr std::size_t OptionBlock = 0;  // 50 bytes, as bytes 0..49 of the Settings
constexpr std::size_t Name = 50;        // 31 bytes, NUL-terminated
}  // namespace PresetTableLayout
static_assert(PresetTableLayout::Size == 1622);
static_assert(PresetTableLayout::Name == SettingsLayout::OptionBlockSize);
static_assert(PresetTableLayout::Name + PresetNameSize == PresetTableLayout::SlotSize);

constexpr std::int16_t MaxPresets = static_cast<std::int16_t>(PresetTableLayout::SlotCount);

// The process-wide preset table image. Slots from the count on carry no
// meaning but are kept as they are (they are stored with the rest).
extern std::uint8_t presetTable[PresetTableLayout::Size];

// The count at the head of the image, limited to 0..20 so that no operation
// reaches beyond the slots whatever the image holds.
std::int16_t PresetCount();
// Copies the name of slot index (0..count-1) into out, always terminated
// within 31 bytes; false (out emptied) for an index not in use.
bool PresetName(int index, char (&out)[PresetNameSize]);

// 1 and the slot index of the preset named exactly name (case-sensitive), or
// 0 with index untouched.
std::int16_t FindPreset(const char* name, std::int16_t* index);
// Overwrites the preset of that name or appends a new one; 0 (after the
// "Can't add more presets" box, owned by owner) when 20 already exist.
std::int16_t StorePreset(HWND owner, const char* name, const std::uint8_t* block);
// 1 when the preset was removed (later ones move up), 0 when there is none.
std::int16_t DeletePreset(const char* name);
// 1 and the preset's 50-byte option block in block, or 0 with block untouched.
std::int16_t CopyPresetSettings(const char* name, std::uint8_t* block);
// Count 0, then the four built-in presets; slots 4..19 are not touched.
void ResetPresets();
