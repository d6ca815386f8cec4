#include "musicxml/writer.h"

#include <expat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>

#include "host/records.h"
#include "musicxml/text_io.h"

namespace musicxml {

namespace {

// Appends one <beats>/<beat-type> pair, each element after `inner`.
void AppendBeatPair(std::string& out, std::string_view inner, std::string_view beats,
                    std::string_view type) {
  for (std::string_view piece :
       {inner, std::string_view("<beats>"), beats, std::string_view("</beats>"), inner,
        std::string_view("<beat-type>"), type, std::string_view("</beat-type>")})
    out.append(piece);
}

// The indentation step: how much deeper a child sits than its parent's
// closing tag ("  " when the text gives no clue but is indented).
std::string IndentUnit(const std::string& child, const std::string& closing) {
  if (child.empty()) return "";
  if (child.size() > closing.size() && child.compare(0, closing.size(), closing) == 0) {
    return child.substr(closing.size());
  }
  return child.find('\t') != std::string::npos ? "\t" : "  ";
}

void AppendEscaped(std::string& out, std::string_view value, bool attribute) {
  for (char c : value) {
    switch (c) {
      case '&':
        out.append("&amp;");
        break;
      case '<':
        out.append("&lt;");
        break;
      case '>':
        out.append("&gt;");
        break;
      case '"':
        out.append(attribute ? "&quot;" : "\"");
        break;
      // Blanks a parsed attribute value holds came from references: they
      // stay references, or reading would turn them into spaces.
      case '\t':
        out.append(attribute ? "&#9;" : "\t");
        break;
      case '\n':
        out.append(attribute ? "&#10;" : "\n");
        break;
      case '\r':
        out.append("&#13;");
        break;
      default:
        out.push_back(c);
    }
  }
}

void AppendAttribute(std::string& out, const std::string& name, const std::string& value) {
  out.append(" ").append(name).append("=\"");
  AppendEscaped(out, value, true);
  out.push_back('"');
}

bool Wide(const SourceEncoding& e) {
  return e.encoding == XmlText::Encoding::Utf16LE || e.encoding == XmlText::Encoding::Utf16BE;
}

// Bytes of the source as UTF-8 (only small spans: one element). A window of
// UTF-16 is taken on code-point boundaries: half a surrogate pair at either
// end is left out.
std::string DecodeSpan(std::string_view source, const SourceEncoding& encoding, std::size_t begin,
                       std::size_t end) {
  end = std::min(end, source.size());
  if (begin >= end) return "";
  std::string_view bytes = source.substr(begin, end - begin);
  switch (encoding.encoding) {
    case XmlText::Encoding::Utf8:
      return std::string(bytes);
    case XmlText::Encoding::Latin1:
    case XmlText::Encoding::SingleByte: {
      std::string out;
      for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        std::int32_t code = b;
        if (encoding.encoding == XmlText::Encoding::SingleByte && encoding.map != nullptr) {
          code = encoding.map->codes[b];
        }
        if (code < 0) code = '?';
        if (code < 0x80) {
          out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
          out.push_back(static_cast<char>(0xC0 | (code >> 6)));
          out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
          out.push_back(static_cast<char>(0xE0 | (code >> 12)));
          out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
          out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
      }
      return out;
    }
    case XmlText::Encoding::Utf16LE:
    case XmlText::Encoding::Utf16BE: {
      const bool little = encoding.encoding == XmlText::Encoding::Utf16LE;
      auto unit = [&](std::size_t i) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return little ? (a | b << 8) : (a << 8 | b);
      };
      bytes = bytes.substr(0, bytes.size() & ~std::size_t{1});
      if (bytes.size() >= 2 && unit(0) >= 0xDC00 && unit(0) <= 0xDFFF) bytes.remove_prefix(2);
      if (bytes.size() >= 2 && unit(bytes.size() - 2) >= 0xD800 &&
          unit(bytes.size() - 2) <= 0xDBFF) {
        bytes.remove_suffix(2);
      }
      XmlText text;
      std::string error;
      const std::string marked =
          (little ? std::string("\xFF\xFE") : std::string("\xFE\xFF")) + std::string(bytes);
      return DecodeXmlText(marked, text, error) ? text.text : std::string();
    }
  }
  return "";
}

// The <time> that governs among several: the first for the first staff (no
// number, or 1), else the first.
template <typename T, typename NumberOf>
std::size_t Governing(const std::vector<T>& times, NumberOf number) {
  for (std::size_t i = 0; i < times.size(); ++i) {
    if (number(times[i]) == 0 || number(times[i]) == 1) return i;
  }
  return 0;
}

// How `meter` is spelled and what the spelling reads back as (hidden as
// `meter`); false when the reader would refuse the spelling.
bool Spell(const Meter& meter, TimeSpelling& spelling, Meter& back) {
  spelling = SpellMeter(meter);
  TimeFields fields;
  fields.pairs = spelling.pairs;
  fields.symbol = spelling.symbol;
  if (ReadTime(fields, back) != TimeRead::Signature) return false;
  back.hidden = meter.hidden;
  return true;
}

// What a fragment holds: its top-level elements and its <time>s.
class FragmentCheck {
 public:
  // Whether `text` (inside a stand-in root) is well-formed on its own.
  bool Parses(const std::string& text, std::string& error) {
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, decltype(&XML_ParserFree)> parser(
        XML_ParserCreate("UTF-8"), &XML_ParserFree);
    if (!parser) {
      error = "out of memory";
      return false;
    }
    XML_SetUserData(parser.get(), this);
    XML_SetElementHandler(parser.get(), &OnStart, &OnEnd);
    XML_SetCharacterDataHandler(parser.get(), &OnText);
    const std::string wrapped = "<fragment>" + text + "</fragment>";
    if (XML_Parse(parser.get(), wrapped.data(), static_cast<int>(wrapped.size()), XML_TRUE) !=
        XML_STATUS_OK) {
      error = XML_ErrorString(XML_GetErrorCode(parser.get()));
      return false;
    }
    return true;
  }

