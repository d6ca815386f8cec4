#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/records.h"
#include "musicxml/file_io.h"
#include "musicxml/meter.h"
#include "musicxml/model.h"
#include "musicxml/musicxml.h"
#include "musicxml/reader.h"
#include "musicxml/text_io.h"
#include "musicxml/writer.h"
#include "musicxml/zip_io.h"

namespace musicxml {

struct Score::Impl {
  std::string name;
  std::string original;  // the loaded bytes
  bool archive = false;
  std::string rootPath;
  std::string rootBytes;  // an archive's root member as loaded
  SourceEncoding encoding;
  ScoreModel model;
  std::vector<std::string> warnings;
  std::vector<Edit> edits;  // verified, in order
  Reading written;          // the written file as the reader reads it (after ApplyHost)
  std::vector<KeptChange> kept;
  bool loaded = false;
  bool built = false;
  bool applied = false;
  bool planned = false;  // `written` and `kept` hold ApplyHost's result
  bool changed = false;
  bool keepLayers = false;

  // The score's own file: the loaded bytes, or the archive's root member.
  std::string_view Root() const {
    return archive ? std::string_view(rootBytes) : std::string_view(original);
  }
  Status Fail(const std::string& message) const {
    Status s;
    s.ok = false;
    s.message = name + ": " + message;
    return s;
  }
  Status Load();
  Status Apply(const simhost::Host& host);
  std::string EditedRoot() const {
    std::string out;
    out.reserve(Root().size() + 256 * edits.size());
    SpliceEdits(Root(), edits, [&](std::string_view piece) { out.append(piece); });
    return out;
  }
  // The file as it is to be written in its own form: an edited archive is
  // packed only here, when it is written, never for a run that only reports.
  bool OwnForm(std::string& out, std::string& error) const {
    if (!changed) {
      out = original;
      return true;
    }
    if (!archive) {
      out = EditedRoot();
      return true;
    }
    return ReplaceArchiveMember(original, rootPath, EditedRoot(), out, error);
  }
};

Status Score::Impl::Load() {
  Status status;
  std::string error;
  const std::string_view bytes = original;
  archive = bytes.size() >= 4 && bytes.substr(0, 2) == "PK" &&
            ((bytes[2] == 3 && bytes[3] == 4) || (bytes[2] == 5 && bytes[3] == 6));
  if (archive) {
    if (!ReadArchive(bytes, rootPath, rootBytes, status.warnings, error)) return Fail(error);
    for (auto& w : status.warnings) {
      w.insert(0, ": ");
      w.insert(0, name);
      warnings.push_back(w);
    }
  }
  const std::string label = archive ? name + ":" + rootPath : name;
  if (!DetectEncoding(Root(), encoding, error)) {
    Status s;
    s.ok = false;
    s.message = label + ": " + error;
    return s;
  }
  Status read = ReadScore(Root(), encoding, name, label, model, DefaultReadChunk,
                          ScoreReaders() > 1 ? DefaultSplitFrom : ~std::size_t{0});
  if (!read) return read;
  warnings.insert(warnings.end(), read.warnings.begin(), read.warnings.end());
  status.warnings.insert(status.warnings.end(), read.warnings.begin(), read.warnings.end());
  loaded = true;
  return status;
}

Status Score::Impl::Apply(const simhost::Host& host) {
  Status status;
  Plan plan;
  PlanEdits(model, host, Root(), encoding, name, plan, status.warnings);
  std::string error;
  if (!plan.edits.empty() && !FinishEdits(Root(), encoding, plan.edits, error)) {
    // Each edit checked on its own; together they do not fit: nothing is
    // written rather than a file that might not read back.
    status.warnings.push_back(name + ": kept as written: " + error);
    plan.edits.clear();
  }
  // Edits that change nothing the host gets are left out, so that a score
  // reads back the same only when it stays the same.
  if (plan.edits.empty() || SameForHost(model, plan.written)) {
    plan.edits.clear();
    plan.written = LoadedReading(model);
  }
  warnings.insert(warnings.end(), status.warnings.begin(), status.warnings.end());
  kept = KeptChanges(model, plan);
  written = std::move(plan.written);
  edits = std::move(plan.edits);
  changed = !edits.empty();
  planned = true;
  return status;
}

namespace {

// A meter in the host's texts, as StoreMeter's chains format: "3+3+2" over
// "512", "2++3" over "1024++512".
void MeterTexts(const Meter& meter, std::string& top, std::string& bottom) {
  top.clear();
  bottom.clear();
  for (const MeterGroup& g : meter.groups) {
    if (!top.empty()) top += "++";
    for (std::size_t i = 0; i < g.counts.size(); ++i) {
      if (i != 0) top += '+';
      top += std::to_string(g.counts[i]);
    }
    if (!bottom.empty()) bottom += "++";
    bottom += std::to_string(g.beatDuration);
  }
}

}  // namespace

Score::Score() : impl_(std::make_unique<Impl>()) {}
Score::~Score() = default;
Score::Score(Score&&) noexcept = default;
Score& Score::operator=(Score&&) noexcept = default;

namespace {
Status OutOfMemory(const std::string& name) {
  Status s;
  s.ok = false;
  s.message = name + ": out of memory";
  return s;
}
}  // namespace

Status Score::LoadFile(const std::string& path) {
  try {
    impl_ = std::make_unique<Impl>();
    impl_->name = path;
    std::string error;
    // One buffer of the file's size: reading never copies it to grow.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
        st.st_size <= (1 << 30)) {
      impl_->original.reserve(static_cast<std::size_t>(st.st_size));
    }
    if (!ReadWholeFile(path, impl_->original, error)) return impl_->Fail("cannot read: " + error);
    return impl_->Load();
  } catch (...) {
    if (impl_) impl_->loaded = impl_->built = false;
    return OutOfMemory(path);
  }
}

