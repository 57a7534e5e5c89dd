// The run's feedback and checks: free space, percentages, the dialog's two
// states, message boxes, and the start of the installed program.
#include "engine_test_support.h"
#include "platform_hooks.h"

#include "messages.h"
#include "resource.h"

namespace {

const UINT kQuestion = MB_YESNO | MB_ICONQUESTION;


// GetDiskFreeSpaceA answers the given geometry.
struct FreeSpace {
    Hooks::Installed hook = DiskFreeSpace::Install("kernel32.dll", "GetDiskFreeSpaceA");
    FreeSpace(DWORD sectorsPerCluster, DWORD bytesPerSector, DWORD freeClusters) {
        DiskFreeSpace::base = [=](LPCSTR, LPDWORD spc, LPDWORD bps, LPDWORD fc, LPDWORD tc) -> BOOL {
            *spc = sectorsPerCluster;
            *bps = bytesPerSector;
            *fc = freeClusters;
            *tc = freeClusters + 1000;
            return TRUE;
        };
    }
};

// ShowWindow and EnableWindow on the dialog's controls: "show <id> <cmd>", "enable <id> <flag>".
struct ControlRecorder {
    Hooks::Installed show = ShowWindowHook::Install("user32.dll", "ShowWindow");
    Hooks::Installed enable = EnableWindowHook::Install("user32.dll", "EnableWindow");
    ControlRecorder() {
        ShowWindowHook::inspect = [](CallRecord &r, HWND w, int cmd) {
            r.path = "show " + std::to_string(GetDlgCtrlID(w)) + " " + std::to_string(cmd);
        };
        EnableWindowHook::inspect = [](CallRecord &r, HWND w, BOOL on) {
            r.path = "enable " + std::to_string(GetDlgCtrlID(w)) + " " + std::to_string(on);
        };
    }
    std::vector<std::string> States() const { return Hooks::Paths({&ShowWindowHook::counter, &EnableWindowHook::counter}); }
};

class RunTest : public EngineTest {
protected:
    // A folder whose parent is missing: the run asks, and IDNO ends it just
    // after the free-space check.
    std::string Unmade() const { return scratch / "missing\\Zorvik"; }
};

TEST_F(RunTest, FreeSpaceOfExactlyTheRequiredSpaceAsksNothing) {
    FreeSpace space(1, 1, PACKAGE_REQUIRED_SPACE);
    EXPECT_EQ(0, Run(Unmade()));
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_EQ(Format("%sフォルダはありません。作成しますか？", Unmade()), boxes->boxes()[0].text);
}

TEST_F(RunTest, FreeSpaceBelowTheRequiredSpaceAsksWithTheAmount) {
    FreeSpace space(1, 1, PACKAGE_REQUIRED_SPACE - 1);
    Answer({IDNO});
    EXPECT_EQ(0, Run(Unmade()));
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_EQ("C:\\ドライブはディスク容量が足りません(空き" + std::to_string(PACKAGE_REQUIRED_SPACE - 1) +
                  "bytes)。よろしいですか？",
              boxes->boxes()[0].text);
    EXPECT_EQ(kQuestion, boxes->boxes()[0].type);
    EXPECT_FALSE(FolderExists(scratch / "missing"));
    EXPECT_TRUE(dialog.InInputState());

    // IDYES goes on to the folder check.
    Answer({IDYES, IDNO});
    EXPECT_EQ(0, Run(Unmade()));
    ASSERT_EQ(2u, boxes->boxes().size());
    EXPECT_EQ(Format("%sフォルダはありません。作成しますか？", Unmade()), boxes->boxes()[1].text);
}

TEST_F(RunTest, NoFreeClusterStopsWithZero) {
    FreeSpace space(8, 512, 0);
    EXPECT_EQ(0, Run(Unmade()));
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_EQ("C:\\ドライブはディスク容量が足りません(空き0bytes)。", boxes->boxes()[0].text);
    EXPECT_EQ(UINT(MB_OK), boxes->boxes()[0].type);
    EXPECT_TRUE(dialog.InInputState());
}

TEST_F(RunTest, LargeDrivesPassEvenWhereA32BitProductWouldWrap) {
    {
        FreeSpace space(8, 4096, 0x7FFFFFFF);  // about 64 TB
        EXPECT_EQ(0, Run(Unmade()));
        ASSERT_EQ(1u, boxes->boxes().size());
        EXPECT_EQ(kQuestion, boxes->boxes()[0].type);
        EXPECT_NE(std::string::npos, boxes->boxes()[0].text.find("フォルダはありません"));
    }
    {
        boxes->clear();
        FreeSpace space(64, 512, 131073);  // 2^32 + 32768 bytes: 32768 in 32 bits
        EXPECT_EQ(0, Run(Unmade()));
        ASSERT_EQ(1u, boxes->boxes().size());
        EXPECT_NE(std::string::npos, boxes->boxes()[0].text.find("フォルダはありません"));
    }
}

TEST_F(RunTest, SixteenPercentagesPrecedeTheirEntriesAndEndAt100) {
    // SetWindowTextW on the progress label: "progress <text>"; FindResourceA: "resource <id>".
    Hooks::Installed progress = WriteWideText::Install("user32.dll", "SetWindowTextW");
    WriteWideText::inspect = [](CallRecord &r, HWND w, LPCWSTR t) {
        r.path = (GetDlgCtrlID(w) == IDC_PROGRESS ? "progress " : "another control ") + InMessageCodePage(t);
    };
    Hooks::Installed find = FindResourceHook::Install("kernel32.dll", "FindResourceA");
    FindResourceHook::inspect = [](CallRecord &r, HMODULE, LPCSTR name, LPCSTR) {
        r.path = "resource " + std::to_string(reinterpret_cast<UINT_PTR>(name));
    };
    ASSERT_EQ(1, Run(scratch / "inst"));

    // Every payload is checked before the first percentage, then placed.
    std::vector<std::string> expected;
    for (const PackageEntry &e : PackageTable) expected.push_back("resource " + std::to_string(e.resourceId));
    const int percents[] = {6, 12, 18, 25, 31, 37, 43, 50, 56, 62, 68, 75, 81, 87, 93, 100};
    for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i) {
        expected.push_back("progress インストール中．．．" + std::to_string(percents[i]) + "%");
        expected.push_back("resource " + std::to_string(PackageTable[i].resourceId));
    }
    EXPECT_EQ(expected, Hooks::Paths({&WriteWideText::counter, &FindResourceHook::counter}));
    char text[64] = {};
    GetWindowTextA(dialog.item(IDC_PROGRESS), text, sizeof(text));
    EXPECT_STREQ("インストール中．．．100%", text);
}

