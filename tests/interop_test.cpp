// What meterfix writes, read by programs nobody here wrote: MuseScore 3
// imports each result, and every measure must have the length the plug-in
// derived and show the signature written; xmllint checks each result
// against the MusicXML 4.0 schema wherever the input passes it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <numeric>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "tests/cli_test_support.h"

namespace {

using clitest::ExamplePath;
using clitest::OnlyFile;
using clitest::Outcome;
using clitest::RunTool;
using clitest::ScratchDir;
using clitest::WriteFile;
using Json = nlohmann::json;
namespace fs = std::filesystem;

const char* const MuseScore = "/usr/bin/mscore3";
const char* const Xmllint = "/usr/bin/xmllint";
const std::string Schema = std::string(KQ_SOURCE_DIR) + "/../shared/musicxml-schema/musicxml.xsd";

bool Succeeds(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// One part of eighth notes (divisions 2: an eighth is 1); each measure is
// its groups, a group of several eighths beamed together.
struct GenMeasure {
  std::string beats;  // the <time> to state here, empty for none
  std::string beatType;
  std::vector<std::vector<int>> groups;
  bool pickup = false;
};

std::string Generate(const std::vector<GenMeasure>& measures) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"4.0\">"
      "<part-list><score-part id=\"P1\"><part-name>Flute</part-name></score-part></part-list>"
      "<part id=\"P1\">\n";
  const int first = measures.front().pickup ? 0 : 1;
  for (std::size_t i = 0; i < measures.size(); ++i) {
    const GenMeasure& m = measures[i];
    xml += "<measure number=\"" + std::to_string(first + static_cast<int>(i)) + "\"" +
           (m.pickup ? " implicit=\"yes\"" : "") + ">";
    if (i == 0 || !m.beats.empty()) {
      xml += "<attributes>";
      if (i == 0) xml += "<divisions>2</divisions><key><fifths>0</fifths></key>";
      if (!m.beats.empty()) {
        xml +=
            "<time><beats>" + m.beats + "</beats><beat-type>" + m.beatType + "</beat-type></time>";
      }
      if (i == 0) xml += "<clef><sign>G</sign><line>2</line></clef>";
      xml += "</attributes>";
    }
    for (const std::vector<int>& group : m.groups) {
      for (std::size_t k = 0; k < group.size(); ++k) {
        const int d = group[k];
        const std::string type = d == 1 ? "eighth" : d <= 3 ? "quarter" : "half";
        xml += "<note><pitch><step>C</step><octave>5</octave></pitch><duration>" +
               std::to_string(d) + "</duration><voice>1</voice><type>" + type + "</type>" +
               (d == 3 || d == 6 ? "<dot/>" : "");
        if (group.size() > 1 && d == 1) {
          xml += std::string("<beam number=\"1\">") +
                 (k == 0                  ? "begin"
                  : k + 1 == group.size() ? "end"
                                          : "continue") +
                 "</beam>";
        }
        xml += "</note>";
      }
    }
    xml += "</measure>\n";
  }
  return xml + "</part></score-partwise>\n";
}

struct Fraction {
  long long n = 0;
  long long d = 1;
  long long Edus() const { return n * 4096 / d; }
};

// A measure's length from the plug-in's record texts: per group, the beat
// counts times the group's beat in EDUs.
long long RecordLength(const std::string& top, const std::string& bottom) {
  auto split = [](const std::string& text, const std::string& by) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(by, start)) != std::string::npos; start = at + by.size()) {
      parts.push_back(text.substr(start, at - start));
    }
    parts.push_back(text.substr(start));
    return parts;
  };
  auto sum = [&](const std::string& text) {
    long long total = 0;
    for (const std::string& part : split(text, "+")) {
      if (!part.empty()) total += std::stoll(part);
    }
    return total;
  };
  const std::vector<std::string> groups = split(top, "++");
  const std::vector<std::string> bottoms =
      split(bottom, bottom.find("++") != std::string::npos ? "++" : "+");
  long long length = 0;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const long long beat = bottoms.size() == groups.size() ? sum(bottoms[g]) : sum(bottom);
    length += sum(groups[g]) * beat;
  }
  return length;
}

struct WrittenTime {
  std::vector<std::pair<std::string, std::string>> pairs;  // beats, beat-type
  bool hidden = false;
};

// The <time> each measure of the first part states, if any.
std::vector<std::optional<WrittenTime>> WrittenTimes(const std::string& path) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_file(path.c_str()));
  std::vector<std::optional<WrittenTime>> times;
  for (const pugi::xml_node measure :
       doc.child("score-partwise").child("part").children("measure")) {
    std::optional<WrittenTime> time;
    for (const pugi::xpath_node t : measure.select_nodes("attributes/time")) {
      WrittenTime w;
      w.hidden = std::string(t.node().attribute("print-object").value()) == "no";
      const std::vector<pugi::xml_node> beats(t.node().children("beats").begin(),
                                              t.node().children("beats").end());
      const std::vector<pugi::xml_node> types(t.node().children("beat-type").begin(),
                                              t.node().children("beat-type").end());
      for (std::size_t k = 0; k < beats.size() && k < types.size(); ++k) {
        w.pairs.push_back({beats[k].text().get(), types[k].text().get()});
      }
      time = w;
    }
    times.push_back(time);
  }
  return times;
}

