// formats/pe_resources: the installer's resources read from the windres
// build (wfpatch_windres.exe) and written onto wfstub.exe, as the builder
// makes every product's installer. Both programs come from this build
// tree's Windows build.
#include "formats/pe_resources.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

std::uint32_t U32(const std::string &image, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(image[at + i]);
    return v;
}

void Put32(std::string &image, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<char>(v >> (8 * i));
}

// The header fields the tests look at, found by the offsets a loader uses.
struct Headers {
    std::size_t coff, optional, table;
    std::uint32_t sections;
};

Headers HeadersOf(const std::string &image) {
    Headers h;
    h.coff = U32(image, 0x3C) + 4;
    h.sections = U32(image, h.coff + 2) & 0xFFFF;
    h.optional = h.coff + 20;
    h.table = h.optional + (U32(image, h.coff + 16) & 0xFFFF);
    return h;
}

// The PE checksum, computed here on its own: 32-bit words' halves summed
// at full width and folded once at the end, the CheckSum field skipped.
std::uint32_t IndependentChecksum(const std::string &image, std::size_t field) {
    std::uint64_t sum = 0;
    for (std::size_t at = 0; at + 1 < image.size(); at += 2)
        if (at < field || at >= field + 4)
            sum += static_cast<unsigned char>(image[at]) | static_cast<unsigned char>(image[at + 1]) << 8;
    if (image.size() % 2) sum += static_cast<unsigned char>(image.back());
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + image.size());
}

class PeResources : public ::testing::Test {
protected:
    void SetUp() override {
        installer = ReadFile(WF_WINDRES_EXE);
        stub = ReadFile(WF_DIST_DIR "/wfstub.exe");
        ASSERT_FALSE(installer.empty());
        ASSERT_FALSE(stub.empty());
        auto read = formats::ReadResources(installer, &error);
        ASSERT_TRUE(read) << error;
        resources = *read;
    }
    std::string installer, stub, error;
    std::vector<formats::Resource> resources;
};

// The linker's checksum of wfpatch.exe is what ours computes, and a stub
// without resources reads as an empty list.
TEST_F(PeResources, ChecksumAgreesWithTheLinkersAndTheStubHasNoResources) {
    const std::size_t field = HeadersOf(installer).optional + 64;
    EXPECT_EQ(formats::PeChecksum(installer, field), U32(installer, field));
    EXPECT_EQ(IndependentChecksum(installer, field), U32(installer, field));
    auto none = formats::ReadResources(stub, &error);
    ASSERT_TRUE(none) << error;
    EXPECT_TRUE(none->empty());
}

