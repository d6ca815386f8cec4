// Encodings, text edits and .mxl archives.
#include <gtest/gtest.h>
#include <zip.h>

#include <string>
#include <vector>

#include "musicxml/musicxml.h"
#include "musicxml/text_io.h"
#include "musicxml/zip_io.h"

// Also used by the score tests.
std::string MakeTestZip(const std::vector<std::pair<std::string, std::string>>& members) {
  zip_error_t ze;
  zip_error_init(&ze);
  zip_source_t* src = zip_source_buffer_create(nullptr, 0, 0, &ze);
  zip_source_keep(src);
  zip_t* z = zip_open_from_source(src, ZIP_TRUNCATE, &ze);
  for (const auto& [name, data] : members) {
    zip_source_t* s = zip_source_buffer(z, data.data(), data.size(), 0);
    zip_file_add(z, name.c_str(), s, ZIP_FL_ENC_UTF_8);
  }
  zip_close(z);
  std::string out;
  zip_stat_t st;
  zip_source_open(src);
  zip_source_stat(src, &st);
  out.resize(st.size);
  zip_source_read(src, out.data(), out.size());
  zip_source_close(src);
  zip_source_free(src);
  zip_error_fini(&ze);
  return out;
}

namespace {

using musicxml::XmlText;

std::string Utf16(const std::string& ascii, bool le, bool bom) {
  std::string out;
  if (bom) out += le ? std::string("\xFF\xFE") : std::string("\xFE\xFF");
  for (char c : ascii) {
    out += le ? c : '\0';
    out += le ? '\0' : c;
  }
  return out;
}

TEST(XmlTextTest, Utf16WithAndWithoutMarkRoundTrips) {
  const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><a>x</a>";
  for (bool le : {true, false}) {
    for (bool bom : {true, false}) {
      SCOPED_TRACE(std::string(le ? "LE" : "BE") + (bom ? " with mark" : ""));
      const std::string bytes = Utf16(xml, le, bom);
      XmlText text;
      std::string error;
      ASSERT_TRUE(musicxml::DecodeXmlText(bytes, text, error)) << error;
      EXPECT_EQ(text.text, xml);
      EXPECT_EQ(musicxml::EncodeXmlText(text, text.text), bytes);
    }
  }
}

TEST(XmlTextTest, SurrogatePairsSurvive) {
  // U+1D11E MUSICAL SYMBOL G CLEF, as UTF-16LE D834 DD1E.
  const std::string bytes = std::string("\xFF\xFE<\0a\0>\0\x34\xD8\x1E\xDD<\0/\0a\0>\0", 20);
  XmlText text;
  std::string error;
  ASSERT_TRUE(musicxml::DecodeXmlText(bytes, text, error)) << error;
  EXPECT_EQ(text.text, "<a>\xF0\x9D\x84\x9E</a>");
  EXPECT_EQ(musicxml::EncodeXmlText(text, text.text), bytes);
}

TEST(XmlTextTest, BadUtf16AndUtf32AreErrors) {
  XmlText text;
  std::string error;
  EXPECT_FALSE(musicxml::DecodeXmlText(std::string("\xFF\xFE<\0\x00\xDC", 6), text, error));
  EXPECT_NE(error.find("surrogate"), std::string::npos);
  EXPECT_FALSE(musicxml::DecodeXmlText(std::string("\xFF\xFE<\0a", 5), text, error));
  EXPECT_FALSE(musicxml::DecodeXmlText(std::string("\xFF\xFE\0\0<\0\0\0", 8), text, error));
  EXPECT_NE(error.find("UTF-32"), std::string::npos);
}

TEST(XmlTextTest, Utf8MarkAndLatin1) {
  XmlText text;
  std::string error;
  ASSERT_TRUE(musicxml::DecodeXmlText("\xEF\xBB\xBF<a/>", text, error));
  EXPECT_EQ(text.text, "<a/>");
  EXPECT_EQ(musicxml::EncodeXmlText(text, text.text), "\xEF\xBB\xBF<a/>");

  const std::string latin = "<?xml version='1.0' encoding='ISO-8859-1'?><a>caf\xE9</a>";
  ASSERT_TRUE(musicxml::DecodeXmlText(latin, text, error));
  EXPECT_EQ(text.encoding, XmlText::Encoding::Latin1);
  EXPECT_NE(text.text.find("caf\xC3\xA9"), std::string::npos);
  EXPECT_EQ(musicxml::EncodeXmlText(text, text.text), latin);
}

std::vector<std::pair<std::string, std::string>> Members(const std::string& archive) {
  std::vector<std::pair<std::string, std::string>> out;
  zip_error_t ze;
  zip_error_init(&ze);
  zip_source_t* src = zip_source_buffer_create(archive.data(), archive.size(), 0, &ze);
  zip_t* z = zip_open_from_source(src, ZIP_RDONLY, &ze);
  EXPECT_NE(z, nullptr);
  if (z == nullptr) return out;
  for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
    zip_stat_t st;
    zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st);
    std::string data(st.size, '\0');
    zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
    zip_fread(f, data.data(), data.size());
    zip_fclose(f);
    out.emplace_back(zip_get_name(z, static_cast<zip_uint64_t>(i), 0), data);
  }
  zip_discard(z);
  zip_error_fini(&ze);
  return out;
}

