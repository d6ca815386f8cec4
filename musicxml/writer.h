// Writes the host's changed time signatures back into the score's own bytes:
// plans text edits at the spans the reader recorded, checks each edit on its
// own, and copies the source with the edits spliced in.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/meter.h"
#include "musicxml/model.h"
#include "musicxml/reader.h"
#include "simhost/simhost.h"

namespace musicxml {

// One change to the score's file: `length` bytes at `offset` become `text`.
struct Edit {
  // ExpandMeasure replaces the "/>" of an empty <measure/> with ">" and
  // its new content and end tag.
  enum class Kind { RewriteTime, InsertTimes, InsertAttributes, ReplaceAttributes, ExpandMeasure };
  Kind kind = Kind::RewriteTime;
  std::size_t offset = 0;
  std::size_t length = 0;
  std::string text;               // UTF-8
  std::optional<Meter> expected;  // what the fragment's governing <time> must read as
  std::string bytes;              // `text` in the file's encoding (set by FinishEdits)
};

// What the host holds for a measure after the plug-in ran.
struct HostState {
  bool read = false;             // false: no record, or one that cannot be decoded
  Meter signature;               // hidden included
  std::optional<Meter> display;  // the display signature, when in use
};

// The edits that make the file say what the host says, what reading the
// edited file gives, and what the host holds that the file cannot.
struct Plan {
  std::vector<Edit> edits;      // each checked on its own, in planning order
  Reading written;              // the file with the edits, as the reader would read it
  std::vector<HostState> host;  // per measure
  std::vector<std::vector<std::optional<Meter>>>
      staves;                                  // [staff slot][measure], independent parts
  std::map<std::size_t, std::string> reasons;  // measure index -> why the file cannot hold it
  std::map<std::pair<std::size_t, std::size_t>, std::string>
      staffReasons;  // (slot, measure) -> why
};

// The reading of the file as loaded (what BuildHost puts in).
Reading LoadedReading(const ScoreModel& model);

// Compares the host's records with what BuildHost stored and plans the
// edits that make the file say what the host says (musicxml/README.md,
// "Writing"). An edit that cannot be formed or does not check keeps its
// measure as written. `source` is the score's file; warnings get "name: "
// in front.
void PlanEdits(const ScoreModel& model, const simhost::Host& host, std::string_view source,
               const SourceEncoding& encoding, const std::string& name, Plan& plan,
               std::vector<std::string>& warnings);

// Whether the written reading gives the host the same records, pickups,
// independent parts and staff signatures as the file did when loaded.
bool SameForHost(const ScoreModel& model, const Reading& written);

// Where the host holds what `written` does not say, and why: measure
// records (staff 0) and the staff signatures of independent parts.
std::vector<KeptChange> KeptChanges(const ScoreModel& model, const Plan& plan);

// Checks one edit without reading the whole document again: its fragment
// parses on its own and holds the elements its kind says, its governing
// <time> reads back as expected, and the span it replaces or the point it
// goes in is what the reader saw there.
bool CheckEdit(std::string_view source, const SourceEncoding& encoding, const Edit& edit,
               std::string& error);
// Sorts checked edits, makes sure none overlaps another, and encodes them.
bool FinishEdits(std::string_view source, const SourceEncoding& encoding, std::vector<Edit>& edits,
                 std::string& error);

// `source` with the verified edits spliced in, handed to `sink` in pieces.
void SpliceEdits(std::string_view source, const std::vector<Edit>& edits,
                 const std::function<void(std::string_view)>& sink);

}  // namespace musicxml
