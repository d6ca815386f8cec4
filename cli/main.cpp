// meterfix: the plug-in's command on MusicXML scores, from the command line.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/batch.h"
#include "cli/config_store.h"
#include "cli/file_safety.h"
#include "cli/html_report.h"
#include "cli/json_report.h"
#include "cli/option_fields.h"
#include "cli/plugin_session.h"
#include "cli/run.h"
#include "cli/terminal.h"
#include "cli/text_report.h"
#include "musicxml/file_io.h"
#include "musicxml/musicxml.h"
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

// Set when standard error is an input's file: a message there would be
// written into the score, so the exit status alone tells.
bool stderrIsInput = false;

// Every message goes out through this: score text can carry terminal
// escapes.
void Say(const std::string& message) {
  if (stderrIsInput) return;
  std::fprintf(stderr, "meterfix: %s\n", Printable(message).c_str());
}

// The settings directory locked for this command: shared to read it,
// exclusive around a read-modify-write. A directory that does not exist
// yet is created for a write and needs no lock for a read.
void LockSettings(FileLock& lock, const std::string& dir, bool exclusive, bool noWait) {
  if (dir.empty()) return;
  std::error_code ec;
  if (exclusive) {
    std::string error;
    if (!MakeSettingsDirectory(dir, error)) throw Failure{error};
  } else if (!std::filesystem::is_directory(dir, ec)) {
    return;
  }
  std::string error;
  switch (lock.LockDirectory(dir, exclusive, !noWait, error)) {
    case FileLock::Result::Locked:
      return;
    case FileLock::Result::Busy:
      throw Failure{dir + ": another meterfix run is using the settings directory (--no-wait)"};
    case FileLock::Result::Failed:
      throw Failure{error};
  }
}

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
  for (const std::string& warning : CheckStoredImages(configDir, images)) {
    if (warnings != nullptr) {
      warnings->push_back(warning);
    } else {
      // "cfg/UserDialog: warning: ...": the file first, as every message.
      const std::size_t colon = warning.find(": ");
      Say(colon == std::string::npos
              ? "warning: " + warning
              : warning.substr(0, colon) + ": warning: " + warning.substr(colon + 2));
    }
  }
  return images;
}

// What the session leaves, written back; a preset table that was refused
// when loaded is kept as Presets.bad first.
void SaveImages(const std::string& configDir, const StoredImages& loaded, StoredImages images,
                bool breakLinks) {
  images.refusedPresets = loaded.refusedPresets;
  std::string error;
  if (!WriteStoredImages(configDir, images, breakLinks, error)) throw Failure{error};
}

void CheckPresetName(const std::string& name) {
  if (name.empty()) throw UsageError{"a preset name must not be empty"};
  // The plug-in stores names as 8-bit text: what counts is bytes (UTF-8
  // letters beyond ASCII take two or more).
  if (name.size() > PresetNameSize - 1) {
    throw UsageError{"preset name '" + name + "' is " + std::to_string(name.size()) +
                     " bytes long; at most " + std::to_string(PresetNameSize - 1) + " fit"};
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
                   const std::string& configDir, bool noWait, bool breakLinks) {
  const std::vector<OptionAssignment> assignments = ParseAssignments(fieldTexts);
  if (action == "set" && assignments.empty()) throw UsageError{"options set needs FIELD=VALUE"};
  if (action != "set" && !assignments.empty()) {
    throw UsageError{"options " + action + " takes no FIELD=VALUE"};
  }
  FileLock lock;
  LockSettings(lock, configDir, action != "show", noWait);
  const StoredImages images = LoadImages(configDir);
  PluginSession session(images);
  if (action == "show") {
    std::cout << "Options (" << (configDir.empty() ? "defaults" : Printable(configDir)) << "):\n"
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
  SaveImages(configDir, images, session.Terminate(), breakLinks);
  return ExitOk;
}

int PresetsCommand(const std::string& action, const std::string& name, const std::string& preset,
                   const std::vector<OptionAssignment>& assignments, const std::string& configDir,
                   bool noWait, bool breakLinks) {
  if (action != "list") CheckPresetName(name);
  if (action != "save" && (!assignments.empty() || !preset.empty())) {
    throw UsageError{"presets " + action + " takes no --set or --preset"};
  }
  FileLock lock;
  LockSettings(lock, configDir, action == "save" || action == "delete", noWait);
  const StoredImages images = LoadImages(configDir);
  PluginSession session(images);
  if (action == "list") {
    for (int i = 0; i < PresetCount(); ++i) {
      char presetName[PresetNameSize];
      if (PresetName(i, presetName)) std::cout << Printable(presetName) << "\n";
    }
    return ExitOk;
  }
  if (action == "show") {
    OptionBlock block(SettingsLayout::OptionBlockSize);
    if (CopyPresetSettings(name.c_str(), block.data()) == 0) {
      throw UsageError{"no preset named '" + name + "' (see 'meterfix presets list')"};
    }
    std::cout << "Preset " << Printable(name) << ":\n" << FormatOptionBlock(block);
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
    if (DeletePreset(name.c_str()) == 0) {
      throw UsageError{"no preset named '" + name + "' (see 'meterfix presets list')"};
    }
  }
  SaveImages(configDir, images, session.Terminate(), breakLinks);
  return ExitOk;
}

// The bar on the terminal, redrawn in place on one line.
class ProgressBar {
 public:
  explicit ProgressBar(std::size_t total)
      : total_(total), start_(std::chrono::steady_clock::now()) {}
  void Show(std::size_t done, std::size_t changed) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const std::string line = ProgressLine(done, total_, changed, elapsed, 24);
    std::fprintf(stderr, "\r%-*s", static_cast<int>(width_), line.c_str());
    width_ = std::max(width_, line.size());
    std::fflush(stderr);
  }
  void Clear() {
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(width_), "");
    std::fflush(stderr);
  }

 private:
  std::size_t total_;
  std::chrono::steady_clock::time_point start_;
  std::size_t width_ = 0;
};

