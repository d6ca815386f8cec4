#include "settings/presets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/le_bytes.h"
#include "platform/standin/standin.h"

namespace {

using Image = std::vector<std::uint8_t>;

HWND const Owner = reinterpret_cast<HWND>(0x4321);

Image Snapshot() { return Image(presetTable, presetTable + PresetTableLayout::Size); }

std::uint8_t* SlotBytes(int index) {
  return presetTable + PresetTableLayout::FirstSlot + PresetTableLayout::SlotSize * index;
}

std::string Name(int index) {
  char name[PresetNameSize];
  PresetName(index, name);
  return name;
}

std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (int i = 0; i < PresetCount(); ++i) names.push_back(Name(i));
  return names;
}

// An option block whose bytes all carry the given value.
std::vector<std::uint8_t> Block(std::uint8_t fill) {
  return std::vector<std::uint8_t>(SettingsLayout::OptionBlockSize, fill);
}

class PresetTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::ResetAll();
    std::memset(presetTable, 0, sizeof presetTable);
  }
  void TearDown() override {
    EXPECT_EQ(standin::UnexpectedMessageBoxCount(), 0);
    EXPECT_EQ(standin::PendingMessageBoxAnswers(), 0);
  }
  void FillTwenty() {
    for (int i = 0; i < 20; ++i) {
      const std::string name = "Preset " + std::to_string(i);
      ASSERT_EQ(StorePreset(Owner, name.c_str(), Block(static_cast<std::uint8_t>(i)).data()), 1);
    }
  }
};

// The built-ins' bytes are pinned in golden_bytes_test; here: a reset gives
// four presets in table order, and copying one gives its slot's option block.
TEST_F(PresetTableTest, ResetStoresTheFourBuiltInsAndCopyGivesTheirBlocks) {
  ResetPresets();
  EXPECT_EQ(ReadI16(presetTable), 4);
  EXPECT_EQ(Names(),
            (std::vector<std::string>{"Upbeats", "Complex Beating", "Cadenza", "Composite"}));
  for (int i = 0; i < PresetCount(); ++i) {
    SCOPED_TRACE(Name(i));
    std::uint8_t block[SettingsLayout::OptionBlockSize];
    std::memset(block, 0xEE, sizeof block);
    ASSERT_EQ(CopyPresetSettings(Name(i).c_str(), block), 1);
    EXPECT_EQ(Image(block, block + sizeof block),
              Image(SlotBytes(i), SlotBytes(i) + SettingsLayout::OptionBlockSize));
  }
}

TEST_F(PresetTableTest, ResetLeavesSlotsFourToNineteenAlone) {
  std::memset(presetTable, 0xAB, sizeof presetTable);
  ResetPresets();
  EXPECT_EQ(PresetCount(), 4);
  for (int i = 4; i < 20; ++i) {
    for (std::size_t b = 0; b < PresetTableLayout::SlotSize; ++b) ASSERT_EQ(SlotBytes(i)[b], 0xAB);
  }
}

TEST_F(PresetTableTest, StoringAnExistingNameOverwritesInPlace) {
  ResetPresets();
  ASSERT_EQ(StorePreset(Owner, "Cadenza", Block(0x11).data()), 1);
  EXPECT_EQ(PresetCount(), 4);
  EXPECT_EQ(Names(),
            (std::vector<std::string>{"Upbeats", "Complex Beating", "Cadenza", "Composite"}));
  std::uint8_t block[SettingsLayout::OptionBlockSize];
  ASSERT_EQ(CopyPresetSettings("Cadenza", block), 1);
  EXPECT_EQ(Image(block, block + sizeof block), Block(0x11));
}

TEST_F(PresetTableTest, ANewNameIsAppended) {
  ResetPresets();
  ASSERT_EQ(StorePreset(Owner, "Mine", Block(7).data()), 1);
  EXPECT_EQ(PresetCount(), 5);
  EXPECT_EQ(Name(4), "Mine");
  EXPECT_EQ(SlotBytes(4)[0], 7);
}

TEST_F(PresetTableTest, OverwritingInAFullTableNeedsNoFreeSlot) {
  FillTwenty();
  const Image before = Snapshot();
  ASSERT_EQ(StorePreset(Owner, "Preset 7", Block(0x77).data()), 1);
  EXPECT_EQ(PresetCount(), 20);
  EXPECT_EQ(SlotBytes(7)[0], 0x77);
  EXPECT_EQ(Name(7), "Preset 7");
  // Every other slot is as it was.
  for (int i = 0; i < 20; ++i) {
    if (i == 7) continue;
    EXPECT_EQ(std::memcmp(SlotBytes(i), before.data() + (SlotBytes(i) - presetTable),
                          PresetTableLayout::SlotSize),
              0);
  }
}

TEST_F(PresetTableTest, ATwentyFirstNameIsRefusedWithAMessage) {
  FillTwenty();
  const Image before = Snapshot();
  standin::ExpectMessageBox(IDOK);
  EXPECT_EQ(StorePreset(Owner, "One too many", Block(0x21).data()), 0);
  EXPECT_EQ(Snapshot(), before);
  ASSERT_EQ(standin::MessageBoxCalls().size(), 1u);
  const standin::MessageBoxCall& box = standin::MessageBoxCalls()[0];
  EXPECT_EQ(box.owner, Owner);
  EXPECT_EQ(box.text,
            "No more presets can be added. You have to delete or overwrite an existing one.");
  EXPECT_EQ(box.caption, "Can't add more presets");
  EXPECT_EQ(box.style, MB_OK | MB_ICONHAND);
}

