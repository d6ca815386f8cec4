#include "cli/file_safety.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <tuple>

#include "musicxml/file_io.h"

namespace meterfix {

namespace {

struct Identity {
  bool byInode = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string path;
  bool operator<(const Identity& other) const {
    return std::tie(byInode, device, inode, path) <
           std::tie(other.byInode, other.device, other.inode, other.path);
  }
};

// False for a use that never clashes.
bool IdentityOf(const PathUse& use, Identity& identity) {
  struct stat st {};
  int stream = use.stream;
  if (stream < 0 && use.path == "-") stream = use.input ? STDIN_FILENO : STDOUT_FILENO;
  if (stream >= 0) {
    // A standard stream redirected to a file is that file (/dev/stdout
    // names it too); any other is itself.
    if (::fstat(stream, &st) == 0 && S_ISREG(st.st_mode)) {
      identity.byInode = true;
      identity.device = st.st_dev;
      identity.inode = st.st_ino;
    } else if (stream == STDIN_FILENO) {
      return false;  // read once, checked elsewhere
    } else {
      identity.path = "<fd " + std::to_string(stream) + ">";
    }
    return true;
  }
  if (::stat(use.path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return false;
    identity.byInode = true;
    identity.device = st.st_dev;
    identity.inode = st.st_ino;
    return true;
  }
  // Not there yet: the name a write would create, made absolute and normal.
  std::string resolved;
  std::string ignored;
  if (!musicxml::ResolveReplacedFile(use.path, resolved, ignored)) resolved = use.path;
  std::error_code ec;
  std::filesystem::path normal = std::filesystem::weakly_canonical(resolved, ec);
  if (ec) normal = std::filesystem::absolute(resolved, ec).lexically_normal();
  identity.path = normal.string();
  return true;
}

}  // namespace

bool FindClash(const std::vector<PathUse>& uses, std::string& error) {
  std::map<Identity, const PathUse*> seen;
  for (const PathUse& use : uses) {
    Identity identity;
    if (!IdentityOf(use, identity)) continue;
    const auto [it, inserted] = seen.emplace(identity, &use);
    if (inserted) continue;
    const PathUse& first = *it->second;
    error = first.role + " " + first.path + " and " + use.role + " " + use.path +
            " name the same file; a run reads or writes each file only once";
    return false;
  }
  return true;
}

bool StreamIsFile(int fd, const std::string& path) {
  struct stat stream {};
  struct stat file {};
  return ::fstat(fd, &stream) == 0 && S_ISREG(stream.st_mode) && ::stat(path.c_str(), &file) == 0 &&
         stream.st_dev == file.st_dev && stream.st_ino == file.st_ino;
}

bool CheckHardLinks(const std::string& path, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink <= 1) return true;
  error = path + ": has " + std::to_string(st.st_nlink) +
          " hard links; rewriting it would leave the other names with the old content "
          "(--break-links rewrites it anyway)";
  return false;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {

FileLock::Result Flock(int fd, int operation, bool wait, std::string& error) {
  for (;;) {
    if (::flock(fd, operation | (wait ? 0 : LOCK_NB)) == 0) return FileLock::Result::Locked;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return FileLock::Result::Busy;
    error = std::strerror(errno);
    return FileLock::Result::Failed;
  }
}

}  // namespace

FileLock::Result FileLock::LockDirectory(const std::string& dir, bool exclusive, bool wait,
                                         std::string& error) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = dir + ": cannot lock the settings directory: " + std::strerror(errno);
    return Result::Failed;
  }
  const Result result = Flock(fd, exclusive ? LOCK_EX : LOCK_SH, wait, error);
  if (result == Result::Failed) error = dir + ": cannot lock the settings directory: " + error;
  if (result != Result::Locked) {
    ::close(fd);
    return result;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  return result;
}

FileLock::Result FileLock::LockFile(const std::string& path, bool wait, std::string& error) {
  for (;;) {
    // O_NONBLOCK: opening a pipe must not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return Result::Locked;
    struct stat locked {};
    if (::fstat(fd, &locked) != 0 || !S_ISREG(locked.st_mode)) {
      ::close(fd);
      return Result::Locked;
    }
    const Result result = Flock(fd, LOCK_EX, wait, error);
    if (result != Result::Locked) {
      if (result == Result::Failed) error = path + ": cannot lock: " + error;
      ::close(fd);
      return result;
    }
    struct stat now {};
    if (::stat(path.c_str(), &now) == 0 && now.st_dev == locked.st_dev &&
        now.st_ino == locked.st_ino) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = fd;
      return Result::Locked;
    }
    ::close(fd);  // replaced while this run waited: lock what is there now
  }
}

}  // namespace meterfix
