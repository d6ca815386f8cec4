// Every score of the shared corpus: imports, gives back its own bytes when
// nothing changed, takes a changed signature exactly where it was put, and
// with the plug-in under three option sets exports results that read back as
// the writer said and that a second run leaves alone, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "analysis/driver.h"
#include "musicxml/meter.h"
#include "musicxml/musicxml.h"
#include "musicxml/text_io.h"
#include "platform/standin/standin.h"
#include "settings/settings.h"
#include "simhost/simhost.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  std::error_code ec;
  const fs::path dir = KQ_CORPUS_DIR;
  if (!fs::is_directory(dir, ec)) return files;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    const std::string ext = it->path().extension().string();
    if (it->is_regular_file() && (ext == ".xml" || ext == ".musicxml" || ext == ".mxl")) {
      files.push_back(fs::relative(it->path(), dir).string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string Full(const std::string& rel) { return (fs::path(KQ_CORPUS_DIR) / rel).string(); }

struct Loaded {
  musicxml::Score score;
  simhost::Host host;
};

// Measure signatures of every staff (the staff's own where it has one).
std::vector<std::string> Signatures(const musicxml::Score& score, const simhost::Host& host) {
  std::vector<std::string> out;
  for (int m = 1; m <= score.MeasureCount(); ++m) {
    musicxml::SignatureText own;
    musicxml::ReadMeasureSignature(host, static_cast<std::int16_t>(m), own);
    for (const musicxml::StaffInfo& staff : score.Staves()) {
      musicxml::SignatureText text = own;
      if (staff.independent) {
        musicxml::ReadStaffSignature(host, staff.staff, static_cast<std::int16_t>(m), text);
        text.hidden = own.hidden;
      }
      out.push_back(text.top + "/" + text.bottom + (text.hidden ? " hidden" : ""));
    }
  }
  return out;
}

class CorpusTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusTest, ImportsAndGivesBackItsBytes) {
  if (GetParam().empty()) GTEST_SKIP() << "corpus folder absent";
  const std::string path = Full(GetParam());
  musicxml::Score score;
  const musicxml::Status loaded = score.LoadFile(path);
  ASSERT_TRUE(loaded.ok) << loaded.message;
  EXPECT_GT(score.MeasureCount(), 0);
  Loaded l;
  simhost::Host& host = l.host;
  ASSERT_TRUE(score.BuildHost(host).ok);
  EXPECT_EQ(host.StaffList().size(), score.Staves().size());
  const musicxml::Status applied = score.ApplyHost(host);
  ASSERT_TRUE(applied.ok) << applied.message;
  EXPECT_FALSE(score.Changed());
  EXPECT_TRUE(score.Kept().empty());
  // The report's "after" is the written reading: for an unchanged score,
  // text for text what the host was given.
  for (int m = 1; m <= score.MeasureCount(); ++m) {
    musicxml::SignatureText host;
    musicxml::SignatureText written;
    ASSERT_TRUE(musicxml::ReadMeasureSignature(l.host, static_cast<std::int16_t>(m), host));
    ASSERT_TRUE(score.WrittenMeasureSignature(m, written));
    EXPECT_EQ(written, host) << "measure " << m;
  }
  std::string bytes;
  ASSERT_TRUE(score.SaveBytes(bytes).ok);
  std::string original;
  std::string error;
  ASSERT_TRUE(musicxml::ReadWholeFile(path, original, error));
  EXPECT_TRUE(bytes == original);
}

// One measure in the middle becomes 2+2+3/8: the output reads back with that
// signature there and every other measure as before.
TEST_P(CorpusTest, ChangedMeasureReadsBackAloneChanged) {
  if (GetParam().empty()) GTEST_SKIP() << "corpus folder absent";
  musicxml::Score score;
  ASSERT_TRUE(score.LoadFile(Full(GetParam())).ok);
  simhost::Host host;
  ASSERT_TRUE(score.BuildHost(host).ok);
  const std::vector<std::string> before = Signatures(score, host);

  const int target = (score.MeasureCount() + 1) / 2;
  musicxml::Meter meter;
  meter.groups.push_back({{2, 2, 3}, 512});
  const musicxml::HostSignature sig = musicxml::StoreMeter(host, meter);
  simhost::MeasureView view;
  ASSERT_TRUE(host.ReadMeasure(static_cast<std::int16_t>(target), view));
  view.beats = sig.beats;
  view.beatDuration = sig.beatDuration;
  view.signatureFlags = static_cast<std::uint16_t>((view.signatureFlags & ~0x00D0u) | sig.flags);
  host.SetMeasure(static_cast<std::int16_t>(target), view);
  const musicxml::Status applied = score.ApplyHost(host);
  ASSERT_TRUE(applied.ok) << applied.message;
  ASSERT_TRUE(score.Changed());
  std::string bytes;
  ASSERT_TRUE(score.SaveBytes(bytes).ok);

  musicxml::Score again;
  const musicxml::Status reloaded = again.LoadBytes(bytes, GetParam());
  ASSERT_TRUE(reloaded.ok) << reloaded.message;
  ASSERT_EQ(again.IsArchive(), score.IsArchive());
  simhost::Host host2;
  ASSERT_TRUE(again.BuildHost(host2).ok);
  const std::vector<std::string> after = Signatures(again, host2);
  ASSERT_EQ(after.size(), before.size());
  const std::size_t staves = score.Staves().size();
  for (std::size_t i = 0; i < after.size(); ++i) {
    const int m = static_cast<int>(i / staves) + 1;
    const bool independent = score.Staves()[i % staves].independent;
    SCOPED_TRACE("measure " + std::to_string(m) + " staff " + std::to_string(i % staves + 1));
    if (m == target && !independent) {
      EXPECT_EQ(after[i], "2+2+3/512");
    } else if (!(m == target && independent)) {
      // Hidden stand-ins may turn into stated hidden signatures of the same beats.
      EXPECT_EQ(after[i], before[i]);
    }
  }
}

// The option sets of the corpus runs: the defaults, without the conflict
// check, and composite signatures.
enum class Options { Defaults, EveryMeasure, Composite };

// The plug-in on the whole score: its result exported and read again gives
// what the writer says the file holds, which is what the plug-in left except
// where the score lists it as kept; a second run leaves it alone.
void RunPlugin(simhost::Host& host, const musicxml::Score& score, Options options) {
  simhost::SetCurrentHost(&host);
  ApplyDefaultSettings(globalSettings);
  if (options == Options::EveryMeasure) globalSettings.onlyChangeAtConflicts = 0;
  if (options == Options::Composite) globalSettings.useComposite = 1;
  standin::ResetMessageBoxes();
  standin::SetAutoAnswer(true);
  const auto region =
      simhost::MakeSelectionRegion(0, 0, 1, 0, static_cast<std::int16_t>(score.Staves().size() - 1),
                                   static_cast<std::int16_t>(score.MeasureCount()));
  ProcessSelection(nullptr, region.data());
  simhost::SetCurrentHost(nullptr);
}

void CheckIdempotent(const std::string& rel, Options options) {
  musicxml::Score score;
  ASSERT_TRUE(score.LoadFile(Full(rel)).ok);
  simhost::Host host;
  ASSERT_TRUE(score.BuildHost(host).ok);
  RunPlugin(host, score, options);
  const std::vector<std::string> result = Signatures(score, host);
  const musicxml::Status applied = score.ApplyHost(host);
  ASSERT_TRUE(applied.ok) << applied.message;
  std::string first;
  ASSERT_TRUE(score.SaveBytes(first).ok);
  ::testing::Test::RecordProperty("changed", score.Changed() ? "yes" : "no");
  if (!score.Changed()) {
    std::string original;
    std::string error;
    ASSERT_TRUE(musicxml::ReadWholeFile(Full(rel), original, error));
    EXPECT_TRUE(first == original) << "an unchanged score must come back as it was";
  }

  musicxml::Score again;
  const musicxml::Status reloaded = again.LoadBytes(first, rel);
  ASSERT_TRUE(reloaded.ok) << reloaded.message;
  simhost::Host host2;
  ASSERT_TRUE(again.BuildHost(host2).ok);
  const std::vector<std::string> reread = Signatures(again, host2);
  // The exported text reads back as the writer said, display signatures
  // and staff signatures included.
  const std::size_t staves = score.Staves().size();
  for (int m = 1; m <= score.MeasureCount(); ++m) {
    musicxml::SignatureText said;
    musicxml::SignatureText read;
    ASSERT_TRUE(score.WrittenMeasureSignature(m, said));
    ASSERT_TRUE(musicxml::ReadMeasureSignature(host2, static_cast<std::int16_t>(m), read));
    EXPECT_EQ(read, said) << "measure " << m;
    for (const musicxml::StaffInfo& staff : again.Staves()) {
      if (!staff.independent) continue;
      ASSERT_TRUE(score.WrittenStaffSignature(staff.staff, m, said));
      ASSERT_TRUE(
          musicxml::ReadStaffSignature(host2, staff.staff, static_cast<std::int16_t>(m), read));
      EXPECT_EQ(read, said) << "measure " << m << " staff " << staff.staff;
    }
  }
  // It holds what the plug-in left, but where the score says why not.
  ASSERT_EQ(reread.size(), result.size());
  for (std::size_t i = 0; i < reread.size(); ++i) {
    const int m = static_cast<int>(i / staves) + 1;
    const auto staff = static_cast<std::int16_t>(i % staves + 1);
    const bool kept =
        std::any_of(score.Kept().begin(), score.Kept().end(), [&](const musicxml::KeptChange& k) {
          return k.measure == m && (k.staff == 0 || k.staff == staff);
        });
    EXPECT_TRUE(reread[i] == result[i] || kept)
        << "measure " << m << " staff " << staff << ": the plug-in left " << result[i]
        << ", the file says " << reread[i];
  }
  RunPlugin(host2, again, options);
  EXPECT_EQ(Signatures(again, host2), reread) << "a second run changed a time signature";
  ASSERT_TRUE(again.ApplyHost(host2).ok);
  EXPECT_FALSE(again.Changed()) << "a second run changed the exported score";
  std::string second;
  ASSERT_TRUE(again.SaveBytes(second).ok);
  EXPECT_TRUE(second == first);
}

TEST_P(CorpusTest, PluginDefaultsIdempotent) {
  if (GetParam().empty()) GTEST_SKIP() << "corpus folder absent";
  CheckIdempotent(GetParam(), Options::Defaults);
}

TEST_P(CorpusTest, PluginEveryMeasureIdempotent) {
  if (GetParam().empty()) GTEST_SKIP() << "corpus folder absent";
  CheckIdempotent(GetParam(), Options::EveryMeasure);
}

TEST_P(CorpusTest, PluginCompositeIdempotent) {
  if (GetParam().empty()) GTEST_SKIP() << "corpus folder absent";
  CheckIdempotent(GetParam(), Options::Composite);
}

std::vector<std::string> Params() {
  std::vector<std::string> files = CorpusFiles();
  if (files.empty()) files.push_back("");
  return files;
}

std::string ParamName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.empty() ? "absent" : info.param;
  for (char& c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) c = '_';
  }
  return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusTest, ::testing::ValuesIn(Params()), ParamName);

// Batches hand out the largest scores first; an archive must count by what
// it unpacks to (sizes as `unzip -l` lists them), not by its packed bytes.
TEST(CorpusWorkSize, ArchivesCountUnpacked) {
  const std::string archive = Full("openscore-orchestra/Beethoven_Op.125_4.mxl");
  const std::string plain = Full("music21-corpus/beethoven/opus18no1/movement2.musicxml");
  if (!fs::exists(archive) || !fs::exists(plain)) GTEST_SKIP() << "corpus folder absent";
  EXPECT_EQ(musicxml::ScoreWorkSize(archive), 26523410u);
  EXPECT_EQ(musicxml::ScoreWorkSize(plain), fs::file_size(plain));
  EXPECT_EQ(musicxml::ScoreWorkSize(Full("no such score.mxl")), 0u);
}

}  // namespace
