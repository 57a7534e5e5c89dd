// Shortcuts of an entry: one in the Start menu's program group, one on the
// desktop. A convenience: no failure here stops the installation. The two
// folders (everyone's, or the user's own) are taken by their exact (UTF-16)
// paths: the code page's best fit would turn a name it lacks into another
// folder's.
#include "engine.h"
#include <shlobj.h>

// The built-in Administrators group (S-1-5-32-544).
static const struct { BYTE revision, count, authority[6]; DWORD rid[2]; } g_Administrators =
    { SID_REVISION, 2, { 0, 0, 0, 0, 0, 5 }, { SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS } };

// Whether the run has the administrator's rights: the group is enabled in its
// token (elevated, or an administrator without UAC), not only present for denial.
static int HasAdministratorRights(void)
{
    BOOL member = FALSE;

    return CheckTokenMembership(NULL, (PSID)&g_Administrators, &member) && member;
}

int g_ComStarted;

void StartCom(void)
{
    if (!g_ComStarted)
        g_ComStarted = SUCCEEDED(CoInitialize(NULL)) ? 1 : -1;
}

void PlaceShortcuts(PackageEntry *entry, const char *target, int addToStartMenu, int addToDesktop)
{
    IMalloc *allocator = NULL;
    LPITEMIDLIST list;
    WCHAR path[MAX_PATH];
    int programs = CSIDL_PROGRAMS, desktop = CSIDL_DESKTOPDIRECTORY;

    if (!entry->desktopLinkName)
        return;
    // An administrative installation is for everyone who uses the computer,
    // whichever account approved it: its links go into the common folders.
    if (HasAdministratorRights()) {
        programs = CSIDL_COMMON_PROGRAMS;
        desktop = CSIDL_COMMON_DESKTOPDIRECTORY;
    }
    StartCom();
    if (FAILED(SHGetMalloc(&allocator)))
        allocator = NULL;

    if (addToStartMenu && allocator && entry->startMenuLinkName
        && SHGetSpecialFolderLocation(g_hDlg, programs, &list) == S_OK) {
        // The shell names only a folder that exists: the group is the one
        // folder that may be missing.
        if (SHGetPathFromIDListW(list, path) && AppendWideName(path, PackageConfig.ProgramGroupName)
            && CreateWideFolder(path))
            CreateShortcut(target, path, entry->startMenuLinkName);
        allocator->Free(list);
    }

    if (addToDesktop && SHGetSpecialFolderLocation(g_hDlg, desktop, &list) == S_OK) {
        if (SHGetPathFromIDListW(list, path))
            CreateShortcut(target, path, entry->desktopLinkName);
        if (allocator)
            allocator->Free(list);
        else
            CoTaskMemFree(list);
    }

    if (allocator)
        allocator->Release();
}

int CreateShortcut(const char *target, WCHAR *path, const char *name)
{
    IShellLinkA *link;
    IPersistFile *file;
    int result = 0;

    // folder\name.lnk must fit the path buffer; a shorter name would be another file.
    if (!AppendWideName(path, name) || lstrlenW(path) + 4 >= MAX_PATH)
        return 0;
    lstrcatW(path, L".lnk");

    if (FAILED(CoCreateInstance(g_ClsidShellLink, NULL, CLSCTX_INPROC_SERVER, g_IidShellLinkA,
                                (void **)&link)))
        return 0;
    link->SetPath(target);
    link->SetDescription(name);
    if (SUCCEEDED(link->QueryInterface(g_IidPersistFile, (void **)&file))) {
        file->Save(path, TRUE);
        file->Release();
        result = 1;
    }
    link->Release();
    return result;
}
