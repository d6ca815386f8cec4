// The Settings record and the preset table in the registry: reset to the
// defaults, loaded once at initialisation, written back at termination.
// Both live under HKEY_CURRENT_USER "Software\ZADezidar\KQMeterfix100" as the
// REG_BINARY values "UserDialog" (85 bytes) and "Presets" (1622 bytes).
#pragma once

#include "platform/win32.h"
#include "settings/settings.h"

inline constexpr char SettingsKeyPath[] = "Software\\ZADezidar\\KQMeterfix100";
inline constexpr char SettingsValueName[] = "UserDialog";
inline constexpr char PresetsValueName[] = "Presets";

// Defaults into the record and the four built-in presets; nothing without a record.
void ResetSettings(Settings* settings);
// Defaults first, then the stored values that have exactly their record's
// size. Returns the error of opening the key, else the result of closing it.
LONG LoadSettings(Settings* settings);
// Creates or opens the key and writes both values. Returns the error of
// creating the key (nothing written), else the result of closing it.
LONG SaveSettings(const Settings* settings);
// Reads / writes "Presets" through an open key. A stored image whose count
// lies outside 0..20 is refused like one of the wrong size.
void LoadPresets(HKEY key);
void SavePresets(HKEY key);
