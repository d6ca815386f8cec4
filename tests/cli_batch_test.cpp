// meterfix over folders: the files found, the tree under --out-dir, worker
// processes giving the same report in input order, and the progress bar
// only on a terminal.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli_test_support.h"

namespace {

using clitest::ExamplePath;
using clitest::Outcome;
using clitest::ReadFile;
using clitest::RunTool;
using clitest::ScratchDir;
using clitest::WriteFile;
using Json = nlohmann::json;
namespace fs = std::filesystem;

void MakeTree(const ScratchDir& dir) {
  const std::string example = ReadFile(ExamplePath());
  fs::create_directories(dir.path() / "in/sub/deeper");
  fs::create_directories(dir.path() / "in/.hidden");
  WriteFile(dir / "in/b.musicxml", example);
  WriteFile(dir / "in/a.XML", example);
  WriteFile(dir / "in/sub/deeper/c.xml", example);
  WriteFile(dir / "in/sub/broken.musicxml", "<score-partwise>");
  WriteFile(dir / "in/.d.musicxml", example);
  WriteFile(dir / "in/.hidden/e.musicxml", example);
  WriteFile(dir / "in/notes.txt", "not a score");
}

TEST(Batch, FolderWithWorkersMirrorsTheTreeAndKeepsInputOrder) {
  ScratchDir dir;
  MakeTree(dir);
  Json reports[2];
  for (int jobs = 1; jobs <= 2; ++jobs) {
    const std::string out = dir / ("out" + std::to_string(jobs));
    const Outcome outcome =
        RunTool({"--config-dir", dir / "cfg", "--jobs", std::to_string(jobs), "--report", "json",
                 "--report-file", "-", "--out-dir", out, dir / "in"});
    EXPECT_EQ(outcome.exitCode, 1) << outcome.err;  // the broken score
    EXPECT_EQ(outcome.err.find("e.musicxml"), std::string::npos) << outcome.err;
    reports[jobs - 1] = Json::parse(outcome.out, nullptr, false);
    const Json& files = reports[jobs - 1]["files"];
    ASSERT_EQ(files.size(), 4u) << outcome.out;
    const std::string names[] = {"a.XML", "b.musicxml", "sub/broken.musicxml", "sub/deeper/c.xml"};
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(files[i]["file"], (dir.path() / "in" / names[i]).string());
    }
    EXPECT_EQ(files[2]["status"], "error");
    EXPECT_EQ(files[3]["output"], out + "/sub/deeper/c.xml");
    EXPECT_EQ(reports[jobs - 1]["summary"]["failed"], 1);
    EXPECT_EQ(reports[jobs - 1]["summary"]["changed"], 12);  // 4 measures of 3 examples
    EXPECT_TRUE(fs::exists(out + "/sub/deeper/c.xml"));
    EXPECT_FALSE(fs::exists(out + "/sub/broken.musicxml"));
    EXPECT_FALSE(fs::exists(out + "/.hidden"));
    EXPECT_FALSE(fs::exists(out + "/.d.musicxml"));
  }
  // Worker processes change nothing in what is reported but the paths.
  std::string two = reports[1].dump();
  for (std::size_t at; (at = two.find("/out2/")) != std::string::npos;)
    two.replace(at, 6, "/out1/");
  EXPECT_EQ(two, reports[0].dump());
  EXPECT_EQ(ReadFile(dir / "out2/a.XML"), ReadFile(dir / "out1/a.XML"));
}

// meterfix with standard error on a terminal; what the terminal showed.
std::string OnTerminal(const std::vector<std::string>& args) {
  std::vector<std::string> words = {MeterfixPath};
  words.insert(words.end(), args.begin(), args.end());
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  std::string shown;
  char buffer[4096];
  for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
  ::close(master);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return shown;
}

TEST(Batch, ProgressOnlyOnATerminalAndNotWhenQuiet) {
  ScratchDir dir;
  MakeTree(dir);
  const std::vector<std::string> args = {"--config-dir", dir / "cfg", "--report", "none",
                                         dir / "in"};
  const std::string shown = OnTerminal(args);
  EXPECT_NE(shown.find("4/4 files, 12 measures changed"), std::string::npos) << shown;
  EXPECT_NE(shown.find("elapsed"), std::string::npos) << shown;
  std::vector<std::string> quiet = args;
  quiet.insert(quiet.begin(), "--quiet");
  EXPECT_EQ(OnTerminal(quiet).find("files,"), std::string::npos);
  const Outcome piped = RunTool(args);
  EXPECT_EQ(piped.err.find("files,"), std::string::npos) << piped.err;
}

}  // namespace
