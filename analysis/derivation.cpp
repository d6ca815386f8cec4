#include "analysis/derivation.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

// Entries of a list that can really be read: a list without storage or with a
// count out of range must not lead to reads past its arrays.
std::int32_t UsableCount(const BeatList* list) {
  if (list == nullptr || list->positions == nullptr || list->durations == nullptr) return 0;
  std::int32_t count = list->count;
  if (count < 0) return 0;
  return std::min<std::int32_t>(count, std::min<std::int32_t>(list->capacity, BeatListCapacity));
}

bool Allowed(const Settings& settings, std::size_t i) { return settings.allowBeat[i] != 0; }

// The beat count of a plain signature of d in measureLength, or 0 when d does
// not divide it into a count the writers can store.
std::int32_t PlainCount(std::int32_t measureLength, std::int32_t d) {
  if (measureLength <= 0 || d <= 0 || measureLength % d != 0) return 0;
  std::int32_t count = measureLength / d;
  return count <= MaxBeatCount ? count : 0;
}

// First allowed duration that divides g (0 divides by everything), or 0.
std::int64_t FirstAllowedDividing(const Settings& settings, std::int64_t g) {
  for (std::size_t i = 0; i < BeatDurationCount; ++i) {
    if (Allowed(settings, i) && g % BeatDurationTable[i] == 0) return BeatDurationTable[i];
  }
  return 0;
}

// Bounded text: appends fail once the text would pass SignatureTextSize - 1
// characters, and the failure sticks.
struct Text {
  char buffer[SignatureTextSize];
  std::size_t length;
  bool overflow;
};

void TextClear(Text& text) {
  text.buffer[0] = '\0';
  text.length = 0;
  text.overflow = false;
}

void TextAppend(Text& text, const char* piece, std::size_t size) {
  if (text.overflow || size > SignatureTextSize - 1 - text.length) {
    text.overflow = true;
    return;
  }
  std::memcpy(text.buffer + text.length, piece, size);
  text.length += size;
  text.buffer[text.length] = '\0';
}

void TextAppendNumber(Text& text, std::int64_t value) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  if (ec != std::errc()) {
    text.overflow = true;
    return;
  }
  TextAppend(text, digits, static_cast<std::size_t>(end - digits));
}

// Decimal into a caller's 100-byte buffer; a 32-bit value always fits.
void WriteNumber(char* out, std::int32_t value) {
  auto [end, ec] = std::to_chars(out, out + SignatureTextSize - 1, value);
  *(ec == std::errc() ? end : out) = '\0';
}

void WritePlain(char* topText, char* bottomText, std::int32_t count, std::int32_t d) {
  if (topText != nullptr) WriteNumber(topText, count);
  if (bottomText != nullptr) WriteNumber(bottomText, d);
}

// Length of group k: up to the next start, the last one up to the list's end.
// 64-bit so that differences of extreme positions cannot overflow.
std::int64_t GroupLength(const BeatList* list, std::int32_t k, std::int32_t count) {
  std::int64_t end = k + 1 < count ? list->positions[k + 1] : list->length;
  return end - list->positions[k];
}

bool CountFits(std::int64_t count) { return count >= 1 && count <= MaxBeatCount; }

void Publish(const Text& top, const Text& bottom, char* topText, char* bottomText) {
  std::memcpy(topText, top.buffer, top.length + 1);
  std::memcpy(bottomText, bottom.buffer, bottom.length + 1);
}

// A list's starts in ascending order without repeats, on the stack. Lists
// gathered from several layers are neither sorted nor free of repeats, and
// their raw differences would give zero or negative counts.
struct NormalisedList {
  std::int32_t positions[BeatListCapacity];
  std::int16_t durations[BeatListCapacity];
  BeatList list;
};

