#include "windows/testhost/harness.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "host/host.h"
#include "platform/le_bytes.h"
#include "settings/persistence.h"
#include "settings/presets.h"
#include "settings/settings.h"
#include "windows/testhost/dialog_service.h"

namespace testhost {

namespace {

int failures = 0;
std::string scenario;
std::mutex outputMutex;

std::string pluginPath;
std::string screenshotDir;

constexpr UINT PluginCommandId = 0x7A01;
DWORD uiThread = 0;

HHOOK cbtHook = nullptr;
// The loaded plug-in: windows of its module are its dialogs, not message boxes.
HMODULE currentPlugin = nullptr;

}  // namespace

// Checks.

void Fail(const char* file, int line, const std::string& what) {
  std::lock_guard<std::mutex> lock(outputMutex);
  std::printf("  FAIL [%s] %s:%d: %s\n", scenario.c_str(), file, line, what.c_str());
  ++failures;
}

std::string Format(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

void Note(const std::string& text) {
  std::lock_guard<std::mutex> lock(outputMutex);
  std::printf("  note: %s\n", text.c_str());
}

void Begin(const char* name) {
  scenario = name;
  ForgetBoxes();
  std::printf("scenario %s\n", name);
}

// The plug-in.

namespace {

template <typename F>
void Resolve(HMODULE module, const char* name, F& out) {
  out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (out == nullptr) Fail(__FILE__, __LINE__, Format("export %s not found", name));
}

}  // namespace

bool Load(Plugin& p) {
  p.module = LoadLibraryA(pluginPath.c_str());
  if (p.module == nullptr) {
    Fail(__FILE__, __LINE__,
         Format("LoadLibrary(%s) failed: %lu", pluginPath.c_str(),
                static_cast<unsigned long>(GetLastError())));
    return false;
  }
  SetPluginModule(p.module);
  currentPlugin = p.module;
  Resolve(p.module, "FinaleExtensionVersion", p.version);
  Resolve(p.module, "FinaleExtensionInit", p.init);
  Resolve(p.module, "FinaleExtensionEnumerate", p.enumerate);
  Resolve(p.module, "FinaleExtensionInvoke", p.invoke);
  Resolve(p.module, "FinaleExtensionTerminate", p.terminate);
  Resolve(p.module, "FinaleExtensionGetMenuStatus", p.menuStatus);
  return p.version && p.init && p.enumerate && p.invoke && p.terminate && p.menuStatus;
}

void Unload(Plugin& p) {
  if (p.module != nullptr) FreeLibrary(p.module);
  p = Plugin{};
  currentPlugin = nullptr;
}

// One life of the plug-in: load, version, menu, init; the body; terminate, unload.
std::int32_t PluginLife(const std::function<void(Plugin&)>& body) {
  Plugin plugin;
  if (!Load(plugin)) return -1;
  CHECK_EQ_INT(plugin.version(TestHostVersion), HostInterfaceVersion);
  std::uint8_t info[MenuCommandInfoLayout::Size] = {};
  CHECK_EQ_INT(plugin.enumerate(0, 0, info), 1);
  CHECK_EQ_STR(reinterpret_cast<const char*>(info + MenuCommandInfoLayout::MenuText), MenuText);
  CHECK_EQ_INT(plugin.init(hostWindow, 0), 1);
  Pump(50);
  body(plugin);
  const std::int32_t status = plugin.terminate(0);
  Pump(50);
  Unload(plugin);
  return status;
}

// The host window.

HWND hostWindow = nullptr;
std::atomic<int> pluginCommands{0};
std::atomic<int> otherCommands{0};

namespace {

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && lParam == 0) {
    if (LOWORD(wParam) == PluginCommandId) {
      ++pluginCommands;
    } else {
      ++otherCommands;
    }
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// A menu bar of the host's shape: the plug-in menu at top-level position 5
// holds the plug-in's item inside a submenu, after other items.
HMENU BuildMenuBar() {
  HMENU bar = CreateMenu();
  const char* titles[] = {"&File", "&Edit", "&View", "&Tools", "&Window", "Plug-&ins", "&Help"};
  for (int i = 0; i < 7; ++i) {
    HMENU popup = CreatePopupMenu();
    if (i == 5) {
      AppendMenuA(popup, MF_STRING, 0x7000, "Other plug-in");
      HMENU sub = CreatePopupMenu();
      AppendMenuA(sub, MF_STRING, 0x7001, "KQ Something else");
      AppendMenuA(sub, MF_SEPARATOR, 0, nullptr);
      // Longer than the plug-in's 100-byte text buffer (Wine then writes no NUL).
      AppendMenuA(sub, MF_STRING, 0x7002, std::string(150, 'K').c_str());
      AppendMenuA(sub, MF_STRING, PluginCommandId, "KQ Me&terfix [v. 1.01]");
      AppendMenuA(popup, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "KQ Tools");
    } else {
      AppendMenuA(popup, MF_STRING, 0x6000 + static_cast<UINT>(i), "Item");
    }
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), titles[i]);
  }
  return bar;
}

void CreateHostWindow() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = HostWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
  wc.lpszClassName = "KqTestHostWindow";
  RegisterClassA(&wc);
  hostWindow = CreateWindowExA(0, wc.lpszClassName, "Test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                               0, 0, 800, 600, nullptr, BuildMenuBar(), wc.hInstance, nullptr);
  uiThread = GetCurrentThreadId();
}

}  // namespace

