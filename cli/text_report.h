// The text report: an aligned listing for people, in musical terms.
#pragma once

#include <string>
#include <vector>

#include "cli/report.h"

namespace meterfix {

// Per file a summary line, then the changed measures (every measure with
// `allMeasures`) in musical terms, then messages and warnings.
std::string FormatText(const std::vector<FileReport>& reports, bool allMeasures = false);

// A file's summary line without the name in front of it: "5 of 8 measures
// changed, 0 messages; written to out.musicxml", or "failed: " and the error.
std::string SummaryLine(const FileReport& report);

// "4/4 -> 3+3+2/8", with the beat units where the forms alone read the same.
std::string DescribeChange(const SignatureState& before, const SignatureState& after);

// The text report's line for a kept change, without its indent: "measure 0
// [1]: no MusicXML form for a pickup's own signature: 2/4 (the file has 2/4
// shows 4/4)".
std::string KeptLine(const KeptChange& kept);

}  // namespace meterfix
