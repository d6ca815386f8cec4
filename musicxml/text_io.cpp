#include "musicxml/text_io.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace musicxml {

namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 sequence; invalid bytes read as themselves (Latin-1),
// which only happens for text we did not produce.
std::uint32_t NextUtf8(const std::string& s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  auto cont = [&](std::size_t k) {
    return k < s.size() && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80;
  };
  if (b0 >= 0xF0 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
    const std::uint32_t cp = ((b0 & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) |
                             ((s[i + 2] & 0x3Fu) << 6) | (s[i + 3] & 0x3Fu);
    i += 4;
    return cp;
  }
  if (b0 >= 0xE0 && cont(i + 1) && cont(i + 2)) {
    const std::uint32_t cp = ((b0 & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
    i += 3;
    return cp;
  }
  if (b0 >= 0xC0 && cont(i + 1)) {
    const std::uint32_t cp = ((b0 & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu);
    i += 2;
    return cp;
  }
  ++i;
  return b0;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

// The encoding named in the XML declaration, as written; "" when none.
std::string DeclaredName(std::string_view bytes) {
  if (bytes.substr(0, 5) != "<?xml") return "";
  const std::size_t end = bytes.find("?>");
  const std::string_view decl = bytes.substr(0, end);
  const std::size_t at = decl.find("encoding");
  if (at == std::string_view::npos) return "";
  std::size_t q = decl.find_first_of("\"'", at);
  if (q == std::string_view::npos) return "";
  const std::size_t close = decl.find(decl[q], q + 1);
  if (close == std::string_view::npos) return "";
  return std::string(decl.substr(q + 1, close - q - 1));
}

// windows-1252 where it differs from ISO-8859-1 (0x80..0x9F), as browsers
// read it: the five bytes the code page leaves open stay C1 controls.
constexpr std::uint16_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The map from the C library's converter, when the encoding is one byte per
// character, stateless and ASCII below 0x80 (what libexpat can be taught).
std::unique_ptr<ByteMap> ConverterMap(const std::string& name) {
  iconv_t cd = iconv_open("UTF-32LE", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
  auto map = std::make_unique<ByteMap>();
  map->name = name;
  bool usable = true;
  for (int b = 0; b < 256 && usable; ++b) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in = static_cast<char>(b);
    unsigned char out[16] = {};
    char* inPtr = &in;
    char* outPtr = reinterpret_cast<char*>(out);
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    const std::size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    std::int32_t code = -1;
    if (done == static_cast<std::size_t>(-1)) {
      usable = errno == EILSEQ;  // EINVAL: the byte starts a longer sequence
    } else if (sizeof out - outLeft == 4 && inLeft == 0) {
      code = static_cast<std::int32_t>(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24);
    } else {
      usable = false;  // no character, or several, for one byte
    }
    // libexpat takes ASCII as itself, and nothing else may map onto it; its
    // taught encodings reach only the Basic Multilingual Plane.
    if (b < 0x80)
      usable = usable && code == b;
    else if (code >= 0)
      usable = usable && code >= 0x80 && code <= 0xFFFF && !(code >= 0xD800 && code <= 0xDFFF);
    map->codes[static_cast<std::size_t>(b)] = code;
  }
  iconv_close(cd);
  return usable ? std::move(map) : nullptr;
}

bool DecodeUtf16(std::string_view bytes, bool littleEndian, std::string& out, std::string& error) {
  if (bytes.size() % 2 != 0) {
    error = "UTF-16 text with an odd number of bytes";
    return false;
  }
  out.clear();
  out.reserve(bytes.size() / 2 + bytes.size() / 8);
  auto unit = [&](std::size_t i) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<std::uint32_t>(littleEndian ? (a | (b << 8)) : ((a << 8) | b));
  };
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint32_t cp = unit(i);
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (i + 3 >= bytes.size()) {
        error = "invalid UTF-16 (unpaired surrogate)";
        return false;
      }
      const std::uint32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) {
        error = "invalid UTF-16 (unpaired surrogate)";
        return false;
      }
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      error = "invalid UTF-16 (unpaired surrogate)";
      return false;
    }
    AppendUtf8(out, cp);
  }
  return true;
}

}  // namespace

