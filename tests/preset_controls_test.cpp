// The preset list, Save, Delete and the name dialog, as a user works them.
#include <cstring>

#include "dialog_session.h"
#include "platform/le_bytes.h"

namespace {

using namespace simhost::user;

// "P" and the number (appended: "P" + std::to_string(i) trips g++ 12's
// -Wrestrict false positive at -O3).
std::string PresetNumbered(int i) {
  std::string name = "P";
  name += std::to_string(i);
  return name;
}
using simhost::ItemCheck;
using simhost::ItemEnabled;

std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (int i = 0; i < PresetCount(); ++i) {
    char name[PresetNameSize];
    PresetName(i, name);
    names.push_back(name);
  }
  return names;
}

std::vector<std::uint8_t> PresetBlock(const char* name) {
  std::vector<std::uint8_t> block(SettingsLayout::OptionBlockSize, 0xEE);
  CopyPresetSettings(name, block.data());
  return block;
}

const std::vector<std::string> BuiltIns = {"Upbeats", "Complex Beating", "Cadenza", "Composite"};

class PresetControls : public DialogSession {
 protected:
  // The name dialog's window at this point of the script.
  static void ExpectNameDialog(HWND d, const std::string& text) {
    ASSERT_EQ(standin::FindDialog(d)->resourceId, IDD_PRESET_NAME);
    EXPECT_EQ(simhost::ItemText(d, IDC_PRESET_NAME), text);
  }
};

TEST_F(PresetControls, ChoosingAPresetShowsItButCancelKeepsTheSettings) {
  const auto before = Image(settings);
  EXPECT_EQ(Open({Pick(123, "Composite"), Inspect([](HWND d) {
                    for (int id : {105, 106, 107}) EXPECT_EQ(ItemCheck(d, id), 1) << id;
                    for (int id : {106, 107, 121}) EXPECT_TRUE(ItemEnabled(d, id)) << id;
                    EXPECT_EQ(ItemCheck(d, 116), 0);
                    EXPECT_EQ(simhost::ListSelection(d, 123), 3);
                  }),
                  Press(IDCANCEL)}),
            0);
  auto after = Image(settings);
  EXPECT_EQ(std::vector<std::uint8_t>(after.begin(), after.begin() + 81),
            std::vector<std::uint8_t>(before.begin(), before.begin() + 81));
}

TEST_F(PresetControls, ChoosingAPresetThenOkTakesItsOptions) {
  EXPECT_EQ(Open({Pick(123, "Cadenza"), Press(IDOK)}), 1);
  EXPECT_EQ(OptionBlock(settings), PresetBlock("Cadenza"));
  EXPECT_EQ(settings.presetName[0], '\0');  // choosing is not saving
}

TEST_F(PresetControls, ChoosingRestartsTheHelpLine) {
  const std::string listHelp = "Select a preset from the list to load a new set of preferences.";
  Open({Hover(123), Pick(123, "Upbeats"), Hover(123), Press(IDCANCEL)});
  // Loading the controls forgets what the help line shows, so it is sent again.
  const auto sends = standin::SentItemMessages(OptionsWindow(), IDC_HELP_LINE, SB_SETTEXTA);
  ASSERT_EQ(sends.size(), 2u);
  EXPECT_EQ(sends[1].text, listHelp);
}