  // The <time> that governs among those read, as the reader picks it.
  const TimeFields& Fields() const {
    return times_[Governing(times_, [](const Time& t) { return t.number; })].fields;
  }

  std::vector<std::string> top;  // names of the top-level elements
  int times = 0;

 private:
  struct Time {
    TimeFields fields;
    int number = 0;
  };
  static void OnStart(void* self, const XML_Char* name, const XML_Char** atts) {
    auto& r = *static_cast<FragmentCheck*>(self);
    ++r.depth_;
    if (r.depth_ == 2) r.top.emplace_back(name);
    if (std::strcmp(name, "time") == 0 && r.time_ == 0) {
      ++r.times;
      r.time_ = r.depth_;
      r.times_.emplace_back();
      Time& t = r.times_.back();
      r.haveBeats_ = false;
      for (int i = 0; atts[i] != nullptr; i += 2) {
        if (std::strcmp(atts[i], "symbol") == 0) t.fields.symbol = atts[i + 1];
        if (std::strcmp(atts[i], "print-object") == 0)
          t.fields.hidden = std::strcmp(atts[i + 1], "no") == 0;
        if (std::strcmp(atts[i], "number") == 0) {
          t.number = static_cast<int>(std::clamp(std::strtol(atts[i + 1], nullptr, 10), -1L, 2L));
        }
      }
    } else if (r.time_ > 0 && r.depth_ == r.time_ + 1) {
      r.text_.clear();
      r.child_ = std::strcmp(name, "beats") == 0 ? 1 : std::strcmp(name, "beat-type") == 0 ? 2 : 0;
      if (std::strcmp(name, "senza-misura") == 0) r.times_.back().fields.senzaMisura = true;
    }
  }
  static void OnEnd(void* self, const XML_Char*) {
    auto& r = *static_cast<FragmentCheck*>(self);
    if (r.time_ > 0 && r.depth_ == r.time_ + 1) {
      TimeFields& fields = r.times_.back().fields;
      if (r.child_ == 1) {
        if (r.haveBeats_) fields.pairs.emplace_back(r.beats_, "");
        r.beats_ = r.text_;
        r.haveBeats_ = true;
      } else if (r.child_ == 2) {
        fields.pairs.emplace_back(r.haveBeats_ ? r.beats_ : std::string(), r.text_);
        r.haveBeats_ = false;
      }
      r.child_ = 0;
    } else if (r.depth_ == r.time_) {
      if (r.haveBeats_) r.times_.back().fields.pairs.emplace_back(r.beats_, "");
      r.time_ = 0;
    }
    --r.depth_;
  }
  static void OnText(void* self, const XML_Char* s, int len) {
    auto& r = *static_cast<FragmentCheck*>(self);
    if (r.child_ != 0) r.text_.append(s, static_cast<std::size_t>(len));
  }

