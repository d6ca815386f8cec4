#include "musicxml/partwise_reader.h"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>
#include <vector>

#include "host/records.h"
#include "musicxml/layers.h"

namespace musicxml {

namespace {

constexpr double MaxEdus = 2147483647.0;

std::string Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return "";
  const auto last = s.find_last_not_of(" \t\r\n");
  return std::string(s.substr(first, last - first + 1));
}

// `s` without its surrounding whitespace, moved out: a name may be most of
// the file, so it is trimmed where it lies rather than copied.
std::string TakeTrimmed(std::string& s) {
  const auto last = s.find_last_not_of(" \t\r\n");
  s.erase(last == std::string::npos ? 0 : last + 1);
  s.erase(0, s.find_first_not_of(" \t\r\n"));
  // Text appended piece by piece may hold twice its length.
  if (s.capacity() > s.size() + s.size() / 4 + 64) s.shrink_to_fit();
  return std::move(s);
}

// A finite non-negative decimal; false for anything else.
bool ParseNumber(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !std::isfinite(v) || v < 0) return false;
  out = v;
  return true;
}

// An integer as DOM readers take one: leading blanks, a sign, decimal or
// 0x digits up to the first other character, saturated; `def` when absent.
int IntOf(bool present, std::string_view s, int def) {
  if (!present) return def;
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
  const bool negative = i < s.size() && s[i] == '-';
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  std::uint64_t v = 0;
  bool overflow = false;
  auto add = [&](std::uint64_t base, std::uint64_t digit) {
    if (v > (std::uint64_t{1} << 40))
      overflow = true;
    else
      v = v * base + digit;
  };
  if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    for (i += 2; i < s.size(); ++i) {
      const char c = s[i];
      if (c >= '0' && c <= '9')
        add(16, static_cast<std::uint64_t>(c - '0'));
      else if (c >= 'a' && c <= 'f')
        add(16, static_cast<std::uint64_t>(c - 'a' + 10));
      else if (c >= 'A' && c <= 'F')
        add(16, static_cast<std::uint64_t>(c - 'A' + 10));
      else
        break;
    }
  } else {
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
      add(10, static_cast<std::uint64_t>(s[i] - '0'));
  }
  if (negative) {
    return overflow || v > std::uint64_t{1} << 31 ? INT_MIN
                                                  : static_cast<int>(-static_cast<std::int64_t>(v));
  }
  return overflow || v > static_cast<std::uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(v);
}

std::int32_t NoteTypeValue(const std::string& type) {
  static const std::map<std::string, std::int32_t> values = {
      {"1024th", 4},   {"512th", 8},    {"256th", 16},   {"128th", 32},     {"64th", 64},
      {"32nd", 128},   {"16th", 256},   {"eighth", 512}, {"quarter", 1024}, {"half", 2048},
      {"whole", 4096}, {"breve", 8192}, {"long", 16384}, {"maxima", 32768}};
  const auto it = values.find(type);
  return it == values.end() ? 0 : it->second;
}

// A <tie> or <tied> type as look flags ("let-ring" and "continue" draw no tie).
std::uint8_t TieFlag(const char* type) {
  if (type == nullptr) return 0;
  return std::strcmp(type, "start") == 0  ? EntryLook::TieStart
         : std::strcmp(type, "stop") == 0 ? EntryLook::TieStop
                                          : 0;
}

LookBeam LookBeamOf(const std::string& kind) {
  return kind == "begin"           ? LookBeam::Begin
         : kind == "continue"      ? LookBeam::Continue
         : kind == "end"           ? LookBeam::End
         : kind == "forward hook"  ? LookBeam::ForwardHook
         : kind == "backward hook" ? LookBeam::BackwardHook
                                   : LookBeam::None;
}

// Most names differ in their first letter: compare that before the rest.
bool Is(const char* a, const char* b) { return a[0] == b[0] && std::strcmp(a, b) == 0; }

// A specified attribute's value, or null.
const char* Attribute(const char** atts, int specified, const char* name) {
  for (int i = 0; i + 1 < specified; i += 2) {
    if (Is(atts[i], name)) return atts[i + 1];
  }
  return nullptr;
}

// The first child element of a name and its first text, as a DOM reader's
// node.child(name).text() gives it.
struct Slot {
  bool present = false;
  std::string text;
};

// A child of <measure>, read until its end tag.
struct Child {
  enum class Kind { Attributes, Note, Backup, Forward, Other };
  Kind kind = Kind::Other;
  Slot duration, voice, staff, type, staves, divisions, beam;
  bool grace = false;
  bool chord = false;
  bool rest = false;
  bool beamSeen = false;
  int dots = 0;
  std::size_t openEnd = 0;
  // How a note is written, for pictures: beams of levels 2 to 8, the tuplet
  // and the ties (the note's element at depth 5 tells what a depth-6 one is in).
  Slot beams[7];
  std::uint8_t beamLevels = 0;  // bit n: a <beam number="n+2"> was read
  Slot actualNotes;
  int within = 0;  // 1 <notations>, 2 <time-modification>
  std::uint8_t lookFlags = 0;
  std::uint8_t tupletStarts = 0;
  std::uint8_t tupletStops = 0;
};

struct PartState {
  double divisions = 0;
  std::optional<Meter> current;
  int droppedVoiceMeasures = 0;
  int firstDropped = -1;
  int missingDurations = 0;
  int backupsBeforeStart = 0;
  int snappedMeasures = 0;
  int firstSnapped = -1;
  int staffCount = 1;
  std::vector<int> hiddenNumbers;  // <staff-details print-object="no"> of the first measure
};

