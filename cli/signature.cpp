#include "cli/signature.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>

namespace meterfix {

namespace {

std::vector<std::string_view> Split(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + separator.size());
  }
}

// A positive number of at most nine digits, so that sums of a few stay
// within 64 bits and each one within 32.
bool ToPositive(std::string_view text, std::int64_t& value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos)
    return false;
  value = 0;
  for (const char c : text) value = value * 10 + (c - '0');
  return value > 0;
}

musicxml::Meter ReadTexts(std::string_view top, std::string_view bottom) {
  std::vector<std::int32_t> beats;
  for (const std::string_view group : Split(bottom, "++")) {
    std::int64_t beat = 0;
    for (const std::string_view slot : Split(group, "+")) {
      std::int64_t duration = 0;
      if (!ToPositive(slot, duration)) return {};
      beat += duration;
    }
    if (beat > INT32_MAX) return {};
    beats.push_back(static_cast<std::int32_t>(beat));
  }
  musicxml::Meter meter;
  const std::vector<std::string_view> groups = Split(top, "++");
  for (std::size_t g = 0; g < groups.size(); ++g) {
    musicxml::MeterGroup group;
    group.beatDuration = beats[std::min(g, beats.size() - 1)];
    for (const std::string_view part : Split(groups[g], "+")) {
      std::int64_t count = 0;
      if (!ToPositive(part, count)) return {};
      group.counts.push_back(static_cast<std::int32_t>(count));
    }
    meter.groups.push_back(std::move(group));
  }
  return meter;
}

// The name of a beat of `duration` EDUs, plain or dotted; empty for others.
std::string BeatName(std::int64_t duration) {
  static const std::pair<std::int64_t, const char*> Names[] = {
      {4096, "whole"},    {2048, "half"}, {1024, "quarter"}, {512, "eighth"},
      {256, "sixteenth"}, {128, "32nd"},  {64, "64th"}};
  for (const auto& [length, name] : Names) {
    if (duration == length) return name;
    if (duration == length * 3 / 2) return std::string("dotted ") + name;
  }
  return {};
}

}  // namespace

SignatureText::SignatureText(std::string topText, std::string bottomText)
    : top(std::move(topText)), bottom(std::move(bottomText)), meter(ReadTexts(top, bottom)) {}

std::string MusicalForm(const SignatureText& signature) {
  const std::string form = ConventionalForm(signature.meter);
  if (!form.empty()) return form;
  return signature.top + "/" + signature.bottom + " (host units)";
}

std::string ConventionalForm(const musicxml::Meter& meter) {
  std::string result;
  for (const musicxml::MeterGroup& group : meter.groups) {
    std::int64_t duration = group.beatDuration;
    if (duration <= 0) return {};
    // A whole note is 4096 EDUs; dotted beats count in their thirds.
    std::int64_t factor = 1;
    if (4096 % duration != 0) {
      if (duration % 3 != 0 || 4096 % (duration / 3) != 0) return {};
      factor = 3;
      duration /= 3;
    }
    // One group keeps its additive counts (3+3+2/8); of several, each is
    // read as its total (1+1 over 1024 and 3 over 512 is 2/4+3/8).
    std::string numbers;
    std::int64_t total = 0;
    for (const std::int64_t count : group.counts) {
      // Beyond 32767 a count has no reading: no reader takes it back.
      if (count * factor > 32767) return {};
      if (!numbers.empty()) numbers += "+";
      numbers += std::to_string(count * factor);
      total += count * factor;
    }
    if (meter.groups.size() > 1) numbers = std::to_string(total);
    if (!result.empty()) result += "+";
    result += numbers + "/" + std::to_string(4096 / duration);
  }
  return result;
}

std::string BeatUnits(const musicxml::Meter& meter) {
  std::string result;
  for (const musicxml::MeterGroup& group : meter.groups) {
    const std::string name = BeatName(group.beatDuration);
    if (name.empty()) return {};
    std::string counts;
    std::int64_t total = 0;
    for (const std::int64_t count : group.counts) {
      if (!counts.empty()) counts += "+";
      counts += std::to_string(count);
      total += count;
    }
    if (!result.empty()) result += ", ";
    const bool half = name.size() >= 4 && name.compare(name.size() - 4, 4, "half") == 0;
    result += counts + " " +
              (total == 1 ? name
               : half     ? name.substr(0, name.size() - 1) + "ves"
                          : name + "s");
  }
  return result;
}

std::vector<int> MusicalBeatStarts(const musicxml::Meter& meter) {
  std::vector<int> beats;
  std::int64_t position = 0;
  for (const musicxml::MeterGroup& group : meter.groups) {
    const std::int64_t beat = group.beatDuration;
    for (const std::int64_t count : group.counts) {
      if (count > 64 || position + count * beat > INT32_MAX) return {};
      if (group.counts.size() == 1) {
        for (std::int64_t i = 0; i < count; ++i)
          beats.push_back(static_cast<int>(position + i * beat));
      } else {
        beats.push_back(static_cast<int>(position));
      }
      position += count * beat;
    }
  }
  return beats;
}

}  // namespace meterfix
