#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "analysis/records.h"
#include "musicxml/layers.h"
#include "musicxml/meter.h"
#include "musicxml/musicxml.h"
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
    out += piece;
}

constexpr double MaxEdus = 2147483647.0;

// Keeps the DOCTYPE, comments and whitespace so that edits can be placed
// inside the original text; line ends stay as they are for the same reason.
constexpr unsigned ParseFlags =
    (pugi::parse_full | pugi::parse_ws_pcdata) & ~pugi::parse_eol;

std::string Trim(const char* s) {
  std::string t = s;
  const auto first = t.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const auto last = t.find_last_not_of(" \t\r\n");
  return t.substr(first, last - first + 1);
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

std::int32_t NoteTypeValue(const std::string& type) {
  static const std::map<std::string, std::int32_t> values = {
      {"1024th", 4},   {"512th", 8},     {"256th", 16},   {"128th", 32},
      {"64th", 64},    {"32nd", 128},    {"16th", 256},   {"eighth", 512},
      {"quarter", 1024}, {"half", 2048}, {"whole", 4096}, {"breve", 8192},
      {"long", 16384}, {"maxima", 32768}};
  const auto it = values.find(type);
  return it == values.end() ? 0 : it->second;
}

bool IsWhitespaceNode(pugi::xml_node n) {
  if (n.type() != pugi::node_pcdata) return false;
  for (const char* p = n.value(); *p != '\0'; ++p) {
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return false;
  }
  return true;
}

std::string WhitespaceBefore(pugi::xml_node n) {
  const pugi::xml_node prev = n.previous_sibling();
  return prev && IsWhitespaceNode(prev) ? prev.value() : "";
}

std::string LastWhitespace(pugi::xml_node parent) {
  const pugi::xml_node last = parent.last_child();
  return last && IsWhitespaceNode(last) ? last.value() : "";
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

// Where the closing tag of element `name` begins, searching from `from`:
// "</name" must be followed by '>' or a blank, so that </time-relation>
// (inside <interchangeable>) or </measure-numbering> is not taken for it.
std::size_t FindClosingTag(const std::string& text, const std::string& name, std::size_t from) {
  const std::string tag = "</" + name;
  for (std::size_t at = text.find(tag, from); at != std::string::npos;
       at = text.find(tag, at + 1)) {
    const std::size_t after = at + tag.size();
    if (after < text.size() && (text[after] == '>' || text[after] == ' ' || text[after] == '\t' ||
                                text[after] == '\r' || text[after] == '\n')) {
      return at;
    }
  }
  return std::string::npos;
}

// Where element `n` stands in `text`, its tags included.
bool ElementSpan(const std::string& text, pugi::xml_node n, std::size_t& start, std::size_t& end) {
  const std::ptrdiff_t at = n.offset_debug();
  if (at < 1 || static_cast<std::size_t>(at) > text.size() ||
      text[static_cast<std::size_t>(at) - 1] != '<') {
    return false;
  }
  start = static_cast<std::size_t>(at) - 1;
  const std::size_t gt = text.find('>', start);
  if (gt == std::string::npos) return false;
  end = gt + 1;
  if (text[gt - 1] == '/') return true;
  // Elements edited here never nest inside themselves.
  const std::size_t close = FindClosingTag(text, n.name(), gt);
  const std::size_t closeGt = close == std::string::npos ? close : text.find('>', close);
  if (closeGt == std::string::npos) return false;
  end = closeGt + 1;
  return true;
}

std::string EscapeAttribute(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

TimeFields FieldsOf(pugi::xml_node time) {
  TimeFields f;
  f.symbol = time.attribute("symbol").as_string();
  f.hidden = std::string(time.attribute("print-object").as_string()) == "no";
  std::string beats;
  bool haveBeats = false;
  for (pugi::xml_node c : time.children()) {
    const std::string name = c.name();
    if (name == "beats") {
      if (haveBeats) f.pairs.emplace_back(beats, "");
      beats = c.text().as_string();
      haveBeats = true;
    } else if (name == "beat-type") {
      f.pairs.emplace_back(haveBeats ? beats : std::string(), c.text().as_string());
      haveBeats = false;
    } else if (name == "senza-misura") {
      f.senzaMisura = true;
    }
  }
  if (haveBeats) f.pairs.emplace_back(beats, "");
  return f;
}

// A stand-in signature for a measure that no <time> governs: its length as
// plain beats of the largest note value from a quarter down that divides it.
Meter SynthesizedMeter(std::int64_t length) {
  Meter m;
  m.hidden = true;
  MeterGroup g;
  g.counts = {4};
  g.beatDuration = EdusPerQuarter;
  for (std::int32_t d = EdusPerQuarter; d >= 1 && length > 0; d /= 2) {
    if (length % d == 0 && length / d <= 32767) {
      g.counts = {static_cast<std::int32_t>(length / d)};
      g.beatDuration = d;
      break;
    }
  }
  m.groups.push_back(g);
  return m;
}

// A marked pickup's own signature: its length in beats of the written
// signature where they fit, else as for a stand-in (visible).
Meter PickupMeter(std::int64_t length, const Meter& written) {
  if (!written.groups.empty()) {
    const std::int64_t beat = written.groups.front().beatDuration;
    if (beat > 0 && length % beat == 0 && length / beat <= 32767) {
      Meter m;
      m.groups.push_back(MeterGroup{{static_cast<std::int32_t>(length / beat)},
                                    static_cast<std::int32_t>(beat)});
      return m;
    }
  }
  Meter m = SynthesizedMeter(length);
  m.hidden = false;
  return m;
}

struct LayerModel {
  std::string voice;
  std::int32_t duration = 0;
  std::vector<simhost::Entry> entries;
};

struct CellModel {
  std::vector<LayerModel> layers;  // at most four
};

struct PartModel {
  pugi::xml_node node;
  std::string id;
  std::string name;
  int staffCount = 1;
  int firstStaff = 0;  // index into the score's staff list
  std::vector<pugi::xml_node> measures;
  std::vector<std::vector<pugi::xml_node>> times;  // every <time> of each measure
  std::vector<pugi::xml_node> governing;           // the one read, per measure
  std::vector<Meter> meters;         // what governs each measure (stand-ins included)
  std::vector<bool> synthesized;     // no <time> governs the measure
  std::vector<std::int64_t> lengths;
  std::vector<bool> implicit;        // implicit="yes": a pickup or a split measure
  bool independent = false;
};

}  // namespace

struct Score::Impl {
  std::string name;
  std::string original;
  bool archive = false;
  std::string rootPath;
  std::string rootBytes;  // the score's own file, as loaded and after edits
  XmlText xml;
  pugi::xml_document doc;
  std::vector<std::string> warnings;

  std::vector<PartModel> parts;
  int measureCount = 0;
  std::vector<StaffInfo> staves;
  std::vector<std::vector<CellModel>> cells;  // [staff index][measure]
  std::vector<Meter> records;                 // what BuildHost puts in each MeasureRecord
  // A marked pickup's own signature (its length); the written one is then
  // its display signature, as the host keeps an upbeat.
  std::vector<std::optional<Meter>> pickups;
  std::vector<std::string> measureNumbers;
  bool loaded = false;
  bool built = false;
  bool applied = false;
  bool changed = false;
  std::string output;

  Status Fail(const std::string& message) const {
    Status s;
    s.ok = false;
    s.message = name + ": " + message;
    return s;
  }
  void Warn(Status& status, const std::string& text) {
    status.warnings.push_back(name + ": " + text);
    warnings.push_back(name + ": " + text);
  }
  static std::string Where(const PartModel& part, int measure) {
    std::string number = part.measures[static_cast<std::size_t>(measure)]
                             .attribute("number")
                             .as_string();
    return "part " + part.id + ", measure " + std::to_string(measure + 1) +
           (number.empty() ? "" : " (number " + number + ")");
  }

  Status Load(std::string_view bytes);
  Status ReadScore(Status& status);
  Status ReadPart(PartModel& part, Status& status);
  Status Apply(const simhost::Host& host, Status& status);
  bool RewriteTime(pugi::xml_node time, const Meter& meter, bool keepHidden,
                   std::vector<TextEdit>& edits, Status& status);
  bool InsertTime(pugi::xml_node measure, const Meter& meter,
                  const std::vector<pugi::xml_node>& restate,
                  std::vector<TextEdit>& edits, Status& status);
};

Status Score::Impl::Load(std::string_view bytes) {
  Status status;
  original = std::string(bytes);
  std::string xmlBytes;
  std::string error;
  archive = bytes.size() >= 4 && bytes.substr(0, 2) == "PK" &&
            ((bytes[2] == 3 && bytes[3] == 4) || (bytes[2] == 5 && bytes[3] == 6));
  if (archive) {
    if (!ReadArchive(bytes, rootPath, xmlBytes, status.warnings, error)) return Fail(error);
    for (auto& w : status.warnings) {
      w.insert(0, ": ");
      w.insert(0, name);
      warnings.push_back(w);
    }
  } else {
    xmlBytes = original;
  }
  rootBytes = xmlBytes;
  const std::string label = archive ? name + ":" + rootPath : name;
  if (!DecodeXmlText(xmlBytes, xml, error)) {
    Status s;
    s.ok = false;
    s.message = label + ": " + error;
    return s;
  }
  const pugi::xml_parse_result parsed =
      doc.load_buffer(xml.text.data(), xml.text.size(), ParseFlags, pugi::encoding_utf8);
  if (!parsed) {
    const auto offset = static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, parsed.offset));
    const std::size_t line =
        1 + static_cast<std::size_t>(std::count(
                xml.text.begin(),
                xml.text.begin() + static_cast<std::ptrdiff_t>(std::min(offset, xml.text.size())),
                '\n'));
    Status s;
    s.ok = false;
    s.message = label + ":" + std::to_string(line) + ": XML error: " + parsed.description();
    return s;
  }
  Status read = ReadScore(status);
  if (!read) return read;
  loaded = true;
  return status;
}

