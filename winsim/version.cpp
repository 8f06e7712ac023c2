// Version information: the VS_VERSIONINFO resource (RT_VERSION) of a real
// 32-bit PE file, read straight from the host file, and VerQueryValueA over
// the block GetFileVersionInfoA fills.
//
// The files come from anywhere (the product's old files, a damaged install),
// so nothing in them is trusted: every offset and length of the headers, the
// section table, the resource tree and the version tree is checked against
// what was read before anything is touched. The model follows NT's
// version.dll; Windows 95's differences (its 16-bit resources, its smaller
// block) are left out. The file is read without regard to handles the
// program holds open on it, and a relative name resolves against the current
// directory only, not along LoadLibrary's search path.
#include "internal.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

namespace fs = std::filesystem;

namespace winsim {
namespace {

constexpr DWORD kRtVersion = 16;
constexpr DWORD kFixedInfoSignature = 0xFEEF04BD;  // VS_FIXEDFILEINFO.dwSignature
constexpr WORD kPe32Magic = 0x10B;
constexpr DWORD kResourceDirectoryIndex = 2;
constexpr DWORD kHighBit = 0x80000000u;
// Written after the Unicode tree when the caller's block has room: NT's mark
// that the rest of the block is the area for ANSI copies.
constexpr char kAnsiAreaMark[4] = {'F', 'E', '2', 'X'};

// Sizes and offsets of the on-disk layouts.
constexpr std::uint64_t kDosHeaderSize = 0x40;
constexpr std::uint64_t kLfanewOffset = 0x3C;
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::uint64_t kOptionalHeaderFixedSize = 96;  // PE32, up to the data directories
constexpr std::uint64_t kRvaCountOffset = 92;
constexpr std::uint64_t kDataDirectorySize = 8;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kResourceDirectorySize = 16;
constexpr std::uint64_t kResourceEntrySize = 8;
constexpr std::uint64_t kResourceDataEntrySize = 16;
constexpr std::uint64_t kVersionNodeHeaderSize = 6;  // wLength, wValueLength, wType

// A little-endian view of bytes; every read is checked against the size.
class Bytes {
public:
    Bytes(const unsigned char *data, std::uint64_t size) : data_(data), size_(size) {}
    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    bool U16(std::uint64_t offset, DWORD *out) const {
        if (!Has(offset, 2)) return false;
        *out = data_[offset] | (static_cast<DWORD>(data_[offset + 1]) << 8);
        return true;
    }
    bool U32(std::uint64_t offset, DWORD *out) const {
        DWORD low, high;
        if (!U16(offset, &low) || !U16(offset + 2, &high)) return false;
        *out = low | (high << 16);
        return true;
    }
    const unsigned char *At(std::uint64_t offset) const { return data_ + offset; }
    std::uint64_t Size() const { return size_; }

private:
    const unsigned char *data_;
    std::uint64_t size_;
};

std::uint64_t Align4(std::uint64_t offset) { return (offset + 3) & ~static_cast<std::uint64_t>(3); }

// ---- The PE file --------------------------------------------------------------

struct Section {
    DWORD virtualAddress = 0;
    DWORD rawSize = 0;
    DWORD rawOffset = 0;
};

struct PeImage {
    std::vector<Section> sections;
    DWORD resourceRva = 0;
    DWORD resourceSize = 0;

