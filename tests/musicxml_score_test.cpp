// Import of inline MusicXML into the simulated host and export of changed
// time signatures back into the text.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/records.h"
#include "musicxml/meter.h"
#include "musicxml/musicxml.h"
#include "musicxml/text_io.h"
#include "musicxml/zip_io.h"
#include "simhost/simhost.h"

// In musicxml_text_io_test.cpp.
std::string MakeTestZip(const std::vector<std::pair<std::string, std::string>>& members);

namespace {

using musicxml::Score;
using musicxml::SignatureText;
using musicxml::Status;

// A part: each string is the inside of one <measure>.
std::string Part(const std::string& id, const std::vector<std::string>& measures) {
  std::string out = "  <part id=\"" + id + "\">\n";
  for (std::size_t i = 0; i < measures.size(); ++i) {
    out += "    <measure number=\"" + std::to_string(i + 1) + "\">\n" + measures[i] +
           "    </measure>\n";
  }
  return out + "  </part>\n";
}

std::string Doc(const std::vector<std::string>& parts) {
  std::string list = "  <part-list>\n";
  std::string body;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    list += "    <score-part id=\"P" + std::to_string(i + 1) + "\"><part-name>Part " +
            std::to_string(i + 1) + "</part-name></score-part>\n";
    body += parts[i];
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
         "\"http://www.musicxml.org/dtds/partwise.dtd\">\n"
         "<score-partwise version=\"4.0\">\n" +
         list + "  </part-list>\n" + body + "</score-partwise>\n";
}

std::string Attr(const std::string& time, int divisions = 2, const std::string& more = "") {
  return "      <attributes>\n        <divisions>" + std::to_string(divisions) + "</divisions>\n" +
         time + more + "      </attributes>\n";
}
std::string Time(const std::string& beats, const std::string& type, const std::string& attrs = "") {
  return "        <time" + attrs + ">\n          <beats>" + beats +
         "</beats>\n          <beat-type>" + type + "</beat-type>\n        </time>\n";
}

// A note: duration in divisions, type, and optional extra elements.
std::string N(int duration, const std::string& type, const std::string& extra = "",
              const std::string& voice = "1") {
  return "      <note><pitch><step>C</step><octave>4</octave></pitch><duration>" +
         std::to_string(duration) + "</duration><voice>" + voice + "</voice><type>" + type +
         "</type>" + extra + "</note>\n";
}
std::string R(int duration, const std::string& type, const std::string& extra = "",
              const std::string& voice = "1") {
  return "      <note><rest/><duration>" + std::to_string(duration) + "</duration><voice>" + voice +
         "</voice><type>" + type + "</type>" + extra + "</note>\n";
}
std::string Beam(const char* kind) { return std::string("<beam number=\"1\">") + kind + "</beam>"; }
std::string FourQuarters() {
  return N(2, "quarter") + N(2, "quarter") + N(2, "quarter") + N(2, "quarter");
}

struct Loaded {
  Score score;
  simhost::Host host;
  Status status;
};

// Loads and builds; the test fails when either step fails.
void Load(Loaded& l, const std::string& xml, const std::string& name = "t.musicxml") {
  l.status = l.score.LoadBytes(xml, name);
  ASSERT_TRUE(l.status.ok) << l.status.message;
  ASSERT_TRUE(l.score.BuildHost(l.host).ok);
}

std::vector<simhost::Entry> Layer(const simhost::Host& host, int staff, int measure, int layer,
                                  std::int32_t* duration = nullptr) {
  std::int32_t d = 0;
  std::vector<simhost::Entry> entries;
  host.ReadLayer(static_cast<std::int16_t>(staff), static_cast<std::int16_t>(measure), layer, d,
                 entries);
  if (duration != nullptr) *duration = d;
  return entries;
}

std::vector<std::int32_t> Positions(const std::vector<simhost::Entry>& entries) {
  std::vector<std::int32_t> out;
  for (const auto& e : entries) out.push_back(e.position);
  return out;
}
std::vector<std::int32_t> Durations(const std::vector<simhost::Entry>& entries) {
  std::vector<std::int32_t> out;
  for (const auto& e : entries) out.push_back(e.duration);
  return out;
}
std::vector<bool> Starts(const std::vector<simhost::Entry>& entries) {
  std::vector<bool> out;
  for (const auto& e : entries) out.push_back(e.beamStart);
  return out;
}

std::string Sig(const simhost::Host& host, int measure) {
  SignatureText t;
  if (!musicxml::ReadMeasureSignature(host, static_cast<std::int16_t>(measure), t)) return "none";
  return t.top + "/" + t.bottom + (t.hidden ? " hidden" : "");
}

// --- import ---

TEST(Import, PositionsAndNotatedValues) {
  Loaded l;
  Load(l, Doc({Part("P1", {Attr(Time("4", "4"), 6) + N(6, "quarter") + N(3, "eighth") +
                           N(3, "eighth") + N(9, "quarter", "<dot/>") +
                           N(2, "eighth", "<time-modification/>") + N(1, "16th")})}));
  const auto e = Layer(l.host, 1, 1, 0);
  EXPECT_EQ(Positions(e), (std::vector<std::int32_t>{0, 1024, 1536, 2048, 3584, 3925}));
  EXPECT_EQ(Durations(e), (std::vector<std::int32_t>{1024, 512, 512, 1536, 512, 256}));
}

TEST(Import, ValueFromDurationWithoutType) {
  Loaded l;
  Load(l,
       Doc({Part("P1", {Attr(Time("4", "4"), 4) +
                        "      <note><rest measure=\"yes\"/><duration>16</duration></note>\n"})}));
  std::int32_t d = 0;
  const auto e = Layer(l.host, 1, 1, 0, &d);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].duration, 4096);
  EXPECT_EQ(d, 4096);
}

TEST(Import, RoundedTupletDurationsReachTheBeatAndTheBarline) {
  Loaded l;
  // Seven sixteenths in a quarter, written with durations rounded to 0.571
  // of a division: they end 0.003 divisions (under an EDU) short of beat 2.
  std::string septuplet;
  for (int i = 0; i < 7; ++i) {
    septuplet +=
        "      <note><pitch><step>C</step><octave>4</octave></pitch><duration>0.571</duration>"
        "<voice>1</voice><type>16th</type>" +
        Beam(i == 0   ? "begin"
             : i == 6 ? "end"
                      : "continue") +
        "</note>\n";
  }
  Load(l, Doc({Part("P1", {Attr(Time("3", "4"), 4) + septuplet + N(4, "quarter", Beam("begin")) +
                           N(4, "quarter")})}));
  std::int32_t d = 0;
  const auto e = Layer(l.host, 1, 1, 0, &d);
  ASSERT_EQ(e.size(), 9u);
  EXPECT_EQ(e[7].position, 1024);
  EXPECT_EQ(e[8].position, 2048);
  EXPECT_EQ(d, 3072);
  const auto& w = l.score.Warnings();
  EXPECT_TRUE(std::any_of(w.begin(), w.end(), [](const std::string& s) {
    return s.find("rounding") != std::string::npos;
  }));
}

