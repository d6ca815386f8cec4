// The test host's harness: what every scenario stands on. Checks that print a
// line per failure; the plug-in loaded with LoadLibrary and its entry points
// bound by name; the host window with the host's menu; message boxes answered
// from a CBT hook on the UI thread; a driver thread that works the plug-in's
// dialogs through their controls; the plug-in's registry values; the
// photograph of the options dialog.
#pragma once

// commctrl.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plugin/entry.h"

namespace testhost {

// Checks: a failed check prints one line and fails the run.

void Fail(const char* file, int line, const std::string& what);
std::string Format(const char* format, ...);
void Note(const std::string& text);
// Starts a scenario: prints its name (failures carry it) and forgets the boxes seen.
void Begin(const char* name);

#define CHECK(cond)                                           \
  do {                                                        \
    if (!(cond)) ::testhost::Fail(__FILE__, __LINE__, #cond); \
  } while (0)
#define CHECK_EQ_INT(actual, expected)                                                    \
  do {                                                                                    \
    const long long a_ = static_cast<long long>(actual);                                  \
    const long long e_ = static_cast<long long>(expected);                                \
    if (a_ != e_)                                                                         \
      ::testhost::Fail(__FILE__, __LINE__,                                                \
                       ::testhost::Format("%s is %lld, expected %lld", #actual, a_, e_)); \
  } while (0)
#define CHECK_EQ_STR(actual, expected)                                                           \
  do {                                                                                           \
    const std::string a_ = (actual);                                                             \
    const std::string e_ = (expected);                                                           \
    if (a_ != e_)                                                                                \
      ::testhost::Fail(                                                                          \
          __FILE__, __LINE__,                                                                    \
          ::testhost::Format("%s is \"%s\", expected \"%s\"", #actual, a_.c_str(), e_.c_str())); \
  } while (0)

// The test host's life.

// Creates the host window, installs the message box hook and prints which
// file the scenarios exercise in which kind of process. screenshotDir may be
// empty (no photograph).
void StartHost(const std::string& pluginPath, const std::string& screenshotDir);
// Removes the hook and the window, checks the dialog service saw no bad
// calls and prints the verdict. Returns the exit status: 0 when every check passed.
int FinishHost();

// The plug-in.

struct Plugin {
  HMODULE module = nullptr;
  decltype(&FinaleExtensionVersion) version = nullptr;
  decltype(&FinaleExtensionInit) init = nullptr;
  decltype(&FinaleExtensionEnumerate) enumerate = nullptr;
  decltype(&FinaleExtensionInvoke) invoke = nullptr;
  decltype(&FinaleExtensionTerminate) terminate = nullptr;
  decltype(&FinaleExtensionGetMenuStatus) menuStatus = nullptr;
};

constexpr std::int32_t TestHostVersion = 0x05000005;

// Loads the plug-in and binds its six exports; a missing one fails the
// scenario. Its dialogs are then told apart from message boxes by its module.
bool Load(Plugin& p);
void Unload(Plugin& p);
// One life of the plug-in: load, version, menu, init; the body; terminate,
// unload. Returns what FinaleExtensionTerminate returned, -1 when it did not load.
std::int32_t PluginLife(const std::function<void(Plugin&)>& body);

// The host window.

// The main window: the host's menu bar, the plug-in's item inside the
// "Plug-ins" menu's submenu.
extern HWND hostWindow;
// WM_COMMAND messages the host window received for the plug-in's menu item,
// and for any other command.
extern std::atomic<int> pluginCommands;
extern std::atomic<int> otherCommands;

// Handles the UI thread's messages for a while.
void Pump(int milliseconds);
// Ctrl and Shift held down (as the keyboard state the plug-in reads) or released.
void SetShortcutKeys(bool held);
// A key pressed or released through SendInput.
void SendKey(WORD key, bool up);

// Message boxes, answered from a CBT hook on the UI thread.

struct BoxSeen {
  std::string caption;
  std::string text;
  int answer;
  bool scripted;
};

// The answer for the next message box; unscripted boxes are closed with
// their safe button (Cancel, No or OK) and reported.
void ExpectBox(int answer);
std::vector<BoxSeen> Boxes();
void ForgetBoxes();

// The driver thread: waits for the plug-in's windows and works them.

inline constexpr char OptionsCaption[] = "KQ Meterfix v. 1.01";
inline constexpr char NameCaption[] = "Save preset as...";

// Runs action on the UI thread while script works the windows from a second
// thread; whatever the script leaves open is cancelled.
void WithDriver(const std::function<void()>& script, const std::function<void()>& action);

// The visible dialog with this caption; WaitForDialog fails the scenario
// when it does not appear in time.
HWND FindDialog(const char* caption);
HWND WaitForDialog(const char* caption, int milliseconds = 10000);
// Polls until condition holds; false when it did not in time.
bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 10000);
bool WaitForBoxes(std::size_t count);

// Clicks that only change check marks return when the dialog has handled them.
void Click(HWND dialog, int id);
// Clicks that open a modal window must not block the driver.
void ClickAsync(HWND dialog, int id);
bool Checked(HWND dialog, int id);
bool Enabled(HWND dialog, int id);
std::string ItemText(HWND dialog, int id);
std::vector<std::string> ComboItems(HWND dialog, int id);
std::string Join(const std::vector<std::string>& items);
// The control with the keyboard focus on the UI thread.
HWND FocusOfUiThread();
// The status bar's help line.
std::string HelpLine(HWND dialog);
// The mouse moved over control (WM_SETCURSOR), as the dialog sees it.
void HoverOver(HWND dialog, HWND control);

// The plug-in's registry values (HKCU, SettingsKeyPath).

struct StoredValue {
  LONG status = ERROR_FILE_NOT_FOUND;
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> bytes;
};

StoredValue ReadValue(const char* name);
void WriteValue(const char* name, const std::vector<std::uint8_t>& bytes);
void DeleteSettingsKey();
// The names in the stored preset table, in order.
std::vector<std::string> StoredPresetNames();

// The values the plug-in's first run stored; scenarios that change the
// stored values put these back.
extern std::vector<std::uint8_t> defaultSettingsImage;
extern std::vector<std::uint8_t> defaultPresetsImage;

// The photograph.

// Paints the dialog's status bar and has the script outside Wine photograph
// the dialog (when a screenshot directory was given); fails when every
// photograph shows an empty help line.
void TakeScreenshot(HWND dialog);

}  // namespace testhost
