#include "musicxml/text_io.h"

#include <iconv.h>
#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include <pugixml.hpp>

#include "musicxml/file_io.h"
#include "musicxml/musicxml.h"

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
    const std::uint32_t cp =
        ((b0 & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu);
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
    if (b < 0x80) usable = usable && code == b;
    else if (code >= 0) usable = usable && code >= 0x80 && code <= 0xFFFF && !(code >= 0xD800 && code <= 0xDFFF);
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

struct ZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};

bool ReadMember(zip_t* zip, zip_int64_t index, std::string& out, std::string& error) {
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(zip, static_cast<zip_uint64_t>(index), 0, &st) != 0 ||
      (st.valid & ZIP_STAT_SIZE) == 0) {
    error = zip_strerror(zip);
    return false;
  }
  // Bounds what a member may inflate to before any of it is held.
  if (st.size > MaxScoreBytes()) {
    error = "unpacks to " + TooLargeText();
    return false;
  }
  zip_file_t* file = zip_fopen_index(zip, static_cast<zip_uint64_t>(index), 0);
  if (file == nullptr) {
    error = zip_strerror(zip);
    return false;
  }
  out.assign(static_cast<std::size_t>(st.size), '\0');
  std::size_t got = 0;
  zip_int64_t n = 0;
  while (got < out.size() && (n = zip_fread(file, out.data() + got, out.size() - got)) > 0) {
    got += static_cast<std::size_t>(n);
  }
  char probe = 0;
  // Reading past the end makes libzip check the CRC of the whole member.
  if (n >= 0 && got == out.size()) n = zip_fread(file, &probe, 1);
  // libzip reports no error of its own when the data merely ends early or
  // goes on past the size the archive states.
  const bool failed = zip_error_code_zip(zip_file_get_error(file)) != ZIP_ER_OK;
  if (failed) {
    error = zip_file_strerror(file);
  } else if (got < out.size()) {
    error = "the member ends after " + std::to_string(got) + " of the " +
            std::to_string(out.size()) + " bytes the archive states";
  } else if (n > 0) {
    error = "the member holds more than the " + std::to_string(out.size()) +
            " bytes the archive states";
  }
  zip_fclose(file);
  if (!failed && got == out.size() && n == 0) return true;
  if (error.empty()) error = "the member cannot be read";
  return false;
}

std::unique_ptr<zip_t, ZipCloser> OpenArchive(std::string_view bytes, int flags,
                                              zip_source_t** keepSource, std::string& error) {
  zip_error_t ze;
  zip_error_init(&ze);
  zip_source_t* src = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &ze);
  if (src == nullptr) {
    error = zip_error_strerror(&ze);
    zip_error_fini(&ze);
    return nullptr;
  }
  if (keepSource != nullptr) {
    zip_source_keep(src);
    *keepSource = src;
  }
  zip_t* zip = zip_open_from_source(src, flags, &ze);
  if (zip == nullptr) {
    error = zip_error_strerror(&ze);
    zip_source_free(src);
    if (keepSource != nullptr) {
      zip_source_free(src);
      *keepSource = nullptr;
    }
  }
  zip_error_fini(&ze);
  return std::unique_ptr<zip_t, ZipCloser>(zip);
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
             key.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_.:") == std::string::npos) {
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
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; })) return true;
    error = "encoding " + name + " is not supported; convert the file to UTF-8";
    return false;
  }
  encoding = XmlText::Encoding::SingleByte;
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
        error = std::string("byte 0x") + Hex[b >> 4] + Hex[b & 0xF] + " at offset " + std::to_string(i) +
                " is no character in " + map->name;
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
          for (std::uint32_t v = cp; v != 0 || digits.empty(); v >>= 4) digits.insert(digits.begin(), Hex[v & 0xF]);
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

std::string ApplyEdits(const std::string& text, std::vector<TextEdit> edits) {
  std::stable_sort(edits.begin(), edits.end(),
                   [](const TextEdit& a, const TextEdit& b) { return a.offset < b.offset; });
  std::string out;
  out.reserve(text.size() + 256 * edits.size());
  std::size_t pos = 0;
  for (const TextEdit& e : edits) {
    const std::size_t start = std::max(pos, std::min(e.offset, text.size()));
    out.append(text, pos, start - pos);
    out += e.text;
    pos = std::min(text.size(), std::max(pos, e.offset + e.length));
  }
  out.append(text, pos, std::string::npos);
  return out;
}

