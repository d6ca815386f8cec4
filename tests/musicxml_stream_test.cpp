// What streaming adds: spans read across the parser's input buffers, text
// inserted into a UTF-16 file, and edits checked on their own.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "host/records.h"
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
    "<?xml version=\"1.0\"?>\r\n<score-partwise>\r\n <part-list><score-part "
    "id=\"P1\"/></part-list>\r\n"
    " <part id=\"P1\">\r\n  <measure number=\"1\">\r\n   <attributes>\r\n    "
    "<divisions>1</divisions>\r\n"
    "    <time symbol=\"normal\">\r\n     <!-- three --><beats>3</beats>\r\n     "
    "<beat-type>4</beat-type>\r\n"
    "    </time>\r\n   </attributes>\r\n   "
    "<note><duration>3</duration><voice>1</voice><type>half</type><dot/></note>\r\n"
    "  </measure>\r\n  <measure number=\"2\">\r\n   "
    "<note><duration>3</duration><type>half</type><dot/></note>\r\n"
    "  </measure>\r\n  <measure number=\"3\">\r\n   <attributes/>\r\n"
    "   <note><duration>2</duration><type>half</type></note>\r\n  </measure>\r\n"
    "  <measure number=\"4\">\r\n   "
    "<attributes><time><beats>2</beats><beat-type>4</beat-type></time></attributes>\r\n"
    "   <note><duration>2</duration><type>half</type></note>\r\n  </measure>\r\n "
    "</part>\r\n</score-partwise>\r\n";

std::string Utf16(const std::string& text, bool little) {
  std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
  for (char c : text) {
    out += little ? c : '\0';
    out += little ? '\0' : c;
  }
  return out;
}

musicxml::Status ReadStatus(const std::string& bytes, musicxml::ScoreModel& model,
                            std::size_t chunk, std::size_t splitFrom = musicxml::DefaultSplitFrom) {
  musicxml::SourceEncoding encoding;
  std::string error;
  EXPECT_TRUE(musicxml::DetectEncoding(bytes, encoding, error)) << error;
  return musicxml::ReadScore(bytes, encoding, "t", "t", model, chunk, splitFrom);
}

musicxml::ScoreModel Read(const std::string& bytes, std::size_t chunk) {
  musicxml::ScoreModel model;
  const musicxml::Status s = ReadStatus(bytes, model, chunk);
  EXPECT_TRUE(s.ok) << s.message;
  return model;
}

// Everything the writer uses, as one string per measure, and what the host gets.
std::vector<std::string> Sites(const musicxml::ScoreModel& model) {
  std::vector<std::string> out;
  for (const musicxml::PartModel& part : model.parts) {
    out.push_back(part.id + "|" + std::to_string(part.firstStaff) + "|" +
                  std::to_string(part.staffCount) + "|" + std::to_string(part.independent));
    for (const auto& row : part.cells) {
      for (const musicxml::CellModel& cell : row) {
        for (const musicxml::LayerModel& layer : cell.layers) {
          out.back() += "|" + layer.voice + ":" + std::to_string(layer.entries.size());
          for (const musicxml::EntryLook& look : layer.looks) {
            out.back() += "," + std::to_string(look.type) + "/" + std::to_string(look.beams) + "/" +
                          std::to_string(look.flags) + "/" + std::to_string(look.tupletNumber);
          }
        }
      }
    }
  }
  for (const musicxml::Meter& record : model.records) out.push_back(musicxml::MeterText(record));
  for (const musicxml::StaffInfo& staff : model.staves) {
    out.push_back(std::to_string(staff.staff) + staff.partId + "|" + staff.partName +
                  std::to_string(staff.hidden));
  }
  for (const musicxml::PartModel& part : model.parts) {
    for (const musicxml::MeasureSite& m : part.measures) {
      std::string s = std::to_string(m.timedAt) + "|" + m.timedWs + "|" +
                      std::to_string(m.closeAt) + "|" + m.closeWs;
      for (const musicxml::TimeSite& t : m.times) {
        s += "|time " + std::to_string(t.span.begin) + "-" + std::to_string(t.span.end) + "/" +
             std::to_string(t.openEnd) + "|" + t.innerWs + "|" + t.closeWs + "|" + t.fields.symbol;
        for (const auto& [beats, type] : t.fields.pairs) s += "|" + beats + "/" + type;
        for (const auto& [n, v] : t.attributes) s += "|" + n + "=" + v;
      }
      if (m.attributes) {
        const musicxml::AttributesSite& a = *m.attributes;
        s += "|attributes " + std::to_string(a.span.begin) + "-" + std::to_string(a.span.end) +
             "|" + std::to_string(a.hasChildren) + std::to_string(a.beforeAt) + a.beforeWs + "|" +
             a.firstElementWs + "|" + a.closeWs + std::to_string(a.closeAt) + "|" + a.wsBefore;
      }
      out.push_back(s);
    }
  }
  return out;
}

