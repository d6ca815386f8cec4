#include "cli/option_fields.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "platform/le_bytes.h"
#include "settings/presets.h"

namespace meterfix {

namespace {

// The help texts are the options dialog's help-line texts of each control.
const std::vector<OptionField> fields = {
    {"autoUpdateLayout", SettingsLayout::AutoUpdateLayout, 1,
     "Automatically update the layout after processing."},
    {"onlySelectedStaves", SettingsLayout::OnlySelectedStaves, 1,
     "Only analyze the selected staves. (The changes usually affect all staves.)"},
    {"includeHiddenStaves", SettingsLayout::IncludeHiddenStaves, 1,
     "Analyze hidden staves as well to determine time sig."},
    {"onlyChangeAtConflicts", SettingsLayout::OnlyChangeAtConflicts, 1,
     "Change only if the existing time sig differ with beams/beats."},
    {"changeIndependentStaves", SettingsLayout::ChangeIndependentStaves, 1,
     "Change on staves marked with 'independent time sigs' as well."},
    {"displayCurrentTimeSig", SettingsLayout::DisplayCurrentTimeSig, 1,
     "Current time sig is still displayed, new calculated one is used only for beaming."},
    {"abbreviateDisplay", SettingsLayout::AbbreviateDisplay, 1,
     "Abbreviate common and cut time in time sig for display."},
    {"hideTimeSig", SettingsLayout::HideTimeSig, 1,
     "The same as using 'Always hide' in the Measure Attributes dialog box."},
    {"useComposite", SettingsLayout::UseComposite, 1, "Create composite time sigs if needed."},
    {"preferComposite", SettingsLayout::PreferComposite, 1,
     "Choose composite even if a normal time sig can be used."},
    {"compactBeatDuration", SettingsLayout::CompactBeatDuration, 1,
     "Only use one single number as composite time sig's beat duration (lower part)."},
    {"largestBeatDuration", SettingsLayout::LargestBeatDuration, 1,
     "Use the largest beat duration digit possible."},
    {"minMeasureDuration", SettingsLayout::MinMeasureDuration, MaxMinMeasureDuration,
     "Smallest measure duration to take into account. (0 = affect every measure.)"},
    {"allowBeat[0]", SettingsLayout::AllowBeat + 0, 1,
     "Allow half notes as beat durations, used for cut time."},
    {"allowBeat[1]", SettingsLayout::AllowBeat + 2, 1,
     "Dotted quarters - which gives the beaming of 3/8, 6/8, 9/8 etc."},
    {"allowBeat[2]", SettingsLayout::AllowBeat + 4, 1, "Allow quarter notes as beat durations."},
    {"allowBeat[3]", SettingsLayout::AllowBeat + 6, 1, "Allow 8th notes as beat durations."},
    {"allowBeat[4]", SettingsLayout::AllowBeat + 8, 1, "Allow 16th notes as beat durations."},
    {"allowBeat[5]", SettingsLayout::AllowBeat + 10, 1, "Allow 32nd notes as beat durations."},
};

// The field of that exact name, or null.
const OptionField* FindOptionField(const std::string& name) {
  for (const OptionField& field : fields) {
    if (name == field.name) return &field;
  }
  return nullptr;
}

void SetField(OptionBlock& block, const OptionField& field, std::int16_t value) {
  WriteI16(block.data() + field.offset, value);
}

}  // namespace

const std::vector<OptionField>& OptionFields() { return fields; }

bool ParseAssignment(const std::string& text, OptionAssignment& out, std::string& error) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) {
    error = "expected FIELD=VALUE, got '" + text + "'";
    return false;
  }
  const std::string name = text.substr(0, equals);
  const std::string value = text.substr(equals + 1);
  const OptionField* field = FindOptionField(name);
  if (field == nullptr) {
    std::vector<std::string> names;
    for (const OptionField& known : OptionFields()) names.push_back(known.name);
    const std::string near = DidYouMean(name, names);
    error = "unknown option field '" + name + "'" +
            (near.empty() ? "" : "; did you mean '" + near + "'?") + " (see --help for the list)";
    return false;
  }
  // Digits only: no sign, no blanks, no hex; a long run of digits is out of range.
  long long number = 0;
  const char* begin = value.data();
  const char* end = begin + value.size();
  const auto [ptr, ec] = std::from_chars(begin, end, number);
  const bool digitsOnly =
      !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
  if (!digitsOnly || ec == std::errc::invalid_argument || ptr != end) {
    error = "value of " + name + " must be a number, got '" + value + "'";
    return false;
  }
  if (ec == std::errc::result_out_of_range || number < 0 || number > field->maximum) {
    error =
        "value of " + name + " must lie in 0.." + std::to_string(field->maximum) + ", got " + value;
    return false;
  }
  out.field = field;
  out.value = static_cast<std::int16_t>(number);
  return true;
}

