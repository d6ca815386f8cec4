// meterfix: the plug-in's command on MusicXML scores, from the command line.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/config_store.h"
#include "cli/option_fields.h"
#include "cli/plugin_session.h"
#include "cli/report.h"
#include "cli/run.h"
#include "settings/presets.h"
#include "settings/settings.h"

namespace {

using namespace meterfix;

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

struct UsageError {
  std::string message;
};
struct Failure {
  std::string message;
};

std::vector<OptionAssignment> ParseAssignments(const std::vector<std::string>& texts) {
  std::vector<OptionAssignment> assignments;
  for (const std::string& text : texts) {
    OptionAssignment assignment;
    std::string error;
    if (!ParseAssignment(text, assignment, error)) throw UsageError{error};
    assignments.push_back(assignment);
  }
  return assignments;
}

// Warnings about the stored images go to `warnings` when given (a run puts
// them in its report), else to stderr.
StoredImages LoadImages(const std::string& configDir,
                        std::vector<std::string>* warnings = nullptr) {
  StoredImages images;
  std::string error;
  if (!ReadStoredImages(configDir, images, error)) throw Failure{error};
  for (const std::string& warning : ImageWarnings(configDir, images)) {
    if (warnings != nullptr) {
      warnings->push_back(warning);
    } else {
      std::fprintf(stderr, "meterfix: warning: %s\n", warning.c_str());
    }
  }
  return images;
}

void SaveImages(const std::string& configDir, const StoredImages& images) {
  std::string error;
  if (!WriteStoredImages(configDir, images, error)) throw Failure{error};
}

void CheckPresetName(const std::string& name) {
  if (name.empty()) throw UsageError{"a preset name must not be empty"};
  if (name.size() > PresetNameSize - 1) {
    throw UsageError{"preset name '" + name + "' is longer than " +
                     std::to_string(PresetNameSize - 1) + " characters"};
  }
  if (name.find('\0') != std::string::npos) throw UsageError{"a preset name holds no NUL"};
}

// The stored options with --preset and --set laid over them.
OptionBlock ResolveOptions(const std::string& preset,
                           const std::vector<OptionAssignment>& assignments) {
  OptionBlock block = OptionBlockOf(globalSettings);
  if (!preset.empty()) {
    CheckPresetName(preset);
    if (CopyPresetSettings(preset.c_str(), block.data()) == 0) {
      throw UsageError{"no preset named '" + preset + "' (see 'meterfix presets list')"};
    }
  }
  ApplyAssignments(block, assignments);
  if (!preset.empty() || !assignments.empty()) {
    std::string error;
    if (!ValidateOptionBlock(block, error)) throw UsageError{error};
  }
  return block;
}

std::string LastMessage() {
  const std::vector<Message> messages = PluginSession::Messages();
  if (messages.empty()) return {};
  return messages.back().caption + ": " + messages.back().text;
}

int OptionsCommand(const std::string& action, const std::vector<std::string>& fieldTexts,
                   const std::string& configDir) {
  const std::vector<OptionAssignment> assignments = ParseAssignments(fieldTexts);
  if (action == "set" && assignments.empty()) throw UsageError{"options set needs FIELD=VALUE"};
  if (action != "set" && !assignments.empty()) {
    throw UsageError{"options " + action + " takes no FIELD=VALUE"};
  }
  const StoredImages images = LoadImages(configDir);
  PluginSession session(images);
  if (action == "show") {
    std::cout << "Options (" << (configDir.empty() ? "defaults" : configDir) << "):\n"
              << FormatOptionBlock(OptionBlockOf(globalSettings));
    return ExitOk;
  }
  if (action == "set") {
    OptionBlock block = OptionBlockOf(globalSettings);
    ApplyAssignments(block, assignments);
    std::string error;
    if (!ValidateOptionBlock(block, error)) throw UsageError{error};
    StoreOptionBlock(block, globalSettings);
  } else {  // reset: the default record; the presets stay
    ApplyDefaultSettings(globalSettings);
  }
  SaveImages(configDir, session.Terminate());
  return ExitOk;
}

int PresetsCommand(const std::string& action, const std::string& name, const std::string& preset,
                   const std::vector<OptionAssignment>& assignments, const std::string& configDir) {
  if (action != "list") CheckPresetName(name);
  if (action != "save" && (!assignments.empty() || !preset.empty())) {
    throw UsageError{"presets " + action + " takes no --set or --preset"};
  }
  const StoredImages images = LoadImages(configDir);
  PluginSession session(images);
  if (action == "list") {
    for (int i = 0; i < PresetCount(); ++i) {
      char presetName[PresetNameSize];
      if (PresetName(i, presetName)) std::cout << presetName << "\n";
    }
    return ExitOk;
  }
  if (action == "show") {
    OptionBlock block(SettingsLayout::OptionBlockSize);
    if (CopyPresetSettings(name.c_str(), block.data()) == 0) {
      throw Failure{"no preset named '" + name + "'"};
    }
    std::cout << "Preset " << name << ":\n" << FormatOptionBlock(block);
    return ExitOk;
  }
  if (action == "save") {
    const OptionBlock block = ResolveOptions(preset, assignments);
    std::string error;
    if (!ValidateOptionBlock(block, error)) throw UsageError{error};
    if (StorePreset(session.window(), name.c_str(), block.data()) == 0) {
      throw Failure{"cannot save preset '" + name + "': " + LastMessage()};
    }
  } else {  // delete
    if (DeletePreset(name.c_str()) == 0) throw Failure{"no preset named '" + name + "'"};
  }
  SaveImages(configDir, session.Terminate());
  return ExitOk;
}

// A one-line bar on the terminal, redrawn in place.
void ShowProgress(std::size_t done, std::size_t total, const std::string& file) {
  constexpr std::size_t Width = 30;
  const std::size_t filled = total == 0 ? Width : done * Width / total;
  std::string name = file.size() > 40 ? "..." + file.substr(file.size() - 37) : file;
  std::fprintf(stderr, "\r[%s%s] %zu/%zu %-40s", std::string(filled, '#').c_str(),
               std::string(Width - filled, ' ').c_str(), done, total, name.c_str());
  std::fflush(stderr);
}
void ClearProgress() {
  std::fprintf(stderr, "\r%*s\r", 90, "");
  std::fflush(stderr);
}

struct RunArguments {
  std::vector<std::string> inputs;
  std::string output;
  bool inPlace = false;
  std::string outDir;
  std::string preset;
  std::vector<std::string> sets;
  std::string measures;
  std::string staves;
  std::string report = "text";
  std::string reportFile;
};

int RunCommand(const RunArguments& args, const std::string& configDir) {
  if (args.inputs.empty()) throw UsageError{"no input file (see --help)"};
  const int destinations =
      (args.output.empty() ? 0 : 1) + (args.inPlace ? 1 : 0) + (args.outDir.empty() ? 0 : 1);
  if (destinations > 1) throw UsageError{"-o, --in-place and --out-dir exclude each other"};
  if (!args.output.empty() && args.inputs.size() > 1) {
    throw UsageError{"-o takes one input; use --out-dir for several"};
  }
  std::set<std::string> outNames;
  int stdinCount = 0;
  for (const std::string& input : args.inputs) {
    if (input == "-") {
      ++stdinCount;
      if (args.inPlace || !args.outDir.empty()) {
        throw UsageError{"standard input cannot be written in place or into --out-dir"};
      }
      continue;
    }
    if (!args.outDir.empty()) {
      const std::string name = std::filesystem::path(input).filename().string();
      if (!outNames.insert(name).second) {
        throw UsageError{"two inputs named '" + name + "' would meet in --out-dir"};
      }
    }
  }
  if (stdinCount > 1) throw UsageError{"standard input can be read only once"};
  if (args.report != "text" && args.report != "json" && args.report != "none") {
    throw UsageError{"--report takes text, json or none"};
  }

  RunRequest base;
  if (!args.measures.empty()) {
    Range range;
    std::string error;
    if (!ParseRange(args.measures, range, error)) throw UsageError{"--measures: " + error};
    base.measures = range;
  }
  if (!args.staves.empty()) {
    Range range;
    std::string error;
    if (!ParseRange(args.staves, range, error)) throw UsageError{"--staves: " + error};
    base.staves = range;
  }
  const std::vector<OptionAssignment> assignments = ParseAssignments(args.sets);
  std::vector<std::string> settingsWarnings;
  base.images = LoadImages(configDir, &settingsWarnings);
  {
    // What the plug-in would load, with this run's changes over it; the
    // session's registry is dropped, so nothing stored changes.
    PluginSession session(base.images);
    base.options = ResolveOptions(args.preset, assignments);
  }

  const bool progress = args.inputs.size() > 1 && ::isatty(STDERR_FILENO) != 0;
  std::vector<FileReport> reports;
  bool allOk = true;
  for (std::size_t i = 0; i < args.inputs.size(); ++i) {
    if (progress) ShowProgress(i, args.inputs.size(), args.inputs[i]);
    RunRequest request = base;
    request.input = args.inputs[i];
    if (!args.output.empty()) {
      request.output = args.output;
    } else if (args.inPlace) {
      request.output = args.inputs[i];
    } else if (!args.outDir.empty()) {
      request.output =
          (std::filesystem::path(args.outDir) / std::filesystem::path(args.inputs[i]).filename())
              .string();
    }
    RunResult result = RunInput(request);
    if (!result.ok) {
      allOk = false;
      if (progress) ClearProgress();
      std::fprintf(stderr, "meterfix: %s\n", result.error.c_str());
      continue;
    }
    result.report.warnings.insert(result.report.warnings.begin(), settingsWarnings.begin(),
                                  settingsWarnings.end());
    reports.push_back(std::move(result.report));
  }
  if (progress) {
    ShowProgress(args.inputs.size(), args.inputs.size(), "");
    ClearProgress();
  }

  if (args.report != "none" && (!reports.empty() || args.inputs.size() > 1)) {
    const std::string text =
        args.report == "json" ? FormatJson(reports, args.inputs.size() > 1) : FormatText(reports);
    if (!args.reportFile.empty()) {
      std::string error;
      if (!WriteFileAtomically(args.reportFile, std::vector<std::uint8_t>(text.begin(), text.end()),
                               error)) {
        throw Failure{error};
      }
    } else {
      std::fputs(text.c_str(), stderr);
    }
  }
  return allOk ? ExitOk : ExitFailure;
}

int Main(int argc, char** argv) {
  CLI::App app{
      "Derives time signatures from the beaming of MusicXML scores, with the "
      "plug-in's own analysis.",
      "meterfix"};
  app.footer(OptionFieldsHelp() +
             "\nStored options and presets (in the settings directory):\n"
             "  meterfix options show | set FIELD=VALUE... | reset\n"
             "  meterfix presets list | show NAME | save NAME [--preset NAME] [--set F=V]... | "
             "delete NAME\n"
             "\nWithout -o, --in-place or --out-dir nothing is written; the report says what "
             "would change.\nExit status: 0 on success, changed or not; 1 when an input cannot "
             "be read or an output cannot be written; 2 for usage errors.\n");
  app.fallthrough();

  RunArguments run;
  std::string configDir;
  app.add_option("inputs", run.inputs, "MusicXML scores (.musicxml, .xml, .mxl); - for stdin")
      ->type_name("INPUT...");
  app.add_option("-o,--output", run.output, "write the result here (- for stdout)")
      ->type_name("PATH");
  app.add_flag("--in-place", run.inPlace, "rewrite the input files");
  app.add_option("--out-dir", run.outDir, "write each result into this directory")
      ->type_name("DIR");
  CLI::Option* presetOption =
      app.add_option("--preset", run.preset, "load this preset's options for this run")
          ->type_name("NAME");
  app.add_option("--set", run.sets, "set one option field for this run (repeatable)")
      ->type_name("FIELD=VALUE")
      ->allow_extra_args(false);
  app.add_option("--measures", run.measures, "measures to process, 1-based (default all)")
      ->type_name("A-B");
  app.add_option("--staves", run.staves, "staff slots to process, 1-based (default all)")
      ->type_name("A-B");
  app.add_option("--report", run.report, "report format: text, json or none (default text)")
      ->type_name("FORMAT");
  app.add_option("--report-file", run.reportFile, "write the report here instead of stderr")
      ->type_name("PATH");
  app.add_option("--config-dir", configDir,
                 "settings directory (default $XDG_CONFIG_HOME/meterfix)")
      ->type_name("DIR");

  std::string optionsAction;
  std::vector<std::string> optionsFields;
  CLI::App* options = app.add_subcommand("options", "show, set or reset the stored options");
  options->add_option("action", optionsAction, "show | set | reset")
      ->required()
      ->check(CLI::IsMember({"show", "set", "reset"}));
  options->add_option("fields", optionsFields, "FIELD=VALUE (for set)");

  std::string presetsAction;
  std::string presetName;
  CLI::App* presets = app.add_subcommand("presets", "list, show, save or delete presets");
  presets->add_option("action", presetsAction, "list | show | save | delete")
      ->required()
      ->check(CLI::IsMember({"list", "show", "save", "delete"}));
  presets->add_option("name", presetName, "preset name (at most 30 characters)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return ExitOk;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All);
    return ExitOk;
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "meterfix: %s (see --help)\n", e.what());
    return ExitUsage;
  }

