#include "formats/pe_resources.h"

#include <algorithm>
#include <map>
#include <tuple>

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

constexpr std::uint32_t kPe32Magic = 0x10B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kCertificateDirectoryIndex = 4;

// Sizes and offsets of the on-disk layouts.
constexpr std::uint64_t kDosHeaderSize = 0x40;
constexpr std::uint64_t kLfanewOffset = 0x3C;
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::uint64_t kOptionalHeaderFixedSize = 96;  // PE32, up to the data directories
constexpr std::uint64_t kSizeOfInitializedDataOffset = 8;
constexpr std::uint64_t kSectionAlignmentOffset = 32;
constexpr std::uint64_t kFileAlignmentOffset = 36;
constexpr std::uint64_t kSizeOfImageOffset = 56;
constexpr std::uint64_t kSizeOfHeadersOffset = 60;
constexpr std::uint64_t kCheckSumOffset = 64;
constexpr std::uint64_t kRvaCountOffset = 92;
constexpr std::uint64_t kDataDirectorySize = 8;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kResourceDirectorySize = 16;
constexpr std::uint64_t kResourceEntrySize = 8;
constexpr std::uint64_t kResourceDataEntrySize = 16;
// IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ, as linkers mark .rsrc.
constexpr std::uint32_t kResourceSectionFlags = 0x40000040u;
constexpr std::uint32_t kInitializedData = 0x40u;
// Windows finds a resource by walking the tree and expects nothing finer
// than four-byte alignment; eight keeps every resource's data as a linker
// would.
constexpr std::uint32_t kDataAlignment = 8;
constexpr char kResourceSectionName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

