// LZ expansion as the payload extraction uses it: SZDD sources expand, other
// sources copy unchanged, destinations are truncated, and damaged data, bad
// handles and refused opens fail.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

TEST_F(LzTest, RefusedOpensReportTheirError) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\src.ex_", "plain"));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\locked.exe", "old"));
    ASSERT_TRUE(SetFileAttributesA("C:\\locked.exe", FILE_ATTRIBUTE_READONLY));
    struct Case {
        const char *what;
        const char *path;
        WORD style;
        WORD error;
    } cases[] = {
        {"empty destination", "", OF_CREATE, ERROR_PATH_NOT_FOUND},
        {"read-only destination", "C:\\locked.exe", OF_CREATE, ERROR_ACCESS_DENIED},
        {"destination in a missing folder", "C:\\none\\x.exe", OF_CREATE, ERROR_PATH_NOT_FOUND},
        {"missing source", "C:\\missing.ex_", OF_READ, ERROR_FILE_NOT_FOUND},
        {"directory as source", "C:\\", OF_READ, ERROR_ACCESS_DENIED},
    };
    for (const Case &c : cases) {
        OFSTRUCT of{};
        of.cBytes = sizeof of;
        SetLastError(0xDEAD);
        EXPECT_EQ(LZERROR_BADINHANDLE, LZOpenFileA(const_cast<LPSTR>(c.path), &of, c.style))
            << c.what;
        EXPECT_EQ(c.error, of.nErrCode) << c.what;
        EXPECT_EQ(c.error, GetLastError()) << c.what;
    }
    std::string bytes;
    ASSERT_TRUE(winsim::ReadWholeFile("C:\\locked.exe", &bytes));
    EXPECT_EQ("old", bytes);
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
