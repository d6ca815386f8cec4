// meterfix: option fields, ranges, report formats and the settings
// directory as library functions; then the built binary on the example
// score, on bad inputs, and managing stored options and presets.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/config_store.h"
#include "cli/json_report.h"
#include "cli/option_fields.h"
#include "cli/run.h"
#include "cli/signature.h"
#include "cli/text_report.h"
#include "cli_test_support.h"
#include "platform/le_bytes.h"

namespace {

using clitest::ExamplePath;
using clitest::Lines;
using clitest::ListDir;
using clitest::OnlyFile;
using clitest::Outcome;
using clitest::ReadFile;
using clitest::RunTool;
using clitest::ScratchDir;
using clitest::StoredZip;
using clitest::WriteFile;
using Json = nlohmann::json;
using namespace meterfix;

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// --- option fields ---

// The assignment "FIELD=VALUE" as --set reads it.
OptionAssignment Assign(const std::string& text) {
  OptionAssignment assignment;
  std::string error;
  if (!ParseAssignment(text, assignment, error)) throw std::invalid_argument(error);
  return assignment;
}

// The field of that name, as --set finds it.
const OptionField& Field(const std::string& name) { return *Assign(name + "=0").field; }

TEST(OptionFields, AssignmentsAreCheckedAgainstEachFieldsRange) {
  struct Row {
    const char* text;
    bool ok;
    std::int16_t value;
  };
  const Row rows[] = {
      {"useComposite=1", true, 1},
      {"useComposite=0", true, 0},
      {"useComposite=2", false, 0},
      {"minMeasureDuration=0", true, 0},
      {"minMeasureDuration=8192", true, 8192},
      {"minMeasureDuration=8193", false, 0},
      {"minMeasureDuration=99999999999999999999", false, 0},
      {"minMeasureDuration=-1", false, 0},
      {"minMeasureDuration=+5", false, 0},
      {"minMeasureDuration= 5", false, 0},
      {"minMeasureDuration=0x10", false, 0},
      {"minMeasureDuration=", false, 0},
      {"allowBeat[0]=1", true, 1},
      {"allowBeat[5]=0", true, 0},
      {"allowBeat[6]=1", false, 0},
      {"allowbeat[0]=1", false, 0},
      {"usecomposite=1", false, 0},
      {"reserved=1", false, 0},
      {"presetName=1", false, 0},
      {"useComposite", false, 0},
      {"=1", false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    OptionAssignment assignment;
    std::string error;
    EXPECT_EQ(ParseAssignment(row.text, assignment, error), row.ok);
    if (row.ok) {
      EXPECT_EQ(assignment.value, row.value);
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
}

TEST(OptionFields, EveryFieldSitsAtItsRecordOffset) {
  Settings settings{};
  ApplyDefaultSettings(settings);
  const OptionBlock block = OptionBlockOf(settings);
  ASSERT_EQ(block.size(), SettingsLayout::OptionBlockSize);
  EXPECT_EQ(GetField(block, Field("minMeasureDuration")), 1024);
  EXPECT_EQ(GetField(block, Field("allowBeat[0]")), 0);
  EXPECT_EQ(GetField(block, Field("allowBeat[1]")), 1);
  EXPECT_EQ(GetField(block, Field("onlyChangeAtConflicts")), 1);

  OptionBlock changed = block;
  ApplyAssignments(changed, {Assign("useComposite=1")});
  StoreOptionBlock(changed, settings);
  EXPECT_EQ(settings.useComposite, 1);
  ApplyAssignments(changed, {Assign("allowBeat[4]=0")});
  StoreOptionBlock(changed, settings);
  EXPECT_EQ(settings.allowBeat[4], 0);
  EXPECT_EQ(OptionFields().size(), 19u);
}

TEST(OptionFields, AtLeastOneBeatMustStayAllowed) {
  Settings settings{};
  ApplyDefaultSettings(settings);
  OptionBlock block = OptionBlockOf(settings);
  std::string error;
  EXPECT_TRUE(ValidateOptionBlock(block, error));
  for (int i = 0; i < 6; ++i) {
    ApplyAssignments(block, {Assign("allowBeat[" + std::to_string(i) + "]=0")});
  }
  EXPECT_FALSE(ValidateOptionBlock(block, error));
  EXPECT_NE(error.find("allowBeat"), std::string::npos);
  ApplyAssignments(block, {Assign("allowBeat[0]=1")});
  EXPECT_TRUE(ValidateOptionBlock(block, error));
  WriteI16(block.data() + SettingsLayout::HideTimeSig, 2);
  EXPECT_FALSE(ValidateOptionBlock(block, error));
}

TEST(OptionFields, HelpListsEveryFieldWithItsHelpText) {
  const std::string help = OptionFieldsHelp();
  for (const OptionField& field : OptionFields()) {
    SCOPED_TRACE(field.name);
    EXPECT_NE(help.find(field.name), std::string::npos);
    EXPECT_NE(help.find(field.help), std::string::npos);
  }
  EXPECT_NE(help.find("Dotted quarters - which gives the beaming of 3/8, 6/8, 9/8 etc."),
            std::string::npos);
}

TEST(OptionFields, DidYouMeanOnlyWhenNear) {
  EXPECT_EQ(DidYouMean("optons", {"options", "presets"}), "options");
  EXPECT_EQ(DidYouMean("--measure", {"--measures", "--numbers"}), "--measures");
  EXPECT_EQ(DidYouMean("score.xml", {"options", "presets"}), "");
}

// --- ranges ---

TEST(Ranges, ParseAndRefuse) {
  struct Row {
    const char* text;
    bool ok;
    int first;
    int last;
  };
  const Row rows[] = {
      {"3-5", true, 3, 5},  {"4", true, 4, 4},      {"1-32767", true, 1, 32767},
      {"5-3", false, 0, 0}, {"0-2", false, 0, 0},   {"1-32768", false, 0, 0},
      {"a-b", false, 0, 0}, {"-3", false, 0, 0},    {"3-", true, 3, 32767},
      {"", false, 0, 0},    {"1-2-3", false, 0, 0}, {"99999999999", false, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    Range range;
    std::string error;
    EXPECT_EQ(ParseRange(row.text, range, error), row.ok);
    if (row.ok) {
      EXPECT_EQ(range.first, row.first);
      EXPECT_EQ(range.last, row.last);
    }
  }
}

// --- reports ---

// The musical form, the beat names and the picture's beats all come from the
// one reading of the host's texts.
TEST(Report, ReadingsOfTheHostsTexts) {
  struct Row {
    const char* top;
    const char* bottom;
    const char* form;
    const char* units;
    std::vector<int> beats;
  };
  const Row rows[] = {
      {"4", "1024", "4/4", "4 quarters", {0, 1024, 2048, 3072}},
      {"2", "1536", "6/8", "2 dotted quarters", {0, 1536}},
      {"3+3+2", "512", "3+3+2/8", "3+3+2 eighths", {0, 1536, 3072}},
      // A group of one count beats that many times, a group of several once a count.
      {"2++3", "1024++512", "2/4+3/8", "2 quarters, 3 eighths", {0, 1024, 2048, 2560, 3072}},
      {"1+1++3", "1024++512", "2/4+3/8", "1+1 quarters, 3 eighths", {0, 1024, 2048, 2560, 3072}},
      // Slots of one group's bottom add up to its beat.
      {"3", "1024+512", "9/8", "3 dotted quarters", {0, 1536, 3072}},
      // The bottom's last group serves the top's further ones.
      {"1++2++3",
       "512++1024",
       "1/8+2/4+3/4",
       "1 eighth, 2 quarters, 3 quarters",
       {0, 512, 1536, 2560, 3584, 4608}},
      {"1++1", "512", "1/8+1/8", "1 eighth, 1 eighth", {0, 512}},
      {"1", "3072", "3/4", "1 dotted half", {0}},
      {"2", "2048", "2/2", "2 halves", {0, 2048}},
      {"5", "128", "5/32", "5 32nds", {0, 128, 256, 384, 512}},
      {"3", "1000", "", "", {0, 1000, 2000}},
      {"3", "0", "", "", {}},
      {"x", "512", "", "", {}},
      {"3++", "512", "", "", {}},
      {"21846", "1536", "", "21846 dotted quarters", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.top) + "/" + row.bottom);
    const SignatureText signature(row.top, row.bottom);
    EXPECT_EQ(ConventionalForm(signature.meter), row.form);
    EXPECT_EQ(BeatUnits(signature.meter), row.units);
    EXPECT_EQ(MusicalBeatStarts(signature.meter), row.beats);
    const std::string hostUnits = std::string(row.top) + "/" + row.bottom + " (host units)";
    EXPECT_EQ(MusicalForm(signature), *row.form != '\0' ? row.form : hostUnits);
  }
}

FileReport SampleReport(const std::string& file) {
  FileReport report;
  report.file = file;
  report.changed = true;
  MeasureChange m;
  m.measure = 5;
  m.changed = true;
  m.before = {true, {"4", "1024"}, false, std::nullopt};
  m.after = {true, {"3+3+2", "512"}, false, SignatureText{"4", "1024"}};
  report.measures.push_back(m);
  StaffChange s;
  s.staff = 2;
  s.measure = 5;
  s.before = m.before;
  s.after = {true, {"8", "512"}, true, std::nullopt};
  report.staves.push_back(s);
  KeptChange k;
  k.measure = 1;
  k.number = "0";
  k.plugin = {true, {"1", "1024"}, false, std::nullopt};
  k.written = {true, {"1", "1024"}, false, SignatureText{"4", "1024"}};
  k.reason = "no MusicXML form for a pickup's own signature";
  report.kept.push_back(k);
  report.messages.push_back({"Error", "Couldn't find any valid time signature for measure: 7"});
  report.warnings.push_back("voice 9 left out");
  return report;
}

TEST(Report, JsonFollowsTheContract) {
  FileReport failed;
  failed.file = "b.musicxml";
  failed.error = "b.musicxml: cannot open: No such file or directory";
  FileReport report = SampleReport("a.musicxml");
  report.measures.front().number = "4";
  report.output = "out/a.musicxml";
  const Json json = Json::parse(FormatJson({report, failed}));
  // The JSON report's schema 2 (cli/README.md), key for key.
  const Json expected = Json::parse(R"({"schema": 2, "files": [
    {"file": "a.musicxml", "output": "out/a.musicxml", "status": "ok", "error": null,
     "changed": true,
     "measures": [{"measure": 5, "number": "4", "changed": true,
       "before": {"top": "4", "bottom": "1024", "hidden": false, "display": null, "text": "4/4"},
       "after": {"top": "3+3+2", "bottom": "512", "hidden": false,
                 "display": {"top": "4", "bottom": "1024"}, "text": "3+3+2/8"}}],
     "staves": [{"staff": 2, "measure": 5,
       "before": {"top": "4", "bottom": "1024", "hidden": false, "display": null, "text": "4/4"},
       "after": {"top": "8", "bottom": "512", "hidden": true, "display": null, "text": "8/8"}}],
     "kept": [{"measure": 1, "number": "0", "staff": null,
       "reason": "no MusicXML form for a pickup's own signature",
       "plugin": {"top": "1", "bottom": "1024", "hidden": false, "display": null, "text": "1/4"},
       "written": {"top": "1", "bottom": "1024", "hidden": false,
                   "display": {"top": "4", "bottom": "1024"}, "text": "1/4"}}],
     "messages": [{"caption": "Error",
                   "text": "Couldn't find any valid time signature for measure: 7"}],
     "warnings": ["voice 9 left out"]},
    {"file": "b.musicxml", "output": null, "status": "error",
     "error": "b.musicxml: cannot open: No such file or directory", "changed": false,
     "measures": [], "staves": [], "kept": [], "messages": [], "warnings": []}],
    "summary": {"files": 2, "failed": 1, "measures": 1, "changed": 1, "kept": 1}})");
  EXPECT_EQ(json, expected) << json.dump(1);
  // Keys in the documented order.
  const std::string text = FormatJson({report});
  EXPECT_LT(text.find("\"schema\""), text.find("\"files\""));
  EXPECT_LT(text.find("\"file\""), text.find("\"output\""));
  EXPECT_LT(text.find("\"status\""), text.find("\"changed\""));
  EXPECT_LT(text.find("\"changed\""), text.find("\"measures\""));
  EXPECT_LT(text.find("\"staves\""), text.find("\"kept\""));
  EXPECT_LT(text.find("\"kept\""), text.find("\"messages\""));
  EXPECT_LT(text.find("\"messages\""), text.find("\"warnings\""));
  EXPECT_LT(text.find("\"warnings\""), text.find("\"summary\""));
}

TEST(Report, JsonSurvivesTextThatIsNotUtf8) {
  FileReport report = SampleReport("bad\xff.xml");
  report.warnings.push_back("\xc3");
  EXPECT_NO_THROW(Json::parse(FormatJson({report})));
}

TEST(Report, TextSaysWhatChangedInMusicalTerms) {
  FileReport report = SampleReport("a.musicxml");
  report.measures.front().number = "4";
  MeasureChange same;
  same.measure = 12;
  same.number = "12";
  same.before = {true, {"2", "1536"}, true, std::nullopt};
  same.after = same.before;
  report.measures.push_back(same);
  MeasureChange beat;
  beat.measure = 13;
  beat.number = "13";
  beat.changed = true;
  beat.before = {true, {"6", "512"}, false, std::nullopt};
  beat.after = {true, {"2", "1536"}, false, std::nullopt};
  report.measures.push_back(beat);
  report.output = "out.musicxml";
  const std::string text = FormatText({report});
  EXPECT_EQ(Lines(text).front(),
            "a.musicxml: 2 of 3 measures changed, 1 staff signature changed, 1 message, "
            "1 kept as written; written to out.musicxml");
  EXPECT_NE(text.find("  kept as written: measure 0 [1]: no MusicXML form for a pickup's own "
                      "signature: 1/4 (the file has 1/4 shows 4/4)\n"),
            std::string::npos)
      << text;
  // The score's number, the position where it differs; no host units.
  EXPECT_NE(text.find("  measure 4 [5]: 4/4 -> 3+3+2/8 shows 4/4\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  measure 13: 6/8 (6 eighths) -> 6/8 (2 dotted quarters)\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("measure 12"), std::string::npos) << "unchanged measures are left out";
  EXPECT_EQ(text.find("1024"), std::string::npos) << text;
  EXPECT_NE(text.find("message: Error: Couldn't find"), std::string::npos);
  EXPECT_NE(text.find("warning: voice 9 left out"), std::string::npos);
  EXPECT_NE(FormatText({report}, true).find("  measure 12: 6/8 hidden (unchanged)\n"),
            std::string::npos);
}

// --- settings directory ---

TEST(ConfigStore, DirectoryFromOptionThenEnvironment) {
  EXPECT_EQ(ResolveConfigDir("/x/y"), "/x/y");
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(ResolveConfigDir(""), "/cfg/meterfix");
  setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored, as XDG says
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(ResolveConfigDir(""), "/home/u/.config/meterfix");
}

TEST(ConfigStore, MissingFilesAreNoErrorAndWritesAreWhole) {
  ScratchDir dir;
  StoredImages images;
  std::string error;
  ASSERT_TRUE(ReadStoredImages(dir / "none", images, error));
  EXPECT_FALSE(images.userDialog);
  EXPECT_FALSE(images.presets);

  images.userDialog = std::vector<std::uint8_t>(85, 7);
  images.presets = std::vector<std::uint8_t>(1622, 9);
  ASSERT_TRUE(WriteStoredImages(dir / "sub/meterfix", images, false, error)) << error;
  EXPECT_EQ(ListDir(dir.path() / "sub/meterfix"),
            (std::vector<std::string>{"Presets", "UserDialog"}));
  StoredImages back;
  ASSERT_TRUE(ReadStoredImages(dir / "sub/meterfix", back, error));
  EXPECT_EQ(back.userDialog, images.userDialog);
  EXPECT_EQ(back.presets, images.presets);
}

TEST(ConfigStore, FailedWriteLeavesNothingBehind) {
  ScratchDir dir;
  WriteFile(dir / "file", "x");
  std::string error;
  EXPECT_FALSE(ReplaceFile(dir / "file/UserDialog", "\1\2\3", error));
  EXPECT_NE(error.find("file/UserDialog"), std::string::npos);
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"file"});
  StoredImages images;
  images.userDialog = std::vector<std::uint8_t>(85, 0);
  EXPECT_FALSE(WriteStoredImages(dir / "file/meterfix", images, false, error));
}

std::string ExampleMxl();

// --- the binary: the example with several option sets ---

Json RunJson(const std::vector<std::string>& extra, const ScratchDir& config) {
  std::vector<std::string> args = {"--config-dir", config.path().string(), "--report", "json"};
  args.insert(args.end(), extra.begin(), extra.end());
  const Outcome outcome = RunTool(args);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  return OnlyFile(outcome.out);
}

std::set<int> ChangedMeasures(const Json& report) {
  std::set<int> changed;
  for (const Json& m : report["measures"]) {
    if (m["changed"].get<bool>()) changed.insert(m["measure"].get<int>());
  }
  return changed;
}

std::string After(const Json& report, int measure) {
  for (const Json& m : report["measures"]) {
    if (m["measure"] == measure) {
      return m["after"]["top"].get<std::string>() + "/" + m["after"]["bottom"].get<std::string>();
    }
  }
  return "(absent)";
}

// The pickup keeps its own length and shows its 4/4 (no conflict),
// measures 3-4 are beamed 3+3+2 under 4/4, 5-6 in dotted quarters under
// 3/4; measure 7 beams six eighths as one group, which fits its 3/4.
TEST(Example, MeasuresByPositionOpenEndedOrByTheScoresNumbers) {
  ScratchDir config;
  // The example starts with a pickup numbered 0: number 2 is position 3.
  Json report = RunJson({"--numbers", "2-3", ExamplePath()}, config);
  ASSERT_EQ(report["measures"].size(), 2u) << report.dump(1);
  EXPECT_EQ(report["measures"][0]["measure"], 3);
  EXPECT_EQ(report["measures"][0]["number"], "2");
  report = RunJson({"--measures", "5-", ExamplePath()}, config);
  ASSERT_EQ(report["measures"].size(), 4u);
  EXPECT_EQ(report["measures"][3]["measure"], 8);
  report = RunJson({"--measures", "5", ExamplePath()}, config);
  EXPECT_EQ(report["measures"].size(), 1u);
  Outcome outcome =
      RunTool({"--config-dir", config.path().string(), "--numbers", "99", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_NE(outcome.err.find("no measure is numbered '99'"), std::string::npos) << outcome.err;
  outcome = RunTool({"--version"});
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.out.rfind("meterfix ", 0), 0u) << outcome.out;
  outcome = RunTool({"presests", "list"});
  EXPECT_EQ(outcome.exitCode, 2);
  EXPECT_NE(outcome.err.find("did you mean 'presets'?"), std::string::npos) << outcome.err;
}

TEST(Example, DefaultsChangeTheConflictingMeasures) {
  ScratchDir config;
  const std::string before = ReadFile(ExamplePath());
  const Json report = RunJson({ExamplePath()}, config);
  ASSERT_TRUE(report.is_object());
  EXPECT_EQ(report["file"], ExamplePath());
  EXPECT_TRUE(report["changed"].get<bool>());
  EXPECT_EQ(report["measures"].size(), 8u);
  EXPECT_EQ(ChangedMeasures(report), (std::set<int>{3, 4, 5, 6}));
  EXPECT_EQ(After(report, 1), "1/1024");
  EXPECT_EQ(After(report, 3), "8/512");
  EXPECT_EQ(After(report, 5), "2/1536");
  EXPECT_EQ(After(report, 6), "2/1536");
  EXPECT_EQ(report["measures"][2]["before"]["top"], "4");
  EXPECT_EQ(report["measures"][2]["before"]["bottom"], "1024");
  EXPECT_TRUE(report["messages"].empty());
  // Nothing asked to be written: the input and its folder stay as they were.
  EXPECT_EQ(ReadFile(ExamplePath()), before);
  EXPECT_TRUE(ListDir(config.path()).empty());
}

TEST(Example, CompositeGivesThreeThreeTwo) {
  ScratchDir config;
  const Json report = RunJson({"--set", "useComposite=1", ExamplePath()}, config);
  EXPECT_EQ(ChangedMeasures(report), (std::set<int>{3, 4, 5, 6}));
  EXPECT_EQ(After(report, 3), "3+3+2/512");
  EXPECT_EQ(After(report, 4), "3+3+2/512");
  EXPECT_EQ(After(report, 5), "2/1536");
}

// The pickup's own signature (1/4 without its 4/4 shown) has no MusicXML
// form: it is no change of the file, but listed as kept.
TEST(Example, WithoutConflictCheckTheOneBeamBarBecomesSixEight) {
  ScratchDir config;
  const Json report = RunJson({"--set", "onlyChangeAtConflicts=0", ExamplePath()}, config);
  EXPECT_EQ(ChangedMeasures(report), (std::set<int>{3, 4, 5, 6, 7}));
  ASSERT_EQ(report["kept"].size(), 1u) << report.dump(1);
  EXPECT_EQ(report["kept"][0]["measure"], 1);
  EXPECT_EQ(report["kept"][0]["written"]["display"]["top"], "4");
  EXPECT_EQ(After(report, 7), "2/1536");
  EXPECT_EQ(After(report, 2), "4/1024");
}

TEST(Example, MessageBoxesAreReported) {
  ScratchDir config;
  // Only half-note beats: the 3/4 bars (3072 EDUs) have none; the pickup
  // agrees with its own one-quarter signature and is not derived.
  const Json report = RunJson(
      {"--set", "allowBeat[0]=1", "--set", "allowBeat[1]=0", "--set", "allowBeat[2]=0", "--set",
       "allowBeat[3]=0", "--set", "allowBeat[4]=0", "--set", "allowBeat[5]=0", ExamplePath()},
      config);
  std::vector<std::string> texts;
  for (const Json& message : report["messages"]) {
    EXPECT_EQ(message["caption"], "Error");
    texts.push_back(message["text"].get<std::string>());
  }
  EXPECT_EQ(texts,
            (std::vector<std::string>{"Couldn't find any valid time signature for measure: 5",
                                      "Couldn't find any valid time signature for measure: 6"}));
  EXPECT_EQ(ChangedMeasures(report), (std::set<int>{3, 4}));
  EXPECT_EQ(After(report, 3), "2/2048");
}

TEST(Example, PresetAndSelection) {
  ScratchDir config;
  // "Composite": composite, preferred, without the conflict check.
  Json report = RunJson({"--preset", "Composite", "--measures", "3-5", ExamplePath()}, config);
  ASSERT_EQ(report["measures"].size(), 3u);
  EXPECT_EQ(report["measures"][0]["measure"], 3);
  EXPECT_EQ(After(report, 3), "3+3+2/512");
  // Only the left hand selected (onlySelectedStaves is on by default).
  report = RunJson({"--staves", "2", "--measures", "3", ExamplePath()}, config);
  EXPECT_EQ(ChangedMeasures(report), (std::set<int>{3}));
  // Beyond the score.
  const Outcome outcome =
      RunTool({"--config-dir", config.path().string(), "--measures", "40-50", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_NE(outcome.err.find("mixed-meters.musicxml"), std::string::npos);
}

TEST(Example, OutputIsWrittenAndTheToolIsIdempotentOnIt) {
  ScratchDir dir;
  const std::string out = dir / "out.musicxml";
  Json report = RunJson({"-o", out, ExamplePath()}, dir);
  ASSERT_TRUE(std::filesystem::exists(out));
  const std::string written = ReadFile(out);
  EXPECT_NE(written, ReadFile(ExamplePath()));
  report = RunJson({out}, dir);
  EXPECT_FALSE(report["changed"].get<bool>());
  EXPECT_TRUE(ChangedMeasures(report).empty());
  // The new signatures read back as the plug-in wrote them.
  EXPECT_EQ(report["measures"][2]["before"]["top"], "8");
  EXPECT_EQ(report["measures"][4]["before"]["bottom"], "1536");

  // Composite output, read back by the same tool.
  const std::string composite = dir / "composite.musicxml";
  RunJson({"--set", "useComposite=1", "-o", composite, ExamplePath()}, dir);
  report = RunJson({"--set", "useComposite=1", composite}, dir);
  EXPECT_FALSE(report["changed"].get<bool>());
  EXPECT_EQ(report["measures"][2]["before"]["top"], "3+3+2");
}

TEST(Example, InPlaceRewritesOnlyWhenSomethingChanges) {
  ScratchDir dir;
  const std::string copy = dir / "copy.musicxml";
  WriteFile(copy, ReadFile(ExamplePath()));
  Outcome outcome = RunTool({"--config-dir", dir / "cfg", "--in-place", copy});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const std::string first = ReadFile(copy);
  EXPECT_NE(first, ReadFile(ExamplePath()));
  EXPECT_NE(outcome.out.find("written to"), std::string::npos);
  outcome = RunTool({"--config-dir", dir / "cfg", "--in-place", copy});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(ReadFile(copy), first);
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"copy.musicxml"});
}

// A display signature has no MusicXML form: the report counts what the file
// gets (the governing signature) and lists the display apart; run again,
// the file reports no change and stays as it is.
TEST(Example, DisplaySignaturesAreKeptApart) {
  ScratchDir dir;
  const std::string path = dir / "score.musicxml";
  WriteFile(path, ReadFile(ExamplePath()));
  const std::vector<std::string> args = {
      "--config-dir", dir / "cfg", "--in-place", "--set", "displayCurrentTimeSig=1", path};
  Outcome outcome = RunTool(args);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("4 of 8 measures changed, 0 messages, 4 kept as written; written to"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("  measure 2 [3]: 4/4 -> 8/8\n"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("  kept as written: measure 2 [3]: no MusicXML form for a display "
                             "signature: 8/8 shows 4/4 (the file has 8/8)\n"),
            std::string::npos)
      << outcome.out;
  const std::string fixed = ReadFile(path);
  outcome = RunTool(args);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(ReadFile(path), fixed);
  EXPECT_NE(outcome.out.find("0 of 8 measures changed, 0 messages; nothing to write"),
            std::string::npos)
      << outcome.out;
}

TEST(Example, ArchivesStayArchives) {
  ScratchDir dir;
  const std::string mxl = dir / "score.mxl";
  WriteFile(mxl, ExampleMxl());
  Json report = RunJson({"--in-place", mxl}, dir);
  EXPECT_EQ(ChangedMeasures(report), (std::set<int>{3, 4, 5, 6}));
  const std::string written = ReadFile(mxl);
  EXPECT_EQ(written.substr(0, 2), "PK");
  EXPECT_NE(written, ExampleMxl());
  EXPECT_NE(written.find("mimetype"), std::string::npos);  // other members kept
  report = RunJson({"--in-place", mxl}, dir);
  EXPECT_FALSE(report["changed"].get<bool>());
  EXPECT_EQ(ReadFile(mxl), written);
}

TEST(Example, OutputNameChoosesTheForm) {
  ScratchDir dir;
  const std::string mxl = dir / "score.mxl";
  WriteFile(mxl, ExampleMxl());
  const std::string plain = dir / "fixed.musicxml";
  RunJson({mxl, "-o", plain}, dir);
  const std::string text = ReadFile(plain);
  EXPECT_EQ(text.substr(0, 5), "<?xml");
  const std::string zipped = dir / "fixed.mxl";
  RunJson({ExamplePath(), "-o", zipped}, dir);
  EXPECT_EQ(ReadFile(zipped).substr(0, 2), "PK");
  // Both hold the same result and are stable under another run.
  for (const std::string& path : {plain, zipped}) {
    const Json again = RunJson({path}, dir);
    EXPECT_FALSE(again["changed"].get<bool>()) << path;
    EXPECT_EQ(After(again, 5), "2/1536") << path;
  }
}

// A score with an entity in measure 1's <time>, measure 2 beamed
// 3+3+2, measure 3 in quarters, so that measure 3 restates 4/4.
std::string EntityScore(const std::string& encoding = "UTF-8", const std::string& name = "P") {
  auto note = [](int duration, const char* type, const char* beam) {
    return std::string("<note><pitch><step>C</step><octave>4</octave></pitch><duration>") +
           std::to_string(duration) + "</duration><voice>1</voice><type>" + type + "</type>" +
           (beam[0] != '\0' ? std::string("<beam number=\"1\">") + beam + "</beam>" : "") +
           "</note>";
  };
  std::string quarters;
  for (int i = 0; i < 4; ++i) quarters += note(2, "quarter", "");
  std::string beamed;
  for (const char* beam :
       {"begin", "continue", "end", "begin", "continue", "end", "begin", "end"}) {
    beamed += note(1, "eighth", beam);
  }
  return "<?xml version=\"1.0\" encoding=\"" + encoding +
         "\"?>\n<!DOCTYPE score-partwise [<!ENTITY four \"4\">]>\n<score-partwise "
         "version=\"4.0\">\n"
         "<part-list><score-part id=\"P1\"><part-name>" +
         name +
         "</part-name></score-part></part-list>\n"
         "<part id=\"P1\">\n<measure "
         "number=\"1\"><attributes><divisions>2</divisions><time><beats>&four;"
         "</beats><beat-type>4</beat-type></time></attributes>" +
         quarters +
         "</measure>\n"
         "<measure number=\"2\">" +
         beamed + "</measure>\n<measure number=\"3\">" + quarters +
         "</measure>\n</part>\n</score-partwise>\n";
}

// An edit whose text cannot stand alone never fails a run, report-only
// included; the output reads back and a second run finds nothing to do.
TEST(Example, EntitiesInARestatedSignature) {
  ScratchDir dir;
  const std::string input = dir / "entity.musicxml";
  WriteFile(input, EntityScore());
  Json report = RunJson({input}, dir);
  EXPECT_EQ(ChangedMeasures(report), (std::set<int>{2}));
  report = RunJson({"-o", dir / "out.musicxml", input}, dir);
  EXPECT_EQ(ChangedMeasures(report), (std::set<int>{2}));
  report = RunJson({dir / "out.musicxml"}, dir);
  EXPECT_FALSE(report["changed"].get<bool>());
  EXPECT_EQ(After(report, 3), "4/1024");
}

// windows-1252 is read through its own map and written back in it; an
// encoding that cannot be read is named.
TEST(Example, SingleByteEncodings) {
  ScratchDir dir;
  const std::string input = dir / "cp.musicxml";
  WriteFile(input, EntityScore("windows-1252", "Caf\xE9 \x80"));
  RunJson({"-o", dir / "out.musicxml", input}, dir);
  const std::string out = ReadFile(dir / "out.musicxml");
  EXPECT_NE(out.find("<part-name>Caf\xE9 \x80</part-name>"), std::string::npos);
  EXPECT_FALSE(RunJson({dir / "out.musicxml"}, dir)["changed"].get<bool>());
  WriteFile(input, EntityScore("Shift_JIS", "\x82\xA0"));
  const Outcome outcome = RunTool({"--config-dir", dir / "cfg", input});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_NE(outcome.err.find("encoding Shift_JIS is not supported; convert the file to UTF-8"),
            std::string::npos)
      << outcome.err;
}

TEST(Example, StandardInputAndOutput) {
  ScratchDir dir;
  const Outcome outcome =
      RunTool({"--config-dir", dir.path().string(), "--report", "none", "-o", "-", "-"},
              ReadFile(ExamplePath()));
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_TRUE(outcome.err.empty());
  EXPECT_NE(outcome.out.find("<score-partwise"), std::string::npos);
  EXPECT_NE(outcome.out, ReadFile(ExamplePath()));
  const Outcome again =
      RunTool({"--config-dir", dir.path().string(), "--report", "json", "-"}, outcome.out);
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_FALSE(OnlyFile(again.out)["changed"].get<bool>());
  EXPECT_EQ(OnlyFile(again.out)["file"], "<stdin>");
}

TEST(Example, OutDirAndReportFileForSeveralInputs) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.path() / "a");
  std::filesystem::create_directory(dir.path() / "out");
  WriteFile(dir / "a/one.musicxml", ReadFile(ExamplePath()));
  WriteFile(dir / "two.musicxml", ReadFile(ExamplePath()));
  const Outcome outcome = RunTool({"--config-dir", dir / "cfg", "--report", "json", "--report-file",
                                   dir / "report.json", "--out-dir", dir / "out",
                                   dir / "a/one.musicxml", dir / "two.musicxml"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_TRUE(outcome.err.empty());
  const Json report = Json::parse(ReadFile(dir / "report.json"))["files"];
  ASSERT_TRUE(report.is_array());
  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(ChangedMeasures(report[1]), (std::set<int>{3, 4, 5, 6}));
  EXPECT_EQ(ListDir(dir.path() / "out"),
            (std::vector<std::string>{"one.musicxml", "two.musicxml"}));
  EXPECT_EQ(ReadFile(dir / "out/one.musicxml"), ReadFile(dir / "out/two.musicxml"));
}

TEST(Example, UnwritableOutputLeavesNoPartialFile) {
  ScratchDir dir;
  WriteFile(dir / "blocker", "not a directory");
  Outcome outcome =
      RunTool({"--config-dir", dir / "cfg", "-o", dir / "blocker/out.musicxml", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_NE(outcome.err.find("blocker/out.musicxml"), std::string::npos);
  EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << "one line: " << outcome.err;
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"blocker"});

  // A directory that cannot be written (not testable as root, who may write anywhere).
  if (geteuid() != 0) {
    std::filesystem::create_directory(dir.path() / "locked");
    std::filesystem::permissions(dir.path() / "locked", std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::owner_exec);
    outcome =
        RunTool({"--config-dir", dir / "cfg", "-o", dir / "locked/out.musicxml", ExamplePath()});
    EXPECT_EQ(outcome.exitCode, ExitFailure);
    EXPECT_TRUE(ListDir(dir.path() / "locked").empty());
  }
}

// Two parts: the second keeps 2/2 of its own against the first part's 4/4;
// both are beamed 3+3+2.
std::string IndependentScore() {
  auto part = [](const std::string& id, const std::string& beats, const std::string& type) {
    std::string xml = "<part id=\"" + id +
                      "\"><measure number=\"1\"><attributes><divisions>2"
                      "</divisions><time><beats>" +
                      beats + "</beats><beat-type>" + type + "</beat-type></time></attributes>";
    const char* beams[] = {"begin", "continue", "end", "begin", "continue", "end", "begin", "end"};
    for (const char* beam : beams) {
      xml += std::string(
                 "<note><pitch><step>C</step><octave>4</octave></pitch><duration>1"
                 "</duration><voice>1</voice><type>eighth</type><beam number=\"1\">") +
             beam + "</beam></note>";
    }
    return xml + "</measure></part>";
  };
  return "<?xml version=\"1.0\"?><score-partwise><part-list><score-part id=\"P1\"/>"
         "<score-part id=\"P2\"/></part-list>" +
         part("P1", "4", "4") + part("P2", "2", "2") + "</score-partwise>";
}

TEST(Example, IndependentStaffSignaturesAreReported) {
  ScratchDir dir;
  WriteFile(dir / "two.musicxml", IndependentScore());
  Json report = RunJson(
      {"--set", "changeIndependentStaves=1", "-o", dir / "out.musicxml", dir / "two.musicxml"},
      dir);
  EXPECT_EQ(ChangedMeasures(report), (std::set<int>{1}));
  ASSERT_EQ(report["staves"].size(), 1u) << report.dump(1);
  EXPECT_EQ(report["staves"][0]["staff"], 2);
  EXPECT_EQ(report["staves"][0]["measure"], 1);
  EXPECT_EQ(report["staves"][0]["before"]["top"], "2");
  EXPECT_EQ(report["staves"][0]["before"]["bottom"], "2048");
  EXPECT_EQ(report["staves"][0]["after"]["top"], "8");
  EXPECT_EQ(report["staves"][0]["after"]["bottom"], "512");
  report = RunJson({"--set", "changeIndependentStaves=1", dir / "out.musicxml"}, dir);
  EXPECT_FALSE(report["changed"].get<bool>()) << report.dump(1);

  // Without the option the independent staff keeps its signature.
  report = RunJson({dir / "two.musicxml"}, dir);
  EXPECT_EQ(ChangedMeasures(report), (std::set<int>{1}));
  EXPECT_TRUE(report["staves"].empty());
}

// --- usage errors ---

TEST(Usage, ErrorsExitWithOneLine) {
  ScratchDir dir;
  WriteFile(dir / "x.musicxml", ReadFile(ExamplePath()));
  const std::string cfg = dir / "cfg";
  const std::vector<std::vector<std::string>> rows = {
      {},
      {"--set", "noSuchField=1", ExamplePath()},
      {"--set", "useComposite=2", ExamplePath()},
      {"--set", "minMeasureDuration=9000", ExamplePath()},
      {"--set", "allowBeat[0]=0", "--set", "allowBeat[1]=0", "--set", "allowBeat[2]=0", "--set",
       "allowBeat[3]=0", "--set", "allowBeat[4]=0", "--set", "allowBeat[5]=0", ExamplePath()},
      {"--preset", "No Such Preset", ExamplePath()},
      {"--preset", "", ExamplePath()},
      {"presets", "save", "Mine", "--preset", ""},
      {"-o", "", ExamplePath()},
      {"--out-dir", "", ExamplePath()},
      {"--report-file", "", ExamplePath()},
      {"--measures", "", ExamplePath()},
      {"--measures", "5-3", ExamplePath()},
      {"--staves", "x", ExamplePath()},
      {"--report", "xml", ExamplePath()},
      {"-o", dir / "o.musicxml", ExamplePath(), dir / "x.musicxml"},
      {"-o", dir / "o.musicxml", "--in-place", dir / "x.musicxml"},
      {"--in-place", "-"},
      {"--no-such-option", ExamplePath()},
      {"options", "frobnicate"},
      {"options", "set"},
      {"options", "set", "useComposite=7"},
      {"presets", "show"},
      {"presets", "save", std::string(31, 'n')},
  };
  for (const auto& row : rows) {
    std::string joined;
    for (const std::string& arg : row) joined += arg + " ";
    SCOPED_TRACE(joined);
    std::vector<std::string> args = {"--config-dir", cfg};
    args.insert(args.end(), row.begin(), row.end());
    const Outcome outcome = RunTool(args);
    EXPECT_EQ(outcome.exitCode, ExitUsage);
    ASSERT_FALSE(outcome.err.empty());
    EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
    EXPECT_EQ(outcome.err.rfind("meterfix: ", 0), 0u) << outcome.err;
  }
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"x.musicxml"});
}

TEST(Usage, HelpListsEveryField) {
  const Outcome outcome = RunTool({"--help"});
  EXPECT_EQ(outcome.exitCode, 0);
  for (const OptionField& field : OptionFields()) {
    SCOPED_TRACE(field.name);
    EXPECT_NE(outcome.out.find(field.name), std::string::npos);
    EXPECT_NE(outcome.out.find(field.help), std::string::npos);
  }
  EXPECT_NE(outcome.out.find("--report"), std::string::npos);
}

// --- bad inputs ---

std::string ExampleMxl() {
  return StoredZip({{"mimetype", "application/vnd.recordare.musicxml"},
                    {"META-INF/container.xml",
                     "<?xml version=\"1.0\"?><container><rootfiles><rootfile "
                     "full-path=\"score.musicxml\"/></rootfiles></container>"},
                    {"score.musicxml", ReadFile(ExamplePath())}});
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::string ManyStaves(int staves) {
  std::string xml = "<?xml version=\"1.0\"?><score-partwise><part-list>";
  for (int p = 0; p < staves; ++p) xml += "<score-part id=\"P" + std::to_string(p) + "\"/>";
  xml += "</part-list>";
  for (int p = 0; p < staves; ++p) {
    xml += "<part id=\"P" + std::to_string(p) +
           "\"><measure number=\"1\"><attributes><divisions>1"
           "</divisions><time><beats>4</beats><beat-type>4</beat-type></time></attributes>"
           "<note><pitch><step>C</step><octave>4</octave></pitch><duration>4</duration>"
           "<voice>1</voice><type>whole</type></note></measure></part>";
  }
  return xml + "</score-partwise>";
}

std::string ManyGroups(int groups) {
  std::string xml =
      "<?xml version=\"1.0\"?><score-partwise><part-list><score-part id=\"P1\"/></part-list>"
      "<part id=\"P1\"><measure number=\"1\"><attributes><divisions>8</divisions><time><beats>"
      "4</beats><beat-type>4</beat-type></time></attributes>";
  for (int i = 0; i < groups; ++i) {
    xml +=
        "<note><pitch><step>C</step><octave>4</octave></pitch><duration>1</duration>"
        "<voice>1</voice><type>32nd</type></note>";
  }
  return xml + "</measure></part></score-partwise>";
}

TEST(BadInput, ClearErrorOrSoundResultNeverACrash) {
  ScratchDir dir;
  const std::string example = ReadFile(ExamplePath());
  const std::string mxl = ExampleMxl();
  struct Row {
    const char* name;
    std::string bytes;
    bool mayFail;   // a clear error is acceptable
    bool mustFail;  // it has to be refused
  };
  const std::vector<Row> rows = {
      {"not-xml.musicxml", "this is not XML at all", true, true},
      {"broken.musicxml", example.substr(0, example.size() / 2), true, true},
      {"empty.musicxml", "", true, true},
      {"whole.mxl", mxl, false, false},
      {"truncated.mxl", mxl.substr(0, mxl.size() - 200), true, true},
      {"cut-early.mxl", mxl.substr(0, 40), true, true},
      {"no-divisions.musicxml", Replace(example, "<divisions>4</divisions>", ""), true, false},
      {"absurd.musicxml",
       Replace(Replace(example, "<divisions>4</divisions>", "<divisions>1</divisions>"),
               "<duration>16</duration>", "<duration>2000000000</duration>"),
       true, false},
      {"zero-divisions.musicxml",
       Replace(example, "<divisions>4</divisions>", "<divisions>0</divisions>"), true, false},
      {"301-staves.musicxml", ManyStaves(301), true, false},
      {"600-groups.musicxml", ManyGroups(600), true, false},
      {"timewise.musicxml", "<?xml version=\"1.0\"?><score-timewise><part-list/></score-timewise>",
       true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir / row.name;
    WriteFile(path, row.bytes);
    const Outcome outcome =
        RunTool({"--config-dir", dir / "cfg", "--report", "json", "-o", dir / "out.xml", path});
    ASSERT_NE(outcome.exitCode, -1) << "crashed: " << outcome.err;
    if (outcome.exitCode == 0) {
      EXPECT_FALSE(row.mustFail) << outcome.err;
      EXPECT_TRUE(OnlyFile(outcome.out).is_object()) << outcome.err;
    } else {
      EXPECT_TRUE(row.mayFail) << outcome.err;
      EXPECT_EQ(outcome.exitCode, ExitFailure);
      EXPECT_NE(outcome.err.find(row.name), std::string::npos) << outcome.err;
      // One line of error on standard error; the report lists the input as failed.
      const Json report = OnlyFile(outcome.out);
      EXPECT_EQ(report["status"], "error") << outcome.out;
      EXPECT_EQ(outcome.err,
                std::string("meterfix: ").append(report["error"].get<std::string>()) + "\n");
      EXPECT_FALSE(std::filesystem::exists(dir / "out.xml"));
    }
    std::filesystem::remove(dir / "out.xml");
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "cfg"));
}

TEST(BadInput, XmlErrorsNameTheLine) {
  ScratchDir dir;
  WriteFile(dir / "bad.musicxml", "<?xml version=\"1.0\"?>\n<score-partwise>\n<part>\n</oops>\n");
  const Outcome outcome = RunTool({"--config-dir", dir / "cfg", dir / "bad.musicxml"});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_NE(outcome.err.find("bad.musicxml:4"), std::string::npos) << outcome.err;
}

TEST(BadInput, MissingFileAmongSeveralStillRunsTheOthers) {
  ScratchDir dir;
  const Outcome outcome = RunTool({"--config-dir", dir / "cfg", "--report", "json", "--report-file",
                                   dir / "report.json", dir / "missing.musicxml", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_NE(outcome.err.find("missing.musicxml"), std::string::npos);
  EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
  const Json report = Json::parse(ReadFile(dir / "report.json"))["files"];
  ASSERT_TRUE(report.is_array());
  ASSERT_EQ(report.size(), 2u);
  EXPECT_EQ(report[0]["status"], "error");
  EXPECT_NE(report[0]["error"].get<std::string>().find("missing.musicxml"), std::string::npos);
  EXPECT_EQ(report[1]["status"], "ok");
  EXPECT_EQ(report[1]["file"], ExamplePath());
}

// --- stored options and presets ---

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(Stored, OptionsRoundTripAndRunsNeverWriteThem) {
  ScratchDir dir;
  const std::string cfg = dir / "cfg";
  Outcome outcome = RunTool({"--config-dir", cfg, "options", "show"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("minMeasureDuration      = 1024"), std::string::npos) << outcome.out;
  EXPECT_FALSE(std::filesystem::exists(cfg));  // showing writes nothing

  outcome =
      RunTool({"--config-dir", cfg, "options", "set", "useComposite=1", "minMeasureDuration=0"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const std::vector<std::uint8_t> userDialog = Bytes(ReadFile(cfg + "/UserDialog"));
  ASSERT_EQ(userDialog.size(), 85u);
  EXPECT_EQ(ReadI16(userDialog.data() + SettingsLayout::UseComposite), 1);
  EXPECT_EQ(ReadI16(userDialog.data() + SettingsLayout::MinMeasureDuration), 0);
  EXPECT_EQ(ReadI16(userDialog.data() + SettingsLayout::DialogLeft), -32768);
  ASSERT_EQ(ReadFile(cfg + "/Presets").size(), 1622u);

  outcome = RunTool({"--config-dir", cfg, "options", "show"});
  EXPECT_NE(outcome.out.find("useComposite            = 1"), std::string::npos) << outcome.out;

  // The stored options govern a run; a run's --set does not reach them.
  const std::string presetsBefore = ReadFile(cfg + "/Presets");
  outcome =
      RunTool({"--config-dir", cfg, "--report", "json", "--set", "hideTimeSig=1", ExamplePath()});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const Json run = OnlyFile(outcome.out);
  EXPECT_EQ(After(run, 3), "3+3+2/512");
  EXPECT_TRUE(run["measures"][2]["after"]["hidden"].get<bool>());
  EXPECT_EQ(Bytes(ReadFile(cfg + "/UserDialog")), userDialog);
  EXPECT_EQ(ReadFile(cfg + "/Presets"), presetsBefore);

  outcome = RunTool({"--config-dir", cfg, "options", "reset"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const std::vector<std::uint8_t> reset = Bytes(ReadFile(cfg + "/UserDialog"));
  ASSERT_EQ(reset.size(), 85u);
  EXPECT_EQ(ReadI16(reset.data() + SettingsLayout::UseComposite), 0);
  EXPECT_EQ(ReadI16(reset.data() + SettingsLayout::MinMeasureDuration), 1024);
  EXPECT_EQ(ListDir(cfg), (std::vector<std::string>{"Presets", "UserDialog"}));
}

TEST(Stored, DefaultDirectoryComesFromTheEnvironment) {
  ScratchDir dir;
  const Outcome outcome = RunTool({"options", "set", "hideTimeSig=1"}, "",
                                  {"XDG_CONFIG_HOME=" + dir.path().string(), "HOME=/nonexistent"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(ReadFile(dir / "meterfix/UserDialog").size(), 85u);
}

TEST(Stored, PresetsWithThePlugInsLimits) {
  ScratchDir dir;
  const std::string cfg = dir / "cfg";
  Outcome outcome = RunTool({"--config-dir", cfg, "presets", "list"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(Lines(outcome.out),
            (std::vector<std::string>{"Upbeats", "Complex Beating", "Cadenza", "Composite"}));

  outcome = RunTool({"--config-dir", cfg, "presets", "save", "Mine", "--set",
                     "minMeasureDuration=0", "--set", "useComposite=1"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  outcome = RunTool({"--config-dir", cfg, "presets", "show", "Mine"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("minMeasureDuration      = 0"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("useComposite            = 1"), std::string::npos);
  // Saving over an existing name keeps its place.
  outcome = RunTool({"--config-dir", cfg, "presets", "save", "Upbeats", "--set", "hideTimeSig=1"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  outcome = RunTool({"--config-dir", cfg, "presets", "list"});
  EXPECT_EQ(Lines(outcome.out), (std::vector<std::string>{"Upbeats", "Complex Beating", "Cadenza",
                                                          "Composite", "Mine"}));
  // Names are exact and case-sensitive; 30 characters fit. A name that names
  // no preset is a usage error, here as with --preset.
  EXPECT_EQ(RunTool({"--config-dir", cfg, "presets", "show", "mine"}).exitCode, ExitUsage);
  outcome = RunTool({"--config-dir", cfg, "presets", "save", std::string(30, 'x')});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  // The run uses a stored preset.
  outcome = RunTool({"--config-dir", cfg, "--report", "json", "--preset", "Mine", ExamplePath()});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(After(OnlyFile(outcome.out), 3), "3+3+2/512");

  // Up to 20 presets, then the plug-in refuses with its message.
  for (int i = 0; i < 14; ++i) {
    outcome = RunTool({"--config-dir", cfg, "presets", "save", "P" + std::to_string(i)});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  }
  const std::string full = ReadFile(cfg + "/Presets");
  EXPECT_EQ(ReadI16(reinterpret_cast<const std::uint8_t*>(full.data())), 20);
  outcome = RunTool({"--config-dir", cfg, "presets", "save", "One Too Many"});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_NE(outcome.err.find("Can't add more presets"), std::string::npos) << outcome.err;
  EXPECT_EQ(ReadFile(cfg + "/Presets"), full);

  outcome = RunTool({"--config-dir", cfg, "presets", "delete", "Mine"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  outcome = RunTool({"--config-dir", cfg, "presets", "delete", "Mine"});
  EXPECT_EQ(outcome.exitCode, ExitUsage);
  outcome = RunTool({"--config-dir", cfg, "presets", "list"});
  EXPECT_EQ(Lines(outcome.out).size(), 19u);
  EXPECT_EQ(Lines(outcome.out)[4], std::string(30, 'x'));
}

TEST(Stored, DamagedImagesFallBackToDefaults) {
  ScratchDir dir;
  const std::string cfg = dir / "cfg";
  std::filesystem::create_directory(cfg);
  WriteFile(cfg + "/UserDialog", std::string(86, '\x01'));  // too long: ignored
  std::string presets(1622, '\0');
  presets[0] = 25;  // a count beyond the 20 slots
  WriteFile(cfg + "/Presets", presets);
  Outcome outcome = RunTool({"--config-dir", cfg, "presets", "list"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(Lines(outcome.out).size(), 4u);
  EXPECT_NE(outcome.err.find("UserDialog: warning: holds 86 bytes, not 85"), std::string::npos)
      << outcome.err;
  outcome = RunTool({"--config-dir", cfg, "--report", "json", ExamplePath()});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const Json report = OnlyFile(outcome.out);
  EXPECT_EQ(ChangedMeasures(report), (std::set<int>{3, 4, 5, 6}));
  ASSERT_FALSE(report["warnings"].empty());
  EXPECT_NE(report["warnings"][0].get<std::string>().find("UserDialog: holds 86 bytes"),
            std::string::npos);
}

}  // namespace
