// The dialog procedure, driven in-process on a dialog made from this test
// program's own copy of the installer's template, with the real engine behind
// the start button.
#include <windows.h>
#include <shlobj.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine.h"
#include "import_hook.h"
#include "platform_hooks.h"
#include "installer_dialog.h"
#include "message_boxes.h"
#include "registry_fixture.h"
#include "resource.h"
#include "scratch.h"

namespace {

const char kProgramFiles[] = "Software\\Microsoft\\Windows\\CurrentVersion\\ProgramFilesDir";
const char kSettings[] = "Software\\Ostrevan\\ZORVIK\\Settings\\ExePath";
const int kInputControls[] = {IDC_INPUT_CONTROLS};


// EndDialog is recorded, not performed, so that the dialog can be inspected.
std::vector<std::pair<HWND, INT_PTR>> g_ended;

// The shell's folder chooser, answered by the test.
struct BrowseCall {
    HWND owner;
    bool rootIsNull, displayNameIsNull, callbackIsNull;
    std::string title;
    UINT flags;
};
std::vector<BrowseCall> g_browseCalls;
LPITEMIDLIST g_browseAnswer = nullptr;

Hooks::Installed FakeBrowse() {
    Hooks::Installed hook = BrowseHook::Install("shell32.dll", "SHBrowseForFolderW");
    BrowseHook::base = [](LPBROWSEINFOW info) {
        g_browseCalls.push_back({info->hwndOwner, info->pidlRoot == nullptr, info->pszDisplayName == nullptr,
                                 info->lpfn == nullptr,
                                 info->lpszTitle ? InMessageCodePage(info->lpszTitle) : "<null>", info->ulFlags});
        return g_browseAnswer;
    };
    return hook;
}

// The shell allocator, counting what is freed with it and its references.
class CountingMalloc : public IMalloc {
public:
    CountingMalloc() { CoGetMalloc(1, &real_); }
    ~CountingMalloc() { real_->Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    void *STDMETHODCALLTYPE Alloc(SIZE_T n) override { return real_->Alloc(n); }
    void *STDMETHODCALLTYPE Realloc(void *p, SIZE_T n) override { return real_->Realloc(p, n); }
    void STDMETHODCALLTYPE Free(void *p) override {
        freed.push_back(p);
        real_->Free(p);
    }
    SIZE_T STDMETHODCALLTYPE GetSize(void *p) override { return real_->GetSize(p); }
    int STDMETHODCALLTYPE DidAlloc(void *p) override { return real_->DidAlloc(p); }
    void STDMETHODCALLTYPE HeapMinimize() override { real_->HeapMinimize(); }

    std::vector<void *> freed;
    ULONG references = 0;

private:
    IMalloc *real_ = nullptr;
};

class Dialog : public testing::Test {
protected:
    void SetUp() override {
        g_ended.clear();
        g_browseCalls.clear();
        g_browseAnswer = nullptr;
        g_hInstance = GetModuleHandleA(nullptr);
        reg.SetString(reg.localMachine(), kProgramFiles, "D:\\Programs");
        EndDialogHook::base = [](HWND hwnd, INT_PTR result) -> BOOL {
            g_ended.emplace_back(hwnd, result);
            return TRUE;
        };
    }
    void TearDown() override {
        if (dlg) DestroyWindow(dlg);
    }