void Normalise(const BeatList* source, NormalisedList& out) {
  // Sorting (position, note value) keys keeps equal positions together.
  std::int64_t keys[BeatListCapacity];
  std::int32_t count = UsableCount(source);
  for (std::int32_t i = 0; i < count; ++i) {
    keys[i] = static_cast<std::int64_t>(source->positions[i]) * 65536 +
              static_cast<std::uint16_t>(source->durations[i]);
  }
  std::sort(keys, keys + count);
  std::int16_t kept = 0;
  for (std::int32_t i = 0; i < count;) {
    std::int64_t position = keys[i] >> 16;  // arithmetic shift: floor division by 65536
    std::int16_t duration = static_cast<std::int16_t>(static_cast<std::uint16_t>(keys[i] & 0xFFFF));
    std::int32_t j = i + 1;
    for (; j < count && (keys[j] >> 16) == position; ++j) {
      // Layers that disagree on the note value leave the group without one.
      if (static_cast<std::int16_t>(static_cast<std::uint16_t>(keys[j] & 0xFFFF)) != duration) {
        duration = 0;
      }
    }
    out.positions[kept] = static_cast<std::int32_t>(position);
    out.durations[kept] = duration;
    ++kept;
    i = j;
  }
  out.list.length = source != nullptr ? source->length : 0;
  out.list.count = kept;
  out.list.capacity = BeatListCapacity;
  out.list.positions = out.positions;
  out.list.durations = out.durations;
}

}  // namespace

std::int16_t FirstDividingBeat(std::int32_t measureLength, char* topText, char* bottomText) {
  for (std::size_t i = 0; i < BeatDurationCount; ++i) {
    if (!Allowed(globalSettings, i)) continue;
    std::int32_t count = PlainCount(measureLength, BeatDurationTable[i]);
    if (count == 0) continue;
    WritePlain(topText, bottomText, count, BeatDurationTable[i]);
    return 1;
  }
  return 0;
}

std::int16_t AllStartsOnBeat(std::int32_t d, const BeatList* lists, std::int16_t n) {
  if (d <= 0) return 0;
  for (std::int16_t l = 0; lists != nullptr && l < n; ++l) {
    const BeatList* list = &lists[l];
    std::int32_t count = UsableCount(list);
    for (std::int32_t k = 0; k < count; ++k) {
      if (list->positions[k] % d != 0) return 0;
    }
  }
  return 1;
}

std::int16_t EvenlySpaced(std::int32_t d, const BeatList* list) {
  if (d <= 0 || list == nullptr) return 0;
  std::int32_t count = UsableCount(list);
  for (std::int32_t k = 0; k < count; ++k) {
    if (list->positions[k] != static_cast<std::int64_t>(k) * d) return 0;
  }
  return static_cast<std::int64_t>(count) * d >= list->length ? 1 : 0;
}

namespace {

// The builders fill local texts and report the composite's total length in
// EDUs, so that a caller can refuse a composite before anything is published.
bool BuildCompact(const BeatList* list, const Settings& settings, Text& top, Text& bottom,
                  std::int64_t& total) {
  std::int32_t count = UsableCount(list);
  if (count == 0) return false;
  std::int64_t beat = 0;
  for (std::int32_t k = 0; k < count; ++k) {
    std::int64_t g = GroupLength(list, k, count);
    std::int16_t v = list->durations[k];
    if (beat == 0) {
      beat = FirstAllowedDividing(settings, g);
      // Without a beat for the first group every quotient would divide by 0.
      if (beat == 0) return false;
    }
    if (g % beat != 0) {
      for (std::size_t i = 0; i < BeatDurationCount; ++i) {
        std::int64_t e = BeatDurationTable[i];
        if (Allowed(settings, i) && g % e == 0 && beat % e == 0) {
          beat = e;
          break;
        }
      }
    }
    // A note value is positive; anything else means none.
    if (settings.largestBeatDuration == 0 && v > 0 && v < beat) beat = v;
  }
  TextClear(top);
  TextClear(bottom);
  total = 0;
  for (std::int32_t k = 0; k < count; ++k) {
    std::int64_t beats = GroupLength(list, k, count) / beat;
    if (!CountFits(beats)) return false;
    total += beats * beat;
    if (top.length != 0) TextAppend(top, "+", 1);
    TextAppendNumber(top, beats);
  }
  TextAppendNumber(bottom, beat);
  return !top.overflow && !bottom.overflow;
}

bool BuildGrouped(const BeatList* list, const Settings& settings, Text& top, Text& bottom,
                  std::int64_t& total) {
  std::int32_t count = UsableCount(list);
  if (count == 0) return false;
  TextClear(top);
  TextClear(bottom);
  total = 0;
  std::int64_t previous = 0;
  for (std::int32_t k = 0; k < count; ++k) {
    std::int64_t g = GroupLength(list, k, count);
    std::int16_t v = list->durations[k];
    std::int64_t e = FirstAllowedDividing(settings, g);
    if (e == 0) continue;  // no beat fits: the group adds nothing
    std::int64_t d = v > 0 && v < e ? v : e;
    bool newRun = d != previous;
    if (newRun) {
      previous = d;
      if (bottom.length != 0) TextAppend(bottom, "+", 1);
      TextAppendNumber(bottom, d);
    }
    if (top.length != 0) TextAppend(top, newRun ? "++" : "+", newRun ? 2 : 1);
    std::int64_t beats = g / previous;
    if (!CountFits(beats)) return false;
    total += beats * previous;
    TextAppendNumber(top, beats);
  }
  return top.length != 0 && !top.overflow && !bottom.overflow;
}

}  // namespace

