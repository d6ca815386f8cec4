// How meterfix reads beam groups from real-looking MusicXML, end to end: the
// cases a musician would leave alone stay byte-identical, real beam evidence
// still changes the measure, and equivalent notations give the same answer.
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>
#include <string>
#include <vector>

#include "tests/cli_test_support.h"

namespace {

using clitest::OnlyFile;
using clitest::Outcome;
using clitest::ReadFile;
using clitest::RunTool;
using clitest::ScratchDir;
using clitest::WriteFile;
using Json = nlohmann::json;

constexpr int Divisions = 8;  // per quarter: a 32nd is one division

// One measure in a short notation: "r8" an eighth rest, "q" a quarter note,
// "fq" a <forward> of a quarter, "(" opens a beam before a note, ")" closes
// it after one, "@2" puts a note on staff 2; [ ] only group for the reader.
// The beam state runs on across measures, so a beam can cross a barline; a
// measure that starts with "!" has no beam of the one before (left unended).
std::string Notes(const std::string& notation, bool& open) {
  static const std::vector<std::pair<std::string, std::pair<int, const char*>>> values = {
      {"32", {1, "32nd"}},   {"16", {2, "16th"}}, {"8", {4, "eighth"}},
      {"q", {8, "quarter"}}, {"h", {16, "half"}}, {"w", {32, "whole"}}};
  std::string clean;
  for (char c : notation) clean += c == '[' || c == ']' ? ' ' : c;
  if (const auto at = clean.find_first_not_of(' '); at != std::string::npos && clean[at] == '!') {
    clean[at] = ' ';
    open = false;
  }
  std::istringstream in(clean);
  std::string out;
  for (std::string token; in >> token;) {
    const bool begin = token.front() == '(';
    if (begin) token.erase(0, 1);
    const bool end = token.back() == ')';
    if (end) token.pop_back();
    std::string staff = "1";
    if (const auto at = token.find('@'); at != std::string::npos) {
      staff = token.substr(at + 1);
      token.erase(at);
    }
    const bool forward = token.front() == 'f';
    const bool rest = token.front() == 'r';
    if (forward || rest) token.erase(0, 1);
    int duration = 0;
    const char* type = "";
    for (const auto& [name, value] : values) {
      if (name == token) std::tie(duration, type) = value;
    }
    EXPECT_NE(duration, 0) << "bad token in " << notation;
    if (forward) {
      out += "<forward><duration>" + std::to_string(duration) +
             "</duration><voice>1</voice>"
             "<staff>" +
             staff + "</staff></forward>\n";
      continue;
    }
    std::string beam;
    if (begin || open) {
      beam = std::string("<beam number=\"1\">") +
             (begin ? "begin"
              : end ? "end"
                    : "continue") +
             "</beam>";
    }
    if (begin) open = true;
    if (end) open = false;
    out += std::string("<note>") +
           (rest ? "<rest/>" : "<pitch><step>C</step><octave>4</octave></pitch>") + "<duration>" +
           std::to_string(duration) + "</duration><voice>1</voice><type>" + type +
           "</type><staff>" + staff + "</staff>" + beam + "</note>\n";
  }
  return out;
}

// A one-part score; measures separated by "|"; `pickup` marks the first
// measure implicit; a two-staff part where `staves` is 2.
std::string Score(const std::string& beats, const std::string& type, const std::string& music,
                  bool pickup = false, int staves = 1) {
  std::string body;
  bool open = false;
  std::istringstream in(music);
  int number = pickup ? 0 : 1;
  for (std::string measure; std::getline(in, measure, '|'); ++number) {
    body += "<measure number=\"" + std::to_string(number) + "\"" +
            (pickup && number == 0 ? " implicit=\"yes\"" : "") + ">\n";
    if (body.find("<attributes>") == std::string::npos) {
      body += "<attributes><divisions>" + std::to_string(Divisions) + "</divisions><time><beats>" +
              beats + "</beats><beat-type>" + type + "</beat-type></time>" +
              (staves > 1 ? "<staves>" + std::to_string(staves) + "</staves>" : "") +
              "</attributes>\n";
    }
    body += Notes(measure, open) + "</measure>\n";
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"4.0\">\n"
         "<part-list><score-part id=\"P1\"><part-name>Piano</part-name></score-part></part-list>\n"
         "<part id=\"P1\">\n" +
         body + "</part>\n</score-partwise>\n";
}

struct ToolRun {
  Json report;
  std::string written;
};

ToolRun Meterfix(const ScratchDir& dir, const std::string& score,
                 std::vector<std::string> sets = {}) {
  WriteFile(dir / "in.musicxml", score);
  std::vector<std::string> args = {"--config-dir", dir / "cfg", "--report",
                                   "json",         "-o",        dir / "out.musicxml"};
  for (const std::string& s : sets) args.insert(args.end(), {"--set", s});
  args.push_back(dir / "in.musicxml");
  const Outcome outcome = RunTool(args);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  ToolRun run;
  run.report = OnlyFile(outcome.out);
  run.written = ReadFile(dir / "out.musicxml");
  return run;
}

std::string After(const Json& report, int measure) {
  const Json& m = report["measures"][static_cast<std::size_t>(measure - 1)];
  return m["after"]["top"].get<std::string>() + "/" + m["after"]["bottom"].get<std::string>();
}

struct Unchanged {
  const char* name;
  std::string score;
};

TEST(GroupingCases, MeasuresAMusicianWouldLeaveAloneStayByteIdentical) {
  const std::vector<Unchanged> rows = {
      {"6/8 rest on the beat before a beam", Score("6", "8", "[r8 (8 8)] [(8 8 8)]")},
      {"6/8 flagged eighth then rests", Score("6", "8", "[(8 8 8)] [8 r8 r8]")},
      {"6/8 rests then a beam after a rest", Score("6", "8", "[8 r8 r8] [r8 (8 8)]")},
      {"6/8 no beams at all", Score("6", "8", "[q 8] [q 8]")},
      {"4/4 beam after an eighth rest", Score("4", "4", "[r8 (8 8 8)] [(8 8 8 8)]")},
      {"4/4 sixteenth rest before a beam", Score("4", "4", "[r16 (16 16 16)] [q] [h]")},
      {"4/4 rest and flagged eighth on beat 2", Score("4", "4", "[q] [r8 8] [h]")},
      {"3/4 eighth rest before sixteenths", Score("3", "4", "[r8 (16 16)] [(8 8 8 8)]")},
      {"4/4 32nd rest before seven beamed 32nds",
       Score("4", "4", "[r32 (32 32 32 32 32 32 32)] [q] [h]")},
      {"4/4 marked pickup of one quarter", Score("4", "4", "q | (8 8) (8 8) h", true)},
  };
  for (const Unchanged& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchDir dir;
    const ToolRun run = Meterfix(dir, row.score);
    EXPECT_FALSE(run.report["changed"].get<bool>()) << run.report.dump(1);
    EXPECT_EQ(run.written, row.score);
  }
}

TEST(GroupingCases, BeamsAgainstTheBeatStillChangeTheMeasure) {
  const std::string score = Score("4", "4", "[(8 8 8) (8 8 8) (8 8)]");
  ScratchDir dir;
  EXPECT_EQ(After(Meterfix(dir, score).report, 1), "8/512");
  EXPECT_EQ(After(Meterfix(dir, score, {"useComposite=1"}).report, 1), "3+3+2/512");
}

struct Same {
  const char* name;
  std::string score;
  std::string reference;
  int measure;
  std::vector<std::string> sets;
};

TEST(GroupingCases, EquivalentNotationsGiveTheSameAnswer) {
  const std::vector<Same> rows = {
      {"beam continued over the barline",
       Score("3", "4", "q q 8 (8 | 8 8 8) (8 8 8)"),
       Score("3", "4", "q q 8 8 | (8 8 8) (8 8 8)"),
       2,
       {}},
      {"unended beam, then a measure starting with a rest",
       Score("3", "4", "q q 8 (8 | ! r8 8 8 (8 8 8)"),
       Score("3", "4", "q q (8 8) | r8 8 8 (8 8 8)"),
       2,
       {"onlyChangeAtConflicts=0"}},
      {"forward of a quarter",
       Score("4", "4", "fq (8 8) (8 8 8) (8 8 8)"),
       Score("4", "4", "rq (8 8) (8 8 8) (8 8 8)"),
       1,
       {}},
      {"beam drawn across two staves",
       Score("4", "4", "(8@2 8@2 8) (8 8 8) (8 8)", false, 2),
       Score("4", "4", "(8 8 8) (8 8 8) (8 8)", false, 2),
       1,
       {"useComposite=1"}},
  };
  for (const Same& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchDir dir;
    const Json a = Meterfix(dir, row.score, row.sets).report;
    const Json b = Meterfix(dir, row.reference, row.sets).report;
    EXPECT_EQ(After(a, row.measure), After(b, row.measure));
  }
}

// One part states senza-misura, the other 4/4: every part of the written
// file must say what the report says, and a second run changes nothing.
TEST(GroupingCases, PartsThatDisagreeAreWrittenAlike) {
  const std::string quarterRest =
      "<note><rest/><duration>8</duration><voice>1</voice><type>quarter</type></note>";
  const std::string wholeRest =
      "<note><rest measure=\"yes\"/><duration>32</duration><voice>1</voice></note>";
  const std::string score =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"4.0\">\n"
      "<part-list><score-part id=\"P1\"><part-name>A</part-name></score-part>"
      "<score-part id=\"P2\"><part-name>B</part-name></score-part></part-list>\n"
      "<part id=\"P1\">\n<measure number=\"1\"><attributes><divisions>8</divisions>"
      "<time><senza-misura/></time></attributes>" +
      quarterRest +
      "</measure>\n"
      "<measure number=\"2\">" +
      wholeRest +
      "</measure>\n<measure number=\"3\"></measure>\n</part>\n"
      "<part id=\"P2\">\n<measure number=\"1\"><attributes><divisions>8</divisions>"
      "<time><beats>4</beats><beat-type>4</beat-type></time></attributes></measure>\n"
      "<measure number=\"2\"></measure>\n<measure number=\"3\"></measure>\n</part>\n"
      "</score-partwise>\n";
  ScratchDir dir;
  const ToolRun first = Meterfix(dir, score);
  ASSERT_TRUE(first.report["changed"].get<bool>());
  for (const Json& m : first.report["measures"]) EXPECT_FALSE(m["after"]["hidden"].get<bool>());
  EXPECT_EQ(first.written.find("print-object=\"no\""), std::string::npos) << first.written;
  ScratchDir again;
  const ToolRun second = Meterfix(again, first.written, {"onlyChangeAtConflicts=0"});
  EXPECT_FALSE(second.report["changed"].get<bool>()) << second.report.dump(1);
  EXPECT_EQ(second.written, first.written);
}

}  // namespace
