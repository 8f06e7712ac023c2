// Delayed file operations and the restart: the bytes of
// PendingFileRenameOperations as NT writes them, the list edited by a
// program through the registry calls, what a restart does with it and with
// WININIT.INI's [Rename] section, the Windows directory, and files held
// open. Expected restart outcomes were checked with wineboot -r (Wine 8.0)
// on the same operations.
#include <cstring>
#include <string>
#include <vector>

#include "test_machine.h"

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kAbsent[] = "<absent>";

class RestartTest : public MachineTest {
protected:
    // The value's bytes with each NUL shown as "|", or kAbsent.
    static std::string PendingValue() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return kAbsent;
        char buffer[2048];
        DWORD size = sizeof buffer, type = 0;
        const LONG result = RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type,
                                             reinterpret_cast<BYTE *>(buffer), &size);
        RegCloseKey(key);
        if (result != ERROR_SUCCESS) return kAbsent;
        EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
        return Visible(std::string(buffer, size));
    }
    static std::string Visible(std::string bytes) {
        for (char &c : bytes)
            if (c == '\0') c = '|';
        return bytes;
    }
    // A file's content, or "<missing>".
    static std::string Content(const std::string &path) {
        std::string bytes;
        return winsim::ReadWholeFile(path, &bytes) ? bytes : "<missing>";
    }
    static void Make(const std::string &path, const std::string &content) {
        ASSERT_TRUE(winsim::WriteWholeFile(path, content)) << path;
    }
    // Writes the value as a program would, or deletes it for nullptr.
    static void SetPendingValue(const std::string *bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, nullptr,
                                                 0, KEY_SET_VALUE, nullptr, &key, nullptr));
        if (bytes)
            EXPECT_EQ(ERROR_SUCCESS,
                      RegSetValueExA(key, "PendingFileRenameOperations", 0, REG_MULTI_SZ,
                                     reinterpret_cast<const BYTE *>(bytes->data()),
                                     static_cast<DWORD>(bytes->size())));
        else
            EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "PendingFileRenameOperations"));
        RegCloseKey(key);
    }
    static std::string Short(const char *path) {
        char buffer[MAX_PATH];
        EXPECT_NE(0u, GetShortPathNameA(path, buffer, sizeof buffer)) << path;
        return buffer;
    }
    // The last error a call left, or -1 when it succeeded.
    static long ErrorOf(BOOL ok) { return ok ? -1 : static_cast<long>(GetLastError()); }
};

// ---- Registering for the next boot ------------------------------------------

