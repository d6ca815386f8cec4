#include "dialogs/options_dialog.h"

#include "dialogs/preset_controls.h"
#include "platform/le_bytes.h"
#include "host/module.h"

Settings* dialogSettings = nullptr;
std::int16_t dialogAccepted = 0;
std::int16_t shownHelpId = 0;

const ControlHelpPair ControlHelpTable[ControlHelpCount] = {
    {IDC_AUTO_UPDATE_LAYOUT, IDS_HELP_AUTO_UPDATE_LAYOUT},
    {IDC_HIDE_TIME_SIG, IDS_HELP_HIDE_TIME_SIG},
    {IDC_ONLY_SELECTED_STAVES, IDS_HELP_ONLY_SELECTED_STAVES},
    {IDC_ONLY_CHANGE_AT_CONFLICTS, IDS_HELP_ONLY_CHANGE_AT_CONFLICTS},
    {IDC_CHANGE_INDEPENDENT_STAVES, IDS_HELP_CHANGE_INDEPENDENT_STAVES},
    {IDC_INCLUDE_HIDDEN_STAVES, IDS_HELP_INCLUDE_HIDDEN_STAVES},
    {IDC_DISPLAY_CURRENT_TIME_SIG, IDS_HELP_DISPLAY_CURRENT_TIME_SIG},
    {IDC_ABBREVIATE_DISPLAY, IDS_HELP_ABBREVIATE_DISPLAY},
    {IDC_BEAT_32ND, IDS_HELP_BEAT_32ND},
    {IDC_BEAT_16TH, IDS_HELP_BEAT_16TH},
    {IDC_BEAT_8TH, IDS_HELP_BEAT_8TH},
    {IDC_BEAT_QUARTER, IDS_HELP_BEAT_QUARTER},
    {IDC_BEAT_DOTTED_QUARTER, IDS_HELP_BEAT_DOTTED_QUARTER},
    {IDC_BEAT_HALF, IDS_HELP_BEAT_HALF},
    {IDC_USE_COMPOSITE, IDS_HELP_USE_COMPOSITE},
    {IDC_PREFER_COMPOSITE, IDS_HELP_PREFER_COMPOSITE},
    {IDC_COMPACT_BEAT_DURATION, IDS_HELP_COMPACT_BEAT_DURATION},
    {IDC_LARGEST_BEAT_DURATION, IDS_HELP_LARGEST_BEAT_DURATION},
    {IDC_MIN_MEASURE_DURATION, IDS_HELP_MIN_MEASURE_DURATION},
    {IDC_PRESET_LIST, IDS_HELP_PRESET_LIST},
    {IDC_PRESET_LIST_EDIT, IDS_HELP_PRESET_LIST},
    {IDC_PRESET_SAVE, IDS_HELP_PRESET_SAVE},
    {IDC_PRESET_DELETE, IDS_HELP_PRESET_DELETE},
    {IDOK, IDS_HELP_OK},
    {IDCANCEL, IDS_HELP_CANCEL},
};

