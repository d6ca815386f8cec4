// Every score of the shared corpus through the built meterfix: with the
// default options, without the conflict check and with composite
// signatures, each run exits 0, writes its output, gives back an unchanged
// score byte for byte, reports as each measure's result what reading the
// output back gives, and run again on its own output reports no change and
// writes the same bytes. Skipped when the corpus is absent.
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

TEST_P(Corpus, RunsExportsAndIsIdempotent) {
  const std::string input = std::string(KQ_CORPUS_DIR) + "/" + GetParam();
  ScratchDir dir;
  const std::string out = dir / ("out" + fs::path(input).extension().string());
  struct OptionSet {
    const char* name;
    std::vector<std::string> sets;
  };
  const OptionSet optionSets[] = {
      {"defaults", {}},
      {"onlyChangeAtConflicts=0", {"--set", "onlyChangeAtConflicts=0"}},
      {"useComposite=1", {"--set", "useComposite=1"}},
  };
#ifdef KQ_SANITIZED
  // Sampling under the sanitizers keeps the suite within a few minutes on two
  // cores: scores above 256 KB on disk run with the defaults only.
  const bool big = fs::file_size(input) > 256 * 1024;
#else
  const bool big = false;
#endif
  for (const OptionSet& options : optionSets) {
    if (big && !options.sets.empty()) continue;
    SCOPED_TRACE(options.name);
    std::vector<std::string> args = {"--config-dir", dir / "cfg", "--report", "json"};
    args.insert(args.end(), options.sets.begin(), options.sets.end());

    std::vector<std::string> first = args;
    first.insert(first.end(), {"-o", out, input});
    const Json report = RunJson(first);
    ASSERT_TRUE(report.is_object());
    ASSERT_TRUE(fs::exists(out));
    if (!report["changed"].get<bool>()) {
      EXPECT_EQ(ReadFile(out), ReadFile(input)) << "an unchanged score must come back as it was";
    }

    const std::string out2 = dir / ("again" + fs::path(out).extension().string());
    std::vector<std::string> again = args;
    again.insert(again.end(), {"-o", out2, out});
    const Json second = RunJson(again);
    ASSERT_TRUE(second.is_object());
    // The report says what the file says: the second run reads each
    // measure as the first reported it, and finds nothing to change (what
    // the file cannot hold stays in "kept").
    EXPECT_FALSE(second["changed"].get<bool>());
    ASSERT_EQ(second["measures"].size(), report["measures"].size());
    for (std::size_t i = 0; i < second["measures"].size(); ++i) {
      const Json& m = second["measures"][i];
      EXPECT_EQ(m["before"], report["measures"][i]["after"]) << m.dump(1);
      EXPECT_FALSE(m["changed"].get<bool>()) << m.dump(1);
    }
    EXPECT_TRUE(second["staves"].empty()) << second["staves"].dump(1);
    EXPECT_EQ(ReadFile(out2), ReadFile(out)) << "a second run changed the exported score";
    fs::remove(out);
    fs::remove(out2);
  }
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
