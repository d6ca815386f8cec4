#include "cli/subcommands.h"

#include <iostream>
#include <string>
#include <vector>

#include "cli/config_store.h"
#include "cli/option_fields.h"
#include "cli/plugin_session.h"
#include "cli/safe_file.h"
#include "cli/terminal.h"
#include "settings/presets.h"
#include "settings/settings.h"

namespace meterfix {

namespace {

void LockSettings(FileLock& lock, const CommandLine& line, bool exclusive) {
  std::string error;
  if (!LockSettings(lock, line.configDir, exclusive, line.noWait, error)) throw Failure{error};
}

// The stored images; warnings about them go to standard error.
StoredImages LoadImages(const std::string& configDir) {
  StoredImages images;
  std::vector<std::string> warnings;
  std::string error;
  if (!LoadStoredImages(configDir, images, warnings, error)) throw Failure{error};
  for (const std::string& warning : warnings) {
    // "cfg/UserDialog: warning: ...": the file first, as every message.
    const std::size_t colon = warning.find(": ");
    Say(colon == std::string::npos
            ? "warning: " + warning
            : warning.substr(0, colon) + ": warning: " + warning.substr(colon + 2));
  }
  return images;
}

// What the session leaves, written back; a preset table that was refused
// when loaded is kept as Presets.bad first.
void SaveImages(const CommandLine& line, const StoredImages& loaded, StoredImages images) {
  images.refusedPresets = loaded.refusedPresets;
  std::string error;
  if (!WriteStoredImages(line.configDir, images, line.breakLinks, error)) throw Failure{error};
}

std::string LastMessage() {
  const std::vector<Message> messages = PluginSession::Messages();
  if (messages.empty()) return {};
  return messages.back().caption + ": " + messages.back().text;
}

UsageError NoSuchPreset(const std::string& name) {
  return UsageError{"no preset named '" + name + "' (see 'meterfix presets list')"};
}

}  // namespace

int OptionsCommand(const CommandLine& line) {
  FileLock lock;
  LockSettings(lock, line, line.action != "show");
  const StoredImages images = LoadImages(line.configDir);
  PluginSession session(images);
  if (line.action == "show") {
    std::cout << "Options (" << (line.configDir.empty() ? "defaults" : Printable(line.configDir))
              << "):\n"
              << FormatOptionBlock(OptionBlockOf(globalSettings));
    return ExitOk;
  }
  if (line.action == "set") {
    OptionBlock block = OptionBlockOf(globalSettings);
    ApplyAssignments(block, line.fields);
    std::string error;
    if (!ValidateOptionBlock(block, error)) throw UsageError{error};
    StoreOptionBlock(block, globalSettings);
  } else {  // reset: the default record; the presets stay
    ApplyDefaultSettings(globalSettings);
  }
  SaveImages(line, images, session.Terminate());
  return ExitOk;
}

int PresetsCommand(const CommandLine& line) {
  FileLock lock;
  LockSettings(lock, line, line.action == "save" || line.action == "delete");
  const StoredImages images = LoadImages(line.configDir);
  PluginSession session(images);
  const std::string& name = line.name;
  if (line.action == "list") {
    for (int i = 0; i < PresetCount(); ++i) {
      char presetName[PresetNameSize];
      if (PresetName(i, presetName)) std::cout << Printable(presetName) << "\n";
    }
    return ExitOk;
  }
  if (line.action == "show") {
    OptionBlock block(SettingsLayout::OptionBlockSize);
    if (CopyPresetSettings(name.c_str(), block.data()) == 0) throw NoSuchPreset(name);
    std::cout << "Preset " << Printable(name) << ":\n" << FormatOptionBlock(block);
    return ExitOk;
  }
  if (line.action == "save") {
    OptionBlock block;
    std::string error;
    if (!ResolveOptions(line.preset, line.assignments, block, error) ||
        !ValidateOptionBlock(block, error)) {
      throw UsageError{error};
    }
    if (StorePreset(session.window(), name.c_str(), block.data()) == 0) {
      throw Failure{"cannot save preset '" + name + "': " + LastMessage()};
    }
  } else {  // delete
    if (DeletePreset(name.c_str()) == 0) throw NoSuchPreset(name);
  }
  SaveImages(line, images, session.Terminate());
  return ExitOk;
}

}  // namespace meterfix
