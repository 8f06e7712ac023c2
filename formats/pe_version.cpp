#include "formats/pe_version.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace formats {

bool Bytes::U16(std::uint64_t offset, std::uint32_t *out) const {
    if (!Has(offset, 2)) return false;
    *out = data_[offset] | (static_cast<std::uint32_t>(data_[offset + 1]) << 8);
    return true;
}

bool Bytes::U32(std::uint64_t offset, std::uint32_t *out) const {
    std::uint32_t low, high;
    if (!U16(offset, &low) || !U16(offset + 2, &high)) return false;
    *out = low | (high << 16);
    return true;
}

namespace {

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;  // VS_FIXEDFILEINFO.dwSignature
constexpr std::uint32_t kPe32Magic = 0x10B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kHighBit = 0x80000000u;

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

// ---- The PE file --------------------------------------------------------------

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
};

struct PeImage {
    std::vector<Section> sections;
    std::uint32_t resourceRva = 0;
    std::uint32_t resourceSize = 0;

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
// "PE\0\0", COFF header, PE32 optional header and section table.
bool ReadHeaders(const Bytes &file, PeImage *image) {
    std::uint32_t mz, lfanew, signature;
    if (!file.Has(0, kDosHeaderSize) || !file.U16(0, &mz) || mz != 0x5A4D)  // "MZ"
        return false;
    if (!file.U32(kLfanewOffset, &lfanew) || !file.U32(lfanew, &signature) ||
        signature != 0x00004550)  // "PE\0\0"
        return false;
    const std::uint64_t coff = static_cast<std::uint64_t>(lfanew) + 4;
    std::uint32_t sectionCount, optionalSize, magic;
    if (!file.Has(coff, kCoffHeaderSize) || !file.U16(coff + 2, &sectionCount) ||
        !file.U16(coff + 16, &optionalSize))
        return false;
    const std::uint64_t optional = coff + kCoffHeaderSize;
    // A 64-bit image (PE32+) is not one of the machine's programs.
    if (optionalSize < kOptionalHeaderFixedSize || !file.Has(optional, optionalSize) ||
        !file.U16(optional, &magic) || magic != kPe32Magic)
        return false;

    std::uint32_t rvaCount = 0;
    file.U32(optional + kRvaCountOffset, &rvaCount);
    const std::uint64_t resourceEntry =
        kOptionalHeaderFixedSize + kResourceDirectoryIndex * kDataDirectorySize;
    if (rvaCount > kResourceDirectoryIndex && resourceEntry + kDataDirectorySize <= optionalSize) {
        file.U32(optional + resourceEntry, &image->resourceRva);
        file.U32(optional + resourceEntry + 4, &image->resourceSize);
    }

    const std::uint64_t table = optional + optionalSize;
    if (!file.Has(table, sectionCount * kSectionHeaderSize)) return false;
    image->sections.resize(sectionCount);
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t header = table + i * kSectionHeaderSize;
        Section &s = image->sections[i];
        file.U32(header + 12, &s.virtualAddress);
        file.U32(header + 16, &s.rawSize);
        file.U32(header + 20, &s.rawOffset);
    }
    return true;
}

// One entry of a resource directory: the id (or a name's offset, high bit
// set) and the offset of a subdirectory (high bit set) or data entry, both
// relative to the start of the resource section.
struct ResourceEntry {
    std::uint32_t name = 0;
    std::uint32_t target = 0;
};

// The entries of the resource directory at `offset` (relative to the start
// of the resources). Returns false when the directory cannot be read.
bool ReadResourceDirectory(const Bytes &file, const PeImage &image, std::uint32_t offset,
                           std::vector<ResourceEntry> *entries) {
    std::uint64_t at;
    const std::uint64_t rva = static_cast<std::uint64_t>(image.resourceRva) + offset;
    std::uint32_t named, ids;
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

}  // namespace

