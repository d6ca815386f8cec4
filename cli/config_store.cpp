#include "cli/config_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "cli/option_fields.h"
#include "musicxml/musicxml.h"
#include "platform/le_bytes.h"
#include "settings/presets.h"

namespace meterfix {

namespace {

// Far beyond either image; a bigger file is still handed on (the plug-in
// ignores an over-long value) but not read whole into memory.
constexpr std::size_t MaxImageFileSize = 4096;

// O_NONBLOCK: a FIFO planted under the name must not hang the run; it is
// refused like any file that is not a regular one.
bool ReadImageFile(const std::string& path, std::optional<std::vector<std::uint8_t>>& out,
                   std::uint64_t& size, std::string& error) {
  out.reset();
  size = 0;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    error = path + ": cannot read: " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = path + ": is not a regular file; the settings directory holds only the plug-in's files";
    return false;
  }
  size = static_cast<std::uint64_t>(st.st_size);
  std::vector<std::uint8_t> bytes(MaxImageFileSize + 1);
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = path + ": cannot read: " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  bytes.resize(got);
  out = std::move(bytes);
  return true;
}

// Why a stored options record of the right size cannot be used; empty when it can.
std::string OptionsRecordFault(const std::vector<std::uint8_t>& image) {
  const OptionBlock block(
      image.begin(), image.begin() + static_cast<std::ptrdiff_t>(SettingsLayout::OptionBlockSize));
  std::string error;
  return ValidateOptionBlock(block, error) ? std::string() : error;
}

// Likewise for a preset table: a count within 0..20, and every preset in
// use named and holding options the dialog would accept.
std::string PresetTableFault(const std::vector<std::uint8_t>& image) {
  const std::int16_t count = ReadI16(image.data() + PresetTableLayout::Count);
  if (count < 0 || count > MaxPresets) {
    return "its count of presets is " + std::to_string(count) + ", outside 0.." +
           std::to_string(MaxPresets);
  }
  for (std::int16_t i = 0; i < count; ++i) {
    const std::uint8_t* slot =
        image.data() + PresetTableLayout::FirstSlot + PresetTableLayout::SlotSize * i;
    const std::uint8_t* name = slot + PresetTableLayout::Name;
    const std::string where = "preset " + std::to_string(i + 1);
    if (name[0] == 0 || std::memchr(name, 0, PresetNameSize) == nullptr) {
      return where + " has no name that ends within " + std::to_string(PresetNameSize) + " bytes";
    }
    const OptionBlock block(
        slot + PresetTableLayout::OptionBlock,
        slot + PresetTableLayout::OptionBlock + SettingsLayout::OptionBlockSize);
    std::string error;
    if (!ValidateOptionBlock(block, error)) {
      return where + " (" + reinterpret_cast<const char*>(name) + "): " + error;
    }
  }
  return {};
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
  if (!CheckPathLinks(dir, error)) return false;
  return ReadImageFile(dir + "/" + UserDialogValue, images.userDialog, images.userDialogFileSize,
                       error) &&
         ReadImageFile(dir + "/" + PresetsValue, images.presets, images.presetsFileSize, error);
}

std::vector<std::string> CheckStoredImages(const std::string& dir, StoredImages& images) {
  std::vector<std::string> warnings;
  auto check = [&](const char* name, std::optional<std::vector<std::uint8_t>>& image,
                   std::uint64_t fileSize, std::size_t expected, const char* defaults,
                   std::string (*fault)(const std::vector<std::uint8_t>&)) {
    if (!image) return false;
    const std::string file = dir + "/" + name;
    if (image->size() != expected) {
      const std::uint64_t size = std::max<std::uint64_t>(fileSize, image->size());
      warnings.push_back(file + ": holds " + std::to_string(size) + " bytes, not " +
                         std::to_string(expected) + "; " + defaults + " are used");
      return false;
    }
    const std::string why = fault(*image);
    if (why.empty()) return false;
    warnings.push_back(file + ": " + why + "; " + defaults + " are used");
    image.reset();
    return true;
  };
  check(UserDialogValue, images.userDialog, images.userDialogFileSize, SettingsLayout::Size,
        "the default options", OptionsRecordFault);
  std::optional<std::vector<std::uint8_t>> presets = images.presets;
  if (check(PresetsValue, images.presets, images.presetsFileSize, PresetTableLayout::Size,
            "the built-in presets", PresetTableFault)) {
    images.refusedPresets = std::move(presets);
  }
  return warnings;
}

namespace {

bool WriteImage(const std::string& path, const std::vector<std::uint8_t>& bytes,
                std::string& error) {
  return ReplaceFile(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error);
}

}  // namespace

bool MakeSettingsDirectory(const std::string& dir, std::string& error) {
  if (!CheckPathLinks(dir, error)) return false;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (!ec) return true;
  struct stat st {};
  if (::lstat(dir.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::stat(dir.c_str(), &st) != 0) {
    error = dir + ": the settings directory is a symbolic link to nothing (dangling)";
  } else {
    error = dir + ": cannot create the settings directory: " + ec.message();
  }
  return false;
}

bool WriteStoredImages(const std::string& dir, const StoredImages& images, bool breakLinks,
                       std::string& error) {
  if (dir.empty()) {
    error = "no settings directory (set HOME or XDG_CONFIG_HOME, or pass --config-dir)";
    return false;
  }
  if (!MakeSettingsDirectory(dir, error)) return false;
  const std::string userDialog = dir + "/" + UserDialogValue;
  const std::string presets = dir + "/" + PresetsValue;
  // The rules of any output, checked for both files before either is written.
  for (const std::string* path : {&userDialog, &presets}) {
    struct stat st {};
    if (::stat(path->c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      error = *path + ": is not a regular file; not written";
      return false;
    }
    if (!breakLinks && !CheckHardLinks(*path, error)) return false;
  }
  if (images.presets && images.refusedPresets &&
      !WriteImage(dir + "/" + PresetsBackup, *images.refusedPresets, error)) {
    return false;
  }
  if (images.userDialog && !WriteImage(userDialog, *images.userDialog, error)) {
    return false;
  }
  if (images.presets && !WriteImage(presets, *images.presets, error)) return false;
  return true;
}

bool LockSettings(FileLock& lock, const std::string& dir, bool exclusive, bool noWait,
                  std::string& error) {
  if (dir.empty()) return true;
  std::error_code ec;
  if (exclusive) {
    if (!MakeSettingsDirectory(dir, error)) return false;
  } else if (!std::filesystem::is_directory(dir, ec)) {
    return true;
  }
  return lock.LockDirectory(dir, exclusive, !noWait, error);
}

bool LoadStoredImages(const std::string& dir, StoredImages& images,
                      std::vector<std::string>& warnings, std::string& error) {
  if (!ReadStoredImages(dir, images, error)) return false;
  const std::vector<std::string> found = CheckStoredImages(dir, images);
  warnings.insert(warnings.end(), found.begin(), found.end());
  return true;
}

}  // namespace meterfix