const unsigned char *Data(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

void Put16(std::string &out, std::uint64_t at, std::uint32_t value) {
    out[at] = static_cast<char>(value & 0xFF);
    out[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string &out, std::uint64_t at, std::uint32_t value) {
    Put16(out, at, value & 0xFFFF);
    Put16(out, at + 2, value >> 16);
}

// A counted UTF-16 name at `offset` in the resources.
bool ReadResourceName(const Bytes &file, const PeLayout &layout, std::uint32_t offset, std::u16string *name) {
    std::uint64_t at;
    std::uint32_t length;
    const std::uint64_t rva = static_cast<std::uint64_t>(layout.resourceRva) + offset;
    if (!layout.Locate(file, rva, 2, &at) || !file.U16(at, &length) || length == 0 ||
        !layout.Locate(file, rva + 2, 2 * static_cast<std::uint64_t>(length), &at))
        return false;
    name->clear();
    for (std::uint32_t i = 0, c; i < length; ++i) {
        file.U16(at + 2 * i, &c);
        name->push_back(static_cast<char16_t>(c));
    }
    return true;
}

bool ReadKey(const Bytes &file, const PeLayout &layout, std::uint32_t raw, ResourceKey *key) {
    key->name.clear();
    key->id = 0;
    if (!(raw & kResourceSubdirectory)) {
        key->id = raw;
        return true;
    }
    return ReadResourceName(file, layout, raw & ~kResourceSubdirectory, &key->name);
}

// Case folding of the loader's name comparison; ASCII is all our names use.
char16_t FoldCase(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// The loader's order within one directory: named entries first, names
// compared without regard to case, then ids ascending.
bool KeyBefore(const ResourceKey &a, const ResourceKey &b) {
    if (a.name.empty() != b.name.empty()) return !a.name.empty();
    if (a.name.empty()) return a.id < b.id;
    return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                        [](char16_t x, char16_t y) { return FoldCase(x) < FoldCase(y); });
}

bool SameKey(const ResourceKey &a, const ResourceKey &b) { return !KeyBefore(a, b) && !KeyBefore(b, a); }

std::string Describe(const Resource &r) {
    auto key = [](const ResourceKey &k) {
        if (k.name.empty()) return std::to_string(k.id);
        std::string ascii;
        for (char16_t c : k.name) ascii += c < 0x80 ? static_cast<char>(c) : '?';
        return "\"" + ascii + "\"";
    };
    return "type " + key(r.type) + ", name " + key(r.name) + ", language " + std::to_string(r.language);
}

// The resource tree of `sorted` (in the loader's order, no two alike) for
// a section at `baseRva`: the three levels of directories, then the data
// entries, then the names, then the data.
std::string ResourceTree(const std::vector<const Resource *> &sorted, std::uint32_t baseRva) {
    // Directories are laid out level by level; each entry of a level points
    // at the next level's directory or, at the last level, a data entry.
    struct Directory {
        std::vector<std::size_t> entries;  // the first resource of each entry's group
        std::vector<std::size_t> ends;     // one past its last
    };
    auto split = [&](std::size_t begin, std::size_t end, int level) {
        Directory d;
        for (std::size_t i = begin; i < end;) {
            std::size_t j = i + 1;
            while (j < end && (level == 0   ? SameKey(sorted[j]->type, sorted[i]->type)
                               : level == 1 ? SameKey(sorted[j]->name, sorted[i]->name)
                                            : false))
                ++j;
            d.entries.push_back(i);
            d.ends.push_back(j);
            i = j;
        }
        return d;
    };
    std::vector<Directory> levels[3];
    levels[0].push_back(split(0, sorted.size(), 0));
    for (int level = 1; level < 3; ++level)
        for (const Directory &parent : levels[level - 1])
            for (std::size_t e = 0; e < parent.entries.size(); ++e)
                levels[level].push_back(split(parent.entries[e], parent.ends[e], level));

    std::uint64_t size = 0;
    std::vector<std::uint64_t> directoryOffsets[3];
    for (int level = 0; level < 3; ++level)
        for (const Directory &d : levels[level]) {
            directoryOffsets[level].push_back(size);
            size += kResourceDirectorySize + d.entries.size() * kResourceEntrySize;
        }
    const std::uint64_t dataEntries = size;
    size += sorted.size() * kResourceDataEntrySize;
    // Names, each written once however many entries use it.
    std::map<std::u16string, std::uint64_t> nameOffsets;
    for (const Resource *r : sorted)
        for (const ResourceKey *k : {&r->type, &r->name})
            if (!k->name.empty() && nameOffsets.emplace(k->name, size).second) size += 2 + 2 * k->name.size();
    std::vector<std::uint64_t> dataOffsets;
    for (const Resource *r : sorted) {
        size = AlignUp(size, kDataAlignment);
        dataOffsets.push_back(size);
        size += r->bytes.size();
    }

    std::string tree(size, '\0');
    auto keyField = [&](const ResourceKey &k) {
        return k.name.empty() ? k.id : static_cast<std::uint32_t>(nameOffsets[k.name]) | kResourceSubdirectory;
    };
    for (int level = 0; level < 3; ++level) {
        std::size_t child = 0;  // the next directory of the next level
        for (std::size_t di = 0; di < levels[level].size(); ++di) {
            const Directory &d = levels[level][di];
            const std::uint64_t at = directoryOffsets[level][di];
            std::uint32_t named = 0;
            for (std::size_t first : d.entries) {
                const Resource *r = sorted[first];
                named += !(level == 0 ? r->type : r->name).name.empty() && level < 2;
            }
            Put16(tree, at + 12, named);
            Put16(tree, at + 14, static_cast<std::uint32_t>(d.entries.size()) - named);
            for (std::size_t e = 0; e < d.entries.size(); ++e) {
                const Resource *r = sorted[d.entries[e]];
                const std::uint64_t entry = at + kResourceDirectorySize + e * kResourceEntrySize;
                Put32(tree, entry, level == 0 ? keyField(r->type) : level == 1 ? keyField(r->name) : r->language);
                const std::uint32_t target =
                    level < 2 ? static_cast<std::uint32_t>(directoryOffsets[level + 1][child++]) | kResourceSubdirectory
                              : static_cast<std::uint32_t>(dataEntries + d.entries[e] * kResourceDataEntrySize);
                Put32(tree, entry + 4, target);
            }
        }
    }
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const std::uint64_t entry = dataEntries + i * kResourceDataEntrySize;
        Put32(tree, entry, baseRva + static_cast<std::uint32_t>(dataOffsets[i]));
        Put32(tree, entry + 4, static_cast<std::uint32_t>(sorted[i]->bytes.size()));
        tree.replace(dataOffsets[i], sorted[i]->bytes.size(), sorted[i]->bytes);
    }
    for (const auto &[name, at] : nameOffsets) {
        Put16(tree, at, static_cast<std::uint32_t>(name.size()));
        for (std::size_t c = 0; c < name.size(); ++c) Put16(tree, at + 2 + 2 * c, name[c]);
    }
    return tree;
}

}  // namespace

