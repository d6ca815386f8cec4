// One lifetime of the plug-in, driven through its exported entry points the
// way the host drives it: version, initialisation (the stored options come
// from the headless session's registry, seeded from the settings directory), any
// number of invocations, termination (which writes the registry back).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/config_store.h"
#include "cli/report.h"
#include "platform/win32.h"

namespace meterfix {

class PluginSession {
 public:
  // Starts a new headless session (platform/headless.h), seeds its registry
  // with the images and initialises the plug-in. Message boxes are answered
  // automatically and recorded.
  explicit PluginSession(const StoredImages& images);
  ~PluginSession();
  PluginSession(const PluginSession&) = delete;
  PluginSession& operator=(const PluginSession&) = delete;

  HWND window() const { return window_; }

  // FinaleExtensionInvoke with Ctrl and Shift up; the region is 20 bytes.
  std::int16_t Invoke(const std::vector<std::uint8_t>& region);

  // Message boxes shown so far, in order.
  static std::vector<Message> Messages();

  // FinaleExtensionTerminate; returns what it left in the registry.
  StoredImages Terminate();

 private:
  HWND window_ = nullptr;
  bool terminated_ = false;
};

// A SelectionRegion of whole measures first..last (1-based) on staff slots
// firstSlot..lastSlot (0-based, inclusive) of the score's staff list.
std::vector<std::uint8_t> MakeWholeMeasureRegion(std::int16_t firstMeasure,
                                                 std::int16_t lastMeasure, std::int16_t firstSlot,
                                                 std::int16_t lastSlot);

}  // namespace meterfix
