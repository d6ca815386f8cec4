// The test host: the simulated host as a Windows program. It exports the 17
// host functions by ordinal (like the real host executable), loads the
// plug-in with LoadLibrary, calls its entry points by name and runs the
// scenarios against real Win32: registry, dialogs from the plug-in's own
// resources, message boxes, the keyboard hook.
//   host.exe PLUGIN [--screenshot DIR]
// Prints one line per scenario and per failed check; exit status 0 when all
// checks passed.
// commctrl.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/records.h"
#include "plugin/entry.h"
#include "host/host.h"
#include "settings/persistence.h"
#include "settings/presets.h"
#include "settings/settings.h"
#include "simhost/simhost.h"
#include "windows/testhost/dialog_service.h"
#include "windows/testhost/stack_probe.h"

namespace {

// ---- checks ----------------------------------------------------------------

int failures = 0;
std::string scenario;
std::mutex outputMutex;

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

#define CHECK(cond)                               \
  do {                                            \
    if (!(cond)) Fail(__FILE__, __LINE__, #cond); \
  } while (0)
#define CHECK_EQ_INT(actual, expected)                                                            \
  do {                                                                                            \
    const long long a_ = static_cast<long long>(actual);                                          \
    const long long e_ = static_cast<long long>(expected);                                        \
    if (a_ != e_) Fail(__FILE__, __LINE__, Format("%s is %lld, expected %lld", #actual, a_, e_)); \
  } while (0)
#define CHECK_EQ_STR(actual, expected)                                                \
  do {                                                                                \
    const std::string a_ = (actual);                                                  \
    const std::string e_ = (expected);                                                \
    if (a_ != e_)                                                                     \
      Fail(__FILE__, __LINE__,                                                        \
           Format("%s is \"%s\", expected \"%s\"", #actual, a_.c_str(), e_.c_str())); \
  } while (0)

void Note(const std::string& text) {
  std::lock_guard<std::mutex> lock(outputMutex);
  std::printf("  note: %s\n", text.c_str());
}

// ---- the plug-in -------------------------------------------------------------

struct Plugin {
  HMODULE module = nullptr;
  decltype(&FinaleExtensionVersion) version = nullptr;
  decltype(&FinaleExtensionInit) init = nullptr;
  decltype(&FinaleExtensionEnumerate) enumerate = nullptr;
  decltype(&FinaleExtensionInvoke) invoke = nullptr;
  decltype(&FinaleExtensionTerminate) terminate = nullptr;
  decltype(&FinaleExtensionGetMenuStatus) menuStatus = nullptr;
};

std::string pluginPath;
constexpr std::int32_t TestHostVersion = 0x05000005;
constexpr UINT PluginCommandId = 0x7A01;

template <typename F>
void Resolve(HMODULE module, const char* name, F& out) {
  out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (out == nullptr) Fail(__FILE__, __LINE__, Format("export %s not found", name));
}

bool Load(Plugin& p) {
  p.module = LoadLibraryA(pluginPath.c_str());
  if (p.module == nullptr) {
    Fail(__FILE__, __LINE__,
         Format("LoadLibrary(%s) failed: %lu", pluginPath.c_str(),
                static_cast<unsigned long>(GetLastError())));
    return false;
  }
  testhost::SetPluginModule(p.module);
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
}

// ---- the host window ----------------------------------------------------------

HWND hostWindow = nullptr;
DWORD uiThread = 0;
std::atomic<int> pluginCommands{0};
std::atomic<int> otherCommands{0};

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

// ---- message boxes, answered from a CBT hook on the UI thread ----------------

struct BoxSeen {
  std::string caption;
  std::string text;
  int answer;
  bool scripted;
};

std::mutex boxMutex;
std::deque<int> boxAnswers;
std::vector<BoxSeen> boxesSeen;
std::set<HWND> boxesAnswered;
HHOOK cbtHook = nullptr;
HMODULE currentPlugin = nullptr;

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

// ---- the driver thread: waits for the plug-in's windows and works them -------

using Clock = std::chrono::steady_clock;

HWND FindDialog(const char* caption) {
  HWND window = FindWindowA("#32770", caption);
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

HWND WaitForDialog(const char* caption, int milliseconds = 10000) {
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
  while (Clock::now() < end) {
    if (HWND window = FindDialog(caption)) return window;
    Sleep(20);
  }
  Fail(__FILE__, __LINE__, Format("dialog \"%s\" did not appear", caption));
  return nullptr;
}

bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 10000) {
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

// Clicks that only change check marks return when the dialog has handled them.
void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }
// Clicks that open a modal window must not block the driver.
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

// Closes whatever a failed script left open, so the UI thread can go on.
void CloseEverything() {
  for (int round = 0; round < 100; ++round) {
    HWND name = FindDialog("Save preset as...");
    HWND options = FindDialog("KQ Meterfix v. 1.01");
    if (name == nullptr && options == nullptr) return;
    PostMessageA(name != nullptr ? name : options, WM_COMMAND, IDCANCEL, 0);
    Sleep(50);
  }
}

// Runs action on the UI thread while script works the windows from a second thread.
void WithDriver(const std::function<void()>& script, const std::function<void()>& action) {
  std::thread driver([&] {
    script();
    CloseEverything();
  });
  action();
  driver.join();
}

// ---- registry ------------------------------------------------------------------

struct StoredValue {
  LONG status = ERROR_FILE_NOT_FOUND;
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> bytes;
};

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

std::string PresetNameAt(const std::vector<std::uint8_t>& image, int slot) {
  const std::size_t at = PresetTableLayout::FirstSlot +
                         PresetTableLayout::SlotSize * static_cast<std::size_t>(slot) +
                         PresetTableLayout::Name;
  if (image.size() < at + PresetNameSize) return "<short image>";
  return std::string(reinterpret_cast<const char*>(image.data() + at),
                     strnlen(reinterpret_cast<const char*>(image.data() + at), PresetNameSize));
}

std::vector<std::string> StoredPresetNames() {
  const StoredValue presets = ReadValue(PresetsValueName);
  std::vector<std::string> names;
  if (presets.bytes.size() != PresetTableLayout::Size) return names;
  const int count = ReadI16(presets.bytes.data() + PresetTableLayout::Count);
  for (int i = 0; i < count && i < 20; ++i) names.push_back(PresetNameAt(presets.bytes, i));
  return names;
}

// One life of the plug-in: load, version, menu, init; the body; terminate, unload.
std::int32_t PluginLife(const std::function<void(Plugin&)>& body) {
  Plugin plugin;
  if (!Load(plugin)) return -1;
  currentPlugin = plugin.module;
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
  currentPlugin = nullptr;
  return status;
}

void Begin(const char* name) {
  scenario = name;
  ForgetBoxes();
  std::printf("scenario %s\n", name);
}

// ---- scenarios -------------------------------------------------------------------

std::vector<std::uint8_t> defaultSettingsImage;
std::vector<std::uint8_t> defaultPresetsImage;

void FirstRunAndTermination() {
  Begin("registry: first run and termination");
  DeleteSettingsKey();
  std::uint8_t info[MenuCommandInfoLayout::Size];
  const std::int32_t status = PluginLife([&](Plugin& plugin) {
    CHECK_EQ_INT(plugin.menuStatus(0), 1);
    std::memset(info, 0x5A, sizeof info);
    CHECK_EQ_INT(plugin.enumerate(0, 1, info), 0);
    CHECK_EQ_INT(info[0], 0x5A);
  });
  CHECK_EQ_INT(status, ERROR_SUCCESS);
  const StoredValue settings = ReadValue(SettingsValueName);
  CHECK_EQ_INT(settings.status, ERROR_SUCCESS);
  CHECK_EQ_INT(settings.type, REG_BINARY);
  CHECK_EQ_INT(settings.bytes.size(), SettingsLayout::Size);
  if (settings.bytes.size() == SettingsLayout::Size) {
    CHECK_EQ_INT(ReadI16(settings.bytes.data() + SettingsLayout::DialogLeft), NeverPlaced);
    CHECK_EQ_INT(ReadI16(settings.bytes.data() + SettingsLayout::DialogTop), NeverPlaced);
    CHECK_EQ_INT(ReadI16(settings.bytes.data() + SettingsLayout::MinMeasureDuration), 1024);
  }
  const StoredValue presets = ReadValue(PresetsValueName);
  CHECK_EQ_INT(presets.status, ERROR_SUCCESS);
  CHECK_EQ_INT(presets.type, REG_BINARY);
  CHECK_EQ_INT(presets.bytes.size(), PresetTableLayout::Size);
  CHECK_EQ_STR(Join(StoredPresetNames()), "Upbeats|Complex Beating|Cadenza|Composite");
  defaultSettingsImage = settings.bytes;
  defaultPresetsImage = presets.bytes;
}

void OversizedValuesIgnored() {
  Begin("registry: an 86-byte UserDialog and a 1623-byte Presets are ignored");
  std::vector<std::uint8_t> settings86(86, 0x01);
  std::vector<std::uint8_t> presets1623(1623, 0x00);
  WriteValue(SettingsValueName, settings86);
  WriteValue(PresetsValueName, presets1623);
  // What the plug-in meets: the query of 85 bytes fails with ERROR_MORE_DATA.
  HKEY key = nullptr;
  CHECK_EQ_INT(RegOpenKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, KEY_READ, &key), 0);
  std::uint8_t buffer[SettingsLayout::Size];
  DWORD size = sizeof buffer;
  CHECK_EQ_INT(RegQueryValueExA(key, SettingsValueName, nullptr, nullptr, buffer, &size),
               ERROR_MORE_DATA);
  RegCloseKey(key);
  CHECK_EQ_INT(PluginLife([](Plugin&) {}), ERROR_SUCCESS);
  CHECK(ReadValue(SettingsValueName).bytes == defaultSettingsImage);
  CHECK(ReadValue(PresetsValueName).bytes == defaultPresetsImage);

  Begin("registry: stored values of the right size are used byte for byte");
  std::vector<std::uint8_t> settings = defaultSettingsImage;
  WriteI16(settings.data() + SettingsLayout::MinMeasureDuration, 2048);
  WriteI16(settings.data() + SettingsLayout::Reserved, 0x1234);
  settings[SettingsLayout::PresetName + 10] = 0x77;  // behind the NUL
  std::vector<std::uint8_t> presets = defaultPresetsImage;
  WriteI16(presets.data() + PresetTableLayout::Count, 2);
  WriteValue(SettingsValueName, settings);
  WriteValue(PresetsValueName, presets);
  CHECK_EQ_INT(PluginLife([](Plugin&) {}), ERROR_SUCCESS);
  CHECK(ReadValue(SettingsValueName).bytes == settings);
  CHECK(ReadValue(PresetsValueName).bytes == presets);
  WriteValue(SettingsValueName, defaultSettingsImage);
  WriteValue(PresetsValueName, defaultPresetsImage);
}

void InvocationOverSmallScore() {
  Begin("invocation over a small score");
  simhost::Host host;
  simhost::SetCurrentHost(&host);
  host.AddStaff(1);
  host.AddStaff(2);
  for (std::int16_t m = 1; m <= 3; ++m) host.SetMeasure(m, 4, 1024);
  // Measure 1: six eighths beamed 3 + 3 (6/8); measure 2: four quarters (stays
  // 4/4); measure 3: eighths beamed 3 + 3 + 2 (composite or 8/8 by options).
  std::vector<simhost::Entry> sixEighths;
  for (int i = 0; i < 6; ++i) sixEighths.push_back({i * 512, 512, i % 3 == 0, false, 0});
  std::vector<simhost::Entry> fourQuarters;
  for (int i = 0; i < 4; ++i) fourQuarters.push_back({i * 1024, 1024, true, false, 0});
  for (std::int16_t staff = 1; staff <= 2; ++staff) {
    host.SetLayer(staff, 1, 0, 3072, sixEighths);
    host.SetLayer(staff, 2, 0, 4096, fourQuarters);
  }
  const std::string before2 = host.FormatMeasure(2);
  const auto region = simhost::MakeSelectionRegion(0, 0, 1, 0, 1, 2, EndOfMeasure);
  PluginLife([&](Plugin& plugin) {
    // Without a region only a beep: result 0, no message.
    CHECK_EQ_INT(plugin.invoke(hostWindow, 0, nullptr, 0), 0);
    CHECK_EQ_INT(plugin.invoke(hostWindow, 0, region.data(), 0), 1);
  });
  CHECK_EQ_STR(host.FormatMeasure(1), "2/1536");
  CHECK_EQ_STR(host.FormatMeasure(2), before2);
  CHECK_EQ_INT(host.OutstandingLayers(), 0);
  CHECK_EQ_INT(host.counters().badCalls, 0);
  CHECK_EQ_INT(host.counters().updateLayouts, 0);
  CHECK_EQ_INT(Boxes().size(), 0);
  for (const auto& box : Boxes()) Note("box: " + box.caption + ": " + box.text);
  simhost::SetCurrentHost(nullptr);
}

// ---- stdcall across the 32-bit boundary ---------------------------------------

bool InsideModule(HMODULE module, std::uintptr_t address) {
  HMODULE owner = nullptr;
  return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(address), &owner) != FALSE &&
         owner == module;
}

void CheckStack(const char* what, const testhost::StackCheck& check) {
  if (!check.called) {
    Fail(__FILE__, __LINE__, Format("%s: no such export to call", what));
    return;
  }
  if (check.stackDelta != 0) {
    Fail(__FILE__, __LINE__,
         Format("%s moved the stack pointer by %ld bytes (stdcall removes its own arguments)", what,
                static_cast<long>(check.stackDelta)));
  }
  if (!check.registersKept) {
    Fail(__FILE__, __LINE__, Format("%s did not keep EBX, ESI, EDI and EBP", what));
  }
}

// A host function as the plug-in binds it: by its ordinal (the table of
// host/host.h) from the host module, as a pointer of its declared type.
template <typename F>
F HostExport(F /*declared*/, const char* name) {
  for (const HostFunctionOrdinal& row : HostFunctionOrdinals) {
    if (std::strcmp(row.name, name) != 0) continue;
    return reinterpret_cast<F>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(row.ordinal))));
  }
  return nullptr;
}
#define HOST_EXPORT(name) HostExport(&name, #name)

std::int32_t HOSTAPI NoDialogProc(HWND, UINT, WPARAM, LPARAM, std::intptr_t) { return 0; }

void StdcallStackPointer() {
  Begin("stdcall: the stack pointer after every export and after the host functions");
  if (!testhost::StackProbesAvailable()) {
    Note("64-bit Windows has a single calling convention: nothing to measure");
    return;
  }
  using testhost::CallStdcall;
  // Every export, called through a pointer of its declared WINAPI type.
  simhost::Host host;
  simhost::SetCurrentHost(&host);
  host.AddStaff(1);
  host.SetMeasure(1, 4, 1024);
  std::vector<simhost::Entry> eighths;
  for (int i = 0; i < 6; ++i) eighths.push_back({i * 512, 512, i % 3 == 0, false, 0});
  host.SetLayer(1, 1, 0, 3072, eighths);
  const auto region = simhost::MakeSelectionRegion(0, 0, 1, 0, 0, 1, EndOfMeasure);
  Plugin plugin;
  if (!Load(plugin)) return;
  currentPlugin = plugin.module;
  testhost::ResetHostLoadRecordProbe();
  auto version = CallStdcall(plugin.version, TestHostVersion);
  CheckStack("FinaleExtensionVersion", version);
  CHECK_EQ_INT(static_cast<std::int32_t>(version.result), HostInterfaceVersion);
  auto status = CallStdcall(plugin.menuStatus, 0);
  CheckStack("FinaleExtensionGetMenuStatus", status);
  CHECK_EQ_INT(static_cast<std::int16_t>(status.result), 1);
  std::uint8_t info[MenuCommandInfoLayout::Size] = {};
  auto enumerate = CallStdcall(plugin.enumerate, 0, 0, info);
  CheckStack("FinaleExtensionEnumerate", enumerate);
  CHECK_EQ_INT(static_cast<std::int16_t>(enumerate.result), 1);
  CHECK_EQ_STR(reinterpret_cast<const char*>(info + MenuCommandInfoLayout::MenuText), MenuText);
  auto init = CallStdcall(plugin.init, hostWindow, 0);
  CheckStack("FinaleExtensionInit", init);
  CHECK_EQ_INT(static_cast<std::int16_t>(init.result), 1);
  Pump(50);
  auto invoke = CallStdcall(plugin.invoke, hostWindow, 0, region.data(), 0);
  CheckStack("FinaleExtensionInvoke", invoke);
  CHECK_EQ_INT(static_cast<std::int16_t>(invoke.result), 1);
  CHECK_EQ_STR(host.FormatMeasure(1), "2/1536");
  CHECK_EQ_INT(host.counters().badCalls, 0);

  // HostLoadRecord as the plug-in called it during that invocation: the probe
  // at its ordinal saw the stack pointer come back where the plug-in had it.
  const testhost::HostCallProbe probe = testhost::HostLoadRecordProbe();
  Note(Format("the plug-in called HostLoadRecord %d times; ESP after each call minus ESP at "
              "entry: %ld (return address and 20 bytes of arguments)",
              probe.calls, static_cast<long>(probe.lastDelta)));
  CHECK(probe.calls > 0);
  CHECK_EQ_INT(probe.mismatches, 0);
  CHECK_EQ_INT(probe.lastDelta, 24);
  CHECK(InsideModule(plugin.module, probe.lastReturnAddress));

  auto terminate = CallStdcall(plugin.terminate, 0);
  CheckStack("FinaleExtensionTerminate", terminate);
  CHECK_EQ_INT(static_cast<std::int32_t>(terminate.result), ERROR_SUCCESS);
  Pump(50);
  Unload(plugin);
  currentPlugin = nullptr;
  simhost::SetCurrentHost(nullptr);

  // Every host function, bound by ordinal as the plug-in binds it and called
  // through its declared HOSTAPI type, with arguments it refuses or ignores.
  const int badBefore = testhost::DialogServiceBadCalls();
  HWND probeWindow = CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 0, 0, 10, 10, nullptr,
                                     nullptr, nullptr, nullptr);
  std::uint8_t key[4] = {};
  std::int32_t size = 0;
  char text[31] = {};
  const auto v = HostInterfaceVersion;
  int measured = 0;
  auto host_call = [&](const char* name, const testhost::StackCheck& check) {
    CheckStack(name, check);
    ++measured;
  };
  host_call("HostLoadLayer", CallStdcall(HOST_EXPORT(HostLoadLayer), 0, 0, 1, 0, 0, v));
  host_call("HostFreeLayer", CallStdcall(HOST_EXPORT(HostFreeLayer), nullptr, v));
  host_call("HostLoadRecord",
            CallStdcall(HOST_EXPORT(HostLoadRecord), MeasureRecordTag, key, nullptr, &size, v));
  host_call("HostSaveRecord",
            CallStdcall(HOST_EXPORT(HostSaveRecord), MeasureRecordTag, key, nullptr, 0, v));
  host_call("HostCreateRecord", CallStdcall(HOST_EXPORT(HostCreateRecord),
                                            CompositeTopRecordTag, key, nullptr, 0, v));
  host_call("HostRunDialog", CallStdcall(HOST_EXPORT(HostRunDialog), 1, &NoDialogProc,
                                         hostWindow, 1, 0, v));
  host_call("HostEndDialog", CallStdcall(HOST_EXPORT(HostEndDialog), probeWindow, v));
  host_call("HostStaffAtSlot", CallStdcall(HOST_EXPORT(HostStaffAtSlot), 0, 0, v));
  host_call("HostCellFrame", CallStdcall(HOST_EXPORT(HostCellFrame), 1, 0, v));
  host_call("HostEnableItem",
            CallStdcall(HOST_EXPORT(HostEnableItem), probeWindow, 999, 1, v));
  host_call("HostFocusItem", CallStdcall(HOST_EXPORT(HostFocusItem), probeWindow, 999, v));
  host_call("HostUpdateLayout", CallStdcall(HOST_EXPORT(HostUpdateLayout), 1, 0, v));
  host_call("HostLayerDuration", CallStdcall(HOST_EXPORT(HostLayerDuration), nullptr, v));
  host_call("HostGetItemValue",
            CallStdcall(HOST_EXPORT(HostGetItemValue), probeWindow, 999, 1, v));
  host_call("HostSetItemValue",
            CallStdcall(HOST_EXPORT(HostSetItemValue), probeWindow, 999, 1, 0, v));
  host_call("HostGetItemText",
            CallStdcall(HOST_EXPORT(HostGetItemText), probeWindow, 999, text, 30, v));
  host_call("HostSetItemText",
            CallStdcall(HOST_EXPORT(HostSetItemText), probeWindow, 999, "", v));
  DestroyWindow(probeWindow);
  CHECK_EQ_INT(measured, 17);
  CHECK_EQ_INT(testhost::DialogServiceBadCalls(), badBefore);
  Note(Format("%d exports and %d host functions measured", 6, measured));
}

