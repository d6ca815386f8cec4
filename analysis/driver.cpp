#include "analysis/driver.h"

#include <cstddef>
#include <cstring>

#include "analysis/beatlist.h"
#include "analysis/check.h"
#include "analysis/collection.h"
#include "analysis/derivation.h"
#include "host/records.h"
#include "analysis/writing.h"
#include "host/host.h"
#include "settings/settings.h"

namespace {

// The staff at a slot of the score's staff list; false past its end.
bool StaffAtListSlot(std::int32_t slot, std::int16_t* staff) {
  std::uint8_t record[StaffListRecordLayout::Size]{};
  RecordKeyBytes key = MakeRecordKey(0, static_cast<std::int16_t>(slot));
  std::int32_t size = StaffListRecordLayout::Size;
  if (!HostSucceeded(
          HostLoadRecord(StaffListRecordTag, key.bytes, record, &size, HostInterfaceVersion))) {
    return false;
  }
  *staff = ReadI16(record + StaffListRecordLayout::Staff);
  return true;
}

void ReleaseLists(BeatList* lists, std::int16_t n) {
  for (std::int16_t i = 0; i < n; ++i) BeatListRelease(&lists[i]);
}

void ReportNoSignature(HWND owner, std::int16_t measure) {
  char text[100];
  wsprintfA(text, "Couldn't find any valid time signature for measure: %d",
            static_cast<int>(measure));
  MessageBoxA(owner, text, "Error", MB_ICONERROR);
}

// Independent staves get their own signature; reports whether any visited
// staff follows the measure's signature.
bool WriteIndependentStaves(std::int16_t measure, const std::uint8_t* region, const char* topText,
                            const char* bottomText, std::int16_t* changed) {
  std::int32_t followers = 0;
  std::int16_t staff = 0;
  for (std::int32_t slot = 0; slot <= INT16_MAX && StaffAtListSlot(slot, &staff); ++slot) {
    if (globalSettings.onlySelectedStaves != 0 && !StaffInSelection(staff, region)) continue;
    if (!StaffHasFlag(staff, IndependentSignaturesFlag)) {
      ++followers;
      continue;
    }
    if (globalSettings.displayCurrentTimeSig == 0) {
      *changed = static_cast<std::int16_t>(
          *changed | WriteStaffSignature(measure, topText, bottomText, staff));
    }
  }
  return followers > 0;
}

// The staves at the selected slots, gathered once per run over a selection:
// the host's staff list does not change while the plug-in works through it,
// and walking every selected slot for every staff of every measure would cost
// measures x staves x slots host calls. One bit per int16 staff number.
std::uint8_t selectedStaves[65536 / 8];
const std::uint8_t* selectedStavesRegion = nullptr;

std::size_t StaffBit(std::int16_t staff) {
  // The sum is 0..65535, never negative.
  // NOLINTNEXTLINE(bugprone-misplaced-widening-cast)
  return static_cast<std::size_t>(static_cast<std::int32_t>(staff) + 32768);
}

void GatherSelectedStaves(const std::uint8_t* region) {
  std::memset(selectedStaves, 0, sizeof selectedStaves);
  const std::int16_t staffList = ReadI16(region + SelectionRegionLayout::StaffList);
  const std::int32_t first = ReadI16(region + SelectionRegionLayout::FirstSlot);
  const std::int32_t last = ReadI16(region + SelectionRegionLayout::LastSlot);
  for (std::int32_t slot = first; slot <= last; ++slot) {
    const std::size_t bit =
        StaffBit(static_cast<std::int16_t>(HostStaffAtSlot(slot, staffList, HostInterfaceVersion)));
    selectedStaves[bit / 8] =
        static_cast<std::uint8_t>(selectedStaves[bit / 8] | (1u << (bit % 8)));
  }
  selectedStavesRegion = region;
}

}  // namespace

bool StaffInSelection(std::int16_t staff, const std::uint8_t* region) {
  if (region == selectedStavesRegion) {
    const std::size_t bit = StaffBit(staff);
    return (selectedStaves[bit / 8] & (1u << (bit % 8))) != 0;
  }
  const std::int16_t staffList = ReadI16(region + SelectionRegionLayout::StaffList);
  const std::int32_t first = ReadI16(region + SelectionRegionLayout::FirstSlot);
  const std::int32_t last = ReadI16(region + SelectionRegionLayout::LastSlot);
  for (std::int32_t slot = first; slot <= last; ++slot) {
    const std::int16_t atSlot =
        static_cast<std::int16_t>(HostStaffAtSlot(slot, staffList, HostInterfaceVersion));
    if (atSlot == staff) return true;
  }
  return false;
}

