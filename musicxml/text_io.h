// Bytes in and out: the encodings of an XML file, .mxl archives, atomic
// writes. Kept apart from the score mapping so each part is testable alone.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/file_io.h"

namespace musicxml {

// An XML file as UTF-8 text plus what is needed to give back its own bytes.
struct XmlText {
  enum class Encoding { Utf8, Utf16LE, Utf16BE, Latin1 };
  Encoding encoding = Encoding::Utf8;
  std::string bom;   // the byte order mark as found ("" when none)
  std::string text;  // UTF-8, without the mark
};

// Decodes UTF-8 (with or without mark), UTF-16 (mark, or "<?" in 16-bit
// units) and ISO-8859-1 (by declaration). False with `error` otherwise.
bool DecodeXmlText(std::string_view bytes, XmlText& out, std::string& error);
// The bytes of `text` in `like`'s encoding, mark included.
std::string EncodeXmlText(const XmlText& like, const std::string& text);

// One replacement in a text: `length` bytes at `offset` become `text`.
struct TextEdit {
  std::size_t offset = 0;
  std::size_t length = 0;
  std::string text;
};
// Applies non-overlapping edits; equal offsets keep their order.
std::string ApplyEdits(const std::string& text, std::vector<TextEdit> edits);

// The member that META-INF/container.xml names as root file, its bytes.
bool ReadArchive(std::string_view archive, std::string& rootPath, std::string& rootBytes,
                 std::vector<std::string>& warnings, std::string& error);
// The members a plain copy of the root file leaves behind: all but the root
// file, "mimetype" and META-INF/container.xml. Empty when unreadable.
std::vector<std::string> ExtraArchiveMembers(std::string_view archive);
// The archive with member `path` replaced by `bytes`; other members as they were.
bool ReplaceArchiveMember(std::string_view archive, const std::string& path,
                          const std::string& bytes, std::string& out, std::string& error);

// A new .mxl archive holding one score: "mimetype" (stored, first),
// META-INF/container.xml naming `rootPath`, and the score itself.
bool MakeArchive(const std::string& rootPath, const std::string& rootBytes, std::string& out,
                 std::string& error);

}  // namespace musicxml
