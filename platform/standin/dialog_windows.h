// Linux stand-in for dialog windows built from the plug-in's resource script
// (resource_script.h). Windows simulated here keep the state a user would
// see: check marks, texts, enabled state, focus, combo box entries and
// selection, the status bar's text, and every SendDlgItemMessageA that
// reached them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/standin/resource_script.h"
#include "platform/win32.h"

namespace standin {

// Dialog units to pixels with fixed base units of 6 x 13 pixels (an 8-point
// dialog font at 96 dpi): x * 6 / 4 and y * 13 / 8, rounded like MulDiv.
int DialogUnitsToPixelsX(int units);
int DialogUnitsToPixelsY(int units);

// One simulated control; its handle answers GetDlgCtrlID.
struct ControlState {
  HWND handle = nullptr;
  ControlTemplate source;
  std::string text;  // window text (edit contents, caption of a button)
  int check = 0;
  bool enabled = true;
  std::size_t textLimit = 32767;         // edit controls before EM_LIMITTEXT
  std::vector<std::string> items;        // combo box entries
  int selection = -1;                    // combo box, -1 = none
  bool simpleMode = false;               // status bar
  std::string simpleText;                // status bar part 255
  std::map<int, std::string> partTexts;  // status bar parts 0..254
  RECT rect{};                           // screen pixels
};

struct DialogState {
  HWND handle = nullptr;
  HWND owner = nullptr;
  int resourceId = 0;
  bool alive = true;
  RECT rect{};  // screen pixels
  HWND focus = nullptr;
  int moveCount = 0;  // MoveWindow calls
  std::vector<ControlState> controls;
};

// A SendDlgItemMessageA that reached the stand-in, with the text it carried.
struct SentItemMessage {
  HWND dialog = nullptr;
  int id = 0;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::string text;  // CB_ADDSTRING, SB_SETTEXTA: the string sent
  LRESULT result = 0;
};

// Creates a dialog window from the template, hidden from no one; null when
// no template has that id. The window stays inspectable after it is
// destroyed (until ResetDialogWindows); handles are never reused.
HWND CreateDialogWindow(int resourceId, HWND owner);
void DestroyDialogWindow(HWND dialog);
DialogState* FindDialog(HWND dialog);
ControlState* FindControl(HWND dialog, int id);
ControlState* FindControlByHandle(HWND control);
HWND ControlHandle(HWND dialog, int id);
// The dialog that owns a control handle, or null.
HWND ParentDialog(HWND control);
// The most recently created dialog with this template id, alive or not.
HWND LastDialog(int resourceId);

// What the status bar shows: the simple text in simple mode, part 0 otherwise.
std::string StatusBarDisplay(HWND dialog, int id);

const std::vector<SentItemMessage>& SentItemMessages();
// The sends of one message to one control, in order.
std::vector<SentItemMessage> SentItemMessages(HWND dialog, int id, UINT message);

// GetSystemMetrics(SM_CXSCREEN / SM_CYSCREEN); 1024 x 768 until changed.
void SetScreenSize(int width, int height);

// Forgets every window and recorded send; restores the screen size.
void ResetDialogWindows();

}  // namespace standin
