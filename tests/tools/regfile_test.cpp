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
  EXPECT_EQ(key->Find("Count")->type, formats::kRegDword);
  EXPECT_EQ(key->Find("Count")->data, std::string("\3\0\0\0", 4));
  EXPECT_NE(r.Find("HKEY_LOCAL_MACHINE\\Software\\Quenmark"), nullptr) << "parents exist";
}

TEST(Regedit4, WrittenTextReadsBackTheSame) {
  Registry r;
  r.Create("HKEY_LOCAL_MACHINE\\Software\\Q\\A").SetString("", "C:\\x \"y\"");
  r.Create("HKEY_LOCAL_MACHINE\\Software\\Q\\A").SetString("n", "1");
  r.Create("HKEY_LOCAL_MACHINE\\Software\\Q\\B").values.push_back({"d", false, std::string("\1\0\0\0", 4), formats::kRegDword});
  const std::string text = WriteRegedit4(r);
  EXPECT_EQ(text.find("[HKEY_LOCAL_MACHINE]"), std::string::npos) << "the hive itself is not written";
  Registry back;
  std::string error;
  ASSERT_TRUE(ParseRegedit4(text, back, &error)) << error << "\n" << text;
  EXPECT_EQ(WriteRegedit4(back), text);
}

TEST(Regedit4, DeletionsTakeAKeyWithItsTreeOrOneValue) {
  const std::string text =
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\S\\a\\b]\n[HKEY_LOCAL_MACHINE\\S\\ab]\n\"v\"=\"1\"\n\"w\"=\"2\"\n"
      "[-HKEY_LOCAL_MACHINE\\S\\A]\n\"ignored\"=\"x\"\n[HKEY_LOCAL_MACHINE\\S\\ab]\n\"V\"=-\n";
  Registry r;
  std::string error;
  ASSERT_TRUE(ParseRegedit4(text, r, &error)) << error;
  EXPECT_EQ(r.Find("HKEY_LOCAL_MACHINE\\S\\a"), nullptr);
  EXPECT_EQ(r.Find("HKEY_LOCAL_MACHINE\\S\\a\\b"), nullptr) << "the tree goes with the key";
  const RegKey* sibling = r.Find("HKEY_LOCAL_MACHINE\\S\\ab");
  ASSERT_NE(sibling, nullptr) << "a sibling named ab is not in a's tree";
  EXPECT_EQ(sibling->Find("v"), nullptr);
  EXPECT_NE(sibling->Find("w"), nullptr);
}

TEST(Regedit4, RefusesWhatItCannotRead) {
  struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"", "line 1: the first line is not REGEDIT4"},
      {"REGEDIT4\n\"a\"=\"b\"\n", "line 2: value before any [key] line"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"b\n", "line 3: value data: missing closing quote"},
      {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n[]\n", "line 3: empty key name"},
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