Status Score::LoadBytes(std::string_view bytes, const std::string& name) {
  try {
    impl_ = std::make_unique<Impl>();
    impl_->name = name == "-" ? "<stdin>" : name;
    impl_->original = std::string(bytes);
    return impl_->Load();
  } catch (...) {
    if (impl_) impl_->loaded = impl_->built = false;
    return OutOfMemory(name);
  }
}

Status Score::BuildHost(simhost::Host& host) {
  Impl& d = *impl_;
  if (!d.loaded) return d.Fail("no score loaded");
  if (d.built) return d.Fail("the score was already put into a host");
  ScoreModel& model = d.model;
  try {
    for (const StaffInfo& info : model.staves) {
      std::uint16_t flags = 0;
      if (info.hidden) flags |= HiddenStaffFlag;
      if (info.independent) flags |= IndependentSignaturesFlag;
      host.AddStaff(info.staff, flags);
    }
    // Equal signatures share their chains; the plug-in only ever adds chains.
    std::map<std::string, HostSignature> chains;
    auto store = [&](const Meter& meter) {
      const std::string key = MeterText(meter);
      auto it = chains.find(key);
      if (it == chains.end()) it = chains.emplace(key, StoreMeter(host, meter)).first;
      return it->second;
    };
    for (int m = 0; m < model.measureCount; ++m) {
      const auto mi = static_cast<std::size_t>(m);
      const auto measure = static_cast<std::int16_t>(m + 1);
      const Meter& meter = model.records[mi];
      const std::optional<Meter>& pickup = model.pickups[mi];
      const HostSignature sig = store(pickup ? *pickup : meter);
      simhost::MeasureView view;
      view.beats = sig.beats;
      view.beatDuration = sig.beatDuration;
      view.signatureFlags =
          static_cast<std::uint16_t>(sig.flags | (meter.hidden ? AlwaysHideFlag : 0));
      if (pickup) {
        const HostSignature shown = store(meter);
        view.displayBeats = shown.beats;
        view.displayBeatDuration = shown.beatDuration;
        view.displayFlags = DisplayInUseFlag;
        if ((shown.flags & CompositeTopFlag) != 0) view.displayFlags |= DisplayCompositeTopFlag;
        if ((shown.flags & CompositeBottomFlag) != 0)
          view.displayFlags |= DisplayCompositeBottomFlag;
      }
      host.SetMeasure(measure, view);
      for (const PartModel& part : model.parts) {
        if (!part.independent) continue;
        const HostSignature own = store(part.meters[mi]);
        for (int s = 0; s < part.staffCount; ++s) {
          host.SetStaffTimeSig(static_cast<std::int16_t>(part.firstStaff + s + 1), measure,
                               own.beats, own.beatDuration, own.flags);
        }
      }
      for (PartModel& part : model.parts) {
        for (int s = 0; s < part.staffCount; ++s) {
          // The host keeps its own copy; the model's is not needed again.
          CellModel& cell = part.cells[static_cast<std::size_t>(s)][mi];
          for (std::size_t l = 0; l < cell.layers.size(); ++l) {
            host.SetLayer(static_cast<std::int16_t>(part.firstStaff + s + 1), measure,
                          static_cast<int>(l), cell.layers[l].duration, cell.layers[l].entries);
          }
          if (!d.keepLayers) cell.layers = std::vector<LayerModel>();
        }
      }
    }
  } catch (...) {
    return OutOfMemory(d.name);
  }
  d.built = true;
  return Status{};
}

