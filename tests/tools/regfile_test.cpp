// The REGEDIT4 reader and writer behind machine.reg.
#include "regfile.h"

#include <gtest/gtest.h>

namespace patchbuild {
namespace {

TEST(Regedit4, ReadsStringsEscapesDefaultsAndOtherTypes) {
  const std::string text =
      "REGEDIT4\r\n\r\n; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Quenmark\\InstalledApps]\r\n"
      "\"Tolvane Wayfront\"=\"C:\\\\Program Files\\\\Quenmark\\\\Wayfront\"\r\n"
      "@=\"say \\\"hi\\\"\"\r\n"
      "\"Count\"=dword:00000003\n";
  Registry r;
  std::string error;
  ASSERT_TRUE(ParseRegedit4(text, r, &error)) << error;
  const RegKey* key = r.Find("hkey_local_machine\\SOFTWARE\\quenmark\\installedapps");
  ASSERT_NE(key, nullptr) << "key names compare without regard to case";
  ASSERT_NE(key->Find("tolvane wayfront"), nullptr);
  EXPECT_EQ(key->Find("Tolvane Wayfront")->data, "C:\\Program Files\\Quenmark\\Wayfront");
  ASSERT_NE(key->Find(""), nullptr);
  EXPECT_EQ(key->Find("")->data, "say \"hi\"");
  ASSERT_NE(key->Find("Count"), nullptr);
  EXPECT_FALSE(key->Find("Count")->isString);
  EXPECT_EQ(key->Find("Count")->data, "dword:00000003");
  EXPECT_NE(r.Find("HKEY_LOCAL_MACHINE\\Software\\Quenmark"), nullptr) << "parents exist";
}

TEST(Regedit4, WrittenTextReadsBackTheSame) {
  Registry r;
  r.Create("HKEY_LOCAL_MACHINE\\Software\\Q\\A").SetString("", "C:\\x \"y\"");
  r.Create("HKEY_LOCAL_MACHINE\\Software\\Q\\A").SetString("n", "1");
  r.Create("HKEY_LOCAL_MACHINE\\Software\\Q\\B").values.push_back({"d", false, "dword:00000001"});
  const std::string text = WriteRegedit4(r);
  EXPECT_EQ(text.find("[HKEY_LOCAL_MACHINE]"), std::string::npos) << "the hive itself is not written";
  Registry back;
  std::string error;
  ASSERT_TRUE(ParseRegedit4(text, back, &error)) << error << "\n" << text;
  EXPECT_EQ(WriteRegedit4(back), text);
}

TEST(Regedit4, RefusesWhatItCannotRead) {
  struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"", "line 0: empty file"},
      {"Windows Registry Editor Version 5.00\n", "line 1: expected the header"},
      {"REGEDIT4\n\"a\"=\"b\"\n", "line 2: value before any key"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"b\n", "line 3: unterminated"},
      {"REGEDIT4\n[-HKEY_LOCAL_MACHINE\\X]\n", "line 2: key deletions"},
  };
  for (const auto& c : cases) {
    Registry r;
    std::string error;
    EXPECT_FALSE(ParseRegedit4(c.text, r, &error)) << c.text;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << "got \"" << error << "\", expected it to begin \"" << c.error << "\"";
  }
}

TEST(Registry, DeleteLeafOnlyDeletesKeysWithoutSubkeys) {
  Registry r;
  r.Create("HKEY_LOCAL_MACHINE\\S\\a\\b");
  r.Create("HKEY_LOCAL_MACHINE\\S\\ab");
  EXPECT_FALSE(r.DeleteLeaf("HKEY_LOCAL_MACHINE\\S\\a")) << "has a subkey";
  EXPECT_TRUE(r.DeleteLeaf("HKEY_LOCAL_MACHINE\\S\\A\\B"));
  EXPECT_TRUE(r.DeleteLeaf("HKEY_LOCAL_MACHINE\\S\\a")) << "a sibling named ab is not a subkey";
  EXPECT_FALSE(r.DeleteLeaf("HKEY_LOCAL_MACHINE\\S\\a")) << "already gone";
  EXPECT_NE(r.Find("HKEY_LOCAL_MACHINE\\S\\ab"), nullptr);
}

}  // namespace
}  // namespace patchbuild
