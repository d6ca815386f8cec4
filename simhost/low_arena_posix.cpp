// The arena's reservation with mmap. A 64-bit process asks for MAP_32BIT and
// then for hints below 4 GiB, keeping only what fits; in a 32-bit process
// every address fits.
#include <sys/mman.h>

#include "simhost/low_arena.h"

namespace simhost {

namespace {

constexpr int Protection = PROT_READ | PROT_WRITE;
constexpr int Flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
constexpr std::uintptr_t FirstHint = 0x10000000;
constexpr std::uintptr_t HintStep = 0x10000000;

void* KeepIfLow(void* p, std::size_t bytes) {
  if (p == MAP_FAILED) return nullptr;
  if (FitsBelow4GiB(p, bytes)) return p;
  munmap(p, bytes);
  return nullptr;
}

}  // namespace

void* ReserveLowMemory(std::size_t bytes) {
  if constexpr (sizeof(void*) == 4) {
    return KeepIfLow(mmap(nullptr, bytes, Protection, Flags, -1, 0), bytes);
  }
#if defined(MAP_32BIT)
  if (void* p = KeepIfLow(mmap(nullptr, bytes, Protection, Flags | MAP_32BIT, -1, 0), bytes)) {
    return p;
  }
#endif
  for (std::uintptr_t hint = FirstHint; FitsBelow4GiB(reinterpret_cast<void*>(hint), bytes);
       hint += HintStep) {
    void* wanted = reinterpret_cast<void*>(hint);
    if (void* p = KeepIfLow(mmap(wanted, bytes, Protection, Flags, -1, 0), bytes)) return p;
  }
  return nullptr;
}

void ReleaseLowMemory(void* memory, std::size_t bytes) { munmap(memory, bytes); }

}  // namespace simhost
