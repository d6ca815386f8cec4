#include "cli/command_line.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <set>
#include <utility>

#include "cli/batch.h"
#include "cli/config_store.h"
#include "cli/report.h"
#include "cli/safe_file.h"
#include "musicxml/file_io.h"
#include "musicxml/musicxml.h"
#include "settings/presets.h"

namespace meterfix {

namespace {

bool ParseNumber(const std::string& text, int& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
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

// The arguments as CLI11 leaves them, before they are checked.
struct Arguments {
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
  int jobs = 0;
  bool quiet = false;
  unsigned maxScoreMib = static_cast<unsigned>(musicxml::DefaultMaxScoreBytes >> 20);
  std::string configDir;
  std::string optionsAction;
  std::vector<std::string> optionsFields;
  std::string presetsAction;
  std::string presetName;
};

void Describe(CLI::App& app, Arguments& args) {
  app.footer(OptionFieldsHelp() +
             "\nStored options and presets (in the settings directory):\n"
             "  meterfix options show | set FIELD=VALUE... | reset\n"
             "  meterfix presets list | show NAME | save NAME [--preset NAME] [--set F=V]... | "
             "delete NAME\n"
             "\nWithout -o, --in-place or --out-dir nothing is written; the report says what "
             "would change. The report goes to standard output (to standard error when the "
             "score does, -o -) unless --report-file names a file; it carries the plug-in's "
             "messages and the warnings. Errors go to standard error as 'meterfix: FILE: ...' "
             "('FILE:measure N (number X): ...' where there is a place). Every file a run reads or "
             "writes must be another file, standard streams and settings files included.\n"
             "A score may take at most --max-score-size MiB, as read or unpacked.\n"
             "Exit status: 0 on success, changed or not; 1 when an input cannot be read or an "
             "output cannot be written (or, with --no-wait, another run holds it); 2 for usage "
             "errors, unknown fields and preset names included.\n");
  app.fallthrough();
  app.add_option("inputs", args.inputs,
                 "MusicXML scores (.musicxml, .xml, .mxl), or folders of them (searched "
                 "recursively, hidden files left out); - for stdin")
      ->type_name("INPUT...");
  app.add_option("-o,--output", args.output, "write the result here (- for stdout)")
      ->type_name("PATH");
  app.add_flag("--in-place", args.inPlace, "rewrite the input files");
  app.add_option("--out-dir", args.outDir,
                 "write each result into this directory (a folder's scores keep their places "
                 "under it)")
      ->type_name("DIR");
  app.add_option("--preset", args.preset, "load this preset's options for this run")
      ->type_name("NAME");
  app.add_option("--set", args.sets, "set one option field for this run (repeatable)")
      ->type_name("FIELD=VALUE")
      ->allow_extra_args(false);
  app.add_option("--measures", args.measures,
                 "measures to process by position, 1-based: A-B, A- (to the end) or A "
                 "(default all)")
      ->type_name("A-B");
  app.add_option("--numbers", args.numbers,
                 "measures to process by the score's measure numbers: A-B or A")
      ->type_name("A-B");
  app.add_flag("--restore", args.restore,
               "give every measure the signature its composer most likely wrote (the "
               "report names what decided each change)");
  app.add_flag("--all-measures", args.allMeasures,
               "list every measure in the text report, not only the changed ones");
  app.add_option("--staves", args.staves, "staff slots to process, 1-based (default all)")
      ->type_name("A-B");
  app.add_option(
         "--report", args.report,
         "report format: text, json, html (a page with a picture of each changed measure; needs "
         "--report-file) or none (default text)")
      ->type_name("FORMAT");
  app.add_option("--report-file", args.reportFile,
                 "write the report to this file instead of standard output (- for standard output)")
      ->type_name("PATH");
  app.add_flag("--break-links", args.breakLinks,
               "rewrite a file with several hard links all the same (the other names keep "
               "the old content)");
  app.add_option("--jobs", args.jobs,
                 "score files processed at once, each in its own process, and the cores used "
                 "in all (default: one per core)")
      ->type_name("N")
      ->check(CLI::Range(1, 256));
  app.add_flag("--quiet", args.quiet, "no progress bar for several files on a terminal");
  app.add_flag("--no-wait", args.noWait,
               "fail at once when another meterfix run holds a file or the settings directory");
  app.add_option("--max-score-size", args.maxScoreMib,
                 "refuse a score larger than this, as read or unpacked (default 256)")
      ->type_name("MIB")
      ->check(CLI::Range(1u, 65536u));
  app.add_option("--config-dir", args.configDir,
                 "settings directory (default $XDG_CONFIG_HOME/meterfix)")
      ->type_name("DIR");

  CLI::App* options = app.add_subcommand("options", "show, set or reset the stored options");
  options->add_option("action", args.optionsAction, "show | set | reset")
      ->required()
      ->check(CLI::IsMember({"show", "set", "reset"}));
  options->add_option("fields", args.optionsFields, "FIELD=VALUE (for set)");

  CLI::App* presets = app.add_subcommand("presets", "list, show, save or delete presets");
  presets->add_option("action", args.presetsAction, "list | show | save | delete")
      ->required()
      ->check(CLI::IsMember({"list", "show", "save", "delete"}));
  presets->add_option("name", args.presetName, "preset name (at most 30 bytes)");
}

void CheckOptionsCommand(const Arguments& args, CommandLine& line) {
  line.action = args.optionsAction;
  line.fields = ParseAssignments(args.optionsFields);
  if (line.action == "set" && line.fields.empty()) {
    throw UsageError{"options set needs FIELD=VALUE"};
  }
  if (line.action != "set" && !line.fields.empty()) {
    throw UsageError{"options " + line.action + " takes no FIELD=VALUE"};
  }
}

void CheckPresetsCommand(const Arguments& args, CommandLine& line) {
  line.action = args.presetsAction;
  line.name = args.presetName;
  if (line.action != "list" && line.name.empty()) {
    throw UsageError{"presets " + line.action + " needs a NAME"};
  }
  line.assignments = ParseAssignments(args.sets);
  if (line.action != "list") CheckPresetName(line.name);
  if (line.action != "save" && (!line.assignments.empty() || !line.preset.empty())) {
    throw UsageError{"presets " + line.action + " takes no --set or --preset"};
  }
}

void CheckRun(const Arguments& args, CommandLine& line) {
  // "meterfix optons show" reads as two inputs; a first one that is no
  // file but nearly a command was most likely meant as one.
  if (!args.inputs.empty() && args.inputs.front() != "-") {
    std::error_code ec;
    const std::string near = DidYouMean(args.inputs.front(), {"options", "presets"});
    if (!near.empty() && !std::filesystem::exists(args.inputs.front(), ec)) {
      throw UsageError{"'" + args.inputs.front() +
                       "' is neither a file nor a command; did you mean '" + near + "'?"};
    }
  }
  if (args.inputs.empty()) throw UsageError{"no input file (see --help)"};
  const int destinations =
      (args.output.empty() ? 0 : 1) + (args.inPlace ? 1 : 0) + (args.outDir.empty() ? 0 : 1);
  if (destinations > 1) throw UsageError{"-o, --in-place and --out-dir exclude each other"};
  const std::pair<const char*, ReportFormat> formats[] = {{"text", ReportFormat::Text},
                                                          {"json", ReportFormat::Json},
                                                          {"html", ReportFormat::Html},
                                                          {"none", ReportFormat::None}};
  const auto format = std::find_if(std::begin(formats), std::end(formats),
                                   [&](const auto& f) { return args.report == f.first; });
  if (format == std::end(formats)) throw UsageError{"--report takes text, json, html or none"};
  line.report = format->second;
  if (line.report == ReportFormat::Html && args.reportFile.empty()) {
    throw UsageError{"--report html needs --report-file FILE (- for standard output)"};
  }
  if (args.jobs < 0) throw UsageError{"--jobs takes a number of processes, 1 or more"};
  if (!args.measures.empty() && !args.numbers.empty()) {
    throw UsageError{"--measures and --numbers exclude each other"};
  }
  if (!args.numbers.empty()) {
    NumberRange range;
    std::string error;
    if (!ParseNumberRange(args.numbers, range, error)) throw UsageError{"--numbers: " + error};
    line.numbers = range;
  }
  if (!args.measures.empty()) {
    Range range;
    std::string error;
    if (!ParseRange(args.measures, range, error)) throw UsageError{"--measures: " + error};
    line.measures = range;
  }
  if (!args.staves.empty()) {
    Range range;
    std::string error;
    if (!ParseRange(args.staves, range, error)) throw UsageError{"--staves: " + error};
    line.staves = range;
  }
  line.assignments = ParseAssignments(args.sets);
  line.inputs = args.inputs;
  line.output = args.output;
  line.inPlace = args.inPlace;
  line.outDir = args.outDir;
  line.allMeasures = args.allMeasures;
  line.restore = args.restore;
  line.reportFile = args.reportFile;
  line.jobs = args.jobs;
  line.quiet = args.quiet;
}

// The checks of the parsed arguments, in the order a user meets them.
CommandLine Check(const CLI::App& app, const Arguments& args) {
  CommandLine line;
  line.maxScoreBytes = std::uint64_t{args.maxScoreMib} << 20;
  line.noWait = args.noWait;
  line.breakLinks = args.breakLinks;
  line.preset = args.preset;
  // An empty name is never a preset; without this check it would quietly
  // mean "no preset".
  if (app.get_option("--preset")->count() > 0) CheckPresetName(args.preset);
  // Likewise an empty path or range given on purpose (-o "$UNSET") would
  // quietly mean "not given": nothing written, yet a successful exit.
  const std::pair<const char*, const std::string*> valued[] = {
      {"--output", &args.output},          {"--out-dir", &args.outDir},
      {"--measures", &args.measures},      {"--numbers", &args.numbers},
      {"--staves", &args.staves},          {"--report", &args.report},
      {"--report-file", &args.reportFile}, {"--config-dir", &args.configDir}};
  for (const auto& [name, value] : valued) {
    if (app.get_option(name)->count() > 0 && value->empty()) {
      throw UsageError{std::string(name) + " needs a value that is not empty"};
    }
  }
  line.configDir = ResolveConfigDir(args.configDir);
  const bool options = app.get_subcommand("options")->parsed();
  const bool presets = app.get_subcommand("presets")->parsed();
  if (options || presets) {
    if (!args.inputs.empty() || !args.output.empty() || args.inPlace || !args.outDir.empty() ||
        !args.measures.empty() || !args.numbers.empty() || !args.staves.empty() ||
        !args.reportFile.empty() || (options && (!args.sets.empty() || !args.preset.empty()))) {
      throw UsageError{"options and presets take no input files or run options"};
    }
  }
  if (options) {
    line.command = Command::Options;
    CheckOptionsCommand(args, line);
  } else if (presets) {
    line.command = Command::Presets;
    CheckPresetsCommand(args, line);
  } else {
    CheckRun(args, line);
  }
  return line;
}

}  // namespace

bool ParseRange(const std::string& text, Range& range, std::string& error) {
  const std::size_t dash = text.find('-');
  const std::string first = text.substr(0, dash);
  const std::string last = dash == std::string::npos ? first : text.substr(dash + 1);
  int a = 0;
  int b = musicxml::MaxMeasures;
  if (!ParseNumber(first, a) ||
      (!(dash != std::string::npos && last.empty()) && !ParseNumber(last, b))) {
    error = "expected A-B, A- or A with whole numbers, got '" + text + "'";
    return false;
  }
  if (a < 1 || b < a || b > musicxml::MaxMeasures) {
    error =
        "expected 1 <= A <= B <= " + std::to_string(musicxml::MaxMeasures) + ", got '" + text + "'";
    return false;
  }
  range = {a, b};
  return true;
}

bool ParseNumberRange(const std::string& text, NumberRange& range, std::string& error) {
  // Measure numbers may hold letters ("12a", "X1") but never a dash here.
  const std::size_t dash = text.find('-');
  range.first = text.substr(0, dash);
  range.last = dash == std::string::npos ? range.first : text.substr(dash + 1);
  if (range.first.empty() || range.last.empty() || range.last.find('-') != std::string::npos) {
    error = "expected A-B or A with the score's measure numbers, got '" + text + "'";
    return false;
  }
  return true;
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

ParsedCommandLine ParseCommandLine(int argc, char** argv, const std::string& version) {
  CLI::App app{
      "Derives time signatures from the beaming of MusicXML scores, with the "
      "plug-in's own analysis.",
      "meterfix"};
  app.set_version_flag("--version", version);
  Arguments args;
  Describe(app, args);

  ParsedCommandLine parsed;
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    parsed.outcome = ParsedCommandLine::Outcome::Help;
    parsed.text = app.help();
    return parsed;
  } catch (const CLI::CallForAllHelp&) {
    parsed.outcome = ParsedCommandLine::Outcome::Help;
    parsed.text = app.help("", CLI::AppFormatMode::All);
    return parsed;
  } catch (const CLI::CallForVersion&) {
    parsed.outcome = ParsedCommandLine::Outcome::Help;
    parsed.text = app.version() + "\n";
    return parsed;
  } catch (const CLI::ParseError& e) {
    parsed.outcome = ParsedCommandLine::Outcome::Usage;
    parsed.text = std::string(e.what()) + MistypedOption(app, argc, argv) + " (see --help)";
    return parsed;
  }
  try {
    parsed.line = Check(app, args);
  } catch (const UsageError& e) {
    parsed.outcome = ParsedCommandLine::Outcome::Usage;
    parsed.text = e.message;
  }
  return parsed;
}

void CheckInputs(const CommandLine& line, const std::vector<BatchInput>& inputs) {
  if (!line.output.empty() && inputs.size() > 1) {
    throw UsageError{"-o takes one input; use --out-dir for several"};
  }
  std::set<std::string> outNames;
  int stdinCount = 0;
  for (const BatchInput& input : inputs) {
    if (!input.error.empty()) continue;
    if (input.path == "-") {
      ++stdinCount;
      if (line.inPlace || !line.outDir.empty()) {
        throw UsageError{"standard input cannot be written in place or into --out-dir"};
      }
      continue;
    }
    if (!line.outDir.empty() && !outNames.insert(input.relative).second) {
      throw UsageError{"two inputs named '" + input.relative + "' would meet in --out-dir"};
    }
  }
  if (stdinCount > 1) throw UsageError{"standard input can be read only once"};
}

int ReportStream(const CommandLine& line) {
  if (line.report == ReportFormat::None) return -1;
  if (line.reportFile == "-") return STDOUT_FILENO;
  if (!line.reportFile.empty()) return -1;
  return line.output == "-" ? STDERR_FILENO : STDOUT_FILENO;
}

void CheckClashes(const CommandLine& line, const std::vector<BatchInput>& inputs) {
  // Every file the run reads or writes, named for messages: the standard
  // streams that carry a score or the report, and the settings files.
  std::vector<PathUse> uses;
  for (const BatchInput& input : inputs) {
    if (!input.error.empty()) continue;  // an unreadable folder: nothing is read or written
    if (input.path == "-") {
      uses.push_back({"<stdin>", "input", true, STDIN_FILENO});
      continue;
    }
    uses.push_back({input.path, line.inPlace ? "input (rewritten in place)" : "input", true});
    if (!line.outDir.empty()) {
      uses.push_back({(std::filesystem::path(line.outDir) / input.relative).string(),
                      "--out-dir output", false});
    }
  }
  if (line.output == "-") {
    uses.push_back({"<stdout>", "output (-o -)", false, STDOUT_FILENO});
  } else if (!line.output.empty()) {
    uses.push_back({line.output, "output (-o)", false});
  }
  const int reportStream = ReportStream(line);
  if (reportStream >= 0) {
    uses.push_back({reportStream == STDOUT_FILENO ? "<stdout>" : "<stderr>",
                    "the report on standard " +
                        std::string(reportStream == STDOUT_FILENO ? "output" : "error"),
                    false, reportStream});
  } else if (!line.reportFile.empty() && line.reportFile != "-") {
    uses.push_back({line.reportFile, "report file", false});
  }
  if (!line.configDir.empty()) {
    for (const char* name : {UserDialogValue, PresetsValue, PresetsBackup}) {
      uses.push_back({line.configDir + "/" + name, "settings file", true});
    }
  }
  std::string clash;
  if (!FindClash(uses, clash)) throw UsageError{clash};
}

}  // namespace meterfix
