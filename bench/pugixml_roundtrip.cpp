// The yardstick for meterfix's whole run: pugixml alone parsing a file into
// its DOM and saving it again. The parse keeps what a byte-exact rewrite
// needs (whitespace text, declarations, DOCTYPE, comments), and the raw save
// writes the file back as it was.
//   pugixml_roundtrip IN OUT
#include <pugixml.hpp>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pugixml_roundtrip IN OUT\n");
    return 2;
  }
  pugi::xml_document doc;
  const pugi::xml_parse_result result =
      doc.load_file(argv[1], (pugi::parse_full | pugi::parse_ws_pcdata) & ~pugi::parse_eol);
  if (!result) {
    std::fprintf(stderr, "%s: offset %td: %s\n", argv[1], result.offset, result.description());
    return 1;
  }
  if (!doc.save_file(argv[2], "  ", pugi::format_raw | pugi::format_no_declaration)) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
