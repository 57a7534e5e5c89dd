// e2e driver: starts the installer, drives its dialog and message boxes from a
// script, and checks what a user would see. Exit code 0 when every step passed.
//
//   driver.exe [--desktop <name>] <installer.exe | -> <script.txt>
//   driver.exe --two-windows <log>
//
// The second form stands in for a program with two top-level windows titled
// Zorvik: the first lets the session end, the second refuses. Each window
// appends "<window> <message> <wParam>" to <log> for every WM_QUERYENDSESSION,
// WM_ENDSESSION and WM_CLOSE it gets, after a first line "ready".
//
// With --desktop the driver and the installer work on that desktop (a virtual
// desktop made by `explorer /desktop=<name>,WxH`) instead of the default one.
//
// The script is UTF-8, one command per line; '#' starts a comment line. Texts
// are compared as UTF-16, so the installer's code page 932 texts and the
// script's UTF-8 meet without a lossy conversion. Commands:
//
//   timeout <ms>                      time limit of every following wait
//   expect-folder <text>              IDC_FOLDER holds exactly <text> (may be empty)
//   set-folder <text>                 replace the folder text
//   expect-text <id> <text>           control <id> holds <text>
//   expect-checked <id> <0|1>         check box state
//   set-checked <id> <0|1>
//   expect-visible <id> / expect-hidden <id>
//   expect-enabled <id> / expect-disabled <id>
//   expect-centred                    the dialog sits where the centring formula puts it
//   expect-input-state                input controls shown and enabled, IDC_PROGRESS hidden
//   expect-focus <id>                 the keyboard is in control <id>, its text selected whole
//   click <id>                        press a dialog button (BM_CLICK, posted)
//   expect-box <text>                 a message box of the installer shows <text>,
//                                     titled with the dialog's caption
//   answer yes|no|ok                  close that box with the button
//   expect-no-box <ms>                no message box appears for <ms>
//   expect-exit <code>                the installer ends with <code>
//   expect-launched <path>[|title]    a top-level window <title> (default Zorvik)
//                                     belongs to a process whose image is <path>,
//                                     started by the desktop's explorer.exe; exactly
//                                     one such process shows one; if that <path> was
//                                     remembered, the remembered process has ended
//   remember-program <path>           remember the one process of the image <path> that
//                                     shows a window Zorvik (a program left running)
//   expect-remembered-running         the remembered process has not ended
//   expect-not-launched [title]       no such window exists
//   close-window [title]              close that window and wait for its process to end
//   expect-link <csidl> <rel> <target>  <special folder>\<rel> is a shell link to <target>
//   expect-no-path <csidl> <rel>      <special folder>\<rel> does not exist
//   expect-no-temp-files <pattern>    the temporary folder has no file matching <pattern>
//   wait-visible <id>                 wait until the control is visible
//   wait-progress <percent>           wait until IDC_PROGRESS shows at least <percent>%
//   wait-size <bytes> <path>[|<path>...]  wait until a file matching one of the paths
//                                     (wildcards in the name) holds at least <bytes> bytes
//   kill                              end the installer at once, as a power cut would
//   suspend / resume                  freeze / thaw the installer's main thread
//   flush                             put what the installer has drawn on the screen (for
//                                     pictures of a suspended run)
//   race-temp <pattern>               from now on a thread of the driver, like another program of
//                                     the user, keeps trying to open, rewrite, replace and delete
//                                     every file matching <pattern> in the temporary folder
//   expect-race-lost                  stop that thread; fail if it got at any file, or saw none
//   scan <folder>                     from now on a thread of the driver, like an on-access virus
//                                     scanner, opens every file of <folder> it has not seen in that
//                                     version for 300 ms, sharing reading and writing, not deletion
//   expect-scanned <n>                stop that thread; fail if it held fewer than <n> files
//   expect-random-cookie <file>       the installer's security cookie is not the compiler's
//                                     default; prints it and appends it to <file>
//   hold <path>                       open the file sharing only reading until the driver ends
//                                     (a viewer left open on it)
//   mark <path>                       create an empty file (tells a watching script)
//   wait-file <path>                  wait until a file exists (a watching script's go)
//   sleep <ms>
//   print-screen-metrics              prints the dialog rectangle and screen metrics
//   expect-code-page <n>              the system's ANSI code page is <n>
//   expect-texts <file>               the caption and every control's text equal those recorded
//                                     in <file> (UTF-8); a missing <file> records them
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "resource.h"

namespace {

const wchar_t kCaption[] = L"Zorvik\u30a4\u30f3\u30b9\u30c8\u30fc\u30e9";  // Zorvikインストーラ
constexpr int kFolderId = IDC_FOLDER, kProgressId = IDC_PROGRESS;
const int kInputControls[] = {IDC_INPUT_CONTROLS};

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::wstring Widen(const std::string &utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &w[0], n);
    return w;
}

std::string Utf8(const std::wstring &w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

// Output goes out as UTF-8 bytes: Wine hands them to the Unix side unchanged.
void Say(const std::string &line) {
    std::string s = "driver: " + line + "\n";
    fwrite(s.data(), 1, s.size(), stdout);
    fflush(stdout);
}

// The text as the window itself reports it. GetWindowText would give only the
// creation-time caption of another process's control, so ask with WM_GETTEXT.
std::wstring WindowText(HWND h) {
    wchar_t buf[1024] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 3000,
                             &copied))
        GetWindowTextW(h, buf, 1024);
    return buf;
}

std::string Quote(const std::wstring &w) { return "\"" + Utf8(w) + "\""; }

