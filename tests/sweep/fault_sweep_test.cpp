// The fault sweep: a whole installation, driven through the real dialog
// procedure on a dialog made from the installer's own template, is run once
// cleanly to count every platform call, and then once for every (function,
// call number, failure kind) with exactly that call failing. Every run is held
// to the same rules: the right result, the right messages, the installation
// folder and the system folder holding exactly what they held before the run
// until every new file is in place and exactly the package from then on,
// nothing of the run left in them or the temporary folder or open, nothing
// made outside the allowed places (and nothing at all by a run that stops
// before its first folder), the protected descriptor on every folder the run
// makes for the installation, no link to an incomplete installation, every
// path terminated within MAX_PATH, windows of a running program told that they
// end only once every one has agreed, and the dialog back in its input state.
#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "engine.h"
#include "installer_dialog.h"
#include "messages.h"
#include "resource.h"
#include "scratch.h"
#include "sweep_support.h"
#include "platform_hooks.h"
#include "desktop_shell_fake.h"

namespace {

const std::string kAbsent = "\x01" "absent";
const char kLeftover[] = "ZIN0ABC.tmp";
const char kCaption[] = "Zorvikインストーラ";
const int kInputControls[] = {IDC_INPUT_CONTROLS};

// ---------------------------------------------------------------- run state

struct Box {
    std::string text, title;
    UINT type;
    HWND owner;
    size_t traceIndex;
};

struct RunState {
    std::vector<Box> boxes;
    std::vector<std::string> commandLines;
    std::vector<UINT> shows;
    std::vector<INT_PTR> ended;
    std::set<INT> lzOpen;
    std::set<HANDLE> handlesOpen;   // files, processes and lists opened and not yet closed or handed to LZInit
    DWORD resourceSize = 0;       // the last SizeofResource answer
    std::string damaged;          // a payload handed out with one byte changed
    std::vector<HKEY> keysOpen;
    std::map<const void *, int> specialLists;   // item-id list -> CSIDL
    LPITEMIDLIST browseList = nullptr;
    std::set<BSTR> strings;                     // allocated and not yet freed
    std::map<HANDLE, std::pair<std::string, int>> dests;   // a new or old file's handle -> its destination, entry
    std::map<HANDLE, std::string> folders;              // a destination folder's handle -> its path
};
RunState g_run;

struct Scenario {
    const char *name;
    bool relative;     // folder typed relative to the current directory
    bool upgrade;      // folder exists with older files; one runtime library in the system folder
    bool lowDisk;      // the drive reports less than the required space free
    bool everyEntry;   // false: the installation-folder entries after the program but one in the middle, placed exactly
                       // as in the fresh run, are not swept again
    bool desktopShell; // the desktop's shell runs (faked); without it the run starts the program itself
    bool running;      // the earlier installation's program runs from the folder: only the run's
                       // look for it and its closing are swept
};

struct Layout {
    std::string root, cwd, sys, tmp, programs, desktop, browse;
    std::string group, startLink, desktopLink;   // the program group and the program's two links
    std::string folderText;   // what is typed into the dialog
    std::string folderAbs;    // the installation folder, absolute
};
const Scenario *g_scenario = nullptr;

// The program of the earlier installation, running from the installation folder.
struct RunningProgram {
    HANDLE process = nullptr;
    DWORD id = 0;
};
RunningProgram g_program;
Layout g_layout;
std::map<std::string, std::string> g_original;   // file name -> package bytes
std::map<std::string, LONG> g_expandedSize;

void Poison(void *p, size_t n) { std::memset(p, 'P', n); }

// ---------------------------------------------------------------- the hooks


std::vector<Hooks::Installed> g_hooks;

std::string WithBackslash(const std::string &s) { return s.empty() || s.back() == '\\' ? s : s + "\\"; }

// Process32First and Process32Next: the list shows this process and the
// scenario's program only (other tests' processes come and go).
template <class H> void ProcessListHook() {
    H::counter.variants = {"FALSE (ERROR_NO_MORE_FILES)"};
    H::base = [](HANDLE list, LPPROCESSENTRY32 e) {
        BOOL more = H::real(list, e);
        while (more && e->th32ProcessID != GetCurrentProcessId() && e->th32ProcessID != g_program.id)
            more = NextProcess::real(list, e);
        return more;
    };
    H::fail = [](int, HANDLE, LPPROCESSENTRY32) -> BOOL {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    };
    H::after = [](CallRecord &r, BOOL more, HANDLE, LPPROCESSENTRY32 e) {
        if (more) r.output = e->szExeFile, r.mode = static_cast<long>(e->th32ProcessID);
    };
}

void InstallHooks() {
    if (!g_hooks.empty()) return;
    auto add = [](Hooks::Installed h) { g_hooks.push_back(std::move(h)); };

    // Current directory: a failure leaves the buffer as it found it, which may be anything.
    add(CurrentDirectory::Install("kernel32.dll", "GetCurrentDirectoryA"));
    CurrentDirectory::counter.variants = {"0 with the buffer unterminated"};
    CurrentDirectory::fail = [](int, DWORD n, LPSTR b) -> DWORD {
        if (b) Poison(b, n);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    };
    CurrentDirectory::after = [](CallRecord &r, DWORD result, DWORD n, LPSTR b) {
        r.mode = static_cast<long>(n);
        if (n > MAX_PATH) Hooks::Violation("GetCurrentDirectoryA given a size above MAX_PATH");
        if (!r.faulted && result && result < n) r.output = Hooks::CheckedPath(CurrentDirectory::counter, b);
    };

    add(DiskFreeSpace::Install("kernel32.dll", "GetDiskFreeSpaceA"));
    DiskFreeSpace::counter.variants = {"FALSE (ERROR_NOT_READY)"};
    DiskFreeSpace::inspect = [](CallRecord &r, LPCSTR root, LPDWORD, LPDWORD, LPDWORD, LPDWORD) {
        r.path = Hooks::CheckedPath(DiskFreeSpace::counter, root);
    };
    DiskFreeSpace::fail = [](int, LPCSTR, LPDWORD a, LPDWORD b, LPDWORD c, LPDWORD d) -> BOOL {
        for (LPDWORD p : {a, b, c, d})
            if (p) *p = 0xDEADBEEF;
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    };
    DiskFreeSpace::base = [](LPCSTR root, LPDWORD spc, LPDWORD bps, LPDWORD fc, LPDWORD tc) -> BOOL {
        BOOL ok = DiskFreeSpace::real(root, spc, bps, fc, tc);
        if (ok && g_scenario && g_scenario->lowDisk) {
            *spc = 1;
            *bps = 512;
            *fc = 700;   // 358,400 bytes
        }
        return ok;
    };

    add(MakeFolder::Install("kernel32.dll", "CreateDirectoryA"));
    MakeFolder::counter.variants = {"FALSE, ERROR_ACCESS_DENIED", "FALSE, ERROR_PATH_NOT_FOUND"};
    // Whose folder may carry a descriptor is decided with the run's paths
    // (mode 1: it carries one); any descriptor must be the protected one.
    MakeFolder::inspect = [](CallRecord &r, LPCSTR path, LPSECURITY_ATTRIBUTES sa) {
        r.path = Hooks::CheckedPath(MakeFolder::counter, path);
        if (!sa || !sa->bInheritHandle) Hooks::Violation("CreateDirectoryA without inheritable attributes");
        r.mode = sa && sa->lpSecurityDescriptor;
        const std::string fault = r.mode ? ProtectedFolderFault(sa->lpSecurityDescriptor) : "";
        if (!fault.empty()) Hooks::Violation("CreateDirectoryA " + r.path + " with a descriptor: " + fault);
    };
    MakeFolder::fail = [](int v, LPCSTR, LPSECURITY_ATTRIBUTES) -> BOOL {
        SetLastError(v == 0 ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
        return FALSE;
    };

    // The program group, by its exact name.
    add(MakeWideFolder::Install("kernel32.dll", "CreateDirectoryW"));
    MakeWideFolder::counter.variants = {"FALSE, ERROR_ACCESS_DENIED"};
    MakeWideFolder::inspect = [](CallRecord &r, LPCWSTR path, LPSECURITY_ATTRIBUTES sa) {
        r.path = Hooks::CheckedWidePath(MakeWideFolder::counter, path);
        if (sa && sa->lpSecurityDescriptor) Hooks::Violation("the program group made with a descriptor");
    };
    MakeWideFolder::fail = [](int, LPCWSTR, LPSECURITY_ATTRIBUTES) -> BOOL {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    };

    add(LastError::Install("kernel32.dll", "GetLastError"));
    LastError::counter.whyNotFailable =
        "cannot fail; its answers are varied through CreateDirectoryA's failure kinds";

    add(WinExecHook::Install("kernel32.dll", "WinExec"));
    WinExecHook::counter.variants = {"2 (ERROR_FILE_NOT_FOUND)"};
    WinExecHook::inspect = [](CallRecord &r, LPCSTR line, UINT show) {
        r.path = Hooks::CheckedPath(WinExecHook::counter, line, COMMAND_LINE_SIZE);
        r.mode = static_cast<long>(show);
        if (Hooks::phase == kPhasePlace) r.phase = Hooks::phase = kPhaseStart;
        Hooks::entry = PACKAGE_ENTRY_COUNT;
        g_run.commandLines.push_back(r.path);
        g_run.shows.push_back(show);
    };
    WinExecHook::base = [](LPCSTR, UINT) -> UINT { return 33; };   // recorded, never started
    WinExecHook::fail = [](int, LPCSTR, UINT) -> UINT { return ERROR_FILE_NOT_FOUND; };

    // Texts are shown in UTF-16 and recorded in the code page of the run's own texts.
    add(MessageBoxHook::Install("user32.dll", "MessageBoxW"));
    MessageBoxHook::counter.variants = {"0 (no box)"};
    MessageBoxHook::inspect = [](CallRecord &r, HWND owner, LPCWSTR text, LPCWSTR title, UINT type) {
        Hooks::CheckedWidePath(MessageBoxHook::counter, text, MESSAGE_SIZE);
        Hooks::CheckedWidePath(MessageBoxHook::counter, title, 256);
        r.path = InMessageCodePage(text);
        r.mode = static_cast<long>(type);
        g_run.boxes.push_back({r.path, InMessageCodePage(title), type, owner, Hooks::trace.size()});
    };
    MessageBoxHook::base = [](HWND, LPCWSTR, LPCWSTR, UINT type) -> int {
        return (type & 0xF) == MB_YESNO ? IDYES : IDOK;
    };
    MessageBoxHook::fail = [](int, HWND, LPCWSTR, LPCWSTR, UINT) -> int { return 0; };

    add(ReadText::Install("user32.dll", "GetWindowTextW"));
    ReadText::counter.variants = {"0, empty text"};
    ReadText::inspect = [](CallRecord &r, HWND, LPWSTR, int size) { r.mode = size; };
    ReadText::fail = [](int, HWND, LPWSTR b, int n) -> int {
        if (b && n > 0) b[0] = L'\0';
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    };
    ReadText::after = [](CallRecord &r, int, HWND, LPWSTR b, int n) {
        if (n > MAX_PATH) Hooks::Violation("GetWindowTextW given a size above MAX_PATH");
        if (b && n > 0) r.output = Hooks::CheckedWidePath(ReadText::counter, b, static_cast<size_t>(n));
    };

    add(GetDlgItemHook::Install("user32.dll", "GetDlgItem"));
    GetDlgItemHook::counter.variants = {"NULL"};
    GetDlgItemHook::inspect = [](CallRecord &r, HWND, int id) { r.mode = id; };
    GetDlgItemHook::fail = [](int, HWND, int) -> HWND {
        SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
        return nullptr;
    };

    add(ShowWindowHook::Install("user32.dll", "ShowWindow"));
    ShowWindowHook::counter.variants = {"not done"};
    ShowWindowHook::fail = [](int, HWND, int) -> BOOL { return FALSE; };

    add(EnableWindowHook::Install("user32.dll", "EnableWindow"));
    EnableWindowHook::counter.variants = {"not done"};
    EnableWindowHook::fail = [](int, HWND, BOOL) -> BOOL { return FALSE; };

    add(WriteText::Install("user32.dll", "SetWindowTextA"));
    WriteText::counter.variants = {"FALSE, not done"};
    WriteText::inspect = [](CallRecord &r, HWND, LPCSTR text) {
        r.path = Hooks::CheckedPath(WriteText::counter, text);
    };
    WriteText::fail = [](int, HWND, LPCSTR) -> BOOL { return FALSE; };
    add(WriteWideText::Install("user32.dll", "SetWindowTextW"));
    WriteWideText::counter.variants = {"FALSE, not done"};
    WriteWideText::inspect = [](CallRecord &r, HWND, LPCWSTR text) {
        Hooks::CheckedWidePath(WriteWideText::counter, text, MESSAGE_SIZE);
        r.path = InMessageCodePage(text);
    };
    WriteWideText::fail = [](int, HWND, LPCWSTR) -> BOOL { return FALSE; };

    add(FindResourceHook::Install("kernel32.dll", "FindResourceA"));
    FindResourceHook::counter.variants = {"NULL"};
    FindResourceHook::inspect = [](CallRecord &r, HMODULE, LPCSTR name, LPCSTR) {
        Hooks::entry = Sweep::EntryOfResource(name);
        r.entry = Hooks::entry;
    };
    FindResourceHook::fail = [](int, HMODULE, LPCSTR, LPCSTR) -> HRSRC {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    };

    add(SizeofResourceHook::Install("kernel32.dll", "SizeofResource"));
    SizeofResourceHook::counter.variants = {"0"};
    SizeofResourceHook::fail = [](int, HMODULE, HRSRC) -> DWORD { return 0; };
    SizeofResourceHook::after = [](CallRecord &, DWORD size, HMODULE, HRSRC) { g_run.resourceSize = size; };
    add(LoadResourceHook::Install("kernel32.dll", "LoadResource"));
    LoadResourceHook::counter.variants = {"NULL"};
    LoadResourceHook::fail = [](int, HMODULE, HRSRC) -> HGLOBAL { return nullptr; };
    add(LockResourceHook::Install("kernel32.dll", "LockResource"));
    // A damaged payload can only meet the check: the image's resources do not
    // change between the check and the placement (Applies).
    LockResourceHook::counter.variants = {"NULL", "the payload with one byte changed"};
    LockResourceHook::fail = [](int v, HGLOBAL h) -> LPVOID {
        if (v == 0) return nullptr;
        g_run.damaged.assign(static_cast<const char *>(LockResourceHook::real(h)), g_run.resourceSize);
        if (!g_run.damaged.empty()) g_run.damaged[g_run.damaged.size() / 2] ^= 0x10;
        return &g_run.damaged[0];
    };
    // Every payload is checked before the run makes anything; the folder
    // checks after the last one belong to no entry.
    LockResourceHook::after = [](CallRecord &, LPVOID, HGLOBAL) {
        if (LockResourceHook::counter.calls == PACKAGE_ENTRY_COUNT) Hooks::entry = -1;
    };

    // The payload's copy: a name formed in the temporary folder, created new
    // by the one handle that reads it and deleted when that handle closes.
    add(TempPath::Install("kernel32.dll", "GetTempPathW"));
    TempPath::counter.variants = {"0 with the buffer unterminated"};
    TempPath::base = [](DWORD n, LPWSTR b) -> DWORD { return Hooks::AnswerFolder(WithBackslash(g_layout.tmp), b, n); };
    TempPath::fail = [](int, DWORD n, LPWSTR b) -> DWORD {
        if (b) Poison(b, n * sizeof(WCHAR));
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    };
    TempPath::after = [](CallRecord &r, DWORD, DWORD n, LPWSTR) {
        r.mode = static_cast<long>(n);
        if (n > MAX_PATH) Hooks::Violation("GetTempPathW given a size above MAX_PATH");
    };

    add(TempFileName::Install("kernel32.dll", "GetTempFileNameW"));
    TempFileName::counter.variants = {"0 (ERROR_BUFFER_OVERFLOW), name unterminated"};
    TempFileName::inspect = [](CallRecord &r, LPCWSTR dir, LPCWSTR prefix, UINT, LPWSTR) {
        r.path = Hooks::CheckedWidePath(TempFileName::counter, dir);
        if (!prefix || lstrcmpW(prefix, L"ZIN") != 0) Hooks::Violation("GetTempFileNameW prefix");
    };
    TempFileName::fail = [](int, LPCWSTR, LPCWSTR, UINT, LPWSTR name) -> UINT {
        if (name) Poison(name, MAX_PATH * sizeof(WCHAR));
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    };
    TempFileName::after = [](CallRecord &r, UINT result, LPCWSTR, LPCWSTR, UINT, LPWSTR name) {
        if (!r.faulted && result) r.output = Hooks::CheckedWidePath(TempFileName::counter, name);
    };

    // Nobody else may open, replace or delete the copy while it lives, nor
    // find it afterwards.
    add(CreateWideFile::Install("kernel32.dll", "CreateFileW"));
    CreateWideFile::counter.variants = {"INVALID_HANDLE_VALUE (ERROR_ACCESS_DENIED)",
                                        "INVALID_HANDLE_VALUE (ERROR_FILE_EXISTS), the name is taken"};
    CreateWideFile::inspect = [](CallRecord &r, LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                 DWORD disposition, DWORD flags, HANDLE) {
        r.path = Hooks::CheckedWidePath(CreateWideFile::counter, path);
        // mode 1: a running program's image opened only to read what identifies it.
        r.mode = access == FILE_READ_ATTRIBUTES && disposition == OPEN_EXISTING && (flags & FILE_FLAG_BACKUP_SEMANTICS);
        if (r.mode) return;
        if (access != (GENERIC_READ | GENERIC_WRITE) || share != 0 || (sa && sa->bInheritHandle) ||
            disposition != CREATE_NEW || !(flags & FILE_FLAG_DELETE_ON_CLOSE))
            Hooks::Violation("the payload's copy is not made new, unshared, uninherited and deleted on close: " +
                             r.path);
    };
    CreateWideFile::fail = [](int v, LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) -> HANDLE {
        SetLastError(v == 0 ? ERROR_ACCESS_DENIED : ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    };
    CreateWideFile::after = [](CallRecord &r, HANDLE h, LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                               HANDLE) {
        if (!r.faulted && h != INVALID_HANDLE_VALUE) g_run.handlesOpen.insert(h);
    };

    add(FilePointer::Install("kernel32.dll", "SetFilePointer"));
    FilePointer::counter.variants = {"INVALID_SET_FILE_POINTER (ERROR_NEGATIVE_SEEK)"};
    FilePointer::fail = [](int, HANDLE, LONG, PLONG, DWORD) -> DWORD {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    };

    add(CreateFileHook::Install("kernel32.dll", "CreateFileA"));
    CreateFileHook::counter.variants = {"INVALID_HANDLE_VALUE (ERROR_ACCESS_DENIED)",
                                        "INVALID_HANDLE_VALUE (ERROR_FILE_EXISTS), the name is taken"};
    // mode 1: a folder opened only to read what identifies it, which makes
    // nothing; 2: a destination folder, whose handle names its files; 3: a new
    // file beside a destination; 4: a destination's old file, to be renamed;
    // 5: the installation folder opened as itself, to be checked and held.
    CreateFileHook::inspect = [](CallRecord &r, LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                                 DWORD disposition, DWORD flags, HANDLE) {
        r.path = Hooks::CheckedPath(CreateFileHook::counter, path);
        const bool folder = disposition == OPEN_EXISTING && (flags & FILE_FLAG_BACKUP_SEMANTICS);
        r.mode = folder ? (flags & FILE_FLAG_OPEN_REPARSE_POINT ? 5 : access == FILE_READ_ATTRIBUTES ? 1 : 2)
                        : disposition == CREATE_NEW ? 3 : 4;
        if (r.mode == 5 && (share & (FILE_SHARE_DELETE)))
            Hooks::Violation("the installation folder held sharing its deletion");
        if (r.mode == 3 && (share != 0 || (sa && sa->bInheritHandle) || !(access & DELETE)))
            Hooks::Violation("a new file made shared, inheritable or without the right to rename it: " + r.path);
        if (r.mode == 4 && (share & FILE_SHARE_DELETE))
            Hooks::Violation("an old file opened sharing its deletion: " + r.path);
        // The program's identity: the run begins to look for it running.
        const std::string program = std::string("\\") + PackageTable[0].fileName;
        if (r.mode == 1 && r.path.size() > program.size() &&
            Lower(r.path.substr(r.path.size() - program.size())) == Lower(program))
            r.phase = Hooks::phase = kPhaseClose;
        if (r.mode == 4) {
            r.phase = Hooks::phase = kPhasePlace;
            r.entry = Hooks::entry = Sweep::EntryOfName(r.path.substr(r.path.rfind('\\') + 1));
        }
    };
    CreateFileHook::after = [](CallRecord &r, HANDLE h, LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                               DWORD, HANDLE) {
        if (r.faulted || h == INVALID_HANDLE_VALUE) return;
        g_run.handlesOpen.insert(h);
        const std::string p = path;
        const std::string dir = p.substr(0, p.rfind('\\'));
        if (r.mode == 2 || r.mode == 5) g_run.folders[h] = p;
        if (r.mode == 3 && Hooks::entry >= 0 && Hooks::entry < PACKAGE_ENTRY_COUNT)
            g_run.dests[h] = {dir + "\\" + PackageTable[Hooks::entry].fileName, Hooks::entry};
        if (r.mode == 4) g_run.dests[h] = {p, Hooks::entry};
    };
    CreateFileHook::fail = [](int v, LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) -> HANDLE {
        SetLastError(v == 0 ? ERROR_ACCESS_DENIED : ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    };

    // Marking a file for deletion and renaming it, by its handle. path: the
    // file's destination; mode: the information's class; output: where a
    // rename puts it.
    g_NtSetInformationFile = reinterpret_cast<SetInformationFileProc>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetInformationFile")));
    add(SetInformation::InstallPointer(&g_NtSetInformationFile, "NtSetInformationFile"));
    SetInformation::counter.variants = {"STATUS_SHARING_VIOLATION", "STATUS_CANNOT_DELETE"};
    SetInformation::inspect = [](CallRecord &r, HANDLE h, PVOID, PVOID info, ULONG, int kind) {
        auto it = g_run.dests.find(h);
        if (it == g_run.dests.end()) {
            Hooks::Violation("information set on a handle that is no new or old file of the run");
            return;
        }
        r.path = it->second.first;
        r.mode = kind;
        if (Hooks::phase == kPhaseClose) r.phase = Hooks::phase = kPhasePlace;
        if (Hooks::phase == kPhasePlace) r.entry = Hooks::entry = it->second.second;
        if (kind == 10) {
            struct Rename { BOOLEAN replace; HANDLE folder; ULONG length; WCHAR name[1]; };
            const Rename *n = static_cast<const Rename *>(info);
            r.output = Narrow(std::wstring(n->name, n->length / sizeof(WCHAR)));
            if (n->replace) Hooks::Violation("a rename that replaces: " + r.output);
            if (!g_run.folders.count(n->folder)) Hooks::Violation("a rename into a folder that is no destination's");
            else r.output = g_run.folders[n->folder] + "\\" + r.output;
        }
    };
    SetInformation::fail = [](int v, HANDLE, PVOID, PVOID, ULONG, int) -> LONG {
        return v == 0 ? static_cast<LONG>(0xC0000043) : static_cast<LONG>(0xC0000121);
    };

    add(FileSize::Install("kernel32.dll", "GetFileSize"));
    FileSize::counter.variants = {"INVALID_FILE_SIZE (ERROR_ACCESS_DENIED)"};
    FileSize::inspect = [](CallRecord &r, HANDLE h, LPDWORD) {
        auto it = g_run.dests.find(h);
        if (it != g_run.dests.end()) r.path = it->second.first;
    };
    FileSize::fail = [](int, HANDLE, LPDWORD) -> DWORD {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_FILE_SIZE;
    };

    // What a killed run left: looked for in the destinations' folders.
    add(FindFirst::Install("kernel32.dll", "FindFirstFileA"));
    FindFirst::counter.variants = {"INVALID_HANDLE_VALUE (ERROR_ACCESS_DENIED)"};
    FindFirst::inspect = [](CallRecord &r, LPCSTR path, LPWIN32_FIND_DATAA) {
        r.path = Hooks::CheckedPath(FindFirst::counter, path);
    };
    FindFirst::fail = [](int, LPCSTR, LPWIN32_FIND_DATAA) -> HANDLE {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    };
    add(FindNext::Install("kernel32.dll", "FindNextFileA"));
    FindNext::counter.variants = {"FALSE (ERROR_NO_MORE_FILES)"};
    FindNext::fail = [](int, HANDLE, LPWIN32_FIND_DATAA) -> BOOL {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    };
    add(FindEnd::Install("kernel32.dll", "FindClose"));
    FindEnd::counter.variants = {"closes, then reports FALSE"};
    FindEnd::fail = [](int, HANDLE h) -> BOOL {
        FindEnd::real(h);
        return FALSE;
    };

    // The held folder's name is asked whether it is a link.
    add(PlainAttributes::Install("kernel32.dll", "GetFileAttributesA"));
    PlainAttributes::counter.variants = {"INVALID_FILE_ATTRIBUTES (ERROR_ACCESS_DENIED)"};
    PlainAttributes::inspect = [](CallRecord &r, LPCSTR path) {
        r.path = Hooks::CheckedPath(PlainAttributes::counter, path);
    };
    PlainAttributes::fail = [](int, LPCSTR) -> DWORD {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_FILE_ATTRIBUTES;
    };

    add(FileInformation::Install("kernel32.dll", "GetFileInformationByHandle"));
    FileInformation::counter.variants = {"FALSE (ERROR_INVALID_FUNCTION), information undefined"};
    FileInformation::fail = [](int, HANDLE, LPBY_HANDLE_FILE_INFORMATION info) -> BOOL {
        if (info) Poison(info, sizeof *info);
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    };

    add(WriteFileHook::Install("kernel32.dll", "WriteFile"));
    WriteFileHook::counter.variants = {"FALSE, nothing written (ERROR_DISK_FULL)",
                                       "FALSE, half written (ERROR_DISK_FULL)"};
    WriteFileHook::fail = [](int v, HANDLE h, LPCVOID data, DWORD n, LPDWORD written, LPOVERLAPPED o) -> BOOL {
        DWORD done = 0;
        if (v == 1) WriteFileHook::real(h, data, n / 2, &done, o);
        if (written) *written = done;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    };

    add(CloseHandleHook::Install("kernel32.dll", "CloseHandle"));
    CloseHandleHook::counter.variants = {"closes, then reports FALSE (ERROR_DISK_FULL)"};
    CloseHandleHook::inspect = [](CallRecord &, HANDLE h) {
        if (!g_run.handlesOpen.erase(h)) Hooks::Violation("CloseHandle of a handle that is not open, or that LZInit owns");
    };
    CloseHandleHook::fail = [](int, HANDLE h) -> BOOL {
        CloseHandleHook::real(h);
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    };

    add(DeleteFileHook::Install("kernel32.dll", "DeleteFileA"));
    DeleteFileHook::counter.variants = {"FALSE, the file stays (ERROR_ACCESS_DENIED)"};
    DeleteFileHook::inspect = [](CallRecord &r, LPCSTR path) {
        r.path = Hooks::CheckedPath(DeleteFileHook::counter, path);
    };
    DeleteFileHook::fail = [](int, LPCSTR) -> BOOL {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    };

    add(SystemDirectory::Install("kernel32.dll", "GetSystemDirectoryA"));
    SystemDirectory::counter.variants = {"0 with the buffer unterminated"};
    SystemDirectory::base = [](LPSTR b, UINT n) { return Hooks::AnswerFolder(g_layout.sys, b, n); };
    SystemDirectory::fail = [](int, LPSTR b, UINT n) -> UINT {
        if (b) Poison(b, n);
        return 0;
    };
    SystemDirectory::after = [](CallRecord &r, UINT, LPSTR, UINT n) {
        r.mode = static_cast<long>(n);
        if (n > MAX_PATH) Hooks::Violation("GetSystemDirectoryA given a size above MAX_PATH");
    };

    add(SystemWindowsDirectory::Install("kernel32.dll", "GetSystemWindowsDirectoryA"));
    SystemWindowsDirectory::counter.variants = {"0 with the buffer unterminated"};
    SystemWindowsDirectory::fail = [](int, LPSTR b, UINT n) -> UINT {
        if (b) Poison(b, n);
        return 0;
    };
    SystemWindowsDirectory::after = [](CallRecord &, UINT, LPSTR, UINT n) {
        if (n > MAX_PATH) Hooks::Violation("GetSystemWindowsDirectoryA given a size above MAX_PATH");
    };

    add(OpenFileHook::Install("kernel32.dll", "OpenFile"));
    OpenFileHook::counter.variants = {"HFILE_ERROR"};
    OpenFileHook::inspect = [](CallRecord &r, LPCSTR path, LPOFSTRUCT, UINT mode) {
        r.path = Hooks::CheckedPath(OpenFileHook::counter, path);
        r.mode = static_cast<long>(mode);
        if (r.path.size() >= OFS_MAXPATHNAME) Hooks::Violation("OpenFile path of 128 bytes or more: " + r.path);
    };
    // output: the file was found.
    OpenFileHook::after = [](CallRecord &r, HFILE h, LPCSTR, LPOFSTRUCT, UINT) {
        if (!r.faulted && h != HFILE_ERROR) r.output = "found";
    };
    OpenFileHook::fail = [](int, LPCSTR, LPOFSTRUCT, UINT) -> HFILE {
        SetLastError(ERROR_ACCESS_DENIED);
        return HFILE_ERROR;
    };

    add(ShellMalloc::Install("shell32.dll", "SHGetMalloc"));
    ShellMalloc::counter.variants = {"E_FAIL"};
    // The links are made once, after every entry.
    ShellMalloc::inspect = [](CallRecord &r, IMalloc **) {
        if (Hooks::phase == kPhasePlace) r.phase = Hooks::phase = kPhaseStart;
        if (r.phase == kPhaseStart) r.entry = Hooks::entry = PACKAGE_ENTRY_COUNT;
    };
    ShellMalloc::fail = [](int, IMalloc **out) -> HRESULT {
        if (out) *out = nullptr;
        return E_FAIL;
    };

    add(SpecialFolder::Install("shell32.dll", "SHGetSpecialFolderLocation"));
    SpecialFolder::counter.variants = {"E_FAIL"};
    SpecialFolder::inspect = [](CallRecord &r, HWND, int csidl, LPITEMIDLIST *) { r.mode = csidl; };
    SpecialFolder::fail = [](int, HWND, int, LPITEMIDLIST *out) -> HRESULT {
        if (out) *out = nullptr;
        return E_FAIL;
    };
    SpecialFolder::after = [](CallRecord &r, HRESULT hr, HWND, int csidl, LPITEMIDLIST *out) {
        if (!r.faulted && hr == S_OK && out && *out) g_run.specialLists[*out] = csidl;
    };

    // Programs and desktop folders are redirected into the scratch tree, so the
    // sweep never touches the prefix's own (other tests use those); the
    // chooser's list names the scratch folder "browse".
    add(PathFromList::Install("shell32.dll", "SHGetPathFromIDListW"));
    PathFromList::counter.variants = {"FALSE with the buffer unterminated"};
    PathFromList::base = [](LPCITEMIDLIST list, LPWSTR b) -> BOOL {
        auto it = g_run.specialLists.find(list);
        if (it == g_run.specialLists.end() && list != g_run.browseList) return PathFromList::real(list, b);
        const bool programs = it != g_run.specialLists.end() &&
                              (it->second == CSIDL_PROGRAMS || it->second == CSIDL_COMMON_PROGRAMS);
        const std::string &folder = list == g_run.browseList ? g_layout.browse
                                    : programs               ? g_layout.programs
                                                             : g_layout.desktop;
        lstrcpyW(b, Wide(folder).c_str());
        return TRUE;
    };
    PathFromList::fail = [](int, LPCITEMIDLIST, LPWSTR b) -> BOOL {
        if (b) Poison(b, MAX_PATH * sizeof(WCHAR));
        return FALSE;
    };
    PathFromList::after = [](CallRecord &r, BOOL ok, LPCITEMIDLIST, LPWSTR b) {
        if (!r.faulted && ok) r.output = Hooks::CheckedWidePath(PathFromList::counter, b);
    };

    add(CreateInstance::Install("ole32.dll", "CoCreateInstance"));
    CreateInstance::counter.variants = {"REGDB_E_CLASSNOTREG"};
    // mode 1: the desktop's shell windows, the first step of the connection.
    CreateInstance::inspect = [](CallRecord &r, REFCLSID clsid, LPUNKNOWN, DWORD, REFIID, LPVOID *) {
        r.mode = DesktopShell::IsShellWindows(clsid);
    };
    CreateInstance::base = [](REFCLSID clsid, LPUNKNOWN outer, DWORD ctx, REFIID iid, LPVOID *out) -> HRESULT {
        if (DesktopShell::IsShellWindows(clsid)) {
            if (g_scenario->desktopShell) return DesktopShell::Create(iid, out);
            *out = nullptr;
            return REGDB_E_CLASSNOTREG;
        }
        HRESULT hr = CreateInstance::real(clsid, outer, ctx, iid, out);
        if (SUCCEEDED(hr) && iid == IID_IShellLinkA)
            *out = WrapShellLink(static_cast<IShellLinkA *>(*out));
        return hr;
    };
    CreateInstance::fail = [](int, REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID *out) -> HRESULT {
        if (out) *out = nullptr;
        return REGDB_E_CLASSNOTREG;
    };
    RegisterLinkCounters();
    DesktopShell::RegisterCounters();

    // The strings handed to the desktop's shell: each freed again.
    add(AllocString::Install("oleaut32.dll", "SysAllocString"));
    AllocString::counter.variants = {"NULL"};
    AllocString::fail = [](int, const OLECHAR *) -> BSTR { return nullptr; };
    AllocString::after = [](CallRecord &r, BSTR b, const OLECHAR *) {
        if (b && !r.faulted) g_run.strings.insert(b);
    };
    add(FreeString::Install("oleaut32.dll", "SysFreeString"));
    FreeString::counter.whyNotFailable = "cannot fail";
    FreeString::inspect = [](CallRecord &, BSTR b) {
        if (b && !g_run.strings.erase(b)) Hooks::Violation("SysFreeString of a string not allocated, or freed twice");
    };

    // Administrator's rights decide whose folders get the links.
    add(TokenMembership::Install("advapi32.dll", "CheckTokenMembership"));
    TokenMembership::counter.variants = {"FALSE (ERROR_INVALID_HANDLE)", "not a member"};
    TokenMembership::fail = [](int v, HANDLE, PSID, PBOOL member) -> BOOL {
        *member = FALSE;
        if (v == 1) return TRUE;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    };

    add(ToWide::Install("kernel32.dll", "MultiByteToWideChar"));
    ToWide::counter.variants = {"0 (ERROR_INSUFFICIENT_BUFFER), output unterminated"};
    // mode: the code page; the run's own texts are converted from 932 into a
    // message's buffer, names from the system's code page into a path's.
    ToWide::inspect = [](CallRecord &r, UINT page, DWORD, LPCSTR text, int, LPWSTR, int size) {
        r.path = Hooks::CheckedPath(ToWide::counter, text, MESSAGE_SIZE);
        r.mode = static_cast<long>(page);
        if (size > (page == MESSAGE_CODE_PAGE ? MESSAGE_SIZE : MAX_PATH))
            Hooks::Violation("MultiByteToWideChar given a size above its buffer's");
        if (page != MESSAGE_CODE_PAGE && page != CP_ACP) Hooks::Violation("a name not read in the system's code page");
    };
    ToWide::fail = [](int, UINT, DWORD, LPCSTR, int, LPWSTR out, int size) -> int {
        for (int i = 0; out && i < size; ++i) out[i] = L'P';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    };

    // mode 1: the caller asks whether the conversion was exact.
    add(ToNarrow::Install("kernel32.dll", "WideCharToMultiByte"));
    ToNarrow::counter.variants = {"0 (ERROR_INSUFFICIENT_BUFFER), output unterminated",
                                  "converted, a default character used"};
    ToNarrow::inspect = [](CallRecord &r, UINT, DWORD, LPCWSTR text, int, LPSTR, int size, LPCSTR, LPBOOL used) {
        r.path = Hooks::CheckedWidePath(ToNarrow::counter, text);
        r.mode = used != nullptr;
        // The typed folder text may take up to three bytes a character before it is found too long.
        if (size > (Hooks::phase == kPhaseStart && used ? 3 * MAX_PATH : MAX_PATH))
            Hooks::Violation("WideCharToMultiByte given a size above its buffer's");
    };
    ToNarrow::fail = [](int v, UINT page, DWORD flags, LPCWSTR text, int n, LPSTR out, int size, LPCSTR fallback,
                        LPBOOL used) -> int {
        if (v == 1) {
            int converted = ToNarrow::real(page, flags, text, n, out, size, fallback, used);
            if (used) *used = TRUE;
            return converted;
        }
        if (out) Poison(out, static_cast<size_t>(size));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    };

    add(FullPathName::Install("kernel32.dll", "GetFullPathNameA"));
    FullPathName::counter.variants = {"0 with the buffer unterminated"};
    FullPathName::inspect = [](CallRecord &r, LPCSTR path, DWORD n, LPSTR, LPSTR *) {
        r.path = Hooks::CheckedPath(FullPathName::counter, path);
        r.mode = static_cast<long>(n);
        // Once the entries are placed: the program's path for the desktop's shell.
        if (Hooks::phase == kPhasePlace) r.phase = Hooks::phase = kPhaseStart;
        if (r.phase == kPhaseStart && Hooks::entry >= 0) r.entry = Hooks::entry = PACKAGE_ENTRY_COUNT;
    };
    FullPathName::fail = [](int, LPCSTR, DWORD n, LPSTR b, LPSTR *) -> DWORD {
        if (b) Poison(b, n);
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    };

    add(FlushHook::Install("kernel32.dll", "FlushFileBuffers"));
    FlushHook::counter.variants = {"FALSE (ERROR_DISK_FULL)"};
    FlushHook::inspect = [](CallRecord &r, HANDLE h) {
        auto it = g_run.dests.find(h);
        if (it != g_run.dests.end()) r.path = it->second.first;
    };
    FlushHook::fail = [](int, HANDLE) -> BOOL {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    };

    // Registry: keys are tracked so that every open has its close.
    add(RegOpen::Install("advapi32.dll", "RegOpenKeyExA"));
    RegOpen::counter.variants = {"ERROR_ACCESS_DENIED"};
    RegOpen::inspect = [](CallRecord &r, HKEY, LPCSTR name, DWORD, REGSAM, PHKEY) {
        r.path = Hooks::CheckedPath(RegOpen::counter, name);
    };
    RegOpen::fail = [](int, HKEY, LPCSTR, DWORD, REGSAM, PHKEY out) -> LONG {
        if (out) *out = reinterpret_cast<HKEY>(0x0BAD0000);
        return ERROR_ACCESS_DENIED;
    };
    RegOpen::after = [](CallRecord &r, LONG status, HKEY, LPCSTR, DWORD, REGSAM, PHKEY out) {
        if (!r.faulted && status == ERROR_SUCCESS) g_run.keysOpen.push_back(*out);
    };
    add(RegQuery::Install("advapi32.dll", "RegQueryValueExA"));
    RegQuery::counter.variants = {"ERROR_MORE_DATA, buffer unterminated"};
    RegQuery::fail = [](int, HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE data, LPDWORD size) -> LONG {
        if (data && size) Poison(data, *size);
        return ERROR_MORE_DATA;
    };
    RegQuery::inspect = [](CallRecord &r, HKEY, LPCSTR name, LPDWORD, LPDWORD, LPBYTE, LPDWORD size) {
        r.path = Hooks::CheckedPath(RegQuery::counter, name);
        if (size && *size > MAX_PATH) Hooks::Violation("RegQueryValueExA given a size above MAX_PATH");
    };
    add(RegClose::Install("advapi32.dll", "RegCloseKey"));
    RegClose::counter.variants = {"closes, then reports ERROR_INVALID_HANDLE"};
    RegClose::inspect = [](CallRecord &, HKEY key) {
        auto &open = g_run.keysOpen;
        if (open.empty() || open.back() != key)
            Hooks::Violation("RegCloseKey of a key that is not the newest one open");
        auto it = std::find(open.begin(), open.end(), key);
        if (it != open.end()) open.erase(it);
    };
    RegClose::fail = [](int, HKEY key) -> LONG {
        RegClose::real(key);
        return ERROR_INVALID_HANDLE;
    };

    add(WindowsDirectory::Install("kernel32.dll", "GetWindowsDirectoryA"));
    WindowsDirectory::counter.variants = {"0 with the buffer unterminated"};
    WindowsDirectory::fail = [](int, LPSTR b, UINT n) -> UINT {
        if (b) Poison(b, n);
        return 0;
    };

    add(SystemMetrics::Install("user32.dll", "GetSystemMetrics"));
    SystemMetrics::counter.variants = {"0"};
    SystemMetrics::fail = [](int, int) -> int { return 0; };

    add(WindowRect::Install("user32.dll", "GetWindowRect"));
    WindowRect::counter.variants = {"FALSE, rectangle undefined"};
    WindowRect::fail = [](int, HWND, LPRECT r) -> BOOL {
        if (r) Poison(r, sizeof *r);
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    };

    // The dialog may move, but never change its size.
    add(MoveWindowHook::Install("user32.dll", "MoveWindow"));
    MoveWindowHook::counter.variants = {"FALSE, not moved"};
    MoveWindowHook::inspect = [](CallRecord &, HWND hwnd, int, int, int w, int h, BOOL) {
        RECT r;
        WindowRect::real(hwnd, &r);
        if (w != r.right - r.left || h != r.bottom - r.top)
            Hooks::Violation("MoveWindow changes the dialog's size to " + std::to_string(w) + " x " +
                             std::to_string(h));
    };
    MoveWindowHook::fail = [](int, HWND, int, int, int, int, BOOL) -> BOOL { return FALSE; };

    add(CheckButton::Install("user32.dll", "CheckDlgButton"));
    CheckButton::counter.variants = {"FALSE, not checked"};
    CheckButton::fail = [](int, HWND, int, UINT) -> BOOL { return FALSE; };
    add(IsChecked::Install("user32.dll", "IsDlgButtonChecked"));
    IsChecked::counter.variants = {"0"};
    IsChecked::fail = [](int, HWND, int) -> UINT { return 0; };

    add(BrowseHook::Install("shell32.dll", "SHBrowseForFolderW"));
    BrowseHook::counter.variants = {"NULL (cancelled)"};
    BrowseHook::base = [](LPBROWSEINFOW) -> LPITEMIDLIST { return g_run.browseList; };
    BrowseHook::fail = [](int, LPBROWSEINFOW) -> LPITEMIDLIST { return nullptr; };

    // The LZ functions: the engine's pointers, bound from the real system
    // folder first, then replaced by counting ones.
    if (!BindLzLibrary()) throw std::runtime_error("cannot bind lz32.dll");
    // The copy's handle belongs to the LZ handle from here: LZClose closes it.
    add(LzInit::InstallPointer(&g_LZInit, "LZInit"));
    LzInit::counter.variants = {"LZERROR_BADINHANDLE"};
    LzInit::inspect = [](CallRecord &, INT file) {
        if (!g_run.handlesOpen.count(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(file))))
            Hooks::Violation("LZInit of a file that is not open");
    };
    LzInit::fail = [](int, INT) -> INT { return LZERROR_BADINHANDLE; };
    LzInit::after = [](CallRecord &r, INT h, INT file) {
        if (r.faulted || h < 0) return;
        g_run.handlesOpen.erase(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(file)));
        g_run.lzOpen.insert(h);
    };
    add(LzCopy::InstallPointer(&g_LZCopy, "LZCopy"));
    LzCopy::counter.variants = {"LZERROR_WRITE, nothing copied", "the full length reported, nothing copied"};
    LzCopy::fail = [](int v, INT, INT) -> LONG {
        if (v == 0 || Hooks::entry < 0 || Hooks::entry >= PACKAGE_ENTRY_COUNT) return LZERROR_WRITE;
        return g_expandedSize[PackageTable[Hooks::entry].fileName];
    };
    add(LzClose::InstallPointer(&g_LZClose, "LZClose"));
    LzClose::counter.whyNotFailable = "returns nothing: the caller cannot see a failure (open/close balance checked)";
    LzClose::inspect = [](CallRecord &, INT h) {
        if (!g_run.lzOpen.erase(h)) Hooks::Violation("LZClose of a handle that is not open");
    };

    // The program running from the folder: no call may wait or be answered
    // without a deadline.
    add(Snapshot::Install("kernel32.dll", "CreateToolhelp32Snapshot"));
    Snapshot::counter.variants = {"INVALID_HANDLE_VALUE (ERROR_NOT_ENOUGH_MEMORY)"};
    Snapshot::fail = [](int, DWORD, DWORD) -> HANDLE {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    };
    Snapshot::after = [](CallRecord &r, HANDLE h, DWORD, DWORD) {
        if (!r.faulted && h != INVALID_HANDLE_VALUE) g_run.handlesOpen.insert(h);
    };
    add(FirstProcess::Install("kernel32.dll", "Process32First"));
    add(NextProcess::Install("kernel32.dll", "Process32Next"));
    ProcessListHook<FirstProcess>();
    ProcessListHook<NextProcess>();
    add(OpenProcessHook::Install("kernel32.dll", "OpenProcess"));
    OpenProcessHook::counter.variants = {"NULL (ERROR_ACCESS_DENIED)"};
    OpenProcessHook::inspect = [](CallRecord &r, DWORD access, BOOL, DWORD id) {
        r.mode = static_cast<long>(id);
        if (access & (PROCESS_TERMINATE | PROCESS_VM_WRITE | PROCESS_CREATE_THREAD))
            Hooks::Violation("a process opened with the right to end or change it");
    };
    OpenProcessHook::fail = [](int, DWORD, BOOL, DWORD) -> HANDLE {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    };
    OpenProcessHook::after = [](CallRecord &r, HANDLE h, DWORD, BOOL, DWORD) {
        if (!r.faulted && h) g_run.handlesOpen.insert(h);
    };
    g_QueryFullProcessImageNameW = reinterpret_cast<QueryImageNameProc>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameW")));
    add(ImageName::InstallPointer(&g_QueryFullProcessImageNameW, "QueryFullProcessImageNameW"));
    ImageName::counter.variants = {"FALSE (ERROR_INSUFFICIENT_BUFFER), buffer undefined"};
    ImageName::fail = [](int, HANDLE, DWORD, LPWSTR b, PDWORD n) -> BOOL {
        if (b && n) Poison(b, *n * sizeof(WCHAR));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    };
    add(ListWindows::Install("user32.dll", "EnumWindows"));
    ListWindows::counter.variants = {"FALSE, no window listed"};
    ListWindows::fail = [](int, WNDENUMPROC, LPARAM) -> BOOL {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    };
    // path: whether the window is shown (the program's main window) or hidden.
    add(SendTimeout::Install("user32.dll", "SendMessageTimeoutW"));
    SendTimeout::counter.variants = {"0 (ERROR_TIMEOUT), not delivered"};
    SendTimeout::inspect = [](CallRecord &r, HWND window, UINT message, WPARAM w, LPARAM l, UINT, UINT timeout,
                              PDWORD_PTR) {
        r.mode = static_cast<long>(message);
        r.path = IsWindowVisible(window) ? "shown" : "hidden";
        r.output = std::to_string(w);
        if ((message != WM_QUERYENDSESSION && message != WM_ENDSESSION) || l != ENDSESSION_CLOSEAPP)
            Hooks::Violation("a message other than the session's end sent to the program");
        if (timeout > g_CloseDeadline) Hooks::Violation("a window given longer to answer than the deadline");
    };
    SendTimeout::fail = [](int, HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR result) -> LRESULT {
        if (result) *result = 0;
        SetLastError(ERROR_TIMEOUT);
        return 0;
    };
    add(PostHook::Install("user32.dll", "PostMessageW"));
    PostHook::counter.variants = {"FALSE, not posted"};
    PostHook::inspect = [](CallRecord &r, HWND window, UINT message, WPARAM, LPARAM) {
        r.mode = static_cast<long>(message);
        r.path = IsWindowVisible(window) ? "shown" : "hidden";
        if (message != WM_CLOSE) Hooks::Violation("a message other than WM_CLOSE posted to the program");
    };
    PostHook::fail = [](int, HWND, UINT, WPARAM, LPARAM) -> BOOL {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    };
    add(WaitHook::Install("user32.dll", "MsgWaitForMultipleObjects"));
    WaitHook::counter.variants = {"WAIT_FAILED (ERROR_INVALID_HANDLE)"};
    WaitHook::inspect = [](CallRecord &, DWORD, const HANDLE *, BOOL, DWORD timeout, DWORD) {
        if (timeout > std::max(g_CloseDeadline, g_ShellDeadline)) Hooks::Violation("a wait longer than the deadline");
    };
    WaitHook::fail = [](int, DWORD, const HANDLE *, BOOL, DWORD, DWORD) -> DWORD {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    };

    // The dialog ends only in the record, so that it can be inspected afterwards.
    add(EndDialogHook::Install("user32.dll", "EndDialog"));
    EndDialogHook::counter.whyNotFailable = "recorded, never performed: the dialog is inspected after the run";
    EndDialogHook::base = [](HWND, INT_PTR result) -> BOOL {
        g_run.ended.push_back(result);
        return TRUE;
    };
}

// ---------------------------------------------------------------- the runs

struct RunResult {
    int result = 0;
    std::vector<CallRecord> trace;
    std::vector<Box> boxes;
    std::vector<std::string> violations;
    std::string folderTextAfter;
    std::string textAfterBrowse, textBeforeBrowse;
    bool inputState = false;
    std::vector<std::string> linkEvents;
    std::vector<DesktopShell::Request> shellRequests;
    bool programEnded = false;    // the running program's process has ended
};

const Scenario kFresh = {"fresh", false, false, false, true, true, false};
const Scenario kUpgrade = {"upgrade", true, true, true, false, false, false};
const Scenario kRunning = {"running", true, true, false, false, false, true};

// The earlier installation's files. Where its program runs, the program and
// the runtime library beside it (which the loader takes from the program's
// folder) are the package's with bytes of their own at the end.
std::string OldContent(const std::string &name) {
    const std::string text = "older " + name + " of an earlier installation\r\n";
    const bool loaded = name == PackageTable[0].fileName || name == PackageTable[kFirstSystemEntry].fileName;
    return g_scenario->running && loaded ? g_original[name] + text : text;
}

// Ends the program the test started (the run itself never does).
void EndProgram() {
    if (!g_program.process) return;
    if (WaitForSingleObject(g_program.process, 0) == WAIT_TIMEOUT) TerminateProcess(g_program.process, 1);
    WaitForSingleObject(g_program.process, 10000);
    CloseHandle(g_program.process);
    g_program = RunningProgram();
}

void StartProgram() {
    const std::string path = g_layout.folderAbs + "\\" + PackageTable[0].fileName;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, g_layout.folderAbs.c_str(), &si,
                        &pi))
        throw std::runtime_error("cannot start " + path);
    CloseHandle(pi.hThread);
    g_program.process = pi.hProcess;
    g_program.id = pi.dwProcessId;
    WaitForInputIdle(pi.hProcess, 20000);   // its window is there
}

