// Standard error while a command runs: one-line messages, and on a terminal
// the progress bar of a batch that the messages interrupt.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace meterfix {

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
