// meterfix against a user's slips and a hostile neighbour: files named
// twice, planted links, in-place rewrites, concurrent runs, terminal escapes
// in score text, misleading exits, and scores too large to hold.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "cli/safe_file.h"
#include "cli_test_support.h"
#include "musicxml/file_io.h"
#include "musicxml/zip_io.h"

extern char** environ;

namespace {

using clitest::ExamplePath;
using clitest::Lines;
using clitest::ListDir;
using clitest::OnlyFile;
using clitest::Outcome;
using clitest::ReadFile;
using clitest::RunTool;
using clitest::ScratchDir;
using clitest::StoredZip;
using clitest::WriteFile;
using Json = nlohmann::json;
namespace fs = std::filesystem;

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
constexpr uid_t Nobody = 65534;

bool OneLine(const std::string& err) {
  return !err.empty() && err.find('\n') == err.size() - 1 && err.rfind("meterfix: ", 0) == 0;
}

// meterfix started without waiting for it; its output is dropped.
pid_t Start(const std::vector<std::string>& args) {
  std::vector<std::string> words = {MeterfixPath};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, MeterfixPath, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int Finish(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// 1: no path of a run may name a file another path of the run names.
TEST(Paths, EveryFileARunReadsOrWritesIsAnotherFile) {
  ScratchDir dir;
  const std::string a = dir / "a.musicxml";
  const std::string b = dir / "b.musicxml";
  const std::string score = ReadFile(ExamplePath());
  WriteFile(a, score);
  WriteFile(b, score);
  fs::create_symlink("a.musicxml", dir / "alias.musicxml");
  const std::vector<std::vector<std::string>> rows = {
      {"--in-place", "--report-file", a, a, b},  // what `--report-file *.musicxml` expands to
      {"--report-file", a, a},
      {"-o", dir / "o.musicxml", "--report-file", dir / "o.musicxml", a},
      {"--out-dir", dir.path().string() + "/.", b},
      {"-o", dir / "alias.musicxml", a},
      {"--in-place", a, dir / "alias.musicxml"},
      {"-o", "-", "--report-file", "-", a},
  };
  for (const auto& row : rows) {
    std::string joined;
    for (const std::string& arg : row) joined += arg + " ";
    SCOPED_TRACE(joined);
    const Outcome outcome = RunTool(row);
    EXPECT_EQ(outcome.exitCode, ExitUsage);
    EXPECT_TRUE(OneLine(outcome.err)) << outcome.err;
    EXPECT_NE(outcome.err.find("same file"), std::string::npos) << outcome.err;
    EXPECT_TRUE(outcome.out.empty());
    EXPECT_EQ(ReadFile(a), score);
    EXPECT_EQ(ReadFile(b), score);
    EXPECT_EQ(ListDir(dir.path()),
              (std::vector<std::string>{"a.musicxml", "alias.musicxml", "b.musicxml"}));
  }
}

// 2: in a sticky, world-writable directory a link is followed only when it
// belongs to the user or to the directory's owner, as the kernel does.
TEST(Paths, ALinkInAStickyDirectoryIsFollowedOnlyAsTheKernelWould) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to plant a link owned by another user";
  struct Row {
    uid_t linkOwner;
    uid_t directoryOwner;
    bool followed;
  };
  const Row rows[] = {{Nobody, 0, false}, {0, 0, true}, {Nobody, Nobody, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.linkOwner) + " " + std::to_string(row.directoryOwner));
    ScratchDir dir;
    const std::string shared = dir / "shared";
    fs::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(::chown(shared.c_str(), row.directoryOwner, row.directoryOwner), 0);
    const std::string victim = dir / "victim.musicxml";
    WriteFile(victim, "precious");
    const std::string link = shared + "/out.musicxml";
    fs::create_symlink(victim, link);
    ASSERT_EQ(::lchown(link.c_str(), row.linkOwner, row.linkOwner), 0);
    const Outcome outcome = RunTool({"--report", "none", "-o", link, ExamplePath()});
    EXPECT_TRUE(fs::is_symlink(link));
    if (row.followed) {
      EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
      EXPECT_NE(ReadFile(victim), "precious");
    } else {
      EXPECT_EQ(outcome.exitCode, ExitFailure);
      EXPECT_TRUE(OneLine(outcome.err)) << outcome.err;
      EXPECT_NE(outcome.err.find("not followed"), std::string::npos) << outcome.err;
      EXPECT_EQ(ReadFile(victim), "precious");
    }
    EXPECT_EQ(ListDir(shared), std::vector<std::string>{"out.musicxml"});
  }
  // A chain that leads nowhere is an error, never a half-resolved write.
  ScratchDir dir;
  fs::create_symlink("loop.musicxml", dir / "loop.musicxml");
  const Outcome outcome = RunTool({"-o", dir / "loop.musicxml", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_TRUE(fs::is_symlink(dir / "loop.musicxml"));
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"loop.musicxml"});
}

// 3: an in-place rewrite keeps owner, group and mode (less setuid/setgid)
// and refuses a file with several names unless told to break them.
TEST(InPlace, TheRewrittenFileIsWhatItWasAndHardLinksAreKept) {
  ScratchDir dir;
  const std::string file = dir / "f.musicxml";
  const std::string other = dir / "g.musicxml";
  const std::string score = ReadFile(ExamplePath());
  WriteFile(file, score);
  ASSERT_EQ(::chmod(file.c_str(), 06754), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(file.c_str(), Nobody, Nobody), 0);
  }
  ASSERT_EQ(::link(file.c_str(), other.c_str()), 0);

