// The arena's reservation with VirtualAlloc, for the Windows test host. A
// 64-bit process (and Wine) places DLLs and the heap above 4 GiB, so it asks
// for fixed addresses low in the address space; in a 32-bit process every
// address fits and the system chooses.
#include <windows.h>

#include "simhost/low_arena.h"

namespace simhost {

namespace {

constexpr std::uintptr_t FirstCandidate = 0x10000000;
constexpr std::uintptr_t CandidateStep = 0x10000000;

void* Commit(void* at, std::size_t bytes) {
  return VirtualAlloc(at, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

}  // namespace

void* ReserveLowMemory(std::size_t bytes) {
  if constexpr (sizeof(void*) == 4) return Commit(nullptr, bytes);
  for (std::uintptr_t at = FirstCandidate; FitsBelow4GiB(reinterpret_cast<void*>(at), bytes);
       at += CandidateStep) {
    void* p = Commit(reinterpret_cast<void*>(at), bytes);
    if (p == nullptr) continue;
    if (FitsBelow4GiB(p, bytes)) return p;
    VirtualFree(p, 0, MEM_RELEASE);
  }
  return nullptr;
}

void ReleaseLowMemory(void* memory, std::size_t) { VirtualFree(memory, 0, MEM_RELEASE); }

}  // namespace simhost
