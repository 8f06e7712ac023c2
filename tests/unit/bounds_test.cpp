// Overlong and odd inputs against every fixed buffer of the stages: install
// and shared directories near MAX_PATH, manifest names of 259 characters,
// shared counts at and past their 10 bytes, version strings at and past
// their 127 characters. Under AddressSanitizer a write past any buffer
// stops the test; what the tests check is that each input ends in the
// failing stage's own message, or in a good run, and never half-way.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/run_patch.h"
#include "commit/registry_plan.h"
#include "commit/shared_usage.h"
#include "common/version_info.h"
#include "manifest/manifest.h"
#include "staging/extract.h"
#include "machine_state.h"
#include "test_machine.h"
#include "test_registry.h"

namespace {

// A directory of exactly `length` characters under `parent`, in one
// component where the host allows it (255 bytes) and in two otherwise.
std::string DirectoryOfLength(const std::string &parent, size_t length) {
    std::string dir = parent;
    while (dir.size() < length) {
        const size_t room = length - dir.size() - 1;
        dir += "\\" + std::string(std::min<size_t>(room, 200), 'd');
    }
    return dir;
}

// Every file under a directory with its bytes, but for the patch
// directory, where a failed run leaves its work for the user.
std::vector<std::pair<std::string, std::string>> Snapshot(const std::string &dir) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const std::string &name : winsim::ListTree(dir))
        if (!name.empty() && name.back() != '\\' && name.rfind(PATCH_DIRECTORY_NAME "\\", 0) != 0)
            files.emplace_back(name, SimFile(dir + "\\" + name));
    return files;
}

class BoundsRunTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallSample();
        winsim::RegisterHostTwin("patch.exe", WF_PATCH_TWIN);
        installDir_ = kSampleInstallDir;
        sharedDir_ = kSampleSharedDir;
    }

    // Moves the sample's files to `to` (its parents made on the host) and
    // points the registry value at it, stored with its terminator.
    void Relocate(std::string *from, const std::string &to, const char *keyPath, const char *valueName) {
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(winsim::HostPath(to)).parent_path(), error);
        std::filesystem::rename(winsim::HostPath(*from), winsim::HostPath(to), error);
        ASSERT_FALSE(error) << error.message();
        SetRegText(keyPath, valueName, to);
        *from = to;
    }
    void MoveInstallation(const std::string &to) { Relocate(&installDir_, to, INSTALLED_APPS_KEY, "Tolvane Wayfront"); }
    // The shared files move with their counts and usage records.
    void MoveSharedDirectory(const std::string &to) {
        auto escaped = [](const std::string &path) {
            std::string out;
            for (char ch : path) out += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
            return out;
        };
        std::string text = winsim::ExportRegText(kTouchedKeys);
        const std::string from = escaped(sharedDir_), into = escaped(to);
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + into.size()))
            text.replace(at, from.size(), into);
        DeleteRegKey(SHARED_DLLS_KEY);
        std::string error;
        ASSERT_TRUE(winsim::ImportRegText(text, &error)) << error;
        Relocate(&sharedDir_, to, SHARED_USAGE_KEY, SHARED_LOCATION_VALUE);
    }

    // A whole run answered Yes and No; the texts of its boxes.
    static std::vector<std::string> Run() {
        winsim::QueueAnswers({IDYES, IDNO});
        EXPECT_EQ(0, RunPatch(winsim::ModuleInstance(), nullptr, nullptr, 0));
        std::vector<std::string> texts;
        for (const winsim::UiEvent &box : winsim::MessageBoxes()) texts.push_back(box.text);
        return texts;
    }

    // A whole run that ends in `message`: the patched files after the
    // restart for the restart question, otherwise nothing replaced. The
    // boxes' texts, for checks of their own.
    std::vector<std::string> RunExpectingLastBox(UINT message) {
        const auto installed = Snapshot(installDir_);
        const auto shared = Snapshot(sharedDir_);
        const std::vector<std::string> boxes = Run();
        EXPECT_FALSE(boxes.empty());
        if (boxes.empty()) return boxes;
        EXPECT_EQ(ManifestString(message), boxes.back());
        if (message == MSG_RESTART_QUESTION)
            ExpectPatched();
        else
            ExpectNothingReplaced(installed, shared);
        return boxes;
    }

    // A failed run: after a restart the installed and shared files are
    // what they were, and no replacement was handed to the restart.
    void ExpectNothingReplaced(const std::vector<std::pair<std::string, std::string>> &installed,
                               const std::vector<std::pair<std::string, std::string>> &shared) {
        EXPECT_EQ(std::string::npos, winsim::ExportRegText({"HKEY_LOCAL_MACHINE"}).find("PendingFileRename"));
        winsim::Restart();
        EXPECT_TRUE(installed == Snapshot(installDir_)) << "installed files changed";
        EXPECT_TRUE(shared == Snapshot(sharedDir_)) << "shared files changed";
    }

    // A good run: after the restart both directories hold the sample's
    // "after" files, and nothing else but the empty patch directory's place.
    void ExpectPatched() {
        winsim::Restart();
        for (const std::string &line : winsim::RestartLog()) EXPECT_EQ(std::string::npos, line.find("failed")) << line;
        ExpectAsAfter(installDir_, "Program Files/Quenmark/Wayfront");
        ExpectAsAfter(sharedDir_, "Quenmark/Shared");
    }
    static void ExpectAsAfter(const std::string &winDir, const std::string &afterRelative) {
        std::vector<std::pair<std::string, std::string>> expected;
        for (const auto &entry :
             std::filesystem::directory_iterator(std::filesystem::path(SamplePath("after/drive_c")) / afterRelative))
            expected.emplace_back(entry.path().filename().string(), HostFile(entry.path().string()));
        std::vector<std::pair<std::string, std::string>> actual = Snapshot(winDir);
        auto byName = [](const auto &a, const auto &b) { return a.first < b.first; };
        std::sort(expected.begin(), expected.end(), byName);
        std::sort(actual.begin(), actual.end(), byName);
        EXPECT_TRUE(expected == actual) << winDir << ": not the patched files";
    }

    std::string installDir_;
    std::string sharedDir_;
};