TEST_F(RunTest, SetInstallingStateSwitchesTheControlsInOrder) {
    ControlRecorder controls;
    UnderTest([] { SetInstallingState(1); });
    EXPECT_TRUE(dialog.InInstallingState());
    UnderTest([] { SetInstallingState(0); });
    EXPECT_TRUE(dialog.InInputState());
    const std::vector<std::string> expected = {
        "show 1005 0", "show 1000 0", "show 1003 0", "show 1006 0", "show 1001 0", "show 1002 0",
        "enable 1 0", "enable 2 0", "show 1008 5",
        "show 1005 5", "show 1000 5", "show 1003 5", "show 1006 5", "show 1001 5", "show 1002 5",
        "enable 1 1", "enable 2 1", "show 1008 0",
    };
    EXPECT_EQ(expected, controls.States());
}

TEST_F(RunTest, StopGoesBackToInputAndTheNextRunStartsOver) {
    ControlRecorder controls;
    EXPECT_EQ(0, Run("X:\\Zorvik"));
    std::vector<std::string> states = controls.States();
    ASSERT_EQ(18u, states.size()) << "installing, then input";
    EXPECT_EQ("show 1008 5", states[8]);
    EXPECT_EQ("show 1008 0", states[17]);
    EXPECT_TRUE(dialog.InInputState());
    // The keyboard is back in the folder field, its text selected whole.
    DWORD from = 1, to = 0;
    SendMessageW(dialog.item(IDC_FOLDER), EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    EXPECT_EQ(dialog.item(IDC_FOLDER), GetFocus());
    EXPECT_EQ(0u, from);
    EXPECT_EQ(static_cast<DWORD>(GetWindowTextLengthW(dialog.item(IDC_FOLDER))), to);

    ASSERT_EQ(1, Run(scratch / "again"));
    EXPECT_TRUE(dialog.InInstallingState());
}

TEST_F(RunTest, ShowMessageIsOwnedByTheDialogAndTitledWithItsCaption) {
    Answer({IDYES});
    EXPECT_EQ(IDYES, UnderTest([] { return ShowMessage("question", nullptr, 0, kQuestion); }));
    EXPECT_EQ(IDOK, UnderTest([] { return ShowMessage("note", nullptr, 0, MB_OK); }));
    ASSERT_EQ(2u, boxes->boxes().size());
    EXPECT_EQ(dialog.hwnd(), boxes->boxes()[0].owner);
    EXPECT_EQ(kDialogCaption, boxes->boxes()[0].title);
    EXPECT_EQ("question", boxes->boxes()[0].text);
    EXPECT_EQ(kQuestion, boxes->boxes()[0].type);

    // Without a dialog: no owner, the title "Message"; nothing to switch.
    HWND saved = g_hDlg;
    g_hDlg = nullptr;
    UnderTest([] {
        ShowMessage("alone", nullptr, 0, MB_OK);
        SetInstallingState(1);
    });
    g_hDlg = saved;
    EXPECT_EQ(nullptr, boxes->boxes()[2].owner);
    EXPECT_EQ("Message", boxes->boxes()[2].title);
    EXPECT_TRUE(dialog.InInputState());
}

TEST_F(RunTest, StartsTheProgramWithItsQuotedPathShown) {
    std::string folder = scratch / "inst";
    ASSERT_EQ(1, Run(folder));
    ASSERT_EQ(1u, CommandLines().size());
    EXPECT_EQ("\"" + folder + "\\" + PackageTable[0].fileName + "\" ", CommandLines()[0]);
    EXPECT_EQ(std::vector<UINT>{SW_SHOW}, ShowCommands());
    EXPECT_TRUE(boxes->boxes().empty());
}

TEST_F(RunTest, AProgramThatCannotStartIsReported) {
    std::string folder = scratch / "inst";
    StartProgram::FailNext([](int, LPCSTR, UINT) -> UINT { return 31; });
    EXPECT_EQ(0, Run(folder));
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_EQ(Format("%sが起動できません。", folder + "\\" + PackageTable[0].fileName), boxes->boxes()[0].text);
    EXPECT_EQ(UINT(MB_OK), boxes->boxes()[0].type);
    EXPECT_TRUE(dialog.InInputState());
}

// The system's own folders are refused in every spelling before anything is
// made (each named by its full path), and their files are left alone.
TEST_F(RunTest, TheSystemsOwnFoldersAreRefused) {
    const std::string library = system / PackageTable[kLastEntry].fileName;
    WriteWholeFile(library, "the system's own copy");
    char windows[MAX_PATH];
    GetSystemWindowsDirectoryA(windows, MAX_PATH);
    std::string lower = system.path();
    CharLowerA(&lower[0]);
    const std::string name = system.path().substr(system.path().rfind('\\') + 1);
    const std::vector<std::string> spellings = {system.path(), lower + "\\.\\", scratch / "..\\" + name,
                                                std::string(windows) + "\\..\\" + (windows + 3)};
    for (const std::string &folder : spellings) {
        SCOPED_TRACE(folder);
        boxes->clear();
        EXPECT_EQ(0, Run(folder));
        ASSERT_EQ(1u, boxes->boxes().size());
        // Named by its full path, as the run takes it.
        char full[MAX_PATH];
        GetFullPathNameA(folder.c_str(), MAX_PATH, full, nullptr);
        std::string shown = full;
        if (shown.back() == '\\') shown.pop_back();
        EXPECT_EQ(Format("%sにはインストールできません。", shown), boxes->boxes()[0].text);
        EXPECT_TRUE(dialog.InInputState());
    }
    EXPECT_EQ(std::vector<std::string>{PackageTable[kLastEntry].fileName}, ListFolder(system.path()));
    EXPECT_EQ("the system's own copy", ReadWholeFile(library));
    EXPECT_TRUE(CommandLines().empty());
}

// The process of the program's window, once it shows one.
HANDLE ProgramProcess() {
    for (int i = 0; i < 200; ++i) {
        if (HWND window = FindWindowA("ZorvikMainWindow", nullptr)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            return OpenProcess(SYNCHRONIZE, FALSE, pid);
        }
        Sleep(50);
    }
    return nullptr;
}

// The one test that really starts the installed program. It is then updated
// while it runs, with the image paths told as before Windows Vista (PSAPI):
// asked, closed, and started again.
TEST_F(RunTest, TheInstalledProgramReallyStartsAndIsClosedForAnUpdate) {
    std::string folder = scratch / "real";
    StartProgram::base = nullptr;   // the platform's WinExec, for these runs
    ASSERT_EQ(1, Run(folder));
    HANDLE first = ProgramProcess();
    ASSERT_NE(nullptr, first) << "the installed program did not open its window";

    const QueryImageNameProc savedQuery = g_QueryFullProcessImageNameW;
    const ModuleFileNameProc savedModule = g_GetModuleFileNameExW;
    g_QueryFullProcessImageNameW = nullptr;
    g_GetModuleFileNameExW = reinterpret_cast<ModuleFileNameProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(LoadLibraryA("psapi.dll"), "GetModuleFileNameExW")));
    Answer({IDYES});
    const int result = Run(folder);
    g_QueryFullProcessImageNameW = savedQuery;
    g_GetModuleFileNameExW = savedModule;
    EXPECT_EQ(1, result);
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_EQ(Format(MSG_PROGRAM_RUNNING_ASK, folder + "\\" + PackageTable[0].fileName), boxes->boxes()[0].text);
    EXPECT_EQ(kQuestion, boxes->boxes()[0].type);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(first, 0)) << "the running program was not closed";
    CloseHandle(first);

    HANDLE second = ProgramProcess();
    ASSERT_NE(nullptr, second) << "the updated program did not start";
    PostMessageA(FindWindowA("ZorvikMainWindow", nullptr), WM_CLOSE, 0, 0);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second, 10000)) << "the program did not close";
    CloseHandle(second);
}

}  // namespace
