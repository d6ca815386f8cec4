// The text of an XML file: which encoding its bytes are in, decoding them to
// UTF-8 and encoding text back into them. Kept apart from the score mapping
// so each part is testable alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/file_io.h"

namespace musicxml {

// A single-byte encoding that libexpat does not know by itself (windows-1252,
// ISO-8859-15, windows-1251, ...): the code point of every byte, -1 where a
// byte is no character. Bytes below 0x80 are ASCII.
struct ByteMap {
  std::string name;  // as declared
  std::array<std::int32_t, 256> codes{};
};
// The map of a declared encoding: windows-1252 (cp1252) from its own table,
// any other from the C library's converters when it is ASCII-compatible,
// single-byte and stateless. Null otherwise. Maps live as long as the program.
const ByteMap* FindByteMap(const std::string& name);

// An XML file as UTF-8 text plus what is needed to give back its own bytes.
struct XmlText {
  enum class Encoding { Utf8, Utf16LE, Utf16BE, Latin1, SingleByte };
  Encoding encoding = Encoding::Utf8;
  const ByteMap* map = nullptr;  // for SingleByte
  std::string bom;               // the byte order mark as found ("" when none)
  std::string text;              // UTF-8, without the mark
};

// The encoding an 8-bit document (no mark, not UTF-16) declares: UTF-8 for
// none, UTF-8, ASCII and UTF-16 names (a declaration that does not match
// 8-bit text reads as UTF-8, as most readers do), Latin1 for ISO-8859-1,
// SingleByte with its map for the encodings FindByteMap knows, UTF-8 for
// text that is ASCII throughout. False with "encoding NAME is not
// supported; convert the file to UTF-8" otherwise.
bool DeclaredEncodingOf(std::string_view bytes, XmlText::Encoding& encoding, const ByteMap*& map,
                        std::string& error);

// How a score file's bytes are read: its encoding and the length of its mark.
struct SourceEncoding {
  XmlText::Encoding encoding = XmlText::Encoding::Utf8;
  std::size_t bomSize = 0;
  const ByteMap* map = nullptr;  // for SingleByte
};

// UTF-8 (mark or none), UTF-16 (mark, or '<' in 16-bit units), ISO-8859-1
// and the single-byte encodings FindByteMap knows by declaration; UTF-32 and
// other declared encodings are refused (DeclaredEncodingOf).
bool DetectEncoding(std::string_view bytes, SourceEncoding& out, std::string& error);

// Decodes UTF-8 (with or without mark), UTF-16 (mark, or "<?" in 16-bit
// units) and the declared 8-bit encodings above. False with `error` otherwise.
bool DecodeXmlText(std::string_view bytes, XmlText& out, std::string& error);
// The bytes of `text` in `like`'s encoding, mark included. A character the
// encoding cannot hold becomes a character reference (&#x5B8B;): only for
// text that goes into character data or attribute values.
std::string EncodeXmlText(const XmlText& like, const std::string& text);

}  // namespace musicxml
