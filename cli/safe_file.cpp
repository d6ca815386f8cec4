#include "cli/safe_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

namespace meterfix {

namespace {

// The kernel gives up after 40 links in one lookup; so do we.
constexpr int MaxLinkHops = 40;

// Temporary files the signal handler removes. A run writes one file at a
// time; a few slots leave room for a caller that holds more (a report kept
// open while the scores are written).
constexpr int PendingSlots = 4;
constexpr std::size_t PendingPathSize = 4096;
char pendingPaths[PendingSlots][PendingPathSize];
volatile std::sig_atomic_t pendingUsed[PendingSlots];
bool handlersInstalled = false;
sigset_t handledSignals;

// Every signal whose default action ends the process; SIGXFSZ is left to
// the caller (meterfix ignores it, so that a write fails with EFBIG).
const int TerminatingSignals[] = {SIGHUP,    SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                                  SIGFPE,    SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
                                  SIGSTKFLT, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};

extern "C" void RemovePendingAndDie(int signal) {
  for (int i = 0; i < PendingSlots; ++i) {
    if (pendingUsed[i] != 0) ::unlink(pendingPaths[i]);
  }
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  ::raise(signal);
}

// Only where the signal would end the process anyway: an ignored SIGINT (a
// background job) stays ignored, and a handler someone else installed (a
// sanitizer's) stays in place.
void InstallHandlers() {
  if (handlersInstalled) return;
  handlersInstalled = true;
  sigemptyset(&handledSignals);
  std::vector<int> signals(std::begin(TerminatingSignals), std::end(TerminatingSignals));
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) signals.push_back(signal);
  for (const int signal : signals) {
    struct sigaction old {};
    if (::sigaction(signal, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 ||
        old.sa_handler != SIG_DFL) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = RemovePendingAndDie;
    sigemptyset(&action.sa_mask);
    if (::sigaction(signal, &action, nullptr) == 0) sigaddset(&handledSignals, signal);
  }
}

// Keeps the handled signals away while the pending list changes.
class SignalsHeld {
 public:
  SignalsHeld() { ::sigprocmask(SIG_BLOCK, &handledSignals, &old_); }
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

// A temporary file is "<target>.meterfix-<pid>.XXXXXX" and its creator holds
// an flock on it while it exists. One whose lock is free and whose process
// is gone was left by a run that was killed (SIGKILL, a crash): it is
// debris, and the next run writing beside it removes it.
constexpr char TempMarker[] = ".meterfix-";

bool StaleTemporary(int dir, const char* name) {
  const char* marker = std::strstr(name, TempMarker);
  if (marker == nullptr) return false;
  for (const char* next = std::strstr(marker + 1, TempMarker); next != nullptr;
       next = std::strstr(next + 1, TempMarker)) {
    marker = next;
  }
  const char* digits = marker + sizeof TempMarker - 1;
  char* end = nullptr;
  errno = 0;
  const long pid = std::strtol(digits, &end, 10);
  if (end == digits || errno != 0 || pid <= 0 || *end != '.' || std::strlen(end + 1) != 6) {
    return false;
  }
  if (pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) return false;
  const int fd = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st {};
  const bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                    ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return ours;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view bytes, int& err) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Gathers small pieces into whole blocks, so that a file of many short edits
// is not written one system call per piece; the first failure sticks.
class BlockWriter {
 public:
  explicit BlockWriter(int fd) : fd_(fd) { buffer_.reserve(BlockSize); }
  bool Put(std::string_view piece) {
    if (err_ != 0) return false;
    if (buffer_.size() + piece.size() > BlockSize) Flush();
    if (piece.size() >= BlockSize) {
      if (err_ == 0) WriteAll(fd_, piece, err_);
    } else {
      buffer_.append(piece);
    }
    return err_ == 0;
  }
  // The first error, after writing what is still buffered; 0 when none.
  int Finish() {
    Flush();
    return err_;
  }

