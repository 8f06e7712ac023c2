// The patcher's work on a winsim machine: patch.rtp and the files to patch
// in C:\WFPATCH, the current directory, as the installer leaves them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "delta_io.h"
#include "patch_apply.h"
#include "patch_data.h"
#include "patch_data_writer.h"
#include "patch_fixture.h"
#include "test_machine.h"

namespace {

const char kDir[] = "C:\\WFPATCH";

// A new build of `old`: bytes changed, a stretch inserted, one removed.
std::string NewBuildOf(const std::string &old, unsigned seed) {
    std::string changed = old;
    for (size_t i = seed % 97; i < changed.size(); i += 997) changed[i] ^= 0x5A;
    changed.insert(changed.size() / 3, SampleBytes(seed + 100, 300));
    changed.erase(changed.size() / 2, 200);
    return changed;
}

// Three files as the sample's: one larger than the patcher's read buffer
// many times over, one smaller after the patch, one tiny.
std::vector<FilePair> ThreeFiles() {
    std::vector<FilePair> files;
    const std::string core = SampleBytes(1, 150000);
    files.push_back({"wfcore.dll", core, NewBuildOf(core, 1)});
    const std::string view = SampleBytes(2, 9000);
    files.push_back({"wfview.dll", view, view.substr(0, 5000) + "95.0.C"});
    files.push_back({"wfnet.dll", "tide tables 95.0.b", "tide tables 95.0.C and more"});
    return files;
}

void Collect(LPCSTR line, void *context) {
    static_cast<std::vector<std::string> *>(context)->push_back(line);
}

std::string Join(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines) text += "  [" + line + "]\n";
    return text;
}

class PatchApplyTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        ASSERT_TRUE(CreateDirectoryA(kDir, nullptr));
        ASSERT_TRUE(SetCurrentDirectoryA(kDir));
    }
    static std::string PathOf(const std::string &name) { return std::string(kDir) + "\\" + name; }
    static void Put(const std::string &name, const std::string &bytes) {
        ASSERT_TRUE(winsim::WriteWholeFile(PathOf(name), bytes)) << name;
    }
    static std::string Get(const std::string &name) {
        std::string bytes;
        return winsim::ReadWholeFile(PathOf(name), &bytes) ? bytes : "<missing>";
    }
    // patch.rtp for `files` with deltas of `kind`, and their old versions in place.
    void Prepare(const std::vector<FilePair> &files, int kind = PATCH_DELTA_VCDIFF) {
        files_ = files;
        Put("patch.rtp", BuildPatchData(files, kind));
        for (const FilePair &f : files) Put(f.name, f.oldBytes);
    }
    int Run() {
        lines_.clear();
        return ApplyPatchData("patch.rtp", Collect, &lines_);
    }
    // Every file of the patch directory, sorted.
    static std::vector<std::string> Listing() { return winsim::ListTree(kDir); }
    std::vector<std::string> ExpectedListing() const {
        std::vector<std::string> names = {"patch.rtp"};
        for (const FilePair &f : files_) names.push_back(f.name);
        std::sort(names.begin(), names.end());
        return names;
    }
    // The line of the entry for `name`.
    std::string LineOf(const std::string &name) const {
        for (const std::string &line : lines_)
            if (line.compare(0, name.size() + 2, name + ": ") == 0) return line;
        return "<no line for " + name + ">";
    }
    void ExpectOld(const FilePair &f) const {
        EXPECT_TRUE(Get(f.name) == f.oldBytes) << f.name << " is not its old version";
    }
    void ExpectNew(const FilePair &f) const {
        EXPECT_TRUE(Get(f.name) == f.newBytes) << f.name << " is not its new version";
    }
    static int CallsSince(size_t mark, const std::string &function) {
        const std::vector<winsim::Call> &calls = winsim::Calls();
        return static_cast<int>(std::count_if(calls.begin() + static_cast<long>(mark), calls.end(),
                                              [&](const winsim::Call &c) { return c.function == function; }));
    }

    std::vector<FilePair> files_;
    std::vector<std::string> lines_;
};

