// The settings directory: the plug-in's two registry values kept as files of
// the same name and the same bytes ("UserDialog", "Presets").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/safe_file.h"

namespace meterfix {

inline constexpr char UserDialogValue[] = "UserDialog";
inline constexpr char PresetsValue[] = "Presets";
// A refused preset table is kept under this name before a save replaces it.
inline constexpr char PresetsBackup[] = "Presets.bad";

// --config-dir when given, else $XDG_CONFIG_HOME/meterfix, else
// $HOME/.config/meterfix. Empty when none can be made out.
std::string ResolveConfigDir(const std::string& explicitDir);

struct StoredImages {
  std::optional<std::vector<std::uint8_t>> userDialog;
  std::optional<std::vector<std::uint8_t>> presets;
  // The files' real sizes (an image holds at most 4097 bytes of its file).
  std::uint64_t userDialogFileSize = 0;
  std::uint64_t presetsFileSize = 0;
  // A stored preset table refused by CheckStoredImages, kept for the backup.
  std::optional<std::vector<std::uint8_t>> refusedPresets;
};

// Reads whichever of the two files exist. A missing directory or file is not
// an error (the plug-in then uses its defaults); one that exists but cannot
// be read, or is no regular file (a FIFO is never waited on), is, with a
// one-line message.
bool ReadStoredImages(const std::string& dir, StoredImages& images, std::string& error);

// One line per stored image the plug-in will not take, naming the file and
// the fault: a wrong size (the plug-in then keeps its defaults), a field out
// of its range, or a preset table that is no table the tool wrote. The
// latter two are dropped from `images`, so the defaults are used for them.
std::vector<std::string> CheckStoredImages(const std::string& dir, StoredImages& images);

// Creates the settings directory; false with a message (a dangling link
// named as such).
bool MakeSettingsDirectory(const std::string& dir, std::string& error);

// Writes both files, creating the directory; each through a temporary file
// renamed into place, so a failure never leaves a partial file behind. The
// rules of any output hold: a file that is not a regular one is refused, as
// is one with several hard links unless `breakLinks`. A refused preset
// table is first kept as Presets.bad.
bool WriteStoredImages(const std::string& dir, const StoredImages& images, bool breakLinks,
                       std::string& error);

// The settings directory locked for one command: shared to read it,
// exclusive around a read-modify-write (the directory is then created). A
// directory that does not exist yet needs no lock for a read. With `noWait`
// a directory another run holds fails at once. False with a message.
bool LockSettings(FileLock& lock, const std::string& dir, bool exclusive, bool noWait,
                  std::string& error);

// ReadStoredImages and CheckStoredImages together: the warnings are added to
// `warnings`. False with a message when a file cannot be read.
bool LoadStoredImages(const std::string& dir, StoredImages& images,
                      std::vector<std::string>& warnings, std::string& error);

}  // namespace meterfix
