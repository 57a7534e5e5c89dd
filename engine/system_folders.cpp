// The system's own folders are never an installation folder: the run would
// put its files among the system's and replace the system's copy of a runtime
// library with the package's. They are compared as folders, by volume and
// file index, so that every spelling of one is caught: case, "." and ".."
// segments, a trailing backslash, a short name, and the system folder that a
// 32-bit process sees under another name on 64-bit Windows.
#include "engine.h"

#ifndef FILE_READ_ATTRIBUTES
#define FILE_READ_ATTRIBUTES 0x0080
#endif

// The volume serial number and file index of the folder at path; 0 when it
// cannot be opened or says nothing.
static int FolderIdentity(const char *path, BY_HANDLE_FILE_INFORMATION *info)
{
    HANDLE folder = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    int known;

    if (folder == INVALID_HANDLE_VALUE)
        return 0;
    known = GetFileInformationByHandle(folder, info) != 0;
    CloseHandle(folder);
    return known;
}

int IsSystemFolder(const char *folder)
{
    static const char native[] = "\\Sysnative";
    BY_HANDLE_FILE_INFORMATION target, system;
    char path[MAX_PATH + sizeof(native)];
    UINT length;
    int i;

    // A folder that does not exist yet is none of them. The others: the
    // Windows folder, the system folder (for a 32-bit process on 64-bit
    // Windows, the 32-bit one), and the 64-bit one, which such a process
    // reaches as Windows\Sysnative; elsewhere that name does not exist.
    if (!FolderIdentity(folder, &target))
        return 0;
    for (i = 0; i < 3; i++) {
        length = i == 1 ? GetSystemDirectoryA(path, MAX_PATH) : GetSystemWindowsDirectoryA(path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            continue;
        if (i == 2)
            lstrcatA(path, native);
        if (FolderIdentity(path, &system) && system.dwVolumeSerialNumber == target.dwVolumeSerialNumber
            && system.nFileIndexHigh == target.nFileIndexHigh && system.nFileIndexLow == target.nFileIndexLow)
            return 1;
    }
    return 0;
}
