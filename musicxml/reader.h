// Reads a score-partwise document in one pass with a streaming parser into a
// ScoreModel: the reading rules of musicxml/README.md, applied per measure as
// the parser reaches its end, plus the byte spans the writer needs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "musicxml/model.h"
#include "musicxml/musicxml.h"
#include "musicxml/text_io.h"

namespace musicxml {

// How a score file's bytes are read: its encoding and the length of its mark.
struct SourceEncoding {
  XmlText::Encoding encoding = XmlText::Encoding::Utf8;
  std::size_t bomSize = 0;
  const ByteMap* map = nullptr;  // for SingleByte
};

// UTF-8 (mark or none), UTF-16 (mark, or '<' in 16-bit units), ISO-8859-1
// and the single-byte encodings FindByteMap knows by declaration; UTF-32 and
// other declared encodings are refused (DeclaredEncodingOf).
bool DetectEncoding(std::string_view bytes, SourceEncoding& out, std::string& error);

constexpr std::size_t DefaultReadChunk = 1 << 20;
constexpr std::size_t DefaultSplitFrom = 2 << 20;

// Reads `bytes` (the score's own file) into an empty `model`, handing the
// parser `chunk` bytes at a time. XML errors name `label`, line and column;
// other failures and the warnings name `name`. UTF-8 scores of `splitFrom`
// bytes or more are read by two threads, with the same result.
Status ReadScore(std::string_view bytes, const SourceEncoding& encoding, const std::string& name,
                 const std::string& label, ScoreModel& model,
                 std::size_t chunk = DefaultReadChunk, std::size_t splitFrom = DefaultSplitFrom);

}  // namespace musicxml
