#include "cli/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cli/report.h"

namespace meterfix {

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
