// Short (8.3) and full path names: the aliases winsim deals out, their way
// back through every file call, and the buffer rules of both calls.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "test_machine.h"

namespace {

class ShortNameTest : public MachineTest {
protected:
    static std::string ShortPath(const std::string &path) {
        char buffer[MAX_PATH];
        const DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
        if (length == 0 || length >= sizeof buffer)
            return "<failed " + std::to_string(GetLastError()) + ">";
        EXPECT_EQ(std::strlen(buffer), length) << path;
        return buffer;
    }
    static void MakeDirs(const std::vector<std::string> &dirs) {
        for (const std::string &dir : dirs)
            ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr)) << dir;
    }
};

TEST_F(ShortNameTest, AliasesFollowTheWindowsPattern) {
    struct Case {
        const char *what;
        std::vector<std::string> entries;  // created in this order, directories
        const char *path;
        const char *shortPath;
    } cases[] = {
        {"blank dropped", {"C:\\Program Files"}, "C:\\Program Files", "C:\\PROGRA~1"},
        {"numbered by name order, not creation",
         {"C:\\Programme Data", "C:\\Program Files"}, "C:\\Programme Data", "C:\\PROGRA~2"},
        {"first of the prefix", {"C:\\Programme Data", "C:\\Program Files"}, "C:\\program files",
         "C:\\PROGRA~1"},
        {"valid 8.3 keeps its stored case", {"C:\\Quenmark", "C:\\Quenmark\\PatchB2C"},
         "c:\\QUENMARK\\patchb2c", "c:\\Quenmark\\PatchB2C"},
        {"extension cut to three", {"C:\\Readme first.html"}, "C:\\Readme first.html",
         "C:\\README~1.HTM"},
        {"last dot starts the extension", {"C:\\v1.2.notes"}, "C:\\v1.2.notes", "C:\\V12~1.NOT"},
        {"characters FAT refuses", {"C:\\a+b;c.txt"}, "C:\\a+b;c.txt", "C:\\A_B_C~1.TXT"},
        {"leading dot is no extension", {"C:\\.profile"}, "C:\\.profile", "C:\\PROFIL~1"},
        {"real 8.3 entry skipped", {"C:\\PROGRA~1", "C:\\Program Files"}, "C:\\Program Files",
         "C:\\PROGRA~2"},
        {"lower-case 8.3 name is its own", {"C:\\dos"}, "C:\\DOS", "C:\\dos"},
        {"relative stays relative", {"C:\\Program Files"}, "Program Files\\..\\Program Files\\",
         "PROGRA~1\\..\\PROGRA~1\\"},
    };
    for (const Case &c : cases) {
        SetUp();
        MakeDirs(c.entries);
        EXPECT_EQ(c.shortPath, ShortPath(c.path)) << c.what;
    }

    // From the tenth on the prefix gives up a character.
    SetUp();
    for (int i = 0; i < 10; ++i) MakeDirs({"C:\\Program Files " + std::to_string(i)});
    EXPECT_EQ("C:\\PROGRA~9", ShortPath("C:\\Program Files 8"));
    EXPECT_EQ("C:\\PROGR~10", ShortPath("C:\\Program Files 9"));
}

TEST_F(ShortNameTest, AliasesResolveBackInEveryFileCall) {
    const std::string wayfront = "C:\\Program Files\\Quenmark\\Wayfront";
    ASSERT_TRUE(winsim::WriteWholeFile(wayfront + "\\PatchB2C\\patch.exe", "MZ"));
    ASSERT_TRUE(winsim::WriteWholeFile(wayfront + "\\Old Readme.txt", "old"));
    const std::string dir = "C:\\PROGRA~1\\QUENMARK\\WAYFRONT\\PATCHB2C";
    const std::string file = dir + "\\patch.exe";
    struct Case {
        const char *what;
        std::function<bool()> call;
        const char *existsAfter;  // a long path that must exist afterwards, or ""
    } cases[] = {
        {"CreateFileA",
         [&] {
             HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
             return h != INVALID_HANDLE_VALUE && CloseHandle(h);
         },
         ""},
        {"GetFileAttributesA",
         [&] { return GetFileAttributesA(file.c_str()) == FILE_ATTRIBUTE_ARCHIVE; }, ""},
        {"CopyFileA into an alias",
         [&] { return CopyFileA(file.c_str(), "C:\\PROGRA~1\\copy.exe", TRUE) != 0; },
         "C:\\Program Files\\copy.exe"},
        {"MoveFileA from an alias",
         [&] {
             return MoveFileA("C:\\PROGRA~1\\QUENMARK\\WAYFRONT\\OLDREA~1.TXT",
                              "C:\\Program Files\\moved.txt") != 0;
         },
         "C:\\Program Files\\moved.txt"},
        {"DeleteFileA", [] { return DeleteFileA("C:\\PROGRA~1\\moved.txt") != 0; }, ""},
        {"SetCurrentDirectoryA",
         [&] {
             return SetCurrentDirectoryA(dir.c_str()) &&
                    GetFileAttributesA("patch.exe") == FILE_ATTRIBUTE_ARCHIVE;
         },
         ""},
        {"GetShortPathNameA of an alias path",
         [&] { return ShortPath(file) == "C:\\PROGRA~1\\Quenmark\\Wayfront\\PatchB2C\\patch.exe"; },
         ""},
    };
    for (const Case &c : cases) {
        EXPECT_TRUE(c.call()) << c.what << ": error " << GetLastError();
        if (*c.existsAfter) {
            EXPECT_TRUE(winsim::Exists(c.existsAfter)) << c.what;
        }
    }
    EXPECT_FALSE(winsim::Exists("C:\\Program Files\\moved.txt"));
    EXPECT_EQ((std::vector<std::string>{"PatchB2C\\", "PatchB2C\\patch.exe"}),
              winsim::ListTree(wayfront));
}