  Outcome outcome = RunTool({"--report", "none", "--in-place", file});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_TRUE(OneLine(outcome.err)) << outcome.err;
  EXPECT_NE(outcome.err.find("hard links"), std::string::npos) << outcome.err;
  EXPECT_EQ(ReadFile(file), score);
  EXPECT_EQ(fs::hard_link_count(file), 2u);

  outcome = RunTool({"--report", "none", "--in-place", "--break-links", file});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_NE(ReadFile(file), score);
  EXPECT_EQ(ReadFile(other), score);  // the other name keeps the old content
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0754u);
  if (root) {
    EXPECT_EQ(st.st_uid, Nobody);
    EXPECT_EQ(st.st_gid, Nobody);
  }
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"f.musicxml", "g.musicxml"}));
}

// 3: a run ended by SIGINT or SIGTERM while its temporary file exists
// leaves nothing behind.
TEST(InPlace, AnInterruptedWriteLeavesNoTemporaryFile) {
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    ScratchDir dir;
    const std::string target = dir / "score.musicxml";
    WriteFile(target, "old");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      meterfix::Replacement replacement;
      std::string error;
      if (!replacement.Open(target, error)) ::_exit(3);
      ::raise(signal);
      ::_exit(4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"score.musicxml"});
    EXPECT_EQ(ReadFile(target), "old");
  }
}

// 4: concurrent runs on one settings directory or one in-place file lose
// nothing, whatever the interleaving.
TEST(Concurrency, RunsAtOnceLoseNothing) {
  ScratchDir dir;
  const std::string cfg = dir / "cfg";
  std::vector<pid_t> runs;
  runs.push_back(Start({"--config-dir", cfg, "options", "set", "hideTimeSig=1"}));
  for (int i = 0; i < 8; ++i) {
    runs.push_back(Start({"--config-dir", cfg, "presets", "save", "P" + std::to_string(i)}));
  }
  for (const pid_t pid : runs) EXPECT_EQ(Finish(pid), 0);
  Outcome outcome = RunTool({"--config-dir", cfg, "presets", "list"});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const std::vector<std::string> names = Lines(outcome.out);
  EXPECT_EQ(names.size(), 12u) << outcome.out;
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(std::count(names.begin(), names.end(), "P" + std::to_string(i)), 1) << i;
  }
  outcome = RunTool({"--config-dir", cfg, "options", "show"});
  EXPECT_NE(outcome.out.find("hideTimeSig             = 1"), std::string::npos) << outcome.out;

  // Two in-place runs on one file, each changing a measure of its own.
  for (int round = 0; round < 4; ++round) {
    const std::string file = dir / ("f" + std::to_string(round) + ".musicxml");
    WriteFile(file, ReadFile(ExamplePath()));
    const pid_t first = Start({"--config-dir", cfg, "--in-place", "--measures", "3", file});
    const pid_t second = Start({"--config-dir", cfg, "--in-place", "--measures", "5", file});
    EXPECT_EQ(Finish(first), 0);
    EXPECT_EQ(Finish(second), 0);
    outcome = RunTool({"--config-dir", cfg, "--report", "json", "--measures", "3-5", file});
    const Json report = OnlyFile(outcome.out);
    ASSERT_TRUE(report.is_object()) << outcome.err;
    EXPECT_FALSE(report["measures"][0]["changed"].get<bool>()) << round;  // 3: done
    EXPECT_FALSE(report["measures"][2]["changed"].get<bool>()) << round;  // 5: done
  }
}

