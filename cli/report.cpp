#include "cli/report.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <utility>

namespace meterfix {

namespace {

using Json = nlohmann::ordered_json;

Json SignatureJson(const SignatureState& state) {
  if (!state.present) return nullptr;
  Json object;
  object["top"] = state.signature.top;
  object["bottom"] = state.signature.bottom;
  object["hidden"] = state.hidden;
  if (state.display) {
    object["display"] = Json{{"top", state.display->top}, {"bottom", state.display->bottom}};
  } else {
    object["display"] = nullptr;
  }
  object["text"] = MusicalForm(state.signature);
  return object;
}

// The length of the well-formed UTF-8 sequence at text[i], 0 when the byte
// there starts none.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b = at(i);
  if (b < 0x80) return 1;
  std::size_t length = 0;
  if (b >= 0xC2 && b <= 0xDF)
    length = 2;
  else if (b >= 0xE0 && b <= 0xEF)
    length = 3;
  else if (b >= 0xF0 && b <= 0xF4)
    length = 4;
  for (std::size_t k = 1; length != 0 && k < length; ++k) {
    if (i + k >= text.size() || (at(i + k) & 0xC0) != 0x80) length = 0;
  }
  if (length == 3 && ((b == 0xE0 && at(i + 1) < 0xA0) || (b == 0xED && at(i + 1) >= 0xA0))) {
    length = 0;
  }
  if (length == 4 && ((b == 0xF0 && at(i + 1) < 0x90) || (b == 0xF4 && at(i + 1) >= 0x90))) {
    length = 0;
  }
  return length;
}

// JSON strings are UTF-8: a byte that is not is written as the text
// "\xHH", as the text report shows it, so that two names that differ only
// there stay two names. `escaped` tells whether that happened.
std::string JsonText(std::string_view text, bool* escaped = nullptr) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8Length(text, i);
    if (length != 0) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    const auto byte = static_cast<unsigned char>(text[i++]);
    out.append("\\x").append(1, Hex[byte >> 4]).append(1, Hex[byte & 0x0F]);
    if (escaped != nullptr) *escaped = true;
  }
  return out;
}

// The exact bytes of a name in hex, for a reader that needs the file itself.
std::string HexBytes(std::string_view text) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out.append(1, Hex[byte >> 4]).append(1, Hex[byte & 0x0F]);
  }
  return out;
}

Json ReportJson(const FileReport& report) {
  Json object;
  bool escaped = false;
  object["file"] = JsonText(report.file, &escaped);
  if (escaped) object["file_bytes"] = HexBytes(report.file);
  object["output"] = report.output.empty() ? Json(nullptr) : Json(JsonText(report.output));
  object["status"] = report.error.empty() ? "ok" : "error";
  object["error"] = report.error.empty() ? Json(nullptr) : Json(JsonText(report.error));
  object["changed"] = report.changed;
  Json measures = Json::array();
  for (const MeasureChange& m : report.measures) {
    measures.push_back(Json{{"measure", m.measure},
                            {"number", m.number},
                            {"changed", m.changed},
                            {"before", SignatureJson(m.before)},
                            {"after", SignatureJson(m.after)}});
    if (!m.evidence.empty()) measures.back()["evidence"] = m.evidence;
  }
  object["measures"] = std::move(measures);
  Json staves = Json::array();
  for (const StaffChange& s : report.staves) {
    staves.push_back(Json{{"staff", s.staff},
                          {"measure", s.measure},
                          {"before", SignatureJson(s.before)},
                          {"after", SignatureJson(s.after)}});
  }
  object["staves"] = std::move(staves);
  Json kept = Json::array();
  for (const KeptChange& k : report.kept) {
    kept.push_back(Json{{"measure", k.measure},
                        {"number", k.number},
                        {"staff", k.staff == 0 ? Json(nullptr) : Json(k.staff)},
                        {"reason", k.reason},
                        {"plugin", SignatureJson(k.plugin)},
                        {"written", SignatureJson(k.written)}});
  }
  object["kept"] = std::move(kept);
  Json messages = Json::array();
  for (const Message& message : report.messages) {
    messages.push_back(Json{{"caption", message.caption}, {"text", message.text}});
  }
  object["messages"] = std::move(messages);
  Json warnings = Json::array();
  for (const std::string& warning : report.warnings) warnings.push_back(JsonText(warning));
  object["warnings"] = std::move(warnings);
  return object;
}

