#include "analysis/derivation.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Staff {
  std::int32_t length;
  std::vector<std::int32_t> positions;
  std::vector<std::int16_t> durations;  // empty: every note value 0
};

// The BeatLists of one measure, built through the list's own operations.
class Measure {
 public:
  explicit Measure(const std::vector<Staff>& staves) : lists_(staves.size()) {
    for (std::size_t s = 0; s < staves.size(); ++s) {
      BeatListInit(&lists_[s]);
      lists_[s].length = staves[s].length;
      for (std::size_t k = 0; k < staves[s].positions.size(); ++k) {
        std::int16_t v = staves[s].durations.empty() ? 0 : staves[s].durations[k];
        BeatListPush(&lists_[s], staves[s].positions[k], v);
      }
    }
  }
  ~Measure() {
    for (BeatList& list : lists_) BeatListRelease(&list);
  }
  Measure(const Measure&) = delete;
  Measure& operator=(const Measure&) = delete;
  const BeatList* lists() const { return lists_.data(); }
  BeatList* list(std::size_t i) { return &lists_[i]; }
  std::int16_t n() const { return static_cast<std::int16_t>(lists_.size()); }

 private:
  std::vector<BeatList> lists_;
};

enum Option : unsigned { Composite = 1, Prefer = 2, Compact = 4, Largest = 8 };

using Allow = std::array<std::int16_t, BeatDurationCount>;
constexpr Allow DefaultAllow = {0, 1, 1, 1, 1, 1};
constexpr Allow QuarterEighth = {0, 0, 1, 1, 0, 0};
constexpr Allow WithHalf = {1, 1, 1, 1, 1, 1};

// Text buffers with a guard zone behind the 100 bytes the callers own.
struct Texts {
  static constexpr std::size_t Guard = 16;
  char top[SignatureTextSize + Guard];
  char bottom[SignatureTextSize + Guard];
  Texts() {
    std::memset(top, '#', sizeof top);
    std::memset(bottom, '#', sizeof bottom);
    top[0] = bottom[0] = '\0';
  }
  bool GuardsIntact() const {
    for (std::size_t i = SignatureTextSize; i < sizeof top; ++i) {
      if (top[i] != '#' || bottom[i] != '#') return false;
    }
    return true;
  }
};

class Derivation : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = globalSettings;
    ApplyDefaultSettings(globalSettings);
  }
  void TearDown() override { globalSettings = saved_; }

  // Only the named options set, as in the worked examples.
  static void Configure(Settings& s, unsigned options, const Allow& allow) {
    ApplyDefaultSettings(s);
    s.useComposite = (options & Composite) ? 1 : 0;
    s.preferComposite = (options & Prefer) ? 1 : 0;
    s.compactBeatDuration = (options & Compact) ? 1 : 0;
    s.largestBeatDuration = (options & Largest) ? 1 : 0;
    for (std::size_t i = 0; i < BeatDurationCount; ++i) s.allowBeat[i] = allow[i];
  }

  // Runs DeriveSignature under the given options; "-" texts when it gave 0.
  static std::string Derive(std::int32_t measureLength, const std::vector<Staff>& staves,
                            unsigned options, const Allow& allow = DefaultAllow) {
    Configure(globalSettings, options, allow);
    Measure m(staves);
    Texts t;
    std::strcpy(t.top, "-");
    std::strcpy(t.bottom, "-");
    std::int16_t result = DeriveSignature(measureLength, m.lists(), m.n(), t.top, t.bottom);
    EXPECT_TRUE(t.GuardsIntact());
    return std::to_string(result) + ":" + t.top + "/" + t.bottom;
  }

  Settings saved_;
};

struct Row {
  std::int32_t measureLength;
  std::vector<Staff> staves;
  unsigned options;
  Allow allow;
  const char* expected;  // result:top/bottom
};

