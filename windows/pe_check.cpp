// Checks a built plug-in library (PE image) against what the host and Windows
// need from it, without running it:
//   pe_check FILE --machine i386|amd64 --host-module NAME
// It prints the export, import and resource tables it found and one line per
// failed expectation; the exit status is 0 when everything holds, 1 when an
// expectation fails, 2 when the file cannot be read as a PE image.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/le_bytes.h"
#include "host/host.h"

namespace {

constexpr std::uint16_t MachineI386 = 0x014C;
constexpr std::uint16_t MachineAmd64 = 0x8664;
constexpr std::uint16_t MagicPe32 = 0x10B;
constexpr std::uint16_t MagicPe32Plus = 0x20B;
constexpr std::uint16_t CharacteristicDll = 0x2000;
constexpr std::uint32_t SectionExecutable = 0x20000000;
constexpr std::uint32_t ResourceTypeDialog = 5;
constexpr std::uint32_t ResourceTypeString = 6;

const char* const ExpectedExports[] = {
    "FinaleExtensionEnumerate", "FinaleExtensionGetMenuStatus", "FinaleExtensionInit",
    "FinaleExtensionInvoke",    "FinaleExtensionTerminate",     "FinaleExtensionVersion",
};
// Windows' own libraries; msvcrt.dll is the C runtime mingw-w64 builds on.
const char* const SystemModules[] = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"};
const std::uint32_t ExpectedDialogs[] = {20128, 20129};
constexpr std::uint32_t FirstHelpString = 201;
constexpr std::uint32_t LastHelpString = 224;

struct Section {
  std::string name;
  std::uint32_t virtualAddress;
  std::uint32_t virtualSize;
  std::uint32_t rawOffset;
  std::uint32_t rawSize;
  std::uint32_t characteristics;
};

struct Image {
  std::vector<std::uint8_t> bytes;
  std::vector<Section> sections;
  bool pe32Plus = false;

