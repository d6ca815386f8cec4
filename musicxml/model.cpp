#include "musicxml/model.h"

#include <algorithm>

namespace musicxml {

Meter SynthesizedMeter(std::int64_t length) {
  Meter m;
  m.hidden = true;
  MeterGroup g;
  g.counts = {4};
  g.beatDuration = EdusPerQuarter;
  for (std::int32_t d = EdusPerQuarter; d >= 1 && length > 0; d /= 2) {
    if (length % d == 0 && length / d <= 32767) {
      g.counts = {static_cast<std::int32_t>(length / d)};
      g.beatDuration = d;
      break;
    }
  }
  m.groups.push_back(g);
  return m;
}

Meter PickupMeter(std::int64_t length, const Meter& written) {
  if (!written.groups.empty()) {
    const std::int64_t beat = written.groups.front().beatDuration;
    if (beat > 0 && length % beat == 0 && length / beat <= 32767) {
      Meter m;
      m.groups.push_back(
          MeterGroup{{static_cast<std::int32_t>(length / beat)}, static_cast<std::int32_t>(beat)});
      return m;
    }
  }
  Meter m = SynthesizedMeter(length);
  m.hidden = false;
  return m;
}

void ResolveReading(const ScoreModel& model, Reading& reading) {
  const std::vector<PartModel>& parts = model.parts;
  const auto count = static_cast<std::size_t>(model.measureCount);
  // Stand-ins for measures without a governing <time>: the longest part's length.
  for (std::size_t m = 0; m < count; ++m) {
    std::int64_t length = 0;
    for (const PartModel& part : parts) length = std::max(length, part.lengths[m]);
    for (std::size_t p = 0; p < parts.size(); ++p) {
      if (reading.synthesized[p][m]) reading.meters[p][m] = SynthesizedMeter(length);
    }
  }
  // The measure's record: the first part that states a signature there (a
  // part without <time> follows the others), else the stand-in.
  reading.records.assign(count, Meter{});
  for (std::size_t m = 0; m < count; ++m) {
    reading.records[m] = reading.meters[0][m];
    for (std::size_t p = 0; p < parts.size(); ++p) {
      if (!reading.synthesized[p][m]) {
        reading.records[m] = reading.meters[p][m];
        break;
      }
    }
  }
  reading.pickups.assign(count, std::nullopt);
  for (std::size_t m = 0; m < count; ++m) {
    std::int64_t length = 0;
    bool marked = false;
    for (const PartModel& part : parts) {
      length = std::max(length, part.lengths[m]);
      marked = marked || part.measures[m].implicit;
    }
    const Meter& record = reading.records[m];
    // Only a measure shorter than its signature is a pickup; an implicit
    // measure as long or longer (an unmetered piece) keeps today's reading.
    if (marked && length > 0 && !record.groups.empty() && length < record.Length()) {
      Meter own = PickupMeter(length, record);
      own.hidden = record.hidden;
      reading.pickups[m] = own;
    }
  }
  reading.independent.assign(parts.size(), false);
  for (std::size_t p = 0; p < parts.size(); ++p) {
    for (std::size_t m = 0; m < count && !reading.independent[p]; ++m) {
      if (!reading.synthesized[p][m] && !reading.meters[p][m].SameBeats(reading.records[m])) {
        reading.independent[p] = true;
      }
    }
  }
}

void FinishModel(ScoreModel& model) {
  Reading reading;
  for (PartModel& part : model.parts) {
    reading.meters.push_back(std::move(part.meters));
    reading.synthesized.push_back(std::move(part.synthesized));
  }
  ResolveReading(model, reading);
  for (std::size_t p = 0; p < model.parts.size(); ++p) {
    PartModel& part = model.parts[p];
    part.meters = std::move(reading.meters[p]);
    part.synthesized = std::move(reading.synthesized[p]);
    part.independent = reading.independent[p];
    for (int s = 0; s < part.staffCount; ++s) {
      model.staves[static_cast<std::size_t>(part.firstStaff + s)].independent = part.independent;
    }
  }
  model.records = std::move(reading.records);
  model.pickups = std::move(reading.pickups);
}

std::string Where(const PartModel& part, int measure) {
  const std::string& number = part.measures[static_cast<std::size_t>(measure)].number;
  return "measure " + std::to_string(measure + 1) +
         (number.empty() ? "" : " (number " + number + ")") + ": part " + part.id;
}

std::string Located(const std::string& file, const std::string& text) {
  // "file:measure 3 (number 2): ..." as editors and CI logs link it.
  return file + (text.rfind("measure ", 0) == 0 ? ":" : ": ") + text;
}

}  // namespace musicxml
