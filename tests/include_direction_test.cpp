// The layering, checked on the source tree. Every folder names the folders it
// may include; the shape is a diamond on the host interface:
//
//   cli/ -> plug-in core: plugin/ -> dialogs/, analysis/ -> settings/
//   cli/ -> musicxml/ -> simhost/
//   the core's dialogs/ and analysis/, and simhost/ -> host/ (the host's
//   function table and wire formats) -> platform/ (the Win32 seam)
//
// settings/ stands on the seam alone. The stand-in's test controls
// (platform/standin/) are for tests and tools, not for programs; <windows.h>
// comes only through the seam, and the core never sees pugixml.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Folder(const std::string& path) { return path.substr(0, path.find('/')); }

// What each folder of the product may include besides itself. Folders not
// listed (tests, bench, fuzz, windows) drive the product and may include
// anything.
const std::map<std::string, std::set<std::string>> MayInclude = {
    {"platform", {}},
    {"host", {"platform"}},
    {"settings", {"platform"}},
    {"analysis", {"settings", "host", "platform"}},
    {"dialogs", {"settings", "host", "platform"}},
    {"plugin", {"analysis", "dialogs", "settings", "host", "platform"}},
    {"simhost", {"host", "platform"}},
    {"musicxml", {"simhost", "host", "platform"}},
    {"cli",
     {"musicxml", "simhost", "plugin", "analysis", "dialogs", "settings", "host", "platform"}},
};

bool IsDriver(const std::string& path) { return !MayInclude.contains(Folder(path)); }

bool IsStandIn(const std::string& path) { return path.rfind("platform/standin/", 0) == 0; }

// Programs above the seam that may still use a stand-in header, and why.
const std::map<std::string, std::string> StandInUsers = {
    {"simhost/dialog_service.cpp",
     "the simulated host's dialog functions work the stand-in's dialog windows, as the Windows "
     "test host's work real ones"},
};

// Empty when from may include to (both paths relative to the source tree).
std::string Verdict(const std::string& from, const std::string& to) {
  if (IsStandIn(to) && !IsStandIn(from) && !IsDriver(from) && !StandInUsers.contains(from)) {
    return "the stand-in's test controls are for tests; programs use platform/headless.h";
  }
  const std::string a = Folder(from);
  const std::string b = Folder(to);
  if (IsDriver(from) || a == b || MayInclude.at(a).contains(b)) return "";
  return a + " may not include " + b;
}

// System headers a layer may not see.
std::string SystemVerdict(const std::string& from, const std::string& header) {
  const std::string folder = Folder(from);
  if ((header == "windows.h" || header == "commctrl.h") && folder != "platform" &&
      folder != "windows" && from != "simhost/low_arena_win32.cpp") {
    return "<" + header + "> only through the seam (platform/win32.h)";
  }
  if (header.rfind("pugixml", 0) == 0 && !IsDriver(from) && folder != "musicxml" &&
      folder != "cli") {
    return "pugixml belongs to musicxml/";
  }
  return "";
}

struct Edge {
  std::string from;
  std::string to;
  bool system;
};

std::vector<Edge> IncludesOfTheTree() {
  const fs::path root = KQ_SOURCE_DIR;
  static const std::regex include(R"re(^\s*#\s*include\s*([<"])([^>"]+)[>"])re");
  std::vector<Edge> edges;
  for (const char* top : {"host", "analysis", "settings", "dialogs", "plugin", "platform",
                          "simhost", "musicxml", "cli", "windows", "tests", "bench", "fuzz"}) {
    if (!fs::exists(root / top)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root / top)) {
      const std::string ext = entry.path().extension().string();
      if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
      const std::string from = fs::relative(entry.path(), root).generic_string();
      std::ifstream in(entry.path());
      std::string line;
      std::smatch m;
      while (std::getline(in, line)) {
        if (!std::regex_search(line, m, include)) continue;
        std::string to = m[2];
        const bool system = m[1] == "<";
        // A header beside the includer ("dialog_session.h") stays in its folder.
        if (!system && to.find('/') == std::string::npos) to = Folder(from) + "/" + to;
        edges.push_back({from, to, system});
      }
    }
  }
  return edges;
}