std::string screenshotDir;

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

const char* const OptionsCaption = "KQ Meterfix v. 1.01";
const char* const NameCaption = "Save preset as...";

void OptionsDialogStatesAndRules() {
  Begin("options dialog: initial states, dependency rules, help line, range error");
  std::int16_t result = -1;
  PluginLife([&](Plugin& plugin) {
    WithDriver(
        [&] {
          HWND d = WaitForDialog(OptionsCaption);
          if (d == nullptr) return;
          CHECK_EQ_STR(HelpLine(d), "");
          HoverOver(d, GetDlgItem(d, 103));
          CHECK_EQ_STR(
              HelpLine(d),
              "Only analyze the selected staves. (The changes usually affect all staves.)");
          TakeScreenshot(d);

          for (int id : {103, 116, 114, 107, 128, 127, 120, 119, 118}) {
            if (!Checked(d, id)) Fail(__FILE__, __LINE__, Format("%d is not checked", id));
          }
          for (int id : {109, 104, 110, 122, 102, 129, 105, 106, 121}) {
            if (Checked(d, id)) Fail(__FILE__, __LINE__, Format("%d is checked", id));
          }
          for (int id : {106, 107, 121, 104, 114}) {
            if (Enabled(d, id)) Fail(__FILE__, __LINE__, Format("%d is enabled", id));
          }
          for (int id : {109, 103, 116, 110, 122, 102, 105, 118, 119, 120, 127, 128, 129, 112}) {
            if (!Enabled(d, id)) Fail(__FILE__, __LINE__, Format("%d is disabled", id));
          }
          CHECK_EQ_STR(ItemText(d, 112), "1024");
          CHECK_EQ_STR(Join(ComboItems(d, 123)), "Upbeats|Complex Beating|Cadenza|Composite");
          CHECK_EQ_INT(SendDlgItemMessageA(d, 123, CB_GETCURSEL, 0, 0), CB_ERR);
          CHECK_EQ_INT(SendDlgItemMessageA(d, 112, EM_GETLIMITTEXT, 0, 0), 5);

          // 105 governs 106 and 107; 121 needs 105 and 107. Marks never change.
          Click(d, 105);
          CHECK(Checked(d, 105));
          CHECK(Enabled(d, 106) && Enabled(d, 107) && Enabled(d, 121));
          CHECK(!Checked(d, 106) && Checked(d, 107) && !Checked(d, 121));
          Click(d, 107);
          CHECK(!Enabled(d, 121));
          Click(d, 107);
          CHECK(Enabled(d, 121));
          Click(d, 105);
          CHECK(!Enabled(d, 106) && !Enabled(d, 107) && !Enabled(d, 121));
          CHECK(Checked(d, 107));
          // 104 only without 103.
          Click(d, 103);
          CHECK(Enabled(d, 104));
          Click(d, 103);
          CHECK(!Enabled(d, 104));
          // 102 disables 122 and 114; 114 needs 122.
          Click(d, 122);
          CHECK(Enabled(d, 114));
          Click(d, 102);
          CHECK(!Enabled(d, 122) && !Enabled(d, 114));
          CHECK(Checked(d, 122));
          Click(d, 102);
          CHECK(Enabled(d, 122) && Enabled(d, 114));
          Click(d, 122);
          CHECK(!Enabled(d, 114));

          // The help line follows the control under the mouse.
          const LRESULT simple = SendDlgItemMessageA(d, 126, SB_ISSIMPLE, 0, 0);
          if (!simple) Note("the status bar is not in simple mode: part 255 text is not drawn");
          HoverOver(d, GetDlgItem(d, 109));
          CHECK_EQ_STR(HelpLine(d), "Automatically update the layout after processing.");
          HoverOver(d, d);
          CHECK_EQ_STR(HelpLine(d), "");
          HoverOver(d, GetDlgItem(d, 125));
          CHECK_EQ_STR(HelpLine(d), "Delete the selected preset.");
          HoverOver(d, GetDlgItem(d, 101));  // a group box: no text
          CHECK_EQ_STR(HelpLine(d), "");

          // 9000 is refused with "Range error" and the focus goes to the field.
          SetDlgItemTextA(d, 112, "9000");
          ExpectBox(IDOK);
          ClickAsync(d, IDOK);
          CHECK(WaitForBoxes(1));
          const auto boxes = Boxes();
          if (!boxes.empty()) {
            CHECK_EQ_STR(boxes[0].caption, "Range error");
            CHECK_EQ_STR(boxes[0].text, "You must enter a value between 0 and 8192");
          }
          CHECK(WaitUntil([&] { return FocusOfUiThread() == GetDlgItem(d, 112); }, 5000));
          CHECK(IsWindow(d) && IsWindowVisible(d));

          // However large the number.
          SetDlgItemTextA(d, 112, "99999999999");
          ExpectBox(IDOK);
          ClickAsync(d, IDOK);
          CHECK(WaitForBoxes(2));
          if (Boxes().size() >= 2) CHECK_EQ_STR(Boxes()[1].caption, "Range error");
          CHECK(WaitUntil([&] { return FocusOfUiThread() == GetDlgItem(d, 112); }, 5000));
          ForgetBoxes();

          // No beat duration allowed: the second message, dialog stays open.
          SetDlgItemTextA(d, 112, "8192");
          for (int id : {118, 119, 120, 127, 128}) Click(d, id);
          ExpectBox(IDOK);
          ClickAsync(d, IDOK);
          CHECK(WaitForBoxes(1));
          if (!Boxes().empty()) {
            CHECK_EQ_STR(Boxes()[0].caption, "No allowed beat durations");
            CHECK_EQ_STR(Boxes()[0].text, "You must select at least one allowed beat duration.");
          }
          Sleep(100);
          CHECK(IsWindow(d) && IsWindowVisible(d));
          Click(d, 129);  // half note only
          Click(d, 109);
          ClickAsync(d, IDOK);
          CHECK(WaitUntil([&] { return !IsWindow(d); }));
        },
        [&] {
          SetShortcutKeys(true);
          result = plugin.invoke(hostWindow, 0, nullptr, 0);
          SetShortcutKeys(false);
        });
    // OK without a region: no question, no beep, result 0.
    CHECK_EQ_INT(result, 0);
    CHECK_EQ_INT(Boxes().size(), 1);
  });
  // The accepted options reach the registry at termination.
  const StoredValue settings = ReadValue(SettingsValueName);
  if (settings.bytes.size() == SettingsLayout::Size) {
    const std::uint8_t* s = settings.bytes.data();
    CHECK_EQ_INT(ReadI16(s + SettingsLayout::AutoUpdateLayout), 1);
    CHECK_EQ_INT(ReadI16(s + SettingsLayout::MinMeasureDuration), 8192);
    for (int i = 0; i < 6; ++i) {
      CHECK_EQ_INT(ReadI16(s + SettingsLayout::AllowBeat + 2 * i), i == 0 ? 1 : 0);
    }
    CHECK(ReadI16(s + SettingsLayout::DialogLeft) != NeverPlaced);
  } else {
    Fail(__FILE__, __LINE__, "UserDialog missing after the dialog");
  }
  WriteValue(SettingsValueName, defaultSettingsImage);
}