// The cursor of one measure: divisions counted since the last change of
// <divisions> (or the barline), so that positions are sums of the written
// durations, exact for whole and decimal divisions alike, converted once.
struct MeasureState {
  double base = 0;
  double units = 0;
  double maxCursor = 0;
  std::vector<VoiceItem> items;
};

class Reader {
 public:
  Reader(std::string_view bytes, const SourceEncoding& encoding, const std::string& name,
         ScoreModel& model, Status& status)
      : bytes_(bytes), encoding_(encoding), name_(name), model_(model), status_(status) {}

  // Parses `prefix`, bytes [begin, end) and `suffix` as one document. On an
  // XML error returns false with `error` naming `label`, line and column.
  bool Parse(std::string_view prefix, std::size_t begin, std::size_t end, std::string_view suffix,
             std::size_t chunk, const std::string& label, Status& error);
  // Whether `next`, read from a part start on with a stand-in root start tag,
  // continues this reader's parts exactly as one reader would have.
  bool CanJoin(const Reader& next) const;
  void Join(Reader& next);
  // The score from everything read, or the first failure.
  Status Finish();

 private:
  static void OnStart(void* self, const XML_Char* name, const XML_Char** atts) {
    static_cast<Reader*>(self)->Guard([&](Reader& r) { r.Start(name, atts); });
  }
  static void OnEnd(void* self, const XML_Char*) {
    static_cast<Reader*>(self)->Guard([&](Reader& r) { r.End(); });
  }
  static void OnText(void* self, const XML_Char* s, int len) {
    Reader& r = *static_cast<Reader*>(self);
    if (r.capture_ != nullptr && r.depth_ == r.captureDepth_ && !r.captureDone_) {
      r.Guard([&](Reader& rr) { rr.capture_->text.append(s, static_cast<std::size_t>(len)); });
    }
  }
  static void OnComment(void* self, const XML_Char*) { static_cast<Reader*>(self)->Other(true); }
  static void OnPi(void* self, const XML_Char*, const XML_Char*) {
    static_cast<Reader*>(self)->Other(true);
  }
  static void OnCdata(void* self) { static_cast<Reader*>(self)->Other(false); }
  // Teaches libexpat a single-byte encoding by its map.
  static int OnUnknownEncoding(void* data, const XML_Char*, XML_Encoding* info) {
    const auto* map = static_cast<const ByteMap*>(data);
    if (map == nullptr) return XML_STATUS_ERROR;
    for (std::size_t b = 0; b < 256; ++b) info->map[b] = map->codes[b];
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
  }
  static void OnDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*,
                        int internalSubset) {
    static_cast<Reader*>(self)->internalSubset_ = internalSubset != 0;
  }

  // No exception may cross the parser's C frames: stop it and rethrow after.
  template <typename F>
  void Guard(F&& f) {
    if (outOfMemory_) return;
    try {
      f(*this);
    } catch (...) {
      outOfMemory_ = true;
      XML_StopParser(parser_, XML_FALSE);
    }
  }

  std::size_t Pos() const {
    return delta_ + static_cast<std::size_t>(XML_GetCurrentByteIndex(parser_));
  }
  std::size_t Count() const { return static_cast<std::size_t>(XML_GetCurrentByteCount(parser_)); }

  void Start(const char* name, const char** atts);
  void End();
  void Other(bool comment);
  void Markup(std::size_t at);
  void Capture(Slot& slot) {
    if (slot.present) return;
    slot.present = true;
    capture_ = &slot;
    captureDepth_ = depth_;
    captureDone_ = false;
    // Text is only wanted here: the parser skips the call everywhere else.
    XML_SetCharacterDataHandler(parser_, &OnText);
  }
  std::string Whitespace(std::size_t begin, std::size_t end) const;

  void StartChild(const char* name, std::size_t at, std::size_t openEnd);
  void ChildElement(const char* name, const char** atts, std::size_t at);
  void NoteDetail(const char* name, const char** atts);
  void EndChild(std::size_t at, std::size_t end, bool selfClosing);
  void EndTimeChild();
  void EndMeasure(std::size_t at, bool selfClosing);
  void EndPart();

  // Reading rules per child and per measure; false once a failure is recorded.
  bool ReadChild();
  void ReadMeasureEnd();
  void PartFail(const std::string& message) {
    if (partError_.empty()) partError_ = Located(name_, message);
    stopped_ = true;
  }
  void Warn(const std::string& text) { status_.warnings.push_back(Located(name_, text)); }
  double Cursor() const {
    return part_.divisions > 0 ? m_.base + m_.units * EdusPerQuarter / part_.divisions : m_.base;
  }
  bool AmountOf(double& amount);
  // How the note just read is written; `type` is its <type> in EDUs (0: none).
  EntryLook NoteLook(bool grace, std::int32_t type) const;
  bool Advance(double amount);
  int MeasureIndex() const { return static_cast<int>(partModel().measures.size()) - 1; }
  PartModel& partModel() const { return model_.parts.back(); }

  std::string_view bytes_;
  SourceEncoding encoding_;
  const std::string& name_;
  ScoreModel& model_;
  Status& status_;
  std::unique_ptr<std::remove_pointer_t<XML_Parser>, decltype(&XML_ParserFree)> owner_{
      nullptr, &XML_ParserFree};
  XML_Parser parser_ = nullptr;
  std::size_t delta_ = 0;  // the parser's byte index 0 in `bytes_`
  bool outOfMemory_ = false;
  bool internalSubset_ = false;

  int depth_ = 0;
  std::size_t lastMarkupEnd_ = 0;
  Slot* capture_ = nullptr;
  int captureDepth_ = 0;
  bool captureDone_ = false;

  std::string rootError_;
  bool rootOk_ = false;
  bool partListSeen_ = false;
  bool inPartList_ = false;
  bool inScorePart_ = false;
  std::string scorePartId_;
  Slot partName_;
  std::map<std::string, std::string> partNames_;

  bool inPart_ = false;
  bool inMeasure_ = false;
  bool inChild_ = false;
  bool inAttributesSite_ = false;
  TimeSite* time_ = nullptr;
  bool timeFirstSeen_ = false;
  bool timeHaveBeats_ = false;
  std::string timeBeats_;
  int timeChild_ = 0;  // 1 beats, 2 beat-type, 3 senza-misura
  Slot timeText_;

  Child child_;
  PartState part_;
  MeasureState m_;
  std::vector<std::vector<int>> hiddenByPart_;
  int totalStaves_ = 0;
  std::string staffError_;
  std::string partError_;
  bool stopped_ = false;  // a failure is recorded: positions and layers are no longer read
};