// ---- Applying -------------------------------------------------------------

TEST_F(PatchApplyTest, AGoodPatchMakesEveryFileItsNewVersion) {
    Prepare(ThreeFiles());
    const winsim::HeapStats before = winsim::GetHeapStats();
    EXPECT_EQ(PATCH_EXIT_OK, Run()) << Join(lines_);
    EXPECT_EQ((std::vector<std::string>{"wfcore.dll: patched", "wfview.dll: patched", "wfnet.dll: patched"}),
              lines_);
    for (const FilePair &f : files_) ExpectNew(f);
    EXPECT_EQ(ExpectedListing(), Listing()) << "a temporary file was left behind";
    const winsim::HeapStats after = winsim::GetHeapStats();
    EXPECT_EQ(after.allocations - before.allocations, after.frees - before.frees) << "heap blocks leaked";
}

// A file three windows long: the patcher holds its read buffers and one
// window of the new file, never the files themselves (which would take
// six times as much here).
TEST_F(PatchApplyTest, TheHeapHoldsOneWindowWhateverTheFileSize) {
    const std::string old = SampleBytes(21, 3 * DELTA_WINDOW_MAX);
    Prepare({{"wfatlas.dat", old, NewBuildOf(old, 21)}});
    const winsim::HeapStats before = winsim::GetHeapStats();
    EXPECT_EQ(PATCH_EXIT_OK, Run()) << Join(lines_);
    ExpectNew(files_[0]);
    const std::uint64_t peak = winsim::GetHeapStats().peakBytes - before.liveBytes;
    EXPECT_LE(peak, DELTA_WINDOW_MAX + DELTA_READ_BUFFERS + 4096u);
}

// A VCDIFF window may copy from the new file's earlier windows, which the
// patcher no longer holds: it reads them back from the temporary file
// through the handle it writes with (a failure of that first read of the
// temporary file is the decoder's, not the final check's). Hand-made:
// "abcd", then a window over those four bytes that copies eight,
// overlapping its own output.
TEST_F(PatchApplyTest, AWindowFromEarlierWindowsReadsTheNewFileBack) {
    const std::vector<std::uint8_t> delta = {
        0xD6, 0xC3, 0xC4, 0x00, 0x00,                                  // header
        0x00, 10, 4, 0x00, 4, 1, 0, 'a', 'b', 'c', 'd', 5,              // ADD "abcd"
        0x02, 4, 0, 8, 8, 0x00, 0, 2, 1, 19, 8, 0,                      // COPY 8 from 0
    };
    patchbuild::PatchDataFile file;
    file.name = "wfcore.dll";
    file.oldBytes = {'o', 'l', 'd'};
    const std::string newBytes = "abcdabcdabcd";
    file.newBytes.assign(newBytes.begin(), newBytes.end());
    file.delta = delta;
    std::string data, error;
    ASSERT_TRUE(patchbuild::EncodePatchData({file}, &data, &error)) << error;
    files_ = {{"wfcore.dll", "old", newBytes}};
    Put("patch.rtp", data);
    struct Case {
        const char *what;
        int readBackFails;  // -1: none
        int exitCode;
        const char *line;
    } cases[] = {
        {"read back", -1, PATCH_EXIT_OK, "wfcore.dll: patched"},
        {"the read back fails", 0, PATCH_EXIT_FAILED, "wfcore.dll: cannot read (error 30)"},
    };
    for (const Case &c : cases) {
        Put("wfcore.dll", "old");
        winsim::ClearFaults();
        if (c.readBackFails >= 0) winsim::InjectFault({"ReadFile", "wfcore.dl~", c.readBackFails, 1, ERROR_READ_FAULT});
        EXPECT_EQ(c.exitCode, Run()) << c.what << "\n" << Join(lines_);
        EXPECT_EQ(c.line, LineOf("wfcore.dll")) << c.what;
        EXPECT_EQ(c.exitCode == PATCH_EXIT_OK ? newBytes : "old", Get("wfcore.dll")) << c.what;
        EXPECT_EQ(ExpectedListing(), Listing()) << c.what;
    }
}

