// One libexpat pass over a score-partwise document, or over a run of its
// parts, into a ScoreModel: the reading rules of musicxml/README.md, applied
// per measure as the parser reaches its end, plus the byte spans the writer
// needs. ReadScore (reader.h) runs one pass, or two at once on a large score.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "musicxml/model.h"
#include "musicxml/musicxml.h"
#include "musicxml/text_io.h"

namespace musicxml {

class PartwiseReader {
 public:
  // Reads from `bytes` into `model` (empty); warnings go to `status`, and
  // failures other than XML errors name `name`. The arguments outlive it.
  PartwiseReader(std::string_view bytes, const SourceEncoding& encoding, const std::string& name,
                 ScoreModel& model, Status& status);
  ~PartwiseReader();
  PartwiseReader(const PartwiseReader&) = delete;
  PartwiseReader& operator=(const PartwiseReader&) = delete;

  // Parses `prefix`, bytes [begin, end) and `suffix` as one document, handing
  // the parser `chunk` bytes at a time. On an XML error returns false with
  // `error` naming `label`, line and column. Throws std::bad_alloc when
  // memory runs out.
  bool Parse(std::string_view prefix, std::size_t begin, std::size_t end, std::string_view suffix,
             std::size_t chunk, const std::string& label, Status& error);
  // Whether `next`, read from a part start on with a stand-in root start tag,
  // continues this reader's parts exactly as one reader would have.
  bool CanJoin(const PartwiseReader& next) const;
  // Takes over the parts, staves and warnings `next` read.
  void Join(PartwiseReader& next);
  // The score from everything read, or the first failure.
  Status Finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace musicxml
