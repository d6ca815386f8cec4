// A run: the inputs expanded, checked and locked, each score through the
// plug-in in worker processes, errors on standard error in input order, and
// the report written where it goes. Throws UsageError or Failure for what
// stops the whole run.
#pragma once

#include "cli/command_line.h"

namespace meterfix {

int RunCommand(const CommandLine& line);

}  // namespace meterfix
