// Folder handling of a run: the trailing backslash, the drive root, the
// folder questions, CreateFolderTree, cp932 folders and the length guard.
#include "engine_test_support.h"
#include "platform_hooks.h"

#include <algorithm>
#include <cstring>

#include "resource.h"

namespace {


// CreateDirectoryA records every attempt, fails with `error` for the paths
// in `refuse`, and passes the rest through.
struct MkdirRecorder {
    Hooks::Installed hook = MakeFolder::Install("kernel32.dll", "CreateDirectoryA");
    explicit MkdirRecorder(std::vector<std::string> refuse = {}, DWORD error = ERROR_ACCESS_DENIED) {
        MakeFolder::inspect = [](CallRecord &r, LPCSTR path, LPSECURITY_ATTRIBUTES) { r.path = path; };
        MakeFolder::base = [refuse, error](LPCSTR path, LPSECURITY_ATTRIBUTES sa) -> BOOL {
            for (const std::string &r : refuse)
                if (r == path) {
                    SetLastError(error);
                    return FALSE;
                }
            return MakeFolder::real(path, sa);
        };
    }
    std::vector<std::string> Attempts() const { return Hooks::Paths({&MakeFolder::counter}); }
};

// GetDiskFreeSpaceA records the root it was asked about and passes through.
struct RootRecorder {
    Hooks::Installed hook = DiskFreeSpace::Install("kernel32.dll", "GetDiskFreeSpaceA");
    RootRecorder() {
        DiskFreeSpace::inspect = [](CallRecord &r, LPCSTR root, LPDWORD, LPDWORD, LPDWORD, LPDWORD) {
            r.path = root ? root : "(null)";
        };
    }
    std::vector<std::string> Roots() const { return Hooks::Paths({&DiskFreeSpace::counter}); }
};

const UINT kQuestion = MB_YESNO | MB_ICONQUESTION;

// The longest file name of the package (and the 8.3 name CreateDirectoryA
// keeps room for), within a path buffer.
const size_t kLongestFolder =
    MAX_PATH - 1 - 1 - std::max<size_t>(12, std::strlen(PackageTable[kLongestNameEntry].fileName));

std::string FolderOfLength(const std::string &base, size_t length) {
    std::string f = base + "\\";
    while (f.size() < length) f += 'a';
    return f;
}

class FoldersTest : public EngineTest {};

TEST_F(FoldersTest, CreateFolderTreeCreatesEachLevelFromTheRootDown) {
    MkdirRecorder mkdir;
    std::string path = scratch / "A\\B";
    EXPECT_EQ(1, UnderTest([&] { return CreateFolderTree(path.c_str()); }));
    EXPECT_TRUE(FolderExists(path));
    std::vector<std::string> attempts = mkdir.Attempts();
    ASSERT_GE(attempts.size(), 2u);
    // Never the drive, never its root; each level once, the whole path last.
    EXPECT_EQ("C:\\zt", attempts.front());
    EXPECT_EQ(scratch / "A", attempts[attempts.size() - 2]);
    EXPECT_EQ(path, attempts.back());
    for (const std::string &a : attempts) {
        EXPECT_NE("C:", a);
        EXPECT_NE("C:\\", a);
    }

    // A trailing backslash ends with one more attempt on the existing folder.
    Hooks::trace.clear();
    EXPECT_EQ(1, UnderTest([&] { return CreateFolderTree((path + "\\").c_str()); }));
    EXPECT_EQ(path + "\\", mkdir.Attempts().back());
    EXPECT_TRUE(boxes->boxes().empty());
}

TEST_F(FoldersTest, CreateFolderTreeReportsTheFolderItCannotMake) {
    std::string path = scratch / "A\\B\\C";
    MkdirRecorder mkdir({scratch / "A\\B"});
    EXPECT_EQ(0, UnderTest([&] { return CreateFolderTree(path.c_str()); }));
    EXPECT_EQ(scratch / "A\\B", mkdir.Attempts().back()) << "stops at the first failure";
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_EQ(Format("%sフォルダが作成できませんでした。", scratch / "A\\B"), boxes->boxes()[0].text);
    EXPECT_EQ(UINT(MB_OK), boxes->boxes()[0].type);
    EXPECT_EQ(dialog.hwnd(), boxes->boxes()[0].owner);
    EXPECT_EQ(kDialogCaption, boxes->boxes()[0].title);

    // A path that starts with a backslash fails on its empty first prefix.
    boxes->clear();
    EXPECT_EQ(0, UnderTest([] { return CreateFolderTree("\\zt-never"); }));
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_EQ("フォルダが作成できませんでした。", boxes->boxes()[0].text);
}

TEST_F(FoldersTest, Cp932FoldersAreNeverSplitInsideACharacter) {
    // ソ is 83 5C and 表 is 95 5C in cp932: both end in the byte of a backslash.
    MkdirRecorder mkdir;
    std::string parent = scratch / "ソフト";
    std::string folder = parent + "\\表";
    ASSERT_EQ('\\', folder.back()) << "the test needs a folder whose last byte is 0x5C";
    EXPECT_EQ(1, UnderTest([&] { return CreateFolderTree(folder.c_str()); }));
    EXPECT_TRUE(FolderExists(folder));
    for (const std::string &a : mkdir.Attempts())
        EXPECT_TRUE(a == "C:\\zt" || a == scratch.path() || a == parent || a == folder) << a;
    EXPECT_EQ(std::vector<std::string>{"ソフト"}, ListFolder(scratch.path()));
    EXPECT_EQ(std::vector<std::string>{"表"}, ListFolder(parent));
    RemoveTree(parent);

    // The whole run: the last byte of 表 is not a trailing backslash, and the
    // missing parent asks first.
    Answer({IDYES});
    ASSERT_EQ(1, Run(folder));
    EXPECT_EQ(folder, folderAfter);
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_EQ(Format("%sフォルダはありません。作成しますか？", folder), boxes->boxes()[0].text);
    ExpectInstalled(folder, 0, kLastFolderEntry);
    ASSERT_EQ(1u, CommandLines().size());
    EXPECT_EQ("\"" + folder + "\\" + PackageTable[0].fileName + "\" ", CommandLines()[0]);
    EXPECT_EQ(std::vector<std::string>{"ソフト"}, ListFolder(scratch.path()));

    // With a real trailing backslash after 表, exactly that one goes.
    boxes->clear();
    ASSERT_EQ(1, Run(folder + "\\"));
    EXPECT_EQ(folder, folderAfter);
    EXPECT_TRUE(boxes->boxes().empty());
}

TEST_F(FoldersTest, TrailingBackslashIsRemovedOnceAndTheRootComesFromTheFirstColon) {
    RootRecorder roots;
    std::string folder = scratch / "inst";
    ASSERT_EQ(1, Run(folder + "\\"));
    EXPECT_EQ(folder, folderAfter);
    EXPECT_EQ(std::vector<std::string>{"C:\\"}, roots.Roots());
    EXPECT_TRUE(boxes->boxes().empty()) << "a missing folder with an existing parent asks nothing";
    ExpectInstalled(folder, 0, kLastFolderEntry);
    EXPECT_TRUE(dialog.InInstallingState()) << "a complete run does not go back to input";

    // An existing folder asks nothing either.
    ASSERT_EQ(1, Run(folder));
    EXPECT_TRUE(boxes->boxes().empty());
}

// A relative folder is made absolute against the current directory, whose
// drive it takes; the run names it, and writes into it, by that full path.
TEST_F(FoldersTest, RelativeFolderTakesTheCurrentDirectorysDrive) {
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(scratch.path().c_str()));
    RootRecorder roots;
    Answer({IDYES});
    int result = Run("Apps\\Zorvik");
    SetCurrentDirectoryA(previous);
    ASSERT_EQ(1, result);
    EXPECT_EQ(std::vector<std::string>{"C:\\"}, roots.Roots());
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_EQ(Format("%sフォルダはありません。作成しますか？", scratch / "Apps\\Zorvik"), boxes->boxes()[0].text);
    EXPECT_EQ(scratch / "Apps\\Zorvik", folderAfter);
    ExpectInstalled(scratch / "Apps\\Zorvik", 0, kLastFolderEntry);
    EXPECT_EQ(std::vector<std::string>{"\"" + (scratch / "Apps\\Zorvik\\") + PackageTable[0].fileName + "\" "},
              CommandLines());

