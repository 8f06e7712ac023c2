#include "text_line.h"

static void AppendChar(TextLine *line, CHAR c)
{
    if (line->length < TEXT_LINE_CAPACITY - 1) {
        line->text[line->length++] = c;
        line->text[line->length] = 0;
    }
}

void TextLineClear(TextLine *line)
{
    line->length = 0;
    line->text[0] = 0;
}

void TextLineAppend(TextLine *line, LPCSTR text)
{
    while (*text)
        AppendChar(line, *text++);
}

void TextLineAppendDecimal(TextLine *line, DWORD value)
{
    CHAR digits[10];  // 4294967295 has ten
    int count = 0;
    do {
        digits[count++] = (CHAR)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        AppendChar(line, digits[--count]);
}

void TextLineAppendHex8(TextLine *line, DWORD value)
{
    static const CHAR kHex[] = "0123456789ABCDEF";
    for (int shift = 28; shift >= 0; shift -= 4)
        AppendChar(line, kHex[(value >> shift) & 0x0F]);
}
