// Starts the installed program as the person at the desktop. The run has the
// administrator's token that the installer asked for; a program started by it
// would inherit that token, and with an approval given over the shoulder it
// would even run as another account. The desktop's shell runs as the person
// who is logged on, with that person's normal token: it is asked to start the
// program, through the window that it keeps for the desktop.
//
// Every call to the shell crosses into another process, which may be slow or
// hung. They are made on a thread of their own, started with the process. It
// connects once the dialog has been created, as it shows: the first call into
// another process sets up COM's remote calls, and made beside the dialog's
// creation it would hold the dialog back by half again. The connection is
// made while the user reads the dialog, and the dialog never waits for it. The
// run hands its request to the thread at its end, makes the links while the
// shell starts the program, then waits for the answer with a deadline, and
// starts the program itself where the shell is not there in time.
#include "engine.h"
#include <exdisp.h>
#include <shlobj.h>
#include <shldisp.h>

// How long the shell has, from the run's request, to be connected and to
// answer it: as long as the system waits for a window before it calls it not
// responding. A connection made while the user reads the dialog is ready long
// before; one that is not is most likely hung.
DWORD g_ShellDeadline = 5000;

// The connection's state, changed only by InterlockedCompareExchange, so that
// the run and the thread never both start the program.
#define SHELL_WAITING    0   // the thread waits for the dialog, or the run, to need it
#define SHELL_CONNECTING 1   // the thread makes the connection
#define SHELL_READY      2   // connected, no request yet
#define SHELL_SENT       3   // the request has gone to the shell: the program is the shell's to start
#define SHELL_DROPPED    4   // failed, late or done: never used again
#define SHELL_STARTED    5   // done: the shell accepted the request

// The request's strings belong to the run until it is MADE, then to the
// thread, which frees them when it ends (CLOSED); a request made too late is
// refused and stays the run's.
#define REQUEST_NONE   0
#define REQUEST_MADE   1
#define REQUEST_CLOSED 2

static volatile LONG g_ShellState = SHELL_DROPPED;
static volatile LONG g_Request;
static HANDLE g_ShellThread;
static HANDLE g_ConnectEvent;          // connect now: the dialog is made, or the run needs it
static HANDLE g_RequestEvent;          // a request, or the dialog's end
static HANDLE g_AnswerEvent;           // the thread's answer to the request
static BSTR g_RequestStrings[3];       // the program, its arguments, its folder

// A string of the code page as a new BSTR, or null.
static BSTR NewString(const char *text)
{
    WCHAR wide[MAX_PATH];

    if (!MultiByteToWideChar(CP_ACP, 0, text, -1, wide, MAX_PATH))
        return NULL;
    return SysAllocString(wide);
}

static void SetString(VARIANT *variant, BSTR text)
{
    variant->vt = VT_BSTR;
    variant->bstrVal = text;
}

