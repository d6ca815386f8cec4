#include "plugin/entry.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/records.h"
#include "dialogs/control_ids.h"
#include "platform/le_bytes.h"
#include "platform/standin/standin.h"
#include "host/host.h"
#include "settings/persistence.h"
#include "settings/presets.h"
#include "simhost/dialog_service.h"
#include "simhost/simhost.h"

namespace {

using simhost::Entry;
using Region = std::array<std::uint8_t, SelectionRegionLayout::Size>;
namespace user = simhost::user;

HINSTANCE const Module = reinterpret_cast<HINSTANCE>(0x10000000);

TEST(Exports, VersionIsStoredAndAnsweredWithTheInterfaceVersion) {
  for (std::int32_t version : {0x05000005, 0, -1, 0x0800FFFF}) {
    EXPECT_EQ(FinaleExtensionVersion(version), 0x5000005);
    EXPECT_EQ(hostVersion, version);
  }
  EXPECT_EQ(HostInterfaceVersion, 0x5000005);
}

TEST(Exports, EnumerateFillsTheOneCommand) {
  std::uint8_t info[MenuCommandInfoLayout::Size + 8];
  std::memset(info, 0xCC, sizeof info);
  ASSERT_EQ(FinaleExtensionEnumerate(0, 0, info), 1);
  struct Row {
    std::size_t offset;
    const char* text;
  };
  const Row rows[] = {{0, "KQ Me&terfix [v. 1.01]"}, {64, "KQ Meterfix"}, {128, "KQ Meterfix"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.offset);
    const std::size_t length = std::strlen(row.text);
    EXPECT_EQ(std::memcmp(info + row.offset, row.text, length), 0);
    for (std::size_t i = length; i < 64; ++i)
      ASSERT_EQ(info[row.offset + i], 0) << i;  // NUL-padded
  }
  EXPECT_EQ(ReadI16(info + 192), 0);
  EXPECT_EQ(ReadI16(info + 194), 0);
  for (std::size_t i = MenuCommandInfoLayout::Size; i < sizeof info; ++i) EXPECT_EQ(info[i], 0xCC);
  // The shortcut searches the menus for what the host shows.
  EXPECT_EQ(std::string(MenuText), "KQ Me&terfix [v. 1.01]");
}

TEST(Exports, EnumerateBeyondTheOneCommandWritesNothing) {
  for (std::int16_t index : {1, 2, 100}) {
    std::uint8_t info[MenuCommandInfoLayout::Size];
    std::memset(info, 0xCC, sizeof info);
    EXPECT_EQ(FinaleExtensionEnumerate(0, index, info), 0);
    for (std::uint8_t b : info) ASSERT_EQ(b, 0xCC);
  }
  EXPECT_EQ(FinaleExtensionEnumerate(0, 0, nullptr), 0);
}

TEST(Exports, MenuStatusIsAlwaysOne) {
  EXPECT_EQ(FinaleExtensionGetMenuStatus(0), 1);
  EXPECT_EQ(FinaleExtensionGetMenuStatus(12345), 1);
}

TEST(Exports, DllEntryPointKeepsTheHandleOnProcessAttachOnly) {
  moduleHandle = nullptr;
  EXPECT_EQ(DllEntryPoint(Module, 2, nullptr), TRUE);  // thread attach
  EXPECT_EQ(moduleHandle, nullptr);
  EXPECT_EQ(DllEntryPoint(Module, 1, nullptr), TRUE);
  EXPECT_EQ(moduleHandle, Module);
  EXPECT_EQ(DllEntryPoint(reinterpret_cast<HINSTANCE>(0x20000000), 0, nullptr), TRUE);  // detach
  EXPECT_EQ(moduleHandle, Module);
}

// Beamed groups of (group length, note value).
std::vector<Entry> Beamed(const std::vector<std::pair<std::int32_t, std::int32_t>>& groups) {
  std::vector<Entry> entries;
  std::int32_t position = 0;
  for (const auto& [length, value] : groups) {
    for (std::int32_t p = 0; p < length; p += value)
      entries.push_back({position + p, value, p == 0});
    position += length;
  }
  return entries;
}

Region WholeMeasures(std::int16_t first, std::int16_t last) {
  Region r{};
  WriteI16(r.data() + SelectionRegionLayout::StaffList, 0);
  WriteI16(r.data() + SelectionRegionLayout::FirstSlot, 0);
  WriteI16(r.data() + SelectionRegionLayout::FirstMeasure, first);
  WriteI32(r.data() + SelectionRegionLayout::StartPosition, 0);
  WriteI16(r.data() + SelectionRegionLayout::LastSlot, 99);
  WriteI16(r.data() + SelectionRegionLayout::LastMeasure, last);
  WriteI32(r.data() + SelectionRegionLayout::EndPosition, EndOfMeasure);
  return r;
}

// A user's session with the plug-in loaded into the simulated host. The
// score: measure 1 in 2/2 beamed in quarter pairs, which fits its time
// signature (left alone while only conflicts are changed, 4/4 otherwise),
// and measure 2 in 2/2 beamed 3+3+2 eighths, which conflicts.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::ResetAll();
    simhost::ResetDialogService();
    simhost::SetCurrentHost(&host);
    host.AddStaff(1);
    host.SetMeasure(1, 2, 2048);
    host.SetLayer(1, 1, 0, 4096, Beamed({{2048, 1024}, {2048, 1024}}));
    host.SetMeasure(2, 2, 2048);
    host.SetLayer(1, 2, 0, 4096, Beamed({{1536, 512}, {1536, 512}, {1024, 512}}));
    window = standin::NewWindow();
  }
  void TearDown() override {
    EXPECT_EQ(standin::UnexpectedMessageBoxCount(), 0);
    EXPECT_EQ(standin::PendingMessageBoxAnswers(), 0);
    EXPECT_TRUE(simhost::ScriptErrors().empty());
    EXPECT_EQ(simhost::PendingActions(), 0u);
    EXPECT_EQ(host.counters().badCalls, 0);
    EXPECT_EQ(host.OutstandingLayers(), 0);
    simhost::SetCurrentHost(nullptr);
    simhost::ResetDialogService();
  }

  void Load() {
    DllEntryPoint(Module, 1, nullptr);
    FinaleExtensionVersion(0x05000005);
    ASSERT_EQ(FinaleExtensionInit(window, 0), 1);
  }
  void HoldCtrlShift(bool held) {
    standin::SetKeyDown(VK_CONTROL, held);
    standin::SetKeyDown(VK_SHIFT, held);
  }
  std::int16_t Invoke(const Region* region) {
    return FinaleExtensionInvoke(window, 0, region != nullptr ? region->data() : nullptr, 0);
  }
  std::string Measure(std::int16_t m) { return host.FormatMeasure(m); }
  std::vector<std::string> Captions() {
    std::vector<std::string> captions;
    for (const auto& box : standin::MessageBoxCalls()) captions.push_back(box.caption);
    return captions;
  }
  // The stored "UserDialog" after termination.
  Settings StoredSettings() {
    std::vector<std::uint8_t> bytes;
    Settings stored{};
    EXPECT_TRUE(standin::GetRegistryValue(SettingsKeyPath, SettingsValueName, nullptr, &bytes));
    if (bytes.size() == SettingsLayout::Size) ReadSettingsImage(bytes.data(), stored);
    return stored;
  }

  simhost::Host host;
  HWND window = nullptr;
  const Region region = WholeMeasures(1, 2);
};

