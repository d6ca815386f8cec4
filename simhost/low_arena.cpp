#include "simhost/low_arena.h"

namespace simhost {

namespace {

constexpr int MinClassShift = 8;  // 256-byte blocks at least
constexpr int ClassCount = 24;    // up to 2^31 bytes

}  // namespace

LowArena::LowArena(std::size_t capacity) : capacity_(capacity), freeLists_(ClassCount) {}

LowArena::~LowArena() {
  if (base_ != nullptr) ReleaseLowMemory(base_, capacity_);
}

bool LowArena::Reserve() {
  if (base_ != nullptr) return true;
  if (reserveFailed_) return false;
  base_ = static_cast<std::uint8_t*>(ReserveLowMemory(capacity_));
  reserveFailed_ = base_ == nullptr;
  return !reserveFailed_;
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
