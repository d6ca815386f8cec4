#include "settings/persistence.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/le_bytes.h"
#include "platform/standin/standin.h"
#include "settings/presets.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::vector<std::string> BuiltInNames = {"Upbeats", "Complex Beating", "Cadenza",
                                               "Composite"};

std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (int i = 0; i < PresetCount(); ++i) {
    char name[PresetNameSize];
    PresetName(i, name);
    names.push_back(name);
  }
  return names;
}

Bytes SettingsBytes(const Settings& settings) {
  Bytes image(SettingsLayout::Size);
  WriteSettingsImage(settings, image.data());
  return image;
}

// The defaults over a record that was filled with 0x5A as the fixture's is
// (the reset empties only the first byte of presetName).
Bytes DefaultSettingsBytes() {
  Settings defaults;
  std::memset(&defaults, 0x5A, sizeof defaults);
  ApplyDefaultSettings(defaults);
  return SettingsBytes(defaults);
}

// A "UserDialog" image that differs from the defaults in every field.
Bytes StoredUserDialog(std::size_t size = SettingsLayout::Size) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(0x30 + i);
  return image;
}

// A "Presets" image holding the given names, each option block filled with
// the preset's index + 1; the unused slots carry a recognisable pattern.
Bytes StoredPresets(const std::vector<std::string>& names, std::int16_t count) {
  Bytes image(PresetTableLayout::Size, 0xC5);
  WriteI16(image.data(), count);
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::uint8_t* slot =
        image.data() + PresetTableLayout::FirstSlot + PresetTableLayout::SlotSize * i;
    std::memset(slot, static_cast<int>(i + 1), SettingsLayout::OptionBlockSize);
    std::memset(slot + PresetTableLayout::Name, 0, PresetNameSize);
    std::memcpy(slot + PresetTableLayout::Name, names[i].c_str(), names[i].size());
  }
  return image;
}

void Store(const char* name, const Bytes& bytes, DWORD type = REG_BINARY) {
  standin::SetRegistryValue(SettingsKeyPath, name, type, bytes);
}

Bytes Stored(const char* name, DWORD* type = nullptr) {
  Bytes bytes;
  EXPECT_TRUE(standin::GetRegistryValue(SettingsKeyPath, name, type, &bytes)) << name;
  return bytes;
}

class PersistenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::ResetAll();
    std::memset(presetTable, 0, sizeof presetTable);
    std::memset(&settings, 0x5A, sizeof settings);
  }
  void TearDown() override {
    // Registry failures are never shown, and every key is closed again.
    EXPECT_TRUE(standin::MessageBoxCalls().empty());
    EXPECT_EQ(standin::OpenRegistryKeyCount(), 0);
  }
  Settings settings;
};

TEST_F(PersistenceTest, FirstRunUsesDefaultsAndTerminationCreatesTheKey) {
  EXPECT_EQ(LoadSettings(&settings), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SettingsBytes(settings), DefaultSettingsBytes());
  EXPECT_EQ(settings.dialogLeft, NeverPlaced);
  EXPECT_EQ(settings.dialogTop, NeverPlaced);
  EXPECT_EQ(Names(), BuiltInNames);
  EXPECT_FALSE(standin::RegistryKeyExists(SettingsKeyPath));

  EXPECT_EQ(SaveSettings(&settings), ERROR_SUCCESS);
  ASSERT_TRUE(standin::RegistryKeyExists(SettingsKeyPath));
  DWORD type = REG_NONE;
  const Bytes userDialog = Stored(SettingsValueName, &type);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(userDialog.size(), 85u);
  EXPECT_EQ(userDialog, SettingsBytes(settings));
  const Bytes presets = Stored(PresetsValueName, &type);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(presets.size(), 1622u);
  EXPECT_EQ(presets, Bytes(presetTable, presetTable + PresetTableLayout::Size));
  EXPECT_EQ(standin::RegistryValueNames(SettingsKeyPath).size(), 2u);
}