void PresetsThroughTheComboBox() {
  Begin("presets: chosen, saved, overwritten and deleted through the real combo box");
  PluginLife([&](Plugin& plugin) {
    WithDriver(
        [&] {
          HWND d = WaitForDialog(OptionsCaption);
          if (d == nullptr) return;
          HWND combo = GetDlgItem(d, 123);
          // Choosing "Composite" (CB_SETCURSEL sends no CBN_SELCHANGE: send it).
          SendMessageA(combo, CB_SETCURSEL, 3, 0);
          SendMessageA(d, WM_COMMAND, MAKEWPARAM(123, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(combo));
          CHECK(Checked(d, 105) && Checked(d, 106) && Checked(d, 107));
          CHECK(Enabled(d, 106) && Enabled(d, 107) && Enabled(d, 121));

          // Save under a new name: the name dialog shows the selected one.
          ClickAsync(d, 124);
          HWND n = WaitForDialog(NameCaption);
          if (n == nullptr) return;
          CHECK_EQ_STR(ItemText(n, 101), "Composite");
          CHECK_EQ_INT(SendDlgItemMessageA(n, 101, EM_GETLIMITTEXT, 0, 0), 30);
          SetDlgItemTextA(n, 101, "Mine");
          ClickAsync(n, IDOK);
          CHECK(WaitUntil([&] { return !IsWindow(n); }));
          CHECK(WaitUntil([&] { return ComboItems(d, 123).size() == 5; }));
          CHECK_EQ_STR(Join(ComboItems(d, 123)), "Upbeats|Complex Beating|Cadenza|Composite|Mine");
          CHECK_EQ_INT(SendMessageA(combo, CB_GETCURSEL, 0, 0), 4);

          // Saving "Mine" again asks before overwriting; No keeps the name dialog open.
          Click(d, 109);
          ClickAsync(d, 124);
          n = WaitForDialog(NameCaption);
          if (n == nullptr) return;
          CHECK_EQ_STR(ItemText(n, 101), "Mine");
          ExpectBox(IDNO);
          ClickAsync(n, IDOK);
          CHECK(WaitForBoxes(1));
          Sleep(100);
          CHECK(IsWindow(n) && IsWindowVisible(n));
          ExpectBox(IDYES);
          ClickAsync(n, IDOK);
          CHECK(WaitForBoxes(2));
          CHECK(WaitUntil([&] { return !IsWindow(n); }));
          const auto boxes = Boxes();
          if (boxes.size() >= 2) {
            CHECK_EQ_STR(boxes[0].text, "OK to overwrite the existing preset?");
            CHECK_EQ_STR(boxes[1].text, "OK to overwrite the existing preset?");
            Note("overwrite question caption: \"" + boxes[0].caption + "\"");
          }
          CHECK_EQ_STR(Join(ComboItems(d, 123)), "Upbeats|Complex Beating|Cadenza|Composite|Mine");
          CHECK_EQ_INT(SendMessageA(combo, CB_GETCURSEL, 0, 0), 4);

          // Deleting "Cadenza" after the question.
          SendMessageA(combo, CB_SETCURSEL, 2, 0);
          SendMessageA(d, WM_COMMAND, MAKEWPARAM(123, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(combo));
          ExpectBox(IDYES);
          ClickAsync(d, 125);
          CHECK(WaitForBoxes(3));
          CHECK(WaitUntil([&] { return ComboItems(d, 123).size() == 4; }));
          if (Boxes().size() >= 3) {
            CHECK_EQ_STR(Boxes()[2].caption, "Delete?");
            CHECK_EQ_STR(Boxes()[2].text, "Are you sure you want to delete the selected preset?");
          }
          CHECK_EQ_STR(Join(ComboItems(d, 123)), "Upbeats|Complex Beating|Composite|Mine");
          CHECK_EQ_INT(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);

          // Cancel keeps what was saved and deleted.
          ClickAsync(d, IDCANCEL);
          CHECK(WaitUntil([&] { return !IsWindow(d); }));
        },
        [&] {
          SetShortcutKeys(true);
          CHECK_EQ_INT(plugin.invoke(hostWindow, 0, nullptr, 0), 0);
          SetShortcutKeys(false);
        });
  });
  CHECK_EQ_STR(Join(StoredPresetNames()), "Upbeats|Complex Beating|Composite|Mine");
  const StoredValue presets = ReadValue(PresetsValueName);
  if (presets.bytes.size() == PresetTableLayout::Size) {
    // "Mine" holds the controls at the overwrite: Composite plus 109.
    const std::uint8_t* mine =
        presets.bytes.data() + PresetTableLayout::FirstSlot + 3 * PresetTableLayout::SlotSize;
    CHECK_EQ_INT(ReadI16(mine + SettingsLayout::AutoUpdateLayout), 1);
    CHECK_EQ_INT(ReadI16(mine + SettingsLayout::UseComposite), 1);
    for (int i = 0; i < 6; ++i) CHECK_EQ_INT(ReadI16(mine + SettingsLayout::Reserved + 2 * i), 0);
  }
  // Cancel left the option block alone.
  const StoredValue settings = ReadValue(SettingsValueName);
  CHECK(settings.bytes.size() == SettingsLayout::Size &&
        std::memcmp(settings.bytes.data(), defaultSettingsImage.data(),
                    SettingsLayout::OptionBlockSize) == 0);
  WriteValue(SettingsValueName, defaultSettingsImage);
  WriteValue(PresetsValueName, defaultPresetsImage);
}

void SendKey(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &input, sizeof input);
}

void CtrlT() {
  Begin("Ctrl+T posts the plug-in's command once per press");
  PluginLife([&](Plugin&) {
    SetForegroundWindow(hostWindow);
    SetActiveWindow(hostWindow);
    SetFocus(hostWindow);
    Pump(300);  // the retry timer finds the item meanwhile
    if (GetActiveWindow() != hostWindow) Note("the host window is not active");
    pluginCommands = 0;
    otherCommands = 0;
    for (int press = 0; press < 2; ++press) {
      SendKey(VK_CONTROL, false);
      SendKey('T', false);
      SendKey('T', true);
      SendKey(VK_CONTROL, true);
      Pump(200);
    }
    CHECK_EQ_INT(pluginCommands.load(), 2);
    // Held down: the repeats carry the previous-state bit and are passed on.
    SendKey(VK_CONTROL, false);
    for (int repeat = 0; repeat < 4; ++repeat) SendKey('T', false);
    SendKey('T', true);
    SendKey(VK_CONTROL, true);
    Pump(200);
    CHECK_EQ_INT(pluginCommands.load(), 3);
    pluginCommands = 2;
    // T alone and Ctrl+Alt+T are passed on.
    SendKey('T', false);
    SendKey('T', true);
    SendKey(VK_CONTROL, false);
    SendKey(VK_MENU, false);
    SendKey('T', false);
    SendKey('T', true);
    SendKey(VK_MENU, true);
    SendKey(VK_CONTROL, true);
    Pump(200);
    CHECK_EQ_INT(pluginCommands.load(), 2);
    CHECK_EQ_INT(otherCommands.load(), 0);
  });
  // After termination and unloading the hook is gone.
  SendKey(VK_CONTROL, false);
  SendKey('T', false);
  SendKey('T', true);
  SendKey(VK_CONTROL, true);
  Pump(200);
  CHECK_EQ_INT(pluginCommands.load(), 2);
}

// A host menu without the plug-in's item keeps the retry timer running; it
// must not fire into the unloaded library (that would crash this process).
void RetryTimerEndsWithTheLibrary() {
  Begin("the retry timer does not outlive the library");
  HWND bare = CreateWindowExA(0, "KqTestHostWindow", "Bare host", WS_OVERLAPPEDWINDOW, 0, 0, 400,
                              300, nullptr, CreateMenu(), GetModuleHandleA(nullptr), nullptr);
  Plugin plugin;
  if (!Load(plugin)) return;
  currentPlugin = plugin.module;
  plugin.version(TestHostVersion);
  CHECK_EQ_INT(plugin.init(bare, 0), 1);
  Pump(350);  // several unsuccessful searches
  plugin.terminate(0);
  Unload(plugin);
  currentPlugin = nullptr;
  Pump(500);
  Note("no timer fired into the unloaded library");
  DestroyWindow(bare);
}

void DialogPositionRemembered() {
  Begin(
      "options dialog: a stored position is used, one off the screen is not; Cancel, the close "
      "box and Escape all cancel");
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  enum class Close { CancelButton, CloseBox, EscapeKey };
  struct Row {
    int left, top;
    bool used;
    Close close;
  };
  const Row rows[] = {{100, 60, true, Close::CancelButton},
                      {screenWidth, 0, true, Close::CloseBox},
                      {screenWidth + 1, 60, false, Close::EscapeKey}};
  for (const Row& row : rows) {
    std::vector<std::uint8_t> settings = defaultSettingsImage;
    WriteI16(settings.data() + SettingsLayout::DialogLeft, static_cast<std::int16_t>(row.left));
    WriteI16(settings.data() + SettingsLayout::DialogTop, static_cast<std::int16_t>(row.top));
    WriteValue(SettingsValueName, settings);
    RECT shown{};
    PluginLife([&](Plugin& plugin) {
      WithDriver(
          [&] {
            HWND d = WaitForDialog(OptionsCaption);
            if (d == nullptr) return;
            GetWindowRect(d, &shown);
            Click(d, 109);  // an edit that cancelling drops
            switch (row.close) {
              case Close::CancelButton:
                ClickAsync(d, IDCANCEL);
                break;
              case Close::CloseBox:
                PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0);
                break;
              case Close::EscapeKey:
                SendKey(VK_ESCAPE, false);
                SendKey(VK_ESCAPE, true);
                break;
            }
            CHECK(WaitUntil([&] { return !IsWindow(d); }, 5000));
          },
          [&] {
            SetShortcutKeys(true);
            CHECK_EQ_INT(plugin.invoke(hostWindow, 0, nullptr, 0), 0);
            SetShortcutKeys(false);
          });
    });
    const StoredValue stored = ReadValue(SettingsValueName);
    if (row.used) {
      CHECK_EQ_INT(shown.left, row.left);
      CHECK_EQ_INT(shown.top, row.top);
    } else {
      CHECK(shown.left != row.left);
    }
    // Cancel stores where the dialog stood, and not the edited options.
    if (stored.bytes.size() == SettingsLayout::Size) {
      CHECK_EQ_INT(ReadI16(stored.bytes.data() + SettingsLayout::AutoUpdateLayout), 0);
      CHECK_EQ_INT(ReadI16(stored.bytes.data() + SettingsLayout::DialogLeft),
                   static_cast<std::int16_t>(shown.left));
      CHECK_EQ_INT(ReadI16(stored.bytes.data() + SettingsLayout::DialogTop),
                   static_cast<std::int16_t>(shown.top));
    }
  }
  WriteValue(SettingsValueName, defaultSettingsImage);
}