std::string Reader::Whitespace(std::size_t begin, std::size_t end) const {
  std::string out;
  if (begin >= end || end > bytes_.size()) return out;
  const bool wide = encoding_.encoding == XmlText::Encoding::Utf16LE ||
                    encoding_.encoding == XmlText::Encoding::Utf16BE;
  const bool little = encoding_.encoding == XmlText::Encoding::Utf16LE;
  const std::size_t step = wide ? 2 : 1;
  for (std::size_t i = begin; i + step <= end; i += step) {
    const auto a = static_cast<unsigned char>(bytes_[i]);
    const unsigned c =
        !wide    ? a
        : little ? a | static_cast<unsigned>(static_cast<unsigned char>(bytes_[i + 1])) << 8
                 : a << 8 | static_cast<unsigned char>(bytes_[i + 1]);
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return std::string();
    out += static_cast<char>(c);
  }
  return out;
}

// Every markup event ends a text child, and the first one inside a <time>
// decides whether its first child is whitespace.
void Reader::Markup(std::size_t at) {
  if (capture_ != nullptr && depth_ == captureDepth_ && !capture_->text.empty())
    captureDone_ = true;
  if (time_ != nullptr && depth_ == 5 && !timeFirstSeen_) {
    timeFirstSeen_ = true;
    time_->innerWs = Whitespace(lastMarkupEnd_, at);
  }
}

void Reader::Other(bool comment) {
  Guard([comment](Reader& r) {
    const std::size_t at = r.Pos();
    r.Markup(at);
    if (r.inMeasure_ && r.Count() == 0) r.partModel().measures.back().located = false;
    // A comment inside a <time> stays where the element is rewritten.
    if (comment && r.time_ != nullptr && r.depth_ == 5 && r.Count() > 0) {
      r.time_->comments.push_back(TimeComment{Span{at, at + r.Count()}, r.time_->children});
    }
    r.lastMarkupEnd_ = at + r.Count();
  });
}

void Reader::Start(const char* name, const char** atts) {
  const std::size_t at = Pos();
  const std::size_t count = Count();
  const std::size_t openEnd = at + count;
  Markup(at);
  ++depth_;
  const int specified = XML_GetSpecifiedAttributeCount(parser_);
  if (depth_ == 1) {
    if (Is(name, "score-partwise")) {
      rootOk_ = true;
    } else if (Is(name, "score-timewise")) {
      rootError_ = "score-timewise documents are not supported; convert to score-partwise first";
    } else {
      rootError_ = std::string("not a MusicXML score (root element <") + name + ">)";
    }
  } else if (!rootOk_) {
  } else if (depth_ == 2) {
    if (Is(name, "part-list") && !partListSeen_) {
      partListSeen_ = inPartList_ = true;
    } else if (Is(name, "part")) {
      inPart_ = true;
      model_.parts.emplace_back();
      const char* id = Attribute(atts, specified, "id");
      model_.parts.back().id = id != nullptr ? id : "";
      model_.parts.back().firstStaff = totalStaves_;
      part_ = PartState{};
    }
  } else if (depth_ == 3) {
    if (inPartList_ && Is(name, "score-part")) {
      inScorePart_ = true;
      const char* id = Attribute(atts, specified, "id");
      scorePartId_ = id != nullptr ? id : "";
      partName_ = Slot{};
    } else if (inPart_ && Is(name, "measure")) {
      inMeasure_ = true;
      PartModel& part = partModel();
      part.measures.emplace_back();
      MeasureSite& site = part.measures.back();
      const char* number = Attribute(atts, specified, "number");
      if (number != nullptr) site.number = number;
      const char* implicit = Attribute(atts, specified, "implicit");
      site.implicit = implicit != nullptr && Is(implicit, "yes");
      site.located = count > 0;
      site.openEnd = openEnd;
      m_.base = m_.units = m_.maxCursor = 0;
      m_.items.clear();
    }
  } else if (depth_ == 4) {
    if (inScorePart_ && Is(name, "part-name")) {
      Capture(partName_);
    } else if (inMeasure_) {
      if (count == 0) partModel().measures.back().located = false;
      StartChild(name, at, openEnd);
    }
  } else if (inChild_) {
    if (count == 0) partModel().measures.back().located = false;
    if (depth_ == 5) {
      ChildElement(name, atts, at);
    } else if (depth_ == 6 && time_ != nullptr) {
      timeChild_ = Is(name, "beats")          ? 1
                   : Is(name, "beat-type")    ? 2
                   : Is(name, "senza-misura") ? 3
                                              : 0;
      timeText_ = Slot{};
      if (timeChild_ != 0) Capture(timeText_);
    } else if (depth_ == 6 && child_.kind == Child::Kind::Note) {
      NoteDetail(name, atts);
    }
  }
  lastMarkupEnd_ = openEnd;
}

