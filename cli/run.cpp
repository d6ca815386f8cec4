#include "cli/run.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <map>

#include "cli/plugin_session.h"
#include "cli/restore.h"
#include "cli/safe_file.h"
#include "musicxml/file_io.h"
#include "musicxml/musicxml.h"
#include "musicxml/text_io.h"
#include "settings/settings.h"
#include "simhost/simhost.h"

namespace meterfix {

namespace {

SignatureState StateOf(bool present, const musicxml::SignatureText& text) {
  SignatureState state;
  state.present = present;
  if (!present) return state;
  state.signature = {text.top, text.bottom};
  state.hidden = text.hidden;
  if (text.hasDisplay) state.display = SignatureText{text.displayTop, text.displayBottom};
  return state;
}

struct Snapshot {
  std::vector<bool> measurePresent;
  std::vector<musicxml::SignatureText> measures;
  // [staff index][measure index], independent staves only
  std::vector<std::vector<bool>> staffPresent;
  std::vector<std::vector<musicxml::SignatureText>> staves;
};

Snapshot Take(const simhost::Host& host, const Range& measures,
              const std::vector<musicxml::StaffInfo>& staves) {
  Snapshot snapshot;
  for (int m = measures.first; m <= measures.last; ++m) {
    musicxml::SignatureText text;
    snapshot.measurePresent.push_back(
        musicxml::ReadMeasureSignature(host, static_cast<std::int16_t>(m), text));
    snapshot.measures.push_back(text);
  }
  for (const musicxml::StaffInfo& staff : staves) {
    snapshot.staffPresent.emplace_back();
    snapshot.staves.emplace_back();
    if (!staff.independent) continue;
    for (int m = measures.first; m <= measures.last; ++m) {
      musicxml::SignatureText text;
      snapshot.staffPresent.back().push_back(
          musicxml::ReadStaffSignature(host, staff.staff, static_cast<std::int16_t>(m), text));
      snapshot.staves.back().push_back(text);
    }
  }
  return snapshot;
}

// A warning naming what a plain copy of an archive's score leaves behind;
// empty when the archive holds nothing else.
std::string DroppedMembers(const musicxml::Score& score) {
  const std::vector<std::string> names = score.ExtraArchiveMembers();
  if (names.empty()) return {};
  constexpr std::size_t Named = 5;
  std::string list;
  for (std::size_t i = 0; i < names.size() && i < Named; ++i) {
    list += (i == 0 ? "" : ", ") + names[i];
  }
  if (names.size() > Named) list += " and " + std::to_string(names.size() - Named) + " more";
  return score.Name() +
         ": written as a plain score; the archive's other members are not kept: " + list;
}

// The requested range within 1..count; false with a reason when it lies
// wholly beyond the score.
bool Clamp(const std::optional<Range>& requested, int count, const char* what, Range& out,
           std::string& error) {
  out = requested.value_or(Range{1, count});
  if (out.first > count) {
    const std::string last = out.last == musicxml::MaxMeasures ? "" : std::to_string(out.last);
    error = std::string(what) + " " + std::to_string(out.first) + "-" + last +
            " lie beyond the score's " + std::to_string(count) + " " + what;
    return false;
  }
  if (out.last > count) out.last = count;
  return true;
}

// One score on its way through the plug-in. Each step fills its part and
// returns false, with `result.error` set, where the score fails.
struct ScoreRun {
  explicit ScoreRun(const RunRequest& r)
      : request(r), displayName(r.input == "-" ? "<stdin>" : r.input) {
    result.report.file = displayName;
  }
  bool Fail(std::string error) {
    result.error = std::move(error);
    return false;
  }
  bool Fail(const musicxml::Status& status) { return Fail(status.message); }

