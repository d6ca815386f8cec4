// One score through the plug-in: read MusicXML into a fresh simulated host,
// invoke the command on whole measures, compare the records before and
// after, and write the changed score when asked to.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "cli/command_line.h"
#include "cli/config_store.h"
#include "cli/option_fields.h"
#include "cli/report.h"

namespace meterfix {

struct RunRequest {
  std::string input;    // a path, or "-" for standard input
  std::string output;   // empty: write nothing; "-": standard output; else a path
  OptionBlock options;  // the option block for this run
  StoredImages images;  // what the plug-in finds in the registry
  std::optional<Range> measures;
  std::optional<NumberRange> numbers;  // excludes `measures`
  std::optional<Range> staves;
  bool breakLinks = false;     // replace an output with several hard links all the same
  bool collectLayers = false;  // keep the changed measures' layers as written (for pictures)
  std::string failure;         // set: the input failed before it was read (an unreadable folder)
  bool restore = false;        // give every measure the signature its composer most likely wrote
};

struct RunResult {
  bool ok = false;
  std::string error;  // one line naming the file, when !ok
  FileReport report;
};

RunResult RunInput(const RunRequest& request);

}  // namespace meterfix