 private:
  static constexpr std::size_t BlockSize = std::size_t{1} << 16;
  void Flush() {
    if (err_ == 0 && !buffer_.empty()) WriteAll(fd_, buffer_, err_);
    buffer_.clear();
  }
  int fd_;
  int err_ = 0;
  std::string buffer_;
};

// The first write error (0 when none); `made` tells whether the producer
// made its content.
int Produce(int fd, const Producer& produce, bool& made) {
  BlockWriter writer(fd);
  made = produce([&](std::string_view piece) { return writer.Put(piece); });
  return writer.Finish();
}

// The kernel's rule for following a link (protected_symlinks), applied
// whether or not the kernel applies it: in a sticky, world-writable
// directory only a link owned by the user or by the directory's owner.
bool MayFollow(const std::string& link, const struct stat& linkStat, const std::string& dir,
               std::string& error) {
  struct stat owner {};
  if (::stat(dir.c_str(), &owner) != 0) {
    error = dir + ": " + std::strerror(errno);
    return false;
  }
  const bool shared = (owner.st_mode & S_ISVTX) != 0 && (owner.st_mode & S_IWOTH) != 0;
  if (shared && linkStat.st_uid != ::geteuid() && linkStat.st_uid != owner.st_uid) {
    error = "the symbolic link " + link + " lies in the shared directory " + dir +
            " and belongs to neither you nor the directory's owner; not followed";
    return false;
  }
  return true;
}

}  // namespace

bool CheckPathLinks(const std::string& path, std::string& error) {
  // Walked as the kernel walks it, one component at a time, with each link's
  // target spliced in where the link was.
  std::vector<std::string> rest;  // the components still to walk, last first
  auto push = [&](const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
      const std::size_t slash = text.find('/', start);
      const std::string part =
          text.substr(start, slash == std::string::npos ? slash : slash - start);
      if (!part.empty() && part != ".") parts.push_back(part);
      if (slash == std::string::npos) break;
      start = slash + 1;
    }
    rest.insert(rest.end(), parts.rbegin(), parts.rend());
  };
  std::string base;  // resolved so far; "" is the root
  if (path.empty() || path[0] != '/') {
    std::string cwd(PendingPathSize, '\0');
    if (::getcwd(cwd.data(), cwd.size()) == nullptr) {
      error = std::string("cannot tell the current directory: ") + std::strerror(errno);
      return false;
    }
    base = cwd.c_str();
    if (base == "/") base.clear();
  }
  push(path);
  int hops = 0;
  while (!rest.empty()) {
    const std::string part = rest.back();
    rest.pop_back();
    if (part == "..") {
      base = base.substr(0, base.empty() ? 0 : base.rfind('/'));
      continue;
    }
    const std::string next = base + "/" + part;
    struct stat st {};
    if (::lstat(next.c_str(), &st) != 0) return true;  // nothing beyond can be a link yet
    if (!S_ISLNK(st.st_mode)) {
      base = next;
      continue;
    }
    if (++hops > MaxLinkHops) {
      error = path + ": " + std::strerror(ELOOP);
      return false;
    }
    if (!MayFollow(next, st, base.empty() ? "/" : base, error)) return false;
    std::string target(PendingPathSize, '\0');
    const ssize_t n = ::readlink(next.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
      error = next + ": cannot read the symbolic link";
      return false;
    }
    target.resize(static_cast<std::size_t>(n));
    if (target[0] == '/') base.clear();
    push(target);
  }
  return true;
}

bool ResolveReplacedFile(const std::string& path, std::string& resolved, std::string& error) {
  std::string current = path;
  for (int hops = 0;; ++hops) {
    // Every folder on the way is checked as the file's own name is.
    if (!CheckPathLinks(DirectoryOf(current), error)) return false;
    struct stat link {};
    if (::lstat(current.c_str(), &link) != 0) {
      if (errno != ENOENT) {
        error = current + ": " + std::strerror(errno);
        return false;
      }
      resolved = current;  // a new file, or the name a dangling link gives
      return true;
    }
    if (!S_ISLNK(link.st_mode)) {
      resolved = current;
      return true;
    }
    if (hops == MaxLinkHops) {
      error = path + ": " + std::strerror(ELOOP);
      return false;
    }
    const std::string dir = DirectoryOf(current);
    if (!MayFollow(current, link, dir, error)) return false;
    std::string target(PendingPathSize, '\0');
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
      error = current + ": cannot read the symbolic link";
      return false;
    }
    target.resize(static_cast<std::size_t>(n));
    current = target[0] == '/' ? target : dir + "/" + target;
  }
}