TEST_F(Derivation, WorkedExamples) {
  const Staff nineEighths{4608, {0, 1536, 3072}, {512, 512, 512}};
  const Staff threeThreeTwo{4096, {0, 1536, 3072}, {512, 512, 512}};
  const Staff twoFourThreeEight{3584, {0, 1024, 2048}, {1024, 1024, 512}};
  const std::vector<Row> rows = {
      {4608, {nineEighths}, 0, DefaultAllow, "1:3/1536"},
      {4608, {nineEighths}, Composite, DefaultAllow, "1:3/1536"},
      {4608, {nineEighths}, Composite | Prefer | Compact, DefaultAllow, "1:3+3+3/512"},
      {4608, {nineEighths}, Composite | Prefer | Compact | Largest, DefaultAllow, "1:1+1+1/1536"},
      {4608, {nineEighths}, Composite | Prefer, DefaultAllow, "1:3+3+3/512"},
      {4096, {threeThreeTwo}, 0, DefaultAllow, "1:8/512"},
      {4096, {threeThreeTwo}, Composite | Compact, DefaultAllow, "1:3+3+2/512"},
      {3584, {twoFourThreeEight}, 0, DefaultAllow, "1:7/512"},
      {3584, {twoFourThreeEight}, Composite, DefaultAllow, "1:1+1++3/1024+512"},
      {3584, {twoFourThreeEight}, Composite | Compact, DefaultAllow, "1:2+2+3/512"},
      {3072, {{3072, {0, 1536}, {512, 512}}}, 0, DefaultAllow, "1:2/1536"},
      {4096, {{4096, {0, 2048}, {}}}, 0, DefaultAllow, "1:4/1024"},
      {4096, {{4096, {0, 2048}, {}}}, 0, WithHalf, "1:2/2048"},
      {1024, {{1024, {0}, {}}}, 0, DefaultAllow, "1:1/1024"},
      {4096, {{4096, {0, 256, 2048}, {}}}, 0, QuarterEighth, "1:4/1024"},
      {1280, {{1280, {0}, {}}}, 0, QuarterEighth, "0:-/-"},
      {4096,
       {threeThreeTwo, {4096, {0, 1536}, {}}},
       Composite | Compact,
       DefaultAllow,
       "1:3+3+2/512"},
      {4096, {threeThreeTwo, {4096, {0, 1024}, {}}}, Composite, DefaultAllow, "1:8/512"},
      // A composite must add up to the measure: triplet quarters and a half
      // would leave 2/4 in a 4/4 bar, starts 0/1024/2389 would give 1+1+1/4.
      {4096,
       {{4096, {0, 683, 1365, 2048}, {1024, 1024, 1024, 2048}}},
       Composite,
       DefaultAllow,
       "1:4/1024"},
      {4096, {{4096, {0, 1024, 2389}, {}}}, Composite | Compact, DefaultAllow, "1:4/1024"},
      {4096, {{4096, {0, 1024, 2389}, {}}}, Composite, DefaultAllow, "1:4/1024"},
  };
  for (std::size_t r = 0; r < rows.size(); ++r) {
    SCOPED_TRACE("row " + std::to_string(r + 1));
    EXPECT_EQ(Derive(rows[r].measureLength, rows[r].staves, rows[r].options, rows[r].allow),
              rows[r].expected);
  }
}

TEST_F(Derivation, BeatDurationChangingBackAndForthRepeatsDurations) {
  Staff s{4096, {0, 1536, 2560}, {512, 1024, 512}};
  EXPECT_EQ(Derive(4096, {s}, Composite), "1:3++1++3/512+1024+512");
}

TEST_F(Derivation, OneGroupOfEightEighthsGivesAPlainPairOnTheCompositePath) {
  Staff s{4096, {0}, {512}};
  EXPECT_EQ(Derive(4096, {s}, Composite | Compact), "1:8/512");
  EXPECT_EQ(Derive(4096, {s}, Composite), "1:8/512");
  EXPECT_EQ(Derive(4096, {s}, 0), "1:4/1024");
}