std::wstring ClassOf(HWND h) {
    wchar_t buf[256] = {};
    GetClassNameW(h, buf, 256);
    return buf;
}

DWORD PidOf(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

BOOL CALLBACK CollectWindow(HWND h, LPARAM p) {
    reinterpret_cast<std::vector<HWND> *>(p)->push_back(h);
    return TRUE;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> all;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
    return all;
}

std::wstring ImagePathOf(DWORD pid) {
    HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!p) return L"";
    wchar_t buf[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    if (!QueryFullProcessImageNameW(p, 0, buf, &size)) buf[0] = 0;
    CloseHandle(p);
    return buf;
}

DWORD ParentOf(DWORD pid) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    DWORD parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == pid) parent = entry.th32ParentProcessID;
    CloseHandle(snapshot);
    return parent;
}

std::wstring SpecialFolder(int csidl) {
    wchar_t buf[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buf, csidl, FALSE))
        throw Failure("no special folder " + std::to_string(csidl));
    return buf;
}

bool PathExists(const std::wstring &p) { return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The target path a shell link file records, read back through the shell's link object.
std::wstring LinkTarget(const std::wstring &lnk) {
    IShellLinkW *link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void **>(&link))))
        throw Failure("cannot create the shell link object");
    std::wstring target;
    IPersistFile *file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
        if (SUCCEEDED(file->Load(lnk.c_str(), STGM_READ))) {
            wchar_t buf[MAX_PATH] = {};
            if (SUCCEEDED(link->GetPath(buf, MAX_PATH, nullptr, SLGP_RAWPATH))) target = buf;
        }
        file->Release();
    }
    link->Release();
    return target;
}

// A thread of the driver beside the installer, as another program would run:
// its loop runs until it is told to stop.
class Background {
public:
    virtual ~Background() = default;

protected:
    void StartThread(const char *what) {
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        if (!thread_) throw Failure(std::string("cannot start the ") + what + " thread");
    }
    // false when it was not running. Derived classes stop it in their own
    // destructor, before the loop's members go.
    bool StopThread() {
        if (!thread_) return false;
        stop_ = true;
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
        return true;
    }
    virtual void Loop() = 0;
    std::atomic<bool> stop_{false};

private:
    static DWORD WINAPI Run(LPVOID self) {
        static_cast<Background *>(self)->Loop();
        return 0;
    }
    HANDLE thread_ = nullptr;
};

// Another program of the installer's user going for the files that the
// installer keeps in the temporary folder: each file matching the pattern it
// opens for reading and writing with full sharing and writes a different valid
// SZDD stream into it, replaces with one of its own (ReplaceFile, which fails
// on a name that is gone, unlike a rename) and deletes, as often as it can.
class TempRacer : public Background {
public:
    ~TempRacer() override { Stop(); }

    void Start(const std::wstring &pattern) {
        wchar_t dir[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, dir);
        dir_ = dir;
        pattern_ = pattern;
        StartThread("racing");
    }

    void ExpectLost() {
        Stop();
        if (seen_.empty()) throw Failure("the racer saw no file: nothing was tested");
        for (auto [what, got] : {std::pair{"opened", &opened_}, {"replaced", &replaced_}, {"deleted", &deleted_}})
            if (!got->empty()) throw Failure(std::string("the racer ") + what + " " + Utf8(*got->begin()));
    }

private:
    // "raced\n", compressed.
    static constexpr char kOther[] = "SZDD\x88\xF0\x27\x33" "A\0" "\x06\0\0\0" "\xFF" "raced\n";

    void Stop() {
        if (!StopThread()) return;
        DeleteFileW((dir_ + L"racer.szdd").c_str());
        Say("racer in " + Utf8(dir_) + ": saw " + std::to_string(seen_.size()) + " files, opened " +
            std::to_string(opened_.size()) + ", replaced " + std::to_string(replaced_.size()) + ", deleted " +
            std::to_string(deleted_.size()));
    }

    static bool Write(HANDLE h) {
        DWORD n = 0;
        bool ok = WriteFile(h, kOther, sizeof kOther - 1, &n, nullptr) && SetEndOfFile(h);
        CloseHandle(h);
        return ok;
    }

    void Loop() override {
        const std::wstring own = dir_ + L"racer.szdd";
        while (!stop_) {
            WIN32_FIND_DATAW fd;
            HANDLE find = FindFirstFileW((dir_ + pattern_).c_str(), &fd);
            if (find == INVALID_HANDLE_VALUE) continue;
            do {
                std::wstring path = dir_ + fd.cFileName;
                seen_.insert(path);
                HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
                if (h != INVALID_HANDLE_VALUE) {
                    opened_.insert(path);
                    Write(h);
                }
                h = CreateFileW(own.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
                if (h != INVALID_HANDLE_VALUE && Write(h) &&
                    ReplaceFileW(path.c_str(), own.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                                 nullptr))
                    replaced_.insert(path);
                if (DeleteFileW(path.c_str())) deleted_.insert(path);
            } while (!stop_ && FindNextFileW(find, &fd));
            FindClose(find);
        }
    }

    std::wstring dir_, pattern_;
    std::set<std::wstring> seen_, opened_, replaced_, deleted_;
};

// An on-access scanner: each version of a file (its name, creation and write
// times, size) that appears in the folder is opened once, for 300 ms, as
// scanners do, and without sharing its deletion, as many do.
class Scanner : public Background {
public:
    ~Scanner() override { StopThread(); }

    void Start(const std::wstring &folder) {
        folder_ = folder;
        StartThread("scanning");
    }

