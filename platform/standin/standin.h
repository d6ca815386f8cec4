// Test controls of the Linux stand-in for the Win32 calls the plug-in makes.
// Message boxes are recorded and answered from a script; the registry is an
// in-memory tree; keys, windows, menus, the keyboard hook and thread timers
// are simulated so tests can play a user's session.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace standin {

// --- message boxes and beeps (message_box.cpp) ---

struct MessageBoxCall {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  UINT style = 0;
  int answer = 0;
  bool expected = false;  // an answer had been scripted for it
};

// Queues the answer of the next message box.
void ExpectMessageBox(int answer);
// Boxes without a scripted answer get this answer and count as unexpected,
// unless auto-answering is on (the command-line tool answers every box).
void SetAutoAnswer(bool on);
const std::vector<MessageBoxCall>& MessageBoxCalls();
int UnexpectedMessageBoxCount();
int PendingMessageBoxAnswers();
std::vector<UINT> Beeps();
// Makes MessageBeep(type) fail for this type.
void FailBeep(UINT type);

// Forgets every recorded call and script.
void ResetMessageBoxes();

// --- registry (registry.cpp); paths are below HKEY_CURRENT_USER ---
// Key and value names compare case-insensitively, as in Windows.

// Creates the key path as needed and stores the value.
void SetRegistryValue(const std::string& path, const std::string& name, DWORD type,
                      const std::vector<std::uint8_t>& bytes);
// False when the key or the value does not exist.
bool GetRegistryValue(const std::string& path, const std::string& name, DWORD* type,
                      std::vector<std::uint8_t>* bytes);
bool RegistryKeyExists(const std::string& path);
// Names of the values of a key (empty when the key does not exist).
std::vector<std::string> RegistryValueNames(const std::string& path);
// Removes every key and value and every fault switch.
void ClearRegistry();
// RegCreateKeyExA fails with ERROR_ACCESS_DENIED while this is on.
void FailKeyCreation(bool on);
// RegOpenKeyExA fails with ERROR_ACCESS_DENIED while this is on.
void FailKeyOpen(bool on);
// RegSetValueExA fails with ERROR_ACCESS_DENIED while this is on.
void FailValueWrites(bool on);
// Handles opened or created and not yet closed.
int OpenRegistryKeyCount();

// --- keyboard, windows, processes (windows_misc.cpp) ---

void SetKeyDown(int virtualKey, bool down);
// What GetActiveWindow answers.
void SetActiveWindowHandle(HWND window);
// A window of the simulated user-interface thread, with an optional menu bar.
HWND NewWindow(HMENU menuBar = nullptr);
void SetWindowMenu(HWND window, HMENU menuBar);
// The thread and process every NewWindow belongs to.
constexpr DWORD UiThreadId = 0x4A4;
constexpr DWORD HostProcessId = 0x1F4;
// OpenProcess fails with ERROR_ACCESS_DENIED while this is on.
void FailOpenProcess(bool on);
// Access masks passed to OpenProcess, in call order.
const std::vector<DWORD>& OpenProcessRequests();
// Process handles opened and not yet closed.
int OpenProcessHandleCount();

struct PostedMessage {
  HWND window = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};
const std::vector<PostedMessage>& PostedMessages();

// --- keyboard hook ---

struct HookInfo {
  int type = 0;
  HINSTANCE module = nullptr;
  DWORD threadId = 0;
};
// Hooks currently installed (SetWindowsHookExA minus UnhookWindowsHookEx).
std::vector<HookInfo> InstalledHooks();
// Passes a key event to the most recently installed keyboard hook as the
// system would, and returns the procedure's result; 0 when no hook is there.
LRESULT DeliverKey(WPARAM wParam, LPARAM lParam, int code = HC_ACTION);
// The lParam of a key event: repeat count 1, the previous-state bit (30),
// the transition bit (31) and the context code (Alt held, bit 29).
LPARAM KeyLParam(bool goingDown, bool wasDown, bool altHeld);
// How often a hook procedure called CallNextHookEx, and what that returns.
int NextHookCallCount();
void SetNextHookResult(LRESULT result);
int UnhookCallCount();

// --- thread timers ---

// Calls the procedure of every running timer once, as the message loop
// would when their periods have elapsed; returns how many fired.
int FireTimers();
int ActiveTimerCount();
// The period of a running timer; 0 when none has this identifier.
UINT TimerPeriod(UINT_PTR id);

// --- menus ---

HMENU NewMenu();
// An item with text and command identifier. An empty text makes an item
// without text (as a bitmap or owner-drawn item has).
void AppendMenuItem(HMENU menu, const std::string& text, UINT id);
void AppendSubMenu(HMENU menu, const std::string& text, HMENU subMenu);
void AppendSeparator(HMENU menu);
// GetMenuStringA leaves a truncated text without its terminator (as some
// implementations do) while this is on; by default it truncates and
// terminates as Windows does.
void SetMenuStringUnterminated(bool on);
// How many GetMenuStringA calls were made (to see that a search stopped).
int MenuStringCallCount();

// --- dialog windows (dialog_windows.h has the rest) ---
void ResetDialogWindows();

// Resets every part of the stand-in: boxes, beeps, registry, keys, windows,
// menus, hooks, timers, posted messages and dialog windows. (The simulated
// host's dialog script is simhost's: simhost::ResetDialogService.)
void ResetAll();

}  // namespace standin
