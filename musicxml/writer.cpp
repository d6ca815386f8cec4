#include "musicxml/writer.h"

#include <expat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

#include "analysis/records.h"
#include "musicxml/text_io.h"

namespace musicxml {

namespace {

// Appends one <beats>/<beat-type> pair, each element after `inner`.
void AppendBeatPair(std::string& out, std::string_view inner, std::string_view beats,
                    std::string_view type) {
  for (std::string_view piece : {inner, std::string_view("<beats>"), beats,
                                 std::string_view("</beats>"), inner,
                                 std::string_view("<beat-type>"), type,
                                 std::string_view("</beat-type>")})
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

void AppendAttribute(std::string& out, const std::string& name, const std::string& value) {
  out.append(" ").append(name).append("=\"");
  for (char c : value) {
    switch (c) {
      case '&': out.append("&amp;"); break;
      case '<': out.append("&lt;"); break;
      case '"': out.append("&quot;"); break;
      default: out.push_back(c);
    }
  }
  out.push_back('"');
}

bool Wide(const SourceEncoding& e) {
  return e.encoding == XmlText::Encoding::Utf16LE || e.encoding == XmlText::Encoding::Utf16BE;
}

// Bytes of the source as UTF-8 (only small spans: one element).
std::string DecodeSpan(std::string_view source, const SourceEncoding& encoding, std::size_t begin,
                       std::size_t end) {
  end = std::min(end, source.size());
  if (begin >= end) return "";
  const std::string_view bytes = source.substr(begin, end - begin);
  switch (encoding.encoding) {
    case XmlText::Encoding::Utf8:
      return std::string(bytes);
    case XmlText::Encoding::Latin1: {
      std::string out;
      for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
          out.push_back(c);
        } else {
          out.push_back(static_cast<char>(0xC0 | (b >> 6)));
          out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
      }
      return out;
    }
    case XmlText::Encoding::Utf16LE:
    case XmlText::Encoding::Utf16BE: {
      XmlText text;
      std::string error;
      const std::string marked =
          (encoding.encoding == XmlText::Encoding::Utf16LE ? std::string("\xFF\xFE") : std::string("\xFE\xFF")) +
          std::string(bytes);
      return DecodeXmlText(marked, text, error) ? text.text : std::string();
    }
  }
  return "";
}

class Planner {
 public:
  Planner(const ScoreModel& model, std::string_view source, const SourceEncoding& encoding,
          const std::string& name, std::vector<Edit>& edits, std::vector<std::string>& warnings)
      : model_(model), source_(source), encoding_(encoding), name_(name), edits_(edits), warnings_(warnings) {}

  void Plan(const simhost::Host& host);

 private:
  void Warn(const std::string& text) { warnings_.push_back(Located(name_, text)); }
  bool RewriteTime(const TimeSite& time, const Meter& meter, bool keepHidden);
  bool InsertTime(const MeasureSite& measure, const Meter& meter, const std::vector<const TimeSite*>& restate);
  std::string TimeText(const Meter& meter, const TimeSpelling& spelling,
                       const std::vector<const TimeSite*>& restate, const std::string& indent,
                       const std::string& unit) const;

