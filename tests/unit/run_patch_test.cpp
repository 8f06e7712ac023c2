// The driver: the order of the stages, the message of the first failure, the
// progress dialog and its status line, clean-up and the restart question.
// The stages are stand-ins (stage_stubs.cpp) that the tests script.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/progress.h"
#include "app/run_patch.h"
#include "manifest/manifest.h"
#include "stage_stubs.h"
#include "test_machine.h"

namespace {

using winsim::UiEvent;

const char kInstallDir[] = "C:\\Wayfront";
const char kPatchDir[] = "C:\\Wayfront\\" PATCH_DIRECTORY_NAME;

// An install directory "C:\www..." whose patch directory path is `length`
// characters long.
std::string InstallDirWithPatchDirOf(size_t length) {
    return "C:\\" + std::string(length - 3 - 1 - std::strlen(PATCH_DIRECTORY_NAME), 'w');
}

const std::vector<std::string> kAllStages = {"probe", "free space", "extract", "stage", "patcher",
                                             "shared usage", "schedule", "commit", "viewer dialog"};

class RunPatchTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        Stages() = StageScript();
        ASSERT_TRUE(CreateDirectoryA(kInstallDir, nullptr));
    }

    int Run(const std::vector<int> &answers) {
        winsim::QueueAnswers(answers);
        return RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0);
    }

    static std::vector<UINT> BoxIds() {
        std::vector<UINT> ids;
        for (const UiEvent &box : winsim::MessageBoxes()) {
            UINT found = 0;
            for (UINT id = MSG_WRONG_VERSION; id <= MSG_RESTART_PENDING; ++id)
                if (box.text == ManifestString(id)) found = id;
            ids.push_back(found);
        }
        return ids;
    }

    static std::vector<std::string> StatusTexts() {
        std::vector<std::string> texts;
        for (const UiEvent &event : winsim::UiEvents())
            if (event.kind == UiEvent::SetItemText && event.item == IDC_STATUS) texts.push_back(event.text);
        return texts;
    }

    static int EventIndex(UiEvent::Kind kind) {
        const std::vector<UiEvent> &events = winsim::UiEvents();
        for (size_t i = 0; i < events.size(); ++i)
            if (events[i].kind == kind) return static_cast<int>(i);
        return -1;
    }

    static int LastEventIndex(UiEvent::Kind kind) {
        const std::vector<UiEvent> &events = winsim::UiEvents();
        for (size_t i = events.size(); i-- > 0;)
            if (events[i].kind == kind) return static_cast<int>(i);
        return -1;
    }

    static HWND ProgressDialog() {
        for (const UiEvent &event : winsim::UiEvents())
            if (event.kind == UiEvent::CreateDialog) return event.window;
        return nullptr;
    }

    static std::string CurrentDirectory() {
        char current[MAX_PATH + 1];
        GetCurrentDirectoryA(sizeof current, current);
        return current;
    }
};

// Nothing may happen before the user has said Yes.
TEST_F(RunPatchTest, ProbeFailureShowsOnlyTheProbesMessage) {
    Stages().probeMessage = MSG_NOT_INSTALLED;
    EXPECT_EQ(0, Run({}));
    EXPECT_EQ(std::vector<UINT>{MSG_NOT_INSTALLED}, BoxIds());
    EXPECT_EQ(std::vector<std::string>{"probe"}, Stages().order);
    EXPECT_EQ(-1, EventIndex(UiEvent::CreateDialog));
    EXPECT_EQ(std::vector<std::string>{}, winsim::ListTree(kInstallDir));
}

TEST_F(RunPatchTest, AnythingButYesToTheConfirmationChangesNothing) {
    for (int answer : {IDNO, IDCANCEL, 0}) {
        SCOPED_TRACE(answer);
        SetUp();
        EXPECT_EQ(0, Run({answer}));
        const std::vector<UiEvent> boxes = winsim::MessageBoxes();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(ManifestString(MSG_CONFIRM), boxes[0].text);
        EXPECT_EQ("Tolvane Wayfront Patch", boxes[0].caption);
        EXPECT_EQ(static_cast<UINT>(MB_YESNO), boxes[0].type);
        EXPECT_EQ(nullptr, boxes[0].window);
        EXPECT_EQ(std::vector<std::string>{"probe"}, Stages().order);
        EXPECT_EQ(-1, EventIndex(UiEvent::CreateDialog));
        EXPECT_EQ(-1, winsim::FindCall("CreateDirectoryA", PATCH_DIRECTORY_NAME));
        EXPECT_EQ(std::vector<std::string>{}, winsim::ListTree(kInstallDir));
    }
}