void Reader::StartChild(const char* name, std::size_t at, std::size_t openEnd) {
  inChild_ = true;
  child_ = Child{};
  child_.openEnd = openEnd;
  child_.kind = Is(name, "note")         ? Child::Kind::Note
                : Is(name, "backup")     ? Child::Kind::Backup
                : Is(name, "forward")    ? Child::Kind::Forward
                : Is(name, "attributes") ? Child::Kind::Attributes
                                         : Child::Kind::Other;
  MeasureSite& site = partModel().measures.back();
  if (site.hasTimed) return;
  if (child_.kind == Child::Kind::Note || child_.kind == Child::Kind::Backup ||
      child_.kind == Child::Kind::Forward) {
    site.hasTimed = true;
    site.timedAt = at;
    site.timedWs = Whitespace(lastMarkupEnd_, at);
  } else if (child_.kind == Child::Kind::Attributes && !site.attributes) {
    site.attributes.emplace();
    site.attributes->span.begin = at;
    site.attributes->wsBefore = Whitespace(lastMarkupEnd_, at);
    inAttributesSite_ = true;
  }
}

void Reader::NoteDetail(const char* name, const char** atts) {
  const int specified = XML_GetSpecifiedAttributeCount(parser_);
  if (child_.within == 2 && Is(name, "actual-notes")) {
    Capture(child_.actualNotes);
  } else if (child_.within == 1 && Is(name, "tied")) {
    child_.lookFlags |= TieFlag(Attribute(atts, specified, "type"));
  } else if (child_.within == 1 && Is(name, "tuplet")) {
    const char* type = Attribute(atts, specified, "type");
    if (type != nullptr && Is(type, "start")) {
      if (child_.tupletStarts < 8) ++child_.tupletStarts;
      const char* bracket = Attribute(atts, specified, "bracket");
      if (bracket != nullptr && Is(bracket, "no")) child_.lookFlags |= EntryLook::NoBracket;
    } else if (type != nullptr && Is(type, "stop") && child_.tupletStops < 8) {
      ++child_.tupletStops;
    }
  }
}

void Reader::ChildElement(const char* name, const char** atts, std::size_t at) {
  const int specified = XML_GetSpecifiedAttributeCount(parser_);
  if (Is(name, "staff")) Capture(child_.staff);
  switch (child_.kind) {
    case Child::Kind::Attributes: {
      if (inAttributesSite_) {
        AttributesSite& a = *partModel().measures.back().attributes;
        if (!a.hasFirstElement) {
          a.hasFirstElement = true;
          a.firstElementWs = Whitespace(lastMarkupEnd_, at);
        }
        if (!a.hasBefore && !Is(name, "footnote") && !Is(name, "level") && !Is(name, "divisions") &&
            !Is(name, "key")) {
          a.hasBefore = true;
          a.beforeAt = at;
          a.beforeWs = Whitespace(lastMarkupEnd_, at);
        }
      }
      if (Is(name, "divisions")) {
        Capture(child_.divisions);
      } else if (Is(name, "staves")) {
        Capture(child_.staves);
      } else if (Is(name, "time")) {
        MeasureSite& site = partModel().measures.back();
        site.times.emplace_back();
        time_ = &site.times.back();
        time_->span.begin = at;
        time_->openEnd = at + Count();
        time_->located = Count() > 0;
        for (int i = 0; i + 1 < specified; i += 2)
          time_->attributes.emplace_back(atts[i], atts[i + 1]);
        const char* symbol = Attribute(atts, specified, "symbol");
        if (symbol != nullptr) time_->fields.symbol = symbol;
        const char* print = Attribute(atts, specified, "print-object");
        time_->fields.hidden = print != nullptr && Is(print, "no");
        const char* number = Attribute(atts, specified, "number");
        time_->number = IntOf(number != nullptr, number != nullptr ? number : "", 0);
        timeFirstSeen_ = timeHaveBeats_ = false;
        timeBeats_.clear();
      } else if (Is(name, "staff-details") && MeasureIndex() == 0) {
        const char* print = Attribute(atts, specified, "print-object");
        if (print != nullptr && Is(print, "no")) {
          const char* number = Attribute(atts, specified, "number");
          part_.hiddenNumbers.push_back(
              IntOf(number != nullptr, number != nullptr ? number : "", 0));
        }
      }
      break;
    }
    case Child::Kind::Note:
      if (Is(name, "duration"))
        Capture(child_.duration);
      else if (Is(name, "voice"))
        Capture(child_.voice);
      else if (Is(name, "type"))
        Capture(child_.type);
      else if (Is(name, "grace"))
        child_.grace = true;
      else if (Is(name, "chord"))
        child_.chord = true;
      else if (Is(name, "rest")) {
        child_.rest = true;
        const char* measure = Attribute(atts, specified, "measure");
        if (measure != nullptr && Is(measure, "yes")) child_.lookFlags |= EntryLook::MeasureRest;
      } else if (Is(name, "dot")) {
        ++child_.dots;
      } else if (Is(name, "beam")) {
        const char* number = Attribute(atts, specified, "number");
        const int level = IntOf(number != nullptr, number != nullptr ? number : "", 1);
        if (level == 1 && !child_.beamSeen) {
          child_.beamSeen = true;
          Capture(child_.beam);
        } else if (level >= 2 && level <= 8 && (child_.beamLevels & (1u << (level - 2))) == 0) {
          child_.beamLevels = static_cast<std::uint8_t>(child_.beamLevels | 1u << (level - 2));
          Capture(child_.beams[level - 2]);
        }
      } else if (Is(name, "tie")) {
        child_.lookFlags |= TieFlag(Attribute(atts, specified, "type"));
      } else {
        child_.within = Is(name, "notations") ? 1 : Is(name, "time-modification") ? 2 : 0;
      }
      break;
    case Child::Kind::Backup:
    case Child::Kind::Forward:
      if (Is(name, "duration"))
        Capture(child_.duration);
      else if (Is(name, "voice"))
        Capture(child_.voice);
      break;
    case Child::Kind::Other:
      break;
  }
}

