#include "cli_test_support.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace clitest {

namespace {

std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace

Outcome RunTool(const std::vector<std::string>& args, const std::string& stdinText,
                const std::vector<std::string>& env) {
  ScratchDir io;
  WriteFile(io / "in", stdinText);
  std::string command = "env";
  for (const std::string& variable : env) command += " " + Quote(variable);
  command += " ";
  command += Quote(MeterfixPath);
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " <" + Quote(io / "in") + " >" + Quote(io / "out") + " 2>" + Quote(io / "err");
  const int status = std::system(command.c_str());
  Outcome outcome;
  // The shell reports a child killed by a signal as 128 + signal.
  if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) < 128) {
    outcome.exitCode = WEXITSTATUS(status);
  }
  outcome.out = ReadFile(io / "out");
  outcome.err = ReadFile(io / "err");
  return outcome;
}

ScratchDir::ScratchDir() {
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    path_ = base / ("meterfix-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(path_)) break;
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

std::vector<std::string> ListDir(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ExamplePath() { return std::string(KQ_SOURCE_DIR) + "/examples/mixed-meters.musicxml"; }

}  // namespace clitest
