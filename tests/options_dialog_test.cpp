// The options dialog as a user meets it: first opening, the dependent check
// boxes, the checks on OK, Cancel, the remembered position and the help line.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "dialog_session.h"
#include "help_table.h"

namespace {

using namespace simhost::user;
using simhost::ItemCheck;
using simhost::ItemEnabled;

const int CheckBoxes[] = {109, 103, 104, 116, 110, 122, 114, 102, 118,
                          119, 120, 127, 128, 129, 105, 106, 107, 121};

using OptionsDialog = DialogSession;

TEST_F(OptionsDialog, FirstOpeningShowsTheDefaults) {
  const auto before = Image(settings);
  bool inspected = false;
  EXPECT_EQ(Open({Inspect([&](HWND d) {
                    inspected = true;
                    const std::vector<int> checked = {103, 116, 114, 107, 128, 127, 120, 119, 118};
                    const std::vector<int> disabled = {106, 107, 121, 104, 114};
                    for (int id : CheckBoxes) {
                      SCOPED_TRACE(id);
                      const bool isChecked =
                          std::find(checked.begin(), checked.end(), id) != checked.end();
                      const bool isDisabled =
                          std::find(disabled.begin(), disabled.end(), id) != disabled.end();
                      EXPECT_EQ(ItemCheck(d, id), isChecked ? 1 : 0);
                      EXPECT_EQ(ItemEnabled(d, id), !isDisabled);
                    }
                    EXPECT_EQ(simhost::ItemText(d, 112), "1024");
                    EXPECT_EQ(simhost::ListEntries(d, 123),
                              (std::vector<std::string>{"Upbeats", "Complex Beating", "Cadenza",
                                                        "Composite"}));
                    EXPECT_EQ(simhost::ListSelection(d, 123), -1);
                    EXPECT_EQ(standin::FindControl(d, 112)->textLimit, 5u);
                    EXPECT_EQ(simhost::FocusedItem(d), 109);
                    // The template position: never placed before, nothing moved.
                    RECT rect{};
                    GetWindowRect(d, &rect);
                    EXPECT_EQ(rect.left, standin::DialogUnitsToPixelsX(7));
                    EXPECT_EQ(rect.top, standin::DialogUnitsToPixelsY(16));
                    EXPECT_EQ(standin::FindDialog(d)->moveCount, 0);
                    // The help line is in simple mode and shows nothing yet.
                    EXPECT_TRUE(standin::FindControl(d, 126)->simpleMode);
                    EXPECT_TRUE(standin::SentItemMessages(d, 126, SB_SETTEXTA).empty());
                  }),
                  Press(IDOK)}),
            1);
  EXPECT_TRUE(inspected);
  // OK without changes stores the same options and the position.
  auto after = Image(settings);
  EXPECT_EQ(std::vector<std::uint8_t>(after.begin(), after.begin() + 81),
            std::vector<std::uint8_t>(before.begin(), before.begin() + 81));
  EXPECT_EQ(settings.dialogLeft, standin::DialogUnitsToPixelsX(7));
  EXPECT_EQ(settings.dialogTop, standin::DialogUnitsToPixelsY(16));
  ASSERT_EQ(simhost::DialogRuns().size(), 1u);
  EXPECT_EQ(simhost::DialogRuns()[0].parent, owner);
}

TEST_F(OptionsDialog, OpeningEmptiesThePresetNameAndSelectsNothing) {
  std::strcpy(settings.presetName, "Cadenza");
  Open({Inspect([](HWND d) { EXPECT_EQ(simhost::ListSelection(d, 123), -1); }), Press(IDCANCEL)});
  EXPECT_EQ(settings.presetName[0], '\0');
}

// Each row: clicks from the defaults, then the enabled state of the six
// dependent boxes 106, 107, 121, 104, 122, 114.
struct DependencyRow {
  const char* story;
  std::vector<int> clicks;
  std::vector<bool> enabled;
};

TEST_F(OptionsDialog, DependentCheckBoxesFollowTheirMasters) {
  const int dependents[] = {106, 107, 121, 104, 122, 114};
  const DependencyRow rows[] = {
      {"defaults", {}, {false, false, false, false, true, false}},
      {"use composite", {105}, {true, true, true, false, true, false}},
      {"use composite, no compact", {105, 107}, {true, true, false, false, true, false}},
      {"composite on and off", {105, 105}, {false, false, false, false, true, false}},
      {"all staves", {103}, {false, false, false, true, true, false}},
      {"current time sig", {122}, {false, false, false, false, true, true}},
      {"hide", {102}, {false, false, false, false, false, false}},
      {"hide and unhide", {102, 102}, {false, false, false, false, true, false}},
      {"current, hide", {122, 102}, {false, false, false, false, false, false}},
      {"current, hide, unhide", {122, 102, 102}, {false, false, false, false, true, true}},
  };
  for (const DependencyRow& row : rows) {
    SCOPED_TRACE(row.story);
    SetUp();
    std::vector<simhost::UserAction> script;
    for (int id : row.clicks) script.push_back(Click(id));
    script.push_back(Inspect([&](HWND d) {
      for (std::size_t i = 0; i < std::size(dependents); ++i) {
        SCOPED_TRACE(dependents[i]);
        EXPECT_EQ(ItemEnabled(d, dependents[i]), row.enabled[i]);
      }
    }));
    script.push_back(Press(IDCANCEL));
    Open(script);
    TearDown();
  }
}

TEST_F(OptionsDialog, DisablingKeepsCheckMarksAndOkStoresThem) {
  settings.useComposite = 1;
  settings.preferComposite = 1;
  settings.largestBeatDuration = 1;
  EXPECT_EQ(Open({Inspect([](HWND d) {
                    EXPECT_TRUE(ItemEnabled(d, 106));
                    EXPECT_TRUE(ItemEnabled(d, 121));
                  }),
                  Click(105), Inspect([](HWND d) {
                    for (int id : {106, 107, 121}) {
                      SCOPED_TRACE(id);
                      EXPECT_FALSE(ItemEnabled(d, id));
                      EXPECT_EQ(ItemCheck(d, id), 1);
                    }
                  }),
                  Click(106),  // disabled: the click goes nowhere
                  Press(IDOK)}),
            1);
  EXPECT_EQ(settings.useComposite, 0);
  EXPECT_EQ(settings.preferComposite, 1);
  EXPECT_EQ(settings.compactBeatDuration, 1);
  EXPECT_EQ(settings.largestBeatDuration, 1);
  EXPECT_EQ(simhost::IgnoredActions().size(), 1u);
}

TEST_F(OptionsDialog, OkStoresEveryBoxIntoItsField) {
  // Turn every box over (enabling the dependent ones first) and read back.
  settings.useComposite = 1;
  settings.onlySelectedStaves = 0;
  settings.displayCurrentTimeSig = 1;
  settings.reserved[2] = 77;
  Settings expected = settings;
  std::vector<simhost::UserAction> script;
  for (int id : {109, 104, 116, 110, 114, 118, 119, 120, 127, 128, 129, 106, 121, 107})
    script.push_back(Click(id));
  script.push_back(Type(112, "512"));
  script.push_back(Press(IDOK));
  EXPECT_EQ(Open(script), 1);
  expected.autoUpdateLayout = 1;
  expected.includeHiddenStaves = 1;
  expected.onlyChangeAtConflicts = 0;
  expected.changeIndependentStaves = 1;
  expected.abbreviateDisplay = 0;
  for (std::int16_t& allow : expected.allowBeat) allow = allow != 0 ? 0 : 1;
  expected.preferComposite = 1;
  expected.compactBeatDuration = 0;
  expected.largestBeatDuration = 1;
  expected.minMeasureDuration = 512;
  EXPECT_EQ(OptionBlock(settings), OptionBlock(expected));  // reserved untouched
}

TEST_F(OptionsDialog, NumberOutsideTheRangeIsRefusedWithFocusOnTheField) {
  struct Row {
    const char* story;
    simhost::UserAction edit;
  };
  const Row rows[] = {
      {"9000 typed", Type(112, "9000")},
      {"8193 typed", Type(112, "8193")},
      {"six digits typed, five kept", Type(112, "999999")},
      {"negative pasted", Paste(112, "-1")},
      {"huge from elsewhere",
       Inspect([](HWND d) { HostSetItemText(d, 112, "4294967296", HostInterfaceVersion); })},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.story);
    SetUp();
    const auto before = Image(settings);
    standin::ExpectMessageBox(IDOK);
    HWND dialog = nullptr;
    EXPECT_EQ(Open({row.edit, Click(109), Press(IDOK), Inspect([&](HWND d) {
                      dialog = d;
                      EXPECT_EQ(simhost::FocusedItem(d), 112);
                      EXPECT_TRUE(standin::FindDialog(d)->alive);
                    }),
                    Press(IDCANCEL)}),
              0);
    ASSERT_EQ(standin::MessageBoxCalls().size(), 1u);
    const auto& box = standin::MessageBoxCalls()[0];
    EXPECT_EQ(box.caption, "Range error");
    EXPECT_EQ(box.text, "You must enter a value between 0 and 8192");
    EXPECT_EQ(box.style, MB_OK | MB_ICONHAND);
    EXPECT_EQ(box.owner, dialog);
    // Nothing stored but the position that Cancel remembers.
    auto after = Image(settings);
    EXPECT_EQ(std::vector<std::uint8_t>(after.begin(), after.begin() + 81),
              std::vector<std::uint8_t>(before.begin(), before.begin() + 81));
    TearDown();
  }
}

