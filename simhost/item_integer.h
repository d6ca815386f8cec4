// The value of a number field as the host's dialog services read it
// (HostGetItemValue with ItemKindInteger): the simulated host's from the
// stand-in's controls, the Windows test host's from the real ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

namespace simhost {

// Optional blanks and sign, then digits only; anything else is not a number
// and reads as 0 (as GetDlgItemInt does). A number beyond the 32-bit range is
// clamped, so that it stays out of any range check instead of wrapping.
inline std::int32_t ParseInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  const std::size_t digitsStart = i;
  long long value = 0;
  bool huge = false;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (!huge) {
      value = value * 10 + (text[i] - '0');
      if (value > static_cast<long long>(std::numeric_limits<std::int32_t>::max()) + 1) huge = true;
    }
    ++i;
  }
  const std::size_t end = i;
  while (i < text.size() && text[i] == ' ') ++i;
  if (end == digitsStart || i != text.size()) return 0;
  if (negative) value = -value;
  if (huge || value > std::numeric_limits<std::int32_t>::max())
    return negative ? std::numeric_limits<std::int32_t>::min()
                    : std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min())
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

}  // namespace simhost
