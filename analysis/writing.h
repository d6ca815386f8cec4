// Time signature writing: puts derived texts into a measure's record or a
// staff's independent time signature; composite texts become chains of
// composite records. "+" joins parts; "++" in an upper text begins a group.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/chains.h"

constexpr std::size_t FormatBufferSize = 100;

// Writes the texts into MeasureRecord (measure, 0) under hideTimeSig,
// displayCurrentTimeSig and abbreviateDisplay; leaves the measure alone (and
// creates no chain) when it already holds exactly this, and saves nothing
// when the host refuses a record of a chain. Nonzero: changed.
std::int16_t WriteMeasureSignature(std::int16_t measure, const char* topText,
                                   const char* bottomText);

// Writes the texts into an existing StaffTimeSigRecord (staff, measure, 0);
// never creates one. No chain is created when it already holds the same
// signature; nothing is saved when a chain cannot be made. Nonzero: changed.
std::int16_t WriteStaffSignature(std::int16_t measure, const char* topText, const char* bottomText,
                                 std::int16_t staff);

// In a loaded record: a text with "+" becomes a new chain whose number goes
// into the int16 at `field` with `bit` set in the uint16 at `flagWord`;
// otherwise the number read from the text goes there and `bit` is cleared.
// False when the host refused a record of the chain (the caller then saves
// nothing).
bool StoreSignatureField(const char* text, std::uint8_t* field, std::uint8_t* flagWord,
                         std::uint16_t bit, ChainKind kind);

// Create a chain from a composite text (two top / three bottom slots per
// record) and return its chain number (0xFFFF if the host assigned none).
std::int16_t CreateTopChain(const char* text);
std::int16_t CreateBottomChain(const char* text);

// Format a field as text into a buffer of FormatBufferSize bytes: the number
// itself, or, when composite, the chain's elements with "+" between them and
// "++" before one that begins a group. Returns 1, or 0 when the text did not
// fit (it then ends after the last whole element that did).
std::int16_t FormatTopChain(char* buffer, std::int16_t value, int composite);
std::int16_t FormatBottomChain(char* buffer, std::int16_t value, int composite);

// Drops the measure's display time signature (chains stay in the score).
void ClearDisplaySignature(std::int16_t measure);
// Sets the measure's display time signature; the result of its save, 0 when
// the record does not load or a chain cannot be made (nothing is saved then).
std::int16_t SetDisplaySignature(std::int16_t measure, const char* upperText, const char* lowerText,
                                 std::int16_t abbreviate);

// The number a text starts with: white space, optional sign, digits; 0 when
// there are none. Kept as int16 like the record fields.
std::int16_t ReadTextNumber(const char* text);
