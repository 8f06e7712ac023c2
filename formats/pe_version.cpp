#include "formats/pe_version.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace formats {

namespace {

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;  // VS_FIXEDFILEINFO.dwSignature

}  // namespace

VersionFault FindVersionResource(const Bytes &file, VersionResource *out) {
    PeLayout layout;
    if (!ReadPeLayout(file, &layout)) return VersionFault::BadFormat;
    if (layout.resourceRva == 0 || layout.resourceSize == 0) return VersionFault::TypeNotFound;

    std::vector<ResourceDirectoryEntry> types, names, languages;
    if (!ReadResourceDirectory(file, layout, 0, &types)) return VersionFault::DataNotFound;
    auto version = std::find_if(types.begin(), types.end(),
                                [](const ResourceDirectoryEntry &e) { return e.name == kRtVersion; });
    if (version == types.end()) return VersionFault::TypeNotFound;
    if (!(version->target & kResourceSubdirectory) ||
        !ReadResourceDirectory(file, layout, version->target & ~kResourceSubdirectory, &names))
        return VersionFault::DataNotFound;
    if (names.empty()) return VersionFault::NameNotFound;
    if (!(names[0].target & kResourceSubdirectory) ||
        !ReadResourceDirectory(file, layout, names[0].target & ~kResourceSubdirectory, &languages) ||
        languages.empty() || (languages[0].target & kResourceSubdirectory))
        return VersionFault::DataNotFound;

    // The block the caller allocates is twice the resource and four bytes;
    // a resource too large for that to fit 32 bits is not a real one.
    std::uint32_t size;
    if (!ReadResourceData(file, layout, languages[0].target, &out->offset, &size) ||
        size < kVersionNodeHeaderSize || size > 0x7FFFFFF0u)
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