TEST(Import, BeamsStartGroups) {
  Loaded l;
  Load(l, Doc({Part("P1", {Attr(Time("4", "4"), 2) + N(1, "eighth", Beam("begin")) +
                           N(1, "eighth", Beam("continue")) + N(1, "eighth", Beam("end")) +
                           N(1, "eighth") + R(1, "eighth") + N(1, "eighth", Beam("begin")) +
                           R(1, "eighth") + N(1, "eighth", Beam("end"))})}));
  // The flagged eighth off the beat joins the group before it; the rest on
  // beat 3 opens the group that the beam after it continues.
  EXPECT_EQ(Starts(Layer(l.host, 1, 1, 0)),
            (std::vector<bool>{true, false, false, false, true, false, false, false}));
}

TEST(Import, UnterminatedAndStrayBeams) {
  Loaded l;
  // begin, continue, begin (closes the first), continue; then an unbeamed
  // note closes it; a continue with nothing open that a later note carries
  // on begins anew.
  Load(l, Doc({Part("P1", {Attr(Time("3", "4"), 2) + N(1, "eighth", Beam("begin")) +
                           N(1, "eighth", Beam("continue")) + N(1, "eighth", Beam("begin")) +
                           N(1, "eighth", Beam("continue")) + N(1, "eighth") +
                           N(1, "eighth", Beam("continue")) + N(2, "quarter", Beam("end"))})}));
  EXPECT_EQ(Starts(Layer(l.host, 1, 1, 0)),
            (std::vector<bool>{true, false, true, false, true, true, false}));
}