Status Score::Impl::ReadScore(Status& status) {
  const pugi::xml_node root = doc.document_element();
  const std::string rootName = root.name();
  if (rootName == "score-timewise") {
    return Fail("score-timewise documents are not supported; convert to score-partwise first");
  }
  if (rootName != "score-partwise") return Fail("not a MusicXML score (root element <" + rootName + ">)");

  std::map<std::string, std::string> partNames;
  for (pugi::xml_node sp : root.child("part-list").children("score-part")) {
    partNames[sp.attribute("id").as_string()] = Trim(sp.child("part-name").text().as_string());
  }
  for (pugi::xml_node p : root.children("part")) {
    PartModel part;
    part.node = p;
    part.id = p.attribute("id").as_string();
    part.name = partNames[part.id];
    for (pugi::xml_node m : p.children("measure")) part.measures.push_back(m);
    parts.push_back(std::move(part));
  }
  if (parts.empty()) return Fail("the score has no parts");
  measureCount = static_cast<int>(parts[0].measures.size());
  for (const PartModel& part : parts) {
    if (static_cast<int>(part.measures.size()) != measureCount) {
      return Fail("parts of unequal length: part " + parts[0].id + " has " +
                  std::to_string(measureCount) + " measures, part " + part.id + " has " +
                  std::to_string(part.measures.size()));
    }
  }
  if (measureCount > MaxMeasures) {
    return Fail(std::to_string(measureCount) + " measures; at most " +
                std::to_string(MaxMeasures) + " are supported");
  }

  // Staff counts first, so the staff list is known before the notes are read.
  int totalStaves = 0;
  for (PartModel& part : parts) {
    int count = 1;
    for (pugi::xml_node m : part.measures) {
      for (pugi::xml_node c : m.children()) {
        int value = 0;
        if (std::string(c.name()) == "attributes" && c.child("staves")) {
          value = c.child("staves").text().as_int(1);
        } else if (c.child("staff")) {
          value = c.child("staff").text().as_int(1);
        }
        if (value > MaxStaves || value < 0) {
          return Fail("part " + part.id + ": staff number " + std::to_string(value) +
                      " out of range (at most " + std::to_string(MaxStaves) + " staves)");
        }
        count = std::max(count, value);
      }
    }
    part.staffCount = count;
    part.firstStaff = totalStaves;
    totalStaves += count;
    if (totalStaves > MaxStaves) {
      return Fail("the score has more than " + std::to_string(MaxStaves) +
                  " staves; at most " + std::to_string(MaxStaves) + " are supported");
    }
  }
  staves.clear();
  for (const PartModel& part : parts) {
    for (int s = 1; s <= part.staffCount; ++s) {
      StaffInfo info;
      info.staff = static_cast<std::int16_t>(staves.size() + 1);
      info.partId = part.id;
      info.partName = part.name;
      info.staffInPart = s;
      staves.push_back(info);
    }
  }
  cells.assign(staves.size(), std::vector<CellModel>(static_cast<std::size_t>(measureCount)));

  for (PartModel& part : parts) {
    Status s = ReadPart(part, status);
    if (!s) return s;
  }

  // Stand-ins for measures without a governing <time>: the longest part's length.
  for (int m = 0; m < measureCount; ++m) {
    std::int64_t length = 0;
    for (const PartModel& part : parts) length = std::max(length, part.lengths[static_cast<std::size_t>(m)]);
    for (PartModel& part : parts) {
      if (part.synthesized[static_cast<std::size_t>(m)]) {
        part.meters[static_cast<std::size_t>(m)] = SynthesizedMeter(length);
      }
    }
  }
  // The measure's record: the first part that states a signature there (a
  // part without <time> follows the others), else the stand-in.
  records.assign(static_cast<std::size_t>(measureCount), Meter{});
  for (std::size_t m = 0; m < records.size(); ++m) {
    records[m] = parts[0].meters[m];
    for (const PartModel& part : parts) {
      if (!part.synthesized[m]) {
        records[m] = part.meters[m];
        break;
      }
    }
  }
  pickups.assign(records.size(), std::nullopt);
  for (std::size_t m = 0; m < records.size(); ++m) {
    std::int64_t length = 0;
    bool marked = false;
    for (const PartModel& part : parts) {
      length = std::max(length, part.lengths[m]);
      marked = marked || part.implicit[m];
    }
    // Only a measure shorter than its signature is a pickup; an implicit
    // measure as long or longer (an unmetered piece) keeps today's reading.
    if (marked && length > 0 && !records[m].groups.empty() && length < records[m].Length()) {
      Meter own = PickupMeter(length, records[m]);
      own.hidden = records[m].hidden;
      pickups[m] = own;
    }
  }
  for (PartModel& part : parts) {
    for (std::size_t m = 0; m < records.size() && !part.independent; ++m) {
      if (!part.synthesized[m] && !part.meters[m].SameBeats(records[m])) part.independent = true;
    }
    for (int s = 0; s < part.staffCount; ++s) {
      staves[static_cast<std::size_t>(part.firstStaff) + static_cast<std::size_t>(s)].independent = part.independent;
    }
  }
  measureNumbers.clear();
  for (pugi::xml_node m : parts[0].measures) measureNumbers.push_back(m.attribute("number").as_string());
  return status;
}

