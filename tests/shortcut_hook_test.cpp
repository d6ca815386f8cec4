#include "plugin/shortcut_hook.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/standin/standin.h"
#include "plugin/entry.h"

namespace {

constexpr WPARAM KeyT = 0x54;
constexpr UINT PluginItemId = 4711;
HINSTANCE const Module = reinterpret_cast<HINSTANCE>(0x10000000);

// A menu of `count` plain items with submenus at the given positions.
HMENU MenuOfShape(int count, const std::set<int>& subMenus) {
  HMENU menu = standin::NewMenu();
  for (int i = 0; i < count; ++i) {
    if (subMenus.count(i) != 0) {
      HMENU sub = standin::NewMenu();
      standin::AppendMenuItem(sub, "Inner", 9000 + static_cast<UINT>(i));
      standin::AppendSubMenu(menu, "Sub " + std::to_string(i), sub);
    } else {
      standin::AppendMenuItem(menu, "Item " + std::to_string(i), 1000 + static_cast<UINT>(i));
    }
  }
  return menu;
}

// The host's menu bar: eight menus, the plug-in menu at position 5. With
// blankFirst an item without text comes first (as a maximised document
// window's icon does), moving every menu one place on.
struct MenuBar {
  HMENU bar = nullptr;
  HMENU menus[8] = {};
  HMENU plugins() const { return menus[5]; }
};

MenuBar BuildMenuBar(bool blankFirst = false) {
  MenuBar result;
  result.bar = standin::NewMenu();
  if (blankFirst) standin::AppendSubMenu(result.bar, "", MenuOfShape(3, {}));
  const char* titles[] = {"&File",  "&Edit",     "&View",   "&Options",
                          "&Tools", "Plug-&ins", "&Window", "&Help"};
  for (int i = 0; i < 8; ++i) {
    result.menus[i] = (i == 5) ? standin::NewMenu() : MenuOfShape(5, {});
    standin::AppendSubMenu(result.bar, titles[i], result.menus[i]);
  }
  return result;
}

void AddPluginItem(HMENU menu, const std::string& text = MenuText, UINT id = PluginItemId) {
  standin::AppendMenuItem(menu, text, id);
}

class ShortcutTest : public ::testing::Test {
 protected:
  void SetUp() override { standin::ResetAll(); }
  void TearDown() override { Unload(); }

  // Terminates the plug-in if it was started; nothing of it may stay behind.
  void Unload() {
    if (started) FinaleExtensionTerminate(0);
    started = false;
    EXPECT_TRUE(standin::InstalledHooks().empty());
    EXPECT_EQ(standin::ActiveTimerCount(), 0);
    EXPECT_EQ(standin::OpenProcessHandleCount(), 0);
    EXPECT_TRUE(standin::MessageBoxCalls().empty());
  }

  // Loads the plug-in into a host with this menu bar and makes the host
  // window active.
  void Start(const MenuBar& bar, std::int32_t version = 0x08000000) {
    timerBeforeStart = SetTimer(nullptr, 0, 10, nullptr);
    KillTimer(nullptr, timerBeforeStart);
    DllEntryPoint(Module, 1, nullptr);
    FinaleExtensionVersion(version);
    window = standin::NewWindow(bar.bar);
    standin::SetActiveWindowHandle(window);
    ASSERT_EQ(FinaleExtensionInit(window, 0), 1);
    started = true;
  }

  // Presses T (going down, first press, no Alt) with Ctrl as given.
  LRESULT PressT(bool ctrl = true) {
    standin::SetKeyDown(VK_CONTROL, ctrl);
    return standin::DeliverKey(KeyT, standin::KeyLParam(true, false, false));
  }

  std::vector<WPARAM> PostedCommands() const {
    std::vector<WPARAM> ids;
    for (const standin::PostedMessage& m : standin::PostedMessages()) {
      EXPECT_EQ(m.window, window);
      EXPECT_EQ(m.message, WM_COMMAND);
      EXPECT_EQ(m.lParam, 0);
      ids.push_back(m.wParam);
    }
    return ids;
  }

