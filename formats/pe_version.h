// The VS_VERSIONINFO resource (RT_VERSION) of a 32-bit PE file: finding it
// through the headers, the section table and the resource tree, and reading
// the nodes of its tree. winsim's GetFileVersionInfo*A and VerQueryValueA
// are built on it, and the builder reads versions with it, so both see a
// file's version the same way.
//
// The files come from anywhere (the product's old files, a damaged install),
// so nothing in them is trusted: every offset and length is checked against
// what was read before anything is touched. The model follows NT's
// version.dll: a PE32 image only, the first name and the first language
// under RT_VERSION, UTF-16 text converted to code page 1252 (characters
// below 0x100 map to themselves, all others become '?').
#ifndef WF_FORMATS_PE_VERSION_H
#define WF_FORMATS_PE_VERSION_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "formats/pe_resources.h"

namespace formats {

inline std::uint64_t Align4(std::uint64_t offset) { return (offset + 3) & ~static_cast<std::uint64_t>(3); }

// Why a file has no readable version resource; the API maps each to its error.
enum class VersionFault {
    None,
    BadFormat,     // no 32-bit PE image (ERROR_BAD_FORMAT)
    TypeNotFound,  // no resources, or none of RT_VERSION
    NameNotFound,  // RT_VERSION without a name under it
    DataNotFound,  // a damaged resource tree or version resource
};

// Where the version resource lies in the file.
struct VersionResource {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;    // the resource's size, as SizeofResource gives it
    std::uint32_t length = 0;  // the root node's wLength: the tree proper
};

// Walks type -> name -> language to the version resource. The root must fit
// the resource, and its VS_FIXEDFILEINFO, if any, must carry its signature:
// NT refuses the resource otherwise.
VersionFault FindVersionResource(const Bytes &file, VersionResource *out);

constexpr std::uint64_t kVersionNodeHeaderSize = 6;  // wLength, wValueLength, wType

// One node of the tree: wLength, wValueLength, wType, szKey, padding, Value,
// padding, Children. Offsets are from the start of the block.
struct VersionNode {
    std::uint64_t end = 0;          // offset + wLength, clipped for the root
    std::uint32_t valueLength = 0;  // wValueLength: bytes, or characters for text (wType 1)
    std::string key;                // in code page 1252
    std::uint64_t value = 0;
    std::uint64_t valueEnd = 0;  // the value's bytes within the node
    std::uint64_t children = 0;
};

// UTF-16 to code page 1252.
char VersionCharToAnsi(std::uint32_t c);

// Reads the node at `offset`, which must end by `limit` (its parent's end).
// The root alone is clipped to the limit instead, so a block cut short still
// answers for the nodes it holds whole.
bool ReadVersionNode(const Bytes &block, std::uint64_t offset, std::uint64_t limit, bool root,
                     VersionNode *node);

// Key comparison for FindVersionChild; the default folds ASCII letters.
using SameKeyFunction = bool (*)(const std::string &, const std::string &);
bool SameAsciiKey(const std::string &a, const std::string &b);

// The first child of `parent` whose key matches.
bool FindVersionChild(const Bytes &block, const VersionNode &parent, const std::string &key,
                      VersionNode *child, SameKeyFunction same = SameAsciiKey);

// A text node's value in code page 1252, up to its terminator.
std::string VersionNodeText(const Bytes &block, const VersionNode &node);

// The named string ("FileVersion", "ProductVersion", ...) of the image's
// version resource, as the installer's GetFileVersionInfoA/VerQueryValueA
// calls see it: the string table of the first translation listed under
// \VarFileInfo\Translation. nullopt when the image has no readable version
// resource, no translation, no such table or no such value.
std::optional<std::string> VersionString(const std::vector<std::uint8_t> &image,
                                         const std::string &name);
std::optional<std::string> FileVersionString(const std::filesystem::path &path,
                                             const std::string &name);

}  // namespace formats

#endif
