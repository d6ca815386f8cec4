#include "musicxml/reader.h"

#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "musicxml/partwise_reader.h"

namespace musicxml {

namespace {

// Where the second of two readers may start: a <part> start tag from the
// middle on. The first reader proves it: it must end the text before it at
// the root's level, so that the tag is not inside a comment, section or tag.
std::size_t SplitPoint(std::string_view bytes) {
  std::size_t at = bytes.size() / 2;
  for (int tries = 0; tries < 16; ++tries, ++at) {
    at = bytes.find("<part", at);
    if (at == std::string_view::npos || at == 0 || at + 5 >= bytes.size()) return 0;
    const char after = bytes[at + 5];
    const char before = bytes[at - 1];
    if ((after == ' ' || after == '\t' || after == '\r' || after == '\n' || after == '>') &&
        (before == '>' || before == ' ' || before == '\t' || before == '\r' || before == '\n')) {
      return at;
    }
  }
  return 0;
}

}  // namespace

Status ReadScore(std::string_view bytes, const SourceEncoding& encoding, const std::string& name,
                 const std::string& label, ScoreModel& model, std::size_t chunk,
                 std::size_t splitFrom) {
  // A large score is read by two parsers at once, the second from a part in
  // the middle on; anything unusual (an error, entities declared in the
  // document) and it is read again by one, which alone gives the messages.
  const std::size_t split =
      encoding.encoding == XmlText::Encoding::Utf8 && bytes.size() >= splitFrom ? SplitPoint(bytes)
                                                                                : 0;
  if (split > encoding.bomSize) {
    const std::string open = "<score-partwise>";
    const std::string close = "</score-partwise>";
    ScoreModel second;
    Status firstStatus;
    Status secondStatus;
    PartwiseReader first(bytes, encoding, name, model, firstStatus);
    PartwiseReader next(bytes, encoding, name, second, secondStatus);
    Status ignored;
    bool nextOk = false;
    bool nextOutOfMemory = false;
    std::thread worker;
    try {
      worker = std::thread([&]() {
        try {
          Status error;
          nextOk = next.Parse(open, split, bytes.size(), "", chunk, label, error);
        } catch (...) {
          nextOutOfMemory = true;
        }
      });
    } catch (const std::system_error&) {
      nextOk = false;  // no thread to be had: one parser reads it all
    }
    bool firstOk = false;
    try {
      if (worker.joinable())
        firstOk = first.Parse("", encoding.bomSize, split, close, chunk, label, ignored);
    } catch (...) {
      worker.join();
      throw;
    }
    if (worker.joinable()) worker.join();
    if (nextOutOfMemory) throw std::bad_alloc();
    if (firstOk && nextOk && first.CanJoin(next)) {
      first.Join(next);
      return first.Finish();
    }
    model = ScoreModel{};
  }
  Status status;
  PartwiseReader reader(bytes, encoding, name, model, status);
  Status error;
  if (!reader.Parse("", encoding.bomSize, bytes.size(), "", chunk, label, error)) return error;
  return reader.Finish();
}

}  // namespace musicxml
