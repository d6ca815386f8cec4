// ProcessSelection over a large simulated score: 2,000 measures x 40 staves
// x 2 layers, eighths and sixteenths beamed in groups. Reports measures per
// second and the process's peak resident memory (score included).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <memory>
#include <vector>

#include "analysis/driver.h"
#include "host/records.h"
#include "platform/standin/standin.h"
#include "settings/settings.h"
#include "simhost/simhost.h"

namespace {

constexpr int Measures = 2000;
constexpr int Staves = 40;

// Notes of `note` EDUs from 0 to `length`, a new beam every `group` notes.
std::vector<simhost::Entry> Beamed(std::int32_t note, int group, std::int32_t length) {
  std::vector<simhost::Entry> entries;
  int i = 0;
  for (std::int32_t at = 0; at < length; at += note, ++i) {
    simhost::Entry e;
    e.position = at;
    e.duration = note;
    e.beamStart = i % group == 0;
    entries.push_back(e);
  }
  return entries;
}

std::unique_ptr<simhost::Host> BuildScore() {
  auto host = std::make_unique<simhost::Host>();
  for (int s = 1; s <= Staves; ++s) host->AddStaff(static_cast<std::int16_t>(s));
  // Three kinds of bar in turn: 4/4 beamed in fours (agrees with the
  // signature), 4/4 beamed 3+3+2 (conflict), 6/8 beamed in threes under 3/4.
  const std::vector<simhost::Entry> fours = Beamed(512, 4, 4096);
  const std::vector<simhost::Entry> threeThreeTwo = [] {
    std::vector<simhost::Entry> e = Beamed(512, 8, 4096);
    e[3].beamStart = e[6].beamStart = true;
    return e;
  }();
  const std::vector<simhost::Entry> sixEight = Beamed(512, 3, 3072);
  const std::vector<simhost::Entry> sixteenths4 = Beamed(256, 4, 4096);
  const std::vector<simhost::Entry> sixteenths6 = Beamed(256, 6, 3072);
  for (int m = 1; m <= Measures; ++m) {
    const auto measure = static_cast<std::int16_t>(m);
    const int kind = m % 3;
    if (kind == 2) {
      host->SetMeasure(measure, 3, 1024);
    } else {
      host->SetMeasure(measure, 4, 1024);
    }
    for (int s = 1; s <= Staves; ++s) {
      const auto staff = static_cast<std::int16_t>(s);
      const std::vector<simhost::Entry>& eighths =
          kind == 0 ? fours : (kind == 1 ? threeThreeTwo : sixEight);
      host->SetLayer(staff, measure, 0, kind == 2 ? 3072 : 4096, eighths);
      host->SetLayer(staff, measure, 1, kind == 2 ? 3072 : 4096,
                     kind == 2 ? sixteenths6 : sixteenths4);
    }
  }
  return host;
}

double PeakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

void Run(benchmark::State& state, bool composite) {
  standin::ResetAll();
  standin::SetAutoAnswer(true);
  ApplyDefaultSettings(globalSettings);
  globalSettings.useComposite = composite ? 1 : 0;
  const auto region = simhost::MakeSelectionRegion(0, 0, 1, 0, Staves - 1, Measures);
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<simhost::Host> host = BuildScore();
    simhost::SetCurrentHost(host.get());
    state.ResumeTiming();
    benchmark::DoNotOptimize(ProcessSelection(nullptr, region.data()));
    state.PauseTiming();
    simhost::SetCurrentHost(nullptr);
    host.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * Measures);
  state.counters["measures_per_s"] = benchmark::Counter(
      static_cast<double>(Measures), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["peak_rss_MB"] = PeakRssMb();
}

void BM_ProcessSelection(benchmark::State& state) { Run(state, false); }
void BM_ProcessSelectionComposite(benchmark::State& state) { Run(state, true); }

BENCHMARK(BM_ProcessSelection)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ProcessSelectionComposite)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
