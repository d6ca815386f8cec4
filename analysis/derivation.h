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

// Every count written into a text is stored as an int16 by the writers, so a
// count above this is never produced (the duration counts as not fitting).
constexpr std::int32_t MaxBeatCount = 32767;

// 1 with both texts written, or 0 when no allowed duration divides
// measureLength (texts untouched). measureLength > 0, n >= 1. Reads
// globalSettings.
std::int16_t DeriveSignature(std::int32_t measureLength, const BeatList* lists, std::int16_t n,
                             char* topText, char* bottomText);

// 1 when some allowed duration d divides measureLength into 1..MaxBeatCount
// beats; given buffers (either may be null) receive the plain texts of the
// first (longest) such duration. Reads globalSettings.
std::int16_t FirstDividingBeat(std::int32_t measureLength, char* topText, char* bottomText);

// 1 when every position of every list is a multiple of d (an empty list
// passes); 0 for d <= 0.
std::int16_t AllStartsOnBeat(std::int32_t d, const BeatList* lists, std::int16_t n);

// 1 when positions[k] == k*d for every k in stored order and count*d >= length;
// 0 for d <= 0.
std::int16_t EvenlySpaced(std::int32_t d, const BeatList* list);

// 1 when a composite was written into the texts; 0 (texts untouched) when no
// composite is to be used and the plain path decides. Works on the reference
// list's starts sorted ascending with repeats dropped, and compares the other
// lists normalised the same way.
std::int16_t TryComposite(std::int32_t measureLength, const BeatList* lists, std::int16_t n,
                          char* topText, char* bottomText, const Settings& settings);

// Write the texts from the groups of one list (positions taken in stored
// order). 1 when written; 0, texts untouched, when the list yields no valid
// composite: no groups, a first group no allowed duration divides (compact),
// a count outside 1..MaxBeatCount, or a text over SignatureTextSize - 1
// characters.
std::int16_t BuildCompactComposite(const BeatList* list, char* topText, char* bottomText,
                                   const Settings& settings);
std::int16_t BuildGroupedComposite(const BeatList* list, char* topText, char* bottomText,
                                   const Settings& settings);
