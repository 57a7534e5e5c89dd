// Hostile folder texts: at least 10,000 strings from a seeded generator, each
// through OnStart with the file system replaced by recorders that answer
// without touching the disk, so that every path the run composes is seen.
// Every composed path must be the whole intended path (never a truncation),
// terminated within MAX_PATH, and inside the folder, its parents, the system
// folder, the program group or the desktop; every folder the run makes is
// protected; the folder buffer must not be written outside its 260 bytes.
//
// ZORVIK_SWEEP_SEED=<n> replays a seed; ZORVIK_SWEEP_TEXTS=<n> sets the count.
#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <set>

#include "engine.h"
#include "messages.h"
#include "resource.h"
#include "scratch.h"
#include "sweep_support.h"
#include "platform_hooks.h"

namespace {

const char kTempDir[] = "C:\\ztmp\\";
const char kTempName[] = "C:\\ztmp\\ZIN1A2B.tmp";
const char kSystemDir[] = "C:\\WINNT\\system32";
const char kPrograms[] = "C:\\Users\\u\\Start Menu\\Programs";
const char kDesktop[] = "C:\\Users\\u\\Desktop";
HANDLE const kTempHandle = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7A11));

// ------------------------------------------------------------ what one run did

struct TextRun {
    std::string cwd;                      // what GetCurrentDirectoryA answers
    bool folderExists = false;            // the first CreateDirectoryA finds it
    std::vector<std::string> roots, folders, creates, opens, deletes, boxes, commands, moves, groups;
    std::vector<std::string> identities;   // folders opened to be compared with the system's
    std::vector<bool> protectedFolders;   // per entry of folders: made with the protected descriptor
    std::map<HANDLE, std::string> files;   // the handles the recorders gave out: folders and new files
    std::map<std::string, LONG> written;
    int lzOpen = 0;
    int nextLz = 1;
    UINT_PTR nextHandle = 0x7B00;
    std::vector<HWND> focused;   // the controls the run gave the keyboard to
    std::map<const void *, int> lists;
};
TextRun g_run;


std::vector<Hooks::Installed> g_hooks;
std::map<std::string, LONG> g_expanded;

std::string TrimOnce(const std::string &s);

