// The resources of the plug-in module as the stand-in reads them: the text of
// its resource script and of the id header the script includes. Like a
// Windows DLL's resource section they belong to the plug-in, not to the
// system: the plug-in's target provides them (dialogs/CMakeLists.txt embeds
// dialogs/kqmeterfix.rc and dialogs/control_ids.h), and the stand-in's
// LoadStringA and dialog windows read them.
#pragma once

namespace standin {

extern const char ResourceScriptText[];
extern const char ResourceIdsText[];

}  // namespace standin
