// OnStart: one installation run, from the start button to the started program.
#include "engine.h"
#include "messages.h"
#include "resource.h"

#define REQUIRED_FREE_BYTES PACKAGE_REQUIRED_SPACE

// Ends a run that did not complete: the message (if any), then back to input.
static int Stop(const char *text)
{
    if (text)
        ShowMessage(text, MB_OK);
    SetInstallingState(0);
    return 0;
}

// Whether the composed paths of a run fit for this folder. The longest is the
// folder, a backslash and the longest file name (or the name of the file that
// an entry is expanded into first); it must also fit the
// platform's open-file record (OpenFile and LZOpenFileA take less than
// OFS_MAXPATHNAME bytes, after making the path absolute), or the run would
// create the folder only to fail at its first file.
static int FolderFits(const char *folder)
{
    char full[MAX_PATH];
    DWORD fullLength;
    int length = lstrlenA(folder);
    int longestName = WORK_FILE_NAME_LENGTH;
    int i;

    for (i = 0; i < PACKAGE_ENTRY_COUNT; i++)
        if (lstrlenA(PackageTable[i].fileName) > longestName)
            longestName = lstrlenA(PackageTable[i].fileName);

    fullLength = GetFullPathNameA(folder, MAX_PATH, full, NULL);
    if (fullLength == 0 || fullLength >= MAX_PATH)
        return 0;
    if ((int)fullLength > length)
        length = (int)fullLength;
    if (length + 1 + longestName >= OFS_MAXPATHNAME)
        return 0;
    // The command line: the quoted launch path, a space and the arguments.
    return length + 1 + longestName + 3 + lstrlenA(PackageConfig.LaunchArguments) < COMMAND_LINE_SIZE;
}

int OnStart(char *folder, int addToStartMenu, int addToDesktop)
{
    char launchPath[MAX_PATH];
    char current[MAX_PATH];
    char root[MAX_PATH];
    char text[MESSAGE_SIZE];
    char commandLine[COMMAND_LINE_SIZE];
    SECURITY_ATTRIBUTES sa = { sizeof(SECURITY_ATTRIBUTES), NULL, TRUE };
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters, currentLength;
    ULONGLONG freeBytes;
    const char *source;
    int last, colon, i;

    SetInstallingState(1);
    launchPath[0] = '\0';

    // One trailing backslash goes (never a trail byte of a double-byte character).
    last = LastCharIndex(folder);
    if (last >= 0 && folder[last] == '\\')
        folder[last] = '\0';

    // Refuse a folder too long for the paths built from it, before anything is made.
    if (!FolderFits(folder)) {
        wsprintfA(text, MSG_FOLDER_DENIED, folder);
        return Stop(text);
    }

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

    if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
        wsprintfA(text, MSG_DRIVE_INVALID, root);
        return Stop(text);
    }
    freeBytes = (ULONGLONG)sectorsPerCluster * bytesPerSector * freeClusters;
    if (freeBytes < REQUIRED_FREE_BYTES) {
        if (freeClusters == 0) {
            wsprintfA(text, MSG_DISK_FULL, root, 0);
            return Stop(text);
        }
        wsprintfA(text, MSG_DISK_LOW_ASK, root, (int)(DWORD)freeBytes);
        if (ShowMessage(text, MB_YESNO | MB_ICONQUESTION) != IDYES)
            return Stop(NULL);
    }

    // A missing folder whose parent exists is made at once; deeper trees only
    // after the user agrees.
    if (!CreateDirectoryA(folder, &sa)) {
        DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED) {
            wsprintfA(text, MSG_FOLDER_DENIED, folder);
            return Stop(text);
        }
        if (error != ERROR_ALREADY_EXISTS) {
            wsprintfA(text, MSG_FOLDER_MISSING_ASK, folder);
            if (ShowMessage(text, MB_YESNO | MB_ICONQUESTION) != IDYES)
                return Stop(NULL);
            if (!CreateFolderTree(folder))
                return Stop(NULL);
        }
    }

    for (i = 0; i < PACKAGE_ENTRY_COUNT; i++) {
        wsprintfA(text, MSG_PROGRESS, (i + 1) * 100 / PACKAGE_ENTRY_COUNT);
        SetWindowTextA(GetDlgItem(g_hDlg, IDC_PROGRESS), text);
        if (!PlaceEntry(i, folder, addToStartMenu, addToDesktop, launchPath))
            return Stop(NULL);
    }

    wsprintfA(commandLine, "\"%s\" %s", launchPath, PackageConfig.LaunchArguments);
    if (WinExec(commandLine, SW_SHOW) > 31)
        return 1;
    wsprintfA(text, MSG_CANNOT_START, launchPath);
    return Stop(text);
}