void PrepareLayout(const ScratchFolder &scratch, const Scenario &s) {
    Layout &l = g_layout;
    l.root = scratch.path();
    l.cwd = l.root + "\\cwd";
    l.sys = l.root + "\\sys";
    l.tmp = l.root + "\\tmp";
    l.programs = l.root + "\\programs";
    l.desktop = l.root + "\\desktop";
    l.browse = l.root + "\\browse";
    l.group = l.programs + "\\" + PackageConfig.ProgramGroupName;
    l.startLink = l.group + "\\" + PackageTable[0].startMenuLinkName + ".lnk";
    l.desktopLink = l.desktop + "\\" + PackageTable[0].desktopLinkName + ".lnk";
    for (const std::string &d : {l.cwd, l.sys, l.tmp, l.programs, l.desktop, l.browse})
        CreateDirectoryA(d.c_str(), nullptr);
    if (s.relative) {
        l.folderText = "inst\\Zorvik";
        l.folderAbs = l.cwd + "\\inst\\Zorvik";
    } else {
        l.folderText = l.root + "\\a\\deep\\Zorvik";
        l.folderAbs = l.folderText;
    }
}

// Puts the scratch tree back into the scenario's starting state.
void ResetTree(const Scenario &s) {
    const Layout &l = g_layout;
    EndProgram();
    RemoveTree(l.cwd);
    RemoveTree(l.root + "\\a");
    RemoveTree(l.sys);
    RemoveTree(l.tmp);
    RemoveTree(l.group);
    DeleteFileA(l.desktopLink.c_str());
    for (const std::string &d : {l.cwd, l.sys, l.tmp}) CreateDirectoryA(d.c_str(), nullptr);
    if (s.upgrade) {
        CreateDirectoryA((l.cwd + "\\inst").c_str(), nullptr);
        CreateDirectoryA(l.folderAbs.c_str(), nullptr);
        for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i)
            if (PackageTable[i].destination == DEST_INSTALL_FOLDER || i == kFirstSystemEntry)
                WriteWholeFile(l.folderAbs + "\\" + PackageTable[i].fileName, OldContent(PackageTable[i].fileName));
        const std::string library = PackageTable[kFirstSystemEntry].fileName;
        WriteWholeFile(l.sys + "\\" + library, "system copy of " + library);
        // What a run killed while it put its files in place left.
        for (const std::string &f : {l.folderAbs + "\\" + kLeftover, l.sys + "\\" + kLeftover})
            WriteWholeFile(f, "left by a killed run");
    }
    if (s.running) StartProgram();
}

