// The command line as one checked value: parsed, every usage rule applied,
// ranges and option assignments read. What a command does with it lives in
// run_command.h and subcommands.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/option_fields.h"

namespace meterfix {

constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;  // an input, output or settings file failed
constexpr int ExitUsage = 2;    // the command line asks for something it cannot have

// Thrown by a command: ends it with ExitUsage or ExitFailure and the message.
struct UsageError {
  std::string message;
};
struct Failure {
  std::string message;
};

struct Range {
  int first = 1;
  int last = 1;  // inclusive
};
// "A-B", "A" or "A-" (to the end), 1-based, A <= B <= 32767. False with a
// reason otherwise.
bool ParseRange(const std::string& text, Range& range, std::string& error);

// Measures chosen by the score's own numbers: from the first measure
// numbered `first` to the last numbered `last`.
struct NumberRange {
  std::string first;
  std::string last;
};
// "A-B" or "A" as written in the score. False with a reason otherwise.
bool ParseNumberRange(const std::string& text, NumberRange& range, std::string& error);

enum class Command { Run, Options, Presets };
enum class ReportFormat { Text, Json, Html, None };

struct CommandLine {
  Command command = Command::Run;
  std::string configDir;  // resolved; empty when there is none
  bool noWait = false;
  bool breakLinks = false;
  std::uint64_t maxScoreBytes = 0;

  // options and presets
  std::string action;  // options: show, set, reset; presets: list, show, save, delete
  std::string name;    // the preset that presets show, save or delete
  std::vector<OptionAssignment> fields;  // options set FIELD=VALUE...

  // a run (and presets save, which takes --preset and --set)
  std::string preset;                         // --preset; empty: none
  std::vector<OptionAssignment> assignments;  // --set
  std::vector<std::string> inputs;            // as given; "-" is standard input
  std::string output;                         // -o; "-" standard output
  bool inPlace = false;
  std::string outDir;
  std::optional<Range> measures;
  std::optional<NumberRange> numbers;  // excludes `measures`
  std::optional<Range> staves;
  bool allMeasures = false;
  bool restore = false;
  ReportFormat report = ReportFormat::Text;
  std::string reportFile;  // empty: the standard stream; "-" standard output
  int jobs = 0;            // 0: one per core
  bool quiet = false;
};

struct ParsedCommandLine {
  enum class Outcome { Command, Help, Usage };
  Outcome outcome = Outcome::Command;
  // Help: what goes to standard output (help or version); Usage: the message.
  std::string text;
  CommandLine line;
};

// Parses and checks the arguments; `version` is what --version prints.
ParsedCommandLine ParseCommandLine(int argc, char** argv, const std::string& version);

// A preset name the plug-in can store; throws UsageError otherwise.
void CheckPresetName(const std::string& name);

struct BatchInput;
// The usage rules that need the inputs as expanded (ExpandInputs): one input
// for -o, standard input once and never rewritten, no two --out-dir names
// alike. Throws UsageError.
void CheckInputs(const CommandLine& line, const std::vector<BatchInput>& inputs);
// No file is read or written twice in one run, settings files and the
// standard streams included. Throws UsageError.
void CheckClashes(const CommandLine& line, const std::vector<BatchInput>& inputs);

// The standard stream the report goes to: standard output unless the score
// goes there (-o -); -1 for --report none or a --report-file path.
int ReportStream(const CommandLine& line);

}  // namespace meterfix
