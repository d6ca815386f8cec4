#include "cli/restore.h"

#include <algorithm>
#include <charconv>
#include <map>

#include "analysis/beatlist.h"
#include "analysis/collection.h"
#include "analysis/derivation.h"
#include "analysis/writing.h"
#include "settings/settings.h"
#include "simhost/simhost.h"

namespace meterfix {

namespace {

constexpr std::int32_t Half = 2048;
constexpr std::int32_t DottedQuarter = 1536;
constexpr std::int32_t Quarter = 1024;
constexpr std::int32_t Eighth = 512;
constexpr std::int32_t Sixteenth = 256;
// Measures on either side that make up the passage a measure's majority
// is taken in.
constexpr std::size_t PassageReach = 12;

// The settings record as it was, put back however the scope is left.
class SettingsScope {
 public:
  SettingsScope() : saved_(globalSettings) {}
  ~SettingsScope() { globalSettings = saved_; }
  SettingsScope(const SettingsScope&) = delete;
  SettingsScope& operator=(const SettingsScope&) = delete;

 private:
  Settings saved_;
};

void AllowOnly(std::int32_t beat) {
  for (std::size_t i = 0; i < BeatDurationCount; ++i) {
    globalSettings.allowBeat[i] = BeatDurationTable[i] == beat ? 1 : 0;
  }
}

bool ParseInt(const std::string& text, std::int32_t& value) {
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size() && value > 0;
}

// A dotted-quarter beat, an eighth beat: a compound signature and the plain
// one with the same written form (6/8) are one candidate, the compound one.
bool SameFormAsCompound(const Meter& meter) {
  return meter.counts.size() == 1 && meter.beat == Eighth && meter.counts[0] % 3 == 0 &&
         meter.counts[0] >= 6;
}

// The beat a measure with nothing to tell takes: quarters where they divide
// the length, else eighths (dotted quarters where the written form is
// compound), else the longest that divides.
std::optional<Meter> UsualMeter(std::int32_t length, const std::vector<Meter>& plain) {
  for (const Meter& m : plain) {
    if (m.beat == Quarter) return m;
  }
  for (const Meter& m : plain) {
    if (m.beat == Eighth || (m.beat == DottedQuarter && length % (3 * Eighth) == 0 &&
                             (length / Eighth) % 3 == 0 && length / Eighth >= 6)) {
      return m;
    }
  }
  for (const Meter& m : plain) {
    if (m.beat < Eighth) return m;
  }
  if (!plain.empty()) return plain.back();
  return std::nullopt;
}

bool Fits(const std::optional<Meter>& meter, std::int32_t length,
          const std::vector<musicxml::BeamGroup>& beams) {
  return meter && meter->Length() == length && Accepts(*meter, beams);
}

// What a measure's notes read as, among the candidates no beam contradicts;
// nullopt where they tell nothing apart. Between a compound (dotted-quarter)
// and a simple (quarter) candidate that both fit, the one fewer notes
// syncopate against: q e q e is 6/8, q h is 3/4. Else the longest beat
// where the beams rule out another. A measure one quarter long that its
// beams split counts in sixteenths where it has notes shorter than an
// eighth, else in eighths.
std::optional<Meter> Reading(std::int32_t length, const std::vector<Meter>& plain,
                             const std::vector<musicxml::BeamGroup>& beams,
                             const std::vector<NoteSpan>& notes) {
  std::vector<Meter> allowed;
  for (const Meter& m : plain) {
    if (Accepts(m, beams)) allowed.push_back(m);
  }
  const bool ruledOut = allowed.size() < plain.size();
  if (allowed.empty()) return std::nullopt;
  if (length == Quarter && ruledOut) {
    const bool shorter = std::any_of(notes.begin(), notes.end(),
                                     [](const NoteSpan& n) { return n.end - n.start < Eighth; });
    return shorter ? allowed.back() : allowed.front();
  }
  const auto withBeat = [&](std::int32_t beat) {
    return std::find_if(allowed.begin(), allowed.end(),
                        [beat](const Meter& m) { return m.beat == beat; });
  };
  const auto compound = withBeat(DottedQuarter);
  const auto simple = withBeat(Quarter);
  if (compound != allowed.end() && simple != allowed.end()) {
    const int againstCompound = Syncopations(*compound, notes);
    const int againstSimple = Syncopations(*simple, notes);
    if (againstCompound != againstSimple) {
      return againstCompound < againstSimple ? *compound : *simple;
    }
  }
  return ruledOut ? std::optional<Meter>(allowed.front()) : std::nullopt;
}

// Groups of two and three eighths (3+3+2/8): the composites composers write.
bool Additive(const Meter& meter) {
  if (meter.beat != Eighth || meter.counts.size() < 2) return false;
  return std::all_of(meter.counts.begin(), meter.counts.end(),
                     [](std::int32_t c) { return c == 2 || c == 3; });
}

// True when every beat start of `coarse` is one of `fine`'s.
bool Subdivides(const Meter& fine, const Meter& coarse) {
  const std::vector<std::int32_t> starts = fine.BeatStarts();
  for (std::int32_t at : coarse.BeatStarts()) {
    if (!std::binary_search(starts.begin(), starts.end(), at)) return false;
  }
  return true;
}

}  // namespace

const char* EvidenceName(Evidence evidence) {
  switch (evidence) {
    case Evidence::Beaming:
      return "beaming";
    case Evidence::Continuity:
      return "continuity";
    case Evidence::Majority:
      return "majority";
    case Evidence::LengthOnly:
      return "length only";
    case Evidence::None:
      break;
  }
  return "";
}

std::int64_t Meter::Length() const {
  std::int64_t total = 0;
  for (std::int32_t c : counts) total += std::int64_t{c} * beat;
  return total;
}

std::string Meter::TopText() const {
  std::string text;
  for (std::int32_t c : counts) {
    if (!text.empty()) text += '+';
    text += std::to_string(c);
  }
  return text;
}

std::string Meter::BottomText() const { return std::to_string(beat); }

std::vector<std::int32_t> Meter::BeatStarts() const {
  std::vector<std::int32_t> starts;
  std::int32_t at = 0;
  const bool plain = counts.size() == 1;
  for (std::int32_t c : counts) {
    if (plain) {
      for (std::int32_t b = 0; b < c; ++b) starts.push_back(at + b * beat);
    } else {
      starts.push_back(at);
    }
    at += c * beat;
  }
  return starts;
}

std::optional<Meter> MeterFromTexts(const std::string& top, const std::string& bottom) {
  Meter meter;
  if (top.find("++") != std::string::npos || !ParseInt(bottom, meter.beat)) return std::nullopt;
  std::size_t at = 0;
  while (at <= top.size()) {
    const std::size_t plus = std::min(top.find('+', at), top.size());
    std::int32_t count = 0;
    if (!ParseInt(top.substr(at, plus - at), count) || count > MaxBeatCount) return std::nullopt;
    meter.counts.push_back(count);
    at = plus + 1;
  }
  return meter;
}

int Syncopations(const Meter& meter, const std::vector<NoteSpan>& notes) {
  const std::vector<std::int32_t> starts = meter.BeatStarts();
  int count = 0;
  for (const NoteSpan& note : notes) {
    if (std::binary_search(starts.begin(), starts.end(), note.start)) continue;
    const auto next = std::upper_bound(starts.begin(), starts.end(), note.start);
    if (next != starts.end() && *next < note.end) ++count;
  }
  return count;
}

bool Accepts(const Meter& meter, const std::vector<musicxml::BeamGroup>& beams) {
  const std::vector<std::int32_t> starts = meter.BeatStarts();
  for (const musicxml::BeamGroup& beam : beams) {
    auto it = std::lower_bound(starts.begin(), starts.end(), beam.reach);
    if (it == starts.end() || *it > beam.first) return false;
  }
  return true;
}

std::vector<Meter> PlainCandidates(std::int32_t length) {
  std::vector<Meter> result;
  if (length <= 0) return result;
  SettingsScope scope;
  for (std::int32_t beat : BeatDurationTable) {
    if (beat < Eighth && !result.empty() && !(beat == Sixteenth && length == Quarter)) break;
    AllowOnly(beat);
    char top[SignatureTextSize] = {};
    char bottom[SignatureTextSize] = {};
    if (FirstDividingBeat(length, top, bottom) == 0) continue;
    std::optional<Meter> meter = MeterFromTexts(top, bottom);
    if (!meter) continue;
    // One half or one dotted quarter is read as two or three of the next beat.
    if ((beat == Half || beat == DottedQuarter) && meter->counts[0] < 2) continue;
    if (SameFormAsCompound(*meter)) continue;
    result.push_back(*meter);
  }
  return result;
}

std::vector<RestoreChoice> ChooseSignatures(const std::vector<RestoreInput>& measures) {
  std::vector<RestoreChoice> choices(measures.size());
  std::vector<std::vector<Meter>> plain(measures.size());
  // What the beaming of each measure reads as, where it tells signatures
  // apart. An eighth (or shorter) beat where quarters divide the length is
  // beams across the beat, not a meter: no reading.
  std::vector<std::optional<Meter>> readings(measures.size());
  for (std::size_t i = 0; i < measures.size(); ++i) {
    const RestoreInput& in = measures[i];
    if (in.leaveAlone || in.length <= 0) continue;
    plain[i] = PlainCandidates(in.length);
    readings[i] = Reading(in.length, plain[i], in.beams, in.notes);
    if (readings[i] && readings[i]->beat < Quarter && in.length % Quarter == 0 &&
        in.length > Quarter) {
      readings[i].reset();
    }
  }
  // The majority of the readings of measures of the same length (and, with
  // `alike`, written alike) near measure i: the passage it belongs to; the
  // whole piece where nothing near tells. Ties go to the longer beat.
  auto majority = [&](std::size_t i, bool alike) -> std::optional<Meter> {
    auto same = [&](std::size_t j) {
      return measures[j].length == measures[i].length && readings[j] &&
             (!alike || measures[j].written == measures[i].written);
    };
    std::map<std::int32_t, int> votes;  // beat -> measures
    const std::size_t from = i > PassageReach ? i - PassageReach : 0;
    const std::size_t to = std::min(measures.size(), i + PassageReach + 1);
    for (std::size_t j = from; j < to; ++j) {
      if (same(j)) ++votes[readings[j]->beat];
    }
    for (std::size_t j = 0; votes.empty() && j < measures.size(); ++j) {
      if (same(j)) ++votes[readings[j]->beat];
    }
    int best = 0;
    std::optional<Meter> chosen;
    for (const Meter& m : plain[i]) {  // longest beat first
      const auto count = votes.find(m.beat);
      if (count != votes.end() && count->second > best) {
        best = count->second;
        chosen = m;
      }
    }
    return chosen;
  };
  // Among the measures written alike, what their beaming shows. A finer
  // beat over the same beats (4/4 over 2/2) is beams on the beat's
  // subdivisions, which every meter has: it never outvotes the score's own
  // signature.
  auto writtenMajority = [&](std::size_t i) -> std::optional<Meter> {
    std::optional<Meter> chosen = majority(i, true);
    if (chosen && Subdivides(*chosen, *measures[i].written)) return std::nullopt;
    return chosen;
  };

  std::optional<Meter> previous;
  // A signature carried on past a measure longer than it is no evidence
  // until the score states one again: a score states every change to a
  // longer meter, so it was lost there (everything after the first <time>
  // dropped, say). Shorter measures are common (the last bar of a section,
  // a volta) and prove nothing.
  bool stale = false;
  for (std::size_t i = 0; i < measures.size(); ++i) {
    const RestoreInput& in = measures[i];
    RestoreChoice& choice = choices[i];
    if (in.leaveAlone || in.length <= 0) {
      previous = in.written;
      continue;
    }
    if (in.statedHere) stale = false;
    const bool written = in.written && !stale;
    if (in.written && in.written->Length() < in.length) stale = true;
    const std::vector<musicxml::BeamGroup>& beams = in.beams;
    if (written && in.written->Length() == in.length) {
      // The score's own signature, stated here or carried on from before,
      // stays where it fits the length, unless the beams contradict it, its
      // notes syncopate no less against another signature that the beams
      // allow, and the measures of this length written alike around it
      // mostly read as that one: beaming against the written meter here and
      // there (a hemiola, an arpeggio across the beat) is the composer's, and
      // so is a rhythm in it that the written meter alone explains.
      choice = {in.written, Evidence::None};
      const std::optional<Meter> m = writtenMajority(i);
      if (m && !(*m == *in.written) && Accepts(*m, beams) && !Accepts(*in.written, beams) &&
          Syncopations(*m, in.notes) <= Syncopations(*in.written, in.notes)) {
        const std::optional<Meter>& b = readings[i];
        choice = {m, b && *b == *m ? Evidence::Beaming : Evidence::Majority};
      }
    } else if (Fits(previous, in.length, beams)) {
      choice = {previous, Evidence::Continuity};
    } else if (const std::optional<Meter> m = majority(i, false); Fits(m, in.length, beams)) {
      // The measure's own beaming may be what the majority is made of.
      const std::optional<Meter>& b = readings[i];
      choice = {m, b && *b == *m ? Evidence::Beaming : Evidence::Majority};
    } else if (readings[i]) {
      choice = {readings[i], Evidence::Beaming};
    } else if (const std::optional<Meter> u = UsualMeter(in.length, plain[i]);
               Fits(u, in.length, beams)) {
      choice = {u, Evidence::LengthOnly};
    } else if (Fits(in.composite, in.length, beams) && Additive(*in.composite)) {
      choice = {in.composite, Evidence::Beaming};
    } else if (previous && previous->Length() == in.length) {
      // Beams that contradict every signature of the length (a group from
      // the second eighth) are no reason to leave the meter before.
      choice = {previous, Evidence::Continuity};
    } else {
      choice = {UsualMeter(in.length, plain[i]), Evidence::LengthOnly};
    }
    previous = choice.meter;
  }

  // A measure whose own beaming tells nothing and that nothing before it
  // decided takes the signature of the measure after it where that fits:
  // a passage's first, unbeamed, measure.
  for (std::size_t i = measures.size(); i-- > 1;) {
    RestoreChoice& before = choices[i - 1];
    const RestoreChoice& after = choices[i];
    const bool undecided = before.evidence == Evidence::LengthOnly ||
                           (before.evidence == Evidence::Majority && !readings[i - 1]);
    if (!undecided || measures[i - 1].leaveAlone) continue;
    if (Fits(after.meter, measures[i - 1].length, measures[i - 1].beams)) {
      before = {after.meter, Evidence::Continuity};
    }
  }
  // Where the score's signature stays, nothing decided a change.
  for (std::size_t i = 0; i < measures.size(); ++i) {
    if (choices[i].meter && measures[i].written && *choices[i].meter == *measures[i].written) {
      choices[i].evidence = Evidence::None;
    }
  }
  return choices;
}

std::vector<RestoreChoice> RestoreMeasures(const musicxml::Score& score, int first, int last,
                                           int firstStaff, int lastStaff) {
  const simhost::Host* host = simhost::CurrentHost();
  std::vector<RestoreInput> inputs;
  std::vector<bool> hidden;
  if (host == nullptr || first > last) return {};
  SettingsScope scope;
  musicxml::SignatureText previousText;
  for (int m = first; m <= last; ++m) {
    RestoreInput in;
    const auto measure = static_cast<std::int16_t>(m);
    for (int slot = firstStaff - 1; slot < lastStaff; ++slot) {
      const musicxml::StaffInfo& staff = score.Staves()[static_cast<std::size_t>(slot)];
      if (staff.hidden) continue;
      BeatList list;
      BeatListInit(&list);
      in.length = std::max(in.length, CollectBeatStarts(staff.staff, measure, &list));
      BeatListRelease(&list);
    }
    in.beams = score.Beams(m, firstStaff, lastStaff);
    for (int slot = firstStaff - 1; slot < lastStaff; ++slot) {
      const musicxml::StaffInfo& staff = score.Staves()[static_cast<std::size_t>(slot)];
      if (staff.hidden) continue;
      for (int layer = 0; layer < 4; ++layer) {
        std::int32_t duration = 0;
        std::vector<simhost::Entry> entries;
        if (!host->ReadLayer(staff.staff, measure, layer, duration, entries)) continue;
        for (const simhost::Entry& e : entries) {
          if (!e.skip) in.notes.push_back(NoteSpan{e.position, e.position + e.duration});
        }
      }
    }
    musicxml::SignatureText text;
    const bool present = musicxml::ReadMeasureSignature(*host, measure, text);
    hidden.push_back(present && text.hidden && !score.StandIn(m));
    if (!present || text.hasDisplay) {
      in.leaveAlone = true;  // a pickup keeps the signature it is shown with
    } else if (!score.StandIn(m)) {
      in.written = MeterFromTexts(text.top, text.bottom);
      in.leaveAlone = !in.written;
      in.statedHere = m == first || !(text == previousText);
    }
    previousText = text;

    // The composite the plug-in derives from the beams' first notes.
    if (in.length > 0 && !in.beams.empty()) {
      BeatList list;
      BeatListInit(&list);
      list.length = in.length;
      std::vector<std::int32_t> starts{0};
      for (const musicxml::BeamGroup& beam : in.beams) starts.push_back(beam.first);
      std::sort(starts.begin(), starts.end());
      starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
      for (std::int32_t at : starts) BeatListPush(&list, at, 0);
      globalSettings.useComposite = 1;
      globalSettings.preferComposite = 0;
      globalSettings.compactBeatDuration = 1;
      for (std::size_t i = 0; i < BeatDurationCount; ++i) {
        globalSettings.allowBeat[i] = BeatDurationTable[i] == Half ? 0 : 1;
      }
      char top[SignatureTextSize] = {};
      char bottom[SignatureTextSize] = {};
      if (TryComposite(in.length, &list, 1, top, bottom, globalSettings) != 0) {
        in.composite = MeterFromTexts(top, bottom);
      }
      BeatListRelease(&list);
    }
    inputs.push_back(std::move(in));
  }

  std::vector<RestoreChoice> choices = ChooseSignatures(inputs);
  globalSettings.displayCurrentTimeSig = 0;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (!choices[i].meter) continue;
    // A restored signature is shown unless the score hid it.
    globalSettings.hideTimeSig = hidden[i] ? 1 : 0;
    const std::string top = choices[i].meter->TopText();
    const std::string bottom = choices[i].meter->BottomText();
    WriteMeasureSignature(static_cast<std::int16_t>(first + static_cast<int>(i)), top.c_str(),
                          bottom.c_str());
  }
  return choices;
}

}  // namespace meterfix