  HWND window = nullptr;
  bool started = false;
  UINT_PTR timerBeforeStart = 0;
};

// The stand-in's menus and timers answer as Windows documents them.
TEST_F(ShortcutTest, TheStandInMenusAndTimersBehaveAsDocumented) {
  HMENU menu = standin::NewMenu();
  AddPluginItem(menu);
  standin::AppendSeparator(menu);
  standin::AppendSubMenu(menu, "Sub", standin::NewMenu());
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetMenuStringA(menu, 0, buffer, 12, MF_BYPOSITION), 11);
  EXPECT_EQ(std::string(buffer), "KQ Me&terfi");
  EXPECT_EQ(GetMenuStringA(menu, 0, nullptr, 0, MF_BYPOSITION), 22);
  EXPECT_EQ(GetMenuStringA(menu, PluginItemId, buffer, 16, MF_BYCOMMAND), 15);
  EXPECT_EQ(GetMenuStringA(menu, 1, buffer, 16, MF_BYPOSITION), 0);
  EXPECT_EQ(GetMenuStringA(menu, 9, buffer, 16, MF_BYPOSITION), 0);
  standin::SetMenuStringUnterminated(true);
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(GetMenuStringA(menu, 0, buffer, 12, MF_BYPOSITION), 11);  // as under Wine
  EXPECT_EQ(buffer[11], 'x');
  EXPECT_EQ(GetMenuItemCount(menu), 3);
  EXPECT_EQ(GetMenuItemCount(nullptr), -1);
  EXPECT_EQ(GetMenuItemID(menu, 0), PluginItemId);
  EXPECT_EQ(GetMenuItemID(menu, 2), 0xFFFFFFFFu);
  EXPECT_EQ(GetSubMenu(menu, 0), nullptr);
  EXPECT_NE(GetSubMenu(menu, 2), nullptr);

  const UINT_PTR first = SetTimer(nullptr, 0, 5, nullptr);
  EXPECT_NE(first, 0u);
  EXPECT_EQ(standin::TimerPeriod(first), 10u);               // USER_TIMER_MINIMUM
  EXPECT_EQ(SetTimer(nullptr, first, 100, nullptr), first);  // replaces it
  EXPECT_EQ(standin::ActiveTimerCount(), 1);
  EXPECT_NE(SetTimer(nullptr, 12345, 100, nullptr), 12345u);
  EXPECT_EQ(KillTimer(nullptr, first), TRUE);
  EXPECT_EQ(KillTimer(nullptr, first), FALSE);
  standin::ResetAll();
}

TEST_F(ShortcutTest, InitInstallsAThreadHookAndARetryTimer) {
  MenuBar bar = BuildMenuBar();
  Start(bar);
  const std::vector<standin::HookInfo> hooks = standin::InstalledHooks();
  ASSERT_EQ(hooks.size(), 1u);
  EXPECT_EQ(hooks[0].type, WH_KEYBOARD);
  EXPECT_EQ(hooks[0].module, Module);
  EXPECT_EQ(hooks[0].threadId, standin::UiThreadId);
  ASSERT_EQ(standin::OpenProcessRequests().size(), 1u);
  EXPECT_EQ(standin::OpenProcessRequests()[0], 0x1F0FFFu);
  EXPECT_EQ(standin::ActiveTimerCount(), 1);
  // The stand-in numbers thread timers in sequence: the plug-in's is the one
  // after the probe that ran before it.
  EXPECT_EQ(standin::TimerPeriod(timerBeforeStart + 1), 100u);
}

TEST_F(ShortcutTest, TheTimerFindsTheItemAndStops) {
  MenuBar bar = BuildMenuBar();
  AddPluginItem(bar.plugins());
  Start(bar);
  EXPECT_EQ(standin::FireTimers(), 1);
  EXPECT_EQ(standin::ActiveTimerCount(), 0);
  const int searches = standin::MenuStringCallCount();
  EXPECT_EQ(PressT(), 0);
  EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{PluginItemId});
  EXPECT_EQ(standin::NextHookCallCount(), 0);  // the key is not passed on
  // The identifier is kept: no second menu search.
  PressT();
  EXPECT_EQ(PostedCommands(), (std::vector<WPARAM>{PluginItemId, PluginItemId}));
  EXPECT_EQ(standin::MenuStringCallCount() - searches, 2);  // one top-level look per probe
}

TEST_F(ShortcutTest, TheTimerRetriesUntilTheItemAppears) {
  MenuBar bar = BuildMenuBar();
  Start(bar);
  EXPECT_EQ(standin::FireTimers(), 1);
  EXPECT_EQ(standin::FireTimers(), 1);
  EXPECT_EQ(standin::ActiveTimerCount(), 1);
  AddPluginItem(bar.plugins());
  EXPECT_EQ(standin::FireTimers(), 1);
  EXPECT_EQ(standin::ActiveTimerCount(), 0);
  PressT();
  EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{PluginItemId});
}

