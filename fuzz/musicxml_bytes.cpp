// MusicXML bytes (or an .mxl archive) through the whole tool chain: import
// into a simulated host, the plug-in's command through its entry points on
// every whole measure and staff (once with the default options, once with
// composites on), export, and a re-import of what was exported, which must
// give each measure the record the writer said the file holds.
#include <string>
#include <string_view>
#include <vector>

#include "host/records.h"
#include "fuzz/drivers.h"
#include "musicxml/musicxml.h"
#include "platform/standin/standin.h"
#include "plugin/entry.h"
#include "host/host.h"
#include "settings/persistence.h"
#include "settings/settings.h"
#include "simhost/simhost.h"

namespace kqfuzz {

namespace {

std::string RunOnce(std::string_view bytes, bool composite) {
  musicxml::Score score;
  if (!score.LoadBytes(bytes, "fuzz.musicxml")) return "";  // refused input is fine
  simhost::Host host;
  simhost::SetCurrentHost(&host);
  if (!score.BuildHost(host)) {
    simhost::SetCurrentHost(nullptr);
    return "";
  }

  standin::ResetAll();
  standin::SetAutoAnswer(true);
  Settings options;
  ApplyDefaultSettings(options);
  options.useComposite = composite ? 1 : 0;
  std::vector<std::uint8_t> image(SettingsLayout::Size);
  WriteSettingsImage(options, image.data());
  standin::SetRegistryValue(SettingsKeyPath, SettingsValueName, REG_BINARY, image);

  HWND window = standin::NewWindow();
  FinaleExtensionVersion(HostInterfaceVersion);
  FinaleExtensionInit(window, 0);
  const int measures = score.MeasureCount();
  const int staves = static_cast<int>(score.Staves().size());
  if (measures > 0 && staves > 0) {
    const auto region = simhost::MakeSelectionRegion(
        0, 0, 1, 0, static_cast<std::int16_t>(staves - 1), static_cast<std::int16_t>(measures));
    FinaleExtensionInvoke(window, 0, region.data(), 0);
  }
  FinaleExtensionTerminate(0);
  std::string problem;
  if (host.OutstandingLayers() != 0) problem = "a loaded layer was not handed back";

  const musicxml::Status applied = score.ApplyHost(host);
  simhost::SetCurrentHost(nullptr);
  if (!problem.empty()) return problem;
  // An edit that cannot be made keeps its measure; only memory may fail.
  if (!applied) {
    return applied.message.find("out of memory") != std::string::npos
               ? ""
               : "applying the plug-in's changes failed: " + applied.message;
  }
  std::string saved;
  if (!score.SaveBytes(saved)) return "the changed document could not be saved";
  if (!score.Changed() && saved != bytes)
    return "an unchanged document was not saved byte for byte";

  musicxml::Score again;
  const musicxml::Status reloaded = again.LoadBytes(saved, "fuzz.musicxml");
  if (!reloaded) return "the exported document does not load again: " + reloaded.message;
  simhost::Host second;
  simhost::SetCurrentHost(&second);
  const musicxml::Status rebuilt = again.BuildHost(second);
  simhost::SetCurrentHost(nullptr);
  if (!rebuilt) return "the exported document does not import again: " + rebuilt.message;
  // It reads back as the writer said it would.
  for (int m = 1; m <= again.MeasureCount(); ++m) {
    musicxml::SignatureText said;
    musicxml::SignatureText read;
    if (!score.WrittenMeasureSignature(m, said) ||
        !musicxml::ReadMeasureSignature(second, static_cast<std::int16_t>(m), read) ||
        !(said == read)) {
      return "measure " + std::to_string(m) + " does not read back as the writer said";
    }
  }
  return "";
}

}  // namespace

std::string RunMusicXml(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string problem = RunOnce(bytes, false);
  if (problem.empty()) problem = RunOnce(bytes, true);
  return problem;
}

}  // namespace kqfuzz