  // Offset in the file of an address relative to the image base; 0 when it
  // lies in no section's raw data (0 is never a valid place for table data).
  std::size_t Offset(std::uint32_t rva, std::size_t length = 1) const {
    for (const Section& s : sections) {
      const std::uint32_t extent = std::max(s.virtualSize, s.rawSize);
      if (rva >= s.virtualAddress && rva - s.virtualAddress < extent) {
        const std::size_t off = std::size_t{s.rawOffset} + (rva - s.virtualAddress);
        if (rva - s.virtualAddress + length > s.rawSize || off + length > bytes.size()) return 0;
        return off;
      }
    }
    return 0;
  }
  const std::uint8_t* At(std::uint32_t rva, std::size_t length) const {
    const std::size_t off = Offset(rva, length);
    return off == 0 ? nullptr : bytes.data() + off;
  }
  std::string String(std::uint32_t rva) const {
    std::string text;
    for (std::size_t off = Offset(rva); off != 0 && off < bytes.size() && bytes[off] != 0; ++off) {
      text.push_back(static_cast<char>(bytes[off]));
      if (text.size() > 512) break;
    }
    return text;
  }
  const Section* SectionOf(std::uint32_t rva) const {
    for (const Section& s : sections) {
      if (rva >= s.virtualAddress && rva - s.virtualAddress < std::max(s.virtualSize, s.rawSize))
        return &s;
    }
    return nullptr;
  }
};

struct Report {
  int failures = 0;
  void Fail(const std::string& what) {
    std::printf("FAIL: %s\n", what.c_str());
    ++failures;
  }
  void Expect(bool ok, const std::string& what) {
    if (!ok) Fail(what);
  }
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

struct ImportedModule {
  std::string name;
  std::vector<std::uint32_t> ordinals;  // imports by ordinal
  std::vector<std::string> names;       // imports by name
};

struct ResourceEntry {
  std::uint32_t type;
  std::uint32_t id;
  std::uint32_t dataRva;
  std::uint32_t dataSize;
};

bool ReadHeaders(Image& image, std::uint16_t& machine, std::uint16_t& characteristics,
                 std::uint32_t& entryPoint,
                 std::vector<std::pair<std::uint32_t, std::uint32_t>>& dirs) {
  const auto& b = image.bytes;
  if (b.size() < 0x40 || b[0] != 'M' || b[1] != 'Z') return false;
  const std::uint32_t pe = ReadU32(b.data() + 0x3C);
  if (pe > b.size() || b.size() - pe < 24 || ReadU32(b.data() + pe) != 0x00004550) return false;
  const std::uint8_t* coff = b.data() + pe + 4;
  machine = ReadU16(coff + 0);
  const std::uint16_t sectionCount = ReadU16(coff + 2);
  const std::uint16_t optionalSize = ReadU16(coff + 16);
  characteristics = ReadU16(coff + 18);
  const std::size_t optional = pe + 24;
  if (optional + optionalSize > b.size() || optionalSize < 96) return false;
  const std::uint16_t magic = ReadU16(b.data() + optional);
  if (magic != MagicPe32 && magic != MagicPe32Plus) return false;
  image.pe32Plus = magic == MagicPe32Plus;
  entryPoint = ReadU32(b.data() + optional + 16);
  const std::size_t countAt = optional + (image.pe32Plus ? 108 : 92);
  const std::size_t dirsAt = countAt + 4;
  if (countAt + 4 > optional + optionalSize) return false;
  const std::uint32_t dirCount = ReadU32(b.data() + countAt);
  for (std::uint32_t i = 0; i < dirCount && dirsAt + 8 * (i + 1) <= optional + optionalSize; ++i) {
    dirs.emplace_back(ReadU32(b.data() + dirsAt + 8 * i), ReadU32(b.data() + dirsAt + 8 * i + 4));
  }
  const std::size_t sectionsAt = optional + optionalSize;
  if (sectionsAt + std::size_t{40} * sectionCount > b.size()) return false;
  for (std::uint16_t i = 0; i < sectionCount; ++i) {
    const std::uint8_t* s = b.data() + sectionsAt + 40 * i;
    Section section;
    section.name.assign(reinterpret_cast<const char*>(s),
                        strnlen(reinterpret_cast<const char*>(s), 8));
    section.virtualSize = ReadU32(s + 8);
    section.virtualAddress = ReadU32(s + 12);
    section.rawSize = ReadU32(s + 16);
    section.rawOffset = ReadU32(s + 20);
    section.characteristics = ReadU32(s + 36);
    image.sections.push_back(section);
  }
  return true;
}

std::vector<std::string> ReadExports(const Image& image, std::uint32_t rva,
                                     std::uint32_t& functionCount) {
  std::vector<std::string> names;
  functionCount = 0;
  const std::uint8_t* dir = image.At(rva, 40);
  if (dir == nullptr) return names;
  functionCount = ReadU32(dir + 20);
  const std::uint32_t nameCount = ReadU32(dir + 24);
  const std::uint32_t namePointers = ReadU32(dir + 32);
  for (std::uint32_t i = 0; i < nameCount && i < 4096; ++i) {
    const std::uint8_t* p = image.At(namePointers + 4 * i, 4);
    if (p == nullptr) break;
    names.push_back(image.String(ReadU32(p)));
  }
  return names;
}

std::vector<ImportedModule> ReadImports(const Image& image, std::uint32_t rva) {
  std::vector<ImportedModule> modules;
  for (std::uint32_t at = rva;; at += 20) {
    const std::uint8_t* d = image.At(at, 20);
    if (d == nullptr) break;
    const std::uint32_t lookup = ReadU32(d + 0) != 0 ? ReadU32(d + 0) : ReadU32(d + 16);
    const std::uint32_t nameRva = ReadU32(d + 12);
    if (nameRva == 0 && lookup == 0) break;
    ImportedModule module;
    module.name = image.String(nameRva);
    const std::size_t thunkSize = image.pe32Plus ? 8 : 4;
    for (std::uint32_t t = lookup;; t += static_cast<std::uint32_t>(thunkSize)) {
      const std::uint8_t* p = image.At(t, thunkSize);
      if (p == nullptr) break;
      const std::uint64_t thunk =
          image.pe32Plus ? (std::uint64_t{ReadU32(p + 4)} << 32) | ReadU32(p) : ReadU32(p);
      if (thunk == 0) break;
      const std::uint64_t ordinalFlag = image.pe32Plus ? (std::uint64_t{1} << 63) : 0x80000000u;
      if ((thunk & ordinalFlag) != 0) {
        module.ordinals.push_back(static_cast<std::uint32_t>(thunk & 0xFFFF));
      } else {
        module.names.push_back(image.String(static_cast<std::uint32_t>(thunk) + 2));
      }
      if (module.ordinals.size() + module.names.size() > 4096) break;
    }
    modules.push_back(module);
    if (modules.size() > 256) break;
  }
  return modules;
}

// The three-level resource tree: type, name, language. Named (non-numeric)
// entries are reported with id 0xFFFFFFFF.
std::vector<ResourceEntry> ReadResources(const Image& image, std::uint32_t rootRva) {
  std::vector<ResourceEntry> entries;
  auto walk = [&](auto&& self, std::uint32_t dirOffset, int level, std::uint32_t type,
                  std::uint32_t id) -> void {
    const std::uint8_t* dir = image.At(rootRva + dirOffset, 16);
    if (dir == nullptr || level > 2) return;
    const std::uint32_t count = std::uint32_t{ReadU16(dir + 12)} + ReadU16(dir + 14);
    for (std::uint32_t i = 0; i < count && i < 4096; ++i) {
      const std::uint8_t* e = image.At(rootRva + dirOffset + 16 + 8 * i, 8);
      if (e == nullptr) return;
      const std::uint32_t nameField = ReadU32(e);
      const std::uint32_t target = ReadU32(e + 4);
      const std::uint32_t key = (nameField & 0x80000000u) != 0 ? 0xFFFFFFFFu : nameField;
      if ((target & 0x80000000u) != 0) {
        self(self, target & 0x7FFFFFFFu, level + 1, level == 0 ? key : type, level == 1 ? key : id);
      } else if (level == 2) {
        const std::uint8_t* data = image.At(rootRva + target, 16);
        if (data != nullptr) entries.push_back({type, id, ReadU32(data), ReadU32(data + 4)});
      }
    }
  };
  walk(walk, 0, 0, 0, 0);
  return entries;
}

// The strings of one string table block (16 counted UTF-16 strings), narrowed.
std::vector<std::string> StringBlock(const Image& image, const ResourceEntry& entry) {
  std::vector<std::string> texts;
  const std::uint8_t* p = image.At(entry.dataRva, entry.dataSize);
  if (p == nullptr) return texts;
  std::size_t at = 0;
  for (int i = 0; i < 16 && at + 2 <= entry.dataSize; ++i) {
    const std::uint16_t length = ReadU16(p + at);
    at += 2;
    std::string text;
    for (std::uint16_t k = 0; k < length && at + 2 <= entry.dataSize; ++k, at += 2) {
      const std::uint16_t unit = ReadU16(p + at);
      text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    texts.push_back(text);
  }
  return texts;
}

int Usage() {
  std::fprintf(stderr, "usage: pe_check FILE --machine i386|amd64 --host-module NAME\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string file = argv[1];
  std::string machineName = "i386";
  std::string hostModule = "host.exe";
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--machine") {
      machineName = argv[i + 1];
    } else if (option == "--host-module") {
      hostModule = argv[i + 1];
    } else {
      return Usage();
    }
  }

  Image image;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::printf("pe_check: cannot open %s\n", file.c_str());
    return 2;
  }
  image.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::uint16_t machine = 0;
  std::uint16_t characteristics = 0;
  std::uint32_t entryPoint = 0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> dirs;
  if (!ReadHeaders(image, machine, characteristics, entryPoint, dirs)) {
    std::printf("pe_check: %s is not a PE image\n", file.c_str());
    return 2;
  }
  Report report;
  const bool want32 = machineName == "i386";
  std::printf("%s: %s, machine 0x%04X, characteristics 0x%04X, entry point RVA 0x%08X\n",
              file.c_str(), image.pe32Plus ? "PE32+" : "PE32", machine, characteristics,
              entryPoint);
  report.Expect(image.pe32Plus != want32, want32 ? "not a PE32 image" : "not a PE32+ image");
  report.Expect(machine == (want32 ? MachineI386 : MachineAmd64), "wrong machine type");
  report.Expect((characteristics & CharacteristicDll) != 0, "not marked as a DLL");
  const Section* entrySection = image.SectionOf(entryPoint);
  report.Expect(entryPoint != 0 && entrySection != nullptr &&
                    (entrySection->characteristics & SectionExecutable) != 0,
                "the entry point is not in executable code");
  while (dirs.size() < 3) dirs.emplace_back(0, 0);

