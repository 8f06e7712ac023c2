// The simulated file system where it is not obvious: path rules, CreateFileA
// dispositions, sharing, attributes, and the last errors of refused calls.
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "test_machine.h"

namespace {

namespace fs = std::filesystem;

// In the error column: the call succeeds.
constexpr int kSucceeded = -1;

class FilesTest : public MachineTest {
protected:
    static HANDLE Open(const char *path, DWORD access, DWORD disposition, DWORD share = 0) {
        return CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    }
    static int LastError() { return static_cast<int>(GetLastError()); }
    // The last error a refused call left, or kSucceeded.
    static int ErrorOf(BOOL ok) { return ok ? kSucceeded : LastError(); }
    std::string Host(const std::string &relative) const {
        return (fs::path(Root()) / relative).string();
    }
};

TEST_F(FilesTest, LookupIgnoresCaseAndCreationKeepsIt) {
    ASSERT_TRUE(CreateDirectoryA("C:\\Program Files", nullptr));
    HANDLE file = Open("c:\\PROGRAM FILES\\ReadMe.Txt", GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);

    EXPECT_EQ((std::vector<std::string>{"Program Files\\", "Program Files\\ReadMe.Txt"}),
              winsim::ListTree("C:\\"));
    EXPECT_EQ(Host("c/Program Files/ReadMe.Txt"),
              winsim::HostPath("C:\\program files\\README.TXT"));
    EXPECT_EQ(FILE_ATTRIBUTE_ARCHIVE, GetFileAttributesA("C:\\PROGRAM FILES\\readme.txt"));
}

TEST_F(FilesTest, DoubleByteNamesKeepTheirTrailBytes) {
    winsim::SetCodePage(932);
    // 0x95 0x5C is one character whose trail byte is a backslash.
    ASSERT_TRUE(CreateDirectoryA("C:\\\x95\x5C", nullptr));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\\x95\x5C\\a.txt", "x"));
    // 0x83 0x41 and 0x83 0x61 differ only in a trail byte that looks like a letter.
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\\x83\x41", ""));
    HANDLE other = Open("C:\\\x83\x61", GENERIC_WRITE, CREATE_NEW);
    EXPECT_NE(INVALID_HANDLE_VALUE, other);
    CloseHandle(other);
    EXPECT_EQ((std::vector<std::string>{"\x83\x41", "\x83\x61", "\x95\x5C\\", "\x95\x5C\\a.txt"}),
              winsim::ListTree("C:\\"));

    // In a single-byte code page the same bytes are letters that fold.
    winsim::SetCodePage(1252);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("C:\\\x83\x61", GENERIC_WRITE, CREATE_NEW));
    EXPECT_EQ(ERROR_FILE_EXISTS, LastError());
}

TEST_F(FilesTest, RelativePathsResolveAgainstTheCurrentDirectory) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\Work\\Sub\\keep.txt", ""));
    winsim::MapDrive('D', Host("d"));
    ASSERT_TRUE(SetCurrentDirectoryA("c:\\work\\sub"));
    struct Case {
        const char *path;
        const char *lands;
    } cases[] = {
        {"new.txt", "C:\\Work\\Sub\\new.txt"},
        {".\\.\\new.txt", "C:\\Work\\Sub\\new.txt"},
        {"..\\new.txt", "C:\\Work\\new.txt"},
        {"..\\..\\..\\..\\new.txt", "C:\\new.txt"},  // ".." stops at the root
        {"\\new.txt", "C:\\new.txt"},
        {"/Work/./Sub/../new.txt", "C:\\Work\\new.txt"},
        {"C:new.txt", "C:\\Work\\Sub\\new.txt"},
        {"d:new.txt", "D:\\new.txt"},  // other drives start at their root
        {"C:\\\\Work//Sub\\\\new.txt", "C:\\Work\\Sub\\new.txt"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        HANDLE file = Open(c.path, GENERIC_WRITE, CREATE_NEW);
        ASSERT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();
        CloseHandle(file);
        EXPECT_TRUE(winsim::Exists(c.lands));
        EXPECT_TRUE(DeleteFileA(c.lands)) << GetLastError();
    }
}

