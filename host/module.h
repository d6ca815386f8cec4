// The library's own instance handle, kept by DllEntryPoint when the library is
// attached: the module of the keyboard hook and of the help strings. Below the
// entry points, so that the dialogs can reach it without them.
#pragma once

#include "platform/win32.h"

extern HINSTANCE moduleHandle;