TEST_F(PatchApplyTest, ARerunLeavesPatchedFilesAlone) {
    Prepare(ThreeFiles());
    ASSERT_EQ(PATCH_EXIT_OK, Run()) << Join(lines_);
    const size_t mark = winsim::Calls().size();
    EXPECT_EQ(PATCH_EXIT_OK, Run()) << Join(lines_);
    EXPECT_EQ((std::vector<std::string>{"wfcore.dll: already up to date", "wfview.dll: already up to date",
                                         "wfnet.dll: already up to date"}),
              lines_);
    for (const FilePair &f : files_) ExpectNew(f);
    for (const char *call : {"WriteFile", "DeleteFileA", "MoveFileA"})
        EXPECT_EQ(0, CallsSince(mark, call)) << call << " on a rerun";
}

// ---- Files that are not the old version ------------------------------------

TEST_F(PatchApplyTest, AnOldFileThatDoesNotMatchIsLeftUntouched) {
    struct Case {
        const char *what;
        std::string (*change)(const std::string &);
    } cases[] = {
        {"a byte changed", [](const std::string &s) { std::string t = s; t[t.size() / 2] ^= 1; return t; }},
        {"a byte appended", [](const std::string &s) { return s + "!"; }},
        {"the last byte gone", [](const std::string &s) { return s.substr(0, s.size() - 1); }},
        {"empty", [](const std::string &) { return std::string(); }},
    };
    for (const Case &c : cases) {
        SetUp();
        Prepare(ThreeFiles());
        FilePair &view = files_[1];
        view.oldBytes = c.change(view.oldBytes);
        Put(view.name, view.oldBytes);
        EXPECT_EQ(PATCH_EXIT_FAILED, Run()) << c.what << "\n" << Join(lines_);
        EXPECT_EQ(0u, LineOf("wfview.dll").find("wfview.dll: not the version this patch is for ("))
            << c.what << ": " << LineOf("wfview.dll");
        ExpectOld(view);
        EXPECT_EQ(-1, winsim::FindCall("CreateFileA", "wfview.dl~")) << c.what << ": temporary file made";
        // The others are patched all the same.
        ExpectNew(files_[0]);
        ExpectNew(files_[2]);
        EXPECT_EQ(ExpectedListing(), Listing()) << c.what;
    }
}

TEST_F(PatchApplyTest, AMissingFileFailsItsEntryOnly) {
    Prepare(ThreeFiles());
    ASSERT_TRUE(DeleteFileA("wfcore.dll"));
    EXPECT_EQ(PATCH_EXIT_FAILED, Run()) << Join(lines_);
    EXPECT_EQ("wfcore.dll: not found", LineOf("wfcore.dll"));
    EXPECT_FALSE(winsim::Exists(PathOf("wfcore.dll")));
    EXPECT_FALSE(winsim::Exists(PathOf("wfcore.dl~")));
    ExpectNew(files_[1]);
    ExpectNew(files_[2]);
}

// ---- Failures while writing ----------------------------------------------

