// Runs that end before their time: the installer's process killed at one
// Win32 call after another, and the patcher killed at random moments. After
// each, what is installed must be the old version or the new one, file by
// file, and a fresh run must either finish the patch or refuse in words that
// fit what the killed run left.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/run_patch.h"
#include "commit/pending_ops.h"
#include "commit/windows_version.h"
#include "manifest/manifest.h"
#include "test_machine.h"

extern char **environ;

namespace fs = std::filesystem;

namespace {

// The calls that change the disk or the registry, or show the user a box.
// What a killed run leaves behind changes only at these, so a kill just
// before each of them reaches every state a kill anywhere can leave.
bool ChangesTheMachine(const std::string &function) {
    static const std::set<std::string> kChanging = {
        "CopyFileA",       "CreateDirectoryA", "CreateFileA",      "DeleteFileA",
        "LZCopy",          "MoveFileA",        "MoveFileExA",      "RegCreateKeyExA",
        "RegDeleteKeyA",   "RegDeleteValueA",  "RegSetValueExA",   "RemoveDirectoryA",
        "ShellExecuteExA", "WriteFile",        "WritePrivateProfileSectionA",
        "MessageBoxA",     "ExitWindowsEx"};
    return kChanging.count(function) != 0;
}

// Before the commit stages only the patch directory changes; there every
// 8th changing call is taken, and in the commit stages every other registry
// write. WF_KILL_STRIDE sets the first; 1 takes every changing call.
int Stride() {
    const char *text = std::getenv("WF_KILL_STRIDE");
    const int stride = text ? std::atoi(text) : 8;
    return stride > 0 ? stride : 1;
}

// The installed product and the shared files as one version has them:
// Windows path relative to C:\ -> bytes.
using Tree = std::map<std::string, std::string>;

const char *const kWatchedDirs[] = {"Program Files/Quenmark/Wayfront", "Quenmark/Shared"};

Tree HostTree(const std::string &driveC) {
    Tree tree;
    for (const char *dir : kWatchedDirs) {
        const fs::path root = fs::path(driveC) / dir;
        for (const auto &entry : fs::recursive_directory_iterator(root)) {
            if (!entry.is_regular_file()) continue;
            std::string name = fs::relative(entry.path(), driveC).string();
            for (char &c : name) c = c == '/' ? '\\' : c;
            tree[name] = HostFile(entry.path().string());
        }
    }
    return tree;
}

Tree SimTree() {
    Tree tree;
    for (const char *dir : kWatchedDirs) {
        std::string winDir = std::string("C:\\") + dir;
        for (char &c : winDir) c = c == '/' ? '\\' : c;
        for (const std::string &name : winsim::ListTree(winDir)) {
            if (!name.empty() && name.back() == '\\') continue;
            std::string bytes;
            if (winsim::ReadWholeFile(winDir + "\\" + name, &bytes)) tree[winDir.substr(3) + "\\" + name] = bytes;
        }
    }
    return tree;
}

// How the files compare with the two versions after a restart.
struct Comparison {
    std::vector<std::string> damaged;  // neither version's bytes
    std::vector<std::string> extra;    // in neither version
    int oldFiles = 0;                  // still (or, for a dropped file, still there) as before
    int newFiles = 0;
    bool AllNew() const { return damaged.empty() && extra.empty() && oldFiles == 0; }
};

Comparison Compare(const Tree &now, const Tree &before, const Tree &after) {
    Comparison result;
    std::set<std::string> names;
    for (const auto &entry : before) names.insert(entry.first);
    for (const auto &entry : after) names.insert(entry.first);
    for (const auto &entry : now)
        if (!names.count(entry.first)) result.extra.push_back(entry.first);
    for (const std::string &name : names) {
        const auto n = now.find(name), b = before.find(name), a = after.find(name);
        const bool present = n != now.end();
        const bool asBefore = present ? b != before.end() && b->second == n->second : b == before.end();
        const bool asAfter = present ? a != after.end() && a->second == n->second : a == after.end();
        if (asAfter)
            ++result.newFiles;  // a file both versions share counts as new
        else if (asBefore)
            ++result.oldFiles;
        else
            result.damaged.push_back(name);
    }
    return result;
}

class InterruptedRunTest : public MachineTest, public ::testing::WithParamInterface<winsim::Platform> {
protected:
    static void SetUpTestSuite() {
        before_ = HostTree(SamplePath("before/drive_c"));
        after_ = HostTree(SamplePath("after/drive_c"));
    }

