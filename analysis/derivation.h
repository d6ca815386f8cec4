// Time signature derivation: from the BeatLists of one measure to the texts of
// a time signature. topText holds the beat count(s), bottomText the beat
// duration(s) in EDUs; "+" joins composite parts and "++" in topText starts a
// group with its own beat duration (1+1++3 over 1024+512).
#pragma once

#include <cstddef>
#include <cstdint>

#include "analysis/beatlist.h"
#include "settings/settings.h"

constexpr std::size_t SignatureTextSize = 100;  // buffers of topText and bottomText

// 1 with both texts written, or 0 when no allowed duration divides
// measureLength (texts untouched). measureLength > 0, n >= 1.
std::int16_t DeriveSignature(std::int32_t measureLength, const BeatList* lists, std::int16_t n,
                             char* topText, char* bottomText);

// 1 when some allowed duration divides measureLength; given buffers receive
// the plain texts of the first (longest) such duration.
std::int16_t FirstDividingBeat(std::int32_t measureLength, char* topText, char* bottomText);

// 1 when every position of every list is a multiple of d.
std::int16_t AllStartsOnBeat(std::int32_t d, const BeatList* lists, std::int16_t n);

// 1 when positions[k] == k*d for every k in stored order and count*d >= length.
std::int16_t EvenlySpaced(std::int32_t d, const BeatList* list);

// 1 when a composite was written into the texts; 0 (texts untouched) when no
// composite is to be used and the plain path decides.
std::int16_t TryComposite(std::int32_t measureLength, const BeatList* lists, std::int16_t n,
                          char* topText, char* bottomText, const Settings& settings);

// Write the texts from the groups of one list.
void BuildCompactComposite(const BeatList* list, char* topText, char* bottomText,
                           const Settings& settings);
void BuildGroupedComposite(const BeatList* list, char* topText, char* bottomText,
                           const Settings& settings);
