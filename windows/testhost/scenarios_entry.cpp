// The entry points called over a small score, and the calling convention
// across the 32-bit boundary: the stack pointer after every export and every
// host function.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/records.h"
#include "plugin/entry.h"
#include "simhost/simhost.h"
#include "windows/testhost/dialog_service.h"
#include "windows/testhost/harness.h"
#include "windows/testhost/scenarios.h"
#include "windows/testhost/stack_probe.h"

namespace testhost {

namespace {

bool InsideModule(HMODULE module, std::uintptr_t address) {
  HMODULE owner = nullptr;
  return GetModuleHandleExA(
             GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
             reinterpret_cast<LPCSTR>(address), &owner) != FALSE &&
         owner == module;
}

void CheckStack(const char* what, const StackCheck& check) {
  if (!check.called) {
    Fail(__FILE__, __LINE__, Format("%s: no such export to call", what));
    return;
  }
  if (check.stackDelta != 0) {
    Fail(__FILE__, __LINE__,
         Format("%s moved the stack pointer by %ld bytes (stdcall removes its own arguments)", what,
                static_cast<long>(check.stackDelta)));
  }
  if (!check.registersKept) {
    Fail(__FILE__, __LINE__, Format("%s did not keep EBX, ESI, EDI and EBP", what));
  }
}

// A host function as the plug-in binds it: by its ordinal (the table of
// host/host.h) from the host module, as a pointer of its declared type.
template <typename F>
F HostExport(F /*declared*/, const char* name) {
  for (const HostFunctionOrdinal& row : HostFunctionOrdinals) {
    if (std::strcmp(row.name, name) != 0) continue;
    return reinterpret_cast<F>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(row.ordinal))));
  }
  return nullptr;
}
#define HOST_EXPORT(name) HostExport(&name, #name)

std::int32_t HOSTAPI NoDialogProc(HWND, UINT, WPARAM, LPARAM, std::intptr_t) { return 0; }

}  // namespace

void InvocationOverSmallScore() {
  Begin("invocation over a small score");
  simhost::Host host;
  simhost::SetCurrentHost(&host);
  host.AddStaff(1);
  host.AddStaff(2);
  for (std::int16_t m = 1; m <= 3; ++m) host.SetMeasure(m, 4, 1024);
  // Measure 1: six eighths beamed 3 + 3 (6/8); measure 2: four quarters (stays
  // 4/4); measure 3: eighths beamed 3 + 3 + 2 (composite or 8/8 by options).
  std::vector<simhost::Entry> sixEighths;
  for (int i = 0; i < 6; ++i) sixEighths.push_back({i * 512, 512, i % 3 == 0, false, 0});
  std::vector<simhost::Entry> fourQuarters;
  for (int i = 0; i < 4; ++i) fourQuarters.push_back({i * 1024, 1024, true, false, 0});
  for (std::int16_t staff = 1; staff <= 2; ++staff) {
    host.SetLayer(staff, 1, 0, 3072, sixEighths);
    host.SetLayer(staff, 2, 0, 4096, fourQuarters);
  }
  const std::string before2 = host.FormatMeasure(2);
  const auto region = simhost::MakeSelectionRegion(0, 0, 1, 0, 1, 2, EndOfMeasure);
  PluginLife([&](Plugin& plugin) {
    // Without a region only a beep: result 0, no message.
    CHECK_EQ_INT(plugin.invoke(hostWindow, 0, nullptr, 0), 0);
    CHECK_EQ_INT(plugin.invoke(hostWindow, 0, region.data(), 0), 1);
  });
  CHECK_EQ_STR(host.FormatMeasure(1), "2/1536");
  CHECK_EQ_STR(host.FormatMeasure(2), before2);
  CHECK_EQ_INT(host.OutstandingLayers(), 0);
  CHECK_EQ_INT(host.counters().badCalls, 0);
  CHECK_EQ_INT(host.counters().updateLayouts, 0);
  CHECK_EQ_INT(Boxes().size(), 0);
  for (const auto& box : Boxes()) Note("box: " + box.caption + ": " + box.text);
  simhost::SetCurrentHost(nullptr);
}