TEST(IncludeDirection, EveryIncludeOfTheTreeRunsDownwards) {
  const std::vector<Edge> edges = IncludesOfTheTree();
  ASSERT_GT(edges.size(), 300u) << "the source tree was not found at " << KQ_SOURCE_DIR;
  std::vector<std::string> wrong;
  for (const Edge& e : edges) {
    const std::string why = e.system ? SystemVerdict(e.from, e.to) : Verdict(e.from, e.to);
    if (!why.empty()) wrong.push_back(e.from + " -> " + e.to + ": " + why);
  }
  EXPECT_EQ(wrong, std::vector<std::string>{});
}

TEST(IncludeDirection, WrongArrowsAreNamed) {
  struct Row {
    const char* from;
    const char* to;
    bool allowed;
  };
  const Row rows[] = {
      // The arrows that ran the wrong way once.
      {"cli/plugin_session.cpp", "platform/standin/standin.h", false},
      {"dialogs/options_dialog.cpp", "plugin/entry.h", false},
      {"platform/standin/dialog_windows.cpp", "dialogs/control_ids.h", false},
      // Upwards, sideways, and into a test program.
      {"plugin/entry.cpp", "simhost/simhost.h", false},
      {"simhost/simhost.cpp", "musicxml/score.h", false},
      {"musicxml/score.cpp", "cli/run.h", false},
      {"settings/presets.cpp", "dialogs/options_dialog.h", false},
      {"analysis/driver.cpp", "dialogs/options_dialog.h", false},
      {"dialogs/preset_controls.cpp", "analysis/driver.h", false},
      {"settings/presets.cpp", "host/host.h", false},
      {"simhost/simhost.cpp", "analysis/check.h", false},
      {"musicxml/score.cpp", "plugin/entry.h", false},
      {"cli/run.cpp", "tests/help_table.h", false},
      // The intended directions.
      {"cli/plugin_session.cpp", "platform/headless.h", true},
      {"cli/plugin_session.cpp", "plugin/entry.h", true},
      {"dialogs/options_dialog.cpp", "host/module.h", true},
      {"dialogs/options_dialog.cpp", "settings/settings.h", true},
      {"dialogs/preset_controls.cpp", "host/host.h", true},
      {"simhost/simhost.cpp", "host/records.h", true},
      {"plugin/entry.cpp", "dialogs/options_dialog.h", true},
      {"simhost/dialog_service.cpp", "platform/standin/dialog_windows.h", true},
      {"tests/entry_test.cpp", "platform/standin/standin.h", true},
      {"windows/testhost/testhost.cpp", "simhost/simhost.h", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.from) + " -> " + row.to);
    EXPECT_EQ(Verdict(row.from, row.to).empty(), row.allowed) << Verdict(row.from, row.to);
  }
  EXPECT_NE(SystemVerdict("dialogs/options_dialog.cpp", "windows.h"), "");
  EXPECT_NE(SystemVerdict("analysis/driver.cpp", "pugixml.hpp"), "");
  EXPECT_EQ(SystemVerdict("platform/win32.h", "windows.h"), "");
  EXPECT_EQ(SystemVerdict("musicxml/score.cpp", "pugixml.hpp"), "");
}

// The seam's target takes no sources from the layers above it (the plug-in's
// resource tables once were injected into it).
TEST(IncludeDirection, OnlyThePlatformFolderAddsToThePlatformTarget) {
  const fs::path root = KQ_SOURCE_DIR;
  std::vector<std::string> wrong;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string rel = fs::relative(it->path(), root).generic_string();
    // Build trees (with their Wine prefixes) and git's files are not sources.
    if (rel.rfind("build", 0) == 0 || rel.rfind(".", 0) == 0) {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    const fs::directory_entry& entry = *it;
    if (entry.path().filename() != "CMakeLists.txt" && entry.path().extension() != ".cmake") {
      continue;
    }
    if (Folder(rel) == "platform") continue;
    std::ifstream in(entry.path());
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (std::regex_search(text, std::regex(R"(target_sources\s*\(\s*kq_platform\b)"))) {
      wrong.push_back(rel);
    }
  }
  EXPECT_EQ(wrong, std::vector<std::string>{});
}

}  // namespace
