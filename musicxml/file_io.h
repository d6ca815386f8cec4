// Files in and out: whole reads under the size limit for one score, and
// replacements that never leave a partial file and never let a planted
// symbolic link choose what gets replaced.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace musicxml {

// Bytes one score may take, as read or as unpacked from an archive. Past
// the limit a read fails before the memory is spent.
constexpr std::uint64_t DefaultMaxScoreBytes = std::uint64_t{256} << 20;
std::uint64_t MaxScoreBytes();
void SetMaxScoreBytes(std::uint64_t bytes);
// "larger than 256 MiB, the limit for one score"
std::string TooLargeText();

// Reads a whole file of at most MaxScoreBytes(); false with `error` (one
// line, without the path) otherwise.
bool ReadWholeFile(const std::string& path, std::string& out, std::string& error);
// The same for an open stream such as standard input.
bool ReadWholeStream(int fd, std::string& out, std::string& error);

// The file that a write to `path` replaces: `path` itself, or the end of its
// chain of symbolic links. A link is followed only where the kernel follows
// it for an ordinary open: in a sticky, world-writable directory only a link
// owned by the user or by the directory's owner. False with `error` for a
// refused link and for a chain that cannot be resolved. A chain ending in a
// name that does not exist yet resolves to that name.
// Every folder on the way is held to the same rule.
bool ResolveReplacedFile(const std::string& path, std::string& resolved, std::string& error);

// False with `error` when the walk along `path` meets a symbolic link (in
// any component, and in the targets of the links it follows) that the rule
// above does not follow. Components that do not exist yet end the walk.
bool CheckPathLinks(const std::string& path, std::string& error);

// A temporary file beside the file it is to replace. Until Commit it is
// removed when the object goes and when the process is ended by any signal
// whose default action ends it (where no other handler is installed). It
// is named "<target>.meterfix-<pid>.XXXXXX" and locked (flock) while it
// exists, so that one left by a killed run is recognised: creating one
// first removes such debris from its directory (once per directory).
class TempFile {
 public:
  TempFile() = default;
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates it in the directory of `target` (mode 0600); false with `error`.
  bool Create(const std::string& target, std::string& error);
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Syncs and closes it, renames it over `target` and syncs the directory.
  bool Commit(const std::string& target, std::string& error);

 private:
  void Discard();
  int fd_ = -1;
  int slot_ = -1;  // its place in the list the signal handler removes
  std::string path_;
};

// Removes the temporary files in `directory` that no living run owns.
void RemoveStaleTemporaries(const std::string& directory);

// Replaces the file at `path` with `bytes` through a TempFile and a rename.
// A replaced file keeps its owner and group (as far as the user may give
// them) and its mode without the setuid and setgid bits. A device or pipe
// (/dev/stdout) is written as it is, never replaced. False with `error`.
bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& error);

// Takes one piece of a file's content; false once the content cannot be
// written (the producer may stop then).
using PieceSink = std::function<bool(std::string_view)>;

// ReplaceFile in two steps: Open makes the checks and creates the
// temporary file (or opens a device as it is), so that a destination that
// cannot be written is known before anything else is done; Finish writes
// the content and renames it into place. Unfinished, it leaves nothing.
class Replacement {
 public:
  Replacement() = default;
  ~Replacement();
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  bool Open(const std::string& path, std::string& error);
  bool Finish(const std::function<void(const PieceSink&)>& produce, std::string& error);

 private:
  std::string target_;
  TempFile temp_;
  int streamFd_ = -1;
  unsigned mode_ = 0;
};
// As ReplaceFile, with the content streamed: `produce` hands its pieces to
// the sink in order, so that the whole file is never held at once.
bool ReplaceFileWith(const std::string& path, const std::function<void(const PieceSink&)>& produce,
                     std::string& error);

}  // namespace musicxml