const ByteMap* FindByteMap(const std::string& name) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<ByteMap>> maps;  // null: not usable
  const std::string key = Lower(name);
  const std::lock_guard<std::mutex> lock(mutex);
  const auto it = maps.find(key);
  if (it != maps.end()) return it->second.get();
  std::unique_ptr<ByteMap> map;
  if (key == "windows-1252" || key == "cp1252" || key == "x-cp1252") {
    map = std::make_unique<ByteMap>();
    map->name = name;
    for (std::size_t b = 0; b < 256; ++b) map->codes[b] = static_cast<std::int32_t>(b);
    for (std::size_t b = 0; b < 32; ++b) map->codes[0x80 + b] = Windows1252High[b];
  } else if (!key.empty() && key.size() < 64 &&
             key.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_.:") ==
                 std::string::npos) {
    map = ConverterMap(name);
  }
  return maps.emplace(key, std::move(map)).first->second.get();
}

bool DeclaredEncodingOf(std::string_view bytes, XmlText::Encoding& encoding, const ByteMap*& map,
                        std::string& error) {
  encoding = XmlText::Encoding::Utf8;
  map = nullptr;
  const std::string name = DeclaredName(bytes);
  const std::string declared = Lower(name);
  if (declared.empty() || declared == "utf-8" || declared == "utf8" || declared == "us-ascii" ||
      declared == "ascii" || declared.rfind("utf-16", 0) == 0 || declared == "utf16" ||
      declared == "ucs-2" || declared == "iso-10646-ucs-2") {
    return true;
  }
  if (declared == "iso-8859-1" || declared == "latin1" || declared == "latin-1" ||
      declared == "iso8859-1" || declared == "iso_8859-1" || declared == "l1") {
    encoding = XmlText::Encoding::Latin1;
    return true;
  }
  map = FindByteMap(name);
  if (map == nullptr) {
    // Text that is ASCII throughout reads the same in any encoding that
    // keeps ASCII; anything else cannot be read without its encoding.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; }))
      return true;
    error = "encoding " + name + " is not supported; convert the file to UTF-8";
    return false;
  }
  encoding = XmlText::Encoding::SingleByte;
  return true;
}

bool DetectEncoding(std::string_view bytes, SourceEncoding& out, std::string& error) {
  out = SourceEncoding{};
  auto at = [&](std::size_t i) {
    return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100u;
  };
  if ((at(0) == 0 && at(1) == 0 && at(2) == 0xFE && at(3) == 0xFF) ||
      (at(0) == 0xFF && at(1) == 0xFE && at(2) == 0 && at(3) == 0)) {
    error = "UTF-32 text is not supported";
    return false;
  }
  if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
    out.bomSize = 3;
  } else if (at(0) == 0xFF && at(1) == 0xFE) {
    out = {XmlText::Encoding::Utf16LE, 2};
  } else if (at(0) == 0xFE && at(1) == 0xFF) {
    out = {XmlText::Encoding::Utf16BE, 2};
  } else if (at(0) == '<' && at(1) == 0 && at(2) != 0x100u && at(3) == 0) {
    out.encoding = XmlText::Encoding::Utf16LE;
  } else if (at(0) == 0 && at(1) == '<' && at(2) == 0) {
    out.encoding = XmlText::Encoding::Utf16BE;
  } else {
    // The encoding named in the XML declaration, as the text decoder reads it.
    const std::size_t end = bytes.substr(0, 4096).find("?>");
    const std::string_view head = bytes.substr(0, end == std::string_view::npos ? 0 : end + 2);
    if (!DeclaredEncodingOf(head.empty() ? head : bytes, out.encoding, out.map, error))
      return false;
  }
  if ((out.encoding == XmlText::Encoding::Utf16LE || out.encoding == XmlText::Encoding::Utf16BE) &&
      (bytes.size() - out.bomSize) % 2 != 0) {
    error = "UTF-16 text with an odd number of bytes";
    return false;
  }
  return true;
}