void Pump(int milliseconds) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
  while (static_cast<int>(end - GetTickCount()) > 0) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(5);
  }
}

void SetShortcutKeys(bool held) {
  BYTE keys[256];
  GetKeyboardState(keys);
  const BYTE state = held ? 0x80 : 0;
  keys[VK_CONTROL] = keys[VK_LCONTROL] = state;
  keys[VK_SHIFT] = keys[VK_LSHIFT] = state;
  SetKeyboardState(keys);
}

void SendKey(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &input, sizeof input);
}

// Message boxes.

namespace {

std::mutex boxMutex;
std::deque<int> boxAnswers;
std::vector<BoxSeen> boxesSeen;
std::set<HWND> boxesAnswered;

}  // namespace

void ExpectBox(int answer) {
  std::lock_guard<std::mutex> lock(boxMutex);
  boxAnswers.push_back(answer);
}
std::vector<BoxSeen> Boxes() {
  std::lock_guard<std::mutex> lock(boxMutex);
  return boxesSeen;
}
void ForgetBoxes() {
  std::lock_guard<std::mutex> lock(boxMutex);
  boxesSeen.clear();
  boxAnswers.clear();
}

namespace {

bool IsMessageBox(HWND window) {
  char cls[16] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (std::strcmp(cls, "#32770") != 0) return false;
  // Dialogs of the plug-in come from its module; message boxes do not.
  const auto instance = reinterpret_cast<HMODULE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
  return instance != currentPlugin;
}

LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam) {
  const auto window = reinterpret_cast<HWND>(wParam);
  if (code == HCBT_DESTROYWND) {
    std::lock_guard<std::mutex> lock(boxMutex);
    boxesAnswered.erase(window);
  } else if (code == HCBT_ACTIVATE && IsMessageBox(window)) {
    std::lock_guard<std::mutex> lock(boxMutex);
    if (boxesAnswered.insert(window).second) {
      BoxSeen seen;
      char text[512] = {};
      GetWindowTextA(window, text, sizeof text);
      seen.caption = text;
      text[0] = '\0';
      GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
      seen.text = text;
      seen.scripted = !boxAnswers.empty();
      // Unscripted boxes are closed with their safe button and reported.
      seen.answer = seen.scripted ? boxAnswers.front() : IDCANCEL;
      if (seen.scripted) boxAnswers.pop_front();
      if (!seen.scripted && GetDlgItem(window, IDCANCEL) == nullptr) {
        seen.answer = GetDlgItem(window, IDNO) != nullptr ? IDNO : IDOK;
      }
      boxesSeen.push_back(seen);
      PostMessageA(window, WM_COMMAND, static_cast<WPARAM>(seen.answer), 0);
    }
  }
  return CallNextHookEx(cbtHook, code, wParam, lParam);
}

}  // namespace