Status Score::Impl::ReadPart(PartModel& part, Status& status) {
  const auto count = static_cast<std::size_t>(measureCount);
  part.times.assign(count, {});
  part.governing.assign(count, pugi::xml_node());
  part.meters.assign(count, Meter{});
  part.synthesized.assign(count, true);
  part.lengths.assign(count, 0);
  part.implicit.assign(count, false);

  double divisions = 0;
  std::optional<Meter> current;
  int droppedVoiceMeasures = 0;
  int firstDropped = -1;
  int missingDurations = 0;
  int backupsBeforeStart = 0;
  int snappedMeasures = 0;
  int firstSnapped = -1;

  for (std::size_t mi = 0; mi < count; ++mi) {
    const pugi::xml_node measure = part.measures[mi];
    const int m = static_cast<int>(mi);
    part.implicit[mi] = std::string(measure.attribute("implicit").as_string()) == "yes";
    // The cursor counts divisions from the last change of <divisions> (or the
    // barline), so that positions are sums of the written durations, exact
    // for whole and decimal divisions alike, converted to EDUs once.
    double base = 0;   // EDUs where the count restarted
    double units = 0;  // divisions since then
    double maxCursor = 0;
    std::vector<VoiceItem> items;

    auto cursor = [&]() { return divisions > 0 ? base + units * EdusPerQuarter / divisions : base; };
    auto amountOf = [&](pugi::xml_node n, double& amount) -> Status {
      amount = 0;
      const std::string text = Trim(n.child("duration").text().as_string());
      if (!text.empty() && !ParseNumber(text, amount)) {
        return Fail(Where(part, m) + ": invalid <duration> \"" + text + "\"");
      }
      if (amount != 0 && divisions <= 0) {
        return Fail(Where(part, m) + ": a duration comes before any <divisions>");
      }
      const double edus = amount == 0 ? 0 : amount * EdusPerQuarter / divisions;
      if (!std::isfinite(edus) || edus > MaxEdus) {
        return Fail(Where(part, m) + ": duration out of range (more than 2^31 EDUs)");
      }
      return Status{};
    };
    auto advance = [&](double amount) -> Status {
      units += amount;
      const double at = cursor();
      if (!std::isfinite(at) || at > MaxEdus) {
        return Fail(Where(part, m) + ": measure longer than 2^31 EDUs");
      }
      maxCursor = std::max(maxCursor, at);
      return Status{};
    };
    auto staffOf = [&](pugi::xml_node n) {
      return std::clamp(n.child("staff").text().as_int(1), 1, part.staffCount);
    };

    for (pugi::xml_node c : measure.children()) {
      if (c.type() != pugi::node_element) continue;
      const std::string what = c.name();
      if (what == "attributes") {
        if (c.child("divisions")) {
          double d = 0;
          const std::string text = Trim(c.child("divisions").text().as_string());
          if (!ParseNumber(text, d) || d <= 0) {
            return Fail(Where(part, m) + ": invalid <divisions> \"" + text + "\"");
          }
          base = cursor();
          units = 0;
          divisions = d;
        }
        for (pugi::xml_node t : c.children("time")) part.times[mi].push_back(t);
        if (mi == 0) {
          for (pugi::xml_node sd : c.children("staff-details")) {
            if (std::string(sd.attribute("print-object").as_string()) != "no") continue;
            const int number = sd.attribute("number").as_int(0);
            for (int s = 1; s <= part.staffCount; ++s) {
              if (number == 0 || number == s) {
                staves[static_cast<std::size_t>(part.firstStaff + s - 1)].hidden = true;
              }
            }
          }
        }
      } else if (what == "backup") {
        double amount = 0;
        Status s = amountOf(c, amount);
        if (!s) return s;
        units -= amount;
        if (cursor() < -0.5) ++backupsBeforeStart;
        if (cursor() < 0) {
          base = 0;
          units = 0;
        }
      } else if (what == "forward") {
        double amount = 0;
        Status s = amountOf(c, amount);
        if (!s) return s;
        VoiceItem item;
        item.start = cursor();
        s = advance(amount);
        if (!s) return s;
        item.end = cursor();
        item.voice = c.child("voice") ? Trim(c.child("voice").text().as_string()) : std::string();
        item.staff = staffOf(c);
        item.value = static_cast<std::int32_t>(std::llround(item.end - item.start));
        item.rest = true;
        item.forward = true;
        if (item.end > item.start) items.push_back(item);
      } else if (what == "note") {
        const bool grace = c.child("grace") != nullptr;
        const bool chord = c.child("chord") != nullptr;
        double amount = 0;
        if (!grace) {
          if (!c.child("duration")) ++missingDurations;
          Status s = amountOf(c, amount);
          if (!s) return s;
        }
        if (chord) continue;  // one entry per chord, from its first note
        VoiceItem item;
        item.start = cursor();
        if (!grace) {
          Status s = advance(amount);
          if (!s) return s;
        }
        item.end = grace ? item.start : cursor();
        item.voice = c.child("voice") ? Trim(c.child("voice").text().as_string()) : std::string("1");
        if (item.voice.empty()) item.voice = "1";
        item.staff = staffOf(c);
        item.grace = grace;
        item.rest = c.child("rest") != nullptr;
        std::int32_t value = NoteTypeValue(Trim(c.child("type").text().as_string()));
        if (value > 0) {
          std::int32_t add = value;
          int dots = 0;
          for (pugi::xml_node d = c.child("dot"); d && dots < 8; d = d.next_sibling("dot"), ++dots) {
            add /= 2;
            value += add;
          }
        } else {
          value = static_cast<std::int32_t>(std::llround(item.end - item.start));
        }
        item.value = value;
        for (pugi::xml_node b : c.children("beam")) {
          if (b.attribute("number").as_int(1) != 1) continue;
          const std::string kind = Trim(b.text().as_string());
          item.beam = kind == "begin"      ? BeamMark::Begin
                      : kind == "continue" ? BeamMark::Continue
                      : kind == "end"      ? BeamMark::End
                                           : BeamMark::None;  // a hook is no beam
          break;
        }
        items.push_back(std::move(item));
      }
    }
    part.lengths[mi] = std::llround(maxCursor);

    // The first <time> for the part's first staff (or for all) governs.
    pugi::xml_node governing;
    for (pugi::xml_node t : part.times[mi]) {
      const int number = t.attribute("number").as_int(0);
      if (number == 0 || number == 1) {
        governing = t;
        break;
      }
    }
    if (!governing && !part.times[mi].empty()) governing = part.times[mi].front();
    part.governing[mi] = governing;
    if (governing) {
      Meter meter;
      const TimeRead read = ReadTime(FieldsOf(governing), meter);
      if (read == TimeRead::Signature) {
        current = meter;
      } else {
        if (read == TimeRead::Invalid) {
          Warn(status, Where(part, m) + ": time signature not understood; the measure is read as having none");
        }
        current.reset();
      }
    }
    if (current) {
      part.meters[mi] = *current;
      // print-object="no" hides that <time> only; later measures show none.
      part.meters[mi].hidden = governing && current->hidden;
      part.synthesized[mi] = false;
    }

    // Entries no beam joins are read by the beats of the signature the
    // measure is kept under: a pickup's and an unsigned measure's own length.
    const bool pickup = current && part.implicit[mi] && part.lengths[mi] > 0 &&
                        part.lengths[mi] < current->Length();
    const bool own = !current || pickup;
    const Meter grid = !current ? SynthesizedMeter(part.lengths[mi])
                       : pickup ? PickupMeter(part.lengths[mi], *current)
                                : *current;
    MeasureLayers built = BuildLayers(items, BeatStarts(grid), own ? 0 : current->Length());
    if (built.snapped > 0) {
      if (firstSnapped < 0) firstSnapped = m;
      ++snappedMeasures;
    }
    bool dropped = false;
    for (MeasureLayer& layer : built.layers) {
      CellModel& cell = cells[static_cast<std::size_t>(part.firstStaff + layer.staff - 1)][mi];
      if (cell.layers.size() >= 4) {
        dropped = true;
        continue;
      }
      if (layer.entries.size() > static_cast<std::size_t>(MaxLayerEntries)) {
        return Fail(Where(part, m) + ": more than " + std::to_string(MaxLayerEntries) +
                    " notes in one voice");
      }
      cell.layers.push_back(LayerModel{layer.voice, layer.duration, std::move(layer.entries)});
    }
    if (dropped) {
      if (firstDropped < 0) firstDropped = m;
      ++droppedVoiceMeasures;
    }
  }
  if (droppedVoiceMeasures > 0) {
    Warn(status, "part " + part.id + ": more than four voices on a staff in " +
                     std::to_string(droppedVoiceMeasures) + " measure(s), first in measure " +
                     std::to_string(firstDropped + 1) + "; the further voices are left out");
  }
  if (missingDurations > 0) {
    Warn(status, "part " + part.id + ": " + std::to_string(missingDurations) +
                     " note(s) without <duration> read as taking no time");
  }
  if (backupsBeforeStart > 0) {
    Warn(status, "part " + part.id + ": " + std::to_string(backupsBeforeStart) +
                     " <backup>(s) reach before the measure's start; stopped at the start");
  }
  if (snappedMeasures > 0) {
    Warn(status, "part " + part.id + ": durations that miss the beat or the barline by a rounding error in " +
                     std::to_string(snappedMeasures) + " measure(s), first in measure " +
                     std::to_string(firstSnapped + 1) + "; read as reaching it");
  }
  return Status{};
}