void ApplyQuestion() {
  Begin("Ctrl+Shift: OK, then \"Apply settings?\" decides whether the score is changed");
  for (int answer : {IDNO, IDYES}) {
    ForgetBoxes();
    simhost::Host host;
    simhost::SetCurrentHost(&host);
    host.AddStaff(1);
    host.SetMeasure(1, 4, 1024);
    std::vector<simhost::Entry> eighths;
    for (int i = 0; i < 6; ++i) eighths.push_back({i * 512, 512, i % 3 == 0, false, 0});
    host.SetLayer(1, 1, 0, 3072, eighths);
    const auto region = simhost::MakeSelectionRegion(0, 0, 1, 0, 0, 1, EndOfMeasure);
    std::int16_t result = -1;
    PluginLife([&](Plugin& plugin) {
      WithDriver(
          [&] {
            HWND d = WaitForDialog(OptionsCaption);
            if (d == nullptr) return;
            Click(d, 109);  // auto-update layout
            ExpectBox(answer);
            ClickAsync(d, IDOK);
            CHECK(WaitForBoxes(1));
          },
          [&] {
            SetShortcutKeys(true);
            result = plugin.invoke(hostWindow, 0, region.data(), 0);
            SetShortcutKeys(false);
          });
      const auto boxes = Boxes();
      CHECK_EQ_INT(boxes.size(), 1);
      for (const auto& box : boxes) Note("box: " + box.caption + ": " + box.text);
      if (!boxes.empty()) {
        CHECK_EQ_STR(boxes[0].caption, "Apply settings?");
        CHECK_EQ_STR(boxes[0].text, "Do you want to apply the settings on the current selection?");
      }
    });
    if (answer == IDYES) {
      CHECK_EQ_INT(result, 1);
      CHECK_EQ_STR(host.FormatMeasure(1), "2/1536");
      CHECK_EQ_INT(host.counters().updateLayouts, 1);
    } else {
      CHECK_EQ_INT(result, 0);
      CHECK_EQ_STR(host.FormatMeasure(1), "4/1024");
      CHECK_EQ_INT(host.counters().updateLayouts, 0);
    }
    // Either way the edited options are kept and saved.
    const StoredValue stored = ReadValue(SettingsValueName);
    CHECK(stored.bytes.size() == SettingsLayout::Size &&
          ReadI16(stored.bytes.data() + SettingsLayout::AutoUpdateLayout) == 1);
    simhost::SetCurrentHost(nullptr);
    WriteValue(SettingsValueName, defaultSettingsImage);
  }
}