TEST_F(RunPatchTest, GoodRunAnsweredNoLeavesWindowsRunning) {
    EXPECT_EQ(0, Run({IDYES, IDNO}));
    EXPECT_EQ(kAllStages, Stages().order);
    EXPECT_EQ((std::vector<UINT>{MSG_CONFIRM, MSG_RESTART_QUESTION}), BoxIds());
    const UiEvent question = winsim::MessageBoxes()[1];
    EXPECT_EQ(ProgressDialog(), question.window);
    EXPECT_NE(nullptr, question.window);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO), question.type);
    EXPECT_EQ((std::vector<std::string>{ManifestString(STATUS_DISK_SPACE), ManifestString(STATUS_EXTRACTING),
                                        ManifestString(STATUS_COPYING), ManifestString(STATUS_PATCHING),
                                        ManifestString(STATUS_REGISTRY)}),
              StatusTexts());
    // Each status is painted as it is set, before its stage keeps the
    // thread busy: none is only set and replaced unseen.
    EXPECT_EQ(StatusTexts(), PaintedStatusTexts());
    // What the stages were given.
    EXPECT_EQ(REQUIRED_FREE_BYTES, Stages().requiredBytes);
    EXPECT_EQ(5u * 1024 * 1024, Stages().requiredBytes);
    EXPECT_EQ(kPatchDir, Stages().patchDirSeen);
    EXPECT_EQ(kPatchDir, Stages().currentDirAtPatcher);
    EXPECT_EQ(static_cast<UINT>(STR_PATCHER_PROGRAM), Stages().programId);
    EXPECT_EQ(static_cast<UINT>(STR_PATCHER_ARGUMENT), Stages().parameterId);
    // Clean-up: back in the install directory, the empty patch directory
    // gone, the dialog destroyed, no restart.
    EXPECT_EQ(kInstallDir, CurrentDirectory());
    EXPECT_FALSE(winsim::Exists(kPatchDir));
    EXPECT_EQ(0, winsim::LiveDialogCount());
    EXPECT_EQ(-1, EventIndex(UiEvent::ExitWindows));
    EXPECT_EQ(-1, winsim::FindCall("ExitWindowsEx"));
}

TEST_F(RunPatchTest, YesRestartsWindowsAfterTheDialogIsGone) {
    for (winsim::Platform platform : {winsim::Platform::WindowsNT, winsim::Platform::Windows95}) {
        const bool nt = platform == winsim::Platform::WindowsNT;
        SCOPED_TRACE(nt ? "NT" : "95");
        SetUp();
        winsim::SetPlatform(platform);
        EXPECT_EQ(0, Run({IDYES, IDYES}));
        const int destroyed = EventIndex(UiEvent::DestroyDialog);
        const int restart = EventIndex(UiEvent::ExitWindows);
        ASSERT_NE(-1, restart) << "Windows was not restarted";
        EXPECT_LT(destroyed, restart);
        EXPECT_EQ(static_cast<UINT>(EWX_REBOOT), winsim::UiEvents()[restart].type);
        // NT refuses the restart unless the shutdown privilege is enabled;
        // Windows 95 has no privileges to ask for.
        EXPECT_EQ(nt, winsim::ShutdownPrivilegeEnabled());
        EXPECT_EQ(nt ? 1 : 0, winsim::CallCount("OpenProcessToken"));
        EXPECT_EQ(0, winsim::GetHeapStats().liveBytes);
    }
}

TEST_F(RunPatchTest, RestartIsRequestedEvenWhenThePrivilegeCannotBeHad) {
    winsim::InjectFault({"OpenProcessToken", ""});
    EXPECT_EQ(0, Run({IDYES, IDYES}));
    EXPECT_EQ(1, winsim::CallCount("ExitWindowsEx"));
    EXPECT_EQ(-1, winsim::FindCall("AdjustTokenPrivileges"));
}

TEST_F(RunPatchTest, TheTokenIsClosedAfterThePrivilegeIsEnabled) {
    EXPECT_EQ(0, Run({IDYES, IDYES}));
    const int adjust = winsim::FindCall("AdjustTokenPrivileges");
    const int close = winsim::FindCall("CloseHandle");
    const int restart = winsim::FindCall("ExitWindowsEx");
    ASSERT_NE(-1, adjust);
    EXPECT_LT(adjust, close);
    EXPECT_LT(close, restart);
}