namespace {

// The root file that META-INF/container.xml names, or the archive's lone
// score when that file is missing (with a warning).
bool FindRootPath(zip_t* zip, std::string& rootPath, std::vector<std::string>& warnings,
                  std::string& error) {
  rootPath.clear();
  const zip_int64_t container = zip_name_locate(zip, "META-INF/container.xml", 0);
  if (container >= 0) {
    std::string bytes;
    if (!ReadMember(zip, container, bytes, error)) {
      error = "META-INF/container.xml: " + error;
      return false;
    }
    pugi::xml_document doc;
    if (!doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default)) {
      error = "META-INF/container.xml is not readable XML";
      return false;
    }
    pugi::xml_node first;
    for (pugi::xml_node rf : doc.child("container").child("rootfiles").children("rootfile")) {
      const std::string type = rf.attribute("media-type").as_string();
      if (first == nullptr && (type.empty() || type.find("musicxml") != std::string::npos)) {
        first = rf;
      }
    }
    if (first == nullptr) first = doc.child("container").child("rootfiles").child("rootfile");
    rootPath = first.attribute("full-path").as_string();
    if (rootPath.empty()) {
      error = "META-INF/container.xml names no root file";
      return false;
    }
  } else {
    // Forgiving: a lone score without the container file.
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < count && rootPath.empty(); ++i) {
      const char* name = zip_get_name(zip, static_cast<zip_uint64_t>(i), 0);
      if (name == nullptr) continue;
      const std::string n = name;
      if (n.rfind("META-INF/", 0) == 0) continue;
      if ((n.size() > 4 && n.compare(n.size() - 4, 4, ".xml") == 0) ||
          (n.size() > 9 && n.compare(n.size() - 9, 9, ".musicxml") == 0)) {
        rootPath = n;
      }
    }
    if (rootPath.empty()) {
      error = "archive has no META-INF/container.xml and no score";
      return false;
    }
    warnings.push_back("archive has no META-INF/container.xml; reading " + rootPath);
  }
  return true;
}

}  // namespace

bool ReadArchive(std::string_view archive, std::string& rootPath, std::string& rootBytes,
                 std::vector<std::string>& warnings, std::string& error) {
  auto zip = OpenArchive(archive, ZIP_RDONLY | ZIP_CHECKCONS, nullptr, error);
  if (!zip) {
    error = "not a readable .mxl archive: " + error;
    return false;
  }
  if (!FindRootPath(zip.get(), rootPath, warnings, error)) return false;
  const zip_int64_t root = zip_name_locate(zip.get(), rootPath.c_str(), 0);
  if (root < 0) {
    error = "root file " + rootPath + " is missing from the archive";
    return false;
  }
  if (!ReadMember(zip.get(), root, rootBytes, error)) {
    error = rootPath + ": " + error;
    return false;
  }
  return true;
}

std::vector<std::string> ExtraArchiveMembers(std::string_view archive) {
  std::vector<std::string> names;
  std::string error;
  auto zip = OpenArchive(archive, ZIP_RDONLY, nullptr, error);
  std::string rootPath;
  std::vector<std::string> warnings;
  if (!zip || !FindRootPath(zip.get(), rootPath, warnings, error)) return names;
  const zip_int64_t count = zip_get_num_entries(zip.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(zip.get(), static_cast<zip_uint64_t>(i), 0);
    if (name == nullptr) continue;
    const std::string n = name;
    // Directory entries hold nothing of their own.
    if (n == rootPath || n == "mimetype" || n == "META-INF/container.xml" || n.ends_with('/')) {
      continue;
    }
    names.push_back(n);
  }
  return names;
}