  const ScoreModel& model_;
  std::string_view source_;
  const SourceEncoding& encoding_;
  const std::string& name_;
  std::vector<Edit>& edits_;
  std::vector<std::string>& warnings_;
};

bool Planner::RewriteTime(const TimeSite& time, const Meter& meter, bool keepHidden) {
  if (!time.located) {
    Warn("cannot locate a <time> element in the text; left unchanged");
    return false;
  }
  const TimeSpelling spelling = SpellMeter(meter);
  if (!spelling.exact) {
    Warn("time signature " + MeterText(meter) + " has no exact MusicXML form; its length is kept");
  }
  const bool hidden = keepHidden ? time.fields.hidden : meter.hidden;
  std::string out = "<time";
  bool symbolDone = false;
  bool hiddenDone = false;
  for (const auto& [n, value] : time.attributes) {
    if (n == "symbol") {
      if (!spelling.symbol.empty()) AppendAttribute(out, "symbol", spelling.symbol);
      symbolDone = true;
    } else if (n == "print-object") {
      if (hidden) AppendAttribute(out, "print-object", "no");
      hiddenDone = true;
    } else {
      AppendAttribute(out, n, value);
    }
  }
  if (!symbolDone && !spelling.symbol.empty()) AppendAttribute(out, "symbol", spelling.symbol);
  if (!hiddenDone && hidden) AppendAttribute(out, "print-object", "no");
  out.push_back('>');
  for (const auto& [beats, type] : spelling.pairs) AppendBeatPair(out, time.innerWs, beats, type);
  out.append(time.closeWs).append("</time>");
  Edit edit;
  edit.kind = Edit::Kind::RewriteTime;
  edit.offset = time.span.begin;
  edit.length = time.span.end - time.span.begin;
  edit.text = std::move(out);
  if (spelling.exact) edit.expected = meter;
  edits_.push_back(std::move(edit));
  return true;
}

std::string Planner::TimeText(const Meter& meter, const TimeSpelling& spelling,
                              const std::vector<const TimeSite*>& restate, const std::string& indent,
                              const std::string& unit) const {
  std::string out;
  // A restated signature repeats the elements that stated it (one per staff
  // where they are numbered), symbol and all; only the visibility is this
  // measure's.
  if (!restate.empty()) {
    const std::size_t step = Wide(encoding_) ? 2 : 1;
    for (std::size_t i = 0; i < restate.size(); ++i) {
      const TimeSite& r = *restate[i];
      if (i != 0) out.append(indent);
      out.append("<time");
      for (const auto& [n, value] : r.attributes) {
        if (n != "print-object") AppendAttribute(out, n, value);
      }
      if (meter.hidden) AppendAttribute(out, "print-object", "no");
      // From the start tag's '>' (or "/>") to the end of the element.
      const bool empty = r.span.end == r.openEnd;
      out.append(DecodeSpan(source_, encoding_, r.openEnd - (empty ? 2 : 1) * step, r.span.end));
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

bool Planner::InsertTime(const MeasureSite& measure, const Meter& meter,
                         const std::vector<const TimeSite*>& restate) {
  const TimeSpelling spelling = SpellMeter(meter);
  if (!spelling.exact && restate.empty()) {
    Warn("time signature " + MeterText(meter) + " has no exact MusicXML form; its length is kept");
  }
  if (!measure.located) {
    Warn("cannot locate a measure's content in the text; its time signature is left unchanged");
    return false;
  }
  bool verbatim = !restate.empty();
  for (const TimeSite* r : restate) verbatim = verbatim && r->located;
  const std::vector<const TimeSite*> copied = verbatim ? restate : std::vector<const TimeSite*>();
  Edit edit;
  if (!verbatim && spelling.exact) edit.expected = meter;
  const std::optional<AttributesSite>& attributes = measure.attributes;
  if (attributes && attributes->hasChildren) {
    const std::string& closeWs = attributes->closeWs;
    const std::string& childWs = attributes->hasFirstElement ? attributes->firstElementWs : closeWs;
    const std::string unit = IndentUnit(childWs, closeWs);
    edit.kind = Edit::Kind::InsertTimes;
    if (attributes->hasBefore) {
      edit.offset = attributes->beforeAt;
      edit.text = TimeText(meter, spelling, copied, childWs, unit);
      edit.text.append(attributes->beforeWs);
    } else {
      edit.offset = attributes->closeAt;
      edit.text = childWs;
      edit.text.append(TimeText(meter, spelling, copied, childWs, unit));
    }
    edits_.push_back(std::move(edit));
    return true;
  }
  const std::string& childWs = attributes         ? attributes->wsBefore
                               : measure.hasTimed ? measure.timedWs
                                                  : measure.closeWs;
  const std::string unit = IndentUnit(childWs, measure.closeWs);
  const std::string inner = childWs.empty() ? std::string() : childWs + unit;
  std::string block = "<attributes>";
  block.append(inner).append(TimeText(meter, spelling, copied, inner, unit));
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
  } else {
    if (measure.closeAt == NoOffset) {
      Warn(Where(model_.parts[0], 0) + ": an empty <measure/> element cannot take a time signature");
      return false;
    }
    edit.kind = Edit::Kind::InsertAttributes;
    edit.offset = measure.closeAt;
    edit.text = childWs;
    edit.text.append(block);
  }
  edits_.push_back(std::move(edit));
  return true;
}

void Planner::Plan(const simhost::Host& host) {
  const auto count = static_cast<std::size_t>(model_.measureCount);
  const std::vector<Meter>& records = model_.records;
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
      Warn("measure " + std::to_string(mi + 1) + ": its time signature cannot be read; left unchanged");
      continue;
    }
    now.hidden = (view.signatureFlags & AlwaysHideFlag) != 0;
    if (model_.pickups[mi]) {
      // An implicit measure keeps its written <time>: its own signature is
      // its length, which its notes already say.
      const Meter& pickup = *model_.pickups[mi];
      if (!now.SameBeats(pickup) || now.hidden != pickup.hidden) {
        Warn("measure " + std::to_string(mi + 1) + " is a pickup (implicit); its new signature " +
             MeterText(now) + " has no MusicXML form there and the measure is left as written");
      }
      continue;
    }
    // BuildHost sets no display signature except at pickups: one now is the
    // plug-in's, also where it is the only change.
    if ((view.displayFlags & DisplayInUseFlag) != 0) {
      Warn("measure " + std::to_string(mi + 1) +
           ": the separate display time signature has no MusicXML form; the governing one is written");
    }
    if (now == before) continue;
    current[mi] = now;
    recordChanged[mi] = true;
    hiddenChanged[mi] = now.hidden != before.hidden;
  }

  for (const PartModel& part : model_.parts) {
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
          now[mi].hidden = hiddenChanged[mi] || part.synthesized[mi] ? current[mi].hidden : before.hidden;
        }
        continue;
      }
      std::optional<Meter> staffMeter;
      for (int s = 0; s < part.staffCount; ++s) {
        simhost::StaffTimeSigView view;
        const auto staff = static_cast<std::int16_t>(part.firstStaff + s + 1);
        Meter m;
        if (!host.ReadStaffTimeSig(staff, static_cast<std::int16_t>(mi + 1), view) ||
            !DecodeSignature(host, view.beats, view.beatDuration, view.signatureFlags, m)) {
          continue;
        }
        m.hidden = before.hidden;
        if (!staffMeter) {
          staffMeter = m;
        } else if (!staffMeter->SameBeats(m)) {
          Warn(Where(part, static_cast<int>(mi)) +
               ": its staves got different time signatures; the first staff's is written");
        }
      }
      if (staffMeter) now[mi] = *staffMeter;
    }

