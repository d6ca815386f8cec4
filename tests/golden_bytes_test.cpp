// Wire images pinned byte for byte, written out by hand from the record
// tables of the design (offsets, widths, defaults, built-in presets, menu
// texts), not derived from the layout constants the code uses: a wrong
// constant makes code and its other tests agree, and these fixtures disagree.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/writing.h"
#include "cli/plugin_session.h"
#include "host/host.h"
#include "platform/standin/standin.h"
#include "plugin/entry.h"
#include "settings/settings.h"
#include "simhost/simhost.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// "00 04 1f ..." to bytes; blanks and line breaks are ignored.
Bytes Hex(const std::string& text) {
  Bytes out;
  std::string digits;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

Bytes Zeros(std::size_t n) { return Bytes(n, 0); }

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A text field: the characters, then NUL bytes up to the field's size.
Bytes Text(const std::string& text, std::size_t fieldSize) {
  Bytes out(text.begin(), text.end());
  out.resize(fieldSize, 0);
  return out;
}

// The first difference, readably.
std::string FirstDifference(const Bytes& actual, const Bytes& expected) {
  if (actual.size() != expected.size()) {
    return "size " + std::to_string(actual.size()) + ", expected " +
           std::to_string(expected.size());
  }
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (actual[i] != expected[i]) {
      return "offset " + std::to_string(i) + ": " + std::to_string(actual[i]) + ", expected " +
             std::to_string(expected[i]);
    }
  }
  return "";
}

#define EXPECT_BYTES(actual, expected) EXPECT_EQ(FirstDifference(actual, expected), "")

// The registry as a first run leaves it: the plug-in initialised on an empty
// registry and terminated. The key and value names are the design's.
Bytes FirstRunValue(const char* name) {
  standin::ResetAll();
  HWND window = standin::NewWindow();
  FinaleExtensionVersion(0x05000005);
  FinaleExtensionInit(window, 0);
  FinaleExtensionTerminate(0);
  Bytes bytes;
  DWORD type = 0;
  EXPECT_TRUE(standin::GetRegistryValue("Software\\ZADezidar\\KQMeterfix100", name, &type, &bytes));
  EXPECT_EQ(type, 3u);  // REG_BINARY
  return bytes;
}

// The option block of the Default column: thirteen fields, six allowBeat
// flags (half note first), six reserved words.
const char* const DefaultOptionBlock =
    "00 00  01 00  00 00  01 00  00 00  00 00  01 00  00 00  00 00  00 00  01 00  00 00"
    "00 04"
    "00 00  01 00  01 00  01 00  01 00  01 00"
    "00 00 00 00 00 00 00 00 00 00 00 00";

TEST(GoldenBytes, DefaultSettingsImageIs85Bytes) {
  // A first run starts from zero-filled storage, so the bytes after the
  // preset name's NUL, which carry no meaning, are 0 as well.
  const Bytes expected = Join({Hex(DefaultOptionBlock), Zeros(31), Hex("00 80  00 80")});
  ASSERT_EQ(expected.size(), 85u);
  EXPECT_BYTES(FirstRunValue("UserDialog"), expected);
}

// Over storage that held something else, the defaults empty only the preset
// name's first byte; the dialog position (0x8000, never placed) sits at the
// odd offsets 81 and 83.
TEST(GoldenBytes, DefaultsOverUsedStorageEmptyOnlyTheNamesFirstByte) {
  Settings settings;
  std::memset(&settings, 0x5A, sizeof settings);
  ApplyDefaultSettings(settings);
  Bytes image(85, 0xEE);
  WriteSettingsImage(settings, image.data());
  EXPECT_BYTES(image,
               Join({Hex(DefaultOptionBlock), Hex("00"), Bytes(30, 0x5A), Hex("00 80  00 80")}));
}

