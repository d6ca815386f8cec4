// Standard error as the terminal sees it: text from scores and file names
// made safe to show, one-line messages, and the progress bar of a batch that
// the messages interrupt.
#pragma once

#include <chrono>
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

// "meterfix: MESSAGE" on standard error, made safe for a terminal (score
// text can carry escapes); nothing once SilenceMessages was called.
void Say(const std::string& message);
// For a run whose standard error is one of its inputs: a message there would
// be written into the score, so the exit status alone tells.
void SilenceMessages();

// The bar for the terminal: files done, measures changed, time spent and
// the time left at this pace.
std::string ProgressLine(std::size_t done, std::size_t total, std::size_t changed,
                         double elapsedSeconds, std::size_t width);

// The bar on standard error, redrawn in place on one line.
class ProgressBar {
 public:
  explicit ProgressBar(std::size_t total);
  void Show(std::size_t done, std::size_t changed);
  void Clear();

 private:
  std::size_t total_;
  std::chrono::steady_clock::time_point start_;
  std::size_t width_ = 0;
};

}  // namespace meterfix
