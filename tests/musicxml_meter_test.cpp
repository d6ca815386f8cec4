// The time signature mapping between <time> and the host's records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/records.h"
#include "musicxml/meter.h"
#include "simhost/simhost.h"

namespace {

using musicxml::Meter;
using musicxml::MeterGroup;
using musicxml::ReadTime;
using musicxml::SpellMeter;
using musicxml::TimeFields;
using musicxml::TimeRead;

Meter M(std::vector<MeterGroup> groups) {
  Meter m;
  m.groups = std::move(groups);
  return m;
}

TimeFields T(std::vector<std::pair<std::string, std::string>> pairs, std::string symbol = "") {
  TimeFields f;
  f.pairs = std::move(pairs);
  f.symbol = std::move(symbol);
  return f;
}

struct ImportRow {
  const char* name;
  TimeFields fields;
  Meter expected;
};

TEST(MeterImport, Table) {
  const std::vector<ImportRow> rows = {
      {"4/4", T({{"4", "4"}}), M({{{4}, 1024}})},
      {"2/2 cut", T({{"2", "2"}}, "cut"), M({{{2}, 2048}})},
      {"3/8 stays eighths", T({{"3", "8"}}), M({{{3}, 512}})},
      {"6/8 compound", T({{"6", "8"}}), M({{{2}, 1536}})},
      {"9/8 compound", T({{"9", "8"}}), M({{{3}, 1536}})},
      {"12/8 compound", T({{"12", "8"}}), M({{{4}, 1536}})},
      {"15/8 compound", T({{"15", "8"}}), M({{{5}, 1536}})},
      {"6/4 simple", T({{"6", "4"}}), M({{{6}, 1024}})},
      {"9/16 simple", T({{"9", "16"}}), M({{{9}, 256}})},
      {"3/8 dotted-note", T({{"3", "8"}}, "dotted-note"), M({{{1}, 1536}})},
      {"6/8 normal", T({{"6", "8"}}, "normal"), M({{{6}, 512}})},
      {"6/8 common symbol", T({{"6", "8"}}, "common"), M({{{6}, 512}})},
      {"4/8 dotted-note not divisible", T({{"4", "8"}}, "dotted-note"), M({{{4}, 512}})},
      {"3+2+2/8", T({{"3+2+2", "8"}}), M({{{3, 2, 2}, 512}})},
      {"3+3/8 no symbol", T({{"3+3", "8"}}), M({{{3, 3}, 512}})},
      {"3+3+3/8 dotted-note", T({{"3+3+3", "8"}}, "dotted-note"), M({{{1, 1, 1}, 1536}})},
      {"blanks in beats", T({{" 3 + 2 ", "8"}}), M({{{3, 2}, 512}})},
      {"3/8+2/8+3/4", T({{"3", "8"}, {"2", "8"}, {"3", "4"}}),
       M({{{3}, 512}, {{2}, 512}, {{3}, 1024}})},
      {"3+2/8+3/4", T({{"3+2", "8"}, {"3", "4"}}), M({{{3, 2}, 512}, {{3}, 1024}})},
      {"6/8+3/8", T({{"6", "8"}, {"3", "8"}}), M({{{2}, 1536}, {{3}, 512}})},
      {"5/2+1/8", T({{"5", "2"}, {"1", "8"}}), M({{{5}, 2048}, {{1}, 512}})},
  };
  for (const ImportRow& row : rows) {
    SCOPED_TRACE(row.name);
    Meter got;
    ASSERT_EQ(ReadTime(row.fields, got), TimeRead::Signature);
    EXPECT_EQ(got.groups, row.expected.groups);
  }
}

TEST(MeterImport, UnusableTimes) {
  Meter got;
  TimeFields senza;
  senza.senzaMisura = true;
  EXPECT_EQ(ReadTime(senza, got), TimeRead::SenzaMisura);
  EXPECT_EQ(ReadTime(TimeFields{}, got), TimeRead::Invalid);
  for (const auto& [beats, type] :
       std::vector<std::pair<std::string, std::string>>{{"x", "4"},
                                                        {"3", "0"},
                                                        {"4", "3"},
                                                        {"40000", "4"},
                                                        {"0", "4"},
                                                        {"3+", "8"},
                                                        {"-3", "4"},
                                                        {"3", ""},
                                                        {"", "4"},
                                                        {"3", "8192"}}) {
    SCOPED_TRACE(beats + "/" + type);
    EXPECT_EQ(ReadTime(T({{beats, type}}), got), TimeRead::Invalid);
    EXPECT_TRUE(got.groups.empty());
  }
}

TEST(MeterImport, HiddenComesFromPrintObject) {
  TimeFields f = T({{"3", "4"}});
  f.hidden = true;
  Meter got;
  ASSERT_EQ(ReadTime(f, got), TimeRead::Signature);
  EXPECT_TRUE(got.hidden);
}

struct SpellRow {
  const char* name;
  Meter meter;
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string symbol;
};

TEST(MeterExport, Table) {
  const std::vector<SpellRow> rows = {
      {"one dotted quarter", M({{{1}, 1536}}), {{"3", "8"}}, "dotted-note"},
      {"two dotted quarters", M({{{2}, 1536}}), {{"6", "8"}}, ""},
      {"four dotted quarters", M({{{4}, 1536}}), {{"12", "8"}}, ""},
      {"six eighths", M({{{6}, 512}}), {{"6", "8"}}, "normal"},
      {"nine eighths", M({{{9}, 512}}), {{"9", "8"}}, "normal"},
      {"three eighths", M({{{3}, 512}}), {{"3", "8"}}, ""},
      {"seven eighths", M({{{7}, 512}}), {{"7", "8"}}, ""},
      {"three halves", M({{{3}, 2048}}), {{"3", "2"}}, ""},
      {"four sixteenths", M({{{4}, 256}}), {{"4", "16"}}, ""},
      {"3+3+2 eighths", M({{{3, 3, 2}, 512}}), {{"3+3+2", "8"}}, ""},
      {"dotted composite", M({{{1, 1, 1}, 1536}}), {{"3+3+3", "8"}}, "dotted-note"},
      {"dotted composite 2+1", M({{{2, 1}, 1536}}), {{"6+3", "8"}}, "dotted-note"},
      {"2/4+3/8", M({{{1, 1}, 1024}, {{3}, 512}}), {{"1+1", "4"}, {"3", "8"}}, ""},
      {"6/8+3/8", M({{{2}, 1536}, {{3}, 512}}), {{"6", "8"}, {"3", "8"}}, ""},
      {"6/8 eighths + 3/4", M({{{6}, 512}, {{3}, 1024}}), {{"6", "8"}, {"3", "4"}}, "normal"},
      {"3++1++3 runs",
       M({{{3}, 512}, {{1}, 1024}, {{3}, 512}}),
       {{"3", "8"}, {"1", "4"}, {"3", "8"}},
       ""},
  };
  for (const SpellRow& row : rows) {
    SCOPED_TRACE(row.name);
    const musicxml::TimeSpelling s = SpellMeter(row.meter);
    EXPECT_TRUE(s.exact);
    EXPECT_EQ(s.pairs, row.pairs);
    EXPECT_EQ(s.symbol, row.symbol);
  }
}

// import(export(x)) gives x back for every plain signature of the beat table
// and every two-group composite of it that has a spelling at all.
TEST(MeterExport, RoundTripsBeatTable) {
  const std::vector<std::int32_t> durations = {2048, 1536, 1024, 512, 256, 128};
  auto roundTrip = [](const Meter& m) {
    const musicxml::TimeSpelling s = SpellMeter(m);
    TimeFields f;
    f.pairs = s.pairs;
    f.symbol = s.symbol;
    Meter back;
    return s.exact && ReadTime(f, back) == TimeRead::Signature && back.groups == m.groups;
  };
  for (std::int32_t d : durations) {
    for (std::int32_t n = 1; n <= 32; ++n) {
      SCOPED_TRACE(std::to_string(n) + " x " + std::to_string(d));
      EXPECT_TRUE(roundTrip(M({{{n}, d}})));
      EXPECT_TRUE(roundTrip(M({{{n, 2, 3}, d}})));
    }
  }
  int exact = 0;
  for (std::int32_t d1 : durations) {
    for (std::int32_t d2 : durations) {
      for (std::int32_t n : {1, 2, 3, 6}) {
        const Meter m = M({{{n}, d1}, {{2}, d2}});
        const musicxml::TimeSpelling s = SpellMeter(m);
        if (s.exact) {
          ++exact;
          EXPECT_TRUE(roundTrip(m)) << n << "x" << d1 << " + 2x" << d2;
        }
      }
    }
  }
  EXPECT_GT(exact, 120);
}

TEST(MeterExport, UnspellableKeepsLength) {
  for (const Meter& m : {M({{{3}, 3072}}), M({{{1}, 1536}, {{3}, 512}}), M({{{5}, 768}})}) {
    const musicxml::TimeSpelling s = SpellMeter(m);
    EXPECT_FALSE(s.exact);
    TimeFields f;
    f.pairs = s.pairs;
    f.symbol = s.symbol;
    Meter back;
    ASSERT_EQ(ReadTime(f, back), TimeRead::Signature);
    EXPECT_EQ(back.Length(), m.Length());
  }
}

TEST(MeterHost, StoreAndDecodeRoundTrip) {
  simhost::Host host;
  const std::vector<Meter> meters = {
      M({{{4}, 1024}}), M({{{3, 3, 2}, 512}}), M({{{1, 1}, 1024}, {{3}, 512}}),
      M({{{3}, 512}, {{1}, 1024}, {{3}, 512}}), M({{{2, 2, 2, 3, 3}, 256}})};
  for (const Meter& m : meters) {
    SCOPED_TRACE(musicxml::MeterText(m));
    const musicxml::HostSignature sig = musicxml::StoreMeter(host, m);
    Meter back;
    ASSERT_TRUE(musicxml::DecodeSignature(host, sig.beats, sig.beatDuration, sig.flags, back));
    EXPECT_EQ(back.groups, m.groups);
  }
}

// The texts the plug-in would show for what the importer stores.
TEST(MeterHost, StoredChainsFormatLikeThePlugin) {
  simhost::Host host;
  const musicxml::HostSignature a = musicxml::StoreMeter(host, M({{{1, 1}, 1024}, {{3}, 512}}));
  EXPECT_EQ(host.FormatTop(a.beats, true), "1+1++3");
  EXPECT_EQ(host.FormatBottom(a.beatDuration, true), "1024++512");
  EXPECT_EQ(a.flags, CompositeTopFlag | CompositeBottomFlag);
  const musicxml::HostSignature b = musicxml::StoreMeter(host, M({{{3, 2, 2}, 512}}));
  EXPECT_EQ(host.FormatTop(b.beats, true), "3+2+2");
  EXPECT_EQ(b.beatDuration, 512);
  EXPECT_EQ(b.flags, CompositeTopFlag);
  const musicxml::HostSignature c = musicxml::StoreMeter(host, M({{{2}, 1536}}));
  EXPECT_EQ(c.beats, 2);
  EXPECT_EQ(c.beatDuration, 1536);
  EXPECT_EQ(c.flags, 0);
}

// Chains as the plug-in writes them: a doubled plus leaves an empty bottom
// slot, and a bottom group may be split over slots that add up.
TEST(MeterHost, DecodesPluginChains) {
  simhost::Host host;
  const std::int16_t top = host.AddTopChain({{3, 1}, {2, 0}, {3, 1}, {0, 0}});
  const std::int16_t bottom = host.AddBottomChain({{512, 1}, {0, 1}, {1024, 1}});
  Meter got;
  ASSERT_TRUE(
      musicxml::DecodeSignature(host, top, bottom, CompositeTopFlag | CompositeBottomFlag, got));
  EXPECT_EQ(got.groups, (M({{{3, 2}, 512}, {{3}, 1024}}).groups));

  const std::int16_t split = host.AddBottomChain({{512, 1}, {256, 0}, {1024, 1}});
  ASSERT_TRUE(
      musicxml::DecodeSignature(host, top, split, CompositeTopFlag | CompositeBottomFlag, got));
  EXPECT_EQ(got.groups, (M({{{3, 2}, 768}, {{3}, 1024}}).groups));

  // A plain bottom under several top groups applies to each.
  ASSERT_TRUE(musicxml::DecodeSignature(host, top, 512, CompositeTopFlag, got));
  EXPECT_EQ(got.groups, (M({{{3, 2}, 512}, {{3}, 512}}).groups));

  EXPECT_FALSE(musicxml::DecodeSignature(host, 4, 0, 0, got));
  EXPECT_FALSE(musicxml::DecodeSignature(host, 0, 1024, 0, got));
  EXPECT_FALSE(musicxml::DecodeSignature(host, 999, 1024, CompositeTopFlag, got));
}

}  // namespace
