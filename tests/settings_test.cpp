#include <gtest/gtest.h>

#include <cstring>

#include "settings/settings.h"

namespace {

TEST(Settings, DefaultsFieldByField) {
  Settings s;
  std::memset(&s, 0x5A, sizeof s);
  ApplyDefaultSettings(s);
  const std::int16_t expected[] = {0, 1, 0, 1, 0, 0, 1, 0, 0, 0, 1, 0, 1024};
  std::uint8_t image[SettingsLayout::Size];
  WriteSettingsImage(s, image);
  for (std::size_t i = 0; i < 13; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(image[2 * i] | (image[2 * i + 1] << 8), static_cast<std::uint16_t>(expected[i]));
  }
  const std::int16_t allow[] = {0, 1, 1, 1, 1, 1};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(s.allowBeat[i], allow[i]);
  for (std::int16_t r : s.reserved) EXPECT_EQ(r, 0);
  EXPECT_EQ(s.presetName[0], '\0');
  EXPECT_EQ(s.presetName[1], 0x5A);  // only the first byte is emptied
  EXPECT_EQ(s.dialogLeft, -32768);
  EXPECT_EQ(s.dialogTop, -32768);
  // dialogLeft sits at the odd offset 81.
  EXPECT_EQ(image[81], 0x00);
  EXPECT_EQ(image[82], 0x80);
  EXPECT_EQ(image[83], 0x00);
  EXPECT_EQ(image[84], 0x80);
}

TEST(Settings, ImageRoundTripKeepsEveryByte) {
  std::uint8_t image[SettingsLayout::Size];
  for (std::size_t i = 0; i < sizeof image; ++i) image[i] = static_cast<std::uint8_t>(i * 37 + 11);
  image[SettingsLayout::PresetName + 3] = 0;  // bytes after the NUL survive too
  Settings s{};
  ReadSettingsImage(image, s);
  std::uint8_t back[SettingsLayout::Size] = {};
  WriteSettingsImage(s, back);
  EXPECT_EQ(0, std::memcmp(image, back, sizeof image));
}

TEST(Settings, FieldsAtTheirOffsets) {
  std::uint8_t image[SettingsLayout::Size] = {};
  image[SettingsLayout::MinMeasureDuration] = 0x00;
  image[SettingsLayout::MinMeasureDuration + 1] = 0x20;  // 8192
  image[SettingsLayout::AllowBeat + 2 * 5] = 1;          // thirty-second
  image[SettingsLayout::UseComposite] = 1;
  image[SettingsLayout::DialogTop] = 0xFF;
  image[SettingsLayout::DialogTop + 1] = 0xFF;
  Settings s{};
  ReadSettingsImage(image, s);
  EXPECT_EQ(s.minMeasureDuration, 8192);
  EXPECT_EQ(s.allowBeat[5], 1);
  EXPECT_EQ(s.allowBeat[0], 0);
  EXPECT_EQ(s.useComposite, 1);
  EXPECT_EQ(s.dialogTop, -1);
}

TEST(Settings, OptionBlockIsTheFirstFiftyBytes) {
  Settings s{};
  ApplyDefaultSettings(s);
  s.reserved[5] = 0x1234;
  std::uint8_t block[SettingsLayout::OptionBlockSize];
  WriteOptionBlock(s, block);
  std::uint8_t image[SettingsLayout::Size];
  WriteSettingsImage(s, image);
  EXPECT_EQ(0, std::memcmp(block, image, sizeof block));
  Settings t{};
  ReadOptionBlock(block, t);
  EXPECT_EQ(t.reserved[5], 0x1234);
  EXPECT_EQ(t.minMeasureDuration, 1024);
}

}  // namespace
