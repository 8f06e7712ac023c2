// The description checked against a machine image and the new files.
#include "machine.h"

#include <gtest/gtest.h>

#include <fstream>

#include "scratch_dir.h"

namespace fs = std::filesystem;

namespace patchbuild {
namespace {

TEST(JoinPath, AddsOneBackslash) {
  struct {
    const char *dir, *name, *joined;
  } cases[] = {{"C:\\Program Files\\Q", "a.dll", "C:\\Program Files\\Q\\a.dll"},
               {"C:\\", "a.dll", "C:\\a.dll"},
               {"", "a.dll", "a.dll"}};
  for (const auto& c : cases) EXPECT_EQ(JoinPath(c.dir, c.name), c.joined) << c.dir;
}

// A machine image in a temporary folder: install and shared directories
// from the registry, files as named.
class MachineCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_.Path();
    newDir_ = root_ / "new";
    fs::create_directories(newDir_);
  }

  void Touch(const fs::path& p) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "not a PE file";
  }

  void WriteMachine(const std::string& installDir) {
    std::string escaped;
    for (char c : installDir) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    std::ofstream(root_ / "machine.reg")
        << "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Quenmark\\InstalledApps]\n\"P\"=\"" << escaped
        << "\"\n[HKEY_LOCAL_MACHINE\\Software\\Quenmark\\SharedUsage]\n\"Location1\"=\"C:\\\\Shared\"\n";
    Touch(*HostPathOnDriveC(root_ / "drive_c", installDir + "\\WF.EXE"));
    Touch(root_ / "drive_c" / "Shared" / "old.dll");
    Touch(newDir_ / "wf.exe");
    Touch(newDir_ / "lib.dll");
  }

  std::vector<Diagnostic> Check(const std::string& description) {
    std::vector<Diagnostic> diagnostics;
    Description d;
    ParseDescription(description, "t.patch", d, diagnostics);
    EXPECT_TRUE(diagnostics.empty()) << diagnostics[0].Text();
    MachineImage machine;
    std::string error;
    EXPECT_TRUE(LoadMachineImage(root_, "P", machine, &error)) << error;
    CheckAgainstMachine(d, machine, newDir_, diagnostics);
    return diagnostics;
  }

  static std::string Text(const std::string& stagedName, const std::string& payloadName,
                                 const std::string& removedName) {
    return "product-name P\nregistry-name P\nversion-check " + stagedName +
           "\nexpected-version \"VERSION 1\"\nnew-version 2\n"
           "block 1000 \"1\"\n  " + payloadName.substr(0, payloadName.size() - 1) + "_ " + payloadName +
           "\nblock 2000 \"1\"\n  " + stagedName + "\nblock 3100 \"1\"\n  " + removedName +
           "\nblock 4000 \"2\"\n  " + stagedName + "\n  " + payloadName + "\n";
  }

  static bool Has(const std::vector<Diagnostic>& diagnostics, int line, const std::string& part) {
    for (const auto& d : diagnostics)
      if (d.line == line && d.message.find(part) != std::string::npos) return true;
    return false;
  }
  static std::string All(const std::vector<Diagnostic>& diagnostics) {
    std::string s;
    for (const auto& d : diagnostics) s += "  " + d.Text() + "\n";
    return s;
  }

  ScratchDir scratch_{"patchbuild-machine"};
  fs::path root_, newDir_;
};

TEST_F(MachineCheck, FilesAreFoundWithoutRegardToCase) {
  WriteMachine("C:\\Program Files\\Q");
  const auto diagnostics = Check(Text("wf.exe", "LIB.DLL", "Old.Dll"));
  // Only the version check remains: these files are not PE files.
  ASSERT_EQ(diagnostics.size(), 1u) << All(diagnostics);
  EXPECT_TRUE(Has(diagnostics, 4, "no readable ProductVersion")) << All(diagnostics);
}

TEST_F(MachineCheck, UnknownFilesAreRefusedOnTheirLine) {
  WriteMachine("C:\\Program Files\\Q");
  struct {
    std::string staged, payload, removed;
    int line;
    std::string message;
  } cases[] = {
      {"wf2.exe", "lib.dll", "old.dll", 9, "unknown file \"wf2.exe\": not in the install directory C:\\Program Files\\Q"},
      {"wf2.exe", "lib.dll", "old.dll", 9, "unknown file \"wf2.exe\": no new version"},
      {"wf.exe", "lib2.dll", "old.dll", 7, "unknown file \"lib2.dll\": not in"},
      {"wf.exe", "lib.dll", "gone.dll", 11, "unknown file \"gone.dll\": not in the shared directory C:\\Shared"},
  };
  for (const auto& c : cases) {
    const auto diagnostics = Check(Text(c.staged, c.payload, c.removed));
    EXPECT_TRUE(Has(diagnostics, c.line, c.message)) << "expected line " << c.line << ": " << c.message
                                                     << "\ngot:\n" << All(diagnostics);
  }
}

TEST_F(MachineCheck, PathsThatOutgrowTheBuffersAreRefused) {
  // 226 characters of install directory: with "\PatchB2C\" (10) and a
  // 24-character name the patch directory path is 260 characters.
  const std::string install = "C:\\" + std::string(100, 'd') + "\\" + std::string(122, 'e');
  ASSERT_EQ(install.size(), 226u);
  WriteMachine(install);
  const std::string name = std::string(20, 'n') + ".dll";
  Touch(newDir_ / name);
  const auto diagnostics = Check(Text("wf.exe", name, "old.dll"));
  EXPECT_TRUE(Has(diagnostics, 7, "makes a path of 260 characters")) << All(diagnostics);
  EXPECT_FALSE(Has(diagnostics, 9, "makes a path")) << "wf.exe fits:\n" << All(diagnostics);
}

TEST(MachineImage, RefusesAnImageWithoutTheProbeValues) {
  const ScratchDir scratch("patchbuild-image");
  const fs::path root = scratch.Path();
  fs::create_directories(root / "drive_c");
  std::ofstream(root / "machine.reg") << "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Quenmark\\InstalledApps]\n\"P\"=\"C:\\\\P\"\n";
  MachineImage machine;
  std::string error;
  EXPECT_FALSE(LoadMachineImage(root, "P", machine, &error));
  EXPECT_NE(error.find("Location1"), std::string::npos) << error;
  EXPECT_FALSE(LoadMachineImage(root, "Other", machine, &error));
  EXPECT_NE(error.find("\"Other\""), std::string::npos) << error;
}

}  // namespace
}  // namespace patchbuild
