// meterfix: the plug-in's command on MusicXML scores, from the command line.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

#include "cli/command_line.h"
#include "cli/run_command.h"
#include "cli/subcommands.h"
#include "cli/terminal.h"
#include "musicxml/file_io.h"

namespace {

using namespace meterfix;

int Main(int argc, char** argv) {
  const ParsedCommandLine parsed =
      ParseCommandLine(argc, argv, std::string("meterfix ") + KQ_VERSION);
  if (parsed.outcome == ParsedCommandLine::Outcome::Help) {
    std::cout << parsed.text;
    return ExitOk;
  }
  if (parsed.outcome == ParsedCommandLine::Outcome::Usage) {
    Say(parsed.text);
    return ExitUsage;
  }
  const CommandLine& line = parsed.line;
  try {
    musicxml::SetMaxScoreBytes(line.maxScoreBytes);
    switch (line.command) {
      case Command::Options:
        return OptionsCommand(line);
      case Command::Presets:
        return PresetsCommand(line);
      case Command::Run:
        return RunCommand(line);
    }
    return ExitFailure;
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
