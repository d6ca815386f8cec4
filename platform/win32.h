// The Win32 seam. Plug-in code includes this header instead of <windows.h>.
// On Windows it is <windows.h> itself; elsewhere it declares the small subset
// of the API the plug-in uses, implemented by the Linux stand-in
// (platform/standin), so call sites look the same in every build.
#pragma once

#include <cstdint>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>

#else  // the Linux stand-in

#include <cstdarg>
#include <cstddef>

#define WINAPI
#define CALLBACK
#define APIENTRY

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using SHORT = std::int16_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using REGSAM = std::uint32_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPBYTE = std::uint8_t*;
using LPDWORD = DWORD*;
// Distinct handle types named as in the Windows headers, so code written
// against either compiles the same way.
// NOLINTBEGIN(bugprone-reserved-identifier)
using PHKEY = struct HKEY__**;

struct HWND__;
struct HKEY__;
struct HINSTANCE__;
struct HMENU__;
struct HHOOK__;
using HWND = HWND__*;
using HKEY = HKEY__*;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using HMENU = HMENU__*;
using HHOOK = HHOOK__*;
// NOLINTEND(bugprone-reserved-identifier)
using HANDLE = void*;
using LPVOID = void*;

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
using LPRECT = RECT*;

struct SECURITY_ATTRIBUTES;

using HOOKPROC = LRESULT (*)(int code, WPARAM wParam, LPARAM lParam);
using TIMERPROC = void (*)(HWND window, UINT message, UINT_PTR timerId, DWORD time);

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Message boxes and beeps.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Window messages and notifications.
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT BN_CLICKED = 0;
constexpr UINT CBN_SELCHANGE = 1;
constexpr UINT EM_LIMITTEXT = 0x00C5;
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr LRESULT CB_ERR = -1;
constexpr UINT WM_USER = 0x0400;
constexpr UINT SB_SETTEXTA = WM_USER + 1;
constexpr UINT SB_GETTEXTA = WM_USER + 2;
constexpr UINT SB_SIMPLE = WM_USER + 9;
constexpr int SB_SIMPLEID = 0x00FF;

// Keyboard and hooks.
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;
constexpr int WH_KEYBOARD = 2;
constexpr int HC_ACTION = 0;

// Menus.
constexpr UINT MF_BYPOSITION = 0x00000400;
constexpr UINT MF_BYCOMMAND = 0x00000000;

// Screen metrics.
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;

// Registry.
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

inline WORD LOWORD(std::uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }
inline WORD HIWORD(std::uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
inline WPARAM MAKEWPARAM(WORD low, WORD high) {
  return static_cast<WPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}

extern "C" {
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
BOOL MessageBeep(UINT type);
int wsprintfA(LPSTR buffer, LPCSTR format, ...);

// The stand-in names these parameters after its own registry model.
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD size);
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM access, const SECURITY_ATTRIBUTES* security, PHKEY result,
                     LPDWORD disposition);
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegCloseKey(HKEY key);
// NOLINTEND(readability-inconsistent-declaration-parameter-name)

SHORT GetKeyState(int virtualKey);
HWND GetActiveWindow();
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId);
HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId);
BOOL CloseHandle(HANDLE handle);
HHOOK SetWindowsHookExA(int hookType, HOOKPROC proc, HINSTANCE module, DWORD threadId);
LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam);
BOOL UnhookWindowsHookEx(HHOOK hook);
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND window, UINT_PTR id);

HMENU GetMenu(HWND window);
HMENU GetSubMenu(HMENU menu, int position);
int GetMenuItemCount(HMENU menu);
int GetMenuStringA(HMENU menu, UINT item, LPSTR buffer, int bufferSize, UINT flags);
UINT GetMenuItemID(HMENU menu, int position);

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
int GetDlgCtrlID(HWND control);
int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int bufferSize);
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
int GetSystemMetrics(int index);
}

#endif  // _WIN32

// PROCESS_ALL_ACCESS as the older Windows headers defined it; newer headers
// give a larger mask that older systems refuse.
constexpr DWORD KqProcessAllAccess = 0x1F0FFF;
