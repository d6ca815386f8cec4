// The record and layer functions of host/host.h, acting on the current
// simulated host. Without one they fail safely; nothing throws out of them.
#include "host/host.h"
#include "simhost/simhost.h"

namespace {

// Notes calls whose version or fixed arguments are not the documented ones.
simhost::Host* Checked(std::int32_t version, bool fixedArgumentsOk = true) {
  simhost::Host* host = simhost::CurrentHost();
  if (host != nullptr && (version != HostInterfaceVersion || !fixedArgumentsOk)) {
    host->NoteBadCall();
  }
  return host;
}

}  // namespace

extern "C" {

void* HOSTAPI HostLoadLayer(std::int32_t zero1, std::int32_t frame, std::int32_t measure,
                            std::int32_t layer, std::int32_t zero2, std::int32_t version) {
  try {
    simhost::Host* host = Checked(version, zero1 == 0 && zero2 == 0);
    return host == nullptr ? nullptr : host->LoadLayer(frame, measure, layer);
  } catch (...) {
    return nullptr;
  }
}

void HOSTAPI HostFreeLayer(void* layer, std::int32_t version) {
  try {
    if (simhost::Host* host = Checked(version)) host->FreeLayer(layer);
  } catch (...) {
  }
}

std::int32_t HOSTAPI HostLoadRecord(std::uint32_t tag, void* key, void* buffer, std::int32_t* size,
                                    std::int32_t version) {
  try {
    simhost::Host* host = Checked(version);
    return host == nullptr ? 0 : host->LoadRecord(tag, key, buffer, size);
  } catch (...) {
    return 0;
  }
}

std::int32_t HOSTAPI HostSaveRecord(std::uint32_t tag, void* key, void* buffer, std::int32_t size,
                                    std::int32_t version) {
  try {
    simhost::Host* host = Checked(version);
    return host == nullptr ? 0 : host->SaveRecord(tag, key, buffer, size);
  } catch (...) {
    return 0;
  }
}

std::int32_t HOSTAPI HostCreateRecord(std::uint32_t tag, void* key, void* buffer, std::int32_t size,
                                      std::int32_t version) {
  try {
    simhost::Host* host = Checked(version);
    return host == nullptr ? 0 : host->CreateRecord(tag, key, buffer, size);
  } catch (...) {
    return 0;
  }
}

std::int32_t HOSTAPI HostStaffAtSlot(std::int32_t slot, std::int32_t staffList,
                                     std::int32_t version) {
  try {
    simhost::Host* host = Checked(version);
    return host == nullptr ? 0 : host->StaffAtSlot(slot, staffList);
  } catch (...) {
    return 0;
  }
}

std::int32_t HOSTAPI HostCellFrame(std::int32_t staff, std::int32_t zero, std::int32_t version) {
  try {
    simhost::Host* host = Checked(version, zero == 0);
    return host == nullptr ? 0 : host->CellFrame(staff);
  } catch (...) {
    return 0;
  }
}

void HOSTAPI HostUpdateLayout(std::int32_t one, std::int32_t zero, std::int32_t version) {
  try {
    if (simhost::Host* host = Checked(version, one == 1 && zero == 0)) host->UpdateLayout();
  } catch (...) {
  }
}

std::int32_t HOSTAPI HostLayerDuration(void* layer, std::int32_t version) {
  try {
    simhost::Host* host = Checked(version);
    return host == nullptr ? 0 : host->LayerDuration(layer);
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
