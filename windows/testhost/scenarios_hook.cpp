// The plug-in's keyboard hook: Ctrl+T posts the plug-in's menu command once
// per press, and the timer that looks for the menu item ends with the library.
#include "windows/testhost/harness.h"
#include "windows/testhost/scenarios.h"

namespace testhost {

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
  plugin.version(TestHostVersion);
  CHECK_EQ_INT(plugin.init(bare, 0), 1);
  Pump(350);  // several unsuccessful searches
  plugin.terminate(0);
  Unload(plugin);
  Pump(500);
  Note("no timer fired into the unloaded library");
  DestroyWindow(bare);
}

}  // namespace testhost
