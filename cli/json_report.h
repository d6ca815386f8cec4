// The JSON report: the contract for machines (cli/README.md describes it).
#pragma once

#include <string>
#include <vector>

#include "cli/report.h"

namespace meterfix {

// Version 2 of the JSON report: {"schema": 2, "files": [...], "summary":
// {...}} for any number of inputs, failed ones included; ends with a newline.
constexpr int JsonSchema = 2;
std::string FormatJson(const std::vector<FileReport>& reports);

}  // namespace meterfix
