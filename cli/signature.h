// A time signature in a report: the host's texts and the one value read
// from them, from which the musical form, the beat names and the beats of a
// picture all come.
#pragma once

#include <string>
#include <vector>

#include "musicxml/meter.h"

namespace meterfix {

// A time signature as the host's texts give it ("4" over "1024", "3+3+2"
// over "512", "1+1++3" over "1024++512"), and its groups, read from the
// texts once as musicxml::DecodeSignature reads the host's chains: "++"
// starts a group; within a group "+" separates the counts of the top and
// the slots of the bottom, whose durations add up to the group's beat; one
// bottom serves every group, and where the bottom has fewer groups than the
// top its last one serves the rest. `meter` has no groups where a part is
// not a positive number (of at most nine digits); its `hidden` is unused.
struct SignatureText {
  SignatureText() = default;
  SignatureText(std::string top, std::string bottom);

  std::string top;
  std::string bottom;
  musicxml::Meter meter;
  bool operator==(const SignatureText&) const = default;
};

// A signature as a musician reads it: "4/4", "3+3+2/8", "2/4+3/8"; the
// host's texts with " (host units)" where no such form exists.
std::string MusicalForm(const SignatureText& signature);

// The usual reading of a meter where one exists: "3+3+2/8" for 3+3+2 over
// 512 (one group keeps its counts), "6/8" for 2 over 1536, "2/4+3/8" for
// 1+1 over 1024 and 3 over 512 (several groups, each by its total); empty
// when a beat is no note value, plain or dotted, or a count passes 32767.
std::string ConventionalForm(const musicxml::Meter& meter);

// The beats that make a meter up: "2 dotted quarters", "3+3+2 eighths",
// "2 quarters, 3 eighths"; empty when a beat has no name.
std::string BeatUnits(const musicxml::Meter& meter);

// Where the beats a musician counts fall, in EDUs from the barline: a group
// of one count beats that many times (2/4+3/8 at 0, 1024, 2048, 2560 and
// 3072), a group of several counts once per count (3+3+2/8 at 0, 1536 and
// 3072). musicxml::BeatStarts, the grid the host checks beams against,
// differs where a meter has several groups: it gives one start per count
// (2/4+3/8 at 0 and 2048). Empty when a count passes 64 or a start would
// pass INT32_MAX.
std::vector<int> MusicalBeatStarts(const musicxml::Meter& meter);

}  // namespace meterfix
