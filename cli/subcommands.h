// The commands on the settings directory: `meterfix options` shows, sets or
// resets the stored options, `meterfix presets` lists, shows, saves or
// deletes presets. Each runs the plug-in once over the stored files and
// writes back what it leaves. They throw UsageError or Failure.
#pragma once

#include "cli/command_line.h"

namespace meterfix {

int OptionsCommand(const CommandLine& line);
int PresetsCommand(const CommandLine& line);

}  // namespace meterfix
