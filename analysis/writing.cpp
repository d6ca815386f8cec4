#include "analysis/writing.h"

#include <cstring>

#include "host/chains.h"
#include "host/host.h"
#include "host/records.h"
#include "settings/settings.h"

namespace {

// Texts live in 100-byte buffers; nothing here reads or writes beyond that.
constexpr std::size_t MaxTextLength = FormatBufferSize - 1;

std::size_t BoundedLength(const char* text) {
  std::size_t length = 0;
  while (length < MaxTextLength && text[length] != '\0') ++length;
  return length;
}

void CopyText(char* destination, const char* source) {
  const std::size_t length = BoundedLength(source);
  std::memcpy(destination, source, length);
  destination[length] = '\0';
}

bool IsComposite(const char* text) {
  return std::memchr(text, '+', BoundedLength(text)) != nullptr;
}

// Decimal digits of an int16 with "-" before a negative value; returns the length.
std::size_t FormatNumber(char* out, std::int16_t value) {
  char digits[8];
  std::size_t count = 0;
  std::int32_t magnitude = value < 0 ? -static_cast<std::int32_t>(value) : value;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::size_t length = 0;
  if (value < 0) out[length++] = '-';
  while (count > 0) out[length++] = digits[--count];
  out[length] = '\0';
  return length;
}

// Appends whole pieces only, so a text that does not fit ends cleanly.
struct TextBuilder {
  char* buffer;
  std::size_t length;
  bool complete;
};

void AppendElement(TextBuilder& text, const char* prefix, std::int16_t value) {
  if (!text.complete) return;
  char piece[16];
  const std::size_t prefixLength = std::strlen(prefix);
  // FormatNumber writes the digits and the terminator right after the prefix.
  std::memcpy(piece, prefix, prefixLength);  // NOLINT(bugprone-not-null-terminated-result)
  const std::size_t pieceLength = prefixLength + FormatNumber(piece + prefixLength, value);
  if (text.length + pieceLength > MaxTextLength) {
    text.complete = false;
    return;
  }
  std::memcpy(text.buffer + text.length, piece, pieceLength + 1);
  text.length += pieceLength;
}

struct ChainFormat {
  bool complete;
  bool everyElementStartsGroup;  // after the first; what the bottom writer always creates
};

ChainFormat FormatChain(char* buffer, std::int16_t value, bool composite, ChainKind kind) {
  TextBuilder text{buffer, 0, true};
  buffer[0] = '\0';
  ChainFormat result{true, true};
  if (!composite) {
    AppendElement(text, "", value);
    return result;
  }
  WalkHostChain(kind, value, [&](std::int16_t number, std::int16_t slotFlags) {
    if (number == 0) return true;
    const bool groupStart = (slotFlags & GroupStartFlag) != 0;
    const char* prefix = "";
    if (text.length > 0) {
      prefix = groupStart ? "++" : "+";
      if (!groupStart) result.everyElementStartsGroup = false;
    }
    AppendElement(text, prefix, number);
    return text.complete;
  });
  result.complete = text.complete;
  return result;
}

// Runs of "+" compare as one: in a lower text every "+" separates groups.
bool SameLowerText(const char* a, const char* b) {
  std::size_t i = 0;
  std::size_t j = 0;
  const std::size_t la = BoundedLength(a);
  const std::size_t lb = BoundedLength(b);
  while (i < la && j < lb) {
    if (a[i] != b[j]) return false;
    const bool plus = a[i] == '+';
    ++i;
    ++j;
    if (plus) {
      while (i < la && a[i] == '+') ++i;
      while (j < lb && b[j] == '+') ++j;
    }
  }
  return i == la && j == lb;
}

// One part (upper or lower) of a record's present time signature.
struct PresentPart {
  char text[FormatBufferSize];
  std::int16_t value;
  bool composite;
  ChainFormat format;
};

void ReadPresentPart(PresentPart& part, std::int16_t value, bool composite, ChainKind kind) {
  part.value = value;
  part.composite = composite;
  part.format = FormatChain(part.text, value, composite, kind);
}

// Whether the part, formatted as text, reads exactly as `text`. The composite
// bit itself is not compared: a chain of one element reads like its number.
bool TextHolds(const char* text, const PresentPart& present, ChainKind kind) {
  if (!present.format.complete) return false;
  if (kind == ChainKind::Top) return std::strncmp(text, present.text, FormatBufferSize) == 0;
  return present.format.everyElementStartsGroup && SameLowerText(text, present.text);
}

// Whether storing `text` would leave this part as it is, composite bit included.
bool PartHolds(const char* text, const PresentPart& present, ChainKind kind) {
  if (IsComposite(text) != present.composite) return false;
  if (!present.composite) return ReadTextNumber(text) == present.value;
  return TextHolds(text, present, kind);
}

std::int16_t Low16(std::int32_t result) { return static_cast<std::int16_t>(result & 0xFFFF); }

void SetBit(std::uint8_t* word, std::uint16_t bit, bool on) {
  const std::uint16_t value = ReadU16(word);
  WriteU16(word,
           on ? static_cast<std::uint16_t>(value | bit) : static_cast<std::uint16_t>(value & ~bit));
}

bool LoadMeasure(std::int16_t measure, std::uint8_t* record, std::int32_t* size) {
  RecordKeyBytes key = MakeRecordKey(measure, 0);
  *size = MeasureRecordLayout::Size;
  return HostSucceeded(
      HostLoadRecord(MeasureRecordTag, key.bytes, record, size, HostInterfaceVersion));
}

// Saves with the size the load left, never more than the buffer holds.
std::int32_t SaveMeasure(std::int16_t measure, std::uint8_t* record, std::int32_t size) {
  if (size < 0) size = 0;
  if (size > static_cast<std::int32_t>(MeasureRecordLayout::Size)) size = MeasureRecordLayout::Size;
  RecordKeyBytes key = MakeRecordKey(measure, 0);
  return HostSaveRecord(MeasureRecordTag, key.bytes, record, size, HostInterfaceVersion);
}

// Splits a copy of a composite text into values and creates the chain's
// records. Top: two slots, "++" marks the next value as a group start.
// Bottom: three slots, every "+" ends a value, every slot starts a group.
// `created` turns false when the host refuses any of the records.
std::int16_t CreateChain(const char* text, ChainKind kind, bool& created) {
  const bool top = kind == ChainKind::Top;
  const auto [tag, slotCount, slotSize, flagsOffset] = ShapeOf(kind);

  char copy[FormatBufferSize];
  CopyText(copy, text);
  std::uint8_t record[ChainRecordSize]{};
  std::int16_t chain = static_cast<std::int16_t>(NewChainNumber);
  std::size_t slot = 0;
  bool group = true;
  char* value = copy;
  for (;;) {
    if (slot == 0) std::memset(record, 0, sizeof record);
    char* plus = std::strchr(value, '+');
    bool last = plus == nullptr;
    bool nextGroup = false;
    char* next = nullptr;
    if (!last) {
      *plus = '\0';
      next = plus + 1;
      if (top && *next == '+') {
        nextGroup = true;
        ++next;
      }
      // A trailing plus adds nothing, but the pending record is still created.
      if (*next == '\0') last = true;
    }
    std::uint8_t* slotBytes = record + slot * slotSize;
    WriteI16(slotBytes, ReadTextNumber(value));  // beatCount or duration, both at 0
    WriteI16(slotBytes + flagsOffset, (!top || group) ? GroupStartFlag : 0);
    ++slot;
    if (slot == slotCount || last) {
      RecordKeyBytes key = MakeRecordKey(chain, static_cast<std::int16_t>(AppendSequence));
      if (!HostSucceeded(HostCreateRecord(tag, key.bytes, record,
                                          static_cast<std::int32_t>(sizeof record),
                                          HostInterfaceVersion))) {
        created = false;
      }
      chain = ReadI16(key.bytes + RecordKeyLayout::Number);
      slot = 0;
    }
    if (last) break;
    group = nextGroup;
    value = next;
  }
  return chain;
}

// What a text stores into a field: the number, or a chain made for it.
struct FieldValue {
  std::int16_t value;
  bool composite;
  bool created;  // false: a record of the chain could not be created
};

FieldValue MakeField(const char* text, ChainKind kind) {
  FieldValue field{0, IsComposite(text), true};
  field.value = field.composite ? CreateChain(text, kind, field.created) : ReadTextNumber(text);
  return field;
}

void PutField(const FieldValue& field, std::uint8_t* at, std::uint8_t* flagWord,
              std::uint16_t bit) {
  WriteI16(at, field.value);
  SetBit(flagWord, bit, field.composite);
}

// The display field that keeps a present part visible. A part too long for
// its text keeps its present chain itself, so the display never shows a
// cut-off signature.
FieldValue DisplayField(const PresentPart& part, ChainKind kind) {
  if (part.format.complete) return MakeField(part.text, kind);
  return FieldValue{part.value, true, true};
}

// Sets the display signature in a loaded MeasureRecord and saves it with
// the size the load left; the save's result.
std::int16_t SaveDisplay(std::int16_t measure, std::uint8_t* record, std::int32_t size,
                         const FieldValue& upper, const FieldValue& lower,
                         std::int16_t abbreviate) {
  std::uint8_t* flags = record + MeasureRecordLayout::DisplayFlags;
  SetBit(flags, DisplayInUseFlag, true);
  SetBit(flags, DisplayAbbreviateFlag, abbreviate != 0);
  PutField(upper, record + MeasureRecordLayout::DisplayBeats, flags, DisplayCompositeTopFlag);
  PutField(lower, record + MeasureRecordLayout::DisplayBeatDuration, flags,
           DisplayCompositeBottomFlag);
  return Low16(SaveMeasure(measure, record, size));
}

}  // namespace