    // The file offset of [rva, rva + length), when the range lies within one
    // section's data in the file.
    bool Locate(const Bytes &file, std::uint64_t rva, std::uint64_t length,
                std::uint64_t *offset) const {
        for (const Section &s : sections) {
            if (rva < s.virtualAddress) continue;
            const std::uint64_t delta = rva - s.virtualAddress;
            if (delta >= s.rawSize || length > s.rawSize - delta) continue;
            const std::uint64_t at = s.rawOffset + delta;
            if (!file.Has(at, length)) return false;
            *offset = at;
            return true;
        }
        return false;
    }
};

// Reads the headers a loader needs to find the resources: DOS header,
// "PE\0\0", COFF header, PE32 optional header and section table. Returns 0
// or ERROR_BAD_FORMAT.
DWORD ReadHeaders(const Bytes &file, PeImage *image) {
    DWORD mz, lfanew, signature;
    if (!file.Has(0, kDosHeaderSize) || !file.U16(0, &mz) || mz != 0x5A4D)  // "MZ"
        return ERROR_BAD_FORMAT;
    if (!file.U32(kLfanewOffset, &lfanew) || !file.U32(lfanew, &signature) ||
        signature != 0x00004550)  // "PE\0\0"
        return ERROR_BAD_FORMAT;
    const std::uint64_t coff = static_cast<std::uint64_t>(lfanew) + 4;
    DWORD sectionCount, optionalSize, magic;
    if (!file.Has(coff, kCoffHeaderSize) || !file.U16(coff + 2, &sectionCount) ||
        !file.U16(coff + 16, &optionalSize))
        return ERROR_BAD_FORMAT;
    const std::uint64_t optional = coff + kCoffHeaderSize;
    // A 64-bit image (PE32+) is not one of the machine's programs.
    if (optionalSize < kOptionalHeaderFixedSize || !file.Has(optional, optionalSize) ||
        !file.U16(optional, &magic) || magic != kPe32Magic)
        return ERROR_BAD_FORMAT;

    DWORD rvaCount = 0;
    file.U32(optional + kRvaCountOffset, &rvaCount);
    const std::uint64_t resourceEntry =
        kOptionalHeaderFixedSize + kResourceDirectoryIndex * kDataDirectorySize;
    if (rvaCount > kResourceDirectoryIndex && resourceEntry + kDataDirectorySize <= optionalSize) {
        file.U32(optional + resourceEntry, &image->resourceRva);
        file.U32(optional + resourceEntry + 4, &image->resourceSize);
    }

    const std::uint64_t table = optional + optionalSize;
    if (!file.Has(table, sectionCount * kSectionHeaderSize)) return ERROR_BAD_FORMAT;
    image->sections.resize(sectionCount);
    for (DWORD i = 0; i < sectionCount; ++i) {
        const std::uint64_t header = table + i * kSectionHeaderSize;
        Section &s = image->sections[i];
        file.U32(header + 12, &s.virtualAddress);
        file.U32(header + 16, &s.rawSize);
        file.U32(header + 20, &s.rawOffset);
    }
    return 0;
}

// One entry of a resource directory: the id (or a name's offset, high bit
// set) and the offset of a subdirectory (high bit set) or data entry, both
// relative to the start of the resource section.
struct ResourceEntry {
    DWORD name = 0;
    DWORD target = 0;
};

// The entries of the resource directory at `offset` (relative to the start
// of the resources). Returns false when the directory cannot be read.
bool ReadResourceDirectory(const Bytes &file, const PeImage &image, DWORD offset,
                           std::vector<ResourceEntry> *entries) {
    std::uint64_t at;
    const std::uint64_t rva = static_cast<std::uint64_t>(image.resourceRva) + offset;
    DWORD named, ids;
    if (!image.Locate(file, rva, kResourceDirectorySize, &at) || !file.U16(at + 12, &named) ||
        !file.U16(at + 14, &ids))
        return false;
    const std::uint64_t count = static_cast<std::uint64_t>(named) + ids;
    if (!image.Locate(file, rva + kResourceDirectorySize, count * kResourceEntrySize, &at))
        return false;
    entries->resize(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        file.U32(at + i * kResourceEntrySize, &(*entries)[i].name);
        file.U32(at + i * kResourceEntrySize + 4, &(*entries)[i].target);
    }
    return true;
}

// Where the version resource lies in the file.
struct VersionResource {
    std::uint64_t offset = 0;
    DWORD size = 0;    // the resource's size, as SizeofResource gives it
    DWORD length = 0;  // the root node's wLength: the tree proper
};

// Walks type -> name -> language to the version resource: the first name
// and the first language under RT_VERSION, as for a system whose language
// the file does not single out. Returns 0 or the error the API reports.
DWORD FindVersionResource(const Bytes &file, VersionResource *out) {
    PeImage image;
    if (DWORD error = ReadHeaders(file, &image)) return error;
    if (image.resourceRva == 0 || image.resourceSize == 0) return ERROR_RESOURCE_TYPE_NOT_FOUND;

    std::vector<ResourceEntry> types, names, languages;
    if (!ReadResourceDirectory(file, image, 0, &types)) return ERROR_RESOURCE_DATA_NOT_FOUND;
    auto version = std::find_if(types.begin(), types.end(),
                                [](const ResourceEntry &e) { return e.name == kRtVersion; });
    if (version == types.end()) return ERROR_RESOURCE_TYPE_NOT_FOUND;
    if (!(version->target & kHighBit) ||
        !ReadResourceDirectory(file, image, version->target & ~kHighBit, &names))
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    if (names.empty()) return ERROR_RESOURCE_NAME_NOT_FOUND;
    if (!(names[0].target & kHighBit) ||
        !ReadResourceDirectory(file, image, names[0].target & ~kHighBit, &languages) ||
        languages.empty() || (languages[0].target & kHighBit))
        return ERROR_RESOURCE_DATA_NOT_FOUND;

    std::uint64_t entry;
    DWORD dataRva, size;
    if (!image.Locate(file, static_cast<std::uint64_t>(image.resourceRva) + languages[0].target,
                      kResourceDataEntrySize, &entry) ||
        !file.U32(entry, &dataRva) || !file.U32(entry + 4, &size))
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    // The block the caller allocates is twice the resource and four bytes;
    // a resource too large for that to fit a DWORD is not a real one.
    if (size < kVersionNodeHeaderSize || size > 0x7FFFFFF0u ||
        !image.Locate(file, dataRva, size, &out->offset))
        return ERROR_RESOURCE_DATA_NOT_FOUND;

    // The root must fit the resource, and its VS_FIXEDFILEINFO, if any, must
    // carry its signature: NT refuses the resource otherwise.
    const Bytes resource(file.At(out->offset), size);
    DWORD length, valueLength, signature;
    resource.U16(0, &length);
    resource.U16(2, &valueLength);
    if (length < kVersionNodeHeaderSize || length > size) return ERROR_RESOURCE_DATA_NOT_FOUND;
    if (valueLength != 0) {
        std::uint64_t key = kVersionNodeHeaderSize;
        DWORD c = 1;
        while (c != 0 && resource.U16(key, &c)) key += 2;
        if (c != 0 || !resource.U32(Align4(key), &signature) || signature != kFixedInfoSignature)
            return ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    out->size = size;
    out->length = length;
    return 0;
}

// Reads the file a Windows path names and finds its version resource.
// Returns 0 or the error the API reports.
DWORD LoadVersionResource(LPCSTR path, std::string *bytes, VersionResource *resource) {
    if (!path) return ERROR_INVALID_PARAMETER;
    if (!*path) return ERROR_BAD_PATHNAME;
    const std::string host = HostPath(path);
    if (host.empty()) return ERROR_PATH_NOT_FOUND;
    std::error_code ec;
    if (fs::is_directory(host, ec)) return ERROR_ACCESS_DENIED;
    std::ifstream in(host, std::ios::binary);
    if (!in) {
        const fs::path parent = fs::path(host).parent_path();
        return fs::is_directory(parent, ec) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return ERROR_READ_FAULT;
    const Bytes file(reinterpret_cast<const unsigned char *>(bytes->data()), bytes->size());
    return FindVersionResource(file, resource);
}

// ---- Blocks GetFileVersionInfoA filled ------------------------------------------

// What winsim knows of a caller's block, so that queries on a block shorter
// than the size asked for fail instead of reading or writing past it (where
// Windows would). Keyed by address; the first bytes tell a block that was
// freed and reused for something else.
struct FilledBlock {
    DWORD copied = 0;    // bytes of the resource in the block
    DWORD capacity = 0;  // the caller's dwLen
    std::string head;
};

std::map<const void *, FilledBlock> &Blocks() {
    static std::map<const void *, FilledBlock> blocks;
    return blocks;
}

constexpr size_t kHeadBytes = 16;

std::string HeadOf(const void *block, size_t available) {
    return std::string(static_cast<const char *>(block), std::min(available, kHeadBytes));
}

// ---- The version tree ---------------------------------------------------------------

// One node of the tree: wLength, wValueLength, wType, szKey, padding, Value,
// padding, Children. Offsets are from the start of the block.
struct Node {
    std::uint64_t end = 0;  // offset + wLength, clipped for the root
    DWORD valueLength = 0;  // wValueLength: bytes, or characters for text (wType 1)
    std::string key;        // in the ANSI code page
    std::uint64_t value = 0;
    std::uint64_t valueEnd = 0;  // the value's bytes within the node
    std::uint64_t children = 0;
};

// UTF-16 to the ANSI code page 1252: characters below 0x100 map to
// themselves, all others become '?'.
char ToAnsi(DWORD c) { return c < 0x100 ? static_cast<char>(c) : '?'; }

// Reads the node at `offset`, which must end by `limit` (its parent's end).
// The root alone is clipped to the limit instead, so a block cut short still
// answers for the nodes it holds whole.
bool ReadNode(const Bytes &block, std::uint64_t offset, std::uint64_t limit, bool root,
              Node *node) {
    DWORD length, type;
    if (offset > limit || limit - offset < kVersionNodeHeaderSize || !block.U16(offset, &length) ||
        !block.U16(offset + 2, &node->valueLength) || !block.U16(offset + 4, &type))
        return false;
    if (length < kVersionNodeHeaderSize) return false;
    if (length > limit - offset && !root) return false;
    node->end = std::min<std::uint64_t>(offset + length, limit);

    node->key.clear();
    std::uint64_t at = offset + kVersionNodeHeaderSize;
    for (DWORD c;; at += 2) {
        if (at + 2 > node->end || !block.U16(at, &c)) return false;
        if (c == 0) break;
        node->key += ToAnsi(c);
    }
    node->value = std::min(Align4(at + 2), node->end);
    const std::uint64_t valueBytes =
        type == 1 ? 2 * static_cast<std::uint64_t>(node->valueLength) : node->valueLength;
    node->valueEnd = std::min(node->value + valueBytes, node->end);
    node->children = std::min(Align4(node->value + valueBytes), node->end);
    return true;
}

bool SameKey(const std::string &a, const std::string &b) {
    return detail::FoldCase(a) == detail::FoldCase(b);
}

bool FindChild(const Bytes &block, const Node &parent, const std::string &key, Node *child) {
    std::uint64_t at = parent.children;
    while (ReadNode(block, at, parent.end, false, child)) {
        if (SameKey(child->key, key)) return true;
        DWORD length = 0;
        block.U16(at, &length);
        at = Align4(at + length);
    }
    return false;
}

// The components of a query path: "\StringFileInfo\040904e4\ProductVersion"
// gives three; "\" none. Separators inside double-byte characters do not split.
std::vector<std::string> SplitQuery(const std::string &query) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < query.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(query[i]);
        if (detail::IsLeadByte(c) && i + 1 < query.size()) {
            parts.back() += query.substr(i++, 2);
        } else if (c == '\\') {
            if (!parts.back().empty()) parts.emplace_back();
        } else {
            parts.back() += static_cast<char>(c);
        }
    }
    if (parts.back().empty()) parts.pop_back();
    return parts;
}

}  // namespace
}  // namespace winsim