TEST_F(FilesTest, GetCurrentDirectoryBufferSizes) {
    ASSERT_TRUE(CreateDirectoryA("C:\\Ab", nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA("c:\\AB\\."));
    const std::string expected = "C:\\AB";  // as the caller wrote it
    const DWORD length = static_cast<DWORD>(expected.size());
    EXPECT_EQ(length + 1, GetCurrentDirectoryA(0, nullptr));

    char buffer[16];
    for (DWORD size : {length - 1, length}) {
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(length + 1, GetCurrentDirectoryA(size, buffer)) << "buffer of " << size;
        EXPECT_EQ(std::string(sizeof buffer, '#'), std::string(buffer, sizeof buffer));
    }
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(length, GetCurrentDirectoryA(length + 1, buffer));
    EXPECT_EQ(expected, std::string(buffer));
    EXPECT_EQ('#', buffer[length + 1]);
}

TEST_F(FilesTest, CreateFileDispositions) {
    const int kAny = -2;  // last error not pinned down
    struct Case {
        DWORD disposition;
        bool existed;
        bool opens;
        int error;
        size_t sizeAfter;
    } cases[] = {
        {CREATE_NEW, false, true, kAny, 0},
        {CREATE_NEW, true, false, ERROR_FILE_EXISTS, 3},
        {CREATE_ALWAYS, false, true, ERROR_SUCCESS, 0},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, 0},
        {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, 0},
        {OPEN_EXISTING, true, true, kAny, 3},
        {OPEN_ALWAYS, false, true, ERROR_SUCCESS, 0},
        {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, 3},
        {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, 0},
        {TRUNCATE_EXISTING, true, true, kAny, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "disposition " << c.disposition << ", existed " << c.existed);
        DeleteFileA("C:\\f.bin");
        if (c.existed) {
            ASSERT_TRUE(winsim::WriteWholeFile("C:\\f.bin", "old"));
        }
        SetLastError(0xDEAD);
        HANDLE file = Open("C:\\f.bin", GENERIC_READ | GENERIC_WRITE, c.disposition);
        EXPECT_EQ(c.opens, file != INVALID_HANDLE_VALUE);
        if (c.error != kAny) {
            EXPECT_EQ(c.error, LastError());
        }
        CloseHandle(file);
        std::string bytes;
        EXPECT_EQ(c.existed || c.opens, winsim::ReadWholeFile("C:\\f.bin", &bytes));
        EXPECT_EQ(c.sizeAfter, bytes.size());
    }
}

TEST_F(FilesTest, CreateFileRefusals) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\dir\\file.txt", ""));
    const std::string tooLong = "C:\\" + std::string(MAX_PATH, 'a');
    struct Case {
        std::string path;
        DWORD access;
        DWORD disposition;
        int error;
    } cases[] = {
        {"C:\\missing\\x.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"C:\\dir\\file.txt\\x.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"C:\\DIR", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"C:\\dir", GENERIC_READ, CREATE_NEW, ERROR_FILE_EXISTS},
        {"Q:\\x.txt", GENERIC_READ, OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"C:\\a?b.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_INVALID_NAME},
        {"C:\\new\\", GENERIC_WRITE, CREATE_ALWAYS, ERROR_INVALID_NAME},
        {"", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {tooLong, GENERIC_WRITE, CREATE_ALWAYS, ERROR_FILENAME_EXCED_RANGE},
        {"C:\\dir\\file.txt", GENERIC_READ, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER},
        {"C:\\dir\\file.txt", GENERIC_READ, 0, ERROR_INVALID_PARAMETER},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.substr(0, 40));
        EXPECT_EQ(INVALID_HANDLE_VALUE, Open(c.path.c_str(), c.access, c.disposition));
        EXPECT_EQ(c.error, LastError());
    }
    EXPECT_EQ((std::vector<std::string>{"dir\\", "dir\\file.txt"}), winsim::ListTree("C:\\"));
}

