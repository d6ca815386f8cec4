// What streaming adds: spans read across the parser's input buffers, text
// inserted into a UTF-16 file, and edits checked on their own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/records.h"
#include "musicxml/meter.h"
#include "musicxml/model.h"
#include "musicxml/musicxml.h"
#include "musicxml/reader.h"
#include "musicxml/writer.h"
#include "simhost/simhost.h"

namespace {

using musicxml::Edit;

// Measure 1 states 3/4 with a comment and CRLF, measures 2 and 3 state
// nothing (3 with an empty <attributes/>), measure 4 states 2/4.
const std::string Score =
    "<?xml version=\"1.0\"?>\r\n<score-partwise>\r\n <part-list><score-part id=\"P1\"/></part-list>\r\n"
    " <part id=\"P1\">\r\n  <measure number=\"1\">\r\n   <attributes>\r\n    <divisions>1</divisions>\r\n"
    "    <time symbol=\"normal\">\r\n     <!-- three --><beats>3</beats>\r\n     <beat-type>4</beat-type>\r\n"
    "    </time>\r\n   </attributes>\r\n   <note><duration>3</duration><voice>1</voice><type>half</type><dot/></note>\r\n"
    "  </measure>\r\n  <measure number=\"2\">\r\n   <note><duration>3</duration><type>half</type><dot/></note>\r\n"
    "  </measure>\r\n  <measure number=\"3\">\r\n   <attributes/>\r\n"
    "   <note><duration>2</duration><type>half</type></note>\r\n  </measure>\r\n"
    "  <measure number=\"4\">\r\n   <attributes><time><beats>2</beats><beat-type>4</beat-type></time></attributes>\r\n"
    "   <note><duration>2</duration><type>half</type></note>\r\n  </measure>\r\n </part>\r\n</score-partwise>\r\n";

std::string Utf16(const std::string& text, bool little) {
  std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
  for (char c : text) {
    out += little ? c : '\0';
    out += little ? '\0' : c;
  }
  return out;
}

musicxml::ScoreModel Read(const std::string& bytes, std::size_t chunk) {
  musicxml::SourceEncoding encoding;
  std::string error;
  EXPECT_TRUE(musicxml::DetectEncoding(bytes, encoding, error)) << error;
  musicxml::ScoreModel model;
  const musicxml::Status s = musicxml::ReadScore(bytes, encoding, "t", "t", model, chunk);
  EXPECT_TRUE(s.ok) << s.message;
  return model;
}

// Everything the writer uses, as one string per measure.
std::vector<std::string> Sites(const musicxml::ScoreModel& model) {
  std::vector<std::string> out;
  for (const musicxml::MeasureSite& m : model.parts.at(0).measures) {
    std::string s = std::to_string(m.timedAt) + "|" + m.timedWs + "|" + std::to_string(m.closeAt) + "|" + m.closeWs;
    for (const musicxml::TimeSite& t : m.times) {
      s += "|time " + std::to_string(t.span.begin) + "-" + std::to_string(t.span.end) + "/" +
           std::to_string(t.openEnd) + "|" + t.innerWs + "|" + t.closeWs + "|" + t.fields.symbol;
      for (const auto& [beats, type] : t.fields.pairs) s += "|" + beats + "/" + type;
      for (const auto& [n, v] : t.attributes) s += "|" + n + "=" + v;
    }
    if (m.attributes) {
      const musicxml::AttributesSite& a = *m.attributes;
      s += "|attributes " + std::to_string(a.span.begin) + "-" + std::to_string(a.span.end) + "|" +
           std::to_string(a.hasChildren) + std::to_string(a.beforeAt) + a.beforeWs + "|" + a.firstElementWs +
           "|" + a.closeWs + std::to_string(a.closeAt) + "|" + a.wsBefore;
    }
    out.push_back(s);
  }
  return out;
}

TEST(StreamRead, SpansDoNotDependOnWhereTheInputIsCut) {
  for (const std::string& bytes : {Score, Utf16(Score, true)}) {
    const std::vector<std::string> whole = Sites(Read(bytes, bytes.size()));
    ASSERT_EQ(whole.size(), 4u);
    EXPECT_NE(whole[0].find("|3/4"), std::string::npos) << whole[0];
    for (std::size_t chunk : {1, 2, 3, 5, 7, 16, 61, 128}) {
      SCOPED_TRACE(chunk);
      EXPECT_EQ(Sites(Read(bytes, chunk)), whole);
    }
  }
}

void SetMeasure(simhost::Host& host, int measure, std::int32_t beats, std::int32_t beat) {
  musicxml::Meter meter;
  meter.groups.push_back({{beats}, beat});
  const musicxml::HostSignature sig = musicxml::StoreMeter(host, meter);
  simhost::MeasureView view;
  ASSERT_TRUE(host.ReadMeasure(static_cast<std::int16_t>(measure), view));
  view.beats = sig.beats;
  view.beatDuration = sig.beatDuration;
  view.signatureFlags = sig.flags;
  host.SetMeasure(static_cast<std::int16_t>(measure), view);
}

// Inserts a new <attributes> in measure 2, restates measure 1's <time> word
// for word (comment included) in measure 3's empty one, rewrites measure 4's.
std::string Export(const std::string& bytes) {
  musicxml::Score score;
  simhost::Host host;
  EXPECT_TRUE(score.LoadBytes(bytes, "t.musicxml").ok);
  EXPECT_TRUE(score.BuildHost(host).ok);
  SetMeasure(host, 2, 6, 512);
  SetMeasure(host, 4, 3, 1024);
  const musicxml::Status s = score.ApplyHost(host);
  EXPECT_TRUE(s.ok) << s.message;
  std::string out;
  EXPECT_TRUE(score.SaveBytes(out).ok);
  return out;
}

TEST(StreamWrite, InsertedTextTakesTheFilesEncoding) {
  const std::string utf8 = Export(Score);
  EXPECT_NE(utf8.find("<!-- three -->"), utf8.rfind("<!-- three -->"));
  EXPECT_NE(utf8.find("\r\n   <attributes>\r\n    <time symbol=\"normal\">"), std::string::npos) << utf8;
  for (bool little : {true, false}) {
    SCOPED_TRACE(little);
    EXPECT_EQ(Export(Utf16(Score, little)), Utf16(utf8, little));
  }
}

struct BadEdit {
  const char* name;
  Edit edit;
  const char* message;
};

TEST(StreamWrite, EditsAreCheckedOnTheirOwn) {
  const std::size_t time = Score.find("<time");
  const std::size_t timeLength = Score.find("</time>") + 7 - time;
  const std::size_t note = Score.find("<note");
  musicxml::Meter twoFour;
  twoFour.groups.push_back({{2}, 1024});
  using K = Edit::Kind;
  const std::vector<BadEdit> rows = {
      {"unclosed", {K::RewriteTime, time, timeLength, "<time><beats>2</beats>", {}, ""}, "does not parse"},
      {"not a time", {K::RewriteTime, note, 5, "<time/>", {}, ""}, "does not fall on"},
      {"inside a tag", {K::InsertAttributes, note + 1, 0, "<attributes><time/></attributes>", {}, ""}, "does not fall on"},
      {"wrong element", {K::InsertTimes, note, 0, "<key/>", {}, ""}, "does not hold"},
      {"reads back otherwise",
       {K::RewriteTime, time, timeLength, "<time><beats>3</beats><beat-type>4</beat-type></time>", twoFour, ""},
       "does not read back"},
      {"outside", {K::InsertTimes, Score.size() + 1, 0, "<time/>", {}, ""}, "outside"},
  };
  for (const BadEdit& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<Edit> edits = {row.edit};
    std::string error;
    EXPECT_FALSE(musicxml::VerifyEdits(Score, musicxml::SourceEncoding{}, edits, error));
    EXPECT_NE(error.find(row.message), std::string::npos) << error;
  }
  std::vector<Edit> good = {
      {K::RewriteTime, time, timeLength, "<time><beats>2</beats><beat-type>4</beat-type></time>", twoFour, ""}};
  std::string error;
  ASSERT_TRUE(musicxml::VerifyEdits(Score, musicxml::SourceEncoding{}, good, error)) << error;
  std::string out;
  musicxml::SpliceEdits(Score, good, [&](std::string_view piece) { out.append(piece); });
  EXPECT_EQ(out, Score.substr(0, time) + good[0].text + Score.substr(time + timeLength));
}

}  // namespace