  // Exports: exactly the six entry points, all by name.
  std::uint32_t functionCount = 0;
  std::vector<std::string> exports = ReadExports(image, dirs[0].first, functionCount);
  std::printf("exports (%u functions):\n", functionCount);
  for (const std::string& name : exports) std::printf("  %s\n", name.c_str());
  std::vector<std::string> sortedExports = exports;
  std::sort(sortedExports.begin(), sortedExports.end());
  report.Expect(sortedExports == std::vector<std::string>(std::begin(ExpectedExports),
                                                          std::end(ExpectedExports)),
                "the exported names are not exactly the six entry points");
  report.Expect(functionCount == exports.size(), "functions are exported without a name");

  // Imports: the host functions by ordinal, otherwise system libraries only.
  std::set<std::uint32_t> hostOrdinals;
  for (const HostFunctionOrdinal& f : HostFunctionOrdinals) {
    hostOrdinals.insert(static_cast<std::uint32_t>(f.ordinal));
  }
  bool hostSeen = false;
  std::printf("imports:\n");
  for (const ImportedModule& module : ReadImports(image, dirs[1].first)) {
    std::printf("  %s:", module.name.c_str());
    for (std::uint32_t ordinal : module.ordinals) std::printf(" #%u", ordinal);
    for (const std::string& name : module.names) std::printf(" %s", name.c_str());
    std::printf("\n");
    const std::string lower = Lower(module.name);
    if (lower == Lower(hostModule)) {
      hostSeen = true;
      report.Expect(module.names.empty(), "host functions imported by name");
      const std::set<std::uint32_t> got(module.ordinals.begin(), module.ordinals.end());
      report.Expect(got == hostOrdinals && got.size() == module.ordinals.size(),
                    "the host ordinals differ from the table in host/host.h");
      continue;
    }
    const bool system =
        std::find_if(std::begin(SystemModules), std::end(SystemModules),
                     [&](const char* m) { return lower == m; }) != std::end(SystemModules);
    report.Expect(system, "imports from a non-system library: " + module.name);
  }
  report.Expect(hostSeen, "nothing imported from the host module " + hostModule);

