// Putting the new files in place, all or none. Every new file is complete
// and held open before the first one is placed; each destination's old file
// is renamed away first, under a name of the run, and kept, marked for
// deletion, until every new file has its name. When one cannot be placed,
// the files already placed go back and the old ones return under their names.
// Everything is done through the run's own handles: renamed by handle, and
// deleted by the system when the handle closes, however the process ends.
#include "engine.h"
#include "messages.h"

// The kernel's status codes that the run tells apart.
#define STATUS_ACCESS_DENIED_CODE         ((LONG)0xC0000022)
#define STATUS_OBJECT_NAME_COLLISION_CODE ((LONG)0xC0000035)
#define STATUS_SHARING_VIOLATION_CODE     ((LONG)0xC0000043)
#define STATUS_DELETE_PENDING_CODE        ((LONG)0xC0000056)
#define FILE_RENAME_INFORMATION_CLASS      10
#define FILE_DISPOSITION_INFORMATION_CLASS 13

// How far an entry has been put in place.
#define OLD_RENAMED 1   // the old file has a name of the run
#define OLD_MARKED  2   // ... and is marked for deletion
#define NEW_PLACED  3   // the new file has the destination's name

// Another program that opens a file of the folder for a moment (an on-access
// virus scanner, the search indexer, a backup or sync agent) refuses the
// run's access until it closes it again; scanners take tens to a few hundred
// milliseconds a file. The run asks again every tenth of a second, often
// enough that such a moment costs little more than itself, for five seconds,
// as long as Windows waits for a window before it calls it not responding:
// a program that holds a file longer (a viewer left open on it) is one the
// user has to close.
#define RETRY_INTERVAL 100
DWORD g_HeldPatience = 5000;

SetInformationFileProc g_NtSetInformationFile;
// Zero-filled data of this file stays out of the image (engine/CMakeLists.txt).
NewFile g_NewFiles[PACKAGE_ENTRY_COUNT];

void FormRunName(char *name)
{
    static UINT number;

    number = number % 0xFFFF + 1;
    wsprintfA(name, "%s%04X.tmp", PackageConfig.TempFilePrefix, number);
}

int IsRunName(const char *name)
{
    char head[WORK_FILE_NAME_LENGTH + 1];
    int prefix = lstrlenA(PackageConfig.TempFilePrefix), i;
    char c;

    if (lstrlenA(name) != prefix + 8)
        return 0;
    lstrcpynA(head, name, prefix + 1);
    if (lstrcmpiA(head, PackageConfig.TempFilePrefix) != 0)
        return 0;
    for (i = prefix; i < prefix + 4; i++) {
        c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return 0;
    }
    return lstrcmpiA(name + i, ".tmp") == 0;
}

// The kernel's NtSetInformationFile, on every version of Windows from 2000 on
// (SetFileInformationByHandle exists only from Vista on). 0, or the error.
static DWORD SetInformation(HANDLE file, void *information, ULONG length, int informationClass)
{
    ULONG_PTR status[2];
    LONG result;

    if (!g_NtSetInformationFile)
        g_NtSetInformationFile = (SetInformationFileProc)(void (*)(void))
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetInformationFile");
    if (!g_NtSetInformationFile)
        return ERROR_PROC_NOT_FOUND;
    result = g_NtSetInformationFile(file, status, information, length, informationClass);
    if (result >= 0)
        return 0;
    if (result == STATUS_OBJECT_NAME_COLLISION_CODE)
        return ERROR_ALREADY_EXISTS;
    if (result == STATUS_SHARING_VIOLATION_CODE)
        return ERROR_SHARING_VIOLATION;
    if (result == STATUS_ACCESS_DENIED_CODE || result == STATUS_DELETE_PENDING_CODE)
        return ERROR_ACCESS_DENIED;
    return ERROR_WRITE_FAULT;   // a read-only file or a running program's cannot be deleted, among others
}

DWORD MarkForDeletion(HANDLE file, BOOLEAN remove)
{
    return SetInformation(file, &remove, sizeof(remove), FILE_DISPOSITION_INFORMATION_CLASS);
}

// Renames an open file (DELETE access) to name in the folder of a folder
// handle, never over a file.
static DWORD RenameInFolder(HANDLE file, HANDLE folder, const char *name)
{
    struct {
        BOOLEAN replace;
        HANDLE folder;
        ULONG length;
        WCHAR name[MAX_PATH];
    } rename;
    int length = MultiByteToWideChar(CP_ACP, 0, name, -1, rename.name, MAX_PATH);

    if (!length)
        return ERROR_INVALID_NAME;
    rename.replace = FALSE;
    rename.folder = folder;
    rename.length = (ULONG)(length - 1) * sizeof(WCHAR);
    return SetInformation(file, &rename, sizeof(rename), FILE_RENAME_INFORMATION_CLASS);
}