INT32 g_savedOverwrite[PACKAGE_ENTRY_COUNT];

RunResult RunOnce(const Scenario &s) {
    ResetTree(s);
    for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i) PackageTable[i].overwrite = g_savedOverwrite[i];
    g_run = RunState();
    g_linkEvents.clear();
    DesktopShell::Reset();
    SetCurrentDirectoryA(g_layout.cwd.c_str());
    g_scenario = &s;
    g_hInstance = GetModuleHandleA(nullptr);

    RunResult out;
    // The process starts its thread for the desktop's shell, whose calls are
    // seen from here to its end; then the dialog opens (centring, proposal,
    // check boxes) and has the thread connect. A shell step held for the whole
    // run holds only that thread.
    Hooks::otherThreads = true;
    Hooks::phase = kPhaseInit;
    Hooks::active = true;
    ConnectDesktopShell();
    HWND dlg = CreateDialogParamW(g_hInstance, MAKEINTRESOURCEW(IDD_INSTALLER), nullptr, InstallDlgProc, 0);
    Hooks::active = false;
    if (!dlg) throw std::runtime_error("cannot create the dialog");

    char text[2 * MAX_PATH] = {};
    GetDlgItemTextA(dlg, IDC_FOLDER, text, sizeof text);
    out.textBeforeBrowse = text;

    // Browse: the chooser answers the scratch folder "browse".
    std::wstring wide(g_layout.browse.begin(), g_layout.browse.end());
    SHParseDisplayName(wide.c_str(), nullptr, &g_run.browseList, 0, nullptr);
    LPARAM browseButton = reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDC_BROWSE));
    LPARAM startButton = reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK));
    Hooks::phase = kPhaseBrowse;
    Hooks::active = true;
    InstallDlgProc(dlg, WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED), browseButton);
    Hooks::active = false;
    g_run.browseList = nullptr;   // freed by the dialog: its address may come back for another list
    GetDlgItemTextA(dlg, IDC_FOLDER, text, sizeof text);
    out.textAfterBrowse = text;

    // The user types the folder and presses the start button.
    SetDlgItemTextA(dlg, IDC_FOLDER, g_layout.folderText.c_str());
    Hooks::phase = kPhaseStart;
    Hooks::entry = -1;
    Hooks::active = true;
    InstallDlgProc(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), startButton);
    Hooks::active = false;
    Hooks::phase = kPhaseNone;

    GetDlgItemTextA(dlg, IDC_FOLDER, text, sizeof text);
    out.folderTextAfter = text;
    out.inputState = IsWindowEnabled(GetDlgItem(dlg, IDOK)) && IsWindowEnabled(GetDlgItem(dlg, IDCANCEL)) &&
                     !(GetWindowLongA(GetDlgItem(dlg, IDC_PROGRESS), GWL_STYLE) & WS_VISIBLE);
    for (int id : kInputControls)
        if (!(GetWindowLongA(GetDlgItem(dlg, id), GWL_STYLE) & WS_VISIBLE)) out.inputState = false;
    DestroyWindow(dlg);
    DesktopShell::Release();
    DisconnectDesktopShell();
    Hooks::otherThreads = false;
    SetCurrentDirectoryA("C:\\");

    out.result = g_run.ended.size() == 1 && LOWORD(g_run.ended[0]) == IDOK ? 1 : 0;
    if (g_run.ended.size() > 1) Hooks::Violation("EndDialog called more than once");
    out.trace = Hooks::trace;
    out.boxes = g_run.boxes;
    out.violations = Hooks::violations;
    out.linkEvents = g_linkEvents;
    if (!g_run.lzOpen.empty()) out.violations.push_back("LZ handles left open: " + std::to_string(g_run.lzOpen.size()));
    if (!g_run.handlesOpen.empty())
        out.violations.push_back("file handles left open: " + std::to_string(g_run.handlesOpen.size()));
    if (!g_run.keysOpen.empty()) out.violations.push_back("registry keys left open");
    if (!g_run.strings.empty()) out.violations.push_back("strings left allocated: " + std::to_string(g_run.strings.size()));
    if (int n = DesktopShell::Outstanding())
        out.violations.push_back("interfaces of the desktop's shell left unreleased: " + std::to_string(n));
    out.shellRequests = DesktopShell::requests;
    out.programEnded = g_program.process && WaitForSingleObject(g_program.process, 0) == WAIT_OBJECT_0;
    return out;
}