TEST_F(OptionsDialog, BothEndsOfTheRangeAreAccepted) {
  for (const char* text : {"0", "8192", "00007"}) {
    SCOPED_TRACE(text);
    SetUp();
    EXPECT_EQ(Open({Type(112, text), Press(IDOK)}), 1);
    EXPECT_EQ(settings.minMeasureDuration, std::atoi(text));
    TearDown();
  }
}

TEST_F(OptionsDialog, NoBeatDurationIsRefusedWithoutMovingTheFocus) {
  standin::ExpectMessageBox(IDOK);
  const auto before = OptionBlock(settings);
  EXPECT_EQ(Open({Click(118), Click(119), Click(120), Click(127), Click(128), Press(IDOK),
                  Inspect([](HWND d) {
                    EXPECT_EQ(simhost::FocusedItem(d), IDOK);
                    EXPECT_TRUE(standin::FindDialog(d)->alive);
                  }),
                  Press(IDCANCEL)}),
            0);
  ASSERT_EQ(standin::MessageBoxCalls().size(), 1u);
  const auto& box = standin::MessageBoxCalls()[0];
  EXPECT_EQ(box.caption, "No allowed beat durations");
  EXPECT_EQ(box.text, "You must select at least one allowed beat duration.");
  EXPECT_EQ(box.style, MB_OK | MB_ICONHAND);
  EXPECT_EQ(OptionBlock(settings), before);
}

