// Presets through the real combo box and the name dialog: chosen, saved,
// overwritten after the question, deleted, and a name of the full length.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/le_bytes.h"
#include "settings/persistence.h"
#include "settings/presets.h"
#include "settings/settings.h"
#include "windows/testhost/harness.h"
#include "windows/testhost/scenarios.h"

namespace testhost {

void PresetsThroughTheComboBox() {
  Begin("presets: chosen, saved, overwritten and deleted through the real combo box");
  PluginLife([&](Plugin& plugin) {
    WithDriver(
        [&] {
          HWND d = WaitForDialog(OptionsCaption);
          if (d == nullptr) return;
          HWND combo = GetDlgItem(d, 123);
          // Choosing "Composite" (CB_SETCURSEL sends no CBN_SELCHANGE: send it).
          SendMessageA(combo, CB_SETCURSEL, 3, 0);
          SendMessageA(d, WM_COMMAND, MAKEWPARAM(123, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(combo));
          CHECK(Checked(d, 105) && Checked(d, 106) && Checked(d, 107));
          CHECK(Enabled(d, 106) && Enabled(d, 107) && Enabled(d, 121));

          // Save under a new name: the name dialog shows the selected one.
          ClickAsync(d, 124);
          HWND n = WaitForDialog(NameCaption);
          if (n == nullptr) return;
          CHECK_EQ_STR(ItemText(n, 101), "Composite");
          CHECK_EQ_INT(SendDlgItemMessageA(n, 101, EM_GETLIMITTEXT, 0, 0), 30);
          SetDlgItemTextA(n, 101, "Mine");
          ClickAsync(n, IDOK);
          CHECK(WaitUntil([&] { return !IsWindow(n); }));
          CHECK(WaitUntil([&] { return ComboItems(d, 123).size() == 5; }));
          CHECK_EQ_STR(Join(ComboItems(d, 123)), "Upbeats|Complex Beating|Cadenza|Composite|Mine");
          CHECK_EQ_INT(SendMessageA(combo, CB_GETCURSEL, 0, 0), 4);

          // Saving "Mine" again asks before overwriting; No keeps the name dialog open.
          Click(d, 109);
          ClickAsync(d, 124);
          n = WaitForDialog(NameCaption);
          if (n == nullptr) return;
          CHECK_EQ_STR(ItemText(n, 101), "Mine");
          ExpectBox(IDNO);
          ClickAsync(n, IDOK);
          CHECK(WaitForBoxes(1));
          Sleep(100);
          CHECK(IsWindow(n) && IsWindowVisible(n));
          ExpectBox(IDYES);
          ClickAsync(n, IDOK);
          CHECK(WaitForBoxes(2));
          CHECK(WaitUntil([&] { return !IsWindow(n); }));
          const auto boxes = Boxes();
          if (boxes.size() >= 2) {
            CHECK_EQ_STR(boxes[0].text, "OK to overwrite the existing preset?");
            CHECK_EQ_STR(boxes[1].text, "OK to overwrite the existing preset?");
            Note("overwrite question caption: \"" + boxes[0].caption + "\"");
          }
          CHECK_EQ_STR(Join(ComboItems(d, 123)), "Upbeats|Complex Beating|Cadenza|Composite|Mine");
          CHECK_EQ_INT(SendMessageA(combo, CB_GETCURSEL, 0, 0), 4);

          // Deleting "Cadenza" after the question.
          SendMessageA(combo, CB_SETCURSEL, 2, 0);
          SendMessageA(d, WM_COMMAND, MAKEWPARAM(123, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(combo));
          ExpectBox(IDYES);
          ClickAsync(d, 125);
          CHECK(WaitForBoxes(3));
          CHECK(WaitUntil([&] { return ComboItems(d, 123).size() == 4; }));
          if (Boxes().size() >= 3) {
            CHECK_EQ_STR(Boxes()[2].caption, "Delete?");
            CHECK_EQ_STR(Boxes()[2].text, "Are you sure you want to delete the selected preset?");
          }
          CHECK_EQ_STR(Join(ComboItems(d, 123)), "Upbeats|Complex Beating|Composite|Mine");
          CHECK_EQ_INT(SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);

          // Cancel keeps what was saved and deleted.
          ClickAsync(d, IDCANCEL);
          CHECK(WaitUntil([&] { return !IsWindow(d); }));
        },
        [&] {
          SetShortcutKeys(true);
          CHECK_EQ_INT(plugin.invoke(hostWindow, 0, nullptr, 0), 0);
          SetShortcutKeys(false);
        });
  });
  CHECK_EQ_STR(Join(StoredPresetNames()), "Upbeats|Complex Beating|Composite|Mine");
  const StoredValue presets = ReadValue(PresetsValueName);
  if (presets.bytes.size() == PresetTableLayout::Size) {
    // "Mine" holds the controls at the overwrite: Composite plus 109.
    const std::uint8_t* mine =
        presets.bytes.data() + PresetTableLayout::FirstSlot + 3 * PresetTableLayout::SlotSize;
    CHECK_EQ_INT(ReadI16(mine + SettingsLayout::AutoUpdateLayout), 1);
    CHECK_EQ_INT(ReadI16(mine + SettingsLayout::UseComposite), 1);
    for (int i = 0; i < 6; ++i) CHECK_EQ_INT(ReadI16(mine + SettingsLayout::Reserved + 2 * i), 0);
  }
  // Cancel left the option block alone.
  const StoredValue settings = ReadValue(SettingsValueName);
  CHECK(settings.bytes.size() == SettingsLayout::Size &&
        std::memcmp(settings.bytes.data(), defaultSettingsImage.data(),
                    SettingsLayout::OptionBlockSize) == 0);
  WriteValue(SettingsValueName, defaultSettingsImage);
  WriteValue(PresetsValueName, defaultPresetsImage);
}

void LongPresetName() {
  Begin("presets: the name field takes 30 characters and they arrive whole");
  const std::string thirty = "abcdefghijklmnopqrstuvwxyz0123";
  PluginLife([&](Plugin& plugin) {
    WithDriver(
        [&] {
          HWND d = WaitForDialog(OptionsCaption);
          if (d == nullptr) return;
          ClickAsync(d, 124);
          HWND n = WaitForDialog(NameCaption);
          if (n == nullptr) return;
          CHECK_EQ_STR(ItemText(n, 101), "");
          HWND edit = GetDlgItem(n, 101);
          for (char ch : thirty + "XYZ") SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(ch), 1);
          CHECK_EQ_STR(ItemText(n, 101), thirty);
          ClickAsync(n, IDOK);
          CHECK(WaitUntil([&] { return !IsWindow(n); }));
          CHECK(WaitUntil([&] { return ComboItems(d, 123).size() == 5; }));
          const auto items = ComboItems(d, 123);
          if (items.size() == 5) CHECK_EQ_STR(items[4], thirty);
          ClickAsync(d, IDCANCEL);
          WaitUntil([&] { return !IsWindow(d); });
        },
        [&] {
          SetShortcutKeys(true);
          plugin.invoke(hostWindow, 0, nullptr, 0);
          SetShortcutKeys(false);
        });
  });
  const auto names = StoredPresetNames();
  CHECK(names.size() == 5 && names.back() == thirty);
  const StoredValue settings = ReadValue(SettingsValueName);
  if (settings.bytes.size() == SettingsLayout::Size) {
    CHECK_EQ_STR(reinterpret_cast<const char*>(settings.bytes.data() + SettingsLayout::PresetName),
                 thirty);
  }
  WriteValue(SettingsValueName, defaultSettingsImage);
  WriteValue(PresetsValueName, defaultPresetsImage);
}

}  // namespace testhost
