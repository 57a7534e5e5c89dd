// OnStart: one installation run, from the start button to the started program.
#include "engine.h"
#include "messages.h"
#include "resource.h"

#define REQUIRED_FREE_BYTES PACKAGE_REQUIRED_SPACE

// An access-allowed entry, inherited by files and folders, for a SID of the
// NT authority (S-1-5-...) with one or two relative identifiers.
struct InheritedAce1 { ACE_HEADER header; ACCESS_MASK mask; BYTE revision, count, authority[6]; DWORD rid[1]; };
struct InheritedAce2 { ACE_HEADER header; ACCESS_MASK mask; BYTE revision, count, authority[6]; DWORD rid[2]; };
#define ALLOWED_ACE(type, mask, count, ...) \
    { { ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, sizeof(type) }, mask, \
      SID_REVISION, count, { 0, 0, 0, 0, 0, 5 }, { __VA_ARGS__ } }

// The permissions a folder gets when the run makes it for the program, those
// of Program Files: SYSTEM and Administrators in full control, Users may read
// and run, inherited by every file and folder inside, and nothing inherited
// from the parent (D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)).
// Elsewhere, as on C:\ or a data drive, the parent would let every user
// change the program that the elevated run starts at its end.
static const struct {
    SECURITY_DESCRIPTOR_RELATIVE header;
    ACL dacl;
    InheritedAce1 system;
    InheritedAce2 administrators, users;
} g_ProtectedFolder = {
    { SECURITY_DESCRIPTOR_REVISION, 0,
      SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED,
      0, 0, 0, sizeof(SECURITY_DESCRIPTOR_RELATIVE) },
    { ACL_REVISION, 0, sizeof(ACL) + sizeof(InheritedAce1) + 2 * sizeof(InheritedAce2), 3, 0 },
    ALLOWED_ACE(InheritedAce1, FILE_ALL_ACCESS, 1, SECURITY_LOCAL_SYSTEM_RID),
    ALLOWED_ACE(InheritedAce2, FILE_ALL_ACCESS, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS),
    ALLOWED_ACE(InheritedAce2, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, 2, SECURITY_BUILTIN_DOMAIN_RID,
                  DOMAIN_ALIAS_RID_USERS),
};

// Ends a run that did not complete: the message (a format and the one path
// it names; the free bytes of a full drive are 0), if any, then back to input.
// The new files made so far go.
static int Stop(const char *format, const char *argument)
{
    if (format)
        ShowFailure(format, argument);
    ReleaseNewFiles();
    SetInstallingState(0);
    return 0;
}

// Makes the installation folder, and the missing parents it needs, protected:
// a parent that inherited from C:\ would let any account rename it away and put
// its own program at the folder's path. An existing folder keeps its permissions.
// Returns 0 once the folder exists; otherwise the message to stop with (a
// format naming the folder), or "" to stop without one.
static const char *MakeInstallFolder(const char *folder)
{
    SECURITY_ATTRIBUTES sa = { sizeof(SECURITY_ATTRIBUTES), (void *)&g_ProtectedFolder, TRUE };
    DWORD error;

    // A missing folder whose parent exists is made at once; deeper trees only
    // after the user agrees.
    if (CreateDirectoryA(folder, &sa))
        return 0;
    error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS)
        return 0;
    if (error == ERROR_ACCESS_DENIED)
        return MSG_FOLDER_DENIED;
    if (ShowMessage(MSG_FOLDER_MISSING_ASK, folder, 0, MB_YESNO | MB_ICONQUESTION) == IDYES
        && CreateFolderTree(folder, sa.lpSecurityDescriptor))
        return 0;
    return "";
}

