// PlaceEntry: one manifest entry from its resource, through a temporary file
// and the LZ expand functions, to a new file beside its destination that is
// renamed into place when complete; then its shortcuts.
#include "engine.h"
#include "messages.h"

static int Fail(const char *format, const char *argument)
{
    char text[MESSAGE_SIZE];

    wsprintfA(text, format, argument);
    ShowMessage(text, MB_OK);
    return 0;
}

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

int PlaceEntry(int index, const char *folder, int addToStartMenu, int addToDesktop, char *launchPath)
{
    PackageEntry *e = &PackageTable[index];
    char text[MESSAGE_SIZE];
    char tempDir[MAX_PATH];
    char tempName[MAX_PATH];
    char destFolder[MAX_PATH];
    char dest[MAX_PATH];
    SECURITY_ATTRIBUTES sa = { sizeof(SECURITY_ATTRIBUTES), NULL, TRUE };
    OFSTRUCT ofs;
    HRSRC found;
    HGLOBAL loaded;
    void *data;
    DWORD size, written, length;
    HANDLE file;
    INT source;
    const char *failure, *argument;

    found = FindResourceA(g_hInstance, MAKEINTRESOURCEA(e->resourceId), (LPCSTR)RT_RCDATA);
    if (!found) {
        wsprintfA(text, MSG_NO_RESOURCE, index, e->resourceId);
        ShowMessage(text, MB_OK);
        return 0;
    }
    // A payload of no bytes cannot be read: it would install an empty file.
    size = SizeofResource(g_hInstance, found);
    loaded = LoadResource(g_hInstance, found);
    if (!loaded || size == 0)
        return Fail(MSG_NO_LOAD, "");
    data = LockResource(loaded);
    if (!data)
        return Fail(MSG_NO_LOCK, "");

    // The LZ functions read files, not memory: the payload goes to a temporary file first.
    tempDir[0] = '\0';
    tempName[0] = '\0';
    // Without a temporary folder the buffer is not a path (and the current
    // directory is no place for the file).
    length = GetTempPathA(MAX_PATH, tempDir);
    if (length == 0 || length >= MAX_PATH) {
        tempDir[0] = '\0';
        return Fail(MSG_TEMP_NOT_CREATED, tempDir);
    }
    if (!GetTempFileNameA(tempDir, PackageConfig.TempFilePrefix, 0, tempName))
        return Fail(MSG_TEMP_NOT_CREATED, tempDir);
    file = CreateFileA(tempName, GENERIC_WRITE, 0, &sa, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    // A short temporary file would expand into a truncated program.
    written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        if (!WriteFile(file, data, size, &written, NULL))
            written = 0;
        CloseHandle(file);
    }
    if (written != size) {
        DeleteFileA(tempName);
        return Fail(MSG_TEMP_NOT_CREATED, tempName);
    }

    source = BindLzLibrary() ? g_LZOpenFileA(tempName, &ofs, OF_READ) : -1;
    if (source < 0) {
        DeleteFileA(tempName);
        return Fail(MSG_TEMP_NOT_READ, tempName);
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
    DeleteFileA(tempName);
    if (failure)
        return Fail(failure, argument);

    PlaceShortcuts(e, dest, addToStartMenu, addToDesktop);
    return 1;
}
