#include "musicxml/meter.h"

#include <algorithm>
#include <cstdlib>

#include "host/records.h"

namespace musicxml {

namespace {

constexpr std::int32_t WholeNote = 4 * EdusPerQuarter;
constexpr std::int32_t DottedQuarter = 1536;
constexpr std::int32_t Int16Max = 32767;

// A positive decimal that fits int16, surrounded by optional blanks.
bool ParseCount(const std::string& text, std::int32_t& out) {
  std::size_t i = 0;
  while (i < text.size() &&
         (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
    ++i;
  std::int64_t value = 0;
  std::size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (text[i] - '0');
    if (value > Int16Max) return false;
    ++i;
    ++digits;
  }
  while (i < text.size() &&
         (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
    ++i;
  if (digits == 0 || i != text.size() || value <= 0) return false;
  out = static_cast<std::int32_t>(value);
  return true;
}

bool ParseCounts(const std::string& text, std::vector<std::int32_t>& counts) {
  counts.clear();
  std::size_t start = 0;
  while (true) {
    const std::size_t plus = text.find('+', start);
    std::int32_t value = 0;
    if (!ParseCount(
            text.substr(start, plus == std::string::npos ? std::string::npos : plus - start),
            value)) {
      return false;
    }
    counts.push_back(value);
    if (plus == std::string::npos) return true;
    start = plus + 1;
  }
}

bool IsPowerOfTwo(std::int32_t v) { return v > 0 && (v & (v - 1)) == 0; }

std::string JoinCounts(const std::vector<std::int32_t>& counts, std::int32_t factor) {
  std::string text;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    if (i != 0) text += '+';
    text += std::to_string(static_cast<std::int64_t>(counts[i]) * factor);
  }
  return text;
}

}  // namespace

std::int64_t Meter::Length() const {
  std::int64_t total = 0;
  for (const MeterGroup& g : groups) {
    for (std::int32_t c : g.counts) total += static_cast<std::int64_t>(c) * g.beatDuration;
  }
  return total;
}

TimeRead ReadTime(const TimeFields& fields, Meter& out) {
  out = Meter{};
  out.hidden = fields.hidden;
  if (fields.pairs.empty()) return fields.senzaMisura ? TimeRead::SenzaMisura : TimeRead::Invalid;
  for (const auto& [beatsText, typeText] : fields.pairs) {
    MeterGroup group;
    std::int32_t beatType = 0;
    if (!ParseCounts(beatsText, group.counts) || !ParseCount(typeText, beatType) ||
        WholeNote % beatType != 0) {
      out.groups.clear();
      return TimeRead::Invalid;
    }
    group.beatDuration = WholeNote / beatType;
    bool allThrees = true;
    for (std::int32_t c : group.counts) allThrees = allThrees && c % 3 == 0;
    const bool dotted = beatType == 8 && ((fields.symbol == "dotted-note" && allThrees) ||
                                          (fields.symbol.empty() && group.counts.size() == 1 &&
                                           group.counts[0] % 3 == 0 && group.counts[0] >= 6));
    if (dotted) {
      for (std::int32_t& c : group.counts) c /= 3;
      group.beatDuration = DottedQuarter;
    }
    out.groups.push_back(std::move(group));
  }
  return TimeRead::Signature;
}

TimeSpelling SpellMeter(const Meter& meter) {
  TimeSpelling spelling;
  bool representable = !meter.groups.empty();
  for (const MeterGroup& g : meter.groups) {
    const std::int32_t d = g.beatDuration;
    if (d == DottedQuarter) {
      spelling.pairs.emplace_back(JoinCounts(g.counts, 3), "8");
    } else if (d > 0 && d <= WholeNote && IsPowerOfTwo(d)) {
      spelling.pairs.emplace_back(JoinCounts(g.counts, 1), std::to_string(WholeNote / d));
    } else {
      representable = false;
      break;
    }
  }
  if (representable) {
    for (const char* symbol : {"", "dotted-note", "normal"}) {
      TimeFields fields;
      fields.pairs = spelling.pairs;
      fields.symbol = symbol;
      Meter back;
      if (ReadTime(fields, back) == TimeRead::Signature && back.groups == meter.groups) {
        spelling.symbol = symbol;
        return spelling;
      }
    }
  }
  // No note value spells it: keep the length, in the largest unit dividing
  // each beat duration.
  spelling = TimeSpelling{};
  spelling.exact = false;
  for (const MeterGroup& g : meter.groups) {
    std::int32_t unit = WholeNote;
    while (unit > 1 && (g.beatDuration <= 0 || g.beatDuration % unit != 0)) unit /= 2;
    const std::int32_t factor = g.beatDuration > 0 ? g.beatDuration / unit : 1;
    spelling.pairs.emplace_back(JoinCounts(g.counts, factor), std::to_string(WholeNote / unit));
  }
  if (spelling.pairs.empty()) spelling.pairs.emplace_back("4", "4");
  spelling.symbol = "normal";
  return spelling;
}

std::string MeterText(const Meter& meter) {
  std::string top;
  std::string bottom;
  for (const MeterGroup& g : meter.groups) {
    if (!top.empty()) top += "++";
    top += JoinCounts(g.counts, 1);
    if (!bottom.empty()) bottom += "++";
    bottom += std::to_string(g.beatDuration);
  }
  return top + "/" + bottom;
}

HostSignature StoreMeter(simhost::Host& host, const Meter& meter) {
  HostSignature sig;
  if (meter.groups.empty()) return sig;
  if (meter.groups.size() == 1 && meter.groups[0].counts.size() == 1) {
    sig.beats = static_cast<std::int16_t>(meter.groups[0].counts[0]);
    sig.beatDuration = static_cast<std::int16_t>(meter.groups[0].beatDuration);
    return sig;
  }
  std::vector<simhost::TopSlot> top;
  for (const MeterGroup& g : meter.groups) {
    for (std::size_t i = 0; i < g.counts.size(); ++i) {
      simhost::TopSlot slot;
      slot.beatCount = static_cast<std::int16_t>(g.counts[i]);
      slot.slotFlags = i == 0 ? GroupStartFlag : 0;
      top.push_back(slot);
    }
  }
  sig.beats = host.AddTopChain(top);
  sig.flags |= CompositeTopFlag;
  if (meter.groups.size() == 1) {
    sig.beatDuration = static_cast<std::int16_t>(meter.groups[0].beatDuration);
  } else {
    std::vector<simhost::BottomSlot> bottom;
    for (const MeterGroup& g : meter.groups) {
      simhost::BottomSlot slot;
      slot.duration = static_cast<std::int16_t>(g.beatDuration);
      slot.slotFlags = GroupStartFlag;
      bottom.push_back(slot);
    }
    sig.beatDuration = host.AddBottomChain(bottom);
    sig.flags |= CompositeBottomFlag;
  }
  return sig;
}

bool DecodeSignature(const simhost::Host& host, std::int16_t beats, std::int16_t beatDuration,
                     std::uint16_t flags, Meter& out) {
  out.groups.clear();
  std::vector<std::vector<std::int32_t>> tops;
  if ((flags & CompositeTopFlag) != 0) {
    for (const simhost::TopSlot& slot : host.ReadTopChain(beats)) {
      if (slot.beatCount == 0) continue;
      if (tops.empty() || (slot.slotFlags & GroupStartFlag) != 0) tops.emplace_back();
      tops.back().push_back(slot.beatCount);
    }
  } else {
    tops.push_back({beats});
  }
  std::vector<std::int32_t> bottoms;
  if ((flags & CompositeBottomFlag) != 0) {
    for (const simhost::BottomSlot& slot : host.ReadBottomChain(beatDuration)) {
      if (slot.duration == 0) continue;
      if (bottoms.empty() || (slot.slotFlags & GroupStartFlag) != 0) bottoms.push_back(0);
      bottoms.back() += slot.duration;
    }
  } else {
    bottoms.push_back(beatDuration);
  }
  if (tops.empty() || bottoms.empty()) return false;
  for (std::size_t i = 0; i < tops.size(); ++i) {
    MeterGroup g;
    g.counts = tops[i];
    g.beatDuration = bottoms.size() == 1 ? bottoms[0] : bottoms[std::min(i, bottoms.size() - 1)];
    for (std::int32_t c : g.counts) {
      if (c <= 0) return false;
    }
    if (g.beatDuration <= 0) return false;
    out.groups.push_back(std::move(g));
  }
  return true;
}

}  // namespace musicxml
