// The installation probe on the sample installation and variants of it:
// every refusal shows exactly one box of its own, without an owner, and
// the probe changes nothing on the machine.
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "install_check/probe.h"
#include "manifest/manifest.h"
#include "test_machine.h"
#include "test_registry.h"

namespace {

// The UTF-16 form of an ASCII text, as it stands in a version resource.
std::string Utf16(const std::string &text) {
    std::string wide;
    for (char c : text) {
        wide.push_back(c);
        wide.push_back('\0');
    }
    return wide;
}

class ProbeTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallSample();
    }

    int Probe() {
        installDir_[0] = sharedDir_[0] = '#';
        return ProbeInstallation(installDir_, sizeof installDir_, sharedDir_, sizeof sharedDir_);
    }

    // The version-check file with one UTF-16 text of its version resource
    // replaced by another of the same length.
    static void PatchVersionFile(const std::string &from, const std::string &to) {
        std::string bytes;
        ASSERT_TRUE(winsim::ReadWholeFile(kSampleVersionFile, &bytes));
        const size_t at = bytes.find(Utf16(from));
        ASSERT_NE(std::string::npos, at) << from;
        bytes.replace(at, 2 * from.size(), Utf16(to));
        ASSERT_TRUE(winsim::WriteWholeFile(kSampleVersionFile, bytes));
    }

    // Exactly one box, the probe's own: caption STR_CAPTION, OK, no owner.
    static void ExpectOneRefusal(const std::string &text) {
        const std::vector<winsim::UiEvent> boxes = winsim::MessageBoxes();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(text, boxes[0].text);
        EXPECT_EQ("Tolvane Wayfront Patch", boxes[0].caption);
        EXPECT_EQ(nullptr, boxes[0].window);
        EXPECT_EQ(static_cast<UINT>(MB_OK), boxes[0].type);
    }

    char installDir_[261];
    char sharedDir_[261];
};

TEST_F(ProbeTest, TheSampleInstallationPasses) {
    const std::string registry = winsim::ExportRegText({"HKEY_LOCAL_MACHINE"});
    const std::vector<std::string> files = winsim::ListTree("C:\\");
    EXPECT_EQ(1, Probe());
    EXPECT_STREQ(kSampleInstallDir, installDir_);
    EXPECT_STREQ(kSampleSharedDir, sharedDir_);
    EXPECT_EQ(0u, winsim::MessageBoxes().size());
    // The probe only looks.
    EXPECT_EQ(registry, winsim::ExportRegText({"HKEY_LOCAL_MACHINE"}));
    EXPECT_EQ(files, winsim::ListTree("C:\\"));
    EXPECT_EQ(0u, winsim::GetHeapStats().liveBytes);
}

TEST_F(ProbeTest, MissingBuffersFailWithoutABox) {
    char canary[4] = "abc";
    EXPECT_EQ(0, ProbeInstallation(nullptr, 261, sharedDir_, 261));
    EXPECT_EQ(0, ProbeInstallation(canary, 0, sharedDir_, 261));
    EXPECT_EQ(0, ProbeInstallation(canary, 261, nullptr, 261));
    EXPECT_EQ(0, ProbeInstallation(canary, 261, canary, 0));
    EXPECT_STREQ("abc", canary);
    EXPECT_EQ(0u, winsim::MessageBoxes().size());
    EXPECT_EQ(-1, winsim::FindCall("RegOpenKeyExA"));
}

