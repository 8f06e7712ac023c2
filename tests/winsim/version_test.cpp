// Version information from real PE files: the size/get/query protocol, the
// fixed information, translations and strings as the installer asks for
// them, and files that are missing, short or damaged. The PE fixtures are
// built from tests/winsim/fixtures by the mingw-w64 tools.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "test_machine.h"

namespace {

// The layout of VS_FIXEDFILEINFO, which the platform header does not declare.
struct FixedInfo {
    DWORD signature, structVersion, fileVersionMS, fileVersionLS, productVersionMS,
        productVersionLS, fileFlagsMask, fileFlags, fileOS, fileType, fileSubtype, fileDateMS,
        fileDateLS;
};
static_assert(sizeof(FixedInfo) == 52, "VS_FIXEDFILEINFO is 13 DWORDs");

constexpr unsigned char kCanary = 0xCD;
constexpr size_t kGuard = 64;  // canary bytes after every block
constexpr DWORD kMarker = 0xDEAD;

std::string FixtureBytes(const std::string &name) {
    std::ifstream in(std::string(WF_FIXTURE_DIR) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

DWORD ReadDword(const std::string &bytes, size_t at) {
    DWORD value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}
void WriteDword(std::string *bytes, size_t at, DWORD value) {
    std::memcpy(&(*bytes)[at], &value, 4);
}
void WriteWord(std::string *bytes, size_t at, WORD value) { std::memcpy(&(*bytes)[at], &value, 2); }

// Where a UTF-16 key of the version tree sits in a file: its node starts six
// bytes before.
size_t FindKey(const std::string &bytes, const std::string &key) {
    std::string wide;
    for (char c : key) wide += std::string{c, '\0'};
    return bytes.find(wide);
}

// Where the parts of a fixture lie, found the way a loader finds them, so
// the tests can cut and damage them.
struct Layout {
    size_t pe = 0, coff = 0, optional = 0;
    size_t firstRaw = 0;     // the first section's data: everything before is headers
    size_t rsrc = 0;         // the resource section's header
    size_t rsrcData = 0;     // its data, starting with the root resource directory
    size_t root = 0;         // the version resource
    WORD rootLength = 0;
    size_t strings = 0;      // its StringFileInfo node
};

Layout LayoutOf(const std::string &bytes) {
    Layout l;
    l.pe = ReadDword(bytes, 0x3C);
    l.coff = l.pe + 4;
    l.optional = l.coff + 20;
    WORD optionalSize = 0, sections = 0;
    std::memcpy(&sections, &bytes[l.coff + 2], 2);
    std::memcpy(&optionalSize, &bytes[l.coff + 16], 2);
    const size_t table = l.optional + optionalSize;
    l.firstRaw = bytes.size();
    for (size_t i = 0; i < sections; ++i) {
        const size_t header = table + i * 40;
        l.firstRaw = std::min<size_t>(l.firstRaw, ReadDword(bytes, header + 20));
        if (bytes.compare(header, 5, ".rsrc") == 0) l.rsrc = header;
    }
    l.rsrcData = ReadDword(bytes, l.rsrc + 20);
    l.root = FindKey(bytes, "VS_VERSION_INFO") - 6;
    std::memcpy(&l.rootLength, &bytes[l.root], 2);
    l.strings = FindKey(bytes, "StringFileInfo") - 6;
    return l;
}

// A caller's block: `size` bytes followed by canary bytes that no call may touch.
struct Block {
    explicit Block(DWORD size) : size(size), bytes(size + kGuard, kCanary) {}
    void *data() { return bytes.data(); }
    bool GuardIntact() const {
        for (size_t i = size; i < bytes.size(); ++i)
            if (bytes[i] != kCanary) return false;
        return true;
    }
    DWORD size;
    std::vector<unsigned char> bytes;
};

struct Answer {
    bool ok = false;
    std::string text;  // a string value, or the raw bytes of a binary one
    UINT length = 0;
    DWORD error = 0;
    size_t offset = 0;  // of the value within the block
};

class VersionTest : public MachineTest {
protected:
    void Install(const std::string &fixture, const std::string &winPath) {
        ASSERT_TRUE(winsim::WriteWholeFile(winPath, FixtureBytes(fixture))) << winPath;
    }
    // The whole protocol: size, block, get. Fails the test when any step does.
    static Block Load(const char *path) {
        DWORD handle = kMarker;
        const DWORD size = GetFileVersionInfoSizeA(path, &handle);
        EXPECT_NE(0u, size) << path << ": error " << GetLastError();
        EXPECT_EQ(0u, handle);
        Block block(size);
        EXPECT_TRUE(GetFileVersionInfoA(path, handle, size, block.data())) << GetLastError();
        return block;
    }
    static Answer Query(Block &block, const std::string &subBlock, bool text) {
        Answer a;
        LPVOID found = nullptr;
        SetLastError(kMarker);
        a.ok = VerQueryValueA(block.data(), subBlock.c_str(), &found, &a.length) != FALSE;
        a.error = GetLastError();
        if (a.ok) {
            const char *p = static_cast<const char *>(found);
            a.offset = static_cast<size_t>(p - reinterpret_cast<const char *>(block.data()));
            a.text = text ? std::string(p) : std::string(p, a.length);
        }
        return a;
    }
    // The installer's key for a string of one translation.
    static std::string StringKey(DWORD translation, const char *name) {
        char key[64];
        wsprintfA(key, "\\StringFileInfo\\%04x%04x\\%s", translation & 0xFFFF, translation >> 16,
                  name);
        return key;
    }
    static std::vector<DWORD> Translations(Block &block) {
        const Answer a = Query(block, "\\VarFileInfo\\Translation", false);
        std::vector<DWORD> list(a.text.size() / 4);
        if (!list.empty()) std::memcpy(list.data(), a.text.data(), list.size() * 4);
        return list;
    }
};

TEST_F(VersionTest, SizeLeavesRoomForTheAnsiCopies) {
    Install("versioned.exe", "C:\\Wayfront\\WAYFRONT.EXE");
    Block block = Load("c:\\wayfront\\wayfront.exe");
    // NT: twice the resource and four bytes; the mark follows the tree.
    WORD length = 0;
    std::memcpy(&length, block.bytes.data(), 2);
    EXPECT_EQ(2u * length + 4, block.size);
    EXPECT_EQ("FE2X", std::string(reinterpret_cast<char *>(&block.bytes[length]), 4));
    const std::vector<unsigned char> tree(block.bytes.begin(), block.bytes.begin() + length);

    // Strings are copied into the second half; the tree stays as it was.
    for (const char *name : {"ProductVersion", "FileVersion", "CompanyName", "LegalCopyright"}) {
        const Answer a = Query(block, StringKey(0x04E40409, name), true);
        ASSERT_TRUE(a.ok) << name << ": error " << a.error;
        EXPECT_GE(a.offset, length + 4u) << name;
        EXPECT_LE(a.offset + a.length, block.size) << name;
    }
    EXPECT_TRUE(block.GuardIntact());
    EXPECT_EQ(tree, std::vector<unsigned char>(block.bytes.begin(), block.bytes.begin() + length));
}

TEST_F(VersionTest, FixedInfoAndTranslations) {
    Install("versioned.exe", "C:\\versioned.exe");
    Block block = Load("C:\\versioned.exe");
    const Answer fixed = Query(block, "\\", false);
    ASSERT_TRUE(fixed.ok) << fixed.error;
    ASSERT_EQ(sizeof(FixedInfo), fixed.length);
    FixedInfo info;
    std::memcpy(&info, fixed.text.data(), sizeof info);
    EXPECT_EQ(0xFEEF04BDu, info.signature);
    EXPECT_EQ(0x005F0000u, info.fileVersionMS);  // 95.0
    EXPECT_EQ(0x00020001u, info.fileVersionLS);  // .2.1
    EXPECT_EQ(0x005F0000u, info.productVersionMS);
    EXPECT_EQ(0x00000002u, info.productVersionLS);
    EXPECT_EQ(1u, info.fileType);  // VFT_APP
    EXPECT_EQ(4u, info.fileOS);    // VOS__WINDOWS32

    // Language in the low word, code page in the high word, in bytes.
    EXPECT_EQ(8u, Query(block, "\\VarFileInfo\\Translation", false).length);
    EXPECT_EQ((std::vector<DWORD>{0x04E40409, 0x04E40407}), Translations(block));
}

TEST_F(VersionTest, StringsByTranslation) {
    Install("versioned.exe", "C:\\versioned.exe");
    Install("emptyproduct.exe", "C:\\emptyproduct.exe");
    struct Case {
        const char *file;
        size_t translation;  // index into the file's translation list
        const char *name;
        const char *text;
        UINT length;  // characters with the terminator
    } cases[] = {
        {"C:\\versioned.exe", 0, "ProductVersion", "VERSION 95.0.b", 15},
        {"C:\\versioned.exe", 0, "FileVersion", "95.0.2.1", 9},
        {"C:\\versioned.exe", 1, "ProductVersion", "VERSION 95.0.b (Deutsch)", 25},
        // U+00A9 becomes its code page 1252 byte, U+0101 a question mark.
        {"C:\\versioned.exe", 0, "LegalCopyright", "\xA9 1997 Quenmark ?", 18},
        // Stored as a lone terminator.
        {"C:\\emptyproduct.exe", 0, "ProductVersion", "", 1},
        {"C:\\emptyproduct.exe", 0, "FileVersion", "95.0.2.1", 9},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.file << " " << c.translation << " " << c.name);
        Block block = Load(c.file);
        const std::vector<DWORD> translations = Translations(block);
        ASSERT_LT(c.translation, translations.size());
        const Answer a = Query(block, StringKey(translations[c.translation], c.name), true);
        ASSERT_TRUE(a.ok) << "error " << a.error;
        EXPECT_EQ(c.text, a.text);
        EXPECT_EQ(c.length, a.length);
        EXPECT_TRUE(block.GuardIntact());
    }
}

TEST_F(VersionTest, QueryPathsMatchWholeKeysWithoutCase) {
    Install("versioned.exe", "C:\\versioned.exe");
    Block block = Load("C:\\versioned.exe");
    struct Case {
        const char *path;
        const char *text;  // nullptr: not found
    } cases[] = {
        {"\\StringFileInfo\\040904E4\\ProductVersion", "VERSION 95.0.b"},
        {"\\stringfileinfo\\040904e4\\PRODUCTVERSION", "VERSION 95.0.b"},
        {"\\\\StringFileInfo\\\\040904e4\\ProductVersion\\", "VERSION 95.0.b"},
        {"\\StringFileInfo\\040904e4\\Product", nullptr},  // a prefix is not the key
        {"\\StringFileInfo\\040904e4\\ProductVersionX", nullptr},
        {"\\StringFileInfo\\04090000\\ProductVersion", nullptr},
        {"\\StringFileInfo\\040904e4\\ProductVersion\\More", nullptr},
        {"\\VarFileInfo\\Translations", nullptr},
        {"\\StringFileInfo\\040904e4\\Comments", nullptr},
    };
    for (const Case &c : cases) {
        const Answer a = Query(block, c.path, true);
        EXPECT_EQ(c.text != nullptr, a.ok) << c.path;
        if (c.text) {
            EXPECT_EQ(c.text, a.text) << c.path;
        } else {
            EXPECT_EQ(ERROR_RESOURCE_TYPE_NOT_FOUND, a.error) << c.path;
        }
    }
}

TEST_F(VersionTest, TranslationWithoutItsStringBlock) {
    Install("mismatched.dll", "C:\\WINDOWS\\SYSTEM\\MISMATCHED.DLL");
    Block block = Load("C:\\Windows\\System\\mismatched.dll");
    const std::vector<DWORD> translations = Translations(block);
    ASSERT_EQ(std::vector<DWORD>{0x04B00409}, translations);
    const Answer byTranslation = Query(block, StringKey(translations[0], "ProductVersion"), true);
    EXPECT_FALSE(byTranslation.ok);
    EXPECT_EQ(ERROR_RESOURCE_TYPE_NOT_FOUND, byTranslation.error);
    // The strings are there, under the other code page.
    EXPECT_EQ("4.00.950", Query(block, StringKey(0x04E40409, "ProductVersion"), true).text);
}

TEST_F(VersionTest, FilesWithoutVersionInformation) {
    Install("noversion.exe", "C:\\noversion.exe");
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\readme.txt", "Tolvane Wayfront 95.0.b\r\n"));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\empty.dll", ""));
    ASSERT_TRUE(CreateDirectoryA("C:\\folder.exe", nullptr));
    struct Case {
        const char *path;
        DWORD error;
    } cases[] = {
        {"C:\\noversion.exe", ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"C:\\missing.exe", ERROR_FILE_NOT_FOUND},
        {"C:\\no\\missing.exe", ERROR_PATH_NOT_FOUND},
        {"Q:\\missing.exe", ERROR_PATH_NOT_FOUND},
        {"C:\\readme.txt", ERROR_BAD_FORMAT},
        {"C:\\empty.dll", ERROR_BAD_FORMAT},
        {"C:\\folder.exe", ERROR_ACCESS_DENIED},
    };
    for (const Case &c : cases) {
        DWORD handle = kMarker;
        SetLastError(0);
        EXPECT_EQ(0u, GetFileVersionInfoSizeA(c.path, &handle)) << c.path;
        EXPECT_EQ(c.error, GetLastError()) << c.path;
        EXPECT_EQ(0u, handle) << c.path;
        Block block(256);
        block.size = 0;  // nothing of it may change
        SetLastError(0);
        EXPECT_FALSE(GetFileVersionInfoA(c.path, 0, 256, block.data())) << c.path;
        EXPECT_EQ(c.error, GetLastError()) << c.path;
        EXPECT_TRUE(block.GuardIntact()) << c.path;
    }
}