bool Score::Impl::RewriteTime(pugi::xml_node time, const Meter& meter, bool keepHidden,
                              std::vector<TextEdit>& edits, Status& status) {
  std::size_t start = 0;
  std::size_t end = 0;
  if (!ElementSpan(xml.text, time, start, end)) {
    Warn(status, "cannot locate a <time> element in the text; left unchanged");
    return false;
  }
  const TimeSpelling spelling = SpellMeter(meter);
  if (!spelling.exact) {
    Warn(status, "time signature " + MeterText(meter) + " has no exact MusicXML form; its length is kept");
  }
  const bool hidden = keepHidden ? std::string(time.attribute("print-object").as_string()) == "no"
                                 : meter.hidden;
  std::string out = "<time";
  bool symbolDone = false;
  bool hiddenDone = false;
  for (pugi::xml_attribute a : time.attributes()) {
    const std::string n = a.name();
    if (n == "symbol") {
      if (!spelling.symbol.empty()) out += " symbol=\"" + spelling.symbol + "\"";
      symbolDone = true;
    } else if (n == "print-object") {
      if (hidden) out += " print-object=\"no\"";
      hiddenDone = true;
    } else {
      out += " " + n + "=\"" + EscapeAttribute(a.value()) + "\"";
    }
  }
  if (!symbolDone && !spelling.symbol.empty()) out += " symbol=\"" + spelling.symbol + "\"";
  if (!hiddenDone && hidden) out += " print-object=\"no\"";
  out += ">";
  const pugi::xml_node first = time.first_child();
  const std::string inner = first && IsWhitespaceNode(first) ? first.value() : "";
  const std::string closing = LastWhitespace(time);
  for (const auto& [beats, type] : spelling.pairs) {
    AppendBeatPair(out, inner, beats, type);
  }
  out += closing + "</time>";
  edits.push_back(TextEdit{start, end - start, out});
  return true;
}

