// What one run did to one score: the report that the text, JSON and HTML
// printers render.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "cli/signature.h"
#include "musicxml/musicxml.h"

namespace meterfix {

struct SignatureState {
  bool present = false;  // false: the score has no record for it
  SignatureText signature;
  bool hidden = false;
  std::optional<SignatureText> display;  // the display signature when in use
  bool operator==(const SignatureState&) const = default;
};

// One layer of a changed measure as the score writes it, for the picture:
// the host's entries (positions, values, group starts) and how each is written.
struct LayerPicture {
  int part = 0;         // index into FileReport::partNames
  int staffInPart = 1;  // 1-based
  musicxml::WrittenLayer layer;
};

// A measure as the written file has it: `changed` when reading the file
// back gives another record than before (what the host did that the file
// cannot hold is a KeptChange instead).
struct MeasureChange {
  int measure = 0;     // 1-based position in the score
  std::string number;  // the score's own number for it
  bool changed = false;
  SignatureState before;
  SignatureState after;
  std::vector<LayerPicture> layers;  // collected for changed measures when asked
  std::string evidence;  // --restore: what decided the change ("beaming" ...); else empty
};

struct StaffChange {
  int staff = 0;  // 1-based staff slot in score order
  int measure = 0;
  SignatureState before;
  SignatureState after;
};

// A signature the plug-in set that the written file does not hold: reading
// the file back gives `written`, not `plugin`.
struct KeptChange {
  int measure = 0;         // 1-based position in the score
  std::string number;      // the score's own number for it
  int staff = 0;           // 0: the measure's record; else the staff whose own signature it is
  SignatureState plugin;   // what the plug-in left in the host
  SignatureState written;  // what the file says
  std::string reason;      // "no MusicXML form for a pickup's own signature"
};

struct Message {
  std::string caption;
  std::string text;
};

struct FileReport {
  std::string file;
  std::string error;  // why the input failed; empty when it was processed
  bool changed = false;
  std::vector<MeasureChange> measures;
  std::vector<StaffChange> staves;
  std::vector<KeptChange> kept;  // what the plug-in set and the file cannot hold
  std::vector<Message> messages;
  std::vector<std::string> warnings;
  std::vector<std::string> partNames;  // of the parts in pictures, each once
  std::string output;                  // where the result was written; empty: nowhere
  bool outputRequested = false;        // -o, --in-place or --out-dir was given

  // The measures the written file changes.
  std::size_t ChangedMeasures() const {
    return static_cast<std::size_t>(std::count_if(
        measures.begin(), measures.end(), [](const MeasureChange& m) { return m.changed; }));
  }
};

}  // namespace meterfix