void InstallHooks() {
    auto add = [](Hooks::Installed h) { g_hooks.push_back(std::move(h)); };
    add(CurrentDirectory::Install("kernel32.dll", "GetCurrentDirectoryA"));
    CurrentDirectory::base = [](DWORD n, LPSTR b) -> DWORD {
        if (n > MAX_PATH) Hooks::Violation("GetCurrentDirectoryA given more than MAX_PATH");
        return Hooks::AnswerFolder(g_run.cwd, b, n);
    };
    add(FullPathName::Install("kernel32.dll", "GetFullPathNameA"));
    FullPathName::inspect = [](CallRecord &r, LPCSTR p, DWORD, LPSTR, LPSTR *) {
        r.path = Hooks::CheckedPath(FullPathName::counter, p);
    };
    // Only a plain drive root is a drive; every other root is refused.
    add(DiskFreeSpace::Install("kernel32.dll", "GetDiskFreeSpaceA"));
    DiskFreeSpace::base = [](LPCSTR root, LPDWORD spc, LPDWORD bps, LPDWORD fc, LPDWORD tc) -> BOOL {
        std::string r = Hooks::CheckedPath(DiskFreeSpace::counter, root);
        g_run.roots.push_back(r);
        bool drive = r.size() == 3 && isalpha(static_cast<unsigned char>(r[0])) && r[1] == ':' && r[2] == '\\';
        if (!drive) {
            SetLastError(ERROR_INVALID_NAME);
            return FALSE;
        }
        *spc = 8, *bps = 512, *fc = 1u << 20, *tc = 1u << 21;
        return TRUE;
    };
    // Folders: the installation folder itself is missing with its parent (or
    // exists), every other folder is made; nothing touches the disk. An empty
    // name is refused as the platform refuses it.
    add(MakeFolder::Install("kernel32.dll", "CreateDirectoryA"));
    MakeFolder::base = [](LPCSTR path, LPSECURITY_ATTRIBUTES sa) -> BOOL {
        std::string p = Hooks::CheckedPath(MakeFolder::counter, path);
        bool first = g_run.folders.empty();
        g_run.folders.push_back(p);
        g_run.protectedFolders.push_back(sa && sa->lpSecurityDescriptor);
        const std::string fault = sa && sa->lpSecurityDescriptor ? ProtectedFolderFault(sa->lpSecurityDescriptor) : "";
        if (!fault.empty()) Hooks::Violation("a folder made with a descriptor: " + fault);
        if (p.empty()) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
        if (first) {
            SetLastError(g_run.folderExists ? ERROR_ALREADY_EXISTS : ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
        return TRUE;
    };
    add(MessageBoxHook::Install("user32.dll", "MessageBoxW"));
    MessageBoxHook::base = [](HWND, LPCWSTR text, LPCWSTR, UINT type) -> int {
        Hooks::CheckedWidePath(MessageBoxHook::counter, text, MESSAGE_SIZE);
        g_run.boxes.push_back(InMessageCodePage(text));
        return (type & 0xF) == MB_YESNO ? IDYES : IDOK;
    };
    add(FindResourceHook::Install("kernel32.dll", "FindResourceA"));
    FindResourceHook::inspect = [](CallRecord &, HMODULE, LPCSTR name, LPCSTR) { Hooks::entry = Sweep::EntryOfResource(name); };
    // The payload's copy in the temporary folder: one name, one handle.
    add(TempPath::Install("kernel32.dll", "GetTempPathW"));
    TempPath::base = [](DWORD n, LPWSTR b) -> DWORD { return Hooks::AnswerFolder(kTempDir, b, n); };
    add(TempFileName::Install("kernel32.dll", "GetTempFileNameW"));
    TempFileName::base = [](LPCWSTR dir, LPCWSTR, UINT unique, LPWSTR name) -> UINT {
        if (Hooks::CheckedWidePath(TempFileName::counter, dir) != kTempDir)
            Hooks::Violation("copy outside the temporary folder");
        lstrcpyW(name, Wide(kTempName).c_str());
        return unique;
    };
    add(CreateWideFile::Install("kernel32.dll", "CreateFileW"));
    CreateWideFile::base = [](LPCWSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) -> HANDLE {
        std::string p = Hooks::CheckedWidePath(CreateWideFile::counter, path);
        g_run.creates.push_back(p);
        if (p != kTempName) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        return kTempHandle;
    };
    add(FilePointer::Install("kernel32.dll", "SetFilePointer"));
    FilePointer::base = [](HANDLE h, LONG d, PLONG high, DWORD how) -> DWORD {
        return h == kTempHandle ? 0 : FilePointer::real(h, d, high, how);
    };
    // No folder can be opened to be compared with the system's (it is none
    // of them); the destinations' folders are, and their new files are made;
    // no file to replace exists.
    add(CreateFileHook::Install("kernel32.dll", "CreateFileA"));
    CreateFileHook::base = [](LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                              HANDLE) -> HANDLE {
        std::string p = Hooks::CheckedPath(CreateFileHook::counter, path);
        const bool identity = (flags & FILE_FLAG_BACKUP_SEMANTICS) && access == FILE_READ_ATTRIBUTES;
        (identity ? g_run.identities : g_run.creates).push_back(p);
        if (identity || (disposition != CREATE_NEW && !(flags & FILE_FLAG_BACKUP_SEMANTICS))) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        HANDLE h = reinterpret_cast<HANDLE>(g_run.nextHandle += 4);
        g_run.files[h] = p;
        return h;
    };
    // The keyboard given back to the folder field is recorded, not moved (a
    // focus change is an X server's round trip under Wine).
    add(SendHook::Install("user32.dll", "SendMessageW"));
    SendHook::base = [](HWND, UINT message, WPARAM w, LPARAM l) -> LRESULT {
        if (message == WM_NEXTDLGCTL && l) g_run.focused.push_back(reinterpret_cast<HWND>(w));
        return 0;
    };
    // No name is a link (and none is looked up on the disk or the network).
    add(PlainAttributes::Install("kernel32.dll", "GetFileAttributesA"));
    PlainAttributes::base = [](LPCSTR p) -> DWORD {
        Hooks::CheckedPath(PlainAttributes::counter, p);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    };
    // The installation folder, once held, is a folder of its own.
    add(FileInformation::Install("kernel32.dll", "GetFileInformationByHandle"));
    FileInformation::base = [](HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) -> BOOL {
        if (!g_run.files.count(h)) return FileInformation::real(h, info);
        std::memset(info, 0, sizeof *info);
        info->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        info->nFileIndexLow = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(h));
        return TRUE;
    };
    add(SetInformation::InstallPointer(&g_NtSetInformationFile, "NtSetInformationFile"));
    SetInformation::base = [](HANDLE h, PVOID, PVOID info, ULONG, int kind) -> LONG {
        if (!g_run.files.count(h)) Hooks::Violation("a file's information set through a handle not given out");
        if (kind == 10) {
            struct Rename { BOOLEAN replace; HANDLE folder; ULONG length; WCHAR name[1]; };
            const Rename *r = static_cast<const Rename *>(info);
            if (r->replace) Hooks::Violation("a rename that replaces");
            // A drive root is held with its backslash, and its files have no second one.
            g_run.moves.push_back(TrimOnce(g_run.files[r->folder]) + "\\" +
                                  Narrow(std::wstring(r->name, r->length / sizeof(WCHAR))));
        }
        return 0;
    };
    add(FileSize::Install("kernel32.dll", "GetFileSize"));
    FileSize::base = [](HANDLE h, LPDWORD high) -> DWORD {
        if (high) *high = 0;
        return static_cast<DWORD>(g_run.written[g_run.files[h]]);
    };
    add(FindFirst::Install("kernel32.dll", "FindFirstFileA"));
    FindFirst::base = [](LPCSTR p, LPWIN32_FIND_DATAA) -> HANDLE {
        Hooks::CheckedPath(FindFirst::counter, p);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    };
    add(FlushHook::Install("kernel32.dll", "FlushFileBuffers"));
    FlushHook::base = [](HANDLE h) -> BOOL { return g_run.files.count(h) ? TRUE : FlushHook::real(h); };
    add(WriteFileHook::Install("kernel32.dll", "WriteFile"));
    WriteFileHook::base = [](HANDLE h, LPCVOID d, DWORD n, LPDWORD w, LPOVERLAPPED o) -> BOOL {
        if (h != kTempHandle) return WriteFileHook::real(h, d, n, w, o);
        *w = n;
        return TRUE;
    };
    add(CloseHandleHook::Install("kernel32.dll", "CloseHandle"));
    CloseHandleHook::base = [](HANDLE h) -> BOOL {
        if (h == kTempHandle) return TRUE;
        if (g_run.files.erase(h)) return TRUE;
        return CloseHandleHook::real(h);
    };
    add(DeleteFileHook::Install("kernel32.dll", "DeleteFileA"));
    DeleteFileHook::base = [](LPCSTR p) -> BOOL {
        g_run.deletes.push_back(Hooks::CheckedPath(DeleteFileHook::counter, p));
        return TRUE;
    };
    add(SystemDirectory::Install("kernel32.dll", "GetSystemDirectoryA"));
    SystemDirectory::base = [](LPSTR b, UINT n) { return Hooks::AnswerFolder(kSystemDir, b, n); };
    // No file exists anywhere: runtime libraries go to the system folder.
    add(OpenFileHook::Install("kernel32.dll", "OpenFile"));
    OpenFileHook::base = [](LPCSTR p, LPOFSTRUCT, UINT) -> HFILE {
        std::string path = Hooks::CheckedPath(OpenFileHook::counter, p);
        g_run.opens.push_back(path);
        if (path.size() >= OFS_MAXPATHNAME) Hooks::Violation("OpenFile path of 128 bytes or more");
        return HFILE_ERROR;
    };
    add(SpecialFolder::Install("shell32.dll", "SHGetSpecialFolderLocation"));
    SpecialFolder::after = [](CallRecord &, HRESULT hr, HWND, int csidl, LPITEMIDLIST *out) {
        if (hr == S_OK && *out) g_run.lists[*out] = csidl;
    };
    add(PathFromList::Install("shell32.dll", "SHGetPathFromIDListW"));
    PathFromList::base = [](LPCITEMIDLIST list, LPWSTR b) -> BOOL {
        auto it = g_run.lists.find(list);
        if (it == g_run.lists.end()) return FALSE;
        lstrcpyW(b, Wide(it->second == CSIDL_COMMON_PROGRAMS ? kPrograms : kDesktop).c_str());
        return TRUE;
    };
    add(MakeWideFolder::Install("kernel32.dll", "CreateDirectoryW"));
    MakeWideFolder::base = [](LPCWSTR path, LPSECURITY_ATTRIBUTES sa) -> BOOL {
        g_run.groups.push_back(Hooks::CheckedWidePath(MakeWideFolder::counter, path));
        if (sa && sa->lpSecurityDescriptor) Hooks::Violation("the program group made with a descriptor");
        return TRUE;
    };
    add(CreateInstance::Install("ole32.dll", "CoCreateInstance"));
    CreateInstance::base = [](REFCLSID, LPUNKNOWN, DWORD, REFIID iid, LPVOID *out) -> HRESULT {
        if (iid != IID_IShellLinkA) return E_NOINTERFACE;
        *out = WrapShellLink(nullptr);   // records, writes nothing
        return S_OK;
    };
    add(WinExecHook::Install("kernel32.dll", "WinExec"));
    WinExecHook::base = [](LPCSTR line, UINT) -> UINT {
        g_run.commands.push_back(Hooks::CheckedPath(WinExecHook::counter, line, COMMAND_LINE_SIZE));
        return 33;
    };

    add(LzInit::InstallPointer(&g_LZInit, "LZInit"));
    LzInit::base = [](INT file) -> INT {
        if (file != static_cast<INT>(reinterpret_cast<INT_PTR>(kTempHandle)))
            Hooks::Violation("LZInit of another file");
        ++g_run.lzOpen;
        return g_run.nextLz++;
    };
    add(LzCopy::InstallPointer(&g_LZCopy, "LZCopy"));
    LzCopy::base = [](INT, INT target) -> LONG {
        LONG size = Hooks::entry >= 0 ? g_expanded[PackageTable[Hooks::entry].fileName] : 1;
        g_run.written[g_run.files[reinterpret_cast<HANDLE>(static_cast<INT_PTR>(target))]] = size;
        return size;
    };
    add(LzClose::InstallPointer(&g_LZClose, "LZClose"));
    LzClose::base = [](INT) { --g_run.lzOpen; };
    RegisterLinkCounters();
}

// ------------------------------------------------------------ the generator

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    std::string Folder() {
        std::string s;
        static const char *const kStarts[] = {"C:\\", "c:\\", "D:", "Z:\\", "", "", "\\\\server\\share\\",
                                              "\\", ".\\", "..\\", ":", ":\\", "\\\\?\\C:\\", "1:\\",
                                              "CC:\\", "C:\\\\", "C::\\", "\x83\x5C:\\", "C:"};
        s = kStarts[Pick(sizeof kStarts / sizeof *kStarts)];
        size_t target = TargetLength();
        while (s.size() < target) s += Piece();
        if (Pick(3) == 0) s += Ending();
        if (s.size() > target) s.resize(target);   // may cut a double-byte character in two
        if (s.size() > 259) s.resize(259);
        return s;
    }
    std::string Cwd() {
        static const char *const kDirs[] = {"C:\\zt", "D:\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C", "\\\\srv\\share\\dir",
                                            "E:\\", "x"};
        std::string d = kDirs[Pick(sizeof kDirs / sizeof *kDirs)];
        if (Pick(8) == 0) d = "C:\\" + std::string(255, 'w');   // 258 bytes: the longest answer
        return d;
    }
    unsigned Pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(rng_); }

