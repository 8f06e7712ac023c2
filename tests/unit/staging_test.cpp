// Payload extraction and the staging copy, on the sample installation with
// the payload the installer carries.
#include <algorithm>
#include <cstdint>
#include <string>

#include "manifest/manifest.h"
#include "staging/extract.h"
#include "staging/stage_copy.h"
#include "test_machine.h"

namespace {



// The expanded length an SZDD header declares, or -1 for a file stored plain.
int64_t SzddLength(const std::string &bytes) {
    if (bytes.size() < 14 || bytes.compare(0, 8, std::string("SZDD\x88\xF0\x27\x33", 8)) != 0) return -1;
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[10 + i])) << (8 * i);
    return length;
}

class StagingTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallSample();
        ASSERT_TRUE(CreateDirectoryA(kSamplePatchDir, nullptr));
    }
};

TEST_F(StagingTest, TheShippedPayloadIsExpandedUnderItsNames) {
    ASSERT_EQ(1, ExtractPayloads(kSamplePatchDir));
    for (UINT k = 1; k <= 14; ++k) {
        SCOPED_TRACE(ManifestString(BLOCK_EXPANDED_NAMES + k));
        std::string resource;
        ASSERT_TRUE(winsim::GetResource(10, static_cast<WORD>(ID_PAYLOAD_BASE + k), &resource));
        const std::string expanded = SimFile(InPatchDir(ManifestString(BLOCK_EXPANDED_NAMES + k)));
        const int64_t declared = SzddLength(resource);
        if (declared < 0) {
            EXPECT_EQ(resource, expanded);  // stored plain: copied unchanged
        } else {
            EXPECT_EQ(declared, static_cast<int64_t>(expanded.size()));
        }
        EXPECT_FALSE(winsim::Exists(InPatchDir(ManifestString(BLOCK_PAYLOAD + k)))) << "stored file left";
    }
    EXPECT_EQ(-1, SzddLength(SimFile(InPatchDir("patch.rtp"))));
    EXPECT_EQ(14u, winsim::ListTree(kSamplePatchDir).size());
}

TEST_F(StagingTest, EmptyAndMissingPayloadBlocks) {
    for (const char *count : {"0 Count of files to extract", "-3", "none"}) {
        SetUp();
        winsim::SetString(BLOCK_PAYLOAD, count);
        EXPECT_EQ(1, ExtractPayloads(kSamplePatchDir)) << count;
        EXPECT_EQ(std::vector<std::string>{}, winsim::ListTree(kSamplePatchDir)) << count;
    }
    SetUp();
    winsim::RemoveString(BLOCK_PAYLOAD);
    EXPECT_EQ(0, ExtractPayloads(kSamplePatchDir));
    EXPECT_EQ(-1, winsim::FindCall("FindResourceA"));
}

// Entry 15 finds its stored name ("empty") but no resource 115.
TEST_F(StagingTest, ACountPastThePayloadFailsAtTheMissingResource) {
    winsim::SetString(BLOCK_PAYLOAD, "15 Count of files to extract");
    EXPECT_EQ(0, ExtractPayloads(kSamplePatchDir));
    EXPECT_EQ(14u, winsim::ListTree(kSamplePatchDir).size());
    EXPECT_FALSE(winsim::Exists(InPatchDir("empty")));
}

// The third payload entry: its stored name, its resource, its expanded name.
constexpr UINT kThirdStored = BLOCK_PAYLOAD + 3;
constexpr WORD kThirdResource = ID_PAYLOAD_BASE + 3;
constexpr UINT kThirdExpanded = BLOCK_EXPANDED_NAMES + 3;

