// An update while the program runs. Windows replaces no running program's
// file, and the program is a resident tool that its users keep open all day.
// So before anything is written the run looks for processes whose image is
// the package's program in this installation folder, asks the user, and asks
// those processes to end as the system does at log-off or in an update. Never
// by force (the installer does not even import TerminateProcess): the user's
// unsaved notes are in that program. A copy of the program started from
// another folder is not touched.
#include "engine.h"
#include "messages.h"
#include <tlhelp32.h>

#ifndef PROCESS_QUERY_LIMITED_INFORMATION
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#endif
#ifndef ENDSESSION_CLOSEAPP
#define ENDSESSION_CLOSEAPP 0x00000001
#endif

// The processes and windows followed at most. A program of the folder
// beyond them is not asked to end; its file's placement then fails, before
// anything is written (the program is the first entry).
#define MAX_RUNNING 16
#define MAX_WINDOWS 64

// How long the processes get to end after the user agreed: long enough for
// a program to save its notes and exit, short enough that a program that has
// hung does not hold the user for long.
DWORD g_CloseDeadline = 10000;
// How long one window gets to answer a question. The dialog does not paint
// meanwhile; two seconds stay well below the five after which the system
// would show the dialog as not responding.
#define REPLY_TIME 2000

QueryImageNameProc g_QueryFullProcessImageNameW;
ModuleFileNameProc g_GetModuleFileNameExW;

// The image path of another process: the kernel tells it from Windows Vista
// on; before that, PSAPI does, loaded by full path from the system folder
// (it is no known DLL there either).
static int BindImageQuery(void)
{
    HMODULE psapi;

    if (g_QueryFullProcessImageNameW || g_GetModuleFileNameExW)
        return 1;
    g_QueryFullProcessImageNameW = (QueryImageNameProc)(void (*)(void))
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameW");
    if (g_QueryFullProcessImageNameW)
        return 1;
    psapi = LoadSystemLibrary("psapi.dll");
    if (psapi)
        g_GetModuleFileNameExW = (ModuleFileNameProc)(void (*)(void))GetProcAddress(psapi, "GetModuleFileNameExW");
    return g_GetModuleFileNameExW != NULL;
}