TEST(StreamRead, SpansDoNotDependOnWhereTheInputIsCut) {
  for (const std::string& bytes : {Score, Utf16(Score, true)}) {
    const std::vector<std::string> whole = Sites(Read(bytes, bytes.size()));
    ASSERT_EQ(whole.size(), 10u);
    EXPECT_NE(whole[6].find("|3/4"), std::string::npos) << whole[6];
    for (std::size_t chunk : {1, 2, 3, 5, 7, 16, 61, 128}) {
      SCOPED_TRACE(chunk);
      EXPECT_EQ(Sites(Read(bytes, chunk)), whole);
    }
  }
}

// Two threads, the second from a part in the middle on, read what one does,
// errors and warnings included; where the middle is no place to start (a
// part in a comment) one reader does it all.
TEST(StreamRead, TwoReadersReadWhatOneDoes) {
  std::string part = Score.substr(Score.find(" <part id"),
                                  Score.find("</score-partwise>") - Score.find(" <part id"));
  auto doc = [&](const std::vector<std::string>& parts) {
    std::string out = "<score-partwise>\n <part-list>";
    for (std::size_t i = 0; i < parts.size(); ++i)
      out += "<score-part id=\"P" + std::to_string(i + 1) + "\"/>";
    out += "</part-list>\n";
    for (std::size_t i = 0; i < parts.size(); ++i) {
      std::string p = parts[i];
      p.replace(p.find("P1"), 2, "P" + std::to_string(i + 1));
      out += p;
    }
    return out + "</score-partwise>\n";
  };
  std::string staves = part;
  staves.replace(staves.find("<divisions>"), 0, "<staves>2</staves>");
  std::string bad = part;
  bad.replace(bad.find("<duration>2"), 11, "<duration>x");
  std::string backup = part;
  backup.replace(backup.find("</note>"), 7, "</note><backup><duration>9</duration></backup>");
  const std::vector<std::string> docs = {
      doc({part, staves, part, backup, part, staves}),
      doc({part, part, bad, part}),
      doc({part + "<!--\n <part id=\"x\">-->", part}),
      doc({part, part}) + "<extra/>",
  };
  for (const std::string& d : docs) {
    SCOPED_TRACE(d);
    musicxml::ScoreModel one;
    musicxml::ScoreModel two;
    const musicxml::Status s1 = ReadStatus(d, one, musicxml::DefaultReadChunk, std::string::npos);
    const musicxml::Status s2 = ReadStatus(d, two, 7, 0);
    EXPECT_EQ(s1.ok, s2.ok);
    EXPECT_EQ(s1.message, s2.message);
    EXPECT_EQ(s1.warnings, s2.warnings);
    if (s1.ok) {
      EXPECT_EQ(Sites(one), Sites(two));
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
  // Written in pieces, streamed from the source and the edits, it is the
  // same bytes.
  std::string written;
  EXPECT_TRUE(score
                  .Write([&](std::string_view piece) {
                    written.append(piece);
                    return true;
                  })
                  .ok);
  EXPECT_EQ(written, out);
  return out;
}

TEST(StreamWrite, InsertedTextTakesTheFilesEncoding) {
  const std::string utf8 = Export(Score);
  EXPECT_NE(utf8.find("<!-- three -->"), utf8.rfind("<!-- three -->"));
  EXPECT_NE(utf8.find("\r\n   <attributes>\r\n    <time symbol=\"normal\">"), std::string::npos)
      << utf8;
  for (bool little : {true, false}) {
    SCOPED_TRACE(little);
    EXPECT_EQ(Export(Utf16(Score, little)), Utf16(utf8, little));
  }
}

// `source` with finished edits spliced in.
std::string Splice(std::string_view source, const std::vector<Edit>& edits) {
  std::string out;
  musicxml::SpliceEdits(source, edits, [&](std::string_view piece) { out.append(piece); });
  return out;
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
      {"unclosed",
       {K::RewriteTime, time, timeLength, "<time><beats>2</beats>", {}, ""},
       "does not parse"},
      {"not a time", {K::RewriteTime, note, 5, "<time/>", {}, ""}, "does not fall on"},
      {"inside a tag",
       {K::InsertAttributes, note + 1, 0, "<attributes><time/></attributes>", {}, ""},
       "does not fall on"},
      {"wrong element", {K::InsertTimes, note, 0, "<key/>", {}, ""}, "does not hold"},
      {"reads back otherwise",
       {K::RewriteTime, time, timeLength, "<time><beats>3</beats><beat-type>4</beat-type></time>",
        twoFour, ""},
       "does not read back"},
      {"outside", {K::InsertTimes, Score.size() + 1, 0, "<time/>", {}, ""}, "outside"},
  };
  for (const BadEdit& row : rows) {
    SCOPED_TRACE(row.name);
    std::string error;
    EXPECT_FALSE(musicxml::CheckEdit(Score, musicxml::SourceEncoding{}, row.edit, error));
    EXPECT_NE(error.find(row.message), std::string::npos) << error;
  }
  std::vector<Edit> good = {{K::RewriteTime, time, timeLength,
                             "<time><beats>2</beats><beat-type>4</beat-type></time>", twoFour, ""}};
  std::string error;
  ASSERT_TRUE(musicxml::CheckEdit(Score, musicxml::SourceEncoding{}, good[0], error)) << error;
  ASSERT_TRUE(musicxml::FinishEdits(Score, musicxml::SourceEncoding{}, good, error)) << error;
  EXPECT_EQ(Splice(Score, good),
            Score.substr(0, time) + good[0].text + Score.substr(time + timeLength));
}

TEST(StreamWrite, EditsGoInByOffsetAndAtOneOffsetInTheirOrder) {
  const std::string text = "0123456789";
  using K = Edit::Kind;
  std::vector<Edit> edits = {{K::RewriteTime, 5, 2, "ab", {}, ""},
                             {K::InsertTimes, 1, 0, "X", {}, ""},
                             {K::InsertTimes, 1, 0, "Y", {}, ""},
                             {K::InsertTimes, 10, 0, "!", {}, ""}};
  std::string error;
  ASSERT_TRUE(musicxml::FinishEdits(text, musicxml::SourceEncoding{}, edits, error)) << error;
  EXPECT_EQ(Splice(text, edits), "0XY1234ab789!");
  std::vector<Edit> none;
  ASSERT_TRUE(musicxml::FinishEdits(text, musicxml::SourceEncoding{}, none, error)) << error;
  EXPECT_EQ(Splice(text, none), text);

  std::vector<Edit> overlapping = {{K::RewriteTime, 2, 4, "ab", {}, ""},
                                   {K::InsertTimes, 3, 0, "X", {}, ""}};
  EXPECT_FALSE(musicxml::FinishEdits(text, musicxml::SourceEncoding{}, overlapping, error));
  EXPECT_NE(error.find("overlaps another"), std::string::npos) << error;
}

}  // namespace
