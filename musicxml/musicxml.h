// MusicXML scores for the simulated host: load a score-partwise document
// (plain XML in any encoding, or a compressed .mxl archive), turn it into a
// simhost::Host score, and write the time signatures that the plug-in changed
// back into the document, leaving everything else as it was.
//
// Mapping in brief (musicxml/README.md has the full list of decisions):
// - measure i (1-based) of the host is the i-th <measure> of every part, by
//   position, never by its number attribute; parts of unequal length fail;
// - staff s (1-based, slot s-1) is the s-th staff of the score, parts in order;
// - per staff and measure, voices become layers 0..3 in order of first
//   appearance; later voices are left out with a warning;
// - a measure's record is the signature of the first part that states one;
//   a part stating different beats anywhere gets independent staff
//   signatures; measures without any get a hidden stand-in of their length.
// Nothing here throws; every problem comes back as a Status.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/file_io.h"
#include "simhost/simhost.h"

namespace musicxml {

// Outcome of one call. On failure `message` is one line naming the file (and
// the line, for XML errors): "score.xml:12: XML error: ...".
struct Status {
  bool ok = true;
  std::string message;
  std::vector<std::string> warnings;  // problems that did not stop the call
  explicit operator bool() const { return ok; }
};

// A time signature in the plug-in's texts, read from a host's records.
using simhost::ReadMeasureSignature;
using simhost::ReadStaffSignature;
using simhost::SignatureText;

// A beam of one voice in one measure, read without regard to any signature:
// `first` is its first note, `reach` the start of the rests no beam holds
// that lead up to it (equal to `first` when there are none). A signature
// whose beats leave no beat start in reach..first contradicts the beam.
struct BeamGroup {
  std::int32_t reach = 0;  // EDUs from the barline
  std::int32_t first = 0;
  bool operator==(const BeamGroup&) const = default;
};

// A signature the host holds that the written file does not: the measure's
// record (staff 0), or an independent staff's own signature.
struct KeptChange {
  int measure = 0;         // 1-based
  std::int16_t staff = 0;  // host staff number; 0 for the measure's record
  std::string reason;      // "no MusicXML form for a pickup's own signature"
};

struct StaffInfo {
  std::int16_t staff = 0;    // host staff number (slot + 1)
  std::string partId;        // <score-part id>
  std::string partName;      // <part-name>, may be empty
  int staffInPart = 1;       // 1-based <staff> number inside the part
  bool hidden = false;       // hiddenStaff flag was set
  bool independent = false;  // independentSignatures flag was set
};

// How one entry of a layer is written, beyond what the host keeps of it:
// what a picture of the measure's rhythm needs.
enum class LookBeam : std::uint8_t { None, Begin, Continue, End, ForwardHook, BackwardHook };
struct EntryLook {
  enum Flag : std::uint8_t {
    Rest = 1,
    Invisible = 2,  // a <forward>, or the gap before a voice enters
    Grace = 4,
    TieStart = 8,  // <tie> or <tied> of any note of the chord
    TieStop = 16,
    MeasureRest = 32,  // <rest measure="yes">
    NoBracket = 64,    // a tuplet that starts here has bracket="no"
  };
  std::int32_t type = 0;           // the <type> in EDUs, undotted; 0 when none is given
  std::uint32_t beams = 0;         // a LookBeam in 3 bits per <beam> level 1..8, level 1 lowest
  std::uint16_t tupletNumber = 0;  // <actual-notes> of its <time-modification>; 0 when none
  std::uint8_t dots = 0;
  std::uint8_t flags = 0;
  std::uint8_t tupletStarts = 0;  // <tuplet type="start"> on this note
  std::uint8_t tupletStops = 0;   // <tuplet type="stop">
  LookBeam Beam(int level) const {
    return level < 1 || level > 8 ? LookBeam::None
                                  : static_cast<LookBeam>((beams >> (3 * (level - 1))) & 7u);
  }
  bool operator==(const EntryLook&) const = default;
};

// One layer of one staff in one measure as read: the host's entries and,
// entry for entry, how each is written.
struct WrittenLayer {
  std::string voice;
  std::int32_t duration = 0;
  std::vector<simhost::Entry> entries;
  std::vector<EntryLook> looks;
};

// Limits of the host's score; larger input is refused with a clear message.
constexpr int MaxStaves = 300;
constexpr int MaxMeasures = 32767;
constexpr int MaxLayerEntries = 32767;

class Score {
 public:
  Score();
  ~Score();
  Score(Score&&) noexcept;  // a moved-from Score may only be assigned or destroyed
  Score& operator=(Score&&) noexcept;
  Score(const Score&) = delete;
  Score& operator=(const Score&) = delete;

