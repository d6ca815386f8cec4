// The score as read from MusicXML, with no parser behind it: what the host
// gets (staves, layers, records) and, for every place the writer may edit,
// a byte span into the score's own file (the root member of an archive).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "musicxml/meter.h"
#include "musicxml/musicxml.h"
#include "simhost/simhost.h"

namespace musicxml {

constexpr std::size_t NoOffset = static_cast<std::size_t>(-1);

// Bytes [begin, end) of the score's file.
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// A comment or processing instruction directly inside a <time>, after
// `children` of its child elements.
struct TimeComment {
  Span span;
  int children = 0;
};

// One <time> element.
struct TimeSite {
  Span span;                // the element, tags included
  std::size_t openEnd = 0;  // just after its start tag
  bool located = true;      // false when it came out of an entity: no span
  std::vector<std::pair<std::string, std::string>> attributes;  // as written, in order
  std::string innerWs;  // its first child when that is whitespace
  std::string closeWs;  // its last child when that is whitespace
  TimeFields fields;
  int number = 0;  // the number attribute (0 when none)
  std::vector<TimeComment> comments;
  int children = 0;  // child elements
};

// The first <attributes> of a measure before its first note, backup or forward.
struct AttributesSite {
  Span span;
  bool hasChildren = false;
  bool hasBefore = false;  // a child that a new <time> goes in front of
  std::size_t beforeAt = 0;
  std::string beforeWs;  // the whitespace in front of that child
  bool hasFirstElement = false;
  std::string firstElementWs;  // the whitespace in front of its first element
  std::string closeWs;         // its last child when that is whitespace
  std::size_t closeAt = 0;     // where that whitespace, else the closing tag, starts
  std::string wsBefore;        // the whitespace in front of the element itself
};

struct MeasureSite {
  std::string number;
  bool implicit = false;        // implicit="yes": a pickup or a split measure
  bool located = true;          // false when part of it came out of an entity
  std::size_t openEnd = 0;      // just after its start tag (after "/>" when it is empty)
  std::vector<TimeSite> times;  // every <time>, in order
  std::optional<AttributesSite> attributes;
  bool hasTimed = false;  // a note, backup or forward
  std::size_t timedAt = 0;
  std::string timedWs;             // the whitespace in front of it
  std::string closeWs;             // its last child when that is whitespace
  std::size_t closeAt = NoOffset;  // where that whitespace, else </measure>, starts
};

using LayerModel = WrittenLayer;

struct CellModel {
  std::vector<LayerModel> layers;  // at most four; handed to the host by BuildHost
  std::vector<BeamGroup> beams;    // the beams of those layers, kept after BuildHost
};

struct PartModel {
  std::string id;
  int staffCount = 1;
  int firstStaff = 0;  // index into the score's staff list
  std::vector<MeasureSite> measures;
  std::vector<Meter> meters;      // what governs each measure (stand-ins included)
  std::vector<bool> synthesized;  // no <time> governs the measure
  std::vector<std::int64_t> lengths;
  std::vector<std::vector<CellModel>> cells;  // [staff of the part][measure]
  bool independent = false;
};

struct ScoreModel {
  std::vector<PartModel> parts;
  int measureCount = 0;
  std::vector<StaffInfo> staves;
  std::vector<Meter> records;  // what BuildHost puts in each MeasureRecord
  // A marked pickup's own signature (its length); the written one is then
  // its display signature, as the host keeps an upbeat.
  std::vector<std::optional<Meter>> pickups;
};

// A stand-in signature for a measure that no <time> governs: its length as
// plain beats of the largest note value from a quarter down that divides it.
Meter SynthesizedMeter(std::int64_t length);
// A marked pickup's own signature: its length in beats of the written
// signature where they fit, else as for a stand-in (visible).
Meter PickupMeter(std::int64_t length, const Meter& written);

// What the parts of a score state, measure by measure, and what the host is
// given for it: the reading of the file as loaded, or of the file as written.
struct Reading {
  std::vector<std::vector<Meter>> meters;      // [part][measure]; stand-ins set by ResolveReading
  std::vector<std::vector<bool>> synthesized;  // [part][measure]: no <time> governs
  std::vector<Meter> records;
  std::vector<std::optional<Meter>> pickups;
  std::vector<bool> independent;  // [part]
};

// Stand-ins, records, pickups and independent parts from `reading`'s meters
// and synthesized flags, with the lengths and implicit marks of `model`.
void ResolveReading(const ScoreModel& model, Reading& reading);

// Stand-ins, records, pickups and independent parts from what each part
// states (ResolveReading); call once every part is read.
void FinishModel(ScoreModel& model);

// "measure 3 (number 2): part P1" for messages.
std::string Where(const PartModel& part, int measure);
// A message about `file`: "file:measure 3 (number 2): ..." where the text
// begins with its place, else "file: ...".
std::string Located(const std::string& file, const std::string& text);

}  // namespace musicxml
