// The library's load notification on Windows.
//
// The entry point stays mingw-w64's DllMainCRTStartup, which initialises the
// C++ runtime (static constructors, and exception frames on 32-bit) and then
// calls DllEntryPoint (plugin/entry.cpp) itself, before DllMain. Forwarding
// DllMain to DllEntryPoint as well would run it twice, so only toolchains
// whose start-up code calls nothing but DllMain get the forwarder.
#include "plugin/entry.h"

#if !defined(__MINGW32__)
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return DllEntryPoint(instance, reason, reserved);
}
#endif