  // Resources: both dialogs and the help strings.
  std::map<std::uint32_t, std::string> strings;
  std::set<std::uint32_t> dialogs;
  for (const ResourceEntry& entry : ReadResources(image, dirs[2].first)) {
    if (entry.type == ResourceTypeDialog) dialogs.insert(entry.id);
    if (entry.type == ResourceTypeString && entry.id != 0xFFFFFFFFu) {
      const std::vector<std::string> block = StringBlock(image, entry);
      for (std::size_t i = 0; i < block.size(); ++i) {
        if (!block[i].empty())
          strings[(entry.id - 1) * 16 + static_cast<std::uint32_t>(i)] = block[i];
      }
    }
  }
  std::printf("resources: dialogs");
  for (std::uint32_t id : dialogs) std::printf(" %u", id);
  std::printf("; strings");
  for (const auto& [id, text] : strings) std::printf(" %u", id);
  std::printf("\n");
  for (std::uint32_t id : ExpectedDialogs) {
    report.Expect(dialogs.count(id) == 1, "dialog resource missing: " + std::to_string(id));
  }
  for (std::uint32_t id = FirstHelpString; id <= LastHelpString; ++id) {
    report.Expect(strings.count(id) == 1, "string resource missing: " + std::to_string(id));
  }

  std::printf("pe_check: %s\n", report.failures == 0 ? "all checks passed" : "FAILED");
  return report.failures == 0 ? 0 : 1;
}