// Everything that leaves a directory empty ends in MSG_NOT_INSTALLED.
TEST_F(ProbeTest, AnInstallationThatCannotBeFoundIsMessage219) {
    struct Case {
        const char *what;
        void (*change)();
    };
    const Case cases[] = {
        {"no install directory value", [] { DeleteRegValue(INSTALLED_APPS_KEY, "Tolvane Wayfront"); }},
        {"no shared directory value", [] { DeleteRegValue(SHARED_USAGE_KEY, "Location1"); }},
        {"empty install directory", [] { SetRegText(INSTALLED_APPS_KEY, "Tolvane Wayfront", ""); }},
        {"install directory of another type",
         [] { SetRegValue(INSTALLED_APPS_KEY, "Tolvane Wayfront", REG_EXPAND_SZ, std::string("C:\\Wayfront\0", 12)); }},
        {"shared directory as a number",
         [] { SetRegValue(SHARED_USAGE_KEY, "Location1", REG_DWORD, std::string("\1\0\0\0", 4)); }},
        {"install directory too long for the buffer",
         [] { SetRegValue(INSTALLED_APPS_KEY, "Tolvane Wayfront", REG_SZ, "C:\\" + std::string(300, 'w') + '\0'); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.change();
        EXPECT_EQ(0, Probe());
        ExpectOneRefusal(ManifestString(MSG_NOT_INSTALLED));
        EXPECT_LT(std::strlen(installDir_), sizeof installDir_);
        EXPECT_LT(std::strlen(sharedDir_), sizeof sharedDir_);
    }
}

TEST_F(ProbeTest, BothKeysAreReadEvenWhenTheFirstIsMissing) {
    DeleteRegKey(INSTALLED_APPS_KEY);
    EXPECT_EQ(0, Probe());
    EXPECT_NE(-1, winsim::FindCall("RegQueryValueExA", "Location1"));
    EXPECT_STREQ(kSampleSharedDir, sharedDir_);
    ExpectOneRefusal(ManifestString(MSG_NOT_INSTALLED));
}

// A value stored without its terminator, and one of exactly 260 bytes, still
// end inside the buffer.
TEST_F(ProbeTest, DirectoryValuesWithoutTerminatorEndInTheBuffer) {
    SetRegValue(INSTALLED_APPS_KEY, "Tolvane Wayfront", REG_SZ, kSampleInstallDir);
    EXPECT_EQ(1, Probe());
    EXPECT_STREQ(kSampleInstallDir, installDir_);

    SetUp();
    const std::string longest = "C:\\" + std::string(257, 's');  // 260 bytes, no terminator
    SetRegValue(SHARED_USAGE_KEY, "Location1", REG_SZ, longest);
    EXPECT_EQ(1, Probe());
    EXPECT_EQ(longest, std::string(sharedDir_));
}

TEST_F(ProbeTest, AManifestWithoutItsVersionStringsIsMessage216) {
    for (UINT missing : {STR_VERSION_FILE, STR_EXPECTED_VERSION}) {
        SCOPED_TRACE(missing);
        SetUp();
        winsim::RemoveString(missing);
        EXPECT_EQ(0, Probe());
        ExpectOneRefusal(ManifestString(MSG_CORRUPT_PATCH));
    }
}

// MSG_UNKNOWN_VERSION for every version-check file without a readable product
// version: missing, no version resource, no translation, a translation that
// names another language than its strings are stored under, an empty product
// version, a version read that fails, and a path too long to build.
TEST_F(ProbeTest, AFileWithoutAProductVersionIsMessage218) {
    struct Case {
        const char *what;
        const char *fixture;  // replaces the version-check file; null: delete it
        winsim::Fault fault;  // no function: none
    };
    const char *const sample = "versioned.exe";
    const Case cases[] = {
        {"file missing", nullptr, {}},
        {"no version resource", "noversion.exe", {}},
        {"no translation", "notranslation.exe", {}},
        {"translation names another language", "mismatched.dll", {}},
        {"empty product version", "emptyproduct.exe", {}},
        {"the version block cannot be read", sample, {"GetFileVersionInfoA", "wayfront.exe", 0, 1}},
        {"the translation cannot be queried", sample, {"VerQueryValueA", "Translation", 0, 1}},
        {"the product version cannot be queried", sample, {"VerQueryValueA", "ProductVersion", 0, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.fixture) {
            ASSERT_TRUE(winsim::WriteWholeFile(kSampleVersionFile, HostFile(FixturePath(c.fixture))));
        } else {
            ASSERT_TRUE(DeleteFileA(kSampleVersionFile));
        }
        if (!c.fault.function.empty()) winsim::InjectFault(c.fault);
        EXPECT_EQ(0, Probe());
        ExpectOneRefusal(ManifestString(MSG_UNKNOWN_VERSION));
        EXPECT_EQ(0u, winsim::GetHeapStats().liveBytes);
    }

    SetUp();
    SetRegValue(INSTALLED_APPS_KEY, "Tolvane Wayfront", REG_SZ, "C:\\" + std::string(250, 'w') + '\0');
    EXPECT_EQ(0, Probe());
    ExpectOneRefusal(ManifestString(MSG_UNKNOWN_VERSION));
    EXPECT_EQ(-1, winsim::FindCall("GetFileVersionInfoSizeA"));
}

TEST_F(ProbeTest, ANoMemoryVersionReadIsMessage218) {
    winsim::InjectFault({"HeapAlloc", "", 0, -1, ERROR_NOT_ENOUGH_MEMORY});
    EXPECT_EQ(0, Probe());
    ExpectOneRefusal(ManifestString(MSG_UNKNOWN_VERSION));
}

TEST_F(ProbeTest, AnotherVersionIsMessage200NamingBoth) {
    PatchVersionFile("VERSION 95.0.b", "VERSION 95.0.a");
    EXPECT_EQ(0, Probe());
    ExpectOneRefusal(
        "Incorrect version of Tolvane Wayfront installed ( VERSION 95.0.a ).  "
        "This patch can only be applied to VERSION 95.0.b.");
}

TEST_F(ProbeTest, VersionsCompareWithoutRegardToCaseOnly) {
    winsim::SetString(STR_EXPECTED_VERSION, "version 95.0.B");
    EXPECT_EQ(1, Probe());
    EXPECT_EQ(0u, winsim::MessageBoxes().size());

    SetUp();
    winsim::SetString(STR_EXPECTED_VERSION, "VERSION 95.0.b ");
    EXPECT_EQ(0, Probe());
    ExpectOneRefusal(
        "Incorrect version of Tolvane Wayfront installed ( VERSION 95.0.b ).  "
        "This patch can only be applied to VERSION 95.0.b .");
}

// A filled-in message longer than the 511 characters it may have is cut,
// never written past its buffer.
TEST_F(ProbeTest, AnOverlongWrongVersionMessageIsCutTo511Characters) {
    const std::string expected(127, 'E');
    winsim::SetString(STR_EXPECTED_VERSION, expected);
    winsim::SetString(MSG_WRONG_VERSION, std::string(400, '.') + " ( %s ) %s");
    EXPECT_EQ(0, Probe());
    const std::vector<winsim::UiEvent> boxes = winsim::MessageBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(511u, boxes[0].text.size());
    EXPECT_EQ(std::string(400, '.') + " ( VERSION 95.0.b ) " + std::string(91, 'E'), boxes[0].text);
}

TEST_F(ProbeTest, AChangedVersionCheckFileIsMessage217) {
    std::string bytes;
    ASSERT_TRUE(winsim::ReadWholeFile(kSampleVersionFile, &bytes));
    ASSERT_TRUE(winsim::WriteWholeFile(kSampleVersionFile, bytes + '!'));
    EXPECT_EQ(0, Probe());
    ExpectOneRefusal(ManifestString(MSG_NOT_ENGLISH));

    // The expected value is read as 32 unsigned bits: one more is another.
    SetUp();
    winsim::SetString(STR_EXPECTED_CHECKSUM, "1281953887 Checksum");
    EXPECT_EQ(0, Probe());
    ExpectOneRefusal(ManifestString(MSG_NOT_ENGLISH));
}

// A new file waiting under the replacement name ("...X") is the marker
// ("...x") to a file system that ignores case; so is a directory.
TEST_F(ProbeTest, AWaitingReplacementIsMessage220) {
    for (bool directory : {false, true}) {
        SCOPED_TRACE(directory ? "directory" : "file");
        SetUp();
        const std::string marker = InInstallDir("wayfront.exX");
        if (directory) {
            ASSERT_TRUE(CreateDirectoryA(marker.c_str(), nullptr));
        } else {
            ASSERT_TRUE(winsim::WriteWholeFile(marker, "new"));
        }
        EXPECT_EQ(0, Probe());
        ExpectOneRefusal(ManifestString(MSG_RESTART_PENDING));
        EXPECT_NE(-1, winsim::FindCall("GetFileAttributesA", "wayfront.exx"));
    }
}

// Without an expected checksum the version alone proves the installation;
// a patch waiting for the restart is refused all the same.
TEST_F(ProbeTest, WithoutAnExpectedChecksumTheVersionAloneDecides) {
    winsim::RemoveString(STR_EXPECTED_CHECKSUM);
    std::string bytes;
    ASSERT_TRUE(winsim::ReadWholeFile(kSampleVersionFile, &bytes));
    ASSERT_TRUE(winsim::WriteWholeFile(kSampleVersionFile, bytes + '!'));
    EXPECT_EQ(1, Probe());
    EXPECT_EQ(0u, winsim::MessageBoxes().size());
    ASSERT_TRUE(winsim::WriteWholeFile(InInstallDir("wayfront.exx"), "marker"));
    EXPECT_EQ(0, Probe());
    ExpectOneRefusal(ManifestString(MSG_RESTART_PENDING));
}

// A journal left by a run cut off before its commit point is undone before
// the marker is looked for: the replacement it placed (the marker among
// them) and the counts it changed go back, and the probe goes on. What
// cannot be undone keeps the journal and refuses with MSG_SCHEDULE_FAILED.
TEST_F(ProbeTest, ARunCutOffBeforeItsCommitIsUndoneFirst) {
    const std::string patchDir = kSamplePatchDir;
    const std::string marker = InInstallDir("wayfront.exX");
    const std::string journal = patchDir + "\\COMMIT.JNL";
    const std::string count = InSharedDir("qmsound.dll");
    for (bool undoFails : {false, true}) {
        SCOPED_TRACE(undoFails ? "the marker cannot be deleted" : "all undone");
        SetUp();
        ASSERT_TRUE(CreateDirectoryA(patchDir.c_str(), nullptr));
        ASSERT_TRUE(winsim::WriteWholeFile(marker, "new"));
        SetRegText(SHARED_DLLS_KEY, count, "1");
        // The value was "2" (REG_SZ, "32 00") before the cut-off run; the
        // last line was cut off while it was written and is not read.
        ASSERT_TRUE(winsim::WriteWholeFile(journal, "WFJ1\r\nV\t1\t1\t3200\t" SHARED_DLLS_KEY "\t" + count +
                                                        "\r\nF\t" + marker + "\r\nF\tC:\\cut"));
        if (undoFails) winsim::InjectFault({"DeleteFileA", "wayfront.exX"});
        EXPECT_EQ(undoFails ? 0 : 1, Probe());
        if (undoFails) {
            ExpectOneRefusal(ManifestString(MSG_SCHEDULE_FAILED));
            EXPECT_TRUE(winsim::Exists(journal));
            EXPECT_TRUE(winsim::Exists(marker));
        } else {
            EXPECT_EQ(0u, winsim::MessageBoxes().size());
            EXPECT_FALSE(winsim::Exists(journal));
            EXPECT_FALSE(winsim::Exists(marker));
            EXPECT_EQ(std::string("2\0", 2), RegValue(SHARED_DLLS_KEY, count));
        }
        winsim::ClearFaults();
    }
}

}  // namespace
