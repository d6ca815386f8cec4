// .mxl archives in memory: the root score read out of one, one member
// replaced, a new archive around a plain score (libzip; the container file
// is read with pugixml).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace musicxml {

// The member that META-INF/container.xml names as root file, its bytes.
bool ReadArchive(std::string_view archive, std::string& rootPath, std::string& rootBytes,
                 std::vector<std::string>& warnings, std::string& error);
// The members a plain copy of the root file leaves behind: all but the root
// file, "mimetype" and META-INF/container.xml. Empty when unreadable.
std::vector<std::string> ExtraArchiveMembers(std::string_view archive);
// The archive with member `path` replaced by `bytes`; other members as they were.
bool ReplaceArchiveMember(std::string_view archive, const std::string& path,
                          const std::string& bytes, std::string& out, std::string& error);

// A new .mxl archive holding one score: "mimetype" (stored, first),
// META-INF/container.xml naming `rootPath`, and the score itself.
bool MakeArchive(const std::string& rootPath, const std::string& rootBytes, std::string& out,
                 std::string& error);

}  // namespace musicxml
