// Running the built meterfix binary from tests, and scratch directories.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace clitest {

struct Outcome {
  int exitCode = -1;  // -1: did not exit normally (a crash)
  std::string out;    // standard output
  std::string err;    // standard error
};

// Runs meterfix with the arguments (each passed as one word), standard input
// from `stdinText`, and the environment variables `env` ("NAME=value").
Outcome RunTool(const std::vector<std::string>& args, const std::string& stdinText = {},
                const std::vector<std::string>& env = {});

// A fresh directory, removed when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// Names of the entries of a directory, sorted.
std::vector<std::string> ListDir(const std::filesystem::path& dir);

std::string ExamplePath();

// The lines of a text, without their newlines.
std::vector<std::string> Lines(const std::string& text);

// A zip archive of stored (uncompressed) members, in order.
std::string StoredZip(const std::vector<std::pair<std::string, std::string>>& members);

// The one file of a JSON report (schema 2); discarded when the text is no
// such report.
nlohmann::json OnlyFile(const std::string& text);

}  // namespace clitest
