// The simulated host: an in-memory score kept the way the plug-in expects the
// host to keep it (tagged records, staff list, layers of entries), behind the
// 17 host functions of host/host.h. One Host is current at a time; the host
// functions act on it.
//
// Host function semantics chosen here (the plug-in only relies on the low 16
// bits of a result):
// - HostLoadRecord copies min(stored size, *size) bytes when a buffer is
//   given and always sets *size to the stored size; a null buffer only tests
//   existence. A buffer without a size pointer fails.
// - HostSaveRecord replaces an existing record with exactly the buffer and
//   size given; saving a record that does not exist fails (records come into
//   being only through HostCreateRecord or the builder).
// - HostCreateRecord: key number 0xFFFF takes the next unused number of the
//   tag (highest number in use + 1, at least 1); sequence 0xFFFF takes the
//   next free sequence (0, 1, 2, ...) under that number. The key is written
//   back. Creating over an existing record fails.
// - Layers live in a memory arena below 4 GiB; HostCellFrame(staff) is
//   FrameForStaff(staff), which is not the staff number.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "host/records.h"

namespace simhost {

// One entry of a layer, as the builder describes it.
struct Entry {
  std::int32_t position = 0;     // EDUs from the start of the measure
  std::int32_t duration = 0;     // EDUs, the notated value
  bool beamStart = false;        // begins a beamed group (also an unbeamed note)
  bool skip = false;             // passed over by the beat collection (grace notes ...)
  std::uint32_t otherFlags = 0;  // further entryFlags bits, carried as given
};

struct TopSlot {
  std::int16_t beatCount = 0;
  std::int16_t slotFlags = 0;
};
struct BottomSlot {
  std::int16_t duration = 0;
  std::int16_t slotFlags = 0;
};

// A measure's record in readable form.
struct MeasureView {
  std::int16_t beats = 0;
  std::int16_t beatDuration = 0;
  std::uint16_t signatureFlags = 0;
  std::uint16_t extraFlags = 0;
  std::int16_t displayBeats = 0;
  std::int16_t displayBeatDuration = 0;
  std::uint16_t displayFlags = 0;
};

struct StaffTimeSigView {
  std::int16_t beats = 0;
  std::int16_t beatDuration = 0;
  std::uint16_t signatureFlags = 0;
};

// What the host was asked to do, for tests and reports.
struct Counters {
  int loads = 0;          // HostLoadRecord calls
  int saves = 0;          // HostSaveRecord calls
  int creates = 0;        // HostCreateRecord calls
  int layerLoads = 0;     // layer objects handed out
  int layerFrees = 0;     // layer objects handed back
  int updateLayouts = 0;  // HostUpdateLayout calls
  int failedSaves = 0;    // saves (and creates) that reported failure
  int badCalls = 0;       // wrong version or fixed arguments, frees of unknown objects
};

// Bytes of new builder records that no field covers are filled with this, so
// that tests can see them carried through unchanged.
constexpr std::uint8_t UnlistedByteFill = 0xA5;

// The frame value HostCellFrame gives for a staff; deliberately not the staff.
constexpr std::int16_t FrameForStaff(std::int16_t staff) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(staff) + 100u);
}
constexpr std::int16_t StaffForFrame(std::int32_t frame) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(frame) - 100u);
}

// A SelectionRegion as the host passes it to the plug-in (unused bytes filled).
std::array<std::uint8_t, SelectionRegionLayout::Size> MakeSelectionRegion(
    std::int16_t staffList, std::int16_t firstSlot, std::int16_t firstMeasure,
    std::int32_t startPosition, std::int16_t lastSlot, std::int16_t lastMeasure,
    std::int32_t endPosition = EndOfMeasure);

// Key length of a tag: StaffMeasureKey (6) for StaffTimeSigRecord, else RecordKey (4).
std::size_t KeySizeForTag(std::uint32_t tag);

class Host {
 public:
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // --- building a score ---
  // Appends a staff to the staff list (next slot) with its StaffRecord flags.
  void AddStaff(std::int16_t staff, std::uint16_t staffFlags = 0);
  // A further staff list for HostStaffAtSlot (number != 0; list 0 is the score's).
  void SetStaffList(std::int16_t staffList, const std::vector<std::int16_t>& staves);
  // A plain measure time signature (creates or replaces the MeasureRecord; the
  // other fields become 0, unlisted bytes of an existing record are kept).
  void SetMeasure(std::int16_t measure, std::int16_t beats, std::int16_t beatDuration,
                  std::uint16_t signatureFlags = 0);
  void SetMeasure(std::int16_t measure, const MeasureView& view);
  // Composite chains; each returns the new chain number (records of
  // 2 top / 3 bottom slots, sequences 0, 1, ...; unused slots of the last record empty).
  std::int16_t AddTopChain(const std::vector<TopSlot>& slots);
  std::int16_t AddBottomChain(const std::vector<BottomSlot>& slots);
  void SetStaffTimeSig(std::int16_t staff, std::int16_t measure, std::int16_t beats,
                       std::int16_t beatDuration, std::uint16_t signatureFlags = 0);
  // Replaces the layer (0..3) of a staff in a measure.
  void SetLayer(std::int16_t staff, std::int16_t measure, int layer, std::int32_t duration,
                const std::vector<Entry>& entries);
  // Raw record access by tag and key bytes (KeySizeForTag bytes are used;
  // missing ones count as 0). PutRecord creates or replaces.
  void PutRecord(std::uint32_t tag, const std::vector<std::uint8_t>& key,
                 const std::vector<std::uint8_t>& bytes);
  bool GetRecord(std::uint32_t tag, const std::vector<std::uint8_t>& key,
                 std::vector<std::uint8_t>& bytes) const;