VersionFault FindVersionResource(const Bytes &file, VersionResource *out) {
    PeImage image;
    if (!ReadHeaders(file, &image)) return VersionFault::BadFormat;
    if (image.resourceRva == 0 || image.resourceSize == 0) return VersionFault::TypeNotFound;

    std::vector<ResourceEntry> types, names, languages;
    if (!ReadResourceDirectory(file, image, 0, &types)) return VersionFault::DataNotFound;
    auto version = std::find_if(types.begin(), types.end(),
                                [](const ResourceEntry &e) { return e.name == kRtVersion; });
    if (version == types.end()) return VersionFault::TypeNotFound;
    if (!(version->target & kHighBit) ||
        !ReadResourceDirectory(file, image, version->target & ~kHighBit, &names))
        return VersionFault::DataNotFound;
    if (names.empty()) return VersionFault::NameNotFound;
    if (!(names[0].target & kHighBit) ||
        !ReadResourceDirectory(file, image, names[0].target & ~kHighBit, &languages) ||
        languages.empty() || (languages[0].target & kHighBit))
        return VersionFault::DataNotFound;

    std::uint64_t entry;
    std::uint32_t dataRva, size;
    if (!image.Locate(file, static_cast<std::uint64_t>(image.resourceRva) + languages[0].target,
                      kResourceDataEntrySize, &entry) ||
        !file.U32(entry, &dataRva) || !file.U32(entry + 4, &size))
        return VersionFault::DataNotFound;
    // The block the caller allocates is twice the resource and four bytes;
    // a resource too large for that to fit 32 bits is not a real one.
    if (size < kVersionNodeHeaderSize || size > 0x7FFFFFF0u ||
        !image.Locate(file, dataRva, size, &out->offset))
        return VersionFault::DataNotFound;

    // The root must fit the resource, and its VS_FIXEDFILEINFO, if any, must
    // carry its signature: NT refuses the resource otherwise.
    const Bytes resource(file.At(out->offset), size);
    std::uint32_t length, valueLength, signature;
    resource.U16(0, &length);
    resource.U16(2, &valueLength);
    if (length < kVersionNodeHeaderSize || length > size) return VersionFault::DataNotFound;
    if (valueLength != 0) {
        std::uint64_t key = kVersionNodeHeaderSize;
        std::uint32_t c = 1;
        while (c != 0 && resource.U16(key, &c)) key += 2;
        if (c != 0 || !resource.U32(Align4(key), &signature) || signature != kFixedInfoSignature)
            return VersionFault::DataNotFound;
    }
    out->size = size;
    out->length = length;
    return VersionFault::None;
}

char VersionCharToAnsi(std::uint32_t c) { return c < 0x100 ? static_cast<char>(c) : '?'; }

bool ReadVersionNode(const Bytes &block, std::uint64_t offset, std::uint64_t limit, bool root,
                     VersionNode *node) {
    std::uint32_t length, type;
    if (offset > limit || limit - offset < kVersionNodeHeaderSize || !block.U16(offset, &length) ||
        !block.U16(offset + 2, &node->valueLength) || !block.U16(offset + 4, &type))
        return false;
    if (length < kVersionNodeHeaderSize) return false;
    if (length > limit - offset && !root) return false;
    node->end = std::min<std::uint64_t>(offset + length, limit);

    node->key.clear();
    std::uint64_t at = offset + kVersionNodeHeaderSize;
    for (std::uint32_t c;; at += 2) {
        if (at + 2 > node->end || !block.U16(at, &c)) return false;
        if (c == 0) break;
        node->key += VersionCharToAnsi(c);
    }
    node->value = std::min(Align4(at + 2), node->end);
    const std::uint64_t valueBytes =
        type == 1 ? 2 * static_cast<std::uint64_t>(node->valueLength) : node->valueLength;
    node->valueEnd = std::min(node->value + valueBytes, node->end);
    node->children = std::min(Align4(node->value + valueBytes), node->end);
    return true;
}

bool SameAsciiKey(const std::string &a, const std::string &b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool FindVersionChild(const Bytes &block, const VersionNode &parent, const std::string &key,
                      VersionNode *child, SameKeyFunction same) {
    std::uint64_t at = parent.children;
    while (ReadVersionNode(block, at, parent.end, false, child)) {
        if (same(child->key, key)) return true;
        std::uint32_t length = 0;
        block.U16(at, &length);
        at = Align4(at + length);
    }
    return false;
}

std::string VersionNodeText(const Bytes &block, const VersionNode &node) {
    std::string text;
    for (std::uint64_t at = node.value; at + 2 <= node.valueEnd; at += 2) {
        std::uint32_t c = 0;
        block.U16(at, &c);
        if (c == 0) break;
        text += VersionCharToAnsi(c);
    }
    return text;
}

std::optional<std::string> VersionString(const std::vector<std::uint8_t> &image,
                                         const std::string &name) {
    const Bytes file(image.data(), image.size());
    VersionResource resource;
    if (FindVersionResource(file, &resource) != VersionFault::None) return std::nullopt;
    const Bytes block(file.At(resource.offset), resource.length);
    VersionNode root, node, translation;
    if (!ReadVersionNode(block, 0, block.Size(), true, &root)) return std::nullopt;
    if (!FindVersionChild(block, root, "VarFileInfo", &node) ||
        !FindVersionChild(block, node, "Translation", &translation) ||
        translation.valueEnd - translation.value < 4)
        return std::nullopt;
    std::uint32_t language = 0, codePage = 0;
    block.U16(translation.value, &language);
    block.U16(translation.value + 2, &codePage);
    char table[9];
    std::snprintf(table, sizeof table, "%04x%04x", static_cast<unsigned>(language),
                  static_cast<unsigned>(codePage));
    VersionNode strings, value;
    if (!FindVersionChild(block, root, "StringFileInfo", &node) ||
        !FindVersionChild(block, node, table, &strings) ||
        !FindVersionChild(block, strings, name, &value))
        return std::nullopt;
    return VersionNodeText(block, value);
}

std::optional<std::string> FileVersionString(const std::filesystem::path &path,
                                             const std::string &name) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(in), {}};
    return VersionString(image, name);
}

}  // namespace formats
