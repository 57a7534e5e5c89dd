#include "engine_test_support.h"

#include <shlobj.h>
#include <cstdio>

#include "resource.h"

const char kDialogCaption[] = "Zorvikインストーラ";

namespace {

const int kInputControls[] = {IDC_INPUT_CONTROLS};

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

CallLog g_log;
decltype(&SetWindowTextA) g_originalSetWindowText;

BOOL WINAPI RecordSetWindowText(HWND hwnd, LPCSTR text) {
    if (GetDlgCtrlID(hwnd) == IDC_PROGRESS) g_log.events.push_back(std::string("progress ") + text);
    return g_originalSetWindowText(hwnd, text);
}

WinExecRecorder *g_winExec;
SystemFolderRedirect *g_system;
TempNameRecorder *g_tempNames;
decltype(&GetTempFileNameA) g_originalGetTempFileName;

}  // namespace

TemplateDialog::TemplateDialog() {
    dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_INSTALLER), nullptr,
                                 &QuietDialogProc, 0);
    if (!dialog_) throw std::runtime_error("cannot create the installer dialog from its template");
    g_hDlg = dialog_;
}

TemplateDialog::~TemplateDialog() {
    g_hDlg = nullptr;
    DestroyWindow(dialog_);
}

bool TemplateDialog::Visible(int id) const {
    return (GetWindowLongA(item(id), GWL_STYLE) & WS_VISIBLE) != 0;
}

bool TemplateDialog::Enabled(int id) const { return IsWindowEnabled(item(id)) != FALSE; }

bool TemplateDialog::InInputState() const {
    for (int id : kInputControls)
        if (!Visible(id)) return false;
    return Enabled(IDOK) && Enabled(IDCANCEL) && !Visible(IDC_PROGRESS);
}

bool TemplateDialog::InInstallingState() const {
    for (int id : kInputControls)
        if (Visible(id)) return false;
    return !Enabled(IDOK) && !Enabled(IDCANCEL) && Visible(IDC_PROGRESS);
}

CallLog &Log() { return g_log; }

std::vector<std::string> CallLog::Matching(const std::string &prefix) const {
    std::vector<std::string> out;
    for (const std::string &e : events)
        if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e.substr(prefix.size()));
    return out;
}

ProgressRecorder::ProgressRecorder()
    : hook_("user32.dll", "SetWindowTextA", reinterpret_cast<void *>(&RecordSetWindowText)) {
    g_originalSetWindowText = hook_.original_as<decltype(&SetWindowTextA)>();
}

std::vector<std::string> ProgressRecorder::Texts() const { return g_log.Matching("progress "); }

WinExecRecorder::WinExecRecorder(UINT result)
    : result_(result), hook_("kernel32.dll", "WinExec", reinterpret_cast<void *>(&Hook)) {
    g_winExec = this;
}

WinExecRecorder::~WinExecRecorder() { g_winExec = nullptr; }

UINT WINAPI WinExecRecorder::Hook(LPCSTR commandLine, UINT show) {
    g_winExec->lines_.push_back(commandLine);
    g_winExec->shows_.push_back(show);
    return g_winExec->result_;
}

SystemFolderRedirect::SystemFolderRedirect(const std::string &folder)
    : folder_((BindLzLibrary(), folder)),
      hook_("kernel32.dll", "GetSystemDirectoryA", reinterpret_cast<void *>(&Hook)) {
    g_system = this;
}

SystemFolderRedirect::~SystemFolderRedirect() { g_system = nullptr; }

UINT WINAPI SystemFolderRedirect::Hook(LPSTR buffer, UINT size) {
    const std::string &f = g_system->folder_;
    if (f.size() + 1 > size) return static_cast<UINT>(f.size() + 1);
    lstrcpyA(buffer, f.c_str());
    return static_cast<UINT>(f.size());
}

TempNameRecorder::TempNameRecorder()
    : hook_("kernel32.dll", "GetTempFileNameA", reinterpret_cast<void *>(&Hook)) {
    g_originalGetTempFileName = hook_.original_as<decltype(&GetTempFileNameA)>();
    g_tempNames = this;
}

TempNameRecorder::~TempNameRecorder() { g_tempNames = nullptr; }

UINT WINAPI TempNameRecorder::Hook(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR name) {
    UINT r = g_originalGetTempFileName(folder, prefix, unique, name);
    if (r) g_tempNames->names_.push_back(name);
    return r;
}

std::vector<std::string> TempNameRecorder::Surviving() const {
    std::vector<std::string> out;
    for (const std::string &n : names_)
        if (FileExists(n)) out.push_back(n);
    return out;
}

EngineTest::EngineTest() : scratch("engine"), system("system") {
    g_hInstance = GetModuleHandleA(nullptr);
    g_log.events.clear();
    // Bind LZ32 from the real system folder before GetSystemDirectoryA is redirected.
    if (!BindLzLibrary()) throw std::runtime_error("cannot bind lz32.dll");
    savedOpen_ = g_LZOpenFileA;
    savedCopy_ = g_LZCopy;
    savedClose_ = g_LZClose;
    for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i) savedOverwrite_[i] = PackageTable[i].overwrite;
    systemRedirect = std::make_unique<SystemFolderRedirect>(system.path());
    boxes = std::make_unique<MessageBoxScript>();
}

EngineTest::~EngineTest() {
    boxes.reset();
    systemRedirect.reset();
    for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i) PackageTable[i].overwrite = savedOverwrite_[i];
    g_LZOpenFileA = savedOpen_;
    g_LZCopy = savedCopy_;
    g_LZClose = savedClose_;
}

void EngineTest::Answer(std::deque<int> answers) {
    boxes.reset();
    boxes = std::make_unique<MessageBoxScript>(std::move(answers));
}

int EngineTest::Run(const std::string &folder, int startMenu, int desktop) {
    char buffer[MAX_PATH] = {};
    if (folder.size() >= sizeof(buffer)) throw std::runtime_error("folder too long for the buffer");
    lstrcpyA(buffer, folder.c_str());
    int result = OnStart(buffer, startMenu, desktop);
    folderAfter = buffer;
    return result;
}

std::string OriginalOf(int index) { return ReadWholeFile(PackageFile(PackageTable[index].fileName)); }

void EngineTest::ExpectInstalled(const std::string &folder, int from, int to) {
    for (int i = from; i <= to; ++i) {
        std::string path = folder + "\\" + PackageTable[i].fileName;
        ASSERT_TRUE(FileExists(path)) << path;
        EXPECT_TRUE(ReadWholeFile(path) == OriginalOf(i)) << path << " differs from the package file";
    }
}

void EngineTest::ExpectNotInstalled(const std::string &folder, int from, int to) {
    for (int i = from; i <= to; ++i) {
        std::string path = folder + "\\" + PackageTable[i].fileName;
        EXPECT_FALSE(FileExists(path)) << path;
    }
}

bool ReadShortcut(const std::string &linkPath, std::string *target, std::string *description) {
    IShellLinkA *link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void **>(&link))))
        return false;
    IPersistFile *file = nullptr;
    bool ok = false;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&file)))) {
        WCHAR wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH);
        if (SUCCEEDED(file->Load(wide, STGM_READ))) {
            char buffer[MAX_PATH] = {};
            link->GetPath(buffer, MAX_PATH, nullptr, SLGP_RAWPATH);
            *target = buffer;
            buffer[0] = '\0';
            link->GetDescription(buffer, MAX_PATH);
            *description = buffer;
            ok = true;
        }
        file->Release();
    }
    link->Release();
    return ok;
}