    void SetUp() override {
        winsim::KillAtCall(-1);
        MachineTest::SetUp();
        InstallSample();
        winsim::RegisterHostTwin("patch.exe", WF_PATCH_TWIN);
        winsim::SetPlatform(GetParam());
    }

    void TearDown() override {
        winsim::KillAtCall(-1);
        MachineTest::TearDown();
    }

    // The process that ran RunPatch is gone, killed or ended: Windows closes
    // what it held, and the installer's process-wide state is not carried
    // into the next process.
    static void EndInstallerProcess() {
        while (PendingFileOp *record = PopPendingOp()) FreePendingOp(record);
        ForgetWindowsVersion();
        winsim::EndProcess();
    }

    // A run answered Yes to the confirmation and No to the restart (OK to a
    // refusal). Returns the texts of its boxes.
    static std::vector<std::string> Run() {
        const size_t first = winsim::UiEvents().size();
        winsim::QueueAnswers({IDYES, IDNO});
        RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0);
        EndInstallerProcess();
        std::vector<std::string> texts;
        const std::vector<winsim::UiEvent> &events = winsim::UiEvents();
        for (size_t i = first; i < events.size(); ++i)
            if (events[i].kind == winsim::UiEvent::MessageBox) texts.push_back(events[i].text);
        return texts;
    }

    static Tree before_;
    static Tree after_;
};

Tree InterruptedRunTest::before_;
Tree InterruptedRunTest::after_;

std::string Describe(const winsim::ProcessKilled &kill) {
    return "call " + std::to_string(kill.index) + " " + kill.function + "(" + kill.arg + ")";
}

// Files in neither version, by kind: the patch directory's, replacements
// waiting beside their files ("...X"), and others by name.
std::string Leftovers(const Comparison &comparison) {
    int patchDir = 0, waiting = 0;
    std::string others;
    for (const std::string &name : comparison.extra) {
        if (name.find("\\PatchB2C\\") != std::string::npos)
            ++patchDir;
        else if (name.back() == 'X')
            ++waiting;
        else
            others += " " + name;
    }
    std::string text;
    if (patchDir) text += ", " + std::to_string(patchDir) + " file(s) left in the patch directory";
    if (waiting) text += ", " + std::to_string(waiting) + " replacement(s) left beside their files";
    if (!others.empty()) text += ", others:" + others;
    return text;
}

