// The pending-operation list, the viewer dialog description and the
// version comparison.
#include <string>
#include <vector>

#include "common/pending_ops.h"
#include "commit/shared_usage.h"
#include "commit/viewer_dialog.h"
#include "common/windows_version.h"
#include "test_machine.h"
#include "test_registry.h"

namespace {

class PendingOpsTest : public MachineTest {};

TEST_F(PendingOpsTest, LastPushedComesFirst) {
    ASSERT_EQ(1, PushPendingOp("C:\\first", "C:\\first.dst", Replace));
    ASSERT_EQ(1, PushPendingOp("C:\\second", "C:\\ignored", Delete));
    ASSERT_EQ(1, PushPendingOp("C:\\third", "C:\\third.dst", Replace));

    std::vector<std::string> walked;
    for (PendingFileOp *r = FirstPendingOp(); r != nullptr; r = r->next) walked.push_back(r->source);
    EXPECT_EQ((std::vector<std::string>{"C:\\third", "C:\\second", "C:\\first"}), walked);

    std::vector<std::string> popped;
    while (PendingFileOp *record = PopPendingOp()) {
        popped.push_back(std::string(record->source) + "|" + record->destination + "|" +
                         std::to_string(record->kind));
        FreePendingOp(record);
    }
    // A Delete record has no destination.
    EXPECT_EQ((std::vector<std::string>{"C:\\third|C:\\third.dst|0", "C:\\second||1", "C:\\first|C:\\first.dst|0"}),
              popped);
    EXPECT_EQ(nullptr, PopPendingOp());
    EXPECT_EQ(0u, winsim::GetHeapStats().liveBytes);
}

TEST_F(PendingOpsTest, AFailedPushLeavesTheListAsItWas) {
    ASSERT_EQ(1, PushPendingOp("C:\\kept", nullptr, Delete));
    winsim::InjectFault({"HeapAlloc", "", 0, 1, ERROR_NOT_ENOUGH_MEMORY});
    EXPECT_EQ(0, PushPendingOp("C:\\lost", nullptr, Delete));
    // A path longer than a record holds is refused the same way.
    EXPECT_EQ(0, PushPendingOp(("C:\\" + std::string(257, 'p')).c_str(), nullptr, Delete));
    EXPECT_EQ(0, PushPendingOp("C:\\x", ("C:\\" + std::string(257, 'p')).c_str(), Replace));
    ASSERT_NE(nullptr, FirstPendingOp());
    EXPECT_STREQ("C:\\kept", FirstPendingOp()->source);
    EXPECT_EQ(nullptr, FirstPendingOp()->next);
}

// ---- Viewer dialog --------------------------------------------------------------

const char kViewerKey[] = "Software\\Quenmark\\Wayfront\\Snapdesk\\Dialogs\\Quick View Plus 4.0";

class ViewerDialogTest : public MachineTest {};

const char kViewerExport[] =
    "[HKEY_CURRENT_USER\\Software\\Quenmark\\Wayfront\\Snapdesk\\Dialogs\\Quick View Plus 4.0]\n"
    "\"DriveNameCtrlId\"=dword:00000471\n"
    "\"FileNameCtrlId\"=dword:00000480\n"
    "\"FolderNameCtrlId\"=dword:00000440\n"
    "\"OwnerClassName\"=\"OIWin95Frame\"\n"
    "\"WindowClassName\"=\"#32770\"\n";

std::string ViewerKeyExport() {
    const std::string text =
        winsim::ExportRegText({std::string("HKEY_CURRENT_USER\\") + kViewerKey});
    const size_t at = text.find("[HKEY");
    return at == std::string::npos ? "" : text.substr(at);
}

TEST_F(ViewerDialogTest, FirstRunAndRerunWriteTheSameFiveValues) {
    EXPECT_EQ(1, RegisterViewerDialog());
    EXPECT_EQ(std::string(kViewerExport) + "\n", ViewerKeyExport());
    EXPECT_EQ(1, RegisterViewerDialog());
    EXPECT_EQ(std::string(kViewerExport) + "\n", ViewerKeyExport());
    // Strings are stored with their terminator.
    DWORD type = REG_NONE;
    EXPECT_EQ(std::string("OIWin95Frame\0", 13), RegValue(kViewerKey, "OwnerClassName", &type, HKEY_CURRENT_USER));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
}

TEST_F(ViewerDialogTest, AValueOfTheWrongTypeIsReplacedAndOthersKept) {
    CreateRegKey(kViewerKey, HKEY_CURRENT_USER);
    SetRegText(kViewerKey, "DriveNameCtrlId", "cmb2", HKEY_CURRENT_USER);
    SetRegText(kViewerKey, "Unrelated", "keep", HKEY_CURRENT_USER);
    EXPECT_EQ(1, RegisterViewerDialog());
    const std::string text = ViewerKeyExport();
    EXPECT_NE(std::string::npos, text.find("\"DriveNameCtrlId\"=dword:00000471")) << text;
    EXPECT_NE(std::string::npos, text.find("\"Unrelated\"=\"keep\"")) << text;
}

TEST_F(ViewerDialogTest, ARefusedWriteStopsTheRestAndClosesTheKey) {
    winsim::InjectFault({"RegSetValueExA", "WindowClassName"});
    EXPECT_EQ(0, RegisterViewerDialog());
    const std::string text = ViewerKeyExport();
    EXPECT_NE(std::string::npos, text.find("OwnerClassName")) << text;
    EXPECT_EQ(std::string::npos, text.find("CtrlId")) << text;
    EXPECT_EQ(1, winsim::CallCount("RegCloseKey"));

    winsim::InjectFault({"RegCreateKeyExA", ""});
    EXPECT_EQ(0, RegisterViewerDialog());
}

// ---- Version comparison ----------------------------------------------------------

TEST(CompareVersions, NumbersCompareByValue) {
    struct Case {
        const char *first, *second;
        int sign;
    };
    const Case cases[] = {
        {"4.0.0.21", "4.0.0.9", 1},
        {"4.0.0.9", "4.0.0.21", -1},
        {"4.00", "4.0", 0},
        {"1.2", "1.2.3", 0},            // stops where either ends
        {"1, 5, 0, 0", "1.5.0.0", 0},   // any non-digits separate
        {"", "1.0", 0},
        {"1.0", "", 0},
        {"v2.1", "1.9", -1},            // a leading letter reads as 0 first
        {"3.0.0.21", "0", 1},           // a missing copy counts as "0"
        {"2147483647", "-1", 1},        // would overflow in 32 bits
        {"-2147483648", "1", -1},
        {"4294967295", "0", -1},        // all bits set reads as -1
    };
    for (const Case &c : cases) {
        const LONG result = CompareVersions(c.first, c.second);
        const int sign = result > 0 ? 1 : (result < 0 ? -1 : 0);
        EXPECT_EQ(c.sign, sign) << c.first << " vs " << c.second << " gave " << result;
    }
    EXPECT_EQ(12, CompareVersions("4.0.0.21", "4.0.0.9"));
    EXPECT_EQ(0, CompareVersions(nullptr, "1"));
}

// ---- Which Windows ----------------------------------------------------------------

class WindowsVersionTest : public MachineTest {};

// Each call asks the platform; a failed query takes the Windows 95 path.
TEST_F(WindowsVersionTest, EachCallAsksThePlatform) {
    winsim::SetPlatform(winsim::Platform::Windows95);
    EXPECT_FALSE(IsWindowsNT());
    winsim::SetPlatform(winsim::Platform::WindowsNT);
    EXPECT_TRUE(IsWindowsNT());
    winsim::InjectFault({"GetVersionExA", ""});
    EXPECT_FALSE(IsWindowsNT());
}

}  // namespace