    // Trailing dots and spaces go as the system drops them: the folder made
    // is the folder written.
    boxes->clear();
    ASSERT_EQ(1, Run(scratch / "Dotted. "));
    EXPECT_EQ(scratch / "Dotted", folderAfter);
    ExpectInstalled(scratch / "Dotted", 0, kLastFolderEntry);
}

TEST_F(FoldersTest, MissingParentsAskAndNoStopsWithoutAMessage) {
    std::string folder = scratch / "P\\Q\\R";
    Answer({IDNO});
    EXPECT_EQ(0, Run(folder));
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_EQ(Format("%sフォルダはありません。作成しますか？", folder), boxes->boxes()[0].text);
    EXPECT_EQ(kQuestion, boxes->boxes()[0].type);
    EXPECT_FALSE(FolderExists(scratch / "P"));
    EXPECT_TRUE(dialog.InInputState());
    EXPECT_TRUE(CommandLines().empty());

    Answer({IDYES});
    ASSERT_EQ(1, Run(folder));
    ASSERT_EQ(1u, boxes->boxes().size());
    ExpectInstalled(folder, 0, kLastFolderEntry);
}

TEST_F(FoldersTest, AccessDeniedStopsWithItsMessage) {
    std::string folder = scratch / "denied";
    MkdirRecorder mkdir({folder}, ERROR_ACCESS_DENIED);
    EXPECT_EQ(0, Run(folder));
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_EQ(Format("%sフォルダが作成できません。", folder), boxes->boxes()[0].text);
    EXPECT_EQ(UINT(MB_OK), boxes->boxes()[0].type);
    EXPECT_TRUE(dialog.InInputState());
}

