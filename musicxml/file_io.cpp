#include "musicxml/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace musicxml {

namespace {

std::uint64_t maxScoreBytes = DefaultMaxScoreBytes;

bool ReadAll(int fd, std::string& out, std::string& error) {
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = std::strerror(errno);
      return false;
    }
    if (n == 0) return true;
    if (out.size() + static_cast<std::size_t>(n) > maxScoreBytes) {
      error = TooLargeText();
      return false;
    }
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

std::uint64_t MaxScoreBytes() { return maxScoreBytes; }
void SetMaxScoreBytes(std::uint64_t bytes) { maxScoreBytes = bytes; }

std::string TooLargeText() {
  constexpr std::uint64_t MiB = std::uint64_t{1} << 20;
  const std::string limit = maxScoreBytes % MiB == 0 ? std::to_string(maxScoreBytes / MiB) + " MiB"
                                                     : std::to_string(maxScoreBytes) + " bytes";
  return "larger than " + limit + ", the limit for one score";
}

bool ReadWholeFile(const std::string& path, std::string& out, std::string& error) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = true;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    error = "is a directory";
    ok = false;
  } else if (S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > maxScoreBytes) {
    error = TooLargeText();
    ok = false;
  } else {
    // One allocation of the right size; growing would briefly hold twice as much.
    if (S_ISREG(st.st_mode)) out.reserve(static_cast<std::size_t>(st.st_size));
    ok = ReadAll(fd, out, error);
  }
  ::close(fd);
  if (!ok) out.clear();
  return ok;
}

bool ReadWholeStream(int fd, std::string& out, std::string& error) {
  out.clear();
  const bool ok = ReadAll(fd, out, error);
  if (!ok) out.clear();
  return ok;
}

}  // namespace musicxml
