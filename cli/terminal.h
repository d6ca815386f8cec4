// Text from scores and file names made safe to show on a terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace meterfix {

// `text` safe to show on a terminal: control characters (C0, DEL, C1), the
// bidirectional controls and marks (U+202A..U+202E, U+2066..U+2069, U+200E,
// U+200F, U+061C) and bytes that are not UTF-8 become \xHH escapes.
std::string Printable(std::string_view text);

// The length of the well-formed UTF-8 sequence at text[i], 0 when the byte
// there starts none.
std::size_t Utf8Length(std::string_view text, std::size_t i);

}  // namespace meterfix