  // Reads a file. A zip signature means .mxl (root file from
  // META-INF/container.xml; other members kept for writing); anything else
  // is XML with its encoding from BOM/declaration. The DTD is never fetched.
  Status LoadFile(const std::string& path);
  // The same from memory; `name` appears in messages ("-" reads "<stdin>").
  Status LoadBytes(std::string_view bytes, const std::string& name);

  // Fills an empty host with the score (staff list, staff flags, measure
  // records, composite chains, independent staff signatures, layers) and
  // remembers what it put in. Call once per load.
  Status BuildHost(simhost::Host& host);

  // Compares the host's signatures with those BuildHost put in and rewrites
  // the <time> elements of what changed (plus the restatement where a later
  // measure inherited the old signature). Call once, after the plug-in ran.
  Status ApplyHost(const simhost::Host& host);
  // True once ApplyHost changed the document.
  bool Changed() const;
  // The measure's record as reading the written file back gives it (before
  // ApplyHost: as loaded), in the host's texts; false when out of range.
  bool WrittenMeasureSignature(int measure, SignatureText& out) const;
  // A staff's signature as the written file states it for its part
  // (hidden and display stay empty); false when out of range.
  bool WrittenStaffSignature(std::int16_t staff, int measure, SignatureText& out) const;
  // After ApplyHost: where the host holds a signature the written file does
  // not (reading it back gives another), and why. Empty before.
  const std::vector<KeptChange>& Kept() const;

  // How the document is written: as it was loaded, as the plain score
  // (an archive's root file), or as an .mxl archive (a plain score gets a
  // new archive of its own).
  enum class Form { AsLoaded, Xml, Archive };

  // The document in the given form; as loaded, an archive stays an archive.
  // When nothing changed and the form is the loaded one these are the
  // loaded bytes exactly.
  Status SaveBytes(std::string& out, Form form = Form::AsLoaded) const;
  // Hands what SaveBytes makes to `sink` in pieces, in order: an edited plain
  // score goes from the source and the edits straight to the sink, never
  // held whole. Fails before the first piece when the form cannot be made
  // (an archive that cannot be packed); a piece the sink refuses ends the
  // writing, and the sink's owner knows why. An allocation failure throws.
  Status Write(const PieceSink& sink, Form form = Form::AsLoaded) const;

  const std::string& Name() const;  // as given to Load*, for messages
  bool IsArchive() const;
  // What a plain copy of an archive's score leaves behind: its members but
  // the root file, "mimetype" and META-INF/container.xml (none for a plain
  // score).
  std::vector<std::string> ExtraArchiveMembers() const;
  int MeasureCount() const;
  // The number attribute of the first part's measure `measure` (1-based).
  std::string MeasureNumber(int measure) const;
  const std::vector<StaffInfo>& Staves() const;
  // Whether BuildHost keeps every measure's layers for Layers() (it hands
  // them to the host and drops them otherwise). Set before BuildHost.
  void KeepLayers(bool keep);
  // The layers of staff slot `slot` (0-based) in `measure` (1-based) as
  // read, voices in order; empty when not kept or out of range.
  std::vector<WrittenLayer> Layers(int slot, int measure) const;
  // The beams of measure `measure` (1-based) on the visible staves
  // firstStaff..lastStaff (1-based, inclusive), every voice, as read.
  std::vector<BeamGroup> Beams(int measure, int firstStaff, int lastStaff) const;
  // True when no <time> of any part governs the measure: its record is a
  // hidden stand-in of its length, no signature of the score's.
  bool StandIn(int measure) const;
  // Every warning of every call so far.
  const std::vector<std::string>& Warnings() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// A cheap guess at how much reading `path` takes: a file's size, an
// archive's unpacked size (from its directory alone); 0 when unknown.
std::uint64_t ScoreWorkSize(const std::string& path);

// How many threads may read one large score, 1 or 2 (the default): a
// caller that already keeps every core busy, or was asked to use one, sets 1.
// Process-wide; set it before loading.
int ScoreReaders();
void SetScoreReaders(int readers);

// The form an output path asks for by its extension: .mxl an archive,
// .musicxml or .xml a plain score, anything else the loaded form.
Score::Form FormForPath(const std::string& path);

}  // namespace musicxml
