// The simulated host: an in-memory score kept the way the plug-in expects the
// host to keep it (tagged records, staff list, layers of entries), behind the
// 17 host functions of plugin/host.h. One Host is current at a time; the host
// functions act on it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "analysis/records.h"

namespace simhost {

// One entry of a layer, as the builder describes it.
struct Entry {
  std::int32_t position = 0;  // EDUs from the start of the measure
  std::int32_t duration = 0;  // EDUs, the notated value
  bool beamStart = false;     // begins a beamed group (also an unbeamed note)
  bool skip = false;          // passed over by the beat collection (grace notes ...)
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
  int loads = 0;
  int saves = 0;
  int creates = 0;
  int layerLoads = 0;
  int layerFrees = 0;
  int updateLayouts = 0;
};

class Host {
 public:
  Host();
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // --- building a score ---
  // Appends a staff to the staff list (next slot) with its StaffRecord flags.
  void AddStaff(std::int16_t staff, std::uint16_t staffFlags = 0);
  // A plain measure time signature (creates or replaces the MeasureRecord).
  void SetMeasure(std::int16_t measure, std::int16_t beats, std::int16_t beatDuration,
                  std::uint16_t signatureFlags = 0);
  void SetMeasure(std::int16_t measure, const MeasureView& view);
  // Composite chains; each returns the new chain number (records of
  // 2 top / 3 bottom slots, sequences 0, 1, ...).
  std::int16_t AddTopChain(const std::vector<TopSlot>& slots);
  std::int16_t AddBottomChain(const std::vector<BottomSlot>& slots);
  void SetStaffTimeSig(std::int16_t staff, std::int16_t measure, std::int16_t beats,
                       std::int16_t beatDuration, std::uint16_t signatureFlags = 0);
  // Replaces the layer (0..3) of a staff in a measure.
  void SetLayer(std::int16_t staff, std::int16_t measure, int layer, std::int32_t duration,
                const std::vector<Entry>& entries);
  // Raw record access by tag and key bytes.
  void PutRecord(std::uint32_t tag, const std::vector<std::uint8_t>& key,
                 const std::vector<std::uint8_t>& bytes);
  bool GetRecord(std::uint32_t tag, const std::vector<std::uint8_t>& key,
                 std::vector<std::uint8_t>& bytes) const;

  // --- reading back ---
  bool ReadMeasure(std::int16_t measure, MeasureView& view) const;
  bool ReadStaffTimeSig(std::int16_t staff, std::int16_t measure, StaffTimeSigView& view) const;
  std::vector<TopSlot> ReadTopChain(std::int16_t chain) const;
  std::vector<BottomSlot> ReadBottomChain(std::int16_t chain) const;
  std::size_t RecordCount() const;
  std::size_t RecordCount(std::uint32_t tag) const;
  std::vector<std::int16_t> StaffList() const;
  const Counters& counters() const { return counters_; }
  int OutstandingLayers() const { return counters_.layerLoads - counters_.layerFrees; }

  // --- fault injection ---
  // Loads / saves of this tag (and key, when given) fail.
  void FailLoads(std::uint32_t tag, const std::vector<std::uint8_t>& key = {});
  void FailSaves(std::uint32_t tag, const std::vector<std::uint8_t>& key = {});
  void FailLayerLoads(std::int16_t staff, std::int16_t measure, int layer);
  // Successful results carry nonzero garbage in their high 16 bits.
  void SetResultGarbage(bool on) { garbage_ = on; }

  // Implementation of the host functions (called through plugin/host.h).
  std::int32_t LoadRecord(std::uint32_t tag, void* key, void* buffer, std::int32_t* size);
  std::int32_t SaveRecord(std::uint32_t tag, void* key, const void* buffer, std::int32_t size);
  std::int32_t CreateRecord(std::uint32_t tag, void* key, const void* buffer, std::int32_t size);
  void* LoadLayer(std::int32_t frame, std::int32_t measure, std::int32_t layer);
  void FreeLayer(void* layer);
  std::int32_t LayerDuration(void* layer);
  std::int32_t CellFrame(std::int32_t staff) const;
  std::int32_t StaffAtSlot(std::int32_t slot, std::int32_t staffList) const;
  void UpdateLayout() { ++counters_.updateLayouts; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  Counters counters_;
  bool garbage_ = false;
};

// The host that the host functions act on; null until one is installed.
void SetCurrentHost(Host* host);
Host* CurrentHost();

}  // namespace simhost