// ---------------------------------------------------------------- the oracle

struct Expected {
    int result = 1;
    std::vector<std::string> texts;
    int defaultTitleBox = -1;      // the box titled "Message" (its caption read failed)
    bool groupFolderFails = false; // no link in the program group
    bool browseKept = false;       // the chosen folder is refused: the folder text stays
    bool nothingMade = false;      // the run stops before its first folder: the tree stays as it was
    std::string takenName;         // a name the copy found taken, never to be tried again
    bool byShell = false;          // the shell starts the program: after a refusal, through a new connection
    bool byExec = false;           // the connection failed or was late: the run starts the program itself
    int programEnds = -1;          // the running program has ended (1), still runs (0), either (-1)
    bool afterPlacement = false;   // the fault came once every new file was in place
    int keptEntry = -1;            // an entry whose files stay as found: the file it looked for was not seen
};

// A call to the desktop's shell: the shell windows' creation or a later step.
bool IsShellCall(const CallRecord &call) {
    return DesktopShell::IsStep(call.function) || (call.function == &CreateInstance::counter && call.mode);
}

// A failure kind that only some calls can meet: a damaged payload only where
// the payloads are checked (the image's resources do not change afterwards),
// an inexact conversion only where the caller asks whether it was exact.
bool Applies(const CallRecord &call, int variant) {
    // A name found taken is a payload copy's; only the first wait's place is the same in every run.
    if (call.function == &CreateWideFile::counter && variant == 1) return call.mode == 0;
    if (call.function == &CreateFileHook::counter && variant == 1) return call.mode == 3;   // a new file's name
    if (call.function == &WaitHook::counter) return call.number == 1;
    if (call.function == &LockResourceHook::counter && variant == 1) return call.number <= PACKAGE_ENTRY_COUNT;
    if (call.function == &ToNarrow::counter && variant == 1) return call.mode != 0;
    return true;
}