    // What the edited text states, measure by measure; empty while no <time>
    // has been stated (a score or passage without time signature).
    std::optional<Meter> stated;
    std::vector<const TimeSite*> origin;  // the <time>s that stated the original signature
    for (std::size_t mi = 0; mi < count; ++mi) {
      const Meter& before = was[mi];
      const bool changedHere = !(now[mi] == before);
      const MeasureSite& measure = part.measures[mi];
      if (!measure.times.empty()) {
        if (changedHere) {
          for (const TimeSite& t : measure.times) {
            RewriteTime(t, now[mi], !part.independent && !hiddenChanged[mi]);
          }
          stated = now[mi];
        } else if (part.synthesized[mi]) {
          stated.reset();  // senza-misura or unreadable: still no signature
        } else {
          stated = before;
        }
        origin.clear();
        if (!changedHere) {
          for (const TimeSite& t : measure.times) origin.push_back(&t);
        }
        continue;
      }
      const Meter& target = changedHere ? now[mi] : before;
      // Reading back must give `target`: beats from the last stated <time>,
      // hidden only where a <time> of this measure says so.
      const bool needed = changedHere ? !(stated && stated->SameBeats(target)) || target.hidden
                                      : (stated && !stated->SameBeats(target)) ||
                                            (!stated && !part.synthesized[mi]) ||
                                            (stated && part.synthesized[mi] &&
                                             !(stated->SameBeats(target) && !target.hidden));
      if (needed) {
        const bool restating = !changedHere && !part.synthesized[mi];
        if (InsertTime(measure, target, restating ? origin : std::vector<const TimeSite*>())) {
          stated = target;
        }
      }
    }
  }
}

// What a fragment holds: its top-level elements and its first <time>.
class FragmentReader {
 public:
  bool Read(const std::string& text, std::string& error) {
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
    if (XML_Parse(parser.get(), wrapped.data(), static_cast<int>(wrapped.size()), XML_TRUE) != XML_STATUS_OK) {
      error = XML_ErrorString(XML_GetErrorCode(parser.get()));
      return false;
    }
    if (haveBeats_) fields.pairs.emplace_back(beats_, "");
    return true;
  }

  std::vector<std::string> top;  // names of the top-level elements
  int times = 0;
  TimeFields fields;             // of the first <time>

 private:
  static void OnStart(void* self, const XML_Char* name, const XML_Char** atts) {
    auto& r = *static_cast<FragmentReader*>(self);
    ++r.depth_;
    if (r.depth_ == 2) r.top.emplace_back(name);
    if (std::strcmp(name, "time") == 0 && ++r.times == 1) {
      r.timeDepth_ = r.depth_;
      for (int i = 0; atts[i] != nullptr; i += 2) {
        if (std::strcmp(atts[i], "symbol") == 0) r.fields.symbol = atts[i + 1];
        if (std::strcmp(atts[i], "print-object") == 0) r.fields.hidden = std::strcmp(atts[i + 1], "no") == 0;
      }
    } else if (r.timeDepth_ > 0 && r.depth_ == r.timeDepth_ + 1) {
      r.text_.clear();
      r.child_ = std::strcmp(name, "beats") == 0 ? 1 : std::strcmp(name, "beat-type") == 0 ? 2 : 0;
      if (std::strcmp(name, "senza-misura") == 0) r.fields.senzaMisura = true;
    }
  }
  static void OnEnd(void* self, const XML_Char*) {
    auto& r = *static_cast<FragmentReader*>(self);
    if (r.timeDepth_ > 0 && r.depth_ == r.timeDepth_ + 1) {
      if (r.child_ == 1) {
        if (r.haveBeats_) r.fields.pairs.emplace_back(r.beats_, "");
        r.beats_ = r.text_;
        r.haveBeats_ = true;
      } else if (r.child_ == 2) {
        r.fields.pairs.emplace_back(r.haveBeats_ ? r.beats_ : std::string(), r.text_);
        r.haveBeats_ = false;
      }
      r.child_ = 0;
    } else if (r.depth_ == r.timeDepth_) {
      r.timeDepth_ = -1;
    }
    --r.depth_;
  }
  static void OnText(void* self, const XML_Char* s, int len) {
    auto& r = *static_cast<FragmentReader*>(self);
    if (r.child_ != 0) r.text_.append(s, static_cast<std::size_t>(len));
  }