void RemoveStaleTemporaries(const std::string& directory) {
  const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  DIR* listing = ::fdopendir(dir);
  if (listing == nullptr) {
    ::close(dir);
    return;
  }
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(listing)) {
    if (StaleTemporary(dir, entry->d_name)) stale.emplace_back(entry->d_name);
  }
  for (const std::string& name : stale) ::unlinkat(dir, name.c_str(), 0);
  ::closedir(listing);
}

// The temporary file of a Replacement; its errors are the system's words
// alone, Replacement names the file.
class Replacement::TempFile {
 public:
  TempFile() = default;
  ~TempFile() { Discard(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates it in the directory of `target` (mode 0600).
  bool Create(const std::string& target, std::string& error);
  int fd() const { return fd_; }
  // Syncs and closes it, renames it over `target` and syncs the directory.
  bool Commit(const std::string& target, std::string& error);

 private:
  void Discard();
  int fd_ = -1;
  int slot_ = -1;  // its place in the list the signal handler removes
  std::string path_;
};

bool Replacement::TempFile::Create(const std::string& target, std::string& error) {
  Discard();
  InstallHandlers();
  // A directory is swept once per process: a batch writes many files into one.
  {
    static std::mutex sweptLock;
    static std::set<std::string> swept;
    const std::string dir = DirectoryOf(target);
    const std::lock_guard<std::mutex> guard(sweptLock);
    if (swept.insert(dir).second) RemoveStaleTemporaries(dir);
  }
  std::string name = target + TempMarker + std::to_string(::getpid()) + ".XXXXXX";
  SignalsHeld held;
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  // New and unknown to anyone else: the lock cannot be busy.
  static_cast<void>(::flock(fd, LOCK_EX | LOCK_NB));
  fd_ = fd;
  path_ = name;
  if (name.size() < PendingPathSize) {
    for (int i = 0; i < PendingSlots; ++i) {
      if (pendingUsed[i] != 0) continue;
      std::memcpy(pendingPaths[i], name.c_str(), name.size() + 1);
      pendingUsed[i] = 1;
      slot_ = i;
      break;
    }
  }
  return true;
}

void Replacement::TempFile::Discard() {
  if (!path_.empty()) {
    SignalsHeld held;
    ::unlink(path_.c_str());
    if (slot_ >= 0) pendingUsed[slot_] = 0;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  slot_ = -1;
  path_.clear();
}

bool Replacement::TempFile::Commit(const std::string& target, std::string& error) {
  int err = 0;
  if (::fsync(fd_) != 0) err = errno;
  // Renamed while still open and locked, so that no other run takes it for
  // debris in between.
  if (err == 0) {
    SignalsHeld held;
    if (::rename(path_.c_str(), target.c_str()) != 0) {
      err = errno;
    } else {
      if (slot_ >= 0) pendingUsed[slot_] = 0;
      slot_ = -1;
      path_.clear();
    }
  }
  if (fd_ >= 0 && ::close(fd_) != 0 && err == 0) err = errno;
  fd_ = -1;
  if (err != 0) {
    error = std::strerror(err);
    Discard();
    return false;
  }
  // The rename lasts only once the directory holding it is on disk.
  const int dir = ::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) {
    error = std::string("written, but the directory cannot be synced: ") + std::strerror(errno);
    return false;
  }
  if (::fsync(dir) != 0 && errno != EINVAL) err = errno;
  ::close(dir);
  if (err != 0) {
    error = std::string("written, but the directory cannot be synced: ") + std::strerror(err);
    return false;
  }
  return true;
}

Replacement::Replacement() = default;

Replacement::~Replacement() {
  if (streamFd_ >= 0) ::close(streamFd_);
}

bool Replacement::Open(const std::string& path, std::string& error) {
  path_ = path;
  std::string why;
  if (OpenTarget(why)) return true;
  error = path + ": cannot write: " + why;
  return false;
}

bool Replacement::OpenTarget(std::string& error) {
  const std::string& path = path_;
  if (path.empty()) {
    error = "empty path";
    return false;
  }
  if (!ResolveReplacedFile(path, target_, error)) return false;
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    if (S_ISDIR(existing.st_mode)) {
      error = std::strerror(EISDIR);
      return false;
    }
    // A device, pipe or socket (/dev/stdout, a process substitution):
    // renaming over it would replace the node itself.
    streamFd_ = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    if (streamFd_ < 0) {
      error = std::strerror(errno);
      return false;
    }
    return true;
  }
  temp_ = std::make_unique<TempFile>();
  if (!temp_->Create(target_, error)) return false;
  if (::stat(target_.c_str(), &existing) == 0) {
    // The owner can be kept only by root; the group by any member of it.
    if (::fchown(temp_->fd(), existing.st_uid, existing.st_gid) != 0) {
      static_cast<void>(::fchown(temp_->fd(), static_cast<uid_t>(-1), existing.st_gid));
    }
    mode_ = existing.st_mode & 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode_ = 0666 & ~mask;
  }
  return true;
}

bool Replacement::Finish(const Producer& produce, std::string& error) {
  std::string why;
  if (FinishTarget(produce, why)) return true;
  error = path_ + ": cannot write: " + why;
  return false;
}

bool Replacement::FinishTarget(const Producer& produce, std::string& error) {
  bool made = true;
  if (streamFd_ >= 0) {
    int err = Produce(streamFd_, produce, made);
    if (::close(streamFd_) != 0 && err == 0) err = errno;
    streamFd_ = -1;
    if (err != 0) {
      error = std::strerror(err);
      return false;
    }
    if (!made) error = "its content could not be made";
    return made;
  }
  if (!temp_ || temp_->fd() < 0) {
    error = "not open";
    return false;
  }
  int err = Produce(temp_->fd(), produce, made);
  // After fchown, which may clear mode bits of its own.
  if (err == 0 && ::fchmod(temp_->fd(), mode_) != 0) err = errno;
  if (err != 0) {
    error = std::strerror(err);
    return false;
  }
  if (!made) {
    temp_.reset();
    error = "its content could not be made";
    return false;
  }
  return temp_->Commit(target_, error);
}

bool ReplaceFile(const std::string& path, const Producer& produce, std::string& error) {
  Replacement replacement;
  return replacement.Open(path, error) && replacement.Finish(produce, error);
}

bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& error) {
  // A refused piece is the writer's error, which Finish reports.
  return ReplaceFile(
      path,
      [&](const PieceSink& sink) {
        sink(bytes);
        return true;
      },
      error);
}

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
  if (!ResolveReplacedFile(use.path, resolved, ignored)) resolved = use.path;
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

