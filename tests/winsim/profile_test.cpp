// Profile sections on real INI files: replacing one section leaves every
// other byte alone, sections and files are created, what a section read and
// written back keeps (as under Wine), read-only files, and the buffer
// protocol of GetPrivateProfileSectionA at exact, short and tiny sizes.
#include <cstring>
#include <string>

#include "test_machine.h"

namespace {

const char kIni[] = "C:\\WINDOWS\\WININIT.INI";

class ProfileTest : public MachineTest {
protected:
    static std::string Content(const std::string &path) {
        std::string bytes;
        return winsim::ReadWholeFile(path, &bytes) ? bytes : "<missing>";
    }
    // The buffer's first `size` bytes with NULs shown as "|".
    static std::string Visible(const char *buffer, size_t size) {
        std::string text(buffer, size);
        for (char &c : text)
            if (c == '\0') c = '|';
        return text;
    }
};

// ---- Writing ----------------------------------------------------------------

TEST_F(ProfileTest, WritingReplacesTheSectionAndKeepsTheRest) {
    struct Case {
        const char *what;
        const char *before;  // nullptr: no file
        const char *section;
        const char *after;
    } cases[] = {
        {"the section's old lines go, other sections and blank lines stay",
         "[First]\r\na=1\r\n\r\n[Rename]\r\nold=1\r\n; old\r\nold=2\r\n\r\n[Last]\nz = 9\n",
         "rename",
         "[First]\r\na=1\r\n\r\n[Rename]\r\nC:\\A.DLL=C:\\A.DLX\r\nNUL=C:\\P.EXE\r\n\r\n"
         "[Last]\nz = 9\n"},
        {"no file: created", nullptr, "Rename",
         "[Rename]\r\nC:\\A.DLL=C:\\A.DLX\r\nNUL=C:\\P.EXE\r\n"},
        {"no section: added at the end, after a line end", "[Other]\r\nk=v", "Rename",
         "[Other]\r\nk=v\r\n[Rename]\r\nC:\\A.DLL=C:\\A.DLX\r\nNUL=C:\\P.EXE\r\n"},
        {"the header is the file's last line", "[Rename]", "RENAME",
         "[Rename]\r\nC:\\A.DLL=C:\\A.DLX\r\nNUL=C:\\P.EXE\r\n"},
    };
    for (const Case &c : cases) {
        SetUp();
        if (c.before) {
            ASSERT_TRUE(winsim::WriteWholeFile(kIni, c.before));
        }
        SetLastError(0xDEAD);
        EXPECT_TRUE(WritePrivateProfileSectionA(c.section, "C:\\A.DLL=C:\\A.DLX\0NUL=C:\\P.EXE\0",
                                                kIni))
            << c.what << ": error " << GetLastError();
        EXPECT_EQ(c.after, Content(kIni)) << c.what;
    }
}

TEST_F(ProfileTest, WritingOddInputs) {
    ASSERT_TRUE(winsim::WriteWholeFile(kIni, "[A]\r\nx=1\r\n[Rename]\r\ny=2\r\n[B]\r\nz=3\r\n"));
    // A bare file name lies in the Windows directory.
    ASSERT_TRUE(WritePrivateProfileSectionA("B", "w=4\0", "wininit.ini"));
    EXPECT_EQ("[A]\r\nx=1\r\n[Rename]\r\ny=2\r\n[B]\r\nw=4\r\n", Content(kIni));
    // Blanks before the key and the value go, those after stay; a string
    // without "=" is not written.
    ASSERT_TRUE(WritePrivateProfileSectionA("A", " spaced = out \0no equals\0", kIni));
    EXPECT_EQ("[A]\r\nspaced =out \r\n[Rename]\r\ny=2\r\n[B]\r\nw=4\r\n", Content(kIni));
    // An empty list leaves the header; no list deletes the section.
    ASSERT_TRUE(WritePrivateProfileSectionA("A", "\0", kIni));
    ASSERT_TRUE(WritePrivateProfileSectionA("rename", nullptr, kIni));
    EXPECT_EQ("[A]\r\n[B]\r\nw=4\r\n", Content(kIni));
}

// A section read with GetPrivateProfileSectionA and written back with
// WritePrivateProfileSectionA, as the installer does with [Rename]: what each
// kind of line becomes on the way (observed under Wine).
TEST_F(ProfileTest, SectionReadAndWrittenBack) {
    struct Line {
        const char *inFile;
        const char *read;     // nullptr: left out of the list
        const char *written;  // after the round trip; nullptr: lost
    } lines[] = {
        {"NUL=C:\\PATCH~1\\A.DLL", "NUL=C:\\PATCH~1\\A.DLL", "NUL=C:\\PATCH~1\\A.DLL"},
        {"; another program's note", nullptr, nullptr},
        {"  ; indented note", nullptr, nullptr},
        {";C:\\X=C:\\Y", nullptr, nullptr},
        {"", nullptr, nullptr},
        {" \t", nullptr, nullptr},
        {"\x1a", nullptr, nullptr},
        {"  C:\\OTHER.DLL = C:\\OTHER.NEW  ", "C:\\OTHER.DLL=C:\\OTHER.NEW",
         "C:\\OTHER.DLL=C:\\OTHER.NEW"},
        {"no equals", "no equals", nullptr},
        {"# hash", "# hash", nullptr},
        {"[broken", "[broken", nullptr},
        {"=value only", "=value only", "=value only"},
        {"key only=", "key only=", "key only="},
        {"a=b=c", "a=b=c", "a=b=c"},
    };
    std::string file = "[Before]\r\nk=v\r\n[Rename]\r\n", list, written;
    for (const Line &line : lines) {
        file += std::string(line.inFile) + "\r\n";
        if (line.read) list += std::string(line.read) + '\0';
        if (line.written) written += std::string(line.written) + "\r\n";
    }
    ASSERT_TRUE(winsim::WriteWholeFile(kIni, file + "[After]\r\nz=1\r\n"));

    char buffer[1024];
    const DWORD length = GetPrivateProfileSectionA("Rename", buffer, sizeof buffer, kIni);
    EXPECT_EQ(Visible(list.data(), list.size()), Visible(buffer, length));
    ASSERT_TRUE(WritePrivateProfileSectionA("Rename", buffer, kIni));
    EXPECT_EQ("[Before]\r\nk=v\r\n[Rename]\r\n" + written + "[After]\r\nz=1\r\n", Content(kIni));
}

// A read-only file is read as any other; every write fails and leaves it
// as it was (observed under Wine, run as a user other than root).
TEST_F(ProfileTest, ReadOnlyFileIsReadButNotWritten) {
    const std::string before = "[Rename]\r\nNUL=C:\\A.DLL\r\n";
    ASSERT_TRUE(winsim::WriteWholeFile(kIni, before));
    ASSERT_TRUE(SetFileAttributesA(kIni, FILE_ATTRIBUTE_READONLY));
    char buffer[64];
    EXPECT_EQ(13u, GetPrivateProfileSectionA("Rename", buffer, sizeof buffer, kIni));
    EXPECT_EQ("NUL=C:\\A.DLL||", Visible(buffer, 14));
    struct Case {
        const char *what;
        const char *section;
        const char *list;
    } cases[] = {
        {"the same lines again", "Rename", "NUL=C:\\A.DLL\0"},
        {"other lines", "Rename", "NUL=C:\\B.DLL\0"},
        {"no lines", "Rename", "\0"},
        {"the section deleted", "Rename", nullptr},
        {"a new section", "Other", "k=v\0"},
    };
    for (const Case &c : cases) {
        SetLastError(0xDEAD);
        EXPECT_FALSE(WritePrivateProfileSectionA(c.section, c.list, kIni)) << c.what;
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError()) << c.what;
        EXPECT_EQ(before, Content(kIni)) << c.what;
    }
}