// The third entry failing at each of its steps, with the patch directory
// as the current directory, as in a run: the earlier entries stay, the later
// ones are not reached, and nothing else is left but the stored file of a
// short write and the files a row put there itself. lz32 never sees an
// empty name (it would expand into "._") nor opens a stand-in under the
// compressed name.
TEST_F(StagingTest, EachFailingStepOfAnEntry) {
    struct Case {
        const char *what;
        void (*arrange)();
        bool storedLeft;  // the third entry's stored file stays
        size_t alsoLeft;  // files the row put there, or a destination a failed copy began
    };
    const Case cases[] = {
        {"stored name missing", [] { winsim::RemoveString(kThirdStored); }, false, 0},
        {"resource missing", [] { winsim::RemoveResource(10, kThirdResource); }, false, 0},
        {"resource cannot be loaded", [] { winsim::InjectFault({"LoadResource", "", 2, 1}); }, false, 0},
        {"resource cannot be locked", [] { winsim::InjectFault({"LockResource", "", 2, 1}); }, false, 0},
        {"stored file cannot be created",
         [] { winsim::InjectFault({"CreateFileA", ManifestString(kThirdStored), 0, -1, ERROR_ACCESS_DENIED}); },
         false, 0},
        {"write fails",
         [] { winsim::InjectFault({"WriteFile", ManifestString(kThirdStored), 0, -1, ERROR_DISK_FULL}); }, true, 0},
        {"stored file cannot be opened to expand",
         [] { winsim::InjectFault({"LZOpenFileA", ManifestString(kThirdStored), 0, 1, ERROR_SHARING_VIOLATION}); },
         false, 0},
        {"expanded name missing", [] { winsim::RemoveString(kThirdExpanded); }, false, 0},
        {"expanded name empty", [] { winsim::SetString(kThirdExpanded, ""); }, false, 0},
        {"expanded name too long for lz32 in any form",
         [] { winsim::SetString(kThirdExpanded, std::string(100, 'x') + ".dll"); }, false, 0},
        {"expanded file read-only",
         [] {
             const std::string path = InPatchDir(ManifestString(kThirdExpanded));
             ASSERT_TRUE(winsim::WriteWholeFile(path, "old"));
             ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
         },
         false, 1},
        {"expanded file without extension read-only: lz32 would create \"qmgfx._\"",
         [] {
             winsim::SetString(kThirdExpanded, "qmgfx");
             ASSERT_TRUE(winsim::WriteWholeFile(InPatchDir("qmgfx"), "old"));
             ASSERT_TRUE(SetFileAttributesA(InPatchDir("qmgfx").c_str(), FILE_ATTRIBUTE_READONLY));
         },
         false, 1},
        {"expansion fails", [] { winsim::InjectFault({"LZCopy", "", 2, 1, ERROR_DISK_FULL}); }, false, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        ASSERT_TRUE(SetCurrentDirectoryA(kSamplePatchDir));
        const std::string first = ManifestString(BLOCK_EXPANDED_NAMES + 1),
                          second = ManifestString(BLOCK_EXPANDED_NAMES + 2), stored = ManifestString(kThirdStored),
                          later = ManifestString(BLOCK_EXPANDED_NAMES + 4);
        c.arrange();
        EXPECT_EQ(0, ExtractPayloads(kSamplePatchDir));
        EXPECT_TRUE(winsim::Exists(InPatchDir(first)));  // earlier entries stay
        EXPECT_TRUE(winsim::Exists(InPatchDir(second)));
        EXPECT_EQ(c.storedLeft, winsim::Exists(InPatchDir(stored)));
        EXPECT_FALSE(winsim::Exists(InPatchDir(later)));  // later ones not reached
        EXPECT_EQ(2 + c.storedLeft + c.alsoLeft, winsim::ListTree(kSamplePatchDir).size());
    }
}

TEST_F(StagingTest, APlainResourceIsCopiedAndStaleFilesAreReplaced) {
    winsim::SetResource(10, kThirdResource, "not compressed at all");
    ASSERT_TRUE(winsim::WriteWholeFile(InPatchDir(ManifestString(kThirdStored)), std::string(5000, 's')));
    ASSERT_TRUE(winsim::WriteWholeFile(InPatchDir(ManifestString(kThirdExpanded)), std::string(9000, 'x')));
    EXPECT_EQ(1, ExtractPayloads(kSamplePatchDir));
    EXPECT_EQ("not compressed at all", SimFile(InPatchDir(ManifestString(kThirdExpanded))));
    EXPECT_FALSE(winsim::Exists(InPatchDir(ManifestString(kThirdStored))));
}

// ---- Staging copy -------------------------------------------------------------

TEST_F(StagingTest, TheInstalledFilesAreCopiedByteForByte) {
    const std::vector<std::string> installed = winsim::ListTree(kSampleInstallDir);
    ASSERT_TRUE(
        winsim::WriteWholeFile(InPatchDir(ManifestString(BLOCK_STAGED_FILES + 1)), "stale copy of an earlier run"));
    EXPECT_EQ(1, StageInstalledFiles(kSampleInstallDir, kSamplePatchDir));
    for (UINT k = 1; k <= 5; ++k) {
        const std::string name = ManifestString(BLOCK_STAGED_FILES + k);
        EXPECT_EQ(SimFile(InInstallDir(name)), SimFile(InPatchDir(name))) << name;
    }
    EXPECT_EQ(5u, winsim::ListTree(kSamplePatchDir).size());
    // The install directory is only read (the patch directory lies in it).
    std::vector<std::string> after = winsim::ListTree(kSampleInstallDir);
    after.erase(std::remove_if(after.begin(), after.end(),
                               [](const std::string &p) { return p.rfind(PATCH_DIRECTORY_NAME, 0) == 0; }),
                after.end());
    std::vector<std::string> before = installed;
    before.erase(std::remove_if(before.begin(), before.end(),
                                [](const std::string &p) { return p.rfind(PATCH_DIRECTORY_NAME, 0) == 0; }),
                 before.end());
    EXPECT_EQ(before, after);
}

// Read-only installed files (a CD-ROM installation) give writable copies,
// and a read-only copy left by an earlier run is overwritten: the patcher
// must be able to replace every copy.
TEST_F(StagingTest, ReadOnlyFilesGiveWritableCopies) {
    for (UINT k = 1; k <= 5; ++k)
        ASSERT_TRUE(
            SetFileAttributesA(InInstallDir(ManifestString(BLOCK_STAGED_FILES + k)).c_str(),
                               FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    const std::string leftover = InPatchDir(ManifestString(BLOCK_STAGED_FILES + 3));
    ASSERT_TRUE(winsim::WriteWholeFile(leftover, "left by an earlier run"));
    ASSERT_TRUE(SetFileAttributesA(leftover.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(1, StageInstalledFiles(kSampleInstallDir, kSamplePatchDir));
    for (UINT k = 1; k <= 5; ++k) {
        const std::string name = ManifestString(BLOCK_STAGED_FILES + k);
        EXPECT_EQ(SimFile(InInstallDir(name)), SimFile(InPatchDir(name))) << name;
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
                  GetFileAttributesA(InPatchDir(name).c_str())) << name;
    }
}

// A copy refused (another program has the leftover open; a read-only leftover
// that cannot be made writable, or a copy that cannot) stops the stage there.
TEST_F(StagingTest, ARefusedCopyStopsTheStage) {
    const std::string third = ManifestString(BLOCK_STAGED_FILES + 3);
    const winsim::Fault faults[] = {
        {"CopyFileA", third, 0, -1, ERROR_SHARING_VIOLATION},
        {"SetFileAttributesA", third, 0, -1, ERROR_ACCESS_DENIED},   // the leftover
        {"SetFileAttributesA", third, 1, -1, ERROR_ACCESS_DENIED},   // the new copy
    };
    for (const winsim::Fault &fault : faults) {
        SCOPED_TRACE(fault.function + " skip " + std::to_string(fault.skip));
        SetUp();
        if (fault.function == "SetFileAttributesA") {
            ASSERT_TRUE(winsim::WriteWholeFile(InPatchDir(third), "left by an earlier run"));
            ASSERT_TRUE(SetFileAttributesA(InPatchDir(third).c_str(), FILE_ATTRIBUTE_READONLY));
            if (fault.skip) {  // the leftover goes, the copy of a read-only file stays read-only
                ASSERT_TRUE(SetFileAttributesA(InInstallDir(third).c_str(),
                                               FILE_ATTRIBUTE_READONLY));
            }
        }
        winsim::InjectFault(fault);
        EXPECT_EQ(0, StageInstalledFiles(kSampleInstallDir, kSamplePatchDir));
        EXPECT_TRUE(winsim::Exists(InPatchDir(ManifestString(BLOCK_STAGED_FILES + 2))));
        EXPECT_FALSE(winsim::Exists(InPatchDir(ManifestString(BLOCK_STAGED_FILES + 4))));
    }
}

// A full FAT disk under Windows 95: WriteFile writes what fits and says TRUE.
// The stored payload file is then short, which fails the extraction.
TEST_F(StagingTest, AShortWriteOfAStoredFileFailsTheExtraction) {
    winsim::SetPlatform(winsim::Platform::Windows95);
    winsim::SetRoomLeft('C', 100);
    EXPECT_EQ(0, ExtractPayloads(kSamplePatchDir));
    EXPECT_EQ(1, winsim::CallCount("WriteFile"));
    EXPECT_EQ(-1, winsim::FindCall("LZOpenFileA"));
}

TEST_F(StagingTest, ACopyStopsAtTheFirstMissingFile) {
    ASSERT_TRUE(DeleteFileA(InInstallDir(ManifestString(BLOCK_STAGED_FILES + 3)).c_str()));
    EXPECT_EQ(0, StageInstalledFiles(kSampleInstallDir, kSamplePatchDir));
    EXPECT_TRUE(winsim::Exists(InPatchDir(ManifestString(BLOCK_STAGED_FILES + 1))));
    EXPECT_TRUE(winsim::Exists(InPatchDir(ManifestString(BLOCK_STAGED_FILES + 2))));
    EXPECT_FALSE(winsim::Exists(InPatchDir(ManifestString(BLOCK_STAGED_FILES + 4))));
    EXPECT_FALSE(winsim::Exists(InPatchDir(ManifestString(BLOCK_STAGED_FILES + 5))));
}

TEST_F(StagingTest, EmptyAndMissingStagingBlocks) {
    winsim::SetString(BLOCK_STAGED_FILES, "0 Count of files to copy from appdir to patch dir");
    EXPECT_EQ(1, StageInstalledFiles(kSampleInstallDir, kSamplePatchDir));
    EXPECT_EQ(-1, winsim::FindCall("CopyFileA"));
    winsim::RemoveString(BLOCK_STAGED_FILES);
    EXPECT_EQ(0, StageInstalledFiles(kSampleInstallDir, kSamplePatchDir));
    winsim::SetString(BLOCK_STAGED_FILES, "5 Count");
    winsim::RemoveString(BLOCK_STAGED_FILES + 2);
    EXPECT_EQ(0, StageInstalledFiles(kSampleInstallDir, kSamplePatchDir));
    EXPECT_EQ(1, winsim::CallCount("CopyFileA"));
}

}  // namespace
