#include "dialogs/preset_controls.h"

#include <cstring>

#include "dialogs/control_ids.h"
#include "dialogs/options_dialog.h"
#include "settings/presets.h"

namespace {

// Set when the name dialog was closed with a confirmed name: a name dialog
// that never ran must not let the prefilled name through unasked.
bool nameConfirmed = false;

// Copies at most limit characters and terminates.
void CopyName(char* destination, const char* source, std::size_t limit) {
  std::size_t n = 0;
  while (n < limit && source[n] != '\0') {
    destination[n] = source[n];
    ++n;
  }
  destination[n] = '\0';
}

// 1 when the name is free or the user agreed to overwrite it, else 0.
std::int16_t ConfirmPresetOverwrite(HWND owner, const char* name) {
  std::int16_t index = 0;
  if (FindPreset(name, &index) == 0) return 1;
  return MessageBoxA(owner, "OK to overwrite the existing preset?", "Overwrite?",
                     MB_YESNO | MB_ICONQUESTION) == IDYES
             ? 1
             : 0;
}

// Empties the combo box and adds every name in slot order.
void FillPresetList(HWND dialog, int controlId) {
  SendDlgItemMessageA(dialog, controlId, CB_RESETCONTENT, 0, 0);
  const std::int16_t count = PresetCount();
  for (std::int16_t i = 0; i < count; ++i) {
    char name[PresetNameSize];
    PresetName(i, name);
    SendDlgItemMessageA(dialog, controlId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  }
}

// 1 when the preset exists and its entry (1-based position index + 1) was
// selected through the host, 0 otherwise.
std::int16_t SelectPresetInList(HWND dialog, int controlId, const char* name) {
  std::int16_t index = 0;
  if (FindPreset(name, &index) == 0) return 0;
  // The host takes (dialog, item, kind, value); the order is right.
  // NOLINTNEXTLINE(readability-suspicious-call-argument)
  HostSetItemValue(dialog, controlId, ItemKindListSelection, index + 1, HostInterfaceVersion);
  return 1;
}

}  // namespace

void InitPresetList(HWND dialog) {
  FillPresetList(dialog, IDC_PRESET_LIST);
  if (dialogSettings != nullptr)
    SelectPresetInList(dialog, IDC_PRESET_LIST, dialogSettings->presetName);
}

std::int16_t GetSelectedPresetName(HWND dialog, char* name) {
  name[0] = '\0';
  const LRESULT index = SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return 0;
  // CB_GETLBTEXT has no buffer size: make sure the entry fits first.
  const LRESULT length =
      SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length < 0 || length >= static_cast<LRESULT>(NameBufferSize)) return 0;
  if (SendDlgItemMessageA(dialog, IDC_PRESET_LIST, CB_GETLBTEXT, static_cast<WPARAM>(index),
                          reinterpret_cast<LPARAM>(name)) == CB_ERR) {
    name[0] = '\0';
    return 0;
  }
  return name[0] != '\0' ? 1 : 0;
}

void LoadSelectedPreset(HWND dialog) {
  char name[NameBufferSize];
  if (GetSelectedPresetName(dialog, name) == 0) return;
  std::uint8_t block[SettingsLayout::OptionBlockSize];
  if (CopyPresetSettings(name, block) == 0) return;
  LoadOptionControls(dialog, block);
}

void SaveCurrentAsPreset(HWND dialog) {
  std::uint8_t block[SettingsLayout::OptionBlockSize] = {};
  if (ReadOptionControls(dialog, block) == 0) return;
  char name[NameBufferSize];
  if (AskPresetName(dialog, name) == 0) return;
  if (StorePreset(dialog, name, block) == 0) return;
  if (dialogSettings != nullptr) CopyName(dialogSettings->presetName, name, PresetNameSize - 1);
  FillPresetList(dialog, IDC_PRESET_LIST);
  SelectPresetInList(dialog, IDC_PRESET_LIST, name);
}

void DeleteSelectedPreset(HWND dialog) {
  char name[NameBufferSize];
  if (GetSelectedPresetName(dialog, name) == 0) return;
  if (MessageBoxA(dialog, "Are you sure you want to delete the selected preset?", "Delete?",
                  MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  DeletePreset(name);
  FillPresetList(dialog, IDC_PRESET_LIST);
}

std::int16_t AskPresetName(HWND dialog, char* name) {
  GetSelectedPresetName(dialog, name);
  nameConfirmed = false;
  HostRunDialog(IDD_PRESET_NAME, PresetNameDialogProc, dialog, 1,
                reinterpret_cast<std::intptr_t>(name), HostInterfaceVersion);
  if (!nameConfirmed) name[0] = '\0';
  return name[0] != '\0' ? 1 : 0;
}

std::int32_t HOSTAPI PresetNameDialogProc(HWND nameDialog, UINT message, WPARAM wParam,
                                          LPARAM /*lParam*/, std::intptr_t userValue) {
  char* name = reinterpret_cast<char*>(userValue);
  if (name == nullptr) return 0;
  if (message == WM_INITDIALOG) {
    SendDlgItemMessageA(nameDialog, IDC_PRESET_NAME, EM_LIMITTEXT, MaxPresetNameLength, 0);
    HostSetItemText(nameDialog, IDC_PRESET_NAME, name, HostInterfaceVersion);
    return 1;
  }
  if (message != WM_COMMAND) return 0;
  switch (LOWORD(wParam)) {
    case IDOK: {
      char typed[NameBufferSize] = {};
      HostGetItemText(nameDialog, IDC_PRESET_NAME, typed, MaxPresetNameLength,
                      HostInterfaceVersion);
      // Whatever the host wrote, a name never exceeds 30 characters.
      typed[MaxPresetNameLength] = '\0';
      if (ConfirmPresetOverwrite(nameDialog, typed) == 0) break;  // another name may be typed
      CopyName(name, typed, NameBufferSize - 1);
      nameConfirmed = true;
      HostEndDialog(nameDialog, HostInterfaceVersion);
      break;
    }
    case IDCANCEL:
      name[0] = '\0';
      HostEndDialog(nameDialog, HostInterfaceVersion);
      break;
    default:
      break;
  }
  return 0;
}
