#include "settings/settings.h"

#include <cstring>

#include "platform/le_bytes.h"

Settings globalSettings;

namespace {

// The thirteen option fields in image order.
constexpr std::int16_t Settings::*OptionFields[] = {&Settings::autoUpdateLayout,
                                                    &Settings::onlySelectedStaves,
                                                    &Settings::includeHiddenStaves,
                                                    &Settings::onlyChangeAtConflicts,
                                                    &Settings::changeIndependentStaves,
                                                    &Settings::displayCurrentTimeSig,
                                                    &Settings::abbreviateDisplay,
                                                    &Settings::hideTimeSig,
                                                    &Settings::useComposite,
                                                    &Settings::preferComposite,
                                                    &Settings::compactBeatDuration,
                                                    &Settings::largestBeatDuration,
                                                    &Settings::minMeasureDuration};
constexpr std::size_t OptionFieldCount = 13;
static_assert(sizeof OptionFields / sizeof OptionFields[0] == OptionFieldCount);
static_assert(SettingsLayout::MinMeasureDuration == 2 * (OptionFieldCount - 1));

}  // namespace

void ApplyDefaultSettings(Settings& s) {
  s.autoUpdateLayout = 0;
  s.onlySelectedStaves = 1;
  s.includeHiddenStaves = 0;
  s.onlyChangeAtConflicts = 1;
  s.changeIndependentStaves = 0;
  s.displayCurrentTimeSig = 0;
  s.abbreviateDisplay = 1;
  s.hideTimeSig = 0;
  s.useComposite = 0;
  s.preferComposite = 0;
  s.compactBeatDuration = 1;
  s.largestBeatDuration = 0;
  s.minMeasureDuration = 1024;
  const std::int16_t allow[BeatDurationCount] = {0, 1, 1, 1, 1, 1};
  std::memcpy(s.allowBeat, allow, sizeof allow);
  std::memset(s.reserved, 0, sizeof s.reserved);
  s.presetName[0] = '\0';
  s.dialogLeft = NeverPlaced;
  s.dialogTop = NeverPlaced;
}

void ReadOptionBlock(const std::uint8_t* block, Settings& s) {
  for (std::size_t i = 0; i < OptionFieldCount; ++i) s.*OptionFields[i] = ReadI16(block + 2 * i);
  for (std::size_t i = 0; i < BeatDurationCount; ++i)
    s.allowBeat[i] = ReadI16(block + SettingsLayout::AllowBeat + 2 * i);
  for (std::size_t i = 0; i < 6; ++i)
    s.reserved[i] = ReadI16(block + SettingsLayout::Reserved + 2 * i);
}

void WriteOptionBlock(const Settings& settings, std::uint8_t* block) {
  for (std::size_t i = 0; i < OptionFieldCount; ++i)
    WriteI16(block + 2 * i, settings.*OptionFields[i]);
  for (std::size_t i = 0; i < BeatDurationCount; ++i)
    WriteI16(block + SettingsLayout::AllowBeat + 2 * i, settings.allowBeat[i]);
  for (std::size_t i = 0; i < 6; ++i)
    WriteI16(block + SettingsLayout::Reserved + 2 * i, settings.reserved[i]);
}

void ReadSettingsImage(const std::uint8_t* image, Settings& s) {
  ReadOptionBlock(image, s);
  std::memcpy(s.presetName, image + SettingsLayout::PresetName, PresetNameSize);
  s.dialogLeft = ReadI16(image + SettingsLayout::DialogLeft);
  s.dialogTop = ReadI16(image + SettingsLayout::DialogTop);
}

void WriteSettingsImage(const Settings& s, std::uint8_t* image) {
  WriteOptionBlock(s, image);
  std::memcpy(image + SettingsLayout::PresetName, s.presetName, PresetNameSize);
  WriteI16(image + SettingsLayout::DialogLeft, s.dialogLeft);
  WriteI16(image + SettingsLayout::DialogTop, s.dialogTop);
}
