// The plug-in's user guide (docs/plugin-guide.md) says what the command does
// to its example scores; these tests run meterfix on those scores with the
// options the guide names and compare every bar with the guide's tables. They
// also hold the guide to the plug-in's own words: every help-line text of the
// resource script and every message the plug-in's code can show.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli_test_support.h"

namespace {

using clitest::Lines;
using clitest::ReadFile;
using clitest::RunTool;
using clitest::ScratchDir;

const std::string SourceDir = KQ_SOURCE_DIR;

std::string Guide() { return ReadFile(SourceDir + "/docs/plugin-guide.md"); }

// The guide as its reader sees the prose: a line break inside a paragraph is
// a blank like any other, so runs of blanks and line breaks become one blank.
std::string GuideProse() {
  std::string prose;
  for (char c : Guide()) {
    const bool blank = c == ' ' || c == '\n' || c == '\t';
    if (blank && !prose.empty() && prose.back() == ' ') continue;
    prose += blank ? ' ' : c;
  }
  return prose;
}

std::string Trim(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  const auto end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

// Splits "a "b c" d" into words; double quotes group.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false;
  bool any = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) words.push_back(word);
  return words;
}

// One cell of a Markdown table row, backticks removed.
std::vector<std::string> Cells(const std::string& row) {
  std::vector<std::string> cells;
  std::string cell;
  for (std::size_t i = 1; i < row.size(); ++i) {
    if (row[i] == '|') {
      cell.erase(std::remove(cell.begin(), cell.end(), '`'), cell.end());
      cells.push_back(Trim(cell));
      cell.clear();
    } else {
      cell += row[i];
    }
  }
  return cells;
}

struct Bar {
  std::string before;
  std::string after;  // "unchanged" when the bar stays as it is
};

struct Example {
  int line = 0;
  std::vector<std::string> words;   // meterfix options, then the score
  std::map<std::string, Bar> bars;  // by the score's measure number
};

// Every "<!-- checked: OPTIONS SCORE -->" marker with the table that follows it
// (columns Bar, Before and After, in any place among others).
std::vector<Example> GuideExamples() {
  const std::vector<std::string> lines = Lines(Guide());
  std::vector<Example> examples;
  const std::regex marker(R"(^<!-- checked: (.*) -->$)");
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::smatch match;
    if (!std::regex_match(lines[i], match, marker)) continue;
    Example example;
    example.line = static_cast<int>(i + 1);
    example.words = Words(match[1]);
    std::size_t row = i + 1;
    while (row < lines.size() && lines[row].rfind('|', 0) != 0) ++row;
    if (row + 2 >= lines.size()) {
      ADD_FAILURE() << "guide line " << example.line << ": no table after the marker";
      continue;
    }
    const std::vector<std::string> header = Cells(lines[row]);
    const auto column = [&](const char* name) {
      return std::find(header.begin(), header.end(), name) - header.begin();
    };
    const auto barColumn = column("Bar");
    const auto beforeColumn = column("Before");
    const auto afterColumn = column("After");
    const auto width = static_cast<std::ptrdiff_t>(header.size());
    if (barColumn == width || beforeColumn == width || afterColumn == width) {
      ADD_FAILURE() << "guide line " << row + 1 << ": the table lacks Bar, Before or After";
      continue;
    }
    for (row += 2; row < lines.size() && lines[row].rfind('|', 0) == 0; ++row) {
      const std::vector<std::string> cells = Cells(lines[row]);
      if (static_cast<std::ptrdiff_t>(cells.size()) != width) {
        ADD_FAILURE() << "guide line " << row + 1 << ": " << cells.size() << " cells, expected "
                      << width;
        continue;
      }
      example.bars[cells[barColumn]] = {cells[beforeColumn], cells[afterColumn]};
    }
    examples.push_back(example);
  }
  return examples;
}

// The bars of a text report with --all-measures, by the score's number, as
// the plug-in leaves them in the notation program: where a file cannot hold
// what it set (a display signature, an upbeat's own), the report lists that
// apart as kept as written, and the plug-in's signature is the one the
// guide describes.
std::map<std::string, Bar> ReportedBars(const std::string& report) {
  std::map<std::string, Bar> bars;
  const std::regex unchanged(R"(^  measure (\S+)( \[\d+\])?: (.*) \(unchanged\)$)");
  const std::regex changed(R"(^  measure (\S+)( \[\d+\])?: (.*) -> (.*)$)");
  const std::regex kept(
      R"(^  kept as written: measure (\S+)(?: \[\d+\])?: .*: (.*) \(the file has .*\)$)");
  for (const std::string& line : Lines(report)) {
    std::smatch match;
    if (std::regex_match(line, match, unchanged)) {
      bars[match[1]] = {match[3], "unchanged"};
    } else if (std::regex_match(line, match, changed)) {
      bars[match[1]] = {match[3], match[4]};
    } else if (std::regex_match(line, match, kept)) {
      bars[match[1]].after = match[2];
    }
  }
  return bars;
}