// A block shorter than the size asked for holds the start of the tree; each
// value answers exactly when the block holds all it needs, as measured on a
// block of the full size.
TEST_F(VersionTest, BlocksShorterThanTheSize) {
    Install("versioned.exe", "C:\\versioned.exe");
    Block full = Load("C:\\versioned.exe");
    WORD length = 0;
    std::memcpy(&length, full.bytes.data(), 2);
    struct Query_ {
        const char *path;
        bool text;
        size_t needs = 0;  // block size it needs, from the full block
    } queries[] = {
        {"\\", false},
        {"\\VarFileInfo\\Translation", false},
        {"\\StringFileInfo\\040904e4\\CompanyName", true},
        {"\\StringFileInfo\\040904e4\\ProductVersion", true},
        {"\\StringFileInfo\\040704e4\\ProductVersion", true},
    };
    for (Query_ &q : queries) {
        const Answer a = Query(full, q.path, q.text);
        ASSERT_TRUE(a.ok) << q.path;
        q.needs = a.offset + (q.text ? a.text.size() + 1 : a.length);
    }

    for (DWORD size : {1u, 6u, 64u, 100u, length / 2u, length - 1u, DWORD{length}, length + 4u,
                       length + 200u, full.size - 1, full.size}) {
        Block block(size);
        SetLastError(0);
        ASSERT_TRUE(GetFileVersionInfoA("C:\\versioned.exe", 0, size, block.data())) << size;
        const size_t tree = std::min<size_t>(size, length);
        EXPECT_EQ(0, std::memcmp(full.bytes.data(), block.bytes.data(), tree)) << size;
        for (const Query_ &q : queries) {
            const Answer a = Query(block, q.path, q.text);
            EXPECT_EQ(size >= q.needs, a.ok)
                << q.path << " in a block of " << size << " (needs " << q.needs << ")";
        }
        EXPECT_TRUE(block.GuardIntact()) << size;
    }

    Block empty(0);
    EXPECT_FALSE(GetFileVersionInfoA("C:\\versioned.exe", 0, 0, empty.data()));
    EXPECT_EQ(ERROR_RESOURCE_DATA_NOT_FOUND, GetLastError());
    EXPECT_TRUE(empty.GuardIntact());
}