struct ShownMeasure {
  Fraction length;
  bool hasTimeSig = false;
  int sigN = 0;
  int sigD = 0;
  std::string textN;
  bool visible = true;
};

// MuseScore's measures of the first staff, each with the length it gives it.
std::vector<ShownMeasure> MuseScoreMeasures(const std::string& path) {
  pugi::xml_document doc;
  EXPECT_TRUE(doc.load_file(path.c_str())) << path;
  std::vector<ShownMeasure> measures;
  Fraction current{4, 4};
  for (const pugi::xml_node measure :
       doc.child("museScore").child("Score").child("Staff").children("Measure")) {
    ShownMeasure shown;
    if (const pugi::xpath_node sig = measure.select_node(".//TimeSig")) {
      shown.hasTimeSig = true;
      shown.sigN = sig.node().child("sigN").text().as_int();
      shown.sigD = sig.node().child("sigD").text().as_int();
      shown.textN = sig.node().child("textN").text().get();
      shown.visible =
          sig.node().child("visible").empty() || sig.node().child("visible").text().as_int() != 0;
      current = {shown.sigN, shown.sigD};
    }
    shown.length = current;
    const std::string len = measure.attribute("len").value();
    if (!len.empty())
      shown.length = {std::stoll(len.substr(0, len.find('/'))),
                      std::stoll(len.substr(len.find('/') + 1))};
    measures.push_back(shown);
  }
  return measures;
}

struct Case {
  std::string name;
  std::string input;  // a path
  std::vector<std::string> sets;
};

class Interop : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<GenMeasure> plain = {{"4", "4", {{1, 1, 1}, {1, 1, 1}, {1, 1}}},
                                           {"", "", {{1, 1, 1}, {1, 1, 1}, {1, 1}}},
                                           {"", "", {{2}, {2}, {2}, {2}}}};
    const std::vector<GenMeasure> dotted = {{"3", "4", {{1, 1, 1}, {1, 1, 1}}},
                                            {"", "", {{2}, {2}, {2}}}};
    // Two quarters, then three eighths beamed: 2/4+3/8.
    const std::vector<GenMeasure> perGroup = {{"4", "4", {{2}, {2}, {2}, {2}}},
                                              {"", "", {{2}, {2}, {1, 1, 1}}},
                                              {"", "", {{2}, {2}, {2}, {2}}}};
    const std::vector<GenMeasure> pickup = {{"6", "8", {{1}}, true},
                                            {"", "", {{1, 1, 1}, {1, 1, 1}}},
                                            {"", "", {{1, 1}, {1, 1}, {1, 1}}}};
    WriteFile(dir_ / "plain.musicxml", Generate(plain));
    WriteFile(dir_ / "dotted.musicxml", Generate(dotted));
    WriteFile(dir_ / "pergroup.musicxml", Generate(perGroup));
    WriteFile(dir_ / "pickup.musicxml", Generate(pickup));
    // A restated signature copies measure 1's <time>, but not its id.
    const std::vector<GenMeasure> ids = {{"4", "4", {{2}, {2}, {2}, {2}}},
                                         {"", "", {{1, 1, 1}, {1, 1, 1}, {1, 1}}},
                                         {"", "", {{2}, {2}, {2}, {2}}}};
    std::string withIds = Generate(ids);
    withIds.replace(withIds.find("<time>"), 6, "<time id=\"ts1\">");
    WriteFile(dir_ / "ids.musicxml", withIds);
    cases_ = {
        {"example", ExamplePath(), {}},
        {"example, composite", ExamplePath(), {"useComposite=1"}},
        {"plain", dir_ / "plain.musicxml", {}},
        {"compact composite", dir_ / "plain.musicxml", {"useComposite=1"}},
        {"per-group composite",
         dir_ / "pergroup.musicxml",
         {"useComposite=1", "compactBeatDuration=0"}},
        {"hidden", dir_ / "plain.musicxml", {"useComposite=1", "hideTimeSig=1"}},
        {"dotted-quarter beats", dir_ / "dotted.musicxml", {}},
        {"pickup", dir_ / "pickup.musicxml", {}},
        {"restated with an id", dir_ / "ids.musicxml", {}},
    };
  }

  // Runs meterfix on the case; the report's file entry and the output's path.
  Json Run(const Case& c, const std::string& output) {
    std::vector<std::string> args = {"--config-dir",  dir_ / "cfg", "--report", "json",
                                     "--report-file", "-",          "-o",       output};
    for (const std::string& s : c.sets) args.insert(args.end(), {"--set", s});
    args.push_back(c.input);
    const Outcome outcome = RunTool(args);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    return OnlyFile(outcome.out);
  }

  ScratchDir dir_;
  std::vector<Case> cases_;
};