TEST_F(PresetTableTest, DeletingSlotZeroOfThreeMovesTheOthersUpAndKeepsTheLastBytes) {
  StorePreset(nullptr, "A", Block(0xA0).data());
  StorePreset(nullptr, "B", Block(0xB0).data());
  StorePreset(nullptr, "C", Block(0xC0).data());
  const Image before = Snapshot();
  ASSERT_EQ(DeletePreset("A"), 1);
  EXPECT_EQ(PresetCount(), 2);
  EXPECT_EQ(Names(), (std::vector<std::string>{"B", "C"}));
  EXPECT_EQ(SlotBytes(0)[0], 0xB0);
  EXPECT_EQ(SlotBytes(1)[0], 0xC0);
  // The former last slot is not cleared.
  EXPECT_EQ(std::memcmp(SlotBytes(2), before.data() + (SlotBytes(2) - presetTable),
                        PresetTableLayout::SlotSize),
            0);
}

TEST_F(PresetTableTest, DeletingTheLastPresetAndAMissingOne) {
  StorePreset(nullptr, "A", Block(1).data());
  StorePreset(nullptr, "B", Block(2).data());
  ASSERT_EQ(DeletePreset("B"), 1);
  EXPECT_EQ(Names(), std::vector<std::string>{"A"});
  const Image before = Snapshot();
  EXPECT_EQ(DeletePreset("B"), 0);
  EXPECT_EQ(DeletePreset("a"), 0);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(PresetTableTest, NamesCompareExactlyAndCaseSensitively) {
  ResetPresets();
  std::int16_t index = 99;
  EXPECT_EQ(FindPreset("cadenza", &index), 0);
  EXPECT_EQ(index, 99);
  EXPECT_EQ(FindPreset("Cadenza ", &index), 0);
  EXPECT_EQ(FindPreset("Cadenz", &index), 0);
  EXPECT_EQ(FindPreset("Cadenza", &index), 1);
  EXPECT_EQ(index, 2);
  // "cadenza" is a preset of its own.
  ASSERT_EQ(StorePreset(Owner, "cadenza", Block(3).data()), 1);
  EXPECT_EQ(PresetCount(), 5);
  EXPECT_EQ(FindPreset("cadenza", &index), 1);
  EXPECT_EQ(index, 4);
}

TEST_F(PresetTableTest, CopyOfAMissingPresetLeavesTheDestination) {
  ResetPresets();
  std::uint8_t block[SettingsLayout::OptionBlockSize];
  std::memset(block, 0xEE, sizeof block);
  EXPECT_EQ(CopyPresetSettings("composite", block), 0);
  for (std::uint8_t b : block) EXPECT_EQ(b, 0xEE);
}

TEST_F(PresetTableTest, ThirtyCharacterNamesAreKeptWholeAndLongerOnesCut) {
  const std::string thirty(30, 'x');
  ASSERT_EQ(StorePreset(Owner, thirty.c_str(), Block(1).data()), 1);
  EXPECT_EQ(Name(0), thirty);
  EXPECT_EQ(FindPreset(thirty.c_str(), nullptr), 1);

  // A longer name cannot spill into the next slot; it is kept as its first
  // 30 characters and found again under them.
  const std::string longer = std::string(30, 'y') + "zzz";
  std::memset(SlotBytes(1), 0x5A, PresetTableLayout::SlotSize);
  ASSERT_EQ(StorePreset(Owner, longer.c_str(), Block(2).data()), 1);
  EXPECT_EQ(Name(1), std::string(30, 'y'));
  EXPECT_EQ(SlotBytes(2)[0], 0);  // the next slot is untouched
  ASSERT_EQ(StorePreset(Owner, longer.c_str(), Block(3).data()), 1);
  EXPECT_EQ(PresetCount(), 2);
  EXPECT_EQ(SlotBytes(1)[0], 3);
}

// The count in the image may be anything after a load from elsewhere; no
// operation reaches beyond the 20 slots.
TEST_F(PresetTableTest, ACountOutsideTheSlotsIsLimitedToThem) {
  struct Row {
    std::int16_t stored;
    std::int16_t seen;
  };
  const Row rows[] = {{21, 20}, {0x7FFF, 20}, {-1, 0}, {-32768, 0}, {20, 20}, {0, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.stored);
    std::memset(presetTable, 'n', sizeof presetTable);  // names without terminators
    WriteI16(presetTable, row.stored);
    EXPECT_EQ(PresetCount(), row.seen);
    EXPECT_EQ(FindPreset("nnn", nullptr), 0);
    EXPECT_EQ(DeletePreset("nnn"), 0);
    // A name without a terminator counts as its first 30 characters.
    std::int16_t index = -1;
    EXPECT_EQ(FindPreset(std::string(30, 'n').c_str(), &index), row.seen > 0 ? 1 : 0);
    EXPECT_EQ(index, row.seen > 0 ? 0 : -1);
    EXPECT_EQ(FindPreset(std::string(31, 'n').c_str(), nullptr), 0);
    if (row.seen > 0) {
      EXPECT_EQ(Name(row.seen - 1), std::string(30, 'n'));  // terminated within the slot
      EXPECT_EQ(Name(row.seen), "");
    }
    if (row.stored >= 20) {
      standin::ExpectMessageBox(IDOK);
      EXPECT_EQ(StorePreset(Owner, "new", Block(1).data()), 0);
    } else {
      EXPECT_EQ(StorePreset(Owner, "new", Block(1).data()), 1);
      EXPECT_EQ(PresetCount(), row.seen + 1);
      EXPECT_EQ(Name(row.seen), "new");
    }
  }
}

}  // namespace