TEST_F(PresetControls, SavingOverASelectedPresetAsksAndKeepsItsPlace) {
  standin::ExpectMessageBox(IDYES);
  HWND nameDialog = nullptr;
  EXPECT_EQ(
      Open({Pick(123, "Cadenza"), Click(109), Type(112, "768"), Press(124), Inspect([&](HWND d) {
              nameDialog = d;
              ExpectNameDialog(d, "Cadenza");
              EXPECT_EQ(standin::FindControl(d, IDC_PRESET_NAME)->textLimit, 30u);
            }),
            Press(IDOK), Inspect([](HWND d) {
              EXPECT_EQ(standin::FindDialog(d)->resourceId, IDD_OPTIONS);
              EXPECT_EQ(simhost::ListEntries(d, 123), BuiltIns);
              EXPECT_EQ(simhost::ListSelection(d, 123), 2);
            }),
            Press(IDCANCEL)}),
      0);
  ASSERT_EQ(standin::MessageBoxCalls().size(), 1u);
  const auto& box = standin::MessageBoxCalls()[0];
  EXPECT_EQ(box.caption, "Overwrite?");
  EXPECT_EQ(box.text, "OK to overwrite the existing preset?");
  EXPECT_EQ(box.style, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(box.owner, nameDialog);
  EXPECT_EQ(Names(), BuiltIns);
  const auto saved = PresetBlock("Cadenza");
  EXPECT_EQ(ReadI16(saved.data() + SettingsLayout::AutoUpdateLayout), 1);
  EXPECT_EQ(ReadI16(saved.data() + SettingsLayout::MinMeasureDuration), 768);
  EXPECT_EQ(ReadI16(saved.data() + SettingsLayout::HideTimeSig), 1);  // Cadenza's own
  // Cancel left the options alone; the saved name stays with them.
  EXPECT_EQ(settings.autoUpdateLayout, 0);
  EXPECT_STREQ(settings.presetName, "Cadenza");
}

TEST_F(PresetControls, AnsweringNoKeepsTheNameDialogOpen) {
  standin::ExpectMessageBox(IDNO);
  const auto cadenza = PresetBlock("Cadenza");
  Open({Pick(123, "Cadenza"), Press(124), Press(IDOK),
        Inspect([](HWND d) { ExpectNameDialog(d, "Cadenza"); }), Type(IDC_PRESET_NAME, "Cadenza 2"),
        Press(IDOK), Inspect([](HWND d) {
          EXPECT_EQ(simhost::ListEntries(d, 123).size(), 5u);
          EXPECT_EQ(simhost::ListSelection(d, 123), 4);
        }),
        Press(IDOK)});
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Overwrite?"});
  ASSERT_EQ(Names().size(), 5u);
  EXPECT_EQ(Names()[4], "Cadenza 2");
  EXPECT_EQ(PresetBlock("Cadenza"), cadenza);
  EXPECT_EQ(PresetBlock("Cadenza 2"), cadenza);  // the controls showed Cadenza
  EXPECT_STREQ(settings.presetName, "Cadenza 2");
}

TEST_F(PresetControls, SavingWithoutSelectionStartsEmptyAndAppends) {
  Open({Press(124), Inspect([](HWND d) { ExpectNameDialog(d, ""); }), Type(IDC_PRESET_NAME, "Mine"),
        Press(IDOK), Press(IDOK)});
  EXPECT_TRUE(standin::MessageBoxCalls().empty());
  ASSERT_EQ(Names().size(), 5u);
  EXPECT_EQ(Names()[4], "Mine");
  EXPECT_EQ(PresetBlock("Mine"), OptionBlock(settings));
  EXPECT_STREQ(settings.presetName, "Mine");
}

TEST_F(PresetControls, ThirtyCharacterNameArrivesWhole) {
  const std::string thirty = "abcdefghijklmnopqrstuvwxyz0123";
  ASSERT_EQ(thirty.size(), 30u);
  Open({Press(124), Type(IDC_PRESET_NAME, thirty + "456"),
        Inspect([&](HWND d) { ExpectNameDialog(d, thirty); }), Press(IDOK), Press(IDCANCEL)});
  ASSERT_EQ(Names().size(), 5u);
  EXPECT_EQ(Names()[4], thirty);
  EXPECT_EQ(std::string(settings.presetName), thirty);
}

TEST_F(PresetControls, NameDialogCancelledOrEmptySavesNothing) {
  for (bool cancel : {true, false}) {
    SCOPED_TRACE(cancel ? "cancelled" : "empty");
    SetUp();
    std::vector<simhost::UserAction> script = {Pick(123, "Upbeats"), Press(124)};
    if (cancel) {
      script.push_back(Press(IDCANCEL));
    } else {
      script.push_back(Type(IDC_PRESET_NAME, ""));
      script.push_back(Press(IDOK));
    }
    script.push_back(Press(IDCANCEL));
    const auto upbeats = PresetBlock("Upbeats");
    Open(script);
    EXPECT_EQ(Names(), BuiltIns);
    EXPECT_EQ(PresetBlock("Upbeats"), upbeats);
    EXPECT_TRUE(standin::MessageBoxCalls().empty());
    EXPECT_EQ(settings.presetName[0], '\0');
    TearDown();
  }
}

TEST_F(PresetControls, InvalidControlsStopSaveBeforeTheNameDialog) {
  standin::ExpectMessageBox(IDOK);
  Open({Type(112, "9000"), Press(124), Inspect([](HWND d) {
          EXPECT_EQ(standin::FindDialog(d)->resourceId, IDD_OPTIONS);
          EXPECT_EQ(simhost::FocusedItem(d), 112);
        }),
        Press(IDCANCEL)});
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Range error"});
  EXPECT_EQ(simhost::DialogRuns().size(), 1u);
  EXPECT_EQ(Names(), BuiltIns);
}

TEST_F(PresetControls, SavingANewNameWhenTwentyExistIsRefused) {
  const auto block = OptionBlock(settings);
  for (int i = 4; i < 20; ++i)
    ASSERT_EQ(StorePreset(nullptr, PresetNumbered(i).c_str(), block.data()), 1);
  const std::vector<std::uint8_t> table(presetTable, presetTable + PresetTableLayout::Size);
  standin::ExpectMessageBox(IDOK);
  std::size_t resetsBefore = 0;
  Open({Inspect([&](HWND d) {
          resetsBefore = standin::SentItemMessages(d, 123, CB_RESETCONTENT).size();
        }),
        Press(124), Type(IDC_PRESET_NAME, "One more"), Press(IDOK), Inspect([&](HWND d) {
          // The list was not refilled.
          EXPECT_EQ(standin::SentItemMessages(d, 123, CB_RESETCONTENT).size(), resetsBefore);
          EXPECT_EQ(simhost::ListEntries(d, 123).size(), 20u);
        }),
        Press(IDCANCEL)});
  ASSERT_EQ(standin::MessageBoxCalls().size(), 1u);
  const auto& box = standin::MessageBoxCalls()[0];
  EXPECT_EQ(box.caption, "Can't add more presets");
  EXPECT_EQ(box.style, MB_OK | MB_ICONHAND);
  EXPECT_EQ(box.owner, OptionsWindow());
  EXPECT_EQ(std::vector<std::uint8_t>(presetTable, presetTable + PresetTableLayout::Size), table);
  EXPECT_EQ(settings.presetName[0], '\0');
}

TEST_F(PresetControls, OverwritingWhenTwentyExistStillWorks) {
  const auto block = OptionBlock(settings);
  for (int i = 4; i < 20; ++i)
    ASSERT_EQ(StorePreset(nullptr, PresetNumbered(i).c_str(), block.data()), 1);
  standin::ExpectMessageBox(IDYES);
  Open({Pick(123, "P19"), Click(109), Press(124), Press(IDOK), Press(IDCANCEL)});
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Overwrite?"});
  EXPECT_EQ(ReadI16(PresetBlock("P19").data()), 1);
  EXPECT_EQ(PresetCount(), 20);
}

TEST_F(PresetControls, DeleteAsksAndEmptiesTheSelection) {
  standin::ExpectMessageBox(IDYES);
  Open({Pick(123, "Upbeats"),
        Inspect([](HWND d) { EXPECT_EQ(ItemCheck(d, 122), 1); }),  // Upbeats shows current sig
        Press(125), Inspect([](HWND d) {
          EXPECT_EQ(simhost::ListEntries(d, 123),
                    (std::vector<std::string>{"Complex Beating", "Cadenza", "Composite"}));
          EXPECT_EQ(simhost::ListSelection(d, 123), -1);
          EXPECT_EQ(ItemCheck(d, 122), 1);  // the controls keep what they showed
        }),
        Press(IDCANCEL)});
  ASSERT_EQ(standin::MessageBoxCalls().size(), 1u);
  const auto& box = standin::MessageBoxCalls()[0];
  EXPECT_EQ(box.caption, "Delete?");
  EXPECT_EQ(box.text, "Are you sure you want to delete the selected preset?");
  EXPECT_EQ(box.style, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(box.owner, OptionsWindow());
  // Cancelling the options dialog does not bring it back.
  EXPECT_EQ(Names(), (std::vector<std::string>{"Complex Beating", "Cadenza", "Composite"}));
}

TEST_F(PresetControls, DeleteAnsweredNoChangesNothing) {
  standin::ExpectMessageBox(IDNO);
  Open({Pick(123, "Cadenza"), Press(125), Inspect([](HWND d) {
          EXPECT_EQ(simhost::ListEntries(d, 123).size(), 4u);
          EXPECT_EQ(simhost::ListSelection(d, 123), 2);
        }),
        Press(IDCANCEL)});
  EXPECT_EQ(Names(), BuiltIns);
}

TEST_F(PresetControls, WithoutSelectionDeleteAndChoiceDoNothing) {
  Open({Press(125), Press(IDCANCEL)});
  EXPECT_TRUE(standin::MessageBoxCalls().empty());
  EXPECT_EQ(Names(), BuiltIns);
}

TEST_F(PresetControls, SavedPresetHasZeroReservedWords) {
  for (std::int16_t& word : settings.reserved) word = 0x1234;
  Open({Press(124), Type(IDC_PRESET_NAME, "R"), Press(IDOK), Press(IDOK)});
  const auto saved = PresetBlock("R");
  for (std::size_t i = SettingsLayout::Reserved; i < SettingsLayout::OptionBlockSize; ++i)
    EXPECT_EQ(saved[i], 0) << i;
  // OK does not touch the Settings' own reserved words.
  for (std::int16_t word : settings.reserved) EXPECT_EQ(word, 0x1234);
}

TEST_F(PresetControls, NameDialogThatCannotOpenSavesNothing) {
  // The prefilled name must not be taken without the user's word.
  simhost::FailDialogCreation(IDD_PRESET_NAME);
  const auto cadenza = PresetBlock("Cadenza");
  Open({Pick(123, "Cadenza"), Click(109), Press(124), Press(IDCANCEL)});
  EXPECT_EQ(PresetBlock("Cadenza"), cadenza);
  EXPECT_TRUE(standin::MessageBoxCalls().empty());
  EXPECT_EQ(settings.presetName[0], '\0');
}

TEST_F(PresetControls, StoredPresetWithTheEmptyNameIsSelectedAtOpening) {
  std::uint8_t block[SettingsLayout::OptionBlockSize] = {};
  ASSERT_EQ(StorePreset(nullptr, "", block), 1);
  Open({Inspect([](HWND d) {
          EXPECT_EQ(simhost::ListSelection(d, 123), 4);
          // Slot k is entry k + 1, counted from 1, set through the host.
          std::vector<simhost::ItemCall> selections;
          for (const simhost::ItemCall& call : simhost::ItemCalls()) {
            if (call.function == "HostSetItemValue" && call.id == 123) selections.push_back(call);
          }
          ASSERT_EQ(selections.size(), 1u);
          EXPECT_EQ(selections[0].kind, 0);
          EXPECT_EQ(selections[0].value, 5);
        }),
        Press(IDCANCEL)});
}

TEST_F(PresetControls, TheListShowsThePresetsInSlotOrderAndRefillsFromEmpty) {
  std::uint8_t block[SettingsLayout::OptionBlockSize] = {};
  ASSERT_EQ(StorePreset(nullptr, "Mine", block), 1);
  standin::ExpectMessageBox(IDYES);
  Open({Inspect([](HWND d) {
          EXPECT_EQ(simhost::ListEntries(d, 123),
                    (std::vector<std::string>{"Upbeats", "Complex Beating", "Cadenza", "Composite",
                                              "Mine"}));
          EXPECT_EQ(standin::SentItemMessages(d, 123, CB_RESETCONTENT).size(), 1u);
        }),
        Pick(123, "Complex Beating"), Press(125), Inspect([](HWND d) {
          EXPECT_EQ(simhost::ListEntries(d, 123),
                    (std::vector<std::string>{"Upbeats", "Cadenza", "Composite", "Mine"}));
          EXPECT_EQ(standin::SentItemMessages(d, 123, CB_RESETCONTENT).size(), 2u);
        }),
        Press(IDCANCEL)});
}

TEST_F(PresetControls, DeletingTheOnlyPresetEmptiesTheList) {
  std::memset(presetTable, 0, sizeof presetTable);
  std::uint8_t block[SettingsLayout::OptionBlockSize] = {};
  ASSERT_EQ(StorePreset(nullptr, "Only", block), 1);
  standin::ExpectMessageBox(IDYES);
  Open({Pick(123, "Only"), Press(125),
        Inspect([](HWND d) { EXPECT_TRUE(simhost::ListEntries(d, 123).empty()); }),
        Press(IDCANCEL)});
  EXPECT_EQ(PresetCount(), 0);
}

}  // namespace
