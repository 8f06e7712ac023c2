// The model of a run on Windows NT and the restart that follows it.
#include "after_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "machine.h"

namespace fs = std::filesystem;

namespace patchbuild {
namespace {

TEST(ParseCount, ReadsAsTheInstallerDoes) {
  struct {
    const char* text;
    std::int32_t value;
  } cases[] = {{"14 Count of files to extract", 14}, {"  -3x", -3}, {"abc", 0}, {"", 0}, {"+7", 7},
               {"\t\n 9", 9}, {"4294967295", -1}, {"1281953886 Checksum", 1281953886}, {"2147483648", INT32_MIN}};
  for (const auto& c : cases) EXPECT_EQ(ParseCount(c.text), c.value) << "\"" << c.text << "\"";
}

TEST(CompareVersions, NumbersCompareByValue) {
  struct {
    const char *first, *second;
    int sign;  // of the result
  } cases[] = {{"4.0.0.21", "4.0.0.9", 1}, {"4.00", "4.0", 0},       {"1.2", "1.2.3", 0},
               {"1, 5, 0, 0", "1.5.0.0", 0}, {"", "1.0", 0},         {"2.1.0.7", "0", 1},
               {"4.1.0.30", "4.2.0.1", -1}, {"v2", "1", -1} /* a leading letter reads as 0 */,          {"3.0.0.21", "3.0.0.9", 1}};
  for (const auto& c : cases) {
    const std::int32_t r = CompareVersions(c.first, c.second);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.first << " against " << c.second << " gave " << r;
  }
}

// A small machine: install directory C:\App, shared directory C:\Shared,
// product "P". File contents are names; the version reader looks them up.
class Model : public ::testing::Test {
 public:
  static constexpr const char* kInstall = "C:\\App";
  static constexpr const char* kShared = "C:\\Shared";

  void SetUp() override {
    machine_.registry.Create(kSharedDllsKey);
    machine_.registry.Create(kSharedUsageKey).SetString("Location1", kShared);
    inputs_.installDir = kInstall;
    inputs_.sharedDir = kShared;
    inputs_.newFile = [this](const std::string& name) -> std::optional<fs::path> {
      if (!newFiles_.count(Lower(name))) return std::nullopt;
      return fs::path("new") / Lower(name);
    };
    inputs_.fileVersion = [this](const fs::path& content) -> std::optional<std::string> {
      auto it = versions_.find(content.string());
      if (it == versions_.end()) return std::nullopt;
      return it->second;
    };
  }

  // A new build of `name` with a FileVersion.
  void NewFile(const std::string& name, const std::string& version) {
    newFiles_.insert(Lower(name));
    versions_["new/" + Lower(name)] = version;
  }
  // A file on the machine; `content` names its bytes.
  void OnMachine(const std::string& path, const std::string& content, const std::string& version = "") {
    machine_.Put(path, content);
    if (!version.empty()) versions_[content] = version;
  }
  void Count(const std::string& name, const std::string& count, std::vector<std::string> products) {
    machine_.registry.Find(kSharedDllsKey)->SetString(JoinPath(kShared, name), count);
    RegKey& usage = machine_.registry.Create(JoinPath(kSharedUsageKey, name));
    usage.SetString("", kShared);
    for (const auto& p : products) usage.SetString(p, "C:\\" + p);
  }

  ModelResult Run(const std::string& blocks) {
    std::string text =
        "product-name P\nregistry-name P\nversion-check app.exe\nexpected-version V\nnew-version W\n" + blocks;
    std::vector<Diagnostic> diagnostics;
    ParseDescription(text, "t.patch", description_, diagnostics);
    EXPECT_TRUE(diagnostics.empty()) << diagnostics[0].Text();
    return RunPatchModel(description_, inputs_, machine_);
  }

  std::string ContentOf(const std::string& path) const {
    const ModelFile* f = machine_.Find(path);
    return f ? f->content.string() : "(absent)";
  }
  std::string CountOf(const std::string& name) const {
    const RegValue* v = machine_.registry.Find(kSharedDllsKey)->Find(JoinPath(kShared, name));
    return v ? v->data : "(none)";
  }
  std::vector<std::string> Paths() const {
    std::vector<std::string> out;
    for (const auto& [key, f] : machine_.files) out.push_back(f.windowsPath);
    return out;
  }

  // One installed file, patched and moved back; `more` adds blocks.
  static std::string Blocks(const std::string& payload, const std::string& more) {
    std::string b = "block 1000 \"" + std::to_string(std::count(payload.begin(), payload.end(), '\n')) +
                    "\"\n" + payload + "block 2000 \"1\"\n  app.exe\n";
    return b + more;
  }
  static std::string Payload(std::initializer_list<std::string> names) {
    std::string s;
    for (const auto& n : names) s += "  " + n.substr(0, n.size() - 1) + "_ " + n + "\n";
    return s;
  }

