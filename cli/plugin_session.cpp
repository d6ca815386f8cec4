#include "cli/plugin_session.h"

#include "host/records.h"
#include "platform/le_bytes.h"
#include "platform/headless.h"
#include "plugin/entry.h"
#include "host/host.h"
#include "settings/persistence.h"

namespace meterfix {

namespace {

void Seed(const char* name, const std::optional<std::vector<std::uint8_t>>& bytes) {
  if (bytes) headless::SetBinaryValue(SettingsKeyPath, name, *bytes);
}

std::optional<std::vector<std::uint8_t>> ReadBack(const char* name) {
  return headless::BinaryValue(SettingsKeyPath, name);
}

}  // namespace

PluginSession::PluginSession(const StoredImages& images) {
  headless::StartSession();
  Seed(SettingsValueName, images.userDialog);
  Seed(PresetsValueName, images.presets);
  window_ = headless::NewWindow();
  FinaleExtensionVersion(static_cast<std::int32_t>(HostInterfaceVersion));
  FinaleExtensionInit(window_, 0);
}

PluginSession::~PluginSession() {
  if (!terminated_) FinaleExtensionTerminate(0);
}

std::int16_t PluginSession::Invoke(const std::vector<std::uint8_t>& region) {
  headless::SetKeyDown(VK_CONTROL, false);
  headless::SetKeyDown(VK_SHIFT, false);
  return FinaleExtensionInvoke(window_, 0, region.data(), 0);
}

std::vector<Message> PluginSession::Messages() {
  std::vector<Message> messages;
  for (const headless::MessageBoxRecord& box : headless::MessageBoxes()) {
    messages.push_back({box.caption, box.text});
  }
  return messages;
}

StoredImages PluginSession::Terminate() {
  if (!terminated_) {
    terminated_ = true;
    FinaleExtensionTerminate(0);
  }
  StoredImages images;
  images.userDialog = ReadBack(SettingsValueName);
  images.presets = ReadBack(PresetsValueName);
  return images;
}

std::vector<std::uint8_t> MakeWholeMeasureRegion(std::int16_t firstMeasure,
                                                 std::int16_t lastMeasure, std::int16_t firstSlot,
                                                 std::int16_t lastSlot) {
  std::vector<std::uint8_t> region(SelectionRegionLayout::Size, 0);
  std::uint8_t* p = region.data();
  WriteI16(p + SelectionRegionLayout::StaffList, 0);
  WriteI16(p + SelectionRegionLayout::FirstSlot, firstSlot);
  WriteI16(p + SelectionRegionLayout::FirstMeasure, firstMeasure);
  WriteI32(p + SelectionRegionLayout::StartPosition, 0);
  WriteI16(p + SelectionRegionLayout::LastSlot, lastSlot);
  WriteI16(p + SelectionRegionLayout::LastMeasure, lastMeasure);
  WriteI32(p + SelectionRegionLayout::EndPosition, EndOfMeasure);
  return region;
}

}  // namespace meterfix