// "; did you mean '--measures'?" for the first unknown long option in the
// arguments that is near a known one; empty otherwise.
std::string MistypedOption(const CLI::App& app, int argc, char** argv) {
  std::vector<std::string> known;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& name : option->get_lnames()) known.push_back("--" + name);
  }
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") break;
    if (arg.rfind("--", 0) != 0) continue;
    arg = arg.substr(0, arg.find('='));
    if (std::find(known.begin(), known.end(), arg) != known.end()) continue;
    const std::string near = DidYouMean(arg, known);
    if (!near.empty()) return "; did you mean '" + near + "'?";
  }
  return {};
}

struct RunArguments {
  std::vector<std::string> inputs;
  std::string output;
  bool inPlace = false;
  std::string outDir;
  std::string preset;
  std::vector<std::string> sets;
  std::string measures;
  std::string numbers;
  std::string staves;
  bool allMeasures = false;
  bool restore = false;
  std::string report = "text";
  std::string reportFile;
  bool breakLinks = false;
  bool noWait = false;
  int jobs = 0;  // 0: one per core
  bool quiet = false;
};

// The standard stream the report goes to: standard output unless the
// score goes there (-o -); -1 for --report none or a --report-file path.
int ReportStream(const RunArguments& args) {
  if (args.report == "none") return -1;
  if (args.reportFile == "-") return STDOUT_FILENO;
  if (!args.reportFile.empty()) return -1;
  return args.output == "-" ? STDERR_FILENO : STDOUT_FILENO;
}

// Every file the run reads or writes, named for messages: the standard
// streams that carry a score or the report, and the settings files.
std::vector<PathUse> PathUses(const RunArguments& args, const std::vector<BatchInput>& inputs,
                              const std::string& configDir) {
  std::vector<PathUse> uses;
  for (const BatchInput& input : inputs) {
    if (!input.error.empty()) continue;  // an unreadable folder: nothing is read or written
    if (input.path == "-") {
      uses.push_back({"<stdin>", "input", true, STDIN_FILENO});
      continue;
    }
    uses.push_back({input.path, args.inPlace ? "input (rewritten in place)" : "input", true});
    if (!args.outDir.empty()) {
      uses.push_back({(std::filesystem::path(args.outDir) / input.relative).string(),
                      "--out-dir output", false});
    }
  }
  if (args.output == "-") {
    uses.push_back({"<stdout>", "output (-o -)", false, STDOUT_FILENO});
  } else if (!args.output.empty()) {
    uses.push_back({args.output, "output (-o)", false});
  }
  const int reportStream = ReportStream(args);
  if (reportStream >= 0) {
    uses.push_back({reportStream == STDOUT_FILENO ? "<stdout>" : "<stderr>",
                    "the report on standard " +
                        std::string(reportStream == STDOUT_FILENO ? "output" : "error"),
                    false, reportStream});
  } else if (!args.reportFile.empty() && args.reportFile != "-") {
    uses.push_back({args.reportFile, "report file", false});
  }
  if (!configDir.empty()) {
    for (const char* name : {UserDialogValue, PresetsValue, PresetsBackup}) {
      uses.push_back({configDir + "/" + name, "settings file", true});
    }
  }
  return uses;
}

