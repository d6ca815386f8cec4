#include "musicxml/zip_io.h"

#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>

#include <pugixml.hpp>

#include "musicxml/file_io.h"
#include "musicxml/musicxml.h"

namespace musicxml {

namespace {

struct ZipCloser {
  void operator()(zip_t* z) const { zip_discard(z); }
};

// The whole content of an in-memory source that libzip has written an
// archive into.
bool ReadSource(zip_source_t* src, std::string& out) {
  bool ok = false;
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_source_open(src) == 0) {
    if (zip_source_stat(src, &st) == 0 && (st.valid & ZIP_STAT_SIZE) != 0) {
      out.assign(static_cast<std::size_t>(st.size), '\0');
      ok = zip_source_read(src, out.data(), out.size()) == static_cast<zip_int64_t>(out.size());
    }
    zip_source_close(src);
  }
  return ok;
}

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
      ok = ReadSource(src, out);
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
      "<container>\n  <rootfiles>\n    <rootfile full-path=\"" +
      rootPath +
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
      {&mimetype, "mimetype"},
      {&container, "META-INF/container.xml"},
      {&rootBytes, rootPath.c_str()}};
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
    ok = ReadSource(src, out);
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