// 4: a second run waits for the first, or with --no-wait says so at once.
TEST(Concurrency, ASecondRunWaitsOrFailsClearly) {
  ScratchDir dir;
  const std::string cfg = dir / "cfg";
  fs::create_directory(cfg);
  const std::string file = dir / "f.musicxml";
  WriteFile(file, ReadFile(ExamplePath()));
  const int cfgLock = ::open(cfg.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int fileLock = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(cfgLock, LOCK_EX), 0);
  ASSERT_EQ(::flock(fileLock, LOCK_EX), 0);

  Outcome outcome = RunTool({"--config-dir", cfg, "--no-wait", "presets", "save", "Mine"});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_TRUE(OneLine(outcome.err)) << outcome.err;
  EXPECT_NE(outcome.err.find("another meterfix run"), std::string::npos) << outcome.err;
  outcome = RunTool({"--no-wait", "--in-place", file});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_NE(outcome.err.find("another meterfix run"), std::string::npos) << outcome.err;
  EXPECT_EQ(ReadFile(file), ReadFile(ExamplePath()));

  const pid_t waiting = Start({"--config-dir", cfg, "presets", "save", "Mine"});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  int status = 0;
  EXPECT_EQ(::waitpid(waiting, &status, WNOHANG), 0);  // still waiting
  ::close(cfgLock);
  EXPECT_EQ(Finish(waiting), 0);
  ::close(fileLock);
  outcome = RunTool({"--config-dir", cfg, "presets", "show", "Mine"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
}

// 5: text from the score never reaches the terminal as control characters.
TEST(Messages, ScoreTextIsEscaped) {
  ScratchDir dir;
  const std::string hostile = dir / "title\x1b]0;pwned\x07.musicxml";
  WriteFile(hostile, ReadFile(ExamplePath()));
  const std::string unequal = dir / "unequal.musicxml";
  WriteFile(unequal,
            "<?xml version=\"1.0\"?><score-partwise><part-list><score-part id=\"P1\"/>"
            "<score-part id=\"P2\"/></part-list><part id=\"P1&#x9B;2J\"><measure number=\"1\"/>"
            "</part><part id=\"P2\"><measure number=\"1\"/><measure number=\"2\"/></part>"
            "</score-partwise>");
  // XML 1.0 has no reference to ESC itself; its 8-bit twin CSI (U+009B) is
  // a legal character that some terminals obey all the same.
  const std::vector<std::pair<std::string, std::string>> rows = {{hostile, "\\x1B"},
                                                                 {unequal, "\\xC2\\x9B"}};
  for (const auto& [input, escaped] : rows) {
    SCOPED_TRACE(input);
    const Outcome outcome = RunTool({input});
    const std::string shown = outcome.out + outcome.err;  // the report and the messages
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\x07'), std::string::npos) << shown;
    EXPECT_EQ(shown.find("\xC2\x9B"), std::string::npos) << shown;
    EXPECT_NE(shown.find(escaped), std::string::npos) << shown;
  }
}

// A zip of the example whose score states `delta` bytes more than it holds.
std::string LyingArchive(int delta) {
  std::string archive;
  std::string error;
  EXPECT_TRUE(musicxml::MakeArchive("score.musicxml", ReadFile(ExamplePath()), archive, error));
  const std::string name = "score.musicxml";
  // Uncompressed size: offset 22 of a local header, 24 of a central one.
  for (const auto& [signature, field] :
       {std::pair{std::string("PK\x03\x04"), 22}, std::pair{std::string("PK\x01\x02"), 24}}) {
    for (std::size_t at = archive.find(signature); at != std::string::npos;
         at = archive.find(signature, at + 1)) {
      const std::size_t nameAt = at + (field == 22 ? 30 : 46);
      if (archive.compare(nameAt, name.size(), name) != 0) continue;
      auto* p = reinterpret_cast<unsigned char*>(archive.data() + at + field);
      std::uint32_t size = p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
      size += static_cast<std::uint32_t>(delta);
      for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(size >> (8 * i));
    }
  }
  return archive;
}

// 6: exit codes and messages say what happened.
TEST(Messages, ExitCodesAndMessagesSayWhatHappened) {
  ScratchDir dir;
  const std::string cfg = dir / "cfg";
  // An unknown preset is the same mistake wherever it is named.
  EXPECT_EQ(RunTool({"--config-dir", cfg, "presets", "show", "Nope"}).exitCode, ExitUsage);
  EXPECT_EQ(RunTool({"--config-dir", cfg, "--preset", "Nope", ExamplePath()}).exitCode, ExitUsage);
  // Output that cannot be written is a failure.
  for (const std::string& args : {std::string("--help"), "--config-dir " + cfg + " presets list"}) {
    SCOPED_TRACE(args);
    const std::string command = std::string(MeterfixPath) + " " + args + " >/dev/full 2>/dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), ExitFailure);
  }
  // An archive whose sizes lie says so.
  for (const int delta : {100, -100}) {
    SCOPED_TRACE(delta);
    const std::string lying = dir / "lying.mxl";
    WriteFile(lying, LyingArchive(delta));
    const Outcome outcome = RunTool({lying});
    EXPECT_EQ(outcome.exitCode, ExitFailure);
    EXPECT_TRUE(OneLine(outcome.err)) << outcome.err;
    EXPECT_EQ(outcome.err.find("No error"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("score.musicxml: the member"), std::string::npos) << outcome.err;
  }
  // "-" is standard output for the report as for the score.
  Outcome outcome = RunTool({"--report", "json", "--report-file", "-", ExamplePath()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_TRUE(OnlyFile(outcome.out).is_object()) << outcome.out;
  EXPECT_FALSE(fs::exists("-"));
  // A plain copy of an archive names what it leaves behind.
  const std::string mxl = dir / "extra.mxl";
  WriteFile(mxl, StoredZip({{"META-INF/container.xml",
                             "<container><rootfiles><rootfile full-path=\"score.musicxml\"/>"
                             "</rootfiles></container>"},
                            {"score.musicxml", ReadFile(ExamplePath())},
                            {"cover.png", "picture"}}));
  outcome = RunTool({"-o", dir / "plain.musicxml", mxl});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("not kept: cover.png"), std::string::npos) << outcome.out;
  // Preset names are limited in bytes: 15 two-byte letters fit, 16 do not.
  std::string name;
  for (int i = 0; i < 15; ++i) name += "\xc3\xa9";
  EXPECT_EQ(RunTool({"--config-dir", cfg, "presets", "save", name}).exitCode, 0);
  outcome = RunTool({"--config-dir", cfg, "presets", "save", name + "\xc3\xa9"});
  EXPECT_EQ(outcome.exitCode, ExitUsage);
  EXPECT_NE(outcome.err.find("32 bytes"), std::string::npos) << outcome.err;
}

// Bounded memory: a score past the limit fails before the memory is spent.
TEST(Memory, OneScoreHasALimit) {
  ScratchDir dir;
  Outcome outcome = RunTool({"--max-score-size", "1", "/dev/zero"});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_NE(outcome.err.find("larger than 1 MiB"), std::string::npos) << outcome.err;
  std::string many;
  while (many.size() <= (std::size_t{1} << 20)) many += "<a>\n";
  outcome = RunTool({"--max-score-size", "1", "-"}, many);
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_NE(outcome.err.find("<stdin>: cannot read: larger than 1 MiB"), std::string::npos)
      << outcome.err;
  // Two MiB of score packed into a few KiB.
  std::string padded = ReadFile(ExamplePath()) + std::string(std::size_t{2} << 20, ' ');
  std::string archive;
  std::string error;
  ASSERT_TRUE(musicxml::MakeArchive("score.musicxml", padded, archive, error));
  ASSERT_LT(archive.size(), std::size_t{64} << 10);
  WriteFile(dir / "bomb.mxl", archive);
  outcome = RunTool({"--max-score-size", "1", dir / "bomb.mxl"});
  EXPECT_EQ(outcome.exitCode, ExitFailure);
  EXPECT_NE(outcome.err.find("unpacks to larger than 1 MiB"), std::string::npos) << outcome.err;
  outcome = RunTool({"--report", "none", dir / "bomb.mxl"});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
}

// A replacement writes the whole file or nothing, keeps the mode, leaves a
// symbolic link a link and writes a pipe as it is.
TEST(Replace, WritesAndKeepsMode) {
  ScratchDir dir;
  const std::string path = dir / "out.xml";
  std::string error;
  ASSERT_TRUE(meterfix::ReplaceFile(path, "one", error)) << error;
  ::chmod(path.c_str(), 0640);
  ASSERT_TRUE(meterfix::ReplaceFile(path, "two", error)) << error;
  EXPECT_EQ(ReadFile(path), "two");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"out.xml"});
}

TEST(Replace, FailureLeavesTargetAndNoTemporary) {
  ScratchDir dir;
  const std::string target = dir / "taken";
  std::filesystem::create_directories(dir.path() / "taken" / "inside");
  std::string error;
  EXPECT_FALSE(meterfix::ReplaceFile(target, "data", error));
  EXPECT_EQ(error.rfind(target + ": cannot write: ", 0), 0u) << error;
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "taken" / "inside"));
  EXPECT_FALSE(meterfix::ReplaceFile(dir / "no/such.xml", "x", error));
  // Content that cannot be made replaces nothing.
  WriteFile(dir / "kept.xml", "old");
  const auto unmade = [](const meterfix::PieceSink& sink) {
    sink("new");
    return false;
  };
  EXPECT_FALSE(meterfix::ReplaceFile(dir / "kept.xml", unmade, error));
  EXPECT_EQ(ReadFile(dir / "kept.xml"), "old");
  EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"kept.xml", "taken"}));
}