void Reader::End() {
  std::size_t at = Pos();
  const std::size_t count = Count();
  const bool selfClosing = count == 0;
  if (selfClosing) at = lastMarkupEnd_;
  const std::size_t end = at + count;
  Markup(at);
  if (rootOk_) {
    if (depth_ == 6 && time_ != nullptr) {
      ++time_->children;
      EndTimeChild();
    } else if (depth_ == 5 && time_ != nullptr) {
      time_->span.end = end;
      time_->closeWs = Whitespace(lastMarkupEnd_, at);
      if (timeHaveBeats_) time_->fields.pairs.emplace_back(timeBeats_, "");
      time_ = nullptr;
    } else if (depth_ == 4 && inChild_) {
      EndChild(at, end, selfClosing);
    } else if (depth_ == 3 && inMeasure_) {
      EndMeasure(at, selfClosing);
    } else if (depth_ == 3 && inScorePart_) {
      partNames_[scorePartId_] = TakeTrimmed(partName_.text);
      inScorePart_ = false;
    } else if (depth_ == 2 && inPart_) {
      EndPart();
    } else if (depth_ == 2) {
      inPartList_ = false;
    }
  }
  if (capture_ != nullptr && depth_ == captureDepth_) {
    capture_ = nullptr;
    XML_SetCharacterDataHandler(parser_, nullptr);
  }
  --depth_;
  lastMarkupEnd_ = end;
}

void Reader::EndTimeChild() {
  if (timeChild_ == 1) {
    if (timeHaveBeats_) time_->fields.pairs.emplace_back(timeBeats_, "");
    timeBeats_ = timeText_.text;
    timeHaveBeats_ = true;
  } else if (timeChild_ == 2) {
    time_->fields.pairs.emplace_back(timeHaveBeats_ ? timeBeats_ : std::string(), timeText_.text);
    timeHaveBeats_ = false;
  } else if (timeChild_ == 3) {
    time_->fields.senzaMisura = true;
  }
  timeChild_ = 0;
}

void Reader::EndChild(std::size_t at, std::size_t end, bool selfClosing) {
  inChild_ = false;
  if (inAttributesSite_) {
    inAttributesSite_ = false;
    AttributesSite& a = *partModel().measures.back().attributes;
    a.span.end = end;
    a.hasChildren = !selfClosing && at > child_.openEnd;
    a.closeWs = Whitespace(lastMarkupEnd_, at);
    a.closeAt = a.closeWs.empty() ? at : lastMarkupEnd_;
  }
  // Staff counts come first, so they are read even after a failure.
  int value = 0;
  if (child_.kind == Child::Kind::Attributes && child_.staves.present) {
    value = IntOf(true, child_.staves.text, 1);
  } else if (child_.staff.present) {
    value = IntOf(true, child_.staff.text, 1);
  }
  if (value > MaxStaves || value < 0) {
    if (staffError_.empty()) {
      staffError_ = name_ + ": part " + partModel().id + ": staff number " + std::to_string(value) +
                    " out of range (at most " + std::to_string(MaxStaves) + " staves)";
    }
    stopped_ = true;
    return;
  }
  part_.staffCount = std::max(part_.staffCount, value);
  if (!stopped_ && MeasureIndex() < MaxMeasures) ReadChild();
}

EntryLook Reader::NoteLook(bool grace, std::int32_t type) const {
  EntryLook look;
  look.type = type;
  look.dots = static_cast<std::uint8_t>(std::min(child_.dots, 8));
  look.flags = child_.lookFlags;
  if (child_.rest) look.flags |= EntryLook::Rest;
  if (grace) look.flags |= EntryLook::Grace;
  if (child_.beamSeen) look.beams = static_cast<std::uint32_t>(LookBeamOf(Trim(child_.beam.text)));
  for (int level = 2; level <= 8; ++level) {
    if ((child_.beamLevels & (1u << (level - 2))) == 0) continue;
    look.beams |= static_cast<std::uint32_t>(LookBeamOf(Trim(child_.beams[level - 2].text)))
                  << (3 * (level - 1));
  }
  const int actual = child_.actualNotes.present ? IntOf(true, child_.actualNotes.text, 0) : 0;
  look.tupletNumber = static_cast<std::uint16_t>(std::clamp(actual, 0, 65535));
  look.tupletStarts = child_.tupletStarts;
  look.tupletStops = child_.tupletStops;
  return look;
}

