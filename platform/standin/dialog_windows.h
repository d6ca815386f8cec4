// Linux stand-in for dialog windows built from the plug-in's resource script.
// The script (dialogs/kqmeterfix.rc) is embedded at build time and parsed on
// first use, so the stand-in knows exactly the controls and strings the real
// resources hold. Windows simulated here keep the state a user would see:
// check marks, texts, enabled state, focus, combo box entries and selection,
// the status bar's text, and every SendDlgItemMessageA that reached them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace standin {

// Window styles the resource script uses (values of the Windows headers).
namespace Style {
constexpr DWORD Popup = 0x80000000;
constexpr DWORD Child = 0x40000000;
constexpr DWORD Visible = 0x10000000;
constexpr DWORD Disabled = 0x08000000;
constexpr DWORD Caption = 0x00C00000;
constexpr DWORD Border = 0x00800000;
constexpr DWORD VScroll = 0x00200000;
constexpr DWORD SysMenu = 0x00080000;
constexpr DWORD Group = 0x00020000;
constexpr DWORD TabStop = 0x00010000;
constexpr DWORD ModalFrame = 0x80;    // DS_MODALFRAME
constexpr DWORD SetFont = 0x40;       // DS_SETFONT
constexpr DWORD FixedSys = 0x08;      // DS_FIXEDSYS
constexpr DWORD PushButton = 0x0;     // BS_PUSHBUTTON
constexpr DWORD DefPushButton = 0x1;  // BS_DEFPUSHBUTTON
constexpr DWORD AutoCheckBox = 0x3;   // BS_AUTOCHECKBOX
constexpr DWORD GroupBox = 0x7;       // BS_GROUPBOX
constexpr DWORD ButtonTypeMask = 0xF;
constexpr DWORD ButtonLeft = 0x100;      // BS_LEFT
constexpr DWORD EditNumber = 0x2000;     // ES_NUMBER
constexpr DWORD EditAutoHScroll = 0x80;  // ES_AUTOHSCROLL
constexpr DWORD StaticLeft = 0x0;        // SS_LEFT
constexpr DWORD DropDownList = 0x3;      // CBS_DROPDOWNLIST
}  // namespace Style

struct ControlTemplate {
  int id = 0;  // low 16 bits, as a 16-bit template stores it (-1 gives 65535)
  std::string className;
  std::string text;
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, width = 0, height = 0;  // dialog units
};

struct DialogTemplate {
  int resourceId = 0;
  bool extended = false;  // DIALOGEX
  std::string caption;
  std::string fontFace;
  int fontSize = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, width = 0, height = 0;  // dialog units
  std::vector<ControlTemplate> controls;    // in template order
};

struct ResourceScript {
  std::map<int, DialogTemplate> dialogs;
  std::map<UINT, std::string> strings;
  std::vector<std::string> errors;  // "line N: what"; empty when the script parsed
};

// Parses the subset of resource script syntax the plug-in uses: #define lines
// of the id header, DIALOG/DIALOGEX with STYLE, EXSTYLE, CAPTION, FONT and
// CONTROL statements, and STRINGTABLE. Unknown symbols are errors.
ResourceScript ParseResourceScript(const std::string& script, const std::string& idHeader);
// The embedded script, parsed once.
const ResourceScript& Resources();

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