TEST_F(OptionsDialog, WithBothFaultsOnlyTheRangeIsReported) {
  standin::ExpectMessageBox(IDOK);
  Open({Click(118), Click(119), Click(120), Click(127), Click(128), Type(112, "9999"), Press(IDOK),
        Press(IDCANCEL)});
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"Range error"});
}

TEST_F(OptionsDialog, OkAfterAFixedFaultStores) {
  standin::ExpectMessageBox(IDOK);
  EXPECT_EQ(Open({Type(112, "9000"), Press(IDOK), Type(112, "2048"), Press(IDOK)}), 1);
  EXPECT_EQ(settings.minMeasureDuration, 2048);
}

TEST_F(OptionsDialog, CancelKeepsTheOptionsButStoresThePosition) {
  settings.dialogLeft = 200;
  settings.dialogTop = 100;
  const auto before = OptionBlock(settings);
  EXPECT_EQ(
      Open({Click(109), Click(105), Type(112, "256"),
            Inspect([](HWND d) { MoveWindow(d, 333, 222, 452, 359, TRUE); }), Press(IDCANCEL)}),
      0);
  EXPECT_EQ(OptionBlock(settings), before);
  EXPECT_EQ(settings.dialogLeft, 333);
  EXPECT_EQ(settings.dialogTop, 222);
}

TEST_F(OptionsDialog, CloseBoxTakesTheCancelPath) {
  const auto before = OptionBlock(settings);
  EXPECT_EQ(Open({Click(109), CloseBox()}), 0);
  EXPECT_EQ(OptionBlock(settings), before);
  EXPECT_EQ(settings.dialogLeft, standin::DialogUnitsToPixelsX(7));
}

TEST_F(OptionsDialog, RememberedPositionIsUsedWhileOnTheScreen) {
  struct Row {
    std::int16_t left, top;
    bool used;
  };
  // Screen 1024 x 768; both bounds inclusive.
  const Row rows[] = {
      {0, 0, true},     {1024, 768, true}, {1025, 100, false},       {100, 769, false},
      {-1, 100, false}, {100, -1, false},  {NeverPlaced, 50, false}, {50, NeverPlaced, false},
      {500, 300, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.left) + "," + std::to_string(row.top));
    SetUp();
    settings.dialogLeft = row.left;
    settings.dialogTop = row.top;
    RECT rect{};
    Open({Inspect([&](HWND d) { GetWindowRect(d, &rect); }), Press(IDCANCEL)});
    const int expectedLeft = row.used ? row.left : standin::DialogUnitsToPixelsX(7);
    const int expectedTop = row.used ? row.top : standin::DialogUnitsToPixelsY(16);
    EXPECT_EQ(rect.left, expectedLeft);
    EXPECT_EQ(rect.top, expectedTop);
    // The size never changes.
    EXPECT_EQ(rect.right - rect.left, standin::DialogUnitsToPixelsX(301));
    EXPECT_EQ(rect.bottom - rect.top, standin::DialogUnitsToPixelsY(221));
    EXPECT_EQ(settings.dialogLeft, expectedLeft);
    EXPECT_EQ(settings.dialogTop, expectedTop);
    TearDown();
  }
}