// Runs the whole protocol on damaged bytes. Returns the error of a refused
// file, or 0 when the file is read; queries on it must stay in the block.
DWORD ReadDamaged(const std::string &bytes) {
    winsim::WriteWholeFile("C:\\damaged.exe", bytes);
    DWORD handle = 0;
    SetLastError(0);
    const DWORD size = GetFileVersionInfoSizeA("C:\\damaged.exe", &handle);
    if (size == 0) return GetLastError();
    Block block(size);
    EXPECT_TRUE(GetFileVersionInfoA("C:\\damaged.exe", 0, size, block.data()));
    for (const char *path : {"\\", "\\VarFileInfo\\Translation",
                             "\\StringFileInfo\\040904e4\\ProductVersion", "\\StringFileInfo"}) {
        LPVOID found = nullptr;
        UINT length = 0;
        if (VerQueryValueA(block.data(), path, &found, &length)) {
            const unsigned char *p = static_cast<const unsigned char *>(found);
            EXPECT_TRUE(p >= block.bytes.data() && p + length <= block.bytes.data() + block.size)
                << path;
        }
    }
    EXPECT_TRUE(block.GuardIntact());
    return 0;
}

bool IsCleanRefusal(DWORD error) {
    return error == 0 || error == ERROR_BAD_FORMAT || error == ERROR_RESOURCE_TYPE_NOT_FOUND ||
           error == ERROR_RESOURCE_NAME_NOT_FOUND || error == ERROR_RESOURCE_DATA_NOT_FOUND;
}