  std::vector<Time> times_;
  int depth_ = 0;
  int time_ = 0;  // the depth of the <time> being read, 0 outside one
  int child_ = 0;
  std::string text_;
  std::string beats_;
  bool haveBeats_ = false;
};

// Whether the source at `offset` starts with `prefix` (ASCII) in its encoding.
bool SourceHas(std::string_view source, const SourceEncoding& encoding, std::size_t offset,
               std::string_view prefix) {
  const std::size_t step = Wide(encoding) ? 2 : 1;
  return DecodeSpan(source, encoding, offset, offset + prefix.size() * step) == prefix;
}

bool IsBlank(const std::string& c) { return c == " " || c == "\t" || c == "\r" || c == "\n"; }

const std::string NoForm = "no MusicXML form for these beats";

class Planner {
 public:
  Planner(const ScoreModel& model, std::string_view source, const SourceEncoding& encoding,
          const std::string& name, Plan& plan, std::vector<std::string>& warnings)
      : model_(model),
        source_(source),
        encoding_(encoding),
        name_(name),
        plan_(plan),
        warnings_(warnings) {}

  void Run(const simhost::Host& host);

 private:
  void Warn(const std::string& text) { warnings_.push_back(Located(name_, text)); }
  void Reason(std::size_t mi, const std::string& why) { plan_.reasons.emplace(mi, why); }
  // A measure of a part that keeps what it says: a warning, and the reason
  // for its record.
  void Keep(const PartModel& part, std::size_t mi, const std::string& why) {
    Warn(Where(part, static_cast<int>(mi)) + ": kept as written: " + why);
    Reason(mi, why);
  }
  std::size_t Step() const { return Wide(encoding_) ? 2 : 1; }
  // Adds the edits when each checks; else keeps the measure as written.
  bool Use(const PartModel& part, std::size_t mi, std::vector<Edit>& formed);
  bool RewriteTimes(const PartModel& part, std::size_t mi, const Meter& meter, bool keepHidden,
                    Meter& written);
  bool InsertTime(const PartModel& part, std::size_t mi, const Meter& meter,
                  const std::vector<const TimeSite*>& restate);
  std::string RewrittenTime(const TimeSite& time, const TimeSpelling& spelling, bool hidden) const;
  std::string RestatedTime(const TimeSite& time, bool hidden) const;
  std::string TimeText(const Meter& meter, const TimeSpelling& spelling,
                       const std::vector<const TimeSite*>& restate, const std::string& indent,
                       const std::string& unit) const;