TEST(Import, OneNoteBeamIsAFlaggedNote) {
  // 3/4 in eighths; the note at 2.5 beats carries a beam that nothing opened.
  struct Case {
    const char* name;
    std::string last2;  // the last two eighths
    std::vector<bool> starts;
    std::vector<musicxml::BeamGroup> beams;
  };
  const std::string pair = N(1, "eighth", Beam("begin")) + N(1, "eighth", Beam("end"));
  const std::vector<Case> cases = {
      {"a lone end",
       N(1, "eighth") + N(1, "eighth", Beam("end")),
       {true, false, true, false, true, false},
       {{0, 0}, {1024, 1024}}},
      {"a lone continue at the end",
       N(1, "eighth") + N(1, "eighth", Beam("continue")),
       {true, false, true, false, true, false},
       {{0, 0}, {1024, 1024}}},
      {"a continue carried on by an end",
       N(1, "eighth", Beam("continue")) + N(1, "eighth", Beam("end")),
       {true, false, true, false, true, false},
       {{0, 0}, {1024, 1024}, {2048, 2048}}},
      {"a lone end after a rest",
       R(1, "eighth") + N(1, "eighth", Beam("end")),
       {true, false, true, false, true, false},
       {{0, 0}, {1024, 1024}}},
      {"a beam after a rest reaches back to it",
       R(1, "eighth") + N(1, "eighth", Beam("begin")),
       {true, false, true, false, true, false},
       {{0, 0}, {1024, 1024}, {2048, 2560}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Loaded l;
    Load(l, Doc({Part("P1", {Attr(Time("3", "4"), 2) + pair + pair + c.last2})}));
    EXPECT_EQ(Starts(Layer(l.host, 1, 1, 0)), c.starts);
    EXPECT_EQ(l.score.Beams(1, 1, 1), c.beams);
  }
}

TEST(Import, BeamsReachBackOverTheRestsBeforeThem) {
  // r8 (8 8) r8 | r8 r8 (8 8): the beams' rests, whatever the signature.
  Loaded l;
  Load(l, Doc({Part("P1", {Attr(Time("3", "4"), 2) + R(1, "eighth") +
                           N(1, "eighth", Beam("begin")) + N(1, "eighth", Beam("end")) +
                           R(1, "eighth") + R(1, "eighth") + N(1, "eighth", Beam("begin"))})}));
  EXPECT_EQ(l.score.Beams(1, 1, 1), (std::vector<musicxml::BeamGroup>{{0, 512}, {1536, 2560}}));
  EXPECT_TRUE(l.score.Beams(2, 1, 1).empty());  // no such measure
  EXPECT_FALSE(l.score.StandIn(1));
}

TEST(Import, BeamAcrossBarline) {
  Loaded l;
  Load(l, Doc({Part("P1", {Attr(Time("1", "4"), 2) + N(1, "eighth") + N(1, "eighth", Beam("begin")),
                           N(1, "eighth", Beam("end")) + N(1, "eighth", Beam("begin"))})}));
  EXPECT_EQ(Starts(Layer(l.host, 1, 2, 0)),
            (std::vector<bool>{true, true}));  // no group crosses the barline
}

TEST(Import, CrossStaffBeamFollowsTheVoice) {
  Loaded l;
  const std::string s1 = "<staff>1</staff>";
  const std::string s2 = "<staff>2</staff>";
  Load(l, Doc({Part("P1",
                    {Attr(Time("2", "4"), 2, "        <staves>2</staves>\n") +
                     N(1, "eighth", s2 + Beam("begin")) + N(1, "eighth", s2 + Beam("continue")) +
                     N(1, "eighth", s1 + Beam("continue")) + N(1, "eighth", s1 + Beam("end"))})}));
  // The voice stays on the staff of its first note: one beam, one group.
  EXPECT_EQ(Positions(Layer(l.host, 2, 1, 0)), (std::vector<std::int32_t>{0, 512, 1024, 1536}));
  EXPECT_EQ(Starts(Layer(l.host, 2, 1, 0)), (std::vector<bool>{true, false, false, false}));
  EXPECT_TRUE(Positions(Layer(l.host, 1, 1, 0)).empty());
}

TEST(Import, ChordsCountOnceAndGraceNotesAreSkipped) {
  Loaded l;
  const std::string chord =
      "      <note><chord/><pitch><step>E</step><octave>4</octave></pitch><duration>1</duration>"
      "<voice>1</voice><type>eighth</type><beam number=\"1\">begin</beam></note>\n";
  const std::string grace =
      "      <note><grace/><pitch><step>D</step><octave>4</octave></pitch><voice>1</voice>"
      "<type>16th</type><beam number=\"1\">begin</beam></note>\n";
  Load(l, Doc({Part("P1", {Attr(Time("2", "4"), 2) + N(1, "eighth", Beam("begin")) + chord + grace +
                           N(1, "eighth", Beam("end")) + N(2, "quarter")})}));
  const auto e = Layer(l.host, 1, 1, 0);
  EXPECT_EQ(Positions(e), (std::vector<std::int32_t>{0, 512, 512, 1024}));
  ASSERT_EQ(e.size(), 4u);
  EXPECT_TRUE(e[1].skip);
  EXPECT_EQ(e[1].duration, 256);
  EXPECT_EQ(Starts(e), (std::vector<bool>{true, false, false, true}));
}

TEST(Import, BackupForwardAndVoicesInOrderOfAppearance) {
  Loaded l;
  Load(l, Doc({Part("P1", {Attr(Time("4", "4"), 2) + N(8, "whole", "", "2") +
                           "      <backup><duration>8</duration></backup>\n"
                           "      <forward><duration>2</duration></forward>\n" +
                           N(2, "quarter", "", "1") + N(4, "half", "", "1")})}));
  std::int32_t d0 = 0;
  std::int32_t d1 = 0;
  const auto first = Layer(l.host, 1, 1, 0, &d0);
  const auto second = Layer(l.host, 1, 1, 1, &d1);
  EXPECT_EQ(Durations(first), (std::vector<std::int32_t>{4096}));  // voice 2 came first
  EXPECT_EQ(Positions(second),
            (std::vector<std::int32_t>{0, 1024, 2048}));  // invisible rest from the barline
  EXPECT_EQ(d0, 4096);
  EXPECT_EQ(d1, 4096);
}

TEST(Import, FifthVoiceIsLeftOutWithWarning) {
  Loaded l;
  std::string body = Attr(Time("1", "4"), 1);
  for (int v = 1; v <= 5; ++v) {
    body += N(1, "quarter", "", std::to_string(v));
    if (v < 5) body += "      <backup><duration>1</duration></backup>\n";
  }
  Load(l, Doc({Part("P1", {body})}));
  for (int layer = 0; layer < 4; ++layer) EXPECT_EQ(Layer(l.host, 1, 1, layer).size(), 1u);
  ASSERT_EQ(l.status.warnings.size(), 1u);
  EXPECT_NE(l.status.warnings[0].find("more than four voices"), std::string::npos);
}

TEST(Import, TimeSignaturesCarryForward) {
  Loaded l;
  Load(l, Doc({Part("P1", {Attr(Time("6", "8")) + N(6, "half", "<dot/>"), N(6, "half", "<dot/>"),
                           Attr(Time("3+2+2", "8")) + N(7, "half", "<dot/><dot/>"),
                           Attr("        <time>\n          <beats>2</beats><beat-type>4</beat-type>"
                                "<beats>3</beats><beat-type>8</beat-type>\n        </time>\n") +
                               N(7, "half", "<dot/><dot/>"),
                           Attr(Time("3", "4", " print-object=\"no\"")) + N(6, "half", "<dot/>"),
                           Attr(Time("3", "8", " symbol=\"dotted-note\"")) +
                               N(3, "quarter", "<dot/>")})}));
  EXPECT_EQ(Sig(l.host, 1), "2/1536");
  EXPECT_EQ(Sig(l.host, 2), "2/1536");
  EXPECT_EQ(Sig(l.host, 3), "3+2+2/512");
  EXPECT_EQ(Sig(l.host, 4), "2++3/1024++512");
  EXPECT_EQ(Sig(l.host, 5), "3/1024 hidden");
  EXPECT_EQ(Sig(l.host, 6), "1/1536");
}

// print-object="no" hides the <time> of its own measure; the measures that
// follow state nothing, so they are not hidden.
TEST(Import, HiddenDoesNotCarryForward) {
  Loaded l;
  Load(l, Doc({Part("P1", {Attr(Time("3", "4", " print-object=\"no\"")) + N(6, "half", "<dot/>"),
                           N(6, "half", "<dot/>")})}));
  EXPECT_EQ(Sig(l.host, 1), "3/1024 hidden");
  EXPECT_EQ(Sig(l.host, 2), "3/1024");
}

// Measures no <time> governs get their own length, hidden, in quarters or
// the largest smaller value that divides it.
TEST(Import, MeasuresWithoutSignatureGetHiddenStandIns) {
  Loaded l;
  Load(l, Doc({Part("P1", {Attr("") + FourQuarters(), N(3, "quarter", "<dot/>"),
                           Attr("        <time><senza-misura/></time>\n") + N(8, "whole") +
                               N(2, "quarter"),
                           Attr(Time("2", "4")) + N(4, "half"),
                           "      <note><rest/><voice>1</voice></note>\n"})}));
  EXPECT_EQ(Sig(l.host, 1), "4/1024 hidden");
  EXPECT_EQ(Sig(l.host, 2), "3/512 hidden");
  EXPECT_EQ(Sig(l.host, 3), "5/1024 hidden");
  EXPECT_EQ(Sig(l.host, 4), "2/1024");
  EXPECT_EQ(Sig(l.host, 5), "2/1024");
}

TEST(Import, PickupKeepsItsWrittenSignature) {
  Loaded l;
  Load(l, Doc({Part("P1", {Attr(Time("3", "4")) + N(2, "quarter"), N(6, "half", "<dot/>")})}));
  EXPECT_EQ(Sig(l.host, 1), "3/1024");
  std::int32_t d = 0;
  Layer(l.host, 1, 1, 0, &d);
  EXPECT_EQ(d, 1024);
}

TEST(Import, StavesPartsAndIndependentSignatures) {
  Loaded l;
  const std::string piano = Attr(Time("4", "4"), 2,
                                 "        <staves>2</staves>\n        <staff-details number=\"2\" "
                                 "print-object=\"no\"/>\n");
  Load(l, Doc({Part("P1", {piano + FourQuarters(), FourQuarters()}),
               Part("P2", {Attr(Time("4", "4")) + FourQuarters(), FourQuarters()}),
               Part("P3", {Attr(Time("12", "8")) + FourQuarters(),
                           Attr(Time("3", "4")) + N(6, "half", "<dot/>")})}));
  const auto& staves = l.score.Staves();
  ASSERT_EQ(staves.size(), 4u);
  EXPECT_EQ(l.host.StaffList(), (std::vector<std::int16_t>{1, 2, 3, 4}));
  EXPECT_EQ(staves[1].staffInPart, 2);
  EXPECT_EQ(staves[3].partId, "P3");
  EXPECT_EQ(staves[3].partName, "Part 3");
  // Both staves of a part show its name (the last one takes the name as read).
  EXPECT_EQ(staves[0].partName, "Part 1");
  EXPECT_EQ(staves[1].partName, "Part 1");
  std::uint16_t flags = 0;
  ASSERT_TRUE(l.host.ReadStaffFlags(2, flags));
  EXPECT_EQ(flags & (HiddenStaffFlag | IndependentSignaturesFlag), HiddenStaffFlag);
  ASSERT_TRUE(l.host.ReadStaffFlags(3, flags));
  EXPECT_EQ(flags & IndependentSignaturesFlag, 0);
  ASSERT_TRUE(l.host.ReadStaffFlags(4, flags));
  EXPECT_EQ(flags & IndependentSignaturesFlag, IndependentSignaturesFlag);
  SignatureText own;
  ASSERT_TRUE(musicxml::ReadStaffSignature(l.host, 4, 1, own));
  EXPECT_EQ(own.top + "/" + own.bottom, "4/1536");
  ASSERT_TRUE(musicxml::ReadStaffSignature(l.host, 4, 2, own));
  EXPECT_EQ(own.top + "/" + own.bottom, "3/1024");
  EXPECT_FALSE(musicxml::ReadStaffSignature(l.host, 3, 1, own));
  EXPECT_EQ(Sig(l.host, 2), "4/1024");
}

TEST(Import, MeasuresAreIdentifiedByPosition) {
  std::string xml = Doc({Part("P1", {Attr(Time("4", "4")) + FourQuarters(), FourQuarters()})});
  xml.replace(xml.find("number=\"2\""), 10, "number=\"1\"");
  Loaded l;
  Load(l, xml);
  EXPECT_EQ(l.score.MeasureCount(), 2);
  EXPECT_EQ(l.score.MeasureNumber(1), "1");
  EXPECT_EQ(l.score.MeasureNumber(2), "1");
  EXPECT_EQ(Layer(l.host, 1, 2, 0).size(), 4u);
}

TEST(Import, ManyGroupsInOneMeasureAreKept) {
  std::string body = Attr(Time("600", "8"), 2);
  for (int i = 0; i < 600; ++i) body += N(1, "eighth");
  Loaded l;
  Load(l, Doc({Part("P1", {body})}));
  EXPECT_EQ(Layer(l.host, 1, 1, 0).size(), 600u);
}

struct BadInput {
  const char* name;
  std::string bytes;
  const char* message;  // part of the expected message
};

TEST(Import, BadInputsGiveClearErrors) {
  std::string manyStaves =
      Attr(Time("4", "4"), 2, "        <staves>301</staves>\n") + N(2, "quarter");
  std::string manyParts;
  std::vector<std::string> parts;
  for (int i = 0; i < 151; ++i) {
    parts.push_back(
        Part("P" + std::to_string(i + 1),
             {Attr(Time("4", "4"), 2, "        <staves>2</staves>\n") + N(2, "quarter")}));
  }
  const std::vector<BadInput> rows = {
      {"not XML", "hello", "XML error"},
      {"truncated XML", "<score-partwise>\n<part-list>\n<score-part id=\"P1\">",
       "t.musicxml:3: XML error"},
      {"timewise", "<score-timewise/>", "score-timewise"},
      {"other root", "<html/>", "not a MusicXML score"},
      {"no parts", Doc({}), "no parts"},
      {"unequal parts",
       Doc({Part("P1", {Attr(Time("4", "4")), ""}), Part("P2", {Attr(Time("4", "4"))})}),
       "unequal length"},
      {"missing divisions", Doc({Part("P1", {N(2, "quarter")})}), "before any <divisions>"},
      {"zero divisions", Doc({Part("P1", {Attr(Time("4", "4"), 0) + N(2, "quarter")})}),
       "invalid <divisions>"},
      {"absurd duration", Doc({Part("P1", {Attr(Time("4", "4"), 1) + N(3000000, "quarter")})}),
       "out of range"},
      {"absurd total",
       Doc({Part("P1", {Attr(Time("4", "4"), 1) + N(2000000, "quarter") + N(2000000, "quarter")})}),
       "2^31"},
      {"bad duration", Doc({Part("P1", {Attr(Time("4", "4"), 1) + N(-1, "quarter")})}),
       "invalid <duration>"},
      {"301 staves in a part", Doc({Part("P1", {manyStaves})}), "300"},
      {"302 staves in parts", Doc(parts), "more than 300 staves"},
      {"truncated mxl", std::string("PK\3\4\x14\0\0\0\x08\0", 10), "not a readable .mxl archive"},
  };
  for (const BadInput& row : rows) {
    SCOPED_TRACE(row.name);
    Score score;
    const Status s = score.LoadBytes(row.bytes, "t.musicxml");
    EXPECT_FALSE(s.ok);
    EXPECT_NE(s.message.find(row.message), std::string::npos) << s.message;
    EXPECT_EQ(s.message.rfind("t.musicxml", 0), 0u) << s.message;
    simhost::Host host;
    EXPECT_FALSE(score.BuildHost(host).ok);
  }
}

TEST(Import, FileErrorsNameTheFile) {
  Score score;
  const Status s = score.LoadFile("/nonexistent/dir/x.musicxml");
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.message.rfind("/nonexistent/dir/x.musicxml: cannot read", 0), 0u) << s.message;
  EXPECT_EQ(Score().LoadBytes("<a", "-").message.rfind("<stdin>:1: XML error", 0), 0u);
}

TEST(Import, Utf16ScoreReadsLikeUtf8) {
  const std::string xml = Doc({Part("P1", {Attr(Time("6", "8")) + N(6, "half", "<dot/>")})});
  std::string utf16 = "\xFF\xFE";
  std::string declared = xml;
  declared.replace(declared.find("UTF-8"), 5, "UTF-16");
  for (char c : declared) {
    utf16 += c;
    utf16 += '\0';
  }
  Loaded l;
  Load(l, utf16);
  EXPECT_EQ(Sig(l.host, 1), "2/1536");
}

// --- export ---

// Sets measure `m` of the host to `meter`, as the plug-in would.
void Write(simhost::Host& host, int measure, const musicxml::Meter& meter) {
  const musicxml::HostSignature sig = musicxml::StoreMeter(host, meter);
  simhost::MeasureView view;
  ASSERT_TRUE(host.ReadMeasure(static_cast<std::int16_t>(measure), view));
  view.beats = sig.beats;
  view.beatDuration = sig.beatDuration;
  view.signatureFlags = static_cast<std::uint16_t>(
      (view.signatureFlags & ~(CompositeTopFlag | CompositeBottomFlag | AlwaysHideFlag)) |
      sig.flags | (meter.hidden ? AlwaysHideFlag : 0));
  host.SetMeasure(static_cast<std::int16_t>(measure), view);
}

musicxml::Meter Plain(std::int32_t n, std::int32_t d) {
  musicxml::Meter m;
  m.groups.push_back({{n}, d});
  return m;
}

// The measure's record as the writer says the file holds it.
std::string Written(const Score& score, int measure) {
  SignatureText t;
  if (!score.WrittenMeasureSignature(measure, t)) return "none";
  return t.top + "/" + t.bottom + (t.hidden ? " hidden" : "");
}

std::string Export(Loaded& l) {
  const Status s = l.score.ApplyHost(l.host);
  EXPECT_TRUE(s.ok) << s.message;
  std::string out;
  EXPECT_TRUE(l.score.SaveBytes(out).ok);
  return out;
}

TEST(Export, UnchangedGivesSameBytes) {
  const std::string xml =
      Doc({Part("P1", {Attr(Time("4", "4")) + FourQuarters(), FourQuarters()})});
  Loaded l;
  Load(l, xml);
  EXPECT_EQ(Export(l), xml);
  EXPECT_FALSE(l.score.Changed());
}

TEST(Export, ChangedMeasureAndRestatement) {
  const std::string xml =
      Doc({Part("P1", {Attr(Time("4", "4", " symbol=\"common\"")) + FourQuarters(), FourQuarters(),
                       FourQuarters()}),
           Part("P2", {Attr(Time("4", "4", " symbol=\"common\"")) + FourQuarters(), FourQuarters(),
                       FourQuarters()})});
  Loaded l;
  Load(l, xml);
  Write(l.host, 2, Plain(2, 2048));
  const std::string out = Export(l);
  EXPECT_TRUE(l.score.Changed());
  const std::string added =
      "      <attributes>\n        <time>\n          <beats>2</beats>\n          "
      "<beat-type>2</beat-type>\n"
      "        </time>\n      </attributes>\n";
  const std::string restated =
      "      <attributes>\n        <time symbol=\"common\">\n          <beats>4</beats>\n"
      "          <beat-type>4</beat-type>\n        </time>\n      </attributes>\n";
  std::string expected = xml;
  for (const char* part : {"<part id=\"P2\"", "<part id=\"P1\""}) {
    const std::size_t p = expected.find(part);
    const std::string open3 = "<measure number=\"3\">\n";
    expected.insert(expected.find(open3, p) + open3.size(), restated);
    const std::string open2 = "<measure number=\"2\">\n";
    const std::size_t m2 = expected.find(open2, p) + open2.size();
    expected.insert(m2, added);
  }
  EXPECT_EQ(out, expected);
}

TEST(Export, RewritesTheTimeElementInPlace) {
  const std::string xml = Doc(
      {Part("P1", {Attr(Time("4", "4", " symbol=\"common\" color=\"#FF0000\"")) + FourQuarters(),
                   Attr(Time("3", "4")) + N(6, "half", "<dot/>")})});
  Loaded l;
  Load(l, xml);
  musicxml::Meter m = Plain(2, 1536);
  m.groups[0].counts = {1, 1, 1};  // 3+3+3/8 with dotted beats
  Write(l.host, 1, m);
  const std::string out = Export(l);
  std::string expected = xml;
  const std::string from = Time("4", "4", " symbol=\"common\" color=\"#FF0000\"");
  expected.replace(expected.find(from), from.size(),
                   Time("3+3+3", "8", " symbol=\"dotted-note\" color=\"#FF0000\""));
  EXPECT_EQ(out, expected);
}

// What the plug-in may write comes back the same through the text.
TEST(Export, SignaturesReadBackExactly) {
  std::vector<musicxml::Meter> meters = {Plain(1, 1536), Plain(2, 1536), Plain(6, 512),
                                         Plain(9, 512),  Plain(3, 512),  Plain(5, 1024),
                                         Plain(4, 256),  Plain(3, 2048)};
  musicxml::Meter runs;
  runs.groups = {{{1, 1}, 1024}, {{3}, 512}};
  meters.push_back(runs);
  musicxml::Meter compact;
  compact.groups = {{{3, 3, 2}, 512}};
  meters.push_back(compact);
  musicxml::Meter hidden = Plain(7, 512);
  hidden.hidden = true;
  meters.push_back(hidden);
  for (const musicxml::Meter& meter : meters) {
    SCOPED_TRACE(musicxml::MeterText(meter));
    Loaded l;
    Load(l, Doc({Part("P1", {Attr(Time("4", "4")) + FourQuarters(), FourQuarters()})}));
    Write(l.host, 2, meter);
    const std::string expectedText = Sig(l.host, 2);
    const std::string out = Export(l);
    Loaded back;
    Load(back, out);
    EXPECT_EQ(Sig(back.host, 1), "4/1024");
    EXPECT_EQ(Sig(back.host, 2), expectedText);
    Loaded again;
    Load(again, out);
    EXPECT_EQ(Export(again), out);
  }
}

TEST(Export, HidingAndShowing) {
  const std::string xml =
      Doc({Part("P1", {Attr(Time("4", "4", " print-object=\"no\"")) + FourQuarters(),
                       Attr(Time("3", "4")) + N(6, "half", "<dot/>")})});
  Loaded l;
  Load(l, xml);
  Write(l.host, 1, Plain(4, 1024));  // shown now
  musicxml::Meter hidden = Plain(3, 1024);
  hidden.hidden = true;
  Write(l.host, 2, hidden);
  const std::string out = Export(l);
  Loaded back;
  Load(back, out);
  EXPECT_EQ(Sig(back.host, 1), "4/1024");
  EXPECT_EQ(Sig(back.host, 2), "3/1024 hidden");
}

// Reading the result back gives what the plug-in left, visibility included.
TEST(Export, VisibilityReadsBack) {
  const std::string xml =
      Doc({Part("P1", {Attr(Time("3", "4", " print-object=\"no\" symbol=\"normal\"")) +
                           N(6, "half", "<dot/>"),
                       N(6, "half", "<dot/>"), N(6, "half", "<dot/>"), N(6, "half", "<dot/>")})});
  Loaded l;
  Load(l, xml);
  musicxml::Meter hidden = Plain(3, 1024);
  hidden.hidden = true;
  Write(l.host, 2, Plain(6, 512));  // a change; measure 3 needs the old 3/4 again, shown
  Write(l.host, 4, hidden);         // same beats, now hidden: stated hidden
  const std::string out = Export(l);
  Loaded back;
  Load(back, out);
  EXPECT_EQ(Sig(back.host, 1), "3/1024 hidden");
  EXPECT_EQ(Sig(back.host, 2), "6/512");
  EXPECT_EQ(Sig(back.host, 3), "3/1024");
  EXPECT_EQ(Sig(back.host, 4), "3/1024 hidden");
  EXPECT_NE(out.find("<time symbol=\"normal\">\n          <beats>3</beats>"), std::string::npos)
      << out;
}

// A part without <time> follows the parts that have one, whichever comes
// first; it is not independent, and a change reaches it too.
TEST(Export, PartWithoutSignatureFollowsTheOthers) {
  const std::string xml =
      Doc({Part("P1", {Attr("") + N(6, "half", "<dot/>"), N(6, "half", "<dot/>")}),
           Part("P2", {Attr(Time("3", "4")) + N(6, "half", "<dot/>"), N(6, "half", "<dot/>")})});
  Loaded l;
  Load(l, xml);
  EXPECT_FALSE(l.score.Staves()[0].independent);
  EXPECT_FALSE(l.score.Staves()[1].independent);
  EXPECT_EQ(Sig(l.host, 1), "3/1024");
  EXPECT_EQ(Sig(l.host, 2), "3/1024");
  Loaded same;
  Load(same, xml);
  EXPECT_EQ(Export(same), xml);

  Write(l.host, 2, Plain(6, 512));
  const std::string out = Export(l);
  const std::size_t p2 = out.find("<part id=\"P2\"");
  EXPECT_NE(out.find("<beats>6</beats>"), std::string::npos);
  EXPECT_LT(out.find("<beats>6</beats>"), p2);  // P1 got it
  EXPECT_NE(out.find("<beats>6</beats>", p2), std::string::npos);
  Loaded back;
  Load(back, out);
  EXPECT_EQ(Sig(back.host, 2), "6/512");
}

TEST(Export, ScoreWithoutSignatureGetsOne) {
  const std::string xml =
      Doc({Part("P1", {Attr("") + FourQuarters(), FourQuarters(), N(4, "half")})});
  Loaded l;
  Load(l, xml);
  for (int m = 1; m <= 2; ++m) Write(l.host, m, Plain(2, 2048));
  const std::string out = Export(l);
  Loaded back;
  Load(back, out);
  EXPECT_EQ(Sig(back.host, 1), "2/2048");
  EXPECT_EQ(Sig(back.host, 2), "2/2048");
  // The third measure still has its own length, as a stated hidden signature.
  EXPECT_EQ(Sig(back.host, 3), "2/1024 hidden");
  // Four lines into measure 1's <attributes>, a block of six in measure 3.
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n') - std::count(xml.begin(), xml.end(), '\n'),
            10);
}

