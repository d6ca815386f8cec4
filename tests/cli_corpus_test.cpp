// Every score of the shared corpus through the built meterfix with the
// default options: the run exits 0, writes its output, gives back an
// unchanged score byte for byte, and reports as each measure's result what
// reading the output back gives. The three option sets and the byte-for-byte
// second export run in-process in musicxml_corpus_test. Skipped when the
// corpus is absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli_test_support.h"

namespace {

using clitest::OnlyFile;
using clitest::Outcome;
using clitest::ReadFile;
using clitest::RunTool;
using clitest::ScratchDir;
using Json = nlohmann::json;
namespace fs = std::filesystem;

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  std::error_code ec;
  if (!fs::is_directory(KQ_CORPUS_DIR, ec)) return files;
  for (auto it = fs::recursive_directory_iterator(KQ_CORPUS_DIR, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string ext = it->path().extension().string();
    if (it->is_regular_file() && (ext == ".xml" || ext == ".musicxml" || ext == ".mxl")) {
      files.push_back(fs::relative(it->path(), KQ_CORPUS_DIR).string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

class Corpus : public ::testing::TestWithParam<std::string> {};

Json RunJson(const std::vector<std::string>& args) {
  const Outcome outcome = RunTool(args);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  return OnlyFile(outcome.out);
}

TEST_P(Corpus, RunsAndReportsWhatTheFileSays) {
  const std::string input = std::string(KQ_CORPUS_DIR) + "/" + GetParam();
  ScratchDir dir;
  const std::string out = dir / ("out" + fs::path(input).extension().string());
  const std::vector<std::string> options = {"--config-dir", dir / "cfg", "--report", "json"};

  std::vector<std::string> first = options;
  first.insert(first.end(), {"-o", out, input});
  const Json report = RunJson(first);
  ASSERT_TRUE(report.is_object());
  ASSERT_TRUE(fs::exists(out));
  if (!report["changed"].get<bool>()) {
    EXPECT_EQ(ReadFile(out), ReadFile(input)) << "an unchanged score must come back as it was";
  }

  // The report says what the file says: reading the output back gives each
  // measure as the first run reported it, with nothing left to change (what
  // the file cannot hold stays in "kept").
  std::vector<std::string> again = options;
  again.push_back(out);
  const Json second = RunJson(again);
  ASSERT_TRUE(second.is_object());
  EXPECT_FALSE(second["changed"].get<bool>());
  ASSERT_EQ(second["measures"].size(), report["measures"].size());
  for (std::size_t i = 0; i < second["measures"].size(); ++i) {
    const Json& m = second["measures"][i];
    EXPECT_EQ(m["before"], report["measures"][i]["after"]) << m.dump(1);
    EXPECT_FALSE(m["changed"].get<bool>()) << m.dump(1);
  }
  EXPECT_TRUE(second["staves"].empty()) << second["staves"].dump(1);
  EXPECT_FALSE(fs::exists(dir / "cfg"));
}

std::string TestName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name;
  for (char c : info.param) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name + "_" + std::to_string(info.index);
}

TEST(CorpusFolder, Present) {
  if (CorpusFiles().empty()) GTEST_SKIP() << "no corpus at " << KQ_CORPUS_DIR;
}

INSTANTIATE_TEST_SUITE_P(Files, Corpus, ::testing::ValuesIn(CorpusFiles()), TestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Corpus);

}  // namespace
