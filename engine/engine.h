// The installation engine: everything that happens after the start button.
#ifndef ZORVIK_ENGINE_H
#define ZORVIK_ENGINE_H

#include <windows.h>
#include "package.h"

// Set by the front end: the module (for the payload resources) and the
// installer dialog (owner of message boxes, home of the progress label).
extern HINSTANCE g_hInstance;
extern HWND g_hDlg;

// The run: 1 when everything is placed and the program started, 0 after a
// stop (its message, if any, has been shown).
int OnStart(char *folder, int addToStartMenu, int addToDesktop);

// Shared helpers.
int ShowMessage(const char *text, UINT type);
void SetInstallingState(int installing);
int CreateFolderTree(const char *path);

// Placement of one manifest entry, and its shortcuts.
int PlaceEntry(int index, const char *folder, int addToStartMenu, int addToDesktop, char *launchPath);
void PlaceShortcuts(PackageEntry *entry, const char *target, int addToStartMenu, int addToDesktop);
int CreateShortcut(const char *target, const char *folder, const char *name);

// cp932-aware byte scans: the index of the last character's first byte and of
// the first colon, or -1. A trail byte may have the value of a backslash.
int LastCharIndex(const char *text);
int FirstColonIndex(const char *text);
// The part of a path after its last backslash.
const char *FileNameOf(const char *path);
// The longest name of a file that placement expands into before renaming it:
// the prefix's three characters, four hex digits and ".tmp".
#define WORK_FILE_NAME_LENGTH 11

// Appends "\" and name to a MAX_PATH buffer; 0 (buffer unchanged) if it would not fit.
int AppendPathName(char *path, const char *name);

// The LZ expand functions, bound at run time from the system folder by full
// path: LZ32 is not a known DLL, so a static import would take any lz32.dll
// found beside the installer. Null until bound; BindLzLibrary fills only the
// null ones, so a replacement set beforehand stays in place.
typedef INT (WINAPI *LZOpenFileAProc)(LPSTR, LPOFSTRUCT, WORD);
typedef LONG (WINAPI *LZCopyProc)(INT, INT);
typedef void (WINAPI *LZCloseProc)(INT);
extern LZOpenFileAProc g_LZOpenFileA;
extern LZCopyProc g_LZCopy;
extern LZCloseProc g_LZClose;
int BindLzLibrary(void);

#endif
