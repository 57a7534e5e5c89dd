// Shortcuts of an entry: one in the Start menu's program group, one on the
// desktop. A convenience: no failure here stops the installation.
#include "engine.h"
#include <shlobj.h>

// Defined here so that nothing depends on the uuid library.
static const GUID g_ClsidShellLink =
    { 0x00021401, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } };
static const GUID g_IidShellLinkA =
    { 0x000214EE, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } };
static const GUID g_IidPersistFile =
    { 0x0000010B, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } };

void PlaceShortcuts(PackageEntry *entry, const char *target, int addToStartMenu, int addToDesktop)
{
    IMalloc *allocator = NULL;
    LPITEMIDLIST list;
    char path[MAX_PATH];

    if (!entry->desktopLinkName)
        return;
    if (FAILED(SHGetMalloc(&allocator)))
        allocator = NULL;

    if (addToStartMenu && allocator && entry->startMenuLinkName
        && SHGetSpecialFolderLocation(g_hDlg, CSIDL_PROGRAMS, &list) == S_OK) {
        if (SHGetPathFromIDListA(list, path) && AppendPathName(path, PackageConfig.ProgramGroupName)
            && CreateFolderTree(path))
            CreateShortcut(target, path, entry->startMenuLinkName);
        allocator->Free(list);
    }

    if (addToDesktop && SHGetSpecialFolderLocation(g_hDlg, CSIDL_DESKTOPDIRECTORY, &list) == S_OK) {
        if (SHGetPathFromIDListA(list, path))
            CreateShortcut(target, path, entry->desktopLinkName);
        if (allocator)
            allocator->Free(list);
        else
            CoTaskMemFree(list);
    }

    if (allocator)
        allocator->Release();
}

int CreateShortcut(const char *target, const char *folder, const char *name)
{
    IShellLinkA *link;
    IPersistFile *file;
    char path[MAX_PATH];
    WCHAR widePath[MAX_PATH];
    int result = 0;

    // folder\name.lnk must fit a path buffer; a shorter name would be another file.
    if (lstrlenA(folder) + 1 + lstrlenA(name) + 4 >= MAX_PATH)
        return 0;

    if (FAILED(CoCreateInstance(g_ClsidShellLink, NULL, CLSCTX_INPROC_SERVER, g_IidShellLinkA,
                                (void **)&link)))
        return 0;
    link->SetPath(target);
    link->SetDescription(name);
    if (SUCCEEDED(link->QueryInterface(g_IidPersistFile, (void **)&file))) {
        lstrcpyA(path, folder);
        lstrcatA(path, "\\");
        lstrcatA(path, name);
        lstrcatA(path, ".lnk");
        // An unconverted buffer is no file name: then nothing is saved.
        if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH))
            file->Save(widePath, TRUE);
        file->Release();
        result = 1;
    }
    link->Release();
    return result;
}