bool Score::Impl::InsertTime(pugi::xml_node measure, const Meter& meter,
                             const std::vector<pugi::xml_node>& restate,
                             std::vector<TextEdit>& edits, Status& status) {
  const std::string& text = xml.text;
  auto startOf = [&](pugi::xml_node n) -> std::size_t {
    const std::ptrdiff_t at = n.offset_debug();
    if (n.type() == pugi::node_element) {
      if (at < 1 || static_cast<std::size_t>(at) > text.size() ||
          text[static_cast<std::size_t>(at) - 1] != '<') {
        return std::string::npos;
      }
      return static_cast<std::size_t>(at) - 1;
    }
    return at < 0 ? std::string::npos : static_cast<std::size_t>(at);
  };
  // Where the closing tag of an element begins.
  auto closingOf = [&](pugi::xml_node n) -> std::size_t {
    const std::size_t s = startOf(n);
    if (s == std::string::npos) return s;
    const std::size_t gt = text.find('>', s);
    if (gt == std::string::npos || text[gt - 1] == '/') return std::string::npos;
    return FindClosingTag(text, n.name(), gt);
  };
  const TimeSpelling spelling = SpellMeter(meter);
  if (!spelling.exact && restate.empty()) {
    Warn(status, "time signature " + MeterText(meter) + " has no exact MusicXML form; its length is kept");
  }
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  bool verbatim = !restate.empty();
  for (pugi::xml_node r : restate) {
    std::size_t start = 0;
    std::size_t end = 0;
    verbatim = verbatim && ElementSpan(text, r, start, end);
    spans.emplace_back(start, end);
  }
  auto timeText = [&](const std::string& indent, const std::string& unit) {
    // A restated signature repeats the elements that stated it (one per
    // staff where they are numbered), symbol and all; only the visibility
    // is this measure's.
    if (verbatim) {
      std::string out;
      for (std::size_t i = 0; i < restate.size(); ++i) {
        if (i != 0) out += indent;
        const std::size_t gt = text.find('>', spans[i].first);
        out += "<time";
        for (pugi::xml_attribute a : restate[i].attributes()) {
          if (std::string(a.name()) == "print-object") continue;
          // Appended piece by piece: " " + std::string(...) trips g++ 12's
          // -Wrestrict false positive at -O3 (the Release build).
          out.append(" ").append(a.name()).append("=\"");
          out.append(EscapeAttribute(a.value())).append("\"");
        }
        if (meter.hidden) out += " print-object=\"no\"";
        out += text.substr(gt, spans[i].second - gt);
      }
      return out;
    }
    std::string out = "<time";
    if (!spelling.symbol.empty()) out += " symbol=\"" + spelling.symbol + "\"";
    if (meter.hidden) out += " print-object=\"no\"";
    out += ">";
    const std::string inner = indent + unit;
    for (const auto& [beats, type] : spelling.pairs) {
      AppendBeatPair(out, inner, beats, type);
    }
    return out + indent + "</time>";
  };

  pugi::xml_node firstTimed;
  pugi::xml_node attributes;
  for (pugi::xml_node c : measure.children()) {
    if (c.type() != pugi::node_element) continue;
    const std::string n = c.name();
    if (n == "note" || n == "backup" || n == "forward") {
      firstTimed = c;
      break;
    }
    if (n == "attributes" && !attributes) attributes = c;
  }
  const std::string measureClose = LastWhitespace(measure);
  if (attributes && attributes.first_child()) {
    pugi::xml_node before;
    pugi::xml_node firstElement;
    for (pugi::xml_node c : attributes.children()) {
      if (c.type() != pugi::node_element) continue;
      if (!firstElement) firstElement = c;
      const std::string n = c.name();
      if (n != "footnote" && n != "level" && n != "divisions" && n != "key") {
        before = c;
        break;
      }
    }
    const std::string closeWs = LastWhitespace(attributes);
    const std::string childWs = firstElement ? WhitespaceBefore(firstElement) : closeWs;
    const std::string unit = IndentUnit(childWs, closeWs);
    if (before) {
      const std::size_t at = startOf(before);
      if (at == std::string::npos) return false;
      edits.push_back(TextEdit{at, 0, timeText(childWs, unit) + WhitespaceBefore(before)});
    } else {
      const pugi::xml_node last = attributes.last_child();
      const std::size_t at = IsWhitespaceNode(last) ? startOf(last) : closingOf(attributes);
      if (at == std::string::npos) return false;
      edits.push_back(TextEdit{at, 0, childWs + timeText(childWs, unit)});
    }
    return true;
  }
  const pugi::xml_node anchor = attributes ? attributes : firstTimed;
  const std::string childWs = anchor ? WhitespaceBefore(anchor) : measureClose;
  const std::string unit = IndentUnit(childWs, measureClose);
  const std::string inner = childWs.empty() ? "" : childWs + unit;
  const std::string block = "<attributes>" + inner + timeText(inner, unit) + childWs + "</attributes>";
  if (attributes) {
    // An empty <attributes/> becomes one that holds the time signature.
    const std::size_t at = startOf(attributes);
    const std::size_t gt = at == std::string::npos ? at : text.find('>', at);
    if (gt == std::string::npos) return false;
    std::size_t end = gt + 1;
    if (text[gt - 1] != '/') {
      const std::size_t close = FindClosingTag(text, "attributes", gt);
      end = close == std::string::npos ? close : text.find('>', close);
      if (end == std::string::npos) return false;
      ++end;
    }
    edits.push_back(TextEdit{at, end - at, block});
    return true;
  }
  if (firstTimed) {
    const std::size_t at = startOf(firstTimed);
    if (at == std::string::npos) return false;
    edits.push_back(TextEdit{at, 0, block + childWs});
    return true;
  }
  const pugi::xml_node last = measure.last_child();
  const std::size_t at = last && IsWhitespaceNode(last) ? startOf(last) : closingOf(measure);
  if (at == std::string::npos) {
    Warn(status, Where(parts[0], 0) + ": an empty <measure/> element cannot take a time signature");
    return false;
  }
  edits.push_back(TextEdit{at, 0, childWs + block});
  return true;
}

