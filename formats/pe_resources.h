// The resources of a 32-bit PE file: reading its resource tree, and writing
// a program whose resources are a given list. The builder makes each
// product's installer from the product-free stub (wfstub.exe) this way, and
// pe_version finds the version resource through the same directory reader.
//
// Read images come from anywhere, so every offset and length in them is
// checked against what was read before anything is touched. Written images
// keep the loader's rules: the resource tree in its own section, the last
// one, with the image's sizes, the resource data directory and the
// checksum made to agree with it.
#ifndef WF_FORMATS_PE_RESOURCES_H
#define WF_FORMATS_PE_RESOURCES_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace formats {

// A little-endian view of bytes; every read is checked against the size.
class Bytes {
public:
    Bytes(const unsigned char *data, std::uint64_t size) : data_(data), size_(size) {}
    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    bool U16(std::uint64_t offset, std::uint32_t *out) const;
    bool U32(std::uint64_t offset, std::uint32_t *out) const;
    const unsigned char *At(std::uint64_t offset) const { return data_ + offset; }
    std::uint64_t Size() const { return size_; }

private:
    const unsigned char *data_;
    std::uint64_t size_;
};

// ---- The directory walk, shared with pe_version ------------------------------

struct PeSection {
    std::uint32_t virtualAddress = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
};

// What a loader needs to find the resources of a PE32 image.
struct PeLayout {
    std::vector<PeSection> sections;
    std::uint32_t resourceRva = 0;  // 0 when the image has no resources
    std::uint32_t resourceSize = 0;

    // The file offset of [rva, rva + length), when the range lies within one
    // section's data in the file.
    bool Locate(const Bytes &file, std::uint64_t rva, std::uint64_t length, std::uint64_t *offset) const;
};

// Reads the DOS header, "PE\0\0", the COFF header, the PE32 optional header
// and the section table. False for anything else (a PE32+ image included).
bool ReadPeLayout(const Bytes &file, PeLayout *layout);

// An entry's target with this bit set is a subdirectory, and a name with it
// set is the offset of a counted UTF-16 string; both offsets are from the
// start of the resources.
constexpr std::uint32_t kResourceSubdirectory = 0x80000000u;

struct ResourceDirectoryEntry {
    std::uint32_t name = 0;
    std::uint32_t target = 0;
};

// The entries of the resource directory at `offset`, named ones first as
// the file lists them. False when the directory cannot be read.
bool ReadResourceDirectory(const Bytes &file, const PeLayout &layout, std::uint32_t offset,
                           std::vector<ResourceDirectoryEntry> *entries);

// The data entry at `offset`: where the resource's bytes lie in the file.
bool ReadResourceData(const Bytes &file, const PeLayout &layout, std::uint32_t offset,
                      std::uint64_t *fileOffset, std::uint32_t *size);

// ---- Whole lists ----------------------------------------------------------------

// A resource type or name: an integer id, or a name when `name` is not empty.
struct ResourceKey {
    std::uint32_t id = 0;
    std::u16string name;
    bool operator==(const ResourceKey &o) const { return id == o.id && name == o.name; }
};

struct Resource {
    ResourceKey type;
    ResourceKey name;
    std::uint32_t language = 0;
    std::string bytes;
    bool operator==(const Resource &o) const {
        return type == o.type && name == o.name && language == o.language && bytes == o.bytes;
    }
};

// Every resource of a PE32 image, in the tree's order (type, name,
// language). nullopt, with the reason in *error, when the image or its tree
// cannot be read; an image without resources gives an empty list.
std::optional<std::vector<Resource>> ReadResources(const std::string &image, std::string *error);

// `stub` with exactly `resources`, in a .rsrc section written here as the
// image's last section (a .rsrc that is already last is replaced). The
// tree is in the loader's order: per directory, named entries first sorted
// without regard to ASCII case, then ids ascending. nullopt, with the
// reason in *error, for a stub this cannot extend (no room for one more
// section header, a .rsrc that is not last, data after the last section,
// a certificate) or a list that cannot be a tree (the same type, name and
// language twice, a name too long for its count).
std::optional<std::string> WithResources(const std::string &stub, const std::vector<Resource> &resources,
                                         std::string *error);

// The PE checksum of `image`, whose own CheckSum field (at `fieldOffset`)
// counts as zero: the 16-bit words summed with their carries folded back
// in, plus the file's length.
std::uint32_t PeChecksum(const std::string &image, std::uint64_t fieldOffset);

}  // namespace formats

#endif
