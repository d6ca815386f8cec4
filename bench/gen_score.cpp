// Writes a large score-partwise MusicXML document for the end-to-end timing:
// every part has the same bars, cycling through 4/4 beamed in fours, 4/4
// beamed 3+3+2 (a conflict) and 3/4 beamed like 6/8 (a conflict); voice 1
// has eighths, voice 2 beamed sixteenths.
//   gen_score OUT.musicxml [PARTS [MEASURES]]      (defaults 16 and 240: about 20 MB)
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char* const Steps = "CDEFGAB";

void Note(std::string& out, int index, int duration, const char* type, int voice,
          const char* beam) {
  out += "      <note>\n        <pitch><step>";
  out += Steps[index % 7];
  out += "</step><octave>";
  out += voice == 1 ? "5" : "4";
  out += "</octave></pitch>\n        <duration>";
  out += std::to_string(duration);
  out += "</duration>\n        <voice>";
  out += std::to_string(voice);
  out += "</voice>\n        <type>";
  out += type;
  out += "</type>\n        <stem>";
  out += voice == 1 ? "up" : "down";
  out += "</stem>\n";
  if (beam != nullptr) {
    out += "        <beam number=\"1\">";
    out += beam;
    out += "</beam>\n";
  }
  out += "      </note>\n";
}

// Notes of one voice: `count` notes, beams starting at the listed indexes.
void Voice(std::string& out, int count, int duration, const char* type, int voice,
           const int* groupSizes, int groups) {
  int index = 0;
  for (int g = 0; g < groups && index < count; ++g) {
    for (int k = 0; k < groupSizes[g]; ++k, ++index) {
      const char* beam = groupSizes[g] == 1       ? nullptr
                         : k == 0                 ? "begin"
                         : k + 1 == groupSizes[g] ? "end"
                                                  : "continue";
      Note(out, index, duration, type, voice, beam);
    }
  }
}

void Measure(std::string& out, int number, bool first) {
  const int kind = number % 3;
  const int previousKind = (number - 1) % 3;
  out += "    <measure number=\"" + std::to_string(number) + "\">\n";
  const bool changes = first || (kind == 2) != (previousKind == 2);
  if (changes) {
    out += "      <attributes>\n";
    if (first) out += "        <divisions>4</divisions>\n        <key><fifths>0</fifths></key>\n";
    out += kind == 2 ? "        <time><beats>3</beats><beat-type>4</beat-type></time>\n"
                     : "        <time><beats>4</beats><beat-type>4</beat-type></time>\n";
    if (first) out += "        <clef><sign>G</sign><line>2</line></clef>\n";
    out += "      </attributes>\n";
  }
  static const int fours[] = {4, 4};
  static const int threeThreeTwo[] = {3, 3, 2};
  static const int threes[] = {3, 3};
  static const int sixteenths4[] = {4, 4, 4, 4};
  static const int sixteenths6[] = {6, 6};
  const int length = kind == 2 ? 12 : 16;  // divisions
  if (kind == 0) Voice(out, 8, 2, "eighth", 1, fours, 2);
  if (kind == 1) Voice(out, 8, 2, "eighth", 1, threeThreeTwo, 3);
  if (kind == 2) Voice(out, 6, 2, "eighth", 1, threes, 2);
  out += "      <backup><duration>" + std::to_string(length) + "</duration></backup>\n";
  if (kind == 2) {
    Voice(out, 12, 1, "16th", 2, sixteenths6, 2);
  } else {
    Voice(out, 16, 1, "16th", 2, sixteenths4, 4);
  }
  out += "    </measure>\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: gen_score OUT.musicxml [PARTS [MEASURES]]\n");
    return 2;
  }
  const int parts = argc > 2 ? std::atoi(argv[2]) : 16;
  const int measures = argc > 3 ? std::atoi(argv[3]) : 240;
  if (parts < 1 || measures < 1) {
    std::fprintf(stderr, "gen_score: PARTS and MEASURES must be positive\n");
    return 2;
  }
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
      "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
      "\"http://www.musicxml.org/dtds/partwise.dtd\">\n"
      "<score-partwise version=\"4.0\">\n  <part-list>\n";
  for (int p = 1; p <= parts; ++p) {
    out += "    <score-part id=\"P" + std::to_string(p) + "\"><part-name>Part " +
           std::to_string(p) + "</part-name></score-part>\n";
  }
  out += "  </part-list>\n";
  bool ok = true;
  for (int p = 1; p <= parts && ok; ++p) {
    out += "  <part id=\"P" + std::to_string(p) + "\">\n";
    for (int m = 1; m <= measures; ++m) {
      Measure(out, m, m == 1);
      if (out.size() > (1u << 20)) {
        ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
        out.clear();
      }
    }
    out += "  </part>\n";
  }
  out += "</score-partwise>\n";
  ok = ok && std::fwrite(out.data(), 1, out.size(), file) == out.size();
  if (std::fclose(file) != 0 || !ok) {
    std::fprintf(stderr, "gen_score: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