std::string Trimmed(const std::string &folder) {
    return !folder.empty() && folder.back() == '\\' ? folder.substr(0, folder.size() - 1) : folder;
}

// A question ends as the questions' formats end after their last argument.
bool IsQuestion(const std::string &text) {
    for (const char *format : {MSG_DISK_LOW_ASK, MSG_FOLDER_MISSING_ASK, MSG_PROGRAM_RUNNING_ASK, MSG_FOREIGN_FILES_ASK}) {
        const std::string tail = std::strrchr(format, '%') + 2;
        if (text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0) return true;
    }
    return false;
}

std::string LastBefore(const std::vector<CallRecord> &trace, size_t index, const Counter &fn,
                       bool output, long modeMask = 0) {
    for (size_t i = std::min(index, trace.size()); i-- > 0;)
        if (trace[i].function == &fn && (!modeMask || (trace[i].mode & modeMask)))
            return output ? trace[i].output : trace[i].path;
    return "";
}

Expected Oracle(const RunResult &clean, size_t cleanIndex, int variant, const RunResult &run) {
    const CallRecord &call = clean.trace[cleanIndex];
    const Counter *const fn = call.function;
    // The run names the folder by its full path; only a refusal before it has one names it as typed.
    const std::string typed = Trimmed(g_layout.folderText), folder = g_layout.folderAbs;
    Expected e;
    std::vector<std::string> before, after;
    for (const Box &b : clean.boxes) (b.traceIndex < cleanIndex ? before : after).push_back(b.text);
    bool hadFolderQuestion = false;
    for (const Box &b : clean.boxes)
        if (b.text == Format(MSG_FOLDER_MISSING_ASK, folder)) hadFolderQuestion = true;

    // The faulted call of this run (identical to the clean run up to it).
    size_t at = 0;
    while (at < run.trace.size() && !run.trace[at].faulted) ++at;
    const CallRecord *faulted = at < run.trace.size() ? &run.trace[at] : nullptr;
    const std::string path = faulted ? faulted->path : call.path;
    const std::string lastTemp = LastBefore(run.trace, at, TempFileName::counter, true);   // the copy's name

    // A run that stops before its first folder, or in the check of the
    // payloads (each resource function's first calls, one per entry), has
    // made nothing.
    size_t firstFolder = 0;
    while (firstFolder < clean.trace.size() && clean.trace[firstFolder].function != &MakeFolder::counter) ++firstFolder;
    const bool checkingPayloads = (fn == &FindResourceHook::counter || fn == &SizeofResourceHook::counter ||
                                   fn == &LoadResourceHook::counter || fn == &LockResourceHook::counter) &&
                                  call.number <= PACKAGE_ENTRY_COUNT;
    // The clean run's last rename of a new file to its destination's name.
    size_t lastPlaced = 0;
    for (size_t i = 0; i < clean.trace.size(); ++i)
        if (clean.trace[i].function == &SetInformation::counter && clean.trace[i].mode == 10 &&
            clean.trace[i].phase == kPhasePlace)
            lastPlaced = i;
    e.afterPlacement = lastPlaced > 0 && cleanIndex > lastPlaced;
    auto stop = [&](const std::string &message) {
        e.result = 0;
        e.texts = before;
        if (!message.empty()) e.texts.push_back(message);
        e.nothingMade = checkingPayloads || cleanIndex < firstFolder;
    };
    auto goOn = [&](const std::string &message) {
        e.result = 1;
        e.texts = before;
        if (!message.empty()) e.texts.push_back(message);
        e.texts.insert(e.texts.end(), after.begin(), after.end());
    };
    int entry = call.entry;
    auto entryName = [&]() -> std::string {
        return entry >= 0 && entry < PACKAGE_ENTRY_COUNT ? PackageTable[entry].fileName : "?";
    };
    // The destination of the entry being placed: the folder of the file it
    // is expanded into, and its own name.
    std::string work;
    for (size_t i = 0; i < std::min(at + 1, run.trace.size()); ++i)
        if (run.trace[i].function == &CreateFileHook::counter && run.trace[i].mode == 3) work = run.trace[i].path;
    const std::string dest = work.substr(0, work.rfind('\\') + 1) + entryName();
    auto firstInPhase = [&](const Counter &f) {
        for (size_t i = 0; i < cleanIndex; ++i)
            if (clean.trace[i].function == &f && clean.trace[i].phase == call.phase) return false;
        return true;
    };

    // Looking for the program running from the folder, and closing it.
    const std::string program = folder + "\\" + PackageTable[0].fileName;
    if (call.phase == kPhaseClose && g_scenario->running) {
        e.programEnds = 0;
    }
    bool openedBefore = false;
    for (size_t i = 0; i < cleanIndex; ++i) openedBefore = openedBefore || clean.trace[i].function == &OpenProcessHook::counter;
    const bool finding = call.phase == kPhaseClose &&
                         (fn == &CreateFileHook::counter || fn == &FileInformation::counter || fn == &Snapshot::counter ||
                          fn == &FirstProcess::counter || fn == &OpenProcessHook::counter ||
                          fn == &ImageName::counter || (fn == &CreateWideFile::counter && call.mode) ||
                          (fn == &NextProcess::counter && !openedBefore));
    // Told to end: the program's shown window got the session's end or WM_CLOSE.
    bool told = false;
    for (const CallRecord &c : run.trace)
        told = told || (!c.faulted && c.path == "shown" &&
                        ((c.function == &SendTimeout::counter && c.mode == WM_ENDSESSION && c.output == "1") ||
                         (c.function == &PostHook::counter && c.mode == WM_CLOSE)));

    if (finding) {
        // Not found: the run goes on as when no program runs; a running one's
        // file cannot be replaced, and nothing is written.
        if (g_scenario->running)
            stop(Format(MSG_NOT_WRITTEN, program));
        else
            goOn("");
    } else if (fn == &ListWindows::counter || ((fn == &SendTimeout::counter || fn == &PostHook::counter) && !told)) {
        stop(Format(MSG_PROGRAM_NOT_CLOSED, program));
    } else if (fn == &SendTimeout::counter || fn == &PostHook::counter) {
        goOn("");
        e.programEnds = 1;
    } else if (fn == &WaitHook::counter && call.phase == kPhaseClose) {
        stop(Format(MSG_PROGRAM_NOT_CLOSED, program));
        e.programEnds = -1;   // asked to end, but not waited for
    } else if (fn == &CurrentDirectory::counter) {
        // No current directory, no drive: the root is ":\", which no drive answers.
        stop(Format(MSG_DRIVE_INVALID, ":\\"));
    } else if (fn == &DiskFreeSpace::counter) {
        stop(Format(MSG_DRIVE_INVALID, path));
    } else if (fn == &FullPathName::counter) {
        if (entry == PACKAGE_ENTRY_COUNT)
            goOn("");   // the program's path for the desktop's shell: the run starts it itself
        else
            stop(Format(MSG_FOLDER_DENIED, typed));
    } else if (fn == &MakeFolder::counter) {
        if (call.phase == kPhaseStart && call.entry < 0 && call.number == 1) {
            if (variant == 0)
                stop(Format(MSG_FOLDER_DENIED, folder));
            else if (hadFolderQuestion)
                goOn("");
            else
                goOn(Format(MSG_FOLDER_MISSING_ASK, folder));   // asked, answered yes, the tree exists
        } else {
            stop(Format(MSG_FOLDER_NOT_CREATED, path));
        }
    } else if (fn == &MakeWideFolder::counter) {
        goOn(Format(MSG_FOLDER_NOT_CREATED, path));   // the program group; the run goes on
        e.groupFolderFails = true;
    } else if (fn == &WinExecHook::counter) {
        stop(Format(MSG_CANNOT_START, folder + "\\" + PackageTable[0].fileName));
    } else if (fn == &MessageBoxHook::counter) {
        stop("");
        for (const Box &b : clean.boxes)
            if (b.traceIndex == cleanIndex) e.texts.push_back(b.text);
    } else if (fn == &ReadText::counter) {
        if (call.phase == kPhaseStart && firstInPhase(ReadText::counter)) {
            stop(Format(MSG_FOLDER_DENIED, ""));   // the folder text could not be read: empty
        } else {
            goOn("");
            e.defaultTitleBox = static_cast<int>(before.size());
        }
    } else if (fn == &GetDlgItemHook::counter) {
        if (call.phase == kPhaseStart && firstInPhase(GetDlgItemHook::counter))
            stop(Format(MSG_FOLDER_DENIED, ""));
        else
            goOn("");
    } else if (fn == &FindResourceHook::counter) {
        char text[MESSAGE_SIZE];
        std::snprintf(text, sizeof text, MSG_NO_RESOURCE, entry, PackageTable[entry].resourceId);
        stop(text);
    } else if (fn == &SizeofResourceHook::counter || fn == &LoadResourceHook::counter) {
        stop(MSG_NO_LOAD);
    } else if (fn == &LockResourceHook::counter) {
        stop(variant == 0 ? MSG_NO_LOCK : MSG_DAMAGED);
    } else if (fn == &TempPath::counter) {
        stop(Format(MSG_TEMP_NOT_CREATED, ""));
    } else if (fn == &TempFileName::counter) {
        stop(Format(MSG_TEMP_NOT_CREATED, WithBackslash(g_layout.tmp)));   // no name: the folder
    } else if (fn == &ToWide::counter) {
        // A message's text, or the name in it: no box at all, never half a
        // text, and what follows is what follows a box that was not shown.
        const CallRecord *previous = cleanIndex > 0 ? &clean.trace[cleanIndex - 1] : nullptr;
        const bool ownText = call.mode == MESSAGE_CODE_PAGE;
        const bool nameInMessage = !ownText && previous && previous->function == &ToWide::counter &&
                                   previous->mode == MESSAGE_CODE_PAGE && previous->path != MSG_PROGRESS &&
                                   previous->path != MSG_BROWSE_TITLE;
        // The name a file is renamed to, while the files are put in place: that file's destination.
        std::string placing;
        for (size_t i = 0; i < std::min(at, run.trace.size()); ++i)
            if (run.trace[i].function == &SetInformation::counter ||
                (run.trace[i].function == &CreateFileHook::counter && run.trace[i].mode == 4))
                placing = run.trace[i].path;
        if (call.phase == kPhasePlace)
            stop(Format(MSG_NOT_WRITTEN, placing));
        else if (call.path == MSG_PROGRESS || call.path == MSG_BROWSE_TITLE)
            goOn("");   // the label keeps its last text; the chooser has no title
        else if (ownText || nameInMessage)
            stop("");   // every box of these runs is a question: unanswered, it is a no
        else if (call.path == PackageConfig.TempFilePrefix)
            stop(Format(MSG_TEMP_NOT_CREATED, ""));   // the copy's prefix: no name yet
        else
            goOn("");   // a link's name, or a string for the desktop's shell
    } else if (fn == &CreateWideFile::counter && !call.mode) {
        if (variant == 0) {
            stop(Format(MSG_TEMP_NOT_CREATED, lastTemp));
        } else {
            goOn("");   // the next number
            e.takenName = path;
        }
    } else if (fn == &WriteFileHook::counter || fn == &FilePointer::counter) {
        stop(Format(MSG_TEMP_NOT_CREATED, lastTemp));
    } else if (fn == &LzInit::counter) {
        stop(Format(MSG_TEMP_NOT_READ, lastTemp));
    } else if (fn == &ToNarrow::counter) {
        if (call.phase == kPhaseBrowse) {
            goOn(MSG_UNUSABLE_NAME);
            e.browseKept = true;
        } else if (call.phase == kPhaseStart && firstInPhase(ToNarrow::counter)) {
            stop(MSG_UNUSABLE_NAME);   // the typed folder: refused before the run begins
        } else {
            goOn("");   // the copy's name, only ever shown in a message
        }
    } else if (fn == &CreateFileHook::counter) {
        const std::string work = call.path.substr(0, call.path.rfind('\\') + 1) + entryName();
        if (call.mode == 1 || call.mode == 4)
            goOn("");   // a folder that cannot be opened is none of the system's; an old file is asked again
        else if (call.mode == 5)
            stop(Format(MSG_FOLDER_DENIED, folder));   // the folder cannot be checked and held
        else if (call.mode == 2)
            stop(Format(MSG_NOT_WRITTEN, path + "\\" + entryName()));   // no folder to make the new file in
        else if (variant == 0)
            stop(Format(MSG_NOT_WRITTEN, work));
        else
            goOn("");   // the next number
    } else if (fn == &SetInformation::counter) {
        // Put in place: another program's moment is waited for; a file that
        // cannot be renamed or deleted stops the run, which takes everything back.
        if (call.phase == kPhasePlace && variant == 0)
            goOn("");
        else
            stop(Format(MSG_NOT_WRITTEN, path));
    } else if (fn == &FileSize::counter || fn == &FlushHook::counter || fn == &LzCopy::counter) {
        stop(Format(MSG_NOT_INSTALLED, dest));
    } else if (fn == &SystemDirectory::counter) {
        if (entry >= 0 && entry < PACKAGE_ENTRY_COUNT)
            stop(Format(MSG_NOT_WRITTEN, entryName()));
        else
            goOn("");   // the system folder is then no folder to compare with
    } else if (fn == &FileInformation::counter && cleanIndex > 1 &&
               clean.trace[cleanIndex - 2].function == &CreateFileHook::counter && clean.trace[cleanIndex - 2].mode == 5) {
        stop(Format(MSG_FOLDER_DENIED, folder));   // the held folder says nothing of itself
    } else if (fn == &PlainAttributes::counter) {
        // The earlier installation's program not seen: the folder's files
        // look like the user's own, and the user is asked (and agrees).
        if (g_scenario->upgrade && Lower(call.path) == Lower(program))
            goOn(Format(MSG_FOREIGN_FILES_ASK, folder));
        else
            goOn("");
    } else if (fn == &OpenFileHook::counter) {
        // A runtime library in the system folder that is not seen goes there
        // again, where its name is taken: the entry is left as it was.
        goOn("");
        if (call.output == "found") e.keptEntry = entry;
    } else if (IsShellCall(call)) {
        // A connection that fails or is late is dropped for good; a request
        // that is refused is asked once more through a new connection, and
        // one that is late is the shell's to answer.
        goOn("");
        (DesktopShell::IsStep(fn) && !DesktopShell::IsConnectionStep(fn) ? e.byShell : e.byExec) =
            g_scenario->desktopShell;
    } else {
        goOn("");   // silent: dialog cosmetics, shortcuts, registry, browsing, the system folders' identities
    }
    if (e.result == 1 && g_scenario->running) {
        e.programEnds = 1;
    }
    return e;
}

