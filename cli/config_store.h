// The settings directory: the plug-in's two registry values kept as files of
// the same name and the same bytes ("UserDialog", "Presets").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace meterfix {

inline constexpr char UserDialogValue[] = "UserDialog";
inline constexpr char PresetsValue[] = "Presets";

// --config-dir when given, else $XDG_CONFIG_HOME/meterfix, else
// $HOME/.config/meterfix. Empty when none can be made out.
std::string ResolveConfigDir(const std::string& explicitDir);

struct StoredImages {
  std::optional<std::vector<std::uint8_t>> userDialog;
  std::optional<std::vector<std::uint8_t>> presets;
};

// Reads whichever of the two files exist. A missing directory or file is not
// an error (the plug-in then uses its defaults); one that exists but cannot
// be read is, with a one-line message.
bool ReadStoredImages(const std::string& dir, StoredImages& images, std::string& error);

// One line per stored image whose size the plug-in will not take (it then
// keeps its defaults for that record).
std::vector<std::string> ImageWarnings(const std::string& dir, const StoredImages& images);

// Writes both files, creating the directory; each through a temporary file
// renamed into place, so a failure never leaves a partial file behind.
bool WriteStoredImages(const std::string& dir, const StoredImages& images, std::string& error);

// Writes bytes to path through a temporary file beside it and a rename.
bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                         std::string& error);

}  // namespace meterfix
