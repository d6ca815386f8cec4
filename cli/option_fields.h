// The option fields of the Settings record by name, as the command line sets
// and shows them. Values are read and written in the 50-byte option block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/settings.h"

namespace meterfix {

using OptionBlock = std::vector<std::uint8_t>;  // SettingsLayout::OptionBlockSize bytes

struct OptionField {
  const char* name;      // as in the Settings record: "useComposite", "allowBeat[2]"
  std::size_t offset;    // int16 in the option block
  std::int16_t maximum;  // values run 0..maximum
  const char* help;      // the options dialog's help-line text
};

// Every option field, in record order.
const std::vector<OptionField>& OptionFields();

// One "FIELD=VALUE" of --set, checked against the field's range.
struct OptionAssignment {
  const OptionField* field = nullptr;
  std::int16_t value = 0;
};
// Parses "FIELD=VALUE". On failure returns false with a one-line reason.
bool ParseAssignment(const std::string& text, OptionAssignment& out, std::string& error);

std::int16_t GetField(const OptionBlock& block, const OptionField& field);
void ApplyAssignments(OptionBlock& block, const std::vector<OptionAssignment>& assignments);
// False, with a reason, when the block is not one the options dialog would
// accept (a flag not 0/1, minMeasureDuration outside 0..8192, no beat allowed).
bool ValidateOptionBlock(const OptionBlock& block, std::string& error);

OptionBlock OptionBlockOf(const Settings& settings);
void StoreOptionBlock(const OptionBlock& block, Settings& settings);

// The options the plug-in holds (globalSettings) with the preset of that
// name, when one is given, and the assignments laid over them. False with a
// usage message for an unknown preset or a block the dialog would refuse.
bool ResolveOptions(const std::string& preset, const std::vector<OptionAssignment>& assignments,
                    OptionBlock& block, std::string& error);

// "  name = value" lines for every field.
std::string FormatOptionBlock(const OptionBlock& block);
// The --help section that lists every field with its help text.
std::string OptionFieldsHelp();

// The candidate nearest to a mistyped `word` (a field, an option, a
// subcommand), when one is near enough to suggest; empty otherwise.
std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates);

}  // namespace meterfix
