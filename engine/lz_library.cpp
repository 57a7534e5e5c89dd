// Run-time binding of the LZ expand functions from the system folder.
#include "engine.h"

HMODULE LoadSystemLibrary(const char *name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);

    // Only the copy in the system folder, by its full path.
    if (length == 0 || length >= MAX_PATH || !AppendPathName(path, name))
        return NULL;
    return LoadLibraryA(path);
}

LZCopyProc g_LZCopy;
LZCloseProc g_LZClose;
LZInitProc g_LZInit;

int BindLzLibrary(void)
{
    static const char *const names[] = { "LZCopy", "LZClose", "LZInit" };
    void **const slots[] = { (void **)&g_LZCopy, (void **)&g_LZClose, (void **)&g_LZInit };
    HMODULE lz;
    int i, bound = 1;

    for (i = 0; i < 3; i++)
        bound = bound && *slots[i];
    if (bound)
        return 1;

    // The module stays loaded for the rest of the process: the pointers refer into it.
    lz = LoadSystemLibrary("lz32.dll");
    if (!lz)
        return 0;
    bound = 1;
    for (i = 0; i < 3; i++) {
        if (!*slots[i])
            *slots[i] = (void *)GetProcAddress(lz, names[i]);
        bound = bound && *slots[i];
    }
    return bound;
}