  const ScoreModel& model_;
  std::string_view source_;
  const SourceEncoding& encoding_;
  const std::string& name_;
  Plan& plan_;
  std::vector<std::string>& warnings_;
};

bool Planner::Use(const PartModel& part, std::size_t mi, std::vector<Edit>& formed) {
  for (const Edit& e : formed) {
    std::string error;
    if (!CheckEdit(source_, encoding_, e, error)) {
      Keep(part, mi, "the edit does not check (" + error + ")");
      return false;
    }
  }
  for (Edit& e : formed) plan_.edits.push_back(std::move(e));
  return true;
}

std::string Planner::RewrittenTime(const TimeSite& time, const TimeSpelling& spelling,
                                   bool hidden) const {
  std::string out = "<time";
  bool symbolDone = false;
  bool hiddenDone = false;
  for (const auto& [n, value] : time.attributes) {
    if (n == "symbol") {
      if (!spelling.symbol.empty()) AppendAttribute(out, "symbol", spelling.symbol);
      symbolDone = true;
    } else if (n == "print-object") {
      // An explicit "yes" stays while the signature is shown.
      if (hidden)
        AppendAttribute(out, "print-object", "no");
      else if (value != "no")
        AppendAttribute(out, n, value);
      hiddenDone = true;
    } else {
      AppendAttribute(out, n, value);
    }
  }
  if (!symbolDone && !spelling.symbol.empty()) AppendAttribute(out, "symbol", spelling.symbol);
  if (!hiddenDone && hidden) AppendAttribute(out, "print-object", "no");
  out.push_back('>');
  // Comments keep their places among the pairs, as far as the pairs go.
  std::size_t next = 0;
  auto comments = [&](int upTo) {
    for (; next < time.comments.size() && time.comments[next].children <= upTo; ++next) {
      const Span& span = time.comments[next].span;
      out.append(time.innerWs).append(DecodeSpan(source_, encoding_, span.begin, span.end));
    }
  };
  int children = 0;
  for (const auto& [beats, type] : spelling.pairs) {
    comments(children);
    AppendBeatPair(out, time.innerWs, beats, type);
    children += 2;
  }
  comments(std::numeric_limits<int>::max());
  out.append(time.closeWs).append("</time>");
  return out;
}

bool Planner::RewriteTimes(const PartModel& part, std::size_t mi, const Meter& meter,
                           bool keepHidden, Meter& written) {
  const MeasureSite& measure = part.measures[mi];
  TimeSpelling spelling;
  if (!Spell(meter, spelling, written)) {
    Reason(mi, NoForm);
    return false;
  }
  if (!spelling.exact) Reason(mi, NoForm + "; the file has their length");
  const std::size_t g = Governing(measure.times, [](const TimeSite& t) { return t.number; });
  written.hidden = keepHidden ? measure.times[g].fields.hidden : meter.hidden;
  // Nothing to write where the spelling reads as the measure already does.
  if (!part.synthesized[mi] && written == part.meters[mi]) return false;
  std::vector<Edit> formed;
  for (const TimeSite& time : measure.times) {
    if (!time.located) {
      Keep(part, mi, "its <time> element comes from an entity and cannot be located in the text");
      return false;
    }
    Edit edit;
    edit.kind = Edit::Kind::RewriteTime;
    edit.offset = time.span.begin;
    edit.length = time.span.end - time.span.begin;
    edit.text = RewrittenTime(time, spelling, keepHidden ? time.fields.hidden : meter.hidden);
    if (&time == &measure.times[g]) edit.expected = written;
    formed.push_back(std::move(edit));
  }
  return Use(part, mi, formed);
}

std::string Planner::RestatedTime(const TimeSite& r, bool hidden) const {
  // A copy keeps attributes and children; an id would be there twice, and
  // the visibility is this measure's.
  std::string head = "<time";
  for (const auto& [n, value] : r.attributes) {
    if (n != "print-object" && n != "id") AppendAttribute(head, n, value);
  }
  if (hidden) AppendAttribute(head, "print-object", "no");
  if (r.located) {
    // From the start tag's '>' (or "/>") to the end of the element.
    const bool empty = r.span.end == r.openEnd;
    std::string copy =
        head + DecodeSpan(source_, encoding_, r.openEnd - (empty ? 2 : 1) * Step(), r.span.end);
    std::string ignored;
    FragmentCheck check;
    if (check.Parses(copy, ignored)) return copy;
  }
  // Its text holds references that do not stand alone (entities of the
  // document's own DTD): the element from the values read.
  std::string out = head + ">";
  for (const auto& [beats, type] : r.fields.pairs) {
    std::string b;
    std::string t;
    AppendEscaped(b, beats, false);
    AppendEscaped(t, type, false);
    AppendBeatPair(out, r.innerWs, b, t);
  }
  if (r.fields.senzaMisura) out.append(r.innerWs).append("<senza-misura/>");
  out.append(r.closeWs).append("</time>");
  return out;
}

std::string Planner::TimeText(const Meter& meter, const TimeSpelling& spelling,
                              const std::vector<const TimeSite*>& restate,
                              const std::string& indent, const std::string& unit) const {
  std::string out;
  // A restated signature repeats the elements that stated it (one per staff
  // where they are numbered), symbol and all; only the visibility is this
  // measure's.
  if (!restate.empty()) {
    for (std::size_t i = 0; i < restate.size(); ++i) {
      if (i != 0) out.append(indent);
      out.append(RestatedTime(*restate[i], meter.hidden));
    }
    return out;
  }
  out.append("<time");
  if (!spelling.symbol.empty()) AppendAttribute(out, "symbol", spelling.symbol);
  if (meter.hidden) AppendAttribute(out, "print-object", "no");
  out.push_back('>');
  const std::string inner = indent + unit;
  for (const auto& [beats, type] : spelling.pairs) AppendBeatPair(out, inner, beats, type);
  out.append(indent).append("</time>");
  return out;
}

bool Planner::InsertTime(const PartModel& part, std::size_t mi, const Meter& meter,
                         const std::vector<const TimeSite*>& restate) {
  const MeasureSite& measure = part.measures[mi];
  TimeSpelling spelling;
  Meter back;
  if (restate.empty() && (!Spell(meter, spelling, back) || !back.SameBeats(meter))) {
    Reason(mi, NoForm);
    return false;
  }
  if (!measure.located) {
    Keep(part, mi, "its content comes partly from an entity and cannot be located in the text");
    return false;
  }
  Edit edit;
  edit.expected = meter;
  const std::optional<AttributesSite>& attributes = measure.attributes;
  if (attributes && attributes->hasChildren) {
    const std::string& closeWs = attributes->closeWs;
    const std::string& childWs = attributes->hasFirstElement ? attributes->firstElementWs : closeWs;
    const std::string unit = IndentUnit(childWs, closeWs);
    edit.kind = Edit::Kind::InsertTimes;
    if (attributes->hasBefore) {
      edit.offset = attributes->beforeAt;
      edit.text = TimeText(meter, spelling, restate, childWs, unit);
      edit.text.append(attributes->beforeWs);
    } else {
      edit.offset = attributes->closeAt;
      edit.text = childWs;
      edit.text.append(TimeText(meter, spelling, restate, childWs, unit));
    }
  } else {
    const std::string& childWs = attributes         ? attributes->wsBefore
                                 : measure.hasTimed ? measure.timedWs
                                                    : measure.closeWs;
    const std::string unit = IndentUnit(childWs, measure.closeWs);
    const std::string inner = childWs.empty() ? std::string() : childWs + unit;
    std::string block = "<attributes>";
    block.append(inner).append(TimeText(meter, spelling, restate, inner, unit));
    block.append(childWs).append("</attributes>");
    if (attributes) {
      // An empty <attributes/> becomes one that holds the time signature.
      edit.kind = Edit::Kind::ReplaceAttributes;
      edit.offset = attributes->span.begin;
      edit.length = attributes->span.end - attributes->span.begin;
      edit.text = std::move(block);
    } else if (measure.hasTimed) {
      edit.kind = Edit::Kind::InsertAttributes;
      edit.offset = measure.timedAt;
      edit.text = std::move(block);
      edit.text.append(childWs);
    } else if (measure.closeAt != NoOffset) {
      edit.kind = Edit::Kind::InsertAttributes;
      edit.offset = measure.closeAt;
      edit.text = childWs;
      edit.text.append(block);
    } else {
      // An empty <measure/> opens to hold the <attributes> it needs.
      edit.kind = Edit::Kind::ExpandMeasure;
      edit.offset = measure.openEnd - 2 * Step();
      edit.length = 2 * Step();
      edit.text = ">" + block + "</measure>";
    }
  }
  std::vector<Edit> formed;
  formed.push_back(std::move(edit));
  return Use(part, mi, formed);
}

void Planner::Run(const simhost::Host& host) {
  const auto count = static_cast<std::size_t>(model_.measureCount);
  const std::vector<Meter>& records = model_.records;
  plan_.written = LoadedReading(model_);
  plan_.host.assign(count, HostState{});
  plan_.staves.assign(model_.staves.size(), {});
  // The records as they are now, against what BuildHost put in.
  std::vector<Meter> current = records;
  std::vector<bool> recordChanged(count, false);
  std::vector<bool> hiddenChanged(count, false);
  for (std::size_t mi = 0; mi < count; ++mi) {
    const Meter& before = records[mi];
    simhost::MeasureView view;
    const auto measure = static_cast<std::int16_t>(mi + 1);
    if (!host.ReadMeasure(measure, view)) {
      Warn("measure " + std::to_string(mi + 1) + " has no record; left unchanged");
      continue;
    }
    Meter now;
    if (!DecodeSignature(host, view.beats, view.beatDuration, view.signatureFlags, now)) {
      Warn("measure " + std::to_string(mi + 1) +
           ": its time signature cannot be read; left unchanged");
      continue;
    }
    now.hidden = (view.signatureFlags & AlwaysHideFlag) != 0;
    HostState& state = plan_.host[mi];
    state.read = true;
    state.signature = now;
    if ((view.displayFlags & DisplayInUseFlag) != 0) {
      const std::uint16_t flags = static_cast<std::uint16_t>(
          ((view.displayFlags & DisplayCompositeTopFlag) != 0 ? CompositeTopFlag : 0) |
          ((view.displayFlags & DisplayCompositeBottomFlag) != 0 ? CompositeBottomFlag : 0));
      Meter display;
      if (DecodeSignature(host, view.displayBeats, view.displayBeatDuration, flags, display))
        state.display = display;
      else
        state.display = Meter{};
    }
    if (model_.pickups[mi]) {
      // An implicit measure keeps its written <time>: its own signature is
      // its length, which its notes already say.
      Reason(mi, "no MusicXML form for a pickup's own signature");
      continue;
    }
    // BuildHost sets no display signature except at pickups: one now is the
    // plug-in's; the governing signature is written.
    if (state.display && !state.display->SameBeats(now))
      Reason(mi, "no MusicXML form for a display signature");
    if (now == before) continue;
    current[mi] = now;
    recordChanged[mi] = true;
    hiddenChanged[mi] = now.hidden != before.hidden;
  }

  for (std::size_t p = 0; p < model_.parts.size(); ++p) {
    const PartModel& part = model_.parts[p];
    // Where a part states no signature it shows the measure's record, so
    // that every part says what the record says.
    std::vector<Meter> was(count);
    for (std::size_t mi = 0; mi < count; ++mi) {
      was[mi] = part.synthesized[mi] && !part.independent ? records[mi] : part.meters[mi];
    }
    std::vector<Meter> now(count);
    for (std::size_t mi = 0; mi < count; ++mi) {
      const Meter& before = was[mi];
      now[mi] = before;
      if (!part.independent) {
        if (recordChanged[mi]) {
          now[mi].groups = current[mi].groups;
          now[mi].hidden =
              hiddenChanged[mi] || part.synthesized[mi] ? current[mi].hidden : before.hidden;
        }
        continue;
      }
      std::optional<Meter> staffMeter;
      for (int s = 0; s < part.staffCount; ++s) {
        simhost::StaffTimeSigView view;
        const auto slot = static_cast<std::size_t>(part.firstStaff + s);
        const auto staff = static_cast<std::int16_t>(slot + 1);
        plan_.staves[slot].resize(count);
        Meter m;
        if (!host.ReadStaffTimeSig(staff, static_cast<std::int16_t>(mi + 1), view) ||
            !DecodeSignature(host, view.beats, view.beatDuration, view.signatureFlags, m)) {
          continue;
        }
        m.hidden = before.hidden;
        plan_.staves[slot][mi] = m;
        if (!staffMeter) {
          staffMeter = m;
        } else if (!staffMeter->SameBeats(m)) {
          plan_.staffReasons.emplace(
              std::make_pair(slot, mi),
              "its part's staves got different signatures; the first staff's is written");
        }
      }
      if (staffMeter) now[mi] = *staffMeter;
    }

    // What the edited text states, measure by measure; empty while no <time>
    // has been stated (a score or passage without time signature).
    std::vector<Meter>& readMeters = plan_.written.meters[p];
    std::vector<bool>& readSynthesized = plan_.written.synthesized[p];
    std::optional<Meter> stated;
    std::vector<const TimeSite*> origin;  // the <time>s that state the original signature
    for (std::size_t mi = 0; mi < count; ++mi) {
      const Meter& before = was[mi];
      const bool changedHere = !(now[mi] == before);
      const MeasureSite& measure = part.measures[mi];
      if (!measure.times.empty()) {
        Meter written;
        const bool rewritten =
            changedHere &&
            RewriteTimes(part, mi, now[mi], !part.independent && !hiddenChanged[mi], written);
        if (rewritten) {
          readMeters[mi] = written;
          readSynthesized[mi] = false;
        }
        if (readSynthesized[mi]) {
          stated.reset();  // senza-misura or unreadable: still no signature
        } else {
          stated = readMeters[mi];
        }
        origin.clear();
        if (!rewritten) {
          for (const TimeSite& t : measure.times) origin.push_back(&t);
        }
        continue;
      }
      // What this measure is to read as: for a change, what its spelling
      // reads back as.
      std::optional<Meter> target = before;
      if (changedHere) {
        TimeSpelling spelling;
        Meter back;
        target.reset();
        if (Spell(now[mi], spelling, back)) {
          target = back;
          if (!spelling.exact) Reason(mi, NoForm + "; the file has their length");
        } else {
          Reason(mi, NoForm);
        }
      }
      // Reading back must give `target`: beats from the last stated <time>,
      // hidden only where a <time> of this measure says so.
      const bool needed =
          target && (changedHere ? !(stated && stated->SameBeats(*target)) || target->hidden
                                 : (stated && !stated->SameBeats(*target)) ||
                                       (!stated && !part.synthesized[mi]) ||
                                       (stated && part.synthesized[mi] &&
                                        !(stated->SameBeats(*target) && !target->hidden)));
      const bool restating = !changedHere && !part.synthesized[mi];
      if (needed &&
          InsertTime(part, mi, *target, restating ? origin : std::vector<const TimeSite*>())) {
        readMeters[mi] = *target;
        readSynthesized[mi] = false;
        stated = *target;
        continue;
      }
      // Otherwise it reads as what the text states before it.
      readSynthesized[mi] = !stated;
      if (stated) {
        readMeters[mi] = *stated;
        readMeters[mi].hidden = false;
      }
    }
  }
  ResolveReading(model_, plan_.written);
}

// The measure's state in a reading: its signature, and the written one as
// its display signature at a pickup.
HostState StateIn(const Reading& reading, std::size_t mi) {
  HostState state;
  state.read = true;
  if (reading.pickups[mi]) {
    state.signature = *reading.pickups[mi];
    state.display = reading.records[mi];
  } else {
    state.signature = reading.records[mi];
  }
  return state;
}

// A display signature that shows the signature itself shows nothing else.
std::optional<Meter> Shown(const HostState& state) {
  if (state.display && state.display->SameBeats(state.signature)) return std::nullopt;
  return state.display;
}

bool SameState(const HostState& a, const HostState& b) {
  const std::optional<Meter> shownA = Shown(a);
  const std::optional<Meter> shownB = Shown(b);
  return a.signature == b.signature && shownA.has_value() == shownB.has_value() &&
         (!shownA || shownA->SameBeats(*shownB));
}

}  // namespace