// A directory of exactly `length` characters under `parent`, in components
// of at most eight characters, which are their own short names.
std::string ShortComponentsOfLength(const std::string &parent, size_t length) {
    std::string dir = parent;
    while (dir.size() < length) {
        const size_t room = length - dir.size() - 1;
        dir += "\\" + std::string(room > 9 ? 8 : std::min<size_t>(room, 8), 'd');
    }
    return dir;
}

// Install directories from where lz32's 128-character paths run out to
// MAX_PATH, each a whole run. From 106 characters on a payload's full path
// in the patch directory is 128 or more ("\PatchB2C\qmfont32.dl_"), so the
// extraction names the patch directory by its short form; the longest
// directory that still patches is 237 characters (its patch directory, 246,
// and the longest payload name, "qmhelp32.dl_", make 259). At 238 and 239
// the extraction gets by on short names and the staging copy's paths no
// longer fit (MSG_STAGING_FAILED); then the patch directory is past
// CreateDirectoryA's 248 characters (MSG_DIRECTORY_FAILED), and from 247 on
// the probe cannot build the version-check path (MSG_UNKNOWN_VERSION), as
// for a directory of 250 characters.
TEST_F(BoundsRunTest, ALongInstallDirectoryEndsInTheFailingStagesMessage) {
    struct Case {
        size_t length;
        UINT message;  // the last box
    };
    const Case cases[] = {
        {105, MSG_RESTART_QUESTION}, {106, MSG_RESTART_QUESTION}, {150, MSG_RESTART_QUESTION},
        {237, MSG_RESTART_QUESTION}, {238, MSG_STAGING_FAILED},   {239, MSG_STAGING_FAILED},
        {240, MSG_DIRECTORY_FAILED}, {246, MSG_DIRECTORY_FAILED}, {247, MSG_UNKNOWN_VERSION},
        {250, MSG_UNKNOWN_VERSION},  {259, MSG_UNKNOWN_VERSION},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        SetUp();
        MoveInstallation(DirectoryOfLength("C:\\Program Files", c.length));
        ASSERT_EQ(c.length, installDir_.size());
        const std::vector<std::string> boxes = RunExpectingLastBox(c.message);
        if (c.message == MSG_UNKNOWN_VERSION) {
            EXPECT_EQ(1u, boxes.size());  // before the confirmation
        }
    }
}