// The desktop shell's application object, or null: the shell windows'
// desktop window, its browser's active view, the view's background object,
// the application. Every interface in between is released.
static IShellDispatch2 *Connect(void)
{
    IUnknown *held[9];      // every interface a step handed out, in order
    IShellDispatch2 *shell = NULL;
    int count = 0;
    void *object;
    VARIANT desktopLocation, none;
    long window;

    desktopLocation.vt = VT_I4;
    desktopLocation.lVal = CSIDL_DESKTOP;
    none.vt = VT_EMPTY;

    // The shell windows are those of the desktop's shell, in its own process;
    // an in-process server of the class would only load a browser's library
    // to ask that process anyway.
    // Each step asks the interface of the one before it. A step that fails
    // hands out nothing, whatever it left in its output.
#define NEXT(call) (object = NULL, SUCCEEDED(call) && object && (held[count++] = (IUnknown *)object) != NULL)
#define LAST(type) ((type *)held[count - 1])
    if (NEXT(CoCreateInstance(g_ClsidShellWindows, NULL, CLSCTX_LOCAL_SERVER, g_IidShellWindows, &object))
        && NEXT(LAST(IShellWindows)->FindWindowSW(&desktopLocation, &none, SWC_DESKTOP, &window,
                                                   SWFO_NEEDDISPATCH, (IDispatch **)&object))
        && NEXT(LAST(IUnknown)->QueryInterface(g_IidServiceProvider, &object))
        && NEXT(LAST(IServiceProvider)->QueryService(g_SidTopLevelBrowser, g_IidShellBrowser, &object))
        && NEXT(LAST(IShellBrowser)->QueryActiveShellView((IShellView **)&object))
        && NEXT(LAST(IShellView)->GetItemObject(SVGIO_BACKGROUND, g_IidDispatch, &object))
        && NEXT(LAST(IUnknown)->QueryInterface(g_IidShellFolderViewDual, &object))
        && NEXT(LAST(IShellFolderViewDual)->get_Application((IDispatch **)&object))
        && NEXT(LAST(IUnknown)->QueryInterface(g_IidShellDispatch2, &object)))
        shell = (IShellDispatch2 *)held[--count];
#undef NEXT
#undef LAST

    while (count > 0)
        held[--count]->Release();
    return shell;
}

// Connects; the connection is READY, or DROPPED when it failed, unless the
// run has dropped it meanwhile. The connection, or null.
static IShellDispatch2 *ConnectUnlessDropped(void)
{
    IShellDispatch2 *shell = Connect();

    if (InterlockedCompareExchange(&g_ShellState, shell ? SHELL_READY : SHELL_DROPPED, SHELL_CONNECTING)
            != SHELL_CONNECTING
        && shell) {
        shell->Release();
        shell = NULL;
    }
    return shell;
}

static void FreeRequest(void)
{
    int i;

    for (i = 0; i < 3; i++) {
        SysFreeString(g_RequestStrings[i]);
        g_RequestStrings[i] = NULL;
    }
}

// Asks the shell to start the program in its folder, shown normally.
static int Execute(IShellDispatch2 *shell)
{
    VARIANT none, parameters, directory, show;

    SetString(&parameters, g_RequestStrings[1]);
    SetString(&directory, g_RequestStrings[2]);
    none.vt = VT_EMPTY;
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    return shell->ShellExecute(g_RequestStrings[0], parameters, directory, none, show) == S_OK;
}

// The thread: waits until the connection is needed, connects, waits for the
// request or the dialog's end, and passes the request on. A request the
// connection refuses (Explorer restarted since the dialog opened) is asked
// once more through a new one. The request ends the connection.
static DWORD WINAPI ShellThread(LPVOID unused)
{
    IShellDispatch2 *shell;
    int attempts = 2, started = 0;

    (void)unused;
    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    WaitForSingleObject(g_ConnectEvent, INFINITE);
    shell = NULL;
    if (InterlockedCompareExchange(&g_ShellState, SHELL_CONNECTING, SHELL_WAITING) == SHELL_WAITING)
        shell = ConnectUnlessDropped();
    if (shell) {
        WaitForSingleObject(g_RequestEvent, INFINITE);
        while (g_Request == REQUEST_MADE && attempts-- > 0 && shell
               && InterlockedCompareExchange(&g_ShellState, SHELL_SENT, SHELL_READY) == SHELL_READY) {
            started = Execute(shell);
            if (started || attempts == 0
                || InterlockedCompareExchange(&g_ShellState, SHELL_CONNECTING, SHELL_SENT) != SHELL_SENT)
                break;
            shell->Release();
            shell = ConnectUnlessDropped();
        }
    }
    if (InterlockedExchange(&g_Request, REQUEST_CLOSED) == REQUEST_MADE)
        FreeRequest();
    InterlockedExchange(&g_ShellState, started ? SHELL_STARTED : SHELL_DROPPED);
    SetEvent(g_AnswerEvent);
    // The run has its answer; the release and COM's end, calls to the shell
    // too, come after it.
    if (shell)
        shell->Release();
    CoUninitialize();
    return 0;
}