using winsim::detail::Enter;
using winsim::detail::SetError;

// NT: the size of the block the caller must allocate: twice the resource and
// four bytes (as Windows 2000 and XP ask, and Wine after them), the second
// half holding the ANSI copies VerQueryValueA makes.
// A file without a version resource gives ERROR_RESOURCE_TYPE_NOT_FOUND (a
// damaged resource tree ERROR_RESOURCE_DATA_NOT_FOUND), a missing file
// ERROR_FILE_NOT_FOUND (ERROR_PATH_NOT_FOUND for a missing folder), a file
// that is no 32-bit PE ERROR_BAD_FORMAT. *lpdwHandle, when given, is set to 0.
DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle) {
    if (Enter("GetFileVersionInfoSizeA", lptstrFilename ? lptstrFilename : "")) return 0;
    if (lpdwHandle) *lpdwHandle = 0;
    std::string bytes;
    winsim::VersionResource resource;
    if (DWORD error = winsim::LoadVersionResource(lptstrFilename, &bytes, &resource))
        return SetError(error), 0;
    return resource.size * 2 + 4;
}

// NT: copies the resource into the block, cut to dwLen bytes, and when the
// block has four bytes to spare after the tree, marks the ANSI area there
// ("FE2X"). A shorter block still succeeds with what fits. A block of zero
// bytes fails with ERROR_RESOURCE_DATA_NOT_FOUND (as under Wine), a null one
// with ERROR_INVALID_PARAMETER; other errors as GetFileVersionInfoSizeA.
// dwHandle is ignored.
BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD, DWORD dwLen, LPVOID lpData) {
    if (Enter("GetFileVersionInfoA", lptstrFilename ? lptstrFilename : "")) return FALSE;
    if (!lpData) return SetError(ERROR_INVALID_PARAMETER), FALSE;
    winsim::Blocks().erase(lpData);
    std::string bytes;
    winsim::VersionResource resource;
    if (DWORD error = winsim::LoadVersionResource(lptstrFilename, &bytes, &resource))
        return SetError(error), FALSE;
    if (dwLen == 0) return SetError(ERROR_RESOURCE_DATA_NOT_FOUND), FALSE;

    const DWORD copied = std::min(dwLen, resource.size);
    std::memcpy(lpData, bytes.data() + resource.offset, copied);
    if (dwLen >= resource.length + 4u)
        std::memcpy(static_cast<char *>(lpData) + resource.length, winsim::kAnsiAreaMark, 4);
    winsim::Blocks()[lpData] = winsim::FilledBlock{copied, dwLen, winsim::HeadOf(lpData, copied)};
    return TRUE;
}