bool StaffHasFlag(std::int16_t staff, std::uint16_t mask) {
  std::uint8_t record[StaffRecordLayout::Size]{};
  RecordKeyBytes key = MakeRecordKey(staff, 0);
  std::int32_t size = StaffRecordLayout::Size;
  if (!HostSucceeded(
          HostLoadRecord(StaffRecordTag, key.bytes, record, &size, HostInterfaceVersion))) {
    return false;
  }
  return (ReadU16(record + StaffRecordLayout::StaffFlags) & mask) != 0;
}

bool StaffIsHidden(std::int16_t staff) { return StaffHasFlag(staff, HiddenStaffFlag); }

std::int16_t ProcessMeasure(HWND owner, std::int16_t measure, const std::uint8_t* region) {
  // Only the lists of staves that take part are initialised.
  BeatList lists[MaxStaves];
  std::int16_t n = 0;
  std::int32_t measureLength = 0;
  bool storageFailed = false;
  const bool onlySelected = globalSettings.onlySelectedStaves != 0;
  const bool hiddenAllowed = globalSettings.includeHiddenStaves != 0 && !onlySelected;

  std::int16_t staff = 0;
  for (std::int32_t slot = 0; slot <= INT16_MAX && StaffAtListSlot(slot, &staff); ++slot) {
    if (onlySelected && !StaffInSelection(staff, region)) continue;
    if (StaffIsHidden(staff) && !hiddenAllowed) continue;
    if (n == MaxStaves) break;  // the array is full: later staves do not take part
    BeatList* list = &lists[n];
    BeatListInit(list);
    ++n;
    if (list->positions == nullptr || list->durations == nullptr) {
      storageFailed = true;
      break;
    }
    const std::int32_t length = CollectBeatStarts(staff, measure, list);
    if (length > measureLength) measureLength = length;
  }

  if (n == 0) return 0;
  if (storageFailed || measureLength == 0 || measureLength < globalSettings.minMeasureDuration) {
    ReleaseLists(lists, n);
    return 0;
  }
  if (globalSettings.onlyChangeAtConflicts != 0 &&
      CheckExistingSignature(measure, measureLength, lists, n) != CheckConflict) {
    ReleaseLists(lists, n);
    return 0;
  }

  char topText[SignatureTextSize] = {};
  char bottomText[SignatureTextSize] = {};
  const std::int16_t derived = DeriveSignature(measureLength, lists, n, topText, bottomText);
  ReleaseLists(lists, n);
  if (derived == 0) {
    ReportNoSignature(owner, measure);
    return 0;
  }

  std::int16_t changed = 0;
  bool writeMeasure = true;
  if (globalSettings.changeIndependentStaves != 0) {
    writeMeasure = WriteIndependentStaves(measure, region, topText, bottomText, &changed);
  }
  if (writeMeasure) {
    changed =
        static_cast<std::int16_t>(changed | WriteMeasureSignature(measure, topText, bottomText));
  }
  return changed;
}

std::int16_t ProcessSelection(HWND owner, const std::uint8_t* region) {
  std::int32_t first = ReadI16(region + SelectionRegionLayout::FirstMeasure);
  std::int32_t last = ReadI16(region + SelectionRegionLayout::LastMeasure);
  if (ReadI32(region + SelectionRegionLayout::StartPosition) != 0) ++first;
  if (ReadI32(region + SelectionRegionLayout::EndPosition) != EndOfMeasure) --last;
  if (last < first) {
    MessageBoxA(owner, "No full measures selected. No editing can be done.", "KQ Meterfix info",
                MB_ICONINFORMATION);
    return 0;
  }
  if (globalSettings.onlySelectedStaves != 0) GatherSelectedStaves(region);
  std::int16_t changed = 0;
  for (std::int32_t measure = first; measure <= last; ++measure) {
    if (ProcessMeasure(owner, static_cast<std::int16_t>(measure), region) != 0) changed = 1;
  }
  selectedStavesRegion = nullptr;
  return changed;
}