TEST_F(SessionTest, FirstRunProcessesAtOnceAndStoresTheDefaultsAtTermination) {
  Load();
  EXPECT_EQ(globalSettings.onlyChangeAtConflicts, 1);
  EXPECT_EQ(PresetCount(), 4);
  EXPECT_EQ(Invoke(&region), 1);
  EXPECT_TRUE(simhost::DialogRuns().empty());
  EXPECT_TRUE(standin::MessageBoxCalls().empty());
  EXPECT_EQ(Measure(1), "2/2048");  // fits: left alone
  EXPECT_NE(Measure(2), "2/2048");
  EXPECT_EQ(host.counters().updateLayouts, 0);  // autoUpdateLayout is off by default

  EXPECT_FALSE(standin::RegistryKeyExists(SettingsKeyPath));
  EXPECT_EQ(FinaleExtensionTerminate(0), 0);
  std::vector<std::uint8_t> bytes;
  DWORD type = 0;
  ASSERT_TRUE(standin::GetRegistryValue(SettingsKeyPath, SettingsValueName, &type, &bytes));
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(bytes.size(), 85u);
  ASSERT_TRUE(standin::GetRegistryValue(SettingsKeyPath, PresetsValueName, &type, &bytes));
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(bytes.size(), 1622u);
  EXPECT_EQ(ReadI16(bytes.data()), 4);
}