TEST_F(Derivation, ReferenceIsTheFirstListAsLongAsTheMeasure) {
  // The shorter first staff agrees as a prefix; taken as reference it would give 3+3.
  Staff shorter{3072, {0, 1536}, {512, 512}};
  Staff full{4096, {0, 1536, 3072}, {512, 512, 512}};
  EXPECT_EQ(Derive(4096, {shorter, full}, Composite | Compact), "1:3+3+2/512");
}

TEST_F(Derivation, NoAllowedDurationGivesZero) {
  Staff s{4096, {0, 2048}, {}};
  EXPECT_EQ(Derive(4096, {s}, Composite, {0, 0, 0, 0, 0, 0}), "0:-/-");
  EXPECT_EQ(FirstDividingBeat(4096, nullptr, nullptr), 0);
}

TEST_F(Derivation, FallbackIgnoresStarts) {
  Staff s{4096, {256}, {}};
  EXPECT_EQ(Derive(4096, {s}, 0, QuarterEighth), "1:4/1024");
}

TEST_F(Derivation, PlainPathPrefersTheLongestAllowedDuration) {
  Staff halves{8192, {0, 4096}, {}};
  EXPECT_EQ(Derive(8192, {halves}, 0, WithHalf), "1:4/2048");
  EXPECT_EQ(Derive(8192, {halves}, 0), "1:8/1024");
  Staff dotted{6144, {0, 3072}, {}};
  EXPECT_EQ(Derive(6144, {dotted}, 0, WithHalf), "1:4/1536");  // 2048 misses 3072
  EXPECT_EQ(Derive(6144, {dotted}, 0, QuarterEighth), "1:6/1024");
}

TEST_F(Derivation, EvenlySpacedGroupingStaysPlainUnlessCompositeIsPreferred) {
  Staff s{6144, {0, 1536, 3072, 4608}, {512, 512, 512, 512}};
  EXPECT_EQ(Derive(6144, {s}, Composite | Compact), "1:4/1536");
  EXPECT_EQ(Derive(6144, {s}, Composite | Compact | Prefer), "1:3+3+3+3/512");
}

TEST_F(Derivation, UnevenGroupingWithoutCompositeUsesBeatOfAllStarts) {
  Staff s{4096, {0, 1536, 3072}, {512, 512, 512}};
  EXPECT_EQ(Derive(4096, {s}, Compact), "1:8/512");
}

TEST_F(Derivation, FirstDividingBeatFillsOnlyGivenBuffers) {
  Texts t;
  EXPECT_EQ(FirstDividingBeat(4608, t.top, nullptr), 1);
  EXPECT_STREQ(t.top, "3");
  EXPECT_STREQ(t.bottom, "");
  EXPECT_EQ(FirstDividingBeat(4608, nullptr, t.bottom), 1);
  EXPECT_STREQ(t.bottom, "1536");
  EXPECT_EQ(FirstDividingBeat(100, nullptr, nullptr), 0);
  EXPECT_EQ(FirstDividingBeat(0, t.top, t.bottom), 0);
  EXPECT_EQ(FirstDividingBeat(-1024, t.top, t.bottom), 0);
  EXPECT_STREQ(t.top, "3");
}

TEST_F(Derivation, PlainCountsBeyondInt16AreNeverWritten) {
  // 128 alone divides, into 32769 beats: no plain signature exists.
  EXPECT_EQ(FirstDividingBeat(128 * 32769, nullptr, nullptr), 0);
  EXPECT_EQ(Derive(128 * 32769, {{128 * 32769, {0}, {}}}, 0), "0:-/-");
  EXPECT_EQ(Derive(128 * 32767, {{128 * 32767, {0}, {}}}, 0), "1:32767/128");
  // 1024 divides into 20000 beats but misses the start at 512; 512 would give
  // 40000, so the fallback decides.
  EXPECT_EQ(Derive(1024 * 20000, {{1024 * 20000, {0, 512}, {}}}, 0), "1:20000/1024");
}

TEST_F(Derivation, CompositeCountsBeyondInt16AreRefused) {
  // One group of 40000 sixteenths preferred as composite: the count does not fit.
  Staff s{128 * 40000, {0}, {128}};
  EXPECT_EQ(Derive(128 * 40000, {s}, Composite | Prefer | Compact), "1:5000/1024");
  EXPECT_EQ(Derive(128 * 40000, {s}, Composite | Prefer), "1:5000/1024");
}