// Each stage's failure: its own message, owned by the dialog; the stages after
// it do not run; the run goes back to the install directory and tries to
// remove the patch directory, which stays when the stage left files in it.
TEST_F(RunPatchTest, EachFailingStageShowsItsMessageAndStopsTheRun) {
    struct Case {
        const char *stage;
        UINT message;
    };
    const Case cases[] = {
        {"extract", MSG_EXTRACT_FAILED},       {"stage", MSG_STAGING_FAILED},
        {"patcher", MSG_PATCH_FAILED},         {"shared usage", MSG_REGISTRY_FAILED},
        {"schedule", MSG_SCHEDULE_FAILED},
        {"commit", MSG_SCHEDULE_FAILED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stage);
        SetUp();
        Stages().failing = c.stage;
        Stages().leftBehind = "partial.tmp";
        EXPECT_EQ(0, Run({IDYES}));

        EXPECT_EQ((std::vector<UINT>{MSG_CONFIRM, c.message}), BoxIds());
        const UiEvent failure = winsim::MessageBoxes()[1];
        EXPECT_EQ(ProgressDialog(), failure.window);
        EXPECT_EQ(static_cast<UINT>(MB_OK), failure.type);

        const auto failed = std::find(kAllStages.begin(), kAllStages.end(), c.stage);
        EXPECT_EQ(std::vector<std::string>(kAllStages.begin(), failed + 1), Stages().order);

        const int backHome = winsim::FindCall("SetCurrentDirectoryA", kInstallDir);
        const int removal = winsim::FindCall("RemoveDirectoryA", kPatchDir);
        EXPECT_NE(-1, backHome);
        EXPECT_LT(backHome, removal);
        EXPECT_TRUE(winsim::Exists(std::string(kPatchDir) + "\\partial.tmp"));
        EXPECT_EQ(kInstallDir, CurrentDirectory());
        EXPECT_LT(LastEventIndex(UiEvent::MessageBox), EventIndex(UiEvent::DestroyDialog));
        EXPECT_EQ(0, winsim::LiveDialogCount());
        EXPECT_EQ(-1, winsim::FindCall("ExitWindowsEx"));
    }
}

TEST_F(RunPatchTest, TooLittleFreeSpaceStopsBeforeTheDirectoryIsMade) {
    Stages().failing = "free space";
    EXPECT_EQ(0, Run({IDYES}));
    EXPECT_EQ((std::vector<UINT>{MSG_CONFIRM, MSG_NO_DISK_SPACE}), BoxIds());
    EXPECT_EQ(ProgressDialog(), winsim::MessageBoxes()[1].window);
    EXPECT_EQ((std::vector<std::string>{"probe", "free space"}), Stages().order);
    EXPECT_EQ(std::vector<std::string>{ManifestString(STATUS_DISK_SPACE)}, StatusTexts());
    EXPECT_EQ(-1, winsim::FindCall("CreateDirectoryA", PATCH_DIRECTORY_NAME));
    EXPECT_EQ(-1, winsim::FindCall("RemoveDirectoryA"));
    EXPECT_FALSE(winsim::Exists(kPatchDir));
    EXPECT_EQ(0, winsim::LiveDialogCount());
}

TEST_F(RunPatchTest, APatchDirectoryThatCannotBeEnteredIsMessage207) {
    winsim::InjectFault({"SetCurrentDirectoryA", PATCH_DIRECTORY_NAME});
    EXPECT_EQ(0, Run({IDYES}));
    EXPECT_EQ((std::vector<UINT>{MSG_CONFIRM, MSG_DIRECTORY_FAILED}), BoxIds());
    EXPECT_EQ((std::vector<std::string>{"probe", "free space"}), Stages().order);
    EXPECT_LT(winsim::FindCall("SetCurrentDirectoryA", kInstallDir),
              winsim::FindCall("RemoveDirectoryA", kPatchDir));
    EXPECT_FALSE(winsim::Exists(kPatchDir));
}

TEST_F(RunPatchTest, APatchDirectoryLeftByAnEarlierRunIsUsedAgain) {
    ASSERT_TRUE(CreateDirectoryA(kPatchDir, nullptr));
    ASSERT_TRUE(winsim::WriteWholeFile(std::string(kPatchDir) + "\\patch.rtp", "stale"));
    EXPECT_EQ(0, Run({IDYES, IDNO}));
    EXPECT_EQ(kAllStages, Stages().order);
    EXPECT_EQ((std::vector<UINT>{MSG_CONFIRM, MSG_RESTART_QUESTION}), BoxIds());
    EXPECT_TRUE(winsim::Exists(kPatchDir));  // not empty, so it stays
}