    // Waits up to the driver's time limit for the scanner to have held that many.
    void ExpectScanned(size_t least, DWORD timeoutMs) {
        for (DWORD start = GetTickCount(); held_ < least && GetTickCount() - start < timeoutMs;) Sleep(50);
        StopThread();
        Say("scanner in " + Utf8(folder_) + ": held " + std::to_string(held_.load()) + " files");
        if (held_ < least) throw Failure("the scanner held " + std::to_string(held_.load()) + " files, fewer than " +
                                         std::to_string(least));
    }

private:
    void Loop() override {
        while (!stop_) {
            WIN32_FIND_DATAW fd;
            HANDLE find = FindFirstFileW((folder_ + L"\\*").c_str(), &fd);
            if (find == INVALID_HANDLE_VALUE) { Sleep(5); continue; }
            do {
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
                wchar_t key[64];
                swprintf(key, 64, L"|%lx%lx|%lx%lx|%lx", fd.ftCreationTime.dwHighDateTime,
                         fd.ftCreationTime.dwLowDateTime, fd.ftLastWriteTime.dwHighDateTime,
                         fd.ftLastWriteTime.dwLowDateTime, fd.nFileSizeLow);
                const std::wstring version = fd.cFileName + std::wstring(key);
                if (seen_.count(version)) continue;
                HANDLE h = CreateFileW((folder_ + L"\\" + fd.cFileName).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
                if (h == INVALID_HANDLE_VALUE) continue;   // again on the next round
                seen_.insert(version);
                Sleep(300);
                CloseHandle(h);
                ++held_;
            } while (!stop_ && FindNextFileW(find, &fd));
            FindClose(find);
            Sleep(5);
        }
    }

    std::wstring folder_;
    std::set<std::wstring> seen_;
    std::atomic<size_t> held_{0};
};

class Driver {
public:
    Driver(std::wstring installer, std::wstring desktop)
        : installer_(std::move(installer)), desktop_(std::move(desktop)) {}
    ~Driver() {
        if (pi_.hProcess) {
            if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
                Say("installer still running at the end: terminating it");
                TerminateProcess(pi_.hProcess, 99);
            }
            CloseHandle(pi_.hProcess);
            CloseHandle(pi_.hThread);
        }
        if (remembered_) CloseHandle(remembered_);
    }

    // Moves this thread to the named desktop, so that window lookups see its windows.
    void JoinDesktop() {
        if (desktop_.empty()) return;
        HDESK d = nullptr;
        // The desktop's explorer may still be starting.
        for (DWORD start = GetTickCount(); !d && GetTickCount() - start < timeoutMs_; Sleep(200))
            d = OpenDesktopW(desktop_.c_str(), 0, FALSE, GENERIC_ALL);
        if (!d || !SetThreadDesktop(d))
            throw Failure("cannot join the desktop " + Utf8(desktop_) + " (error " + std::to_string(GetLastError()) +
                          ")");
    }

    void Start() {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        if (!desktop_.empty()) si.lpDesktop = &desktop_[0];
        std::wstring cmd = L"\"" + installer_ + L"\"";
        if (!CreateProcessW(installer_.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &si, &pi_))
            throw Failure("cannot start " + Utf8(installer_) + " (error " + std::to_string(GetLastError()) +
                          ")");
        Say("started " + Utf8(installer_) + " as process " + std::to_string(pi_.dwProcessId));
        WaitUntil("the dialog " + Quote(kCaption) + " to appear", [&] {
            dialog_ = FindDialog();
            return dialog_ != nullptr;
        });
    }