bool ReplaceArchiveMember(std::string_view archive, const std::string& path,
                          const std::string& bytes, std::string& out, std::string& error) {
  zip_source_t* src = nullptr;
  auto zip = OpenArchive(archive, 0, &src, error);
  if (!zip) return false;
  bool ok = false;
  const zip_int64_t index = zip_name_locate(zip.get(), path.c_str(), 0);
  zip_source_t* member = nullptr;
  if (index < 0) {
    error = "root file " + path + " is missing from the archive";
  } else if ((member = zip_source_buffer(zip.get(), bytes.data(), bytes.size(), 0)) == nullptr) {
    error = zip_strerror(zip.get());
  } else if (zip_file_replace(zip.get(), static_cast<zip_uint64_t>(index), member, 0) < 0) {
    error = zip_strerror(zip.get());
    zip_source_free(member);
  } else {
    zip_set_file_compression(zip.get(), static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 0);
    if (zip_close(zip.get()) != 0) {
      error = zip_strerror(zip.get());
    } else {
      static_cast<void>(zip.release());  // zip_close freed it
      zip_stat_t st;
      zip_stat_init(&st);
      if (zip_source_open(src) == 0) {
        if (zip_source_stat(src, &st) == 0 && (st.valid & ZIP_STAT_SIZE) != 0) {
          out.assign(static_cast<std::size_t>(st.size), '\0');
          ok = zip_source_read(src, out.data(), out.size()) ==
               static_cast<zip_int64_t>(out.size());
        }
        zip_source_close(src);
      }
      if (!ok) error = "cannot read back the rewritten archive";
    }
  }
  zip.reset();
  zip_source_free(src);
  return ok;
}

bool MakeArchive(const std::string& rootPath, const std::string& rootBytes, std::string& out,
                 std::string& error) {
  static const std::string mimetype = "application/vnd.recordare.musicxml";
  const std::string container =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<container>\n  <rootfiles>\n    <rootfile full-path=\"" + rootPath +
      "\" media-type=\"application/vnd.recordare.musicxml+xml\"/>\n  </rootfiles>\n</container>\n";
  zip_error_t ze;
  zip_error_init(&ze);
  zip_source_t* src = zip_source_buffer_create(nullptr, 0, 0, &ze);
  if (src == nullptr) {
    error = zip_error_strerror(&ze);
    zip_error_fini(&ze);
    return false;
  }
  zip_source_keep(src);
  zip_t* zip = zip_open_from_source(src, ZIP_TRUNCATE, &ze);
  bool ok = zip != nullptr;
  if (!ok) error = zip_error_strerror(&ze);
  zip_error_fini(&ze);
  const std::pair<const std::string*, const char*> members[] = {
      {&mimetype, "mimetype"}, {&container, "META-INF/container.xml"}, {&rootBytes, rootPath.c_str()}};
  for (const auto& [bytes, name] : members) {
    if (!ok) break;
    zip_source_t* member = zip_source_buffer(zip, bytes->data(), bytes->size(), 0);
    const zip_int64_t index = member == nullptr ? -1 : zip_file_add(zip, name, member, 0);
    if (index < 0) {
      if (member != nullptr) zip_source_free(member);
      error = zip_strerror(zip);
      ok = false;
    } else {
      // Readers look for the media type stored uncompressed at the start.
      zip_set_file_compression(zip, static_cast<zip_uint64_t>(index),
                               bytes == &mimetype ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    }
  }
  if (ok && zip_close(zip) != 0) {
    error = zip_strerror(zip);
    ok = false;
  }
  if (!ok && zip != nullptr) zip_discard(zip);
  if (ok) {
    ok = false;
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_source_open(src) == 0) {
      if (zip_source_stat(src, &st) == 0 && (st.valid & ZIP_STAT_SIZE) != 0) {
        out.assign(static_cast<std::size_t>(st.size), '\0');
        ok = zip_source_read(src, out.data(), out.size()) == static_cast<zip_int64_t>(out.size());
      }
      zip_source_close(src);
    }
    if (!ok) error = "cannot read back the new archive";
  }
  zip_source_free(src);
  return ok;
}

std::uint64_t ScoreWorkSize(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  int failure = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &failure);
  if (zip == nullptr) return size;  // not an archive: read as it is
  std::uint64_t unpacked = 0;
  const zip_int64_t count = zip_get_num_entries(zip, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t entry;
    zip_stat_init(&entry);
    if (zip_stat_index(zip, static_cast<zip_uint64_t>(i), 0, &entry) == 0 &&
        (entry.valid & ZIP_STAT_SIZE) != 0) {
      unpacked += std::min<std::uint64_t>(entry.size, MaxScoreBytes());
    }
  }
  zip_discard(zip);
  return std::max(size, unpacked);
}

}  // namespace musicxml
