// The resource script as the stand-in reads it, checked against the dialogs
// and strings as they must be, and the stand-in's window calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dialogs/control_ids.h"
#include "dialogs/options_dialog.h"
#include "help_table.h"
#include "platform/standin/dialog_windows.h"
#include "platform/standin/resource_script.h"
#include "platform/standin/standin.h"

namespace {

using namespace standin::Style;

constexpr DWORD ChildVisible = Child | Visible;

struct ControlRow {
  int id;
  const char* className;
  const char* text;
  DWORD style;  // besides WS_CHILD | WS_VISIBLE
  int x, y, width, height;
};

// Dialog 20128 in template (tab) order.
const ControlRow OptionsControls[] = {
    {101, "Button", "Analyze options", GroupBox, 9, 5, 141, 47},
    {109, "Button", "&Auto-update layout", AutoCheckBox | ButtonLeft | TabStop, 14, 16, 131, 10},
    {103, "Button", "Only analyze &selected staves", AutoCheckBox | ButtonLeft | TabStop, 14, 27,
     131, 10},
    {104, "Button", "Include hidden sta&ves", AutoCheckBox | ButtonLeft | TabStop, 14, 39, 131, 10},
    {115, "Button", "Time sig result options", GroupBox, 9, 54, 141, 74},
    {116, "Button", "Only change at conflicts", AutoCheckBox | TabStop, 14, 64, 131, 12},
    {110, "Button", "Change '&independent time sig' staves", AutoCheckBox | ButtonLeft | TabStop,
     14, 77, 131, 10},
    {122, "Button", "Cu&rrent time sig for display", AutoCheckBox | ButtonLeft | TabStop, 14, 89,
     131, 10},
    {114, "Button", "Abbreviate", AutoCheckBox | TabStop, 30, 100, 115, 10},
    {102, "Button", "&Hide time signature", AutoCheckBox | ButtonLeft | TabStop, 14, 113, 131, 10},
    {117, "Button", "Allowed beat durations", GroupBox, 9, 131, 141, 44},
    {118, "Button", "32nd", AutoCheckBox | TabStop, 14, 143, 28, 12},
    {119, "Button", "16th", AutoCheckBox | TabStop, 14, 159, 28, 12},
    {120, "Button", "8th", AutoCheckBox | TabStop, 43, 143, 38, 12},
    {127, "Button", "Quarter", AutoCheckBox | TabStop, 43, 159, 38, 12},
    {128, "Button", "Dotted Q (3/8)", AutoCheckBox | TabStop, 84, 143, 60, 12},
    {129, "Button", "Half note", AutoCheckBox | TabStop, 84, 159, 60, 12},
    {108, "Button", "Composite time signatures", GroupBox | ButtonLeft, 162, 5, 134, 70},
    {105, "Button", "&Use composite time signatures", AutoCheckBox | ButtonLeft | TabStop, 169, 16,
     119, 10},
    {106, "Button", "&Prefer composite version", AutoCheckBox | ButtonLeft | TabStop, 169, 29, 119,
     10},
    {107, "Button", "&Compact beat duration", AutoCheckBox | ButtonLeft | TabStop, 169, 49, 119,
     10},
    {121, "Button", "Largest possible beat duration", AutoCheckBox | ButtonLeft | TabStop, 169, 62,
     119, 10},
    {111, "Button", "Don't effect &measures less than", GroupBox | ButtonLeft, 162, 82, 134, 33},
    {112, "Edit", "", Border | TabStop | EditNumber | EditAutoHScroll, 175, 96, 28, 12},
    {113, "Static", "EDUs    (1024 = 1/4)", StaticLeft | Group, 206, 98, 68, 8},
    {123, "ComboBox", "", DropDownList | VScroll | TabStop, 163, 132, 97, 48},
    {124, "Button", "Save", PushButton | TabStop, 264, 132, 31, 11},
    {125, "Button", "Delete", PushButton | TabStop, 264, 146, 31, 11},
    {1, "Button", "OK", DefPushButton | TabStop, 104, 188, 40, 14},
    {2, "Button", "Cancel", PushButton | TabStop, 162, 188, 40, 14},
    {126, "msctls_statusbar32", "", Border | TabStop, 1, 209, 302, 13},
};

const ControlRow NameControls[] = {
    {65535, "Static", "Preset name:", StaticLeft | Group, 10, 6, 118, 8},
    {101, "Edit", "", Border | TabStop, 10, 15, 118, 12},
    {1, "Button", "OK", DefPushButton | TabStop, 26, 38, 32, 14},
    {2, "Button", "Cancel", PushButton | TabStop, 69, 38, 42, 14},
};

const std::pair<UINT, const char*> HelpTexts[] = {
    {201, "Automatically update the layout after processing."},
    {202, "The same as using 'Always hide' in the Measure Attributes dialog box."},
    {203, "Only analyze the selected staves. (The changes usually affect all staves.)"},
    {204, "Change on staves marked with 'independent time sigs' as well."},
    {205, "Analyze hidden staves as well to determine time sig."},
    {206, "Current time sig is still displayed, new calculated one is used only for beaming."},
    {207, "Create composite time sigs if needed."},
    {208, "Choose composite even if a normal time sig can be used."},
    {209, "Only use one single number as composite time sig's beat duration (lower part)."},
    {210, "Use the largest beat duration digit possible."},
    {211, "Smallest measure duration to take into account. (0 = affect every measure.)"},
    {212, "Abbreviate common and cut time in time sig for display."},
    {213, "Change only if the existing time sig differ with beams/beats."},
    {214, "Allow 32nd notes as beat durations."},
    {215, "Allow 16th notes as beat durations."},
    {216, "Allow 8th notes as beat durations."},
    {217, "Allow quarter notes as beat durations."},
    {218, "Dotted quarters - which gives the beaming of 3/8, 6/8, 9/8 etc."},
    {219, "Allow half notes as beat durations, used for cut time."},
    {220, "Select a preset from the list to load a new set of preferences."},
    {221, "Save the current preferences as a new preset."},
    {222, "Delete the selected preset."},
    {223, "Make the current settings the new default values."},
    {224, "No processing, no changing of new defaults."},
};

void ExpectControls(const standin::DialogTemplate& dialog, const ControlRow* rows,
                    std::size_t count) {
  ASSERT_EQ(dialog.controls.size(), count);
  for (std::size_t i = 0; i < count; ++i) {
    const ControlRow& row = rows[i];
    const standin::ControlTemplate& c = dialog.controls[i];
    SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(row.id));
    EXPECT_EQ(c.id, row.id);
    EXPECT_EQ(c.className, row.className);
    EXPECT_EQ(c.text, row.text);
    EXPECT_EQ(c.style, row.style | ChildVisible);
    EXPECT_EQ(c.exStyle, 0u);
    EXPECT_EQ(c.x, row.x);
    EXPECT_EQ(c.y, row.y);
    EXPECT_EQ(c.width, row.width);
    EXPECT_EQ(c.height, row.height);
  }
}

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::ResetAll(); }
};

