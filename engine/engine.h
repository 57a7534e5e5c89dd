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
// Gives the stack checks' guard a random value where the loader has not;
// the entry point calls it before any function with a check runs.
void InitStackGuard(void);

// Shared helpers.
// Formats one of the run's texts (code page 932) with a name of the ANSI code
// page (null: the format takes only the number) and a number, into a
// MESSAGE_SIZE UTF-16 buffer; 0 when either cannot be converted whole.
int FormatText(WCHAR *text, const char *format, const char *name, int number);
// Shows that text in a box of the given MessageBox type, owned by the dialog
// and titled with its caption; the button that closed it, or 0 when no box
// was shown (every question takes that as a refusal).
int ShowMessage(const char *format, const char *name, int number, UINT type);
// Shows a failure's message (a format and the one path it names; a number in
// it is 0) in an OK box; returns 0, the failure's result.
int ShowFailure(const char *format, const char *argument);
// The progress label's percentage.
void ShowProgress(int percent);
void SetInstallingState(int installing);
// The folders along path are made from the root down, each one it makes with
// the descriptor when one is given (otherwise they inherit from their parents).
int CreateFolderTree(const char *path, PSECURITY_DESCRIPTOR descriptor = NULL);
// One folder in an existing folder, by its exact (UTF-16) path; 1 when it
// exists afterwards, 0 after the message.
int CreateWideFolder(const WCHAR *path);

// The run's guards before anything is made: every payload as the build
// recorded it, and an installation folder that is none of the system's own
// (Windows, system, 64-bit system). 1 to go on, 0 after the message.
int CheckPayloads(void);
int IsSystemFolder(const char *folder);
// Once the installation folder exists: opened as itself, never through a
// link, refused when it is a link of any kind or one of the system's own
// folders, and then held until its last file is in place, shared for reading
// and writing but not for deletion, so that no one renames, removes or
// replaces it meanwhile; the new files are named inside it through that
// handle. 0, or the message to stop with (a format naming the folder).
const char *HoldInstallFolder(const char *folder);
void KeepInstallFolder(HANDLE folder);
// The volume serial number and file index of a file or folder; 0 when it
// cannot be opened or says nothing. SameFile compares two of them.
int PathIdentity(const char *path, BY_HANDLE_FILE_INFORMATION *info);
int SameFile(const BY_HANDLE_FILE_INFORMATION *a, const BY_HANDLE_FILE_INFORMATION *b);

// Before the first file is written: a process that runs the package's program
// from the installation folder is asked to end, once the user agrees. 1 to go
// on (none runs, or every one has ended), 0 after the user declined or after
// the message that it could not be closed. The processes get g_CloseDeadline
// milliseconds to end.
int CloseRunningProgram(const char *folder);
extern DWORD g_CloseDeadline;
// Waits until every one of count objects (at most 63) is signalled, or the
// deadline (a GetTickCount time) has passed, while the dialog keeps painting
// and takes no input; 1 when every object was signalled. Without objects
// (null) it waits for the deadline.
int WaitWithDialog(const HANDLE *objects, int count, DWORD deadline);
// Another process's image path: the kernel's function from Windows Vista on,
// PSAPI's before. Null until bound; binding fills them only when both are null.
typedef BOOL (WINAPI *QueryImageNameProc)(HANDLE, DWORD, LPWSTR, PDWORD);
typedef DWORD (WINAPI *ModuleFileNameProc)(HANDLE, HMODULE, LPWSTR, DWORD);
extern QueryImageNameProc g_QueryFullProcessImageNameW;
extern ModuleFileNameProc g_GetModuleFileNameExW;

