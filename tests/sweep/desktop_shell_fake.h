// A stand-in for the desktop's shell, the chain that the installer asks to
// start its program: the shell windows (what CoCreateInstance hands out for
// their class), the desktop's window, its browser, view and background, the
// shell's application object and its ShellExecute. Every step after the
// creation is a Counter of its own that a sweep can make fail, or hold past
// the installer's deadline; every reference handed out is counted until it
// is released. The steps run on the installer's own thread for the shell.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "import_hook.h"

namespace DesktopShell {
// What ShellExecute was asked to start (UTF-16 as given).
struct Request {
    std::wstring file, arguments, folder;
    VARTYPE operation;
    long show;
};
extern std::vector<Request> requests;

bool IsShellWindows(REFCLSID clsid);
// The shell windows' object for `iid` (IShellWindows), as CoCreateInstance answers.
HRESULT Create(REFIID iid, void **out);
// Adds the counters of the steps after the creation, in the chain's order, to
// Hooks::counters, so that a sweep fails each in turn.
void RegisterCounters();
// A step of the chain, ShellExecute included; a step of the connection:
// every one before ShellExecute.
bool IsStep(const Counter *counter);
bool IsConnectionStep(const Counter *counter);
// References handed out and not yet released.
int Outstanding();
// Forgets the requests, and holds the step that a sweep holds until Release;
// the reference count stays (a leak carries over).
void Reset();
void Release();
}  // namespace DesktopShell