Reading LoadedReading(const ScoreModel& model) {
  Reading reading;
  for (const PartModel& part : model.parts) {
    reading.meters.push_back(part.meters);
    reading.synthesized.push_back(part.synthesized);
    reading.independent.push_back(part.independent);
  }
  reading.records = model.records;
  reading.pickups = model.pickups;
  return reading;
}

void PlanEdits(const ScoreModel& model, const simhost::Host& host, std::string_view source,
               const SourceEncoding& encoding, const std::string& name, Plan& plan,
               std::vector<std::string>& warnings) {
  Planner(model, source, encoding, name, plan, warnings).Run(host);
}

bool SameForHost(const ScoreModel& model, const Reading& written) {
  if (written.records != model.records || written.pickups != model.pickups) return false;
  for (std::size_t p = 0; p < model.parts.size(); ++p) {
    const PartModel& part = model.parts[p];
    if (written.independent[p] != part.independent) return false;
    if (!part.independent) continue;
    for (std::size_t mi = 0; mi < part.meters.size(); ++mi) {
      if (!written.meters[p][mi].SameBeats(part.meters[mi])) return false;
    }
  }
  return true;
}

std::vector<KeptChange> KeptChanges(const ScoreModel& model, const Plan& plan) {
  static const std::string Other = "the parts' written signatures do not say it";
  std::vector<KeptChange> kept;
  for (std::size_t mi = 0; mi < plan.host.size(); ++mi) {
    const HostState& host = plan.host[mi];
    if (!host.read || SameState(host, StateIn(plan.written, mi))) continue;
    const auto reason = plan.reasons.find(mi);
    kept.push_back(KeptChange{static_cast<int>(mi + 1), 0,
                              reason != plan.reasons.end() ? reason->second : Other});
  }
  for (std::size_t p = 0; p < model.parts.size(); ++p) {
    const PartModel& part = model.parts[p];
    for (int s = 0; s < part.staffCount && part.independent; ++s) {
      const auto slot = static_cast<std::size_t>(part.firstStaff + s);
      if (slot >= plan.staves.size()) continue;
      for (std::size_t mi = 0; mi < plan.staves[slot].size(); ++mi) {
        const std::optional<Meter>& host = plan.staves[slot][mi];
        if (!host || host->SameBeats(plan.written.meters[p][mi])) continue;
        auto reason = plan.staffReasons.find({slot, mi});
        std::string why = reason != plan.staffReasons.end() ? reason->second : Other;
        if (reason == plan.staffReasons.end()) {
          const auto measureReason = plan.reasons.find(mi);
          if (measureReason != plan.reasons.end()) why = measureReason->second;
        }
        kept.push_back(
            KeptChange{static_cast<int>(mi + 1), static_cast<std::int16_t>(slot + 1), why});
      }
    }
  }
  std::stable_sort(kept.begin(), kept.end(), [](const KeptChange& a, const KeptChange& b) {
    return a.measure != b.measure ? a.measure < b.measure : a.staff < b.staff;
  });
  return kept;
}