// The identity of the file a process runs, reached by the image's exact name.
static int ImageIdentity(HANDLE process, BY_HANDLE_FILE_INFORMATION *info)
{
    WCHAR image[MAX_PATH];
    DWORD length = MAX_PATH;
    HANDLE file;
    int known;

    if (g_QueryFullProcessImageNameW) {
        if (!g_QueryFullProcessImageNameW(process, 0, image, &length))
            return 0;
    } else {
        // A name that fills the buffer may have been cut.
        length = g_GetModuleFileNameExW(process, NULL, image, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return 0;
    }
    file = CreateFileW(image, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    known = GetFileInformationByHandle(file, info) != 0;
    CloseHandle(file);
    return known;
}

// Opens, to be waited for, every other process whose image is the file that
// `program` identifies; the count, with their handles and identifiers. The
// list names each image without its folder: only a process of the same name
// is looked at closer. A process that cannot be opened or asked is passed
// over.
static int OpenRunningProcesses(const char *name, const BY_HANDLE_FILE_INFORMATION *program, HANDLE *processes,
                                DWORD *ids)
{
    PROCESSENTRY32 entry;
    BY_HANDLE_FILE_INFORMATION image;
    HANDLE snapshot, process;
    DWORD access;
    BOOL more;
    int count = 0;

    if (!BindImageQuery())
        return 0;
    access = SYNCHRONIZE
        | (g_QueryFullProcessImageNameW ? PROCESS_QUERY_LIMITED_INFORMATION : PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
    snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    entry.dwSize = sizeof(entry);
    for (more = Process32First(snapshot, &entry); more && count < MAX_RUNNING; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId() || lstrcmpiA(entry.szExeFile, name) != 0)
            continue;
        process = OpenProcess(access, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        if (ImageIdentity(process, &image) && SameFile(&image, program)) {
            processes[count] = process;
            ids[count++] = entry.th32ProcessID;
        } else {
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
    return count;
}

struct WindowList {
    const DWORD *ids;
    int processes;
    HWND windows[MAX_WINDOWS];
    int owners[MAX_WINDOWS];   // the index of the window's process
    int count;
};

static BOOL CALLBACK CollectWindow(HWND window, LPARAM data)
{
    WindowList *list = (WindowList *)data;
    DWORD id = 0;
    int i;

    GetWindowThreadProcessId(window, &id);
    for (i = 0; i < list->processes; i++) {
        if (id == list->ids[i] && list->count < MAX_WINDOWS) {
            list->windows[list->count] = window;
            list->owners[list->count++] = i;
        }
    }
    return TRUE;
}

// What one window may take of what is left before the deadline.
static UINT ReplyTime(DWORD deadline)
{
    LONG left = (LONG)(deadline - GetTickCount());

    return left <= 0 ? 1 : left < REPLY_TIME ? (UINT)left : REPLY_TIME;
}

// Asks every top-level window of the processes, hidden ones included (a
// resident tool may show none), as the system asks at log-off or in an
// update: first every window whether it may end; only when all agree is each
// told that it ends, and to close; when one refuses, each is told that it
// does not. A window that does not answer in time marks its process as not
// responding, and that process's other windows are not asked; one that went
// away meanwhile is passed over. 0 when a window refused: every process stays.
static int AskToEnd(const DWORD *ids, int count, DWORD deadline)
{
    WindowList list;
    DWORD_PTR answer;
    BYTE hung[MAX_RUNNING];
    BYTE answered[MAX_WINDOWS];
    int i, agreed = 1;

    list.ids = ids;
    list.processes = count;
    list.count = 0;
    for (i = 0; i < count; i++)
        hung[i] = 0;
    EnumWindows(CollectWindow, (LPARAM)&list);
    for (i = 0; i < list.count; i++) {
        answered[i] = 0;
        if (hung[list.owners[i]])
            continue;
        answer = 0;
        if (!SendMessageTimeoutW(list.windows[i], WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG,
                                 ReplyTime(deadline), &answer)) {
            if (IsWindow(list.windows[i]))
                hung[list.owners[i]] = 1;
            continue;
        }
        answered[i] = 1;
        // A program that may not end now (work it could not save) stays.
        if (!answer)
            agreed = 0;
    }
    for (i = 0; i < list.count; i++) {
        if (!answered[i])
            continue;
        SendMessageTimeoutW(list.windows[i], WM_ENDSESSION, agreed, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG,
                            ReplyTime(deadline), NULL);
        if (agreed)
            PostMessageW(list.windows[i], WM_CLOSE, 0, 0);
    }
    return agreed;
}

int CloseRunningProgram(const char *folder)
{
    char program[MAX_PATH];
    BY_HANDLE_FILE_INFORMATION identity;
    HANDLE processes[MAX_RUNNING];
    DWORD ids[MAX_RUNNING];
    DWORD deadline;
    int count, closed = 0, i;

    // No program in the folder: none of its processes runs.
    lstrcpyA(program, folder);
    if (!AppendPathName(program, PackageTable[0].fileName) || !PathIdentity(program, &identity))
        return 1;
    count = OpenRunningProcesses(PackageTable[0].fileName, &identity, processes, ids);
    if (count == 0)
        return 1;
    if (ShowMessage(MSG_PROGRAM_RUNNING_ASK, program, 0, MB_YESNO | MB_ICONQUESTION) == IDYES) {
        deadline = GetTickCount() + g_CloseDeadline;
        closed = AskToEnd(ids, count, deadline) && WaitWithDialog(processes, count, deadline);
        if (!closed)
            ShowFailure(MSG_PROGRAM_NOT_CLOSED, program);
    }
    for (i = 0; i < count; i++)
        CloseHandle(processes[i]);
    return closed;
}
