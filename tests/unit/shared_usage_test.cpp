// Shared file usage accounting on the sample installation: the counts, the
// maker's usage subkeys and the records queued for the shared files. The
// stage only plans; Update() makes the planned changes when it succeeds, as
// the commit would, and a refusal must leave the registry untouched.
#include <fstream>
#include <functional>
#include <iterator>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/pending_ops.h"
#include "commit/registry_plan.h"
#include "commit/shared_usage.h"
#include "manifest/manifest.h"
#include "staging/extract.h"
#include "machine_state.h"
#include "test_machine.h"
#include "test_registry.h"

namespace {



class SharedUsageTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallSample();
        CreateDirectoryA(kSamplePatchDir, nullptr);
        ASSERT_EQ(1, ExtractPayloads(kSamplePatchDir));
    }

    static int Update() {
        const int planned = UpdateSharedUsage(kSamplePatchDir, kSampleInstallDir, kSampleSharedDir);
        EXPECT_TRUE(!planned || ApplyRegistryPlan());
        return planned;
    }

    // A refusal: the stage fails and the registry is as it was.
    static void ExpectRefusedWithoutChange() {
        const std::string before = winsim::ExportRegText({"HKEY_LOCAL_MACHINE"});
        EXPECT_EQ(0, Update());
        EXPECT_EQ(before, winsim::ExportRegText({"HKEY_LOCAL_MACHINE"}));
    }

    // The queued records from the front, as "kind source [-> destination]";
    // dropped records (no source) are left out.
    static std::vector<std::string> Records() {
        std::vector<std::string> records;
        for (PendingFileOp *r = FirstPendingOp(); r != nullptr; r = r->next) {
            if (r->source[0] == '\0') continue;
            std::string text = std::string(r->kind == Replace ? "replace " : "delete ") + r->source;
            if (r->kind == Replace) text += std::string(" -> ") + r->destination;
            records.push_back(text);
        }
        return records;
    }

    static void SetCount(const std::string &name, DWORD type, const std::string &data) {
        SetRegValue(SHARED_DLLS_KEY, InSharedDir(name), type, data);
    }
    // The count as stored (its bytes), or "-" when there is none.
    static std::string Count(const std::string &name) { return RegValue(SHARED_DLLS_KEY, InSharedDir(name)); }
    static DWORD CountType(const std::string &name) {
        DWORD type;
        RegValue(SHARED_DLLS_KEY, InSharedDir(name), &type);
        return type;
    }

    static std::string UsageKey(const std::string &name) {
        const std::string text = winsim::ExportRegText({"HKEY_LOCAL_MACHINE\\" SHARED_USAGE_KEY "\\" + name});
        const size_t at = text.find('[');
        return at == std::string::npos ? "" : text.substr(at);
    }
};

// The whole sample: every shared file's record, in the list's order (the
// additions of BLOCK_SHARED_ADDED last to first, then the removals of
// BLOCK_SHARED_REMOVED), and the registry as the model of the sample
// expects it.
TEST_F(SharedUsageTest, TheSampleQueuesEveryBranchOfTheComparison) {
    ASSERT_EQ(1, Update());
    // What each shared file of the sample shows (sample/wayfront.patch).
    const std::map<std::string, std::string> added = {
        {"qmgfx32.dll", "replace"},   // absent: compared with "0"
        {"qmfont32.dll", "replace"},  // older copy: 21 beats 9
        {"qmimg32.dll", "delete"},    // same version: the payload's copy goes
        {"qmtext32.dll", "delete"},   // newer copy kept
        {"qmcomm.dll", "replace"},    {"qmlink.dll", "replace"}, {"qmport.vxd", "replace"},
        {"qmzip32.dll", "replace"},   {"qmmeter.dll", "replace"}, {"qmhelp32.dll", "replace"},
    };
    // qmlink.dll loses its last use and is added again: it stays.
    const std::set<std::string> lastUse = {"qmdraw.dll", "qmcalc.dll", "qmdlg.dll", "qmhook.dll", "qmdde.dll"};
    // The list meets BLOCK_SHARED_ADDED last entry first, then
    // BLOCK_SHARED_REMOVED likewise.
    std::vector<std::string> expected;
    for (UINT id = BLOCK_SHARED_ADDED + 10; id > BLOCK_SHARED_ADDED; --id) {
        const std::string name = ManifestString(id);
        ASSERT_EQ(1u, added.count(name)) << name;
        expected.push_back(added.at(name) == "replace"
                               ? "replace " + InPatchDir(name) + " -> " + InSharedDir(name)
                               : "delete " + InPatchDir(name));
    }
    for (UINT id = BLOCK_SHARED_REMOVED + 9; id > BLOCK_SHARED_REMOVED; --id) {
        if (lastUse.count(ManifestString(id))) expected.push_back("delete " + InSharedDir(ManifestString(id)));
    }
    EXPECT_EQ(expected, Records());

    // The registry as the sample's model of the patched machine has it.
    while (PendingFileOp *record = PopPendingOp()) FreePendingOp(record);
    const std::string ours = winsim::ExportRegText(kTouchedKeys);
    winsim::Reset(Root() + "/expected");
    std::string error;
    ASSERT_TRUE(winsim::ImportRegFile(SamplePath("after/machine.reg"), &error)) << error;
    EXPECT_EQ(winsim::ExportRegText(kTouchedKeys), ours);
}