enum class LockResult { Locked, Busy, Failed };

LockResult Flock(int fd, int operation, bool wait, std::string& error) {
  for (;;) {
    if (::flock(fd, operation | (wait ? 0 : LOCK_NB)) == 0) return LockResult::Locked;
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return LockResult::Busy;
    error = std::strerror(errno);
    return LockResult::Failed;
  }
}

}  // namespace

bool FileLock::LockDirectory(const std::string& dir, bool exclusive, bool wait,
                             std::string& error) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = dir + ": cannot lock the settings directory: " + std::strerror(errno);
    return false;
  }
  const LockResult result = Flock(fd, exclusive ? LOCK_EX : LOCK_SH, wait, error);
  if (result != LockResult::Locked) {
    error = result == LockResult::Busy
                ? dir + ": another meterfix run is using the settings directory (--no-wait)"
                : dir + ": cannot lock the settings directory: " + error;
    ::close(fd);
    return false;
  }
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  return true;
}

bool FileLock::LockFile(const std::string& path, bool wait, std::string& error) {
  for (;;) {
    // O_NONBLOCK: opening a pipe must not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return true;
    struct stat locked {};
    if (::fstat(fd, &locked) != 0 || !S_ISREG(locked.st_mode)) {
      ::close(fd);
      return true;
    }
    const LockResult result = Flock(fd, LOCK_EX, wait, error);
    if (result != LockResult::Locked) {
      error = result == LockResult::Busy
                  ? path + ": another meterfix run is rewriting it (--no-wait)"
                  : path + ": cannot lock: " + error;
      ::close(fd);
      return false;
    }
    struct stat now {};
    if (::stat(path.c_str(), &now) == 0 && now.st_dev == locked.st_dev &&
        now.st_ino == locked.st_ino) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = fd;
      return true;
    }
    ::close(fd);  // replaced while this run waited: lock what is there now
  }
}

}  // namespace meterfix
