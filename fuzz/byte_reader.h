// Reads fuzzer input as a stream of little-endian values. Past the end every
// read gives 0, so any byte string decodes to something.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kqfuzz {

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
  int I8() {
    const int v = U8();
    return v < 128 ? v : v - 256;
  }
  std::uint16_t U16() {
    const std::uint16_t low = U8();
    return static_cast<std::uint16_t>(low | (U8() << 8));
  }
  std::int16_t I16() { return static_cast<std::int16_t>(U16()); }
  std::uint32_t U32() {
    const std::uint32_t low = U16();
    return low | (static_cast<std::uint32_t>(U16()) << 16);
  }
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  // Up to n bytes, fewer at the end of the input.
  std::vector<std::uint8_t> Bytes(std::size_t n) {
    const std::size_t take = n < Remaining() ? n : Remaining();
    std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + take);
    pos_ += take;
    return out;
  }
  // A count that is mostly small but can reach `large`: one byte, and a
  // 16-bit extension when that byte is 255.
  std::size_t Count(std::size_t large) {
    std::size_t n = U8();
    if (n == 255) n += U16();
    return n < large ? n : large;
  }
  std::size_t Remaining() const { return size_ - pos_; }
  bool AtEnd() const { return pos_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace kqfuzz