TEST_F(SessionTest, TheLayoutIsUpdatedOnlyWhenSomethingChangedAndTheUserWantsIt) {
  Settings stored{};
  ApplyDefaultSettings(stored);
  stored.autoUpdateLayout = 1;
  std::vector<std::uint8_t> image(SettingsLayout::Size);
  WriteSettingsImage(stored, image.data());
  standin::SetRegistryValue(SettingsKeyPath, SettingsValueName, REG_BINARY, image);
  Load();
  const Region fitting = WholeMeasures(1, 1);
  EXPECT_EQ(Invoke(&fitting), 1);  // nothing changed: no update
  EXPECT_EQ(host.counters().updateLayouts, 0);
  EXPECT_EQ(Invoke(&region), 1);
  EXPECT_EQ(host.counters().updateLayouts, 1);
  EXPECT_EQ(Invoke(&region), 1);  // already written: nothing changes again
  EXPECT_EQ(host.counters().updateLayouts, 1);
  FinaleExtensionTerminate(0);
}

TEST_F(SessionTest, WithoutARegionThePlugInOnlyBeeps) {
  Load();
  EXPECT_EQ(Invoke(nullptr), 0);
  EXPECT_EQ(standin::Beeps(), std::vector<UINT>{MB_ICONEXCLAMATION});
  // When the exclamation sound cannot be played, the simple beep.
  standin::FailBeep(MB_ICONEXCLAMATION);
  EXPECT_EQ(Invoke(nullptr), 0);
  EXPECT_EQ(standin::Beeps(), (std::vector<UINT>{MB_ICONEXCLAMATION, 0xFFFFFFFF}));
  EXPECT_TRUE(standin::MessageBoxCalls().empty());
  EXPECT_EQ(host.counters().updateLayouts, 0);
  FinaleExtensionTerminate(0);
}

TEST_F(SessionTest, CtrlShiftOkAndYesRunsWithTheNewOptions) {
  Load();
  HoldCtrlShift(true);
  simhost::SetScript({user::Click(IDC_ONLY_CHANGE_AT_CONFLICTS),
                      user::Click(IDC_AUTO_UPDATE_LAYOUT), user::Press(IDOK)});
  standin::ExpectMessageBox(IDYES);
  EXPECT_EQ(Invoke(&region), 1);
  ASSERT_EQ(simhost::DialogRuns().size(), 1u);
  EXPECT_EQ(simhost::DialogRuns()[0].resourceId, IDD_OPTIONS);
  EXPECT_EQ(simhost::DialogRuns()[0].parent, window);
  ASSERT_EQ(standin::MessageBoxCalls().size(), 1u);
  const standin::MessageBoxCall& box = standin::MessageBoxCalls()[0];
  EXPECT_EQ(box.owner, window);
  EXPECT_EQ(box.text, "Do you want to apply the settings on the current selection?");
  EXPECT_EQ(box.caption, "Apply settings?");
  EXPECT_EQ(box.style, MB_YESNO | MB_ICONQUESTION);
  // Measure 1 fits its time signature, but conflicts no longer matter.
  EXPECT_EQ(Measure(1), "4/1024");
  EXPECT_EQ(host.counters().updateLayouts, 1);
  FinaleExtensionTerminate(0);
}

