// The plug-in's exported entry points, as the host calls them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"
#include "host/module.h"

// MenuCommandInfo, filled by FinaleExtensionEnumerate.
namespace MenuCommandInfoLayout {
constexpr std::size_t MenuText = 0;
constexpr std::size_t NameText = 64;
constexpr std::size_t NameText2 = 128;
constexpr std::size_t TextSize = 64;
constexpr std::size_t Reserved1 = 192;  // int16
constexpr std::size_t Reserved2 = 194;  // int16
constexpr std::size_t Size = 196;
}  // namespace MenuCommandInfoLayout
// Three text fields back to back, then two int16 that end the record.
static_assert(MenuCommandInfoLayout::NameText ==
                  MenuCommandInfoLayout::MenuText + MenuCommandInfoLayout::TextSize &&
              MenuCommandInfoLayout::NameText2 ==
                  MenuCommandInfoLayout::NameText + MenuCommandInfoLayout::TextSize &&
              MenuCommandInfoLayout::Reserved1 ==
                  MenuCommandInfoLayout::NameText2 + MenuCommandInfoLayout::TextSize &&
              MenuCommandInfoLayout::Reserved2 == MenuCommandInfoLayout::Reserved1 + 2);
static_assert(MenuCommandInfoLayout::Reserved2 + 2 == MenuCommandInfoLayout::Size);

inline constexpr char MenuText[] = "KQ Me&terfix [v. 1.01]";

// Process-wide values of the entry points (moduleHandle: host/module.h).
extern std::int32_t hostVersion;

extern "C" {
std::int32_t WINAPI FinaleExtensionVersion(std::int32_t version);
std::int16_t WINAPI FinaleExtensionInit(HWND window, std::int32_t unused);
std::int16_t WINAPI FinaleExtensionEnumerate(std::int32_t unused, std::int16_t index, void* info);
std::int16_t WINAPI FinaleExtensionInvoke(HWND owner, std::int32_t unused1, const void* region,
                                          std::int32_t unused2);
std::int32_t WINAPI FinaleExtensionTerminate(std::int32_t unused);
std::int16_t WINAPI FinaleExtensionGetMenuStatus(std::int32_t unused);
// The library's load notification: keeps the module handle on process attach.
BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved);
}
