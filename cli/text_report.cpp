#include "cli/text_report.h"

#include "cli/terminal.h"

namespace meterfix {

namespace {

std::string SignatureCell(const SignatureState& state, bool withUnits) {
  if (!state.present) return "(none)";
  std::string cell = MusicalForm(state.signature);
  const std::string units = withUnits ? BeatUnits(state.signature.meter) : std::string();
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

}  // namespace

std::string SummaryLine(const FileReport& report) {
  if (!report.error.empty()) return "failed: " + Printable(report.error);
  std::string line = std::to_string(report.ChangedMeasures()) + " of " +
                     Plural(report.measures.size(), "measure") + " changed";
  if (!report.staves.empty()) {
    line += ", " + Plural(report.staves.size(), "staff signature") + " changed";
  }
  line += ", " + Plural(report.messages.size(), "message");
  if (!report.kept.empty()) line += ", " + std::to_string(report.kept.size()) + " kept as written";
  if (!report.changed) {
    line += "; nothing to write";
  } else if (report.output.empty()) {
    line += "; nothing written (use -o, --in-place or --out-dir)";
  } else {
    line += "; written to " + Printable(report.output);
  }
  return line;
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

std::string FormatText(const std::vector<FileReport>& reports, bool allMeasures) {
  std::string text;
  for (const FileReport& report : reports) {
    text += Printable(report.file) + ": " + SummaryLine(report) + "\n";
    if (!report.error.empty()) continue;
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