TEST(Export, IndependentPartKeepsItsOwnSignature) {
  const std::string xml =
      Doc({Part("P1", {Attr(Time("3", "4")) + N(6, "half", "<dot/>"), N(6, "half", "<dot/>")}),
           Part("P2", {Attr(Time("6", "8")) + N(6, "half", "<dot/>"), N(6, "half", "<dot/>")})});
  Loaded l;
  Load(l, xml);
  ASSERT_TRUE(l.score.Staves()[1].independent);
  const musicxml::HostSignature sig = musicxml::StoreMeter(l.host, Plain(6, 512));
  l.host.SetStaffTimeSig(2, 2, sig.beats, sig.beatDuration, sig.flags);
  const std::string out = Export(l);
  Loaded back;
  Load(back, out);
  EXPECT_EQ(Sig(back.host, 2), "3/1024");
  SignatureText own;
  ASSERT_TRUE(musicxml::ReadStaffSignature(back.host, 2, 2, own));
  EXPECT_EQ(own.top + "/" + own.bottom, "6/512");
  ASSERT_TRUE(musicxml::ReadStaffSignature(back.host, 2, 1, own));
  EXPECT_EQ(own.top + "/" + own.bottom, "2/1536");
}

TEST(Export, OnlyTheSecondOfTwoMeasuresNumberedAlike) {
  std::string xml =
      Doc({Part("P1", {Attr(Time("4", "4")) + FourQuarters(), FourQuarters(), FourQuarters()})});
  xml.replace(xml.find("number=\"2\""), 10, "number=\"1\"");
  Loaded l;
  Load(l, xml);
  Write(l.host, 2, Plain(2, 2048));
  Loaded back;
  Load(back, Export(l));
  EXPECT_EQ(Sig(back.host, 1), "4/1024");
  EXPECT_EQ(Sig(back.host, 2), "2/2048");
  EXPECT_EQ(Sig(back.host, 3), "4/1024");
}

