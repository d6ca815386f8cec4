// meterfix --restore: give every measure the time signature its composer
// most likely wrote, chosen among the plain (and, where the beaming needs it,
// composite) signatures the plug-in's derivation forms for the measure's
// length that no beam of the measure contradicts. Meters change rarely, so a
// measure keeps the signature before it where that fits; a piece's measures
// of one length share a beat; the beaming, and between compound and simple
// the notes' syncopations, decide where they tell signatures apart; a
// measure with nothing to tell takes its length's usual signature.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "musicxml/musicxml.h"

namespace meterfix {

// What decided a restored measure's signature.
enum class Evidence { None, Beaming, Continuity, Majority, LengthOnly };
// "beaming", "continuity", "majority", "length only"; empty for None.
const char* EvidenceName(Evidence evidence);

// A signature of one common beat: one count (plain) or several (compact
// composite, 3+3+2 eighths). Durations in EDUs.
struct Meter {
  std::vector<std::int32_t> counts;
  std::int32_t beat = 0;
  bool operator==(const Meter&) const = default;
  std::int64_t Length() const;
  // The host's texts ("3" over "1536", "3+3+2" over "512").
  std::string TopText() const;
  std::string BottomText() const;
  // Where its beats start: every beat of a plain signature, every element
  // of a composite one (as the plug-in's check expands them).
  std::vector<std::int32_t> BeatStarts() const;
};

// The host's texts back as a Meter; nullopt for a form with several beat
// durations ("1+1++3" over "1024+512") or anything unreadable.
std::optional<Meter> MeterFromTexts(const std::string& top, const std::string& bottom);

// True when every beam has a beat start of `meter` in its reach..first.
bool Accepts(const Meter& meter, const std::vector<musicxml::BeamGroup>& beams);

// A note, chord or rest of one layer: from its start to its start plus its
// notated value, in EDUs from the barline.
struct NoteSpan {
  std::int32_t start = 0;
  std::int32_t end = 0;
};

// How many of `notes` start off the beats of `meter` and hold over one of
// them: syncopations against it.
int Syncopations(const Meter& meter, const std::vector<NoteSpan>& notes);

// One measure as the choice sees it.
struct RestoreInput {
  std::int32_t length = 0;  // EDUs, the longest layer; 0: left alone
  std::vector<musicxml::BeamGroup> beams;
  std::vector<NoteSpan> notes;   // every layer of the staves read; grace notes left out
  std::optional<Meter> written;  // the score's own signature here; none for a stand-in
  bool statedHere = false;       // the score states `written` in this very measure
  bool leaveAlone = false;       // a pickup, or a signature of several beat durations
  // A composite the plug-in derives from the beaming, for when no plain
  // signature fits it.
  std::optional<Meter> composite;
};

struct RestoreChoice {
  std::optional<Meter> meter;  // none: the measure is left as it is
  Evidence evidence = Evidence::None;
};

// The plain signatures of `length` the choice looks at, longest beat first:
// half, dotted quarter (two or more), quarter, eighth (unless the same
// written form as a dotted-quarter one); sixteenths or thirty-seconds only
// when none of those divides the length, and four sixteenths for a measure
// one quarter long.
std::vector<Meter> PlainCandidates(std::int32_t length);

// Chooses the signatures of consecutive measures (the selection, in order).
std::vector<RestoreChoice> ChooseSignatures(const std::vector<RestoreInput>& measures);

// Restores measures first..last of the host the current session works on
// (simhost's current host, built from `score`), over the staves
// firstStaff..lastStaff (1-based): reads each measure the plug-in's way,
// chooses, and writes with the plug-in's writer. Returns one choice per
// measure. The global settings are as they were afterwards.
std::vector<RestoreChoice> RestoreMeasures(const musicxml::Score& score, int first, int last,
                                           int firstStaff, int lastStaff);

}  // namespace meterfix
