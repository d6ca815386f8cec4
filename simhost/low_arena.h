// Memory below 4 GiB for loaded layers: LayerEntries carries a 32-bit address
// of its entries, so the host must hand out addresses that fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace simhost {

class LowArena {
 public:
  // Reserves capacity bytes of address space lazily, at the first Allocate.
  explicit LowArena(std::size_t capacity);
  ~LowArena();
  LowArena(const LowArena&) = delete;
  LowArena& operator=(const LowArena&) = delete;

  // A block of at least bytes below 4 GiB, or null (no low memory, or full).
  std::uint8_t* Allocate(std::size_t bytes);
  // Hands back a block from Allocate with the same byte count.
  void Release(std::uint8_t* block, std::size_t bytes);
  bool Contains(const void* p) const;

 private:
  bool Reserve();
  static int SizeClass(std::size_t bytes);

  std::size_t capacity_;
  std::uint8_t* base_ = nullptr;
  bool reserveFailed_ = false;
  std::size_t used_ = 0;  // bump pointer for blocks never handed out yet
  std::vector<std::vector<std::uint32_t>> freeLists_;  // per size class, offsets
};

// The platform's half of the arena: low_arena_posix.cpp (mmap) or
// low_arena_win32.cpp (VirtualAlloc), chosen by the build.
// Readable and writable memory of bytes bytes lying wholly below 4 GiB, or
// null when the address space has none.
void* ReserveLowMemory(std::size_t bytes);
// Gives back what ReserveLowMemory returned, with the same byte count.
void ReleaseLowMemory(void* memory, std::size_t bytes);

// True when [p, p + bytes) ends at or below 4 GiB (always, in a 32-bit process).
inline bool FitsBelow4GiB(const void* p, std::size_t bytes) {
  constexpr std::uint64_t FourGiB = std::uint64_t{1} << 32;
  const std::uint64_t start = reinterpret_cast<std::uintptr_t>(p);
  return start < FourGiB && bytes <= FourGiB - start;
}

}  // namespace simhost