// NT's ANSI query. "\" gives the VS_FIXEDFILEINFO and "\VarFileInfo\Translation"
// the translation array, both pointing into the Unicode tree with *puLen in
// bytes. Any other path names a string: it is converted to code page 1252
// into the block's ANSI area (at the tree's length plus four, plus the
// string's own offset, as NT places it) and *puLen counts its characters
// with the terminator (0 for a value stored without even that). Keys match
// without regard to case, whole components only; empty components are
// skipped. A path that does not exist fails with
// ERROR_RESOURCE_TYPE_NOT_FOUND. A block GetFileVersionInfoA filled is read
// no further than it copied, and a string whose copy would not fit the
// caller's dwLen fails with ERROR_INSUFFICIENT_BUFFER; any other block is
// trusted as Windows trusts it.
BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID *lplpBuffer, UINT *puLen) {
    if (Enter("VerQueryValueA", lpSubBlock ? lpSubBlock : "")) return FALSE;
    if (!pBlock || !lpSubBlock || !lplpBuffer) return SetError(ERROR_INVALID_PARAMETER), FALSE;
    *lplpBuffer = nullptr;
    if (puLen) *puLen = 0;

    // How much of the block may be read, and written from its start.
    auto known = winsim::Blocks().find(pBlock);
    if (known != winsim::Blocks().end() &&
        known->second.head != winsim::HeadOf(pBlock, known->second.copied))
        known = winsim::Blocks().end();
    DWORD rootLength = 0;
    const winsim::Bytes header(static_cast<const unsigned char *>(pBlock),
                               known == winsim::Blocks().end() ? 2 : known->second.copied);
    header.U16(0, &rootLength);
    std::uint64_t readable = rootLength;
    std::uint64_t capacity = static_cast<std::uint64_t>(rootLength) * 2 + 4;
    if (known != winsim::Blocks().end()) {
        readable = std::min<std::uint64_t>(readable, known->second.copied);
        capacity = known->second.capacity;
    }
    const winsim::Bytes block(static_cast<const unsigned char *>(pBlock), readable);

    const std::vector<std::string> parts = winsim::SplitQuery(lpSubBlock);
    winsim::Node node;
    bool found = winsim::ReadNode(block, 0, readable, true, &node);
    for (size_t i = 0; found && i < parts.size(); ++i) {
        winsim::Node child;
        found = winsim::FindChild(block, node, parts[i], &child);
        node = child;
    }
    if (!found) return SetError(ERROR_RESOURCE_TYPE_NOT_FOUND), FALSE;

    const bool binary = parts.empty() || (parts.size() == 2 &&
                                          winsim::SameKey(parts[0], "VarFileInfo") &&
                                          winsim::SameKey(parts[1], "Translation"));
    if (binary) {
        if (node.valueEnd - node.value < node.valueLength)
            return SetError(ERROR_RESOURCE_TYPE_NOT_FOUND), FALSE;
        *lplpBuffer = const_cast<unsigned char *>(block.At(node.value));
        if (puLen) *puLen = node.valueLength;
        return TRUE;
    }

    std::string text;
    for (std::uint64_t at = node.value; at + 2 <= node.valueEnd; at += 2) {
        DWORD c = 0;
        block.U16(at, &c);
        if (c == 0) break;
        text += winsim::ToAnsi(c);
    }
    const std::uint64_t target = static_cast<std::uint64_t>(rootLength) + 4 + node.value;
    if (target > capacity || text.size() + 1 > capacity - target)
        return SetError(ERROR_INSUFFICIENT_BUFFER), FALSE;
    char *copy = static_cast<char *>(const_cast<void *>(pBlock)) + target;
    std::memcpy(copy, text.c_str(), text.size() + 1);
    *lplpBuffer = copy;
    if (puLen) *puLen = node.valueLength == 0 ? 0 : static_cast<UINT>(text.size() + 1);
    return TRUE;
}
