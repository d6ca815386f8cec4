// Analysis core per measure: the derivation and the existing time signature
// check on beat lists shaped like real beaming (1..8 staves, 1..4 layers,
// 2..64 groups). One iteration is one measure, so the time is ns/measure.
#include <benchmark/benchmark.h>

#include <vector>

#include "analysis/beatlist.h"
#include "analysis/check.h"
#include "analysis/derivation.h"
#include "host/records.h"
#include "settings/settings.h"
#include "simhost/simhost.h"

namespace {

// Groups of 2, 3 and 3 eighths in turn (a 3+3+2-like beaming, repeated).
constexpr std::int32_t GroupPattern[] = {1024, 1536, 1536};

struct Measure {
  std::vector<BeatList> lists;
  std::int32_t length = 0;

  Measure(int staves, int layers, int groups) : lists(static_cast<std::size_t>(staves)) {
    for (BeatList& list : lists) {
      BeatListInit(&list);
      for (int layer = 0; layer < layers; ++layer) {
        std::int32_t start = 0;
        for (int g = 0; g < groups; ++g) {
          // Lower layers beam in sixteenths, the top one in eighths.
          BeatListPush(&list, start, layer == 0 ? 512 : 256);
          start += GroupPattern[g % 3];
        }
        list.length = start;
      }
      length = list.length;
    }
  }
  ~Measure() {
    for (BeatList& list : lists) BeatListRelease(&list);
  }
  Measure(const Measure&) = delete;
  Measure& operator=(const Measure&) = delete;
};

void ShapeArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"staves", "layers", "groups"});
  for (const auto& shape : std::vector<std::vector<std::int64_t>>{{1, 1, 2},
                                                                  {1, 1, 8},
                                                                  {2, 2, 8},
                                                                  {4, 2, 16},
                                                                  {1, 4, 32},
                                                                  {4, 1, 64},
                                                                  {8, 4, 16},
                                                                  {8, 4, 64}}) {
    b->Args(shape);
  }
}

void Derive(benchmark::State& state, bool composite) {
  ApplyDefaultSettings(globalSettings);
  globalSettings.useComposite = composite ? 1 : 0;
  Measure m(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
            static_cast<int>(state.range(2)));
  char top[SignatureTextSize];
  char bottom[SignatureTextSize];
  for (auto _ : state) {
    benchmark::DoNotOptimize(DeriveSignature(
        m.length, m.lists.data(), static_cast<std::int16_t>(m.lists.size()), top, bottom));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_DerivePlain(benchmark::State& state) { Derive(state, false); }
void BM_DeriveComposite(benchmark::State& state) { Derive(state, true); }

// The check against a present signature every group agrees with: it has to
// look at every start, which is its slowest case.
void Check(benchmark::State& state, bool compositePresent) {
  ApplyDefaultSettings(globalSettings);
  Measure m(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
            static_cast<int>(state.range(2)));
  simhost::Host host;
  simhost::SetCurrentHost(&host);
  if (compositePresent) {
    std::vector<simhost::TopSlot> top;
    top.reserve(static_cast<std::size_t>(state.range(2)));
    for (int g = 0; g < state.range(2); ++g) {
      top.push_back({static_cast<std::int16_t>(GroupPattern[g % 3] / 512),
                     static_cast<std::int16_t>(g == 0 ? GroupStartFlag : 0)});
    }
    const std::int16_t topChain = host.AddTopChain(top);
    const std::int16_t bottomChain = host.AddBottomChain({{512, GroupStartFlag}});
    host.SetMeasure(1, topChain, bottomChain, CompositeTopFlag | CompositeBottomFlag);
  } else {
    host.SetMeasure(1, static_cast<std::int16_t>(m.length / 512), 512);
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(CheckExistingSignature(1, m.length, m.lists.data(),
                                                    static_cast<std::int16_t>(m.lists.size())));
  }
  state.SetItemsProcessed(state.iterations());
  simhost::SetCurrentHost(nullptr);
}

void BM_CheckPlain(benchmark::State& state) { Check(state, false); }
void BM_CheckComposite(benchmark::State& state) { Check(state, true); }

BENCHMARK(BM_DerivePlain)->Apply(ShapeArgs);
BENCHMARK(BM_DeriveComposite)->Apply(ShapeArgs);
BENCHMARK(BM_CheckPlain)->Apply(ShapeArgs);
BENCHMARK(BM_CheckComposite)->Apply(ShapeArgs);

}  // namespace

BENCHMARK_MAIN();
