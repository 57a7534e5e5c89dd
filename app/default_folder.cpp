// The folder proposed when the dialog opens: the user's recorded folder, or
// the program-files folder with the package's folder name appended.
#include "installer_dialog.h"
#include "package.h"

static const char g_programFilesPath[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\ProgramFilesDir";
static const char g_programFiles[] = "Program Files";
static const char g_fallbackProgramFiles[] = "C:\\Program Files";

// Length of the segment starting at `p`, up to a backslash or the end.
// Double-byte characters are stepped over whole, so a trail byte 0x5C does
// not split a name.
static int SegmentLength(const char *p)
{
    int n = 0;
    while (p[n] != '\0' && p[n] != '\\') {
        if (IsDBCSLeadByte((BYTE)p[n]) && p[n + 1] != '\0')
            n++;
        n++;
    }
    return n;
}

// Checks the whole path before anything is opened: at most MAX_KEY_NAMES key
// names, and every segment must fit a MAX_PATH buffer with its terminator.
static int IsUsablePath(const char *path)
{
    int keyNames = 0;
    const char *p = path;
    int n;

    for (;;) {
        n = SegmentLength(p);
        if (n >= MAX_PATH)
            return 0;
        if (p[n] == '\0')
            return 1;
        if (++keyNames > MAX_KEY_NAMES)
            return 0;
        p += n + 1;
    }
}

int ReadRegistryValue(char *buffer, HKEY root, const char *path)
{
    HKEY keys[MAX_KEY_NAMES + 1];
    char segment[MAX_PATH];
    const char *p = path;
    int opened = 0;
    int result = 0;
    int n, i;
    DWORD size;

    if (!IsUsablePath(path))
        return 0;

    keys[0] = root;
    for (;;) {
        n = SegmentLength(p);
        lstrcpynA(segment, p, n + 1);
        if (p[n] == '\0')
            break;                      // the last segment names the value
        if (RegOpenKeyExA(keys[opened], segment, 0, KEY_READ, &keys[opened + 1]) != ERROR_SUCCESS)
            goto close;
        opened++;
        p += n + 1;
    }

    size = MAX_PATH;
    if (RegQueryValueExA(keys[opened], segment, NULL, NULL, (BYTE *)buffer, &size) == ERROR_SUCCESS
        && size <= MAX_PATH) {
        // The data need not carry its own terminator. Shorter data is ended
        // right after it; data that fills the buffer must hold one itself.
        if (size < MAX_PATH) {
            buffer[size] = '\0';
            result = 1;
        } else {
            for (i = 0; i < MAX_PATH; i++) {
                if (buffer[i] == '\0') {
                    result = 1;
                    break;
                }
            }
        }
    }

close:
    while (opened > 0) {
        RegCloseKey(keys[opened]);
        opened--;
    }
    return result;
}

// The drive root of the Windows folder with "Program Files" appended.
static void ProgramFilesFromWindowsFolder(char *buffer)
{
    UINT length = GetWindowsDirectoryA(buffer, MAX_PATH);
    int i;

    if (length == 0 || length >= MAX_PATH) {
        lstrcpyA(buffer, g_fallbackProgramFiles);
        return;
    }
    for (i = 0; buffer[i] != '\0'; i++) {
        if (buffer[i] == '\\')
            break;
        if (IsDBCSLeadByte((BYTE)buffer[i]) && buffer[i + 1] != '\0')
            i++;
    }
    // No backslash at all, or a root too long for the rest of the proposal:
    // fall back to the usual folder.
    if (buffer[i] != '\\'
        || i + 1 + lstrlenA(g_programFiles) + 1 + lstrlenA(PackageConfig.DefaultFolderName) >= MAX_PATH) {
        lstrcpyA(buffer, g_fallbackProgramFiles);
        return;
    }
    buffer[i + 1] = '\0';
    lstrcatA(buffer, g_programFiles);
}

void GetDefaultInstallFolder(char *buffer)
{
    if (ReadRegistryValue(buffer, HKEY_CURRENT_USER, PackageConfig.SettingsValuePath))
        return;

    // A program-files folder too long to take the folder name is passed over.
    if (!ReadRegistryValue(buffer, HKEY_LOCAL_MACHINE, g_programFilesPath)
        || lstrlenA(buffer) + 1 + lstrlenA(PackageConfig.DefaultFolderName) >= MAX_PATH)
        ProgramFilesFromWindowsFolder(buffer);

    lstrcatA(buffer, "\\");
    lstrcatA(buffer, PackageConfig.DefaultFolderName);
}
