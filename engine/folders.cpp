// Folder creation and the byte scans over cp932 paths. Every scan steps over
// double-byte characters: in C:\ソフト the trail bytes of ソ and ト are 0x5C,
// the value of a backslash.
#include "engine.h"
#include "messages.h"

// Bytes of the character that starts at text: 2 for a complete double-byte character.
static int CharBytes(const char *text)
{
    return (IsDBCSLeadByte((BYTE)text[0]) && text[1]) ? 2 : 1;
}

int LastCharIndex(const char *text)
{
    int i = 0, last = -1;

    while (text[i]) {
        last = i;
        i += CharBytes(text + i);
    }
    return last;
}

int FirstColonIndex(const char *text)
{
    int i = 0;

    while (text[i]) {
        if (text[i] == ':')
            return i;
        i += CharBytes(text + i);
    }
    return -1;
}

int AppendPathName(char *path, const char *name)
{
    int last = LastCharIndex(path);

    if (lstrlenA(path) + 1 + lstrlenA(name) >= MAX_PATH)
        return 0;
    // A drive root ends with its backslash already.
    if (last < 0 || path[last] != '\\')
        lstrcatA(path, "\\");
    lstrcatA(path, name);
    return 1;
}

int CreateFolderTree(const char *path, PSECURITY_DESCRIPTOR descriptor)
{
    char prefix[MAX_PATH];
    SECURITY_ATTRIBUTES sa = { sizeof(SECURITY_ATTRIBUTES), descriptor, TRUE };
    int p = 0;

    // A path that does not fit a path buffer is refused whole: no folder is
    // made at a truncated name.
    if (lstrlenA(path) >= MAX_PATH) {
        lstrcpynA(prefix, path, MAX_PATH);
        return ShowFailure(MSG_FOLDER_NOT_CREATED, prefix);
    }

    // Create each folder along the path from the root down, the whole path
    // last. A drive root such as C:\ is never attempted.
    for (;;) {
        char c = path[p];

        if (c != '\\' && c != '\0') {
            p += CharBytes(path + p);
            continue;
        }
        if (!(p >= 2 && path[p - 1] == ':')) {
            lstrcpynA(prefix, path, p + 1);
            if (!CreateDirectoryA(prefix, &sa) && GetLastError() != ERROR_ALREADY_EXISTS)
                return ShowFailure(MSG_FOLDER_NOT_CREATED, prefix);
        }
        if (c == '\0')
            return 1;
        p++;
    }
}

int CreateWideFolder(const WCHAR *path)
{
    char name[MAX_PATH];
    SECURITY_ATTRIBUTES sa = { sizeof(SECURITY_ATTRIBUTES), NULL, TRUE };

    if (CreateDirectoryW(path, &sa) || GetLastError() == ERROR_ALREADY_EXISTS)
        return 1;
    // The message names the folder as well as the code page can.
    if (!WideCharToMultiByte(CP_ACP, 0, path, -1, name, MAX_PATH, NULL, NULL))
        name[0] = '\0';
    return ShowFailure(MSG_FOLDER_NOT_CREATED, name);
}

int AppendWideName(WCHAR *path, const char *name)
{
    int length = lstrlenW(path);

    if (length + 1 >= MAX_PATH)
        return 0;
    path[length] = L'\\';
    if (!MultiByteToWideChar(CP_ACP, 0, name, -1, path + length + 1, MAX_PATH - length - 1)) {
        path[length] = L'\0';
        return 0;
    }
    return 1;
}