const char* Container(const char* root) {
  static std::string s;
  s = std::string("<?xml version=\"1.0\"?><container><rootfiles><rootfile full-path=\"") + root +
      "\" media-type=\"application/vnd.recordare.musicxml+xml\"/></rootfiles></container>";
  return s.c_str();
}

TEST(ArchiveTest, RootFromContainerAndOthersKept) {
  const std::string archive = MakeTestZip({{"mimetype", "application/vnd.recordare.musicxml"},
                                           {"META-INF/container.xml", Container("b/score.xml")},
                                           {"a/other.xml", "<other/>"},
                                           {"b/score.xml", "<score-partwise/>"},
                                           {"extra.bin", std::string("\0\1\2", 3)}});
  std::string root;
  std::string bytes;
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_TRUE(musicxml::ReadArchive(archive, root, bytes, warnings, error)) << error;
  EXPECT_EQ(root, "b/score.xml");
  EXPECT_EQ(bytes, "<score-partwise/>");

  std::string rewritten;
  ASSERT_TRUE(musicxml::ReplaceArchiveMember(archive, root, "<new/>", rewritten, error)) << error;
  const auto before = Members(archive);
  const auto after = Members(rewritten);
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].first, before[i].first);
    EXPECT_EQ(after[i].second, after[i].first == root ? "<new/>" : before[i].second);
  }
}

TEST(ArchiveTest, TruncatedAndBrokenArchivesAreErrors) {
  const std::string archive = MakeTestZip(
      {{"META-INF/container.xml", Container("s.xml")}, {"s.xml", std::string(5000, 'x')}});
  std::string root;
  std::string bytes;
  std::vector<std::string> warnings;
  std::string error;
  for (std::size_t cut : {archive.size() / 2, archive.size() - 10, std::size_t{30}}) {
    SCOPED_TRACE(cut);
    EXPECT_FALSE(musicxml::ReadArchive(archive.substr(0, cut), root, bytes, warnings, error));
    EXPECT_FALSE(error.empty());
  }
  const std::string missing = MakeTestZip({{"META-INF/container.xml", Container("gone.xml")}});
  EXPECT_FALSE(musicxml::ReadArchive(missing, root, bytes, warnings, error));
  EXPECT_NE(error.find("gone.xml"), std::string::npos);
  const std::string noRoot = MakeTestZip({{"META-INF/container.xml", "<container/>"}});
  EXPECT_FALSE(musicxml::ReadArchive(noRoot, root, bytes, warnings, error));
}

}  // namespace
