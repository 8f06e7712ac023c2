// patch.rtp as the builder writes it and the patcher reads it: the layout,
// and the reader's refusals of damaged data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/crc32.h"
#include "patch_data.h"
#include "patch_data_writer.h"
#include "patch_fixture.h"

namespace {

const BYTE *Data(const std::string &s) { return reinterpret_cast<const BYTE *>(s.data()); }
DWORD Size(const std::string &s) { return static_cast<DWORD>(s.size()); }

int Check(const std::string &data, DWORD *count = nullptr) {
    DWORD ignored = 0;
    return PatchDataCheck(Data(data), Size(data), count ? count : &ignored);
}

void PutLe32(std::string *data, size_t at, DWORD value) {
    for (int i = 0; i < 4; ++i) (*data)[at + i] = static_cast<char>(value >> (8 * i));
}
void PutLe16(std::string *data, size_t at, WORD value) {
    (*data)[at] = static_cast<char>(value);
    (*data)[at + 1] = static_cast<char>(value >> 8);
}

// Two entries with small hand-made deltas: the reader does not decode.
// The second entry's delta of the given kind.
std::string TwoEntries(int secondKind = PATCH_DELTA_VCDIFF) {
    std::vector<patchbuild::PatchDataFile> files(2);
    files[0].name = "wfcore.dll";
    files[0].oldBytes = {'o', 'l', 'd'};
    files[0].newBytes = {'n', 'e', 'w', '!'};
    files[0].delta = {0xD6, 0xC3, 0xC4, 0x00, 0x00};
    files[1].name = "wayfront.exe";
    files[1].newBytes = {'x'};
    files[1].delta = {1, 2, 3};
    files[1].kind = secondKind;
    std::string data, error;
    EXPECT_TRUE(patchbuild::EncodePatchData(files, &data, &error)) << error;
    return data;
}

// Where the first entry's fields lie.
const size_t kEntry0 = PATCH_HEADER_SIZE;
const size_t kEntry1 = kEntry0 + PATCH_ENTRY_FIXED_SIZE + 10 + 5;

// Byte for byte what the builder writes for two entries: the layout
// patch_data.md describes.
TEST(PatchDataTest, TheWriterLaysOutHeaderAndEntries) {
    const std::string data = TwoEntries();
    ASSERT_EQ(kEntry1 + PATCH_ENTRY_FIXED_SIZE + 12 + 3, data.size());
    EXPECT_EQ(std::string("RTP\x1A\x01\x00\x02\x00", 8), data.substr(0, 8));
    EXPECT_EQ(Crc32(Data(data) + 12, Size(data) - 12), ReadLe32(Data(data) + PATCH_HEADER_CRC));
    const BYTE *e = Data(data) + kEntry0;
    EXPECT_EQ(3u, ReadLe32(e + PATCH_ENTRY_OLD_SIZE));
    EXPECT_EQ(Crc32(reinterpret_cast<const BYTE *>("old"), 3), ReadLe32(e + PATCH_ENTRY_OLD_CRC));
    EXPECT_EQ(4u, ReadLe32(e + PATCH_ENTRY_NEW_SIZE));
    EXPECT_EQ(Crc32(reinterpret_cast<const BYTE *>("new!"), 4), ReadLe32(e + PATCH_ENTRY_NEW_CRC));
    EXPECT_EQ(5u, ReadLe32(e + PATCH_ENTRY_DELTA_SIZE));
    EXPECT_EQ(10u, ReadLe16(e + PATCH_ENTRY_NAME_LENGTH));
    EXPECT_EQ(0u, ReadLe16(e + PATCH_ENTRY_KIND));
    EXPECT_EQ("wfcore.dll", data.substr(kEntry0 + PATCH_ENTRY_FIXED_SIZE, 10));
}

// A difference delta makes the data version 2, each entry naming its kind,
// which the reader hands on.
TEST(PatchDataTest, VersionTwoNamesEachEntrysKind) {
    const std::string data = TwoEntries(PATCH_DELTA_DIFFERENCE);
    EXPECT_EQ(2u, ReadLe16(Data(data) + PATCH_HEADER_VERSION));
    DWORD count = 0;
    ASSERT_EQ(PATCHDATA_OK, Check(data, &count));
    DWORD offset = PATCH_HEADER_SIZE;
    PatchEntry entry;
    for (DWORD kind : {PATCH_DELTA_VCDIFF, PATCH_DELTA_DIFFERENCE}) {
        ASSERT_EQ(PATCHDATA_OK, PatchDataNextEntry(Data(data), Size(data), &offset, &entry));
        EXPECT_EQ(kind, entry.kind) << entry.name;
    }
}

// Each row damages good data one way; the CRC is made right again where
// the row says so, so the fault behind it is the one the reader meets.
TEST(PatchDataTest, DamagedDataIsRefused) {
    struct Case {
        const char *what;
        void (*damage)(std::string *);
        bool reseal;
        int expected;
    } cases[] = {
        {"empty", [](std::string *d) { d->clear(); }, false, PATCHDATA_TOO_SHORT},
        {"header cut", [](std::string *d) { d->resize(11); }, false, PATCHDATA_TOO_SHORT},
        {"other signature", [](std::string *d) { (*d)[0] = 'M'; }, false, PATCHDATA_BAD_SIGNATURE},
        {"format version 3", [](std::string *d) { PutLe16(d, PATCH_HEADER_VERSION, 3); }, false,
         PATCHDATA_BAD_VERSION},
        {"format version 0", [](std::string *d) { PutLe16(d, PATCH_HEADER_VERSION, 0); }, false,
         PATCHDATA_BAD_VERSION},
        {"a delta byte flipped", [](std::string *d) { (*d)[d->size() - 1] ^= 1; }, false,
         PATCHDATA_BAD_CRC},
        {"cut inside the last delta", [](std::string *d) { d->resize(d->size() - 1); }, true,
         PATCHDATA_TRUNCATED},
        {"cut inside an entry's fixed part", [](std::string *d) { d->resize(kEntry1 + 10); }, true,
         PATCHDATA_TRUNCATED},
        {"delta length past the end",
         [](std::string *d) { PutLe32(d, kEntry1 + PATCH_ENTRY_DELTA_SIZE, 4); }, true,
         PATCHDATA_TRUNCATED},
        {"delta length 4 GB - 1",
         [](std::string *d) { PutLe32(d, kEntry0 + PATCH_ENTRY_DELTA_SIZE, 0xFFFFFFFFu); }, true,
         PATCHDATA_TRUNCATED},
        {"name length past the end",
         [](std::string *d) { PutLe16(d, kEntry1 + PATCH_ENTRY_NAME_LENGTH, 0xFFFF); }, true,
         PATCHDATA_TRUNCATED},
        {"count one more than the entries", [](std::string *d) { PutLe16(d, PATCH_HEADER_COUNT, 3); },
         true, PATCHDATA_TRUNCATED},
        {"count one fewer", [](std::string *d) { PutLe16(d, PATCH_HEADER_COUNT, 1); }, true,
         PATCHDATA_TRAILING_BYTES},
        {"version 1 naming the difference delta",
         [](std::string *d) { PutLe16(d, kEntry0 + PATCH_ENTRY_KIND, PATCH_DELTA_DIFFERENCE); }, true,
         PATCHDATA_BAD_ENTRY},
        {"version 2 naming an unknown kind",
         [](std::string *d) {
             PutLe16(d, PATCH_HEADER_VERSION, 2);
             PutLe16(d, kEntry1 + PATCH_ENTRY_KIND, PATCH_DELTA_KINDS);
         },
         true, PATCHDATA_BAD_ENTRY},
        {"empty name", [](std::string *d) { PutLe16(d, kEntry0 + PATCH_ENTRY_NAME_LENGTH, 0); }, true,
         PATCHDATA_BAD_NAME},
        {"name with a path", [](std::string *d) { (*d)[kEntry0 + PATCH_ENTRY_FIXED_SIZE + 2] = '\\'; },
         true, PATCHDATA_BAD_NAME},
        {"name with a drive", [](std::string *d) { (*d)[kEntry0 + PATCH_ENTRY_FIXED_SIZE + 1] = ':'; },
         true, PATCHDATA_BAD_NAME},
        {"name with a terminator inside",
         [](std::string *d) { (*d)[kEntry0 + PATCH_ENTRY_FIXED_SIZE + 3] = '\0'; }, true,
         PATCHDATA_BAD_NAME},
        {"name ending in '~', the temporary mark",
         [](std::string *d) { (*d)[kEntry0 + PATCH_ENTRY_FIXED_SIZE + 9] = '~'; }, true,
         PATCHDATA_BAD_NAME},
        {"name byte above ASCII",
         [](std::string *d) { (*d)[kEntry0 + PATCH_ENTRY_FIXED_SIZE] = '\x83'; }, true,
         PATCHDATA_BAD_NAME},
    };
    for (const Case &c : cases) {
        std::string data = TwoEntries();
        c.damage(&data);
        if (c.reseal) Reseal(&data);
        DWORD count = 99;
        EXPECT_EQ(c.expected, Check(data, &count))
            << c.what << ": " << PatchDataResultText(Check(data, &count));
        EXPECT_EQ(0u, count) << c.what;
    }
}

// Every cut of good data is refused, sealed or not, and never read past
// (ASan watches the copy, which ends where the cut does).
TEST(PatchDataTest, EveryTruncationIsRefused) {
    const std::string data = TwoEntries();
    for (size_t length = 0; length < data.size(); ++length) {
        for (bool reseal : {false, true}) {
            std::string cut(data.substr(0, length));
            if (reseal) Reseal(&cut);
            std::vector<BYTE> exact(cut.begin(), cut.end());
            DWORD count = 0;
            const int result = PatchDataCheck(exact.data(), static_cast<DWORD>(exact.size()), &count);
            EXPECT_NE(PATCHDATA_OK, result) << "cut to " << length << " bytes, resealed " << reseal;
        }
    }
}

TEST(PatchDataTest, NamesTheWriterRefuses) {
    struct Case {
        std::string name;
        bool ok;
    } cases[] = {
        {"wfcore.dll", true},
        {"WAYFRONT.EXE", true},
        {"a", true},
        {std::string(PATCH_NAME_MAX, 'n'), true},
        {std::string(PATCH_NAME_MAX + 1, 'n'), false},
        {"", false},
        {"..", false},
        {"sub\\file.dll", false},
        {"sub/file.dll", false},
        {"C:file.dll", false},
        {"file.dl~", false},
        {"file?.dll", false},
        {std::string("nul\0.dll", 8), false},
        {"tab\t.dll", false},
    };
    for (const Case &c : cases) {
        std::vector<patchbuild::PatchDataFile> files(1);
        files[0].name = c.name;
        std::string data, error;
        EXPECT_EQ(c.ok, patchbuild::EncodePatchData(files, &data, &error))
            << "name [" << c.name << "] (" << c.name.size() << " bytes): " << error;
        if (c.ok) {
            EXPECT_EQ(PATCHDATA_OK, Check(data)) << "name [" << c.name << "]";
        }
    }
}

}  // namespace

