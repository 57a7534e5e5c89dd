// PlaceEntry: one manifest entry from its resource, through a temporary file
// and the LZ expand functions, to a new file beside its destination that is
// renamed into place when complete.
#include "engine.h"
#include "messages.h"

// The file holds exactly the bytes that LZCopy reported.
static int HasSize(const char *path, LONG expected)
{
    WIN32_FILE_ATTRIBUTE_DATA data;

    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return 0;
    return data.nFileSizeHigh == 0 && data.nFileSizeLow == (DWORD)expected;
}

// The file's bytes on the disk, not only in the cache, so that a power cut
// after its rename cannot leave the name with a hollow file.
static int FlushedToDisk(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    int flushed;

    if (file == INVALID_HANDLE_VALUE)
        return 0;
    flushed = FlushFileBuffers(file) != 0;
    CloseHandle(file);
    return flushed;
}

// Expands source into a new file of its own in the destination's folder and
// renames it over dest only when it is complete: whatever stops the run, or
// kills it, the real name holds the old file or none, never part of the new
// one. The rename stays on one volume, and the file takes the folder's
// permissions. replace: an existing dest may be replaced; otherwise the
// rename fails when one has appeared meanwhile. Returns the failure's message
// (to be formatted with dest), or null once dest is in place; on failure no
// new name is left in the folder.
static const char *ExpandIntoPlace(INT source, const char *folder, const char *dest, int replace)
{
    char work[MAX_PATH];
    OFSTRUCT ofs;
    DWORD attributes;
    INT target;
    LONG copied;

    if (!GetTempFileNameA(folder, PackageConfig.TempFilePrefix, 0, work))
        return MSG_NOT_WRITTEN;
    ofs.szPathName[0] = '\0';
    target = g_LZOpenFileA(work, &ofs, OF_CREATE | OF_WRITE);
    // LZOpenFileA that cannot create a name tries it again with its last
    // character replaced by '_'. That is some other file: remove it.
    if (target >= 0 && lstrcmpiA(FileNameOf(ofs.szPathName), FileNameOf(work)) != 0) {
        g_LZClose(target);
        DeleteFileA(ofs.szPathName);
        target = -1;
    }
    if (target < 0) {
        DeleteFileA(work);
        return MSG_NOT_WRITTEN;
    }
    copied = g_LZCopy(source, target);
    g_LZClose(target);
    // A file that may not be replaced (a runtime library in the system folder)
    // is never repaired by a later run: it reaches the disk before it gets its
    // name. Every other file is replaced by the next run anyway.
    if (copied < 0 || !HasSize(work, copied) || (!replace && !FlushedToDisk(work))) {
        DeleteFileA(work);
        return MSG_NOT_INSTALLED;
    }
    // A read-only file is never replaced. Windows refuses the rename anyway;
    // some platforms would not, so the attribute is tested first (a rename
    // that may not replace fails on any file).
    attributes = replace ? GetFileAttributesA(dest) : INVALID_FILE_ATTRIBUTES;
    if ((attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        || !MoveFileExA(work, dest, replace ? MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH
                                            : MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(work);
        return MSG_NOT_WRITTEN;
    }
    return 0;
}

// The destination's folder and full path. A runtime library goes to the system
// folder unless one of that name is already there; then the program gets a
// private copy beside it, which replaces. 0 when a path does not fit.
static int ChooseDestination(PackageEntry *e, const char *folder, char *destFolder, char *dest)
{
    OFSTRUCT ofs;
    UINT length;

    lstrcpyA(destFolder, folder);
    if (e->destination == DEST_SYSTEM_FOLDER) {
        length = GetSystemDirectoryA(dest, MAX_PATH);
        if (length == 0 || length >= MAX_PATH || !AppendPathName(dest, e->fileName))
            return 0;
        if (OpenFile(dest, &ofs, OF_EXIST) != HFILE_ERROR) {
            e->overwrite = 1;
        } else {
            dest[length] = '\0';
            lstrcpyA(destFolder, dest);
        }
    }
    lstrcpyA(dest, destFolder);
    return AppendPathName(dest, e->fileName);
}

int LoadPayload(int index, const void **data, DWORD *size)
{
    PackageEntry *e = &PackageTable[index];
    char text[MESSAGE_SIZE];
    HRSRC found;
    HGLOBAL loaded;

    found = FindResourceA(g_hInstance, MAKEINTRESOURCEA(e->resourceId), (LPCSTR)RT_RCDATA);
    if (!found) {
        wsprintfA(text, MSG_NO_RESOURCE, index, e->resourceId);
        ShowMessage(text, NULL, 0, MB_OK);   // ASCII, formatted already
        return 0;
    }
    // A payload of no bytes cannot be read: it would install an empty file.
    *size = SizeofResource(g_hInstance, found);
    loaded = LoadResource(g_hInstance, found);
    if (!loaded || *size == 0)
        return ShowFailure(MSG_NO_LOAD, "");
    *data = LockResource(loaded);
    if (!*data)
        return ShowFailure(MSG_NO_LOCK, "");
    return 1;
}

// The payload's copy, which the LZ functions read because they read files,
// not memory: a new file in the temporary folder that no other process can
// open, replace or delete while it lives, since every program of the user may
// write that folder. It is created new under a name formed here (never an
// existing file), shared with no one and not inherited, and the system
// deletes it when its one handle closes, however the process ends. The
// folder is taken by its exact name. Returns the handle, rewound and filled,
// or INVALID_HANDLE_VALUE; name receives the name to report either way.
static HANDLE CreatePayloadCopy(const void *data, DWORD size, char *name)
{
    static UINT unique;
    WCHAR folder[MAX_PATH];
    WCHAR wide[MAX_PATH];
    WCHAR prefix[4];
    const WCHAR *named = L"";
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD length, written, error;
    UINT tries;

    length = GetTempPathW(MAX_PATH, folder);
    if (length && length < MAX_PATH && MultiByteToWideChar(CP_ACP, 0, PackageConfig.TempFilePrefix, -1, prefix, 4)) {
        // A number names the file without creating it; a name that is taken
        // is passed over for the next number.
        for (tries = 0; tries < 0xFFFF; tries++) {
            unique = unique % 0xFFFF + 1;
            named = folder;
            if (!GetTempFileNameW(folder, prefix, unique, wide))
                break;
            named = wide;
            file = CreateFileW(wide, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
            error = GetLastError();
            if (file != INVALID_HANDLE_VALUE || (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS))
                break;
        }
    }
    // The name for a message, as well as the code page can give it: the
    // file's, or the folder's when no file was named.
    if (!WideCharToMultiByte(CP_ACP, 0, named, -1, name, MAX_PATH, NULL, NULL))
        name[0] = '\0';
    if (file == INVALID_HANDLE_VALUE)
        return file;
    // A short copy would expand into a truncated program.
    if (!WriteFile(file, data, size, &written, NULL) || written != size
        || SetFilePointer(file, 0, NULL, FILE_BEGIN) != 0) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

int PlaceEntry(int index, const char *folder, char *launchPath)
{
    PackageEntry *e = &PackageTable[index];
    char tempName[MAX_PATH];
    char destFolder[MAX_PATH];
    char dest[MAX_PATH];
    OFSTRUCT ofs;
    const void *data;
    DWORD size;
    HANDLE file;
    INT source;
    const char *failure, *argument;

    if (!LoadPayload(index, &data, &size))
        return 0;
    file = CreatePayloadCopy(data, size, tempName);
    if (file == INVALID_HANDLE_VALUE)
        return ShowFailure(MSG_TEMP_NOT_CREATED, tempName);
    // The LZ functions read the copy through its handle; closing the LZ
    // handle closes the file, and with it the file is gone.
    source = BindLzLibrary() ? g_LZInit((INT)(INT_PTR)file) : -1;
    if (source < 0) {
        CloseHandle(file);
        return ShowFailure(MSG_TEMP_NOT_READ, tempName);
    }

    failure = MSG_NOT_WRITTEN;
    argument = e->fileName;
    if (ChooseDestination(e, folder, destFolder, dest)) {
        failure = 0;
        argument = dest;
        if (index == 0)
            lstrcpyA(launchPath, dest);
        if (e->overwrite || OpenFile(dest, &ofs, OF_EXIST) == HFILE_ERROR)
            failure = ExpandIntoPlace(source, destFolder, dest, e->overwrite);
    }
    g_LZClose(source);
    if (failure)
        return ShowFailure(failure, argument);
    return 1;
}
