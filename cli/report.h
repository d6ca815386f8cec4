// What one run did to one score, and its two renderings: the JSON contract
// for machines and an aligned table for people.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/musicxml.h"

namespace meterfix {

// A time signature as the plug-in's texts give it ("3+3+2" over "512").
struct SignatureText {
  std::string top;
  std::string bottom;
  bool operator==(const SignatureText&) const = default;
};

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
  std::string output;            // where the result was written; empty: nowhere
  bool outputRequested = false;  // -o, --in-place or --out-dir was given
};

// One group of a signature's texts: its counts, and its beat in EDUs (the
// durations a bottom chain gives the group, added up).
struct SignatureGroup {
  std::vector<std::int64_t> counts;
  std::int64_t beat = 0;
};
// The groups of "3+3+2" over "512", "1+1++3" over "1024+512" or "1024++512";
// false when the texts are not positive numbers that pair up.
bool SignatureGroups(const SignatureText& signature, std::vector<SignatureGroup>& out);

// Version 2 of the JSON report: {"schema": 2, "files": [...], "summary":
// {...}} for any number of inputs, failed ones included; ends with a newline.
constexpr int JsonSchema = 2;
std::string FormatJson(const std::vector<FileReport>& reports);
// Per file a summary line, then the changed measures (every measure with
// `allMeasures`) in musical terms, then messages and warnings.
std::string FormatText(const std::vector<FileReport>& reports, bool allMeasures = false);

// One self-contained HTML page: per file the summary, per changed measure
// its rhythm in notation, each layer under the old signature and under the
// new one, handed to `sink` in pieces as it is made (false from the sink
// stops it, and WriteHtml returns false).
bool WriteHtml(const std::vector<FileReport>& reports,
               const std::function<bool(std::string_view)>& sink);
// At most `limit` characters of `name` (UTF-8), with an ellipsis where it
// was cut.
std::string ShortName(std::string_view name, std::size_t limit = 60);

// Where the beats of a signature fall, in EDUs from the barline: "4" over
// "1024" beats every quarter, "3+3+2" over "512" at 0, 1536 and 3072.
// Empty when the texts cannot be read.
std::vector<int> BeatStarts(const SignatureText& signature);

// A signature as a musician reads it: "4/4", "3+3+2/8", "2/4+3/8"; the
// host's own units only where no such form exists.
std::string MusicalForm(const SignatureText& signature);
// The beats that make it up: "2 dotted quarters", "3+3+2 eighths"; empty
// when they have no name.
std::string BeatUnits(const SignatureText& signature);
// "4/4 -> 3+3+2/8", with the beat units where the forms alone read the same.
std::string DescribeChange(const SignatureState& before, const SignatureState& after);
// The text report's line for a kept change, without its indent: "measure 0
// [1]: no MusicXML form for a pickup's own signature: 2/4 (the file has 2/4
// shows 4/4)".
std::string KeptLine(const KeptChange& kept);

// The candidate nearest to a mistyped `word`, when one is near enough to
// suggest; empty otherwise.
std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates);

// `text` safe to show on a terminal: control characters (C0, DEL, C1), the
// bidirectional controls and marks (U+202A..U+202E, U+2066..U+2069, U+200E,
// U+200F, U+061C) and bytes that are not UTF-8 become \xHH escapes.
std::string Printable(std::string_view text);

// The usual reading of a signature where one exists: "3+3+2/8" for 3+3+2
// over 512, "6/8" for 2 over 1536; empty when the texts have no such form.
std::string ConventionalForm(const SignatureText& signature);

}  // namespace meterfix