    void Run(const std::string &command, const std::string &rest) {
        if (command == "timeout") timeoutMs_ = std::stoi(rest);
        else if (command == "expect-folder") ExpectText(kFolderId, rest);
        else if (command == "set-folder") SetText(kFolderId, rest);
        else if (command == "expect-text") ExpectText(IdOf(First(rest)), Rest(rest));
        else if (command == "expect-checked") ExpectChecked(IdOf(First(rest)), std::stoi(Rest(rest)));
        else if (command == "set-checked") SetChecked(IdOf(First(rest)), std::stoi(Rest(rest)));
        else if (command == "expect-visible") ExpectVisible(IdOf(rest), true);
        else if (command == "expect-hidden") ExpectVisible(IdOf(rest), false);
        else if (command == "expect-enabled") ExpectEnabled(IdOf(rest), true);
        else if (command == "expect-disabled") ExpectEnabled(IdOf(rest), false);
        else if (command == "expect-centred") ExpectCentred();
        else if (command == "expect-input-state") ExpectInputState();
        else if (command == "expect-focus") ExpectFocus(IdOf(rest));
        else if (command == "click") Click(IdOf(rest));
        else if (command == "expect-box") ExpectBox(rest);
        else if (command == "answer") Answer(rest);
        else if (command == "expect-no-box") ExpectNoBox(std::stoi(rest));
        else if (command == "expect-exit") ExpectExit(std::stoul(rest));
        else if (command == "expect-launched") ExpectLaunched(First(rest, '|'), Rest(rest, '|'));
        else if (command == "remember-program") RememberProgram(rest);
        else if (command == "expect-remembered-running") ExpectRememberedRunning();
        else if (command == "close-window") CloseTopLevel(rest.empty() ? "Zorvik" : rest);
        else if (command == "expect-not-launched") ExpectNotLaunched(rest.empty() ? "Zorvik" : rest);
        else if (command == "expect-link") ExpectLink(std::stoi(First(rest)), Rest(rest));
        else if (command == "expect-no-path") ExpectNoPath(std::stoi(First(rest)), Rest(rest));
        else if (command == "expect-no-temp-files") ExpectNoTempFiles(rest);
        else if (command == "wait-visible") WaitUntil("control " + rest + " to be visible",
                                                     [&] { return IsWindowVisible(Item(IdOf(rest))) != 0; });
        else if (command == "wait-progress") WaitProgress(std::stoi(rest));
        else if (command == "wait-size")  // a large file is written in tens of milliseconds: look often
            WaitUntil("a file of " + rest, [&] { return AnyFileOfSize(Rest(rest), std::stoull(First(rest))); }, false, 1);
        else if (command == "kill") { NeedInstaller(); TerminateProcess(pi_.hProcess, 99); ExpectExit(99); }
        else if (command == "suspend") { NeedInstaller(); SuspendThread(pi_.hThread); }
        else if (command == "flush") FlushInstallerWindows();
        else if (command == "resume") { NeedInstaller(); ResumeThread(pi_.hThread); }
        else if (command == "race-temp") racer_.Start(Widen(rest));
        else if (command == "expect-race-lost") racer_.ExpectLost();
        else if (command == "scan") scanner_.Start(Widen(rest));
        else if (command == "expect-scanned") scanner_.ExpectScanned(std::stoul(rest), timeoutMs_);
        else if (command == "hold") Hold(rest);
        else if (command == "mark") Mark(rest);
        else if (command == "wait-file") WaitUntil("file " + rest, [&] { return PathExists(Widen(rest)); });
        else if (command == "sleep") Sleep(std::stoi(rest));
        else if (command == "print-screen-metrics") PrintMetrics();
        else if (command == "expect-code-page") ExpectCodePage(std::stoul(rest));
        else if (command == "expect-texts") ExpectTexts(rest);
        else if (command == "expect-random-cookie") ExpectRandomCookie(rest);
        else throw Failure("unknown command '" + command + "'");
    }

private:
    // Splits "a b c" into "a" and "b c"; also "a|b" with '|'.
    static std::string First(const std::string &s, char sep = ' ') {
        auto p = s.find(sep);
        return p == std::string::npos ? s : s.substr(0, p);
    }
    static std::string Rest(const std::string &s, char sep = ' ') {
        auto p = s.find(sep);
        return p == std::string::npos ? std::string() : s.substr(p + 1);
    }
    static int IdOf(const std::string &s) {
        try {
            return std::stoi(s, nullptr, 0);
        } catch (...) {
            throw Failure("not a control id: '" + s + "'");
        }
    }

    template <class Condition>
    void WaitUntil(const std::string &what, Condition condition, bool boxesAreErrors = true, DWORD pollMs = 50) {
        DWORD start = GetTickCount();
        for (;;) {
            if (condition()) return;
            if (boxesAreErrors) {
                if (HWND box = FindBox(); box && box != box_)
                    throw Failure("unexpected message box while waiting for " + what + ": " +
                                  Quote(BoxText(box)));
            }
            if (GetTickCount() - start > timeoutMs_)
                throw Failure("timed out after " + std::to_string(timeoutMs_) + " ms waiting for " + what);
            Sleep(pollMs);
        }
    }

    void NeedInstaller() const {
        if (!pi_.hProcess) throw Failure("this command needs the installer (driver started with '-')");
    }
    bool InstallerRunning() const {
        return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT;
    }

    HWND FindDialog() const {
        for (HWND h : TopLevelWindows())
            if (PidOf(h) == pi_.dwProcessId && ClassOf(h) == L"#32770" && WindowText(h) == kCaption &&
                GetDlgItem(h, kFolderId) && IsWindowVisible(h))
                return h;
        return nullptr;
    }

    // A message box: a visible dialog-class window of the installer's process that is not the dialog.
    HWND FindBox() const {
        if (!pi_.hProcess) return nullptr;
        for (HWND h : TopLevelWindows())
            if (h != dialog_ && PidOf(h) == pi_.dwProcessId && ClassOf(h) == L"#32770" && IsWindowVisible(h) &&
                !GetDlgItem(h, kFolderId))
                return h;
        return nullptr;
    }

    static std::wstring BoxText(HWND box) {
        if (HWND t = GetDlgItem(box, 0xFFFF)) return WindowText(t);
        // Fallback: the longest static text of the box.
        std::wstring best;
        for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if (ClassOf(c) == L"Static" && WindowText(c).size() > best.size()) best = WindowText(c);
        return best;
    }

    HWND Item(int id) {
        NeedInstaller();
        if (!IsWindow(dialog_)) throw Failure("the dialog is gone (installer ended?)");
        HWND h = GetDlgItem(dialog_, id);
        if (!h) throw Failure("the dialog has no control " + std::to_string(id));
        return h;
    }

    void ExpectText(int id, const std::string &expected) {
        std::wstring want = Widen(expected);
        HWND h = Item(id);
        try {
            WaitUntil("text of " + std::to_string(id), [&] { return WindowText(h) == want; });
        } catch (const Failure &) {
            throw Failure("control " + std::to_string(id) + " holds " + Quote(WindowText(h)) + ", expected " +
                          Quote(want));
        }
    }

    // The system's code page, as every program of this prefix and locale gets it.
    void ExpectCodePage(UINT page) {
        if (GetACP() != page)
            throw Failure("the code page is " + std::to_string(GetACP()) + ", not " + std::to_string(page));
        Say("code page " + std::to_string(page));
    }