  const RunRequest& request;
  const std::string displayName;
  RunResult result;
  musicxml::Score score;
  simhost::Host host;
  Range measures;  // the measures and staff slots the plug-in works on
  Range staves;
  Snapshot before;  // the host's records before and after the plug-in
  Snapshot after;
  std::vector<RestoreChoice> restored;  // --restore: one per measure
  std::string dropped;  // the warning when a plain copy leaves archive members behind
};

// Reads the score and puts it into a fresh simulated host.
bool Load(ScoreRun& run) {
  musicxml::Status status;
  if (run.request.input == "-") {
    std::string bytes;
    std::string error;
    if (!musicxml::ReadWholeStream(STDIN_FILENO, bytes, error)) {
      return run.Fail("<stdin>: cannot read: " + error);
    }
    status = run.score.LoadBytes(bytes, "-");
  } else {
    status = run.score.LoadFile(run.request.input);
  }
  if (!status) return run.Fail(status);
  run.score.KeepLayers(run.request.collectLayers);
  status = run.score.BuildHost(run.host);
  return status ? true : run.Fail(status);
}

// The measures and staves the request names, within the score.
bool Select(ScoreRun& run) {
  const RunRequest& request = run.request;
  const int measureCount = run.score.MeasureCount();
  const int staffCount = static_cast<int>(run.score.Staves().size());
  std::optional<Range> requested = request.measures;
  if (request.numbers) {
    int first = 0;
    int last = 0;
    for (int m = 1; m <= measureCount; ++m) {
      const std::string number = run.score.MeasureNumber(m);
      if (first == 0 && number == request.numbers->first) first = m;
      if (number == request.numbers->last) last = m;
    }
    const std::string& missing = first == 0 ? request.numbers->first : request.numbers->last;
    if (first == 0 || last == 0) {
      return run.Fail(run.displayName + ": no measure is numbered '" + missing + "'");
    }
    if (last < first) {
      return run.Fail(run.displayName + ": measure '" + request.numbers->last +
                      "' comes before measure '" + request.numbers->first + "'");
    }
    requested = Range{first, last};
  }
  std::string error;
  if (!Clamp(requested, measureCount, "measures", run.measures, error) ||
      !Clamp(request.staves, staffCount, "staves", run.staves, error)) {
    return run.Fail(run.displayName + ": " + error);
  }
  return true;
}

// The plug-in's command (or --restore) on the selection, with the records
// taken before and after.
void Invoke(ScoreRun& run) {
  const Range& measures = run.measures;
  const Range& staves = run.staves;
  run.before = Take(run.host, measures, run.score.Staves());
  simhost::SetCurrentHost(&run.host);
  {
    PluginSession session(run.request.images);
    StoreOptionBlock(run.request.options, globalSettings);
    if (run.request.restore) {
      run.restored =
          RestoreMeasures(run.score, measures.first, measures.last, staves.first, staves.last);
    } else {
      session.Invoke(MakeWholeMeasureRegion(
          static_cast<std::int16_t>(measures.first), static_cast<std::int16_t>(measures.last),
          static_cast<std::int16_t>(staves.first - 1), static_cast<std::int16_t>(staves.last - 1)));
    }
    run.result.report.messages = PluginSession::Messages();
    run.after = Take(run.host, measures, run.score.Staves());
    // Terminate writes the stand-in registry only; the settings directory
    // is never written by a run.
    session.Terminate();
  }
  simhost::SetCurrentHost(nullptr);
  run.result.report.outputRequested = !run.request.output.empty();
}

// Hands the host's records to the score and reports what the written file
// says: each record as reading it back gives it; what the plug-in set and
// the file cannot hold is listed apart.
bool Compare(ScoreRun& run) {
  const musicxml::Status status = run.score.ApplyHost(run.host);
  if (!status) return run.Fail(status);
  const musicxml::Score& score = run.score;
  const Range& measures = run.measures;
  const Snapshot& before = run.before;
  const Snapshot& after = run.after;
  FileReport& report = run.result.report;
  auto written = [&](int measure) {
    musicxml::SignatureText text;
    const bool present = score.WrittenMeasureSignature(measure, text);
    return StateOf(present, text);
  };
  // The layers of a changed measure as written, each part's name once.
  std::map<std::string, int> partIndex;
  auto picturesOf = [&](int measure) {
    std::vector<LayerPicture> pictures;
    for (int slot = run.staves.first - 1; slot < run.staves.last; ++slot) {
      const musicxml::StaffInfo& staff = score.Staves()[static_cast<std::size_t>(slot)];
      if (staff.hidden) continue;
      for (musicxml::WrittenLayer& layer : score.Layers(slot, measure)) {
        const auto [at, added] =
            partIndex.emplace(staff.partId, static_cast<int>(report.partNames.size()));
        if (added) {
          report.partNames.push_back(staff.partName.empty() ? staff.partId : staff.partName);
        }
        pictures.push_back(LayerPicture{at->second, staff.staffInPart, std::move(layer)});
      }
    }
    return pictures;
  };
  for (int i = 0; i <= measures.last - measures.first; ++i) {
    MeasureChange change;
    change.measure = measures.first + i;
    change.number = score.MeasureNumber(change.measure);
    change.before = StateOf(before.measurePresent[i], before.measures[i]);
    change.after = written(change.measure);
    change.changed = !(change.before == change.after);
    if (change.changed) {
      if (run.request.collectLayers) change.layers = picturesOf(change.measure);
      if (static_cast<std::size_t>(i) < run.restored.size()) {
        change.evidence = EvidenceName(run.restored[static_cast<std::size_t>(i)].evidence);
      }
    }
    report.measures.push_back(std::move(change));
  }
  for (std::size_t s = 0; s < score.Staves().size(); ++s) {
    for (std::size_t i = 0; i < before.staves[s].size(); ++i) {
      const int measure = measures.first + static_cast<int>(i);
      musicxml::SignatureText text;
      const bool present = score.WrittenStaffSignature(score.Staves()[s].staff, measure, text);
      StaffChange change;
      change.staff = score.Staves()[s].staff;
      change.measure = measure;
      change.before = StateOf(before.staffPresent[s][i], before.staves[s][i]);
      change.after = StateOf(present, text);
      if (change.before == change.after) continue;
      report.staves.push_back(std::move(change));
    }
  }
  for (const musicxml::KeptChange& k : score.Kept()) {
    if (k.measure < measures.first || k.measure > measures.last) continue;
    const auto i = static_cast<std::size_t>(k.measure - measures.first);
    KeptChange kept;
    kept.measure = k.measure;
    kept.number = score.MeasureNumber(k.measure);
    kept.staff = k.staff;
    kept.reason = k.reason;
    if (k.staff == 0) {
      kept.plugin = StateOf(after.measurePresent[i], after.measures[i]);
      kept.written = written(k.measure);
    } else {
      musicxml::SignatureText text;
      const auto slot = static_cast<std::size_t>(k.staff - 1);
      if (slot < after.staves.size() && i < after.staves[slot].size()) {
        kept.plugin = StateOf(after.staffPresent[slot][i], after.staves[slot][i]);
      }
      kept.written = StateOf(score.WrittenStaffSignature(k.staff, k.measure, text), text);
    }
    report.kept.push_back(std::move(kept));
  }
  report.changed = score.Changed();
  return true;
}

// The score over `path` through a safe replacement.
musicxml::Status WriteScore(const musicxml::Score& score, const std::string& path,
                            musicxml::Score::Form form) {
  musicxml::Status made;
  try {
    std::string error;
    const bool written = ReplaceFile(
        path,
        [&](const PieceSink& sink) {
          made = score.Write(sink, form);
          return made.ok;
        },
        error);
    if (made && !written) {
      made.ok = false;
      made.message = error;
    }
  } catch (...) {
    made.ok = false;
    made.message = path + ": out of memory";
  }
  return made;
}

// The changed score where the request sends it.
bool Write(ScoreRun& run) {
  const RunRequest& request = run.request;
  musicxml::Status status;
  if (request.output == "-") {
    std::string bytes;
    status = run.score.SaveBytes(bytes);
    if (status && (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
                   std::fflush(stdout) != 0)) {
      status.ok = false;
      status.message = "<stdout>: cannot write the result";
    }
    run.result.report.output = "<stdout>";
  } else if (!request.output.empty()) {
    // Rewriting an input in place only when there is something to change
    // keeps its timestamp and bytes for unchanged scores.
    // A new file takes the form its name asks for (.mxl an archive,
    // .musicxml/.xml plain); a rewritten input keeps its own.
    if (run.score.Changed() || request.output != request.input) {
      const musicxml::Score::Form form = request.output == request.input
                                             ? musicxml::Score::Form::AsLoaded
                                             : musicxml::FormForPath(request.output);
      std::string error;
      if (!request.breakLinks && !CheckHardLinks(request.output, error)) return run.Fail(error);
      if (run.score.IsArchive() && form == musicxml::Score::Form::Xml) {
        run.dropped = DroppedMembers(run.score);
      }
      status = WriteScore(run.score, request.output, form);
      run.result.report.output = request.output;
    }
  }
  return status ? true : run.Fail(status);
}

}  // namespace

RunResult RunInput(const RunRequest& request) {
  ScoreRun run(request);
  if (!Load(run)) return run.result;
  if (run.score.MeasureCount() == 0 || run.score.Staves().empty()) {
    run.result.report.warnings = run.score.Warnings();
    run.result.report.warnings.push_back("the score has no measures or no staves; nothing to do");
    run.result.ok = true;
    return run.result;
  }
  if (!Select(run)) return run.result;
  Invoke(run);
  if (!Compare(run) || !Write(run)) return run.result;
  run.result.report.warnings = run.score.Warnings();
  if (!run.dropped.empty()) run.result.report.warnings.push_back(run.dropped);
  run.result.ok = true;
  return run.result;
}

}  // namespace meterfix