std::size_t ChangedCount(const FileReport& report) {
  return static_cast<std::size_t>(std::count_if(report.measures.begin(), report.measures.end(),
                                                [](const MeasureChange& m) { return m.changed; }));
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + separator.size();
  }
}

bool ToNumber(const std::string& text, std::int64_t& value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  value = std::stoll(text);
  return true;
}

std::string SignatureCell(const SignatureState& state, bool withUnits) {
  if (!state.present) return "(none)";
  std::string cell = MusicalForm(state.signature);
  const std::string units = withUnits ? BeatUnits(state.signature) : std::string();
  if (!units.empty()) cell += " (" + units + ")";
  if (state.hidden) cell += " hidden";
  if (state.display) cell += " shows " + MusicalForm(*state.display);
  return cell;
}

std::string Plural(std::size_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// The score's own number first; the position only where it differs.
std::string MeasureName(const std::string& number, int measure) {
  std::string name = number.empty() ? std::to_string(measure) : Printable(number);
  if (!number.empty() && number != std::to_string(measure))
    name += " [" + std::to_string(measure) + "]";
  return name;
}

// Whether two signatures read the same in musical form though their beats
// differ (6/8 in eighths or in dotted quarters): then the beats are named.
bool SameForm(const SignatureState& a, const SignatureState& b) {
  return a.present && b.present && MusicalForm(a.signature) == MusicalForm(b.signature) &&
         !(a.signature == b.signature);
}

// The name of a beat of `duration` EDUs, plain or dotted; empty for others.
std::string BeatName(std::int64_t duration) {
  static const std::pair<std::int64_t, const char*> Names[] = {
      {4096, "whole"},    {2048, "half"}, {1024, "quarter"}, {512, "eighth"},
      {256, "sixteenth"}, {128, "32nd"},  {64, "64th"}};
  for (const auto& [length, name] : Names) {
    if (duration == length) return name;
    if (duration == length * 3 / 2) return std::string("dotted ") + name;
  }
  return {};
}

}  // namespace

bool SignatureGroups(const SignatureText& signature, std::vector<SignatureGroup>& out) {
  out.clear();
  const std::vector<std::string> groups = Split(signature.top, "++");
  // The host shows group boundaries of a bottom chain as "++"; the plug-in's
  // own text joins one duration per group with "+".
  const bool marked = signature.bottom.find("++") != std::string::npos;
  const std::vector<std::string> bottoms = Split(signature.bottom, marked ? "++" : "+");
  if (bottoms.size() != 1 && bottoms.size() != groups.size()) return false;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    SignatureGroup group;
    // Durations within one group add up to its beat.
    for (const std::string& part : Split(bottoms[bottoms.size() == 1 ? 0 : g], "+")) {
      std::int64_t value = 0;
      if (!ToNumber(part, value) || value <= 0) return false;
      group.beat += value;
    }
    for (const std::string& part : Split(groups[g], "+")) {
      std::int64_t count = 0;
      if (!ToNumber(part, count) || count <= 0) return false;
      group.counts.push_back(count);
    }
    out.push_back(std::move(group));
  }
  return true;
}