TEST_F(ShortcutTest, TheFirstCtrlTFindsTheItemBeforeTheTimerDoes) {
  MenuBar bar = BuildMenuBar();
  Start(bar);
  standin::FireTimers();
  AddPluginItem(bar.plugins());
  EXPECT_EQ(PressT(), 0);
  EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{PluginItemId});
  // The next tick sees the identifier and ends the timer without searching.
  EXPECT_EQ(standin::FireTimers(), 1);
  EXPECT_EQ(standin::ActiveTimerCount(), 0);
}

TEST_F(ShortcutTest, AnItemNeverFoundPostsIdentifierZero) {
  MenuBar bar = BuildMenuBar();
  Start(bar);
  EXPECT_EQ(PressT(), 0);
  EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{0});
  EXPECT_EQ(standin::ActiveTimerCount(), 1);  // stopped at termination (TearDown)
}

TEST_F(ShortcutTest, KeysThatAreNotCtrlTArePassedOnUntouched) {
  MenuBar bar = BuildMenuBar();
  AddPluginItem(bar.plugins());
  Start(bar);
  standin::SetNextHookResult(77);
  struct Row {
    const char* what;
    WPARAM key;
    LPARAM lParam;
    bool ctrl;
    int code;
  };
  const Row rows[] = {
      {"held T repeating", KeyT, standin::KeyLParam(true, true, false), true, HC_ACTION},
      {"T going up", KeyT, standin::KeyLParam(false, true, false), true, HC_ACTION},
      {"Ctrl+Alt+T", KeyT, standin::KeyLParam(true, false, true), true, HC_ACTION},
      {"T without Ctrl", KeyT, standin::KeyLParam(true, false, false), false, HC_ACTION},
      {"Ctrl+U", 0x55, standin::KeyLParam(true, false, false), true, HC_ACTION},
      {"not an action", KeyT, standin::KeyLParam(true, false, false), true, 3},
  };
  int passedOn = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    standin::SetKeyDown(VK_CONTROL, row.ctrl);
    EXPECT_EQ(standin::DeliverKey(row.key, row.lParam, row.code), 77);
    EXPECT_EQ(standin::NextHookCallCount(), ++passedOn);
  }
  EXPECT_TRUE(standin::PostedMessages().empty());
}

TEST_F(ShortcutTest, HoldingCtrlTDownGivesOneCommand) {
  MenuBar bar = BuildMenuBar();
  AddPluginItem(bar.plugins());
  Start(bar);
  standin::SetKeyDown(VK_CONTROL, true);
  standin::DeliverKey(KeyT, standin::KeyLParam(true, false, false));
  for (int i = 0; i < 5; ++i) standin::DeliverKey(KeyT, standin::KeyLParam(true, true, false));
  standin::DeliverKey(KeyT, standin::KeyLParam(false, true, false));
  EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{PluginItemId});
}

TEST_F(ShortcutTest, CtrlShiftTPostsTooButOnlyWhileTheHostWindowIsActive) {
  MenuBar bar = BuildMenuBar();
  AddPluginItem(bar.plugins());
  Start(bar);
  standin::SetKeyDown(VK_SHIFT, true);
  EXPECT_EQ(PressT(), 0);
  EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{PluginItemId});

  // A dialog or another window is active: the key goes on to it.
  standin::SetActiveWindowHandle(standin::NewWindow());
  PressT();
  standin::SetActiveWindowHandle(nullptr);
  PressT();
  EXPECT_EQ(PostedCommands().size(), 1u);
  EXPECT_EQ(standin::NextHookCallCount(), 2);
}

TEST_F(ShortcutTest, MatchesOnlyTheFirstTwelveCharactersExactly) {
  struct Row {
    const char* text;
    bool found;
  };
  const Row rows[] = {
      {"KQ Me&terfix [v. 1.01]", true},
      {"KQ Me&terfix [v. 2.00]", true},
      {"KQ Me&terfix", true},
      {"KQ Me&terfix, other", true},
      {"KQ Meterfix [v. 1.01]", false},
      {"kq me&terfix [v. 1.01]", false},
      {"KQ ME&TERFIX [v. 1.01]", false},
      {"KQ Me&terfi", false},
      {" KQ Me&terfix [v. 1.01]", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    standin::ResetAll();
    MenuBar bar = BuildMenuBar();
    AddPluginItem(bar.plugins(), "Other plug-in", 300);
    AddPluginItem(bar.plugins(), row.text, PluginItemId);
    Start(bar);
    PressT();
    EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{row.found ? PluginItemId : 0});
    FinaleExtensionTerminate(0);
    started = false;
  }
}