TEST_F(SharedUsageTest, RemovalCounts) {
    struct Case {
        const char *what;
        DWORD type;
        std::string stored;
        std::string after;  // "-": deleted
        bool queued;
    };
    const Case cases[] = {
        {"3 becomes 2", REG_SZ, std::string("3\0", 2), std::string("2\0", 2), false},
        {"1 is the last use", REG_SZ, std::string("1\0", 2), "-", true},
        {"0", REG_SZ, std::string("0\0", 2), "-", true},
        {"negative", REG_SZ, std::string("-5\0", 3), "-", true},
        {"no digits", REG_SZ, std::string("many\0", 5), "-", true},
        {"ten bytes without a terminator", REG_SZ, "0000000007", std::string("6\0", 2), false},
        {"too long to read: left alone", REG_SZ, std::string("00000000007\0", 12), std::string("00000000007\0", 12),
         false},
        // Numbers as other installers store them, written back as numbers.
        {"a REG_DWORD 3", REG_DWORD, std::string("\3\0\0\0", 4), std::string("\2\0\0\0", 4), false},
        {"a REG_DWORD 1", REG_DWORD, std::string("\1\0\0\0", 4), "-", true},
        {"a REG_BINARY of four bytes", REG_BINARY, std::string("\5\0\0\0", 4), std::string("\4\0\0\0", 4), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        SetCount("qmsound.dll", c.type, c.stored);
        ASSERT_EQ(1, Update());
        EXPECT_EQ(c.after, Count("qmsound.dll"));
        if (c.after != "-") {
            EXPECT_EQ(c.type, CountType("qmsound.dll"));
        }
        const std::vector<std::string> records = Records();
        EXPECT_EQ(c.queued, std::find(records.begin(), records.end(), "delete " + InSharedDir("qmsound.dll")) !=
                                records.end());
        // The product leaves the usage subkey; the other product stays.
        const std::string usage = UsageKey("qmsound.dll");
        EXPECT_EQ(std::string::npos, usage.find("Tolvane Wayfront")) << usage;
        EXPECT_NE(std::string::npos, usage.find("Tolvane Quayside")) << usage;
    }
}

TEST_F(SharedUsageTest, AdditionCounts) {
    SetCount("qmfont32.dll", REG_SZ, std::string("9\0", 2));
    SetCount("qmimg32.dll", REG_DWORD, std::string("\x7f\0\0\0", 4));
    ASSERT_EQ(1, Update());
    EXPECT_EQ(std::string("10\0", 3), Count("qmfont32.dll"));
    EXPECT_EQ(std::string("\x80\0\0\0", 4), Count("qmimg32.dll"));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), CountType("qmimg32.dll"));
    EXPECT_EQ(std::string("1\0", 2), Count("qmgfx32.dll"));  // no count before
    // A usage subkey made now gets the shared directory as its default.
    EXPECT_NE(std::string::npos, UsageKey("qmgfx32.dll").find("@=\"C:\\\\Quenmark\\\\Shared\"")) << UsageKey("qmgfx32.dll");
    EXPECT_NE(std::string::npos,
              UsageKey("qmgfx32.dll").find("\"Tolvane Wayfront\"=\"C:\\\\Program Files\\\\Quenmark\\\\Wayfront\""));
}