bool CheckEdit(std::string_view source, const SourceEncoding& encoding, const Edit& e,
               std::string& error) {
  const std::size_t step = Wide(encoding) ? 2 : 1;
  const std::string where = "the edit at byte " + std::to_string(e.offset);
  if (e.offset < encoding.bomSize || e.offset + e.length > source.size() ||
      e.offset % step != encoding.bomSize % step || e.length % step != 0) {
    error = where + " lies outside the text";
    return false;
  }
  // What is replaced, or where text goes in, must be what the reader saw.
  const std::string tail = DecodeSpan(
      source, encoding, e.offset + e.length - std::min(e.length, 16 * step), e.offset + e.length);
  bool spanOk = false;
  std::string fragmentText = e.text;
  switch (e.kind) {
    case Edit::Kind::RewriteTime:
      spanOk = (SourceHas(source, encoding, e.offset, "<time ") ||
                SourceHas(source, encoding, e.offset, "<time>") ||
                SourceHas(source, encoding, e.offset, "<time/") ||
                SourceHas(source, encoding, e.offset, "<time\t") ||
                SourceHas(source, encoding, e.offset, "<time\r") ||
                SourceHas(source, encoding, e.offset, "<time\n")) &&
               !tail.empty() && tail.back() == '>';
      break;
    case Edit::Kind::ReplaceAttributes:
      spanOk = SourceHas(source, encoding, e.offset, "<attributes") && !tail.empty() &&
               tail.back() == '>';
      break;
    case Edit::Kind::ExpandMeasure: {
      static constexpr std::string_view Close = "</measure>";
      spanOk = e.length == 2 * step && SourceHas(source, encoding, e.offset, "/>") &&
               e.text.size() > 1 + Close.size() && e.text.front() == '>' &&
               e.text.compare(e.text.size() - Close.size(), Close.size(), Close) == 0;
      if (spanOk) fragmentText = e.text.substr(1, e.text.size() - 1 - Close.size());
      break;
    }
    case Edit::Kind::InsertTimes:
    case Edit::Kind::InsertAttributes: {
      const std::string at = DecodeSpan(source, encoding, e.offset, e.offset + step);
      const std::string before = e.offset >= step
                                     ? DecodeSpan(source, encoding, e.offset - step, e.offset)
                                     : std::string();
      spanOk = e.length == 0 && (at == "<" || (IsBlank(at) && before == ">"));
      break;
    }
  }
  if (!spanOk) {
    error = where + " does not fall on the element the reader recorded";
    return false;
  }
  FragmentCheck fragment;
  std::string parseError;
  if (!fragment.Parses(fragmentText, parseError)) {
    error = where + " does not parse on its own: " + parseError;
    return false;
  }
  const bool timesOnly =
      !fragment.top.empty() && std::all_of(fragment.top.begin(), fragment.top.end(),
                                           [](const std::string& n) { return n == "time"; });
  const bool shapeOk =
      e.kind == Edit::Kind::RewriteTime ? timesOnly && fragment.top.size() == 1
      : e.kind == Edit::Kind::InsertTimes
          ? timesOnly
          : fragment.top == std::vector<std::string>{"attributes"} && fragment.times > 0;
  if (!shapeOk) {
    error = where + " does not hold the elements it should";
    return false;
  }
  if (e.expected) {
    Meter read;
    if (ReadTime(fragment.Fields(), read) != TimeRead::Signature || !read.SameBeats(*e.expected)) {
      error = where + " does not read back as " + MeterText(*e.expected);
      return false;
    }
  }
  return true;
}