std::int16_t BuildCompactComposite(const BeatList* list, char* topText, char* bottomText,
                                   const Settings& settings) {
  if (topText == nullptr || bottomText == nullptr) return 0;
  Text top;
  Text bottom;
  std::int64_t total = 0;
  if (!BuildCompact(list, settings, top, bottom, total)) return 0;
  Publish(top, bottom, topText, bottomText);
  return 1;
}

std::int16_t BuildGroupedComposite(const BeatList* list, char* topText, char* bottomText,
                                   const Settings& settings) {
  if (topText == nullptr || bottomText == nullptr) return 0;
  Text top;
  Text bottom;
  std::int64_t total = 0;
  if (!BuildGrouped(list, settings, top, bottom, total)) return 0;
  Publish(top, bottom, topText, bottomText);
  return 1;
}

std::int16_t TryComposite(std::int32_t measureLength, const BeatList* lists, std::int16_t n,
                          char* topText, char* bottomText, const Settings& settings) {
  if (lists == nullptr || topText == nullptr || bottomText == nullptr) return 0;
  std::int16_t reference = -1;
  for (std::int16_t l = 0; l < n; ++l) {
    if (lists[l].length == measureLength) {
      reference = l;
      break;
    }
  }
  if (reference < 0) return 0;

  NormalisedList p;
  Normalise(&lists[reference], p);
  if (p.list.count == 0) return 0;  // no groups: a composite of zero beats

  if (settings.preferComposite == 0) {
    for (std::size_t i = 0; i < BeatDurationCount; ++i) {
      std::int32_t d = BeatDurationTable[i];
      if (Allowed(settings, i) && PlainCount(measureLength, d) != 0 && EvenlySpaced(d, &p.list)) {
        return 0;
      }
    }
  }

  // Every staff must share the reference grouping: its starts, normalised
  // alike, are the reference's first starts.
  NormalisedList q;
  for (std::int16_t l = 0; l < n; ++l) {
    if (l == reference) continue;
    Normalise(&lists[l], q);
    if (q.list.count > p.list.count) return 0;
    for (std::int16_t k = 0; k < q.list.count; ++k) {
      if (q.positions[k] != p.positions[k]) return 0;
    }
  }

  Text top;
  Text bottom;
  std::int64_t total = 0;
  const bool built = settings.compactBeatDuration != 0
                         ? BuildCompact(&p.list, settings, top, bottom, total)
                         : BuildGrouped(&p.list, settings, top, bottom, total);
  // A composite that does not add up to the measure (a group no allowed beat
  // divides, or a stretch before the first start) would misstate its length.
  if (!built || total != measureLength) return 0;
  Publish(top, bottom, topText, bottomText);
  return 1;
}

std::int16_t DeriveSignature(std::int32_t measureLength, const BeatList* lists, std::int16_t n,
                             char* topText, char* bottomText) {
  if (FirstDividingBeat(measureLength, nullptr, nullptr) == 0) return 0;
  if (globalSettings.useComposite != 0 &&
      TryComposite(measureLength, lists, n, topText, bottomText, globalSettings) != 0) {
    return 1;
  }
  for (std::size_t i = 0; i < BeatDurationCount; ++i) {
    if (!Allowed(globalSettings, i)) continue;
    std::int32_t d = BeatDurationTable[i];
    std::int32_t count = PlainCount(measureLength, d);
    if (count != 0 && AllStartsOnBeat(d, lists, n)) {
      WritePlain(topText, bottomText, count, d);
      return 1;
    }
  }
  // Step one proved that some allowed duration divides the measure.
  return FirstDividingBeat(measureLength, topText, bottomText);
}