bool Reader::AmountOf(double& amount) {
  amount = 0;
  const int m = MeasureIndex();
  const std::string text = Trim(child_.duration.text);
  if (!text.empty() && !ParseNumber(text, amount)) {
    PartFail(Where(partModel(), m) + ": invalid <duration> \"" + text + "\"");
    return false;
  }
  if (amount != 0 && part_.divisions <= 0) {
    PartFail(Where(partModel(), m) + ": a duration comes before any <divisions>");
    return false;
  }
  const double edus = amount == 0 ? 0 : amount * EdusPerQuarter / part_.divisions;
  if (!std::isfinite(edus) || edus > MaxEdus) {
    PartFail(Where(partModel(), m) + ": duration out of range (more than 2^31 EDUs)");
    return false;
  }
  return true;
}

bool Reader::Advance(double amount) {
  m_.units += amount;
  const double at = Cursor();
  if (!std::isfinite(at) || at > MaxEdus) {
    PartFail(Where(partModel(), MeasureIndex()) + ": measure longer than 2^31 EDUs");
    return false;
  }
  m_.maxCursor = std::max(m_.maxCursor, at);
  return true;
}

bool Reader::ReadChild() {
  const int m = MeasureIndex();
  auto staffOf = [&]() {
    return std::clamp(IntOf(child_.staff.present, child_.staff.text, 1), 1, MaxStaves);
  };
  switch (child_.kind) {
    case Child::Kind::Attributes:
      if (child_.divisions.present) {
        double d = 0;
        const std::string text = Trim(child_.divisions.text);
        if (!ParseNumber(text, d) || d <= 0) {
          PartFail(Where(partModel(), m) + ": invalid <divisions> \"" + text + "\"");
          return false;
        }
        m_.base = Cursor();
        m_.units = 0;
        part_.divisions = d;
      }
      return true;
    case Child::Kind::Backup: {
      double amount = 0;
      if (!AmountOf(amount)) return false;
      m_.units -= amount;
      if (Cursor() < -0.5) ++part_.backupsBeforeStart;
      if (Cursor() < 0) {
        m_.base = 0;
        m_.units = 0;
      }
      return true;
    }
    case Child::Kind::Forward: {
      double amount = 0;
      if (!AmountOf(amount)) return false;
      VoiceItem item;
      item.start = Cursor();
      if (!Advance(amount)) return false;
      item.end = Cursor();
      item.voice = child_.voice.present ? Trim(child_.voice.text) : std::string();
      item.staff = staffOf();
      item.value = static_cast<std::int32_t>(std::llround(item.end - item.start));
      item.rest = true;
      item.forward = true;
      item.look.flags = EntryLook::Rest | EntryLook::Invisible;
      if (item.end > item.start) m_.items.push_back(std::move(item));
      return true;
    }
    case Child::Kind::Note: {
      const bool grace = child_.grace;
      double amount = 0;
      if (!grace) {
        if (!child_.duration.present) ++part_.missingDurations;
        if (!AmountOf(amount)) return false;
      }
      if (child_.chord) {
        // One entry per chord, from its first note; a tie on any of its notes shows.
        if (!m_.items.empty())
          m_.items.back().look.flags |=
              child_.lookFlags & (EntryLook::TieStart | EntryLook::TieStop);
        return true;
      }
      VoiceItem item;
      item.start = Cursor();
      if (!grace && !Advance(amount)) return false;
      item.end = grace ? item.start : Cursor();
      item.voice = child_.voice.present ? Trim(child_.voice.text) : std::string("1");
      if (item.voice.empty()) item.voice = "1";
      item.staff = staffOf();
      item.grace = grace;
      item.rest = child_.rest;
      std::int32_t value = NoteTypeValue(Trim(child_.type.text));
      item.look = NoteLook(grace, value);
      if (value > 0) {
        std::int32_t add = value;
        for (int dots = 0; dots < child_.dots && dots < 8; ++dots) {
          add /= 2;
          value += add;
        }
      } else {
        value = static_cast<std::int32_t>(std::llround(item.end - item.start));
      }
      item.value = value;
      if (child_.beamSeen) {
        const std::string kind = Trim(child_.beam.text);
        item.beam = kind == "begin"      ? BeamMark::Begin
                    : kind == "continue" ? BeamMark::Continue
                    : kind == "end"      ? BeamMark::End
                                         : BeamMark::None;  // a hook is no beam
      }
      m_.items.push_back(std::move(item));
      return true;
    }
    case Child::Kind::Other:
      return true;
  }
  return true;
}

void Reader::EndMeasure(std::size_t at, bool selfClosing) {
  inMeasure_ = false;
  PartModel& part = partModel();
  MeasureSite& site = part.measures.back();
  site.closeWs = Whitespace(lastMarkupEnd_, at);
  site.closeAt = selfClosing ? NoOffset : site.closeWs.empty() ? at : lastMarkupEnd_;
  if (!stopped_ && MeasureIndex() < MaxMeasures) ReadMeasureEnd();
}