bool PeLayout::Locate(const Bytes &file, std::uint64_t rva, std::uint64_t length, std::uint64_t *offset) const {
    for (const PeSection &s : sections) {
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

bool ReadPeLayout(const Bytes &file, PeLayout *layout) {
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
    const std::uint64_t resourceEntry = kOptionalHeaderFixedSize + kResourceDirectoryIndex * kDataDirectorySize;
    layout->resourceRva = layout->resourceSize = 0;
    if (rvaCount > kResourceDirectoryIndex && resourceEntry + kDataDirectorySize <= optionalSize) {
        file.U32(optional + resourceEntry, &layout->resourceRva);
        file.U32(optional + resourceEntry + 4, &layout->resourceSize);
    }

    const std::uint64_t table = optional + optionalSize;
    if (!file.Has(table, sectionCount * kSectionHeaderSize)) return false;
    layout->sections.resize(sectionCount);
    for (std::uint32_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t header = table + i * kSectionHeaderSize;
        PeSection &s = layout->sections[i];
        file.U32(header + 12, &s.virtualAddress);
        file.U32(header + 16, &s.rawSize);
        file.U32(header + 20, &s.rawOffset);
    }
    return true;
}

bool ReadResourceDirectory(const Bytes &file, const PeLayout &layout, std::uint32_t offset,
                           std::vector<ResourceDirectoryEntry> *entries) {
    std::uint64_t at;
    const std::uint64_t rva = static_cast<std::uint64_t>(layout.resourceRva) + offset;
    std::uint32_t named, ids;
    if (!layout.Locate(file, rva, kResourceDirectorySize, &at) || !file.U16(at + 12, &named) ||
        !file.U16(at + 14, &ids))
        return false;
    const std::uint64_t count = static_cast<std::uint64_t>(named) + ids;
    if (!layout.Locate(file, rva + kResourceDirectorySize, count * kResourceEntrySize, &at)) return false;
    entries->resize(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        file.U32(at + i * kResourceEntrySize, &(*entries)[i].name);
        file.U32(at + i * kResourceEntrySize + 4, &(*entries)[i].target);
    }
    return true;
}

bool ReadResourceData(const Bytes &file, const PeLayout &layout, std::uint32_t offset, std::uint64_t *fileOffset,
                      std::uint32_t *size) {
    std::uint64_t entry;
    std::uint32_t dataRva;
    return layout.Locate(file, static_cast<std::uint64_t>(layout.resourceRva) + offset, kResourceDataEntrySize,
                         &entry) &&
           file.U32(entry, &dataRva) && file.U32(entry + 4, size) && layout.Locate(file, dataRva, *size, fileOffset);
}

std::optional<std::vector<Resource>> ReadResources(const std::string &image, std::string *error) {
    const Bytes file(Data(image), image.size());
    PeLayout layout;
    if (!ReadPeLayout(file, &layout)) {
        *error = "not a PE32 image";
        return std::nullopt;
    }
    std::vector<Resource> resources;
    if (layout.resourceRva == 0 || layout.resourceSize == 0) return resources;

    auto damaged = [&](const std::string &what) {
        *error = "damaged resource tree: " + what;
        return std::nullopt;
    };
    std::vector<ResourceDirectoryEntry> types, names, languages;
    if (!ReadResourceDirectory(file, layout, 0, &types)) return damaged("the root directory");
    for (const ResourceDirectoryEntry &t : types) {
        Resource r;
        if (!ReadKey(file, layout, t.name, &r.type)) return damaged("a type's name");
        if (!(t.target & kResourceSubdirectory) ||
            !ReadResourceDirectory(file, layout, t.target & ~kResourceSubdirectory, &names))
            return damaged("the directory of " + Describe(r));
        for (const ResourceDirectoryEntry &n : names) {
            if (!ReadKey(file, layout, n.name, &r.name)) return damaged("a name under " + Describe(r));
            if (!(n.target & kResourceSubdirectory) ||
                !ReadResourceDirectory(file, layout, n.target & ~kResourceSubdirectory, &languages))
                return damaged("the languages of " + Describe(r));
            for (const ResourceDirectoryEntry &l : languages) {
                r.language = l.name;
                std::uint64_t at;
                std::uint32_t size;
                if ((l.target & kResourceSubdirectory) || !ReadResourceData(file, layout, l.target, &at, &size))
                    return damaged("the data of " + Describe(r));
                r.bytes.assign(reinterpret_cast<const char *>(file.At(at)), size);
                resources.push_back(r);
            }
        }
    }
    return resources;
}

std::uint32_t PeChecksum(const std::string &image, std::uint64_t fieldOffset) {
    std::uint64_t sum = 0;
    for (std::uint64_t at = 0; at < image.size(); at += 2) {
        if (at == fieldOffset || at == fieldOffset + 2) continue;
        std::uint32_t word = static_cast<unsigned char>(image[at]);
        if (at + 1 < image.size()) word |= static_cast<std::uint32_t>(static_cast<unsigned char>(image[at + 1])) << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint32_t>(sum + image.size());
}

std::optional<std::string> WithResources(const std::string &stub, const std::vector<Resource> &resources,
                                         std::string *error) {
    auto refuse = [&](const std::string &why) {
        *error = why;
        return std::nullopt;
    };
    const Bytes file(Data(stub), stub.size());
    PeLayout layout;
    if (!ReadPeLayout(file, &layout)) return refuse("the stub is not a PE32 image");

    std::vector<const Resource *> sorted;
    for (const Resource &r : resources) {
        if (r.type.name.size() > 0xFFFF || r.name.name.size() > 0xFFFF || r.language > 0xFFFF ||
            r.bytes.size() > 0x10000000)
            return refuse("resource " + Describe(r) + " does not fit a resource tree");
        sorted.push_back(&r);
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const Resource *a, const Resource *b) {
        if (!SameKey(a->type, b->type)) return KeyBefore(a->type, b->type);
        if (!SameKey(a->name, b->name)) return KeyBefore(a->name, b->name);
        return a->language < b->language;
    });
    for (std::size_t i = 1; i < sorted.size(); ++i)
        if (SameKey(sorted[i]->type, sorted[i - 1]->type) && SameKey(sorted[i]->name, sorted[i - 1]->name) &&
            sorted[i]->language == sorted[i - 1]->language)
            return refuse("resource " + Describe(*sorted[i]) + " is listed twice");

    std::uint32_t lfanew, sectionCount, optionalSize, rvaCount, sectionAlignment, fileAlignment, headersSize,
        initializedData, certificate = 0;
    file.U32(kLfanewOffset, &lfanew);
    const std::uint64_t coff = static_cast<std::uint64_t>(lfanew) + 4;
    const std::uint64_t optional = coff + kCoffHeaderSize;
    file.U16(coff + 2, &sectionCount);
    file.U16(coff + 16, &optionalSize);
    file.U32(optional + kRvaCountOffset, &rvaCount);
    file.U32(optional + kSectionAlignmentOffset, &sectionAlignment);
    file.U32(optional + kFileAlignmentOffset, &fileAlignment);
    file.U32(optional + kSizeOfHeadersOffset, &headersSize);
    file.U32(optional + kSizeOfInitializedDataOffset, &initializedData);
    const std::uint64_t directories = optional + kOptionalHeaderFixedSize;
    if (rvaCount <= kResourceDirectoryIndex ||
        kOptionalHeaderFixedSize + (kResourceDirectoryIndex + 1) * kDataDirectorySize > optionalSize)
        return refuse("the stub has no resource data directory");
    if (rvaCount > kCertificateDirectoryIndex)
        file.U32(directories + kCertificateDirectoryIndex * kDataDirectorySize + 4, &certificate);
    if (certificate != 0) return refuse("the stub is signed: its certificate would no longer match");
    if (sectionAlignment == 0 || fileAlignment == 0 || sectionCount == 0)
        return refuse("the stub's section layout is not one a loader accepts");

    // The section table; a .rsrc that is last is dropped and written anew.
    const std::uint64_t table = optional + optionalSize;
    auto isResourceSection = [&](std::uint32_t i) {
        const PeSection &s = layout.sections[i];
        return std::equal(kResourceSectionName, kResourceSectionName + 8,
                          stub.begin() + static_cast<std::ptrdiff_t>(table + i * kSectionHeaderSize)) ||
               (layout.resourceRva != 0 && s.virtualAddress == layout.resourceRva);
    };
    std::uint32_t kept = sectionCount;
    if (isResourceSection(sectionCount - 1)) --kept;
    for (std::uint32_t i = 0; i < kept; ++i)
        if (isResourceSection(i)) return refuse("the stub's resource section is not its last section");
    if (kept == 0) return refuse("the stub has no section besides its resources");

    const std::uint64_t newHeader = table + kept * kSectionHeaderSize;
    std::uint64_t firstRaw = headersSize;
    for (const PeSection &s : layout.sections)
        if (s.rawSize != 0) firstRaw = std::min<std::uint64_t>(firstRaw, s.rawOffset);
    if (newHeader + kSectionHeaderSize > firstRaw || newHeader + kSectionHeaderSize > stub.size())
        return refuse("the stub's headers have no room for one more section header");
    if (kept == sectionCount)
        for (std::uint64_t at = newHeader; at < newHeader + kSectionHeaderSize; ++at)
            if (stub[at] != 0) return refuse("the stub's headers have no room for one more section header");

    // Where the kept sections end, in memory and in the file.
    std::uint64_t memoryEnd = 0, fileEnd = headersSize;
    for (std::uint32_t i = 0; i < kept; ++i) {
        std::uint32_t virtualSize;
        file.U32(table + i * kSectionHeaderSize + 8, &virtualSize);
        const PeSection &s = layout.sections[i];
        memoryEnd = std::max<std::uint64_t>(memoryEnd, s.virtualAddress + std::max(virtualSize, s.rawSize));
        if (s.rawSize != 0) fileEnd = std::max<std::uint64_t>(fileEnd, s.rawOffset + s.rawSize);
    }
    std::uint64_t oldEnd = fileEnd;
    if (kept < sectionCount) {
        const PeSection &old = layout.sections[kept];
        oldEnd = std::max<std::uint64_t>(fileEnd, old.rawOffset + old.rawSize);
        initializedData -= std::min(initializedData, old.rawSize);
    }
    if (stub.size() > AlignUp(oldEnd, fileAlignment))
        return refuse("the stub carries data after its last section");
    if (fileEnd > stub.size()) return refuse("the stub is cut short");

    const std::uint64_t rva = AlignUp(memoryEnd, sectionAlignment);
    const std::uint64_t rawOffset = AlignUp(fileEnd, fileAlignment);
    const std::string tree = ResourceTree(sorted, static_cast<std::uint32_t>(rva));
    const std::uint64_t rawSize = AlignUp(tree.size(), fileAlignment);
    const std::uint64_t imageSize = AlignUp(rva + tree.size(), sectionAlignment);
    if (imageSize > 0x7FFFFFFFu || rawOffset + rawSize > 0x7FFFFFFFu)
        return refuse("the resources make the program larger than a PE32 image can be");

    std::string out = stub.substr(0, fileEnd);
    out.resize(rawOffset, '\0');
    out += tree;
    out.resize(rawOffset + rawSize, '\0');
    out.replace(newHeader, kSectionHeaderSize, std::string(kSectionHeaderSize, '\0'));
    out.replace(newHeader, 8, kResourceSectionName, 8);
    Put32(out, newHeader + 8, static_cast<std::uint32_t>(tree.size()));
    Put32(out, newHeader + 12, static_cast<std::uint32_t>(rva));
    Put32(out, newHeader + 16, static_cast<std::uint32_t>(rawSize));
    Put32(out, newHeader + 20, static_cast<std::uint32_t>(rawOffset));
    Put32(out, newHeader + 36, kResourceSectionFlags);
    Put16(out, coff + 2, kept + 1);
    Put32(out, optional + kSizeOfInitializedDataOffset,
          initializedData + ((kResourceSectionFlags & kInitializedData) ? static_cast<std::uint32_t>(rawSize) : 0));
    Put32(out, optional + kSizeOfImageOffset, static_cast<std::uint32_t>(imageSize));
    const std::uint64_t resourceEntry = directories + kResourceDirectoryIndex * kDataDirectorySize;
    Put32(out, resourceEntry, resources.empty() ? 0 : static_cast<std::uint32_t>(rva));
    Put32(out, resourceEntry + 4, resources.empty() ? 0 : static_cast<std::uint32_t>(tree.size()));
    Put32(out, optional + kCheckSumOffset, PeChecksum(out, optional + kCheckSumOffset));
    return out;
}

}  // namespace formats
