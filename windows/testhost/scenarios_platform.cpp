// The Win32 behaviours the Linux stand-in (platform/standin) models, checked
// against real Win32 (Wine). The native tests run the plug-in on the
// stand-in, so what they show holds on Windows only as far as the stand-in
// does what Win32 does: a difference fails the run, and the stand-in and the
// expectation here are corrected together.
#include <cstdint>
#include <cstring>
#include <source_location>
#include <string>
#include <vector>

#include "settings/persistence.h"
#include "windows/testhost/harness.h"
#include "windows/testhost/scenarios.h"

namespace testhost {

namespace {

int compared = 0;

// One behaviour as Win32 shows it against what the stand-in does; what says
// both. Every comparison is printed; a difference is a failed check.
void Compare(bool agrees, const std::string& what,
             std::source_location where = std::source_location::current()) {
  ++compared;
  if (agrees) {
    Note("agrees: " + what);
  } else {
    Fail(where.file_name(), static_cast<int>(where.line()), "differs from the stand-in: " + what);
  }
}

VOID CALLBACK ProbeTimerProc(HWND, UINT, UINT_PTR, DWORD) {}
// A HOOKPROC is CALLBACK (stdcall on 32-bit), which no lambda converts to.
LRESULT CALLBACK PassOnKeyboardProc(int code, WPARAM wParam, LPARAM lParam) {
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void PlatformBehaviours() {
  Begin("Win32 behaviours modelled by the Linux stand-in");
  compared = 0;
  // GetMenuStringA with a buffer too small for the text.
  HMENU menu = CreatePopupMenu();
  AppendMenuA(menu, MF_STRING, 1, "KQ Me&terfix [v. 1.01]");
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  char buffer[64];
  std::memset(buffer, '#', sizeof buffer);
  const int copied = GetMenuStringA(menu, 0, buffer, 12, MF_BYPOSITION);
  int written = 0;
  while (written < 64 && buffer[written] != '#') ++written;
  const bool terminated = std::memchr(buffer, '\0', 12) != nullptr;
  Compare(copied == 11 && (terminated || written == 12),
          Format("GetMenuStringA(22-character text, buffer 12) fills %d bytes, %s, returns %d "
                 "(stand-in: 11 characters and a NUL, returns 11; in its unterminated mode "
                 "12 characters, no NUL, returns 11)",
                 written, terminated ? "terminated" : "no NUL", copied));
  Compare(GetMenuStringA(menu, 0, nullptr, 0, MF_BYPOSITION) == 22,
          Format("GetMenuStringA without a buffer returns the length (%d)",
                 GetMenuStringA(menu, 0, nullptr, 0, MF_BYPOSITION)));
  Compare(GetMenuStringA(menu, 1, buffer, 64, MF_BYPOSITION) == 0,
          "GetMenuStringA of a separator returns 0");
  Compare(GetMenuItemCount(reinterpret_cast<HMENU>(0x1234)) == -1,
          "GetMenuItemCount of an invalid menu is -1");
  HMENU bar = CreateMenu();
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(menu), "Popup");
  Compare(GetMenuItemID(bar, 0) == static_cast<UINT>(-1), "GetMenuItemID of a submenu item is -1");
  Compare(GetSubMenu(bar, 5) == nullptr, "GetSubMenu past the end is NULL");
  DestroyMenu(bar);

  // GetKeyState: a key down reads 0xFF80.
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  const SHORT down = GetKeyState(VK_CONTROL);
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
  Compare(static_cast<std::uint16_t>(down) == 0xFF80,
          Format("GetKeyState of a key down is 0x%04X (stand-in: 0xFF80)",
                 static_cast<unsigned>(static_cast<std::uint16_t>(down))));

  // Thread timers without a window.
  const UINT_PTR timer = SetTimer(nullptr, 0, 100, ProbeTimerProc);
  const UINT_PTR again = SetTimer(nullptr, timer, 100, ProbeTimerProc);
  Compare(timer != 0 && again == timer,
          "SetTimer(NULL, 0) gives a new identifier; SetTimer(NULL, that id) replaces the timer");
  Compare(KillTimer(nullptr, timer) != FALSE && KillTimer(nullptr, timer) == FALSE,
          "KillTimer(NULL, id) succeeds once");

  // The registry: a value longer than the buffer.
  WriteValue("Probe", std::vector<std::uint8_t>(86, 0x11));
  HKEY key = nullptr;
  RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_READ | KEY_WRITE, &key);
  std::uint8_t data[85];
  std::memset(data, 0xEE, sizeof data);
  DWORD size = sizeof data;
  DWORD type = 0;
  const LONG more = RegQueryValueExA(key, "Probe", nullptr, &type, data, &size);
  Compare(more == ERROR_MORE_DATA && size == 86 && data[0] == 0xEE && type == REG_BINARY,
          Format("RegQueryValueExA of 86 bytes into 85: status %ld, size %lu, buffer %s, type %lu "
                 "(stand-in: ERROR_MORE_DATA, 86, untouched)",
                 more, static_cast<unsigned long>(size), data[0] == 0xEE ? "untouched" : "written",
                 static_cast<unsigned long>(type)));
  WriteValue("Probe", std::vector<std::uint8_t>(10, 0x22));
  size = sizeof data;
  const LONG shorter = RegQueryValueExA(key, "Probe", nullptr, nullptr, data, &size);
  Compare(shorter == ERROR_SUCCESS && size == 10,
          "RegQueryValueExA of a shorter value succeeds with its own size");
  RegDeleteValueA(key, "Probe");
  RegCloseKey(key);
  HKEY none = nullptr;
  Compare(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KqNoSuchKey", 0, KEY_READ, &none) ==
              ERROR_FILE_NOT_FOUND,
          "RegOpenKeyExA of a missing key gives ERROR_FILE_NOT_FOUND");

