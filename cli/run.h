// One score through the plug-in: read MusicXML into a fresh simulated host,
// invoke the command on whole measures, compare the records before and
// after, and write the changed score when asked to.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "cli/config_store.h"
#include "cli/option_fields.h"
#include "cli/report.h"

namespace meterfix {

struct Range {
  int first = 1;
  int last = 1;  // inclusive
};
// "A-B", "A" or "A-" (to the end), 1-based, A <= B <= 32767. False with a
// reason otherwise.
bool ParseRange(const std::string& text, Range& range, std::string& error);

// Measures chosen by the score's own numbers: from the first measure
// numbered `first` to the last numbered `last`.
struct NumberRange {
  std::string first;
  std::string last;
};
// "A-B" or "A" as written in the score. False with a reason otherwise.
bool ParseNumberRange(const std::string& text, NumberRange& range, std::string& error);

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