// A run that hangs is named before the process is ended, rather than left
// to the test driver's time limit.
class Watchdog {
public:
    static void Beat(const std::string &run) {
        std::lock_guard<std::mutex> lock(mutex_);
        current_ = run;
        last_ = GetTickCount();
        armed_ = true;
        static std::thread thread(&Watchdog::Watch);
        static bool detached = (thread.detach(), true);
        (void)detached;
    }

    static void Idle() {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_ = false;
    }

private:
    static void Watch() {
        for (;;) {
            Sleep(1000);
            std::lock_guard<std::mutex> lock(mutex_);
            if (armed_ && GetTickCount() - last_ > 20000) {
                std::fprintf(stderr, "[sweep] HANG: %s has not returned in 20 s\n", current_.c_str());
                std::fflush(stderr);
                TerminateProcess(GetCurrentProcess(), 3);
            }
        }
    }
    static inline std::mutex mutex_;
    static inline std::string current_;
    static inline DWORD last_ = 0;
    static inline bool armed_ = false;
};

// ---------------------------------------------------------------- the checks

struct Tally {
    long runs = 0, checks = 0, failures = 0;
    std::set<std::string> siteSet;
    std::set<std::string> functionsFailed;
    std::set<std::string> functionsCounted;
    std::set<std::string> notFailable;
};
Tally g_tally;