    // Every control of the dialog, in order: its identifier and text.
    std::string ControlTexts() {
        NeedInstaller();
        std::string out = "caption " + Utf8(WindowText(dialog_)) + "\n";
        for (HWND c = GetWindow(dialog_, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            out += std::to_string(static_cast<int>(GetDlgCtrlID(c))) + " " + Utf8(WindowText(c)) + "\n";
        return out;
    }
    void ExpectTexts(const std::string &file) {
        std::ifstream in(Widen(file).c_str(), std::ios::binary);
        if (!in) {
            std::ofstream(Widen(file).c_str(), std::ios::binary) << ControlTexts();
            Say("recorded the dialog's texts in " + file);
            return;
        }
        std::stringstream recorded;
        recorded << in.rdbuf();
        if (recorded.str() != ControlTexts())
            throw Failure("the dialog's texts are\n" + ControlTexts() + "where they were\n" + recorded.str());
        Say("the dialog's texts are those recorded in " + file);
    }

    void SetText(int id, const std::string &text) {
        // WM_SETTEXT is sent across processes with the text marshalled by the system.
        std::wstring w = Widen(text);
        DWORD_PTR ok = 0;
        if (!SendMessageTimeoutW(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(w.c_str()), SMTO_ABORTIFHUNG,
                                 3000, &ok) || !ok)
            throw Failure("cannot set the text of " + std::to_string(id));
    }

    void ExpectChecked(int id, int want) {
        Item(id);
        try {
            WaitUntil("check state of " + std::to_string(id),
                      [&] { return (int)IsDlgButtonChecked(dialog_, id) == want; });
        } catch (const Failure &) {
            throw Failure("check box " + std::to_string(id) + " is " +
                          std::to_string(IsDlgButtonChecked(dialog_, id)) + ", expected " + std::to_string(want));
        }
    }

    void SetChecked(int id, int state) {
        SendMessageW(Item(id), BM_SETCHECK, state ? BST_CHECKED : BST_UNCHECKED, 0);
    }

    void ExpectVisible(int id, bool want) {
        HWND h = Item(id);
        try {
            WaitUntil("visibility of " + std::to_string(id), [&] { return (IsWindowVisible(h) != 0) == want; });
        } catch (const Failure &) {
            throw Failure("control " + std::to_string(id) + " is " + (want ? "hidden" : "visible") +
                          ", expected " + (want ? "visible" : "hidden"));
        }
    }

    void ExpectEnabled(int id, bool want) {
        HWND h = Item(id);
        try {
            WaitUntil("enabled state of " + std::to_string(id), [&] { return (IsWindowEnabled(h) != 0) == want; });
        } catch (const Failure &) {
            throw Failure("control " + std::to_string(id) + " is " + (want ? "disabled" : "enabled"));
        }
    }

    // The running installer's security cookie, read where its load
    // configuration names it: not the compiler's default; appended to a
    // file, so that a scenario can compare two starts.
    void ExpectRandomCookie(const std::string &record) {
        NeedInstaller();
        HMODULE modules[1];
        DWORD needed = 0;
        if (!EnumProcessModules(pi_.hProcess, modules, sizeof modules, &needed) || needed < sizeof modules[0])
            throw Failure("cannot find the installer's image");
        const BYTE *base = reinterpret_cast<const BYTE *>(modules[0]);
        auto read = [&](const void *at, void *to, size_t size) {
            SIZE_T got = 0;
            if (!ReadProcessMemory(pi_.hProcess, at, to, size, &got) || got != size)
                throw Failure("cannot read the installer's memory");
        };
        IMAGE_DOS_HEADER dos;
        IMAGE_NT_HEADERS32 nt;
        read(base, &dos, sizeof dos);
        read(base + dos.e_lfanew, &nt, sizeof nt);
        const IMAGE_DATA_DIRECTORY &d = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
        if (d.VirtualAddress == 0 || d.Size < 64) throw Failure("the installer has no load configuration");
        DWORD cookieAddress = 0, cookie = 0;
        read(base + d.VirtualAddress + 60, &cookieAddress, 4);
        read(reinterpret_cast<const void *>(static_cast<UINT_PTR>(cookieAddress)), &cookie, 4);
        char text[16];
        snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(cookie));
        if (cookie == 0xBB40E64EUL) throw Failure(std::string("the security cookie holds the compiler's default ") + text);
        Say(std::string("security cookie ") + text);
        FILE *out = _wfopen(Widen(record).c_str(), L"a");
        if (!out) throw Failure("cannot append to " + record);
        fprintf(out, "%s\n", text);
        fclose(out);
    }

    // Wine keeps a window's drawing in a buffer that reaches the screen when one
    // of the process's threads looks at its message queue. The installer's only
    // thread does not while it installs, so a thread started in the installer
    // does it: GetQueueStatus takes one argument, like a thread routine.
    void FlushInstallerWindows() {
        NeedInstaller();
        HMODULE localUser32 = GetModuleHandleW(L"user32.dll");
        auto local = reinterpret_cast<BYTE *>(GetProcAddress(localUser32, "GetQueueStatus"));
        HMODULE modules[512];
        DWORD needed = 0;
        if (!EnumProcessModules(pi_.hProcess, modules, sizeof modules, &needed))
            throw Failure("cannot list the installer's modules");
        BYTE *remoteBase = nullptr;
        for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 512; ++i) {
            wchar_t name[MAX_PATH] = {};
            GetModuleBaseNameW(pi_.hProcess, modules[i], name, MAX_PATH);
            if (lstrcmpiW(name, L"user32.dll") == 0) remoteBase = reinterpret_cast<BYTE *>(modules[i]);
        }
        if (!remoteBase) throw Failure("the installer has no user32.dll loaded");
        auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
            remoteBase + (local - reinterpret_cast<BYTE *>(localUser32)));
        HANDLE t = CreateRemoteThread(pi_.hProcess, nullptr, 0, routine,
                                      reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(QS_ALLINPUT)), 0, nullptr);
        if (!t) throw Failure("cannot start a thread in the installer (error " + std::to_string(GetLastError()) + ")");
        WaitForSingleObject(t, 5000);
        CloseHandle(t);
    }

    // During a run the installer's thread handles no messages, so the label is
    // read from the text the system keeps for the window, without asking it.
    void WaitProgress(int percent) {
        HWND h = Item(kProgressId);
        WaitUntil("the progress to reach " + std::to_string(percent) + "%", [&] {
            wchar_t buf[256] = {};
            GetWindowTextW(h, buf, 256);
            std::wstring t = buf;
            auto end = t.rfind(L'%');
            if (end == std::wstring::npos || !IsWindowVisible(h)) return false;
            auto begin = t.find_last_not_of(L"0123456789", end - 1);
            begin = begin == std::wstring::npos ? 0 : begin + 1;
            return begin < end && std::stoi(t.substr(begin, end - begin)) >= percent;
        }, true, 1);  // the run is fast: look often
    }

    // Whether a file matching one of the patterns ('|' between them, wildcards
    // in the name) holds at least <bytes> bytes.
    static bool AnyFileOfSize(const std::string &patterns, ULONGLONG bytes) {
        std::istringstream list(patterns);
        for (std::string p; std::getline(list, p, '|');) {
            WIN32_FIND_DATAW fd;
            HANDLE h = FindFirstFileW(Widen(p).c_str(), &fd);
            bool found = false;
            if (h == INVALID_HANDLE_VALUE) continue;
            do found = ((ULONGLONG)fd.nFileSizeHigh << 32 | fd.nFileSizeLow) >= bytes;
            while (!found && FindNextFileW(h, &fd));
            FindClose(h);
            if (found) return true;
        }
        return false;
    }

    void ExpectInputState() {
        for (int id : kInputControls) ExpectVisible(id, true);
        ExpectEnabled(IDOK, true);
        ExpectEnabled(IDCANCEL, true);
        ExpectVisible(kProgressId, false);
        if (!InstallerRunning()) throw Failure("the installer has ended");
    }

    // The keyboard is in control <id>, its text selected whole.
    void ExpectFocus(int id) {
        NeedInstaller();
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        WaitUntil("the focus in control " + std::to_string(id), [&] {
            return GetGUIThreadInfo(pi_.dwThreadId, &info) && info.hwndFocus == Item(id);
        });
        // The selection as the result packs it: pointers do not reach another process.
        const DWORD selection = static_cast<DWORD>(SendMessageW(Item(id), EM_GETSEL, 0, 0));
        const DWORD from = LOWORD(selection), to = HIWORD(selection);
        if (from != 0 || to != WindowText(Item(id)).size())
            throw Failure("the text of control " + std::to_string(id) + " is selected from " + std::to_string(from) +
                          " to " + std::to_string(to) + ", not whole");
    }

    void ExpectCentred() {
        NeedInstaller();
        RECT r;
        GetWindowRect(dialog_, &r);
        int w = r.right - r.left, h = r.bottom - r.top;
        int x = (GetSystemMetrics(SM_CXFULLSCREEN) - w) / 2;
        int y = (GetSystemMetrics(SM_CYFULLSCREEN) - h) / 2;
        if (r.left != x || r.top != y)
            throw Failure("dialog at (" + std::to_string(r.left) + "," + std::to_string(r.top) + ") size " +
                          std::to_string(w) + "x" + std::to_string(h) + ", centred position is (" +
                          std::to_string(x) + "," + std::to_string(y) + ")");
    }

    void PrintMetrics() {
        NeedInstaller();
        RECT r;
        GetWindowRect(dialog_, &r);
        Say("dialog rect " + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
            "," + std::to_string(r.bottom) + "; full-screen client " +
            std::to_string(GetSystemMetrics(SM_CXFULLSCREEN)) + "x" +
            std::to_string(GetSystemMetrics(SM_CYFULLSCREEN)) + "; screen " +
            std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" + std::to_string(GetSystemMetrics(SM_CYSCREEN)));
    }

    void Click(int id) {
        HWND h = Item(id);
        if (!IsWindowVisible(h) || !IsWindowEnabled(h))
            throw Failure("button " + std::to_string(id) + " cannot be pressed (hidden or disabled)");
        PostMessageW(h, BM_CLICK, 0, 0);
    }

    void ExpectBox(const std::string &expected) {
        NeedInstaller();
        std::wstring want = Widen(expected);
        HWND box = nullptr;
        WaitUntil("a message box " + Quote(want), [&] {
            box = FindBox();
            if (box) return true;
            if (!InstallerRunning()) throw Failure("the installer ended while a message box was expected");
            return false;
        }, false);
        Sleep(100);  // let the box finish laying out its text
        std::wstring text = BoxText(box), title = WindowText(box);
        if (text != want) throw Failure("message box says " + Quote(text) + ", expected " + Quote(want));
        if (title != kCaption) throw Failure("message box titled " + Quote(title) + ", expected " + Quote(kCaption));
        box_ = box;
    }

    void Answer(const std::string &button) {
        int id = button == "yes" ? IDYES : button == "no" ? IDNO : button == "ok" ? IDOK : 0;
        if (!id) throw Failure("answer yes, no or ok, not '" + button + "'");
        if (!box_ || !IsWindow(box_)) throw Failure("no message box to answer (use expect-box first)");
        HWND b = GetDlgItem(box_, id);
        if (!b || !IsWindowVisible(b)) throw Failure("the message box has no button '" + button + "'");
        PostMessageW(box_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(b));
        HWND closing = box_;
        box_ = nullptr;
        WaitUntil("the message box to close", [&] { return !IsWindow(closing) || !IsWindowVisible(closing); },
                  false);
    }

    void ExpectNoBox(int ms) {
        NeedInstaller();
        DWORD start = GetTickCount();
        while (GetTickCount() - start < (DWORD)ms) {
            if (HWND box = FindBox()) throw Failure("unexpected message box " + Quote(BoxText(box)));
            Sleep(50);
        }
    }

    void ExpectExit(DWORD want) {
        NeedInstaller();
        WaitUntil("the installer to end", [&] { return !InstallerRunning(); });
        DWORD code = 0;
        GetExitCodeProcess(pi_.hProcess, &code);
        if (code != want)
            throw Failure("installer exit code " + std::to_string(code) + ", expected " + std::to_string(want));
    }

    // A top-level window's title is kept by the system: reading it needs no
    // answer from the window's thread, which may be busy or frozen.
    static HWND FindTopLevelTitled(const std::wstring &title) {
        for (HWND h : TopLevelWindows()) {
            wchar_t text[256] = {};
            GetWindowTextW(h, text, 256);
            if (title == text && ClassOf(h) != L"#32770") return h;
        }
        return nullptr;
    }

    // The processes whose image is <path> that show a top-level window <title>.
    static std::set<DWORD> ProgramsShowing(const std::wstring &path, const std::wstring &title) {
        std::set<DWORD> pids;
        for (HWND h : TopLevelWindows()) {
            wchar_t text[256] = {};
            GetWindowTextW(h, text, 256);
            if (title == text && ClassOf(h) != L"#32770" && lstrcmpiW(ImagePathOf(PidOf(h)).c_str(), path.c_str()) == 0)
                pids.insert(PidOf(h));
        }
        return pids;
    }

    bool RememberedEnded() const { return WaitForSingleObject(remembered_, 0) != WAIT_TIMEOUT; }

    void ExpectLaunched(const std::string &path, const std::string &titleArg) {
        std::wstring want = Widen(path), title = Widen(titleArg.empty() ? "Zorvik" : titleArg);
        // A program that was running there had to end: the one wanted is another process.
        DWORD old = remembered_ && lstrcmpiW(want.c_str(), rememberedPath_.c_str()) == 0 ? rememberedPid_ : 0;
        std::set<DWORD> pids;
        auto started = [&] { return std::any_of(pids.begin(), pids.end(), [&](DWORD p) { return p != old; }); };
        try {
            WaitUntil("a window " + Quote(title) + " of " + Quote(want), [&] {
                pids = ProgramsShowing(want, title);
                return started();
            }, false);
        } catch (const Failure &) {
            if (old && !RememberedEnded())
                throw Failure("the program that ran before, process " + std::to_string(old) + ", has not ended");
            throw;
        }
        if (old && !RememberedEnded())
            throw Failure("the program that ran before, process " + std::to_string(old) + ", still runs");
        // Started once: a second start would show its window about as soon.
        Sleep(1000);
        pids = ProgramsShowing(want, title);
        if (pids.size() != 1)
            throw Failure(std::to_string(pids.size()) + " processes of " + Quote(want) + " show a window " +
                          Quote(title) + ", expected one");
        DWORD pid = *pids.begin();
        // Started by the desktop's shell, as the person at the desktop, not by the installer.
        std::wstring parent = ImagePathOf(ParentOf(pid));
        const std::wstring shell = L"\\explorer.exe";
        if (parent.size() < shell.size() ||
            lstrcmpiW(parent.c_str() + parent.size() - shell.size(), shell.c_str()) != 0)
            throw Failure("window " + Quote(title) + " was started by " + Quote(parent) + ", not the desktop's shell");
        Say("running: " + path + " (process " + std::to_string(pid) + ", started by " + Utf8(parent) + ")");
    }

    void RememberProgram(const std::string &path) {
        std::wstring want = Widen(path);
        std::set<DWORD> pids = ProgramsShowing(want, L"Zorvik");
        if (pids.size() != 1)
            throw Failure(std::to_string(pids.size()) + " processes of " + path + " show a window \"Zorvik\", expected one");
        if (remembered_) CloseHandle(remembered_);
        remembered_ = OpenProcess(SYNCHRONIZE, FALSE, *pids.begin());
        if (!remembered_) throw Failure("cannot open process " + std::to_string(*pids.begin()));
        rememberedPid_ = *pids.begin();
        rememberedPath_ = want;
        Say("remembered: " + path + " (process " + std::to_string(rememberedPid_) + ")");
    }

    void ExpectRememberedRunning() {
        if (!remembered_) throw Failure("no program remembered (use remember-program first)");
        if (RememberedEnded())
            throw Failure("the remembered program, process " + std::to_string(rememberedPid_) + ", has ended");
    }

    void CloseTopLevel(const std::string &titleArg) {
        std::wstring title = Widen(titleArg);
        HWND h = FindTopLevelTitled(title);
        if (!h) throw Failure("no window " + Quote(title) + " to close");
        DWORD pid = PidOf(h);
        HANDLE p = OpenProcess(SYNCHRONIZE, FALSE, pid);
        PostMessageW(h, WM_CLOSE, 0, 0);
        if (p) {
            DWORD r = WaitForSingleObject(p, timeoutMs_);
            CloseHandle(p);
            if (r != WAIT_OBJECT_0) throw Failure("the process of " + Quote(title) + " did not end after WM_CLOSE");
        }
    }

    void ExpectNotLaunched(const std::string &title) {
        if (HWND h = FindTopLevelTitled(Widen(title)))
            throw Failure("a window " + Quote(Widen(title)) + " exists, from " + Quote(ImagePathOf(PidOf(h))));
    }

    void ExpectLink(int csidl, const std::string &rest) {
        std::wstring lnk = SpecialFolder(csidl) + L"\\" + Widen(First(rest));
        std::wstring want = Widen(Rest(rest));
        // The relative name may contain spaces only if the target follows a '|'.
        if (rest.find('|') != std::string::npos) {
            lnk = SpecialFolder(csidl) + L"\\" + Widen(First(rest, '|'));
            want = Widen(Rest(rest, '|'));
        }
        if (!PathExists(lnk)) throw Failure("no link file " + Quote(lnk));
        std::wstring target = LinkTarget(lnk);
        if (lstrcmpiW(target.c_str(), want.c_str()) != 0)
            throw Failure("link " + Quote(lnk) + " points at " + Quote(target) + ", expected " + Quote(want));
        Say("link " + Utf8(lnk) + " -> " + Utf8(target));
    }

    void ExpectNoPath(int csidl, const std::string &rel) {
        std::wstring p = SpecialFolder(csidl) + L"\\" + Widen(rel);
        if (PathExists(p)) throw Failure(Quote(p) + " exists");
    }

    void ExpectNoTempFiles(const std::string &pattern) {
        wchar_t dir[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, dir);
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((std::wstring(dir) + Widen(pattern)).c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            std::wstring name = fd.cFileName;
            FindClose(h);
            throw Failure("temporary file left behind: " + Quote(std::wstring(dir) + name));
        }
    }

    void Mark(const std::string &path) {
        HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) throw Failure("cannot create " + path);
        CloseHandle(h);
    }

    // Kept open until the driver ends, as by a viewer.
    void Hold(const std::string &path) {
        HANDLE h = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) throw Failure("cannot open " + path);
    }

    TempRacer racer_;
    Scanner scanner_;
    std::wstring installer_;
    std::wstring desktop_;
    PROCESS_INFORMATION pi_{};
    HWND dialog_ = nullptr;
    HWND box_ = nullptr;
    HANDLE remembered_ = nullptr;  // a program left running, with its process id and image
    DWORD rememberedPid_ = 0;
    std::wstring rememberedPath_;
    DWORD timeoutMs_ = 15000;
};

