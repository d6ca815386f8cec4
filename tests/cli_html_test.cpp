// The HTML report: one page that needs nothing from outside, drawn for
// each changed measure, and loaded by a real browser when one is installed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <pugixml.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/cli_test_support.h"

namespace {

using clitest::ExamplePath;
using clitest::Outcome;
using clitest::ReadFile;
using clitest::RunTool;
using clitest::ScratchDir;
using clitest::WriteFile;
namespace fs = std::filesystem;

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

std::string MakePage(const ScratchDir& dir) {
  const Outcome outcome = RunTool({"--config-dir", dir / "cfg", "--report", "html", "--report-file",
                                   dir / "report.html", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  return ReadFile(dir / "report.html");
}

TEST(HtmlReport, SelfContainedWithAPictureOfEachChangedMeasure) {
  ScratchDir dir;
  const std::string page = MakePage(dir);
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  // Nothing fetched: no source or link attributes; the one URL is SVG's namespace name.
  EXPECT_FALSE(std::regex_search(page, std::regex(R"((src|href)\s*=)")));
  EXPECT_EQ(Count(page, "://"), Count(page, "xmlns=\"http://www.w3.org/2000/svg\""));
  EXPECT_NE(page.find("4 of 8 measures changed"), std::string::npos);
  EXPECT_EQ(Count(page, "<svg "), 4u);
  // The 4/4 bars grouped 3+3+2 eighths, on two staves: under the old
  // signature the second group of each starts between two quarter beats;
  // under the new one it starts on a beat.
  const std::size_t third = page.find("measure 3 [4]: 4/4 -&gt; 8/8");
  ASSERT_NE(third, std::string::npos) << page;
  const std::string svg = page.substr(third, page.find("</svg>", third) - third);
  EXPECT_EQ(Count(svg, "class=\"staff\""), 4u) << svg;
  EXPECT_EQ(Count(svg, "class=\"mark off\""), 2u) << svg;
  EXPECT_EQ(Count(svg, "class=\"mark on\""), 2u) << svg;
}

// One 4/4 measure (12 divisions a quarter) of two voices. Voice 1: eighths
// beamed 3+3+2, the third tied to the fourth. Voice 2: four sixteenths with
// two beam levels, a dotted eighth and a sixteenth with a backward hook, an
// eighth triplet under a bracket, a quarter rest. Then a measure of quarters.
std::string NoteXml(int duration, const std::string& type, int voice,
                    const std::vector<std::string>& beams, const std::string& extra = "",
                    const std::string& notations = "") {
  std::string xml = "<note><pitch><step>C</step><octave>5</octave></pitch><duration>" +
                    std::to_string(duration) + "</duration>" + extra.substr(0, extra.find('|')) +
                    "<voice>" + std::to_string(voice) + "</voice><type>" + type + "</type>";
  if (extra.find('|') != std::string::npos) xml += extra.substr(extra.find('|') + 1);
  for (std::size_t level = 0; level < beams.size(); ++level) {
    if (beams[level].empty()) continue;
    xml += "<beam number=\"" + std::to_string(level + 1) + "\">" + beams[level] + "</beam>";
  }
  if (!notations.empty()) xml += "<notations>" + notations + "</notations>";
  return xml + "</note>\n";
}

std::string RhythmScore(const std::string& partName = "Flute") {
  std::string m1 =
      "<attributes><divisions>12</divisions><time><beats>4</beats>"
      "<beat-type>4</beat-type></time></attributes>\n";
  const char* groups[] = {"begin", "continue", "end", "begin", "continue", "end", "begin", "end"};
  for (int i = 0; i < 8; ++i) {
    const std::string tie = i == 2   ? "|<tie type=\"start\"/>"
                            : i == 3 ? "|<tie type=\"stop\"/>"
                                     : "";
    const std::string tied = i == 2   ? "<tied type=\"start\"/>"
                             : i == 3 ? "<tied type=\"stop\"/>"
                                      : "";
    m1 += NoteXml(6, "eighth", 1, {groups[i]}, tie, tied);
  }
  m1 += "<backup><duration>48</duration></backup>\n";
  const char* four[] = {"begin", "continue", "continue", "end"};
  for (const char* b : four) m1 += NoteXml(3, "16th", 2, {b, b});
  m1 += NoteXml(9, "eighth", 2, {"begin"}, "|<dot/>");
  m1 += NoteXml(3, "16th", 2, {"end", "backward hook"});
  const std::string tm =
      "|<time-modification><actual-notes>3</actual-notes>"
      "<normal-notes>2</normal-notes></time-modification>";
  m1 += NoteXml(4, "eighth", 2, {"begin"}, tm, "<tuplet type=\"start\" bracket=\"yes\"/>");
  m1 += NoteXml(4, "eighth", 2, {"continue"}, tm);
  m1 += NoteXml(4, "eighth", 2, {"end"}, tm, "<tuplet type=\"stop\"/>");
  m1 += "<note><rest/><duration>12</duration><voice>2</voice><type>quarter</type></note>\n";
  std::string m2;
  for (int i = 0; i < 4; ++i) m2 += NoteXml(12, "quarter", 1, {});
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"4.0\">"
         "<part-list><score-part id=\"P1\"><part-name>" +
         partName +
         "</part-name></score-part></part-list>\n<part id=\"P1\"><measure number=\"1\">\n" + m1 +
         "</measure><measure number=\"2\">\n" + m2 + "</measure></part></score-partwise>\n";
}

// What the file itself writes in a measure, read with pugixml.
struct Written {
  int notes = 0;  // chords count once
  int rests = 0;
  int beams = 0;  // <beam>begin</beam> of every level
  int hooks = 0;
  int tuplets = 0;
  int ties = 0;
  int dots = 0;
  int offBeatStarts = 0;                       // level-1 beams that begin between quarter beats
  std::vector<std::pair<int, int>> beamSpans;  // (level, notes), sorted
};
Written ReadWritten(const std::string& xml, int measureIndex) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_string(xml.c_str()));
  Written w;
  pugi::xml_node measure = doc.child("score-partwise").child("part").child("measure");
  for (int i = 0; i < measureIndex; ++i) measure = measure.next_sibling("measure");
  const int divisions = 12;
  int cursor = 0;
  std::map<std::pair<std::string, int>, int> open;  // (voice, level) -> notes so far
  for (pugi::xml_node child : measure.children()) {
    const std::string name = child.name();
    if (name == "backup") cursor -= child.child("duration").text().as_int();
    if (name != "note" || child.child("chord")) continue;
    const std::string voice = child.child_value("voice");
    if (child.child("rest"))
      ++w.rests;
    else
      ++w.notes;
    for (pugi::xml_node dot : child.children("dot")) static_cast<void>(dot), ++w.dots;
    if (child.child("tie").attribute("type").value() == std::string("start")) ++w.ties;
    for (pugi::xml_node t : child.child("notations").children("tuplet")) {
      if (t.attribute("type").value() == std::string("start")) ++w.tuplets;
    }
    for (pugi::xml_node beam : child.children("beam")) {
      const int level = beam.attribute("number").as_int(1);
      const std::string kind = beam.text().get();
      const auto key = std::make_pair(voice, level);
      if (kind == "begin") {
        ++w.beams;
        open[key] = 1;
        if (level == 1 && (cursor * 1024 / divisions) % 1024 != 0) ++w.offBeatStarts;
      } else if (kind == "continue") {
        ++open[key];
      } else if (kind == "end") {
        w.beamSpans.emplace_back(level, open[key] + 1);
        open.erase(key);
      } else {
        ++w.hooks;
      }
    }
    cursor += child.child("duration").text().as_int();
  }
  std::sort(w.beamSpans.begin(), w.beamSpans.end());
  return w;
}

// The elements of one class in an SVG, with their numeric attributes.
std::vector<std::map<std::string, double>> Elements(const std::string& svg, const std::string& tag,
                                                    const std::string& cls) {
  std::vector<std::map<std::string, double>> out;
  const std::regex element("<" + tag + " class=\"" + cls + "\"([^>]*)>");
  const std::regex attribute(R"(([a-z0-9]+)="(-?[0-9.]+)\")");
  for (std::sregex_iterator it(svg.begin(), svg.end(), element), end; it != end; ++it) {
    std::map<std::string, double> values;
    const std::string attrs = (*it)[1];
    for (std::sregex_iterator a(attrs.begin(), attrs.end(), attribute); a != end; ++a) {
      values[(*a)[1]] = std::stod((*a)[2]);
    }
    out.push_back(values);
  }
  return out;
}

std::string RhythmPage(const ScratchDir& dir, const std::string& score,
                       const std::vector<std::string>& extra = {}) {
  WriteFile(dir / "rhythm.musicxml", score);
  std::vector<std::string> args = {"--config-dir", dir / "cfg",     "--report",
                                   "html",         "--report-file", dir / "rhythm.html"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(dir / "rhythm.musicxml");
  const Outcome outcome = RunTool(args);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  return ReadFile(dir / "rhythm.html");
}

// The first system of the measure's picture: its rhythm under the old signature.
std::string OldSystem(const std::string& page) {
  const std::size_t svg = page.find("<svg ");
  const std::size_t divide = page.find("class=\"divide\"", svg);
  EXPECT_NE(divide, std::string::npos);
  return page.substr(svg, divide - svg);
}

TEST(HtmlReport, DrawsEveryEntryOfTheMeasureAsWritten) {
  ScratchDir dir;
  const std::string score = RhythmScore();
  const std::string page = RhythmPage(dir, score);
  ASSERT_EQ(Count(page, "<svg "), 1u) << page;  // only the first measure changes
  const Written w = ReadWritten(score, 0);
  const std::string old = OldSystem(page);
  // Both systems draw the same rhythm.
  EXPECT_EQ(Count(page, "class=\"head"), 2u * static_cast<std::size_t>(w.notes));
  EXPECT_EQ(Count(old, "class=\"head"), static_cast<std::size_t>(w.notes));
  EXPECT_EQ(Count(old, "class=\"rest"), static_cast<std::size_t>(w.rests));
  EXPECT_EQ(Count(old, "class=\"beam\""), static_cast<std::size_t>(w.beams));
  EXPECT_EQ(Count(old, "class=\"hook\""), static_cast<std::size_t>(w.hooks));
  EXPECT_EQ(Count(old, "<text class=\"tuplet\""), static_cast<std::size_t>(w.tuplets));
  EXPECT_NE(old.find("text-anchor=\"middle\">3</text>"), std::string::npos);
  EXPECT_EQ(Count(old, "class=\"tie\""), static_cast<std::size_t>(w.ties));
  EXPECT_EQ(Count(old, "class=\"dot\""), static_cast<std::size_t>(w.dots));
  EXPECT_EQ(Count(old, "class=\"mark off\""), static_cast<std::size_t>(w.offBeatStarts));
  EXPECT_EQ(Count(old, "class=\"flag\""), 0u);  // every short note is beamed in this file
}

TEST(HtmlReport, EachBeamSpansExactlyItsNotes) {
  ScratchDir dir;
  const std::string score = RhythmScore();
  const std::string old = OldSystem(RhythmPage(dir, score));
  const auto stems = Elements(old, "line", "stem");
  std::vector<std::pair<int, int>> spans;
  for (const auto& beam : Elements(old, "line", "beam")) {
    // The stems of its row end at or above it; it starts and ends on a stem.
    int notes = 0;
    double rowTop = 0;
    bool startsOnStem = false;
    bool endsOnStem = false;
    for (const auto& stem : stems) {
      const double top = stem.at("y2");
      if (beam.at("y1") < top || beam.at("y1") > top + 50) continue;
      rowTop = top;
      const double x = stem.at("x1");
      if (x >= beam.at("x1") - 0.01 && x <= beam.at("x2") + 0.01) ++notes;
      startsOnStem = startsOnStem || x == beam.at("x1");
      endsOnStem = endsOnStem || x == beam.at("x2");
    }
    EXPECT_TRUE(startsOnStem && endsOnStem) << beam.at("x1") << "-" << beam.at("x2");
    // Further levels lie lower, one beam's spacing each.
    const int level = 1 + static_cast<int>((beam.at("y1") - rowTop) / 6);
    spans.emplace_back(level, notes);
  }
  std::sort(spans.begin(), spans.end());
  EXPECT_EQ(spans, ReadWritten(score, 0).beamSpans);
}

TEST(HtmlReport, LongNamesAreShortenedWithTheFullNameOnce) {
  ScratchDir dir;
  std::string name;
  for (int i = 0; name.size() < 300; ++i) name += "Part" + std::to_string(i) + "-";
  const std::string page = RhythmPage(dir, RhythmScore(name));
  EXPECT_EQ(Count(page, name), 1u);
  // In the picture, 59 characters and an ellipsis on each of the two voices' rows.
  const std::string shown = name.substr(0, 59) + "\u2026";
  EXPECT_EQ(Count(page, ">" + shown + ", voice 1</text>"), 2u);
  EXPECT_EQ(Count(page, ">" + shown + ", voice 2</text>"), 2u);
}

TEST(HtmlReport, StandardOutputGetsTheSamePage) {
  ScratchDir dir;
  const std::string page = RhythmPage(dir, RhythmScore());
  const Outcome outcome = RunTool({"--config-dir", dir / "cfg", "--report", "html", "--report-file",
                                   "-", dir / "rhythm.musicxml"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(outcome.out, page);
}

TEST(HtmlReport, WorkersCarryThePictureWhole) {
  ScratchDir dir;
  const std::string score = RhythmScore();
  WriteFile(dir / "a.musicxml", score);
  WriteFile(dir / "b.musicxml", score);
  std::string pages[2];
  for (int jobs = 1; jobs <= 2; ++jobs) {
    const Outcome outcome =
        RunTool({"--config-dir", dir / "cfg", "--jobs", std::to_string(jobs), "--report", "html",
                 "--report-file", dir / "p.html", dir / "a.musicxml", dir / "b.musicxml"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    pages[jobs - 1] = ReadFile(dir / "p.html");
  }
  EXPECT_EQ(Count(pages[0], "<svg "), 2u);
  EXPECT_EQ(pages[0], pages[1]);
}

// A screenshot by headless Chromium of `html`, as rows of RGB pixels; empty
// (with the reason in `skipped`) where Chromium or ImageMagick is missing.
struct Picture {
  int width = 0;
  int height = 0;
  std::string rgb;
  const unsigned char* At(int x, int y) const {
    return reinterpret_cast<const unsigned char*>(rgb.data()) +
           3 * (static_cast<std::size_t>(y) * width + x);
  }
};
Picture Screenshot(const ScratchDir& dir, const std::string& html, std::string& skipped) {
  const char* browser = "/usr/bin/chromium";
  const char* convert = "/usr/bin/convert";
  Picture picture;
  if (!fs::exists(browser)) skipped = "SKIPPED: Chromium is not installed";
  if (!fs::exists(convert)) skipped = "SKIPPED: ImageMagick is not installed";
  if (!skipped.empty()) return picture;
  fs::create_directories(dir.path() / "profile");
  const std::string command =
      std::string(browser) +
      " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
      " --disable-background-networking --disable-component-update --disable-sync"
      " --force-device-scale-factor=1 --user-data-dir='" +
      (dir / "profile") + "' --window-size=1000,900 --screenshot='" + (dir / "shot.png") +
      "' 'file://" + html + "' >/dev/null 2>&1 && " + convert + " '" + (dir / "shot.png") +
      "' -background white -alpha remove -depth 8 '" + (dir / "shot.ppm") + "'";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
  const std::string ppm = ReadFile(dir / "shot.ppm");
  int maxValue = 0;
  int consumed = 0;
  if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &picture.width, &picture.height, &maxValue,
                  &consumed) != 3 ||
      maxValue != 255) {
    ADD_FAILURE() << "not a PPM picture";
    return Picture{};
  }
  picture.rgb = ppm.substr(static_cast<std::size_t>(consumed) + 1);
  EXPECT_EQ(picture.rgb.size(), 3u * picture.width * picture.height);
  return picture;
}

TEST(HtmlReport, ChromiumShowsEachNoteheadAndMarkWhereThePagePutsThem) {
  ScratchDir dir;
  const std::string page = RhythmPage(dir, RhythmScore());
  std::string skipped;
  const Picture shot = Screenshot(dir, dir / "rhythm.html", skipped);
  if (!skipped.empty()) GTEST_SKIP() << skipped;
  ASSERT_FALSE(shot.rgb.empty());
  // The picture's own background (#fcfcfc, inside its border) gives its
  // place on the page: the first long run of it.
  int left = -1;
  int top = -1;
  for (int y = 0; y < shot.height && top < 0; ++y) {
    int run = 0;
    for (int x = 0; x < shot.width; ++x) {
      const unsigned char* p = shot.At(x, y);
      run = p[0] == 0xfc && p[1] == 0xfc && p[2] == 0xfc ? run + 1 : 0;
      if (run == 100) {
        left = x - 99;
        top = y;
        break;
      }
    }
  }
  ASSERT_GE(top, 0) << "no picture on the screenshot";
  const std::string svg = page.substr(page.find("<svg "));
  auto colour = [&](double x, double y) {
    const unsigned char* p = shot.At(left + static_cast<int>(x), top + static_cast<int>(y));
    if (p[0] < 90 && p[1] < 90 && p[2] < 90) return std::string("black");
    if (p[0] > 170 && p[1] < 90 && p[2] < 90) return std::string("red");
    if (p[0] < 90 && p[1] < 140 && p[2] > 160) return std::string("blue");
    return std::string("background");
  };
  const Written w = ReadWritten(RhythmScore(), 0);
  std::map<std::string, int> heads;
  for (const std::string cls : {"head", "head off", "head on"}) {
    for (const auto& head : Elements(svg, "ellipse", cls)) {
      ++heads[colour(head.at("cx"), head.at("cy"))];
    }
  }
  // Every notehead of both systems is there; the group start between the
  // old beats is red above and blue below.
  EXPECT_EQ(heads["black"], 2 * (w.notes - w.offBeatStarts));
  EXPECT_EQ(heads["red"], w.offBeatStarts);
  EXPECT_EQ(heads["blue"], w.offBeatStarts);
}

TEST(HtmlReport, ChromiumRendersIt) {
  const char* browser = "/usr/bin/chromium";
  if (!fs::exists(browser)) GTEST_SKIP() << "SKIPPED: Chromium is not installed";
  ScratchDir dir;
  MakePage(dir);
  fs::create_directory(dir.path() / "profile");
  const std::string command =
      std::string(browser) +
      " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
      " --disable-background-networking --disable-component-update --disable-sync"
      " --user-data-dir='" +
      (dir / "profile") + "' --window-size=1000,900 --screenshot='" + (dir / "page.png") +
      "' 'file://" + (dir / "report.html") + "' >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
  const std::string png = ReadFile(dir / "page.png");
  ASSERT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  // A blank page of that size packs into a few kilobytes; drawings take many more.
  EXPECT_GT(png.size(), 20000u);
}

}  // namespace