TEST_F(Interop, MuseScoreReadsTheLengthsAndSignaturesWritten) {
  if (!fs::exists(MuseScore)) GTEST_SKIP() << "SKIPPED: MuseScore 3 (mscore3) is not installed";
  int changed = 0;
  for (std::size_t i = 0; i < cases_.size(); ++i) {
    const Case& c = cases_[i];
    SCOPED_TRACE(c.name);
    const std::string out = dir_ / ("out" + std::to_string(i) + ".musicxml");
    const std::string mscx = dir_ / ("out" + std::to_string(i) + ".mscx");
    const Json report = Run(c, out);
    ASSERT_TRUE(report.is_object());
    changed += report["changed"].get<bool>() ? 1 : 0;
    ASSERT_TRUE(Succeeds("QT_QPA_PLATFORM=offscreen " + std::string(MuseScore) + " -o " +
                         Quoted(mscx) + " " + Quoted(out)));
    const std::vector<ShownMeasure> shown = MuseScoreMeasures(mscx);
    const std::vector<std::optional<WrittenTime>> written = WrittenTimes(out);
    ASSERT_EQ(shown.size(), report["measures"].size());
    ASSERT_EQ(written.size(), shown.size());
    for (std::size_t m = 0; m < shown.size(); ++m) {
      SCOPED_TRACE("measure " + std::to_string(m + 1));
      const Json& after = report["measures"][m]["after"];
      ASSERT_TRUE(after.is_object());
      EXPECT_EQ(shown[m].length.Edus(), RecordLength(after["top"], after["bottom"]));
      ASSERT_EQ(shown[m].hasTimeSig, written[m].has_value());
      if (!written[m]) continue;
      EXPECT_EQ(shown[m].visible, !written[m]->hidden);
      const auto& pairs = written[m]->pairs;
      ASSERT_FALSE(pairs.empty());
      if (pairs.size() > 1) {
        // MuseScore 3 keeps one beats/beat-type pair of a time signature
        // (the last); the measure's length above is what it gets right.
        std::cout << "note: " << c.name << ", measure " << m + 1 << ": MuseScore 3 shows "
                  << shown[m].sigN << "/" << shown[m].sigD << " for a signature of " << pairs.size()
                  << " pairs\n";
        EXPECT_EQ(std::to_string(shown[m].sigN), pairs.back().first);
        continue;
      }
      int beats = 0;
      std::size_t start = 0;
      for (std::size_t at; (at = pairs[0].first.find('+', start)) != std::string::npos;
           start = at + 1) {
        beats += std::stoi(pairs[0].first.substr(start, at - start));
      }
      beats += std::stoi(pairs[0].first.substr(start));
      EXPECT_EQ(shown[m].sigN, beats);
      EXPECT_EQ(std::to_string(shown[m].sigD), pairs[0].second);
      if (pairs[0].first.find('+') != std::string::npos) {
        EXPECT_EQ(shown[m].textN, pairs[0].first);
      }
    }
  }
  EXPECT_EQ(changed, static_cast<int>(cases_.size())) << "every case changes something";
}

TEST_F(Interop, OutputsStayValidWhereTheInputWas) {
  if (!fs::exists(Xmllint) || !fs::exists(Schema)) {
    GTEST_SKIP() << "SKIPPED: xmllint or the MusicXML schema is not there";
  }
  const std::string check =
      std::string(Xmllint) + " --noout --nonet --schema " + Quoted(Schema) + " ";
  int valid = 0;
  for (std::size_t i = 0; i < cases_.size(); ++i) {
    const Case& c = cases_[i];
    SCOPED_TRACE(c.name);
    if (!Succeeds(check + Quoted(c.input))) continue;
    ++valid;
    const std::string out = dir_ / ("valid" + std::to_string(i) + ".musicxml");
    Run(c, out);
    EXPECT_TRUE(Succeeds(check + Quoted(out))) << out;
  }
  EXPECT_EQ(valid, static_cast<int>(cases_.size()))
      << "the generated scores and the example validate";

  // The shared corpus's plain scores (an archive's root file is not on disk to check).
  const fs::path corpus = fs::path(KQ_SOURCE_DIR) / "../shared/corpus";
  if (!fs::is_directory(corpus)) return;
  int checked = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(corpus)) {
    const std::string extension = entry.path().extension().string();
    if (!entry.is_regular_file() || (extension != ".xml" && extension != ".musicxml")) continue;
    const std::string input = entry.path().string();
    if (!Succeeds(check + Quoted(input))) continue;
    ++checked;
    const std::string out = dir_ / "corpus.musicxml";
    const Outcome outcome =
        RunTool({"--config-dir", dir_ / "cfg", "--report", "none", "-o", out, input});
    ASSERT_EQ(outcome.exitCode, 0) << input << ": " << outcome.err;
    EXPECT_TRUE(Succeeds(check + Quoted(out))) << input;
    fs::remove(out);
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