// One input as a worker runs it: the lock for an in-place rewrite, the
// folders --out-dir mirrors, then the plug-in.
RunResult RunOne(const RunRequest& request, bool inPlace, bool noWait, bool makeFolders) {
  if (!request.failure.empty()) {
    RunResult result;
    result.report.file = request.input;
    result.error = request.failure;
    return result;
  }
  // Another run rewriting the same file waits until this one is done, and
  // then reads what this one wrote.
  FileLock lock;
  std::string error;
  FileLock::Result locked = FileLock::Result::Locked;
  if (inPlace) locked = lock.LockFile(request.input, !noWait, error);
  if (locked == FileLock::Result::Busy) {
    error = request.input + ": another meterfix run is rewriting it (--no-wait)";
  }
  if (locked != FileLock::Result::Locked) {
    RunResult result;
    result.error = error;
    return result;
  }
  // Only --out-dir makes folders: a missing one for -o is the user's mistake.
  if (makeFolders) {
    const std::filesystem::path folder = std::filesystem::path(request.output).parent_path();
    // Folders are made only along a path whose links may be followed.
    if (!musicxml::CheckPathLinks(folder.string(), error)) {
      RunResult result;
      result.error = request.output + ": " + error;
      return result;
    }
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
      std::filesystem::create_directories(folder, ec);
      if (ec) {
        RunResult result;
        result.error = request.output + ": cannot create its folder: " + ec.message();
        return result;
      }
    }
  }
  return RunInput(request);
}

