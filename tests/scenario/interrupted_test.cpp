// Runs that end before their time: the installer's process killed at one
// Win32 call after another, and the patcher killed at random moments. After
// a killed installer, one further run and a restart must leave the machine
// exactly as the patch should; a killed patcher leaves each file old or new.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
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
#include "common/pending_ops.h"
#include "commit/commit.h"
#include "manifest/manifest.h"
#include "machine_state.h"
#include "test_machine.h"
#include "test_registry.h"

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

// Every changing call is a kill point. For a quicker look, WF_KILL_STRIDE=N
// takes every Nth changing call before the commit stages, where only the
// patch directory changes, and every other registry write in them.
int Stride() {
    const char *text = std::getenv("WF_KILL_STRIDE");
    const int stride = text ? std::atoi(text) : 1;
    return stride > 0 ? stride : 1;
}

const char *PlatformName(winsim::Platform platform) {
    return platform == winsim::Platform::WindowsNT ? "NT" : "Windows 95";
}

class InterruptedRunTest : public MachineTest, public ::testing::WithParamInterface<winsim::Platform> {
protected:
    static void SetUpTestSuite() {
        before_ = HostTree(SamplePath("before/drive_c"));
        after_ = HostTree(SamplePath("after/drive_c"));
    }

    void SetUp() override {
        MachineTest::SetUp();
        InstallSample();
        winsim::RegisterHostTwin("patch.exe", WF_PATCH_TWIN);
        winsim::SetPlatform(GetParam());
    }

    // The process that ran RunPatch is gone, killed or ended: Windows closes
    // what it held, and the installer's process-wide state is not carried
    // into the next process.
    static void EndInstallerProcess() {
        ForgetCommitState();
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

    // The calls of one good run on a fresh machine, and where its commit
    // stages begin.
    std::vector<winsim::Call> GoodRun(int *commitStart) {
        const int firstCall = static_cast<int>(winsim::Calls().size());
        winsim::QueueAnswers({IDYES, IDNO});
        RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0);
        EndInstallerProcess();
        std::vector<winsim::Call> calls(winsim::Calls().begin() + firstCall, winsim::Calls().end());
        *commitStart = static_cast<int>(calls.size());
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i].function == "SetDlgItemTextA" && calls[i].arg == ManifestString(STATUS_REGISTRY)) {
                *commitStart = static_cast<int>(i);
                break;
            }
        return calls;
    }

    // After the restart: the files and the registry as the sample's after
    // has them, no patch directory, journal or replacement left.
    // On Windows 95, whose WININIT deletes files only, the patch directory
    // may stay where a file in it had to wait for the restart.
    std::string DifferenceFromAfter(const std::string &afterRegistry, Comparison *files,
                                    bool patchDirMayStay = false) const {
        *files = Compare(SimTree(), before_, after_);
        std::string difference;
        if (!files->damaged.empty()) difference += "; damaged: " + Join(files->damaged);
        if (!files->extra.empty()) difference += "; left behind: " + Join(files->extra);
        if (files->oldFiles) difference += "; " + std::to_string(files->oldFiles) + " file(s) old";
        if (TouchedRegistry() != afterRegistry) difference += "; the registry differs from the sample's after";
        if (!patchDirMayStay && winsim::Exists(kSamplePatchDir))
            difference += "; the patch directory is left";
        return difference;
    }

    static Tree before_;
    static Tree after_;
};

Tree InterruptedRunTest::before_;
Tree InterruptedRunTest::after_;

std::string Describe(const winsim::ProcessKilled &kill) {
    return "call " + std::to_string(kill.index) + " " + kill.function + "(" + kill.arg + ")";
}

// The installer killed just before each call of a good run that changes the
// machine (or a dense sample of them); then one further run (Yes and No, or
// a refusal because the patch waits for the restart) and a restart must
// leave exactly the sample's after: no count lowered twice, no file lost,
// nothing left behind.
TEST_P(InterruptedRunTest, AKillAtAnyCallIsMadeGoodByOneFurtherRunAndARestart) {
    const auto started = std::chrono::steady_clock::now();
    const std::string afterRegistry = TouchedRegistryOf(SamplePath("after/machine.reg"), Root() + "/expected");
    SetUp();
    int commitStart = 0;
    const std::vector<winsim::Call> goodRun = GoodRun(&commitStart);
    const int calls = static_cast<int>(goodRun.size());
    ASSERT_LT(commitStart, calls) << "the good run never reached the registry stage";
    const std::set<std::string> accepted = {ManifestString(MSG_RESTART_QUESTION), ManifestString(MSG_RESTART_PENDING)};

    const int stride = Stride();
    int tried = 0, recovered = 0, stuck = 0, damaged = 0;
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
        winsim::Restart();
        Comparison files;
        std::string difference = DifferenceFromAfter(afterRegistry, &files);
        if (boxes.empty() || !accepted.count(boxes.back()))
            difference += "; the further run ended with: " + (boxes.empty() ? std::string("no box") : boxes.back());
        if (difference.empty()) {
            ++recovered;
            continue;
        }
        ++(files.damaged.empty() ? stuck : damaged);
        ADD_FAILURE() << "after a kill at " << Describe(kill) << ", a further run and a restart" << difference;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << "interrupted runs, " << PlatformName(GetParam()) << ": " << tried << " kill points, " << recovered
              << " recovered, " << stuck << " stuck, " << damaged << " damaged\n";
    std::cout << "[kill] " << calls << " calls in a good run, commit stages from call " << commitStart << ", stride "
              << stride << " before them; " << seconds << " s\n";
    EXPECT_EQ(tried, recovered);
    RecordProperty("kill_points", tried);
}

