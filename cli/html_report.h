// The HTML report: one self-contained page with each changed measure's
// rhythm drawn as SVG under the old and the new signature.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/report.h"

namespace meterfix {

// One self-contained HTML page: per file the summary, per changed measure
// its rhythm in notation, each layer under the old signature and under the
// new one, handed to `sink` in pieces as it is made (false from the sink
// stops it, and WriteHtml returns false).
bool WriteHtml(const std::vector<FileReport>& reports,
               const std::function<bool(std::string_view)>& sink);

// At most `limit` characters of `name` (UTF-8), with an ellipsis where it
// was cut.
std::string ShortName(std::string_view name, std::size_t limit = 60);

}  // namespace meterfix
