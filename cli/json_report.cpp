#include "cli/json_report.h"

#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>

#include "cli/terminal.h"

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

}  // namespace

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
    changed += report.ChangedMeasures();
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

}  // namespace meterfix
