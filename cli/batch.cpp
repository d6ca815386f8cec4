#include "cli/batch.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>

#include "cli/safe_file.h"
#include "musicxml/musicxml.h"

namespace meterfix {

namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

bool IsScoreName(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".musicxml" || extension == ".xml" || extension == ".mxl";
}

bool Hidden(const fs::path& path) {
  const std::string name = path.filename().string();
  return !name.empty() && name[0] == '.';
}

// Results cross from a worker as CBOR, which keeps every string's bytes
// (a file name need not be UTF-8); this carries every field, unlike the
// report's schema.
Json StateJson(const SignatureState& s) {
  Json j{{"present", s.present},
         {"top", s.signature.top},
         {"bottom", s.signature.bottom},
         {"hidden", s.hidden}};
  if (s.display) j["display"] = {s.display->top, s.display->bottom};
  return j;
}
SignatureState StateFrom(const Json& j) {
  SignatureState s;
  s.present = j.at("present").get<bool>();
  s.signature = {j.at("top").get<std::string>(), j.at("bottom").get<std::string>()};
  s.hidden = j.at("hidden").get<bool>();
  if (j.contains("display")) {
    s.display =
        SignatureText{j["display"][0].get<std::string>(), j["display"][1].get<std::string>()};
  }
  return s;
}

// A layer of a picture: per entry its position, value, group start and
// skip, then its look, as one array of numbers.
Json LayerJson(const LayerPicture& picture) {
  Json entries = Json::array();
  const musicxml::WrittenLayer& layer = picture.layer;
  for (std::size_t i = 0; i < layer.entries.size() && i < layer.looks.size(); ++i) {
    const simhost::Entry& e = layer.entries[i];
    const musicxml::EntryLook& look = layer.looks[i];
    entries.push_back({e.position, e.duration, e.beamStart, e.skip, look.type, look.beams,
                       look.tupletNumber, look.dots, look.flags, look.tupletStarts,
                       look.tupletStops});
  }
  return Json{picture.part, picture.staffInPart, layer.voice, layer.duration, entries};
}
LayerPicture LayerFrom(const Json& j) {
  LayerPicture picture;
  picture.part = j.at(0).get<int>();
  picture.staffInPart = j.at(1).get<int>();
  picture.layer.voice = j.at(2).get<std::string>();
  picture.layer.duration = j.at(3).get<std::int32_t>();
  for (const Json& n : j.at(4)) {
    simhost::Entry e;
    e.position = n.at(0).get<std::int32_t>();
    e.duration = n.at(1).get<std::int32_t>();
    e.beamStart = n.at(2).get<bool>();
    e.skip = n.at(3).get<bool>();
    musicxml::EntryLook look;
    look.type = n.at(4).get<std::int32_t>();
    look.beams = n.at(5).get<std::uint32_t>();
    look.tupletNumber = n.at(6).get<std::uint16_t>();
    look.dots = n.at(7).get<std::uint8_t>();
    look.flags = n.at(8).get<std::uint8_t>();
    look.tupletStarts = n.at(9).get<std::uint8_t>();
    look.tupletStops = n.at(10).get<std::uint8_t>();
    picture.layer.entries.push_back(e);
    picture.layer.looks.push_back(look);
  }
  return picture;
}

Json ResultJson(const RunResult& result) {
  const FileReport& r = result.report;
  Json measures = Json::array();
  for (const MeasureChange& m : r.measures) {
    Json layers = Json::array();
    for (const LayerPicture& picture : m.layers) layers.push_back(LayerJson(picture));
    measures.push_back({m.measure, m.number, m.changed, StateJson(m.before), StateJson(m.after),
                        layers, m.evidence});
  }
  Json staves = Json::array();
  for (const StaffChange& s : r.staves) {
    staves.push_back({s.staff, s.measure, StateJson(s.before), StateJson(s.after)});
  }
  Json kept = Json::array();
  for (const KeptChange& k : r.kept) {
    kept.push_back(
        {k.measure, k.number, k.staff, StateJson(k.plugin), StateJson(k.written), k.reason});
  }
  Json messages = Json::array();
  for (const Message& m : r.messages) messages.push_back({m.caption, m.text});
  return Json{{"ok", result.ok},
              {"error", result.error},
              {"file", r.file},
              {"reportError", r.error},
              {"changed", r.changed},
              {"measures", measures},
              {"staves", staves},
              {"kept", kept},
              {"messages", messages},
              {"warnings", r.warnings},
              {"partNames", r.partNames},
              {"output", r.output},
              {"outputRequested", r.outputRequested}};
}

RunResult ResultFrom(const Json& j) {
  RunResult result;
  result.ok = j.at("ok").get<bool>();
  result.error = j.at("error").get<std::string>();
  FileReport& r = result.report;
  r.file = j.at("file").get<std::string>();
  r.error = j.at("reportError").get<std::string>();
  r.changed = j.at("changed").get<bool>();
  for (const Json& m : j.at("measures")) {
    std::vector<LayerPicture> layers;
    for (const Json& layer : m[5]) layers.push_back(LayerFrom(layer));
    r.measures.push_back({m[0].get<int>(), m[1].get<std::string>(), m[2].get<bool>(),
                          StateFrom(m[3]), StateFrom(m[4]), std::move(layers),
                          m[6].get<std::string>()});
  }
  for (const Json& s : j.at("staves")) {
    r.staves.push_back({s[0].get<int>(), s[1].get<int>(), StateFrom(s[2]), StateFrom(s[3])});
  }
  for (const Json& k : j.at("kept")) {
    r.kept.push_back({k[0].get<int>(), k[1].get<std::string>(), k[2].get<int>(), StateFrom(k[3]),
                      StateFrom(k[4]), k[5].get<std::string>()});
  }
  for (const Json& m : j.at("messages")) {
    r.messages.push_back({m[0].get<std::string>(), m[1].get<std::string>()});
  }
  r.warnings = j.at("warnings").get<std::vector<std::string>>();
  r.partNames = j.at("partNames").get<std::vector<std::string>>();
  r.output = j.at("output").get<std::string>();
  r.outputRequested = j.at("outputRequested").get<bool>();
  return result;
}

bool SendAll(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Messages both ways are a 64-bit length and that many bytes.
std::string Framed(const std::string& body) {
  const std::uint64_t size = body.size();
  return std::string(reinterpret_cast<const char*>(&size), sizeof size) + body;
}
bool Unframe(std::string& buffer, std::string& body) {
  std::uint64_t size = 0;
  if (buffer.size() < sizeof size) return false;
  std::memcpy(&size, buffer.data(), sizeof size);
  if (buffer.size() - sizeof size < size) return false;
  body = buffer.substr(sizeof size, size);
  buffer.erase(0, sizeof size + size);
  return true;
}

// A worker takes indices until its socket closes, and answers each with
// the result; it never returns.
[[noreturn]] void ServeAsWorker(int fd, const std::vector<RunRequest>& requests,
                                const std::function<RunResult(const RunRequest&)>& work) {
  std::string buffer;
  for (;;) {
    std::string body;
    while (!Unframe(buffer, body)) {
      char chunk[256];
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ::_exit(0);
      buffer.append(chunk, static_cast<std::size_t>(n));
    }
    const std::size_t index = std::stoul(body);
    std::string answer;
    try {
      const std::vector<std::uint8_t> cbor = Json::to_cbor(ResultJson(work(requests[index])));
      answer.assign(cbor.begin(), cbor.end());
    } catch (...) {
      ::_exit(3);
    }
    if (!SendAll(fd, Framed(answer))) ::_exit(4);
  }
}

struct Worker {
  pid_t pid = -1;
  int fd = -1;
  bool busy = false;
  std::size_t index = 0;
  std::string buffer;
};

void RemoveTemporariesBeside(const std::string& output) {
  if (output.empty() || output == "-") return;
  std::string target;
  std::string ignored;
  if (!ResolveReplacedFile(output, target, ignored)) return;
  const std::string dir = fs::path(target).parent_path().string();
  RemoveStaleTemporaries(dir.empty() ? "." : dir);
}

// The scores under `dir`, and each folder that cannot be read as a failed
// input of its own: one unreadable folder costs only what is in it.
void FindScores(const fs::path& top, const fs::path& dir, std::vector<BatchInput>& found) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path& path = it->path();
    if (Hidden(path)) continue;
    std::error_code typeError;
    // Links to folders are not followed, as a recursive listing does not.
    if (fs::is_directory(it->symlink_status(typeError))) {
      FindScores(top, path, found);
      continue;
    }
    if (!it->is_regular_file(typeError) || !IsScoreName(path)) continue;
    found.push_back({path.string(), path.lexically_relative(top).string(), {}});
  }
  if (ec) {
    found.push_back({dir.string(), dir.lexically_relative(top).string(),
                     dir.string() + ": cannot read the folder: " + ec.message()});
  }
}

}  // namespace