TEST_F(ShortcutTest, ASubmenuIsSearchedBeforeItsOwnTitle) {
  MenuBar bar = BuildMenuBar();
  AddPluginItem(bar.plugins(), "Earlier item", 301);
  HMENU inner = standin::NewMenu();
  AddPluginItem(inner, "Something", 302);
  AddPluginItem(inner, MenuText, 555);
  // The title itself would match too; the item inside wins.
  standin::AppendSubMenu(bar.plugins(), "KQ Me&terfix tools", inner);
  AddPluginItem(bar.plugins(), MenuText, 666);
  Start(bar);
  standin::FireTimers();
  PressT();
  EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{555});
}

TEST_F(ShortcutTest, APopupWhoseTitleMatchesIsNoCommandAndTheSearchGoesOn) {
  MenuBar bar = BuildMenuBar();
  HMENU inner = standin::NewMenu();
  AddPluginItem(inner, "Something else", 302);
  standin::AppendSubMenu(bar.plugins(), "KQ Me&terfix tools", inner);
  AddPluginItem(bar.plugins(), MenuText, 666);
  Start(bar);
  standin::FireTimers();
  PressT();
  EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{666});
}

TEST_F(ShortcutTest, DeeperSubmenusAreSearchedDepthFirst) {
  MenuBar bar = BuildMenuBar();
  HMENU level1 = standin::NewMenu();
  HMENU level2 = standin::NewMenu();
  AddPluginItem(level2, MenuText, 777);
  standin::AppendSubMenu(level1, "Deeper", level2);
  standin::AppendSubMenu(bar.plugins(), "Group", level1);
  AddPluginItem(bar.plugins(), MenuText, 888);
  Start(bar);
  PressT();
  EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{777});
}

TEST_F(ShortcutTest, ItemsWithoutTextAreSkippedWithTheirSubmenus) {
  MenuBar bar = BuildMenuBar();
  HMENU hidden = standin::NewMenu();
  AddPluginItem(hidden, MenuText, 111);
  standin::AppendSubMenu(bar.plugins(), "", hidden);
  standin::AppendSeparator(bar.plugins());
  AddPluginItem(bar.plugins(), MenuText, 222);
  Start(bar);
  PressT();
  EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{222});
}

TEST_F(ShortcutTest, ALeadingItemWithoutTextMovesTheMenusOnByOne) {
  MenuBar bar = BuildMenuBar(true);
  AddPluginItem(bar.plugins());
  // Position 5 of the bar is now the menu before the plug-in menu.
  AddPluginItem(bar.menus[4], MenuText, 999);
  Start(bar);
  PressT();
  EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{PluginItemId});
}

TEST_F(ShortcutTest, LongItemTextsAreCutAndTerminated) {
  MenuBar bar = BuildMenuBar();
  standin::SetMenuStringUnterminated(true);
  AddPluginItem(bar.plugins(), std::string(150, 'K'), 12);
  AddPluginItem(bar.plugins(), std::string(MenuText) + std::string(120, '.'), PluginItemId);
  Start(bar);
  PressT();
  EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{PluginItemId});
}

TEST_F(ShortcutTest, WithoutAMenuBarNothingIsFound) {
  MenuBar none;
  Start(none);
  standin::FireTimers();
  PressT();
  EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{0});
}

// The probed menu shape, per host version (the high word names the edition):
// menus 6 and 7 of the bar.
struct Edition {
  std::uint32_t version;
  int firstCount;
  int submenuPosition;
  int secondCount;
};

struct Shape {
  int count;
  std::set<int> subMenus;
};

// Menus 6 and 7 (counted from the first item with text) and whether the
// plug-in leaves Ctrl+T to the host under that bar.
struct ProbeCase {
  const char* what;
  Shape menu6;
  Shape menu7;
  bool blankFirst;
  bool leftToHost;
};

std::vector<ProbeCase> ProbeCases(const Edition& e) {
  const Shape first{e.firstCount, {e.submenuPosition}};
  const Shape second{e.secondCount, {1, 2}};
  const Shape plain{3, {}};
  return {
      {"the second menu shape alone", second, plain, false, true},
      {"the first menu shape leads to the next menu", first, second, false, true},
      {"the shape behind a leading item without text", first, second, true, true},
      {"one item more than the second shape", {e.secondCount + 1, {1, 2}}, plain, false, false},
      {"the second shape without its submenu at 2", {e.secondCount, {1}}, plain, false, false},
      {"the first shape without its submenu stays on menu 6",
       {e.firstCount, {}},
       second,
       false,
       false},
  };
}

