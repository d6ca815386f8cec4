// The Ctrl+T shortcut: a keyboard hook on the host's user-interface thread
// that posts the host window the WM_COMMAND of the plug-in's menu item. The
// item's command identifier is searched in the host's menus, retried by a
// 100 ms thread timer until found.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// Only this many characters of the menu text are compared ("KQ Me&terfix").
constexpr std::size_t MenuTextPrefixLength = 12;
constexpr UINT RetrySearchPeriod = 100;  // ms

// Process-wide hook state.
extern HWND hostWindow;
extern std::uint32_t commandId;  // 0 until the menu search found the item
extern HHOOK hookHandle;         // 0 when no hook is installed
extern UINT_PTR retryTimerId;    // 0 when the retry timer is not running

// The host edition from hostVersion: 1997, 1998, 2000, 2001, 2002, 2003 or 9999.
int HostYear();
// Installs the hook for the window's thread (when its process can be opened)
// and starts the retry timer in either case.
void InstallShortcutHook(HWND window);
// Removes the hook, and stops the retry timer so it can never fire after the
// library is unloaded.
void RemoveShortcutHook();
LRESULT CALLBACK ShortcutKeyboardProc(int code, WPARAM wParam, LPARAM lParam);
void CALLBACK RetrySearchTimerProc(HWND window, UINT message, UINT_PTR timerId, DWORD time);
// Searches the plug-in menu for the item; sets commandId when found.
void FindCommandId();
// Depth first, a submenu before its own title.
void SearchMenu(HMENU menu);
// True while the host's menu bar has the probed shape: the shortcut is then
// left to the host.
bool ProbeMenuLayout();