  // --- reading back ---
  bool ReadMeasure(std::int16_t measure, MeasureView& view) const;
  bool ReadStaffTimeSig(std::int16_t staff, std::int16_t measure, StaffTimeSigView& view) const;
  // Every slot of the chain's records, empty ones included, in record order.
  std::vector<TopSlot> ReadTopChain(std::int16_t chain) const;
  std::vector<BottomSlot> ReadBottomChain(std::int16_t chain) const;
  // Number of records of the chain (sequences 0, 1, ... present).
  int ChainRecordCount(std::uint32_t tag, std::int16_t chain) const;
  // A signature field as text: the decimal value, or the chain's non-empty
  // slots joined by "+", with "++" before a later slot that starts a group.
  std::string FormatTop(std::int16_t value, bool composite) const;
  std::string FormatBottom(std::int16_t value, bool composite) const;
  // "top/bottom" of a measure's own signature; empty when it has no record.
  std::string FormatMeasure(std::int16_t measure) const;
  std::size_t RecordCount() const;
  std::size_t RecordCount(std::uint32_t tag) const;
  std::vector<std::int16_t> StaffList() const;
  bool ReadStaffFlags(std::int16_t staff, std::uint16_t& staffFlags) const;
  // Measures that have a MeasureRecord, ascending.
  std::vector<std::int16_t> MeasureNumbers() const;
  bool ReadLayer(std::int16_t staff, std::int16_t measure, int layer, std::int32_t& duration,
                 std::vector<Entry>& entries) const;
  std::size_t LayerCount() const;
  // Host function calls per tag (failed ones included).
  int SaveCount(std::uint32_t tag) const;
  int CreateCount(std::uint32_t tag) const;
  const Counters& counters() const { return counters_; }
  int OutstandingLayers() const { return counters_.layerLoads - counters_.layerFrees; }

  // --- fault injection ---
  // Loads / saves of this tag (and key, when given) fail.
  void FailLoads(std::uint32_t tag, const std::vector<std::uint8_t>& key = {});
  void FailSaves(std::uint32_t tag, const std::vector<std::uint8_t>& key = {});
  // Creates of this tag fail once `after` more of them have succeeded.
  void FailCreates(std::uint32_t tag, int after = 0);
  void FailLayerLoads(std::int16_t staff, std::int16_t measure, int layer);
  // As if no memory below 4 GiB could be had: every layer load gives null.
  void FailLowMemory(bool on) { noLowMemory_ = on; }
  void ClearFaults();
  // Successful results carry nonzero garbage in their high 16 bits.
  void SetResultGarbage(bool on) { garbage_ = on; }

  // Implementation of the host functions (called through host/host.h).
  std::int32_t LoadRecord(std::uint32_t tag, void* key, void* buffer, std::int32_t* size);
  std::int32_t SaveRecord(std::uint32_t tag, void* key, const void* buffer, std::int32_t size);
  std::int32_t CreateRecord(std::uint32_t tag, void* key, const void* buffer, std::int32_t size);
  void* LoadLayer(std::int32_t frame, std::int32_t measure, std::int32_t layer);
  void FreeLayer(void* layer);
  std::int32_t LayerDuration(void* layer);
  std::int32_t CellFrame(std::int32_t staff) const;
  std::int32_t StaffAtSlot(std::int32_t slot, std::int32_t staffList) const;
  void UpdateLayout() { ++counters_.updateLayouts; }
  // A host function was called with a wrong version or fixed argument.
  void NoteBadCall() { ++counters_.badCalls; }

 private:
  struct Impl;
  std::int32_t Result(bool ok) const;
  std::unique_ptr<Impl> impl_;
  Counters counters_;
  bool garbage_ = false;
  bool noLowMemory_ = false;
};

// A time signature as the plug-in's texts show it (FormatTopChain /
// FormatBottomChain, and Host::FormatTop / FormatBottom): "4" over "1024",
// "3+3+2" over "512", "1+1++3" over "1024++512".
struct SignatureText {
  std::string top;
  std::string bottom;
  bool hidden = false;      // alwaysHide
  bool hasDisplay = false;  // displayInUse: displayTop/displayBottom are shown
  std::string displayTop;
  std::string displayBottom;
  bool operator==(const SignatureText&) const = default;
};

// Reads the measure's record; false when the host has none. Never throws.
bool ReadMeasureSignature(const Host& host, std::int16_t measure, SignatureText& out);
// Reads a staff's own signature (hidden/display stay empty); false when none.
bool ReadStaffSignature(const Host& host, std::int16_t staff, std::int16_t measure,
                        SignatureText& out);

// The host that the host functions act on; null until one is installed.
void SetCurrentHost(Host* host);
Host* CurrentHost();

}  // namespace simhost
