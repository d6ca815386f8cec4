#include "musicxml/layers.h"

#include <algorithm>
#include <cmath>

namespace musicxml {

namespace {

// Positions closer than this to a beat or to the written end are rounding
// (tuplets written with rounded durations), never a written rhythm: it is
// less than a 512th note.
constexpr double SnapTolerance = 8;

struct Timed {
  std::int32_t position = 0;  // snapped and rounded
  double end = 0;
  std::int32_t value = 0;
  bool rest = false;
  bool grace = false;
  BeamMark beam = BeamMark::None;
  bool start = false;
  bool freeRest = false;  // a rest that no open beam holds
  EntryLook look;
};

class Snapper {
 public:
  Snapper(const std::vector<std::int64_t>& beats, std::int64_t writtenLength) : targets_(beats) {
    if (writtenLength > 0) targets_.push_back(writtenLength);
    std::sort(targets_.begin(), targets_.end());
  }
  // The nearest target within the tolerance, else `edus` itself.
  double Snap(double edus, bool& moved) const {
    auto it = std::lower_bound(targets_.begin(), targets_.end(),
                               static_cast<std::int64_t>(std::floor(edus)));
    for (auto c : {it, it == targets_.begin() ? it : it - 1}) {
      if (c == targets_.end()) continue;
      const double t = static_cast<double>(*c);
      if (t != edus && std::fabs(t - edus) < SnapTolerance) {
        moved = true;
        return t;
      }
    }
    return edus;
  }