// Headers, the resource tree and the version resource come in that order in
// the fixture, the version resource last: a cut fails exactly when it loses
// some of the resource, and a longer file reads as the whole one. Cuts
// inside the code and data sections all look alike; one in eight is made.
TEST_F(VersionTest, TruncatedFilesFailCleanly) {
    const std::string bytes = FixtureBytes("versioned.exe");
    const Layout l = LayoutOf(bytes);
    const size_t needed = l.root + l.rootLength;
    ASSERT_LT(needed, bytes.size());
    for (size_t cut = 0; cut < bytes.size();
         cut += (cut >= l.firstRaw && cut < l.rsrcData) ? 8 : 1) {
        const DWORD error = ReadDamaged(bytes.substr(0, cut));
        EXPECT_TRUE(IsCleanRefusal(error)) << "cut at " << cut << ": error " << error;
        EXPECT_EQ(cut < needed, error != 0) << "cut at " << cut << " of " << needed << " needed";
        if (cut < 0x40) {
            EXPECT_EQ(11u, error) << "cut at " << cut;
        }
    }
}

TEST_F(VersionTest, DamagedHeadersFailCleanly) {
    const std::string good = FixtureBytes("versioned.exe");
    const Layout l = LayoutOf(good);
    const size_t pe = l.pe, coff = l.coff, optional = l.optional, rsrc = l.rsrc;
    const size_t rsrcData = l.rsrcData, root = l.root, strings = l.strings;
    const WORD rootLength = l.rootLength;

    using Patch = std::function<void(std::string *)>;
    struct Case {
        const char *what;
        Patch patch;
        DWORD error;          // of GetFileVersionInfoSizeA; 0: the file is read
        bool stringsFound;  // when it is read
    } cases[] = {
        {"no MZ", [](std::string *b) { (*b)[0] = 'Z'; }, ERROR_BAD_FORMAT, false},
        {"e_lfanew past the end",
         [](std::string *b) { WriteDword(b, 0x3C, static_cast<DWORD>(b->size() - 2)); }, ERROR_BAD_FORMAT, false},
        {"e_lfanew near 4 GiB", [](std::string *b) { WriteDword(b, 0x3C, 0xFFFFFFF0u); }, ERROR_BAD_FORMAT,
         false},
        {"no PE signature", [&](std::string *b) { (*b)[pe + 1] = 'X'; }, ERROR_BAD_FORMAT, false},
        {"PE32+ magic", [&](std::string *b) { WriteWord(b, optional, 0x20B); }, ERROR_BAD_FORMAT, false},
        {"optional header past the end", [&](std::string *b) { WriteWord(b, coff + 16, 0xFFFF); },
         ERROR_BAD_FORMAT, false},
        {"optional header too short", [&](std::string *b) { WriteWord(b, coff + 16, 8); }, ERROR_BAD_FORMAT,
         false},
        {"section table past the end", [&](std::string *b) { WriteWord(b, coff + 2, 0xFFFF); }, ERROR_BAD_FORMAT,
         false},
        {"two data directories", [&](std::string *b) { WriteDword(b, optional + 92, 2); },
         ERROR_RESOURCE_TYPE_NOT_FOUND, false},
        {"no resource directory", [&](std::string *b) { WriteDword(b, optional + 112, 0); },
         ERROR_RESOURCE_TYPE_NOT_FOUND, false},
        {"resources outside every section",
         [&](std::string *b) { WriteDword(b, optional + 112, 0x7FFFFFF0u); },
         ERROR_RESOURCE_DATA_NOT_FOUND, false},
        {"resource section past the end",
         [&](std::string *b) { WriteDword(b, rsrc + 20, 0xFFFFFF00u); },
         ERROR_RESOURCE_DATA_NOT_FOUND, false},
        {"resource section at the top of the address space",
         [&](std::string *b) { WriteDword(b, rsrc + 12, 0xFFFFFFF0u); },
         ERROR_RESOURCE_DATA_NOT_FOUND, false},
        {"resource section holding only the root directory",
         [&](std::string *b) { WriteDword(b, rsrc + 16, 16); }, ERROR_RESOURCE_DATA_NOT_FOUND,
         false},
        // What the file holds is still read; the size must not overflow.
        {"resource section size near 4 GiB",
         [&](std::string *b) { WriteDword(b, rsrc + 16, 0xFFFFFFF0u); }, 0, true},
        {"65535 + 65535 type entries",
         [&](std::string *b) { WriteDword(b, rsrcData + 12, 0xFFFFFFFFu); },
         ERROR_RESOURCE_DATA_NOT_FOUND, false},
        {"root node longer than the resource", [&](std::string *b) { WriteWord(b, root, 0xFFFF); },
         ERROR_RESOURCE_DATA_NOT_FOUND, false},
        {"root node shorter than its header", [&](std::string *b) { WriteWord(b, root, 4); },
         ERROR_RESOURCE_DATA_NOT_FOUND, false},
        {"fixed info without its signature", [&](std::string *b) { (*b)[root + 40] ^= 0x55; },
         ERROR_RESOURCE_DATA_NOT_FOUND, false},
        // Damage inside the tree: the file is read, the strings are not found.
        {"string block longer than the root",
         [&](std::string *b) { WriteWord(b, strings, 0xFFFF); }, 0, false},
        {"string block of length 0", [&](std::string *b) { WriteWord(b, strings, 0); }, 0, false},
        {"keys without terminators to the end of the tree",
         [&](std::string *b) {
             for (size_t i = strings + 6; i + 2 <= root + rootLength; i += 2) WriteWord(b, i, 'A');
         },
         0, false},
    };
    for (const Case &c : cases) {
        std::string bytes = good;
        c.patch(&bytes);
        ASSERT_EQ(c.error, ReadDamaged(bytes)) << c.what;
        if (c.error != 0) continue;
        Block block = Load("C:\\damaged.exe");
        const Answer product = Query(block, "\\StringFileInfo\\040904e4\\ProductVersion", true);
        EXPECT_EQ(c.stringsFound, product.ok) << c.what;
        EXPECT_TRUE(Query(block, "\\", false).ok) << c.what;
    }
}