// Whatever fails while the new file is made, the old one stays as it was
// and no temporary file is left.
TEST_F(PatchApplyTest, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    struct Case {
        const char *what;
        winsim::Fault fault;
        const char *line;  // the start of wfcore.dll's line
    } cases[] = {
        {"disk full", {"WriteFile", "wfcore.dl~", 0, -1, ERROR_DISK_FULL},
         "wfcore.dll: cannot write wfcore.dl~ (error 112)"},
        {"temporary file refused", {"CreateFileA", "wfcore.dl~", 0, -1, ERROR_ACCESS_DENIED},
         "wfcore.dll: cannot write wfcore.dl~ (error 5)"},
        {"read-back fails", {"ReadFile", "wfcore.dl~", 0, -1, ERROR_READ_FAULT},
         "wfcore.dll: the written file wfcore.dl~ does not check"},
        {"old file cannot go", {"DeleteFileA", "wfcore.dll", 0, -1, ERROR_SHARING_VIOLATION},
         "wfcore.dll: cannot replace the old file (error 32)"},
        {"no memory for the new file", {"HeapAlloc", "", 0, -1, 0}, "wfcore.dll: not enough memory"},
        // The first two reads take its CRC-32; the decoder's come after.
        {"old file unreadable while decoding", {"ReadFile", "wfcore.dll", 2, -1, ERROR_READ_FAULT},
         "wfcore.dll: cannot read (error 30)"},
        {"delta unreadable", {"ReadFile", "patch.rtp", 0, 1, ERROR_READ_FAULT},
         "wfcore.dll: cannot read (error 30)"},
    };
    // The reads of patch.rtp before wfcore.dll's delta: the checks', and
    // its entry's own.
    Prepare(ThreeFiles());
    ASSERT_EQ(PATCH_EXIT_OK, Run());
    const std::vector<winsim::Call> &calls = winsim::Calls();
    const auto temporary = std::find_if(calls.begin(), calls.end(), [](const winsim::Call &call) {
        return call.function == "CreateFileA" && call.arg.find("wfcore.dl~") != std::string::npos;
    });
    const int readsBeforeTheDelta = static_cast<int>(std::count_if(calls.begin(), temporary, [](const winsim::Call &call) {
        return call.function == "ReadFile" && call.arg.find("patch.rtp") != std::string::npos;
    }));
    cases[6].fault.skip = readsBeforeTheDelta;
    for (Case &c : cases) {
        SetUp();
        Prepare(ThreeFiles());
        if (c.fault.function == "HeapAlloc") c.fault.argContains = std::to_string(files_[0].newBytes.size());
        winsim::InjectFault(c.fault);
        EXPECT_EQ(PATCH_EXIT_FAILED, Run()) << c.what << "\n" << Join(lines_);
        EXPECT_EQ(c.line, LineOf("wfcore.dll")) << c.what;
        ExpectOld(files_[0]);
        EXPECT_EQ(ExpectedListing(), Listing()) << c.what << ": partial file left";
        ExpectNew(files_[1]);
        // Once the fault is gone, a rerun finishes the job.
        winsim::ClearFaults();
        EXPECT_EQ(PATCH_EXIT_OK, Run()) << c.what << "\n" << Join(lines_);
        ExpectNew(files_[0]);
    }
}

// The one failure that leaves the old name empty: the rename after the
// delete. The checked new file waits under the temporary name, and the
// next run puts it in place.
TEST_F(PatchApplyTest, AFailedRenameIsFinishedByTheNextRun) {
    Prepare(ThreeFiles());
    winsim::InjectFault({"MoveFileA", "wfcore.dl~", 0, -1, ERROR_ACCESS_DENIED});
    EXPECT_EQ(PATCH_EXIT_FAILED, Run()) << Join(lines_);
    EXPECT_EQ("wfcore.dll: cannot rename wfcore.dl~ (error 5)", LineOf("wfcore.dll"));
    EXPECT_FALSE(winsim::Exists(PathOf("wfcore.dll")));
    EXPECT_TRUE(Get("wfcore.dl~") == files_[0].newBytes) << "the temporary file is not the new version";
    winsim::ClearFaults();
    EXPECT_EQ(PATCH_EXIT_OK, Run()) << Join(lines_);
    EXPECT_EQ("wfcore.dll: patched (finished an interrupted replacement)", LineOf("wfcore.dll"));
    ExpectNew(files_[0]);
    EXPECT_EQ(ExpectedListing(), Listing());
}

