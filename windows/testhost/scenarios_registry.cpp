// The plug-in's stored values under real Win32: the first run writes the
// defaults, values of the wrong size are ignored, values of the right size
// are used and written back byte for byte.
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/le_bytes.h"
#include "plugin/entry.h"
#include "settings/persistence.h"
#include "settings/presets.h"
#include "settings/settings.h"
#include "windows/testhost/harness.h"
#include "windows/testhost/scenarios.h"

namespace testhost {

void FirstRunAndTermination() {
  Begin("registry: first run and termination");
  DeleteSettingsKey();
  std::uint8_t info[MenuCommandInfoLayout::Size];
  const std::int32_t status = PluginLife([&](Plugin& plugin) {
    CHECK_EQ_INT(plugin.menuStatus(0), 1);
    std::memset(info, 0x5A, sizeof info);
    CHECK_EQ_INT(plugin.enumerate(0, 1, info), 0);
    CHECK_EQ_INT(info[0], 0x5A);
  });
  CHECK_EQ_INT(status, ERROR_SUCCESS);
  const StoredValue settings = ReadValue(SettingsValueName);
  CHECK_EQ_INT(settings.status, ERROR_SUCCESS);
  CHECK_EQ_INT(settings.type, REG_BINARY);
  CHECK_EQ_INT(settings.bytes.size(), SettingsLayout::Size);
  if (settings.bytes.size() == SettingsLayout::Size) {
    CHECK_EQ_INT(ReadI16(settings.bytes.data() + SettingsLayout::DialogLeft), NeverPlaced);
    CHECK_EQ_INT(ReadI16(settings.bytes.data() + SettingsLayout::DialogTop), NeverPlaced);
    CHECK_EQ_INT(ReadI16(settings.bytes.data() + SettingsLayout::MinMeasureDuration), 1024);
  }
  const StoredValue presets = ReadValue(PresetsValueName);
  CHECK_EQ_INT(presets.status, ERROR_SUCCESS);
  CHECK_EQ_INT(presets.type, REG_BINARY);
  CHECK_EQ_INT(presets.bytes.size(), PresetTableLayout::Size);
  CHECK_EQ_STR(Join(StoredPresetNames()), "Upbeats|Complex Beating|Cadenza|Composite");
  defaultSettingsImage = settings.bytes;
  defaultPresetsImage = presets.bytes;
}

void OversizedValuesIgnored() {
  Begin("registry: an 86-byte UserDialog and a 1623-byte Presets are ignored");
  std::vector<std::uint8_t> settings86(86, 0x01);
  std::vector<std::uint8_t> presets1623(1623, 0x00);
  WriteValue(SettingsValueName, settings86);
  WriteValue(PresetsValueName, presets1623);
  // What the plug-in meets: the query of 85 bytes fails with ERROR_MORE_DATA.
  HKEY key = nullptr;
  CHECK_EQ_INT(RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_READ, &key), 0);
  std::uint8_t buffer[SettingsLayout::Size];
  DWORD size = sizeof buffer;
  CHECK_EQ_INT(RegQueryValueExA(key, SettingsValueName, nullptr, nullptr, buffer, &size),
               ERROR_MORE_DATA);
  RegCloseKey(key);
  CHECK_EQ_INT(PluginLife([](Plugin&) {}), ERROR_SUCCESS);
  CHECK(ReadValue(SettingsValueName).bytes == defaultSettingsImage);
  CHECK(ReadValue(PresetsValueName).bytes == defaultPresetsImage);

  Begin("registry: stored values of the right size are used byte for byte");
  std::vector<std::uint8_t> settings = defaultSettingsImage;
  WriteI16(settings.data() + SettingsLayout::MinMeasureDuration, 2048);
  WriteI16(settings.data() + SettingsLayout::Reserved, 0x1234);
  settings[SettingsLayout::PresetName + 10] = 0x77;  // behind the NUL
  std::vector<std::uint8_t> presets = defaultPresetsImage;
  WriteI16(presets.data() + PresetTableLayout::Count, 2);
  WriteValue(SettingsValueName, settings);
  WriteValue(PresetsValueName, presets);
  CHECK_EQ_INT(PluginLife([](Plugin&) {}), ERROR_SUCCESS);
  CHECK(ReadValue(SettingsValueName).bytes == settings);
  CHECK(ReadValue(PresetsValueName).bytes == presets);
  WriteValue(SettingsValueName, defaultSettingsImage);
  WriteValue(PresetsValueName, defaultPresetsImage);
}

}  // namespace testhost