std::int16_t ReadTextNumber(const char* text) {
  const std::size_t length = BoundedLength(text);
  std::size_t i = 0;
  while (i < length && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::uint32_t value = 0;  // wraps instead of overflowing on absurd input
  while (i < length && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
    ++i;
  }
  if (negative) value = 0u - value;
  return static_cast<std::int16_t>(value & 0xFFFF);
}

std::int16_t CreateTopChain(const char* text) {
  bool created = true;
  return CreateChain(text, ChainKind::Top, created);
}

std::int16_t CreateBottomChain(const char* text) {
  bool created = true;
  return CreateChain(text, ChainKind::Bottom, created);
}

bool StoreSignatureField(const char* text, std::uint8_t* field, std::uint8_t* flagWord,
                         std::uint16_t bit, ChainKind kind) {
  const FieldValue value = MakeField(text, kind);
  PutField(value, field, flagWord, bit);
  return value.created;
}

std::int16_t FormatTopChain(char* buffer, std::int16_t value, int composite) {
  return FormatChain(buffer, value, composite != 0, ChainKind::Top).complete ? 1 : 0;
}

std::int16_t FormatBottomChain(char* buffer, std::int16_t value, int composite) {
  return FormatChain(buffer, value, composite != 0, ChainKind::Bottom).complete ? 1 : 0;
}

void ClearDisplaySignature(std::int16_t measure) {
  std::uint8_t record[MeasureRecordLayout::Size]{};
  std::int32_t size = 0;
  if (!LoadMeasure(measure, record, &size)) return;
  std::uint8_t* flags = record + MeasureRecordLayout::DisplayFlags;
  WriteU16(flags, static_cast<std::uint16_t>(ReadU16(flags) & ClearDisplayMask));
  WriteI16(record + MeasureRecordLayout::DisplayBeats, 0);
  WriteI16(record + MeasureRecordLayout::DisplayBeatDuration, 0);
  SaveMeasure(measure, record, size);
}

std::int16_t SetDisplaySignature(std::int16_t measure, const char* upperText, const char* lowerText,
                                 std::int16_t abbreviate) {
  std::uint8_t record[MeasureRecordLayout::Size]{};
  std::int32_t size = 0;
  if (!LoadMeasure(measure, record, &size)) return 0;
  const FieldValue upper = MakeField(upperText, ChainKind::Top);
  if (!upper.created) return 0;
  const FieldValue lower = MakeField(lowerText, ChainKind::Bottom);
  if (!lower.created) return 0;
  return SaveDisplay(measure, record, size, upper, lower, abbreviate);
}

std::int16_t WriteMeasureSignature(std::int16_t measure, const char* topText,
                                   const char* bottomText) {
  std::uint8_t record[MeasureRecordLayout::Size]{};
  std::int32_t size = 0;
  if (!LoadMeasure(measure, record, &size)) return 0;

  const std::uint16_t flags = ReadU16(record + MeasureRecordLayout::SignatureFlags);
  PresentPart upper;
  PresentPart lower;
  ReadPresentPart(upper, ReadI16(record + MeasureRecordLayout::Beats),
                  (flags & CompositeTopFlag) != 0, ChainKind::Top);
  ReadPresentPart(lower, ReadI16(record + MeasureRecordLayout::BeatDuration),
                  (flags & CompositeBottomFlag) != 0, ChainKind::Bottom);
  const bool hidden = (flags & AlwaysHideFlag) != 0;
  const bool shown = (ReadU16(record + MeasureRecordLayout::DisplayFlags) & DisplayInUseFlag) != 0;

  const bool hide = globalSettings.hideTimeSig != 0;
  // A hidden measure gets no display signature, so that is what "already there" means.
  const bool display = globalSettings.displayCurrentTimeSig != 0 && !hide;
  if (TextHolds(topText, upper, ChainKind::Top) &&
      TextHolds(bottomText, lower, ChainKind::Bottom) && hidden == hide && shown == display) {
    return 0;
  }

  // Every chain the measure needs is made before anything is saved, so a
  // chain the host refuses leaves the measure as it was.
  const FieldValue top = MakeField(topText, ChainKind::Top);
  if (!top.created) return 0;
  const FieldValue bottom = MakeField(bottomText, ChainKind::Bottom);
  if (!bottom.created) return 0;
  FieldValue shownTop{};
  FieldValue shownBottom{};
  if (display) {
    shownTop = DisplayField(upper, ChainKind::Top);
    if (!shownTop.created) return 0;
    shownBottom = DisplayField(lower, ChainKind::Bottom);
    if (!shownBottom.created) return 0;
  }

  std::uint8_t* flagWord = record + MeasureRecordLayout::SignatureFlags;
  PutField(top, record + MeasureRecordLayout::Beats, flagWord, CompositeTopFlag);
  PutField(bottom, record + MeasureRecordLayout::BeatDuration, flagWord, CompositeBottomFlag);
  SetBit(flagWord, AlwaysHideFlag, hide);
  if (hide) SetBit(record + MeasureRecordLayout::ExtraFlags, ExtraHideClearedBit, false);

  const std::int16_t saved = Low16(SaveMeasure(measure, record, MeasureRecordLayout::Size));
  if (saved == 0) return 0;
  ClearDisplaySignature(measure);
  if (!display) return saved;
  if (!LoadMeasure(measure, record, &size)) return 0;
  return SaveDisplay(measure, record, size, shownTop, shownBottom,
                     globalSettings.abbreviateDisplay != 0 ? 1 : 0);
}

std::int16_t WriteStaffSignature(std::int16_t measure, const char* topText, const char* bottomText,
                                 std::int16_t staff) {
  std::uint8_t record[StaffTimeSigRecordLayout::Size]{};
  StaffMeasureKeyBytes key = MakeStaffMeasureKey(staff, measure, 0);
  std::int32_t size = StaffTimeSigRecordLayout::Size;
  if (!HostSucceeded(
          HostLoadRecord(StaffTimeSigRecordTag, key.bytes, record, &size, HostInterfaceVersion))) {
    return 0;
  }
  std::uint8_t* flagWord = record + StaffTimeSigRecordLayout::SignatureFlags;
  const std::uint16_t flags = ReadU16(flagWord);
  PresentPart upper;
  PresentPart lower;
  ReadPresentPart(upper, ReadI16(record + StaffTimeSigRecordLayout::Beats),
                  (flags & CompositeTopFlag) != 0, ChainKind::Top);
  ReadPresentPart(lower, ReadI16(record + StaffTimeSigRecordLayout::BeatDuration),
                  (flags & CompositeBottomFlag) != 0, ChainKind::Bottom);
  // Compared before any chain is made, so an unchanged staff gets no new chain.
  if (PartHolds(topText, upper, ChainKind::Top) &&
      PartHolds(bottomText, lower, ChainKind::Bottom)) {
    return 0;
  }
  const FieldValue top = MakeField(topText, ChainKind::Top);
  if (!top.created) return 0;
  const FieldValue bottom = MakeField(bottomText, ChainKind::Bottom);
  if (!bottom.created) return 0;
  PutField(top, record + StaffTimeSigRecordLayout::Beats, flagWord, CompositeTopFlag);
  PutField(bottom, record + StaffTimeSigRecordLayout::BeatDuration, flagWord, CompositeBottomFlag);
  key = MakeStaffMeasureKey(staff, measure, 0);
  return Low16(HostSaveRecord(StaffTimeSigRecordTag, key.bytes, record,
                              StaffTimeSigRecordLayout::Size, HostInterfaceVersion));
}
