// The files of a run, kept safe: what one run reads and writes checked
// before anything is touched, advisory locks that keep concurrent runs from
// losing each other's changes, and replacements that never leave a partial
// file, never let a planted symbolic link choose what gets replaced and
// leave no temporary file behind when a signal ends the process.
//
// Every function that can fail returns false and sets `error` to one line
// for meterfix to print: "PATH: what went wrong" where the failure belongs to
// one file, as the functions below name it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/file_io.h"

namespace meterfix {

using musicxml::PieceSink;

struct PathUse {
  std::string path;  // "-": standard input for an input, standard output otherwise
  std::string role;  // for messages: "input", "report file (--report-file)", ...
  bool input = false;
  int stream = -1;  // a standard stream (0, 1, 2) this use is, instead of a path
};

// False with a message when two uses name one file: the same device and
// inode where the file exists, else the same normalised path (after the
// output's symbolic links). A standard stream that is a regular file is
// that file. Devices, pipes, sockets and terminals are streams, not files
// that get replaced, and never clash (only the same stream used twice).
bool FindClash(const std::vector<PathUse>& uses, std::string& error);

// Whether standard stream `fd` is a regular file that `path` also names.
bool StreamIsFile(int fd, const std::string& path);

// False with "PATH: has N hard links; ..." when `path` is a regular file with
// several hard links: replacing it would leave the other names with the old
// content.
bool CheckHardLinks(const std::string& path, std::string& error);

// False when the walk along `path` meets a symbolic link (in any component,
// and in the targets of the links it follows) that the kernel would not
// follow for an ordinary open: in a sticky, world-writable directory only a
// link owned by the user or by the directory's owner is followed. `error`
// names the link or folder at fault; the caller puts the file it was
// working for in front where that is another. Components that do not exist
// yet end the walk.
bool CheckPathLinks(const std::string& path, std::string& error);

// The file that a write to `path` replaces: `path` itself, or the end of its
// chain of symbolic links, each followed under the rule above, every folder
// on the way included. A chain ending in a name that does not exist yet
// resolves to that name. False for a refused link and for a chain that
// cannot be resolved, with `error` as from CheckPathLinks.
bool ResolveReplacedFile(const std::string& path, std::string& resolved, std::string& error);

// An flock(2) lock, released when the object goes.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Locks the settings directory itself, shared for reading or exclusive
  // for a read-modify-write. Without `wait`, a directory another run holds
  // fails at once.
  bool LockDirectory(const std::string& dir, bool exclusive, bool wait, std::string& error);
  // Locks the regular file at `path` exclusively for a read-rewrite. A run
  // that waited while the file was replaced locks the file that is there now.
  // A path that cannot be opened or is no regular file gets no lock and
  // succeeds: reading it reports the problem.
  bool LockFile(const std::string& path, bool wait, std::string& error);

 private:
  int fd_ = -1;
};

// Removes the temporary files in `directory` that no living run owns.
void RemoveStaleTemporaries(const std::string& directory);

// Hands the content of a file to the sink in pieces, in order, so that the
// whole file is never held at once; false when the content cannot be made,
// and then nothing is replaced.
using Producer = std::function<bool(const PieceSink&)>;

// Replacing the file at `path` in two steps: Open makes the checks and
// creates a temporary file beside the file it replaces (or opens a device
// as it is), so that a destination that cannot be written is known before
// anything else is done; Finish writes the content, renames it into place
// and syncs the directory. Unfinished, it leaves nothing: the temporary file
// goes with the object, and with the process when a signal whose default
// action ends it does (where no other handler is installed). A temporary
// file is named "<target>.meterfix-<pid>.XXXXXX" and locked (flock) while it
// exists, so that one left by a killed run is recognised: the first one in
// a directory removes such debris. A replaced file keeps its owner and group (as far as the
// user may give them) and its mode without the setuid and setgid bits. A
// device or pipe (/dev/stdout) is written as it is, never replaced. Both
// fail with "PATH: cannot write: ...".
class Replacement {
 public:
  Replacement();
  ~Replacement();
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  bool Open(const std::string& path, std::string& error);
  bool Finish(const Producer& produce, std::string& error);

 private:
  class TempFile;
  bool OpenTarget(std::string& error);
  bool FinishTarget(const Producer& produce, std::string& error);
  std::string path_;
  std::string target_;
  std::unique_ptr<TempFile> temp_;
  int streamFd_ = -1;
  unsigned mode_ = 0;
};

// Replaces the file at `path` with what `produce` makes, as Replacement
// does in one call.
bool ReplaceFile(const std::string& path, const Producer& produce, std::string& error);
// The same for content already in memory.
bool ReplaceFile(const std::string& path, std::string_view bytes, std::string& error);

}  // namespace meterfix