// The driver thread.

namespace {

using Clock = std::chrono::steady_clock;

// Closes whatever a failed script left open, so the UI thread can go on.
void CloseEverything() {
  for (int round = 0; round < 100; ++round) {
    HWND name = FindDialog(NameCaption);
    HWND options = FindDialog(OptionsCaption);
    if (name == nullptr && options == nullptr) return;
    PostMessageA(name != nullptr ? name : options, WM_COMMAND, IDCANCEL, 0);
    Sleep(50);
  }
}

}  // namespace

void WithDriver(const std::function<void()>& script, const std::function<void()>& action) {
  std::thread driver([&] {
    script();
    CloseEverything();
  });
  action();
  driver.join();
}

HWND FindDialog(const char* caption) {
  HWND window = FindWindowA("#32770", caption);
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

HWND WaitForDialog(const char* caption, int milliseconds) {
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
  while (Clock::now() < end) {
    if (HWND window = FindDialog(caption)) return window;
    Sleep(20);
  }
  Fail(__FILE__, __LINE__, Format("dialog \"%s\" did not appear", caption));
  return nullptr;
}

bool WaitUntil(const std::function<bool()>& condition, int milliseconds) {
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
  while (Clock::now() < end) {
    if (condition()) return true;
    Sleep(20);
  }
  return condition();
}

bool WaitForBoxes(std::size_t count) {
  return WaitUntil([count] { return Boxes().size() >= count; });
}

void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
void ClickAsync(HWND dialog, int id) { SendNotifyMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
std::string ItemText(HWND dialog, int id) {
  char text[256] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}
std::vector<std::string> ComboItems(HWND dialog, int id) {
  std::vector<std::string> items;
  const auto count = SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char text[256] = {};
    SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(i),
                        reinterpret_cast<LPARAM>(text));
    items.push_back(text);
  }
  return items;
}
std::string Join(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : "|") + item;
  return text;
}
HWND FocusOfUiThread() {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(uiThread, &info) ? info.hwndFocus : nullptr;
}
// The status bar's simple text. Wine answers SB_GETTEXTA only for parts below
// the part count, and the simple part counts as part 0 there.
std::string HelpLine(HWND dialog) {
  char text[512] = {};
  const bool simple = SendDlgItemMessageA(dialog, 126, SB_ISSIMPLE, 0, 0) != 0;
  SendDlgItemMessageA(dialog, 126, SB_GETTEXTA, simple ? 0 : SB_SIMPLEID,
                      reinterpret_cast<LPARAM>(text));
  return text;
}
void HoverOver(HWND dialog, HWND control) {
  SendMessageA(dialog, WM_SETCURSOR, reinterpret_cast<WPARAM>(control),
               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
}

// Registry.

std::vector<std::uint8_t> defaultSettingsImage;
std::vector<std::uint8_t> defaultPresetsImage;

StoredValue ReadValue(const char* name) {
  StoredValue value;
  HKEY key = nullptr;
  value.status = RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_READ, &key);
  if (value.status != ERROR_SUCCESS) return value;
  DWORD size = 0;
  value.status = RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size);
  if (value.status == ERROR_SUCCESS) {
    value.bytes.resize(size);
    value.status = RegQueryValueExA(key, name, nullptr, &value.type, value.bytes.data(), &size);
  }
  RegCloseKey(key);
  return value;
}

void WriteValue(const char* name, const std::vector<std::uint8_t>& bytes) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key, name, 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
  }
}

void DeleteSettingsKey() { RegDeleteTreeA(HKEY_CURRENT_USER, SettingsKeyPath); }

namespace {

std::string PresetNameAt(const std::vector<std::uint8_t>& image, int slot) {
  const std::size_t at = PresetTableLayout::FirstSlot +
                         PresetTableLayout::SlotSize * static_cast<std::size_t>(slot) +
                         PresetTableLayout::Name;
  if (image.size() < at + PresetNameSize) return "<short image>";
  return std::string(reinterpret_cast<const char*>(image.data() + at),
                     strnlen(reinterpret_cast<const char*>(image.data() + at), PresetNameSize));
}

}  // namespace

