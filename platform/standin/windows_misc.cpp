// Keyboard state, windows, processes, the thread keyboard hook, thread
// timers, menus and posted messages of the Linux stand-in. Where a behaviour
// has to be picked it follows what Windows documents.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "platform/standin/standin.h"

namespace {

constexpr UINT NoItem = 0xFFFFFFFFu;

std::set<int> keysDown;
HWND activeWindow = nullptr;

struct WindowInfo {
  HMENU menuBar = nullptr;
};
std::map<HWND, WindowInfo> windows;
std::uintptr_t nextHandle = 0x10000;

bool failOpenProcess = false;
std::vector<DWORD> openProcessRequests;
std::set<HANDLE> processHandles;
std::vector<standin::PostedMessage> posted;

struct Hook {
  HHOOK handle;
  int type;
  HOOKPROC proc;
  HINSTANCE module;
  DWORD threadId;
};
std::vector<Hook> hooks;
int nextHookCalls = 0;
LRESULT nextHookResult = 0;
int unhookCalls = 0;

struct Timer {
  UINT_PTR id;
  UINT period;
  TIMERPROC proc;
};
std::vector<Timer> timers;
UINT_PTR nextTimerId = 1;
DWORD tickCount = 1000;

struct MenuItem {
  std::string text;
  UINT id = 0;
  HMENU subMenu = nullptr;
};
std::map<HMENU, std::vector<MenuItem>> menus;
bool menuStringUnterminated = false;
int menuStringCalls = 0;

template <class T>
T NewHandle() {
  nextHandle += 0x10;
  return reinterpret_cast<T>(nextHandle);
}

std::vector<MenuItem>* FindMenu(HMENU menu) {
  auto it = menus.find(menu);
  return it == menus.end() ? nullptr : &it->second;
}

// By command, Windows also looks into submenus.
const MenuItem* FindItem(HMENU menu, UINT item, UINT flags) {
  std::vector<MenuItem>* items = FindMenu(menu);
  if (items == nullptr) return nullptr;
  if ((flags & MF_BYPOSITION) != 0) return item < items->size() ? &(*items)[item] : nullptr;
  for (const MenuItem& entry : *items) {
    if (entry.subMenu == nullptr && entry.id == item) return &entry;
    if (entry.subMenu != nullptr) {
      if (const MenuItem* inner = FindItem(entry.subMenu, item, flags)) return inner;
    }
  }
  return nullptr;
}

}  // namespace

namespace standin {

void SetKeyDown(int virtualKey, bool down) {
  if (down) {
    keysDown.insert(virtualKey);
  } else {
    keysDown.erase(virtualKey);
  }
}

void SetActiveWindowHandle(HWND window) { activeWindow = window; }

HWND NewWindow(HMENU menuBar) {
  HWND window = NewHandle<HWND>();
  windows[window].menuBar = menuBar;
  return window;
}

void SetWindowMenu(HWND window, HMENU menuBar) { windows[window].menuBar = menuBar; }
void FailOpenProcess(bool on) { failOpenProcess = on; }
const std::vector<DWORD>& OpenProcessRequests() { return openProcessRequests; }
int OpenProcessHandleCount() { return static_cast<int>(processHandles.size()); }
const std::vector<PostedMessage>& PostedMessages() { return posted; }

std::vector<HookInfo> InstalledHooks() {
  std::vector<HookInfo> result;
  for (const Hook& hook : hooks) result.push_back(HookInfo{hook.type, hook.module, hook.threadId});
  return result;
}

LRESULT DeliverKey(WPARAM wParam, LPARAM lParam, int code) {
  for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) {
    if (it->type == WH_KEYBOARD) return it->proc(code, wParam, lParam);
  }
  return 0;
}

LPARAM KeyLParam(bool goingDown, bool wasDown, bool altHeld) {
  std::uint32_t value = 1;  // repeat count
  if (altHeld) value |= 1u << 29;
  if (wasDown) value |= 1u << 30;
  if (!goingDown) value |= 1u << 31;
  // lParam carries the 32 bits as Windows gives them, sign-extended on 64 bits.
  return static_cast<LPARAM>(static_cast<std::int32_t>(value));
}