std::vector<std::string> ReadScript(const char *path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure(std::string("cannot read script ") + path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (lines.empty() && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        lines.push_back(line);
    }
    return lines;
}

std::wstring ArgW(int index) {
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring a = index < argc ? argv[index] : L"";
    LocalFree(argv);
    return a;
}

}  // namespace

// The program of --two-windows: runs until it is ended from outside.
static FILE *g_twoWindowsLog;
static LRESULT CALLBACK TwoWindowsProc(HWND h, UINT message, WPARAM w, LPARAM l) {
    const char *name = message == WM_QUERYENDSESSION ? "query" : message == WM_ENDSESSION ? "end"
                     : message == WM_CLOSE ? "close" : nullptr;
    if (!name) return DefWindowProcW(h, message, w, l);
    int refuses = GetWindowLongPtrW(h, GWLP_USERDATA) != 0;
    fprintf(g_twoWindowsLog, "%d %s %u\n", refuses + 1, name, static_cast<unsigned>(w));
    fflush(g_twoWindowsLog);
    return message == WM_QUERYENDSESSION ? !refuses : 0;
}

static int TwoWindows(const char *log) {
    g_twoWindowsLog = fopen(log, "w");
    if (!g_twoWindowsLog) return 2;
    WNDCLASSW wc{};
    wc.lpfnWndProc = TwoWindowsProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZorvikTwoWindows";
    RegisterClassW(&wc);
    for (int i = 0; i < 2; ++i) {
        HWND h = CreateWindowExW(0, wc.lpszClassName, L"Zorvik", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20 + 40 * i,
                                 20 + 40 * i, 300, 200, nullptr, nullptr, wc.hInstance, nullptr);
        if (!h) return 2;
        SetWindowLongPtrW(h, GWLP_USERDATA, i);
    }
    fputs("ready\n", g_twoWindowsLog);
    fflush(g_twoWindowsLog);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 3 && std::string(argv[1]) == "--two-windows") return TwoWindows(argv[2]);
    int first = 1;
    std::wstring desktop;
    if (argc == 5 && std::string(argv[1]) == "--desktop") {
        desktop = ArgW(2);
        first = 3;
    }
    if (argc - first != 2) {
        Say("usage: driver.exe [--desktop <name>] <installer.exe|-> <script.txt>");
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    int result = 0;
    {
        std::wstring installer = ArgW(first);
        Driver driver(installer, desktop);
        int lineNo = 0;
        try {
            driver.JoinDesktop();  // before COM: a thread with windows cannot change desktops
            CoInitialize(nullptr);
            std::vector<std::string> script = ReadScript(argv[first + 1]);
            if (installer != L"-") driver.Start();
            for (const std::string &line : script) {
                ++lineNo;
                auto first = line.find_first_not_of(" \t");
                if (first == std::string::npos || line[first] == '#') continue;
                std::string body = line.substr(first);
                auto sp = body.find(' ');
                std::string command = body.substr(0, sp);
                std::string rest = sp == std::string::npos ? "" : body.substr(sp + 1);
                driver.Run(command, rest);
                Say("ok " + std::to_string(lineNo) + ": " + body);
            }
        } catch (const std::exception &e) {
            Say("FAIL at line " + std::to_string(lineNo) + ": " + e.what());
            result = 1;
        }
    }
    CoUninitialize();
    return result;
}