// Where the short form is as long as the path, nothing shortens it: the
// entries whose full paths fit are expanded, the first that does not fit
// fails the extraction (MSG_EXTRACT_FAILED) before its stored file is
// written, and the patch directory keeps only whole expanded files. The real
// installer under Wine stopped the same way, after three files, in a
// 106-character directory.
TEST_F(BoundsRunTest, APayloadPathThatFitsInNoFormIsMessage206) {
    struct Case {
        size_t length;
        std::vector<std::string> left;  // the patch directory afterwards
    };
    const Case cases[] = {
        {106, {"patch.exe", "patch.rtp", "qmgfx32.dll"}},  // "qmfont32.dl_" makes 128
        {107, {"patch.exe", "patch.rtp"}},                 // "qmgfx32.dl_" makes 128
        {115, {}},                                         // "patch.ex_" makes 134
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        SetUp();
        MoveInstallation(ShortComponentsOfLength("C:\\WF", c.length));
        ASSERT_EQ(c.length, installDir_.size());
        RunExpectingLastBox(MSG_EXTRACT_FAILED);
        std::vector<std::string> left = winsim::ListTree(installDir_ + "\\" PATCH_DIRECTORY_NAME);
        std::sort(left.begin(), left.end());
        EXPECT_EQ(c.left, left);
    }
}

