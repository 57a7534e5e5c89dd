// The system's own folders are never an installation folder: the run would
// put its files among the system's and replace the system's copy of a runtime
// library with the package's. They are compared as folders, by volume and
// file index, so that every spelling of one is caught: case, "." and ".."
// segments, a trailing backslash, a short name, and the system folder that a
// 32-bit process sees under another name on 64-bit Windows.
#include "engine.h"
#include "messages.h"

#ifndef FILE_READ_ATTRIBUTES
#define FILE_READ_ATTRIBUTES 0x0080
#endif

int PathIdentity(const char *path, BY_HANDLE_FILE_INFORMATION *info)
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

int SameFile(const BY_HANDLE_FILE_INFORMATION *a, const BY_HANDLE_FILE_INFORMATION *b)
{
    return a->dwVolumeSerialNumber == b->dwVolumeSerialNumber && a->nFileIndexHigh == b->nFileIndexHigh
        && a->nFileIndexLow == b->nFileIndexLow;
}

// Whether a folder's identity is one of the system's own folders: the
// Windows folder, the system folder (for a 32-bit process on 64-bit Windows,
// the 32-bit one), and the 64-bit one, which such a process reaches as
// Windows\Sysnative; elsewhere that name does not exist.
static int IsSystemIdentity(const BY_HANDLE_FILE_INFORMATION *target)
{
    static const char native[] = "\\Sysnative";
    BY_HANDLE_FILE_INFORMATION system;
    char path[MAX_PATH + sizeof(native)];
    UINT length;
    int i;

    for (i = 0; i < 3; i++) {
        length = i == 1 ? GetSystemDirectoryA(path, MAX_PATH) : GetSystemWindowsDirectoryA(path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            continue;
        if (i == 2)
            lstrcatA(path, native);
        if (PathIdentity(path, &system) && SameFile(&system, target))
            return 1;
    }
    return 0;
}

int IsSystemFolder(const char *folder)
{
    BY_HANDLE_FILE_INFORMATION target;

    // A folder that does not exist yet is none of them.
    return PathIdentity(folder, &target) && IsSystemIdentity(&target);
}

const char *HoldInstallFolder(const char *folder)
{
    BY_HANDLE_FILE_INFORMATION info;
    DWORD attributes;
    HANDLE held;

    // The folder itself, not what a link there points to. Windows opens a
    // junction or symbolic link itself and says so in its attributes; Wine
    // follows a Unix link to its target and says so only in the attributes
    // of the name.
    held = CreateFileA(folder, FILE_TRAVERSE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (held == INVALID_HANDLE_VALUE)
        return MSG_FOLDER_DENIED;
    attributes = GetFileAttributesA(folder);
    if (!GetFileInformationByHandle(held, &info)) {
        CloseHandle(held);
        return MSG_FOLDER_DENIED;
    }
    // A drive root is the volume itself, never a link (under Wine every drive
    // letter is one, to its Unix folder).
    attributes = (attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes) | info.dwFileAttributes;
    if (lstrlenA(folder) == 3 && folder[1] == ':')
        attributes &= ~FILE_ATTRIBUTE_REPARSE_POINT;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(held);
        return MSG_FOLDER_IS_LINK;
    }
    if (IsSystemIdentity(&info)) {
        CloseHandle(held);
        return MSG_SYSTEM_FOLDER;
    }
    KeepInstallFolder(held);
    return 0;
}