// Every byte of the headers and the resources flipped in turn, as a fuzzer
// would start: never a read or write out of bounds (AddressSanitizer
// watches), never an error the API does not give. The code and data
// sections are never read.
TEST_F(VersionTest, EveryByteFlipped) {
    const std::string good = FixtureBytes("versioned.exe");
    const Layout l = LayoutOf(good);
    for (size_t at = 0; at < good.size(); at = at + 1 == l.firstRaw ? l.rsrcData : at + 1) {
        std::string bytes = good;
        bytes[at] = static_cast<char>(bytes[at] ^ 0xFF);
        const DWORD error = ReadDamaged(bytes);
        ASSERT_TRUE(IsCleanRefusal(error)) << "byte " << at << ": error " << error;
    }
}

TEST_F(VersionTest, InjectedFaults) {
    Install("versioned.exe", "C:\\versioned.exe");
    Block block = Load("C:\\versioned.exe");
    winsim::InjectFault({"GetFileVersionInfoSizeA", "versioned", 0, 1, ERROR_ACCESS_DENIED});
    winsim::InjectFault({"GetFileVersionInfoA", "versioned", 0, 1, ERROR_SHARING_VIOLATION});
    winsim::InjectFault({"VerQueryValueA", "ProductVersion", 0, 1, ERROR_NOT_ENOUGH_MEMORY});
    DWORD handle = 0;
    EXPECT_EQ(0u, GetFileVersionInfoSizeA("C:\\versioned.exe", &handle));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_FALSE(GetFileVersionInfoA("C:\\versioned.exe", 0, block.size, block.data()));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, GetLastError());
    const std::string key = StringKey(0x04E40409, "ProductVersion");
    EXPECT_FALSE(Query(block, key, true).ok);
    EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, GetLastError());
    EXPECT_EQ("VERSION 95.0.b", Query(block, key, true).text);  // one time only
}

}  // namespace
