// Writes a score whose size is mostly one part name: one part, a name of
// NAME_BYTES letters, and MEASURES bars of 3/4 beamed like 6/8 (each one a
// change), for the peak memory of every report format (bench/run-memory).
//   gen_long_name OUT.musicxml NAME_BYTES [MEASURES]      (MEASURES default 1000)
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: gen_long_name OUT.musicxml NAME_BYTES [MEASURES]\n");
    return 2;
  }
  const long long nameBytes = std::atoll(argv[2]);
  const int measures = argc > 3 ? std::atoi(argv[3]) : 1000;
  if (nameBytes < 1 || measures < 1) {
    std::fprintf(stderr, "gen_long_name: NAME_BYTES and MEASURES must be positive\n");
    return 2;
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::fputs(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<score-partwise version=\"4.0\">\n  <part-list>\n"
      "    <score-part id=\"P1\"><part-name>",
      out);
  const std::string block(1 << 16, 'n');
  for (long long left = nameBytes; left > 0;) {
    const std::size_t n =
        left < static_cast<long long>(block.size()) ? static_cast<std::size_t>(left) : block.size();
    std::fwrite(block.data(), 1, n, out);
    left -= static_cast<long long>(n);
  }
  std::fputs("</part-name></score-part>\n  </part-list>\n  <part id=\"P1\">\n", out);
  for (int m = 1; m <= measures; ++m) {
    std::fprintf(out, "    <measure number=\"%d\">\n", m);
    if (m == 1) {
      std::fputs(
          "      <attributes><divisions>2</divisions>"
          "<time><beats>3</beats><beat-type>4</beat-type></time></attributes>\n",
          out);
    }
    for (int n = 0; n < 6; ++n) {
      const char* beam = n % 3 == 0 ? "begin" : n % 3 == 1 ? "continue" : "end";
      std::fprintf(out,
                   "      <note><pitch><step>C</step><octave>5</octave></pitch>"
                   "<duration>1</duration><voice>1</voice><type>eighth</type>"
                   "<beam number=\"1\">%s</beam></note>\n",
                   beam);
    }
    std::fputs("    </measure>\n", out);
  }
  std::fputs("  </part>\n</score-partwise>\n", out);
  if (std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
