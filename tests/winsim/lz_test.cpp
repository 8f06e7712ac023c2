// LZ expansion as the payload extraction uses it: SZDD sources expand, other
// sources copy unchanged, destinations are truncated, and damaged data, bad
// handles and refused opens fail.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_machine.h"

namespace {

namespace fs = std::filesystem;

class LzTest : public MachineTest {
protected:
    // The SZDD form of `content`, as mscompress (Debian's mscompress package)
    // writes it; made afresh in a host folder beside drive C:. mscompress
    // garbles inputs of a few bytes (msexpand cannot read them back either),
    // so the tests give it at least a line of text.
    std::string Compress(const std::string &content) const {
        const fs::path dir = fs::path(Root()) / "mscompress";
        fs::create_directories(dir);
        {
            std::ofstream out(dir / "payload.bin", std::ios::binary | std::ios::trunc);
            out << content;
        }
        fs::remove(dir / "payload.bin_");
        const std::string command = "cd '" + dir.string() + "' && mscompress payload.bin";
        EXPECT_EQ(0, std::system(command.c_str())) << command;
        std::ifstream in(dir / "payload.bin_", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // An SZDD file built by hand: the header, then flag bytes of 0xFF, each
    // announcing eight literal bytes.
    static std::string LiteralSzdd(const std::string &content) {
        std::string szdd = std::string("SZDD\x88\xF0\x27\x33", 8) + "Ae";
        for (int shift = 0; shift < 32; shift += 8)
            szdd += static_cast<char>((content.size() >> shift) & 0xFF);
        for (size_t i = 0; i < content.size(); i += 8) szdd += '\xFF' + content.substr(i, 8);
        return szdd;
    }

    // Text that compresses (repeats) but is not one run: a numbered list.
    static std::string SampleText(int lines) {
        std::string text;
        for (int i = 0; i < lines; ++i)
            text += "line " + std::to_string(i * 7919 % 1000) + " of the payload\r\n";
        return text;
    }

    // The extraction's expansion: open both, copy, close both. Returns the
    // copy's result, or the failing open's.
    static LONG Expand(const char *source, const char *destination) {
        OFSTRUCT of{};
        of.cBytes = sizeof of;
        INT in = LZOpenFileA(const_cast<LPSTR>(source), &of, OF_READ);
        if (in < 0) return in;
        of.cBytes = sizeof of;
        INT out = LZOpenFileA(const_cast<LPSTR>(destination), &of, OF_CREATE);
        if (out < 0) {
            LZClose(in);
            return out;
        }
        const LONG copied = LZCopy(in, out);
        LZClose(out);
        LZClose(in);
        return copied;
    }

    static std::string Read(const std::string &path) {
        std::string bytes;
        EXPECT_TRUE(winsim::ReadWholeFile(path, &bytes)) << path;
        return bytes;
    }
};

TEST_F(LzTest, SourcesExpandOrCopyAndDestinationsAreTruncated) {
    const std::string text = SampleText(3000);
    const std::string binary("MZ\x00\x01\xFF\x00\x00SZDD", 11);
    struct Case {
        const char *what;
        std::string stored;    // the source file's bytes
        std::string previous;  // a destination left from before; empty: none
        std::string expanded;  // the destination afterwards
    } cases[] = {
        {"SZDD text", Compress(text), "", text},
        {"SZDD of nothing", LiteralSzdd(""), "", ""},
        {"SZDD of literals", LiteralSzdd("twelve bytes"), "", "twelve bytes"},
        {"SZDD over a longer file", Compress(SampleText(2)), std::string(5000, 'x'), SampleText(2)},
        {"plain binary", binary, "", binary},
        {"plain over a longer file", "abc", "abcdefgh", "abc"},
        {"signature cut short is plain", std::string("SZDD\x88\xF0\x27", 7), "",
         std::string("SZDD\x88\xF0\x27", 7)},
        {"empty plain file", "", "old", ""},
    };
    for (const Case &c : cases) {
        SetUp();
        ASSERT_TRUE(winsim::WriteWholeFile("C:\\Patch\\payload.ex_", c.stored));
        if (!c.previous.empty()) {
            ASSERT_TRUE(winsim::WriteWholeFile("C:\\Patch\\payload.exe", c.previous));
        }
        EXPECT_EQ(static_cast<LONG>(c.expanded.size()),
                  Expand("C:\\Patch\\payload.ex_", "C:\\Patch\\payload.exe"))
            << c.what;
        EXPECT_EQ(c.expanded, Read("C:\\Patch\\payload.exe")) << c.what;
        // Both handles are closed: the files can go.
        EXPECT_TRUE(DeleteFileA("C:\\Patch\\payload.ex_")) << c.what;
        EXPECT_TRUE(DeleteFileA("C:\\Patch\\payload.exe")) << c.what;
    }
}

TEST_F(LzTest, DamagedSzddFails) {
    const std::string good = Compress(SampleText(200));
    ASSERT_GT(good.size(), 40u);
    std::string wrongMethod = good;
    wrongMethod[8] = 'B';
    std::string longerSize = good;
    longerSize[10] = static_cast<char>(longerSize[10] + 1);
    struct Case {
        const char *what;
        std::string stored;
        LONG result;
    } cases[] = {
        {"data cut short", good.substr(0, good.size() - 20), LZERROR_READ},
        {"size field too large", longerSize, LZERROR_READ},
        {"method B", wrongMethod, LZERROR_UNKNOWNALG},
        {"header cut short", good.substr(0, 12), LZERROR_READ},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(winsim::WriteWholeFile("C:\\bad.ex_", c.stored));
        EXPECT_EQ(c.result, Expand("C:\\bad.ex_", "C:\\bad.exe")) << c.what;
    }
}

// Each open goes through OpenFile, and again under the compressed name when
// the first fails, for either style. The rows are what a probe under Wine
// showed, with the same files in place.
TEST_F(LzTest, OpensFallBackToTheCompressedNameAsLz32Does) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\src.ex_", "plain"));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\locked.exe", "old"));
    ASSERT_TRUE(SetFileAttributesA("C:\\locked.exe", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\both.exe", "old"));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\both.ex_", "old"));
    ASSERT_TRUE(SetFileAttributesA("C:\\both.exe", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA("C:\\both.ex_", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\twin.ex_", "twin"));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\a.b_", "short extension"));
    ASSERT_TRUE(CreateDirectoryA("C:\\Work", nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Work"));
    struct Case {
        const char *what;
        const char *path;
        WORD style;
        const char *opened;  // the structure's path on success; nullptr: refused
        WORD error;          // on failure
    } cases[] = {
        {"empty source", "", OF_READ, nullptr, ERROR_FILE_NOT_FOUND},
        {"empty destination: \"._\" in the current directory", "", OF_CREATE, "C:\\Work\\._", 0},
        {"read-only destination: its compressed twin is created", "C:\\locked.exe", OF_CREATE, "C:\\locked.ex_", 0},
        {"read-only destination and twin", "C:\\both.exe", OF_CREATE, nullptr, ERROR_ACCESS_DENIED},
        {"directory as destination", "C:\\Work\\", OF_CREATE, "C:\\Work\\._", 0},
        {"missing source, compressed twin present", "C:\\twin.exe", OF_READ, "C:\\twin.ex_", 0},
        {"short extension gains \"_\"", "C:\\a.b", OF_READ, "C:\\a.b_", 0},
        {"destination in a missing folder", "C:\\none\\x.exe", OF_CREATE, nullptr, ERROR_PATH_NOT_FOUND},
        {"missing source", "C:\\missing.exe", OF_READ, nullptr, ERROR_FILE_NOT_FOUND},
        {"directory as source", "C:\\", OF_READ, nullptr, ERROR_FILE_NOT_FOUND},
        {"given spelling kept", "C:\\SRC.EX_", OF_READ, "C:\\SRC.EX_", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        OFSTRUCT of{};
        of.cBytes = sizeof of;
        SetLastError(0xDEAD);
        const INT handle = LZOpenFileA(const_cast<LPSTR>(c.path), &of, c.style);
        if (c.opened) {
            EXPECT_LE(0, handle);
            EXPECT_STREQ(c.opened, of.szPathName);
            EXPECT_EQ(0, of.nErrCode);
            LZClose(handle);
        } else {
            EXPECT_EQ(LZERROR_BADINHANDLE, handle);
            EXPECT_EQ(c.error, of.nErrCode);
            EXPECT_EQ(c.error, GetLastError());
        }
    }
    EXPECT_EQ("", Read("C:\\Work\\._"));
    EXPECT_EQ("", Read("C:\\locked.ex_"));
    EXPECT_EQ("old", Read("C:\\locked.exe"));
    EXPECT_EQ("old", Read("C:\\both.ex_"));
}

// OFSTRUCT.szPathName holds 128 bytes: a full path of 128 characters or more
// fails with ERROR_INVALID_DATA, however short the name as given (a probe
// under Wine decided: 127 opens, 128 and 129 fail with 13, read or create).
TEST_F(LzTest, TheFullPathMustFitTheOpenFileStructure) {
    const std::string dir = "C:\\" + std::string(116, 'd');  // 119 characters
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    struct Case {
        const char *what;
        std::string name;
        size_t fullLength;
        bool opens;
    } cases[] = {
        {"absolute, 127", dir + "\\abcde.x", 127, true},
        {"absolute, 128", dir + "\\abcdef.x", 128, false},
        {"relative, 127", "abcde.x", 127, true},
        {"relative, 128", "abcdef.x", 128, false},
        {"relative, 129", ".\\abcdefg.x", 129, false},
        {"long as given, short in full", "C:\\" + std::string(40, 'x') + "\\..\\" + dir.substr(3) + "\\..\\s.x", 6, true},
    };
    for (const Case &c : cases) {
        for (WORD style : {OF_CREATE, OF_READ}) {
            SCOPED_TRACE(std::string(c.what) + (style == OF_CREATE ? " create" : " read"));
            OFSTRUCT of{};
            of.cBytes = sizeof of;
            SetLastError(0xDEAD);
            const INT handle = LZOpenFileA(const_cast<LPSTR>(c.name.c_str()), &of, style);
            if (c.opens) {
                EXPECT_LE(0, handle);
                EXPECT_EQ(c.fullLength, std::string(of.szPathName).size());
                LZClose(handle);
            } else {
                EXPECT_EQ(LZERROR_BADINHANDLE, handle);
                EXPECT_EQ(ERROR_INVALID_DATA, of.nErrCode);
                EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
            }
        }
    }
    // Nothing was created for the names that did not fit, nor their twins.
    EXPECT_EQ((std::vector<std::string>{"abcde.x"}), winsim::ListTree(dir));
}

TEST_F(LzTest, HandlesAreSmallAndKeepTheirFilesOpen) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\Quenmark\\src.ex_", "plain"));
    OFSTRUCT of{};
    of.cBytes = sizeof of;
    // Another spelling resolves; the structure gets the full path as given.
    const INT in = LZOpenFileA(const_cast<LPSTR>("C:\\quenmark\\SRC.EX_"), &of, OF_READ);
    EXPECT_EQ(0, in);
    EXPECT_STREQ("C:\\quenmark\\SRC.EX_", of.szPathName);
    EXPECT_EQ(0, of.nErrCode);
    const INT out = LZOpenFileA(const_cast<LPSTR>("C:\\Quenmark\\dst.exe"), &of, OF_CREATE);
    EXPECT_EQ(1, out);

    // Open LZ files are in use.
    EXPECT_FALSE(DeleteFileA("C:\\Quenmark\\src.ex_"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());

    // Handles swapped or unknown are refused before anything is written.
    EXPECT_EQ(LZERROR_BADINHANDLE, LZCopy(out, in));
    EXPECT_EQ(LZERROR_BADINHANDLE, LZCopy(7, out));
    EXPECT_EQ(LZERROR_BADOUTHANDLE, LZCopy(in, in));
    EXPECT_EQ(5, LZCopy(in, out));
    LZClose(in);
    LZClose(out);
    EXPECT_TRUE(DeleteFileA("C:\\Quenmark\\src.ex_"));

    // Numbers are used again once closed.
    EXPECT_EQ(0, LZOpenFileA(const_cast<LPSTR>("C:\\Quenmark\\dst.exe"), &of, OF_READ));
    LZClose(0);
}

TEST_F(LzTest, InjectedCopyFailureKeepsWhatWasCreated) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\a.ex_", "data"));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\a.exe", "stale content"));
    winsim::InjectFault({"LZCopy", "a.ex_", 0, 1, ERROR_DISK_FULL});
    EXPECT_EQ(LZERROR_WRITE, Expand("C:\\a.ex_", "C:\\a.exe"));
    EXPECT_EQ("", Read("C:\\a.exe"));  // the OF_CREATE truncation happened
    EXPECT_EQ(4, Expand("C:\\a.ex_", "C:\\a.exe"));
}

}  // namespace