// What waits for the restart: NT's delayed operations and the lines of
// [Rename], empty when nothing does.
std::string WaitingForTheRestart() {
    std::string waiting;
    const std::string delayed = RegValue(SESSION_MANAGER_KEY, PENDING_RENAMES_VALUE);
    if (delayed != "-") waiting += "delayed operations: " + delayed;
    char section[8192];
    const DWORD length = GetPrivateProfileSectionA("Rename", section, sizeof section, "C:\\WINDOWS\\WININIT.INI");
    if (length) waiting += "[Rename]: " + std::string(section, length);
    return waiting;
}

bool Contains(std::string text, std::string part) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char &c : part) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text.find(part) != std::string::npos;
}

// Each call of the commit stages that changes the machine, failing once:
// the run either gets round it (a deletion put off to the restart, a copy
// in place of a move) and ends as a good run does, or shows its stage's
// message with the machine as it was before the run (only the patch
// directory may stay, nothing waits for the restart); then a rerun and a
// restart complete the patch.
TEST_P(InterruptedRunTest, EachFailingCallOfTheCommitIsUndoneOrGotRound) {
    const std::string afterRegistry = TouchedRegistryOf(SamplePath("after/machine.reg"), Root() + "/expected");
    const std::string beforeRegistry = TouchedRegistryOf(SamplePath("before/machine.reg"), Root() + "/expected");
    SetUp();
    int commitStart = 0;
    const std::vector<winsim::Call> goodRun = GoodRun(&commitStart);
    const std::string success = ManifestString(MSG_RESTART_QUESTION);
    const std::set<std::string> failures = {ManifestString(MSG_REGISTRY_FAILED), ManifestString(MSG_SCHEDULE_FAILED)};
    int tried = 0, undone = 0, gotRound = 0;
    for (size_t k = commitStart; k < goodRun.size(); ++k) {
        const winsim::Call &call = goodRun[k];
        if (!ChangesTheMachine(call.function) || call.function == "MessageBoxA" || call.function == "ExitWindowsEx")
            continue;
        // The fault counts the calls whose argument holds this one's.
        int skip = 0;
        for (size_t j = 0; j < k; ++j)
            if (goodRun[j].function == call.function && Contains(goodRun[j].arg, call.arg)) ++skip;
        ++tried;
        SetUp();
        SCOPED_TRACE(call.function + "(" + call.arg + ") failing");
        winsim::InjectFault({call.function, call.arg, skip, 1});
        const std::vector<std::string> boxes = Run();
        winsim::ClearFaults();
        ASSERT_FALSE(boxes.empty());
        Comparison files;
        if (boxes.back() == success) {
            ++gotRound;
            winsim::Restart();
            EXPECT_EQ("", DifferenceFromAfter(afterRegistry, &files, GetParam() == winsim::Platform::Windows95));
            continue;
        }
        ++undone;
        EXPECT_TRUE(failures.count(boxes.back())) << boxes.back();
        EXPECT_TRUE(WithoutPatchDirectory(SimTree()) == before_) << "the files are not as before the run";
        EXPECT_EQ(beforeRegistry, TouchedRegistry());
        EXPECT_EQ("", WaitingForTheRestart());
        const std::vector<std::string> rerun = Run();
        EXPECT_EQ(success, rerun.empty() ? "" : rerun.back());
        winsim::Restart();
        EXPECT_EQ("", DifferenceFromAfter(afterRegistry, &files));
    }
    std::cout << "failing commit calls, " << PlatformName(GetParam()) << ": " << tried << " calls, " << undone
              << " undone with the stage's message, " << gotRound << " got round\n";
    EXPECT_GT(undone, 0);
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
