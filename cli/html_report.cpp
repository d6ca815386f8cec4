#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/report.h"

namespace meterfix {

namespace {

std::string Escape(const std::string& text) {
  std::string out;
  for (const char c : Printable(text)) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Fixed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

constexpr double Left = 110;   // room for the staff names
constexpr double Width = 360;  // the measure's time line
constexpr double Row = 34;

std::string Label(const SignatureState& state) {
  return state.present ? MusicalForm(state.signature) : "none";
}

// The measure as rows of group starts (dots, red where no old beat falls)
// over the old beats (grey, above the line) and the new beats (blue, below).
std::string MeasureSvg(const MeasureChange& m) {
  const std::vector<int> oldBeats =
      m.before.present ? BeatStarts(m.before.signature) : std::vector<int>{};
  const std::vector<int> newBeats =
      m.after.present ? BeatStarts(m.after.signature) : std::vector<int>{};
  int length = m.length;
  for (const StaffStarts& staff : m.starts) {
    for (const int p : staff.positions) length = std::max(length, p + 1);
  }
  if (length <= 0) length = 4096;
  auto x = [&](int position) { return Left + Width * position / length; };
  const std::size_t rows = std::max<std::size_t>(1, m.starts.size());
  const double height = 30 + Row * static_cast<double>(rows) + 22;
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    Fixed(Left + Width + 20) + "\" height=\"" + Fixed(height) +
                    "\" role=\"img\" aria-label=\"group starts against the old and new beats\">";
  svg += "<text x=\"" + Fixed(Left) +
         "\" y=\"14\" class=\"old\">old beats: " + Escape(Label(m.before)) + "</text>";
  svg += "<text x=\"" + Fixed(Left + Width) +
         "\" y=\"14\" class=\"new\" text-anchor=\"end\">new beats: " + Escape(Label(m.after)) +
         "</text>";
  for (std::size_t r = 0; r < rows; ++r) {
    const double y = 30 + Row * static_cast<double>(r) + Row / 2;
    svg += "<line x1=\"" + Fixed(Left) + "\" y1=\"" + Fixed(y) + "\" x2=\"" + Fixed(Left + Width) +
           "\" y2=\"" + Fixed(y) + "\" class=\"axis\"/>";
    for (const int beat : oldBeats) {
      svg += "<line x1=\"" + Fixed(x(beat)) + "\" y1=\"" + Fixed(y - 13) + "\" x2=\"" +
             Fixed(x(beat)) + "\" y2=\"" + Fixed(y) + "\" class=\"oldbeat\"/>";
    }
    for (const int beat : newBeats) {
      svg += "<line x1=\"" + Fixed(x(beat)) + "\" y1=\"" + Fixed(y) + "\" x2=\"" + Fixed(x(beat)) +
             "\" y2=\"" + Fixed(y + 13) + "\" class=\"newbeat\"/>";
    }
    if (r >= m.starts.size()) continue;
    const StaffStarts& staff = m.starts[r];
    svg += "<text x=\"" + Fixed(Left - 8) + "\" y=\"" + Fixed(y + 4) +
           "\" text-anchor=\"end\" class=\"staff\">" + Escape(staff.name) + "</text>";
    for (const int p : staff.positions) {
      const bool offBeat = std::find(oldBeats.begin(), oldBeats.end(), p) == oldBeats.end();
      svg += "<circle cx=\"" + Fixed(x(p)) + "\" cy=\"" + Fixed(y) + "\" r=\"4\" class=\"" +
             (offBeat ? "off" : "on") + "\"/>";
    }
  }
  svg += "<line x1=\"" + Fixed(Left + Width) + "\" y1=\"22\" x2=\"" + Fixed(Left + Width) +
         "\" y2=\"" + Fixed(height - 18) + "\" class=\"bar\"/>";
  svg += "<line x1=\"" + Fixed(Left) + "\" y1=\"22\" x2=\"" + Fixed(Left) + "\" y2=\"" +
         Fixed(height - 18) + "\" class=\"bar\"/>";
  svg += "</svg>";
  return svg;
}

}  // namespace

std::vector<int> BeatStarts(const SignatureText& signature) {
  std::vector<SignatureGroup> groups;
  if (!SignatureGroups(signature, groups)) return {};
  std::vector<int> beats;
  std::int64_t position = 0;
  for (const SignatureGroup& group : groups) {
    // One count is that many beats; several counts are one beat each
    // (3+3+2 eighths beat three times).
    for (const std::int64_t count : group.counts) {
      if (count > 64 || position + count * group.beat > INT32_MAX) return {};
      if (group.counts.size() == 1) {
        for (std::int64_t i = 0; i < count; ++i)
          beats.push_back(static_cast<int>(position + i * group.beat));
      } else {
        beats.push_back(static_cast<int>(position));
      }
      position += count * group.beat;
    }
  }
  return beats;
}

std::string FormatHtml(const std::vector<FileReport>& reports) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>meterfix report</title>\n<style>\n"
      "body{font-family:sans-serif;margin:1.5em;color:#222;max-width:60em}\n"
      "h2{font-size:1.1em;margin-top:1.6em;word-break:break-all}\n"
      ".summary{margin:.3em 0 .8em}.error{color:#b00}\n"
      ".measure{display:inline-block;vertical-align:top;margin:0 1.2em 1em 0}\n"
      ".measure p{margin:.2em 0;font-family:monospace}\n"
      "svg{background:#fafafa;border:1px solid #ddd}\n"
      "svg text{font-size:11px;font-family:sans-serif}\n"
      ".axis{stroke:#999;stroke-width:1}.bar{stroke:#222;stroke-width:2}\n"
      ".oldbeat{stroke:#888;stroke-width:2}.newbeat{stroke:#1e63c8;stroke-width:2}\n"
      "text.old{fill:#666}text.new{fill:#1e63c8}\n"
      "circle.on{fill:#222}circle.off{fill:#d62020}\n"
      ".legend span{margin-right:1.2em}\n"
      "</style>\n</head>\n<body>\n<h1>meterfix report</h1>\n"
      "<p class=\"legend\"><span>&#9679; a beam group starts</span>"
      "<span style=\"color:#d62020\">&#9679; it starts between the old beats</span>"
      "<span style=\"color:#888\">&#9474; old beat (above the line)</span>"
      "<span style=\"color:#1e63c8\">&#9474; new beat (below the line)</span></p>\n";
  for (const FileReport& report : reports) {
    html += "<section>\n<h2>" + Escape(report.file) + "</h2>\n";
    // The text report's own summary line, without the file name.
    std::string summary = FormatText({report});
    summary = summary.substr(0, summary.find('\n'));
    const std::string prefix = Printable(report.file) + ": ";
    if (summary.rfind(prefix, 0) == 0) summary = summary.substr(prefix.size());
    html += std::string("<p class=\"summary") + (report.error.empty() ? "" : " error") + "\">" +
            Escape(summary) + "</p>\n";
    for (const MeasureChange& m : report.measures) {
      if (!m.changed) continue;
      std::string name = m.number.empty() ? std::to_string(m.measure) : m.number;
      if (!m.number.empty() && m.number != std::to_string(m.measure)) {
        name += " [" + std::to_string(m.measure) + "]";
      }
      html += "<div class=\"measure\"><p>measure " + Escape(name) + ": " +
              Escape(DescribeChange(m.before, m.after)) + "</p>" + MeasureSvg(m) + "</div>\n";
    }
    for (const KeptChange& kept : report.kept) {
      html += "<p class=\"kept\">kept as written: " + Escape(KeptLine(kept)) + "</p>\n";
    }
    for (const Message& message : report.messages) {
      html += "<p>message: " + Escape(message.caption + ": " + message.text) + "</p>\n";
    }
    for (const std::string& warning : report.warnings) {
      html += "<p>warning: " + Escape(warning) + "</p>\n";
    }
    html += "</section>\n";
  }
  html += "</body>\n</html>\n";
  return html;
}

}  // namespace meterfix