// The builder decodes every delta with the patcher's decoder before it
// writes patch.rtp: a delta that fails, or makes other bytes, stops it.
TEST(PatchDataTest, TheBuilderChecksEachDelta) {
    patchbuild::PatchDataFile file;
    file.name = "wfcore.dll";
    const std::string oldBytes = SampleBytes(1, 3000), newBytes = SampleBytes(2, 3100);
    file.oldBytes.assign(oldBytes.begin(), oldBytes.end());
    file.newBytes.assign(newBytes.begin(), newBytes.end());
    const std::string good = MakeDelta(oldBytes, newBytes);
    const std::string other = MakeDelta(oldBytes, newBytes.substr(0, 3099) + "?");
    const std::string longer = MakeDelta(oldBytes, newBytes + "!");
    struct Case {
        const char *what;
        std::string delta;
        const char *error;  // expected in the message; nullptr: accepted
    } cases[] = {
        {"good", good, nullptr},
        {"another file's delta", other, "does not make the new version"},
        {"a delta making a byte more", longer, "does not make the new version"},
        {"cut short", good.substr(0, good.size() - 1), "cannot apply"},
        {"empty", "", "cannot apply"},
    };
    for (const Case &c : cases) {
        file.delta.assign(c.delta.begin(), c.delta.end());
        std::string error;
        EXPECT_EQ(c.error == nullptr, patchbuild::CheckDelta(file, &error)) << c.what << ": " << error;
        if (c.error) {
            EXPECT_NE(std::string::npos, error.find(c.error)) << c.what << ": " << error;
            EXPECT_EQ(0u, error.find("wfcore.dll: ")) << c.what << ": " << error;
        }
    }
}