 private:
  std::vector<std::int64_t> targets_;
};

std::int32_t Round(double edus) { return static_cast<std::int32_t>(std::llround(edus)); }

bool OnBeat(const std::vector<std::int64_t>& beats, std::int32_t position) {
  return std::binary_search(beats.begin(), beats.end(), std::int64_t{position});
}

// The start of the beat that `position` falls in (0 before the first beat).
std::int64_t BeatOf(const std::vector<std::int64_t>& beats, std::int32_t position) {
  auto it = std::upper_bound(beats.begin(), beats.end(), std::int64_t{position});
  return it == beats.begin() ? 0 : *(it - 1);
}

// True when a note after `i` carries the beam on: the next note (grace
// notes and rests without a beam of their own passed over) has `continue` or
// `end`.
bool ContinuedAfter(const std::vector<Timed>& seq, std::size_t i) {
  for (std::size_t j = i + 1; j < seq.size(); ++j) {
    if (seq[j].grace || (seq[j].rest && seq[j].beam == BeamMark::None)) continue;
    return seq[j].beam == BeamMark::Continue || seq[j].beam == BeamMark::End;
  }
  return false;
}

// Beams are the evidence of grouping; what no beam joins follows the beat.
// Every beam opened is added to `beams`.
void MarkGroupStarts(std::vector<Timed>& seq, const std::vector<std::int64_t>& beats,
                     std::vector<BeamGroup>& beams) {
  bool open = false;
  bool first = true;
  for (std::size_t i = 0; i < seq.size(); ++i) {
    Timed& t = seq[i];
    if (t.grace) continue;
    BeamMark beam = t.beam;
    // A `continue` or `end` with no beam open that no later note carries on
    // is a one-note beam: a flagged note, read as unbeamed.
    if (!open &&
        (beam == BeamMark::End || (beam == BeamMark::Continue && !ContinuedAfter(seq, i)))) {
      beam = BeamMark::None;
    }
    if (beam != BeamMark::None) {
      if (open && beam != BeamMark::Begin) {
        t.start = false;
        open = beam == BeamMark::Continue;
      } else {
        // A beam's group begins at its first note, or at the rests just
        // before it that reach into its beat ([r8 (8 8)] is one group from
        // the rest, and so is a dotted rest over the beat before its beam).
        t.start = true;
        open = beam != BeamMark::End;
        const double beat = static_cast<double>(BeatOf(beats, t.position));
        std::size_t j = i;
        while (j > 0 && (seq[j - 1].grace || (seq[j - 1].freeRest && seq[j - 1].end > beat))) {
          --j;
        }
        while (j < i && seq[j].grace) ++j;
        if (j < i) {
          for (std::size_t k = j; k <= i; ++k) seq[k].start = false;
          seq[j].start = true;
        }
        // Whatever the beats, the rests no beam holds directly before it.
        std::size_t r = i;
        while (r > 0 && (seq[r - 1].grace || seq[r - 1].freeRest)) --r;
        while (r < i && seq[r].grace) ++r;
        beams.push_back(BeamGroup{seq[r].position, t.position});
      }
    } else if (t.rest && open) {
      t.start = false;  // a rest inside a beam belongs to its group
    } else {
      open = false;
      t.start = OnBeat(beats, t.position);
      t.freeRest = t.rest;
    }
    if (first) t.start = true;  // nothing crosses the barline
    first = false;
  }
}

}  // namespace

std::vector<std::int64_t> CheckedBeatStarts(const Meter& meter) {
  std::vector<std::int64_t> starts;
  std::int64_t at = 0;
  const bool plain = meter.groups.size() == 1 && meter.groups[0].counts.size() == 1;
  for (const MeterGroup& g : meter.groups) {
    for (std::int32_t c : g.counts) {
      if (c <= 0 || g.beatDuration <= 0) return starts;
      if (plain) {
        for (std::int32_t b = 0; b < c; ++b)
          starts.push_back(at + std::int64_t{b} * g.beatDuration);
      } else {
        starts.push_back(at);
      }
      at += std::int64_t{c} * g.beatDuration;
    }
  }
  return starts;
}

MeasureLayers BuildLayers(const std::vector<VoiceItem>& items,
                          const std::vector<std::int64_t>& beats, std::int64_t writtenLength) {
  MeasureLayers result;
  const Snapper snapper(beats, writtenLength);
  std::vector<std::vector<const VoiceItem*>> byVoice;
  std::vector<bool> homed;
  std::string lastVoice;
  for (const VoiceItem& item : items) {
    // A <forward> without <voice> belongs to the voice of the note before it.
    std::string voice = item.voice;
    if (voice.empty()) voice = lastVoice.empty() ? "1" : lastVoice;
    if (!item.forward) lastVoice = voice;
    std::size_t v = 0;
    while (v < result.layers.size() && result.layers[v].voice != voice) ++v;
    if (v == result.layers.size()) {
      result.layers.push_back(MeasureLayer{});
      result.layers.back().voice = voice;
      result.layers.back().staff = item.staff;
      byVoice.emplace_back();
      homed.push_back(false);
    }
    // The home staff is the staff of the voice's first note or rest here,
    // so a beam drawn across the staves stays one group in one layer.
    if (!item.forward && !item.grace && !homed[v]) {
      result.layers[v].staff = item.staff;
      homed[v] = true;
    }
    byVoice[v].push_back(&item);
  }

  for (std::size_t v = 0; v < result.layers.size(); ++v) {
    MeasureLayer& layer = result.layers[v];
    std::vector<Timed> seq;
    double voiceEnd = 0;  // the host's layers start at the barline
    for (const VoiceItem* item : byVoice[v]) {
      bool moved = false;
      const double start = snapper.Snap(item->start, moved);
      if (item->grace) {
        Timed t;
        t.position = Round(start);
        t.value = item->value;
        t.grace = true;
        t.look = item->look;
        seq.push_back(t);
        result.snapped += moved ? 1 : 0;
        continue;
      }
      const double end = snapper.Snap(item->end, moved);
      result.snapped += moved ? 1 : 0;
      // A <forward> over notes already there only moves the cursor.
      if (item->forward && start < voiceEnd - 0.5) continue;
      if (start > voiceEnd + 0.5) {
        // A gap in the voice is an invisible rest, as in the host's layers.
        Timed gap;
        gap.position = Round(voiceEnd);
        gap.end = start;
        gap.value = Round(start - voiceEnd);
        gap.rest = true;
        gap.look.flags = EntryLook::Rest | EntryLook::Invisible;
        seq.push_back(gap);
      }
      Timed t;
      t.position = Round(start);
      t.end = end;
      t.value = item->value;
      t.rest = item->rest || item->forward;
      t.beam = item->beam;
      t.look = item->look;
      seq.push_back(t);
      voiceEnd = std::max(voiceEnd, end);
    }
    MarkGroupStarts(seq, beats, layer.beams);
    layer.duration = Round(voiceEnd);
    layer.entries.reserve(seq.size());
    layer.looks.reserve(seq.size());
    for (const Timed& t : seq) {
      simhost::Entry e;
      e.position = t.position;
      e.duration = t.value;
      e.beamStart = !t.grace && t.start;
      e.skip = t.grace;  // grace notes neither start nor spoil a group
      layer.entries.push_back(e);
      layer.looks.push_back(t.look);
    }
  }
  return result;
}

}  // namespace musicxml
