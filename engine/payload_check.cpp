// The payloads as the build recorded them. The SZDD format carries no check of
// its own: a damaged copy of the installer (a broken download or medium)
// would expand into damaged files of the right length, and the run would
// report success. So every payload is read once before anything is made.
#include "engine.h"
#include "messages.h"

// CRC-32 (the reflected polynomial 0xEDB88320), as the build computes it.
static DWORD Crc32(const DWORD *table, const BYTE *data, DWORD size)
{
    DWORD crc = 0xFFFFFFFF;

    while (size--)
        crc = table[(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

int CheckPayloads(void)
{
    DWORD table[256];
    const void *data;
    DWORD size, c;
    int i, bit;

    for (i = 0; i < 256; i++) {
        c = i;
        for (bit = 0; bit < 8; bit++)
            c = (c >> 1) ^ (0xEDB88320 & (0 - (c & 1)));
        table[i] = c;
    }
    for (i = 0; i < PACKAGE_ENTRY_COUNT; i++) {
        if (!LoadPayload(i, &data, &size))
            return 0;
        if (Crc32(table, (const BYTE *)data, size) != PayloadChecksums[i]) {
            ShowMessage(MSG_DAMAGED, NULL, 0, MB_OK);
            return 0;
        }
    }
    return 1;
}
