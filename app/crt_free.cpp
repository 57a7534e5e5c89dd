// The two memory routines the compiler may call on its own (structure copies
// and clears). Only the installer links this file; programs with a C runtime
// use the runtime's.
#include <stddef.h>

extern "C" void *memset(void *dest, int value, size_t count)
{
    unsigned char *d = (unsigned char *)dest;
    while (count--)
        *d++ = (unsigned char)value;
    return dest;
}

extern "C" void *memcpy(void *dest, const void *src, size_t count)
{
    unsigned char *d = (unsigned char *)dest;
    const unsigned char *s = (const unsigned char *)src;
    while (count--)
        *d++ = *s++;
    return dest;
}
