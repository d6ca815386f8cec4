// The Ctrl+T shortcut: a keyboard hook on the host's user-interface thread
// that posts the host window the WM_COMMAND of the plug-in's menu item. The
// item's command identifier is searched in the host's menus, retried by a
// 100 ms thread timer until found. The shortcut is left to the host while its
// menu bar has the shape of the host edition's own Ctrl+T menus.
#pragma once

#include "platform/win32.h"

// Installs the hook for the window's thread (when its process can be opened)
// and starts the retry timer in either case.
void InstallShortcutHook(HWND window);
// Removes the hook, and stops the retry timer so it can never fire after the
// library is unloaded.
void RemoveShortcutHook();