TEST_F(Derivation, AllStartsOnBeat) {
  Measure m(std::vector<Staff>{{4096, {0, 1024}, {}}, {4096, {}, {}}, {4096, {3072, 2048}, {}}});
  EXPECT_EQ(AllStartsOnBeat(1024, m.lists(), m.n()), 1);
  EXPECT_EQ(AllStartsOnBeat(2048, m.lists(), m.n()), 0);
  EXPECT_EQ(AllStartsOnBeat(0, m.lists(), m.n()), 0);
  EXPECT_EQ(AllStartsOnBeat(2048, m.lists() + 1, 1), 1);  // an empty list passes
}

TEST_F(Derivation, EvenlySpaced) {
  Measure m(std::vector<Staff>{{4608, {0, 1536, 3072}, {}},
                               {4608, {1536, 0, 3072}, {}},
                               {4608, {0, 1536}, {}},
                               {4096, {}, {}}});
  EXPECT_EQ(EvenlySpaced(1536, m.list(0)), 1);
  EXPECT_EQ(EvenlySpaced(512, m.list(0)), 0);
  EXPECT_EQ(EvenlySpaced(1536, m.list(1)), 0);  // stored order counts
  EXPECT_EQ(EvenlySpaced(1536, m.list(2)), 0);  // 2 x 1536 falls short of the length
  EXPECT_EQ(EvenlySpaced(2304, m.list(2)), 0);
  EXPECT_EQ(EvenlySpaced(1024, m.list(3)), 0);
  EXPECT_EQ(EvenlySpaced(0, m.list(0)), 0);
}

// Decision: a first group that no allowed duration divides refuses the
// composite (texts untouched) instead of dividing by 0; the plain path decides.
TEST_F(Derivation, CompactCompositeWithUndividableFirstGroupIsRefused) {
  Configure(globalSettings, Composite | Compact, DefaultAllow);
  Measure m(std::vector<Staff>{{4096, {0, 100, 2048}, {}}});
  Texts t;
  std::strcpy(t.top, "x");
  EXPECT_EQ(TryComposite(4096, m.lists(), m.n(), t.top, t.bottom, globalSettings), 0);
  EXPECT_STREQ(t.top, "x");
  EXPECT_EQ(BuildCompactComposite(m.list(0), t.top, t.bottom, globalSettings), 0);
  EXPECT_STREQ(t.top, "x");
  EXPECT_EQ(Derive(4096, {{4096, {0, 100, 2048}, {}}}, Composite | Compact), "1:4/1024");
}

TEST_F(Derivation, GroupedCompositeLeavesOutUndividableGroups) {
  Settings s;
  Configure(s, Composite, DefaultAllow);
  Measure m(std::vector<Staff>{{4096, {0, 100, 2048}, {}}});
  Texts t;
  EXPECT_EQ(BuildGroupedComposite(m.list(0), t.top, t.bottom, s), 1);
  EXPECT_STREQ(t.top, "2");
  EXPECT_STREQ(t.bottom, "1024");
}

// Decision: a reference list without starts refuses the composite, so no
// signature of zero beats reaches the writer.
TEST_F(Derivation, ReferenceWithoutStartsRefusesComposite) {
  Settings s;
  Configure(s, Composite | Prefer | Compact, DefaultAllow);
  Measure m(std::vector<Staff>{{4096, {}, {}}});
  Texts t;
  EXPECT_EQ(TryComposite(4096, m.lists(), m.n(), t.top, t.bottom, s), 0);
  EXPECT_EQ(BuildCompactComposite(m.list(0), t.top, t.bottom, s), 0);
  EXPECT_EQ(BuildGroupedComposite(m.list(0), t.top, t.bottom, s), 0);
  EXPECT_STREQ(t.top, "");
  EXPECT_STREQ(t.bottom, "");
  EXPECT_EQ(Derive(4096, {{4096, {}, {}}}, Composite | Prefer | Compact), "1:4/1024");
  EXPECT_EQ(Derive(4096, {{4096, {}, {}}}, Composite | Prefer), "1:4/1024");
}

