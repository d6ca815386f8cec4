#include "cli/run.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <map>

#include "cli/file_safety.h"
#include "cli/plugin_session.h"
#include "cli/restore.h"
#include "musicxml/file_io.h"
#include "musicxml/musicxml.h"
#include "musicxml/text_io.h"
#include "settings/settings.h"
#include "simhost/simhost.h"

namespace meterfix {

namespace {

bool ParseNumber(const std::string& text, int& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

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

RunResult RunInput(const RunRequest& request) {
  RunResult result;
  const std::string displayName = request.input == "-" ? "<stdin>" : request.input;
  result.report.file = displayName;

  musicxml::Score score;
  musicxml::Status status;
  if (request.input == "-") {
    std::string bytes;
    std::string error;
    if (!musicxml::ReadWholeStream(STDIN_FILENO, bytes, error)) {
      result.error = "<stdin>: cannot read: " + error;
      return result;
    }
    status = score.LoadBytes(bytes, "-");
  } else {
    status = score.LoadFile(request.input);
  }
  if (!status) {
    result.error = status.message;
    return result;
  }

  simhost::Host host;
  score.KeepLayers(request.collectLayers);
  status = score.BuildHost(host);
  if (!status) {
    result.error = status.message;
    return result;
  }

  const int measureCount = score.MeasureCount();
  const int staffCount = static_cast<int>(score.Staves().size());
  if (measureCount == 0 || staffCount == 0) {
    result.report.warnings = score.Warnings();
    result.report.warnings.push_back("the score has no measures or no staves; nothing to do");
    result.ok = true;
    return result;
  }
  Range measures;
  Range staves;
  std::string error;
  std::optional<Range> requested = request.measures;
  if (request.numbers) {
    int first = 0;
    int last = 0;
    for (int m = 1; m <= measureCount; ++m) {
      const std::string number = score.MeasureNumber(m);
      if (first == 0 && number == request.numbers->first) first = m;
      if (number == request.numbers->last) last = m;
    }
    const std::string& missing = first == 0 ? request.numbers->first : request.numbers->last;
    if (first == 0 || last == 0) {
      result.error = displayName + ": no measure is numbered '" + missing + "'";
      return result;
    }
    if (last < first) {
      result.error = displayName + ": measure '" + request.numbers->last +
                     "' comes before measure '" + request.numbers->first + "'";
      return result;
    }
    requested = Range{first, last};
  }
  if (!Clamp(requested, measureCount, "measures", measures, error) ||
      !Clamp(request.staves, staffCount, "staves", staves, error)) {
    result.error = displayName + ": " + error;
    return result;
  }

  const Snapshot before = Take(host, measures, score.Staves());
  simhost::SetCurrentHost(&host);
  Snapshot after;
  std::vector<RestoreChoice> restored;  // --restore: one per measure
  {
    PluginSession session(request.images);
    StoreOptionBlock(request.options, globalSettings);
    if (request.restore) {
      restored = RestoreMeasures(score, measures.first, measures.last, staves.first, staves.last);
    } else {
      session.Invoke(MakeWholeMeasureRegion(
          static_cast<std::int16_t>(measures.first), static_cast<std::int16_t>(measures.last),
          static_cast<std::int16_t>(staves.first - 1), static_cast<std::int16_t>(staves.last - 1)));
    }
    result.report.messages = PluginSession::Messages();
    after = Take(host, measures, score.Staves());
    // Terminate writes the stand-in registry only; the settings directory
    // is never written by a run.
    session.Terminate();
  }
  simhost::SetCurrentHost(nullptr);
  result.report.outputRequested = !request.output.empty();
  std::string dropped;  // the warning when a plain copy leaves archive members behind
  status = score.ApplyHost(host);
  if (!status) {
    result.error = status.message;
    return result;
  }
  // The report says what the written file says: each record as reading it
  // back gives it; what the plug-in set and the file cannot hold is listed
  // apart.
  auto written = [&](int measure) {
    musicxml::SignatureText text;
    const bool present = score.WrittenMeasureSignature(measure, text);
    return StateOf(present, text);
  };
  // The layers of a changed measure as written, each part's name once.
  std::map<std::string, int> partIndex;
  auto picturesOf = [&](int measure) {
    std::vector<LayerPicture> pictures;
    for (int slot = staves.first - 1; slot < staves.last; ++slot) {
      const musicxml::StaffInfo& staff = score.Staves()[static_cast<std::size_t>(slot)];
      if (staff.hidden) continue;
      for (musicxml::WrittenLayer& layer : score.Layers(slot, measure)) {
        const auto [at, added] =
            partIndex.emplace(staff.partId, static_cast<int>(result.report.partNames.size()));
        if (added) {
          result.report.partNames.push_back(staff.partName.empty() ? staff.partId
                                                                   : staff.partName);
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
      if (request.collectLayers) change.layers = picturesOf(change.measure);
      if (static_cast<std::size_t>(i) < restored.size()) {
        change.evidence = EvidenceName(restored[static_cast<std::size_t>(i)].evidence);
      }
    }
    result.report.measures.push_back(std::move(change));
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
      result.report.staves.push_back(std::move(change));
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
    result.report.kept.push_back(std::move(kept));
  }
  result.report.changed = score.Changed();

  if (request.output == "-") {
    std::string bytes;
    status = score.SaveBytes(bytes);
    if (status && (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() ||
                   std::fflush(stdout) != 0)) {
      status.ok = false;
      status.message = "<stdout>: cannot write the result";
    }
    result.report.output = "<stdout>";
  } else if (!request.output.empty()) {
    // Rewriting an input in place only when there is something to change
    // keeps its timestamp and bytes for unchanged scores.
    // A new file takes the form its name asks for (.mxl an archive,
    // .musicxml/.xml plain); a rewritten input keeps its own.
    if (score.Changed() || request.output != request.input) {
      const musicxml::Score::Form form = request.output == request.input
                                             ? musicxml::Score::Form::AsLoaded
                                             : musicxml::FormForPath(request.output);
      std::string error;
      if (!request.breakLinks && !CheckHardLinks(request.output, error)) {
        result.error = error;
        return result;
      }
      if (score.IsArchive() && form == musicxml::Score::Form::Xml) {
        dropped = DroppedMembers(score);
      }
      status = score.SaveFile(request.output, form);
      result.report.output = request.output;
    }
  }
  if (!status) {
    result.error = status.message;
    return result;
  }
  result.report.warnings = score.Warnings();
  if (!dropped.empty()) result.report.warnings.push_back(dropped);
  result.ok = true;
  return result;
}

}  // namespace meterfix
