// Time signatures between MusicXML <time> contents and the host's records.
// A Meter is a list of groups, each a run of counts that share one beat
// duration: 6/8 is {[2] x 1536}, 3+2+2/8 is {[3,2,2] x 512}, 2/4+3/8 is
// {[2] x 1024, [3] x 512}. Plain signatures are one group of one count.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "simhost/simhost.h"

namespace musicxml {

struct MeterGroup {
  std::vector<std::int32_t> counts;
  std::int32_t beatDuration = 0;  // EDUs
  bool operator==(const MeterGroup&) const = default;
};

struct Meter {
  std::vector<MeterGroup> groups;  // empty: no signature
  bool hidden = false;
  bool operator==(const Meter&) const = default;
  bool SameBeats(const Meter& other) const { return groups == other.groups; }
  // Total length in EDUs (64-bit: counts and durations are unchecked here).
  std::int64_t Length() const;
};

// The parts of a <time> element that carry the signature.
struct TimeFields {
  std::vector<std::pair<std::string, std::string>> pairs;  // <beats>, <beat-type>
  std::string symbol;                                      // "" when absent
  bool senzaMisura = false;
  bool hidden = false;  // print-object="no"
};

enum class TimeRead { Signature, SenzaMisura, Invalid };

// Import mapping. Per pair: with symbol "dotted-note" and beat-type 8, counts
// that are all multiples of 3 become count/3 beats of 1536; with no symbol,
// a single count b over 8 with b a multiple of 3 and b >= 6 is b/3 beats of
// 1536; everything else is each count in beats of 4096/beat-type. Counts and
// durations must fit int16 and be positive.
TimeRead ReadTime(const TimeFields& fields, Meter& out);

// Export mapping: the pairs and symbol that ReadTime turns back into `meter`
// (tries no symbol, then "dotted-note", then "normal"). `exact` is false when
// no spelling reads back the same (beat durations that are no note value);
// the closest plain spelling is returned then.
struct TimeSpelling {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string symbol;
  bool exact = true;
};
TimeSpelling SpellMeter(const Meter& meter);

// The meter as the host writes its texts ("3+2++3" / "512++1024"), for
// messages.
std::string MeterText(const Meter& meter);

// Host fields of a meter: plain numbers, or chains created in `host`
// (CompositeTop groups with groupStart; CompositeBottom one slot per group).
struct HostSignature {
  std::int16_t beats = 0;
  std::int16_t beatDuration = 0;
  std::uint16_t flags = 0;  // CompositeTopFlag / CompositeBottomFlag
};
HostSignature StoreMeter(simhost::Host& host, const Meter& meter);

// Reads host fields back into groups. A plain bottom applies to every top
// group; a bottom chain gives one duration per group (a group's slots add
// up). False when the fields describe nothing usable.
bool DecodeSignature(const simhost::Host& host, std::int16_t beats, std::int16_t beatDuration,
                     std::uint16_t flags, Meter& out);

}  // namespace musicxml
