#include "plugin/shortcut_hook.h"

#include <cstddef>
#include <cstdint>

#include "plugin/entry.h"

namespace {

// Process-wide hook state.
HWND hostWindow = nullptr;
std::uint32_t commandId = 0;  // 0 until the menu search found the item
HHOOK hookHandle = nullptr;   // 0 when no hook is installed
UINT_PTR retryTimerId = 0;    // 0 when the retry timer is not running

// Only this many characters of the menu text are compared ("KQ Me&terfix").
constexpr std::size_t MenuTextPrefixLength = 12;
constexpr UINT RetrySearchPeriod = 100;  // ms
constexpr WPARAM KeyT = 0x54;
constexpr int PluginMenuPosition = 5;
constexpr int ProbedMenuPosition = 6;
// Real menus are shallow; the bound only keeps a malformed tree off the stack.
constexpr int MaxMenuDepth = 16;

struct MenuLayout {
  int firstCount;
  int submenuPosition;
  int secondCount;
};

MenuLayout LayoutFor(int year) {
  switch (year) {
    case 1997:
    case 1998:
    case 2000:
      return {28, 20, 14};
    case 2001:
      return {22, 0, 26};
    default:
      return {23, 0, 26};
  }
}

// 1 when the menu bar's first item has no text: every top-level position
// then moves up by one.
int TopLevelShift(HMENU menuBar) {
  char text[48];
  return GetMenuStringA(menuBar, 0, text, sizeof text, MF_BYPOSITION) == 0 ? 1 : 0;
}

bool MatchesMenuText(const char* text) {
  for (std::size_t i = 0; i < MenuTextPrefixLength; ++i) {
    if (text[i] != MenuText[i]) return false;
    if (text[i] == '\0') return true;
  }
  return true;
}

void SearchMenuAt(HMENU menu, int depth) {
  if (depth > MaxMenuDepth) return;
  const int count = GetMenuItemCount(menu);  // -1 when unreadable: no items
  for (int position = 0; position < count; ++position) {
    char text[100];
    const int length =
        GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof text, MF_BYPOSITION);
    if (length <= 0) continue;
    // Not every implementation terminates a truncated text.
    text[sizeof text - 1] = '\0';
    if (HMENU subMenu = GetSubMenu(menu, position)) {
      SearchMenuAt(subMenu, depth + 1);
      if (commandId != 0) return;
      // A popup's title is no command (its identifier reads as -1).
      continue;
    }
    if (MatchesMenuText(text)) {
      commandId = GetMenuItemID(menu, position);
      return;
    }
  }
}

// The host edition from hostVersion: 1997, 1998, 2000, 2001, 2002, 2003 or 9999.
int HostYear() {
  switch (static_cast<std::uint32_t>(hostVersion) & 0xFFFF0000u) {
    case 0x03800000u:
      return 1997;
    case 0x04000000u:
      return 1998;
    case 0x05000000u:
      return 2000;
    case 0x06000000u:
      return 2001;
    case 0x07000000u:
      return 2002;
    case 0x08000000u:
      return 2003;
    default:
      return 9999;
  }
}

// Depth first, a submenu before its own title.
void SearchMenu(HMENU menu) {
  if (menu != nullptr) SearchMenuAt(menu, 0);
}

// Searches the plug-in menu for the item; sets commandId when found.
void FindCommandId() {
  HMENU menuBar = GetMenu(hostWindow);
  if (menuBar == nullptr) return;
  SearchMenu(GetSubMenu(menuBar, PluginMenuPosition + TopLevelShift(menuBar)));
}

// True while the host's menu bar has the probed shape: the shortcut is then
// left to the host.
bool ProbeMenuLayout() {
  HMENU menuBar = GetMenu(hostWindow);
  if (menuBar == nullptr) return false;
  const int shift = TopLevelShift(menuBar);
  const MenuLayout layout = LayoutFor(HostYear());
  HMENU menu = GetSubMenu(menuBar, ProbedMenuPosition + shift);
  if (menu != nullptr && GetMenuItemCount(menu) == layout.firstCount &&
      GetSubMenu(menu, layout.submenuPosition) != nullptr)
    menu = GetSubMenu(menuBar, ProbedMenuPosition + 1 + shift);
  return menu != nullptr && GetMenuItemCount(menu) == layout.secondCount &&
         GetSubMenu(menu, 1) != nullptr && GetSubMenu(menu, 2) != nullptr;
}

LRESULT CALLBACK ShortcutKeyboardProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code != HC_ACTION) return CallNextHookEx(hookHandle, code, wParam, lParam);
  const auto flags = static_cast<std::uint32_t>(lParam);
  const bool taken = wParam == KeyT && !ProbeMenuLayout() && (flags & (1u << 31)) == 0 &&
                     (flags & (1u << 30)) == 0 && (flags & (1u << 29)) == 0 &&
                     (GetKeyState(VK_CONTROL) & 0x80) != 0 && GetActiveWindow() == hostWindow;
  if (!taken) return CallNextHookEx(hookHandle, code, wParam, lParam);
  if (commandId == 0) FindCommandId();
  PostMessageA(hostWindow, WM_COMMAND, commandId, 0);
  return 0;
}

void CALLBACK RetrySearchTimerProc(HWND, UINT, UINT_PTR timerId, DWORD) {
  if (commandId == 0) FindCommandId();
  if (commandId != 0) {
    KillTimer(nullptr, timerId);
    if (timerId == retryTimerId) retryTimerId = 0;
  }
}

}  // namespace

void InstallShortcutHook(HWND window) {
  // A second installation must not leave the first hook or timer behind.
  if (hookHandle != nullptr || retryTimerId != 0) RemoveShortcutHook();
  hostWindow = window;
  commandId = 0;
  DWORD processId = 0;
  const DWORD threadId = GetWindowThreadProcessId(window, &processId);
  if (HANDLE process = OpenProcess(KqProcessAllAccess, FALSE, processId)) {
    // The handle only proves access; keeping it open would leak it.
    CloseHandle(process);
    hookHandle = SetWindowsHookExA(WH_KEYBOARD, ShortcutKeyboardProc, moduleHandle, threadId);
  }
  retryTimerId = SetTimer(nullptr, 0, RetrySearchPeriod, RetrySearchTimerProc);
}

void RemoveShortcutHook() {
  UnhookWindowsHookEx(hookHandle);
  hookHandle = nullptr;
  // A timer left running would call into the library after it is unloaded.
  if (retryTimerId != 0) KillTimer(nullptr, retryTimerId);
  retryTimerId = 0;
}