namespace {

struct CheckField {
  std::int32_t controlId;
  std::size_t offset;  // in the option block
};

// The check boxes in the order they are loaded.
constexpr CheckField LoadedChecks[] = {
    {IDC_AUTO_UPDATE_LAYOUT, SettingsLayout::AutoUpdateLayout},
    {IDC_ONLY_SELECTED_STAVES, SettingsLayout::OnlySelectedStaves},
    {IDC_INCLUDE_HIDDEN_STAVES, SettingsLayout::IncludeHiddenStaves},
    {IDC_ONLY_CHANGE_AT_CONFLICTS, SettingsLayout::OnlyChangeAtConflicts},
    {IDC_CHANGE_INDEPENDENT_STAVES, SettingsLayout::ChangeIndependentStaves},
    {IDC_DISPLAY_CURRENT_TIME_SIG, SettingsLayout::DisplayCurrentTimeSig},
    {IDC_ABBREVIATE_DISPLAY, SettingsLayout::AbbreviateDisplay},
    {IDC_HIDE_TIME_SIG, SettingsLayout::HideTimeSig},
    {IDC_BEAT_32ND, SettingsLayout::AllowBeat + 10},
    {IDC_BEAT_16TH, SettingsLayout::AllowBeat + 8},
    {IDC_BEAT_8TH, SettingsLayout::AllowBeat + 6},
    {IDC_BEAT_QUARTER, SettingsLayout::AllowBeat + 4},
    {IDC_BEAT_DOTTED_QUARTER, SettingsLayout::AllowBeat + 2},
    {IDC_BEAT_HALF, SettingsLayout::AllowBeat + 0},
    {IDC_USE_COMPOSITE, SettingsLayout::UseComposite},
    {IDC_PREFER_COMPOSITE, SettingsLayout::PreferComposite},
    {IDC_COMPACT_BEAT_DURATION, SettingsLayout::CompactBeatDuration},
    {IDC_LARGEST_BEAT_DURATION, SettingsLayout::LargestBeatDuration},
};

// The beat boxes as they are read: thirty-second first, half note last.
constexpr std::int32_t BeatChecks[BeatDurationCount] = {
    IDC_BEAT_32ND,    IDC_BEAT_16TH,           IDC_BEAT_8TH,
    IDC_BEAT_QUARTER, IDC_BEAT_DOTTED_QUARTER, IDC_BEAT_HALF};

// The other check boxes in the order they are read and stored.
constexpr CheckField ReadChecks[] = {
    {IDC_AUTO_UPDATE_LAYOUT, SettingsLayout::AutoUpdateLayout},
    {IDC_ONLY_SELECTED_STAVES, SettingsLayout::OnlySelectedStaves},
    {IDC_INCLUDE_HIDDEN_STAVES, SettingsLayout::IncludeHiddenStaves},
    {IDC_ONLY_CHANGE_AT_CONFLICTS, SettingsLayout::OnlyChangeAtConflicts},
    {IDC_CHANGE_INDEPENDENT_STAVES, SettingsLayout::ChangeIndependentStaves},
    {IDC_DISPLAY_CURRENT_TIME_SIG, SettingsLayout::DisplayCurrentTimeSig},
    {IDC_ABBREVIATE_DISPLAY, SettingsLayout::AbbreviateDisplay},
    {IDC_HIDE_TIME_SIG, SettingsLayout::HideTimeSig},
    {IDC_USE_COMPOSITE, SettingsLayout::UseComposite},
    {IDC_PREFER_COMPOSITE, SettingsLayout::PreferComposite},
    {IDC_COMPACT_BEAT_DURATION, SettingsLayout::CompactBeatDuration},
    {IDC_LARGEST_BEAT_DURATION, SettingsLayout::LargestBeatDuration},
};

std::int32_t CheckState(HWND dialog, std::int32_t id) {
  return HostGetItemValue(dialog, id, ItemKindCheck, HostInterfaceVersion);
}

void Enable(HWND dialog, std::int32_t id, bool enabled) {
  HostEnableItem(dialog, id, enabled ? 1 : 0, HostInterfaceVersion);
}

}  // namespace

std::int16_t RunOptionsDialog(HWND owner, Settings* settings) {
  if (settings == nullptr) return 0;
  dialogAccepted = 0;
  dialogSettings = settings;
  settings->presetName[0] = '\0';
  HostRunDialog(IDD_OPTIONS, OptionsDialogProc, owner, 1, 0, HostInterfaceVersion);
  dialogSettings = nullptr;
  return dialogAccepted;
}

