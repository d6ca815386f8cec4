// The Win32 seam without a screen, for programs that run the plug-in on Linux
// (meterfix): a session of the stand-in with a registry below
// HKEY_CURRENT_USER that the program seeds and reads back, a window for the
// plug-in to own its messages, and message boxes that are answered as a user
// who goes ahead would answer them (Yes, or OK) and kept as values. Tests
// reach the stand-in's finer controls through platform/standin/standin.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace headless {

struct MessageBoxRecord {
  std::string caption;
  std::string text;
  UINT style = 0;
  int answer = 0;  // what the session answered: IDYES for Yes/No, else IDOK
};

// Forgets everything of a previous session (registry, windows, keys, boxes)
// and starts one: no key held, every message box answered and recorded.
void StartSession();
// A top-level window of the session's user-interface thread.
HWND NewWindow();

// A REG_BINARY value below HKEY_CURRENT_USER, the key path created as needed.
void SetBinaryValue(const std::string& keyPath, const std::string& name,
                    const std::vector<std::uint8_t>& bytes);
// The bytes of a value, or nothing when the key or the value does not exist.
std::optional<std::vector<std::uint8_t>> BinaryValue(const std::string& keyPath,
                                                     const std::string& name);

// Holds a key down for GetKeyState, or releases it.
void SetKeyDown(int virtualKey, bool down);

// The message boxes shown in this session, in order.
std::vector<MessageBoxRecord> MessageBoxes();

}  // namespace headless
