// A score's bytes in and out: whole reads under the size limit for one
// score, and the sink that takes a written file's content piece by piece.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace musicxml {

// Bytes one score may take, as read or as unpacked from an archive. Past
// the limit a read fails before the memory is spent.
constexpr std::uint64_t DefaultMaxScoreBytes = std::uint64_t{256} << 20;
std::uint64_t MaxScoreBytes();
void SetMaxScoreBytes(std::uint64_t bytes);
// "larger than 256 MiB, the limit for one score"
std::string TooLargeText();

// Reads a whole file of at most MaxScoreBytes(); false with `error` (one
// line, without the path) otherwise.
bool ReadWholeFile(const std::string& path, std::string& out, std::string& error);
// The same for an open stream such as standard input.
bool ReadWholeStream(int fd, std::string& out, std::string& error);

// Takes one piece of a file's content; false once the content cannot be
// written (the producer may stop then).
using PieceSink = std::function<bool(std::string_view)>;

}  // namespace musicxml