Status Score::Impl::Apply(const simhost::Host& host, Status& status) {
  const auto count = static_cast<std::size_t>(measureCount);
  // The records as they are now, against what BuildHost put in.
  std::vector<Meter> current = records;
  std::vector<bool> recordChanged(count, false);
  std::vector<bool> hiddenChanged(count, false);
  for (std::size_t mi = 0; mi < count; ++mi) {
    const Meter& before = records[mi];
    simhost::MeasureView view;
    const auto measure = static_cast<std::int16_t>(mi + 1);
    if (!host.ReadMeasure(measure, view)) {
      Warn(status, "measure " + std::to_string(mi + 1) + " has no record; left unchanged");
      continue;
    }
    Meter now;
    if (!DecodeSignature(host, view.beats, view.beatDuration, view.signatureFlags, now)) {
      Warn(status, "measure " + std::to_string(mi + 1) + ": its time signature cannot be read; left unchanged");
      continue;
    }
    now.hidden = (view.signatureFlags & AlwaysHideFlag) != 0;
    if (pickups[mi]) {
      // An implicit measure keeps its written <time>: its own signature is
      // its length, which its notes already say.
      if (!now.SameBeats(*pickups[mi]) || now.hidden != pickups[mi]->hidden) {
        Warn(status, "measure " + std::to_string(mi + 1) +
                         " is a pickup (implicit); its new signature " + MeterText(now) +
                         " has no MusicXML form there and the measure is left as written");
      }
      continue;
    }
    // BuildHost sets no display signature except at pickups: one now is the
    // plug-in's, also where it is the only change.
    if ((view.displayFlags & DisplayInUseFlag) != 0) {
      Warn(status, "measure " + std::to_string(mi + 1) +
                       ": the separate display time signature has no MusicXML form; the governing one is written");
    }
    if (now == before) continue;
    current[mi] = now;
    recordChanged[mi] = true;
    hiddenChanged[mi] = now.hidden != before.hidden;
  }

  std::vector<TextEdit> edits;
  for (PartModel& part : parts) {
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
          Warn(status, Where(part, static_cast<int>(mi)) +
                           ": its staves got different time signatures; the first staff's is written");
        }
      }
      if (staffMeter) now[mi] = *staffMeter;
    }

    // What the edited text states, measure by measure; empty while no <time>
    // has been stated (a score or passage without time signature).
    std::optional<Meter> stated;
    std::vector<pugi::xml_node> origin;  // the <time>s that stated the original signature
    for (std::size_t mi = 0; mi < count; ++mi) {
      const Meter& before = was[mi];
      const bool changedHere = !(now[mi] == before);
      if (changedHere) changed = true;
      if (!part.times[mi].empty()) {
        if (changedHere) {
          for (pugi::xml_node t : part.times[mi]) {
            RewriteTime(t, now[mi], !part.independent && !hiddenChanged[mi], edits, status);
          }
          stated = now[mi];
        } else if (part.synthesized[mi]) {
          stated.reset();  // senza-misura or unreadable: still no signature
        } else {
          stated = before;
        }
        origin = changedHere ? std::vector<pugi::xml_node>() : part.times[mi];
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
        if (InsertTime(part.measures[mi], target,
                       restating ? origin : std::vector<pugi::xml_node>(), edits, status)) {
          stated = target;
        }
      }
    }
  }
  if (edits.empty()) {
    changed = false;
    return status;
  }
  const std::string text = ApplyEdits(xml.text, edits);
  pugi::xml_document check;
  const pugi::xml_parse_result reparsed =
      check.load_buffer(text.data(), text.size(), ParseFlags, pugi::encoding_utf8);
  if (!reparsed) {
    return Fail(std::string("internal error: the edited document does not parse: ") +
                reparsed.description());
  }
  const std::string bytes = EncodeXmlText(xml, text);
  rootBytes = bytes;
  if (archive) {
    std::string error;
    if (!ReplaceArchiveMember(original, rootPath, bytes, output, error)) return Fail(error);
  } else {
    output = bytes;
  }
  changed = true;
  return status;
}

