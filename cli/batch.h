// Many scores in one run: folders expanded to the scores in them, and the
// files run in worker processes (the plug-in's state belongs to the
// process), with the results handed back in input order.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "cli/run.h"

namespace meterfix {

struct BatchInput {
  std::string path;      // a file to read, or "-"
  std::string relative;  // its place under --out-dir: the name, or the path inside its folder
  std::string error;     // a folder that cannot be read: why; it fails as one input
};

// Files stay as given; a folder becomes the .musicxml, .xml and .mxl files
// under it, recursively and sorted, hidden files and folders left out. A
// folder (or subfolder) that cannot be read is one input with `error` set.
// False with a message when a folder holds nothing at all.
bool ExpandInputs(const std::vector<std::string>& inputs, std::vector<BatchInput>& out,
                  std::string& error);

// Runs work(requests[i]) for every i on `workers` processes at once (in
// this process when 1) and returns the results in input order. `done` is
// called in this process as each one finishes, in any order.
std::vector<RunResult> RunBatch(const std::vector<RunRequest>& requests, int workers,
                                const std::function<RunResult(const RunRequest&)>& work,
                                const std::function<void(std::size_t, const RunResult&)>& done);

}  // namespace meterfix
