// The two memory functions GCC may call on its own for structure copies and
// zero-filling, even in code that never names them. The Windows build has no
// C runtime, so they live here; this file is compiled with
// -fno-tree-loop-distribute-patterns so the loops stay loops.
#include <stddef.h>

extern "C" void *memset(void *dest, int value, size_t count)
{
    unsigned char *p = (unsigned char *)dest;
    while (count--)
        *p++ = (unsigned char)value;
    return dest;
}

extern "C" void *memcpy(void *dest, const void *source, size_t count)
{
    unsigned char *d = (unsigned char *)dest;
    const unsigned char *s = (const unsigned char *)source;
    while (count--)
        *d++ = *s++;
    return dest;
}