private:
    size_t TargetLength() {
        switch (Pick(6)) {
        case 0: return Pick(260);             // anywhere
        case 1: return 230 + Pick(30);        // around the longest folder the run takes
        case 2: return 240 + Pick(20);        // near the buffer's end
        default: return Pick(90);             // ordinary lengths
        }
    }
    std::string Dbcs() {
        static const unsigned char kFifthByte[][2] = {{0x83, 0x5C}, {0x95, 0x5C}, {0x8F, 0x5C}, {0x94, 0x5C},
                                                      {0x97, 0x5C}, {0x89, 0x5C}, {0x8A, 0x5C}};
        switch (Pick(4)) {
        case 0: {
            const unsigned char *c = kFifthByte[Pick(7)];
            return std::string{static_cast<char>(c[0]), static_cast<char>(c[1])};
        }
        case 1: return std::string{static_cast<char>(0x81 + Pick(0x1F)), ':'};   // lead byte, then a colon
        default: {
            unsigned lead = Pick(2) ? 0x81 + Pick(0x1F) : 0xE0 + Pick(0x1D);
            unsigned trail = Pick(2) ? 0x40 + Pick(0x3F) : 0x80 + Pick(0x7D);
            return std::string{static_cast<char>(lead), static_cast<char>(trail)};
        }
        }
    }
    std::string Piece() {
        switch (Pick(12)) {
        case 0: case 1: return "\\";
        case 2: return std::string(1 + Pick(4), '\\');
        case 3: return ":";
        case 4: return " ";
        case 5: return ".";
        case 6: return "..";
        case 7: return std::string(1, static_cast<char>(0xA1 + Pick(0x3F)));   // half-width katakana
        case 8: case 9: return Dbcs();
        default: {
            std::string w;
            for (unsigned n = 1 + Pick(8); n--;) w += static_cast<char>("abcXYZ019_-~$"[Pick(13)]);
            return w;
        }
        }
    }
    std::string Ending() {
        switch (Pick(6)) {
        case 0: return " ";
        case 1: return ".";
        case 2: return "\\";
        case 3: return "\\\\";
        case 4: return " .\\";
        default: return std::string(1, static_cast<char>(0x83));   // a lead byte with nothing after it
        }
    }
    std::mt19937 rng_;
};