TEST_F(SessionTest, CtrlShiftOkAndNoKeepsTheOptionsForTheNextRunAndTermination) {
  Load();
  HoldCtrlShift(true);
  simhost::SetScript({user::Click(IDC_ONLY_CHANGE_AT_CONFLICTS), user::Press(IDOK)});
  standin::ExpectMessageBox(IDNO);
  EXPECT_EQ(Invoke(&region), 0);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Apply settings?"});
  EXPECT_EQ(Measure(1), "2/2048");
  EXPECT_EQ(Measure(2), "2/2048");  // nothing analysed
  EXPECT_EQ(globalSettings.onlyChangeAtConflicts, 0);

  // The next plain invocation uses them.
  HoldCtrlShift(false);
  EXPECT_EQ(Invoke(&region), 1);
  EXPECT_EQ(Measure(1), "4/1024");
  EXPECT_EQ(simhost::DialogRuns().size(), 1u);

  EXPECT_EQ(FinaleExtensionTerminate(0), 0);
  EXPECT_EQ(StoredSettings().onlyChangeAtConflicts, 0);
  EXPECT_EQ(StoredSettings().onlySelectedStaves, 1);
}

TEST_F(SessionTest, CtrlShiftCancelEndsTheInvocationQuietly) {
  Load();
  HoldCtrlShift(true);
  simhost::SetScript({user::Click(IDC_ONLY_CHANGE_AT_CONFLICTS), user::Press(IDCANCEL)});
  EXPECT_EQ(Invoke(&region), 0);
  EXPECT_TRUE(standin::MessageBoxCalls().empty());
  EXPECT_EQ(Measure(2), "2/2048");
  EXPECT_EQ(globalSettings.onlyChangeAtConflicts, 1);
  FinaleExtensionTerminate(0);
}

TEST_F(SessionTest, CtrlShiftWithoutARegionShowsTheDialogThenReturnsSilently) {
  Load();
  HoldCtrlShift(true);
  simhost::SetScript({user::Click(IDC_HIDE_TIME_SIG), user::Press(IDOK)});
  EXPECT_EQ(Invoke(nullptr), 0);
  EXPECT_EQ(simhost::DialogRuns().size(), 1u);
  EXPECT_TRUE(standin::MessageBoxCalls().empty());
  EXPECT_TRUE(standin::Beeps().empty());
  EXPECT_EQ(globalSettings.hideTimeSig, 1);  // kept in memory
  EXPECT_EQ(FinaleExtensionTerminate(0), 0);
  EXPECT_EQ(StoredSettings().hideTimeSig, 1);
}

TEST_F(SessionTest, CtrlOrShiftAloneDoesNotOpenTheDialog) {
  Load();
  for (int key : {VK_CONTROL, VK_SHIFT}) {
    standin::SetKeyDown(VK_CONTROL, key == VK_CONTROL);
    standin::SetKeyDown(VK_SHIFT, key == VK_SHIFT);
    EXPECT_EQ(Invoke(&region), 1);
  }
  EXPECT_TRUE(simhost::DialogRuns().empty());
  FinaleExtensionTerminate(0);
}

