// PrepareEntry: one manifest entry from its resource, through a temporary
// file and the LZ expand functions, into a new file beside its destination
// that the run holds open, marked for deletion, until it is put in place.
#include "engine.h"
#include "messages.h"

#ifndef FILE_READ_ATTRIBUTES
#define FILE_READ_ATTRIBUTES 0x0080
#endif

// The folders new files are made in: the installation folder, the system
// folder. Renames name files inside them through these handles.
static HANDLE g_DestinationFolders[2] = { INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE };

void KeepInstallFolder(HANDLE folder)
{
    g_DestinationFolders[0] = folder;
}

// The handle of a destination folder, opened at its first file (the
// installation folder's is held from its check on).
static HANDLE DestinationFolder(int system, const char *path)
{
    HANDLE *folder = &g_DestinationFolders[system != 0];

    if (*folder == INVALID_HANDLE_VALUE)
        *folder = CreateFileA(path, FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, NULL);
    return *folder;
}

void ReleaseNewFiles(void)
{
    NewFile *n;
    int i;

    // A new file still marked goes with its handle; so does a replaced one.
    for (n = g_NewFiles; n < g_NewFiles + PACKAGE_ENTRY_COUNT; n++) {
        if (n->file && n->file != INVALID_HANDLE_VALUE)
            CloseHandle(n->file);
        if (n->old && n->old != INVALID_HANDLE_VALUE)
            CloseHandle(n->old);
        n->file = n->old = INVALID_HANDLE_VALUE;
        n->stage = 0;
    }
    for (i = 0; i < 2; i++) {
        if (g_DestinationFolders[i] != INVALID_HANDLE_VALUE)
            CloseHandle(g_DestinationFolders[i]);
        g_DestinationFolders[i] = INVALID_HANDLE_VALUE;
    }
}

// Expands source into a new file of its own in the destination's folder:
// created new under a name of the run, shared with no one, and marked for
// deletion at once, so that nothing else can open it and whatever ends the
// run removes it. Complete means the length the payload's header states;
// a runtime library, which no later run replaces, also reaches the disk
// before it is put in place. Returns the failure's message (to be formatted
// with the destination), or null with the file held in n.
static const char *ExpandBeside(INT source, const char *folder, int system, DWORD expected, NewFile *n)
{
    char work[MAX_PATH];
    char name[WORK_FILE_NAME_LENGTH + 1];
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error;
    UINT tries;

    n->folder = DestinationFolder(system, folder);
    if (n->folder == INVALID_HANDLE_VALUE)
        return MSG_NOT_WRITTEN;
    // A name that is taken is passed over for the next number.
    for (tries = 0; tries < 0xFFFF; tries++) {
        FormRunName(name);
        lstrcpyA(work, folder);
        if (!AppendPathName(work, name))
            return MSG_NOT_WRITTEN;
        file = CreateFileA(work, GENERIC_READ | GENERIC_WRITE | DELETE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           NULL);
        error = GetLastError();
        if (file != INVALID_HANDLE_VALUE || (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS))
            break;
    }
    if (file == INVALID_HANDLE_VALUE)
        return MSG_NOT_WRITTEN;
    if (MarkForDeletion(file, TRUE)) {
        CloseHandle(file);
        DeleteFileA(work);
        return MSG_NOT_WRITTEN;
    }
    n->file = file;
    if ((DWORD)g_LZCopy(source, (INT)(INT_PTR)file) != expected || GetFileSize(file, NULL) != expected
        || (system && !FlushFileBuffers(file)))
        return MSG_NOT_INSTALLED;
    return 0;
}

// The destination's folder and full path. A runtime library goes to the system
// folder unless one of that name is already there; then the program gets a
// private copy beside it, which replaces. 0 when a path does not fit; 2 for a
// destination in the system folder.
static int ChooseDestination(PackageEntry *e, const char *folder, char *destFolder, char *dest)
{
    OFSTRUCT ofs;
    UINT length;
    int system = 0;

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
            system = 1;
        }
    }
    lstrcpyA(dest, destFolder);
    return AppendPathName(dest, e->fileName) ? 1 + system : 0;
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

int PrepareEntry(int index, const char *folder, char *launchPath)
{
    PackageEntry *e = &PackageTable[index];
    NewFile *n = &g_NewFiles[index];
    char tempName[MAX_PATH];
    char destFolder[MAX_PATH];
    OFSTRUCT ofs;
    const void *data;
    DWORD size;
    HANDLE file;
    INT source;
    int chosen;
    const char *failure, *argument;

    n->file = n->old = INVALID_HANDLE_VALUE;
    n->stage = 0;
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
    chosen = ChooseDestination(e, folder, destFolder, n->dest);
    if (chosen) {
        failure = 0;
        argument = n->dest;
        n->replace = e->overwrite;
        if (index == 0)
            lstrcpyA(launchPath, n->dest);
        // The expanded length, from the SZDD header (the payloads are checked
        // before the run makes anything).
        if (e->overwrite || OpenFile(n->dest, &ofs, OF_EXIST) == HFILE_ERROR)
            failure = size < 14 ? MSG_NOT_INSTALLED
                                : ExpandBeside(source, destFolder, chosen == 2, *(const DWORD *)((const BYTE *)data + 10), n);
    }
    g_LZClose(source);
    if (failure)
        return ShowFailure(failure, argument);
    return 1;
}