// Field k of the image (counted from 1) holds 0x4000 + k: thirteen options,
// six allowBeat flags, six reserved words; then the name and the positions.
TEST(GoldenBytes, SettingsImageFieldByField) {
  Bytes numbered;
  for (std::uint8_t k = 1; k <= 25; ++k) numbered.insert(numbered.end(), {k, 0x40});
  const Bytes image = Join({numbered, Text("Mine", 31), Hex("fe ff  ff 7f")});
  ASSERT_EQ(image.size(), 85u);
  Settings s{};
  ReadSettingsImage(image.data(), s);
  const std::int16_t options[] = {s.autoUpdateLayout,
                                  s.onlySelectedStaves,
                                  s.includeHiddenStaves,
                                  s.onlyChangeAtConflicts,
                                  s.changeIndependentStaves,
                                  s.displayCurrentTimeSig,
                                  s.abbreviateDisplay,
                                  s.hideTimeSig,
                                  s.useComposite,
                                  s.preferComposite,
                                  s.compactBeatDuration,
                                  s.largestBeatDuration,
                                  s.minMeasureDuration};
  for (int k = 0; k < 13; ++k) EXPECT_EQ(options[k], 0x4001 + k) << "option " << k;
  for (int b = 0; b < 6; ++b) EXPECT_EQ(s.allowBeat[b], 0x400E + b) << "allowBeat " << b;
  for (int r = 0; r < 6; ++r) EXPECT_EQ(s.reserved[r], 0x4014 + r) << "reserved " << r;
  EXPECT_STREQ(s.presetName, "Mine");
  EXPECT_EQ(s.dialogLeft, -2);
  EXPECT_EQ(s.dialogTop, 0x7FFF);
  Bytes back(85, 0xEE);
  WriteSettingsImage(s, back.data());
  EXPECT_BYTES(back, image);
  // The option block (a preset's content) is the first 50 bytes, both ways.
  Bytes block(50, 0xEE);
  WriteOptionBlock(s, block.data());
  EXPECT_BYTES(block, Bytes(image.begin(), image.begin() + 50));
  Settings fromBlock{};
  ReadOptionBlock(block.data(), fromBlock);
  EXPECT_EQ(fromBlock.minMeasureDuration, 0x400D);
  EXPECT_EQ(fromBlock.reserved[5], 0x4019);
  EXPECT_EQ(fromBlock.presetName[0], '\0');
}

TEST(GoldenBytes, SettingsImageKeepsEveryByteThroughTheRecord) {
  Bytes image(85);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 37 + 11);
  image[53] = 0;  // bytes after the name's NUL come back too
  Settings s{};
  ReadSettingsImage(image.data(), s);
  Bytes back(85, 0);
  WriteSettingsImage(s, back.data());
  EXPECT_BYTES(back, image);
}

TEST(GoldenBytes, FirstRunPresetsImageIs1622BytesWithFourPresets) {
  const Bytes upbeats = Join({Hex("00 00  01 00  00 00  01 00  00 00  01 00  01 00  00 00"
                                  "00 00  00 00  00 00  00 00  00 04"
                                  "00 00  01 00  01 00  01 00  01 00  01 00"),
                              Zeros(12), Text("Upbeats", 31)});
  const Bytes complexBeating = Join({Hex("00 00  01 00  00 00  00 00  00 00  01 00  01 00  00 00"
                                         "01 00  00 00  01 00  00 00  00 04"
                                         "00 00  01 00  01 00  01 00  01 00  01 00"),
                                     Zeros(12), Text("Complex Beating", 31)});
  const Bytes cadenza = Join({Hex("00 00  01 00  00 00  01 00  00 00  00 00  00 00  01 00"
                                  "00 00  00 00  00 00  00 00  00 04"
                                  "00 00  01 00  01 00  01 00  01 00  01 00"),
                              Zeros(12), Text("Cadenza", 31)});
  const Bytes composite = Join({Hex("00 00  01 00  00 00  00 00  00 00  00 00  00 00  00 00"
                                    "01 00  01 00  01 00  00 00  00 04"
                                    "00 00  01 00  01 00  01 00  01 00  01 00"),
                                Zeros(12), Text("Composite", 31)});
  // Count 4, four slots of 81 bytes, sixteen unused slots (zero on a first run).
  const Bytes expected =
      Join({Hex("04 00"), upbeats, complexBeating, cadenza, composite, Zeros(16 * 81)});
  ASSERT_EQ(expected.size(), 1622u);
  EXPECT_BYTES(FirstRunValue("Presets"), expected);
}

TEST(GoldenBytes, MenuCommandInfoAsEnumerateFillsItIs196Bytes) {
  Bytes info(196, 0xEE);
  ASSERT_EQ(FinaleExtensionEnumerate(0, 0, info.data()), 1);
  const Bytes expected = Join({Text("KQ Me&terfix [v. 1.01]", 64), Text("KQ Meterfix", 64),
                               Text("KQ Meterfix", 64), Hex("00 00  00 00")});
  ASSERT_EQ(expected.size(), 196u);
  EXPECT_BYTES(info, expected);
}

