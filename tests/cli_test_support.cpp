#include "cli_test_support.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
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

static std::uint32_t Crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string StoredZip(const std::vector<std::pair<std::string, std::string>>& members) {
  std::string zip;
  std::string central;
  auto put16 = [](std::string& s, std::uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
  };
  auto put32 = [&](std::string& s, std::uint32_t v) {
    put16(s, static_cast<std::uint16_t>(v & 0xFFFF));
    put16(s, static_cast<std::uint16_t>(v >> 16));
  };
  for (const auto& [name, data] : members) {
    const std::uint32_t offset = static_cast<std::uint32_t>(zip.size());
    const std::uint32_t crc = Crc32(data);
    put32(zip, 0x04034b50);
    put16(zip, 20);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, 0);
    put32(zip, crc);
    put32(zip, static_cast<std::uint32_t>(data.size()));
    put32(zip, static_cast<std::uint32_t>(data.size()));
    put16(zip, static_cast<std::uint16_t>(name.size()));
    put16(zip, 0);
    zip += name + data;
    put32(central, 0x02014b50);
    put16(central, 20);
    put16(central, 20);
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put32(central, crc);
    put32(central, static_cast<std::uint32_t>(data.size()));
    put32(central, static_cast<std::uint32_t>(data.size()));
    put16(central, static_cast<std::uint16_t>(name.size()));
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put32(central, 0);
    put32(central, offset);
    central += name;
  }
  const std::uint32_t centralOffset = static_cast<std::uint32_t>(zip.size());
  zip += central;
  put32(zip, 0x06054b50);
  put16(zip, 0);
  put16(zip, 0);
  put16(zip, static_cast<std::uint16_t>(members.size()));
  put16(zip, static_cast<std::uint16_t>(members.size()));
  put32(zip, static_cast<std::uint32_t>(central.size()));
  put32(zip, centralOffset);
  put16(zip, 0);
  return zip;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

nlohmann::json OnlyFile(const std::string& text) {
  const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  if (!json.is_object() || json.value("schema", 0) != 2 || !json.contains("files") ||
      json["files"].size() != 1) {
    return nlohmann::json(nlohmann::json::value_t::discarded);
  }
  return json["files"][0];
}

}  // namespace clitest