// Elements whose names begin like the edited ones (</time-relation> inside
// <interchangeable>, </measure-numbering> inside <print>) are not their end.
TEST(Export, LookalikeClosingTagsAreNotTheEnd) {
  const std::string interchangeable =
      "        <time>\n          <beats>4</beats>\n          <beat-type>4</beat-type>\n"
      "          <interchangeable><time-relation>parentheses</time-relation>"
      "<beats>8</beats><beat-type>8</beat-type></interchangeable>\n        </time>\n";
  const std::string xml =
      Doc({Part("P1", {Attr(interchangeable) + FourQuarters(),
                       "      <print><measure-numbering>none</measure-numbering></print>"})});
  Loaded l;
  Load(l, xml);
  Write(l.host, 1, Plain(2, 2048));
  const std::string out = Export(l);
  EXPECT_EQ(out.find("time-relation"), std::string::npos);
  EXPECT_NE(out.find("<measure-numbering>none</measure-numbering></print>"), std::string::npos);
  Loaded back;
  Load(back, out);
  EXPECT_EQ(Sig(back.host, 1), "2/2048");
  EXPECT_EQ(Sig(back.host, 2), "4/1024");
}

// A part whose staves each state the signature (<time number="1">,
// <time number="2">) gets every one of them restated, so no staff keeps the
// changed signature after the changed measure.
TEST(Export, RestatementRepeatsEveryStaffsTime) {
  const std::string times = Time("3", "4", " number=\"1\"") + Time("3", "4", " number=\"2\"");
  const std::string three = N(2, "quarter") + N(2, "quarter") + N(2, "quarter");
  const std::string xml =
      Doc({Part("P1", {Attr(times, 2, "        <staves>2</staves>\n") + three, three, three})});
  Loaded l;
  Load(l, xml);
  Write(l.host, 2, Plain(2, 2048));
  const std::string out = Export(l);
  const std::size_t m3 = out.find("<measure number=\"3\">");
  ASSERT_NE(m3, std::string::npos);
  EXPECT_NE(out.find(Time("3", "4", " number=\"1\"").substr(8), m3), std::string::npos) << out;
  EXPECT_NE(out.find(Time("3", "4", " number=\"2\"").substr(8), m3), std::string::npos) << out;
  Loaded back;
  Load(back, out);
  EXPECT_EQ(Sig(back.host, 2), "2/2048");
  EXPECT_EQ(Sig(back.host, 3), "3/1024");
}