std::string ConventionalForm(const SignatureText& signature) {
  std::vector<SignatureGroup> groups;
  if (!SignatureGroups(signature, groups)) return {};
  std::string result;
  for (const SignatureGroup& group : groups) {
    std::int64_t duration = group.beat;
    // A whole note is 4096 EDUs; dotted beats count in their thirds.
    std::int64_t factor = 1;
    if (4096 % duration != 0) {
      if (duration % 3 != 0 || 4096 % (duration / 3) != 0) return {};
      factor = 3;
      duration /= 3;
    }
    // One group keeps its additive counts (3+3+2/8); of several, each is
    // read as its total (1+1++3 over 1024+512 is 2/4+3/8).
    std::string numbers;
    std::int64_t total = 0;
    for (const std::int64_t count : group.counts) {
      // Beyond 32767 a count has no reading: no reader takes it back.
      if (count * factor > 32767) return {};
      if (!numbers.empty()) numbers += "+";
      numbers += std::to_string(count * factor);
      total += count * factor;
    }
    if (groups.size() > 1) numbers = std::to_string(total);
    if (!result.empty()) result += "+";
    result += numbers + "/" + std::to_string(4096 / duration);
  }
  return result;
}

std::string Printable(std::string_view text) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  auto escape = [&](unsigned char byte) {
    out += "\\x";
    out += Hex[byte >> 4];
    out += Hex[byte & 0x0F];
  };
  auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char b = at(i);
    if (b < 0x20 || b == 0x7F) {
      escape(b);
      ++i;
      continue;
    }
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    // Well-formed UTF-8 passes, except the C1 controls (U+0080..U+009F,
    // which some terminals obey like ESC); any other byte is escaped.
    const std::size_t length = Utf8Length(text, i);
    bool valid = length != 0;
    if (valid && b == 0xC2 && at(i + 1) < 0xA0) valid = false;
    if (!valid) {
      escape(b);
      ++i;
      continue;
    }
    // The bidirectional controls (U+202A..U+202E, U+2066..U+2069) and marks
    // (U+200E, U+200F, U+061C) can make a name or a measure read backwards:
    // escaped whole, like a control character.
    const bool bidi = (length == 3 && b == 0xE2 &&
                       ((at(i + 1) == 0x80 && at(i + 2) >= 0xAA && at(i + 2) <= 0xAE) ||
                        (at(i + 1) == 0x80 && (at(i + 2) == 0x8E || at(i + 2) == 0x8F)) ||
                        (at(i + 1) == 0x81 && at(i + 2) >= 0xA6 && at(i + 2) <= 0xA9))) ||
                      (length == 2 && b == 0xD8 && at(i + 1) == 0x9C);
    if (bidi) {
      for (std::size_t k = 0; k < length; ++k) escape(at(i + k));
      i += length;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

std::string MusicalForm(const SignatureText& signature) {
  const std::string form = ConventionalForm(signature);
  if (!form.empty()) return form;
  return signature.top + "/" + signature.bottom + " (host units)";
}

std::string BeatUnits(const SignatureText& signature) {
  std::vector<SignatureGroup> groups;
  if (!SignatureGroups(signature, groups)) return {};
  const std::vector<std::string> texts = Split(signature.top, "++");
  std::string result;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const std::string name = BeatName(groups[g].beat);
    if (name.empty()) return {};
    std::int64_t total = 0;
    for (const std::int64_t count : groups[g].counts) total += count;
    if (!result.empty()) result += ", ";
    const bool half = name.size() >= 4 && name.compare(name.size() - 4, 4, "half") == 0;
    result += texts[g] + " " +
              (total == 1 ? name
               : half     ? name.substr(0, name.size() - 1) + "ves"
                          : name + "s");
  }
  return result;
}

std::string DescribeChange(const SignatureState& before, const SignatureState& after) {
  // Where only the beat unit changed (6/8 as six eighths or two dotted
  // quarters) the forms alone would read the same.
  const bool sameForm = SameForm(before, after);
  return SignatureCell(before, sameForm) + " -> " + SignatureCell(after, sameForm);
}