int NextHookCallCount() { return nextHookCalls; }
void SetNextHookResult(LRESULT result) { nextHookResult = result; }
int UnhookCallCount() { return unhookCalls; }

int FireTimers() {
  std::vector<UINT_PTR> due;
  for (const Timer& timer : timers) due.push_back(timer.id);
  int fired = 0;
  tickCount += 100;
  for (UINT_PTR id : due) {
    // A procedure may kill its own or another timer.
    auto it =
        std::find_if(timers.begin(), timers.end(), [id](const Timer& t) { return t.id == id; });
    if (it == timers.end()) continue;
    TIMERPROC proc = it->proc;
    if (proc != nullptr) proc(nullptr, WM_TIMER, id, tickCount);
    ++fired;
  }
  return fired;
}

int ActiveTimerCount() { return static_cast<int>(timers.size()); }

UINT TimerPeriod(UINT_PTR id) {
  for (const Timer& timer : timers) {
    if (timer.id == id) return timer.period;
  }
  return 0;
}

HMENU NewMenu() {
  HMENU menu = NewHandle<HMENU>();
  menus[menu];
  return menu;
}

void AppendMenuItem(HMENU menu, const std::string& text, UINT id) {
  menus[menu].push_back(MenuItem{text, id, nullptr});
}

void AppendSubMenu(HMENU menu, const std::string& text, HMENU subMenu) {
  menus[menu].push_back(MenuItem{text, NoItem, subMenu});
}

void AppendSeparator(HMENU menu) { menus[menu].push_back(MenuItem{"", 0, nullptr}); }
void SetMenuStringUnterminated(bool on) { menuStringUnterminated = on; }
int MenuStringCallCount() { return menuStringCalls; }

void ResetAll() {
  ResetMessageBoxes();
  ClearRegistry();
  ResetDialogWindows();
  keysDown.clear();
  activeWindow = nullptr;
  windows.clear();
  failOpenProcess = false;
  openProcessRequests.clear();
  processHandles.clear();
  posted.clear();
  hooks.clear();
  nextHookCalls = 0;
  nextHookResult = 0;
  unhookCalls = 0;
  timers.clear();
  menus.clear();
  menuStringUnterminated = false;
  menuStringCalls = 0;
}

}  // namespace standin

// The key state byte sign-extended, as Windows returns it: a key that is
// down reads 0xFF80 (high-order bit set, and bit 0x80 with it).
extern "C" SHORT GetKeyState(int virtualKey) {
  return keysDown.contains(virtualKey) ? static_cast<SHORT>(0xFF80) : 0;
}

extern "C" HWND GetActiveWindow() { return activeWindow; }

extern "C" BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  posted.push_back(standin::PostedMessage{window, message, wParam, lParam});
  return TRUE;
}

// An unknown window gives thread 0 and process 0, as for an invalid handle.
extern "C" DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId) {
  const bool known = windows.contains(window);
  // As under Wine, an unknown window leaves the process id untouched.
  if (processId != nullptr && known) *processId = standin::HostProcessId;
  return known ? standin::UiThreadId : 0;
}

// Process 0 (the idle process) cannot be opened, as in Windows.
extern "C" HANDLE OpenProcess(DWORD access, BOOL, DWORD processId) {
  openProcessRequests.push_back(access);
  if (failOpenProcess || processId == 0) return nullptr;
  HANDLE handle = NewHandle<HANDLE>();
  processHandles.insert(handle);
  return handle;
}

extern "C" BOOL CloseHandle(HANDLE handle) {
  return processHandles.erase(handle) != 0 ? TRUE : FALSE;
}

// Thread hooks only for the simulated user-interface thread; threadId 0
// (a global hook) needs a module, as Windows requires.
extern "C" HHOOK SetWindowsHookExA(int hookType, HOOKPROC proc, HINSTANCE module, DWORD threadId) {
  if (proc == nullptr) return nullptr;
  if (threadId == 0 ? module == nullptr : threadId != standin::UiThreadId) return nullptr;
  HHOOK handle = NewHandle<HHOOK>();
  hooks.push_back(Hook{handle, hookType, proc, module, threadId});
  return handle;
}