void Reader::ReadMeasureEnd() {
  PartModel& part = partModel();
  const int m = MeasureIndex();
  const MeasureSite& site = part.measures.back();
  const std::int64_t length = std::llround(m_.maxCursor);
  part.lengths.push_back(length);

  // The first <time> for the part's first staff (or for all) governs.
  const TimeSite* governing = nullptr;
  for (const TimeSite& t : site.times) {
    if (t.number == 0 || t.number == 1) {
      governing = &t;
      break;
    }
  }
  if (governing == nullptr && !site.times.empty()) governing = &site.times.front();
  std::optional<Meter>& current = part_.current;
  if (governing != nullptr) {
    Meter meter;
    const TimeRead read = ReadTime(governing->fields, meter);
    if (read == TimeRead::Signature) {
      current = meter;
    } else {
      if (read == TimeRead::Invalid) {
        Warn(Where(part, m) +
             ": time signature not understood; the measure is read as having none");
      }
      current.reset();
    }
  }
  part.meters.emplace_back();
  part.synthesized.push_back(true);
  if (current) {
    part.meters.back() = *current;
    // print-object="no" hides that <time> only; later measures show none.
    part.meters.back().hidden = governing != nullptr && current->hidden;
    part.synthesized.back() = false;
  }

  // Entries no beam joins are read by the beats of the signature the
  // measure is kept under: a pickup's and an unsigned measure's own length.
  const bool pickup = current && site.implicit && length > 0 && length < current->Length();
  const bool own = !current || pickup;
  const Meter grid = !current ? SynthesizedMeter(length)
                     : pickup ? PickupMeter(length, *current)
                              : *current;
  MeasureLayers built = BuildLayers(m_.items, CheckedBeatStarts(grid), own ? 0 : current->Length());
  m_.items.clear();
  if (built.snapped > 0) {
    if (part_.firstSnapped < 0) part_.firstSnapped = m;
    ++part_.snappedMeasures;
  }
  bool dropped = false;
  const auto mi = static_cast<std::size_t>(m);
  for (MeasureLayer& layer : built.layers) {
    const auto staff = static_cast<std::size_t>(layer.staff - 1);
    if (part.cells.size() <= staff) part.cells.resize(staff + 1);
    std::vector<CellModel>& row = part.cells[staff];
    if (row.size() <= mi) row.resize(mi + 1);
    CellModel& cell = row[mi];
    if (cell.layers.size() >= 4) {
      dropped = true;
      continue;
    }
    if (layer.entries.size() > static_cast<std::size_t>(MaxLayerEntries)) {
      PartFail(Where(part, m) + ": more than " + std::to_string(MaxLayerEntries) +
               " notes in one voice");
      return;
    }
    cell.beams.insert(cell.beams.end(), layer.beams.begin(), layer.beams.end());
    cell.layers.push_back(
        LayerModel{layer.voice, layer.duration, std::move(layer.entries), std::move(layer.looks)});
  }
  if (dropped) {
    if (part_.firstDropped < 0) part_.firstDropped = m;
    ++part_.droppedVoiceMeasures;
  }
}

void Reader::EndPart() {
  inPart_ = false;
  PartModel& part = partModel();
  part.staffCount = part_.staffCount;
  hiddenByPart_.push_back(part_.hiddenNumbers);
  if (staffError_.empty()) {
    totalStaves_ += part.staffCount;
    if (totalStaves_ > MaxStaves) {
      staffError_ = name_ + ": the score has more than " + std::to_string(MaxStaves) +
                    " staves; at most " + std::to_string(MaxStaves) + " are supported";
      stopped_ = true;
    }
  }
  if (stopped_) return;
  if (part_.droppedVoiceMeasures > 0) {
    Warn("part " + part.id + ": more than four voices on a staff in " +
         std::to_string(part_.droppedVoiceMeasures) + " measure(s), first in measure " +
         std::to_string(part_.firstDropped + 1) + "; the further voices are left out");
  }
  if (part_.missingDurations > 0) {
    Warn("part " + part.id + ": " + std::to_string(part_.missingDurations) +
         " note(s) without <duration> read as taking no time");
  }
  if (part_.backupsBeforeStart > 0) {
    Warn("part " + part.id + ": " + std::to_string(part_.backupsBeforeStart) +
         " <backup>(s) reach before the measure's start; stopped at the start");
  }
  if (part_.snappedMeasures > 0) {
    Warn("part " + part.id +
         ": durations that miss the beat or the barline by a rounding error in " +
         std::to_string(part_.snappedMeasures) + " measure(s), first in measure " +
         std::to_string(part_.firstSnapped + 1) + "; read as reaching it");
  }
}

Status Reader::Finish() {
  Status result = status_;
  auto fail = [&](const std::string& message) {
    result = Status{};
    result.ok = false;
    result.message = message;
    return result;
  };
  if (!rootError_.empty()) return fail(name_ + ": " + rootError_);
  std::vector<PartModel>& parts = model_.parts;
  if (parts.empty()) return fail(name_ + ": the score has no parts");
  model_.measureCount = static_cast<int>(parts[0].measures.size());
  for (const PartModel& part : parts) {
    if (static_cast<int>(part.measures.size()) != model_.measureCount) {
      return fail(name_ + ": parts of unequal length: part " + parts[0].id + " has " +
                  std::to_string(model_.measureCount) + " measures, part " + part.id + " has " +
                  std::to_string(part.measures.size()));
    }
  }
  if (model_.measureCount > MaxMeasures) {
    return fail(name_ + ": " + std::to_string(model_.measureCount) + " measures; at most " +
                std::to_string(MaxMeasures) + " are supported");
  }
  if (!staffError_.empty()) return fail(staffError_);
  if (!partError_.empty()) return fail(partError_);

  const auto count = static_cast<std::size_t>(model_.measureCount);
  model_.staves.clear();
  // A name is copied only where several staves show it; its last staff
  // takes the one read.
  std::map<std::string, std::size_t> lastPartOf;
  for (std::size_t p = 0; p < parts.size(); ++p) lastPartOf[parts[p].id] = p;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    PartModel& part = parts[p];
    std::string& name = partNames_[part.id];
    part.cells.resize(static_cast<std::size_t>(part.staffCount));
    for (auto& row : part.cells) row.resize(count);
    for (int s = 1; s <= part.staffCount; ++s) {
      StaffInfo info;
      info.staff = static_cast<std::int16_t>(model_.staves.size() + 1);
      info.partId = part.id;
      info.partName = lastPartOf[part.id] == p && s == part.staffCount ? std::move(name) : name;
      info.staffInPart = s;
      for (int number : hiddenByPart_[p]) info.hidden = info.hidden || number == 0 || number == s;
      model_.staves.push_back(std::move(info));
    }
  }
  FinishModel(model_);
  return result;
}