void StdcallStackPointer() {
  Begin("stdcall: the stack pointer after every export and after the host functions");
  if (!StackProbesAvailable()) {
    Note("64-bit Windows has a single calling convention: nothing to measure");
    return;
  }
  // Every export, called through a pointer of its declared WINAPI type.
  simhost::Host host;
  simhost::SetCurrentHost(&host);
  host.AddStaff(1);
  host.SetMeasure(1, 4, 1024);
  std::vector<simhost::Entry> eighths;
  for (int i = 0; i < 6; ++i) eighths.push_back({i * 512, 512, i % 3 == 0, false, 0});
  host.SetLayer(1, 1, 0, 3072, eighths);
  const auto region = simhost::MakeSelectionRegion(0, 0, 1, 0, 0, 1, EndOfMeasure);
  Plugin plugin;
  if (!Load(plugin)) return;
  ResetHostLoadRecordProbe();
  auto version = CallStdcall(plugin.version, TestHostVersion);
  CheckStack("FinaleExtensionVersion", version);
  CHECK_EQ_INT(static_cast<std::int32_t>(version.result), HostInterfaceVersion);
  auto status = CallStdcall(plugin.menuStatus, 0);
  CheckStack("FinaleExtensionGetMenuStatus", status);
  CHECK_EQ_INT(static_cast<std::int16_t>(status.result), 1);
  std::uint8_t info[MenuCommandInfoLayout::Size] = {};
  auto enumerate = CallStdcall(plugin.enumerate, 0, 0, info);
  CheckStack("FinaleExtensionEnumerate", enumerate);
  CHECK_EQ_INT(static_cast<std::int16_t>(enumerate.result), 1);
  CHECK_EQ_STR(reinterpret_cast<const char*>(info + MenuCommandInfoLayout::MenuText), MenuText);
  auto init = CallStdcall(plugin.init, hostWindow, 0);
  CheckStack("FinaleExtensionInit", init);
  CHECK_EQ_INT(static_cast<std::int16_t>(init.result), 1);
  Pump(50);
  auto invoke = CallStdcall(plugin.invoke, hostWindow, 0, region.data(), 0);
  CheckStack("FinaleExtensionInvoke", invoke);
  CHECK_EQ_INT(static_cast<std::int16_t>(invoke.result), 1);
  CHECK_EQ_STR(host.FormatMeasure(1), "2/1536");
  CHECK_EQ_INT(host.counters().badCalls, 0);

  // HostLoadRecord as the plug-in called it during that invocation: the probe
  // at its ordinal saw the stack pointer come back where the plug-in had it.
  const HostCallProbe probe = HostLoadRecordProbe();
  Note(
      Format("the plug-in called HostLoadRecord %d times; ESP after each call minus ESP at "
             "entry: %ld (return address and 20 bytes of arguments)",
             probe.calls, static_cast<long>(probe.lastDelta)));
  CHECK(probe.calls > 0);
  CHECK_EQ_INT(probe.mismatches, 0);
  CHECK_EQ_INT(probe.lastDelta, 24);
  CHECK(InsideModule(plugin.module, probe.lastReturnAddress));

  auto terminate = CallStdcall(plugin.terminate, 0);
  CheckStack("FinaleExtensionTerminate", terminate);
  CHECK_EQ_INT(static_cast<std::int32_t>(terminate.result), ERROR_SUCCESS);
  Pump(50);
  Unload(plugin);
  simhost::SetCurrentHost(nullptr);

  // Every host function, bound by ordinal as the plug-in binds it and called
  // through its declared HOSTAPI type, with arguments it refuses or ignores.
  const int badBefore = DialogServiceBadCalls();
  HWND probeWindow = CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                     nullptr, nullptr);
  std::uint8_t key[4] = {};
  std::int32_t size = 0;
  char text[31] = {};
  const auto v = HostInterfaceVersion;
  int measured = 0;
  auto host_call = [&](const char* name, const StackCheck& check) {
    CheckStack(name, check);
    ++measured;
  };
  host_call("HostLoadLayer", CallStdcall(HOST_EXPORT(HostLoadLayer), 0, 0, 1, 0, 0, v));
  host_call("HostFreeLayer", CallStdcall(HOST_EXPORT(HostFreeLayer), nullptr, v));
  host_call("HostLoadRecord",
            CallStdcall(HOST_EXPORT(HostLoadRecord), MeasureRecordTag, key, nullptr, &size, v));
  host_call("HostSaveRecord",
            CallStdcall(HOST_EXPORT(HostSaveRecord), MeasureRecordTag, key, nullptr, 0, v));
  host_call("HostCreateRecord",
            CallStdcall(HOST_EXPORT(HostCreateRecord), CompositeTopRecordTag, key, nullptr, 0, v));
  host_call("HostRunDialog",
            CallStdcall(HOST_EXPORT(HostRunDialog), 1, &NoDialogProc, hostWindow, 1, 0, v));
  host_call("HostEndDialog", CallStdcall(HOST_EXPORT(HostEndDialog), probeWindow, v));
  host_call("HostStaffAtSlot", CallStdcall(HOST_EXPORT(HostStaffAtSlot), 0, 0, v));
  host_call("HostCellFrame", CallStdcall(HOST_EXPORT(HostCellFrame), 1, 0, v));
  host_call("HostEnableItem", CallStdcall(HOST_EXPORT(HostEnableItem), probeWindow, 999, 1, v));
  host_call("HostFocusItem", CallStdcall(HOST_EXPORT(HostFocusItem), probeWindow, 999, v));
  host_call("HostUpdateLayout", CallStdcall(HOST_EXPORT(HostUpdateLayout), 1, 0, v));
  host_call("HostLayerDuration", CallStdcall(HOST_EXPORT(HostLayerDuration), nullptr, v));
  host_call("HostGetItemValue", CallStdcall(HOST_EXPORT(HostGetItemValue), probeWindow, 999, 1, v));
  host_call("HostSetItemValue",
            CallStdcall(HOST_EXPORT(HostSetItemValue), probeWindow, 999, 1, 0, v));
  host_call("HostGetItemText",
            CallStdcall(HOST_EXPORT(HostGetItemText), probeWindow, 999, text, 30, v));
  host_call("HostSetItemText", CallStdcall(HOST_EXPORT(HostSetItemText), probeWindow, 999, "", v));
  DestroyWindow(probeWindow);
  CHECK_EQ_INT(measured, 17);
  CHECK_EQ_INT(DialogServiceBadCalls(), badBefore);
  Note(Format("%d exports and %d host functions measured", 6, measured));
}

}  // namespace testhost
