// The Settings record: every option of the plug-in, one process-wide
// instance. Its 85-byte little-endian image is what the registry stores; the
// first 50 bytes (the option block) are also the content of a preset.
#pragma once

#include <cstddef>
#include <cstdint>

namespace SettingsLayout {
constexpr std::size_t AutoUpdateLayout = 0;
constexpr std::size_t OnlySelectedStaves = 2;
constexpr std::size_t IncludeHiddenStaves = 4;
constexpr std::size_t OnlyChangeAtConflicts = 6;
constexpr std::size_t ChangeIndependentStaves = 8;
constexpr std::size_t DisplayCurrentTimeSig = 10;
constexpr std::size_t AbbreviateDisplay = 12;
constexpr std::size_t HideTimeSig = 14;
constexpr std::size_t UseComposite = 16;
constexpr std::size_t PreferComposite = 18;
constexpr std::size_t CompactBeatDuration = 20;
constexpr std::size_t LargestBeatDuration = 22;
constexpr std::size_t MinMeasureDuration = 24;
constexpr std::size_t AllowBeat = 26;   // six int16 in BeatDurationTable order
constexpr std::size_t Reserved = 38;    // six int16
constexpr std::size_t PresetName = 50;  // 31 bytes, NUL-terminated
constexpr std::size_t DialogLeft = 81;
constexpr std::size_t DialogTop = 83;
constexpr std::size_t Size = 85;
constexpr std::size_t OptionBlockSize = 50;
}  // namespace SettingsLayout
// Thirteen int16 options, six allowBeat and six reserved int16, the name,
// the two odd-offset positions; the last ends where the record does.
static_assert(SettingsLayout::AllowBeat == SettingsLayout::MinMeasureDuration + 2 &&
              SettingsLayout::Reserved == SettingsLayout::AllowBeat + 6 * 2 &&
              SettingsLayout::PresetName == SettingsLayout::Reserved + 6 * 2 &&
              SettingsLayout::OptionBlockSize == SettingsLayout::PresetName &&
              SettingsLayout::DialogLeft == SettingsLayout::PresetName + 31 &&
              SettingsLayout::DialogTop == SettingsLayout::DialogLeft + 2);
static_assert(SettingsLayout::DialogTop + 2 == SettingsLayout::Size);

constexpr std::size_t BeatDurationCount = 6;
constexpr std::size_t PresetNameSize = 31;  // 30 characters and the NUL
constexpr std::int16_t NeverPlaced = static_cast<std::int16_t>(0x8000);
constexpr std::int16_t MaxMinMeasureDuration = 8192;

// The candidate beat durations, longest first; entry i pairs with allowBeat[i].
inline constexpr std::int32_t BeatDurationTable[BeatDurationCount] = {2048, 1536, 1024,
                                                                      512,  256,  128};

struct Settings {
  std::int16_t autoUpdateLayout;
  std::int16_t onlySelectedStaves;
  std::int16_t includeHiddenStaves;
  std::int16_t onlyChangeAtConflicts;
  std::int16_t changeIndependentStaves;
  std::int16_t displayCurrentTimeSig;
  std::int16_t abbreviateDisplay;
  std::int16_t hideTimeSig;
  std::int16_t useComposite;
  std::int16_t preferComposite;
  std::int16_t compactBeatDuration;
  std::int16_t largestBeatDuration;
  std::int16_t minMeasureDuration;
  std::int16_t allowBeat[BeatDurationCount];
  std::int16_t reserved[6];
  char presetName[PresetNameSize];
  std::int16_t dialogLeft;
  std::int16_t dialogTop;
};

// The process-wide Settings record.
extern Settings globalSettings;

// Puts the Default column into the option fields, zeroes `reserved`, empties
// presetName (first byte only) and marks the dialog position as never placed.
// Does not touch the preset table (see ResetSettings in persistence.h).
void ApplyDefaultSettings(Settings& settings);

// The record's 85-byte image, field by field, and back. Values are taken as
// they stand; reading then writing gives back the same bytes.
void ReadSettingsImage(const std::uint8_t* image, Settings& settings);
void WriteSettingsImage(const Settings& settings, std::uint8_t* image);

// The 50-byte option block (bytes 0..49 of the image).
void ReadOptionBlock(const std::uint8_t* block, Settings& settings);
void WriteOptionBlock(const Settings& settings, std::uint8_t* block);
