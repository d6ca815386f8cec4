// meterfix where a run meets more than its own files: standard streams
// redirected onto a score, settings files named as outputs, signals of every
// kind, file-size limits, unreadable folders, damaged or planted settings
// files, and names that are not text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/safe_file.h"
#include "cli/terminal.h"
#include "cli_test_support.h"

extern char** environ;

namespace {

using clitest::ExamplePath;
using clitest::ListDir;
using clitest::OnlyFile;
using clitest::Outcome;
using clitest::ReadFile;
using clitest::RunTool;
using clitest::ScratchDir;
using clitest::WriteFile;
using Json = nlohmann::json;
namespace fs = std::filesystem;

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A shell line with `M` standing for the meterfix binary; its exit status.
int Shell(const std::string& line) {
  std::string command;
  for (const char c : line) command += c == 'M' ? Quote(MeterfixPath) : std::string(1, c);
  const int status = std::system(("exec 2>/dev/null; " + command).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The README's first line for the example: what a report shows.
constexpr char ExampleSummary[] = "4 of 8 measures changed";

// Standard output carries the report unless the score goes there.
TEST(Streams, TheReportGoesToStandardOutputUnlessTheScoreDoes) {
  ScratchDir dir;
  Outcome outcome = RunTool({"--config-dir", dir / "cfg", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_NE(outcome.out.find(ExampleSummary), std::string::npos) << outcome.out;
  EXPECT_EQ(outcome.err, "");
  outcome = RunTool({"--config-dir", dir / "cfg", "-o", "-", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("<score-partwise"), std::string::npos);
  EXPECT_NE(outcome.err.find(ExampleSummary), std::string::npos) << outcome.err;
  outcome = RunTool({"--config-dir", dir / "cfg", "--report-file", dir / "r.txt", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(outcome.out + outcome.err, "");
  EXPECT_NE(ReadFile(dir / "r.txt").find(ExampleSummary), std::string::npos);
  // Errors on standard error: the program, the file, then what happened.
  outcome = RunTool({"--config-dir", dir / "cfg", dir / "missing.musicxml"});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_EQ(outcome.err, "meterfix: " + (dir / "missing.musicxml") +
                             ": cannot read: No such file or directory\n");
  // Where a message has a place, it follows the file: file:measure N (number X).
  auto score = [](const std::string& beats, const std::string& duration) {
    return "<score-partwise><part-list><score-part id=\"P1\"/></part-list><part id=\"P1\">"
           "<measure number=\"7\"><attributes><divisions>1</divisions><time><beats>" +
           beats + "</beats><beat-type>4</beat-type></time></attributes><note><rest/><duration>" +
           duration + "</duration></note></measure></part></score-partwise>";
  };
  const std::string file = dir / "placed.musicxml";
  WriteFile(file, score("x", "4"));
  outcome = RunTool({"--config-dir", dir / "cfg", file});
  EXPECT_NE(
      outcome.out.find(file + ":measure 1 (number 7): part P1: time signature not understood"),
      std::string::npos)
      << outcome.out;
  WriteFile(file, score("4", "z"));
  outcome = RunTool({"--config-dir", dir / "cfg", file});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_EQ(outcome.err.rfind("meterfix: " + file + ":measure 1 (number 7): part P1: invalid", 0),
            0u)
      << outcome.err;
}

// A standard stream that carries the score or the report and is an input's
// file is refused before anything is written; devices and pipes never clash.
TEST(Streams, AStandardStreamThatIsAnInputsFileIsRefused) {
  ScratchDir dir;
  const std::string s = dir / "s.musicxml";
  const std::string score = ReadFile(ExamplePath());
  const std::string cfg = " --config-dir " + Quote(dir / "cfg") + " ";
  struct Row {
    std::string line;
    int exit;
  };
  const Row rows[] = {
      {"M" + cfg + "- -o - <S >>S", ExitUsage},
      {"M" + cfg + "S >>S", ExitUsage},                   // the report on standard output
      {"M" + cfg + "-o - S 2>>S >/dev/null", ExitUsage},  // the report on standard error
      {"M" + cfg + "--report json --report-file - S >>S", ExitUsage},
      {"M" + cfg + "S >/dev/null", 0},
      {"M" + cfg + "S | cat >/dev/null", 0},
      {"M" + cfg + "- -o - <S >" + Quote(dir / "other.musicxml"), 0},
  };
  for (const Row& row : rows) {
    std::string line;
    for (const char c : row.line) line += c == 'S' ? Quote(s) : std::string(1, c);
    SCOPED_TRACE(line);
    WriteFile(s, score);
    EXPECT_EQ(Shell(line), row.exit);
    EXPECT_EQ(ReadFile(s), score);
  }
}

// The settings files are files of the run: no output or report goes there.
TEST(Paths, SettingsFilesAreAmongTheFilesARunCompares) {
  ScratchDir dir;
  const std::string cfg = dir / "cfg";
  const std::string fresh = dir / "fresh";
  ASSERT_EQ(RunTool({"--config-dir", cfg, "presets", "save", "p1"}).exitCode, 0);
  const std::string presets = ReadFile(cfg + "/Presets");
  const std::string options = ReadFile(cfg + "/UserDialog");
  const std::vector<std::vector<std::string>> rows = {
      {"--config-dir", cfg, "--preset", "p1", "--report", "json", "--report-file", cfg + "/Presets",
       ExamplePath()},
      {"--config-dir", cfg, "-o", cfg + "/UserDialog", ExamplePath()},
      {"--config-dir", cfg, "-o", cfg + "/Presets.bad", ExamplePath()},
      {"--config-dir", fresh, "-o", fresh + "/UserDialog", ExamplePath()},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row[1] + " " + row[row.size() - 2]);
    const Outcome outcome = RunTool(row);
    EXPECT_EQ(outcome.exitCode, ExitUsage);
    EXPECT_NE(outcome.err.find("same file"), std::string::npos) << outcome.err;
    EXPECT_EQ(ReadFile(cfg + "/Presets"), presets);
    EXPECT_EQ(ReadFile(cfg + "/UserDialog"), options);
    EXPECT_EQ(ListDir(cfg), (std::vector<std::string>{"Presets", "UserDialog"}));
    EXPECT_FALSE(fs::exists(fresh));
  }
}

// A link anywhere on a written path, in a sticky world-writable directory,
// is followed only where the kernel's rule would follow it.
TEST(Paths, ALinkOnTheWayInAStickyDirectoryIsFollowedOnlyAsTheKernelWould) {
  if (::geteuid() != 0) GTEST_SKIP() << "SKIPPED: needs root to plant a link owned by another user";
  constexpr uid_t Nobody = 65534;
  ScratchDir dir;
  const std::string shared = dir / "shared";
  const std::string victim = dir / "victim";
  fs::create_directory(shared);
  fs::create_directory(victim);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  const std::string link = shared + "/l";
  fs::create_directory_symlink(victim, link);
  ASSERT_EQ(::lchown(link.c_str(), Nobody, Nobody), 0);
  const std::vector<std::vector<std::string>> rows = {
      {"-o", link + "/o.musicxml", ExamplePath()},
      {"--out-dir", link, ExamplePath()},
      {"--out-dir", link + "/sub", ExamplePath()},
      {"--report-file", link + "/r.txt", ExamplePath()},
      {"presets", "save", "x"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row[0] + " " + row[1]);
    std::vector<std::string> args = {"--config-dir", row[0] == "presets" ? link : dir / "cfg"};
    args.insert(args.end(), row.begin(), row.end());
    const Outcome outcome = RunTool(args);
    EXPECT_EQ(outcome.exitCode, ExitFailure);
    EXPECT_NE(outcome.err.find("the symbolic link " + link), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("not followed"), std::string::npos) << outcome.err;
    EXPECT_EQ(ListDir(victim), std::vector<std::string>{});
  }
  // The user's own link there is followed.
  ASSERT_EQ(::lchown(link.c_str(), 0, 0), 0);
  const Outcome outcome =
      RunTool({"--config-dir", dir / "cfg", "-o", link + "/o.musicxml", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(ListDir(victim), std::vector<std::string>{"o.musicxml"});
}

// meterfix with standard input from a pipe this test holds open: it waits
// there with its report file's temporary already made.
struct Blocked {
  pid_t pid = -1;
  int input = -1;
};
Blocked StartBlocked(const std::vector<std::string>& args) {
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  std::vector<std::string> words = {MeterfixPath};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  Blocked blocked;
  EXPECT_EQ(posix_spawn(&blocked.pid, MeterfixPath, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[0]);
  blocked.input = fds[1];
  return blocked;
}

bool AppearsIn(const fs::path& dir) {
  for (int i = 0; i < 500; ++i) {
    if (!ListDir(dir).empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Every signal that ends the process removes its temporaries; after a
// SIGKILL, which cannot be caught, the next run writing there removes them.
TEST(Signals, EveryEndingSignalLeavesNoTemporaryFile) {
  const int signals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM, SIGUSR1,
                         SIGUSR2, SIGALRM, SIGPIPE, SIGXCPU, SIGRTMIN};
  for (const int signal : signals) {
    SCOPED_TRACE(signal);
    ScratchDir dir;
    fs::create_directory(dir.path() / "out");
    const Blocked run =
        StartBlocked({"--config-dir", dir / "cfg", "--report-file", dir / "out/r.txt", "-"});
    ASSERT_TRUE(AppearsIn(dir.path() / "out"));
    ASSERT_EQ(::kill(run.pid, signal), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(run.pid, &status, 0), run.pid);
    ::close(run.input);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(ListDir(dir.path() / "out"), std::vector<std::string>{});
  }
  ScratchDir dir;
  fs::create_directory(dir.path() / "out");
  const Blocked run =
      StartBlocked({"--config-dir", dir / "cfg", "--report-file", dir / "out/r.txt", "-"});
  ASSERT_TRUE(AppearsIn(dir.path() / "out"));
  ASSERT_EQ(::kill(run.pid, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(run.pid, &status, 0), run.pid);
  ::close(run.input);
  ASSERT_EQ(ListDir(dir.path() / "out").size(), 1u);  // the debris a kill leaves
  const Outcome outcome =
      RunTool({"--config-dir", dir / "cfg", "-o", dir / "out/fixed.musicxml", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(ListDir(dir.path() / "out"), std::vector<std::string>{"fixed.musicxml"});
}

// A temporary is debris only when its lock is free and its process gone:
// what a killed worker leaves is removed, a living run's never.
TEST(Signals, OnlyTheTemporariesOfEndedRunsAreRemoved) {
  ScratchDir dir;
  const pid_t ended = ::fork();
  ASSERT_GE(ended, 0);
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
  const std::string gone = std::to_string(ended);
  const std::string stale = "a.musicxml.meterfix-" + gone + ".Ab12Cd";
  const std::string living = "b.musicxml.meterfix-" + std::to_string(::getppid()) + ".Ab12Cd";
  const std::string locked = "c.musicxml.meterfix-" + gone + ".Ef34Gh";
  const std::string notOurs = "d.meterfix-" + gone + ".txt";
  for (const std::string& name : {stale, living, locked, notOurs}) WriteFile(dir / name, "x");
  const int held = ::open((dir / locked).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  meterfix::RemoveStaleTemporaries(dir.path().string());
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{living, locked, notOurs}));
  ::close(held);
}

// Past a file-size limit the write of that file fails and is reported;
// the batch goes on and leaves no partial file, in one process or several.
TEST(Signals, AFileSizeLimitFailsOneFileAndTheBatchGoesOn) {
  ScratchDir dir;
  fs::create_directory(dir.path() / "in");
  const std::string score = ReadFile(ExamplePath());
  // A comment after the root element is kept in the output: 150 KiB of it.
  WriteFile(dir / "in/big.musicxml", score + "<!--" + std::string(150 << 10, 'x') + "-->\n");
  WriteFile(dir / "in/small.musicxml", score);
  for (const int jobs : {1, 2}) {
    SCOPED_TRACE(jobs);
    const std::string out = dir / ("out" + std::to_string(jobs));
    const int status = Shell("ulimit -f 100; M --config-dir " + Quote(dir / "cfg") +
                             " --report json --jobs " + std::to_string(jobs) + " --out-dir " +
                             Quote(out) + " " + Quote(dir / "in") + " >" + Quote(dir / "r.json"));
    EXPECT_EQ(status, ExitFailure);
    const Json report = Json::parse(ReadFile(dir / "r.json"), nullptr, false);
    ASSERT_TRUE(report.is_object()) << ReadFile(dir / "r.json");
    ASSERT_EQ(report["files"].size(), 2u);
    EXPECT_EQ(report["files"][0]["status"], "error");
    EXPECT_NE(report["files"][0]["error"].get<std::string>().find(std::strerror(EFBIG)),
              std::string::npos)
        << report["files"][0]["error"];
    EXPECT_EQ(report["files"][1]["status"], "ok");
    EXPECT_EQ(ListDir(out), std::vector<std::string>{"small.musicxml"});
  }
}

// A report file that cannot be made stops the run before any input is
// rewritten.
TEST(Report, ARefusedReportLeavesTheInputsAsTheyWere) {
  ScratchDir dir;
  WriteFile(dir / "blocker", "a file, not a folder");
  const std::string score = ReadFile(ExamplePath());
  for (const std::string& report : {dir / "missing/r.txt", dir / "blocker/r.txt"}) {
    SCOPED_TRACE(report);
    WriteFile(dir / "a.musicxml", score);
    WriteFile(dir / "b.musicxml", score);
    const Outcome outcome = RunTool({"--config-dir", dir / "cfg", "--in-place", "--report-file",
                                     report, dir / "a.musicxml", dir / "b.musicxml"});
    EXPECT_EQ(outcome.exitCode, ExitFailure);
    EXPECT_EQ(outcome.err.rfind("meterfix: " + report + ": cannot write: ", 0), 0u) << outcome.err;
    EXPECT_EQ(ReadFile(dir / "a.musicxml"), score);
    EXPECT_EQ(ReadFile(dir / "b.musicxml"), score);
    EXPECT_EQ(ListDir(dir.path()),
              (std::vector<std::string>{"a.musicxml", "b.musicxml", "blocker"}));
  }
}

// Text that reorders what follows it on a terminal is escaped.
TEST(Messages, BidirectionalControlsAreEscaped) {
  // UTF-8 of U+202A..U+202E, U+2066..U+2069, U+200E, U+200F and U+061C.
  const std::vector<std::string> controls = {"\xE2\x80\xAA", "\xE2\x80\xAB", "\xE2\x80\xAC",
                                             "\xE2\x80\xAD", "\xE2\x80\xAE", "\xE2\x81\xA6",
                                             "\xE2\x81\xA7", "\xE2\x81\xA8", "\xE2\x81\xA9",
                                             "\xE2\x80\x8E", "\xE2\x80\x8F", "\xD8\x9C"};
  for (const std::string& control : controls) {
    std::string escaped;
    for (const char c : control) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
      escaped += hex;
    }
    EXPECT_EQ(meterfix::Printable("a" + control + "b"), "a" + escaped + "b");
  }
  // Their neighbours are letters and marks like any other.
  for (const std::string text : {"\xE2\x80\xB0", "\xE2\x81\xAA", "\xE2\x80\x94", "\xD8\xA8"}) {
    EXPECT_EQ(meterfix::Printable(text), text);
  }
  ScratchDir dir;
  const std::string name = dir /
                           "lmth.\xE2\x80\xAE"
                           "exe.musicxml";
  WriteFile(name, ReadFile(ExamplePath()));
  const Outcome outcome = RunTool({"--config-dir", dir / "cfg", name});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(outcome.out.find("\xE2\x80\xAE"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("lmth.\\xE2\\x80\\xAEexe.musicxml"), std::string::npos) << outcome.out;
}

// An unreadable folder inside a batch is one failed input; the rest runs.
TEST(Batch, AnUnreadableSubfolderIsOneFailedInput) {
  ScratchDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  fs::create_directories(dir.path() / "scores/lost+found");
  WriteFile(dir / "scores/a.musicxml", ReadFile(ExamplePath()));
  WriteFile(dir / "scores/lost+found/b.musicxml", ReadFile(ExamplePath()));
  WriteFile(dir / "good.musicxml", ReadFile(ExamplePath()));
  ASSERT_EQ(::chmod((dir / "scores/lost+found").c_str(), 0700), 0);
  // Root reads any folder: the run is then made as another user.
  std::string as;
  if (::geteuid() == 0) {
    if (Shell("setpriv --version >/dev/null") != 0) GTEST_SKIP() << "SKIPPED: setpriv is missing";
    as = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  } else {
    ASSERT_EQ(::chmod((dir / "scores/lost+found").c_str(), 0), 0);
  }
  const int status = Shell(as + "M --config-dir " + Quote(dir / "cfg") + " --report json " +
                           Quote(dir / "scores") + " " + Quote(dir / "good.musicxml") + " >" +
                           Quote(dir / "r.json"));
  EXPECT_EQ(status, ExitFailure);
  const Json report = Json::parse(ReadFile(dir / "r.json"), nullptr, false);
  ASSERT_TRUE(report.is_object()) << ReadFile(dir / "r.json");
  ASSERT_EQ(report["files"].size(), 3u);
  EXPECT_EQ(report["files"][0]["file"], dir / "scores/a.musicxml");
  EXPECT_EQ(report["files"][0]["status"], "ok");
  EXPECT_EQ(report["files"][1]["file"], dir / "scores/lost+found");
  EXPECT_EQ(report["files"][1]["error"],
            (dir / "scores/lost+found") + ": cannot read the folder: " + std::strerror(EACCES));
  EXPECT_EQ(report["files"][2]["status"], "ok");
}

// Settings files: a FIFO is no file to wait on; a record out of range is
// named, replaced by the defaults for the run and repairable; a refused
// preset table is kept before it is overwritten; writes keep the rules of
// any output; a settings folder that is a dangling link is called one.
TEST(Settings, DamagedOrPlantedFilesAreNamedAndLoseNothing) {
  ScratchDir dir;
  const std::string cfg = dir / "cfg";
  fs::create_directory(cfg);
  ASSERT_EQ(::mkfifo((cfg + "/Presets").c_str(), 0600), 0);
  EXPECT_EQ(Shell("timeout 10 M --no-wait --config-dir " + Quote(cfg) + " " + Quote(ExamplePath())),
            ExitFailure);
  Outcome outcome = RunTool({"--config-dir", cfg, "presets", "list"});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_NE(outcome.err.find(cfg + "/Presets: is not a regular file"), std::string::npos)
      << outcome.err;
  fs::remove(cfg + "/Presets");

  // Every field -1.
  const std::string corrupt(85, '\xFF');
  WriteFile(cfg + "/UserDialog", corrupt);
  const Json plain =
      OnlyFile(RunTool({"--config-dir", dir / "none", "--report", "json", ExamplePath()}).out);
  outcome = RunTool({"--config-dir", cfg, "--report", "json", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  Json run = OnlyFile(outcome.out);
  ASSERT_TRUE(run.is_object()) << outcome.out;
  EXPECT_EQ(run["measures"], plain["measures"]);  // the defaults' result
  EXPECT_EQ(run["warnings"][0], cfg +
                                    "/UserDialog: autoUpdateLayout is -1, outside 0..1; "
                                    "the default options are used");
  EXPECT_EQ(ReadFile(cfg + "/UserDialog"), corrupt);  // a run writes nothing
  outcome = RunTool({"--config-dir", cfg, "--set", "useComposite=0", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  outcome = RunTool({"--config-dir", cfg, "options", "set", "useComposite=0"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_NE(ReadFile(cfg + "/UserDialog"), corrupt);
  outcome = RunTool({"--config-dir", cfg, "options", "show"});
  EXPECT_EQ(outcome.err, "");

  // A preset table of the right size whose count is no count.
  std::string table(1622, '\0');
  for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<char>(i * 37 + 11);
  WriteFile(cfg + "/Presets", table);
  outcome = RunTool({"--config-dir", cfg, "presets", "list"});
  EXPECT_NE(outcome.err.find("meterfix: " + cfg + "/Presets: warning: its count of presets is"),
            std::string::npos)
      << outcome.err;
  EXPECT_EQ(RunTool({"--config-dir", cfg, "presets", "save", "p2"}).exitCode, 0);
  EXPECT_EQ(ReadFile(cfg + "/Presets.bad"), table);

  // Hard links and devices, as for any output.
  const std::string other = dir / "other";
  fs::create_directory(other);
  ASSERT_EQ(::link((cfg + "/Presets").c_str(), (other + "/Presets").c_str()), 0);
  const std::string shared = ReadFile(cfg + "/Presets");
  outcome = RunTool({"--config-dir", cfg, "presets", "save", "p3"});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_NE(outcome.err.find("hard links"), std::string::npos) << outcome.err;
  EXPECT_EQ(ReadFile(other + "/Presets"), shared);
  EXPECT_EQ(RunTool({"--config-dir", cfg, "--break-links", "presets", "save", "p3"}).exitCode, 0);
  fs::remove(cfg + "/Presets");
  fs::create_symlink("/dev/zero", cfg + "/Presets");
  outcome = RunTool({"--config-dir", cfg, "presets", "save", "p4"});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_NE(outcome.err.find("not a regular file"), std::string::npos) << outcome.err;

  // The real size of an over-long file; a dangling link said to be one.
  fs::remove(cfg + "/Presets");
  WriteFile(cfg + "/UserDialog", std::string(6926, '\0'));
  outcome = RunTool({"--config-dir", cfg, "presets", "list"});
  EXPECT_NE(outcome.err.find("UserDialog: warning: holds 6926 bytes, not 85"), std::string::npos)
      << outcome.err;
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  outcome = RunTool({"--config-dir", dir / "dangling", "presets", "save", "p5"});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_NE(outcome.err.find("dangling"), std::string::npos) << outcome.err;
}

// Names that are not UTF-8, found in a folder and run by workers, stay
// distinct in both reports.
TEST(Messages, NamesThatAreNotTextStayDistinct) {
  ScratchDir dir;
  fs::create_directory(dir.path() / "nu2");
  WriteFile(dir / "nu2/\xFF.musicxml", ReadFile(ExamplePath()));
  WriteFile(dir / "nu2/\xFE.musicxml", ReadFile(ExamplePath()));
  Outcome outcome = RunTool({"--config-dir", dir / "cfg", "--jobs", "2", dir / "nu2"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("nu2/\\xFE.musicxml: "), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("nu2/\\xFF.musicxml: "), std::string::npos) << outcome.out;
  outcome = RunTool({"--config-dir", dir / "cfg", "--jobs", "2", "--report", "json", dir / "nu2"});
  const Json report = Json::parse(outcome.out, nullptr, false);
  ASSERT_TRUE(report.is_object()) << outcome.out;
  const Json& files = report["files"];
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0]["file"], dir / "nu2/\\xFE.musicxml");
  EXPECT_EQ(files[1]["file"], dir / "nu2/\\xFF.musicxml");
  // The exact bytes, for a reader that opens the file.
  for (const Json& file : files) {
    std::string bytes;
    const std::string hex = file["file_bytes"].get<std::string>();
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
      bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    EXPECT_TRUE(fs::exists(bytes)) << hex;
  }
}

}  // namespace
