// The options dialog's help line, written out as its design gives it: which
// control shows which string, and the string's text. Tests compare the code's
// table and resources with these rows, not with the code's own constants.
#pragma once

struct HelpRow {
  int controlId;
  int stringId;
  const char* text;
};

inline constexpr HelpRow HelpRows[] = {
    {109, 201, "Automatically update the layout after processing."},
    {102, 202, "The same as using 'Always hide' in the Measure Attributes dialog box."},
    {103, 203, "Only analyze the selected staves. (The changes usually affect all staves.)"},
    {116, 213, "Change only if the existing time sig differ with beams/beats."},
    {110, 204, "Change on staves marked with 'independent time sigs' as well."},
    {104, 205, "Analyze hidden staves as well to determine time sig."},
    {122, 206, "Current time sig is still displayed, new calculated one is used only for beaming."},
    {114, 212, "Abbreviate common and cut time in time sig for display."},
    {118, 214, "Allow 32nd notes as beat durations."},
    {119, 215, "Allow 16th notes as beat durations."},
    {120, 216, "Allow 8th notes as beat durations."},
    {127, 217, "Allow quarter notes as beat durations."},
    {128, 218, "Dotted quarters - which gives the beaming of 3/8, 6/8, 9/8 etc."},
    {129, 219, "Allow half notes as beat durations, used for cut time."},
    {105, 207, "Create composite time sigs if needed."},
    {106, 208, "Choose composite even if a normal time sig can be used."},
    {107, 209, "Only use one single number as composite time sig's beat duration (lower part)."},
    {121, 210, "Use the largest beat duration digit possible."},
    {112, 211, "Smallest measure duration to take into account. (0 = affect every measure.)"},
    {123, 220, "Select a preset from the list to load a new set of preferences."},
    {1001, 220, "Select a preset from the list to load a new set of preferences."},
    {124, 221, "Save the current preferences as a new preset."},
    {125, 222, "Delete the selected preset."},
    {1, 223, "Make the current settings the new default values."},
    {2, 224, "No processing, no changing of new defaults."},
};
static_assert(sizeof(HelpRows) / sizeof(HelpRows[0]) == 25);