TEST(Replace, SymbolicLinkStaysALink) {
  ScratchDir dir;
  std::string error;
  ASSERT_TRUE(meterfix::ReplaceFile(dir / "real.xml", "old", error)) << error;
  std::filesystem::create_symlink("real.xml", dir.path() / "link.xml");
  ASSERT_TRUE(meterfix::ReplaceFile(dir / "link.xml", "new", error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "link.xml"));
  EXPECT_EQ(ReadFile(dir / "real.xml"), "new");
  // A link to a file not yet there creates that file.
  std::filesystem::create_symlink("later.xml", dir.path() / "dangling.xml");
  ASSERT_TRUE(meterfix::ReplaceFile(dir / "dangling.xml", "made", error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "dangling.xml"));
  EXPECT_EQ(ReadFile(dir / "later.xml"), "made");
  EXPECT_EQ(ListDir(dir.path()).size(), 4u);
}

TEST(Replace, PipeIsWrittenNotReplaced) {
  ScratchDir dir;
  const std::string fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // An open reader lets the writer open the pipe without waiting.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::string error;
  EXPECT_TRUE(meterfix::ReplaceFile(fifo, "through", error)) << error;
  char buffer[16] = {};
  EXPECT_EQ(::read(reader, buffer, sizeof buffer), 7);
  ::close(reader);
  EXPECT_EQ(std::string(buffer), "through");
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"pipe"});
}

}  // namespace