TEST(GoldenBytes, MeasureRecordWithACompositeTopAndAPlainBottomIs24Bytes) {
  simhost::Host host;
  simhost::SetCurrentHost(&host);
  ApplyDefaultSettings(globalSettings);
  // 4/4 shown as 3/1024 through a display signature; unknown bytes and bits
  // everywhere (0x0801 in signatureFlags, 0x0401 in extraFlags, 0x8000 in
  // displayFlags) must come back as they were.
  host.PutRecord(0x534F4D53, Hex("01 00 00 00"),
                 Hex("11 22 33 44  04 00  00 04  01 08  01 04  03 00  00 04  06 80"
                     "55 66 77 88 99 aa"));
  EXPECT_NE(WriteMeasureSignature(1, "3+3+2", "512") & 0xFFFF, 0);
  Bytes record;
  ASSERT_TRUE(host.GetRecord(0x534F4D53, Hex("01 00 00 00"), record));
  // beats: chain 1 (the host's first); beatDuration 512; signatureFlags with
  // compositeTop (0x0080) set; extraFlags kept (not hidden); the display
  // signature dropped: its numbers 0, displayFlags ANDed with 0xFCFB.
  EXPECT_BYTES(record, Hex("11 22 33 44  01 00  00 02  81 08  01 04  00 00  00 00  02 80"
                           "55 66 77 88 99 aa"));
  // The chain: (3, group start) (3), then (2) and an empty slot.
  Bytes top;
  ASSERT_TRUE(host.GetRecord(0x6F745455, Hex("01 00 00 00"), top));
  EXPECT_BYTES(top, Hex("03 00 00 00 01 00  03 00 00 00 00 00"));
  ASSERT_TRUE(host.GetRecord(0x6F745455, Hex("01 00 01 00"), top));
  EXPECT_BYTES(top, Hex("02 00 00 00 00 00  00 00 00 00 00 00"));
  simhost::SetCurrentHost(nullptr);
}

TEST(GoldenBytes, OneLayerEntryIs146Bytes) {
  simhost::Host host;
  simhost::SetCurrentHost(&host);
  host.AddStaff(3);
  // A beamed eighth at 1536 with a further flag bit the host carries.
  host.SetLayer(3, 2, 1, 2048, {{1536, 512, true, false, 0x00010000}});
  void* layer = HostLoadLayer(0, HostCellFrame(3, 0, 0x05000005), 2, 1, 0, 0x05000005);
  ASSERT_NE(layer, nullptr);
  const auto* bytes = static_cast<const std::uint8_t*>(layer);
  // LayerEntries: the entries' 32-bit address at 14, the count at 18.
  const std::uint32_t address =
      bytes[14] | bytes[15] << 8 | bytes[16] << 16 | static_cast<std::uint32_t>(bytes[17]) << 24;
  EXPECT_EQ(bytes[18] | bytes[19] << 8, 1);
  const auto* entry = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(address));
  // entryFlags at 8 (beamStart 0x800 and the carried 0x10000), position at
  // 136, duration at 140; the host fills what the entry does not use with 0xCC.
  const Bytes expected = Join({Hex("cc cc cc cc cc cc cc cc  00 08 01 00"), Bytes(124, 0xCC),
                               Hex("00 06 00 00  00 02 00 00  cc cc")});
  ASSERT_EQ(expected.size(), 146u);
  EXPECT_BYTES(Bytes(entry, entry + 146), expected);
  HostFreeLayer(layer, 0x05000005);
  EXPECT_EQ(host.counters().badCalls, 0);
  simhost::SetCurrentHost(nullptr);
}

TEST(GoldenBytes, SelectionRegionIs20Bytes) {
  // Staff list 7, slots 1..3, measures 4..9, from 256 EDUs into measure 4
  // through the end of measure 9; the host fills the unused word with 0xA5.
  const auto region = simhost::MakeSelectionRegion(7, 1, 4, 256, 3, 9, 0x7FFFFFFF);
  EXPECT_BYTES(Bytes(region.begin(), region.end()),
               Hex("07 00  01 00  04 00  00 01 00 00  a5 a5  03 00  09 00  ff ff ff 7f"));
  // meterfix asks for whole measures 2..5 on slots 0..1 of staff list 0.
  EXPECT_BYTES(meterfix::MakeWholeMeasureRegion(2, 5, 0, 1),
               Hex("00 00  00 00  02 00  00 00 00 00  00 00  01 00  05 00  ff ff ff 7f"));
}

}  // namespace