// The bar of a probe case: eight menus, the plug-in item in menu 5.
MenuBar ProbeBar(const ProbeCase& c) {
  MenuBar bar;
  bar.bar = standin::NewMenu();
  if (c.blankFirst) standin::AppendMenuItem(bar.bar, "", 0);
  for (int i = 0; i < 8; ++i) {
    bar.menus[i] = i == 6   ? MenuOfShape(c.menu6.count, c.menu6.subMenus)
                   : i == 7 ? MenuOfShape(c.menu7.count, c.menu7.subMenus)
                   : i == 5 ? standin::NewMenu()
                            : MenuOfShape(4, {});
    standin::AppendSubMenu(bar.bar, "Menu " + std::to_string(i), bar.menus[i]);
  }
  AddPluginItem(bar.plugins());
  return bar;
}

TEST_F(ShortcutTest, EachEditionsMenuShapeLeavesCtrlTToTheHost) {
  const Edition editions[] = {{0x03800000, 28, 20, 14},
                              {0x04000000, 28, 20, 14},
                              {0x05000005, 28, 20, 14},
                              {0x05000000, 28, 20, 14},
                              {0x06000000, 22, 0, 26},
                              {0x06001234, 22, 0, 26},
                              {0x07000000, 23, 0, 26},
                              {0x0800FFFF, 23, 0, 26},
                              {0x08010000, 23, 0, 26},
                              {0x09000000, 23, 0, 26},
                              {0x03810000, 23, 0, 26},
                              {0xFFFF0000, 23, 0, 26},
                              {0, 23, 0, 26}};
  for (const Edition& edition : editions) {
    for (const ProbeCase& probe : ProbeCases(edition)) {
      SCOPED_TRACE(::testing::Message()
                   << "version 0x" << std::hex << edition.version << ": " << probe.what);
      Start(ProbeBar(probe), static_cast<std::int32_t>(edition.version));
      const int before = standin::NextHookCallCount();
      PressT();
      const bool passed = standin::NextHookCallCount() > before;
      EXPECT_EQ(passed, standin::PostedMessages().empty());
      EXPECT_EQ(passed, probe.leftToHost);
      Unload();
      SetUp();
    }
  }
}

TEST_F(ShortcutTest, AnotherEditionsShapeDoesNotCount) {
  // The 2000 edition's shape under a 2002 host.
  MenuBar bar;
  bar.bar = standin::NewMenu();
  for (int i = 0; i < 8; ++i) {
    bar.menus[i] = i == 6   ? MenuOfShape(28, {20})
                   : i == 7 ? MenuOfShape(14, {1, 2})
                            : standin::NewMenu();
    standin::AppendSubMenu(bar.bar, "Menu", bar.menus[i]);
  }
  AddPluginItem(bar.plugins());
  Start(bar, 0x07000000);
  PressT();
  EXPECT_EQ(PostedCommands(), std::vector<WPARAM>{PluginItemId});
}

TEST_F(ShortcutTest, AProcessThatCannotBeOpenedGetsNoHookButTheTimerRuns) {
  MenuBar bar = BuildMenuBar();
  standin::FailOpenProcess(true);
  Start(bar);
  EXPECT_TRUE(standin::InstalledHooks().empty());
  EXPECT_EQ(standin::ActiveTimerCount(), 1);
  AddPluginItem(bar.plugins());
  standin::FireTimers();
  EXPECT_EQ(standin::ActiveTimerCount(), 0);
}

TEST_F(ShortcutTest, TerminationUnhooksAndStopsAStillRunningTimer) {
  MenuBar bar = BuildMenuBar();
  Start(bar);
  ASSERT_EQ(standin::ActiveTimerCount(), 1);
  FinaleExtensionTerminate(0);
  started = false;
  EXPECT_EQ(standin::UnhookCallCount(), 1);
  EXPECT_EQ(standin::ActiveTimerCount(), 0);
  EXPECT_EQ(standin::FireTimers(), 0);  // nothing can call into an unloaded library
  EXPECT_EQ(standin::DeliverKey(KeyT, standin::KeyLParam(true, false, false)), 0);
  EXPECT_TRUE(standin::PostedMessages().empty());
}

TEST_F(ShortcutTest, TerminationWithoutAHookStillCallsUnhook) {
  MenuBar bar = BuildMenuBar();
  standin::FailOpenProcess(true);
  Start(bar);
  FinaleExtensionTerminate(0);
  started = false;
  EXPECT_EQ(standin::UnhookCallCount(), 1);
  EXPECT_EQ(standin::ActiveTimerCount(), 0);
}

}  // namespace