// ------------------------------------------------------------ the model

int CharBytes(const std::string &s, size_t i) {
    return IsDBCSLeadByte(static_cast<BYTE>(s[i])) && i + 1 < s.size() ? 2 : 1;
}

std::string TrimOnce(const std::string &s) {
    size_t i = 0, last = std::string::npos;
    while (i < s.size()) {
        last = i;
        i += CharBytes(s, i);
    }
    if (last != std::string::npos && s[last] == '\\') return s.substr(0, last);
    return s;
}

long FirstColon(const std::string &s) {
    for (size_t i = 0; i < s.size(); i += CharBytes(s, i))
        if (s[i] == ':') return static_cast<long>(i);
    return -1;
}

std::string ExpectedRoot(const std::string &folder, const std::string &cwd) {
    long c = FirstColon(folder);
    if (c >= 0) return folder.substr(0, c) + ":\\";
    c = FirstColon(cwd);
    return (c >= 0 ? cwd.substr(0, c) : cwd.substr(0, std::min<size_t>(cwd.size(), MAX_PATH - 3))) + ":\\";
}

// The prefixes CreateFolderTree may make: ending before a backslash (at a
// character boundary) or the whole path, never a drive root.
std::vector<std::string> TreePrefixes(const std::string &path) {
    std::vector<std::string> out;
    for (size_t p = 0;; ) {
        bool end = p == path.size();
        if (end || path[p] == '\\') {
            if (!(p >= 2 && path[p - 1] == ':')) out.push_back(path.substr(0, p));
            if (end) break;
            ++p;
        } else {
            p += CharBytes(path, p);
        }
    }
    return out;
}