TEST_F(FoldersTest, TreeFailureAfterYesStopsWithTheTreesOwnMessage) {
    std::string folder = scratch / "P\\Q";
    MkdirRecorder mkdir({scratch / "P"}, ERROR_PATH_NOT_FOUND);
    Answer({IDYES});
    EXPECT_EQ(0, Run(folder));
    ASSERT_EQ(2u, boxes->boxes().size());
    EXPECT_EQ(Format("%sフォルダが作成できませんでした。", scratch / "P"), boxes->boxes()[1].text);
    EXPECT_TRUE(dialog.InInputState());
}

TEST_F(FoldersTest, DriveWithoutADiskIsInvalid) {
    EXPECT_EQ(0, Run("X:\\Zorvik"));
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_EQ("X:\\ドライブは無効です。", boxes->boxes()[0].text);
    EXPECT_EQ(UINT(MB_OK), boxes->boxes()[0].type);
    EXPECT_TRUE(dialog.InInputState());
}

TEST_F(FoldersTest, FolderTooLongForItsPathsIsRefusedBeforeAnythingIsMade) {
    MkdirRecorder mkdir;
    std::string base = scratch / "long";
    std::string tooLong = FolderOfLength(base, kLongestFolder + 1);
    EXPECT_EQ(0, Run(tooLong));
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_EQ(Format("%sフォルダのパスが長すぎます。", tooLong), boxes->boxes()[0].text);
    EXPECT_TRUE(mkdir.Attempts().empty());
    EXPECT_TRUE(TempNames().empty());
    EXPECT_TRUE(dialog.InInputState());

    // The longest that can be typed into the buffer is refused the same way.
    boxes->clear();
    EXPECT_EQ(0, Run(FolderOfLength(base, MAX_PATH - 1)));
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_TRUE(mkdir.Attempts().empty());
    EXPECT_FALSE(FolderExists(base));

    // One byte shorter is the longest folder that works, far beyond the
    // open-file record's 127 bytes: the placement opens every destination in
    // it, the longest name included.
    boxes->clear();
    std::string longest = FolderOfLength(base, kLongestFolder);
    Answer({IDYES});
    ASSERT_EQ(1, Run(longest)) << (boxes->texts().empty() ? "" : boxes->texts().back());
    ExpectInstalled(longest, 0, kLastFolderEntry);
    EXPECT_TRUE(SurvivingTempNames().empty());
}

}  // namespace

// The stack checks: an overwrite of a checked function's guard, made while it
// waits for the platform, ends the process when the function returns, with
// the fast-fail's status; nothing after it runs.
extern "C" DWORD __stack_chk_guard;

TEST(StackGuard, AnOverwrittenGuardEndsTheProcessAtOnce) {
    ScratchFolder scratch("guard");
    const std::string folder = scratch.path(), after = scratch / "after.txt";
    EXPECT_EXIT(
        {
            Hooks::Installed hook = FileInformation::Install("kernel32.dll", "GetFileInformationByHandle");
            FileInformation::base = [](HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) -> BOOL {
                // The nearest guard above this frame is the calling function's.
                auto *p = static_cast<volatile DWORD *>(__builtin_frame_address(0));
                for (int i = 0; i < 1024; ++i)
                    if (p[i] == __stack_chk_guard) {
                        p[i] = ~__stack_chk_guard;
                        break;
                    }
                return FileInformation::real(h, info);
            };
            UnderTest([&] { return HoldInstallFolder(folder.c_str()); });
            WriteWholeFile(after, "returned");
            ExitProcess(0);
        },
        testing::ExitedWithCode(static_cast<int>(STATUS_STACK_BUFFER_OVERRUN)), "");
    EXPECT_FALSE(FileExists(after));
}
