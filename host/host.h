// The host program's services. The host exports these functions by ordinal;
// the plug-in imports them from the host executable on Windows, and the
// simulated host (simhost/) defines them on Linux. Every call passes
// HostInterfaceVersion as its last argument; 16-bit values travel in 32-bit
// arguments, and only the low 16 bits of a success result are meaningful.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// The host's calling convention: callee-cleaned stdcall on 32-bit Windows.
// (On x86-64 and Linux there is a single convention and this expands to it.)
#if defined(_WIN32)
#define HOSTAPI __stdcall
#else
#define HOSTAPI
#endif

constexpr std::int32_t HostInterfaceVersion = 0x5000005;

// The dialog procedure the host calls while HostRunDialog runs.
using HostDialogProc = std::int32_t(HOSTAPI*)(HWND dialog, UINT message, WPARAM wParam,
                                              LPARAM lParam, std::intptr_t userValue);

// Value kinds of HostGetItemValue / HostSetItemValue.
constexpr std::int32_t ItemKindListSelection = 0;  // 1-based list position
constexpr std::int32_t ItemKindCheck = 1;
constexpr std::int32_t ItemKindInteger = 3;

extern "C" {
// 2: the entries of one layer of one staff in one measure; null = no layer.
void* HOSTAPI HostLoadLayer(std::int32_t zero1, std::int32_t frame, std::int32_t measure,
                            std::int32_t layer, std::int32_t zero2, std::int32_t version);
// 4: hands a loaded layer back.
void HOSTAPI HostFreeLayer(void* layer, std::int32_t version);
// 9: low 16 bits nonzero when the record exists; copied when buffer is given.
std::int32_t HOSTAPI HostLoadRecord(std::uint32_t tag, void* key, void* buffer, std::int32_t* size,
                                    std::int32_t version);
// 10: low 16 bits nonzero when saved.
std::int32_t HOSTAPI HostSaveRecord(std::uint32_t tag, void* key, void* buffer, std::int32_t size,
                                    std::int32_t version);
// 11: creates a record; the assigned key is written back into key.
std::int32_t HOSTAPI HostCreateRecord(std::uint32_t tag, void* key, void* buffer, std::int32_t size,
                                      std::int32_t version);
// 15: runs a modal dialog from the plug-in's resources; returns after HostEndDialog.
std::int32_t HOSTAPI HostRunDialog(std::int32_t resourceId, HostDialogProc proc, HWND parent,
                                   std::int32_t one, std::intptr_t userValue, std::int32_t version);
// 16
void HOSTAPI HostEndDialog(HWND dialog, std::int32_t version);
// 18: the staff number at a slot of a staff list.
std::int32_t HOSTAPI HostStaffAtSlot(std::int32_t slot, std::int32_t staffList,
                                     std::int32_t version);
// 31: the frame value HostLoadLayer needs for a staff.
std::int32_t HOSTAPI HostCellFrame(std::int32_t staff, std::int32_t zero, std::int32_t version);
// 35
void HOSTAPI HostEnableItem(HWND dialog, std::int32_t itemId, std::int32_t enable,
                            std::int32_t version);
// 36
void HOSTAPI HostFocusItem(HWND dialog, std::int32_t itemId, std::int32_t version);
// 41
void HOSTAPI HostUpdateLayout(std::int32_t one, std::int32_t zero, std::int32_t version);
// 51: the length of a loaded layer in EDUs.
std::int32_t HOSTAPI HostLayerDuration(void* layer, std::int32_t version);
// 57
std::int32_t HOSTAPI HostGetItemValue(HWND dialog, std::int32_t itemId, std::int32_t kind,
                                      std::int32_t version);
// 58
void HOSTAPI HostSetItemValue(HWND dialog, std::int32_t itemId, std::int32_t kind,
                              std::int32_t value, std::int32_t version);
// 59: length is the buffer's capacity for characters (see simhost for the NUL rule).
void HOSTAPI HostGetItemText(HWND dialog, std::int32_t itemId, char* buffer, std::int32_t length,
                             std::int32_t version);
// 60
void HOSTAPI HostSetItemText(HWND dialog, std::int32_t itemId, const char* text,
                             std::int32_t version);
}

// The ordinal table the Windows import definition is generated from.
struct HostFunctionOrdinal {
  const char* name;
  int ordinal;
  int argumentBytes;  // on 32-bit Windows, for the decorated stdcall name
};

inline constexpr HostFunctionOrdinal HostFunctionOrdinals[] = {
    {"HostLoadLayer", 2, 24},     {"HostFreeLayer", 4, 8},      {"HostLoadRecord", 9, 20},
    {"HostSaveRecord", 10, 20},   {"HostCreateRecord", 11, 20}, {"HostRunDialog", 15, 24},
    {"HostEndDialog", 16, 8},     {"HostStaffAtSlot", 18, 12},  {"HostCellFrame", 31, 12},
    {"HostEnableItem", 35, 16},   {"HostFocusItem", 36, 12},    {"HostUpdateLayout", 41, 12},
    {"HostLayerDuration", 51, 8}, {"HostGetItemValue", 57, 16}, {"HostSetItemValue", 58, 20},
    {"HostGetItemText", 59, 20},  {"HostSetItemText", 60, 16},
};
static_assert(sizeof(HostFunctionOrdinals) / sizeof(HostFunctionOrdinals[0]) == 17);
