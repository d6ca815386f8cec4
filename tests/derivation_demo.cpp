// Derives the time signature of a few built-in measures and prints it under
// the default options and with composite signatures switched on. Exits 1 when
// a measure that has a signature gets none.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/derivation.h"

namespace {

struct Group {
  std::int32_t position;
  std::int16_t noteValue;
};

struct Staff {
  std::int32_t length;
  std::vector<Group> groups;  // in the order the layers gave them
};

struct DemoMeasure {
  const char* description;
  std::vector<Staff> staves;
};

// Common notation for a text pair where the lower text is one table value.
std::string Readable(const char* top, const char* bottom) {
  int beat = std::atoi(bottom);
  if (std::strchr(bottom, '+') != nullptr || beat <= 0) return "";
  if (beat == 1536) {
    if (std::strchr(top, '+') != nullptr) return "";
    return std::to_string(std::atoi(top) * 3) + "/8";
  }
  if (4096 % beat != 0) return "";
  return std::string(top) + "/" + std::to_string(4096 / beat);
}

// 1 with the texts filled; the lists are built and released here.
int Derive(const DemoMeasure& measure, std::string& result) {
  std::vector<BeatList> lists(measure.staves.size());
  std::int32_t measureLength = 0;
  for (std::size_t s = 0; s < lists.size(); ++s) {
    BeatListInit(&lists[s]);
    lists[s].length = measure.staves[s].length;
    for (const Group& g : measure.staves[s].groups) {
      BeatListPush(&lists[s], g.position, g.noteValue);
    }
    if (lists[s].length > measureLength) measureLength = lists[s].length;
  }
  char top[SignatureTextSize] = "";
  char bottom[SignatureTextSize] = "";
  int ok = DeriveSignature(measureLength, lists.data(), static_cast<std::int16_t>(lists.size()),
                           top, bottom);
  for (BeatList& list : lists) BeatListRelease(&list);
  if (ok == 0) {
    result = "(none)";
    return 0;
  }
  result = std::string(top) + " / " + bottom;
  std::string readable = Readable(top, bottom);
  if (!readable.empty()) result += " (" + readable + ")";
  return 1;
}

}  // namespace

int main() {
  const std::vector<DemoMeasure> measures = {
      {"3+3+2 eighths in 4/4", {{4096, {{0, 512}, {1536, 512}, {3072, 512}}}}},
      {"6/8 beamed in two dotted quarters", {{3072, {{0, 512}, {1536, 512}}}}},
      {"2/4+3/8: two quarters, three beamed eighths",
       {{3584, {{0, 1024}, {1024, 1024}, {2048, 512}}}}},
      {"upbeat of one quarter", {{1024, {{0, 0}}}}},
      {"9/8 in three beamed eighth groups", {{4608, {{0, 512}, {1536, 512}, {3072, 512}}}}},
      {"3+3+2 eighths, second staff beamed 3+3",
       {{4096, {{0, 512}, {1536, 512}, {3072, 512}}}, {4096, {{0, 512}, {1536, 512}}}}},
      {"3+3+2 eighths over two layers",
       {{4096, {{0, 512}, {1536, 512}, {3072, 512}, {0, 512}, {3072, 512}}}}},
      {"staves that disagree (3+3+2 against 2+2+2+2)",
       {{4096, {{0, 512}, {1536, 512}, {3072, 512}}},
        {4096, {{0, 512}, {1024, 512}, {2048, 512}, {3072, 512}}}}},
  };

  Settings saved = globalSettings;
  int failures = 0;
  std::printf("%-46s %-24s %-24s %s\n", "measure", "default", "useComposite=1",
              "useComposite=1, compactBeatDuration=0");
  for (const DemoMeasure& measure : measures) {
    std::string plain;
    std::string compact;
    std::string grouped;
    ApplyDefaultSettings(globalSettings);
    failures += 1 - Derive(measure, plain);
    globalSettings.useComposite = 1;
    failures += 1 - Derive(measure, compact);
    globalSettings.compactBeatDuration = 0;
    failures += 1 - Derive(measure, grouped);
    std::printf("%-46s %-24s %-24s %s\n", measure.description, plain.c_str(), compact.c_str(),
                grouped.c_str());
  }
  globalSettings = saved;
  return failures == 0 ? 0 : 1;
}