bool FinishEdits(std::string_view source, const SourceEncoding& encoding, std::vector<Edit>& edits,
                 std::string& error) {
  std::stable_sort(edits.begin(), edits.end(),
                   [](const Edit& a, const Edit& b) { return a.offset < b.offset; });
  const XmlText like{encoding.encoding, encoding.map, "", ""};
  std::size_t previousEnd = encoding.bomSize;
  for (Edit& e : edits) {
    if (e.offset < previousEnd || e.offset + e.length > source.size()) {
      error = "the edit at byte " + std::to_string(e.offset) +
              " overlaps another or lies outside the text";
      return false;
    }
    previousEnd = e.offset + e.length;
    e.bytes = EncodeXmlText(like, e.text);
  }
  return true;
}

void SpliceEdits(std::string_view source, const std::vector<Edit>& edits,
                 const std::function<void(std::string_view)>& sink) {
  std::size_t pos = 0;
  for (const Edit& e : edits) {
    const std::size_t start = std::max(pos, std::min(e.offset, source.size()));
    if (start > pos) sink(source.substr(pos, start - pos));
    sink(e.bytes);
    pos = std::min(source.size(), std::max(pos, e.offset + e.length));
  }
  if (pos < source.size()) sink(source.substr(pos));
}

}  // namespace musicxml