// What a run stopped at any point can leave beside a file, and what the
// next run makes of it.
TEST_F(PatchApplyTest, LeftoversOfAStoppedRun) {
    struct Case {
        const char *what;
        bool oldPresent;      // wfcore.dll as its old version; else missing
        int temporary;        // wfcore.dl~: 0 none, 1 the new version, 2 half of it, 3 the old version
        int exitCode;
        const char *line;
    } cases[] = {
        {"stopped between delete and rename", false, 1, PATCH_EXIT_OK,
         "wfcore.dll: patched (finished an interrupted replacement)"},
        {"stopped while writing, then the old file lost", false, 2, PATCH_EXIT_FAILED, "wfcore.dll: not found"},
        {"a stray copy of the old file", false, 3, PATCH_EXIT_FAILED, "wfcore.dll: not found"},
        {"stopped while writing", true, 2, PATCH_EXIT_OK, "wfcore.dll: patched"},
        {"stopped after writing, before the delete", true, 1, PATCH_EXIT_OK, "wfcore.dll: patched"},
    };
    for (const Case &c : cases) {
        SetUp();
        Prepare(ThreeFiles());
        const FilePair &core = files_[0];
        if (!c.oldPresent) {
            ASSERT_TRUE(DeleteFileA("wfcore.dll"));
        }
        const std::string temporary[] = {"", core.newBytes, core.newBytes.substr(0, core.newBytes.size() / 2),
                                         core.oldBytes};
        if (c.temporary) Put("wfcore.dl~", temporary[c.temporary]);
        EXPECT_EQ(c.exitCode, Run()) << c.what << "\n" << Join(lines_);
        EXPECT_EQ(c.line, LineOf("wfcore.dll")) << c.what;
        EXPECT_FALSE(winsim::Exists(PathOf("wfcore.dl~"))) << c.what << ": temporary file left";
        if (c.exitCode == PATCH_EXIT_OK) {
            ExpectNew(core);
        }
    }
}

TEST_F(PatchApplyTest, AStrayTemporaryFileBesideANewFileIsRemoved) {
    Prepare(ThreeFiles());
    ASSERT_EQ(PATCH_EXIT_OK, Run());
    Put("wfnet.dl~", "half a file");
    EXPECT_EQ(PATCH_EXIT_OK, Run()) << Join(lines_);
    EXPECT_EQ("wfnet.dll: already up to date", LineOf("wfnet.dll"));
    EXPECT_EQ(ExpectedListing(), Listing());
}

// ---- Damaged patch data ---------------------------------------------------

// Patch data that cannot be read whole is refused before any file is
// touched.
TEST_F(PatchApplyTest, DamagedPatchDataIsRefusedBeforeAnyFileIsTouched) {
    Prepare(ThreeFiles());
    const std::string good = Get("patch.rtp");
    const size_t entry = PATCH_HEADER_SIZE;
    struct Case {
        const char *what;
        std::string data;
        const char *line;
    } cases[] = {
        {"cut in the middle", good.substr(0, good.size() / 2),
         "patch.rtp: damaged patch data: CRC-32 does not match"},
        {"cut in the middle, resealed", good.substr(0, good.size() / 2),
         "patch.rtp: damaged patch data: an entry runs past the end"},
        {"delta length past the end", good, "patch.rtp: damaged patch data: an entry runs past the end"},
        {"count past the entries", good, "patch.rtp: damaged patch data: an entry runs past the end"},
        {"not patch data", "MZ\x90 a program, not patch data",
         "patch.rtp: damaged patch data: not patch data"},
        {"empty", "", "patch.rtp: damaged patch data: shorter than its header"},
    };
    cases[1].data = good.substr(0, good.size() / 2);
    Reseal(&cases[1].data);
    cases[2].data[entry + PATCH_ENTRY_DELTA_SIZE + 3] = '\x7F';
    Reseal(&cases[2].data);
    cases[3].data[PATCH_HEADER_COUNT] = 4;
    Reseal(&cases[3].data);
    for (const Case &c : cases) {
        Put("patch.rtp", c.data);
        const size_t mark = winsim::Calls().size();
        EXPECT_EQ(PATCH_EXIT_BAD_DATA, Run()) << c.what;
        EXPECT_EQ(std::vector<std::string>{c.line}, lines_) << c.what;
        EXPECT_EQ(1, CallsSince(mark, "CreateFileA")) << c.what << ": opened more than patch.rtp";
        for (const FilePair &f : files_) ExpectOld(f);
    }
}

