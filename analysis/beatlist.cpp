#include "analysis/beatlist.h"

#include <new>

bool beatListFailAllocations = false;

void BeatListInit(BeatList* list) {
  list->length = 0;
  list->count = 0;
  list->capacity = BeatListCapacity;
  list->positions = nullptr;
  list->durations = nullptr;
  if (beatListFailAllocations) return;
  // nothrow: a failed allocation must not unwind into the host.
  list->positions = new (std::nothrow) std::int32_t[BeatListCapacity];
  list->durations = new (std::nothrow) std::int16_t[BeatListCapacity];
  if (list->positions == nullptr || list->durations == nullptr) {
    delete[] list->positions;
    delete[] list->durations;
    list->positions = nullptr;
    list->durations = nullptr;
  }
}

std::int16_t BeatListPush(BeatList* list, std::int32_t position, std::int16_t duration) {
  if (list->positions == nullptr || list->durations == nullptr) return 0;
  if (list->count >= list->capacity || list->count >= BeatListCapacity) return 0;
  list->positions[list->count] = position;
  list->durations[list->count] = duration;
  ++list->count;
  return 1;
}

void BeatListRelease(BeatList* list) {
  delete[] list->positions;
  delete[] list->durations;
  list->positions = nullptr;
  list->durations = nullptr;
  list->count = 0;
}
