// The HTML report: one page that needs nothing from outside, drawn for
// each changed measure, and loaded by a real browser when one is installed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "tests/cli_test_support.h"

namespace {

using clitest::ExamplePath;
using clitest::Outcome;
using clitest::ReadFile;
using clitest::RunTool;
using clitest::ScratchDir;
namespace fs = std::filesystem;

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

std::string MakePage(const ScratchDir& dir) {
  const Outcome outcome = RunTool({"--config-dir", dir / "cfg", "--report", "html", "--report-file",
                                   dir / "report.html", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  return ReadFile(dir / "report.html");
}

TEST(HtmlReport, SelfContainedWithAPictureOfEachChangedMeasure) {
  ScratchDir dir;
  const std::string page = MakePage(dir);
  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  // Nothing fetched: no source or link attributes; the one URL is SVG's namespace name.
  EXPECT_FALSE(std::regex_search(page, std::regex(R"((src|href)\s*=)")));
  EXPECT_EQ(Count(page, "://"), Count(page, "xmlns=\"http://www.w3.org/2000/svg\""));
  EXPECT_NE(page.find("4 of 8 measures changed"), std::string::npos);
  // The example's four changed measures, two staves each.
  EXPECT_EQ(Count(page, "<svg "), 4u);
  EXPECT_EQ(Count(page, "class=\"staff\""), 8u);
  // In the 4/4 bars grouped 3+3+2 eighths the second group starts between
  // two quarter beats, in each staff; the others start on a beat.
  const std::size_t third = page.find("measure 3 [4]: 4/4 -&gt; 8/8");
  ASSERT_NE(third, std::string::npos) << page;
  const std::string svg = page.substr(third, page.find("</svg>", third) - third);
  EXPECT_EQ(Count(svg, "class=\"off\""), 2u) << svg;
  EXPECT_EQ(Count(svg, "class=\"on\""), 4u) << svg;
}

TEST(HtmlReport, ChromiumRendersIt) {
  const char* browser = "/usr/bin/chromium";
  if (!fs::exists(browser)) GTEST_SKIP() << "SKIPPED: Chromium is not installed";
  ScratchDir dir;
  MakePage(dir);
  fs::create_directory(dir.path() / "profile");
  const std::string command =
      std::string(browser) +
      " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
      " --disable-background-networking --disable-component-update --disable-sync"
      " --user-data-dir='" +
      (dir / "profile") + "' --window-size=1000,900 --screenshot='" + (dir / "page.png") +
      "' 'file://" + (dir / "report.html") + "' >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
  const std::string png = ReadFile(dir / "page.png");
  ASSERT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  // A blank page of that size packs into a few kilobytes; drawings take many more.
  EXPECT_GT(png.size(), 20000u);
}

}  // namespace