TEST_F(FilesTest, SharingModesAreCheckedBothWays) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\f.txt", "abc"));
    const DWORD R = GENERIC_READ, W = GENERIC_WRITE, SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE;
    struct Case {
        DWORD firstAccess, firstShare, secondAccess, secondShare;
        bool secondOpens;
    } cases[] = {
        {R, SR, R, SR, true},
        {R, SR, W, SR | SW, false},  // the first handle does not share writing
        {W, SR | SW, R, SR, false},  // the second does not tolerate a writer
        {W, SR | SW, R | W, SR | SW, true},
        {R, 0, R, SR | SW, false},
        {0, 0, R | W, 0, true},  // handles without access take no part
        {R, SR, 0, 0, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.firstAccess << "/" << c.firstShare
                                          << " then " << c.secondAccess << "/" << c.secondShare);
        HANDLE first = Open("C:\\f.txt", c.firstAccess, OPEN_EXISTING, c.firstShare);
        ASSERT_NE(INVALID_HANDLE_VALUE, first);
        HANDLE second = Open("C:\\F.TXT", c.secondAccess, OPEN_EXISTING, c.secondShare);
        EXPECT_EQ(c.secondOpens, second != INVALID_HANDLE_VALUE);
        if (second == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(ERROR_SHARING_VIOLATION, LastError());
        }
        CloseHandle(second);
        CloseHandle(first);
    }
}

TEST_F(FilesTest, ReadWriteAndFilePointer) {
    HANDLE file = CreateFileA("C:\\data.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(file, "hello world", 11, &done, nullptr));
    EXPECT_EQ(6u, SetFilePointer(file, -5, nullptr, FILE_END));
    char buffer[32] = {};
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ("world", std::string(buffer, done));
    done = 99;
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));  // at the end
    EXPECT_EQ(0u, done);

    EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(file, -12, nullptr, FILE_CURRENT));
    EXPECT_EQ(ERROR_NEGATIVE_SEEK, LastError());
    EXPECT_EQ(11u, SetFilePointer(file, 0, nullptr, FILE_CURRENT));  // unmoved by the failure

    EXPECT_EQ(20u, SetFilePointer(file, 20, nullptr, FILE_BEGIN));
    ASSERT_TRUE(WriteFile(file, "!", 1, &done, nullptr));  // the gap fills with zeros
    DWORD sizeHigh = 7;
    EXPECT_EQ(21u, GetFileSize(file, &sizeHigh));
    EXPECT_EQ(0u, sizeHigh);

    LONG high = 1;
    EXPECT_EQ(5u, SetFilePointer(file, 5, &high, FILE_BEGIN));
    EXPECT_EQ(1, high);
    high = -1;  // with the low part: -1 as a 64-bit distance
    EXPECT_EQ(4u, SetFilePointer(file, -1, &high, FILE_CURRENT));
    EXPECT_EQ(1, high);
    CloseHandle(file);

    std::string bytes;
    ASSERT_TRUE(winsim::ReadWholeFile("C:\\data.bin", &bytes));
    EXPECT_EQ(std::string("hello world") + std::string(9, '\0') + "!", bytes);
}

TEST_F(FilesTest, HandlesEnforceTheirAccess) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\f.txt", "abc"));
    const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;
    char buffer[4];
    DWORD done = 0;
    HANDLE reader = Open("C:\\f.txt", GENERIC_READ, OPEN_EXISTING, shareAll);
    HANDLE writer = Open("C:\\f.txt", GENERIC_WRITE, OPEN_EXISTING, shareAll);
    EXPECT_EQ(ERROR_ACCESS_DENIED, ErrorOf(WriteFile(reader, "x", 1, &done, nullptr)));
    EXPECT_EQ(ERROR_ACCESS_DENIED, ErrorOf(ReadFile(writer, buffer, 1, &done, nullptr)));
    // Flushing needs write access, as a probe under Wine showed.
    EXPECT_EQ(ERROR_ACCESS_DENIED, ErrorOf(FlushFileBuffers(reader)));
    EXPECT_EQ(kSucceeded, ErrorOf(FlushFileBuffers(writer)));
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_TRUE(CloseHandle(writer));
    EXPECT_EQ(ERROR_INVALID_HANDLE, ErrorOf(CloseHandle(writer)));
    EXPECT_EQ(ERROR_INVALID_HANDLE, ErrorOf(ReadFile(reader, buffer, 1, &done, nullptr)));
    EXPECT_EQ(ERROR_INVALID_HANDLE, ErrorOf(FlushFileBuffers(writer)));
    EXPECT_EQ(ERROR_INVALID_HANDLE, ErrorOf(FlushFileBuffers(INVALID_HANDLE_VALUE)));
    EXPECT_EQ(INVALID_FILE_SIZE, GetFileSize(reader, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, LastError());

    // A token from the security family closes through the same call.
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_EQ(ERROR_INVALID_HANDLE, ErrorOf(CloseHandle(token)));
}

