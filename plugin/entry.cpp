#include "plugin/entry.h"

#include <cstring>

#include "analysis/driver.h"
#include "dialogs/options_dialog.h"
#include "platform/le_bytes.h"
#include "host/host.h"
#include "plugin/shortcut_hook.h"
#include "settings/persistence.h"
#include "settings/settings.h"

std::int32_t hostVersion = 0;
HINSTANCE moduleHandle = nullptr;

namespace {

constexpr char NameText[] = "KQ Meterfix";
// What Terminate reports when something unforeseen stopped the save.
constexpr std::int32_t ErrorGenFailure = 31;
// Terminate stores only what Init loaded; before that the records hold no
// options of the user's, and storing them would wipe the stored ones.
bool initialized = false;
static_assert(sizeof MenuText <= MenuCommandInfoLayout::TextSize);
static_assert(sizeof NameText <= MenuCommandInfoLayout::TextSize);

bool ShortcutKeysHeld() {
  return (GetKeyState(VK_CONTROL) & 0x80) != 0 && (GetKeyState(VK_SHIFT) & 0x80) != 0;
}

bool ConfirmApply(HWND owner) {
  return MessageBoxA(owner, "Do you want to apply the settings on the current selection?",
                     "Apply settings?", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void PutText(std::uint8_t* field, const char* text) {
  std::memset(field, 0, MenuCommandInfoLayout::TextSize);
  // The field was zeroed above, so the copy is terminated; the texts are
  // constants shorter than the field.
  std::memcpy(field, text, std::strlen(text));  // NOLINT(bugprone-not-null-terminated-result)
}

std::int16_t Invoke(HWND owner, const std::uint8_t* region) {
  if (ShortcutKeysHeld()) {
    if (RunOptionsDialog(owner, &globalSettings) == 0) return 0;
    // The edited options stay in memory either way.
    if (region == nullptr) return 0;
    if (!ConfirmApply(owner)) return 0;
  }
  if (region == nullptr) {
    if (!MessageBeep(MB_ICONEXCLAMATION)) MessageBeep(0xFFFFFFFF);
    return 0;
  }
  const std::int16_t changed = ProcessSelection(owner, region);
  if (changed != 0 && globalSettings.autoUpdateLayout != 0)
    HostUpdateLayout(1, 0, HostInterfaceVersion);
  return 1;
}

}  // namespace

extern "C" {

std::int32_t WINAPI FinaleExtensionVersion(std::int32_t version) {
  hostVersion = version;
  return HostInterfaceVersion;
}

std::int16_t WINAPI FinaleExtensionInit(HWND window, std::int32_t) {
  try {
    LoadSettings(&globalSettings);  // defaults stay on any registry failure
    initialized = true;
    InstallShortcutHook(window);
  } catch (...) {
  }
  return 1;
}

std::int16_t WINAPI FinaleExtensionEnumerate(std::int32_t, std::int16_t index, void* info) {
  try {
    // The plug-in offers exactly one command.
    if (index >= 1 || info == nullptr) return 0;
    auto* record = static_cast<std::uint8_t*>(info);
    PutText(record + MenuCommandInfoLayout::MenuText, MenuText);
    PutText(record + MenuCommandInfoLayout::NameText, NameText);
    PutText(record + MenuCommandInfoLayout::NameText2, NameText);
    WriteI16(record + MenuCommandInfoLayout::Reserved1, 0);
    WriteI16(record + MenuCommandInfoLayout::Reserved2, 0);
    return 1;
  } catch (...) {
    return 0;
  }
}

std::int16_t WINAPI FinaleExtensionInvoke(HWND owner, std::int32_t, const void* region,
                                          std::int32_t) {
  try {
    return Invoke(owner, static_cast<const std::uint8_t*>(region));
  } catch (...) {
    return 0;
  }
}

std::int32_t WINAPI FinaleExtensionTerminate(std::int32_t) {
  try {
    RemoveShortcutHook();
    if (!initialized) return 0;
    initialized = false;
    return SaveSettings(&globalSettings);
  } catch (...) {
    return ErrorGenFailure;
  }
}

std::int16_t WINAPI FinaleExtensionGetMenuStatus(std::int32_t) { return 1; }

BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == 1) moduleHandle = instance;  // DLL_PROCESS_ATTACH
  return TRUE;
}

}  // extern "C"
