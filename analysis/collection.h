// Beat-start collection: for one staff in one measure, where the beam groups
// of its four layers begin and which single note value each group is made of.
#pragma once

#include <cstdint>

#include "analysis/beatlist.h"

constexpr int LayerCount = 4;

// Fills `list` (freshly initialised with BeatListInit) with one entry per
// group start, layer 0 first, in entry order; raises list->length to the
// longest layer. Returns the longest layer duration in EDUs, 0 when no layer
// could be loaded. Every loaded layer is freed before the next is loaded.
std::int32_t CollectBeatStarts(std::int16_t staff, std::int16_t measure, BeatList* list);