std::string Hex(const std::string &s) {
    std::string out;
    char b[8];
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(b, sizeof b, "\\x%02X", c);
            out += b;
        }
    }
    return out;
}

INT_PTR CALLBACK QuietProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST(FolderTexts, HostileFolderTextsThroughOnStart) {
    unsigned seed = 20240607;
    if (const char *env = std::getenv("ZORVIK_SWEEP_SEED")) seed = static_cast<unsigned>(std::strtoul(env, nullptr, 10));
    int count = 10000;
    if (const char *env = std::getenv("ZORVIK_SWEEP_TEXTS")) count = std::atoi(env);
    std::printf("[folder texts] seed %u, %d texts (ZORVIK_SWEEP_SEED replays)\n", seed, count);

    if (!BindLzLibrary()) FAIL() << "cannot bind lz32.dll";
    InstallHooks();
    INT32 savedOverwrite[PACKAGE_ENTRY_COUNT];
    size_t longestName = 12;   // CreateDirectoryA keeps room for an 8.3 name
    for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i) {
        savedOverwrite[i] = PackageTable[i].overwrite;
        longestName = std::max(longestName, std::strlen(PackageTable[i].fileName));
        // The expanded length, as the payload's SZDD header states it.
        HRSRC r = FindResourceA(nullptr, MAKEINTRESOURCEA(PackageTable[i].resourceId), MAKEINTRESOURCEA(10));
        const BYTE *data = r ? static_cast<const BYTE *>(LockResource(LoadResource(nullptr, r))) : nullptr;
        g_expanded[PackageTable[i].fileName] = data ? *reinterpret_cast<const LONG *>(data + 10) : 1;
    }

    g_hInstance = GetModuleHandleA(nullptr);
    HWND dlg = CreateDialogParamW(g_hInstance, MAKEINTRESOURCEW(IDD_INSTALLER), nullptr, QuietProc, 0);
    ASSERT_NE(dlg, nullptr);
    g_hDlg = dlg;
    SetCurrentDirectoryA("C:\\");

    const std::string group = std::string(kPrograms) + "\\" + PackageConfig.ProgramGroupName;
    char windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryA(windows, MAX_PATH);
    const std::set<std::string> systemFolders{windows, kSystemDir, std::string(windows) + "\\Sysnative"};
    Generator gen(seed);
    long checks = 0, failures = 0, accepted = 0, refused = 0, invalidDrive = 0, treeStopped = 0;
    auto check = [&](bool ok, int index, const std::string &folder, const std::string &what) {
        ++checks;
        if (ok) return;
        if (++failures <= 10)
            ADD_FAILURE() << "seed " << seed << ", text " << index << " \"" << Hex(folder) << "\": " << what;
    };

    for (int index = 0; index < count; ++index) {
        const std::string folder = gen.Folder();
        g_run = TextRun();
        g_run.cwd = gen.Cwd();
        g_run.folderExists = gen.Pick(3) == 0;
        const int startMenu = gen.Pick(4) != 0, desktop = gen.Pick(4) != 0;
        g_linkEvents.clear();
        for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i) PackageTable[i].overwrite = savedOverwrite[i];
        Hooks::ResetCalls();

        // The folder in its 260-byte buffer, with guard bytes on both sides
        // and the unused part of the buffer filled with a pattern.
        unsigned char guarded[16 + MAX_PATH + 16];
        std::memset(guarded, 0xA5, sizeof guarded);
        char *buffer = reinterpret_cast<char *>(guarded + 16);
        std::memset(buffer, 0xEE, MAX_PATH);
        std::memcpy(buffer, folder.c_str(), folder.size() + 1);

        Hooks::active = true;
        int result = OnStart(buffer, startMenu, desktop);
        Hooks::active = false;

        const std::string trimmed = TrimOnce(folder);
        // The folder's full path, as the run takes it: the system's full form
        // of the text as typed (against the process's own current directory:
        // the recorders leave GetFullPathNameA to the platform), one trailing
        // backslash dropped unless a drive root's.
        char fullPath[2 * MAX_PATH];
        const DWORD fullLength = GetFullPathNameA(folder.c_str(), sizeof fullPath, fullPath, nullptr);
        std::string full = fullLength && fullLength < sizeof fullPath ? fullPath : "";
        if (!(full.size() == 3 && full[1] == ':')) full = TrimOnce(full);
        const bool tooLong = fullLength == 0 || fullLength >= MAX_PATH || full.size() + 1 + longestName >= MAX_PATH;
        bool guardsIntact = true;
        for (int i = 0; i < 16; ++i)
            guardsIntact = guardsIntact && guarded[i] == 0xA5 && guarded[16 + MAX_PATH + i] == 0xA5;
        check(guardsIntact, index, folder, "written outside the folder buffer");
        check(std::string(buffer) == (g_run.roots.empty() ? trimmed : full), index, folder,
              "the folder buffer holds \"" + Hex(buffer) + "\"");
        for (size_t i = std::max(folder.size(), full.size()) + 1; i < MAX_PATH; ++i)
            if (static_cast<unsigned char>(buffer[i]) != 0xEE) {
                check(false, index, folder, "the unused part of the folder buffer was written");
                break;
            }
        for (const std::string &v : Hooks::violations) check(false, index, folder, v);
        check(g_run.lzOpen == 0, index, folder, "LZ handles left open");
        check(g_run.files.empty(), index, folder, "files or folders left open");

        bool inputState = IsWindowEnabled(GetDlgItem(dlg, IDOK)) &&
                          !(GetWindowLongA(GetDlgItem(dlg, IDC_PROGRESS), GWL_STYLE) & WS_VISIBLE);

        if (g_run.roots.empty()) {
            // Refused before anything: one message naming the folder, nothing made.
            ++refused;
            check(result == 0, index, folder, "a refused folder gave result 1");
            check(g_run.boxes == std::vector<std::string>{Format(fullLength ? MSG_FOLDER_TOO_LONG : MSG_FOLDER_DENIED,
                                                                 trimmed)},
                  index, folder, "refusal message");
            check(g_run.folders.empty() && g_run.creates.empty() && g_run.opens.empty(), index, folder,
                  "something was made for a refused folder");
        } else {
            check(!tooLong, index, folder, "a folder too long for its file paths was accepted");
            // Then, once the folder exists, its program is looked for running.
            // (The system's own folders are opened for their identities too.)
            std::vector<std::string> compared;
            for (const std::string &p : g_run.identities)
                if (!systemFolders.count(p)) compared.push_back(p);
            const std::vector<std::string> folderOnly{full},
                withProgram{full, TrimOnce(full) + "\\" + PackageTable[0].fileName};
            check(compared == folderOnly || compared == withProgram, index, folder,
                  "not the folder itself compared with the system's folders, and its program");
            const std::string root = ExpectedRoot(full, g_run.cwd);
            check(g_run.roots.size() == 1 && g_run.roots[0] == root, index, folder,
                  "drive root \"" + Hex(g_run.roots[0]) + "\", expected \"" + Hex(root) + "\"");
            if (result == 0 && g_run.folders.empty()) {
                ++invalidDrive;
                check(g_run.boxes == std::vector<std::string>{Format(MSG_DRIVE_INVALID, g_run.roots[0])}, index,
                      folder, "drive message");
            }
        }

        // Folders: the folder itself first, then prefixes of it (the tree);
        // nothing else, nothing cut short. Every one of them is made protected.
        for (size_t k = 0; k < g_run.folders.size(); ++k)
            check(g_run.protectedFolders[k], index, folder, "\"" + Hex(g_run.folders[k]) + "\" made unprotected");
        if (!g_run.folders.empty()) {
            check(g_run.folders[0] == full, index, folder, "first folder made: \"" + Hex(g_run.folders[0]) + "\"");
            const std::vector<std::string> prefixes = TreePrefixes(full);
            size_t k = 1, treeEnd = 1;
            if (!g_run.folderExists) {
                for (size_t p = 0; p < prefixes.size() && k < g_run.folders.size(); ++p, ++k) {
                    check(g_run.folders[k] == prefixes[p], index, folder,
                          "tree folder \"" + Hex(g_run.folders[k]) + "\", expected \"" + Hex(prefixes[p]) + "\"");
                    if (g_run.folders[k].empty()) {   // refused: the tree stops here
                        ++k;
                        break;
                    }
                }
                treeEnd = k;
            }
            check(g_run.folders.size() == treeEnd, index, folder,
                  "folder outside the folder and its parents: \"" + Hex(g_run.folders.back()) + "\"");
        }

        if (result == 1) {
            ++accepted;
            // Every file whole, where it belongs; the program started by its whole path.
            const std::vector<std::string> &targets = g_run.moves;
            std::vector<std::string> expected;
            for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i)
                expected.push_back((PackageTable[i].destination == DEST_SYSTEM_FOLDER ? std::string(kSystemDir) : TrimOnce(full)) +
                                   "\\" + PackageTable[i].fileName);
            std::string got;
            for (const std::string &t : targets) got += "[" + Hex(t) + "]";
            check(targets == expected, index, folder, "destination paths differ from the intended ones: " + got);
            const std::string launch = TrimOnce(full) + "\\" + PackageTable[0].fileName;
            check(g_run.commands == std::vector<std::string>{"\"" + launch + "\" "}, index, folder, "command line");
            std::vector<std::string> links;
            if (startMenu) links.push_back("save " + group + "\\" + PackageTable[0].startMenuLinkName + ".lnk");
            if (desktop) links.push_back("save " + std::string(kDesktop) + "\\" + PackageTable[0].desktopLinkName + ".lnk");
            std::vector<std::string> saves;
            for (const std::string &e : g_linkEvents) {
                if (e.rfind("save ", 0) == 0) saves.push_back(e);
                if (e.rfind("path ", 0) == 0) check(e == "path " + launch, index, folder, "link target " + e);
            }
            check(saves == links, index, folder, "link files");
            check(g_run.groups == (startMenu ? std::vector<std::string>{group} : std::vector<std::string>{}), index,
                  folder, "program group");
            std::vector<std::string> asked;
            if (!g_run.folderExists) asked.push_back(Format(MSG_FOLDER_MISSING_ASK, full));
            check(g_run.boxes == asked, index, folder, "messages of a successful run");
        } else {
            check(inputState, index, folder, "the dialog is not back in its input state");
            check(g_run.focused == std::vector<HWND>{GetDlgItem(dlg, IDC_FOLDER)}, index, folder,
                  "the keyboard is not given back to the folder field");
            check(g_run.commands.empty(), index, folder, "the program was started by a failed run");
            check(g_linkEvents.empty() && g_run.groups.empty(), index, folder, "links made by a failed run");
            if (!g_run.roots.empty() && !g_run.folders.empty()) {
                // The tree stopped at a folder it could not make: its message names it.
                ++treeStopped;
                check(!g_run.boxes.empty() && g_run.boxes.back() == Format(MSG_FOLDER_NOT_CREATED, ""), index, folder,
                      "a stop without the tree's message");
            }
        }
        UnderTest([] { SetInstallingState(0); });   // its keyboard recorded, not moved
    }

    DestroyWindow(dlg);
    g_hDlg = nullptr;
    g_hooks.clear();   // the platform's functions and the bound LZ pointers are back
    for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i) PackageTable[i].overwrite = savedOverwrite[i];

    std::printf("[folder texts] summary: %d texts, %ld installed, %ld refused as too long or unusable, "
                "%ld on an invalid drive, %ld stopped in the folder tree; invariant checks %ld, failures %ld "
                "(seed %u)\n", count, accepted, refused, invalidDrive, treeStopped, checks, failures, seed);
    EXPECT_GT(accepted, count / 10) << "too few texts reach the placement of the files to mean anything";
}

}  // namespace
