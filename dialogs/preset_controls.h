// The preset list with its Save and Delete buttons in the options dialog, and
// the small dialog (IDD_PRESET_NAME) that asks for a preset's name. They work
// on the preset table at once; only the options dialog's OK changes Settings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"
#include "host/host.h"
#include "settings/presets.h"

// Names travel in buffers of this size; a name has at most 30 characters.
constexpr std::size_t NameBufferSize = 100;
constexpr std::int32_t MaxPresetNameLength = 30;

// Fills the list and selects the preset named like the edited Settings.
void InitPresetList(HWND dialog);
// Shows the selected preset in the controls (nothing selected: nothing).
void LoadSelectedPreset(HWND dialog);
// Validates the controls, asks for a name and stores them as that preset.
void SaveCurrentAsPreset(HWND dialog);
// Deletes the selected preset after the user's Yes.
void DeleteSelectedPreset(HWND dialog);
// 1 and the selected entry's text in name (NameBufferSize bytes) when an
// entry is selected and its text is not empty; otherwise 0 (name may be empty).
std::int16_t GetSelectedPresetName(HWND dialog, char* name);
// Runs the name dialog prefilled with the selected preset's name; 1 when the
// user gave a non-empty name, which is then in name (NameBufferSize bytes).
std::int16_t AskPresetName(HWND dialog, char* name);
// The name dialog's procedure; the user value is the name buffer.
std::int32_t HOSTAPI PresetNameDialogProc(HWND nameDialog, UINT message, WPARAM wParam,
                                          LPARAM lParam, std::intptr_t userValue);
