// A bounded line of text for the patcher's output, built without the C
// runtime or wsprintfA (user32, which the patcher does not import). Appends
// stop at the buffer's end: a line that does not fit is cut short, never
// overrun.
#ifndef WF_DELTA_TEXT_LINE_H
#define WF_DELTA_TEXT_LINE_H

#include "platform/win32.h"

#define TEXT_LINE_CAPACITY 512

struct TextLine {
    CHAR text[TEXT_LINE_CAPACITY];  // always terminated
    int length;
};

void TextLineClear(TextLine *line);
void TextLineAppend(TextLine *line, LPCSTR text);
// Unsigned decimal, no leading zeros.
void TextLineAppendDecimal(TextLine *line, DWORD value);
// Eight upper-case hexadecimal digits, as CRC-32 values are shown.
void TextLineAppendHex8(TextLine *line, DWORD value);

#endif
