#include "cli/config_store.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "musicxml/musicxml.h"

namespace meterfix {

namespace {

// Far beyond either image; a bigger file is still handed on (the plug-in
// ignores an over-long value) but not read whole into memory.
constexpr std::size_t MaxImageFileSize = 4096;

bool ReadImageFile(const std::string& path, std::optional<std::vector<std::uint8_t>>& out,
                   std::string& error) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    out.reset();
    return true;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot read: " + std::strerror(errno);
    return false;
  }
  std::vector<std::uint8_t> bytes(MaxImageFileSize + 1);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) {
    error = path + ": cannot read";
    return false;
  }
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  out = std::move(bytes);
  return true;
}

}  // namespace

std::string ResolveConfigDir(const std::string& explicitDir) {
  if (!explicitDir.empty()) return explicitDir;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/meterfix";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config/meterfix";
  return {};
}

bool ReadStoredImages(const std::string& dir, StoredImages& images, std::string& error) {
  images = {};
  if (dir.empty()) return true;
  return ReadImageFile(dir + "/" + UserDialogValue, images.userDialog, error) &&
         ReadImageFile(dir + "/" + PresetsValue, images.presets, error);
}

std::vector<std::string> ImageWarnings(const std::string& dir, const StoredImages& images) {
  std::vector<std::string> warnings;
  auto check = [&](const char* name, const std::optional<std::vector<std::uint8_t>>& image,
                   std::size_t expected) {
    if (image && image->size() != expected) {
      warnings.push_back(dir + "/" + name + " holds " + std::to_string(image->size()) +
                         " bytes, not " + std::to_string(expected) + "; the defaults are used");
    }
  };
  check(UserDialogValue, images.userDialog, 85);
  check(PresetsValue, images.presets, 1622);
  return warnings;
}

bool WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes,
                         std::string& error) {
  const musicxml::Status status = musicxml::WriteFileAtomic(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (!status) error = status.message;
  return status.ok;
}

bool WriteStoredImages(const std::string& dir, const StoredImages& images, std::string& error) {
  if (dir.empty()) {
    error = "no settings directory (set HOME or XDG_CONFIG_HOME, or pass --config-dir)";
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    error = dir + ": cannot create the settings directory: " + ec.message();
    return false;
  }
  if (images.userDialog &&
      !WriteFileAtomically(dir + "/" + UserDialogValue, *images.userDialog, error)) {
    return false;
  }
  if (images.presets && !WriteFileAtomically(dir + "/" + PresetsValue, *images.presets, error)) {
    return false;
  }
  return true;
}

}  // namespace meterfix
