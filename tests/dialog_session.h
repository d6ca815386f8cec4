// A user's session with the options dialog on the simulated host: fresh
// stand-in, default Settings, the built-in presets, and checks that every
// message box and script action was used as the test meant.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dialogs/control_ids.h"
#include "dialogs/options_dialog.h"
#include "dialogs/preset_controls.h"
#include "platform/standin/dialog_windows.h"
#include "platform/standin/standin.h"
#include "settings/presets.h"
#include "settings/settings.h"
#include "simhost/dialog_service.h"

class DialogSession : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::ResetAll();
    simhost::ResetDialogService();
    ResetPresets();
    ApplyDefaultSettings(settings);
    owner = standin::NewWindow();
  }
  void TearDown() override {
    EXPECT_EQ(standin::UnexpectedMessageBoxCount(), 0);
    EXPECT_EQ(standin::PendingMessageBoxAnswers(), 0);
    EXPECT_EQ(simhost::PendingActions(), 0u);
    for (const std::string& e : simhost::ScriptErrors()) ADD_FAILURE() << "script: " << e;
  }

  std::int16_t Open(std::vector<simhost::UserAction> script) {
    simhost::SetScript(std::move(script));
    return RunOptionsDialog(owner, &settings);
  }
  HWND OptionsWindow() const { return standin::LastDialog(IDD_OPTIONS); }

  static std::vector<std::uint8_t> OptionBlock(const Settings& s) {
    std::vector<std::uint8_t> block(SettingsLayout::OptionBlockSize);
    WriteOptionBlock(s, block.data());
    return block;
  }
  static std::vector<std::uint8_t> Image(const Settings& s) {
    std::vector<std::uint8_t> image(SettingsLayout::Size);
    WriteSettingsImage(s, image.data());
    return image;
  }
  static std::vector<std::string> BoxCaptions() {
    std::vector<std::string> captions;
    for (const auto& call : standin::MessageBoxCalls()) captions.push_back(call.caption);
    return captions;
  }

  Settings settings{};
  HWND owner = nullptr;
};