TEST(Export, InsertedLinesFollowTheFilesLineEnds) {
  std::string xml = Doc({Part("P1", {Attr(Time("4", "4")) + FourQuarters(), FourQuarters()})});
  std::string crlf;
  for (char c : xml) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  Loaded l;
  Load(l, crlf);
  Write(l.host, 2, Plain(2, 2048));
  const std::string out = Export(l);
  EXPECT_GT(out.size(), crlf.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\n') {
      ASSERT_TRUE(i > 0 && out[i - 1] == '\r') << "bare line feed at " << i;
    }
  }
}

TEST(Export, Utf16StaysUtf16) {
  const std::string xml = Doc({Part("P1", {Attr(Time("4", "4")) + FourQuarters()})});
  std::string utf16 = "\xFF\xFE";
  for (char c : xml) {
    utf16 += c;
    utf16 += '\0';
  }
  Loaded l;
  Load(l, utf16);
  Write(l.host, 1, Plain(2, 2048));
  const std::string out = Export(l);
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out.substr(0, 4), std::string("\xFF\xFE<\0", 4));
  Loaded back;
  Load(back, out);
  EXPECT_EQ(Sig(back.host, 1), "2/2048");
}

TEST(Export, ArchiveKeepsItsOtherMembers) {
  const std::string xml = Doc({Part("P1", {Attr(Time("4", "4")) + FourQuarters()})});
  const std::string container =
      "<container><rootfiles><rootfile full-path=\"score.musicxml\"/></rootfiles></container>";
  const std::string archive = MakeTestZip({{"mimetype", "application/vnd.recordare.musicxml"},
                                           {"META-INF/container.xml", container},
                                           {"other.musicxml", "<score-partwise/>"},
                                           {"score.musicxml", xml}});
  Loaded l;
  Load(l, archive, "s.mxl");
  EXPECT_TRUE(l.score.IsArchive());
  Loaded same;
  Load(same, archive, "s.mxl");
  EXPECT_EQ(Export(same), archive);

  Write(l.host, 1, Plain(2, 1536));
  const std::string out = Export(l);
  std::string root;
  std::string bytes;
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_TRUE(musicxml::ReadArchive(out, root, bytes, warnings, error)) << error;
  EXPECT_EQ(root, "score.musicxml");
  EXPECT_NE(bytes.find("<beats>6</beats>"), std::string::npos);
  Loaded back;
  Load(back, out, "s.mxl");
  EXPECT_EQ(Sig(back.host, 1), "2/1536");
}

