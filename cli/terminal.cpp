#include "cli/terminal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace meterfix {

std::size_t Utf8Length(std::string_view text, std::size_t i) {
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b = at(i);
  if (b < 0x80) return 1;
  std::size_t length = 0;
  if (b >= 0xC2 && b <= 0xDF)
    length = 2;
  else if (b >= 0xE0 && b <= 0xEF)
    length = 3;
  else if (b >= 0xF0 && b <= 0xF4)
    length = 4;
  for (std::size_t k = 1; length != 0 && k < length; ++k) {
    if (i + k >= text.size() || (at(i + k) & 0xC0) != 0x80) length = 0;
  }
  if (length == 3 && ((b == 0xE0 && at(i + 1) < 0xA0) || (b == 0xED && at(i + 1) >= 0xA0))) {
    length = 0;
  }
  if (length == 4 && ((b == 0xF0 && at(i + 1) < 0x90) || (b == 0xF4 && at(i + 1) >= 0x90))) {
    length = 0;
  }
  return length;
}

std::string Printable(std::string_view text) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  auto escape = [&](unsigned char byte) {
    out += "\\x";
    out += Hex[byte >> 4];
    out += Hex[byte & 0x0F];
  };
  auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char b = at(i);
    if (b < 0x20 || b == 0x7F) {
      escape(b);
      ++i;
      continue;
    }
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    // Well-formed UTF-8 passes, except the C1 controls (U+0080..U+009F,
    // which some terminals obey like ESC); any other byte is escaped.
    const std::size_t length = Utf8Length(text, i);
    bool valid = length != 0;
    if (valid && b == 0xC2 && at(i + 1) < 0xA0) valid = false;
    if (!valid) {
      escape(b);
      ++i;
      continue;
    }
    // The bidirectional controls (U+202A..U+202E, U+2066..U+2069) and marks
    // (U+200E, U+200F, U+061C) can make a name or a measure read backwards:
    // escaped whole, like a control character.
    const bool bidi = (length == 3 && b == 0xE2 &&
                       ((at(i + 1) == 0x80 && at(i + 2) >= 0xAA && at(i + 2) <= 0xAE) ||
                        (at(i + 1) == 0x80 && (at(i + 2) == 0x8E || at(i + 2) == 0x8F)) ||
                        (at(i + 1) == 0x81 && at(i + 2) >= 0xA6 && at(i + 2) <= 0xA9))) ||
                      (length == 2 && b == 0xD8 && at(i + 1) == 0x9C);
    if (bidi) {
      for (std::size_t k = 0; k < length; ++k) escape(at(i + k));
      i += length;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

namespace {

bool silenced = false;

std::string Clock(double seconds) {
  const long total = std::lround(std::max(0.0, seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  return text;
}

}  // namespace

void Say(const std::string& message) {
  if (silenced) return;
  std::fprintf(stderr, "meterfix: %s\n", Printable(message).c_str());
}

void SilenceMessages() { silenced = true; }

std::string ProgressLine(std::size_t done, std::size_t total, std::size_t changed,
                         double elapsedSeconds, std::size_t width) {
  const std::size_t filled = total == 0 ? width : done * width / total;
  // Appended piece by piece: g++ 12 at -O3 misreads "literal" + temporary.
  std::string line = "[";
  line.append(filled, '#').append(width - filled, ' ').append("] ");
  line.append(std::to_string(done)).append("/").append(std::to_string(total));
  line.append(" files, ").append(std::to_string(changed)).append(" measures changed, ");
  line.append(Clock(elapsedSeconds)).append(" elapsed");
  if (done > 0 && done < total) {
    const double left =
        elapsedSeconds / static_cast<double>(done) * static_cast<double>(total - done);
    line.append(", ").append(Clock(left)).append(" left");
  }
  return line;
}

ProgressBar::ProgressBar(std::size_t total)
    : total_(total), start_(std::chrono::steady_clock::now()) {}

void ProgressBar::Show(std::size_t done, std::size_t changed) {
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const std::string line = ProgressLine(done, total_, changed, elapsed, 24);
  std::fprintf(stderr, "\r%-*s", static_cast<int>(width_), line.c_str());
  width_ = std::max(width_, line.size());
  std::fflush(stderr);
}

void ProgressBar::Clear() {
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
  std::fflush(stderr);
}

}  // namespace meterfix