std::vector<std::string> StoredPresetNames() {
  const StoredValue presets = ReadValue(PresetsValueName);
  std::vector<std::string> names;
  if (presets.bytes.size() != PresetTableLayout::Size) return names;
  const int count = ReadI16(presets.bytes.data() + PresetTableLayout::Count);
  for (int i = 0; i < count && i < 20; ++i) names.push_back(PresetNameAt(presets.bytes, i));
  return names;
}

// The photograph.

namespace {

// Asks the script outside Wine to photograph the screen area of the dialog;
// it answers whether the help line (the left half of the status bar, inside
// its border) shows any text. Returns that answer; true without a script.
bool PhotographDialog(HWND dialog) {
  RECT r{};
  RECT bar{};
  GetWindowRect(dialog, &r);
  GetWindowRect(GetDlgItem(dialog, 126), &bar);
  const std::string request = screenshotDir + "\\screenshot.request";
  const std::string done = screenshotDir + "\\screenshot.done";
  DeleteFileA(done.c_str());
  FILE* f = std::fopen((request + ".tmp").c_str(), "w");
  if (f == nullptr) {
    Note("cannot write " + request);
    return true;
  }
  const long inset = 3;
  std::fprintf(f, "%ldx%ld+%ld+%ld %ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left,
               r.top, (bar.right - bar.left) / 2 - inset, bar.bottom - bar.top - 2 * inset,
               bar.left - r.left + inset, bar.top - r.top + inset);
  std::fclose(f);
  MoveFileA((request + ".tmp").c_str(), request.c_str());
  if (!WaitUntil([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; },
                 20000)) {
    Note("no screenshot was taken");
    return true;
  }
  char answer[32] = {};
  if (FILE* d = std::fopen(done.c_str(), "r")) {
    if (std::fgets(answer, sizeof answer, d) == nullptr) answer[0] = '\0';
    std::fclose(d);
  }
  DeleteFileA(done.c_str());
  return std::strncmp(answer, "blank", 5) != 0;
}

}  // namespace

// The help line is set by a message the dialog's thread handles at once, but
// drawn only when the status bar paints and Wine copies the window to the X
// server. So: paint now, give Wine a moment to flush, photograph, and check
// the photograph shows text where the help line is.
void TakeScreenshot(HWND dialog) {
  if (screenshotDir.empty()) return;
  HWND bar = GetDlgItem(dialog, 126);
  for (int attempt = 1; attempt <= 3; ++attempt) {
    RedrawWindow(bar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
    UpdateWindow(bar);
    UpdateWindow(dialog);
    Sleep(250 * attempt);
    if (PhotographDialog(dialog)) return;
    Note(Format("screenshot %d shows an empty help line; painting again", attempt));
  }
  Fail(__FILE__, __LINE__, "every screenshot shows an empty help line");
}

// The test host's life.

void StartHost(const std::string& plugin, const std::string& screenshots) {
  pluginPath = plugin;
  screenshotDir = screenshots;
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
  if (!InitCommonControlsEx(&controls)) std::printf("InitCommonControlsEx failed\n");
  // The pointer rests in a corner that no window covers, so that no real
  // WM_SETCURSOR interferes with the help line checks.
  SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
  {
    // Which file the scenarios exercise, in which kind of process.
    char loaded[MAX_PATH] = "?";
    if (HMODULE module = LoadLibraryA(pluginPath.c_str())) {
      GetModuleFileNameA(module, loaded, sizeof loaded);
      FreeLibrary(module);
    }
    std::printf("testhost: a %d-bit process; the plug-in is %s\n",
                static_cast<int>(sizeof(void*) * 8), loaded);
  }
  CreateHostWindow();
  cbtHook = SetWindowsHookExA(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
  Pump(100);
}

int FinishHost() {
  UnhookWindowsHookEx(cbtHook);
  DestroyWindow(hostWindow);
  CHECK_EQ_INT(DialogServiceBadCalls(), 0);
  std::printf("testhost: %s (%d failed checks)\n",
              failures == 0 ? "all scenarios passed" : "FAILED", failures);
  return failures == 0 ? 0 : 1;
}

}  // namespace testhost