  try {
    // An empty name is never a preset; without this check it would quietly
    // mean "no preset".
    if (presetOption->count() > 0) CheckPresetName(run.preset);
    // Likewise an empty path or range given on purpose (-o "$UNSET") would
    // quietly mean "not given": nothing written, yet a successful exit.
    const std::pair<const char*, const std::string*> valued[] = {
        {"--output", &run.output},   {"--out-dir", &run.outDir}, {"--measures", &run.measures},
        {"--staves", &run.staves},   {"--report", &run.report},  {"--report-file", &run.reportFile},
        {"--config-dir", &configDir}};
    for (const auto& [name, value] : valued) {
      if (app.get_option(name)->count() > 0 && value->empty()) {
        throw UsageError{std::string(name) + " needs a value that is not empty"};
      }
    }
    const std::string dir = ResolveConfigDir(configDir);
    if (options->parsed() || presets->parsed()) {
      if (!run.inputs.empty() || !run.output.empty() || run.inPlace || !run.outDir.empty() ||
          !run.measures.empty() || !run.staves.empty() || !run.reportFile.empty() ||
          (options->parsed() && (!run.sets.empty() || !run.preset.empty()))) {
        throw UsageError{"options and presets take no input files or run options"};
      }
    }
    if (options->parsed()) return OptionsCommand(optionsAction, optionsFields, dir);
    if (presets->parsed()) {
      if (presetsAction != "list" && presetName.empty()) {
        throw UsageError{"presets " + presetsAction + " needs a NAME"};
      }
      return PresetsCommand(presetsAction, presetName, run.preset, ParseAssignments(run.sets), dir);
    }
    return RunCommand(run, dir);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "meterfix: %s\n", e.message.c_str());
    return ExitUsage;
  } catch (const Failure& e) {
    std::fprintf(stderr, "meterfix: %s\n", e.message.c_str());
    return ExitFailure;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "meterfix: %s\n", e.what());
    return ExitFailure;
  }
}
}  // namespace

int main(int argc, char** argv) {
  // Building the parser can throw too (allocation); nothing escapes.
  try {
    return Main(argc, argv);
  } catch (...) {
    std::fputs("meterfix: internal error\n", stderr);
    return ExitFailure;
  }
}
