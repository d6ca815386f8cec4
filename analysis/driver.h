// Selection and measure driver: walks the fully selected measures and, per
// measure, collects the participating staves' beat starts, checks, derives
// and writes the time signature.
#pragma once

#include <cstdint>

#include "platform/win32.h"

constexpr std::int16_t MaxStaves = 300;

// Processes every fully selected measure of `region` (the host's 20-byte
// SelectionRegion) in ascending order. Shows "No full measures selected..."
// when there is none. 1 if any measure or independent staff was changed.
std::int16_t ProcessSelection(HWND owner, const std::uint8_t* region);

// One measure: nonzero if it or one of its independent staves was changed.
// Staves beyond the first MaxStaves that qualify do not take part; a measure
// whose working storage cannot be obtained is left alone.
std::int16_t ProcessMeasure(HWND owner, std::int16_t measure, const std::uint8_t* region);

// True when some slot firstSlot..lastSlot of the region holds `staff`.
bool StaffInSelection(std::int16_t staff, const std::uint8_t* region);
// True when the staff's StaffRecord loads and has a bit of `mask` set.
bool StaffHasFlag(std::int16_t staff, std::uint16_t mask);
bool StaffIsHidden(std::int16_t staff);
