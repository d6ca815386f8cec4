// The options dialog made from the plug-in's resources and worked through
// its controls from the driver thread: initial states, dependency rules, the
// help line, the range checks, the stored position, the ways to cancel and
// the "Apply settings?" question.
#include <cstdint>
#include <vector>

#include "host/records.h"
#include "platform/le_bytes.h"
#include "settings/persistence.h"
#include "settings/settings.h"
#include "simhost/simhost.h"
#include "windows/testhost/harness.h"
#include "windows/testhost/scenarios.h"

namespace testhost {

void OptionsDialogStatesAndRules() {
  Begin("options dialog: initial states, dependency rules, help line, range error");
  std::int16_t result = -1;
  PluginLife([&](Plugin& plugin) {
    WithDriver(
        [&] {
          HWND d = WaitForDialog(OptionsCaption);
          if (d == nullptr) return;
          CHECK_EQ_STR(HelpLine(d), "");
          HoverOver(d, GetDlgItem(d, 103));
          CHECK_EQ_STR(
              HelpLine(d),
              "Only analyze the selected staves. (The changes usually affect all staves.)");
          TakeScreenshot(d);

          for (int id : {103, 116, 114, 107, 128, 127, 120, 119, 118}) {
            if (!Checked(d, id)) Fail(__FILE__, __LINE__, Format("%d is not checked", id));
          }
          for (int id : {109, 104, 110, 122, 102, 129, 105, 106, 121}) {
            if (Checked(d, id)) Fail(__FILE__, __LINE__, Format("%d is checked", id));
          }
          for (int id : {106, 107, 121, 104, 114}) {
            if (Enabled(d, id)) Fail(__FILE__, __LINE__, Format("%d is enabled", id));
          }
          for (int id : {109, 103, 116, 110, 122, 102, 105, 118, 119, 120, 127, 128, 129, 112}) {
            if (!Enabled(d, id)) Fail(__FILE__, __LINE__, Format("%d is disabled", id));
          }
          CHECK_EQ_STR(ItemText(d, 112), "1024");
          CHECK_EQ_STR(Join(ComboItems(d, 123)), "Upbeats|Complex Beating|Cadenza|Composite");
          CHECK_EQ_INT(SendDlgItemMessageA(d, 123, CB_GETCURSEL, 0, 0), CB_ERR);
          CHECK_EQ_INT(SendDlgItemMessageA(d, 112, EM_GETLIMITTEXT, 0, 0), 5);

          // 105 governs 106 and 107; 121 needs 105 and 107. Marks never change.
          Click(d, 105);
          CHECK(Checked(d, 105));
          CHECK(Enabled(d, 106) && Enabled(d, 107) && Enabled(d, 121));
          CHECK(!Checked(d, 106) && Checked(d, 107) && !Checked(d, 121));
          Click(d, 107);
          CHECK(!Enabled(d, 121));
          Click(d, 107);
          CHECK(Enabled(d, 121));
          Click(d, 105);
          CHECK(!Enabled(d, 106) && !Enabled(d, 107) && !Enabled(d, 121));
          CHECK(Checked(d, 107));
          // 104 only without 103.
          Click(d, 103);
          CHECK(Enabled(d, 104));
          Click(d, 103);
          CHECK(!Enabled(d, 104));
          // 102 disables 122 and 114; 114 needs 122.
          Click(d, 122);
          CHECK(Enabled(d, 114));
          Click(d, 102);
          CHECK(!Enabled(d, 122) && !Enabled(d, 114));
          CHECK(Checked(d, 122));
          Click(d, 102);
          CHECK(Enabled(d, 122) && Enabled(d, 114));
          Click(d, 122);
          CHECK(!Enabled(d, 114));

          // The help line follows the control under the mouse.
          const LRESULT simple = SendDlgItemMessageA(d, 126, SB_ISSIMPLE, 0, 0);
          if (!simple) Note("the status bar is not in simple mode: part 255 text is not drawn");
          HoverOver(d, GetDlgItem(d, 109));
          CHECK_EQ_STR(HelpLine(d), "Automatically update the layout after processing.");
          HoverOver(d, d);
          CHECK_EQ_STR(HelpLine(d), "");
          HoverOver(d, GetDlgItem(d, 125));
          CHECK_EQ_STR(HelpLine(d), "Delete the selected preset.");
          HoverOver(d, GetDlgItem(d, 101));  // a group box: no text
          CHECK_EQ_STR(HelpLine(d), "");

          // 9000 is refused with "Range error" and the focus goes to the field.
          SetDlgItemTextA(d, 112, "9000");
          ExpectBox(IDOK);
          ClickAsync(d, IDOK);
          CHECK(WaitForBoxes(1));
          const auto boxes = Boxes();
          if (!boxes.empty()) {
            CHECK_EQ_STR(boxes[0].caption, "Range error");
            CHECK_EQ_STR(boxes[0].text, "You must enter a value between 0 and 8192");
          }
          CHECK(WaitUntil([&] { return FocusOfUiThread() == GetDlgItem(d, 112); }, 5000));
          CHECK(IsWindow(d) && IsWindowVisible(d));

          // However large the number.
          SetDlgItemTextA(d, 112, "99999999999");
          ExpectBox(IDOK);
          ClickAsync(d, IDOK);
          CHECK(WaitForBoxes(2));
          if (Boxes().size() >= 2) CHECK_EQ_STR(Boxes()[1].caption, "Range error");
          CHECK(WaitUntil([&] { return FocusOfUiThread() == GetDlgItem(d, 112); }, 5000));
          ForgetBoxes();

          // No beat duration allowed: the second message, dialog stays open.
          SetDlgItemTextA(d, 112, "8192");
          for (int id : {118, 119, 120, 127, 128}) Click(d, id);
          ExpectBox(IDOK);
          ClickAsync(d, IDOK);
          CHECK(WaitForBoxes(1));
          if (!Boxes().empty()) {
            CHECK_EQ_STR(Boxes()[0].caption, "No allowed beat durations");
            CHECK_EQ_STR(Boxes()[0].text, "You must select at least one allowed beat duration.");
          }
          Sleep(100);
          CHECK(IsWindow(d) && IsWindowVisible(d));
          Click(d, 129);  // half note only
          Click(d, 109);
          ClickAsync(d, IDOK);
          CHECK(WaitUntil([&] { return !IsWindow(d); }));
        },
        [&] {
          SetShortcutKeys(true);
          result = plugin.invoke(hostWindow, 0, nullptr, 0);
          SetShortcutKeys(false);
        });
    // OK without a region: no question, no beep, result 0.
    CHECK_EQ_INT(result, 0);
    CHECK_EQ_INT(Boxes().size(), 1);
  });
  // The accepted options reach the registry at termination.
  const StoredValue settings = ReadValue(SettingsValueName);
  if (settings.bytes.size() == SettingsLayout::Size) {
    const std::uint8_t* s = settings.bytes.data();
    CHECK_EQ_INT(ReadI16(s + SettingsLayout::AutoUpdateLayout), 1);
    CHECK_EQ_INT(ReadI16(s + SettingsLayout::MinMeasureDuration), 8192);
    for (int i = 0; i < 6; ++i) {
      CHECK_EQ_INT(ReadI16(s + SettingsLayout::AllowBeat + 2 * i), i == 0 ? 1 : 0);
    }
    CHECK(ReadI16(s + SettingsLayout::DialogLeft) != NeverPlaced);
  } else {
    Fail(__FILE__, __LINE__, "UserDialog missing after the dialog");
  }
  WriteValue(SettingsValueName, defaultSettingsImage);
}

void DialogPositionRemembered() {
  Begin(
      "options dialog: a stored position is used, one off the screen is not; Cancel, the close "
      "box and Escape all cancel");
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  enum class Close { CancelButton, CloseBox, EscapeKey };
  struct Row {
    int left, top;
    bool used;
    Close close;
  };
  const Row rows[] = {{100, 60, true, Close::CancelButton},
                      {screenWidth, 0, true, Close::CloseBox},
                      {screenWidth + 1, 60, false, Close::EscapeKey}};
  for (const Row& row : rows) {
    std::vector<std::uint8_t> settings = defaultSettingsImage;
    WriteI16(settings.data() + SettingsLayout::DialogLeft, static_cast<std::int16_t>(row.left));
    WriteI16(settings.data() + SettingsLayout::DialogTop, static_cast<std::int16_t>(row.top));
    WriteValue(SettingsValueName, settings);
    RECT shown{};
    PluginLife([&](Plugin& plugin) {
      WithDriver(
          [&] {
            HWND d = WaitForDialog(OptionsCaption);
            if (d == nullptr) return;
            GetWindowRect(d, &shown);
            Click(d, 109);  // an edit that cancelling drops
            switch (row.close) {
              case Close::CancelButton:
                ClickAsync(d, IDCANCEL);
                break;
              case Close::CloseBox:
                PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0);
                break;
              case Close::EscapeKey:
                SendKey(VK_ESCAPE, false);
                SendKey(VK_ESCAPE, true);
                break;
            }
            CHECK(WaitUntil([&] { return !IsWindow(d); }, 5000));
          },
          [&] {
            SetShortcutKeys(true);
            CHECK_EQ_INT(plugin.invoke(hostWindow, 0, nullptr, 0), 0);
            SetShortcutKeys(false);
          });
    });
    const StoredValue stored = ReadValue(SettingsValueName);
    if (row.used) {
      CHECK_EQ_INT(shown.left, row.left);
      CHECK_EQ_INT(shown.top, row.top);
    } else {
      CHECK(shown.left != row.left);
    }
    // Cancel stores where the dialog stood, and not the edited options.
    if (stored.bytes.size() == SettingsLayout::Size) {
      CHECK_EQ_INT(ReadI16(stored.bytes.data() + SettingsLayout::AutoUpdateLayout), 0);
      CHECK_EQ_INT(ReadI16(stored.bytes.data() + SettingsLayout::DialogLeft),
                   static_cast<std::int16_t>(shown.left));
      CHECK_EQ_INT(ReadI16(stored.bytes.data() + SettingsLayout::DialogTop),
                   static_cast<std::int16_t>(shown.top));
    }
  }
  WriteValue(SettingsValueName, defaultSettingsImage);
}