TEST_F(PersistenceTest, KeyNamesAreCaseInsensitiveAsInWindows) {
  standin::SetRegistryValue("software\\zadezidar\\kqmeterfix100", "userdialog", REG_BINARY,
                            StoredUserDialog());
  EXPECT_EQ(LoadSettings(&settings), ERROR_SUCCESS);
  EXPECT_EQ(SettingsBytes(settings), StoredUserDialog());
}

TEST_F(PersistenceTest, LoadingAndSavingWritesBackTheSameBytes) {
  const Bytes userDialog = StoredUserDialog();
  Bytes presets = StoredPresets({"One", "Two", "Three"}, 3);
  presets[PresetTableLayout::FirstSlot + PresetTableLayout::Name + 10] = 0x77;  // behind a NUL
  Store(SettingsValueName, userDialog);
  Store(PresetsValueName, presets);
  EXPECT_EQ(LoadSettings(&settings), ERROR_SUCCESS);
  standin::ClearRegistry();
  EXPECT_EQ(SaveSettings(&settings), ERROR_SUCCESS);
  EXPECT_EQ(Stored(SettingsValueName), userDialog);
  EXPECT_EQ(Stored(PresetsValueName), presets);
}

TEST_F(PersistenceTest, AStoredTableOfTwoPresetsReplacesTheBuiltIns) {
  Store(PresetsValueName, StoredPresets({"Slow", "Fast"}, 2));
  EXPECT_EQ(LoadSettings(&settings), ERROR_SUCCESS);
  EXPECT_EQ(Names(), (std::vector<std::string>{"Slow", "Fast"}));
  EXPECT_EQ(FindPreset("Upbeats", nullptr), 0);
  // No "UserDialog": the Settings keep their defaults.
  EXPECT_EQ(SettingsBytes(settings), DefaultSettingsBytes());
}

TEST_F(PersistenceTest, ValuesOfTheWrongSizeAreIgnoredOneByOne) {
  struct Row {
    std::size_t userDialogSize;
    std::size_t presetsSize;
    bool settingsUsed;
    bool presetsUsed;
  };
  // Shorter values are ignored like longer ones (they would only fill the
  // front of the record).
  const Row rows[] = {
      {85, 1622, true, true},    {86, 1622, false, true}, {85, 1623, true, false},
      {200, 5000, false, false}, {84, 1622, false, true}, {85, 1621, true, false},
      {1, 2, false, false},      {0, 0, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.userDialogSize) + "/" + std::to_string(row.presetsSize));
    standin::ClearRegistry();
    std::memset(&settings, 0x5A, sizeof settings);
    Bytes presets = StoredPresets({"Stored"}, 1);
    presets.resize(row.presetsSize, 0x01);
    Store(SettingsValueName, StoredUserDialog(row.userDialogSize));
    Store(PresetsValueName, presets);
    EXPECT_EQ(LoadSettings(&settings), ERROR_SUCCESS);
    EXPECT_EQ(SettingsBytes(settings),
              row.settingsUsed ? StoredUserDialog() : DefaultSettingsBytes());
    EXPECT_EQ(Names(), row.presetsUsed ? std::vector<std::string>{"Stored"} : BuiltInNames);
  }
}

TEST_F(PersistenceTest, AValueOfAnotherTypeIsUsedAllTheSame) {
  Store(SettingsValueName, StoredUserDialog(), REG_SZ);
  Store(PresetsValueName, StoredPresets({"Typed"}, 1), REG_DWORD);
  EXPECT_EQ(LoadSettings(&settings), ERROR_SUCCESS);
  EXPECT_EQ(SettingsBytes(settings), StoredUserDialog());
  EXPECT_EQ(Names(), std::vector<std::string>{"Typed"});
}