// Decision: the composite path sorts the reference starts and drops repeats;
// a repeated start keeps its note value where the layers agree, else 0.
TEST_F(Derivation, LayeredStartsAreSortedAndRepeatsDropped) {
  // Layer 1: 0, 1536, 3072 in eighths; layer 2: 0 in eighths, 3072 in sixteenths.
  Staff layered{4096, {0, 1536, 3072, 0, 3072}, {512, 512, 512, 512, 256}};
  EXPECT_EQ(Derive(4096, {layered}, Composite | Compact), "1:3+3+2/512");
  // 3072 lost its note value, so its group takes the quarter of its length.
  EXPECT_EQ(Derive(4096, {layered}, Composite), "1:3+3++1/512+1024");
  Staff agreeing{4096, {3072, 1536, 0, 3072}, {512, 512, 512, 512}};
  EXPECT_EQ(Derive(4096, {agreeing}, Composite), "1:3+3+2/512");
  // Evenly spaced once normalised: stays plain.
  Staff sixEight{3072, {1536, 0, 1536, 0}, {512, 512, 512, 512}};
  EXPECT_EQ(Derive(3072, {sixEight}, Composite | Compact), "1:2/1536");
}

TEST_F(Derivation, AgreementComparesNormalisedLists) {
  Staff reference{4096, {0, 1536, 3072}, {512, 512, 512}};
  Staff repeated{4096, {1536, 0, 1536, 0}, {}};
  EXPECT_EQ(Derive(4096, {reference, repeated}, Composite | Compact), "1:3+3+2/512");
  Staff empty{4096, {}, {}};
  EXPECT_EQ(Derive(4096, {reference, empty}, Composite | Compact), "1:3+3+2/512");
  Staff differing{4096, {0, 1536, 3584}, {}};
  EXPECT_EQ(Derive(4096, {reference, differing}, Composite | Compact), "1:8/512");
}

// Decision: a list with more starts than the reference disagrees.
TEST_F(Derivation, ListWithMoreStartsThanReferenceDisagrees) {
  Staff reference{4096, {0, 1536, 3072}, {512, 512, 512}};
  Staff longer{4096, {0, 1536, 3072, 3584}, {}};
  EXPECT_EQ(Derive(4096, {reference, longer}, Composite | Compact), "1:8/512");
  // Repeats of the reference's starts are not more starts.
  Staff doubled{4096, {0, 1536, 3072, 0, 1536, 3072}, {}};
  EXPECT_EQ(Derive(4096, {reference, doubled}, Composite | Compact), "1:3+3+2/512");
}

// Builders called on raw unsorted lists refuse zero and negative counts.
TEST_F(Derivation, BuildersRefuseZeroAndNegativeCounts) {
  Settings s;
  Configure(s, Composite, DefaultAllow);
  Measure m(std::vector<Staff>{
      {4096, {0, 3072, 1536}, {512, 512, 512}}, {4096, {0, 0, 2048}, {}}, {4096, {0, 4096}, {}}});
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    Texts t;
    EXPECT_EQ(BuildCompactComposite(m.list(i), t.top, t.bottom, s), 0);
    EXPECT_EQ(BuildGroupedComposite(m.list(i), t.top, t.bottom, s), 0);
    EXPECT_STREQ(t.top, "");
    EXPECT_STREQ(t.bottom, "");
  }
  // A start at the measure's end leaves an empty last group: plain decides.
  EXPECT_EQ(Derive(4096, {{4096, {0, 1536, 4096}, {}}}, Composite | Compact), "1:8/512");
}