TEST(GuideExamples, EveryTableIsWhatMeterfixDoes) {
  const std::vector<Example> examples = GuideExamples();
  // The guide shows the command, the options with a visible effect and the
  // built-in presets: a guide that lost its markers must not pass silently.
  ASSERT_GE(examples.size(), 10u);
  for (const Example& example : examples) {
    SCOPED_TRACE("guide line " + std::to_string(example.line));
    ASSERT_FALSE(example.words.empty());
    ScratchDir dir;
    std::vector<std::string> args = {"--all-measures", "--report",         "text",
                                     "--report-file",  dir / "report.txt", "--config-dir",
                                     dir / "settings"};
    for (std::size_t i = 0; i + 1 < example.words.size(); ++i) args.push_back(example.words[i]);
    args.push_back(SourceDir + "/" + example.words.back());
    const clitest::Outcome outcome = RunTool(args);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    const std::map<std::string, Bar> reported = ReportedBars(ReadFile(dir / "report.txt"));
    ASSERT_FALSE(reported.empty()) << ReadFile(dir / "report.txt");
    // A table lists the bars that change and may list others; a bar it
    // leaves out is one the guide says stays as it is.
    for (const auto& [number, bar] : reported) {
      SCOPED_TRACE("bar " + number);
      const auto stated = example.bars.find(number);
      if (stated == example.bars.end()) {
        EXPECT_EQ(bar.after, "unchanged") << "the guide's table leaves out a bar that changes";
        continue;
      }
      EXPECT_EQ(stated->second.before, bar.before);
      EXPECT_EQ(stated->second.after, bar.after);
    }
    for (const auto& [number, bar] : example.bars) {
      EXPECT_EQ(reported.count(number), 1u) << "the score has no bar " << number;
    }
  }
}

// The string table of the resource script: every help-line text.
std::vector<std::string> HelpLineTexts() {
  const std::string script = ReadFile(SourceDir + "/dialogs/kqmeterfix.rc");
  const std::size_t table = script.find("STRINGTABLE");
  EXPECT_NE(table, std::string::npos);
  std::vector<std::string> texts;
  const std::regex entry(R"x(\n\s*IDS_\w+\s*,\s*"((?:[^"\\]|\\.)*)")x");
  const std::string rest = script.substr(table);
  for (auto it = std::sregex_iterator(rest.begin(), rest.end(), entry);
       it != std::sregex_iterator(); ++it) {
    texts.push_back((*it)[1]);
  }
  return texts;
}

TEST(GuideExamples, QuotesEveryHelpLineExactly) {
  const std::string guide = GuideProse();
  const std::vector<std::string> texts = HelpLineTexts();
  ASSERT_EQ(texts.size(), 24u);  // string ids 201 to 224
  for (const std::string& text : texts) {
    EXPECT_NE(guide.find(text), std::string::npos) << "the guide does not quote: " << text;
  }
}

// The texts and captions of every message box of the plug-in: the string
// literals of each MessageBoxA call, and the formats of wsprintfA that make
// the texts of the others (%d stands for a number the guide spells out).
std::vector<std::string> PluginMessages() {
  std::vector<std::string> messages;
  const std::regex call(R"((MessageBoxA|wsprintfA)\s*\(([^;]*);)");
  const std::regex literal(R"x("((?:[^"\\]|\\.)*)")x");
  for (const char* file : {"plugin/entry.cpp", "settings/presets.cpp", "dialogs/options_dialog.cpp",
                           "dialogs/preset_controls.cpp", "analysis/driver.cpp"}) {
    const std::string code = ReadFile(SourceDir + "/" + file);
    for (auto it = std::sregex_iterator(code.begin(), code.end(), call);
         it != std::sregex_iterator(); ++it) {
      const std::string arguments = (*it)[2];
      for (auto lit = std::sregex_iterator(arguments.begin(), arguments.end(), literal);
           lit != std::sregex_iterator(); ++lit) {
        messages.push_back((*lit)[1]);
      }
    }
  }
  return messages;
}

TEST(GuideExamples, ExplainsEveryMessageOfThePlugin) {
  const std::string guide = GuideProse();
  const std::vector<std::string> messages = PluginMessages();
  // Eight message boxes: texts and captions.
  ASSERT_GE(messages.size(), 16u);
  for (const std::string& message : messages) {
    std::string pattern;
    for (std::size_t i = 0; i < message.size(); ++i) {
      if (message.compare(i, 2, "%d") == 0) {
        pattern += "[0-9]+";
        ++i;
      } else if (std::string("\\^$.|?*+()[]{}").find(message[i]) != std::string::npos) {
        pattern += std::string("\\") + message[i];
      } else {
        pattern += message[i];
      }
    }
    EXPECT_TRUE(std::regex_search(guide, std::regex(pattern)))
        << "the guide does not show the message: " << message;
  }
}

}  // namespace