// Every refused call leaves the tree as it was and the documented last error.
TEST_F(FilesTest, RefusedCallsSetTheLastError) {
    for (const char *file : {"C:\\dir\\f.txt", "C:\\ro.dll", "C:\\new.dll", "C:\\holder\\busy.exe"})
        ASSERT_TRUE(winsim::WriteWholeFile(file, file));
    ASSERT_TRUE(CreateDirectoryA("C:\\rodir", nullptr));
    ASSERT_TRUE(CreateDirectoryA("C:\\here", nullptr));
    ASSERT_TRUE(SetFileAttributesA("C:\\ro.dll", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA("C:\\rodir", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\here"));
    winsim::MapDrive('D', Host("d"));
    winsim::MapDrive('A', Host("a"));
    winsim::DiskGeometry noMedium;
    noMedium.answers = false;
    winsim::SetDiskGeometry('A', noMedium);
    HANDLE busy = Open("C:\\holder\\busy.exe", GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
    ASSERT_NE(INVALID_HANDLE_VALUE, busy);
    const std::vector<std::string> tree = winsim::ListTree("C:\\");

    struct Case {
        const char *call;
        std::function<BOOL()> run;
        int error;
    } cases[] = {
        {"cd missing", [] { return SetCurrentDirectoryA("C:\\nope"); }, ERROR_FILE_NOT_FOUND},
        {"cd missing parent", [] { return SetCurrentDirectoryA("C:\\no\\pe"); },
         ERROR_PATH_NOT_FOUND},
        {"cd file", [] { return SetCurrentDirectoryA("C:\\dir\\f.txt"); }, ERROR_DIRECTORY},
        {"mkdir existing", [] { return CreateDirectoryA("C:\\DIR", nullptr); },
         ERROR_ALREADY_EXISTS},
        {"mkdir missing parent", [] { return CreateDirectoryA("C:\\no\\pe", nullptr); },
         ERROR_PATH_NOT_FOUND},
        {"rmdir not empty", [] { return RemoveDirectoryA("C:\\dir"); }, ERROR_DIR_NOT_EMPTY},
        {"rmdir missing", [] { return RemoveDirectoryA("C:\\nope"); }, ERROR_FILE_NOT_FOUND},
        {"rmdir file", [] { return RemoveDirectoryA("C:\\dir\\f.txt"); }, ERROR_DIRECTORY},
        {"rmdir current", [] { return RemoveDirectoryA("C:\\HERE"); }, ERROR_SHARING_VIOLATION},
        {"rmdir read-only", [] { return RemoveDirectoryA("C:\\rodir"); }, ERROR_ACCESS_DENIED},
        {"del read-only", [] { return DeleteFileA("C:\\ro.dll"); }, ERROR_ACCESS_DENIED},
        {"del directory", [] { return DeleteFileA("C:\\rodir"); }, ERROR_ACCESS_DENIED},
        {"del missing", [] { return DeleteFileA("C:\\nope.txt"); }, ERROR_FILE_NOT_FOUND},
        {"del open", [] { return DeleteFileA("C:\\HOLDER\\busy.exe"); }, ERROR_SHARING_VIOLATION},
        {"move open", [] { return MoveFileA("C:\\holder\\busy.exe", "C:\\b.exe"); },
         ERROR_SHARING_VIOLATION},
        {"move dir holding open", [] { return MoveFileA("C:\\holder", "C:\\h2"); },
         ERROR_ACCESS_DENIED},
        {"move current", [] { return MoveFileA("C:\\here", "C:\\h2"); }, ERROR_SHARING_VIOLATION},
        {"move onto existing", [] { return MoveFileA("C:\\ro.dll", "C:\\NEW.DLL"); },
         ERROR_ALREADY_EXISTS},
        {"move into missing", [] { return MoveFileA("C:\\new.dll", "C:\\no\\x"); },
         ERROR_PATH_NOT_FOUND},
        {"move into itself", [] { return MoveFileA("C:\\dir", "C:\\dir\\sub"); },
         ERROR_SHARING_VIOLATION},
        {"move dir to D:", [] { return MoveFileA("C:\\dir", "D:\\dir"); }, ERROR_NOT_SAME_DEVICE},
        {"copy onto read-only", [] { return CopyFileA("C:\\new.dll", "C:\\ro.dll", FALSE); },
         ERROR_ACCESS_DENIED},
        {"copy fail if exists", [] { return CopyFileA("C:\\new.dll", "C:\\RO.dll", TRUE); },
         ERROR_FILE_EXISTS},
        {"copy onto itself", [] { return CopyFileA("C:\\new.dll", "C:\\NEW.dll", FALSE); },
         ERROR_SHARING_VIOLATION},
        {"copy directory", [] { return CopyFileA("C:\\dir", "C:\\x", FALSE); },
         ERROR_ACCESS_DENIED},
        {"attributes missing parent",
         [] { return GetFileAttributesA("C:\\no\\pe") != INVALID_FILE_ATTRIBUTES; },
         ERROR_PATH_NOT_FOUND},
        {"free space unmapped",
         [] { return GetDiskFreeSpaceA("Q:\\", nullptr, nullptr, nullptr, nullptr); },
         ERROR_PATH_NOT_FOUND},
        {"free space no medium",
         [] { return GetDiskFreeSpaceA("A:\\", nullptr, nullptr, nullptr, nullptr); },
         ERROR_NOT_READY},
    };
    for (const Case &c : cases) {
        SetLastError(0);
        EXPECT_EQ(c.error, ErrorOf(c.run())) << c.call;
    }
    EXPECT_EQ(tree, winsim::ListTree("C:\\"));
    EXPECT_EQ(std::vector<std::string>{}, winsim::ListTree("D:\\"));

    // Once the handle is closed the file is free.
    ASSERT_TRUE(CloseHandle(busy));
    EXPECT_TRUE(MoveFileA("C:\\holder\\busy.exe", "C:\\b.exe"));
    EXPECT_TRUE(DeleteFileA("C:\\b.exe"));
}

TEST_F(FilesTest, AttributesFollowTheirFiles) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\app\\bin\\core.dll", "v1"));
    winsim::MapDrive('D', Host("d"));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, GetFileAttributesA("C:\\APP\\"));
    ASSERT_TRUE(SetFileAttributesA("C:\\app\\bin\\core.dll", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(FILE_ATTRIBUTE_NORMAL, GetFileAttributesA("C:\\app\\bin\\core.dll"));

    // Writing marks the file for backup again.
    HANDLE file = Open("C:\\app\\bin\\core.dll", GENERIC_WRITE, OPEN_EXISTING);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(file, "v2", 2, &done, nullptr));
    CloseHandle(file);
    EXPECT_EQ(FILE_ATTRIBUTE_ARCHIVE, GetFileAttributesA("C:\\app\\bin\\core.dll"));

    // Read-only refuses writing and overwriting, not reading or renaming.
    ASSERT_TRUE(SetFileAttributesA("C:\\app\\bin\\core.dll", FILE_ATTRIBUTE_READONLY));
    for (DWORD disposition : {OPEN_EXISTING, OPEN_ALWAYS, TRUNCATE_EXISTING}) {
        EXPECT_EQ(INVALID_HANDLE_VALUE, Open("C:\\app\\bin\\core.dll", GENERIC_WRITE, disposition));
        EXPECT_EQ(ERROR_ACCESS_DENIED, LastError()) << "disposition " << disposition;
    }
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("C:\\app\\bin\\core.dll", GENERIC_READ, CREATE_ALWAYS));
    EXPECT_EQ(ERROR_ACCESS_DENIED, LastError());
    file = Open("C:\\app\\bin\\core.dll", GENERIC_READ, OPEN_EXISTING);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);

    ASSERT_TRUE(MoveFileA("C:\\app", "C:\\App2"));
    EXPECT_EQ(FILE_ATTRIBUTE_READONLY, GetFileAttributesA("C:\\app2\\bin\\core.dll"));
    ASSERT_TRUE(MoveFileA("C:\\app2\\bin\\core.dll", "D:\\core.dll"));
    EXPECT_EQ(FILE_ATTRIBUTE_READONLY, GetFileAttributesA("D:\\core.dll"));

    // Overwriting a hidden file must restate the attribute.
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\h.ini", ""));
    ASSERT_TRUE(SetFileAttributesA("C:\\h.ini", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("C:\\h.ini", GENERIC_WRITE, CREATE_ALWAYS));
    EXPECT_EQ(ERROR_ACCESS_DENIED, LastError());
    file = CreateFileA("C:\\h.ini", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN,
                       nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
}

TEST_F(FilesTest, CopyAndMoveResults) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\new.dll", "new"));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\old.dll", "old"));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\setup.ini", ""));
    ASSERT_TRUE(SetFileAttributesA("C:\\new.dll", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(CopyFileA("C:\\new.dll", "C:\\OLD.DLL", TRUE));
    std::string bytes;
    ASSERT_TRUE(winsim::ReadWholeFile("C:\\old.dll", &bytes));
    EXPECT_EQ("old", bytes);

    ASSERT_TRUE(CopyFileA("C:\\new.dll", "C:\\OLD.DLL", FALSE));
    ASSERT_TRUE(winsim::ReadWholeFile("C:\\old.dll", &bytes));
    EXPECT_EQ("new", bytes);
    EXPECT_EQ(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE,
              GetFileAttributesA("C:\\old.dll"));

    // The source is read sharing reading only: a writer elsewhere blocks the copy.
    ASSERT_TRUE(SetFileAttributesA("C:\\new.dll", FILE_ATTRIBUTE_NORMAL));
    HANDLE writer =
        Open("C:\\new.dll", GENERIC_WRITE, OPEN_EXISTING, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(ERROR_SHARING_VIOLATION, ErrorOf(CopyFileA("C:\\new.dll", "C:\\copy.dll", TRUE)));
    CloseHandle(writer);

    ASSERT_TRUE(MoveFileA("C:\\setup.ini", "C:\\SETUP.INI"));  // a change of case only
    EXPECT_EQ((std::vector<std::string>{"SETUP.INI", "new.dll", "old.dll"}),
              winsim::ListTree("C:\\"));
}

// Read-only lives in the file's permission bits, as Wine keeps it: it moves
// with the file through a restart's replacement, and a host twin attached to
// the folder (patch_twin) meets it.
TEST_F(FilesTest, ReadOnlyTravelsWithTheFile) {
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\app\\target.dll", "old"));
    ASSERT_TRUE(winsim::WriteWholeFile("C:\\app\\new.dll", "new"));
    ASSERT_TRUE(SetFileAttributesA("C:\\app\\target.dll", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(0, static_cast<int>(fs::status(Host("c/app/target.dll")).permissions() &
                                  (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write)));
    ASSERT_TRUE(MoveFileExA("C:\\app\\new.dll", "C:\\app\\target.dll",
                            MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    winsim::Restart();
    std::string bytes;
    ASSERT_TRUE(winsim::ReadWholeFile("C:\\app\\target.dll", &bytes));
    EXPECT_EQ("new", bytes);
    EXPECT_EQ(0u, GetFileAttributesA("C:\\app\\target.dll") & FILE_ATTRIBUTE_READONLY);

    ASSERT_TRUE(SetFileAttributesA("C:\\app\\target.dll", FILE_ATTRIBUTE_READONLY));
    winsim::AttachToHostDirectory(Host("c/app"));
    EXPECT_EQ(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, GetFileAttributesA("C:\\target.dll"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, ErrorOf(DeleteFileA("C:\\target.dll")));
    ASSERT_TRUE(SetFileAttributesA("C:\\target.dll", FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA("C:\\target.dll"));
}

// A full volume: Windows 95 (FAT) writes what fits and returns TRUE with the
// short count; NT refuses the write.
TEST_F(FilesTest, AFullVolumeWritesWhatFits) {
    winsim::SetRoomLeft('C', 10);
    winsim::SetPlatform(winsim::Platform::Windows95);
    HANDLE file = Open("C:\\full.dat", GENERIC_WRITE, CREATE_NEW);
    DWORD done = 99;
    EXPECT_TRUE(WriteFile(file, "123456", 6, &done, nullptr));
    EXPECT_EQ(6u, done);
    SetFilePointer(file, 2, nullptr, FILE_BEGIN);  // overwriting uses no room
    EXPECT_TRUE(WriteFile(file, "abcdef", 6, &done, nullptr));
    EXPECT_EQ(6u, done);
    EXPECT_TRUE(WriteFile(file, "ABCDEF", 6, &done, nullptr));
    EXPECT_EQ(2u, done);
    EXPECT_TRUE(WriteFile(file, "x", 1, &done, nullptr));
    EXPECT_EQ(0u, done);
    winsim::SetPlatform(winsim::Platform::WindowsNT);
    EXPECT_EQ(ERROR_DISK_FULL, ErrorOf(WriteFile(file, "x", 1, &done, nullptr)));
    EXPECT_EQ(0u, done);
    CloseHandle(file);
    std::string bytes;
    ASSERT_TRUE(winsim::ReadWholeFile("C:\\full.dat", &bytes));
    EXPECT_EQ("12abcdefAB", bytes);
}

TEST_F(FilesTest, InjectedFaultsFailOnlyTheMatchingCall) {
    winsim::InjectFault({"CreateDirectoryA", "PatchB2C", 0, -1, ERROR_DISK_FULL});
    EXPECT_TRUE(CreateDirectoryA("C:\\PatchA", nullptr));
    EXPECT_EQ(ERROR_DISK_FULL, ErrorOf(CreateDirectoryA("C:\\patchb2c", nullptr)));
    EXPECT_FALSE(winsim::Exists("C:\\PatchB2C"));

    // Handle calls are matched by the file the handle is open on.
    winsim::InjectFault({"WriteFile", "big.dat", 1, 1, ERROR_DISK_FULL});
    HANDLE file = Open("C:\\big.dat", GENERIC_WRITE, CREATE_NEW);
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(file, "a", 1, &done, nullptr));
    EXPECT_EQ(ERROR_DISK_FULL, ErrorOf(WriteFile(file, "b", 1, &done, nullptr)));
    EXPECT_TRUE(WriteFile(file, "c", 1, &done, nullptr));
    winsim::InjectFault({"FlushFileBuffers", "big.dat", 0, 1, ERROR_WRITE_FAULT});
    EXPECT_EQ(ERROR_WRITE_FAULT, ErrorOf(FlushFileBuffers(file)));
    EXPECT_TRUE(FlushFileBuffers(file));
    EXPECT_NE(-1, winsim::FindCall("FlushFileBuffers", "big.dat"));
    CloseHandle(file);
    std::string bytes;
    ASSERT_TRUE(winsim::ReadWholeFile("C:\\big.dat", &bytes));
    EXPECT_EQ("ac", bytes);
    const int logged = winsim::FindCall("WriteFile", "BIG.DAT");
    ASSERT_NE(-1, logged);
    EXPECT_EQ("C:\\big.dat", winsim::Calls()[logged].arg);

    // Two-path calls log "source -> destination"; either side can be matched.
    winsim::InjectFault({"CopyFileA", "-> C:\\dest", 0, -1, ERROR_ACCESS_DENIED});
    EXPECT_TRUE(CopyFileA("C:\\big.dat", "C:\\other.dat", FALSE));
    EXPECT_FALSE(CopyFileA("C:\\big.dat", "C:\\DEST.dat", FALSE));
    EXPECT_FALSE(winsim::Exists("C:\\dest.dat"));
}

TEST_F(FilesTest, DiskFreeSpaceByDrive) {
    winsim::MapDrive('d', Host("d"));
    winsim::SetDiskGeometry('D', winsim::DiskGeometry{true, 1, 2048, 10, 300});
    DWORD got[4] = {};
    ASSERT_TRUE(GetDiskFreeSpaceA("d:\\", &got[0], &got[1], &got[2], &got[3]));
    EXPECT_EQ((std::vector<DWORD>{1, 2048, 10, 300}), std::vector<DWORD>(got, got + 4));
    ASSERT_TRUE(GetDiskFreeSpaceA(nullptr, &got[0], &got[1], &got[2], &got[3]));
    EXPECT_EQ((std::vector<DWORD>{8, 512, 65535, 65535}), std::vector<DWORD>(got, got + 4));

    winsim::SetPlatform(winsim::Platform::Windows95);
    EXPECT_EQ(ERROR_INVALID_DRIVE,
              ErrorOf(GetDiskFreeSpaceA("Q:\\", &got[0], &got[1], &got[2], &got[3])));
}

}  // namespace
