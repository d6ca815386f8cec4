// Reads a score-partwise document with a streaming parser into a ScoreModel
// (partwise_reader.h has the pass itself): a UTF-8 score of 2 MiB or more by
// two parsers at once, the second from a <part> after the middle on, joined
// only where one parser would have read the same; anything else by one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "musicxml/model.h"
#include "musicxml/musicxml.h"
#include "musicxml/text_io.h"

namespace musicxml {

constexpr std::size_t DefaultReadChunk = 1 << 20;
constexpr std::size_t DefaultSplitFrom = 2 << 20;

// Reads `bytes` (the score's own file) into an empty `model`, handing the
// parser `chunk` bytes at a time. XML errors name `label`, line and column;
// other failures and the warnings name `name`. UTF-8 scores of `splitFrom`
// bytes or more are read by two threads, with the same result.
Status ReadScore(std::string_view bytes, const SourceEncoding& encoding, const std::string& name,
                 const std::string& label, ScoreModel& model, std::size_t chunk = DefaultReadChunk,
                 std::size_t splitFrom = DefaultSplitFrom);

}  // namespace musicxml
