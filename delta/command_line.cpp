// Splitting the command line byte by byte is safe in double-byte code
// pages too: the quote and the blanks are below 0x40, and no trail byte of
// code page 932 is. CharNextA would be the usual step, but it lives in
// user32, which patch.exe does not import.
#include "command_line.h"

static BOOL IsBlank(CHAR c) { return c == ' ' || c == '\t'; }

static LPCSTR SkipBlanks(LPCSTR p)
{
    while (IsBlank(*p))
        ++p;
    return p;
}

// Steps over one token, quoted or not. *start and *length give its text
// without the quotes.
static LPCSTR NextToken(LPCSTR p, LPCSTR *start, int *length)
{
    if (*p == '"') {
        *start = ++p;
        while (*p && *p != '"')
            ++p;
        *length = (int)(p - *start);
        if (*p == '"')
            ++p;
    } else {
        *start = p;
        while (*p && !IsBlank(*p))
            ++p;
        *length = (int)(p - *start);
    }
    return p;
}

BOOL PatchArgument(LPCSTR commandLine, LPSTR buffer, int capacity)
{
    if (capacity <= 0)
        return FALSE;
    buffer[0] = 0;
    if (!commandLine)
        return FALSE;
    LPCSTR start;
    int length;
    LPCSTR p = NextToken(SkipBlanks(commandLine), &start, &length);  // the program
    p = SkipBlanks(p);
    if (!*p)
        return FALSE;
    p = NextToken(p, &start, &length);
    if (length == 0 || length >= capacity)
        return FALSE;
    if (*SkipBlanks(p))
        return FALSE;  // a second argument: not a command line we were given
    for (int i = 0; i < length; ++i)
        buffer[i] = start[i];
    buffer[length] = 0;
    return TRUE;
}