void ApplyQuestion() {
  Begin("Ctrl+Shift: OK, then \"Apply settings?\" decides whether the score is changed");
  for (int answer : {IDNO, IDYES}) {
    ForgetBoxes();
    simhost::Host host;
    simhost::SetCurrentHost(&host);
    host.AddStaff(1);
    host.SetMeasure(1, 4, 1024);
    std::vector<simhost::Entry> eighths;
    for (int i = 0; i < 6; ++i) eighths.push_back({i * 512, 512, i % 3 == 0, false, 0});
    host.SetLayer(1, 1, 0, 3072, eighths);
    const auto region = simhost::MakeSelectionRegion(0, 0, 1, 0, 0, 1, EndOfMeasure);
    std::int16_t result = -1;
    PluginLife([&](Plugin& plugin) {
      WithDriver(
          [&] {
            HWND d = WaitForDialog(OptionsCaption);
            if (d == nullptr) return;
            Click(d, 109);  // auto-update layout
            ExpectBox(answer);
            ClickAsync(d, IDOK);
            CHECK(WaitForBoxes(1));
          },
          [&] {
            SetShortcutKeys(true);
            result = plugin.invoke(hostWindow, 0, region.data(), 0);
            SetShortcutKeys(false);
          });
      const auto boxes = Boxes();
      CHECK_EQ_INT(boxes.size(), 1);
      for (const auto& box : boxes) Note("box: " + box.caption + ": " + box.text);
      if (!boxes.empty()) {
        CHECK_EQ_STR(boxes[0].caption, "Apply settings?");
        CHECK_EQ_STR(boxes[0].text, "Do you want to apply the settings on the current selection?");
      }
    });
    if (answer == IDYES) {
      CHECK_EQ_INT(result, 1);
      CHECK_EQ_STR(host.FormatMeasure(1), "2/1536");
      CHECK_EQ_INT(host.counters().updateLayouts, 1);
    } else {
      CHECK_EQ_INT(result, 0);
      CHECK_EQ_STR(host.FormatMeasure(1), "4/1024");
      CHECK_EQ_INT(host.counters().updateLayouts, 0);
    }
    // Either way the edited options are kept and saved.
    const StoredValue stored = ReadValue(SettingsValueName);
    CHECK(stored.bytes.size() == SettingsLayout::Size &&
          ReadI16(stored.bytes.data() + SettingsLayout::AutoUpdateLayout) == 1);
    simhost::SetCurrentHost(nullptr);
    WriteValue(SettingsValueName, defaultSettingsImage);
  }
}

}  // namespace testhost
