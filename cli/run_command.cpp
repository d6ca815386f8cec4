#include "cli/run_command.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "cli/batch.h"
#include "cli/config_store.h"
#include "cli/plugin_session.h"
#include "cli/html_report.h"
#include "cli/json_report.h"
#include "cli/report.h"
#include "cli/run.h"
#include "cli/safe_file.h"
#include "cli/terminal.h"
#include "cli/text_report.h"
#include "musicxml/musicxml.h"

namespace meterfix {

namespace {

RunResult Failed(std::string error) {
  RunResult result;
  result.error = std::move(error);
  return result;
}

// One input as a worker runs it: the lock for an in-place rewrite, the
// folders --out-dir mirrors, then the plug-in.
RunResult RunOne(const RunRequest& request, bool inPlace, bool noWait, bool makeFolders) {
  if (!request.failure.empty()) {
    RunResult result = Failed(request.failure);
    result.report.file = request.input;
    return result;
  }
  // Another run rewriting the same file waits until this one is done, and
  // then reads what this one wrote.
  FileLock lock;
  std::string error;
  if (inPlace && !lock.LockFile(request.input, !noWait, error)) return Failed(error);
  // Only --out-dir makes folders: a missing one for -o is the user's mistake.
  if (makeFolders) {
    const std::filesystem::path folder = std::filesystem::path(request.output).parent_path();
    // Folders are made only along a path whose links may be followed.
    if (!CheckPathLinks(folder.string(), error)) return Failed(request.output + ": " + error);
    std::error_code ec;
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
      std::filesystem::create_directories(folder, ec);
      if (ec) return Failed(request.output + ": cannot create its folder: " + ec.message());
    }
  }
  return RunInput(request);
}

// The request every input shares: the ranges, the stored images and the
// options the plug-in runs with.
RunRequest BaseRequest(const CommandLine& line, std::vector<std::string>& settingsWarnings) {
  RunRequest base;
  base.measures = line.measures;
  base.numbers = line.numbers;
  base.staves = line.staves;
  base.breakLinks = line.breakLinks;
  base.collectLayers = line.report == ReportFormat::Html;
  base.restore = line.restore;
  std::string error;
  {
    FileLock lock;
    if (!LockSettings(lock, line.configDir, false, line.noWait, error) ||
        !LoadStoredImages(line.configDir, base.images, settingsWarnings, error)) {
      throw Failure{error};
    }
  }
  // What the plug-in would load, with this run's changes over it; the
  // session's registry is dropped, so nothing stored changes.
  PluginSession session(base.images);
  if (!ResolveOptions(line.preset, line.assignments, base.options, error)) {
    throw UsageError{error};
  }
  return base;
}

std::vector<RunRequest> Requests(const CommandLine& line, const RunRequest& base,
                                 const std::vector<BatchInput>& inputs) {
  std::vector<RunRequest> requests;
  for (const BatchInput& input : inputs) {
    RunRequest request = base;
    request.input = input.path;
    request.failure = input.error;
    if (!line.output.empty()) {
      request.output = line.output;
    } else if (line.inPlace) {
      request.output = input.path;
    } else if (!line.outDir.empty()) {
      request.output = (std::filesystem::path(line.outDir) / input.relative).string();
    }
    requests.push_back(std::move(request));
  }
  return requests;
}

// Runs every request on the workers, with the progress bar on a terminal;
// errors go out in input order, each as soon as every input before it is done.
std::vector<RunResult> RunAll(const CommandLine& line, const std::vector<RunRequest>& requests) {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const int workers = line.jobs > 0 ? line.jobs : static_cast<int>(cores);
  // A large score may be read by two threads, but only where that is the
  // one job and a second core is allowed: workers of a batch keep the cores
  // busy already, and --jobs 1 asks for one core in all.
  musicxml::SetScoreReaders(workers > 1 && requests.size() == 1 ? 2 : 1);
  std::optional<ProgressBar> bar;
  if (requests.size() > 1 && !line.quiet && ::isatty(STDERR_FILENO) != 0)
    bar.emplace(requests.size());
  std::size_t finished = 0;
  std::size_t changedMeasures = 0;
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
    return RunOne(request, line.inPlace, line.noWait, !line.outDir.empty());
  };
  RunBatch(requests, workers, work, done);
  if (bar) bar->Clear();
  return results;
}

// The report in its format, to the file opened for it or to its stream.
void WriteReport(const CommandLine& line, const std::vector<FileReport>& reports,
                 Replacement* reportOut) {
  // The page may be many times the score: it goes out as it is made.
  const bool html = line.report == ReportFormat::Html;
  const std::string text = html ? std::string()
                           : line.report == ReportFormat::Json
                               ? FormatJson(reports)
                               : FormatText(reports, line.allMeasures);
  if (reportOut != nullptr) {
    std::string error;
    bool written = true;
    const auto produce = [&](const PieceSink& sink) {
      written = html ? WriteHtml(reports, sink) : sink(text);
      return true;
    };
    if (!reportOut->Finish(produce, error)) throw Failure{error};
    if (!written) throw Failure{line.reportFile + ": cannot write: the report was cut short"};
    return;
  }
  std::FILE* stream = ReportStream(line) == STDERR_FILENO ? stderr : stdout;
  const auto put = [stream](std::string_view piece) {
    return std::fwrite(piece.data(), 1, piece.size(), stream) == piece.size();
  };
  if (!(html ? WriteHtml(reports, put) : put(text)) || std::fflush(stream) != 0) {
    throw Failure{std::string(stream == stdout ? "<stdout>" : "<stderr>") +
                  ": cannot write the report"};
  }
}

}  // namespace

int RunCommand(const CommandLine& line) {
  std::vector<BatchInput> inputs;
  {
    std::string error;
    if (!ExpandInputs(line.inputs, inputs, error)) throw Failure{error};
  }
  CheckInputs(line, inputs);
  for (const BatchInput& input : inputs) {
    if (input.path != "-" && input.error.empty() && StreamIsFile(STDERR_FILENO, input.path)) {
      SilenceMessages();
    }
  }
  CheckClashes(line, inputs);
  std::string error;
  if (!line.reportFile.empty() && line.reportFile != "-" && !line.breakLinks &&
      !CheckHardLinks(line.reportFile, error)) {
    throw Failure{error};
  }

  std::vector<std::string> settingsWarnings;
  const RunRequest base = BaseRequest(line, settingsWarnings);

  // The report's file exists before any input is rewritten: one that
  // cannot be created stops the run while nothing is changed yet.
  Replacement reportOut;
  const bool reportToFile =
      line.report != ReportFormat::None && !line.reportFile.empty() && line.reportFile != "-";
  if (reportToFile && !reportOut.Open(line.reportFile, error)) throw Failure{error};

  const std::vector<RunRequest> requests = Requests(line, base, inputs);
  std::vector<RunResult> results = RunAll(line, requests);

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
  if (line.report != ReportFormat::None &&
      (failed < reports.size() || reports.size() > 1 || line.report == ReportFormat::Json)) {
    WriteReport(line, reports, reportToFile ? &reportOut : nullptr);
  }
  return failed == 0 ? ExitOk : ExitFailure;
}

}  // namespace meterfix
