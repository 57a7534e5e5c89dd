// Starts the installed program as the person at the desktop. The run has the
// administrator's token that the installer asked for; a program started by it
// would inherit that token, and with an approval given over the shoulder it
// would even run as another account. The desktop's shell runs as the person
// who is logged on, with that person's normal token: it is asked to start the
// program, through the window that it keeps for the desktop.
#include "engine.h"
#include <exdisp.h>
#include <shlobj.h>
#include <shldisp.h>

// Defined here so that nothing depends on the uuid library.
static const GUID g_ClsidShellWindows =
    { 0x9BA05972, 0xF6A8, 0x11CF, { 0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39 } };
static const GUID g_IidShellWindows =
    { 0x85CB6900, 0x4D95, 0x11CF, { 0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85 } };
static const GUID g_IidServiceProvider =
    { 0x6D5140C1, 0x7436, 0x11CE, { 0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA } };
static const GUID g_SidTopLevelBrowser =
    { 0x4C96BE40, 0x915C, 0x11CF, { 0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37 } };
static const GUID g_IidShellBrowser =
    { 0x000214E2, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } };
static const GUID g_IidDispatch =
    { 0x00020400, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } };
static const GUID g_IidShellFolderViewDual =
    { 0xE7A1AF80, 0x4D96, 0x11CF, { 0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85 } };
static const GUID g_IidShellDispatch2 =
    { 0xA4C6892C, 0x3BA9, 0x11D2, { 0x9D, 0xEA, 0x00, 0xC0, 0x4F, 0xB1, 0x61, 0x62 } };

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

// The desktop shell's application object, held from the dialog's opening to
// the program's start: the connection's cross-process calls are then made
// while the user reads the dialog, not after the click.
static IShellDispatch2 *g_DesktopShell;

int ConnectDesktopShell(void)
{
    IUnknown *held[9];      // every interface a step handed out, in order
    int count = 0;
    void *object;
    VARIANT desktopLocation, none;
    long window;

    if (g_DesktopShell)
        return 1;
    desktopLocation.vt = VT_I4;
    desktopLocation.lVal = CSIDL_DESKTOP;
    none.vt = VT_EMPTY;

    // Each step asks the interface of the one before it. A step that fails
    // hands out nothing, whatever it left in its output.
#define NEXT(call) (object = NULL, SUCCEEDED(call) && object && (held[count++] = (IUnknown *)object) != NULL)
#define LAST(type) ((type *)held[count - 1])
    if (NEXT(CoCreateInstance(g_ClsidShellWindows, NULL, CLSCTX_ALL, g_IidShellWindows, &object))
        && NEXT(LAST(IShellWindows)->FindWindowSW(&desktopLocation, &none, SWC_DESKTOP, &window,
                                                   SWFO_NEEDDISPATCH, (IDispatch **)&object))
        && NEXT(LAST(IUnknown)->QueryInterface(g_IidServiceProvider, &object))
        && NEXT(LAST(IServiceProvider)->QueryService(g_SidTopLevelBrowser, g_IidShellBrowser, &object))
        && NEXT(LAST(IShellBrowser)->QueryActiveShellView((IShellView **)&object))
        && NEXT(LAST(IShellView)->GetItemObject(SVGIO_BACKGROUND, g_IidDispatch, &object))
        && NEXT(LAST(IUnknown)->QueryInterface(g_IidShellFolderViewDual, &object))
        && NEXT(LAST(IShellFolderViewDual)->get_Application((IDispatch **)&object))
        && NEXT(LAST(IUnknown)->QueryInterface(g_IidShellDispatch2, &object)))
        g_DesktopShell = (IShellDispatch2 *)held[--count];
#undef NEXT
#undef LAST

    while (count > 0)
        held[--count]->Release();
    return g_DesktopShell != NULL;
}

void DisconnectDesktopShell(void)
{
    if (g_DesktopShell)
        g_DesktopShell->Release();
    g_DesktopShell = NULL;
}

int StartAsDesktopUser(const char *program, const char *arguments)
{
    VARIANT none, parameters, directory, show;
    BSTR file;
    char full[MAX_PATH];
    char folder[MAX_PATH];
    char *name = NULL;
    DWORD length;
    int started = 0;
    int attempts;

    // The shell would read a relative name from its own current folder.
    length = GetFullPathNameA(program, MAX_PATH, full, &name);
    if (length == 0 || length >= MAX_PATH || name == NULL || name <= full)
        return 0;
    lstrcpynA(folder, full, (int)(name - full) + 1);

    file = NewString(full);
    SetString(&parameters, NewString(arguments));
    SetString(&directory, NewString(folder));
    none.vt = VT_EMPTY;
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;

    // Connected when the dialog opened, or now. A connection from the
    // dialog's opening may have outlived its shell (Explorer restarted since):
    // what it refuses is asked once more through a new one. Each request ends
    // its connection, so a start after a run that stopped asks the shell that
    // runs then.
    if (file && parameters.bstrVal && directory.bstrVal) {
        attempts = g_DesktopShell ? 2 : 1;
        do {
            if (ConnectDesktopShell())
                started = g_DesktopShell->ShellExecute(file, parameters, directory, none, show) == S_OK;
            DisconnectDesktopShell();
        } while (!started && --attempts > 0);
    }

    SysFreeString(file);
    SysFreeString(parameters.bstrVal);
    SysFreeString(directory.bstrVal);
    return started;
}