void LongPresetName() {
  Begin("presets: the name field takes 30 characters and they arrive whole");
  const std::string thirty = "abcdefghijklmnopqrstuvwxyz0123";
  PluginLife([&](Plugin& plugin) {
    WithDriver(
        [&] {
          HWND d = WaitForDialog(OptionsCaption);
          if (d == nullptr) return;
          ClickAsync(d, 124);
          HWND n = WaitForDialog(NameCaption);
          if (n == nullptr) return;
          CHECK_EQ_STR(ItemText(n, 101), "");
          HWND edit = GetDlgItem(n, 101);
          for (char ch : thirty + "XYZ") SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(ch), 1);
          CHECK_EQ_STR(ItemText(n, 101), thirty);
          ClickAsync(n, IDOK);
          CHECK(WaitUntil([&] { return !IsWindow(n); }));
          CHECK(WaitUntil([&] { return ComboItems(d, 123).size() == 5; }));
          const auto items = ComboItems(d, 123);
          if (items.size() == 5) CHECK_EQ_STR(items[4], thirty);
          ClickAsync(d, IDCANCEL);
          WaitUntil([&] { return !IsWindow(d); });
        },
        [&] {
          SetShortcutKeys(true);
          plugin.invoke(hostWindow, 0, nullptr, 0);
          SetShortcutKeys(false);
        });
  });
  const auto names = StoredPresetNames();
  CHECK(names.size() == 5 && names.back() == thirty);
  const StoredValue settings = ReadValue(SettingsValueName);
  if (settings.bytes.size() == SettingsLayout::Size) {
    CHECK_EQ_STR(reinterpret_cast<const char*>(settings.bytes.data() + SettingsLayout::PresetName),
                 thirty);
  }
  WriteValue(SettingsValueName, defaultSettingsImage);
  WriteValue(PresetsValueName, defaultPresetsImage);
}