Status Score::ApplyHost(const simhost::Host& host) {
  Impl& d = *impl_;
  if (!d.built) return d.Fail("the score was not put into a host");
  if (d.applied) return d.Fail("the host's changes were already applied");
  d.applied = true;
  try {
    return d.Apply(host);
  } catch (...) {
    d.changed = false;
    d.edits.clear();
    d.kept.clear();
    d.planned = false;
    return OutOfMemory(d.name);
  }
}

bool Score::Changed() const { return impl_->changed; }

void Score::KeepLayers(bool keep) { impl_->keepLayers = keep; }

std::vector<WrittenLayer> Score::Layers(int slot, int measure) const {
  const ScoreModel& model = impl_->model;
  if (measure < 1 || measure > model.measureCount) return {};
  for (const PartModel& part : model.parts) {
    const int s = slot - part.firstStaff;
    if (s < 0 || s >= part.staffCount || static_cast<std::size_t>(s) >= part.cells.size()) continue;
    const std::vector<CellModel>& row = part.cells[static_cast<std::size_t>(s)];
    const auto m = static_cast<std::size_t>(measure - 1);
    return m < row.size() ? row[m].layers : std::vector<WrittenLayer>{};
  }
  return {};
}

bool Score::WrittenMeasureSignature(int measure, SignatureText& out) const {
  const Impl& d = *impl_;
  out = SignatureText{};
  if (measure < 1 || measure > d.model.measureCount) return false;
  const auto mi = static_cast<std::size_t>(measure - 1);
  const std::vector<Meter>& records = d.planned ? d.written.records : d.model.records;
  const std::optional<Meter>& pickup = d.planned ? d.written.pickups[mi] : d.model.pickups[mi];
  const Meter& record = records[mi];
  MeterTexts(pickup ? *pickup : record, out.top, out.bottom);
  out.hidden = record.hidden;
  if (pickup) {
    out.hasDisplay = true;
    MeterTexts(record, out.displayTop, out.displayBottom);
  }
  return true;
}

bool Score::WrittenStaffSignature(std::int16_t staff, int measure, SignatureText& out) const {
  const Impl& d = *impl_;
  out = SignatureText{};
  if (measure < 1 || measure > d.model.measureCount) return false;
  for (std::size_t p = 0; p < d.model.parts.size(); ++p) {
    const PartModel& part = d.model.parts[p];
    if (staff <= part.firstStaff || staff > part.firstStaff + part.staffCount) continue;
    const auto mi = static_cast<std::size_t>(measure - 1);
    MeterTexts(d.planned ? d.written.meters[p][mi] : part.meters[mi], out.top, out.bottom);
    return true;
  }
  return false;
}

const std::vector<KeptChange>& Score::Kept() const { return impl_->kept; }

Status Score::SaveBytes(std::string& out, Form form) const {
  const Impl& d = *impl_;
  if (!d.loaded) return d.Fail("no score loaded");
  try {
    if (form == Form::AsLoaded || (form == Form::Archive) == d.archive) {
      std::string error;
      if (!d.OwnForm(out, error)) return d.Fail(error);
    } else if (form == Form::Xml) {
      out = d.changed ? d.EditedRoot() : d.rootBytes;
    } else {
      std::string error;
      if (!MakeArchive("score.musicxml", d.changed ? d.EditedRoot() : d.original, out, error)) {
        Status s;
        s.ok = false;
        s.message = d.name + ": cannot make an archive: " + error;
        return s;
      }
    }
  } catch (...) {
    return OutOfMemory(d.name);
  }
  return Status{};
}