// Written onto the stub (a new last section) or onto wfpatch.exe itself
// (its .rsrc replaced), the resources read back the same, and the image's
// sizes, resource directory entry and checksum agree with the new section.
TEST_F(PeResources, WrittenResourcesReadBackWithConsistentHeaders) {
    ASSERT_GT(resources.size(), 3u);
    for (const std::string *base : {&stub, &installer}) {
        SCOPED_TRACE(base == &stub ? "onto wfstub.exe" : "onto wfpatch.exe");
        const auto image = formats::WithResources(*base, resources, &error);
        ASSERT_TRUE(image) << error;
        const auto back = formats::ReadResources(*image, &error);
        ASSERT_TRUE(back) << error;
        EXPECT_TRUE(*back == resources);

        const Headers h = HeadersOf(*image);
        const std::size_t last = h.table + (h.sections - 1) * 40;
        const std::uint32_t virtualSize = U32(*image, last + 8), rva = U32(*image, last + 12),
                            rawSize = U32(*image, last + 16), rawOffset = U32(*image, last + 20);
        const std::uint32_t sectionAlignment = U32(*image, h.optional + 32);
        const std::uint32_t fileAlignment = U32(*image, h.optional + 36);
        EXPECT_EQ(image->compare(last, 8, std::string(".rsrc\0\0\0", 8)), 0);
        EXPECT_EQ(h.sections, HeadersOf(installer).sections);
        EXPECT_EQ(rva % sectionAlignment, 0u);
        EXPECT_EQ(rawOffset % fileAlignment, 0u);
        EXPECT_EQ(rawSize % fileAlignment, 0u);
        EXPECT_EQ(image->size(), std::size_t{rawOffset} + rawSize);
        EXPECT_EQ(U32(*image, h.optional + 56), (rva + virtualSize + sectionAlignment - 1) / sectionAlignment * sectionAlignment)
            << "SizeOfImage";
        EXPECT_EQ(U32(*image, h.optional + 96 + 16), rva) << "resource directory RVA";
        EXPECT_EQ(U32(*image, h.optional + 96 + 20), virtualSize) << "resource directory size";
        // Every section but .bss holds initialised data or code; the linker
        // counts the data sections' file sizes, and so must the rewrite.
        std::uint32_t initialized = 0;
        for (std::uint32_t i = 0; i < h.sections; ++i)
            if (U32(*image, h.table + i * 40 + 36) & 0x40) initialized += U32(*image, h.table + i * 40 + 16);
        EXPECT_EQ(U32(*image, h.optional + 8), initialized) << "SizeOfInitializedData";
        EXPECT_EQ(U32(*image, h.optional + 64), IndependentChecksum(*image, h.optional + 64)) << "CheckSum";
    }
}

// Named entries come before ids, names in case-blind order, whatever the
// list's order; and the same type, name and language twice is refused.
TEST_F(PeResources, TreeOrderAndDuplicates) {
    auto named = [](std::u16string type, std::uint32_t name, std::string bytes) {
        formats::Resource r;
        r.type.name = std::move(type);
        r.name.id = name;
        r.language = 1033;
        r.bytes = std::move(bytes);
        return r;
    };
    const std::vector<formats::Resource> list = {resources[0], named(u"zeta", 2, "z"), named(u"ALPHA", 7, "ab"),
                                                 named(u"Beta", 1, "")};
    const auto image = formats::WithResources(stub, list, &error);
    ASSERT_TRUE(image) << error;
    const auto back = formats::ReadResources(*image, &error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->size(), 4u);
    EXPECT_TRUE((*back)[0] == list[2]);
    EXPECT_TRUE((*back)[1] == list[3]);
    EXPECT_TRUE((*back)[2] == list[1]);
    EXPECT_TRUE((*back)[3] == list[0]);

    const std::vector<formats::Resource> twice = {list[1], named(u"ZETA", 2, "other bytes")};
    EXPECT_FALSE(formats::WithResources(stub, twice, &error));
    EXPECT_NE(error.find("listed twice"), std::string::npos) << error;
}

// Stubs this cannot extend are refused with the reason.
TEST_F(PeResources, RefusesStubsItCannotExtend) {
    const Headers h = HeadersOf(stub);
    const std::size_t free = h.table + h.sections * 40;
    struct Case {
        const char *what;
        std::string image;
        const char *reason;
    };
    std::vector<Case> cases = {
        {"not a PE", "MZ", "not a PE32 image"},
        {"something in the next header's place", stub, "no room for one more section header"},
        {"headers end at the section table", stub, "no room for one more section header"},
        {"a .rsrc that is not last", stub, "resource section is not its last"},
        {"an overlay after the last section", stub + std::string(4096, 'x'), "data after its last section"},
        {"a certificate", stub, "signed"},
    };
    cases[1].image[free + 3] = 'x';
    Put32(cases[2].image, h.optional + 60, static_cast<std::uint32_t>(free));
    cases[3].image.replace(h.table, 8, std::string(".rsrc\0\0\0", 8));
    Put32(cases[5].image, h.optional + 96 + 4 * 8 + 4, 0x100);
    for (const Case &c : cases) {
        error.clear();
        EXPECT_FALSE(formats::WithResources(c.image, resources, &error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

}  // namespace
