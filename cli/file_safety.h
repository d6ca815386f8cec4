// What one run reads and writes, checked before anything is touched, and
// the advisory locks that keep concurrent runs from losing each other's
// changes.
#pragma once

#include <string>
#include <vector>

namespace meterfix {

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

// False with a message when `path` is a regular file with several hard
// links: replacing it would leave the other names with the old content.
bool CheckHardLinks(const std::string& path, std::string& error);

// An flock(2) lock, released when the object goes.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  enum class Result { Locked, Busy, Failed };
  // Locks the directory itself, shared for reading or exclusive for a
  // read-modify-write. Busy only when `wait` is false and another run holds it.
  Result LockDirectory(const std::string& dir, bool exclusive, bool wait, std::string& error);
  // Locks the regular file at `path` exclusively for a read-rewrite. A run
  // that waited while the file was replaced locks the file that is there now.
  // A path that cannot be opened or is no regular file gets no lock (Locked):
  // reading it reports the problem.
  Result LockFile(const std::string& path, bool wait, std::string& error);

 private:
  int fd_ = -1;
};

}  // namespace meterfix