std::int16_t GetField(const OptionBlock& block, const OptionField& field) {
  return ReadI16(block.data() + field.offset);
}

void ApplyAssignments(OptionBlock& block, const std::vector<OptionAssignment>& assignments) {
  for (const OptionAssignment& assignment : assignments) {
    SetField(block, *assignment.field, assignment.value);
  }
}

bool ValidateOptionBlock(const OptionBlock& block, std::string& error) {
  if (block.size() != SettingsLayout::OptionBlockSize) {
    error = "option block has the wrong size";
    return false;
  }
  for (const OptionField& field : fields) {
    const std::int16_t value = GetField(block, field);
    if (value < 0 || value > field.maximum) {
      error = std::string(field.name) + " is " + std::to_string(value) + ", outside 0.." +
              std::to_string(field.maximum);
      return false;
    }
  }
  bool anyBeat = false;
  for (std::size_t i = 0; i < BeatDurationCount; ++i) {
    if (ReadI16(block.data() + SettingsLayout::AllowBeat + 2 * i) != 0) anyBeat = true;
  }
  if (!anyBeat) {
    error = "at least one allowBeat[0..5] must be 1";
    return false;
  }
  return true;
}

OptionBlock OptionBlockOf(const Settings& settings) {
  OptionBlock block(SettingsLayout::OptionBlockSize);
  WriteOptionBlock(settings, block.data());
  return block;
}

void StoreOptionBlock(const OptionBlock& block, Settings& settings) {
  ReadOptionBlock(block.data(), settings);
}

std::string FormatOptionBlock(const OptionBlock& block) {
  std::size_t width = 0;
  for (const OptionField& field : fields) width = std::max(width, std::string(field.name).size());
  std::string text;
  for (const OptionField& field : fields) {
    std::string name = field.name;
    text += "  " + name + std::string(width - name.size(), ' ') + " = " +
            std::to_string(GetField(block, field)) + "\n";
  }
  return text;
}

std::string OptionFieldsHelp() {
  Settings defaults{};
  ApplyDefaultSettings(defaults);
  const OptionBlock block = OptionBlockOf(defaults);
  std::string text = "Option fields for --set FIELD=VALUE (flags 0/1):\n";
  for (const OptionField& field : fields) {
    std::string line = std::string("  ") + field.name + " (";
    if (field.maximum != 1) line += "0.." + std::to_string(field.maximum) + ", ";
    line += "default " + std::to_string(GetField(block, field)) + ")";
    text += line + "\n      " + field.help + "\n";
  }
  return text;
}

std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates) {
  // Edit distance, cheap at these lengths.
  auto distance = [](const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
      std::size_t diagonal = row[0];
      row[0] = i;
      for (std::size_t j = 1; j <= b.size(); ++j) {
        const std::size_t up = row[j];
        const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                          std::tolower(static_cast<unsigned char>(b[j - 1]));
        row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
        diagonal = up;
      }
    }
    return row[b.size()];
  };
  std::string best;
  std::size_t bestDistance = 0;
  for (const std::string& candidate : candidates) {
    const std::size_t d = distance(word, candidate);
    if (best.empty() || d < bestDistance) {
      best = candidate;
      bestDistance = d;
    }
  }
  // A third of the word may be wrong, at least one letter.
  if (best.empty() || bestDistance > std::max<std::size_t>(1, word.size() / 3)) return {};
  return best;
}

bool ResolveOptions(const std::string& preset, const std::vector<OptionAssignment>& assignments,
                    OptionBlock& block, std::string& error) {
  block = OptionBlockOf(globalSettings);
  if (!preset.empty() && CopyPresetSettings(preset.c_str(), block.data()) == 0) {
    error = "no preset named '" + preset + "' (see 'meterfix presets list')";
    return false;
  }
  ApplyAssignments(block, assignments);
  return (preset.empty() && assignments.empty()) || ValidateOptionBlock(block, error);
}

}  // namespace meterfix
