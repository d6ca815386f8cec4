// The simulated host's dialog service (HostRunDialog, HostEndDialog and the
// item functions of host/host.h) over the stand-in's dialog windows.
//
// HostRunDialog builds the dialog from the resource template, sends
// WM_INITDIALOG and then plays the test's script of user actions, one at a
// time, until the dialog procedure calls HostEndDialog. A dialog opened from
// inside a procedure (the preset-name dialog) takes the following actions;
// message boxes are answered through platform/standin/standin.h. When the
// script runs out first, the dialog gets IDCANCEL (like the close box) and a
// script error is recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace simhost {

enum class UserActionKind { Click, Type, Paste, Pick, Hover, HoverDialog, CloseBox, Inspect };

struct UserAction {
  UserActionKind kind = UserActionKind::Click;
  int id = 0;
  std::string text;
  std::function<void(HWND dialog)> inspect;
};

// Readable builders for scripts: `{user::Click(105), user::Press(IDOK)}`.
namespace user {
// A mouse click on a button: a check box toggles its mark first; the control
// takes the focus; WM_COMMAND with BN_CLICKED follows. Disabled: nothing.
UserAction Click(int id);
// Same as Click; reads better for push buttons.
UserAction Press(int id);
// Replaces the field's text by typing text: ES_NUMBER fields drop non-digits,
// and typing stops at the EM_LIMITTEXT limit. EN_CHANGE when it changed.
UserAction Type(int id, std::string text);
// Like Type, but pasting is not filtered by ES_NUMBER (the limit still holds).
UserAction Paste(int id, std::string text);
// Chooses the combo box entry with exactly this text: selection, then
// WM_COMMAND with CBN_SELCHANGE.
UserAction Pick(int id, std::string entry);
// Moves the mouse onto a control: WM_SETCURSOR with the window under the
// mouse in wParam. Disabled controls, group boxes and static texts let the
// mouse through to the dialog, as on Windows.
UserAction Hover(int id);
// Moves the mouse onto the dialog's background.
UserAction HoverDialog();
// The close box (or Escape): WM_COMMAND with IDCANCEL.
UserAction CloseBox();
// Runs a check on the dialog that is open at this point of the script.
UserAction Inspect(std::function<void(HWND dialog)> check);
}  // namespace user

// Replaces the script; AppendScript adds to its end.
void SetScript(std::vector<UserAction> actions);
void AppendScript(std::vector<UserAction> actions);
std::size_t PendingActions();

// One HostRunDialog call.
struct DialogRun {
  int resourceId = 0;
  HWND dialog = nullptr;  // null when the dialog could not be created
  HWND parent = nullptr;
  std::intptr_t userValue = 0;
  bool endedByProcedure = false;  // HostEndDialog was called
  std::int32_t result = 0;
};
const std::vector<DialogRun>& DialogRuns();
// Script problems: the script ran out, an action named a missing control or
// entry, a host call named a missing dialog or control.
const std::vector<std::string>& ScriptErrors();
// Actions a user could not perform (a click on a disabled control ...).
const std::vector<std::string>& IgnoredActions();

// One call of an item function (HostGetItemValue, HostSetItemValue,
// HostEnableItem, HostFocusItem, HostGetItemText, HostSetItemText).
struct ItemCall {
  std::string function;
  HWND dialog = nullptr;
  int id = 0;
  int kind = 0;
  std::int32_t value = 0;
};
const std::vector<ItemCall>& ItemCalls();

// Makes HostRunDialog fail for this template (as if it could not be created).
void FailDialogCreation(int resourceId);

// The state a user sees, for tests.
int ItemCheck(HWND dialog, int id);
bool ItemEnabled(HWND dialog, int id);
std::string ItemText(HWND dialog, int id);
std::vector<std::string> ListEntries(HWND dialog, int id);
int ListSelection(HWND dialog, int id);  // -1 = none
int FocusedItem(HWND dialog);            // control id, 0 = none

// Forgets script, runs, errors and calls, and resets the stand-in's windows.
void ResetDialogService();

}  // namespace simhost
