// Existing time signature check: do a measure's beam groups already begin on
// beat starts of its present (plain or composite) time signature?
#pragma once

#include <cstdint>

#include "analysis/beatlist.h"

constexpr std::int16_t TopSlotCapacity = 200;
constexpr std::int16_t BottomSlotCapacity = 200;

// Results of CheckExistingSignature.
constexpr std::int16_t CheckNoConflict = 0;
constexpr std::int16_t CheckConflict = 1;
// Its working storage could not be obtained: the caller leaves the measure alone.
constexpr std::int16_t CheckNoStorage = -1;

// Tests every position of the n lists against the beat starts of the
// measure's present time signature. A plain signature must also be exactly
// measureLength long. A MeasureRecord that does not load, or a composite
// signature that cannot be expanded soundly, is a conflict.
std::int16_t CheckExistingSignature(std::int16_t measure, std::int32_t measureLength,
                                    const BeatList* lists, std::int16_t n);

// Appends the beat starts of a composite signature (a 24-byte MeasureRecord
// with compositeTop and/or compositeBottom set) to `beatStarts`: one start per
// top slot, or per beat of each bottom group under a plain top. Returns 1, or
// 0 when the chains cannot be paired soundly: a composite bit whose chain
// yields no slot, a chain longer than its 200 slots, or top and bottom chains
// with different numbers of groups. Stops early once the list is full.
std::int16_t ExpandCompositeStarts(const std::uint8_t* measureRecord, BeatList* beatStarts);