std::int32_t HOSTAPI OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/,
                                       std::intptr_t /*userValue*/) {
  if (dialogSettings == nullptr) return 0;
  switch (message) {
    case WM_SETCURSOR:
      ShowControlHelp(dialog, reinterpret_cast<HWND>(wParam));
      return 0;
    case WM_INITDIALOG: {
      RestoreDialogPosition(dialog, dialogSettings->dialogLeft, dialogSettings->dialogTop);
      // Part 255 is drawn only in simple mode; without it the help line stays blank.
      SendDlgItemMessageA(dialog, IDC_HELP_LINE, SB_SIMPLE, TRUE, 0);
      std::uint8_t block[SettingsLayout::OptionBlockSize];
      WriteOptionBlock(*dialogSettings, block);
      LoadOptionControls(dialog, block);
      InitPresetList(dialog);
      return 1;
    }
    case WM_COMMAND: {
      const WORD id = LOWORD(wParam);
      const WORD code = HIWORD(wParam);
      switch (id) {
        case IDOK: {
          std::uint8_t block[SettingsLayout::OptionBlockSize];
          WriteOptionBlock(*dialogSettings, block);
          if (ReadOptionControls(dialog, block) == 0) break;
          ReadOptionBlock(block, *dialogSettings);
          RememberDialogPosition(dialog, &dialogSettings->dialogLeft, &dialogSettings->dialogTop);
          dialogAccepted = 1;
          HostEndDialog(dialog, HostInterfaceVersion);
          break;
        }
        case IDCANCEL:
          RememberDialogPosition(dialog, &dialogSettings->dialogLeft, &dialogSettings->dialogTop);
          HostEndDialog(dialog, HostInterfaceVersion);
          break;
        case IDC_HIDE_TIME_SIG:
        case IDC_ONLY_SELECTED_STAVES:
        case IDC_USE_COMPOSITE:
        case IDC_COMPACT_BEAT_DURATION:
        case IDC_DISPLAY_CURRENT_TIME_SIG:
          if (code == BN_CLICKED) UpdateOptionStates(dialog);
          break;
        case IDC_PRESET_LIST:
          if (code == CBN_SELCHANGE) LoadSelectedPreset(dialog);
          break;
        case IDC_PRESET_SAVE:
          SaveCurrentAsPreset(dialog);
          break;
        case IDC_PRESET_DELETE:
          DeleteSelectedPreset(dialog);
          break;
        default:
          break;
      }
      return 0;
    }
    default:
      return 0;
  }
}

void LoadOptionControls(HWND dialog, const std::uint8_t* block) {
  shownHelpId = 0;
  SendDlgItemMessageA(dialog, IDC_MIN_MEASURE_DURATION, EM_LIMITTEXT, 5, 0);
  for (const CheckField& field : LoadedChecks)
    HostSetItemValue(dialog, field.controlId, ItemKindCheck, ReadI16(block + field.offset),
                     HostInterfaceVersion);
  HostSetItemValue(dialog, IDC_MIN_MEASURE_DURATION, ItemKindInteger,
                   ReadI16(block + SettingsLayout::MinMeasureDuration), HostInterfaceVersion);
  UpdateOptionStates(dialog);
}

std::int16_t ReadOptionControls(HWND dialog, std::uint8_t* block) {
  // Compared as read, so that a huge number is refused rather than wrapped.
  const std::int32_t minimum =
      HostGetItemValue(dialog, IDC_MIN_MEASURE_DURATION, ItemKindInteger, HostInterfaceVersion);
  if (minimum < 0 || minimum > MaxMeasureDurationInput) {
    char text[100];
    wsprintfA(text, "You must enter a value between 0 and %d", MaxMeasureDurationInput);
    MessageBoxA(dialog, text, "Range error", MB_OK | MB_ICONHAND);
    HostFocusItem(dialog, IDC_MIN_MEASURE_DURATION, HostInterfaceVersion);
    return 0;
  }
  // allowBeat order: half note first, thirty-second last.
  std::int16_t allow[BeatDurationCount];
  bool any = false;
  for (std::size_t i = 0; i < BeatDurationCount; ++i) {
    allow[BeatDurationCount - 1 - i] = static_cast<std::int16_t>(CheckState(dialog, BeatChecks[i]));
    any = any || allow[BeatDurationCount - 1 - i] != 0;
  }
  if (!any) {
    MessageBoxA(dialog, "You must select at least one allowed beat duration.",
                "No allowed beat durations", MB_OK | MB_ICONHAND);
    return 0;
  }
  for (std::size_t i = 0; i < BeatDurationCount; ++i)
    WriteI16(block + SettingsLayout::AllowBeat + 2 * i, allow[i]);
  for (const CheckField& field : ReadChecks)
    WriteI16(block + field.offset, static_cast<std::int16_t>(CheckState(dialog, field.controlId)));
  WriteI16(block + SettingsLayout::MinMeasureDuration, static_cast<std::int16_t>(minimum));
  return 1;
}

