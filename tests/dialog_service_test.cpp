// The simulated host's dialog service, driven with a small recording
// procedure: what a scripted user can and cannot do, and the item functions.
#include "simhost/dialog_service.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "dialogs/control_ids.h"
#include "platform/standin/dialog_windows.h"
#include "platform/standin/standin.h"
#include "host/host.h"

namespace {

using namespace simhost::user;

struct Message {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Message> received;
std::vector<Message> receivedInner;
bool endOnOk = true;

std::int32_t HOSTAPI InnerProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam,
                               std::intptr_t) {
  receivedInner.push_back({message, wParam, lParam});
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
    HostEndDialog(dialog, HostInterfaceVersion);
  return message == WM_INITDIALOG ? 1 : 0;
}

std::int32_t HOSTAPI RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam,
                                   std::intptr_t) {
  received.push_back({message, wParam, lParam});
  if (message == WM_COMMAND) {
    if (LOWORD(wParam) == IDOK && endOnOk) HostEndDialog(dialog, HostInterfaceVersion);
    if (LOWORD(wParam) == IDCANCEL) HostEndDialog(dialog, HostInterfaceVersion);
    if (LOWORD(wParam) == IDC_PRESET_SAVE)
      HostRunDialog(IDD_PRESET_NAME, InnerProc, dialog, 1, 0, HostInterfaceVersion);
  }
  return message == WM_INITDIALOG ? 1 : 0;
}

class DialogServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::ResetAll();
    simhost::ResetDialogService();
    received.clear();
    receivedInner.clear();
    endOnOk = true;
  }
  std::int32_t Run(std::vector<simhost::UserAction> script, std::intptr_t user = 0) {
    simhost::SetScript(std::move(script));
    return HostRunDialog(IDD_OPTIONS, RecordingProc, nullptr, 1, user, HostInterfaceVersion);
  }
  std::vector<Message> Commands() const {
    std::vector<Message> out;
    for (const Message& m : received)
      if (m.message == WM_COMMAND) out.push_back(m);
    return out;
  }
};

TEST_F(DialogServiceTest, InitDialogCarriesTheUserValueAndFocusesTheFirstTabStop) {
  HWND seen = nullptr;
  EXPECT_EQ(Run({Inspect([&](HWND d) { seen = d; }), Press(IDOK)}, 4711), 1);
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received[0].message, WM_INITDIALOG);
  EXPECT_EQ(received[0].lParam, 4711);
  EXPECT_EQ(GetDlgCtrlID(reinterpret_cast<HWND>(received[0].wParam)), 109);
  EXPECT_TRUE(simhost::ScriptErrors().empty());
  ASSERT_EQ(simhost::DialogRuns().size(), 1u);
  EXPECT_TRUE(simhost::DialogRuns()[0].endedByProcedure);
  EXPECT_EQ(simhost::DialogRuns()[0].dialog, seen);
  EXPECT_FALSE(standin::FindDialog(seen)->alive);
}

TEST_F(DialogServiceTest, ClickingACheckBoxTogglesItThenNotifies) {
  int checkAtNotification = -1;
  Run({Click(105), Inspect([&](HWND d) { checkAtNotification = simhost::ItemCheck(d, 105); }),
       Press(IDOK)});
  auto commands = Commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].wParam, MAKEWPARAM(105, BN_CLICKED));
  EXPECT_EQ(GetDlgCtrlID(reinterpret_cast<HWND>(commands[0].lParam)), 105);
  EXPECT_EQ(checkAtNotification, 1);
}

TEST_F(DialogServiceTest, DisabledControlsCannotBeClickedTypedOrPicked) {
  Run({Inspect([](HWND d) {
         HostEnableItem(d, 105, 0, HostInterfaceVersion);
         HostEnableItem(d, 112, 0, HostInterfaceVersion);
         HostEnableItem(d, 123, 0, HostInterfaceVersion);
       }),
       Click(105), Type(112, "12"), Pick(123, "x"), Inspect([](HWND d) {
         EXPECT_EQ(simhost::ItemCheck(d, 105), 0);
         EXPECT_EQ(simhost::ItemText(d, 112), "");
       }),
       Press(IDOK)});
  EXPECT_EQ(Commands().size(), 1u);  // only OK
  EXPECT_EQ(simhost::IgnoredActions().size(), 3u);
}