bool DecodeXmlText(std::string_view bytes, XmlText& out, std::string& error) {
  out = XmlText{};
  auto at = [&](std::size_t i) {
    return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100u;
  };
  if (at(0) == 0 && at(1) == 0 && at(2) == 0xFE && at(3) == 0xFF) {
    error = "UTF-32 text is not supported";
    return false;
  }
  if (at(0) == 0xFF && at(1) == 0xFE && at(2) == 0 && at(3) == 0) {
    error = "UTF-32 text is not supported";
    return false;
  }
  if (at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
    out.bom = std::string(bytes.substr(0, 3));
    out.text = std::string(bytes.substr(3));
    return true;
  }
  if (at(0) == 0xFF && at(1) == 0xFE) {
    out.encoding = XmlText::Encoding::Utf16LE;
    out.bom = std::string(bytes.substr(0, 2));
    return DecodeUtf16(bytes.substr(2), true, out.text, error);
  }
  if (at(0) == 0xFE && at(1) == 0xFF) {
    out.encoding = XmlText::Encoding::Utf16BE;
    out.bom = std::string(bytes.substr(0, 2));
    return DecodeUtf16(bytes.substr(2), false, out.text, error);
  }
  if (at(0) == '<' && at(1) == 0 && at(2) != 0x100u && at(3) == 0) {
    out.encoding = XmlText::Encoding::Utf16LE;
    return DecodeUtf16(bytes, true, out.text, error);
  }
  if (at(0) == 0 && at(1) == '<' && at(2) == 0) {
    out.encoding = XmlText::Encoding::Utf16BE;
    return DecodeUtf16(bytes, false, out.text, error);
  }
  const ByteMap* map = nullptr;
  if (!DeclaredEncodingOf(bytes, out.encoding, map, error)) return false;
  out.map = map;
  if (out.encoding == XmlText::Encoding::Latin1) {
    out.text.reserve(bytes.size());
    for (char c : bytes) AppendUtf8(out.text, static_cast<unsigned char>(c));
    return true;
  }
  if (out.encoding == XmlText::Encoding::SingleByte) {
    out.text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const std::int32_t code = map->codes[static_cast<unsigned char>(bytes[i])];
      if (code < 0) {
        static constexpr char Hex[] = "0123456789ABCDEF";
        const auto b = static_cast<unsigned char>(bytes[i]);
        error = std::string("byte 0x") + Hex[b >> 4] + Hex[b & 0xF] + " at offset " +
                std::to_string(i) + " is no character in " + map->name;
        return false;
      }
      AppendUtf8(out.text, static_cast<std::uint32_t>(code));
    }
    return true;
  }
  // UTF-8, ASCII, or a declaration that does not match 8-bit text: read as
  // UTF-8 like most readers do.
  out.text = std::string(bytes);
  return true;
}

std::string EncodeXmlText(const XmlText& like, const std::string& text) {
  std::string out = like.bom;
  switch (like.encoding) {
    case XmlText::Encoding::Utf8:
      out += text;
      break;
    case XmlText::Encoding::Latin1:
    case XmlText::Encoding::SingleByte: {
      // What the encoding cannot hold goes in as a character reference.
      std::map<std::uint32_t, char> bytes;
      if (like.map != nullptr) {
        for (int b = 255; b >= 0; --b) {
          const std::int32_t code = like.map->codes[static_cast<std::size_t>(b)];
          if (code >= 0) bytes[static_cast<std::uint32_t>(code)] = static_cast<char>(b);
        }
      }
      for (std::size_t i = 0; i < text.size();) {
        const std::uint32_t cp = NextUtf8(text, i);
        if (like.encoding == XmlText::Encoding::Latin1 && cp <= 0xFF) {
          out += static_cast<char>(cp);
        } else if (const auto it = bytes.find(cp); it != bytes.end()) {
          out += it->second;
        } else {
          static constexpr char Hex[] = "0123456789ABCDEF";
          std::string digits;
          for (std::uint32_t v = cp; v != 0 || digits.empty(); v >>= 4)
            digits.insert(digits.begin(), Hex[v & 0xF]);
          out += "&#x" + digits + ";";
        }
      }
      break;
    }
    case XmlText::Encoding::Utf16LE:
    case XmlText::Encoding::Utf16BE: {
      const bool le = like.encoding == XmlText::Encoding::Utf16LE;
      out.reserve(out.size() + text.size() * 2);
      auto put = [&](std::uint32_t u) {
        const char lo = static_cast<char>(u & 0xFF);
        const char hi = static_cast<char>((u >> 8) & 0xFF);
        out += le ? lo : hi;
        out += le ? hi : lo;
      };
      for (std::size_t i = 0; i < text.size();) {
        const std::uint32_t cp = NextUtf8(text, i);
        if (cp >= 0x10000) {
          put(0xD800 + ((cp - 0x10000) >> 10));
          put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
          put(cp);
        }
      }
      break;
    }
  }
  return out;
}

}  // namespace musicxml