// In a folder that holds no program of an earlier installation, a file of one
// of the package's names is the user's own: it is replaced only once the user
// agrees. An update asks nothing. 1 to go on.
static int ForeignFilesAgreed(const char *folder)
{
    char path[MAX_PATH];
    int length = lstrlenA(folder), i;

    lstrcpyA(path, folder);
    for (i = 0; i < PACKAGE_ENTRY_COUNT; i++) {
        path[length] = '\0';
        if (!AppendPathName(path, PackageTable[i].fileName) || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
            continue;
        return i == 0 || ShowMessage(MSG_FOREIGN_FILES_ASK, folder, 0, MB_YESNO | MB_ICONQUESTION) == IDYES;
    }
    return 1;
}

// The folder becomes the system's full path of it: made absolute against the
// current directory, "." and ".." resolved, trailing dots and spaces dropped
// as the system drops them; the checks, the files, the links and the start
// all use that one path. cut: where a trailing backslash was removed (-1:
// none), put back for the system to read, so that a drive root stays the
// root ("C:" names the drive's current folder). The composed paths must fit:
// the folder, a backslash and the longest file name (or the name of a file of
// the run beside a destination) within a path buffer, and the folder itself
// within what CreateDirectoryA takes (room for a file name of eight and three
// characters); the placement opens no file of the folder through the
// open-file record, whose 128 bytes would be less. Returns the message to
// refuse the folder with (which names it as typed), or 0.
static const char *TakeFullPath(char *folder, int cut)
{
    char full[MAX_PATH];
    DWORD length;
    int longestName = 8 + 1 + 3, last, i;

    for (i = 0; i < PACKAGE_ENTRY_COUNT; i++)
        if (lstrlenA(PackageTable[i].fileName) > longestName)
            longestName = lstrlenA(PackageTable[i].fileName);

    if (cut >= 0)
        folder[cut] = '\\';
    length = GetFullPathNameA(folder, MAX_PATH, full, NULL);
    if (cut >= 0)
        folder[cut] = '\0';
    if (length == 0)
        return MSG_FOLDER_DENIED;
    if (length >= MAX_PATH)
        return MSG_FOLDER_TOO_LONG;
    // One trailing backslash goes, but a drive root keeps its own.
    last = LastCharIndex(full);
    if (last > 0 && full[last] == '\\' && !(last == 2 && full[1] == ':')) {
        full[last] = '\0';
        length--;
    }
    if ((int)length + 1 + longestName >= MAX_PATH
        || (int)length + 1 + longestName + 3 + lstrlenA(PackageConfig.LaunchArguments) >= COMMAND_LINE_SIZE)
        return MSG_FOLDER_TOO_LONG;
    lstrcpyA(folder, full);
    return 0;
}

int OnStart(char *folder, int addToStartMenu, int addToDesktop)
{
    char launchPath[MAX_PATH];
    char current[MAX_PATH];
    char root[MAX_PATH];
    char commandLine[COMMAND_LINE_SIZE];
    const char *failure;
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters, currentLength;
    ULONGLONG freeBytes;
    const char *source;
    int last, colon, i, requested;

    SetInstallingState(1);
    launchPath[0] = '\0';

    // One trailing backslash goes (never a trail byte of a double-byte character).
    last = LastCharIndex(folder);
    if (last >= 0 && folder[last] == '\\')
        folder[last] = '\0';
    else
        last = -1;

    // A damaged installer writes nothing.
    if (!CheckPayloads())
        return Stop(NULL, NULL);

    // The folder's full path from here on; refuse a folder too long for the
    // paths built from it, or one of the system's own, before anything is made.
    failure = TakeFullPath(folder, last);
    if (failure)
        return Stop(failure, folder);
    if (IsSystemFolder(folder))
        return Stop(MSG_SYSTEM_FOLDER, folder);

    // Drive root: what precedes the first colon of the folder, or of the
    // current directory for a relative folder.
    source = folder;
    colon = FirstColonIndex(folder);
    if (colon < 0) {
        // A failed call leaves the buffer undefined: no directory, no drive.
        currentLength = GetCurrentDirectoryA(MAX_PATH, current);
        if (currentLength == 0 || currentLength >= MAX_PATH)
            current[0] = '\0';
        source = current;
        colon = FirstColonIndex(current);
        if (colon < 0)
            colon = lstrlenA(current);
    }
    if (colon > MAX_PATH - 3)
        colon = MAX_PATH - 3;
    lstrcpynA(root, source, colon + 1);
    lstrcatA(root, ":\\");

    if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
        return Stop(MSG_DRIVE_INVALID, root);
    freeBytes = (ULONGLONG)sectorsPerCluster * bytesPerSector * freeClusters;
    if (freeBytes < REQUIRED_FREE_BYTES) {
        if (freeClusters == 0)
            return Stop(MSG_DISK_FULL, root);
        if (ShowMessage(MSG_DISK_LOW_ASK, root, (int)(DWORD)freeBytes, MB_YESNO | MB_ICONQUESTION) != IDYES)
            return Stop(NULL, NULL);
    }

    failure = MakeInstallFolder(folder);
    if (failure)
        return Stop(failure[0] ? failure : NULL, folder);
    // What the run writes into is the folder checked now, when it exists,
    // and held from here: the question above may have been open for long.
    failure = HoldInstallFolder(folder);
    if (failure)
        return Stop(failure, folder);
    RemoveLeftovers(folder);
    if (!ForeignFilesAgreed(folder))
        return Stop(NULL, NULL);

    // Every new file is made before any file is replaced: a run that cannot
    // make one (a full drive) leaves the installation as it found it.
    for (i = 0; i < PACKAGE_ENTRY_COUNT; i++) {
        ShowProgress((i + 1) * 100 / PACKAGE_ENTRY_COUNT);
        if (!PrepareEntry(i, folder, launchPath))
            return Stop(NULL, NULL);
    }
    // A running program's file cannot be replaced: it is closed now that
    // the update is ready, or nothing is replaced.
    if (!CloseRunningProgram(folder) || !PlaceNewFiles(folder))
        return Stop(NULL, NULL);
    ReleaseNewFiles();
    // The program runs as the person at the desktop: the desktop's shell is
    // asked to start it, and the links are made while the shell does. Links
    // only to a complete installation: the program's, now that every file is
    // in place. Where the shell cannot start the program, the run starts it
    // itself.
    requested = RequestDesktopStart(launchPath, PackageConfig.LaunchArguments);
    PlaceShortcuts(&PackageTable[0], launchPath, addToStartMenu, addToDesktop);
    if (requested && AwaitDesktopStart())
        return 1;
    wsprintfA(commandLine, "\"%s\" %s", launchPath, PackageConfig.LaunchArguments);
    if (WinExec(commandLine, SW_SHOW) > 31)
        return 1;
    return Stop(MSG_CANNOT_START, launchPath);
}