TEST_F(OptionsDialog, ScreenBoundsFollowTheScreenSize) {
  standin::SetScreenSize(1920, 1080);
  settings.dialogLeft = 1500;
  settings.dialogTop = 1000;
  Open({Press(IDCANCEL)});
  EXPECT_EQ(settings.dialogLeft, 1500);
  EXPECT_EQ(settings.dialogTop, 1000);
}

std::vector<std::string> HelpSends(HWND dialog) {
  std::vector<std::string> texts;
  for (const auto& m : standin::SentItemMessages(dialog, IDC_HELP_LINE, SB_SETTEXTA)) {
    EXPECT_EQ(m.wParam, static_cast<WPARAM>(SB_SIMPLEID));
    texts.push_back(m.text);
  }
  return texts;
}

TEST_F(OptionsDialog, HelpLineIsSentOnlyWhenItChanges) {
  const std::string autoUpdate = "Automatically update the layout after processing.";
  Open({Hover(109), Hover(109), HoverDialog(), HoverDialog(), Hover(101), Hover(109), Hover(113),
        Hover(126), Hover(IDOK), Hover(IDOK), Press(IDCANCEL)});
  HWND d = OptionsWindow();
  EXPECT_EQ(HelpSends(d),
            (std::vector<std::string>{autoUpdate, "", autoUpdate, "",
                                      "Make the current settings the new default values."}));
  EXPECT_EQ(standin::StatusBarDisplay(d, IDC_HELP_LINE),
            "Make the current settings the new default values.");
}

TEST(ControlHelpTable, IsTheDesignsTableInItsOrder) {
  ASSERT_EQ(ControlHelpCount, std::size(HelpRows));
  for (std::size_t i = 0; i < std::size(HelpRows); ++i) {
    SCOPED_TRACE(i + 1);
    EXPECT_EQ(ControlHelpTable[i].controlId, HelpRows[i].controlId);
    EXPECT_EQ(ControlHelpTable[i].stringId, HelpRows[i].stringId);
  }
}

TEST_F(OptionsDialog, EveryControlWithAPairShowsItsText) {
  // Enable the dependent boxes so that the mouse reaches them.
  settings.useComposite = 1;
  settings.onlySelectedStaves = 0;
  settings.displayCurrentTimeSig = 1;
  std::vector<simhost::UserAction> script;
  std::vector<std::string> expected;
  for (const HelpRow& row : HelpRows) {
    if (row.controlId == 1001) continue;  // the combo box's edit part: no window of its own here
    script.push_back(Hover(row.controlId));
    script.push_back(HoverDialog());
    expected.push_back(row.text);
    expected.push_back("");
  }
  script.push_back(Press(IDCANCEL));
  Open(script);
  EXPECT_EQ(HelpSends(OptionsWindow()), expected);
}

TEST_F(OptionsDialog, DisabledControlShowsNoHelp) {
  // The mouse over a disabled box is the dialog's (as Windows delivers it).
  Open({Hover(109), Hover(106), Press(IDCANCEL)});
  EXPECT_EQ(HelpSends(OptionsWindow()),
            (std::vector<std::string>{"Automatically update the layout after processing.", ""}));
}

TEST_F(OptionsDialog, NoSettingsRecordOpensNothing) {
  EXPECT_EQ(RunOptionsDialog(owner, nullptr), 0);
  EXPECT_TRUE(simhost::DialogRuns().empty());
}

TEST_F(OptionsDialog, ScriptRunningOutCancels) {
  const auto before = OptionBlock(settings);
  EXPECT_EQ(Open({Click(109)}), 0);
  EXPECT_EQ(OptionBlock(settings), before);
  ASSERT_EQ(simhost::ScriptErrors().size(), 1u);
  simhost::ResetDialogService();  // the error was the point
}

}  // namespace
