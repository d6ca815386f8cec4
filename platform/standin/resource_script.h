// The plug-in's resource script (dialogs/kqmeterfix.rc) as the Linux
// stand-in reads it: the script and its id header are embedded at build time
// (platform/standin/module_resources.h) and parsed on first use, so the
// stand-in knows exactly the dialogs, controls and strings the real resources
// hold.
#pragma once

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

}  // namespace standin
