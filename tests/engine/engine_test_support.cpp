#include "engine_test_support.h"

#include <exdisp.h>
#include <shlobj.h>
#include <cstdio>

#include "resource.h"

const char kDialogCaption[] = "Zorvikインストーラ";

namespace {

const int kInputControls[] = {IDC_INPUT_CONTROLS};

INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

}  // namespace

TemplateDialog::TemplateDialog() {
    dialog_ = CreateDialogParamW(GetModuleHandleA(nullptr), MAKEINTRESOURCEW(IDD_INSTALLER), nullptr,
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

EngineTest::EngineTest() : scratch("engine"), system("system") {
    g_hInstance = GetModuleHandleA(nullptr);
    Hooks::ResetCalls();
    if (!BindLzLibrary()) throw std::runtime_error("cannot bind lz32.dll");
    savedCopy_ = g_LZCopy;
    savedClose_ = g_LZClose;
    savedInit_ = g_LZInit;
    for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i) savedOverwrite_[i] = PackageTable[i].overwrite;
    hooks_.push_back(SystemFolder::Install("kernel32.dll", "GetSystemDirectoryA"));
    SystemFolder::base = [this](LPSTR buffer, UINT size) { return Hooks::AnswerFolder(system.path(), buffer, size); };
    hooks_.push_back(StartProgram::Install("kernel32.dll", "WinExec"));
    StartProgram::inspect = [](CallRecord &r, LPCSTR commandLine, UINT show) {
        r.path = commandLine;
        r.mode = show;
    };
    StartProgram::base = [](LPCSTR, UINT) -> UINT { return 33; };
    // No desktop's shell: the run starts the program itself, through WinExec.
    hooks_.push_back(CreateInstance::Install("ole32.dll", "CoCreateInstance"));
    CreateInstance::base = [](REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID *out) {
        if (clsid != CLSID_ShellWindows) return CreateInstance::real(clsid, outer, context, iid, out);
        *out = nullptr;
        return REGDB_E_CLASSNOTREG;
    };
    hooks_.push_back(TempFileName::Install("kernel32.dll", "GetTempFileNameW"));
    TempFileName::after = [](CallRecord &r, UINT result, LPCWSTR, LPCWSTR, UINT, LPWSTR name) {
        if (result) r.output = Hooks::CheckedWidePath(TempFileName::counter, name);
    };
    // The new files beside the destinations, created new.
    hooks_.push_back(CreateFileHook::Install("kernel32.dll", "CreateFileA"));
    CreateFileHook::inspect = [](CallRecord &r, LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                                 HANDLE) { r.path = path; };
    CreateFileHook::after = [](CallRecord &r, HANDLE h, LPCSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES,
                               DWORD disposition, DWORD, HANDLE) {
        if (h != INVALID_HANDLE_VALUE && disposition == CREATE_NEW) r.output = path;
    };
    boxes = std::make_unique<MessageBoxScript>();
}

EngineTest::~EngineTest() {
    for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i) PackageTable[i].overwrite = savedOverwrite_[i];
    g_LZCopy = savedCopy_;
    g_LZClose = savedClose_;
    g_LZInit = savedInit_;
}

std::vector<UINT> EngineTest::ShowCommands() const {
    std::vector<UINT> out;
    for (const CallRecord &c : Hooks::Calls({&StartProgram::counter})) out.push_back(static_cast<UINT>(c.mode));
    return out;
}

std::vector<std::string> EngineTest::TempNames() const {
    std::vector<std::string> out;
    for (const CallRecord &c : Hooks::Calls({&TempFileName::counter, &CreateFileHook::counter}))
        if (!c.output.empty()) out.push_back(c.output);
    return out;
}

std::vector<std::string> EngineTest::SurvivingTempNames() const {
    std::vector<std::string> out;
    for (const std::string &n : TempNames())
        if (FileExists(n)) out.push_back(n);
    return out;
}

void EngineTest::Answer(std::deque<int> answers) {
    boxes.reset();
    boxes = std::make_unique<MessageBoxScript>(std::move(answers));
}

int EngineTest::Run(const std::string &folder, int startMenu, int desktop) {
    char buffer[MAX_PATH] = {};
    if (folder.size() >= sizeof(buffer)) throw std::runtime_error("folder too long for the buffer");
    lstrcpyA(buffer, folder.c_str());
    int result = UnderTest([&] { return OnStart(buffer, startMenu, desktop); });
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