// Another program's moment: a sharing violation, a lock, or an access refused
// while another process deletes the name. Undoing the run's own steps tries
// again after any error.
static int Transient(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Whether to try again after error: one interval later, with the dialog
// painting, while the patience that began at started lasts.
static int TryAgain(DWORD error, DWORD started, int undoing)
{
    if (!error || error == ERROR_ALREADY_EXISTS || !(undoing || Transient(error))
        || GetTickCount() - started >= g_HeldPatience)
        return 0;
    WaitWithDialog(NULL, 0, GetTickCount() + RETRY_INTERVAL);
    return 1;
}

static DWORD Mark(HANDLE file, BOOLEAN remove, int undoing)
{
    DWORD started = GetTickCount(), error;

    while (TryAgain(error = MarkForDeletion(file, remove), started, undoing))
        ;
    return error;
}

static DWORD Rename(HANDLE file, HANDLE folder, const char *name, int undoing)
{
    DWORD started = GetTickCount(), error;

    while (TryAgain(error = RenameInFolder(file, folder, name), started, undoing))
        ;
    return error;
}

// Renames a file of the run's to a name of the run that is free.
static DWORD RenameAway(HANDLE file, HANDLE folder, int undoing)
{
    char name[WORK_FILE_NAME_LENGTH + 1];
    DWORD error;
    UINT tries = 0;

    do {
        FormRunName(name);
        error = Rename(file, folder, name, undoing);
    } while (error == ERROR_ALREADY_EXISTS && ++tries < 0xFFFF);
    return error;
}

// Puts one new file in place: its destination's old file, if any, renamed to
// a name of the run and marked for deletion (which a read-only file and a
// running program's refuse), then the new file renamed to the destination's
// name, never over a file. 0, or the error; n->stage says how far it came.
static DWORD PlaceOne(NewFile *n, const char *name)
{
    DWORD started = GetTickCount(), error;

    if (n->replace) {
        // Opened without sharing deletion: no one else renames or removes it
        // while it is the run's.
        while ((n->old = CreateFileA(n->dest, DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL)) == INVALID_HANDLE_VALUE) {
            error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND)
                break;
            if (!TryAgain(error, started, 0))
                return error;
        }
        if (n->old != INVALID_HANDLE_VALUE) {
            if ((error = RenameAway(n->old, n->folder, 0)) != 0)
                return error;
            n->stage = OLD_RENAMED;
            if ((error = Mark(n->old, TRUE, 0)) != 0)
                return error;
            n->stage = OLD_MARKED;
        }
    }
    if ((error = Mark(n->file, FALSE, 0)) != 0)
        return error;
    if ((error = Rename(n->file, n->folder, name, 0)) != 0) {
        Mark(n->file, TRUE, 1);
        return error;
    }
    n->stage = NEW_PLACED;
    return 0;
}

// Takes back what PlaceOne did: the new file renamed away and marked again,
// the old one unmarked and given its name back.
static void TakeBack(NewFile *n, const char *name)
{
    if (n->stage >= NEW_PLACED && !RenameAway(n->file, n->folder, 1))
        Mark(n->file, TRUE, 1);
    if (n->stage >= OLD_MARKED && n->old != INVALID_HANDLE_VALUE)
        Mark(n->old, FALSE, 1);
    if (n->stage >= OLD_RENAMED && n->old != INVALID_HANDLE_VALUE)
        Rename(n->old, n->folder, name, 1);
    n->stage = 0;
}

int PlaceNewFiles(const char *folder)
{
    char unused[MAX_PATH];
    DWORD error;
    int i, j;

    for (i = 0; i < PACKAGE_ENTRY_COUNT; i++) {
        if (g_NewFiles[i].file == INVALID_HANDLE_VALUE)
            continue;
        error = PlaceOne(&g_NewFiles[i], PackageTable[i].fileName);
        if (error == ERROR_ALREADY_EXISTS && PackageTable[i].destination == DEST_SYSTEM_FOLDER
            && !PackageTable[i].overwrite) {
            // Another installer put the library into the system folder since
            // it was looked for: the program gets its private copy, as if the
            // library had been there from the start. The run's own new file
            // is marked for deletion again and goes with its handle.
            CloseHandle(g_NewFiles[i].file);
            g_NewFiles[i].file = INVALID_HANDLE_VALUE;
            error = PrepareEntry(i, folder, unused) ? PlaceOne(&g_NewFiles[i], PackageTable[i].fileName) : 0;
            if (!error && g_NewFiles[i].stage == NEW_PLACED)
                continue;
        } else if (!error) {
            continue;
        }
        for (j = i; j >= 0; j--)
            if (g_NewFiles[j].file != INVALID_HANDLE_VALUE)
                TakeBack(&g_NewFiles[j], PackageTable[j].fileName);
        // A failed preparation has shown its message.
        if (!error)
            return 0;
        return ShowFailure(error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? MSG_FILE_IN_USE
                                                                                           : MSG_NOT_WRITTEN,
                           g_NewFiles[i].dest);
    }
    return 1;
}

static void RemoveLeftoversIn(const char *folder)
{
    char path[MAX_PATH];
    char pattern[WORK_FILE_NAME_LENGTH + 1];
    WIN32_FIND_DATAA found;
    HANDLE search;
    int length;

    wsprintfA(pattern, "%s*.tmp", PackageConfig.TempFilePrefix);
    lstrcpyA(path, folder);
    if (!AppendPathName(path, pattern))
        return;
    // Where the names go: after the folder and its backslash (a root's own).
    length = lstrlenA(path) - lstrlenA(pattern);
    if (length + WORK_FILE_NAME_LENGTH >= MAX_PATH)
        return;
    search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    // A file that a live run holds cannot be deleted: it is marked for
    // deletion already, or shared with no one.
    do {
        if (IsRunName(found.cFileName) && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            lstrcpyA(path + length, found.cFileName);
            DeleteFileA(path);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

void RemoveLeftovers(const char *folder)
{
    char system[MAX_PATH];
    UINT length = GetSystemDirectoryA(system, MAX_PATH);

    RemoveLeftoversIn(folder);
    if (length && length < MAX_PATH)
        RemoveLeftoversIn(system);
}