TEST_F(SessionTest, StoredOptionsAndPresetsComeBackInTheNextSession) {
  Load();
  HoldCtrlShift(true);
  simhost::SetScript({user::Click(IDC_USE_COMPOSITE), user::Press(IDOK)});
  standin::ExpectMessageBox(IDNO);
  Invoke(&region);
  StorePreset(nullptr, "Mine", std::vector<std::uint8_t>(50, 0).data());
  EXPECT_EQ(FinaleExtensionTerminate(0), 0);

  // The host loads the library again.
  std::memset(&globalSettings, 0, sizeof globalSettings);
  std::memset(presetTable, 0, sizeof presetTable);
  Load();
  EXPECT_EQ(globalSettings.useComposite, 1);
  EXPECT_EQ(PresetCount(), 5);
  EXPECT_EQ(FindPreset("Mine", nullptr), 1);
  FinaleExtensionTerminate(0);
}

// Whatever goes wrong below an export stays inside it: here the host itself
// throws while the dialog runs.
TEST_F(SessionTest, AnExceptionDoesNotLeaveInvoke) {
  Load();
  HoldCtrlShift(true);
  simhost::SetScript({user::Inspect([](HWND) { throw std::runtime_error("host failure"); })});
  EXPECT_EQ(Invoke(&region), 0);
  EXPECT_EQ(Measure(2), "2/2048");
  simhost::ResetDialogService();
  EXPECT_EQ(FinaleExtensionTerminate(0), 0);
}

TEST_F(SessionTest, TerminationReportsAKeyThatCannotBeCreated) {
  Load();
  standin::FailKeyCreation(true);
  EXPECT_EQ(FinaleExtensionTerminate(0), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(standin::RegistryKeyExists(SettingsKeyPath));
  EXPECT_TRUE(standin::MessageBoxCalls().empty());
}

// A host that refuses the plug-in terminates it without initialising it:
// the user's stored options and presets must survive that.
TEST_F(SessionTest, TerminationWithoutInitialisationStoresNothing) {
  Load();
  FinaleExtensionTerminate(0);  // the previous lifetime ends
  const std::vector<std::uint8_t> options(85, 0x01);
  std::vector<std::uint8_t> presets(1622, 0);
  presets[0] = 1;
  standin::SetRegistryValue(SettingsKeyPath, SettingsValueName, REG_BINARY, options);
  standin::SetRegistryValue(SettingsKeyPath, PresetsValueName, REG_BINARY, presets);
  std::memset(&globalSettings, 0, sizeof globalSettings);
  std::memset(presetTable, 0, sizeof presetTable);
  DllEntryPoint(Module, 1, nullptr);
  FinaleExtensionVersion(0x03000000);
  EXPECT_EQ(FinaleExtensionTerminate(0), 0);
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(standin::GetRegistryValue(SettingsKeyPath, SettingsValueName, nullptr, &bytes));
  EXPECT_EQ(bytes, options);
  ASSERT_TRUE(standin::GetRegistryValue(SettingsKeyPath, PresetsValueName, nullptr, &bytes));
  EXPECT_EQ(bytes, presets);
}

// A composite chain the host cannot wholly create is no time signature: the
// measure keeps its own and counts as unchanged.
TEST_F(SessionTest, AChainTheHostRefusesLeavesTheMeasureUnchanged) {
  Load();
  globalSettings.useComposite = 1;
  globalSettings.autoUpdateLayout = 1;
  for (const int allowed : {1, 0}) {  // the second record of 3+3+2 refused, or the first
    SCOPED_TRACE(allowed);
    host.SetMeasure(2, 2, 2048);
    const int layouts = host.counters().updateLayouts;
    host.FailCreates(CompositeTopRecordTag, allowed);
    EXPECT_EQ(Invoke(&region), 1);
    EXPECT_EQ(Measure(2), "2/2048");
    EXPECT_EQ(host.counters().updateLayouts, layouts);
    host.ClearFaults();
    EXPECT_EQ(Invoke(&region), 1);  // the same run with a willing host
    EXPECT_EQ(Measure(2), "3+3+2/512");
    EXPECT_EQ(host.counters().updateLayouts, layouts + 1);
  }
  FinaleExtensionTerminate(0);
}

}  // namespace
