// The number at the start of a manifest or registry text.
#include "manifest/manifest.h"

static int IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

LONG ParseCount(LPCSTR text)
{
    if (text == NULL)
        return 0;
    while (IsBlank(*text))
        text++;
    int negative = 0;
    if (*text == '+' || *text == '-') {
        negative = (*text == '-');
        text++;
    }
    // Unsigned, so that overflow wraps instead of being undefined.
    DWORD value = 0;
    while (*text >= '0' && *text <= '9') {
        value = value * 10u + (DWORD)(*text - '0');
        text++;
    }
    if (negative)
        value = 0u - value;
    return (LONG)value;
}