TEST_F(DialogServiceTest, TypingKeepsDigitsUpToTheLimitPastingOnlyTheLimit) {
  Run({Inspect([](HWND d) { SendDlgItemMessageA(d, 112, EM_LIMITTEXT, 5, 0); }),
       Type(112, "1a2-3456"), Inspect([](HWND d) {
         EXPECT_EQ(simhost::ItemText(d, 112), "12345");
         EXPECT_EQ(simhost::FocusedItem(d), 112);
       }),
       Paste(112, "-7xyzabc"),
       Inspect([](HWND d) { EXPECT_EQ(simhost::ItemText(d, 112), "-7xyz"); }), Inspect([](HWND d) {
         // Text set by the program is not bound by the typing limit.
         HostSetItemText(d, 112, "1234567", HostInterfaceVersion);
         EXPECT_EQ(simhost::ItemText(d, 112), "1234567");
       }),
       Press(IDOK)});
  auto commands = Commands();
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[0].wParam, MAKEWPARAM(112, 0x0300));  // EN_CHANGE
}

TEST_F(DialogServiceTest, IntegerValueOfTheFieldText) {
  struct Row {
    const char* text;
    std::int32_t value;
  };
  const Row rows[] = {
      {"1024", 1024},
      {"0", 0},
      {"", 0},
      {"  42 ", 42},
      {"-5", -5},
      {"+7", 7},
      {"12a", 0},
      {"abc", 0},
      {"-", 0},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"99999999999999999999", INT_MAX},
      {"-99999999999", INT_MIN},
  };
  Run({Inspect([&](HWND d) {
         for (const Row& row : rows) {
           SCOPED_TRACE(row.text);
           HostSetItemText(d, 112, row.text, HostInterfaceVersion);
           EXPECT_EQ(HostGetItemValue(d, 112, ItemKindInteger, HostInterfaceVersion), row.value);
         }
         HostSetItemValue(d, 112, ItemKindInteger, -32768, HostInterfaceVersion);
         EXPECT_EQ(simhost::ItemText(d, 112), "-32768");
       }),
       Press(IDOK)});
  EXPECT_TRUE(simhost::ScriptErrors().empty());
}

TEST_F(DialogServiceTest, ListSelectionIsOneBasedAndOutOfRangeClearsIt) {
  Run({Inspect([](HWND d) {
         SendDlgItemMessageA(d, 123, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("A"));
         SendDlgItemMessageA(d, 123, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("B"));
         HostSetItemValue(d, 123, ItemKindListSelection, 2, HostInterfaceVersion);
         EXPECT_EQ(SendDlgItemMessageA(d, 123, CB_GETCURSEL, 0, 0), 1);
         EXPECT_EQ(HostGetItemValue(d, 123, ItemKindListSelection, HostInterfaceVersion), 2);
         HostSetItemValue(d, 123, ItemKindListSelection, 3, HostInterfaceVersion);
         EXPECT_EQ(simhost::ListSelection(d, 123), -1);
         HostSetItemValue(d, 105, ItemKindCheck, 5, HostInterfaceVersion);
         EXPECT_EQ(HostGetItemValue(d, 105, ItemKindCheck, HostInterfaceVersion), 1);
       }),
       Pick(123, "A"), Pick(123, "C"), Press(IDOK)});
  auto commands = Commands();
  ASSERT_EQ(commands.size(), 2u);  // no notification for the host's selection
  EXPECT_EQ(commands[0].wParam, MAKEWPARAM(123, CBN_SELCHANGE));
  ASSERT_EQ(simhost::ScriptErrors().size(), 1u);  // "C" is not in the list
}