// ---- Reading ----------------------------------------------------------------

TEST_F(ProfileTest, ReadingAtEveryBufferSize) {
    // Comments and blank lines are left out, blanks around "=" trimmed: the
    // list is "a=1|bb=22||", 11 characters.
    ASSERT_TRUE(winsim::WriteWholeFile(kIni,
                                       "[Other]\r\nq=0\r\n[RENAME]\r\n; comment\r\n a = 1 \r\n"
                                       "\r\nbb=22\r\n[Next]\r\nc=3\r\n"));
    struct Case {
        DWORD size;
        DWORD result;
        const char *buffer;  // the first `size` characters, NULs as "|"
    } cases[] = {
        {100, 10, "a=1|bb=22||"},
        {11, 10, "a=1|bb=22||"},  // exactly enough
        {10, 8, "a=1|bb=2||"},    // the last line cut, two NULs, size - 2
        {5, 3, "a=1||"},          // the cut falls on a line's NUL
        {4, 2, "a=||"},
        {2, 0, "||"},
        {1, 0, "|"},
    };
    for (const Case &c : cases) {
        char buffer[128];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(c.result, GetPrivateProfileSectionA("rename", buffer, c.size, kIni)) << c.size;
        const size_t shown = std::min<size_t>(c.size, std::strlen(c.buffer));
        EXPECT_EQ(c.buffer, Visible(buffer, shown)) << c.size;
        EXPECT_EQ('#', buffer[c.size < 100 ? c.size : shown]) << "written past the end, size "
                                                              << c.size;
    }
}

TEST_F(ProfileTest, ReadingMissingSectionsAndFiles) {
    ASSERT_TRUE(winsim::WriteWholeFile(kIni, "[Rename]\r\n[Other]\r\nx=1\r\n"));
    struct Case {
        const char *what;
        const char *section;
        const char *file;
        DWORD error;  // 0xDEAD: left alone
    } cases[] = {
        {"empty section", "Rename", kIni, 0xDEAD},
        {"missing section", "Nothing", kIni, 0xDEAD},
        {"missing file", "Rename", "C:\\WINDOWS\\none.ini", ERROR_FILE_NOT_FOUND},
    };
    for (const Case &c : cases) {
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        SetLastError(0xDEAD);
        EXPECT_EQ(0u, GetPrivateProfileSectionA(c.section, buffer, sizeof buffer, c.file))
            << c.what;
        EXPECT_EQ("||#", Visible(buffer, 3)) << c.what;
        EXPECT_EQ(c.error, GetLastError()) << c.what;
    }
}

}  // namespace