  // Controls outside a dialog: combo box, status bar, edit.
  HWND parent = CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                                nullptr, nullptr);
  HWND combo = CreateWindowExA(0, "ComboBox", "", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 100, 100,
                               parent, reinterpret_cast<HMENU>(123), nullptr, nullptr);
  SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("one"));
  SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("two"));
  SendMessageA(combo, CB_SETCURSEL, 1, 0);
  const LRESULT past = SendMessageA(combo, CB_SETCURSEL, 5, 0);
  const LRESULT after = SendMessageA(combo, CB_GETCURSEL, 0, 0);
  SendMessageA(combo, CB_SETCURSEL, 1, 0);
  const LRESULT minusOne = SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  Compare(minusOne == CB_ERR && SendMessageA(combo, CB_GETCURSEL, 0, 0) == CB_ERR,
          "CB_SETCURSEL -1 answers CB_ERR and clears the selection");
  Compare(past == CB_ERR && after == 1,
          Format("CB_SETCURSEL past the end answers %ld and leaves the selection at %ld "
                 "(stand-in: CB_ERR, selection kept)",
                 static_cast<long>(past), static_cast<long>(after)));
  Compare(SendMessageA(combo, CB_GETLBTEXT, 7, reinterpret_cast<LPARAM>(buffer)) == CB_ERR,
          "CB_GETLBTEXT past the end answers CB_ERR");
  HWND status = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD, 0, 0, 0, 0, parent,
                                reinterpret_cast<HMENU>(126), nullptr, nullptr);
  SendMessageA(status, SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>("help"));
  std::memset(buffer, 'x', sizeof buffer);
  const LRESULT notSimple255 =
      SendMessageA(status, SB_GETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(buffer));
  const bool written255 = buffer[0] != 'x';
  SendMessageA(status, SB_SIMPLE, TRUE, 0);
  std::memset(buffer, 'x', sizeof buffer);
  SendMessageA(status, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(buffer));
  const std::string simple0(buffer, strnlen(buffer, sizeof buffer));
  std::memset(buffer, 'x', sizeof buffer);
  SendMessageA(status, SB_GETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(buffer));
  const bool simple255Written = buffer[0] != 'x';
  Compare(notSimple255 == 0 && !written255 && !simple255Written,
          Format("SB_GETTEXTA of part 255 returns 0; the buffer is %s out of simple mode, %s in "
                 "it (stand-in: untouched)",
                 written255 ? "written" : "untouched", simple255Written ? "written" : "untouched"));
  Compare(simple0.substr(0, 4) == "help",
          Format("in simple mode SB_GETTEXTA of part 0 reads the simple text (\"%s\"); "
                 "stand-in: the simple text",
                 simple0.substr(0, 20).c_str()));
  HWND edit = CreateWindowExA(0, "Edit", "", WS_CHILD | ES_NUMBER | ES_AUTOHSCROLL, 0, 0, 50, 20,
                              parent, reinterpret_cast<HMENU>(112), nullptr, nullptr);
  SendMessageA(edit, EM_LIMITTEXT, 5, 0);
  SetWindowTextA(edit, "1234567");
  GetWindowTextA(edit, buffer, sizeof buffer);
  Compare(std::string(buffer) == "1234567",
          Format("EM_LIMITTEXT limits typing only: WM_SETTEXT of 7 digits keeps \"%s\"", buffer));
  for (char ch : std::string("98765432")) SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(ch), 1);
  SetWindowTextA(edit, "");
  for (char ch : std::string("98765432")) SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(ch), 1);
  GetWindowTextA(edit, buffer, sizeof buffer);
  Compare(std::string(buffer) == "98765", Format("typing past the limit keeps \"%s\"", buffer));
  SendMessageA(edit, WM_CHAR, '-', 1);
  GetWindowTextA(edit, buffer, sizeof buffer);
  Compare(std::string(buffer) == "98765", "ES_NUMBER refuses a typed minus sign");
  DestroyWindow(parent);

  // Strings, beeps, processes.
  Plugin plugin;
  if (Load(plugin)) {
    std::memset(buffer, 'x', sizeof buffer);
    const int missing = LoadStringA(plugin.module, 999, buffer, sizeof buffer);
    Compare(missing == 0, Format("LoadStringA of a missing string returns 0 (buffer[0] %s)",
                                 buffer[0] == '\0' ? "NUL" : "untouched"));
    const int found = LoadStringA(plugin.module, 201, buffer, sizeof buffer);
    Compare(found == 49, Format("LoadStringA of string 201 returns its length %d", found));
    Unload(plugin);
  }
  Compare(MessageBeep(MB_ICONEXCLAMATION) != FALSE, "MessageBeep(MB_ICONEXCLAMATION) succeeds");
  DWORD pid = 0;
  GetWindowThreadProcessId(hostWindow, &pid);
  HANDLE process = OpenProcess(KqProcessAllAccess, FALSE, pid);
  Compare(process != nullptr, "OpenProcess(0x1F0FFF) of the own process succeeds");
  if (process != nullptr) CloseHandle(process);
  DWORD nobody = 7;
  const DWORD thread = GetWindowThreadProcessId(reinterpret_cast<HWND>(0x4321), &nobody);
  Compare(thread == 0 && nobody == 7,
          Format("GetWindowThreadProcessId of an invalid window gives thread %lu, process %lu "
                 "(stand-in: thread 0, process id untouched)",
                 static_cast<unsigned long>(thread), static_cast<unsigned long>(nobody)));
  Compare(SetWindowsHookExA(WH_KEYBOARD, PassOnKeyboardProc, nullptr, 0) == nullptr,
          "a global keyboard hook without a module is refused");
  Note(Format("%d behaviours compared with the stand-in", compared));
}

}  // namespace testhost