bool ReadMeasureSignature(const simhost::Host& host, std::int16_t measure, SignatureText& out) try {
  simhost::MeasureView view;
  out = SignatureText{};
  if (!host.ReadMeasure(measure, view)) return false;
  out.top = host.FormatTop(view.beats, (view.signatureFlags & CompositeTopFlag) != 0);
  out.bottom = host.FormatBottom(view.beatDuration, (view.signatureFlags & CompositeBottomFlag) != 0);
  out.hidden = (view.signatureFlags & AlwaysHideFlag) != 0;
  out.hasDisplay = (view.displayFlags & DisplayInUseFlag) != 0;
  if (out.hasDisplay) {
    out.displayTop = host.FormatTop(view.displayBeats, (view.displayFlags & DisplayCompositeTopFlag) != 0);
    out.displayBottom =
        host.FormatBottom(view.displayBeatDuration, (view.displayFlags & DisplayCompositeBottomFlag) != 0);
  }
  return true;
} catch (...) {
  return false;
}

bool ReadStaffSignature(const simhost::Host& host, std::int16_t staff, std::int16_t measure,
                        SignatureText& out) try {
  simhost::StaffTimeSigView view;
  out = SignatureText{};
  if (!host.ReadStaffTimeSig(staff, measure, view)) return false;
  out.top = host.FormatTop(view.beats, (view.signatureFlags & CompositeTopFlag) != 0);
  out.bottom = host.FormatBottom(view.beatDuration, (view.signatureFlags & CompositeBottomFlag) != 0);
  return true;
} catch (...) {
  return false;
}

Score::Score() : impl_(std::make_unique<Impl>()) {}
Score::~Score() = default;
Score::Score(Score&&) noexcept = default;
Score& Score::operator=(Score&&) noexcept = default;

namespace {
Status OutOfMemory(const std::string& name) {
  Status s;
  s.ok = false;
  s.message = name + ": out of memory";
  return s;
}
}  // namespace

Status Score::LoadFile(const std::string& path) {
  try {
    impl_ = std::make_unique<Impl>();
    impl_->name = path;
    std::string bytes;
    std::string error;
    if (!ReadWholeFile(path, bytes, error)) return impl_->Fail("cannot read: " + error);
    return impl_->Load(bytes);
  } catch (...) {
    if (impl_) impl_->loaded = impl_->built = false;
    return OutOfMemory(path);
  }
}

