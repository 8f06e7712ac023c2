// patch.exe's command line, as GetCommandLineA gives it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "command_line.h"

namespace {

TEST(CommandLineTest, TheOneArgumentAfterTheProgram) {
    struct Case {
        const char *commandLine;
        bool ok;
        const char *argument;
    } cases[] = {
        // How the installer starts it: short path, current directory the patch dir.
        {"C:\\PROGRA~1\\QUENMARK\\WAYFRO~1\\WFPATCH\\patch.exe patch.rtp", true, "patch.rtp"},
        {"\"C:\\Program Files\\Quenmark\\Wayfront\\wfpatch\\patch.exe\" patch.rtp", true, "patch.rtp"},
        {"patch.exe \"my patch.rtp\"", true, "my patch.rtp"},
        {"  patch.exe\t patch.rtp  ", true, "patch.rtp"},           // blanks around
        {"\"patch.exe\"patch.rtp", true, "patch.rtp"},               // as cmd.exe may pass it
        {"patch.exe", false, ""},                                    // no argument
        {"patch.exe   ", false, ""},
        {"\"C:\\a b\\patch.exe", false, ""},                         // unterminated quote eats all
        {"patch.exe \"\"", false, ""},                               // empty argument
        {"patch.exe a.rtp b.rtp", false, ""},                        // two arguments
        {"", false, ""},
        // Shift-JIS names: no trail byte is a blank or a quote.
        {"patch.exe \x83\x70\x83\x62\x83\x60.rtp", true, "\x83\x70\x83\x62\x83\x60.rtp"},
    };
    for (const Case &c : cases) {
        char buffer[32];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(c.ok ? TRUE : FALSE, PatchArgument(c.commandLine, buffer, sizeof buffer))
            << "command line [" << c.commandLine << "]";
        EXPECT_STREQ(c.argument, buffer) << "command line [" << c.commandLine << "]";
    }
}

TEST(CommandLineTest, ArgumentsThatDoNotFitAreRefused) {
    const std::string exact(9, 'a');  // 9 characters + terminator = 10
    struct Case {
        int capacity;
        bool ok;
    } cases[] = {{10, true}, {9, false}, {1, false}, {0, false}};
    for (const Case &c : cases) {
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        const std::string line = "patch.exe " + exact;
        EXPECT_EQ(c.ok ? TRUE : FALSE, PatchArgument(line.c_str(), buffer, c.capacity))
            << "capacity " << c.capacity;
        for (int i = c.capacity; i < 16; ++i)
            ASSERT_EQ('#', buffer[i]) << "capacity " << c.capacity << ": byte " << i << " written";
        if (c.ok) {
            EXPECT_EQ(exact, buffer);
        }
    }
}

}  // namespace
