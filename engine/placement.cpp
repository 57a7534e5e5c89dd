// PlaceEntry: one manifest entry from its resource, through a temporary file
// and the LZ expand functions, to its destination; then its shortcuts.
#include "engine.h"
#include "messages.h"

static int Fail(const char *format, const char *argument)
{
    char text[MESSAGE_SIZE];

    wsprintfA(text, format, argument);
    ShowMessage(text, MB_OK);
    return 0;
}

// Whether the destination is no longer the file that was there before the
// write (or there was none): only then is it ours to delete.
static int ChangedSince(const char *path, int existed, const WIN32_FILE_ATTRIBUTE_DATA *before)
{
    WIN32_FILE_ATTRIBUTE_DATA now;

    if (!existed)
        return 1;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &now))
        return 0;
    return now.nFileSizeLow != before->nFileSizeLow || now.nFileSizeHigh != before->nFileSizeHigh
        || now.ftLastWriteTime.dwLowDateTime != before->ftLastWriteTime.dwLowDateTime
        || now.ftLastWriteTime.dwHighDateTime != before->ftLastWriteTime.dwHighDateTime;
}

// The destination holds exactly the bytes that LZCopy reported.
static int HasSize(const char *path, LONG expected)
{
    WIN32_FILE_ATTRIBUTE_DATA data;

    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return 0;
    return data.nFileSizeHigh == 0 && data.nFileSizeLow == (DWORD)expected;
}

int PlaceEntry(int index, const char *folder, int addToStartMenu, int addToDesktop, char *launchPath)
{
    PackageEntry *e = &PackageTable[index];
    char text[MESSAGE_SIZE];
    char tempDir[MAX_PATH];
    char tempName[MAX_PATH];
    char dest[MAX_PATH];
    char probe[MAX_PATH];
    SECURITY_ATTRIBUTES sa = { sizeof(SECURITY_ATTRIBUTES), NULL, TRUE };
    WIN32_FILE_ATTRIBUTE_DATA before;
    OFSTRUCT ofs;
    HRSRC found;
    HGLOBAL loaded;
    void *data;
    DWORD size, written, length;
    HANDLE file;
    INT source, target;
    LONG copied;
    int existed;

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
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileA(tempName);
        return Fail(MSG_TEMP_NOT_CREATED, tempName);
    }
    // A short temporary file would expand into a truncated program.
    if (!WriteFile(file, data, size, &written, NULL) || written != size) {
        CloseHandle(file);
        DeleteFileA(tempName);
        return Fail(MSG_TEMP_NOT_CREATED, tempName);
    }
    CloseHandle(file);

    source = BindLzLibrary() ? g_LZOpenFileA(tempName, &ofs, OF_READ) : -1;
    if (source < 0) {
        DeleteFileA(tempName);
        return Fail(MSG_TEMP_NOT_READ, tempName);
    }

    // A runtime library goes to the system folder unless one of that name is
    // already there; then the program gets a private copy beside it.
    lstrcpyA(dest, folder);
    if (e->destination == DEST_SYSTEM_FOLDER) {
        UINT systemLength = GetSystemDirectoryA(probe, MAX_PATH);
        if (systemLength == 0 || systemLength >= MAX_PATH || !AppendPathName(probe, e->fileName)) {
            g_LZClose(source);
            DeleteFileA(tempName);
            return Fail(MSG_NOT_WRITTEN, e->fileName);
        }
        if (OpenFile(probe, &ofs, OF_EXIST) != HFILE_ERROR) {
            e->overwrite = 1;
        } else {
            probe[systemLength] = '\0';
            lstrcpyA(dest, probe);
        }
    }
    if (!AppendPathName(dest, e->fileName)) {
        g_LZClose(source);
        DeleteFileA(tempName);
        return Fail(MSG_NOT_WRITTEN, e->fileName);
    }
    if (index == 0)
        lstrcpyA(launchPath, dest);

    if (e->overwrite || OpenFile(dest, &ofs, OF_EXIST) == HFILE_ERROR) {
        existed = GetFileAttributesExA(dest, GetFileExInfoStandard, &before);
        target = g_LZOpenFileA(dest, &ofs, OF_CREATE | OF_WRITE);
        if (target < 0) {
            g_LZClose(source);
            DeleteFileA(tempName);
            return Fail(MSG_NOT_WRITTEN, dest);
        }
        copied = g_LZCopy(source, target);
        g_LZClose(source);
        g_LZClose(target);
        DeleteFileA(tempName);
        // A failed copy, or one reported but not written, leaves neither the
        // old file nor the new one: remove what this run wrote, but never a
        // file that the write did not touch.
        if (copied < 0 || !HasSize(dest, copied)) {
            if (ChangedSince(dest, existed, &before))
                DeleteFileA(dest);
            return Fail(MSG_NOT_INSTALLED, dest);
        }
    } else {
        g_LZClose(source);
        DeleteFileA(tempName);
    }

    PlaceShortcuts(e, dest, addToStartMenu, addToDesktop);
    return 1;
}