// An archive can be written as its plain score and a plain score as a new
// archive; either reads back with the plug-in's change.
TEST(Export, FormsConvert) {
  const std::string xml = Doc({Part("P1", {Attr(Time("4", "4")) + FourQuarters()})});
  const std::string container =
      "<container><rootfiles><rootfile full-path=\"s.xml\"/></rootfiles></container>";
  const std::string archive = MakeTestZip({{"META-INF/container.xml", container}, {"s.xml", xml}});
  Loaded zipped;
  Load(zipped, archive, "s.mxl");
  std::string out;
  ASSERT_TRUE(zipped.score.SaveBytes(out, Score::Form::Xml).ok);
  EXPECT_EQ(out, xml);
  Write(zipped.host, 1, Plain(2, 1536));
  ASSERT_TRUE(zipped.score.ApplyHost(zipped.host).ok);
  ASSERT_TRUE(zipped.score.SaveBytes(out, Score::Form::Xml).ok);
  EXPECT_NE(out.find("<beats>6</beats>"), std::string::npos);
  EXPECT_EQ(out.substr(0, 5), "<?xml");

  Loaded plain;
  Load(plain, xml);
  Write(plain.host, 1, Plain(2, 1536));
  ASSERT_TRUE(plain.score.ApplyHost(plain.host).ok);
  ASSERT_TRUE(plain.score.SaveBytes(out, Score::Form::Archive).ok);
  std::string root;
  std::string bytes;
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_TRUE(musicxml::ReadArchive(out, root, bytes, warnings, error)) << error;
  EXPECT_TRUE(warnings.empty());
  EXPECT_EQ(out.substr(30, 8), "mimetype");  // first member, stored
  Loaded back;
  Load(back, out, "new.mxl");
  EXPECT_TRUE(back.score.IsArchive());
  EXPECT_EQ(Sig(back.host, 1), "2/1536");

  using F = Score::Form;
  EXPECT_EQ(musicxml::FormForPath("a/b.MXL"), F::Archive);
  EXPECT_EQ(musicxml::FormForPath("b.musicxml"), F::Xml);
  EXPECT_EQ(musicxml::FormForPath("b.xml"), F::Xml);
  EXPECT_EQ(musicxml::FormForPath("-"), F::AsLoaded);
  EXPECT_EQ(musicxml::FormForPath("b.out"), F::AsLoaded);
}

TEST(Export, ApplyOnlyOnceAndOnlyAfterBuild) {
  Score score;
  ASSERT_TRUE(score.LoadBytes(Doc({Part("P1", {Attr(Time("4", "4")) + FourQuarters()})}), "t").ok);
  simhost::Host host;
  EXPECT_FALSE(score.ApplyHost(host).ok);
  ASSERT_TRUE(score.BuildHost(host).ok);
  EXPECT_FALSE(score.BuildHost(host).ok);
  EXPECT_TRUE(score.ApplyHost(host).ok);
  EXPECT_FALSE(score.ApplyHost(host).ok);
}

}  // namespace