    void Open() {
        dlg = UnderTest([&] {
            return CreateDialogParamW(g_hInstance, MAKEINTRESOURCEW(IDD_INSTALLER), nullptr, InstallDlgProc, 0);
        });
        ASSERT_NE(dlg, nullptr);
    }
    std::string Text(int id) {
        char text[MAX_PATH * 2] = "";
        GetDlgItemTextA(dlg, id, text, sizeof text);
        return text;
    }
    // The control's own visibility (the dialog itself is never shown here).
    bool Shown(int id) { return (GetWindowLongA(GetDlgItem(dlg, id), GWL_STYLE) & WS_VISIBLE) != 0; }
    INT_PTR Message(UINT message, WPARAM w, LPARAM l) {
        return UnderTest([&] { return InstallDlgProc(dlg, message, w, l); });
    }
    INT_PTR Command(int id) {
        return Message(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dlg, id)));
    }
    void ExpectInputState() {
        for (int id : kInputControls) EXPECT_TRUE(Shown(id)) << id;
        EXPECT_FALSE(Shown(IDC_PROGRESS));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, IDOK)));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg, IDCANCEL)));
    }

    RegistrySandbox reg;
    Hooks::Installed endDialog = EndDialogHook::Install("user32.dll", "EndDialog");
    HWND dlg = nullptr;
};

TEST_F(Dialog, OpensCentredWithTheProposalAndBothBoxesChecked) {
    Open();
    EXPECT_EQ(g_hDlg, dlg);
    RECT r;
    GetWindowRect(dlg, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXFULLSCREEN) - w) / 2);
    EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYFULLSCREEN) - h) / 2);
    EXPECT_EQ(Text(IDC_FOLDER), "D:\\Programs\\Zorvik");
    EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_ADD_STARTMENU), 1u);
    EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_ADD_DESKTOP), 1u);
    ExpectInputState();
    EXPECT_TRUE(reg.ClosedNewestFirst());
    EXPECT_EQ(Message(WM_INITDIALOG, 0, 0), 0) << "no focus is claimed";
}

TEST_F(Dialog, ProposesTheRecordedFolder) {
    reg.SetString(reg.currentUser(), kSettings, "E:\\Eigene\\ソフト\\表");
    Open();
    EXPECT_EQ(Text(IDC_FOLDER), "E:\\Eigene\\ソフト\\表");
}

TEST_F(Dialog, CancelEndsTheDialogAndOtherCommandsDoNot) {
    Open();
    EXPECT_EQ(Command(IDC_FOLDER), 0);
    EXPECT_EQ(Command(IDC_ADD_DESKTOP), 0);
    EXPECT_EQ(Message(WM_TIMER, 1, 0), 0);
    EXPECT_TRUE(g_ended.empty());
    EXPECT_EQ(Command(IDCANCEL), 1);
    ASSERT_EQ(g_ended.size(), 1u);
    EXPECT_EQ(g_ended[0].first, dlg);
    EXPECT_EQ(LOWORD(g_ended[0].second), IDCANCEL);
}

TEST_F(Dialog, FailedRunLeavesTheDialogInItsInputState) {
    Open();
    // A drive that is not there.
    Hooks::Installed disk = DiskFreeSpace::Install("kernel32.dll", "GetDiskFreeSpaceA");
    DiskFreeSpace::inspect = [](CallRecord &r, LPCSTR root, LPDWORD, LPDWORD, LPDWORD, LPDWORD) {
        r.path = root ? root : "<null>";
    };
    DiskFreeSpace::base = [](LPCSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD) { return FALSE; };
    MessageBoxScript boxes;
    SetDlgItemTextA(dlg, IDC_FOLDER, "X:\\Tools\\Zorvik\\");
    CheckDlgButton(dlg, IDC_ADD_DESKTOP, 0);

    for (int attempt = 1; attempt <= 2; attempt++) {
        EXPECT_EQ(Command(IDOK), 0);
        ASSERT_EQ(boxes.boxes().size(), static_cast<size_t>(attempt));
        const ShownBox &box = boxes.boxes().back();
        EXPECT_EQ(box.text, "X:\\ドライブは無効です。");
        EXPECT_EQ(box.owner, dlg);
        EXPECT_EQ(box.title, "Zorvikインストーラ");
        EXPECT_TRUE(g_ended.empty());
        EXPECT_EQ(Text(IDC_FOLDER), "X:\\Tools\\Zorvik\\") << "the field keeps what was typed";
        EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_ADD_STARTMENU), 1u);
        EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_ADD_DESKTOP), 0u);
        ExpectInputState();
    }
    EXPECT_EQ(Hooks::Paths({&DiskFreeSpace::counter}), (std::vector<std::string>{"X:\\", "X:\\"}));
}