// Win32 behaviours that the Linux stand-in (platform/standin) models, as Wine
// shows them. A difference is reported, not failed: the stand-in is the
// model to be corrected.
std::vector<std::string> differences;

void Compare(bool agrees, const std::string& what) {
  Note(std::string(agrees ? "agrees: " : "DIFFERS: ") + what);
  if (!agrees) differences.push_back(what);
}

VOID CALLBACK ProbeTimerProc(HWND, UINT, UINT_PTR, DWORD) {}
// A HOOKPROC is CALLBACK (stdcall on 32-bit), which no lambda converts to.
LRESULT CALLBACK PassOnKeyboardProc(int code, WPARAM wParam, LPARAM lParam) {
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void PlatformBehaviours() {
  Begin("Win32 behaviours modelled by the Linux stand-in");
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
}
}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 2) {
    std::printf("usage: %s PLUGIN [--screenshot DIR]\n", argv[0]);
    return 2;
  }
  pluginPath = argv[1];
  for (int i = 2; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--screenshot") == 0) screenshotDir = argv[i + 1];
  }
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

  FirstRunAndTermination();
  OversizedValuesIgnored();
  InvocationOverSmallScore();
  StdcallStackPointer();
  OptionsDialogStatesAndRules();
  PresetsThroughTheComboBox();
  CtrlT();
  RetryTimerEndsWithTheLibrary();
  DialogPositionRemembered();
  ApplyQuestion();
  LongPresetName();
  PlatformBehaviours();

  UnhookWindowsHookEx(cbtHook);
  DestroyWindow(hostWindow);
  CHECK_EQ_INT(testhost::DialogServiceBadCalls(), 0);
  std::printf("testhost: %zu Win32 behaviours differ from the Linux stand-in\n",
              differences.size());
  for (const auto& d : differences) std::printf("  difference: %s\n", d.c_str());
  std::printf("testhost: %s (%d failed checks)\n",
              failures == 0 ? "all scenarios passed" : "FAILED", failures);
  return failures == 0 ? 0 : 1;
}
