// Replays every seed and every saved crash input of the fuzz targets through
// the same drivers the fuzzers use (fuzz/drivers.h). A crash input stays in
// fuzz/regressions/<target>/ for good; under the sanitizer build this test
// fails again if the fault comes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "host/records.h"
#include "fuzz/drivers.h"
#include "host/host.h"
#include "simhost/simhost.h"

namespace {

namespace fs = std::filesystem;

using Driver = std::string (*)(const std::uint8_t*, std::size_t);

struct Target {
  const char* name;
  Driver run;
};

const Target Targets[] = {
    {"host_data", kqfuzz::RunHostData},
    {"registry_images", kqfuzz::RunRegistryImages},
// The MusicXML driver exists once the importer is part of the build.
#ifdef KQ_FUZZ_MUSICXML
    {"musicxml", kqfuzz::RunMusicXml},
#endif
};

struct Input {
  std::string target;
  Driver run;
  fs::path path;
  std::string testName;
};

// Names the input in messages (gtest would otherwise dump its bytes, padding
// included).
void PrintTo(const Input& input, std::ostream* out) { *out << input.path.string(); }

std::vector<Input> CollectInputs() {
  std::vector<Input> inputs;
  for (const Target& t : Targets) {
    for (const char* kind : {"corpus", "regressions"}) {
      const fs::path dir = fs::path(KQ_SOURCE_DIR) / "fuzz" / kind / t.name;
      std::error_code ec;
      if (!fs::is_directory(dir, ec)) continue;
      std::vector<fs::path> files;
      for (const auto& e : fs::directory_iterator(dir)) {
        if (e.is_regular_file() && e.path().extension() != ".md") files.push_back(e.path());
      }
      std::sort(files.begin(), files.end());
      for (const fs::path& f : files) {
        std::string name = std::string(t.name) + "_" + kind + "_" + f.filename().string();
        std::replace_if(
            name.begin(), name.end(),
            [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
        inputs.push_back(Input{t.name, t.run, f, name});
      }
    }
  }
  return inputs;
}

class FuzzInputTest : public ::testing::TestWithParam<Input> {};

TEST_P(FuzzInputTest, RunsCleanly) {
  const Input& input = GetParam();
  std::ifstream file(input.path, std::ios::binary);
  ASSERT_TRUE(file) << input.path;
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                        std::istreambuf_iterator<char>());
  EXPECT_EQ(input.run(bytes.data(), bytes.size()), "") << input.path;
}

INSTANTIATE_TEST_SUITE_P(Saved, FuzzInputTest, ::testing::ValuesIn(CollectInputs()),
                         [](const ::testing::TestParamInfo<Input>& info) {
                           return info.param.testName;
                         });

// A truncated input decodes with zeros for what is missing: every prefix of a
// seed is a valid input too.
TEST(FuzzDriverTest, EveryPrefixOfASeedRuns) {
  const fs::path seed = fs::path(KQ_SOURCE_DIR) / "fuzz/corpus/host_data/composite_on";
  std::ifstream file(seed, std::ios::binary);
  ASSERT_TRUE(file);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                        std::istreambuf_iterator<char>());
  for (std::size_t n = 0; n <= bytes.size(); n += 7) {
    SCOPED_TRACE(n);
    EXPECT_EQ(kqfuzz::RunHostData(bytes.data(), n), "");
  }
}

// Found by fuzz_host_data: a stored record of 0 bytes (a staff list slot)
// made HostLoadRecord pass the empty vector's null data() to memcpy, which
// the undefined-behaviour sanitizer stops.
TEST(FuzzRegressionTest, EmptyStoredRecordLoads) {
  simhost::Host host;
  simhost::SetCurrentHost(&host);
  host.PutRecord(StaffListRecordTag, {0, 0, 3, 0}, {});
  RecordKeyBytes key = MakeRecordKey(0, 3);
  std::uint8_t buffer[StaffListRecordLayout::Size] = {};
  std::int32_t size = StaffListRecordLayout::Size;
  EXPECT_TRUE(HostSucceeded(
      HostLoadRecord(StaffListRecordTag, key.bytes, buffer, &size, HostInterfaceVersion)));
  EXPECT_EQ(size, 0);
  simhost::SetCurrentHost(nullptr);
}

}  // namespace