std::string KeptLine(const KeptChange& kept) {
  const bool sameForm = SameForm(kept.plugin, kept.written);
  return (kept.staff != 0 ? "staff " + std::to_string(kept.staff) + ", " : std::string()) +
         "measure " + MeasureName(kept.number, kept.measure) + ": " + Printable(kept.reason) +
         ": " + SignatureCell(kept.plugin, sameForm) + " (the file has " +
         SignatureCell(kept.written, sameForm) + ")";
}

std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates) {
  // Edit distance, cheap at these lengths.
  auto distance = [](const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
      std::size_t diagonal = row[0];
      row[0] = i;
      for (std::size_t j = 1; j <= b.size(); ++j) {
        const std::size_t up = row[j];
        const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                          std::tolower(static_cast<unsigned char>(b[j - 1]));
        row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
        diagonal = up;
      }
    }
    return row[b.size()];
  };
  std::string best;
  std::size_t bestDistance = 0;
  for (const std::string& candidate : candidates) {
    const std::size_t d = distance(word, candidate);
    if (best.empty() || d < bestDistance) {
      best = candidate;
      bestDistance = d;
    }
  }
  // A third of the word may be wrong, at least one letter.
  if (best.empty() || bestDistance > std::max<std::size_t>(1, word.size() / 3)) return {};
  return best;
}

std::string FormatJson(const std::vector<FileReport>& reports) {
  Json json;
  json["schema"] = JsonSchema;
  json["files"] = Json::array();
  std::size_t failed = 0;
  std::size_t measures = 0;
  std::size_t changed = 0;
  std::size_t kept = 0;
  for (const FileReport& report : reports) {
    json["files"].push_back(ReportJson(report));
    if (!report.error.empty()) ++failed;
    measures += report.measures.size();
    changed += ChangedCount(report);
    kept += report.kept.size();
  }
  json["summary"] = Json{{"files", reports.size()},
                         {"failed", failed},
                         {"measures", measures},
                         {"changed", changed},
                         {"kept", kept}};
  // Replace: a score's texts are not ours to reject for bad UTF-8.
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string FormatText(const std::vector<FileReport>& reports, bool allMeasures) {
  std::string text;
  for (const FileReport& report : reports) {
    if (!report.error.empty()) {
      text += Printable(report.file) + ": failed: " + Printable(report.error) + "\n";
      continue;
    }
    text += Printable(report.file) + ": " + std::to_string(ChangedCount(report)) + " of " +
            Plural(report.measures.size(), "measure") + " changed";
    if (!report.staves.empty()) {
      text += ", " + Plural(report.staves.size(), "staff signature") + " changed";
    }
    text += ", " + Plural(report.messages.size(), "message");
    if (!report.kept.empty())
      text += ", " + std::to_string(report.kept.size()) + " kept as written";
    if (!report.changed) {
      text += "; nothing to write";
    } else if (report.output.empty()) {
      text += "; nothing written (use -o, --in-place or --out-dir)";
    } else {
      text += "; written to " + Printable(report.output);
    }
    text += "\n";

    for (const MeasureChange& m : report.measures) {
      if (!m.changed && !allMeasures) continue;
      text += "  measure " + MeasureName(m.number, m.measure) + ": " +
              (m.changed ? DescribeChange(m.before, m.after)
                         : SignatureCell(m.before, false) + " (unchanged)") +
              (m.evidence.empty() ? "" : " (" + m.evidence + ")") + "\n";
    }
    for (const StaffChange& s : report.staves) {
      text += "  staff " + std::to_string(s.staff) + ", measure " + std::to_string(s.measure) +
              ": " + DescribeChange(s.before, s.after) + "\n";
    }
    for (const KeptChange& k : report.kept) text += "  kept as written: " + KeptLine(k) + "\n";
    for (const Message& message : report.messages) {
      text += "  message: " + Printable(message.caption + ": " + message.text) + "\n";
    }
    for (const std::string& warning : report.warnings) {
      text += "  warning: " + Printable(warning) + "\n";
    }
  }
  return text;
}

}  // namespace meterfix