TEST_F(ResourcesTest, TheScriptParsesWithoutErrors) {
  const standin::ResourceScript& r = standin::Resources();
  for (const std::string& e : r.errors) ADD_FAILURE() << e;
  EXPECT_EQ(r.dialogs.size(), 2u);
  EXPECT_EQ(r.strings.size(), 24u);
}

TEST_F(ResourcesTest, OptionsDialogIsAsTabled) {
  const auto& dialogs = standin::Resources().dialogs;
  ASSERT_EQ(dialogs.count(IDD_OPTIONS), 1u);
  const standin::DialogTemplate& d = dialogs.at(IDD_OPTIONS);
  EXPECT_EQ(d.caption, "KQ Meterfix v. 1.01");
  EXPECT_EQ(d.fontFace, "MS Sans Serif");
  EXPECT_EQ(d.fontSize, 8);
  EXPECT_EQ(d.style, Visible | Caption | SysMenu | ModalFrame | SetFont | FixedSys);
  EXPECT_EQ(d.exStyle, 0u);
  EXPECT_EQ(d.x, 7);
  EXPECT_EQ(d.y, 16);
  EXPECT_EQ(d.width, 301);
  EXPECT_EQ(d.height, 221);
  ExpectControls(d, OptionsControls, std::size(OptionsControls));
}

TEST_F(ResourcesTest, PresetNameDialogIsAsTabled) {
  const auto& dialogs = standin::Resources().dialogs;
  ASSERT_EQ(dialogs.count(IDD_PRESET_NAME), 1u);
  const standin::DialogTemplate& d = dialogs.at(IDD_PRESET_NAME);
  EXPECT_EQ(d.caption, "Save preset as...");
  EXPECT_EQ(d.fontFace, "MS Sans Serif");
  EXPECT_EQ(d.fontSize, 8);
  EXPECT_EQ(d.style, Popup | Visible | Caption | SysMenu | ModalFrame | SetFont);
  EXPECT_EQ(d.x, 11);
  EXPECT_EQ(d.y, 51);
  EXPECT_EQ(d.width, 137);
  EXPECT_EQ(d.height, 58);
  ExpectControls(d, NameControls, std::size(NameControls));
}

