// Process entry. The installer carries no C runtime: the entry point below is
// the first code that runs, and the process ends with WinMain's result.
#include "installer_dialog.h"
#include "engine.h"
#include "resource.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

typedef BOOL (WINAPI *SetDefaultDllDirectoriesProc)(DWORD);

// Installers are started from download folders where anyone may have left a
// DLL: where the system allows it, load DLLs from the system folder only.
static void RestrictDllSearch(void)
{
    SetDefaultDllDirectoriesProc setDirectories = (SetDefaultDllDirectoriesProc)(void (*)(void))
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (setDirectories != NULL)
        setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand)
{
    (void)previous;
    (void)commandLine;
    (void)showCommand;

    g_hInstance = instance;
    // The connection to the desktop's shell is made on a thread of its own,
    // once the dialog has been created: the dialog never waits for it.
    ConnectDesktopShell();
    // A Unicode dialog: the template's texts reach the controls as they are,
    // not through the system's code page.
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_INSTALLER), NULL, InstallDlgProc, 0);
    DisconnectDesktopShell();
    if (g_ComStarted > 0)
        CoUninitialize();
    return 0;
}

extern "C" __attribute__((no_stack_protector)) void __stdcall ZorvikEntry(void)
{
    InitStackGuard();
    RestrictDllSearch();
    ExitProcess(WinMain(GetModuleHandleA(NULL), NULL, NULL, SW_SHOWDEFAULT));
}