  int depth_ = 0;
  int timeDepth_ = 0;  // 0 before the first <time>, -1 after it
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

}  // namespace

void PlanEdits(const ScoreModel& model, const simhost::Host& host, std::string_view source,
               const SourceEncoding& encoding, const std::string& name, std::vector<Edit>& edits,
               std::vector<std::string>& warnings) {
  Planner(model, source, encoding, name, edits, warnings).Plan(host);
}

bool VerifyEdits(std::string_view source, const SourceEncoding& encoding, std::vector<Edit>& edits,
                 std::string& error) {
  std::stable_sort(edits.begin(), edits.end(),
                   [](const Edit& a, const Edit& b) { return a.offset < b.offset; });
  const std::size_t step = Wide(encoding) ? 2 : 1;
  const XmlText like{encoding.encoding, "", ""};
  std::size_t previousEnd = encoding.bomSize;
  for (Edit& e : edits) {
    const std::string where = "the edit at byte " + std::to_string(e.offset);
    if (e.offset < previousEnd || e.offset + e.length > source.size() || e.offset % step != encoding.bomSize % step ||
        e.length % step != 0) {
      error = where + " overlaps another or lies outside the text";
      return false;
    }
    previousEnd = e.offset + e.length;
    // What is replaced, or where text goes in, must be what the reader saw.
    const std::string tail = DecodeSpan(source, encoding, e.offset + e.length - std::min(e.length, 16 * step),
                                        e.offset + e.length);
    bool spanOk = false;
    switch (e.kind) {
      case Edit::Kind::RewriteTime:
        spanOk = (SourceHas(source, encoding, e.offset, "<time ") || SourceHas(source, encoding, e.offset, "<time>") ||
                  SourceHas(source, encoding, e.offset, "<time/") || SourceHas(source, encoding, e.offset, "<time\t") ||
                  SourceHas(source, encoding, e.offset, "<time\r") || SourceHas(source, encoding, e.offset, "<time\n")) &&
                 !tail.empty() && tail.back() == '>';
        break;
      case Edit::Kind::ReplaceAttributes:
        spanOk = SourceHas(source, encoding, e.offset, "<attributes") && !tail.empty() && tail.back() == '>';
        break;
      case Edit::Kind::InsertTimes:
      case Edit::Kind::InsertAttributes: {
        const std::string at = DecodeSpan(source, encoding, e.offset, e.offset + step);
        const std::string before =
            e.offset >= step ? DecodeSpan(source, encoding, e.offset - step, e.offset) : std::string();
        spanOk = e.length == 0 && (at == "<" || (IsBlank(at) && before == ">"));
        break;
      }
    }
    if (!spanOk) {
      error = where + " does not fall on the element the reader recorded";
      return false;
    }
    FragmentReader fragment;
    std::string parseError;
    if (!fragment.Read(e.text, parseError)) {
      error = where + " does not parse on its own: " + parseError;
      return false;
    }
    const bool timesOnly = !fragment.top.empty() &&
                           std::all_of(fragment.top.begin(), fragment.top.end(),
                                       [](const std::string& n) { return n == "time"; });
    const bool shapeOk = e.kind == Edit::Kind::RewriteTime  ? timesOnly && fragment.top.size() == 1
                         : e.kind == Edit::Kind::InsertTimes ? timesOnly
                                                             : fragment.top == std::vector<std::string>{"attributes"} &&
                                                                   fragment.times > 0;
    if (!shapeOk) {
      error = where + " does not hold the elements it should";
      return false;
    }
    if (e.expected) {
      Meter read;
      if (ReadTime(fragment.fields, read) != TimeRead::Signature || !read.SameBeats(*e.expected)) {
        error = where + " does not read back as " + MeterText(*e.expected);
        return false;
      }
    }
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
