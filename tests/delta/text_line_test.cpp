// The patcher's bounded output lines: its only number formatting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "text_line.h"

namespace {

TEST(TextLineTest, DecimalAndHexadecimal) {
    struct Case {
        DWORD value;
        const char *decimal;
        const char *hex;
    } cases[] = {
        {0, "0", "00000000"},
        {7, "7", "00000007"},
        {10, "10", "0000000A"},
        {1281953886u, "1281953886", "4C69105E"},
        {0xFFFFFFFFu, "4294967295", "FFFFFFFF"},  // ten digits, the most there are
    };
    for (const Case &c : cases) {
        TextLine line;
        TextLineClear(&line);
        TextLineAppendDecimal(&line, c.value);
        TextLineAppend(&line, "|");
        TextLineAppendHex8(&line, c.value);
        EXPECT_EQ(std::string(c.decimal) + "|" + c.hex, line.text) << "value " << c.value;
        EXPECT_EQ(static_cast<int>(std::string(line.text).size()), line.length);
    }
}

// A line longer than the buffer is cut at capacity - 1, terminated; the
// bytes after the struct are never touched.
TEST(TextLineTest, LongLinesAreCutNotOverrun) {
    struct Guarded {
        TextLine line;
        char canary[16];
    } guarded;
    std::memset(guarded.canary, 0x5A, sizeof guarded.canary);
    TextLineClear(&guarded.line);
    const std::string chunk(100, 'x');
    for (int i = 0; i < 10; ++i) TextLineAppend(&guarded.line, chunk.c_str());
    TextLineAppendDecimal(&guarded.line, 123456);
    TextLineAppendHex8(&guarded.line, 0xABCDEF01u);
    EXPECT_EQ(TEXT_LINE_CAPACITY - 1, guarded.line.length);
    EXPECT_EQ(std::string(TEXT_LINE_CAPACITY - 1, 'x'), guarded.line.text);
    for (char c : guarded.canary) ASSERT_EQ(0x5A, c) << "canary overwritten";
}

}  // namespace