// Placement, in two steps, so that a run that cannot finish leaves the
// installation it found. First every entry's new file is made beside its
// destination (PrepareEntry, in table order), complete, held open and marked
// for deletion: the system removes it however the process ends. Then
// PlaceNewFiles puts them in place, all or none: each file it replaces is
// kept under a name of the run, marked for deletion too, until the last is
// in place; when one cannot be placed, those already placed go back (a
// runtime library that appeared in the system folder meanwhile is made again
// as the program's private copy, in folder). The run
// then releases them (ReleaseNewFiles): the new files stay where they were
// put, the replaced ones go. Each returns 1, or 0 after the message naming
// the file; a release after a failure leaves the installation as it was.
int PrepareEntry(int index, const char *folder, char *launchPath);
int PlaceNewFiles(const char *folder);
void ReleaseNewFiles(void);
// Files of a run that was killed while it put its files in place, in the
// installation folder and the system folder: removed when no live run holds them.
void RemoveLeftovers(const char *folder);
// How long another program's hold on a file is waited for (milliseconds).
extern DWORD g_HeldPatience;
// An entry's new file, made beside its destination, and what it replaces.
struct NewFile {
    HANDLE file;      // INVALID_HANDLE_VALUE: the entry writes nothing
    HANDLE old;       // the file it replaces, once renamed; INVALID_HANDLE_VALUE: none
    HANDLE folder;    // the destination folder's handle, which names are given in
    int replace;      // the destination may be replaced
    int stage;        // how far it has been put in place (file_swap.cpp)
    char dest[MAX_PATH];
};
extern NewFile g_NewFiles[PACKAGE_ENTRY_COUNT];
// The run's own names for files beside a destination: the prefix, four hex
// digits and ".tmp", numbered for the run; IsRunName tells one.
void FormRunName(char *name);
int IsRunName(const char *name);
// Marks an open file (DELETE access) for deletion or clears the mark: the
// kernel's own function, which also renames by handle, bound at run time.
// 0, or the error.
DWORD MarkForDeletion(HANDLE file, BOOLEAN remove);
typedef LONG (WINAPI *SetInformationFileProc)(HANDLE, PVOID, PVOID, ULONG, int);
extern SetInformationFileProc g_NtSetInformationFile;
// An entry's payload as the executable carries it: 1, or 0 after the message
// naming what failed.
int LoadPayload(int index, const void **data, DWORD *size);
// Asks the desktop's shell to start the program (a path of the code page,
// made absolute) with its arguments, in its own folder, shown normally: it
// then runs as the person at the desktop, with that person's token. The
// request goes to the shell's thread: 1 when the thread has it, 0 when there
// is no connection to take it. The answer, waited for with the dialog
// painting until g_ShellDeadline milliseconds after the request: 1 when the
// shell accepted, or has the request and did not answer in time; 0, with
// nothing shown, when the shell was not connected in time or refused. On 0
// the run starts the program itself.
int RequestDesktopStart(const char *program, const char *arguments);
int AwaitDesktopStart(void);
// The connection to the desktop's shell that the request goes through: made
// on a thread of its own, started with the process (1 when the thread runs);
// it connects once StartShellConnection is called (the dialog has been
// created, or the run asks), and ends with the request or with the dialog.
int ConnectDesktopShell(void);
void StartShellConnection(void);
void DisconnectDesktopShell(void);
extern DWORD g_ShellDeadline;
// The shell's class and interface identifiers.
extern const GUID g_ClsidShellLink, g_IidShellLinkA, g_IidPersistFile, g_ClsidShellWindows, g_IidShellWindows,
    g_IidServiceProvider, g_SidTopLevelBrowser, g_IidShellBrowser, g_IidDispatch, g_IidShellFolderViewDual,
    g_IidShellDispatch2;
// COM on the dialog's thread, started when the browse dialog or the links
// first need it: its start takes longer than anything else before the
// dialog shows, and the dialog does not wait for it. g_ComStarted: 1 when
// started (WinMain ends it), -1 when it could not be.
void StartCom(void);
extern int g_ComStarted;
// The shortcuts of an entry, made once every entry is in place; folders are
// reached by their exact (UTF-16) paths.
void PlaceShortcuts(PackageEntry *entry, const char *target, int addToStartMenu, int addToDesktop);
// CreateShortcut writes folder\name.lnk, its path built in the MAX_PATH buffer
// that holds the folder.
int CreateShortcut(const char *target, WCHAR *path, const char *name);
// Appends "\" and a name of the code page to a MAX_PATH UTF-16 path; 0
// (unchanged) if it would not fit.
int AppendWideName(WCHAR *path, const char *name);

// cp932-aware byte scans: the index of the last character's first byte and of
// the first colon, or -1. A trail byte may have the value of a backslash.
int LastCharIndex(const char *text);
int FirstColonIndex(const char *text);
// The longest name of a file of the run beside a destination: the prefix's
// three characters, four hex digits and ".tmp".
#define WORK_FILE_NAME_LENGTH 11

// Appends "\" (unless the path ends with one: a drive root) and name to a
// MAX_PATH buffer; 0 (buffer unchanged) if it would not fit.
int AppendPathName(char *path, const char *name);

// The LZ expand functions, bound at run time from the system folder by full
// path: LZ32 is not a known DLL, so a static import would take any lz32.dll
// found beside the installer. LZInit reads a file already open (a payload's
// copy); LZCopy writes into a file already open (the new file). Null until
// bound; BindLzLibrary fills only the null ones, so a replacement set
// beforehand stays in place.
typedef LONG (WINAPI *LZCopyProc)(INT, INT);
typedef void (WINAPI *LZCloseProc)(INT);
typedef INT (WINAPI *LZInitProc)(INT);
extern LZCopyProc g_LZCopy;
extern LZCloseProc g_LZClose;
extern LZInitProc g_LZInit;
int BindLzLibrary(void);
// A DLL of the system folder, loaded by its full path: a DLL that is not a
// known DLL would otherwise be looked for beside the installer first.
HMODULE LoadSystemLibrary(const char *name);

#endif