static void CloseEvents(void)
{
    if (g_ConnectEvent)
        CloseHandle(g_ConnectEvent);
    if (g_RequestEvent)
        CloseHandle(g_RequestEvent);
    if (g_AnswerEvent)
        CloseHandle(g_AnswerEvent);
    g_ConnectEvent = g_RequestEvent = g_AnswerEvent = NULL;
}

int ConnectDesktopShell(void)
{
    DWORD id;

    if (g_ShellThread)
        return 1;
    g_Request = REQUEST_NONE;
    g_ConnectEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    g_RequestEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    g_AnswerEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (g_ConnectEvent && g_RequestEvent && g_AnswerEvent) {
        g_ShellState = SHELL_WAITING;
        g_ShellThread = CreateThread(NULL, 0, ShellThread, NULL, 0, &id);
        if (g_ShellThread)
            return 1;
    }
    g_ShellState = SHELL_DROPPED;
    CloseEvents();
    return 0;
}

void StartShellConnection(void)
{
    if (g_ConnectEvent)
        SetEvent(g_ConnectEvent);
}

void DisconnectDesktopShell(void)
{
    if (!g_ShellThread)
        return;
    // A connection not begun is not made any more. The thread releases what
    // it holds and ends; one that hangs in a call to the shell is left to the
    // process's end.
    InterlockedCompareExchange(&g_ShellState, SHELL_DROPPED, SHELL_WAITING);
    SetEvent(g_ConnectEvent);
    SetEvent(g_RequestEvent);
    WaitForSingleObject(g_ShellThread, g_ShellDeadline);
    CloseHandle(g_ShellThread);
    g_ShellThread = NULL;
    CloseEvents();
}

// When the request was handed to the thread; its deadline counts from there.
static DWORD g_RequestedAt;

int RequestDesktopStart(const char *program, const char *arguments)
{
    char full[MAX_PATH];
    char folder[MAX_PATH];
    char *name = NULL;
    DWORD length;

    // A connection that failed, or was used or dropped by an earlier run.
    if (!g_ShellThread || g_Request != REQUEST_NONE || g_ShellState == SHELL_DROPPED)
        return 0;
    // The shell would read a relative name from its own current folder.
    length = GetFullPathNameA(program, MAX_PATH, full, &name);
    if (length == 0 || length >= MAX_PATH || name == NULL || name <= full)
        return 0;
    lstrcpynA(folder, full, (int)(name - full) + 1);
    g_RequestStrings[0] = NewString(full);
    g_RequestStrings[1] = NewString(arguments);
    g_RequestStrings[2] = NewString(folder);
    if (!g_RequestStrings[0] || !g_RequestStrings[1] || !g_RequestStrings[2]
        || InterlockedCompareExchange(&g_Request, REQUEST_MADE, REQUEST_NONE) != REQUEST_NONE) {
        FreeRequest();
        return 0;
    }
    g_RequestedAt = GetTickCount();
    SetEvent(g_RequestEvent);
    StartShellConnection();
    return 1;
}

int AwaitDesktopStart(void)
{
    LONG state;

    if (WaitWithDialog(&g_AnswerEvent, 1, g_RequestedAt + g_ShellDeadline))
        return g_ShellState == SHELL_STARTED;
    // Not answered in time. A connection not made yet is dropped (or not
    // begun), and the run starts the program itself; a request already sent
    // is the shell's.
    for (;;) {
        state = g_ShellState;
        if (state == SHELL_SENT || state == SHELL_STARTED)
            return 1;
        if (state == SHELL_DROPPED)
            return 0;
        if (InterlockedCompareExchange(&g_ShellState, SHELL_DROPPED, state) == state)
            return 0;
    }
}