TEST_F(Dialog, BrowseCancelKeepsTheText) {
    Open();
    Hooks::Installed browse = FakeBrowse();
    SetDlgItemTextA(dlg, IDC_FOLDER, "D:\\Typed");
    EXPECT_EQ(Command(IDC_BROWSE), 0);
    EXPECT_EQ(Text(IDC_FOLDER), "D:\\Typed");
    ASSERT_EQ(g_browseCalls.size(), 1u);
    const BrowseCall &call = g_browseCalls[0];
    EXPECT_EQ(call.owner, dlg);
    EXPECT_EQ(call.title, "フォルダの選択");
    EXPECT_EQ(call.flags, static_cast<UINT>(BIF_RETURNONLYFSDIRS));
    EXPECT_TRUE(call.rootIsNull) << "the chooser starts at the shell's root";
    EXPECT_TRUE(call.displayNameIsNull);
    EXPECT_TRUE(call.callbackIsNull) << "nothing is preselected";
    EXPECT_TRUE(g_ended.empty());
}

class DialogBrowseChoice : public Dialog {
protected:
    void SetUp() override {
        Dialog::SetUp();
        std::wstring wide(folder.path().begin(), folder.path().end());
        ASSERT_EQ(SHParseDisplayName(wide.c_str(), nullptr, &g_browseAnswer, 0, nullptr), S_OK);
        ShellMalloc::base = [this](IMalloc **out) {
            allocator.AddRef();
            *out = &allocator;
            return S_OK;
        };
    }

    ScratchFolder folder{"browse"};
    CountingMalloc allocator;
    Hooks::Installed browse = FakeBrowse();
    Hooks::Installed shellMalloc = ShellMalloc::Install("shell32.dll", "SHGetMalloc");
};

TEST_F(DialogBrowseChoice, ReplacesTheWholeTextAndFreesTheList) {
    Open();
    SetDlgItemTextA(dlg, IDC_FOLDER, "D:\\A much longer folder text typed before browsing");
    EXPECT_EQ(Command(IDC_BROWSE), 0);
    EXPECT_EQ(Text(IDC_FOLDER), folder.path());
    EXPECT_EQ(allocator.freed, std::vector<void *>{g_browseAnswer});
    EXPECT_EQ(allocator.references, 0u) << "the allocator is released";
}

// A list without a path, or a folder whose name the code page cannot spell
// exactly (U+00A5 would become a backslash), leaves the text; the latter is
// said. Either way the list is freed.
TEST_F(DialogBrowseChoice, AChoiceWithoutAnExactPathKeepsTheText) {
    Open();
    MessageBoxScript boxes;
    Hooks::Installed getPath = PathFromList::Install("shell32.dll", "SHGetPathFromIDListW");
    SetDlgItemTextA(dlg, IDC_FOLDER, "D:\\Typed");
    PathFromList::base = [](LPCITEMIDLIST, LPWSTR) { return FALSE; };
    EXPECT_EQ(Command(IDC_BROWSE), 0);
    EXPECT_TRUE(boxes.boxes().empty());
    PathFromList::base = [](LPCITEMIDLIST, LPWSTR out) {
        lstrcpyW(out, L"C:\\Users\\x\u00A5..\u00A5..\u00A5Windows");
        return TRUE;
    };
    EXPECT_EQ(Command(IDC_BROWSE), 0);
    EXPECT_EQ(Text(IDC_FOLDER), "D:\\Typed");
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "このフォルダの名前には使えない文字が含まれています。");
    EXPECT_EQ(boxes.boxes()[0].owner, dlg);
    EXPECT_EQ(allocator.freed, (std::vector<void *>{g_browseAnswer, g_browseAnswer}));
    EXPECT_EQ(allocator.references, 0u);
}

}  // namespace