TEST_F(PatchApplyTest, MissingPatchData) {
    EXPECT_EQ(PATCH_EXIT_BAD_DATA, Run());
    EXPECT_EQ(std::vector<std::string>{"patch.rtp: cannot read the patch data (error 2)"}, lines_);
}

// An entry whose new CRC-32 is wrong, in data that is otherwise sound: the
// new file is decoded to its temporary name, found wrong and removed, and
// the old file is never touched.
TEST_F(PatchApplyTest, AWrongNewFileIsRemovedAndTheOldOneKept) {
    Prepare(ThreeFiles());
    std::string data = Get("patch.rtp");
    data[PATCH_HEADER_SIZE + PATCH_ENTRY_NEW_CRC] ^= 1;
    Reseal(&data);
    Put("patch.rtp", data);
    EXPECT_EQ(PATCH_EXIT_FAILED, Run()) << Join(lines_);
    EXPECT_EQ(0u, LineOf("wfcore.dll").find("wfcore.dll: the patched file does not check ("))
        << LineOf("wfcore.dll");
    EXPECT_EQ(-1, winsim::FindCall("DeleteFileA", "wfcore.dll"));
    ExpectOld(files_[0]);
    EXPECT_EQ(ExpectedListing(), Listing()) << "the temporary file was left";
}

// Every single-byte change of a delta of either kind, in sealed data: the
// file ends either as it was or as its new version, never anything else,
// and the exit code says which.
TEST_F(PatchApplyTest, ADamagedDeltaNeverLeavesAWrongFile) {
    for (int kind : {PATCH_DELTA_VCDIFF, PATCH_DELTA_DIFFERENCE}) {
        SCOPED_TRACE("kind " + std::to_string(kind));
        const std::string old = SampleBytes(7, 3000);
        const std::vector<FilePair> files = {{"wfprint.dll", old, NewBuildOf(old, 7)}};
        Prepare(files, kind);
        const std::string good = Get("patch.rtp");
        ASSERT_EQ(PATCH_EXIT_OK, Run()) << Join(lines_);
        ExpectNew(files[0]);
        const size_t deltaStart = PATCH_HEADER_SIZE + PATCH_ENTRY_FIXED_SIZE + files[0].name.size();
        for (size_t at = deltaStart; at < good.size(); ++at) {
            std::string data = good;
            data[at] ^= 0x21;
            Reseal(&data);
            Put("patch.rtp", data);
            Put("wfprint.dll", old);
            const int exitCode = Run();
            const std::string now = Get("wfprint.dll");
            if (exitCode == PATCH_EXIT_OK) {
                EXPECT_TRUE(now == files[0].newBytes) << "byte " << at << ": exit 0 with a wrong file";
            } else {
                EXPECT_EQ(PATCH_EXIT_FAILED, exitCode) << "byte " << at;
                EXPECT_TRUE(now == old) << "byte " << at << ": " << Join(lines_);
            }
            ASSERT_EQ(ExpectedListing(), Listing()) << "byte " << at;
        }
    }
}

TEST(PatchTemporaryNameTest, TheLastCharacterBecomesATilde) {
    struct Case {
        const char *name;
        int capacity;
        bool ok;
        const char *temporary;
    } cases[] = {
        {"wfcore.dll", MAX_PATH, true, "wfcore.dl~"},
        {"a", MAX_PATH, true, "~"},
        {"abc", 4, true, "ab~"},  // exactly fits
        {"abcd", 4, false, ""},
        {"", MAX_PATH, false, ""},
    };
    for (const Case &c : cases) {
        char buffer[MAX_PATH] = "";
        EXPECT_EQ(c.ok ? TRUE : FALSE, PatchTemporaryName(c.name, buffer, c.capacity)) << c.name;
        if (c.ok) {
            EXPECT_STREQ(c.temporary, buffer) << c.name;
        }
    }
}

}  // namespace