// Decision: an image whose count lies outside 0..20 is refused whole; the
// built-in presets stay.
TEST_F(PersistenceTest, APresetCountOutsideTheSlotsRefusesTheImage) {
  struct Row {
    std::int16_t count;
    bool used;
  };
  const Row rows[] = {{0, true}, {20, true}, {21, false}, {-1, false}, {0x7FFF, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.count);
    standin::ClearRegistry();
    Store(PresetsValueName, StoredPresets({"Only"}, row.count));
    EXPECT_EQ(LoadSettings(&settings), ERROR_SUCCESS);
    if (row.used) {
      EXPECT_EQ(ReadI16(presetTable), row.count);
      EXPECT_EQ(PresetCount(), row.count);
    } else {
      EXPECT_EQ(Names(), BuiltInNames);
    }
  }
}

TEST_F(PersistenceTest, AnUnreadableKeyLeavesTheDefaults) {
  Store(SettingsValueName, StoredUserDialog());
  Store(PresetsValueName, StoredPresets({"X"}, 1));
  standin::FailKeyOpen(true);
  EXPECT_EQ(LoadSettings(&settings), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SettingsBytes(settings), DefaultSettingsBytes());
  EXPECT_EQ(Names(), BuiltInNames);
}

TEST_F(PersistenceTest, AKeyThatCannotBeCreatedStoresNothingSilently) {
  ResetSettings(&settings);
  standin::FailKeyCreation(true);
  EXPECT_EQ(SaveSettings(&settings), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(standin::RegistryKeyExists(SettingsKeyPath));
}

TEST_F(PersistenceTest, FailingValueWritesAreIgnored) {
  ResetSettings(&settings);
  standin::FailValueWrites(true);
  EXPECT_EQ(SaveSettings(&settings), ERROR_SUCCESS);  // the result of closing the key
  EXPECT_TRUE(standin::RegistryKeyExists(SettingsKeyPath));
  EXPECT_TRUE(standin::RegistryValueNames(SettingsKeyPath).empty());
}

TEST_F(PersistenceTest, SavingWritesAllTwentySlotsWhateverTheCount) {
  ResetSettings(&settings);
  std::memset(presetTable + PresetTableLayout::FirstSlot + PresetTableLayout::SlotSize * 19, 0x99,
              PresetTableLayout::SlotSize);
  EXPECT_EQ(SaveSettings(&settings), ERROR_SUCCESS);
  const Bytes presets = Stored(PresetsValueName);
  ASSERT_EQ(presets.size(), 1622u);
  EXPECT_EQ(presets[1621], 0x99);
  EXPECT_EQ(ReadI16(presets.data()), 4);
}

// The stand-in answers as Windows documents RegQueryValueExA.
TEST_F(PersistenceTest, TheRegistryStandInQueriesAsWindowsDoes) {
  Store("Probe", Bytes(86, 0x11), REG_SZ);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
  std::uint8_t buffer[100];
  std::memset(buffer, 0xEE, sizeof buffer);
  DWORD type = 0;
  DWORD size = 85;
  EXPECT_EQ(RegQueryValueExA(key, "Probe", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 86u);
  EXPECT_EQ(buffer[0], 0xEE);  // left alone
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Probe", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 86u);
  size = 100;
  EXPECT_EQ(RegQueryValueExA(key, "probe", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 86u);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(buffer[85], 0x11);
  EXPECT_EQ(buffer[86], 0xEE);
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, buffer, &size),
            ERROR_FILE_NOT_FOUND);
  // A key opened for reading cannot be written.
  EXPECT_EQ(RegSetValueExA(key, "Probe", 0, REG_BINARY, buffer, 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Other", 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_EQ(RegQueryValueExA(key, "Probe", nullptr, nullptr, buffer, &size), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Other", 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(PersistenceTest, ResetWithoutARecordDoesNothing) {
  std::memset(presetTable, 0x42, sizeof presetTable);
  ResetSettings(nullptr);
  EXPECT_EQ(presetTable[0], 0x42);
  ResetSettings(&settings);
  EXPECT_EQ(Names(), BuiltInNames);
  EXPECT_EQ(settings.presetName[0], '\0');
  EXPECT_EQ(settings.presetName[1], 0x5A);  // only the first byte is emptied
}

}  // namespace