// The host's own handling stands behind the plug-in's hook.
extern "C" LRESULT CallNextHookEx(HHOOK, int, WPARAM, LPARAM) {
  ++nextHookCalls;
  return nextHookResult;
}

extern "C" BOOL UnhookWindowsHookEx(HHOOK hook) {
  ++unhookCalls;
  auto it =
      std::find_if(hooks.begin(), hooks.end(), [hook](const Hook& h) { return h.handle == hook; });
  if (it == hooks.end()) return FALSE;
  hooks.erase(it);
  return TRUE;
}

// Without a window the identifier passed is ignored unless it names a running
// timer (which is then replaced), and a new nonzero identifier is returned.
// Periods below USER_TIMER_MINIMUM (10 ms) are raised to it.
extern "C" UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  const UINT period = std::max<UINT>(elapse, 10);
  if (window == nullptr) {
    for (Timer& timer : timers) {
      if (timer.id == id) {
        timer.period = period;
        timer.proc = proc;
        return id;
      }
    }
    const UINT_PTR newId = nextTimerId++;
    timers.push_back(Timer{newId, period, proc});
    return newId;
  }
  // Window timers are not used by the plug-in; they keep the given id.
  timers.push_back(Timer{id, period, proc});
  return id != 0 ? id : 1;
}

extern "C" BOOL KillTimer(HWND, UINT_PTR id) {
  auto it = std::find_if(timers.begin(), timers.end(), [id](const Timer& t) { return t.id == id; });
  if (it == timers.end()) return FALSE;
  timers.erase(it);
  return TRUE;
}

extern "C" HMENU GetMenu(HWND window) {
  auto it = windows.find(window);
  return it == windows.end() ? nullptr : it->second.menuBar;
}

// NULL when the item does not open a submenu.
extern "C" HMENU GetSubMenu(HMENU menu, int position) {
  std::vector<MenuItem>* items = FindMenu(menu);
  if (items == nullptr || position < 0 || static_cast<std::size_t>(position) >= items->size())
    return nullptr;
  return (*items)[static_cast<std::size_t>(position)].subMenu;
}

// -1 for an invalid menu handle.
extern "C" int GetMenuItemCount(HMENU menu) {
  std::vector<MenuItem>* items = FindMenu(menu);
  return items == nullptr ? -1 : static_cast<int>(items->size());
}

// Returns the number of characters copied, without the terminator; with no
// buffer or a size of 0 the text's length. An item without text gives 0.
extern "C" int GetMenuStringA(HMENU menu, UINT item, LPSTR buffer, int bufferSize, UINT flags) {
  ++menuStringCalls;
  const MenuItem* entry = FindItem(menu, item, flags);
  if (entry == nullptr) return 0;
  const std::string& text = entry->text;
  if (buffer == nullptr || bufferSize <= 0) return static_cast<int>(text.size());
  const auto capacity = static_cast<std::size_t>(bufferSize);
  if (text.size() < capacity) {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<int>(text.size());
  }
  if (menuStringUnterminated) {
    // As Wine does: the whole buffer filled, no terminator, size - 1 returned.
    std::memcpy(buffer, text.data(), capacity);
    return bufferSize - 1;
  }
  std::memcpy(buffer, text.data(), capacity - 1);
  buffer[capacity - 1] = '\0';
  return bufferSize - 1;
}

// -1 (0xFFFFFFFF) for an item that opens a submenu or does not exist.
extern "C" UINT GetMenuItemID(HMENU menu, int position) {
  std::vector<MenuItem>* items = FindMenu(menu);
  if (items == nullptr || position < 0 || static_cast<std::size_t>(position) >= items->size())
    return NoItem;
  const MenuItem& item = (*items)[static_cast<std::size_t>(position)];
  return item.subMenu != nullptr ? NoItem : item.id;
}
