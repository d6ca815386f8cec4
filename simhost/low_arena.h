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

}  // namespace simhost
