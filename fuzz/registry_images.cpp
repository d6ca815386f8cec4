// Registry images of any size through the settings' whole life in the
// plug-in. Layout, in order:
//   u8          which values exist (bit 0 "UserDialog", bit 1 "Presets";
//               bit 2 stored as REG_SZ instead of REG_BINARY)
//   u16, bytes  the "UserDialog" value (length, then up to that many bytes)
//   u16, bytes  the "Presets" value
//   u8 % 8      user actions before saving a preset; per action a u8 kind
//               and its argument (see DecodeAction)
//   u8, bytes   the name typed for the new preset
// Then: LoadSettings, one options dialog session (the actions, Save preset
// under the name, pick it, Delete it, OK), SaveSettings, and a second load
// and save that must give back the same bytes.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "dialogs/control_ids.h"
#include "dialogs/options_dialog.h"
#include "fuzz/byte_reader.h"
#include "fuzz/drivers.h"
#include "platform/standin/standin.h"
#include "settings/persistence.h"
#include "settings/presets.h"
#include "settings/settings.h"
#include "simhost/dialog_service.h"

namespace kqfuzz {

namespace {

constexpr std::array<int, 17> CheckBoxes = {IDC_HIDE_TIME_SIG,
                                            IDC_ONLY_SELECTED_STAVES,
                                            IDC_INCLUDE_HIDDEN_STAVES,
                                            IDC_USE_COMPOSITE,
                                            IDC_PREFER_COMPOSITE,
                                            IDC_COMPACT_BEAT_DURATION,
                                            IDC_AUTO_UPDATE_LAYOUT,
                                            IDC_CHANGE_INDEPENDENT_STAVES,
                                            IDC_ABBREVIATE_DISPLAY,
                                            IDC_ONLY_CHANGE_AT_CONFLICTS,
                                            IDC_BEAT_32ND,
                                            IDC_BEAT_16TH,
                                            IDC_BEAT_8TH,
                                            IDC_LARGEST_BEAT_DURATION,
                                            IDC_DISPLAY_CURRENT_TIME_SIG,
                                            IDC_BEAT_QUARTER,
                                            IDC_BEAT_DOTTED_QUARTER};

std::string Text(ByteReader& in, std::size_t max) {
  const std::vector<std::uint8_t> bytes = in.Bytes(in.U8() % (max + 1));
  return std::string(bytes.begin(), bytes.end());
}

// Kind % 6: click a check box, type or paste into the duration field, pick
// a preset by its slot, hover over a control, or press Save preset (which
// opens the name dialog: the next actions go there).
simhost::UserAction DecodeAction(ByteReader& in) {
  const std::uint8_t kind = in.U8();
  switch (kind % 6) {
    case 0:
      return simhost::user::Click(CheckBoxes[in.U8() % CheckBoxes.size()]);
    case 1:
      return simhost::user::Type(IDC_MIN_MEASURE_DURATION, Text(in, 12));
    case 2:
      return simhost::user::Paste(IDC_MIN_MEASURE_DURATION, Text(in, 12));
    case 3: {
      char name[PresetNameSize];
      PresetName(in.U8() % (MaxPresets + 1), name);
      return simhost::user::Pick(IDC_PRESET_LIST, name);
    }
    case 4:
      return simhost::user::Hover(100 + in.U8() % 32);
    default:
      return simhost::user::Press(IDC_PRESET_SAVE);
  }
}

std::vector<std::uint8_t> Value(const char* name) {
  DWORD type = 0;
  std::vector<std::uint8_t> bytes;
  if (!standin::GetRegistryValue(SettingsKeyPath, name, &type, &bytes)) return {};
  return bytes;
}

}  // namespace

std::string RunRegistryImages(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  standin::ResetAll();
  simhost::ResetDialogService();
  standin::SetAutoAnswer(true);
  // As at process start: zero-filled static storage.
  std::memset(&globalSettings, 0, sizeof globalSettings);
  std::memset(presetTable, 0, sizeof presetTable);

  const std::uint8_t present = in.U8();
  const DWORD type = (present & 0x04) != 0 ? REG_SZ : REG_BINARY;
  const std::vector<std::uint8_t> userDialog = in.Bytes(in.U16());
  const std::vector<std::uint8_t> presets = in.Bytes(in.U16());
  if ((present & 0x01) != 0) {
    standin::SetRegistryValue(SettingsKeyPath, SettingsValueName, type, userDialog);
  }
  if ((present & 0x02) != 0) {
    standin::SetRegistryValue(SettingsKeyPath, PresetsValueName, type, presets);
  }

  LoadSettings(&globalSettings);
  if (PresetCount() < 0 || PresetCount() > MaxPresets)
    return "preset count outside 0..20 after load";

  const int actions = in.U8() % 8;
  std::vector<simhost::UserAction> script;
  script.reserve(static_cast<std::size_t>(actions) + 6);
  for (int i = 0; i < actions; ++i) script.push_back(DecodeAction(in));
  const std::string name = Text(in, 40);
  script.push_back(simhost::user::Press(IDC_PRESET_SAVE));
  script.push_back(simhost::user::Type(IDC_PRESET_NAME, name));
  script.push_back(simhost::user::Press(IDOK));
  script.push_back(simhost::user::Pick(IDC_PRESET_LIST, name));
  script.push_back(simhost::user::Press(IDC_PRESET_DELETE));
  script.push_back(simhost::user::Press(IDOK));
  simhost::SetScript(script);
  RunOptionsDialog(nullptr, &globalSettings);
  if (PresetCount() < 0 || PresetCount() > MaxPresets)
    return "preset count outside 0..20 after the dialog";

  SaveSettings(&globalSettings);
  const std::vector<std::uint8_t> savedSettings = Value(SettingsValueName);
  const std::vector<std::uint8_t> savedPresets = Value(PresetsValueName);
  if (savedSettings.size() != SettingsLayout::Size) return "\"UserDialog\" not saved as 85 bytes";
  if (savedPresets.size() != PresetTableLayout::Size) return "\"Presets\" not saved as 1622 bytes";

  // What was saved loads and saves again unchanged.
  std::memset(&globalSettings, 0, sizeof globalSettings);
  std::memset(presetTable, 0, sizeof presetTable);
  LoadSettings(&globalSettings);
  SaveSettings(&globalSettings);
  if (Value(SettingsValueName) != savedSettings) return "\"UserDialog\" changed on a second round";
  if (Value(PresetsValueName) != savedPresets) return "\"Presets\" changed on a second round";
  if (standin::OpenRegistryKeyCount() != 0) return "a registry key was left open";
  return "";
}

}  // namespace kqfuzz