// A patch directory path that would not fit its buffer is refused like a
// directory that cannot be made, and nothing is written past the buffer.
TEST_F(RunPatchTest, AnInstallDirectoryTooLongForThePatchDirectoryIsMessage207) {
    Stages().installDir = InstallDirWithPatchDirOf(262);
    EXPECT_EQ(0, Run({IDYES}));
    EXPECT_EQ((std::vector<UINT>{MSG_CONFIRM, MSG_DIRECTORY_FAILED}), BoxIds());
    EXPECT_EQ(-1, winsim::FindCall("CreateDirectoryA", PATCH_DIRECTORY_NAME));
    EXPECT_EQ(-1, winsim::FindCall("RemoveDirectoryA"));
    EXPECT_EQ((std::vector<std::string>{"probe", "free space"}), Stages().order);
}

// A path of exactly 260 characters fits the buffer and is tried; Windows
// itself then refuses a directory that long (CreateDirectoryA allows 248).
TEST_F(RunPatchTest, APatchDirectoryOfExactly260CharactersIsTried) {
    Stages().installDir = InstallDirWithPatchDirOf(260);
    EXPECT_EQ(0, Run({IDYES}));
    const int create = winsim::FindCall("CreateDirectoryA", PATCH_DIRECTORY_NAME);
    ASSERT_NE(-1, create);
    EXPECT_EQ(260u, winsim::Calls()[create].arg.size());
    EXPECT_EQ((std::vector<UINT>{MSG_CONFIRM, MSG_DIRECTORY_FAILED}), BoxIds());
}

// Without a dialog the run goes on: no status texts, boxes without owner.
TEST_F(RunPatchTest, ARunWithoutAProgressDialogStillCompletes) {
    winsim::InjectFault({"CreateDialogParamA", ""});
    EXPECT_EQ(0, Run({IDYES, IDNO}));
    EXPECT_EQ(kAllStages, Stages().order);
    EXPECT_EQ(std::vector<std::string>{}, StatusTexts());
    ASSERT_EQ(2u, winsim::MessageBoxes().size());
    EXPECT_EQ(nullptr, winsim::MessageBoxes()[1].window);
    EXPECT_EQ(-1, winsim::FindCall("DestroyWindow"));
}

TEST_F(RunPatchTest, TheDialogShowsItsTemplateTextUntilTheFirstStatus) {
    HWND dialog = CreateProgressDialog();
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ("Searching for installation of Tolvane Wayfront", winsim::DialogItemText(dialog, IDC_STATUS));
    SetStatusText(STATUS_COPYING);
    EXPECT_EQ(ManifestString(STATUS_COPYING), winsim::DialogItemText(dialog, IDC_STATUS));
    // A missing string leaves the status line as it was.
    winsim::RemoveString(STATUS_PATCHING);
    SetStatusText(STATUS_PATCHING);
    EXPECT_EQ(ManifestString(STATUS_COPYING), winsim::DialogItemText(dialog, IDC_STATUS));
    DestroyProgressDialog();
    EXPECT_EQ(nullptr, GetProgressDialog());
    SetStatusText(STATUS_COPYING);  // no dialog: nothing to write to
    EXPECT_EQ(1u, StatusTexts().size());
}

// Setting a status paints it at once, and hands the thread's waiting
// messages to their windows; a quit request stays pending for the wait
// that obeys it later.
TEST_F(RunPatchTest, AStatusIsPaintedAsItIsSetAndAQuitRequestStaysPending) {
    HWND dialog = CreateProgressDialog();
    ASSERT_NE(nullptr, dialog);
    EXPECT_EQ(std::vector<std::string>{}, PaintedStatusTexts());  // shown, not yet painted
    winsim::PostThreadMessageForTest(WM_USER + 1, 0, 0);
    PostQuitMessage(3);
    SetStatusText(STATUS_EXTRACTING);
    EXPECT_EQ(std::vector<std::string>{ManifestString(STATUS_EXTRACTING)}, PaintedStatusTexts());
    EXPECT_NE(-1, winsim::FindCall("DispatchMessageA", std::to_string(WM_USER + 1)));
    const std::vector<MSG> pending = winsim::PendingMessages();
    ASSERT_EQ(1u, pending.size());
    EXPECT_EQ(static_cast<UINT>(WM_QUIT), pending[0].message);
    EXPECT_EQ(3u, pending[0].wParam);
    DestroyProgressDialog();
}

}  // namespace