// Shared directories up to the 259 characters the probe's buffer holds: the
// longest that patches is 246 ("\qmhelp32.dll" makes 259); from 247 on a
// count's path does not fit and the shared usage stage fails
// (MSG_REGISTRY_FAILED) before any shared file is queued.
TEST_F(BoundsRunTest, ALongSharedDirectoryEndsInTheRegistryMessage) {
    struct Case {
        size_t length;
        UINT message;
    };
    const Case cases[] = {
        {246, MSG_RESTART_QUESTION},
        {247, MSG_REGISTRY_FAILED},
        {259, MSG_REGISTRY_FAILED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        SetUp();
        MoveSharedDirectory(DirectoryOfLength("C:\\Quenmark", c.length));
        ASSERT_EQ(c.length, sharedDir_.size());
        RunExpectingLastBox(c.message);
    }
}

// A manifest name of 259 characters in each block and string that names a
// file: it fits the 260-character name buffers, never a path built from
// it, and the stage that reads it fails with its own message. The version
// file's name and the product name are cut to their smaller buffers and
// then name nothing that exists.
TEST_F(BoundsRunTest, AManifestNameOf259CharactersFailsTheStageThatReadsIt) {
    struct Case {
        UINT id;
        UINT message;
    };
    const Case cases[] = {
        {STR_VERSION_FILE, MSG_UNKNOWN_VERSION},
        {STR_PRODUCT_NAME, MSG_NOT_INSTALLED},
        {BLOCK_PAYLOAD + 1, MSG_EXTRACT_FAILED},
        {BLOCK_EXPANDED_NAMES + 3, MSG_EXTRACT_FAILED},
        {BLOCK_STAGED_FILES + 1, MSG_STAGING_FAILED},
        {STR_PATCHER_PROGRAM, MSG_PATCH_FAILED},
        {STR_PATCHER_ARGUMENT, MSG_PATCH_FAILED},
        {BLOCK_SHARED_ADDED + 1, MSG_REGISTRY_FAILED},
        {BLOCK_SHARED_REMOVED + 1, MSG_REGISTRY_FAILED},
        {BLOCK_INSTALL_MOVES + 1, MSG_SCHEDULE_FAILED},
        {BLOCK_SHARED_MOVES + 1, MSG_SCHEDULE_FAILED},
        {BLOCK_CLEANUP + 1, MSG_SCHEDULE_FAILED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.id);
        SetUp();
        winsim::SetString(c.id, std::string(250, 'n') + ".longname");
        ASSERT_EQ(259u, ManifestString(c.id).size());
        RunExpectingLastBox(c.message);
    }
}

// ---- Shared counts at and past their 10 bytes ------------------------------

class CountBoundsTest : public BoundsRunTest {};

// A count is read into 10 bytes and terminated after them: 10 bytes with or
// without a terminator are a number; a longer value is taken for no count
// (an addition then starts again at 1, a removal leaves it alone).
TEST_F(CountBoundsTest, CountsOfTenBytesAreReadAndLongerOnesAreNone) {
    struct Case {
        const char *what;
        std::string stored;
        std::string afterRemoval;   // qmsound.dll, BLOCK_SHARED_REMOVED; "-" deleted
        std::string afterAddition;  // qmfont32.dll, BLOCK_SHARED_ADDED
    };
    const std::string z("\0", 1);
    const Case cases[] = {
        {"9 digits and a terminator: 10 bytes", "123456789" + z, "123456788" + z, "123456790" + z},
        {"10 digits without terminator", "1234567890", "1234567889" + z, "1234567891" + z},
        {"10 digits and a terminator: 11 bytes", "1234567890" + z, "1234567890" + z, "1" + z},
        {"20 digits", "12345678901234567890" + z, "12345678901234567890" + z, "1" + z},
        {"one digit without terminator", "7", "6" + z, "8" + z},
        {"no bytes at all", "", "-", "1" + z},
        {"the largest count wraps", "2147483647", "2147483646" + z, "-2147483648" + z},
        {"digits then text within 10 bytes", "12abcdefgh", "11" + z, "13" + z},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        const std::string patchDir = installDir_ + "\\" PATCH_DIRECTORY_NAME;
        CreateDirectoryA(patchDir.c_str(), nullptr);
        ASSERT_EQ(1, ExtractPayloads(patchDir.c_str()));
        SetRegValue(SHARED_DLLS_KEY, sharedDir_ + "\\qmsound.dll", REG_SZ, c.stored);
        SetRegValue(SHARED_DLLS_KEY, sharedDir_ + "\\qmfont32.dll", REG_SZ, c.stored);
        EXPECT_EQ(1, UpdateSharedUsage(patchDir.c_str(), installDir_.c_str(), sharedDir_.c_str()));
        EXPECT_EQ(1, ApplyRegistryPlan());
        EXPECT_EQ(c.afterRemoval, RegValue(SHARED_DLLS_KEY, sharedDir_ + "\\qmsound.dll"));
        EXPECT_EQ(c.afterAddition, RegValue(SHARED_DLLS_KEY, sharedDir_ + "\\qmfont32.dll"));
    }
}

// ---- Version strings at and past their 127 characters ----------------------

std::string LongVersionFile(size_t length) {
    return HostFile(std::string(WF_LONG_VERSION_DIR) + "/v" + std::to_string(length) + ".exe");
}

// Both readers copy at most capacity - 1 characters and terminate; the
// canary after the buffer stays.
TEST_F(BoundsRunTest, VersionStringsAreCutToTheBuffer) {
    for (size_t length : {127u, 128u, 300u}) {
        SCOPED_TRACE(length);
        const std::string file = LongVersionFile(length);
        ASSERT_FALSE(file.empty());
        ASSERT_TRUE(winsim::WriteWholeFile("C:\\long.exe", file));
        for (auto read : {GetProductVersion, GetFileVersion}) {
            char buffer[128 + 8];
            std::fill(buffer, buffer + sizeof buffer, '#');
            EXPECT_EQ(1, read("C:\\long.exe", buffer, 128));
            EXPECT_EQ(std::string(std::min<size_t>(length, 127), '7'), std::string(buffer));
            EXPECT_EQ(std::string(8, '#'), std::string(buffer + 128, 8));
        }
    }
}

// The probe names the version it found in MSG_WRONG_VERSION: all 127 characters
// of the longest that fits, the first 127 of a longer one.
TEST_F(BoundsRunTest, AnOverlongInstalledVersionIsNamedCutInMessage200) {
    for (size_t length : {127u, 128u, 300u}) {
        SCOPED_TRACE(length);
        SetUp();
        ASSERT_TRUE(winsim::WriteWholeFile(kSampleVersionFile, LongVersionFile(length)));
        const std::vector<std::string> boxes = Run();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ("Incorrect version of Tolvane Wayfront installed ( " + std::string(127, '7') +
                      " ).  This patch can only be applied to VERSION 95.0.b.",
                  boxes[0]);
    }
}

}  // namespace