void UpdateOptionStates(HWND dialog) {
  const std::int32_t useComposite = CheckState(dialog, IDC_USE_COMPOSITE);
  Enable(dialog, IDC_PREFER_COMPOSITE, useComposite != 0);
  Enable(dialog, IDC_COMPACT_BEAT_DURATION, useComposite != 0);
  Enable(dialog, IDC_LARGEST_BEAT_DURATION,
         useComposite != 0 && CheckState(dialog, IDC_COMPACT_BEAT_DURATION) != 0);
  Enable(dialog, IDC_INCLUDE_HIDDEN_STAVES, CheckState(dialog, IDC_ONLY_SELECTED_STAVES) == 0);
  Enable(dialog, IDC_ABBREVIATE_DISPLAY, CheckState(dialog, IDC_DISPLAY_CURRENT_TIME_SIG) != 0);
  const std::int32_t hide = CheckState(dialog, IDC_HIDE_TIME_SIG);
  Enable(dialog, IDC_DISPLAY_CURRENT_TIME_SIG, hide == 0);
  if (hide != 0) Enable(dialog, IDC_ABBREVIATE_DISPLAY, false);
}

void ShowControlHelp(HWND dialog, HWND windowUnderMouse) {
  std::int16_t id = 0;
  if (windowUnderMouse != dialog) {
    const std::int16_t control = static_cast<std::int16_t>(
        LOWORD(static_cast<std::uintptr_t>(static_cast<unsigned>(GetDlgCtrlID(windowUnderMouse)))));
    for (const ControlHelpPair& pair : ControlHelpTable) {
      if (pair.controlId == control) {
        id = pair.stringId;
        break;
      }
    }
  }
  if (id == shownHelpId) return;
  char text[HelpTextSize] = {};
  if (id != 0)
    LoadStringA(moduleHandle, static_cast<UINT>(id), text, static_cast<int>(HelpTextSize));
  SendDlgItemMessageA(dialog, IDC_HELP_LINE, SB_SETTEXTA, SB_SIMPLEID,
                      reinterpret_cast<LPARAM>(text));
  shownHelpId = id;
}

void RememberDialogPosition(HWND dialog, std::int16_t* left, std::int16_t* top) {
  RECT rect;
  if (GetWindowRect(dialog, &rect) == FALSE) return;
  if (left != nullptr) *left = static_cast<std::int16_t>(rect.left);
  if (top != nullptr) *top = static_cast<std::int16_t>(rect.top);
}

void RestoreDialogPosition(HWND dialog, std::int16_t left, std::int16_t top) {
  if (left == NeverPlaced || top == NeverPlaced) return;
  const std::int16_t width = static_cast<std::int16_t>(GetSystemMetrics(SM_CXSCREEN));
  const std::int16_t height = static_cast<std::int16_t>(GetSystemMetrics(SM_CYSCREEN));
  if (left < 0 || left > width || top < 0 || top > height) return;
  RECT rect;
  if (GetWindowRect(dialog, &rect) == FALSE) return;
  MoveWindow(dialog, left, top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}