int RunCommand(const RunArguments& args, const std::string& configDir) {
  if (args.inputs.empty()) throw UsageError{"no input file (see --help)"};
  const int destinations =
      (args.output.empty() ? 0 : 1) + (args.inPlace ? 1 : 0) + (args.outDir.empty() ? 0 : 1);
  if (destinations > 1) throw UsageError{"-o, --in-place and --out-dir exclude each other"};
  if (args.report != "text" && args.report != "json" && args.report != "html" &&
      args.report != "none") {
    throw UsageError{"--report takes text, json, html or none"};
  }
  if (args.report == "html" && args.reportFile.empty()) {
    throw UsageError{"--report html needs --report-file FILE (- for standard output)"};
  }
  if (args.jobs < 0) throw UsageError{"--jobs takes a number of processes, 1 or more"};
  std::vector<BatchInput> inputs;
  {
    std::string error;
    if (!ExpandInputs(args.inputs, inputs, error)) throw Failure{error};
  }
  if (!args.output.empty() && inputs.size() > 1) {
    throw UsageError{"-o takes one input; use --out-dir for several"};
  }
  std::set<std::string> outNames;
  int stdinCount = 0;
  for (const BatchInput& input : inputs) {
    if (!input.error.empty()) continue;
    if (input.path == "-") {
      ++stdinCount;
      if (args.inPlace || !args.outDir.empty()) {
        throw UsageError{"standard input cannot be written in place or into --out-dir"};
      }
      continue;
    }
    if (!args.outDir.empty() && !outNames.insert(input.relative).second) {
      throw UsageError{"two inputs named '" + input.relative + "' would meet in --out-dir"};
    }
  }
  if (stdinCount > 1) throw UsageError{"standard input can be read only once"};
  for (const BatchInput& input : inputs) {
    if (input.path != "-" && input.error.empty() && StreamIsFile(STDERR_FILENO, input.path)) {
      stderrIsInput = true;
    }
  }
  std::string clash;
  if (!FindClash(PathUses(args, inputs, configDir), clash)) throw UsageError{clash};
  if (!args.reportFile.empty() && args.reportFile != "-" && !args.breakLinks &&
      !CheckHardLinks(args.reportFile, clash)) {
    throw Failure{clash};
  }

  RunRequest base;
  if (!args.measures.empty() && !args.numbers.empty()) {
    throw UsageError{"--measures and --numbers exclude each other"};
  }
  if (!args.numbers.empty()) {
    NumberRange range;
    std::string error;
    if (!ParseNumberRange(args.numbers, range, error)) throw UsageError{"--numbers: " + error};
    base.numbers = range;
  }
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
  base.breakLinks = args.breakLinks;
  base.collectLayers = args.report == "html";
  base.restore = args.restore;
  std::vector<std::string> settingsWarnings;
  {
    FileLock lock;
    LockSettings(lock, configDir, false, args.noWait);
    base.images = LoadImages(configDir, &settingsWarnings);
  }
  {
    // What the plug-in would load, with this run's changes over it; the
    // session's registry is dropped, so nothing stored changes.
    PluginSession session(base.images);
    base.options = ResolveOptions(args.preset, assignments);
  }

  // The report's file exists before any input is rewritten: one that
  // cannot be created stops the run while nothing is changed yet.
  musicxml::Replacement reportOut;
  const bool reportToFile =
      args.report != "none" && !args.reportFile.empty() && args.reportFile != "-";
  if (reportToFile) {
    std::string error;
    if (!reportOut.Open(args.reportFile, error)) {
      throw Failure{args.reportFile + ": cannot write: " + error};
    }
  }

  std::vector<RunRequest> requests;
  for (const BatchInput& input : inputs) {
    RunRequest request = base;
    request.input = input.path;
    request.failure = input.error;
    if (!args.output.empty()) {
      request.output = args.output;
    } else if (args.inPlace) {
      request.output = input.path;
    } else if (!args.outDir.empty()) {
      request.output = (std::filesystem::path(args.outDir) / input.relative).string();
    }
    requests.push_back(std::move(request));
  }

  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const int workers = args.jobs > 0 ? args.jobs : static_cast<int>(cores);
  // A large score may be read by two threads, but only where that is the
  // one job and a second core is allowed: workers of a batch keep the cores
  // busy already, and --jobs 1 asks for one core in all.
  musicxml::SetScoreReaders(workers > 1 && requests.size() == 1 ? 2 : 1);
  std::optional<ProgressBar> bar;
  if (requests.size() > 1 && !args.quiet && ::isatty(STDERR_FILENO) != 0)
    bar.emplace(requests.size());
  std::size_t finished = 0;
  std::size_t changedMeasures = 0;
  // Errors go out in input order, each as soon as every input before it is done.
  std::vector<bool> ready(requests.size(), false);
  std::size_t said = 0;
  std::vector<RunResult> results(requests.size());
  auto done = [&](std::size_t index, const RunResult& result) {
    ++finished;
    for (const MeasureChange& m : result.report.measures) changedMeasures += m.changed ? 1 : 0;
    results[index] = result;
    ready[index] = true;
    bool cleared = false;
    for (; said < ready.size() && ready[said]; ++said) {
      if (results[said].ok) continue;
      if (bar && !cleared) bar->Clear();
      cleared = true;
      Say(results[said].error);
    }
    if (bar) bar->Show(finished, changedMeasures);
  };
  const std::function<RunResult(const RunRequest&)> work = [&](const RunRequest& request) {
    return RunOne(request, args.inPlace, args.noWait, !args.outDir.empty());
  };
  RunBatch(requests, workers, work, done);
  if (bar) bar->Clear();

  std::vector<FileReport> reports;
  std::size_t failed = 0;
  for (std::size_t i = 0; i < results.size(); ++i) {
    RunResult& result = results[i];
    if (!result.ok) {
      ++failed;
      FileReport report;
      report.file = requests[i].input == "-" ? "<stdin>" : requests[i].input;
      report.error = result.error;
      reports.push_back(std::move(report));
      continue;
    }
    result.report.warnings.insert(result.report.warnings.begin(), settingsWarnings.begin(),
                                  settingsWarnings.end());
    reports.push_back(std::move(result.report));
  }

  // A lone failed input has said all there is on standard error, except
  // to a reader of JSON, which lists it.
  if (args.report != "none" &&
      (failed < reports.size() || reports.size() > 1 || args.report == "json")) {
    // The page may be many times the score: it goes out as it is made.
    const bool html = args.report == "html";
    const std::string text = html                     ? std::string()
                             : args.report == "json" ? FormatJson(reports)
                                                     : FormatText(reports, args.allMeasures);
    if (reportToFile) {
      std::string error;
      bool written = true;
      const auto produce = [&](const musicxml::PieceSink& sink) {
        written = html ? WriteHtml(reports, sink) : sink(text);
      };
      if (!reportOut.Finish(produce, error) || !written) {
        throw Failure{args.reportFile + ": cannot write: " +
                      (error.empty() ? "the report was cut short" : error)};
      }
    } else {
      std::FILE* stream = ReportStream(args) == STDERR_FILENO ? stderr : stdout;
      const auto put = [stream](std::string_view piece) {
        return std::fwrite(piece.data(), 1, piece.size(), stream) == piece.size();
      };
      if (!(html ? WriteHtml(reports, put) : put(text)) || std::fflush(stream) != 0) {
        throw Failure{std::string(stream == stdout ? "<stdout>" : "<stderr>") +
                      ": cannot write the report"};
      }
    }
  }
  return failed == 0 ? ExitOk : ExitFailure;
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
             "would change. The report goes to standard output (to standard error when the "
             "score does, -o -) unless --report-file names a file; it carries the plug-in's "
             "messages and the warnings. Errors go to standard error as 'meterfix: FILE: ...' "
             "('FILE:measure N (number X): ...' where there is a place). Every file a run reads or writes must be another file, standard "
             "streams and settings files included.\n"
             "A score may take at most --max-score-size MiB, as read or unpacked.\n"
             "Exit status: 0 on success, changed or not; 1 when an input cannot be read or an "
             "output cannot be written (or, with --no-wait, another run holds it); 2 for usage "
             "errors, unknown fields and preset names included.\n");
  app.fallthrough();
  app.set_version_flag("--version", std::string("meterfix ") + KQ_VERSION);

  RunArguments run;
  std::string configDir;
  app.add_option("inputs", run.inputs,
                 "MusicXML scores (.musicxml, .xml, .mxl), or folders of them (searched "
                 "recursively, hidden files left out); - for stdin")
      ->type_name("INPUT...");
  app.add_option("-o,--output", run.output, "write the result here (- for stdout)")
      ->type_name("PATH");
  app.add_flag("--in-place", run.inPlace, "rewrite the input files");
  app.add_option("--out-dir", run.outDir,
                 "write each result into this directory (a folder's scores keep their places "
                 "under it)")
      ->type_name("DIR");
  CLI::Option* presetOption =
      app.add_option("--preset", run.preset, "load this preset's options for this run")
          ->type_name("NAME");
  app.add_option("--set", run.sets, "set one option field for this run (repeatable)")
      ->type_name("FIELD=VALUE")
      ->allow_extra_args(false);
  app.add_option("--measures", run.measures,
                 "measures to process by position, 1-based: A-B, A- (to the end) or A "
                 "(default all)")
      ->type_name("A-B");
  app.add_option("--numbers", run.numbers,
                 "measures to process by the score's measure numbers: A-B or A")
      ->type_name("A-B");
  app.add_flag("--restore", run.restore,
               "give every measure the signature its composer most likely wrote (the "
               "report names what decided each change)");
  app.add_flag("--all-measures", run.allMeasures,
               "list every measure in the text report, not only the changed ones");
  app.add_option("--staves", run.staves, "staff slots to process, 1-based (default all)")
      ->type_name("A-B");
  app.add_option(
         "--report", run.report,
         "report format: text, json, html (a page with a picture of each changed measure; needs "
         "--report-file) or none (default text)")
      ->type_name("FORMAT");
  app.add_option("--report-file", run.reportFile,
                 "write the report to this file instead of standard output (- for standard output)")
      ->type_name("PATH");
  app.add_flag("--break-links", run.breakLinks,
               "rewrite a file with several hard links all the same (the other names keep "
               "the old content)");
  app.add_option("--jobs", run.jobs,
                 "score files processed at once, each in its own process, and the cores used "
                 "in all (default: one per core)")
      ->type_name("N")
      ->check(CLI::Range(1, 256));
  app.add_flag("--quiet", run.quiet, "no progress bar for several files on a terminal");
  app.add_flag("--no-wait", run.noWait,
               "fail at once when another meterfix run holds a file or the settings directory");
  unsigned maxScoreMib = static_cast<unsigned>(musicxml::DefaultMaxScoreBytes >> 20);
  app.add_option("--max-score-size", maxScoreMib,
                 "refuse a score larger than this, as read or unpacked (default 256)")
      ->type_name("MIB")
      ->check(CLI::Range(1u, 65536u));
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
  presets->add_option("name", presetName, "preset name (at most 30 bytes)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return ExitOk;
  } catch (const CLI::CallForAllHelp&) {
    std::cout << app.help("", CLI::AppFormatMode::All);
    return ExitOk;
  } catch (const CLI::CallForVersion&) {
    std::cout << app.version() << "\n";
    return ExitOk;
  } catch (const CLI::ParseError& e) {
    Say(std::string(e.what()) + MistypedOption(app, argc, argv) + " (see --help)");
    return ExitUsage;
  }

  try {
    musicxml::SetMaxScoreBytes(std::uint64_t{maxScoreMib} << 20);
    // An empty name is never a preset; without this check it would quietly
    // mean "no preset".
    if (presetOption->count() > 0) CheckPresetName(run.preset);
    // Likewise an empty path or range given on purpose (-o "$UNSET") would
    // quietly mean "not given": nothing written, yet a successful exit.
    const std::pair<const char*, const std::string*> valued[] = {
        {"--output", &run.output},          {"--out-dir", &run.outDir},
        {"--measures", &run.measures},      {"--numbers", &run.numbers},
        {"--staves", &run.staves},          {"--report", &run.report},
        {"--report-file", &run.reportFile}, {"--config-dir", &configDir}};
    for (const auto& [name, value] : valued) {
      if (app.get_option(name)->count() > 0 && value->empty()) {
        throw UsageError{std::string(name) + " needs a value that is not empty"};
      }
    }
    const std::string dir = ResolveConfigDir(configDir);
    if (options->parsed() || presets->parsed()) {
      if (!run.inputs.empty() || !run.output.empty() || run.inPlace || !run.outDir.empty() ||
          !run.measures.empty() || !run.numbers.empty() || !run.staves.empty() ||
          !run.reportFile.empty() ||
          (options->parsed() && (!run.sets.empty() || !run.preset.empty()))) {
        throw UsageError{"options and presets take no input files or run options"};
      }
    }
    if (options->parsed()) return OptionsCommand(optionsAction, optionsFields, dir, run.noWait, run.breakLinks);
    if (presets->parsed()) {
      if (presetsAction != "list" && presetName.empty()) {
        throw UsageError{"presets " + presetsAction + " needs a NAME"};
      }
      return PresetsCommand(presetsAction, presetName, run.preset, ParseAssignments(run.sets), dir,
                            run.noWait, run.breakLinks);
    }
    // "meterfix optons show" reads as two inputs; a first one that is no
    // file but nearly a command was most likely meant as one.
    if (!run.inputs.empty() && run.inputs.front() != "-") {
      std::error_code ec;
      const std::string near = DidYouMean(run.inputs.front(), {"options", "presets"});
      if (!near.empty() && !std::filesystem::exists(run.inputs.front(), ec)) {
        throw UsageError{"'" + run.inputs.front() +
                         "' is neither a file nor a command; did you mean '" + near + "'?"};
      }
    }
    return RunCommand(run, dir);
  } catch (const UsageError& e) {
    Say(e.message);
    return ExitUsage;
  } catch (const Failure& e) {
    Say(e.message);
    return ExitFailure;
  } catch (const std::exception& e) {
    Say(e.what());
    return ExitFailure;
  }
}
}  // namespace

int main(int argc, char** argv) {
  // Past a file-size limit (ulimit -f) a write then fails with EFBIG and is
  // reported for its file, instead of the signal ending the run.
  std::signal(SIGXFSZ, SIG_IGN);
  // Building the parser can throw too (allocation); nothing escapes.
  int status = ExitFailure;
  try {
    status = Main(argc, argv);
  } catch (...) {
    std::fputs("meterfix: internal error\n", stderr);
  }
  // Help, lists and reports on standard output count only once they are out
  // (a full disk, a closed pipe).
  std::cout.flush();
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || !std::cout) {
    std::fprintf(stderr, "meterfix: <stdout>: cannot write: %s\n", std::strerror(errno));
    if (status == ExitOk) status = ExitFailure;
  }
  return status;
}
