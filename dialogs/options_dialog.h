// The options dialog (resource IDD_OPTIONS): edits the option block of a
// Settings record through the host's dialog service, with a help line that
// describes the control under the mouse and a remembered screen position.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dialogs/control_ids.h"
#include "platform/win32.h"
#include "host/host.h"
#include "settings/settings.h"

// Dialog state, valid while the (only) options dialog is open.
extern Settings* dialogSettings;     // the record being edited
extern std::int16_t dialogAccepted;  // 1 once OK has stored the values
extern std::int16_t shownHelpId;     // string id the help line shows; 0 = empty

struct ControlHelpPair {
  std::int16_t controlId;
  std::int16_t stringId;
};
constexpr std::size_t ControlHelpCount = 25;
// Searched in this order; the first pair with the control's id wins.
extern const ControlHelpPair ControlHelpTable[ControlHelpCount];

constexpr std::int32_t MaxMeasureDurationInput = 8192;
constexpr std::size_t HelpTextSize = 200;

// Runs the dialog on settings (owned by owner). 1 when closed with OK and the
// option block was stored, 0 otherwise; the position is stored either way.
std::int16_t RunOptionsDialog(HWND owner, Settings* settings);

// The procedure HostRunDialog calls; 1 for WM_INITDIALOG, 0 for the rest.
std::int32_t HOSTAPI OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam,
                                       std::intptr_t userValue);

// Shows a 50-byte option block in the controls; the help line restarts empty.
void LoadOptionControls(HWND dialog, const std::uint8_t* block);
// Validates the controls and stores them into a 50-byte option block (the
// reserved words are left alone). 0 after the range or beat message, with
// nothing stored.
std::int16_t ReadOptionControls(HWND dialog, std::uint8_t* block);
// Enables and disables the dependent check boxes; check marks never change.
void UpdateOptionStates(HWND dialog);
// Shows the help text of the control under the mouse; sends only on change.
void ShowControlHelp(HWND dialog, HWND windowUnderMouse);

// The dialog's top-left screen corner, narrowed to 16 bits. Left untouched
// when the window's rectangle cannot be read.
void RememberDialogPosition(HWND dialog, std::int16_t* left, std::int16_t* top);
// Moves the dialog to a remembered corner unless it was never placed (0x8000)
// or lies off the screen (bounds inclusive). The size never changes.
void RestoreDialogPosition(HWND dialog, std::int16_t left, std::int16_t top);