TEST_F(ShortNameTest, ShortPathBuffersAndFailures) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\Program Files\\Long name.txt", ""));
    const char *path = "C:\\Program Files\\Long name.txt";
    const std::string expected = "C:\\PROGRA~1\\LONGNA~1.TXT";
    const DWORD needed = static_cast<DWORD>(expected.size() + 1);
    struct Case {
        DWORD size;
        DWORD result;
        bool written;
    } cases[] = {{needed, needed - 1, true}, {needed - 1, needed, false}, {0, needed, false}};
    for (const Case &c : cases) {
        char buffer[64];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(c.result, GetShortPathNameA(path, buffer, c.size)) << "size " << c.size;
        EXPECT_EQ(c.written ? expected : std::string(1, '#'),
                  std::string(buffer, c.written ? expected.size() : 1))
            << "size " << c.size;
    }

    // In place, as the launch converts its strings.
    char inPlace[MAX_PATH];
    std::strcpy(inPlace, path);
    EXPECT_EQ(expected.size(), GetShortPathNameA(inPlace, inPlace, sizeof inPlace));
    EXPECT_EQ(expected, inPlace);

    struct Failure {
        const char *path;
        DWORD error;
    } failures[] = {
        {"C:\\Program Files\\missing.txt", ERROR_FILE_NOT_FOUND},
        {"C:\\Missing\\file.txt", ERROR_PATH_NOT_FOUND},
        {"", ERROR_BAD_PATHNAME},
    };
    for (const Failure &f : failures) {
        char buffer[MAX_PATH] = "canary";
        SetLastError(0xDEAD);
        EXPECT_EQ(0u, GetShortPathNameA(f.path, buffer, sizeof buffer)) << f.path;
        EXPECT_EQ(f.error, GetLastError()) << f.path;
        EXPECT_STREQ("canary", buffer) << f.path;
    }
}

// NTFS with 8.3 names turned off, or a network drive: names have no alias.
TEST_F(ShortNameTest, AVolumeWithoutShortNamesKeepsLongNames) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\Program Files\\Long name.txt", ""));
    winsim::MapDrive('D', Root() + "/d");
    ASSERT_TRUE(winsim::WriteWholeFile("D:\\Program Files\\Long name.txt", ""));
    winsim::SetShortNames('c', false);
    char buffer[MAX_PATH];
    EXPECT_EQ(30u, GetShortPathNameA("c:\\program files\\LONG NAME.TXT", buffer, sizeof buffer));
    EXPECT_STREQ("c:\\Program Files\\Long name.txt", buffer);
    SetLastError(0xDEAD);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\PROGRA~1\\LONGNA~1.TXT"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
    // Other drives keep theirs, and the drive gets them back.
    EXPECT_EQ(24u, GetShortPathNameA("D:\\Program Files\\Long name.txt", buffer, sizeof buffer));
    winsim::SetShortNames('C', true);
    EXPECT_EQ(24u, GetShortPathNameA("C:\\Program Files\\Long name.txt", buffer, sizeof buffer));
    EXPECT_STREQ("C:\\PROGRA~1\\LONGNA~1.TXT", buffer);
}

TEST_F(ShortNameTest, FullPathNamesNeedNoFiles) {
    ASSERT_TRUE(CreateDirectoryA("C:\\Work", nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Work"));
    struct Case {
        const char *path;
        const char *full;
        const char *filePart;  // nullptr: none reported
    } cases[] = {
        {"patch.exe", "C:\\Work\\patch.exe", "patch.exe"},
        {"..\\PatchB2C\\patch.exe", "C:\\PatchB2C\\patch.exe", "patch.exe"},
        {"PROGRA~1\\Sub Dir\\", "C:\\Work\\PROGRA~1\\Sub Dir\\", nullptr},
        {"\\", "C:\\", nullptr},
        {"c:\\a\\.\\b", "C:\\a\\b", "b"},
        {"C:", "C:\\Work", "Work"},
    };
    for (const Case &c : cases) {
        char buffer[MAX_PATH];
        LPSTR filePart = buffer;  // canary: must be overwritten
        const DWORD length = GetFullPathNameA(c.path, sizeof buffer, buffer, &filePart);
        EXPECT_EQ(std::strlen(c.full), length) << c.path;
        EXPECT_STREQ(c.full, buffer) << c.path;
        if (c.filePart) {
            EXPECT_STREQ(c.filePart, filePart) << c.path;
        } else {
            EXPECT_EQ(nullptr, filePart) << c.path;
        }
    }

    char small[8] = "canary";
    LPSTR filePart = nullptr;
    EXPECT_EQ(std::strlen("C:\\Work\\patch.exe") + 1,
              GetFullPathNameA("patch.exe", sizeof small, small, &filePart));
    EXPECT_STREQ("canary", small);
}

}  // namespace