class Checker {
public:
    explicit Checker(std::string what) : what_(std::move(what)) {}
    void operator()(bool ok, const std::string &message) {
        ++g_tally.checks;
        if (ok) return;
        ++g_tally.failures;
        if (++reported_ <= 6) ADD_FAILURE() << what_ << ": " << message;
    }
    int failures() const { return reported_; }

private:
    std::string what_;
    int reported_ = 0;
};

std::vector<std::string> ListTree(const std::string &root) {
    std::vector<std::string> out;
    std::vector<std::string> stack{""};
    while (!stack.empty()) {
        std::string rel = stack.back();
        stack.pop_back();
        for (const std::string &n : ListFolder(rel.empty() ? root : root + "\\" + rel)) {
            std::string child = rel.empty() ? n : rel + "\\" + n;
            out.push_back(Lower(child));
            if (FolderExists(root + "\\" + child)) stack.push_back(child);
        }
    }
    return out;
}

std::string FullPath(const std::string &path) {
    char full[4 * MAX_PATH] = {};
    DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return n && n < sizeof full ? Lower(full) : Lower(path);
}

bool IsAncestorOrSelf(const std::string &candidate, const std::string &of) {
    std::string c = Lower(Trimmed(candidate)), o = Lower(of);
    if (c.empty()) return false;
    return o == c || (o.size() > c.size() && o.compare(0, c.size(), c) == 0 && (o[c.size()] == '\\' || c.back() == '\\'));
}

void CheckRunIn(Checker &check, const RunResult &r, const Expected &e, const std::vector<std::string> &treeBefore);

// Relative paths of the run are resolved against the run's current directory.
void CheckRun(Checker &check, const RunResult &r, const Expected &e, const std::vector<std::string> &treeBefore) {
    SetCurrentDirectoryA(g_layout.cwd.c_str());
    CheckRunIn(check, r, e, treeBefore);
    SetCurrentDirectoryA("C:\\");
}

void CheckRunIn(Checker &check, const RunResult &r, const Expected &e, const std::vector<std::string> &treeBefore) {
    const Layout &l = g_layout;
    const Scenario &s = *g_scenario;
    const std::string launch = l.folderAbs + "\\" + PackageTable[0].fileName;

    // Result and start.
    check(r.result == e.result, "result " + std::to_string(r.result) + ", expected " + std::to_string(e.result));
    int started = static_cast<int>(r.shellRequests.size());
    for (const CallRecord &c : r.trace)
        if (c.function == &WinExecHook::counter && !c.faulted) ++started;
    check(r.result == 0 || started == 1, "a successful run starts the program exactly once");
    if (r.result == 1 && r.shellRequests.empty()) {
        check(g_run.commandLines.size() == 1 && g_run.commandLines[0] == "\"" + launch + "\" " &&
                  g_run.shows[0] == SW_SHOW,
              "command line");
    } else if (r.result == 1) {
        // The shell has a current folder of its own: the path is absolute.
        const DesktopShell::Request &q = r.shellRequests[0];
        check(Lower(Narrow(q.file)) == Lower(l.folderAbs + "\\" + PackageTable[0].fileName) &&
                  Narrow(q.arguments) == PackageConfig.LaunchArguments &&
                  Lower(Narrow(q.folder)) == Lower(l.folderAbs + "\\") && q.operation == VT_EMPTY &&
                  q.show == SW_SHOWNORMAL,
              "the shell asked to start " + Narrow(q.file) + " in " + Narrow(q.folder));
        check(g_run.commandLines.empty(), "the program started by the shell is started again");
    }
    check(r.result == 1 || r.shellRequests.empty(), "a run that stopped started the program");
    check(!e.byShell || r.shellRequests.size() == 1, "the shell's failed step was not asked again");
    check(!e.byExec || (r.shellRequests.empty() && g_run.commandLines.size() == 1),
          "a connection that failed or was late was used, or the run did not start the program itself");
    // The dialog's thread never waits for the shell: every call to it is the shell thread's.
    for (const CallRecord &c : r.trace)
        check(c.otherThread || !IsShellCall(c),
              "the dialog's thread called the desktop's shell: " + c.function->name);
    // The program of the folder ends only when it was asked to and the run
    // goes on; nothing else ends it.
    if (s.running && e.programEnds >= 0)
        check(r.programEnded == (e.programEnds == 1),
              r.programEnded ? "the running program has ended" : "the running program still runs");

    // As the system asks at log-off: every window whether it may end, before
    // any is told whether it does.
    bool told = false;
    for (const CallRecord &c : r.trace) {
        if (c.function != &SendTimeout::counter) continue;
        if (c.mode == WM_ENDSESSION) told = true;
        else check(!told, "a window asked whether it may end after another was told");
    }

    // The links go into the common folders when the run has the administrator's
    // rights (as every process has under Wine), otherwise into the user's own.
    bool administrator = true;
    for (const CallRecord &c : r.trace)
        if (c.function == &TokenMembership::counter) administrator = !c.faulted;
    for (const CallRecord &c : r.trace)
        if (c.function == &SpecialFolder::counter && c.phase == kPhaseStart)
            check(c.mode == (administrator ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS) ||
                      c.mode == (administrator ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOPDIRECTORY),
                  "links asked for in special folder " + std::to_string(c.mode));

    // The progress label shows whole percentages, or keeps its last one.
    for (const CallRecord &c : r.trace) {
        if (c.function != &WriteWideText::counter || c.faulted) continue;
        bool whole = false;
        for (int i = 1; i <= PACKAGE_ENTRY_COUNT; ++i) {
            char percent[64];
            std::snprintf(percent, sizeof percent, MSG_PROGRESS, i * 100 / PACKAGE_ENTRY_COUNT);
            whole = whole || c.path == percent;
        }
        check(whole, "progress label set to " + c.path);
    }

    // Messages: texts, owner, title, type.
    std::vector<std::string> texts;
    for (const Box &b : r.boxes) texts.push_back(b.text);
    std::string shown, wanted;
    for (const std::string &t : texts) shown += "[" + t + "]";
    for (const std::string &t : e.texts) wanted += "[" + t + "]";
    check(texts == e.texts, "messages " + shown + ", expected " + wanted);
    for (size_t i = 0; i < r.boxes.size(); ++i) {
        const Box &b = r.boxes[i];
        check(b.owner != nullptr, "box without owner");
        std::string title = static_cast<int>(i) == e.defaultTitleBox ? MSG_DEFAULT_TITLE : kCaption;
        check(b.title == title, "box title " + b.title);
        UINT type = IsQuestion(b.text) ? (MB_YESNO | MB_ICONQUESTION) : MB_OK;
        check(b.type == type, "box type of " + b.text);
    }

    // The dialog after a stop: input state, the folder text as typed.
    if (r.result == 0) {
        check(r.inputState, "the dialog is not in its input state");
        check(r.folderTextAfter == l.folderText, "folder text changed to " + r.folderTextAfter);
    }
    check(r.textAfterBrowse == r.textBeforeBrowse || (!e.browseKept && r.textAfterBrowse == l.browse),
          "browsing left the folder text " + r.textAfterBrowse);
    check(r.textBeforeBrowse.size() < MAX_PATH, "proposal longer than a path");

    // Links: only to a complete installation, and none in a group that could not be made.
    bool linked = false;
    for (const std::string &ev : r.linkEvents) {
        if (ev.rfind("save ", 0) != 0) continue;
        linked = true;
        check(!e.groupFolderFails || FullPath(ev.substr(5)) != Lower(l.startLink),
              "a link saved in a program group that could not be made");
    }

    // Files: until every new file is in place, exactly those the run found,
    // byte for byte; from then on, exactly the package.
    const bool installed = r.result == 1 || e.afterPlacement;
    std::set<std::string> names;
    for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i) {
        const std::string name = PackageTable[i].fileName;
        names.insert(Lower(name));
        const std::string inFolder = l.folderAbs + "\\" + name;
        const std::string inSystem = l.sys + "\\" + name;
        const bool seededSystem = s.upgrade && i == kFirstSystemEntry;
        const bool seededFolder = seededSystem || (s.upgrade && PackageTable[i].destination == DEST_INSTALL_FOLDER);
        const std::string folderBytes = FileExists(inFolder) ? ReadWholeFile(inFolder) : kAbsent;
        const std::string systemBytes = FileExists(inSystem) ? ReadWholeFile(inSystem) : kAbsent;
        const std::string systemBefore = seededSystem ? "system copy of " + name : kAbsent;
        std::string folderWanted = seededFolder ? OldContent(name) : kAbsent, systemWanted = systemBefore;
        if (installed && i != e.keptEntry) {
            if (PackageTable[i].destination == DEST_INSTALL_FOLDER || seededSystem)
                folderWanted = g_original[name];
            else
                systemWanted = g_original[name];
        }
        const std::string when = installed ? " once the files were in place" : " after a run that stopped before";
        check(folderBytes == folderWanted, inFolder + (folderBytes == kAbsent ? " is missing" : " is not the file expected") + when +
                                               " (" + std::to_string(folderBytes.size()) + " bytes)");
        check(systemBytes == systemWanted, inSystem + (systemBytes == kAbsent ? " is missing" : " is not the file expected") + when);
        check(!linked || installed, "a link was saved to an installation that is not complete");
    }
    // What a killed run left goes with a run that gets that far, unless its
    // removal failed; nothing else but the package is there.
    bool cleanupFailed = false;
    for (const CallRecord &c : r.trace)
        cleanupFailed = cleanupFailed || (c.faulted && (c.function == &FindFirst::counter || c.function == &FindNext::counter ||
                                                        c.function == &DeleteFileHook::counter ||
                                                        c.function == &SystemDirectory::counter));
    for (const std::string &n : ListFolder(l.folderAbs))
        check(names.count(Lower(n)) == 1 || (Lower(n) == Lower(kLeftover) && (!installed || cleanupFailed)),
              "unexpected file in the installation folder: " + n);
    for (const std::string &n : ListFolder(l.sys))
        check(names.count(Lower(n)) == 1 || (Lower(n) == Lower(kLeftover) && (!installed || cleanupFailed)),
              "unexpected file in the system folder: " + n);

    // The copies are gone with their handles, whatever stopped the run.
    for (const std::string &t : ListFolder(l.tmp)) check(false, "left in the temporary folder: " + t);

    // Nothing new in the scratch tree outside the allowed places; nothing new
    // at all when the run stopped before its first folder.
    std::set<std::string> old(treeBefore.begin(), treeBefore.end());
    const std::string rootLower = Lower(l.root) + "\\";
    auto rel = [&](const std::string &p) { return Lower(p).substr(rootLower.size()); };
    const std::string folderRel = rel(l.folderAbs);
    for (const std::string &p : ListTree(l.root)) {
        if (old.count(p)) continue;
        bool allowed = IsAncestorOrSelf(l.root + "\\" + p, l.folderAbs) ||
                       (p.rfind(folderRel + "\\", 0) == 0 && names.count(p.substr(folderRel.size() + 1))) ||
                       (p.rfind(rel(l.sys) + "\\", 0) == 0 && names.count(p.substr(rel(l.sys).size() + 1))) ||
                       p == rel(l.group) || p == rel(l.startLink) || p == rel(l.desktopLink);
        check(allowed, "created outside the allowed places: " + p);
        check(!e.nothingMade, "made by a run that stopped before it could make anything: " + p);
    }

    // Every path the run handed to a creating call.
    auto inside = [&](const std::string &full, std::initializer_list<const std::string *> folders) {
        const std::string dir = full.substr(0, full.rfind('\\'));
        const std::string name = full.substr(full.rfind('\\') + 1);
        bool in = false;
        for (const std::string *f : folders) in = in || dir == Lower(*f);
        return std::make_pair(in, name);
    };
    bool taken = false;
    for (const CallRecord &c : r.trace) {
        if (c.function == &CreateWideFile::counter && !e.takenName.empty()) {
            check(!(taken && c.path == e.takenName), "a name found taken is tried again: " + c.path);
            taken = taken || c.faulted;
        }
        if (c.faulted && c.function != &MakeFolder::counter && c.function != &MakeWideFolder::counter) continue;
        const std::string full = FullPath(c.path);
        if (c.function == &MakeFolder::counter) {
            check(IsAncestorOrSelf(full, l.folderAbs), "folder creation outside the allowed places: " + c.path);
            check(c.mode == 1, "a folder the run makes without its protection: " + c.path);
        } else if (c.function == &MakeWideFolder::counter) {
            check(full == Lower(l.group), "folder creation outside the allowed places: " + c.path);
        } else if (c.function == &CreateFileHook::counter && c.mode >= 2) {
            // A destination's folder, a new file beside a destination, an old
            // file of the installation folder (the system folder's are never replaced).
            auto [in, name] = inside(full, {&l.folderAbs, &l.sys});
            auto [own, ownName] = inside(full, {&l.folderAbs});
            check(c.mode != 2 || full == Lower(l.folderAbs) || full == Lower(l.sys),
                  "a folder other than the destinations' opened: " + c.path);
            check(c.mode != 5 || full == Lower(l.folderAbs), "a folder other than the installation folder held: " + c.path);
            check(c.mode != 3 || (in && name.rfind("zin", 0) == 0), "a new file outside the destinations' folders: " + c.path);
            check(c.mode != 4 || (own && names.count(ownName)),
                  "a file opened to be replaced outside the installation folder: " + c.path);
        } else if (c.function == &CreateWideFile::counter && c.mode) {
            check(full == Lower(l.folderAbs + "\\" + PackageTable[0].fileName),
                  "the image of a process other than the folder's program opened: " + c.path);
        } else if (c.function == &CreateWideFile::counter) {
            auto [in, name] = inside(full, {&l.tmp});
            check(in && name.rfind("zin", 0) == 0, "payload copy outside the temporary folder: " + c.path);
        } else if (c.function == &TempFileName::counter) {
            check(Lower(Trimmed(full)) == Lower(l.tmp),
                  "payload copy named outside the temporary folder: '" + c.path + "'");
        } else if (c.function == &DeleteFileHook::counter) {
            // Only a name of the run beside a destination, never the destination itself.
            auto [in, name] = inside(full, {&l.folderAbs, &l.sys});
            check(name.rfind("zin", 0) == 0 && in, "deleted outside the run's own files: " + c.path);
        } else if (c.function == &SetInformation::counter && c.mode == 10) {
            // To a name of the run, or a new file to its destination's name.
            auto [in, name] = inside(FullPath(c.output), {&l.folderAbs, &l.sys});
            check(in && (name.rfind("zin", 0) == 0 || names.count(name)), "renamed outside the allowed places: " + c.output);
        }
    }
    for (const std::string &ev : r.linkEvents) {
        if (ev.rfind("save ", 0) != 0) {
            check(ev.rfind("unexpected", 0) != 0, "link call " + ev);
            continue;
        }
        std::string full = FullPath(ev.substr(5));
        check(full == Lower(l.startLink) || full == Lower(l.desktopLink),
              "link saved outside the allowed places: " + ev.substr(5));
    }

    for (const std::string &v : r.violations) check(false, v);
}