TEST_F(ResourcesTest, HelpTextsAreVerbatim) {
  const auto& strings = standin::Resources().strings;
  for (const auto& [id, text] : HelpTexts) {
    SCOPED_TRACE(id);
    ASSERT_EQ(strings.count(id), 1u);
    EXPECT_EQ(strings.at(id), text);
  }
}

TEST_F(ResourcesTest, EveryHelpPairNamesAControlAndAString) {
  const standin::DialogTemplate& d = standin::Resources().dialogs.at(IDD_OPTIONS);
  for (const HelpRow& pair : HelpRows) {
    SCOPED_TRACE(pair.controlId);
    ASSERT_EQ(standin::Resources().strings.count(static_cast<UINT>(pair.stringId)), 1u);
    EXPECT_EQ(standin::Resources().strings.at(static_cast<UINT>(pair.stringId)), pair.text);
    if (pair.controlId == 1001) continue;  // a combo box's edit part
    bool found = false;
    for (const auto& c : d.controls) found = found || c.id == pair.controlId;
    EXPECT_TRUE(found);
  }
}

TEST_F(ResourcesTest, ParserReportsWhatItCannotRead) {
  const std::string header = "#define IDD_X 5\n#define IDC_Y -1\n";
  standin::ResourceScript ok = standin::ParseResourceScript(
      "IDD_X DIALOG 1, 2, 3, 4\nCAPTION \"Say \"\"hi\"\"\"\nBEGIN\n"
      "CONTROL \"t\", IDC_Y, \"Static\", WS_CHILD | SS_LEFT, 1, 2, 3, 4\nEND\n"
      "STRINGTABLE\n{\n 7 \"a\\tb\"\n}\n",
      header);
  ASSERT_TRUE(ok.errors.empty()) << ok.errors[0];
  EXPECT_EQ(ok.dialogs.at(5).caption, "Say \"hi\"");
  EXPECT_EQ(ok.dialogs.at(5).controls.at(0).id, 65535);
  EXPECT_EQ(ok.strings.at(7), "a\tb");

  standin::ResourceScript unknown = standin::ParseResourceScript(
      "IDD_X DIALOGEX 1, 2, 3, 4\nBEGIN\n  CONTROL \"t\", 1, \"Button\", BS_FANCY, 1, 2, 3, "
      "4\nEND\n",
      header);
  ASSERT_EQ(unknown.errors.size(), 1u);
  EXPECT_EQ(unknown.errors[0], "line 3: unknown symbol BS_FANCY");

  standin::ResourceScript other = standin::ParseResourceScript(
      "IDD_X DIALOGEX 1, 2, 3, 4\nBEGIN\n  LTEXT \"t\", 1, 1, 2, 3, 4\nEND\n", header);
  ASSERT_EQ(other.errors.size(), 1u);
  EXPECT_NE(other.errors[0].find("LTEXT"), std::string::npos);
}

TEST_F(ResourcesTest, LoadStringCopiesAtMostSizeMinusOneAndTerminates) {
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(LoadStringA(nullptr, 222, buffer, sizeof buffer), 15);
  EXPECT_STREQ(buffer, "Delete the sele");
  char whole[200];
  EXPECT_EQ(LoadStringA(nullptr, 222, whole, sizeof whole), 27);
  EXPECT_STREQ(whole, "Delete the selected preset.");
  whole[0] = 'x';
  EXPECT_EQ(LoadStringA(nullptr, 225, whole, sizeof whole), 0);
  EXPECT_EQ(whole[0], '\0');
  EXPECT_EQ(LoadStringA(nullptr, 201, whole, 0), 0);
}

TEST_F(ResourcesTest, DialogWindowStandsAtItsTemplatePositionInPixels) {
  HWND dialog = standin::CreateDialogWindow(IDD_OPTIONS, nullptr);
  ASSERT_NE(dialog, nullptr);
  RECT rect{};
  ASSERT_TRUE(GetWindowRect(dialog, &rect));
  // 6 x 13 pixel base units: x * 6 / 4, y * 13 / 8, rounded like MulDiv.
  EXPECT_EQ(rect.left, 11);  // 7 * 1.5 = 10.5
  EXPECT_EQ(rect.top, 26);
  EXPECT_EQ(rect.right - rect.left, 452);
  EXPECT_EQ(rect.bottom - rect.top, 359);
  EXPECT_TRUE(MoveWindow(dialog, 300, 200, 452, 359, TRUE));
  ASSERT_TRUE(GetWindowRect(dialog, &rect));
  EXPECT_EQ(rect.left, 300);
  EXPECT_EQ(rect.bottom, 559);
  EXPECT_EQ(standin::FindDialog(dialog)->moveCount, 1);
  EXPECT_FALSE(GetWindowRect(reinterpret_cast<HWND>(0x1234), &rect));
}