Status Score::LoadBytes(std::string_view bytes, const std::string& name) {
  try {
    impl_ = std::make_unique<Impl>();
    impl_->name = name == "-" ? "<stdin>" : name;
    return impl_->Load(bytes);
  } catch (...) {
    if (impl_) impl_->loaded = impl_->built = false;
    return OutOfMemory(name);
  }
}

Status Score::BuildHost(simhost::Host& host) {
  Impl& d = *impl_;
  if (!d.loaded) return d.Fail("no score loaded");
  if (d.built) return d.Fail("the score was already put into a host");
  try {
    for (const StaffInfo& info : d.staves) {
      std::uint16_t flags = 0;
      if (info.hidden) flags |= HiddenStaffFlag;
      if (info.independent) flags |= IndependentSignaturesFlag;
      host.AddStaff(info.staff, flags);
    }
    // Equal signatures share their chains; the plug-in only ever adds chains.
    std::map<std::string, HostSignature> chains;
    auto store = [&](const Meter& meter) {
      const std::string key = MeterText(meter);
      auto it = chains.find(key);
      if (it == chains.end()) it = chains.emplace(key, StoreMeter(host, meter)).first;
      return it->second;
    };
    for (int m = 0; m < d.measureCount; ++m) {
      const auto measure = static_cast<std::int16_t>(m + 1);
      const Meter& meter = d.records[static_cast<std::size_t>(m)];
      const std::optional<Meter>& pickup = d.pickups[static_cast<std::size_t>(m)];
      const HostSignature sig = store(pickup ? *pickup : meter);
      simhost::MeasureView view;
      view.beats = sig.beats;
      view.beatDuration = sig.beatDuration;
      view.signatureFlags = static_cast<std::uint16_t>(sig.flags | (meter.hidden ? AlwaysHideFlag : 0));
      if (pickup) {
        const HostSignature shown = store(meter);
        view.displayBeats = shown.beats;
        view.displayBeatDuration = shown.beatDuration;
        view.displayFlags = DisplayInUseFlag;
        if ((shown.flags & CompositeTopFlag) != 0) view.displayFlags |= DisplayCompositeTopFlag;
        if ((shown.flags & CompositeBottomFlag) != 0) view.displayFlags |= DisplayCompositeBottomFlag;
      }
      host.SetMeasure(measure, view);
      for (const PartModel& part : d.parts) {
        if (!part.independent) continue;
        const HostSignature own = store(part.meters[static_cast<std::size_t>(m)]);
        for (int s = 0; s < part.staffCount; ++s) {
          host.SetStaffTimeSig(static_cast<std::int16_t>(part.firstStaff + s + 1), measure,
                               own.beats, own.beatDuration, own.flags);
        }
      }
      for (std::size_t s = 0; s < d.staves.size(); ++s) {
        const CellModel& cell = d.cells[s][static_cast<std::size_t>(m)];
        for (std::size_t l = 0; l < cell.layers.size(); ++l) {
          host.SetLayer(d.staves[s].staff, measure, static_cast<int>(l), cell.layers[l].duration,
                        cell.layers[l].entries);
        }
      }
    }
  } catch (...) {
    return OutOfMemory(d.name);
  }
  d.built = true;
  return Status{};
}

Status Score::ApplyHost(const simhost::Host& host) {
  Impl& d = *impl_;
  if (!d.built) return d.Fail("the score was not put into a host");
  if (d.applied) return d.Fail("the host's changes were already applied");
  d.applied = true;
  Status status;
  try {
    return d.Apply(host, status);
  } catch (...) {
    d.changed = false;
    return OutOfMemory(d.name);
  }
}

bool Score::Changed() const { return impl_->changed; }

Status Score::SaveBytes(std::string& out, Form form) const {
  Impl& d = *impl_;  // Fail is not const; nothing is changed here
  if (!d.loaded) return d.Fail("no score loaded");
  try {
    if (form == Form::AsLoaded || (form == Form::Archive) == d.archive) {
      out = d.changed ? d.output : d.original;
    } else if (form == Form::Xml) {
      out = d.rootBytes;
    } else {
      std::string error;
      if (!MakeArchive("score.musicxml", d.rootBytes, out, error)) {
        Status s;
        s.ok = false;
        s.message = d.name + ": cannot make an archive: " + error;
        return s;
      }
    }
  } catch (...) {
    return OutOfMemory(d.name);
  }
  return Status{};
}

Status Score::SaveFile(const std::string& path, Form form) const {
  if (!impl_->loaded) return impl_->Fail("no score loaded");
  try {
    std::string bytes;
    Status s = SaveBytes(bytes, form);
    if (!s) return s;
    return WriteFileAtomic(path, bytes);
  } catch (...) {
    return OutOfMemory(path);
  }
}

Score::Form FormForPath(const std::string& path) {
  std::string lower;
  for (char c : path) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  auto endsWith = [&](const std::string& suffix) {
    return lower.size() > suffix.size() &&
           lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  if (endsWith(".mxl")) return Score::Form::Archive;
  if (endsWith(".musicxml") || endsWith(".xml")) return Score::Form::Xml;
  return Score::Form::AsLoaded;
}

const std::string& Score::Name() const { return impl_->name; }
bool Score::IsArchive() const { return impl_->archive; }
int Score::MeasureCount() const { return impl_->measureCount; }
std::string Score::MeasureNumber(int measure) const {
  if (measure < 1 || measure > static_cast<int>(impl_->measureNumbers.size())) return "";
  return impl_->measureNumbers[static_cast<std::size_t>(measure - 1)];
}
const std::vector<StaffInfo>& Score::Staves() const { return impl_->staves; }
const std::vector<std::string>& Score::Warnings() const { return impl_->warnings; }

}  // namespace musicxml