bool ExpandInputs(const std::vector<std::string>& inputs, std::vector<BatchInput>& out,
                  std::string& error) {
  for (const std::string& input : inputs) {
    std::error_code ec;
    if (input == "-" || !fs::is_directory(input, ec)) {
      out.push_back({input, input == "-" ? input : fs::path(input).filename().string(), {}});
      continue;
    }
    std::vector<BatchInput> found;
    FindScores(input, input, found);
    if (found.empty()) {
      error = input + ": the folder holds no .musicxml, .xml or .mxl file";
      return false;
    }
    std::sort(found.begin(), found.end(),
              [](const BatchInput& a, const BatchInput& b) { return a.relative < b.relative; });
    out.insert(out.end(), found.begin(), found.end());
  }
  return true;
}

std::vector<RunResult> RunBatch(const std::vector<RunRequest>& requests, int workers,
                                const std::function<RunResult(const RunRequest&)>& work,
                                const std::function<void(std::size_t, const RunResult&)>& done) {
  std::vector<RunResult> results(requests.size());
  if (workers <= 1 || requests.size() <= 1) {
    for (std::size_t i = 0; i < requests.size(); ++i) {
      results[i] = work(requests[i]);
      done(i, results[i]);
    }
    return results;
  }
  // The largest scores first, so that the last one to finish is a small one;
  // an archive counts by what it unpacks to.
  std::vector<std::size_t> order(requests.size());
  std::vector<std::uint64_t> sizes(requests.size(), 0);
  for (std::size_t i = 0; i < requests.size(); ++i) {
    order[i] = i;
    if (requests[i].input != "-") sizes[i] = musicxml::ScoreWorkSize(requests[i].input);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });

  std::vector<Worker> pool;
  std::size_t next = 0;
  auto fail = [&](std::size_t index, const std::string& why) {
    const std::string& input = requests[index].input;
    results[index] = RunResult{};
    results[index].report.file = input == "-" ? "<stdin>" : input;
    results[index].error = results[index].report.file + ": " + why;
    done(index, results[index]);
  };
  auto start = [&]() -> bool {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(fds[0]);
      for (const Worker& other : pool) ::close(other.fd);
      ServeAsWorker(fds[1], requests, work);
    }
    ::close(fds[1]);
    if (pid < 0) {
      ::close(fds[0]);
      return false;
    }
    pool.push_back({pid, fds[0], false, 0, {}});
    return true;
  };
  auto stop = [&](Worker& worker) {
    ::close(worker.fd);
    int status = 0;
    while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
  };
  auto assign = [&](Worker& worker) {
    while (next < order.size()) {
      const std::size_t index = order[next++];
      if (SendAll(worker.fd, Framed(std::to_string(index)))) {
        worker.busy = true;
        worker.index = index;
        return;
      }
      fail(index, "cannot hand it to a worker process");
    }
  };

  const std::size_t wanted = std::min(static_cast<std::size_t>(workers), requests.size());
  while (pool.size() < wanted && start()) {
  }
  if (pool.empty()) {
    for (std::size_t index : order)
      fail(index, std::string("cannot start a worker: ") + std::strerror(errno));
    return results;
  }
  for (Worker& worker : pool) assign(worker);

  for (;;) {
    std::vector<pollfd> polls;
    for (const Worker& worker : pool) polls.push_back({worker.fd, POLLIN, 0});
    bool anyBusy = false;
    for (const Worker& worker : pool) anyBusy = anyBusy || worker.busy;
    if (!anyBusy) break;
    if (::poll(polls.data(), polls.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (std::size_t k = pool.size(); k-- > 0;) {
      if (polls[k].revents == 0) continue;
      Worker& worker = pool[k];
      char chunk[65536];
      const ssize_t n = ::read(worker.fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n > 0) {
        worker.buffer.append(chunk, static_cast<std::size_t>(n));
        std::string body;
        if (!worker.busy || !Unframe(worker.buffer, body)) continue;
        RunResult result;
        bool parsed = false;
        const Json json = Json::from_cbor(body, true, false);
        try {
          if (json.is_object()) {
            result = ResultFrom(json);
            parsed = true;
          }
        } catch (const Json::exception&) {
        }
        worker.busy = false;
        if (parsed) {
          results[worker.index] = std::move(result);
          done(worker.index, results[worker.index]);
        } else {
          fail(worker.index, "the worker process gave no result");
        }
        assign(worker);
        continue;
      }
      // The worker ended: the input it had is lost, the others go on.
      const bool busy = worker.busy;
      const std::size_t index = worker.index;
      const int status = stop(worker);
      pool.erase(pool.begin() + static_cast<std::ptrdiff_t>(k));
      if (busy) {
        // A worker killed outright (SIGKILL) could not remove its temporary
        // file; with the worker gone it is debris, removed here.
        RemoveTemporariesBeside(requests[index].output);
        fail(index, WIFSIGNALED(status) ? "the worker process was ended by signal " +
                                              std::to_string(WTERMSIG(status))
                                        : "the worker process failed");
      }
      if (next < order.size() && start()) assign(pool.back());
    }
    if (pool.empty()) {
      while (next < order.size()) fail(order[next++], "no worker process is left");
      break;
    }
  }
  for (Worker& worker : pool) stop(worker);
  return results;
}

}  // namespace meterfix
