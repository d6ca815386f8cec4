#include "simhost/low_arena.h"

#include <sys/mman.h>

namespace simhost {

namespace {

constexpr int MinClassShift = 8;  // 256-byte blocks at least
constexpr int ClassCount = 24;    // up to 2^31 bytes
constexpr std::uintptr_t FourGiB = std::uintptr_t{1} << 32;

bool FitsBelow4GiB(const void* p, std::size_t size) {
  const auto a = reinterpret_cast<std::uintptr_t>(p);
  return a < FourGiB && size <= FourGiB - a;
}

}  // namespace

LowArena::LowArena(std::size_t capacity) : capacity_(capacity), freeLists_(ClassCount) {}

LowArena::~LowArena() {
  if (base_ != nullptr) munmap(base_, capacity_);
}

bool LowArena::Reserve() {
  if (base_ != nullptr) return true;
  if (reserveFailed_) return false;
  const int prot = PROT_READ | PROT_WRITE;
  const int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
#if defined(MAP_32BIT)
  void* p = mmap(nullptr, capacity_, prot, flags | MAP_32BIT, -1, 0);
  if (p != MAP_FAILED) {
    if (FitsBelow4GiB(p, capacity_)) {
      base_ = static_cast<std::uint8_t*>(p);
      return true;
    }
    munmap(p, capacity_);
  }
#endif
  // Without MAP_32BIT: ask for addresses below 4 GiB and keep only what fits.
  for (std::uintptr_t hint = 0x10000000; hint + capacity_ <= FourGiB; hint += 0x10000000) {
    void* q = mmap(reinterpret_cast<void*>(hint), capacity_, prot, flags, -1, 0);
    if (q == MAP_FAILED) continue;
    if (FitsBelow4GiB(q, capacity_)) {
      base_ = static_cast<std::uint8_t*>(q);
      return true;
    }
    munmap(q, capacity_);
  }
  reserveFailed_ = true;
  return false;
}

int LowArena::SizeClass(std::size_t bytes) {
  int shift = MinClassShift;
  while (shift < MinClassShift + ClassCount && (std::size_t{1} << shift) < bytes) ++shift;
  return shift - MinClassShift;
}

std::uint8_t* LowArena::Allocate(std::size_t bytes) {
  const int cls = SizeClass(bytes);
  if (cls >= ClassCount || !Reserve()) return nullptr;
  auto& list = freeLists_[static_cast<std::size_t>(cls)];
  if (!list.empty()) {
    const std::uint32_t offset = list.back();
    list.pop_back();
    return base_ + offset;
  }
  const std::size_t blockSize = std::size_t{1} << (cls + MinClassShift);
  if (blockSize > capacity_ - used_) return nullptr;
  std::uint8_t* block = base_ + used_;
  used_ += blockSize;
  return block;
}

void LowArena::Release(std::uint8_t* block, std::size_t bytes) {
  if (block == nullptr || !Contains(block)) return;
  const int cls = SizeClass(bytes);
  if (cls >= ClassCount) return;
  freeLists_[static_cast<std::size_t>(cls)].push_back(static_cast<std::uint32_t>(block - base_));
}

bool LowArena::Contains(const void* p) const {
  const auto a = reinterpret_cast<std::uintptr_t>(p);
  const auto b = reinterpret_cast<std::uintptr_t>(base_);
  return base_ != nullptr && a >= b && a - b < used_;
}

}  // namespace simhost