// A compact group the common beat does not divide keeps the truncated count;
// one that truncates to 0 refuses the composite.
TEST_F(Derivation, CompactQuotientTruncatingToZeroIsRefused) {
  Settings s;
  Configure(s, Composite, QuarterEighth);
  Measure m(std::vector<Staff>{{4196, {0, 4096}, {}}, {4196, {0, 3072}, {}}});
  Texts t;
  EXPECT_EQ(BuildCompactComposite(m.list(0), t.top, t.bottom, s), 0);
  EXPECT_EQ(BuildCompactComposite(m.list(1), t.top, t.bottom, s), 1);
  EXPECT_STREQ(t.top, "3+1");
  EXPECT_STREQ(t.bottom, "1024");
}

// Decision: a composite whose texts need more than 99 characters is refused.
TEST_F(Derivation, CompositeTextLimitIs99Characters) {
  auto sixteenths = [](int groups) {
    Staff s{128 * groups, {}, {}};
    for (int k = 0; k < groups; ++k) {
      s.positions.push_back(128 * k);
      s.durations.push_back(128);
    }
    return s;
  };
  std::string fifty;
  for (int k = 0; k < 50; ++k) fifty += k == 0 ? "1" : "+1";
  ASSERT_EQ(fifty.size(), 99u);
  EXPECT_EQ(Derive(128 * 50, {sixteenths(50)}, Composite | Prefer | Compact),
            "1:" + fifty + "/128");
  EXPECT_EQ(Derive(128 * 51, {sixteenths(51)}, Composite | Prefer | Compact), "1:51/128");
  EXPECT_EQ(Derive(128 * 51, {sixteenths(51)}, Composite | Prefer), "1:51/128");
  EXPECT_EQ(Derive(128 * 500, {sixteenths(500)}, Composite | Prefer), "1:500/128");
}

TEST_F(Derivation, GroupedBottomTextOverflowIsRefused) {
  // Eighth and quarter groups alternate: every group opens a run.
  Staff s{0, {}, {}};
  for (int k = 0; k < 24; ++k) {
    s.positions.push_back(s.length);
    s.durations.push_back(k % 2 == 0 ? 512 : 1024);
    s.length += k % 2 == 0 ? 512 : 1024;
  }
  Settings settings;
  Configure(settings, Composite, DefaultAllow);
  Measure m(std::vector<Staff>{s});
  Texts t;
  EXPECT_EQ(TryComposite(s.length, m.lists(), m.n(), t.top, t.bottom, settings), 0);
  EXPECT_TRUE(t.GuardsIntact());
  EXPECT_STREQ(t.top, "");
  EXPECT_EQ(Derive(s.length, {s}, Composite), "1:36/512");
}

TEST_F(Derivation, TryCompositeTakesSettingsByReference) {
  // globalSettings stays at its defaults; the passed record decides.
  Settings s;
  Configure(s, Composite, DefaultAllow);
  Measure m(std::vector<Staff>{{3584, {0, 1024, 2048}, {1024, 1024, 512}}});
  Texts t;
  EXPECT_EQ(TryComposite(3584, m.lists(), m.n(), t.top, t.bottom, s), 1);
  EXPECT_STREQ(t.top, "1+1++3");
  EXPECT_STREQ(t.bottom, "1024+512");
  EXPECT_EQ(TryComposite(3584, m.lists(), m.n(), t.top, t.bottom, globalSettings), 1);
  EXPECT_STREQ(t.top, "2+2+3");
  EXPECT_STREQ(t.bottom, "512");
}

TEST_F(Derivation, ListsWithoutStorageReadAsEmpty) {
  beatListFailAllocations = true;
  BeatList list;
  BeatListInit(&list);
  beatListFailAllocations = false;
  list.length = 4096;
  list.count = 3;  // claims entries it has no storage for
  Texts t;
  EXPECT_EQ(AllStartsOnBeat(1024, &list, 1), 1);
  EXPECT_EQ(TryComposite(4096, &list, 1, t.top, t.bottom, globalSettings), 0);
  globalSettings.useComposite = 1;
  EXPECT_EQ(DeriveSignature(4096, &list, 1, t.top, t.bottom), 1);
  EXPECT_STREQ(t.top, "4");
  BeatListRelease(&list);
}

}  // namespace
