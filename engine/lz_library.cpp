// Run-time binding of the LZ expand functions from the system folder.
#include "engine.h"

LZOpenFileAProc g_LZOpenFileA;
LZCopyProc g_LZCopy;
LZCloseProc g_LZClose;

int BindLzLibrary(void)
{
    char path[MAX_PATH];
    UINT length;
    HMODULE lz;

    if (g_LZOpenFileA && g_LZCopy && g_LZClose)
        return 1;

    // Only the copy in the system folder, by its full path. The module stays
    // loaded for the rest of the process: the pointers refer into it.
    length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + sizeof("\\lz32.dll") > MAX_PATH)
        return 0;
    lstrcatA(path, "\\lz32.dll");
    lz = LoadLibraryA(path);
    if (!lz)
        return 0;
    if (!g_LZOpenFileA)
        g_LZOpenFileA = (LZOpenFileAProc)(void *)GetProcAddress(lz, "LZOpenFileA");
    if (!g_LZCopy)
        g_LZCopy = (LZCopyProc)(void *)GetProcAddress(lz, "LZCopy");
    if (!g_LZClose)
        g_LZClose = (LZCloseProc)(void *)GetProcAddress(lz, "LZClose");
    return g_LZOpenFileA && g_LZCopy && g_LZClose;
}
