// The layers of one part in one measure as the host keeps them: every entry,
// rests included, belongs to a beam group; a layer starts at the barline and
// no group crosses it. musicxml/README.md explains the rule and its reasons.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "musicxml/meter.h"
#include "musicxml/musicxml.h"
#include "simhost/simhost.h"

namespace musicxml {

// The primary (level 1) beam of a note; hooks count as no beam.
enum class BeamMark { None, Begin, Continue, End };

// One note, rest or <forward> of a measure, in document order (chord notes
// other than the first are not items).
struct VoiceItem {
  std::string voice;  // empty: a <forward> without <voice>
  int staff = 1;      // 1-based staff of the part
  double start = 0;   // EDUs from the barline
  double end = 0;
  std::int32_t value = 0;  // the notated value in EDUs
  bool rest = false;
  bool forward = false;  // an invisible rest
  bool grace = false;
  BeamMark beam = BeamMark::None;
  EntryLook look;  // how it is written, for pictures
};

struct MeasureLayer {
  std::string voice;
  int staff = 1;  // the voice's home staff in this measure
  std::int32_t duration = 0;
  std::vector<simhost::Entry> entries;
  std::vector<EntryLook> looks;  // entry for entry; a gap's invisible rest included
  std::vector<BeamGroup> beams;  // the beams of this voice, in order
};

struct MeasureLayers {
  std::vector<MeasureLayer> layers;  // voices in order of first appearance
  int snapped = 0;                   // positions or ends moved onto a beat or the barline
};

// The beat starts the plug-in's check holds beam groups against (as
// ExpandCompositeStarts expands a signature): a plain signature (one group of
// one count) has one per beat; a composite one has one per element only, and
// a group of one count is one element, so 2/4+3/8 gives 0 and 2048 (not every
// quarter and eighth) and 3+3+2/8 gives 0, 1536 and 3072. The list ends
// at the first count or beat that is not positive.
std::vector<std::int64_t> CheckedBeatStarts(const Meter& meter);

// Builds the layers of one measure. `beats` are the beat starts of the
// signature the measure is kept under (ascending); `writtenLength` is that
// signature's length, or 0 where the measure has none to keep to.
MeasureLayers BuildLayers(const std::vector<VoiceItem>& items,
                          const std::vector<std::int64_t>& beats, std::int64_t writtenLength);

}  // namespace musicxml
