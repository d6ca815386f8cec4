#include <cstdio>
#include <cstdlib>

#include "fuzz/drivers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string problem = kqfuzz::RunMusicXml(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "musicxml: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