TEST_F(DialogServiceTest, ItemTextLengthCountsCharactersNotTheNul) {
  const std::string thirty(30, 'n');
  Run({Inspect([&](HWND d) {
         HostSetItemText(d, 112, (thirty + "xyz").c_str(), HostInterfaceVersion);
         char buffer[100];
         std::memset(buffer, '#', sizeof buffer);
         HostGetItemText(d, 112, buffer, 30, HostInterfaceVersion);
         EXPECT_EQ(std::string(buffer), thirty);
         EXPECT_EQ(buffer[31], '#');
         HostGetItemText(d, 112, buffer, 0, HostInterfaceVersion);
         EXPECT_EQ(buffer[0], '\0');
       }),
       Press(IDOK)});
}

TEST_F(DialogServiceTest, HoverGivesTheWindowUnderTheMouse) {
  std::vector<int> ids;
  Run({Inspect([](HWND d) { HostEnableItem(d, 106, 0, HostInterfaceVersion); }), Hover(109),
       Hover(106), Hover(101), Hover(113), Hover(126), HoverDialog(), Press(IDOK)});
  HWND dialog = simhost::DialogRuns()[0].dialog;
  for (const Message& m : received)
    if (m.message == WM_SETCURSOR) {
      HWND under = reinterpret_cast<HWND>(m.wParam);
      ids.push_back(under == dialog ? -1 : GetDlgCtrlID(under));
    }
  // Disabled 106, group box 101 and static 113 let the mouse through.
  EXPECT_EQ(ids, (std::vector<int>{109, -1, -1, -1, 126, -1}));
}

TEST_F(DialogServiceTest, NestedDialogTakesTheFollowingActions) {
  Run({Press(IDC_PRESET_SAVE),
       Inspect([](HWND d) { EXPECT_EQ(standin::FindDialog(d)->resourceId, IDD_PRESET_NAME); }),
       Type(IDC_PRESET_NAME, "Mine"), Press(IDOK),
       Inspect([](HWND d) { EXPECT_EQ(standin::FindDialog(d)->resourceId, IDD_OPTIONS); }),
       Press(IDCANCEL)});
  ASSERT_EQ(simhost::DialogRuns().size(), 2u);
  EXPECT_EQ(simhost::DialogRuns()[1].resourceId, IDD_PRESET_NAME);
  EXPECT_EQ(simhost::DialogRuns()[1].parent, simhost::DialogRuns()[0].dialog);
  EXPECT_EQ(simhost::ItemText(simhost::DialogRuns()[1].dialog, IDC_PRESET_NAME), "Mine");
  EXPECT_TRUE(simhost::ScriptErrors().empty());
  EXPECT_EQ(receivedInner.size(), 3u);  // init, EN_CHANGE, OK
}

TEST_F(DialogServiceTest, ScriptRunningOutEndsAsCancelAndIsAnError) {
  endOnOk = false;
  EXPECT_EQ(Run({Press(IDOK)}), 1);
  auto commands = Commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(LOWORD(commands[1].wParam), IDCANCEL);
  ASSERT_EQ(simhost::ScriptErrors().size(), 1u);
  EXPECT_EQ(simhost::ScriptErrors()[0], "script ran out in dialog 20128; ended as Cancel");
}

TEST_F(DialogServiceTest, CloseBoxArrivesAsCancel) {
  Run({CloseBox()});
  auto commands = Commands();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(LOWORD(commands[0].wParam), IDCANCEL);
  EXPECT_TRUE(simhost::ScriptErrors().empty());
}

TEST_F(DialogServiceTest, UnknownOrFailingTemplatesAreNotRun) {
  simhost::SetScript({Press(IDOK)});
  EXPECT_EQ(HostRunDialog(4711, RecordingProc, nullptr, 1, 0, HostInterfaceVersion), -1);
  simhost::FailDialogCreation(IDD_OPTIONS);
  EXPECT_EQ(HostRunDialog(IDD_OPTIONS, RecordingProc, nullptr, 1, 0, HostInterfaceVersion), -1);
  EXPECT_TRUE(received.empty());
  EXPECT_EQ(simhost::PendingActions(), 1u);
}

}  // namespace
