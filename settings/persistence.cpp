#include "settings/persistence.h"

#include <cstring>

#include "platform/le_bytes.h"
#include "settings/presets.h"

namespace {

constexpr LONG ErrorInvalidParameter = 87;

// True when the value exists and has exactly the expected size. A shorter
// value would only fill the front of the record: it is ignored like a
// longer one, so a record is either all stored bytes or all defaults.
bool QueryExact(HKEY key, const char* name, std::uint8_t* buffer, DWORD expected) {
  DWORD size = expected;
  const LONG status = RegQueryValueExA(key, name, nullptr, nullptr, buffer, &size);
  return status == ERROR_SUCCESS && size == expected;
}

}  // namespace

void ResetSettings(Settings* settings) {
  if (settings == nullptr) return;
  ApplyDefaultSettings(*settings);
  ResetPresets();
}

LONG LoadSettings(Settings* settings) {
  if (settings == nullptr) return ErrorInvalidParameter;
  ResetSettings(settings);
  HKEY key = nullptr;
  const LONG opened = RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_READ, &key);
  if (opened != ERROR_SUCCESS) return opened;
  std::uint8_t image[SettingsLayout::Size];
  if (QueryExact(key, SettingsValueName, image, SettingsLayout::Size))
    ReadSettingsImage(image, *settings);
  LoadPresets(key);
  return RegCloseKey(key);
}

LONG SaveSettings(const Settings* settings) {
  if (settings == nullptr) return ErrorInvalidParameter;
  HKEY key = nullptr;
  DWORD disposition = 0;
  const LONG created = RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, nullptr, 0, KEY_WRITE,
                                       nullptr, &key, &disposition);
  if (created != ERROR_SUCCESS) return created;
  std::uint8_t image[SettingsLayout::Size];
  WriteSettingsImage(*settings, image);
  RegSetValueExA(key, SettingsValueName, 0, REG_BINARY, image, SettingsLayout::Size);
  SavePresets(key);
  return RegCloseKey(key);
}

void LoadPresets(HKEY key) {
  std::uint8_t image[PresetTableLayout::Size];
  if (!QueryExact(key, PresetsValueName, image, PresetTableLayout::Size)) return;
  // A count outside 0..20 is no table this plug-in wrote: keep the built-ins.
  const std::int16_t count = ReadI16(image + PresetTableLayout::Count);
  if (count < 0 || count > MaxPresets) return;
  std::memcpy(presetTable, image, PresetTableLayout::Size);
}

void SavePresets(HKEY key) {
  RegSetValueExA(key, PresetsValueName, 0, REG_BINARY, presetTable, PresetTableLayout::Size);
}
