// The test host's dialog service: the dialog functions of host/host.h on
// real Win32 dialogs made from the plug-in's own resources.
#pragma once

#include <windows.h>

namespace testhost {

// The loaded plug-in, whose resources HostRunDialog uses.
void SetPluginModule(HMODULE module);
// Host functions called with a wrong version, unknown kind or bad window.
int DialogServiceBadCalls();

}  // namespace testhost