TEST_F(ResourcesTest, ControlIdsAndScreenSize) {
  HWND dialog = standin::CreateDialogWindow(IDD_OPTIONS, nullptr);
  EXPECT_EQ(GetDlgCtrlID(standin::ControlHandle(dialog, 112)), 112);
  EXPECT_EQ(GetDlgCtrlID(dialog), 0);
  EXPECT_EQ(GetDlgCtrlID(nullptr), 0);
  EXPECT_EQ(standin::CreateDialogWindow(4711, nullptr), nullptr);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
  standin::SetScreenSize(1920, 1080);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 1080);
}

TEST_F(ResourcesTest, ComboBoxMessagesFollowWindows) {
  HWND dialog = standin::CreateDialogWindow(IDD_OPTIONS, nullptr);
  const char* a = "Alpha";
  EXPECT_EQ(SendDlgItemMessageA(dialog, 123, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(a)), 0);
  EXPECT_EQ(SendDlgItemMessageA(dialog, 123, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Beta")), 1);
  EXPECT_EQ(SendDlgItemMessageA(dialog, 123, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(SendDlgItemMessageA(dialog, 123, CB_SETCURSEL, 1, 0), 1);
  char text[100];
  EXPECT_EQ(SendDlgItemMessageA(dialog, 123, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(text)), 4);
  EXPECT_STREQ(text, "Beta");
  EXPECT_EQ(SendDlgItemMessageA(dialog, 123, CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(text)),
            CB_ERR);
  // An index past the end answers CB_ERR and keeps the selection (as Wine
  // does); -1 clears it.
  EXPECT_EQ(SendDlgItemMessageA(dialog, 123, CB_SETCURSEL, 5, 0), CB_ERR);
  EXPECT_EQ(SendDlgItemMessageA(dialog, 123, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(SendDlgItemMessageA(dialog, 123, CB_SETCURSEL, static_cast<WPARAM>(-1), 0), CB_ERR);
  EXPECT_EQ(SendDlgItemMessageA(dialog, 123, CB_GETCURSEL, 0, 0), CB_ERR);
  SendDlgItemMessageA(dialog, 123, CB_SETCURSEL, 0, 0);
  SendDlgItemMessageA(dialog, 123, CB_RESETCONTENT, 0, 0);
  EXPECT_EQ(SendDlgItemMessageA(dialog, 123, CB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(SendDlgItemMessageA(dialog, 123, CB_GETCURSEL, 0, 0), CB_ERR);
  // Every send is recorded, with its text.
  auto adds = standin::SentItemMessages(dialog, 123, CB_ADDSTRING);
  ASSERT_EQ(adds.size(), 2u);
  EXPECT_EQ(adds[0].text, "Alpha");
  // A control the dialog does not have: nothing happens, 0.
  EXPECT_EQ(SendDlgItemMessageA(dialog, 999, CB_GETCURSEL, 0, 0), 0);
}

TEST_F(ResourcesTest, StatusBarShowsPart255OnlyInSimpleMode) {
  HWND dialog = standin::CreateDialogWindow(IDD_OPTIONS, nullptr);
  SendDlgItemMessageA(dialog, 126, SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>("Help"));
  EXPECT_EQ(standin::StatusBarDisplay(dialog, 126), "");
  SendDlgItemMessageA(dialog, 126, SB_SIMPLE, TRUE, 0);
  EXPECT_EQ(standin::StatusBarDisplay(dialog, 126), "Help");
  // Read back as Wine answers it: part 255 gives nothing, part 0 the simple text.
  char text[32] = "x";
  EXPECT_EQ(
      SendDlgItemMessageA(dialog, 126, SB_GETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(text)),
      0);
  EXPECT_STREQ(text, "x");
  EXPECT_EQ(SendDlgItemMessageA(dialog, 126, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text)), 4);
  EXPECT_STREQ(text, "Help");
}

TEST_F(ResourcesTest, EditLimitZeroMeansTheLargestLimit) {
  HWND dialog = standin::CreateDialogWindow(IDD_OPTIONS, nullptr);
  EXPECT_EQ(standin::FindControl(dialog, 112)->textLimit, 32767u);
  SendDlgItemMessageA(dialog, 112, EM_LIMITTEXT, 5, 0);
  EXPECT_EQ(standin::FindControl(dialog, 112)->textLimit, 5u);
  SendDlgItemMessageA(dialog, 112, EM_LIMITTEXT, 0, 0);
  EXPECT_EQ(standin::FindControl(dialog, 112)->textLimit, 0x7FFFFFFEu);
}

}  // namespace
