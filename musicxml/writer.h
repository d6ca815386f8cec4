// Writes the host's changed time signatures back into the score's own bytes:
// plans text edits at the spans the reader recorded, checks each edit on its
// own, and copies the source with the edits spliced in.
#pragma once

#include <cstddef>
#include <functional>
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
  enum class Kind { RewriteTime, InsertTimes, InsertAttributes, ReplaceAttributes };
  Kind kind = Kind::RewriteTime;
  std::size_t offset = 0;
  std::size_t length = 0;
  std::string text;               // UTF-8
  std::optional<Meter> expected;  // what the fragment's first <time> must read as
  std::string bytes;              // `text` in the file's encoding (set by VerifyEdits)
};

// Compares the host's records with what BuildHost stored and plans the
// edits that make the file say what the host says (musicxml/README.md,
// "Writing"). `source` is the score's file; warnings get "name: " in front.
void PlanEdits(const ScoreModel& model, const simhost::Host& host, std::string_view source,
               const SourceEncoding& encoding, const std::string& name, std::vector<Edit>& edits,
               std::vector<std::string>& warnings);

// Checks the edits without reading the whole document again: each fragment
// parses on its own and holds the elements its kind says, spelled signatures
// read back as planned, and each replaced span or insertion point in
// `source` is what the reader saw there. Sorts the edits and encodes them.
bool VerifyEdits(std::string_view source, const SourceEncoding& encoding, std::vector<Edit>& edits,
                 std::string& error);

// `source` with the verified edits spliced in, handed to `sink` in pieces.
void SpliceEdits(std::string_view source, const std::vector<Edit>& edits,
                 const std::function<void(std::string_view)>& sink);

}  // namespace musicxml
