// BeatList: for one staff in one measure, where the beam groups begin and the
// common note value of each group. Fixed capacity, owned storage.
#pragma once

#include <cstdint>

constexpr std::int16_t BeatListCapacity = 500;

struct BeatList {
  std::int32_t length;  // EDUs: the longest layer seen for this staff and measure
  std::int16_t count;
  std::int16_t capacity;
  std::int32_t* positions;  // group starts in EDUs from the start of the measure
  std::int16_t* durations;  // common note value of each group in EDUs, or 0
};

// Obtains storage for BeatListCapacity entries; count and length 0. When the
// storage cannot be obtained the list has none and refuses every push.
void BeatListInit(BeatList* list);
// Appends (position, duration): 1, or 0 when full or without storage.
std::int16_t BeatListPush(BeatList* list, std::int32_t position, std::int16_t duration);
// Frees the storage; the list is empty and refuses pushes until initialised.
void BeatListRelease(BeatList* list);

// Test hook: while set, BeatListInit behaves as if no storage could be had.
extern bool beatListFailAllocations;