namespace {

// Damaged scores load with an error or a result, and whatever loads can be
// built, changed and written: never a crash (checked under the sanitizers).
TEST(Robustness, MutatedScoresNeverCrash) {
  const std::string xml =
      Doc({Part("P1", {Attr(Time("3+2", "8"), 2, "        <staves>2</staves>\n") +
                           N(1, "eighth", "<staff>2</staff>" + Beam("begin")) +
                           N(1, "eighth", Beam("end")) +
                           "      <backup><duration>2</duration></backup>\n" +
                           N(1, "eighth", "<chord/>", "2") + R(1, "eighth", "", "2"),
                       Attr("        <time><senza-misura/></time>\n") + N(3, "quarter", "<dot/>")}),
           Part("P2", {Attr(Time("6", "8")) + N(6, "half", "<dot/>"), N(6, "half", "<dot/>")})});
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  const std::string tokens[] = {"<", ">",      "/",          "\"",       "0", "-1", "99999999999",
                                "&", "<beam>", "</measure>", "<chord/>", "+", "8"};
  int loaded = 0;
  for (int round = 0; round < 1500; ++round) {
    std::string bytes = xml;
    for (int k = 1 + static_cast<int>(next() % 3); k > 0; --k) {
      const std::size_t at = next() % bytes.size();
      switch (next() % 3) {
        case 0:
          bytes.erase(at, 1 + next() % 8);
          break;
        case 1:
          bytes.insert(at, tokens[next() % (sizeof tokens / sizeof tokens[0])]);
          break;
        default:
          bytes[at] = static_cast<char>('0' + next() % 10);
          break;
      }
    }
    Score score;
    if (!score.LoadBytes(bytes, "m.xml").ok) continue;
    ++loaded;
    simhost::Host host;
    ASSERT_TRUE(score.BuildHost(host).ok);
    for (int m = 1; m <= score.MeasureCount(); ++m) Write(host, m, Plain(1 + m, 512));
    ASSERT_TRUE(score.ApplyHost(host).ok);
    std::string out;
    ASSERT_TRUE(score.SaveBytes(out).ok);
    // What the writer says the file holds is what reading it gives.
    Loaded back;
    Load(back, out, "m.xml");
    for (int m = 1; m <= score.MeasureCount(); ++m)
      EXPECT_EQ(Sig(back.host, m), Written(score, m)) << out;
  }
  EXPECT_GT(loaded, 100);
}

// --- what the file cannot hold, and outputs that read back ---

// A changed measure 2 between two 4/4 measures; measure 3 restates 4/4.
std::string Restating(const std::string& time, const std::string& head = "",
                      const std::string& more = "") {
  std::string xml =
      Doc({Part("P1", {Attr(time) + FourQuarters(), more + FourQuarters(), FourQuarters()})});
  if (!head.empty())
    xml.replace(xml.find("<!DOCTYPE"), xml.find("<score-partwise") - xml.find("<!DOCTYPE"), head);
  return xml;
}

// Exports with measure 2 at 8/8 and reads the result back: 4/4, 8/8, 4/4.
std::string ExportEightEight(Loaded& l) {
  Write(l.host, 2, Plain(8, 512));
  const std::string out = Export(l);
  EXPECT_TRUE(l.score.Changed());
  EXPECT_TRUE(l.score.Kept().empty());
  Loaded back;
  Load(back, out);
  EXPECT_EQ(Sig(back.host, 1), "4/1024");
  EXPECT_EQ(Sig(back.host, 2), "8/512");
  EXPECT_EQ(Sig(back.host, 3), "4/1024");
  return out;
}

TEST(ReadBack, RestatedTimeWithAnEntityIsWrittenFromItsValues) {
  Loaded l;
  Load(l, Restating(Time("&four;", "4"), "<!DOCTYPE score-partwise [<!ENTITY four \"4\">]>\n"));
  const std::string out = ExportEightEight(l);
  EXPECT_NE(
      out.find(
          "<measure number=\"3\">\n      <attributes>\n        <time>\n          <beats>4</beats>"),
      std::string::npos)
      << out;
}

TEST(ReadBack, RestatedTimeLeavesItsIdBehind) {
  Loaded l;
  Load(l, Restating(Time("4", "4", " id=\"ts1\" color=\"#FF0000\"")));
  const std::string out = ExportEightEight(l);
  EXPECT_EQ(out.find("id=\"ts1\""), out.rfind("id=\"ts1\""));
  EXPECT_NE(out.find("<time color=\"#FF0000\">"), std::string::npos) << out;
}

TEST(ReadBack, RewriteKeepsPrintObjectYesAndComments) {
  Loaded l;
  Load(l, Restating(Time("4", "4"), "",
                    Attr("        <time print-object=\"yes\"><!-- c --><beats>4</beats>"
                         "<beat-type>4</beat-type><?pi x?></time>\n")));
  const std::string out = ExportEightEight(l);
  EXPECT_NE(out.find("<time print-object=\"yes\"><!-- c "
                     "--><beats>8</beats><beat-type>8</beat-type><?pi x?></time>"),
            std::string::npos)
      << out;
}

// An empty <measure/> in a part whose other measures change opens to take
// the signature, so that the part says what the record says.
TEST(ReadBack, EmptyMeasureOpens) {
  std::string xml =
      Doc({Part("P1", {Attr(Time("4", "4")) + FourQuarters(), FourQuarters(), FourQuarters()}),
           Part("P2", {Attr(Time("4", "4")) + FourQuarters(), "", FourQuarters()})});
  const std::size_t p2 = xml.find("<part id=\"P2\"");
  const std::string open = "<measure number=\"2\">\n    </measure>";
  xml.replace(xml.find(open, p2), open.size(), "<measure number=\"2\"/>");
  Loaded l;
  Load(l, xml);
  const std::string out = ExportEightEight(l);
  EXPECT_NE(
      out.find(
          "<measure number=\"2\"><attributes><time><beats>8</beats><beat-type>8</beat-type></time>"
          "</attributes></measure>"),
      std::string::npos)
      << out;
  Loaded back;
  Load(back, out);
  EXPECT_FALSE(back.score.Staves()[1].independent);
  EXPECT_TRUE(l.score.Warnings().empty());
}

TEST(ReadBack, Latin1WritesWhatItCannotHoldAsReferences) {
  std::string xml = Restating(Time("4", "4", " font-family=\"&#x5B8B;&#x4F53; caf\xE9\""));
  xml.replace(xml.find("UTF-8"), 5, "ISO-8859-1");
  Loaded l;
  Load(l, xml);
  Write(l.host, 1, Plain(8, 512));
  const std::string out = Export(l);
  EXPECT_NE(out.find("font-family=\"&#x5B8B;&#x4F53; caf\xE9\""), std::string::npos) << out;
  Loaded back;
  Load(back, out);
  EXPECT_EQ(Sig(back.host, 1), "8/512");
}

// A comment holding U+1D11E ends the <time>: its last 16 code units start
// inside the surrogate pair.
TEST(ReadBack, Utf16NonBmpAtTheEndOfATime) {
  const std::string xml = Restating(Time("4", "4"), "",
                                    Attr("        <time><beats>4</beats><beat-type>4</beat-type>"
                                         "<!--\xF0\x9D\x84\x9E--></time>\n"));
  for (const musicxml::XmlText::Encoding encoding :
       {musicxml::XmlText::Encoding::Utf16LE, musicxml::XmlText::Encoding::Utf16BE}) {
    musicxml::XmlText like;
    like.encoding = encoding;
    like.bom = encoding == musicxml::XmlText::Encoding::Utf16LE ? "\xFF\xFE" : "\xFE\xFF";
    Loaded l;
    Load(l, musicxml::EncodeXmlText(like, xml));
    musicxml::XmlText text;
    std::string error;
    ASSERT_TRUE(musicxml::DecodeXmlText(ExportEightEight(l), text, error)) << error;
    EXPECT_NE(text.text.find("<beat-type>8</beat-type><!--\xF0\x9D\x84\x9E--></time>"),
              std::string::npos);
  }
}

// 21846 dotted quarters would be written as 65538/8, which no reader takes.
TEST(ReadBack, WhatCannotBeReadBackIsKeptAsWritten) {
  const std::string xml = Restating(Time("4", "4"));
  Loaded l;
  Load(l, xml);
  Write(l.host, 2, Plain(21846, 1536));
  EXPECT_EQ(Export(l), xml);
  EXPECT_FALSE(l.score.Changed());
  ASSERT_EQ(l.score.Kept().size(), 1u);
  EXPECT_EQ(l.score.Kept()[0].measure, 2);
  EXPECT_EQ(l.score.Kept()[0].reason, "no MusicXML form for these beats");
  EXPECT_EQ(Written(l.score, 2), "4/1024");
}

// Two dotted halves are spelled 6/4, which the measure already says: no
// edit, and the beats are listed as kept.
TEST(ReadBack, ASpellingThatChangesNothingIsNoEdit) {
  const std::string xml = Doc({Part("P1", {Attr(Time("6", "4")) + N(12, "whole", "<dot/>")})});
  Loaded l;
  Load(l, xml);
  Write(l.host, 1, Plain(2, 3072));
  EXPECT_EQ(Export(l), xml);
  ASSERT_EQ(l.score.Kept().size(), 1u);
  EXPECT_EQ(l.score.Kept()[0].reason,
            "no MusicXML form for these beats; the file has their length");
}

// A pickup's own signature has no MusicXML form: the file keeps it.
TEST(ReadBack, PickupsAreKept) {
  std::string xml = Doc({Part("P1", {Attr(Time("4", "4")) + N(2, "quarter"), FourQuarters()})});
  xml.replace(xml.find("<measure number=\"1\">"), 20, "<measure number=\"1\" implicit=\"yes\">");
  Loaded l;
  Load(l, xml);
  Write(l.host, 1, Plain(2, 512));
  EXPECT_EQ(Export(l), xml);
  ASSERT_EQ(l.score.Kept().size(), 1u);
  EXPECT_EQ(l.score.Kept()[0].reason, "no MusicXML form for a pickup's own signature");
  EXPECT_EQ(Written(l.score, 1), "1/1024");
}

TEST(Encodings, Windows1252AndOtherSingleByteEncodings) {
  std::string xml = Restating(Time("4", "4", " font-family=\"&#x5B8B;\""));
  xml.replace(xml.find("Part 1"), 6, "Caf\xE9 \x96 \x80");
  xml.replace(xml.find("UTF-8"), 5, "windows-1252");
  Loaded l;
  Load(l, xml);
  EXPECT_EQ(l.score.Staves()[0].partName, "Caf\xC3\xA9 \xE2\x80\x93 \xE2\x82\xAC");
  const std::string out = ExportEightEight(l);
  EXPECT_NE(out.find("Caf\xE9 \x96 \x80"), std::string::npos);
  EXPECT_NE(out.find("font-family=\"&#x5B8B;\""), std::string::npos) << out;
  // Others through the C library's converters: the euro sign of ISO-8859-15.
  xml = Restating(Time("4", "4"));
  xml.replace(xml.find("Part 1"), 6, "\xA4");
  xml.replace(xml.find("UTF-8"), 5, "ISO-8859-15");
  Loaded euro;
  Load(euro, xml);
  EXPECT_EQ(euro.score.Staves()[0].partName, "\xE2\x82\xAC");
  // Multi-byte ones are refused in plain words.
  xml.replace(xml.find("ISO-8859-15"), 11, "Shift_JIS");
  const Status status = Score().LoadBytes(xml, "s.xml");
  EXPECT_EQ(status.message,
            "s.xml: encoding Shift_JIS is not supported; convert the file to UTF-8");
  // ASCII throughout reads the same whatever the name.
  xml.replace(xml.find("\xA4"), 1, "P");
  EXPECT_TRUE(Score().LoadBytes(xml, "s.xml").ok);
}

}  // namespace
