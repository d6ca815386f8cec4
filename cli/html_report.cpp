#include "cli/html_report.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>

#include "cli/terminal.h"
#include "cli/text_report.h"

namespace meterfix {

namespace {

using musicxml::EntryLook;
using musicxml::LookBeam;

// The page in pieces: gathered into blocks and handed to the sink, so that
// no more than a block of it is held at once.
class Page {
 public:
  explicit Page(const std::function<bool(std::string_view)>& sink) : sink_(sink) {}
  Page& operator<<(std::string_view text) {
    if (!ok_) return *this;
    buffer_.append(text);
    if (buffer_.size() >= BlockSize) Flush();
    return *this;
  }
  bool Flush() {
    if (ok_ && !buffer_.empty()) ok_ = sink_(buffer_);
    buffer_.clear();
    return ok_;
  }
  bool ok() const { return ok_; }

 private:
  static constexpr std::size_t BlockSize = 1 << 16;
  const std::function<bool(std::string_view)>& sink_;
  std::string buffer_;
  bool ok_ = true;
};

std::string EscapeHtml(const std::string& printable) {
  std::string out;
  out.reserve(printable.size());
  for (const char c : printable) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Escape(std::string_view text) { return EscapeHtml(Printable(text)); }

// Text of any length, escaped a block at a time; blocks end between
// characters so that a UTF-8 sequence is never split.
void WriteEscaped(Page& page, std::string_view text) {
  constexpr std::size_t Block = 1 << 16;
  while (!text.empty() && page.ok()) {
    std::size_t end = std::min(text.size(), Block);
    for (int back = 0; back < 3 && end < text.size() && end > 1 &&
                       (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80;
         ++back) {
      --end;
    }
    page << Escape(text.substr(0, end));
    text.remove_prefix(end);
  }
}

std::string Fixed(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string Label(const SignatureState& state) {
  return state.present ? MusicalForm(state.signature) : "none";
}

bool Has(const std::vector<int>& sorted, int value) {
  return std::binary_search(sorted.begin(), sorted.end(), value);
}

// The written value of an entry: its <type> and dots, else read off its
// duration (the largest plain value in it, then as many dots as fit).
struct Value {
  int type = 1024;  // EDUs, undotted
  int dots = 0;
};
Value ValueOf(const simhost::Entry& entry, const EntryLook& look) {
  if (look.type > 0) return {look.type, look.dots};
  Value v;
  const int duration = std::max(4, entry.duration);
  v.type = 4;
  while (v.type * 2 <= duration && v.type < 32768) v.type *= 2;
  int rest = duration - v.type;
  for (int part = v.type / 2; part >= 4 && rest >= part && v.dots < 4; part /= 2) {
    rest -= part;
    ++v.dots;
  }
  return v;
}
// Beams or flags a value has: one for an eighth, two for a sixteenth ...
int FlagCount(int type) {
  int count = 0;
  for (int t = type; t <= 512 && t > 0; t *= 2) ++count;
  return count;
}

// Geometry of one rhythm line; every x is a notehead's left edge.
constexpr double Pad = 16;
constexpr double RowHeight = 82;
constexpr double SystemHead = 22;
constexpr double LineFromTop = 62;  // the line within a row
constexpr double Stem = 30;
constexpr double GraceStem = 20;
constexpr double BeamGap = 6;

struct Layout {
  int length = 4096;
  double width = 360;  // of the time line
  double X(int position) const { return Pad + 14 + width * position / length; }
};

// The picture of one measure's layers under one signature: its beats, and
// the group starts that decide the change marked "off" (between the old
// signature's beats) or "on" (on a beat of the new one).
class RhythmSystem {
 public:
  RhythmSystem(std::string& svg, const Layout& layout, const std::vector<int>& oldBeats)
      : svg_(svg), layout_(layout), oldBeats_(oldBeats) {}

  void Draw(double top, const std::string& title, const std::string& beatClass,
            const std::vector<int>& beats, bool underNew, const MeasureChange& m,
            const std::vector<std::string>& labels) {
    const double bottom = top + SystemHead + RowHeight * static_cast<double>(m.layers.size());
    svg_ += "<text x=\"" + Fixed(Pad) + "\" y=\"" + Fixed(top + 14) + "\" class=\"" + beatClass +
            "\">" + Escape(title) + "</text>";
    for (const int beat : beats) {
      if (beat < 0 || beat > layout_.length) continue;
      const double x = layout_.X(beat) + 5;
      svg_ += "<line x1=\"" + Fixed(x) + "\" y1=\"" + Fixed(top + 18) + "\" x2=\"" + Fixed(x) +
              "\" y2=\"" + Fixed(bottom - 4) + "\" class=\"" + beatClass + "\"/>";
    }
    for (std::size_t r = 0; r < m.layers.size(); ++r) {
      const double rowTop = top + SystemHead + RowHeight * static_cast<double>(r);
      DrawLayer(rowTop, m.layers[r].layer, labels[r], beats, underNew);
    }
    for (const double x : {layout_.X(0) - 8, layout_.X(layout_.length) - 2}) {
      svg_ += "<line x1=\"" + Fixed(x) + "\" y1=\"" + Fixed(top + SystemHead + 40) + "\" x2=\"" +
              Fixed(x) + "\" y2=\"" + Fixed(bottom - 12) + "\" class=\"bar\"/>";
    }
  }

 private:
  struct Placed {
    double x = 0;  // the notehead's left edge
    double stemX = 0;
    double stemTop = 0;
    bool drawn = false;  // a visible note or rest
    bool note = false;
    bool grace = false;
  };

  void Line(const std::string& cls, double x1, double y1, double x2, double y2) {
    svg_ += "<line class=\"" + cls + "\" x1=\"" + Fixed(x1) + "\" y1=\"" + Fixed(y1) + "\" x2=\"" +
            Fixed(x2) + "\" y2=\"" + Fixed(y2) + "\"/>";
  }
  void Path(const std::string& cls, const std::string& d) {
    svg_ += "<path class=\"" + cls + "\" d=\"" + d + "\"/>";
  }

  void DrawLayer(double rowTop, const musicxml::WrittenLayer& layer, const std::string& label,
                 const std::vector<int>& beats, bool underNew) {
    const double lineY = rowTop + LineFromTop;
    svg_ += "<text x=\"" + Fixed(Pad) + "\" y=\"" + Fixed(rowTop + 12) + "\" class=\"staff\">" +
            Escape(label) + "</text>";
    Line("line", layout_.X(0) - 8, lineY, layout_.X(layout_.length) - 2, lineY);
    const std::size_t n = std::min(layer.entries.size(), layer.looks.size());
    std::vector<Placed> placed(n);
    // Grace notes stand just before the note they lead to.
    for (std::size_t i = 0; i < n; ++i) {
      const EntryLook& look = layer.looks[i];
      Placed& p = placed[i];
      p.x = layout_.X(layer.entries[i].position);
      p.grace = (look.flags & EntryLook::Grace) != 0;
      if (p.grace) {
        std::size_t after = 0;
        for (std::size_t k = i + 1; k < n && (layer.looks[k].flags & EntryLook::Grace) != 0; ++k)
          ++after;
        p.x -= 11.0 * static_cast<double>(after + 1);
      }
      p.drawn = (look.flags & EntryLook::Invisible) == 0;
      p.note = p.drawn && (look.flags & EntryLook::Rest) == 0;
      p.stemX = p.x + (p.grace ? 6.4 : 9.6);
      p.stemTop = lineY - (p.grace ? GraceStem : Stem);
    }
    for (std::size_t i = 0; i < n; ++i) {
      const simhost::Entry& entry = layer.entries[i];
      const EntryLook& look = layer.looks[i];
      const bool deciding = entry.beamStart && !entry.skip && !Has(oldBeats_, entry.position);
      const bool onNew = Has(beats, entry.position);
      const std::string tone = !deciding ? "" : underNew && onNew ? " on" : " off";
      if (deciding) {
        const double cx = placed[i].x + 5;
        Path("mark" + tone, "M" + Fixed(cx) + "," + Fixed(lineY + 10) + " l5,8 h-10 z");
      }
      if (!placed[i].drawn) continue;
      const Value value = ValueOf(entry, look);
      if (placed[i].note) {
        DrawNote(placed[i], value, look, lineY, tone);
      } else {
        DrawRest(placed[i].x, value, look, lineY, tone);
      }
    }
    DrawBeams(layer, placed, n);
    DrawTies(layer, placed, n, lineY);
    DrawTuplets(layer, placed, n, lineY);
  }

  void DrawNote(const Placed& p, const Value& value, const EntryLook& look, double lineY,
                const std::string& tone) {
    const double scale = p.grace ? 0.65 : 1.0;
    const double cx = p.x + 5 * scale;
    const bool open = value.type >= 2048;
    svg_ += "<ellipse class=\"head" + std::string(open ? " open" : "") +
            std::string(p.grace ? " grace" : "") + tone + "\" cx=\"" + Fixed(cx) + "\" cy=\"" +
            Fixed(lineY) + "\" rx=\"" + Fixed(5.2 * scale) + "\" ry=\"" + Fixed(3.7 * scale) +
            "\" transform=\"rotate(-20 " + Fixed(cx) + " " + Fixed(lineY) + ")\"/>";
    if (value.type >= 8192) {
      // A breve and longer: bars either side of the open head.
      Line("stem", p.x - 2, lineY - 5, p.x - 2, lineY + 5);
      Line("stem", p.x + 12, lineY - 5, p.x + 12, lineY + 5);
    }
    if (value.type <= 2048) Line("stem", p.stemX, lineY - 1, p.stemX, p.stemTop);
    if (p.grace) Line("slash", p.stemX - 5, p.stemTop + 11, p.stemX + 4, p.stemTop + 4);
    // Flags only where no beam of the file holds the note.
    if (look.Beam(1) == LookBeam::None) {
      const int flags = FlagCount(value.type);
      for (int k = 0; k < flags; ++k) {
        const double y = p.stemTop + (p.grace ? 4.0 : BeamGap) * k;
        Path("flag", "M" + Fixed(p.stemX) + "," + Fixed(y) + " q6,4 6,12");
      }
    }
    for (int d = 0; d < value.dots; ++d) {
      svg_ += "<circle class=\"dot\" cx=\"" + Fixed(p.x + 14 + 4.5 * d) + "\" cy=\"" +
              Fixed(lineY - 2) + "\" r=\"1.6\"/>";
    }
  }

  void DrawRest(double x, const Value& value, const EntryLook& look, double lineY,
                const std::string& tone) {
    const double c = x + 5;
    std::string d;
    if ((look.flags & EntryLook::MeasureRest) != 0 || value.type == 4096) {
      d = "M" + Fixed(c - 5) + "," + Fixed(lineY) + " h10 v4 h-10 z";  // hangs from the line
    } else if (value.type >= 8192) {
      d = "M" + Fixed(c - 2) + "," + Fixed(lineY - 8) + " h4 v8 h-4 z";
    } else if (value.type == 2048) {
      d = "M" + Fixed(c - 5) + "," + Fixed(lineY - 4) + " h10 v4 h-10 z";  // sits on it
    } else if (value.type == 1024) {
      d = "M" + Fixed(c - 2) + "," + Fixed(lineY - 11) + " l4,5 l-3.5,4.5 l4,5 l-4.5,-1.5 l2,4";
    } else {
      // A slanted stroke with one hook per flag.
      const int flags = FlagCount(value.type);
      d = "M" + Fixed(c + 3) + "," + Fixed(lineY - 8) + " L" + Fixed(c + 3 - 2.2 * (flags + 1)) +
          "," + Fixed(lineY + 2 + 4.5 * flags);
      for (int k = 0; k < flags; ++k) {
        const double y = lineY - 8 + 4.5 * k;
        const double xr = c + 3 - 1.1 * k;
        d += " M" + Fixed(xr) + "," + Fixed(y) + " q-3,3 -6,0 m-0.1,0 a1.7,1.7 0 1,0 0.1,0";
      }
    }
    Path("rest" + tone, d);
    for (int k = 0; k < value.dots; ++k) {
      svg_ += "<circle class=\"dot\" cx=\"" + Fixed(x + 13 + 4.5 * k) + "\" cy=\"" +
              Fixed(lineY - 3) + "\" r=\"1.6\"/>";
    }
  }

  // Each beam level as the file has it: a beam from its begin to its end
  // (or to its last note, where the measure ends first), hooks one way.
  void DrawBeams(const musicxml::WrittenLayer& layer, const std::vector<Placed>& placed,
                 std::size_t n) {
    for (int level = 1; level <= 8; ++level) {
      bool open = false;
      std::size_t first = 0;
      std::size_t last = 0;
      auto close = [&]() {
        if (open && last > first) Beam(placed[first], placed[last], level);
        open = false;
      };
      for (std::size_t i = 0; i < n; ++i) {
        if (!placed[i].note) continue;
        const LookBeam mark = layer.looks[i].Beam(level);
        if (mark == LookBeam::Begin ||
            ((mark == LookBeam::Continue || mark == LookBeam::End) && !open)) {
          close();
          open = true;
          first = last = i;
          if (mark == LookBeam::End) open = false;
        } else if (mark == LookBeam::Continue) {
          last = i;
        } else if (mark == LookBeam::End) {
          last = i;
          close();
        } else if (mark == LookBeam::ForwardHook || mark == LookBeam::BackwardHook) {
          const Placed& p = placed[i];
          const double y = BeamY(p, level);
          const double x2 = p.stemX + (mark == LookBeam::ForwardHook ? 8 : -8);
          Line("hook", p.stemX, y, x2, y);
        }
      }
      close();
    }
  }
  static double BeamY(const Placed& p, int level) {
    return p.stemTop + 2 + (p.grace ? 4.0 : BeamGap) * (level - 1);
  }
  void Beam(const Placed& a, const Placed& b, int level) {
    const double y = BeamY(a, level);
    Line(a.grace ? "beam grace" : "beam", a.stemX, y, b.stemX, y);
  }

  // A tie from a note to the next one, or to the barline where the next
  // note lies in the next measure; a tie that arrives from the measure
  // before starts at the barline.
  void DrawTies(const musicxml::WrittenLayer& layer, const std::vector<Placed>& placed,
                std::size_t n, double lineY) {
    bool arriving = false;  // the note before was tied to the one after it
    for (std::size_t i = 0; i < n; ++i) {
      if (!placed[i].note || placed[i].grace) continue;
      const std::uint8_t flags = layer.looks[i].flags;
      if ((flags & EntryLook::TieStop) != 0 && !arriving) {
        Tie(layout_.X(0) - 6, placed[i].x + 1, lineY);
      }
      arriving = false;
      if ((flags & EntryLook::TieStart) == 0) continue;
      std::size_t next = i + 1;
      while (next < n && (!placed[next].note || placed[next].grace)) ++next;
      Tie(placed[i].x + 9, next < n ? placed[next].x + 1 : layout_.X(layout_.length) - 4, lineY);
      arriving = next < n;
    }
  }
  void Tie(double x1, double x2, double lineY) {
    Path("tie", "M" + Fixed(x1) + "," + Fixed(lineY + 5) + " Q" + Fixed((x1 + x2) / 2) + "," +
                    Fixed(lineY + 13) + " " + Fixed(x2) + "," + Fixed(lineY + 5));
  }

  // Brackets from each tuplet's start to its stop, the number above; one
  // inside another stands higher.
  void DrawTuplets(const musicxml::WrittenLayer& layer, const std::vector<Placed>& placed,
                   std::size_t n, double lineY) {
    struct Open {
      std::size_t first;
      int number;
      bool bracket;
    };
    std::vector<Open> open;
    auto close = [&](std::size_t last) {
      const Open t = open.back();
      open.pop_back();
      const double y = lineY - Stem - 10 - 11.0 * static_cast<double>(open.size());
      const double x1 = placed[t.first].x;
      const double x2 = std::max(placed[last].stemX, placed[last].x + 10);
      if (t.bracket) {
        Path("tuplet", "M" + Fixed(x1) + "," + Fixed(y + 4) + " V" + Fixed(y) + " H" + Fixed(x2) +
                           " V" + Fixed(y + 4));
      }
      if (t.number > 0) {
        svg_ += "<text class=\"tuplet\" x=\"" + Fixed((x1 + x2) / 2) + "\" y=\"" + Fixed(y - 2) +
                "\" text-anchor=\"middle\">" + std::to_string(t.number) + "</text>";
      }
    };
    std::size_t lastDrawn = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const EntryLook& look = layer.looks[i];
      for (int k = 0; k < look.tupletStarts; ++k) {
        open.push_back({i, look.tupletNumber, (look.flags & EntryLook::NoBracket) == 0});
      }
      if (placed[i].drawn) lastDrawn = i;
      for (int k = 0; k < look.tupletStops && !open.empty(); ++k) close(i);
    }
    while (!open.empty()) close(std::max(lastDrawn, open.back().first));
  }

  std::string& svg_;
  const Layout& layout_;
  const std::vector<int>& oldBeats_;
};

// The time line's width: wide enough that the closest two entries of any
// layer stand apart, within bounds.
Layout LayoutOf(const MeasureChange& m) {
  Layout layout;
  int length = 0;
  int closest = 0;
  for (const LayerPicture& picture : m.layers) {
    const musicxml::WrittenLayer& layer = picture.layer;
    length = std::max(length, layer.duration);
    int previous = -1;
    for (std::size_t i = 0; i < layer.entries.size(); ++i) {
      const simhost::Entry& e = layer.entries[i];
      if (e.skip) continue;
      length = std::max(length, e.position + std::max(0, e.duration));
      if (previous >= 0 && e.position > previous &&
          (closest == 0 || e.position - previous < closest)) {
        closest = e.position - previous;
      }
      previous = e.position;
    }
  }
  if (length <= 0 && m.after.present) {
    const std::vector<int> beats = MusicalBeatStarts(m.after.signature.meter);
    if (!beats.empty()) length = beats.back() + (beats.size() > 1 ? beats[1] - beats[0] : 1024);
  }
  layout.length = length > 0 ? length : 4096;
  if (closest > 0) {
    layout.width = std::clamp(26.0 * layout.length / closest, 360.0, 1100.0);
  }
  return layout;
}

std::string MeasureSvg(const MeasureChange& m, const std::vector<std::string>& partNames) {
  std::vector<int> oldBeats =
      m.before.present ? MusicalBeatStarts(m.before.signature.meter) : std::vector<int>{};
  std::vector<int> newBeats =
      m.after.present ? MusicalBeatStarts(m.after.signature.meter) : std::vector<int>{};
  std::sort(oldBeats.begin(), oldBeats.end());
  std::sort(newBeats.begin(), newBeats.end());
  const Layout layout = LayoutOf(m);
  // A row per layer: the part's name, the staff within it, and the voice
  // where a staff has several.
  std::map<std::pair<int, int>, int> layersOfStaff;
  for (const LayerPicture& picture : m.layers) ++layersOfStaff[{picture.part, picture.staffInPart}];
  std::vector<std::string> labels;
  for (const LayerPicture& picture : m.layers) {
    std::string label =
        picture.part >= 0 && static_cast<std::size_t>(picture.part) < partNames.size()
            ? ShortName(partNames[static_cast<std::size_t>(picture.part)])
            : std::string("part");
    if (picture.staffInPart > 1) label += " " + std::to_string(picture.staffInPart);
    if (layersOfStaff[{picture.part, picture.staffInPart}] > 1) {
      label += ", voice " + ShortName(picture.layer.voice, 12);
    }
    labels.push_back(label);
  }
  const double systemHeight = SystemHead + RowHeight * static_cast<double>(m.layers.size());
  const double width = layout.X(layout.length) + Pad + 8;
  const double height = 2 * systemHeight + 14;
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Fixed(width) +
                    "\" height=\"" + Fixed(height) +
                    "\" role=\"img\" aria-label=\"the measure's rhythm under the old and the new "
                    "signature\">";
  RhythmSystem system(svg, layout, oldBeats);
  system.Draw(4, "old: " + Label(m.before), "oldbeat", oldBeats, false, m, labels);
  svg += "<line class=\"divide\" x1=\"0\" y1=\"" + Fixed(systemHeight + 8) + "\" x2=\"" +
         Fixed(width) + "\" y2=\"" + Fixed(systemHeight + 8) + "\"/>";
  system.Draw(systemHeight + 10, "new: " + Label(m.after), "newbeat", newBeats, true, m, labels);
  svg += "</svg>";
  return svg;
}

constexpr std::string_view Head =
    "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<title>meterfix report</title>\n<style>\n"
    "body{font-family:sans-serif;margin:1.5em;color:#222;max-width:80em}\n"
    "h2{font-size:1.1em;margin-top:1.6em;word-break:break-all}\n"
    ".summary{margin:.3em 0 .8em}.error{color:#b00}\n"
    ".measure{display:inline-block;vertical-align:top;margin:0 1.2em 1em 0}\n"
    ".measure p{margin:.2em 0;font-family:monospace}\n"
    ".names{font-size:.9em;word-break:break-all}.names dt{font-weight:bold}\n"
    "svg{background:#fcfcfc;border:1px solid #ddd}\n"
    "svg text{font-size:11px;font-family:sans-serif;fill:#444}\n"
    "svg text.tuplet{font-style:italic;font-weight:bold;fill:#222}\n"
    ".line{stroke:#999;stroke-width:1}.bar{stroke:#222;stroke-width:1.5}\n"
    ".divide{stroke:#ddd;stroke-width:1}\n"
    "line.oldbeat{stroke:#999;stroke-width:1.5;stroke-dasharray:3 3}\n"
    "line.newbeat{stroke:#1e63c8;stroke-width:1.5;stroke-dasharray:3 3}\n"
    "svg text.oldbeat{fill:#666;font-weight:bold}svg text.newbeat{fill:#1e63c8;font-weight:bold}\n"
    ".head{fill:#111;stroke:#111;stroke-width:1}.head.open{fill:#fff;stroke-width:1.6}\n"
    ".stem,.slash{stroke:#111;stroke-width:1.2}.flag{fill:none;stroke:#111;stroke-width:1.6}\n"
    ".beam{stroke:#111;stroke-width:4}.beam.grace,.hook{stroke:#111;stroke-width:3}\n"
    ".dot{fill:#111}.rest{fill:#111;stroke:#111;stroke-width:1.4;stroke-linejoin:round}\n"
    ".tie{fill:none;stroke:#111;stroke-width:1.3}.tuplet{fill:none;stroke:#111;stroke-width:1}\n"
    ".head.off,.rest.off,.mark.off{fill:#d62020;stroke:#d62020}\n"
    ".head.on,.rest.on,.mark.on{fill:#1e63c8;stroke:#1e63c8}\n"
    ".head.open.off,.head.open.on{fill:#fff}\n"
    ".legend span{margin-right:1.2em;white-space:nowrap}\n"
    "</style>\n</head>\n<body>\n<h1>meterfix report</h1>\n"
    "<p class=\"legend\">Each changed measure twice, its rhythm as the score writes it under the "
    "old signature and under the new one, one line per voice.<br>"
    "<span style=\"color:#d62020\">&#9650; a beam group starts between the old beats (so the "
    "signature changes)</span> "
    "<span style=\"color:#1e63c8\">&#9650; that start on a new beat</span> "
    "<span style=\"color:#888\">&#9478; old beat</span> "
    "<span style=\"color:#1e63c8\">&#9478; new beat</span></p>\n";

}  // namespace

std::string ShortName(std::string_view name, std::size_t limit) {
  limit = std::max<std::size_t>(limit, 2);
  std::size_t characters = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if ((static_cast<unsigned char>(name[i]) & 0xC0) == 0x80) continue;
    if (characters == limit - 1) {
      // Cut here only when more than one character follows.
      std::size_t rest = 0;
      for (std::size_t k = i; k < name.size() && rest < 2; ++k) {
        if ((static_cast<unsigned char>(name[k]) & 0xC0) != 0x80) ++rest;
      }
      if (rest > 1) return std::string(name.substr(0, i)) + "\u2026";
      break;
    }
    ++characters;
  }
  return std::string(name);
}

bool WriteHtml(const std::vector<FileReport>& reports,
               const std::function<bool(std::string_view)>& sink) {
  Page page(sink);
  page << Head;
  for (const FileReport& report : reports) {
    page << "<section>\n<h2>";
    WriteEscaped(page, report.file);
    page << "</h2>\n";
    // The text report's own summary line, without the file name.
    page << "<p class=\"summary" << (report.error.empty() ? "" : " error") << "\">"
         << EscapeHtml(SummaryLine(report)) << "</p>\n";
    // Names too long for a picture appear there shortened, and here in full once.
    bool listed = false;
    for (const std::string& name : report.partNames) {
      if (ShortName(name).size() == name.size()) continue;
      page << (listed ? "" : "<dl class=\"names\">") << "<dt>" << Escape(ShortName(name))
           << "</dt><dd>";
      WriteEscaped(page, name);
      page << "</dd>";
      listed = true;
    }
    if (listed) page << "</dl>\n";
    for (const MeasureChange& m : report.measures) {
      if (!m.changed) continue;
      std::string name = m.number.empty() ? std::to_string(m.measure) : ShortName(m.number);
      if (!m.number.empty() && m.number != std::to_string(m.measure)) {
        name += " [" + std::to_string(m.measure) + "]";
      }
      page << "<div class=\"measure\"><p>measure " << Escape(name) << ": "
           << Escape(DescribeChange(m.before, m.after))
           << (m.evidence.empty() ? "" : " <i>(" + Escape(m.evidence) + ")</i>") << "</p>";
      if (!m.layers.empty()) page << MeasureSvg(m, report.partNames);
      page << "</div>\n";
      if (!page.ok()) return false;
    }
    for (const KeptChange& kept : report.kept) {
      page << "<p class=\"kept\">kept as written: " << Escape(KeptLine(kept)) << "</p>\n";
    }
    for (const Message& message : report.messages) {
      page << "<p>message: " << Escape(message.caption + ": " + message.text) << "</p>\n";
    }
    for (const std::string& warning : report.warnings) {
      page << "<p>warning: " << Escape(warning) << "</p>\n";
    }
    page << "</section>\n";
  }
  page << "</body>\n</html>\n";
  return page.Flush();
}

}  // namespace meterfix
