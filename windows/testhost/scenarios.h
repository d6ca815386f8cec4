// The test host's scenarios, in the order main runs them: the first stores
// the default registry values (defaultSettingsImage, defaultPresetsImage)
// that the later ones put back after changing them.
#pragma once

namespace testhost {

// scenarios_registry.cpp: the plug-in's stored values.
void FirstRunAndTermination();
void OversizedValuesIgnored();

// scenarios_entry.cpp: the entry points called over a score, and the stack
// pointer around every call across the 32-bit boundary.
void InvocationOverSmallScore();
void StdcallStackPointer();

// scenarios_dialogs.cpp: the options dialog worked through its controls.
void OptionsDialogStatesAndRules();
void DialogPositionRemembered();
void ApplyQuestion();

// scenarios_presets.cpp: presets through the real combo box and name dialog.
void PresetsThroughTheComboBox();
void LongPresetName();

// scenarios_hook.cpp: the Ctrl+T keyboard hook and its retry timer.
void CtrlT();
void RetryTimerEndsWithTheLibrary();

// scenarios_platform.cpp: the Win32 behaviours the Linux stand-in models.
void PlatformBehaviours();

}  // namespace testhost