  ModelMachine machine_;
  ModelInputs inputs_;
  Description description_;
  std::set<std::string> newFiles_;
  std::map<std::string, std::string> versions_;
};

TEST_F(Model, PatchedAndReplacedFilesLandAndNothingIsLeftBehind) {
  OnMachine("C:\\App\\app.exe", "old/app.exe");
  OnMachine("C:\\App\\lib.dll", "old/lib.dll");
  OnMachine("C:\\App\\keep.dll", "old/keep.dll");
  NewFile("app.exe", "2.0");
  NewFile("lib.dll", "2.0");
  NewFile("tool.exe", "1.0");
  const auto r = Run(Blocks(Payload({"lib.dll", "tool.exe"}),
                            "block 4000 \"2\"\n  app.exe\n  lib.dll\nblock 6000 \"1\"\n  tool.exe\n"));
  ASSERT_TRUE(r.ok) << r.failure;
  EXPECT_EQ(Paths(), (std::vector<std::string>{"C:\\App\\app.exe", "C:\\App\\keep.dll", "C:\\App\\lib.dll"}));
  EXPECT_EQ(ContentOf("C:\\App\\app.exe"), "new/app.exe");
  EXPECT_EQ(ContentOf("C:\\App\\lib.dll"), "new/lib.dll");
  EXPECT_EQ(ContentOf("C:\\App\\keep.dll"), "old/keep.dll");
}

// NT and Wine refuse a delayed rename onto an existing file unless it was
// registered with MOVEFILE_REPLACE_EXISTING, which the installer does not do.
TEST_F(Model, StrictRenamesLeaveExistingFilesAndTheirReplacements) {
  OnMachine("C:\\App\\app.exe", "old/app.exe");
  NewFile("app.exe", "2.0");
  NewFile("new.dll", "1.0");
  inputs_.strictRenames = true;
  const auto r = Run(Blocks(Payload({"new.dll"}), "block 4000 \"2\"\n  app.exe\n  new.dll\n"));
  ASSERT_TRUE(r.ok) << r.failure;
  EXPECT_EQ(ContentOf("C:\\App\\app.exe"), "old/app.exe");
  EXPECT_EQ(ContentOf("C:\\App\\app.exX"), "new/app.exe");
  EXPECT_EQ(ContentOf("C:\\App\\new.dll"), "new/new.dll") << "a new file still lands";
}

TEST_F(Model, AddedSharedFileReplacesOnlyAnOlderCopy) {
  struct {
    const char* what;
    const char* onDisk;  // version of the shared copy, "" for none
    const char* count;   // its count before, "" for none
    const char* payload;
    const char* expectedContent;
    const char* expectedCount;
  } cases[] = {
      {"absent: compared with \"0\"", "", "", "1.0", "new/s.dll", "1"},
      {"older", "1.0.0.9", "1", "1.0.0.21", "new/s.dll", "2"},
      {"same by value", "1.5.0.0", "2", "1, 5, 0, 0", "shared/s.dll", "3"},
      {"newer", "4.2", "9", "4.1.0.30", "shared/s.dll", "10"},
  };
  for (const auto& c : cases) {
    machine_ = ModelMachine{};
    SetUp();
    OnMachine("C:\\App\\app.exe", "old/app.exe");
    NewFile("app.exe", "2");
    NewFile("s.dll", c.payload);
    if (*c.onDisk) OnMachine("C:\\Shared\\s.dll", "shared/s.dll", c.onDisk);
    if (*c.count) Count("s.dll", c.count, {"Other"});
    const auto r = Run(Blocks(Payload({"s.dll"}), "block 3000 \"1\"\n  s.dll\nblock 4000 \"1\"\n  app.exe\n"));
    ASSERT_TRUE(r.ok) << c.what << ": " << r.failure;
    EXPECT_EQ(ContentOf("C:\\Shared\\s.dll"), c.expectedContent) << c.what;
    EXPECT_EQ(CountOf("s.dll"), c.expectedCount) << c.what;
    EXPECT_EQ(ContentOf("C:\\App\\PatchB2C\\s.dll"), "(absent)") << c.what;
    const RegKey* usage = machine_.registry.Find(JoinPath(kSharedUsageKey, "s.dll"));
    ASSERT_NE(usage, nullptr) << c.what;
    EXPECT_EQ(usage->Find("P") ? usage->Find("P")->data : "(none)", kInstall) << c.what;
    EXPECT_EQ(usage->Find("") ? usage->Find("")->data : "(none)", kShared) << c.what;
  }
}

TEST_F(Model, RemovedSharedFileGoesWithItsLastUse) {
  struct {
    const char* what;
    const char* count;  // "" for none
    std::vector<std::string> users;
    const char* expectedContent;
    const char* expectedCount;
    bool usageKeyStays;
  } cases[] = {
      {"count 3", "3", {"P"}, "shared/s.dll", "2", false},
      {"count 2, another product", "2", {"P", "Other"}, "shared/s.dll", "1", true},
      {"count 1", "1", {"P"}, "(absent)", "(none)", false},
      {"count 0", "0", {"P"}, "(absent)", "(none)", false},
      {"count without digits", "x", {"P"}, "(absent)", "(none)", false},
      {"count of ten characters reads as none", "0000000001", {"P"}, "shared/s.dll", "0000000001", false},
  };
  for (const auto& c : cases) {
    machine_ = ModelMachine{};
    SetUp();
    OnMachine("C:\\App\\app.exe", "old/app.exe");
    NewFile("app.exe", "2");
    OnMachine("C:\\Shared\\s.dll", "shared/s.dll", "1.0");
    Count("s.dll", c.count, c.users);
    const auto r = Run(Blocks("", "block 3100 \"1\"\n  s.dll\nblock 4000 \"1\"\n  app.exe\n"));
    ASSERT_TRUE(r.ok) << c.what << ": " << r.failure;
    EXPECT_EQ(ContentOf("C:\\Shared\\s.dll"), c.expectedContent) << c.what;
    EXPECT_EQ(CountOf("s.dll"), c.expectedCount) << c.what;
    const RegKey* usage = machine_.registry.Find(JoinPath(kSharedUsageKey, "s.dll"));
    EXPECT_EQ(usage != nullptr, c.usageKeyStays) << c.what;
    if (usage) {
      EXPECT_EQ(usage->Find("P"), nullptr) << c.what << ": this product's value is removed";
    }
  }
}

// A file in both blocks whose last use goes: its count is deleted and its
// deletion queued, then it is added back. The addition's record is carried
// out first, so a newer payload copy survives the deletion, while a payload
// copy of the same version leaves the shared directory without the file.
TEST_F(Model, FileStoppedAndAddedAgain) {
  struct {
    const char* payload;
    const char* expectedContent;
  } cases[] = {{"1.1", "new/s.dll"}, {"1.0", "(absent)"}};
  for (const auto& c : cases) {
    machine_ = ModelMachine{};
    SetUp();
    OnMachine("C:\\App\\app.exe", "old/app.exe");
    NewFile("app.exe", "2");
    NewFile("s.dll", c.payload);
    OnMachine("C:\\Shared\\s.dll", "shared/s.dll", "1.0");
    Count("s.dll", "1", {"P"});
    const auto r = Run(Blocks(Payload({"s.dll"}), "block 3000 \"1\"\n  s.dll\nblock 3100 \"1\"\n  s.dll\n"
                                                  "block 4000 \"1\"\n  app.exe\n"));
    ASSERT_TRUE(r.ok) << r.failure;
    EXPECT_EQ(ContentOf("C:\\Shared\\s.dll"), c.expectedContent) << "payload " << c.payload;
    EXPECT_EQ(CountOf("s.dll"), "1") << "payload " << c.payload;
  }
}

TEST_F(Model, SharedMoveIgnoresVersions) {
  OnMachine("C:\\App\\app.exe", "old/app.exe");
  NewFile("app.exe", "2");
  NewFile("run.dll", "1.0");
  OnMachine("C:\\Shared\\run.dll", "shared/run.dll", "9.0");
  const auto r = Run(Blocks(Payload({"run.dll"}), "block 4000 \"1\"\n  app.exe\nblock 5000 \"1\"\n  run.dll\n"));
  ASSERT_TRUE(r.ok) << r.failure;
  EXPECT_EQ(ContentOf("C:\\Shared\\run.dll"), "new/run.dll");
}

TEST_F(Model, RunsTheInstallerWouldNotFinish) {
  struct {
    const char* what;
    std::function<void(Model&)> setup;
    std::string blocks;
    const char* failure;
  } cases[] = {
      {"usage key missing for a removed file", [](Model&) {},
       "block 3100 \"1\"\n  s.dll\nblock 4000 \"1\"\n  app.exe\n", "(message 203)"},
      {"count stored as a number",
       [](Model& m) {
         m.Count("s.dll", "1", {"P"});
         m.machine_.registry.Find(kSharedDllsKey)->Find(JoinPath(kShared, "s.dll"))->isString = false;
       },
       "block 3100 \"1\"\n  s.dll\nblock 4000 \"1\"\n  app.exe\n", "(message 203)"},
      {"payload copy without a version", [](Model& m) { m.newFiles_.insert("s.dll"); },
       "block 1000 \"1\"\n  s.dl_ s.dll\nblock 3000 \"1\"\n  s.dll\nblock 4000 \"1\"\n  app.exe\n", "(message 203)"},
      {"installed file missing", [](Model& m) { m.machine_.Erase("C:\\App\\app.exe"); },
       "block 4000 \"1\"\n  app.exe\n", "staging copy"},
  };
  for (const auto& c : cases) {
    machine_ = ModelMachine{};
    newFiles_.clear();
    versions_.clear();
    SetUp();
    OnMachine("C:\\App\\app.exe", "old/app.exe");
    NewFile("app.exe", "2");
    c.setup(*this);
    const std::string blocks =
        c.blocks.rfind("block 1000", 0) == 0
            ? c.blocks.substr(0, c.blocks.find("block 3000")) + "block 2000 \"1\"\n  app.exe\n" +
                  c.blocks.substr(c.blocks.find("block 3000"))
            : Blocks("", c.blocks);
    const auto r = Run(blocks);
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_NE(r.failure.find(c.failure), std::string::npos) << c.what << ": got \"" << r.failure << "\"";
  }
}

}  // namespace
}  // namespace patchbuild