TEST_F(RestartTest, DelayedOperationsAreRecordedAsNTRecordsThem) {
    Make("C:\\wf\\a.txt", "a");
    Make("C:\\wf\\Long Directory\\Long File.txt", "long");
    ASSERT_TRUE(CreateDirectoryA("C:\\wf\\Work", nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\wf"));
    const std::string shortName = Short("C:\\wf\\Long Directory\\Long File.txt");
    ASSERT_EQ("C:\\wf\\LONGDI~1\\LONGFI~1.TXT", shortName);
    struct Case {
        std::string from;
        const char *to;
        DWORD flags;
        std::string appended;  // the strings this call adds, each NUL shown as "|"
    } cases[] = {
        // A plain rename: both paths behind "\??\".
        {"C:\\wf\\a.txt", "C:\\wf\\b.txt", MOVEFILE_DELAY_UNTIL_REBOOT,
         "\\??\\C:\\wf\\a.txt|\\??\\C:\\wf\\b.txt|"},
        // A deletion: an empty target string; a relative name made full.
        {"a.txt", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT, "\\??\\C:\\wf\\a.txt||"},
        // Replacing: "!" before the target. The short name stays short, "."
        // and ".." go, the target need not exist and keeps the caller's case.
        {shortName, "..\\wf\\.\\B.TXT", MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING,
         "\\??\\" + shortName + "|!\\??\\C:\\wf\\B.TXT|"},
        // A directory, to go at the boot: recorded as a file is, a closing
        // separator kept.
        {"Work\\", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT, "\\??\\C:\\wf\\Work\\||"},
    };
    std::string expected;
    for (const Case &c : cases) {
        SetLastError(0xDEAD);
        ASSERT_TRUE(MoveFileExA(c.from.c_str(), c.to, c.flags))
            << c.from << " error " << GetLastError();
        expected += c.appended;
        // The list always ends with one more NUL than its last string.
        EXPECT_EQ(expected + "|", PendingValue()) << "after " << c.from;
    }
}

TEST_F(RestartTest, DelayedOperationRefusals) {
    Make("C:\\wf\\a.txt", "a");
    struct Case {
        const char *what;
        winsim::Platform platform;
        const char *from;
        const char *to;
        DWORD flags;
        long error;
    } cases[] = {
        {"Windows 95 has no MoveFileExA", winsim::Platform::Windows95, "C:\\wf\\a.txt",
         "C:\\wf\\b.txt", MOVEFILE_DELAY_UNTIL_REBOOT, ERROR_CALL_NOT_IMPLEMENTED},
        {"missing source", winsim::Platform::WindowsNT, "C:\\wf\\gone.txt", nullptr,
         MOVEFILE_DELAY_UNTIL_REBOOT, ERROR_FILE_NOT_FOUND},
        {"missing directory", winsim::Platform::WindowsNT, "C:\\nodir\\a.txt", "C:\\b.txt",
         MOVEFILE_DELAY_UNTIL_REBOOT, ERROR_PATH_NOT_FOUND},
        {"copying cannot wait for a boot", winsim::Platform::WindowsNT, "C:\\wf\\a.txt",
         "C:\\b.txt", MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED,
         ERROR_INVALID_PARAMETER},
        {"no source", winsim::Platform::WindowsNT, nullptr, "C:\\b.txt",
         MOVEFILE_DELAY_UNTIL_REBOOT, ERROR_INVALID_PARAMETER},
    };
    for (const Case &c : cases) {
        winsim::SetPlatform(c.platform);
        SetLastError(0xDEAD);
        EXPECT_EQ(c.error, ErrorOf(MoveFileExA(c.from, c.to, c.flags))) << c.what;
    }
    EXPECT_EQ(kAbsent, PendingValue());
}

// The installer takes its own pairs out of the list with RegQueryValueExA
// and writes the rest back with RegSetValueExA (or deletes the value);
// MoveFileExA then appends to what the program wrote, and the boot reads
// it. What each way of writing it back leads to, as under Wine.
TEST_F(RestartTest, ListEditedThroughTheRegistryCalls) {
    const std::string a = "\\??\\C:\\r\\a1|\\??\\C:\\r\\a2|";
    const std::string c = "\\??\\C:\\r\\c1|\\??\\C:\\r\\c2|";
    const std::string kept = std::string("\\??\\C:\\r\\a1\0\\??\\C:\\r\\a2\0", 24);
    struct Case {
        const char *what;
        std::string writtenBack;  // "<delete>": the value deleted
        std::string after;        // the value once c1 -> c2 is added
        std::vector<std::string> boot;
    } cases[] = {
        {"the kept pair and the list's closing NUL", kept + '\0', a + c + "|",
         {"rename C:\\r\\a1 -> C:\\r\\a2: done", "rename C:\\r\\c1 -> C:\\r\\c2: done"}},
        {"nothing kept: the value deleted", "<delete>", c + "|",
         {"rename C:\\r\\c1 -> C:\\r\\c2: done"}},
        {"nothing kept: an empty list", std::string(1, '\0'), c + "|",
         {"rename C:\\r\\c1 -> C:\\r\\c2: done"}},
        // Without its closing NUL the kept target runs into the new source.
        {"the kept pair without the closing NUL", kept,
         "\\??\\C:\\r\\a1|\\??\\C:\\r\\a2\\??\\C:\\r\\c1|\\??\\C:\\r\\c2||",
         {"rename C:\\r\\a1 -> C:\\r\\a2\\??\\C:\\r\\c1: failed, bad path",
          "delete C:\\r\\c2: nothing to delete"}},
        // No bytes at all: Wine drops the new source's first character.
        {"an empty value", std::string(), "??\\C:\\r\\c1|" + c.substr(c.find('|') + 1) + "|",
         {"rename ??\\C:\\r\\c1 -> C:\\r\\c2: failed, bad path"}},
    };
    const DWORD delay = MOVEFILE_DELAY_UNTIL_REBOOT;
    for (const Case &k : cases) {
        SetUp();
        for (const char *file : {"C:\\r\\a1", "C:\\r\\b1", "C:\\r\\c1"}) Make(file, file);
        ASSERT_TRUE(MoveFileExA("C:\\r\\a1", "C:\\r\\a2", delay));
        ASSERT_TRUE(MoveFileExA("C:\\r\\b1", nullptr, delay));
        ASSERT_EQ(a + "\\??\\C:\\r\\b1|||", PendingValue());
        SetPendingValue(k.writtenBack == "<delete>" ? nullptr : &k.writtenBack);
        ASSERT_TRUE(MoveFileExA("C:\\r\\c1", "C:\\r\\c2", delay)) << k.what;
        EXPECT_EQ(k.after, PendingValue()) << k.what;

        winsim::Restart();
        std::vector<std::string> boot = k.boot;
        boot.push_back("PendingFileRenameOperations: deleted");
        EXPECT_EQ(boot, winsim::RestartLog()) << k.what;
        EXPECT_EQ("C:\\r\\b1", Content("C:\\r\\b1")) << k.what;  // its pair was taken out
    }

    // Written back without the closing NUL and not added to: the boot
    // leaves the value alone, and nothing happens.
    SetUp();
    Make("C:\\r\\a1", "a");
    SetPendingValue(&kept);
    winsim::Restart();
    EXPECT_EQ(std::vector<std::string>{"PendingFileRenameOperations: not ended by two NULs, left as it is"},
              winsim::RestartLog());
    EXPECT_EQ(a, PendingValue());
    EXPECT_EQ("a", Content("C:\\r\\a1"));
}

// ---- Files in use ---------------------------------------------------------

TEST_F(RestartTest, HeldFilesCannotBeDeletedOrMovedUntilReleased) {
    struct Case {
        const char *call;
        BOOL (*run)();
    } cases[] = {
        {"DeleteFileA", [] { return DeleteFileA("C:\\busy.dll"); }},
        {"MoveFileA", [] { return MoveFileA("C:\\busy.dll", "C:\\moved.dll"); }},
        {"MoveFileExA", [] { return MoveFileExA("C:\\busy.dll", "C:\\moved.dll", 0); }},
        {"MoveFileExA onto it",
         [] { return MoveFileExA("C:\\other.dll", "C:\\busy.dll", MOVEFILE_REPLACE_EXISTING); }},
    };
    for (const Case &c : cases) {
        Make("C:\\busy.dll", "busy");
        Make("C:\\other.dll", "other");
        DeleteFileA("C:\\moved.dll");
        winsim::HeldFile held = winsim::HoldOpen("C:\\busy.dll");
        ASSERT_TRUE(held.Held());
        EXPECT_EQ(long{ERROR_SHARING_VIOLATION}, ErrorOf(c.run())) << c.call;
        EXPECT_EQ("busy", Content("C:\\busy.dll")) << c.call;
        held.Release();
        EXPECT_EQ(-1L, ErrorOf(c.run())) << c.call << " after release";
    }
    EXPECT_FALSE(winsim::HoldOpen("C:\\missing.dll").Held());
}

// ---- Restart on Windows NT --------------------------------------------------

TEST_F(RestartTest, NTReplacesAnExistingFileOnlyWhenTheTargetHasABang) {
    Make("C:\\app\\one.dlX", "new one");
    Make("C:\\app\\one.dll", "old one");
    Make("C:\\app\\two.dlX", "new two");
    Make("C:\\app\\two.dll", "old two");
    Make("C:\\app\\three.dlX", "new three");  // its target does not exist
    Make("C:\\app\\patch.exe", "patcher");
    Make("C:\\app\\gone.tmp", "");
    // Windows 95's file means nothing to NT.
    Make("C:\\WINDOWS\\WININIT.INI", "[Rename]\r\nNUL=C:\\app\\one.dll\r\n");
    winsim::HeldFile held = winsim::HoldOpen("C:\\app\\patch.exe");
    ASSERT_FALSE(DeleteFileA("C:\\app\\patch.exe"));

    const DWORD delay = MOVEFILE_DELAY_UNTIL_REBOOT;
    ASSERT_TRUE(
        MoveFileExA("C:\\app\\one.dlX", "C:\\app\\one.dll", delay | MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(MoveFileExA("C:\\app\\two.dlX", "C:\\app\\two.dll", delay));
    ASSERT_TRUE(MoveFileExA("C:\\app\\three.dlX", "C:\\app\\three.dll", delay));
    ASSERT_TRUE(MoveFileExA("C:\\app\\patch.exe", nullptr, delay));
    ASSERT_TRUE(MoveFileExA("C:\\app\\gone.tmp", nullptr, delay));
    ASSERT_TRUE(DeleteFileA("C:\\app\\gone.tmp"));  // gone before the boot

    winsim::Restart();
    struct Expect {
        const char *path;
        const char *content;
    } files[] = {
        {"C:\\app\\one.dll", "new one"},     // "!": replaced
        {"C:\\app\\one.dlX", "<missing>"},
        {"C:\\app\\two.dll", "old two"},     // no "!": the old file stays ...
        {"C:\\app\\two.dlX", "new two"},     // ... and so does the new one
        {"C:\\app\\three.dll", "new three"},
        {"C:\\app\\patch.exe", "<missing>"},  // the restart closed it first
        {"C:\\WINDOWS\\WININIT.INI", "[Rename]\r\nNUL=C:\\app\\one.dll\r\n"},
    };
    for (const Expect &f : files) EXPECT_EQ(f.content, Content(f.path)) << f.path;
    EXPECT_FALSE(held.Held());
    EXPECT_EQ(kAbsent, PendingValue());
    const std::vector<std::string> expectedLog = {
        "rename C:\\app\\one.dlX -> C:\\app\\one.dll (replace): done",
        "rename C:\\app\\two.dlX -> C:\\app\\two.dll: failed, target exists",
        "rename C:\\app\\three.dlX -> C:\\app\\three.dll: done",
        "delete C:\\app\\patch.exe: done",
        "delete C:\\app\\gone.tmp: nothing to delete",
        "PendingFileRenameOperations: deleted",
    };
    EXPECT_EQ(expectedLog, winsim::RestartLog());

    // A second boot has nothing left to do.
    winsim::Restart();
    EXPECT_EQ(std::vector<std::string>{"PendingFileRenameOperations: none"}, winsim::RestartLog());
}

// ---- Restart on Windows 95 ---------------------------------------------------

TEST_F(RestartTest, Windows95CarriesOutTheRenameSectionInOrder) {
    winsim::SetPlatform(winsim::Platform::Windows95);
    const char kInstall[] = "C:\\Program Files\\Quenmark\\Wayfront\\";
    Make(std::string(kInstall) + "wayfront.exe", "old exe");
    Make(std::string(kInstall) + "wayfronX.exe", "new exe");
    Make(std::string(kInstall) + "PatchB2C\\patch.exe", "patcher");
    Make("C:\\Other\\first.new", "first");
    Make("C:\\Other\\second.new", "second");
    Make("C:\\WINDOWS\\WININIT.BAK", "an older boot's file");
    // Windows 95 has no such value; a restart leaves it alone.
    ASSERT_TRUE(winsim::ImportRegText(std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\") +
                                      kSessionManager +
                                      "]\n\"PendingFileRenameOperations\"=hex(7):61,00,00\n"));
    const std::string ini =
        "[Other]\r\nkeep=1\r\n[rename]\r\n"
        "NUL=" + Short("C:\\Program Files\\Quenmark\\Wayfront\\PatchB2C\\patch.exe") + "\r\n" +
        Short("C:\\Program Files\\Quenmark\\Wayfront\\wayfront.exe") + "=" +
        Short("C:\\Program Files\\Quenmark\\Wayfront\\wayfronX.exe") + "\r\n"
        // Another program's lines, with long names: the later one wins.
        "C:\\Other\\Target File.dll=C:\\Other\\first.new\r\n"
        "C:\\Other\\Target File.dll=C:\\Other\\second.new\r\n"
        "NUL=C:\\Other\\never there.tmp\r\n";
    Make("C:\\WINDOWS\\WININIT.INI", ini);

    winsim::Restart();
    struct Expect {
        std::string path;
        const char *content;
    } files[] = {
        {std::string(kInstall) + "wayfront.exe", "new exe"},
        {std::string(kInstall) + "wayfronX.exe", "<missing>"},
        {std::string(kInstall) + "PatchB2C\\patch.exe", "<missing>"},
        {"C:\\Other\\Target File.dll", "second"},
        {"C:\\Other\\first.new", "<missing>"},
        {"C:\\WINDOWS\\WININIT.INI", "<missing>"},
    };
    for (const Expect &f : files) EXPECT_EQ(f.content, Content(f.path)) << f.path;
    EXPECT_EQ(ini, Content("C:\\WINDOWS\\WININIT.BAK"));
    EXPECT_EQ("a||", PendingValue());
    const std::vector<std::string> &log = winsim::RestartLog();
    ASSERT_EQ(6u, log.size());
    EXPECT_EQ("delete C:\\Other\\never there.tmp: nothing to delete", log[4]);
    EXPECT_EQ("WININIT.INI -> WININIT.BAK: done", log[5]);

    // Without WININIT.INI a boot does nothing.
    winsim::Restart();
    EXPECT_EQ(std::vector<std::string>{"WININIT.INI: none"}, winsim::RestartLog());

    // Nor with a [Rename] section that holds no lines (comments are none):
    // the file stays as it is, as under wineboot -r.
    const std::string emptied = "[Rename]\r\n; a note\r\n[Other]\r\nk=v\r\n";
    Make("C:\\WINDOWS\\WININIT.INI", emptied);
    winsim::Restart();
    EXPECT_EQ(std::vector<std::string>{"WININIT.INI: no [Rename] lines, left as it is"},
              winsim::RestartLog());
    EXPECT_EQ(emptied, Content("C:\\WINDOWS\\WININIT.INI"));
    EXPECT_EQ(ini, Content("C:\\WINDOWS\\WININIT.BAK"));
}

// ---- Deletions at the restart -------------------------------------------------

// The installer leaves its emptied work directory to be deleted at the next
// boot: on NT through the list, on Windows 95 by a "NUL=" line. Under
// wineboot -r (Wine 8.0) the list removes an empty directory and WININIT.INI
// removes none; neither removes a read-only file.
TEST_F(RestartTest, WhatEachBootDeletes) {
    const winsim::Platform nt = winsim::Platform::WindowsNT, w95 = winsim::Platform::Windows95;
    struct Case {
        winsim::Platform platform;
        const char *what;
        const char *path;
        const char *content;  // nullptr: a directory
        const char *inside;   // a file in the directory, or nullptr
        DWORD attributes;
        const char *outcome;
    } cases[] = {
        {nt, "an empty directory", "C:\\wf\\Patch Work", nullptr, nullptr, 0, "done"},
        {nt, "a directory holding a file", "C:\\wf\\Patch Work", nullptr, "left.tmp", 0,
         "failed, directory not empty"},
        {nt, "a read-only file", "C:\\wf\\old.dll", "old", nullptr, FILE_ATTRIBUTE_READONLY,
         "failed, read-only"},
        {w95, "an empty directory", "C:\\wf\\Patch Work", nullptr, nullptr, 0,
         "failed, a directory"},
        {w95, "a directory holding a file", "C:\\wf\\Patch Work", nullptr, "left.tmp", 0,
         "failed, a directory"},
        {w95, "a read-only file", "C:\\wf\\old.dll", "old", nullptr, FILE_ATTRIBUTE_READONLY,
         "failed, read-only"},
    };
    for (const Case &c : cases) {
        SetUp();
        winsim::SetPlatform(c.platform);
        const std::string what = std::string(c.platform == nt ? "NT: " : "95: ") + c.what;
        if (c.content) {
            Make(c.path, c.content);
        } else {
            Make(std::string(c.path) + "\\x", "");
            ASSERT_TRUE(DeleteFileA((std::string(c.path) + "\\x").c_str()));
            if (c.inside) Make(std::string(c.path) + "\\" + c.inside, "left");
        }
        if (c.attributes) {
            ASSERT_TRUE(SetFileAttributesA(c.path, c.attributes));
        }
        std::string registered = c.path;
        if (c.platform == nt) {
            ASSERT_TRUE(MoveFileExA(c.path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) << what;
        } else {
            registered = Short(c.path);
            const std::string line = "NUL=" + registered + '\0';
            ASSERT_TRUE(WritePrivateProfileSectionA("Rename", line.c_str(), "WININIT.INI"));
        }
        winsim::Restart();
        ASSERT_FALSE(winsim::RestartLog().empty()) << what;
        EXPECT_EQ("delete " + registered + ": " + c.outcome, winsim::RestartLog()[0]) << what;
        EXPECT_EQ(std::string(c.outcome) != "done", winsim::Exists(c.path)) << what;
    }
}

// ---- The Windows directory ----------------------------------------------------

TEST_F(RestartTest, GetWindowsDirectoryBufferSizes) {
    struct Case {
        const char *directory;  // nullptr: the default
        UINT size;
        UINT result;
        const char *buffer;     // what the buffer holds afterwards
    } cases[] = {
        {nullptr, MAX_PATH, 10, "C:\\WINDOWS"},
        {nullptr, 11, 10, "C:\\WINDOWS"},
        {nullptr, 10, 11, "canary"},  // no room for the terminator: size needed
        {nullptr, 0, 11, "canary"},
        {"C:\\WINNT", MAX_PATH, 8, "C:\\WINNT"},
    };
    EXPECT_EQ(11u, GetWindowsDirectoryA(nullptr, 0));
    for (const Case &c : cases) {
        SetUp();
        if (c.directory) winsim::SetWindowsDirectory(c.directory);
        char buffer[MAX_PATH] = "canary";
        EXPECT_EQ(c.result, GetWindowsDirectoryA(buffer, c.size)) << c.size;
        EXPECT_STREQ(c.buffer, buffer) << c.size;
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY),
                  GetFileAttributesA(c.directory ? c.directory : "C:\\WINDOWS"));
    }
}

}  // namespace