bool Reader::Parse(std::string_view prefix, std::size_t begin, std::size_t end,
                   std::string_view suffix, std::size_t chunk, const std::string& label,
                   Status& error) {
  const char* encodingName = "UTF-8";
  switch (encoding_.encoding) {
    case XmlText::Encoding::Utf8:
      break;
    case XmlText::Encoding::Latin1:
      encodingName = "ISO-8859-1";
      break;
    case XmlText::Encoding::Utf16LE:
      encodingName = "UTF-16LE";
      break;
    case XmlText::Encoding::Utf16BE:
      encodingName = "UTF-16BE";
      break;
    case XmlText::Encoding::SingleByte:
      encodingName = encoding_.map->name.c_str();
      break;
  }
  owner_.reset(XML_ParserCreate(encodingName));
  if (!owner_) throw std::bad_alloc();
  parser_ = owner_.get();
  if (encoding_.encoding == XmlText::Encoding::SingleByte) {
    XML_SetUnknownEncodingHandler(parser_, &OnUnknownEncoding, const_cast<ByteMap*>(encoding_.map));
  }
  XML_SetUserData(parser_, this);
  XML_SetElementHandler(parser_, &OnStart, &OnEnd);
  XML_SetCommentHandler(parser_, &OnComment);
  XML_SetProcessingInstructionHandler(parser_, &OnPi);
  XML_SetCdataSectionHandler(parser_, &OnCdata, &OnCdata);
  XML_SetStartDoctypeDeclHandler(parser_, &OnDoctype);
  delta_ = begin - prefix.size();
  lastMarkupEnd_ = begin;

  chunk = std::clamp<std::size_t>(chunk, 1, 1 << 30);
  auto feed = [&](const char* data, std::size_t n, bool last) {
    const XML_Status parsed = XML_Parse(parser_, data, static_cast<int>(n), last);
    if (outOfMemory_) throw std::bad_alloc();
    if (parsed == XML_STATUS_OK) return true;
    error = Status{};
    error.ok = false;
    error.message = label + ":" + std::to_string(XML_GetCurrentLineNumber(parser_)) +
                    ": XML error: " + XML_ErrorString(XML_GetErrorCode(parser_)) + " (column " +
                    std::to_string(XML_GetCurrentColumnNumber(parser_) + 1) + ")";
    return false;
  };
  if (!prefix.empty() && !feed(prefix.data(), prefix.size(), false)) return false;
  for (std::size_t pos = begin;;) {
    const std::size_t n = std::min(chunk, end - pos);
    const bool last = pos + n == end && suffix.empty();
    if (!feed(bytes_.data() + pos, n, last)) return false;
    pos += n;
    if (pos == end) break;
  }
  return suffix.empty() || feed(suffix.data(), suffix.size(), true);
}

bool Reader::CanJoin(const Reader& next) const {
  return rootOk_ && !internalSubset_ && !inPart_ && depth_ == 0 && staffError_.empty() &&
         partError_.empty() && !stopped_ && next.rootOk_ && !next.partListSeen_ &&
         next.staffError_.empty() && next.partError_.empty() && !next.stopped_ &&
         totalStaves_ + next.totalStaves_ <= MaxStaves;
}

void Reader::Join(Reader& next) {
  for (PartModel& part : next.model_.parts) {
    part.firstStaff += totalStaves_;
    model_.parts.push_back(std::move(part));
  }
  totalStaves_ += next.totalStaves_;
  for (auto& hidden : next.hiddenByPart_) hiddenByPart_.push_back(std::move(hidden));
  for (auto& warning : next.status_.warnings) status_.warnings.push_back(std::move(warning));
}

}  // namespace

struct PartwiseReader::Impl {
  Impl(std::string_view bytes, const SourceEncoding& encoding, const std::string& name,
       ScoreModel& model, Status& status)
      : reader(bytes, encoding, name, model, status) {}
  Reader reader;
};

PartwiseReader::PartwiseReader(std::string_view bytes, const SourceEncoding& encoding,
                               const std::string& name, ScoreModel& model, Status& status)
    : impl_(std::make_unique<Impl>(bytes, encoding, name, model, status)) {}

PartwiseReader::~PartwiseReader() = default;

bool PartwiseReader::Parse(std::string_view prefix, std::size_t begin, std::size_t end,
                           std::string_view suffix, std::size_t chunk, const std::string& label,
                           Status& error) {
  return impl_->reader.Parse(prefix, begin, end, suffix, chunk, label, error);
}

bool PartwiseReader::CanJoin(const PartwiseReader& next) const {
  return impl_->reader.CanJoin(next.impl_->reader);
}

void PartwiseReader::Join(PartwiseReader& next) { impl_->reader.Join(next.impl_->reader); }

Status PartwiseReader::Finish() { return impl_->reader.Finish(); }

}  // namespace musicxml