std::string Join(const std::vector<std::string> &items) {
    std::string text;
    for (const std::string &item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

// The installer killed at each call of a good run (or a dense sample of
// them), then a fresh run and a restart. The fresh run ends with "Patch
// successful" or a refusal that is one of the installer's own failure
// messages; every installed and shared file is then its old or its new
// version; a successful fresh run leaves everything new; and where the
// restart left any file old, one more run and restart finish the patch.
TEST_P(InterruptedRunTest, AKillAtAnyCallLeavesAnInstallationThatAFreshRunCompletes) {
    const auto started = std::chrono::steady_clock::now();
    // A good run, to know its calls.
    const int firstCall = static_cast<int>(winsim::Calls().size());
    winsim::QueueAnswers({IDYES, IDNO});
    RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0);
    const std::vector<winsim::Call> goodRun(winsim::Calls().begin() + firstCall, winsim::Calls().end());
    const int calls = static_cast<int>(goodRun.size());
    int commitStart = calls;
    for (int i = 0; i < calls; ++i)
        if (goodRun[i].function == "SetDlgItemTextA" && goodRun[i].arg == ManifestString(STATUS_REGISTRY)) {
            commitStart = i;
            break;
        }
    ASSERT_LT(commitStart, calls) << "the good run never reached the registry stage";

    const std::set<std::string> refusals = {
        ManifestString(MSG_RESTART_PENDING), ManifestString(MSG_SCHEDULE_FAILED),
        ManifestString(MSG_REGISTRY_FAILED), ManifestString(MSG_PATCH_FAILED),
        ManifestString(MSG_STAGING_FAILED),  ManifestString(MSG_EXTRACT_FAILED),
        ManifestString(MSG_DIRECTORY_FAILED)};
    const std::string success = ManifestString(MSG_RESTART_QUESTION);

    const int stride = Stride();
    int tried = 0;
    std::map<std::string, int> outcomes;  // each kind of outcome -> how often
    int stuck = 0;                        // kill points after which no run completes the patch
    int incomplete = 0;                   // kill points after which a "successful" run left old files
    std::map<std::pair<std::string, std::string>, int> seen;
    int changing = 0, registryWrites = 0;
    for (int k = 0; k < calls; ++k) {
        // A kill point is a call by what it is and how many such calls came
        // before it: the polls of the wait for the patcher vary in number
        // from run to run, so indices after it do not stay put.
        const winsim::Call &call = goodRun[k];
        const int occurrence = ++seen[{call.function, call.arg}];
        if (!ChangesTheMachine(call.function)) continue;
        if (k < commitStart && changing++ % stride != 0) continue;
        // In the commit stages every file operation, and every other registry
        // write unless all are asked for.
        if (k >= commitStart && stride > 1 && call.function.compare(0, 3, "Reg") == 0 && registryWrites++ % 2 != 0)
            continue;
        ++tried;
        SetUp();
        const int base = static_cast<int>(winsim::Calls().size());
        winsim::KillAtCall(call.function, call.arg, occurrence);
        winsim::ProcessKilled kill;
        bool killed = false;
        try {
            winsim::QueueAnswers({IDYES, IDNO});
            RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0);
        } catch (const winsim::ProcessKilled &caught) {
            kill = caught;
            killed = true;
        }
        winsim::KillAtCall(-1);
        EndInstallerProcess();
        ASSERT_TRUE(killed) << call.function << "(" << call.arg << ") #" << occurrence
                            << " never came: the run is not repeatable";
        kill.index -= base;
        SCOPED_TRACE(Describe(kill));

        const std::vector<std::string> boxes = Run();
        ASSERT_FALSE(boxes.empty());
        const std::string &last = boxes.back();
        const bool succeeded = last == success;
        EXPECT_TRUE(succeeded || refusals.count(last)) << "the fresh run ended with: " << last;
        winsim::Restart();
        Comparison after = Compare(SimTree(), before_, after_);
        EXPECT_TRUE(after.damaged.empty()) << "damaged after the restart: " << Join(after.damaged);
        if (succeeded && !after.AllNew()) {
            ++incomplete;
            std::cout << "[kill] FINDING at " << Describe(kill) << ": the fresh run said it succeeded, yet after the "
                      << "restart " << after.oldFiles << " file(s) are old" << Leftovers(after) << "\n";
        }
        std::string outcome = succeeded ? std::string("fresh run succeeded") : "fresh run refused: " + last;
        if (!after.AllNew()) {
            outcome += "; after the restart " + std::to_string(after.oldFiles) + " old file(s)" + Leftovers(after);
            // Whether one more run and restart finish the patch.
            const std::vector<std::string> third = Run();
            winsim::Restart();
            const Comparison finally = Compare(SimTree(), before_, after_);
            EXPECT_TRUE(finally.damaged.empty()) << "damaged after a further run: " << Join(finally.damaged);
            if (finally.AllNew()) {
                outcome += "; a further run completed";
            } else {
                outcome += "; a further run ended with \"" + (third.empty() ? std::string() : third.back()) +
                           "\" and left " + std::to_string(finally.oldFiles) + " old file(s)" + Leftovers(finally);
                ++stuck;
            }
        }
        if (!outcomes.count(outcome))
            std::cout << "[kill] first at " << Describe(kill) << ": " << outcome << "\n";
        ++outcomes[outcome];
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << "[kill] " << (GetParam() == winsim::Platform::WindowsNT ? "NT" : "Win95") << ": " << tried
              << " kill points of " << calls << " calls (commit stages from call " << commitStart
              << ", stride " << stride << " before), " << seconds << " s\n";
    for (const auto &entry : outcomes) std::cout << "[kill]   " << entry.second << " x " << entry.first << "\n";
    std::cout << "[kill] " << stuck << " kill point(s) after which two more runs do not complete the patch, "
              << incomplete << " after which a successful run left old files\n";
    RecordProperty("kill_points", tried);
}

// ---- The patcher killed ------------------------------------------------------

const char *const kPatchedNames[] = {"wayfront.exe", "wfcore.dll", "wfview.dll", "wfprint.dll", "wfnet.dll"};

// Starts the patcher's host twin in `dir` on patch.rtp, its output dropped.
pid_t StartPatcher(const fs::path &dir) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string program = WF_PATCH_TWIN;
    const std::string command = "cd '" + dir.string() + "' && exec '" + program + "' patch.rtp";
    char *argv[] = {const_cast<char *>("/bin/sh"), const_cast<char *>("-c"), const_cast<char *>(command.c_str()),
                    nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int WaitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// The patcher killed at random moments of its run: every file it patches is
// then its old or its new build, or, between the old one's deletion and the
// new one's rename, missing with the new build under its temporary name; a
// rerun then ends with exit code 0 and every file new.
class InterruptedPatcherTest : public MachineTest {};

TEST_F(InterruptedPatcherTest, AKilledPatcherLeavesEachFileOldOrNewAndARerunFinishes) {
    const std::string sample = SamplePath("");
    std::map<std::string, std::string> oldBuild, newBuild;
    for (const char *name : kPatchedNames) {
        oldBuild[name] = HostFile(sample + "/pe/old/" + name);
        newBuild[name] = HostFile(sample + "/pe/new/" + name);
        ASSERT_FALSE(oldBuild[name].empty() || newBuild[name].empty()) << name;
    }
    std::string pattern = (fs::temp_directory_path() / "patchkill-XXXXXX").string();
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    const fs::path dir = pattern;
    auto prepare = [&] {
        for (const auto &entry : fs::directory_iterator(dir)) fs::remove(entry.path());
        fs::copy_file(sample + "/patch.rtp", dir / "patch.rtp");
        for (const char *name : kPatchedNames) fs::copy_file(sample + "/pe/old/" + name, dir / name);
    };

    // The length of an undisturbed run bounds the delays.
    prepare();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, WaitFor(StartPatcher(dir)));
    const auto runTime = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);

    const char *triesText = std::getenv("WF_PATCHER_KILLS");
    const int tries = triesText ? std::atoi(triesText) : 120;
    std::mt19937 random(20240611u);
    std::uniform_int_distribution<long> delay(0, runTime.count());
    int killedMidway = 0, missingWithTemporary = 0, leftTemporaries = 0;
    for (int t = 0; t < tries; ++t) {
        prepare();
        const pid_t pid = StartPatcher(dir);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        kill(pid, SIGKILL);
        const int status = WaitFor(pid);
        if (WIFSIGNALED(status)) ++killedMidway;
        for (const char *name : kPatchedNames) {
            SCOPED_TRACE(std::string(name) + ", try " + std::to_string(t));
            std::string temporary = name;
            temporary.back() = '~';
            const bool hasTemporary = fs::exists(dir / temporary);
            if (hasTemporary) ++leftTemporaries;
            if (!fs::exists(dir / name)) {
                ++missingWithTemporary;
                ASSERT_TRUE(hasTemporary) << "missing, and no new build waits under " << temporary;
                EXPECT_TRUE(HostFile((dir / temporary).string()) == newBuild[name]) << temporary << " is not the new build";
                continue;
            }
            const std::string now = HostFile((dir / name).string());
            EXPECT_TRUE(now == oldBuild[name] || now == newBuild[name]) << "neither build: torn";
        }
        ASSERT_EQ(0, WaitFor(StartPatcher(dir))) << "the rerun after try " << t << " failed";
        for (const char *name : kPatchedNames)
            EXPECT_TRUE(HostFile((dir / name).string()) == newBuild[name]) << name << " not new after the rerun, try " << t;
    }
    fs::remove_all(dir);
    std::cout << "[kill] patcher: " << tries << " kills within its " << runTime.count() << " us run, " << killedMidway
              << " before it ended; " << missingWithTemporary << " file(s) found between deletion and rename, "
              << leftTemporaries << " temporary file(s) seen\n";
    RecordProperty("patcher_kills", tries);
}

INSTANTIATE_TEST_SUITE_P(BothPlatforms, InterruptedRunTest,
                         ::testing::Values(winsim::Platform::WindowsNT, winsim::Platform::Windows95),
                         [](const ::testing::TestParamInfo<winsim::Platform> &info) {
                             return info.param == winsim::Platform::WindowsNT ? "NT" : "Win95";
                         });

}  // namespace
