// meterfix --restore: the choice among a measure's signatures on small
// made-up measures (continuity, a conflicting beam, compound grouping, the
// piece's majority, length only), then the built tool on a score whose
// signatures were taken out.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/restore.h"
#include "cli_test_support.h"

namespace {

using meterfix::Evidence;
using meterfix::Meter;
using meterfix::RestoreInput;
using musicxml::BeamGroup;

constexpr std::int32_t Q = 1024;  // a quarter in EDUs
constexpr std::int32_t E = 512;   // an eighth

Meter M(std::vector<std::int32_t> counts, std::int32_t beat) {
  return Meter{std::move(counts), beat};
}

// Beams that start at these positions with no rests before them.
std::vector<BeamGroup> BeamsAt(std::vector<std::int32_t> firsts) {
  std::vector<BeamGroup> beams;
  for (std::int32_t at : firsts) beams.push_back(BeamGroup{at, at});
  return beams;
}

RestoreInput Measure(std::int32_t length, std::vector<BeamGroup> beams,
                     std::optional<Meter> written = std::nullopt, bool statedHere = false) {
  RestoreInput in;
  in.length = length;
  in.beams = std::move(beams);
  in.written = std::move(written);
  in.statedHere = statedHere;
  return in;
}

// The same measure with these notes: start and end of each.
RestoreInput Notes(RestoreInput in, std::vector<meterfix::NoteSpan> notes) {
  in.notes = std::move(notes);
  return in;
}

struct ChoiceCase {
  const char* name;
  std::vector<RestoreInput> measures;
  std::size_t measure;  // which choice the case looks at
  Meter expected;
  Evidence evidence;
};

TEST(Restore, ChoosesAmongTheSignaturesTheBeamsAllow) {
  const std::vector<ChoiceCase> cases = {
      // 6/8 beamed in threes, then a bar of three quarters: it stays in 6/8.
      {"continuity wins over the usual 3/4",
       {Measure(6 * E, BeamsAt({0, 3 * E})), Measure(6 * E, {})},
       1,
       M({2}, 3 * E),
       Evidence::Continuity},
      // After a 3/4 bar, eighths beamed 3+3: the beam at the fourth eighth
      // is no beat of 3/4.
      {"a conflicting group start beats continuity",
       {Measure(3 * Q, BeamsAt({0, Q, 2 * Q})), Measure(3 * Q, BeamsAt({0, 3 * E}))},
       1,
       M({2}, 3 * E),
       Evidence::Beaming},
      // Twelve eighths beamed in threes: dotted-quarter beats (12/8), not
      // six quarters or three halves.
      {"compound grouping",
       {Measure(12 * E, BeamsAt({0, 3 * E, 6 * E, 9 * E}))},
       0,
       M({4}, 3 * E),
       Evidence::Beaming},
      // Twelve eighths beamed in pairs: six quarters.
      {"simple grouping of the same length",
       {Measure(12 * E, BeamsAt({0, Q, 2 * Q, 3 * Q, 4 * Q, 5 * Q}))},
       0,
       M({6}, Q),
       Evidence::Beaming},
      // A bar with nothing to tell among bars of its length beamed in threes.
      {"the piece's majority",
       {Measure(4 * Q, BeamsAt({0, Q})), Measure(6 * E, BeamsAt({0, 3 * E})),
        Measure(4 * Q, BeamsAt({0, Q})), Measure(6 * E, BeamsAt({0, 3 * E})),
        Measure(4 * Q, BeamsAt({0, Q})), Measure(6 * E, {})},
       5,
       M({2}, 3 * E),
       Evidence::Majority},
      // One bar alone, no beams: the usual signature of its length.
      {"length only", {Measure(3 * Q, {})}, 0, M({3}, Q), Evidence::LengthOnly},
      // An unbeamed first bar takes the signature of the bars after it.
      {"an unbeamed first bar takes its neighbour's",
       {Measure(6 * E, {}), Measure(6 * E, BeamsAt({0, 3 * E}))},
       0,
       M({2}, 3 * E),
       Evidence::Continuity},
      // A signature the score states in this bar that the beams allow stays.
      {"a written signature that fits stays",
       {Measure(4 * Q, BeamsAt({0, 2 * Q})), Measure(4 * Q, {}, M({2}, 2 * Q), true)},
       1,
       M({2}, 2 * Q),
       Evidence::None},
      // A 3/4 piece with one bar beamed 3+3 (a hemiola): the written 3/4
      // stays.
      {"one conflicting bar keeps the written signature",
       {Measure(3 * Q, BeamsAt({0, Q, 2 * Q}), M({3}, Q), true),
        Measure(3 * Q, BeamsAt({0, Q, 2 * Q}), M({3}, Q)),
        Measure(3 * Q, BeamsAt({0, 3 * E}), M({3}, Q)),
        Measure(3 * Q, BeamsAt({0, Q, 2 * Q}), M({3}, Q))},
       2,
       M({3}, Q),
       Evidence::None},
      // Cut time with beams on every quarter: a finer beat over the same
      // beats is no reason to leave 2/2.
      {"a finer beat never outvotes the written one",
       {Measure(4 * Q, BeamsAt({0, Q, 2 * Q}), M({2}, 2 * Q), true),
        Measure(4 * Q, BeamsAt({0, Q, 3 * Q}), M({2}, 2 * Q))},
       1,
       M({2}, 2 * Q),
       Evidence::None},
      // 3/4 carried on past a bar of four quarters, then a passage beamed
      // 3+3: the 3/4 was lost at the long bar; the unbeamed bar that opens
      // the passage is 6/8 like the passage.
      {"a signature carried past a bar it does not fit is no evidence",
       {Measure(3 * Q, {}, M({3}, Q), true), Measure(4 * Q, {}, M({3}, Q)),
        Measure(3 * Q, {}, M({3}, Q)), Measure(3 * Q, BeamsAt({0, 3 * E}), M({3}, Q)),
        Measure(3 * Q, BeamsAt({0, 3 * E}), M({3}, Q))},
       2,
       M({2}, 3 * E),
       Evidence::Continuity},
      // Unbeamed quarter-eighth pairs: the quarter at the fourth eighth
      // holds over the third beat of 3/4, no beat of 6/8.
      {"a rhythm that syncopates against 3/4 reads as 6/8",
       {Notes(Measure(6 * E, {}), {{0, Q}, {Q, 3 * E}, {3 * E, 5 * E}, {5 * E, 6 * E}})},
       0,
       M({2}, 3 * E),
       Evidence::Beaming},
      // A quarter and a half: the half holds over the second beat of 6/8.
      {"a half on the second beat reads as 3/4",
       {Notes(Measure(3 * Q, {}), {{0, Q}, {Q, 3 * Q}})},
       0,
       M({3}, Q),
       Evidence::Beaming},
      // 6/4 beamed in threes of eighths throughout, and a half note on the
      // third beat that holds over 12/8's third beat: the written 6/4 stays.
      {"notes that syncopate against the majority keep the written signature",
       {Measure(6 * Q, BeamsAt({0, 3 * E, 6 * E, 9 * E}), M({6}, Q), true),
        Measure(6 * Q, BeamsAt({0, 3 * E, 6 * E, 9 * E}), M({6}, Q)),
        Notes(Measure(6 * Q, BeamsAt({0, 3 * E}), M({6}, Q)), {{0, Q}, {2 * Q, 4 * Q}}),
        Measure(6 * Q, BeamsAt({0, 3 * E, 6 * E, 9 * E}), M({6}, Q))},
       2,
       M({6}, Q),
       Evidence::None},
      // A measure one quarter long split by beams of sixteenths: 4/16.
      {"one quarter in sixteenths",
       {Notes(Measure(Q, BeamsAt({0, E})), {{0, E / 2}, {E / 2, E}, {E, Q}})},
       0,
       M({4}, E / 2),
       Evidence::Beaming},
      // ... and beamed eighths: 2/8.
      {"one quarter in eighths",
       {Notes(Measure(Q, {BeamGroup{0, 0}, BeamGroup{E, E}}), {{0, E}, {E, Q}})},
       0,
       M({2}, E),
       Evidence::Beaming},
      // After 6/8, a bar beamed from its second eighth: no signature of
      // its length allows that beam, so the meter before stays.
      {"beams no signature allows keep the meter before",
       {Measure(6 * E, BeamsAt({0, 3 * E})), Measure(6 * E, BeamsAt({0, E}))},
       1,
       M({2}, 3 * E),
       Evidence::Continuity},
      // A beam that starts after an eighth rest on the beat starts there.
      {"rests before a beam reach back to the beat",
       {Measure(3 * Q, {BeamGroup{Q, Q + E}}, M({3}, Q), true)},
       0,
       M({3}, Q),
       Evidence::None},
  };
  for (const ChoiceCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<meterfix::RestoreChoice> choices = meterfix::ChooseSignatures(c.measures);
    ASSERT_EQ(choices.size(), c.measures.size());
    ASSERT_TRUE(choices[c.measure].meter.has_value());
    EXPECT_EQ(choices[c.measure].meter->TopText() + "/" + choices[c.measure].meter->BottomText(),
              c.expected.TopText() + "/" + c.expected.BottomText());
    EXPECT_EQ(choices[c.measure].evidence, c.evidence);
  }
}

TEST(Restore, LeavesPickupsAndEmptyMeasuresAlone) {
  RestoreInput pickup = Measure(Q, BeamsAt({0}));
  pickup.leaveAlone = true;
  const std::vector<meterfix::RestoreChoice> choices =
      meterfix::ChooseSignatures({pickup, Measure(0, {}), Measure(4 * Q, {})});
  EXPECT_FALSE(choices[0].meter.has_value());
  EXPECT_FALSE(choices[1].meter.has_value());
  ASSERT_TRUE(choices[2].meter.has_value());
  EXPECT_EQ(*choices[2].meter, M({4}, Q));
}

TEST(Restore, MeterTextsRoundTrip) {
  for (const auto& [top, bottom] : std::vector<std::pair<std::string, std::string>>{
           {"3", "1536"}, {"3+3+2", "512"}, {"12", "256"}}) {
    const std::optional<Meter> meter = meterfix::MeterFromTexts(top, bottom);
    ASSERT_TRUE(meter.has_value()) << top;
    EXPECT_EQ(meter->TopText(), top);
    EXPECT_EQ(meter->BottomText(), bottom);
  }
  for (const auto& [top, bottom] : std::vector<std::pair<std::string, std::string>>{
           {"1+1++3", "1024+512"}, {"", "512"}, {"3+", "512"}, {"0", "1024"}, {"4", "x"}}) {
    EXPECT_FALSE(meterfix::MeterFromTexts(top, bottom).has_value()) << top << " " << bottom;
  }
}

// A score without any <time>: a bar of 6/8 beamed in threes, an unbeamed
// one, then 2/4 beamed by the quarter.
std::string Unsigned() {
  auto note = [](const char* type, int duration, const char* beam) {
    std::string n = "<note><pitch><step>C</step><octave>5</octave></pitch><duration>" +
                    std::to_string(duration) + "</duration><voice>1</voice><type>" + type +
                    "</type>";
    if (beam != nullptr) n += std::string("<beam number=\"1\">") + beam + "</beam>";
    return n + "</note>";
  };
  std::string threes;
  for (int g = 0; g < 2; ++g) {
    threes += note("eighth", 1, "begin") + note("eighth", 1, "continue") + note("eighth", 1, "end");
  }
  std::string pairs;
  for (int g = 0; g < 2; ++g) pairs += note("eighth", 1, "begin") + note("eighth", 1, "end");
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"4.0\"><part-list>"
         "<score-part id=\"P1\"><part-name>V</part-name></score-part></part-list><part id=\"P1\">"
         "<measure number=\"1\"><attributes><divisions>2</divisions></attributes>" +
         threes + "</measure><measure number=\"2\">" + note("quarter", 2, nullptr) +
         note("eighth", 1, nullptr) + note("quarter", 2, nullptr) + note("eighth", 1, nullptr) +
         "</measure><measure number=\"3\">" + pairs + "</measure></part></score-partwise>\n";
}

TEST(Restore, ToolWritesShownSignaturesAndNamesTheEvidence) {
  const clitest::ScratchDir dir;
  clitest::WriteFile(dir / "in.musicxml", Unsigned());
  const clitest::Outcome run =
      clitest::RunTool({"--restore", "--config-dir", dir / "config", "--report", "json",
                        "--report-file", "-", "-o", dir / "out.musicxml", dir / "in.musicxml"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json file = clitest::OnlyFile(run.out);
  ASSERT_EQ(file["measures"].size(), 3u);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"6/8", "beaming"}, {"6/8", "continuity"}, {"2/4", "length only"}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(file["measures"][i]["after"]["text"], expected[i].first);
    EXPECT_EQ(file["measures"][i]["after"]["hidden"], false);
    EXPECT_EQ(file["measures"][i]["evidence"], expected[i].second);
  }
  // Written out: 6/8 in the first bar, 2/4 in the third, none hidden.
  const std::string out = clitest::ReadFile(dir / "out.musicxml");
  EXPECT_NE(out.find("<beats>6</beats><beat-type>8</beat-type>"), std::string::npos) << out;
  EXPECT_NE(out.find("<beats>2</beats><beat-type>4</beat-type>"), std::string::npos) << out;
  EXPECT_EQ(out.find("print-object=\"no\""), std::string::npos) << out;

  // Without --restore the report has no evidence.
  const clitest::Outcome plain =
      clitest::RunTool({"--config-dir", dir / "config", "--report", "json", "--report-file", "-",
                        dir / "in.musicxml"});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  const nlohmann::json plainFile = clitest::OnlyFile(plain.out);
  for (const nlohmann::json& m : plainFile["measures"]) {
    EXPECT_FALSE(m.contains("evidence"));
  }
  // The text report names it after the change.
  const clitest::Outcome text =
      clitest::RunTool({"--restore", "--config-dir", dir / "config", dir / "in.musicxml"});
  EXPECT_NE((text.out + text.err).find("(beaming)"), std::string::npos) << text.out << text.err;
  // And so does the HTML report.
  const clitest::Outcome html =
      clitest::RunTool({"--restore", "--config-dir", dir / "config", "--report", "html",
                        "--report-file", dir / "report.html", dir / "in.musicxml"});
  ASSERT_EQ(html.exitCode, 0) << html.err;
  EXPECT_NE(clitest::ReadFile(dir / "report.html").find("(length only)"), std::string::npos);
}

}  // namespace
