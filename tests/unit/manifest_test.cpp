// The manifest helpers: counts, paths, message boxes.
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "manifest/manifest.h"
#include "common/paths.h"
#include "test_machine.h"

namespace {

// ---- ParseCount -------------------------------------------------------------

TEST(ParseCount, ReadsTheLeadingNumber) {
    struct Case {
        const char *text;
        LONG expected;
    };
    const Case cases[] = {
        {"14 Count of files to extract", 14},
        {"  -3x", -3},                          // blanks, sign, digit, letter
        {"letters only", 0},
        {"", 0},
        {"+7", 7},
        {" \t\n\v\f\r42", 42},                  // every kind of white space
        {"- 5", 0},                             // no digit right after the sign
        {"--5", 0},
        {"007", 7},
        {"2147483647", 2147483647},
        {"1281953886 Checksum for Version check file in decimal", 1281953886},
        // Above the signed range: the unsigned value's 32 bits.
        {"4294967295", -1},
        {"2147483648", static_cast<LONG>(0x80000000u)},
        {"3000000000", static_cast<LONG>(3000000000u)},
        {"-2147483648", static_cast<LONG>(0x80000000u)},
        {"4294967296", 0},                      // past 32 bits it wraps
    };
    for (const Case &c : cases) EXPECT_EQ(c.expected, ParseCount(c.text)) << '"' << c.text << '"';
    EXPECT_EQ(0, ParseCount(nullptr));
}

// Against a model in 64-bit arithmetic, on numbers of every length up to the
// point where 64 bits would overflow too.
TEST(ParseCount, AgreesWithAWrappingModel) {
    std::mt19937 random(20261208);
    for (int i = 0; i < 5000; ++i) {
        const int digits = 1 + static_cast<int>(random() % 19);
        std::string text = (random() % 3 == 0) ? "-" : "";
        for (int d = 0; d < digits; ++d) text.push_back(static_cast<char>('0' + random() % 10));
        const bool negative = text[0] == '-';
        const uint64_t value = std::stoull(negative ? text.substr(1) : text);
        uint32_t model = static_cast<uint32_t>(value);
        if (negative) model = 0u - model;
        EXPECT_EQ(static_cast<LONG>(model), ParseCount((text + " tail").c_str())) << text;
    }
}

// ---- Paths ------------------------------------------------------------------

class PathTest : public MachineTest {};

// A buffer with a canary after the usable capacity, to catch writes past it.
struct Buffer {
    explicit Buffer(const std::string &text, int capacity) : capacity(capacity) {
        std::memset(bytes, '#', sizeof bytes);
        std::memcpy(bytes, text.c_str(), text.size() + 1);
    }
    bool CanaryIntact() const {
        for (size_t i = static_cast<size_t>(capacity); i < sizeof bytes; ++i)
            if (bytes[i] != '#') return false;
        return true;
    }
    char bytes[300];
    int capacity;
};

TEST_F(PathTest, AppendBackslashAddsOneOnlyWhereMissing) {
    struct Case {
        const char *path;
        const char *expected;
    };
    const Case cases[] = {
        {"C:\\Wayfront", "C:\\Wayfront\\"},
        {"C:\\", "C:\\"},                      // a drive root keeps its one
        {"C:\\Wayfront\\", "C:\\Wayfront\\"},
        {"", ""},
        {"x", "x\\"},
    };
    for (const Case &c : cases) {
        Buffer buffer(c.path, 261);
        EXPECT_EQ(1, AppendBackslash(buffer.bytes, buffer.capacity)) << c.path;
        EXPECT_STREQ(c.expected, buffer.bytes);
    }
}

TEST_F(PathTest, AppendBackslashNeedsRoomForOneMore) {
    Buffer exact("C:\\abc", 8);  // 6 characters, "\" and the terminator fit
    EXPECT_EQ(1, AppendBackslash(exact.bytes, exact.capacity));
    EXPECT_STREQ("C:\\abc\\", exact.bytes);
    EXPECT_TRUE(exact.CanaryIntact());

    Buffer full("C:\\abc", 7);
    EXPECT_EQ(0, AppendBackslash(full.bytes, full.capacity));
    EXPECT_STREQ("C:\\abc", full.bytes);
    EXPECT_TRUE(full.CanaryIntact());
}

// Code page 932: the trail byte of a double-byte character may be 0x5C, the
// code of "\"; such a character is not a "\" and the path still needs one.
TEST_F(PathTest, AppendBackslashWalksDoubleByteCharacters) {
    winsim::SetCodePage(932);
    const std::string table = "\x95\x5c";  // one character; trail byte 0x5C
    struct Case {
        std::string path, expected;
    };
    const Case cases[] = {
        {"C:\\" + table, "C:\\" + table + "\\"},
        {"C:\\" + table + "\\", "C:\\" + table + "\\"},
        {"C:\\" + table + table, "C:\\" + table + table + "\\"},
        {"C:\\a" + table + "b", "C:\\a" + table + "b\\"},
    };
    for (const Case &c : cases) {
        Buffer buffer(c.path, 261);
        EXPECT_EQ(1, AppendBackslash(buffer.bytes, buffer.capacity));
        EXPECT_EQ(c.expected, std::string(buffer.bytes));
    }
    // In code page 1252 the same bytes are two characters, the last a "\".
    winsim::SetCodePage(1252);
    Buffer buffer("C:\\" + table, 261);
    AppendBackslash(buffer.bytes, buffer.capacity);
    EXPECT_EQ("C:\\" + table, std::string(buffer.bytes));
}

TEST_F(PathTest, JoinPathFailsRatherThanOverrun) {
    Buffer dest("previous", 20);
    EXPECT_EQ(1, JoinPath(dest.bytes, dest.capacity, "C:\\dir", "name.dll"));
    EXPECT_STREQ("C:\\dir\\name.dll", dest.bytes);

    // 19 characters and the terminator: exactly the capacity.
    EXPECT_EQ(1, JoinPath(dest.bytes, dest.capacity, "C:\\dir", "name.dll1234"));
    EXPECT_EQ(19, lstrlenA(dest.bytes));
    EXPECT_TRUE(dest.CanaryIntact());

    std::strcpy(dest.bytes, "unchanged");
    EXPECT_EQ(0, JoinPath(dest.bytes, dest.capacity, "C:\\dir", "name.dll12345"));
    EXPECT_STREQ("unchanged", dest.bytes);
    EXPECT_EQ(0, JoinPath(dest.bytes, dest.capacity, std::string(25, 'd').c_str(), "n"));
    EXPECT_STREQ("unchanged", dest.bytes);
    EXPECT_TRUE(dest.CanaryIntact());

    // A directory that ends in "\" gets no second one; an empty one none.
    EXPECT_EQ(1, JoinPath(dest.bytes, dest.capacity, "C:\\", "a.txt"));
    EXPECT_STREQ("C:\\a.txt", dest.bytes);
    EXPECT_EQ(1, JoinPath(dest.bytes, dest.capacity, "", "a.txt"));
    EXPECT_STREQ("a.txt", dest.bytes);
}

TEST_F(PathTest, CopyAndAppendKeepWithinCapacity) {
    Buffer dest("", 6);
    EXPECT_EQ(1, CopyString(dest.bytes, dest.capacity, "abcde"));
    EXPECT_EQ(0, CopyString(dest.bytes, dest.capacity, "abcdef"));
    EXPECT_STREQ("abcde", dest.bytes);
    EXPECT_EQ(0, AppendString(dest.bytes, dest.capacity, "f"));
    EXPECT_STREQ("abcde", dest.bytes);
    EXPECT_EQ(1, CopyString(dest.bytes, dest.capacity, "ab"));
    EXPECT_EQ(1, AppendString(dest.bytes, dest.capacity, "cde"));
    EXPECT_STREQ("abcde", dest.bytes);
    EXPECT_TRUE(dest.CanaryIntact());
}

// ---- Manifest strings and blocks ----------------------------------------------

class ManifestTest : public MachineTest {};

TEST_F(ManifestTest, ABlockCountIsTheNumberBeforeItsComment) {
    winsim::SetString(9000, "2 Count of files to copy");
    winsim::SetString(9001, "first.dll");
    winsim::SetString(9002, "second.dll");
    winsim::SetString(9003, "empty");
    LONG count = -1;
    ASSERT_EQ(1, LoadBlockCount(9000, &count));
    EXPECT_EQ(2, count);
    // A block without its count string is not there at all.
    EXPECT_EQ(0, LoadBlockCount(9500, &count));
    EXPECT_EQ(0, count);
    winsim::SetString(9600, "none here");
    EXPECT_EQ(1, LoadBlockCount(9600, &count));
    EXPECT_EQ(0, count);
}

// Block 9000 lacks its second entry; block 9500 has no count string. The
// walk passes the visited entries' numbers and names on, and stops where the
// visitor refuses.
TEST_F(ManifestTest, ABlockIsWalkedInOrderUpToTheFirstRefusal) {
    winsim::SetString(9000, "3 Count");
    winsim::SetString(9001, "first.dll");
    winsim::SetString(9003, "third.dll");
    struct Case {
        UINT block;
        int required;
        const char *refused;  // the visitor refuses this name
        int result;
        const char *visited;
    };
    const Case cases[] = {
        {9000, BLOCK_OPTIONAL, "", 1, "1 first.dll;3 third.dll;"},  // the missing entry passed over
        {9000, BLOCK_REQUIRED, "", 0, "1 first.dll;"},              // the missing entry fails
        {9000, BLOCK_OPTIONAL, "first.dll", 0, "1 first.dll;"},     // nothing after a refusal
        {9500, BLOCK_OPTIONAL, "", 1, ""},                          // no count: an empty block
        {9500, BLOCK_REQUIRED, "", 0, ""},
    };
    for (const Case &c : cases) {
        struct Walk {
            const char *refused;
            std::string visited;
        } walk = {c.refused, ""};
        const BlockEntryVisitor visit = [](LPCSTR name, LONG number, const void *context) {
            Walk *w = const_cast<Walk *>(static_cast<const Walk *>(context));
            w->visited += std::to_string(number) + " " + name + ";";
            return std::strcmp(name, w->refused) != 0 ? 1 : 0;
        };
        EXPECT_EQ(c.result, ForEachBlockEntry(c.block, c.required, visit, &walk)) << c.block << " " << c.refused;
        EXPECT_EQ(c.visited, walk.visited) << c.block << " " << c.refused;
    }
}

// The manifest generated from the sample's patch description.
TEST_F(ManifestTest, TheShippedBlocksHaveTheirCounts) {
    const struct {
        UINT block;
        LONG count;
    } blocks[] = {
        {BLOCK_PAYLOAD, 14},      {BLOCK_STAGED_FILES, 5}, {BLOCK_SHARED_ADDED, 10}, {BLOCK_SHARED_REMOVED, 9},
        {BLOCK_INSTALL_MOVES, 6}, {BLOCK_SHARED_MOVES, 1}, {BLOCK_CLEANUP, 2},
    };
    for (const auto &b : blocks) {
        LONG count = -1;
        EXPECT_EQ(1, LoadBlockCount(b.block, &count)) << b.block;
        EXPECT_EQ(b.count, count) << b.block;
    }
    const struct {
        UINT id;
        const char *text;
    } strings[] = {
        {BLOCK_PAYLOAD, "14 Count of files to extract"},
        {BLOCK_STAGED_FILES, "5 Count of files to copy from appdir to patch dir"},
        {STR_EXPECTED_VERSION, "VERSION 95.0.b"},
        {STR_EXPECTED_CHECKSUM, "1281953886 Checksum for Version check file in decimal"},
        {STR_PRODUCT_NAME, "Tolvane Wayfront"},
        {BLOCK_PAYLOAD + 15, "empty"},  // after a block's last entry: never meant to be read
    };
    for (const auto &s : strings) {
        SCOPED_TRACE(s.id);
        char text[128] = "#";
        LoadManifestString(s.id, text, sizeof text);
        EXPECT_STREQ(s.text, text);
    }
}

TEST_F(ManifestTest, LoadManifestStringCutsToTheBuffer) {
    winsim::SetString(9100, "wayfront.exe");
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(7, LoadManifestString(9100, buffer, sizeof buffer));
    EXPECT_STREQ("wayfron", buffer);
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(0, LoadManifestString(9101, buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
}

TEST_F(ManifestTest, ShowMessageLoadsTextAndCaption) {
    winsim::QueueAnswers({IDYES});
    HWND owner = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(IDYES, ShowMessage(owner, MSG_CONFIRM, STR_CAPTION, MB_YESNO));
    const std::vector<winsim::UiEvent> boxes = winsim::MessageBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Are you sure you want to upgrade Tolvane Wayfront to version 95.0.C?", boxes[0].text);
    EXPECT_EQ("Tolvane Wayfront Patch", boxes[0].caption);
    EXPECT_EQ(owner, boxes[0].window);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO), boxes[0].type);
}

TEST_F(ManifestTest, ShowMessageShowsMissingTextsEmptyAndLongOnesCut) {
    winsim::RemoveString(STR_CAPTION);
    winsim::SetString(MSG_CONFIRM, std::string(300, 'x'));
    EXPECT_EQ(IDOK, ShowMessage(nullptr, MSG_CONFIRM, STR_CAPTION, MB_OK));
    ShowMessage(nullptr, 4321, STR_CAPTION, MB_OK);
    const std::vector<winsim::UiEvent> boxes = winsim::MessageBoxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ(std::string(255, 'x'), boxes[0].text);
    EXPECT_EQ("", boxes[0].caption);
    EXPECT_EQ("", boxes[1].text);
}

}  // namespace
