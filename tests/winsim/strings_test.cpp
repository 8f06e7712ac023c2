// The string functions the installer uses instead of the C runtime, where
// winsim's behaviour is not obvious: double-byte walking and wsprintfA.
#include <cstring>
#include <string>

#include "test_machine.h"

namespace {

class StringsTest : public MachineTest {};

TEST_F(StringsTest, CharNextAndCharPrevStepOverDoubleByteCharacters) {
    winsim::SetCodePage(932);
    // "a", a double-byte character with trail byte "\", "b", then a lead byte
    // cut off by the terminator.
    const char text[] = "a\x95\x5c" "b\x95";
    const char *p = text;
    p = CharNextA(p);
    EXPECT_EQ(text + 1, p);
    p = CharNextA(p);
    EXPECT_EQ(text + 3, p);   // both bytes of the character at once
    p = CharNextA(p);
    EXPECT_EQ(text + 4, p);
    p = CharNextA(p);
    EXPECT_EQ(text + 5, p);   // a lone lead byte never steps over the end
    EXPECT_EQ(text + 5, CharNextA(p));

    EXPECT_EQ(text + 3, CharPrevA(text, text + 4));
    EXPECT_EQ(text + 1, CharPrevA(text, text + 3));  // not onto the trail byte
    EXPECT_EQ(text, CharPrevA(text, text));

    winsim::SetCodePage(1252);
    EXPECT_EQ(text + 2, CharNextA(text + 1));
    EXPECT_EQ(text + 2, CharPrevA(text, text + 3));
}

TEST_F(StringsTest, LstrcmpiFoldsOnlySingleByteLetters) {
    EXPECT_EQ(0, lstrcmpiA("VERSION 95.0.b", "version 95.0.B"));
    EXPECT_NE(0, lstrcmpiA("VERSION 95.0.b", "VERSION 95.0.b "));
    winsim::SetCodePage(932);
    // Two double-byte characters whose trail bytes are the codes of "A" and
    // "a" are different characters, not one letter in two cases.
    EXPECT_NE(0, lstrcmpiA("\x82\x41", "\x82\x61"));
}

TEST_F(StringsTest, LstrcpynAlwaysTerminatesWithinTheLength) {
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    lstrcpynA(buffer, "abcdefgh", 5);
    EXPECT_STREQ("abcd", buffer);
    EXPECT_EQ('#', buffer[5]);
}

TEST_F(StringsTest, WsprintfFormatsTheConversionsTheInstallerUses) {
    char out[1100];
    struct Case {
        std::string got, expected;
    };
    auto fmt = [&](int n) { return std::string(out, static_cast<size_t>(n)); };
    const Case cases[] = {
        {fmt(wsprintfA(out, "\\StringFileInfo\\%04x%04x\\ProductVersion", 0x0409, 0x04E4)),
         "\\StringFileInfo\\040904e4\\ProductVersion"},
        {fmt(wsprintfA(out, "( %s ) %s", "VERSION 95.0.a", "VERSION 95.0.b")),
         "( VERSION 95.0.a ) VERSION 95.0.b"},
        {fmt(wsprintfA(out, "%d|%u|%lu|%i", -5, 4294967295u, 7u, 0)), "-5|4294967295|7|0"},
        {fmt(wsprintfA(out, "%5d|%-4s|%05d|%X|%c|%%", 42, "ab", -42, 0xBEEFu, 'z')),
         "   42|ab  |-0042|BEEF|z|%"},
        {fmt(wsprintfA(out, "%.3s", "abcdef")), "abc"},
    };
    for (const Case &c : cases) EXPECT_EQ(c.expected, c.got);
    // Output stops at 1024 characters with the terminator, as on Windows.
    const std::string longText(2000, 'y');
    EXPECT_EQ(1023, wsprintfA(out, "%s", longText.c_str()));
    EXPECT_EQ('\0', out[1023]);
}

}  // namespace