Status Score::Write(const PieceSink& sink, Form form) const {
  const Impl& d = *impl_;
  if (!d.loaded) return d.Fail("no score loaded");
  const bool asLoaded = form == Form::AsLoaded || (form == Form::Archive) == d.archive;
  if (d.changed && ((asLoaded && !d.archive) || form == Form::Xml)) {
    // The edited score goes from the source and the edits straight to the
    // sink: it is never held as a whole.
    bool ok = true;
    SpliceEdits(d.Root(), d.edits, [&](std::string_view piece) {
      if (ok) ok = sink(piece);
    });
  } else if (asLoaded) {
    std::string packed;  // only an edited archive needs packing
    std::string error;
    if (d.changed && !d.OwnForm(packed, error)) return d.Fail(error);
    sink(d.changed ? std::string_view(packed) : d.original);
  } else if (form == Form::Xml) {
    sink(d.Root());
  } else {
    // A plain score becomes a new archive, which the zip library makes in
    // memory.
    std::string bytes;
    Status s = SaveBytes(bytes, form);
    if (!s) return s;
    sink(bytes);
  }
  return Status{};
}

namespace {
std::atomic<int> scoreReaders{2};
}  // namespace

int ScoreReaders() { return scoreReaders.load(); }
void SetScoreReaders(int readers) { scoreReaders.store(readers > 1 ? 2 : 1); }

Score::Form FormForPath(const std::string& path) {
  std::string lower;
  for (char c : path) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  auto endsWith = [&](const std::string& suffix) {
    return lower.size() > suffix.size() &&
           lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  if (endsWith(".mxl")) return Score::Form::Archive;
  if (endsWith(".musicxml") || endsWith(".xml")) return Score::Form::Xml;
  return Score::Form::AsLoaded;
}

const std::string& Score::Name() const { return impl_->name; }
bool Score::IsArchive() const { return impl_->archive; }

std::vector<std::string> Score::ExtraArchiveMembers() const {
  if (!impl_->archive) return {};
  return musicxml::ExtraArchiveMembers(impl_->original);
}

int Score::MeasureCount() const { return impl_->model.measureCount; }
std::string Score::MeasureNumber(int measure) const {
  const ScoreModel& model = impl_->model;
  if (measure < 1 || measure > model.measureCount || model.parts.empty()) return "";
  return model.parts[0].measures[static_cast<std::size_t>(measure - 1)].number;
}
const std::vector<StaffInfo>& Score::Staves() const { return impl_->model.staves; }

std::vector<BeamGroup> Score::Beams(int measure, int firstStaff, int lastStaff) const {
  std::vector<BeamGroup> beams;
  const ScoreModel& model = impl_->model;
  if (measure < 1 || measure > model.measureCount) return beams;
  const auto mi = static_cast<std::size_t>(measure - 1);
  for (const PartModel& part : model.parts) {
    for (std::size_t s = 0; s < part.cells.size(); ++s) {
      const int slot = part.firstStaff + static_cast<int>(s);
      if (slot + 1 < firstStaff || slot + 1 > lastStaff || mi >= part.cells[s].size()) continue;
      if (model.staves[static_cast<std::size_t>(slot)].hidden) continue;
      const std::vector<BeamGroup>& cell = part.cells[s][mi].beams;
      beams.insert(beams.end(), cell.begin(), cell.end());
    }
  }
  return beams;
}

bool Score::StandIn(int measure) const {
  const ScoreModel& model = impl_->model;
  if (measure < 1 || measure > model.measureCount) return false;
  const auto mi = static_cast<std::size_t>(measure - 1);
  for (const PartModel& part : model.parts) {
    if (mi < part.synthesized.size() && !part.synthesized[mi]) return false;
  }
  return true;
}
const std::vector<std::string>& Score::Warnings() const { return impl_->warnings; }

}  // namespace musicxml
