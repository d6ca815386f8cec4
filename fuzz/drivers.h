// What each fuzz target does with one input. The libFuzzer entry points and
// the regression test share these, so a saved crash input replays exactly.
// Each returns an empty string, or a description of a broken invariant (the
// fuzzer aborts on it, the regression test fails with it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kqfuzz {

// Host data: the bytes are decoded into a simulated score (see host_data.cpp
// for the layout) and ProcessSelection runs over the decoded selection.
std::string RunHostData(const std::uint8_t* data, std::size_t size);

// Registry images: "UserDialog" and "Presets" values of any size are loaded,
// one options-dialog session presses OK, a preset is saved and deleted, and
// the settings are saved.
std::string RunRegistryImages(const std::uint8_t* data, std::size_t size);

// MusicXML bytes (or an .mxl archive) through import, the plug-in's command
// with the default options and with composites on, and export.
std::string RunMusicXml(const std::uint8_t* data, std::size_t size);

}  // namespace kqfuzz