// A shared file that loses its last use and is added again stays, whichever
// copy the comparison keeps: here the payload's copy is the same build.
TEST_F(SharedUsageTest, AFileDroppedAndAddedAgainIsNeverDeleted) {
    ASSERT_TRUE(winsim::WriteWholeFile(InPatchDir("qmlink.dll"), SimFile(InSharedDir("qmlink.dll"))));
    ASSERT_EQ(1, Update());
    EXPECT_EQ(std::string("1\0", 2), Count("qmlink.dll"));
    EXPECT_NE(std::string::npos, UsageKey("qmlink.dll").find("Tolvane Wayfront")) << UsageKey("qmlink.dll");
    const std::vector<std::string> records = Records();
    EXPECT_EQ(records.end(), std::find(records.begin(), records.end(), "delete " + InSharedDir("qmlink.dll")));
    EXPECT_NE(records.end(), std::find(records.begin(), records.end(), "delete " + InPatchDir("qmlink.dll")));
}

// A usage subkey goes with this product's last use only when what is left
// is its default value: another product's value keeps it.
TEST_F(SharedUsageTest, AnotherProductsValueKeepsTheUsageSubkey) {
    DeleteRegValue(SHARED_USAGE_KEY "\\qmsound.dll", "");
    ASSERT_EQ(1, Update());
    EXPECT_NE(std::string::npos, UsageKey("qmsound.dll").find("Tolvane Quayside")) << UsageKey("qmsound.dll");
    EXPECT_EQ(std::string::npos, UsageKey("qmsound.dll").find("Tolvane Wayfront")) << UsageKey("qmsound.dll");
}

// A new shared file is installed where the shared directory has no copy,
// even when its version begins with 0 and so reads like the missing copy's.
TEST_F(SharedUsageTest, ANewSharedFileIsInstalledWhereThereIsNoCopy) {
    ASSERT_TRUE(winsim::WriteWholeFile(InPatchDir("qmgfx32.dll"), HostFile(FixturePath("earlyversion.exe"))));
    ASSERT_FALSE(winsim::Exists(InSharedDir("qmgfx32.dll")));
    ASSERT_EQ(1, Update());
    const std::vector<std::string> records = Records();
    EXPECT_NE(records.end(), std::find(records.begin(), records.end(),
                                       "replace " + InPatchDir("qmgfx32.dll") + " -> " + InSharedDir("qmgfx32.dll")));
}

// Each refusal comes before any change: the registry is as it was.
TEST_F(SharedUsageTest, ARefusalChangesNothing) {
    struct Case {
        const char *what;
        std::function<void()> arrange;
    };
    const Case cases[] = {
        {"a count of a type that is no number",
         [] { SetCount("qmsound.dll", REG_MULTI_SZ, std::string("2\0\0", 3)); }},
        {"a REG_BINARY count of two bytes", [] { SetCount("qmsound.dll", REG_BINARY, std::string("\2\0", 2)); }},
        {"a usage subkey missing", [] { DeleteRegKey(SHARED_USAGE_KEY "\\qmprint.dll"); }},
        {"a payload copy without a version",
         [] {
             ASSERT_TRUE(winsim::WriteWholeFile(InPatchDir("qmgfx32.dll"), HostFile(FixturePath("noversion.exe"))));
         }},
        {"no SharedDLLs key", [] { DeleteRegKey(SHARED_DLLS_KEY); }},
        // NT: a user who may read but not change the counts.
        {"SharedDLLs not writable",
         [] { winsim::InjectFault({"RegOpenKeyExA", "SharedDLLs", 0, 1, ERROR_ACCESS_DENIED}); }},
        {"no memory for a record",
         [] { winsim::InjectFault({"HeapAlloc", std::to_string(sizeof(PendingFileOp)), 0, 1, ERROR_NOT_ENOUGH_MEMORY}); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.arrange();
        ExpectRefusedWithoutChange();
    }
}

}  // namespace