void Configure(Counter &c, int failAt, int variant) {
    c.failAt = failAt;
    c.variant = variant;
}

class FaultSweep : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // Seconds, not the installer's: some runs wait for a program that was
        // never asked to end, or for a shell step held until the run's end.
        g_CloseDeadline = 5000;
        g_ShellDeadline = 1000;
        InstallHooks();
        for (Counter *c : Hooks::counters)
            if (c->variants.empty()) g_tally.notFailable.insert(c->name + " (" + c->whyNotFailable + ")");
        for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i) {
            g_savedOverwrite[i] = PackageTable[i].overwrite;
            std::string name = PackageTable[i].fileName;
            g_original[name] = ReadWholeFile(PackageFile(name));
            g_expandedSize[name] = static_cast<LONG>(g_original[name].size());
        }
    }
    static void TearDownTestSuite() { g_hooks.clear(); }
    void TearDown() override {
        EndProgram();
        for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i) PackageTable[i].overwrite = g_savedOverwrite[i];
        Hooks::ResetCalls();
        SetCurrentDirectoryA("C:\\");
    }

    void SweepScenario(const Scenario &s) {
        ScratchFolder scratch(std::string("sweep-") + s.name);
        PrepareLayout(scratch, s);
        g_scenario = &s;

        // The clean run: counts every call and must itself pass.
        Hooks::ResetCalls();
        ResetTree(s);
        std::vector<std::string> tree = ListTree(g_layout.root);
        RunResult clean = RunOnce(s);
        Checker cleanCheck(std::string(s.name) + " clean run");
        Expected none;
        for (const Box &b : clean.boxes) none.texts.push_back(b.text);
        CheckRun(cleanCheck, clean, none, tree);
        cleanCheck(clean.result == 1, "the clean run did not succeed");
        cleanCheck(!clean.boxes.empty(), "the clean run asks its question");
        ++g_tally.runs;
        ASSERT_EQ(cleanCheck.failures(), 0) << "the clean run must pass before faults mean anything";
        if (s.upgrade) {
            EXPECT_FALSE(FileExists(g_layout.folderAbs + "\\" + kLeftover)) << "a killed run's file stays";
            EXPECT_FALSE(FileExists(g_layout.sys + "\\" + kLeftover)) << "a killed run's file stays";
        }
        std::map<Counter *, int> counts;
        for (Counter *c : Hooks::counters) {
            counts[c] = c->calls;
            if (c->calls) g_tally.functionsCounted.insert(c->name);
        }
        // Links in the clean run: both written, pointing at the program.
        if (!s.relative) {
            std::string expectedTarget = "path " + g_layout.folderAbs + "\\" + PackageTable[0].fileName;
            int saves = 0, paths = 0;
            for (const std::string &ev : clean.linkEvents) {
                saves += ev.rfind("save ", 0) == 0;
                paths += ev == expectedTarget;
            }
            EXPECT_EQ(saves, 2);
            EXPECT_EQ(paths, 2);
            EXPECT_TRUE(FileExists(g_layout.startLink));
            EXPECT_TRUE(FileExists(g_layout.desktopLink));
        }

        int runs = 0;
        const bool verbose = std::getenv("ZORVIK_SWEEP_VERBOSE") != nullptr;
        for (Counter *c : Hooks::counters) {
            for (int n = 1; n <= counts[c]; ++n) {
                for (int v = 0; v < static_cast<int>(c->variants.size()); ++v) {
                    size_t cleanIndex = 0;
                    while (cleanIndex < clean.trace.size() &&
                           !(clean.trace[cleanIndex].function == c && clean.trace[cleanIndex].number == n))
                        ++cleanIndex;
                    if (cleanIndex == clean.trace.size() || !Applies(clean.trace[cleanIndex], v)) continue;
                    const int entry = clean.trace[cleanIndex].entry;
                    if (!s.everyEntry && entry >= 1 && entry <= kLastFolderEntry && entry != kLastFolderEntry / 2)
                        continue;
                    if (s.running && clean.trace[cleanIndex].phase != kPhaseClose) continue;

                    if (verbose) std::printf("[sweep] %s %s %d %d\n", s.name, c->name.c_str(), n, v), std::fflush(stdout);
                    Watchdog::Beat(std::string(s.name) + ": " + c->name + " call " + std::to_string(n) +
                                   " fails (" + c->variants[v] + ")");
                    Hooks::ResetCalls();
                    Configure(*c, n, v);
                    RunResult run = RunOnce(s);
                    Expected e = Oracle(clean, cleanIndex, v, run);
                    std::string what = std::string(s.name) + ": " + c->name + " call " + std::to_string(n) +
                                       " fails (" + c->variants[v] + ")";
                    Checker check(what);
                    bool fired = false;
                    for (const CallRecord &rec : run.trace) fired = fired || rec.faulted;
                    check(fired, "the fault was not reached");
                    CheckRun(check, run, e, tree);
                    ++runs;
                    ++g_tally.runs;
                    g_tally.siteSet.insert(std::string(s.name) + "/" + c->name + "/" + std::to_string(n));
                    g_tally.functionsFailed.insert(c->name);
                }
            }
        }
        Watchdog::Idle();
        std::printf("[sweep] %s: %d faulted runs\n", s.name, runs);
    }
};

TEST_F(FaultSweep, FreshInstallationWithMissingParents) { SweepScenario(kFresh); }

TEST_F(FaultSweep, RelativeFolderOverAnEarlierInstallationOnALowDisk) { SweepScenario(kUpgrade); }

// The earlier installation's program runs from the folder: found, asked to
// end with the user's consent, or nothing is written and it keeps running.
TEST_F(FaultSweep, RelativeFolderWhileTheEarlierProgramRuns) { SweepScenario(kRunning); }

// The LZ functions cannot be bound: the first entry stops with the payload
// copy's read message, and the copy is gone.
TEST_F(FaultSweep, LzLibraryThatCannotBeBound) {
    ScratchFolder scratch("sweep-bind");
    PrepareLayout(scratch, kFresh);
    for (int failSystemDirectory = 0; failSystemDirectory <= 1; ++failSystemDirectory) {
        Hooks::ResetCalls();
        g_LZCopy = nullptr;
        g_LZClose = nullptr;
        g_LZInit = nullptr;
        // The redirected system folder holds no lz32.dll; or the folder is not known at all.
        if (failSystemDirectory) Configure(SystemDirectory::counter, 1, 0);
        ResetTree(kFresh);
        std::vector<std::string> tree = ListTree(g_layout.root);
        RunResult run = RunOnce(kFresh);
        g_LZCopy = &LzCopy::Hook;
        g_LZClose = &LzClose::Hook;
        g_LZInit = &LzInit::Hook;
        Expected e;
        e.result = 0;
        e.texts = {Format(MSG_FOLDER_MISSING_ASK, g_layout.folderText),
                   Format(MSG_TEMP_NOT_READ, LastBefore(run.trace, run.trace.size(), TempFileName::counter, true))};
        Checker check(failSystemDirectory ? "GetSystemDirectoryA fails while binding LZ32"
                                          : "no lz32.dll in the system folder");
        CheckRun(check, run, e, tree);
        ++g_tally.runs;
    }
}

class Summary : public testing::Environment {
public:
    void TearDown() override {
        std::printf("[sweep] failed in turn: ");
        for (const std::string &n : g_tally.functionsFailed) std::printf("%s ", n.c_str());
        std::printf("\n[sweep] counted but not failed: ");
        for (const std::string &n : g_tally.notFailable) std::printf("%s; ", n.c_str());
        std::printf("\n[sweep] summary: functions covered %zu (failed %zu), call sites failed %zu, runs %ld, "
                    "faults injected %ld, invariant checks %ld, failures found %ld\n",
                    g_tally.functionsCounted.size(), g_tally.functionsFailed.size(), g_tally.siteSet.size(),
                    g_tally.runs, Hooks::faultsInjected, g_tally.checks, g_tally.failures);
    }
};
const auto *g_summary = testing::AddGlobalTestEnvironment(new Summary);

}  // namespace
