// Shortcuts: the Start-menu program group and the desktop of the prefix,
// real shell links read back through the shell.
#include "engine_test_support.h"
#include "platform_hooks.h"

#include <shlobj.h>

#include <map>

namespace {

std::string SpecialFolder(int csidl) {
    char path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, csidl, TRUE))
        throw std::runtime_error("no special folder " + std::to_string(csidl));
    return path;
}


// The links of an administrative installation (every process has the
// administrator's rights under Wine) go into everyone's folders.
class ShortcutsTest : public EngineTest {
protected:
    ShortcutsTest(int programs = CSIDL_COMMON_PROGRAMS, int desktop = CSIDL_COMMON_DESKTOPDIRECTORY)
        : group(SpecialFolder(programs) + "\\" + PackageConfig.ProgramGroupName),
          startLink(group + "\\" + startName + ".lnk"),
          desktopLink(SpecialFolder(desktop) + "\\" + desktopName + ".lnk") {
        Clean();
    }
    ~ShortcutsTest() override { Clean(); }
    void Clean() {
        DeleteFileA(desktopLink.c_str());
        RemoveTree(group);
    }
    void Place(int startMenu, int desktop) {
        UnderTest([&] { PlaceShortcuts(&PackageTable[0], target.c_str(), startMenu, desktop); });
    }
    void ExpectLink(const std::string &link, const std::string &to, const std::string &name) {
        std::string t, d;
        ASSERT_TRUE(ReadShortcut(link, &t, &d)) << link;
        EXPECT_EQ(to, t);
        EXPECT_EQ(name, d);
    }

    // The program's links, as the package names them.
    const std::string startName = PackageTable[0].startMenuLinkName, desktopName = PackageTable[0].desktopLinkName;
    std::string group, startLink, desktopLink;
    std::string target = scratch / PackageTable[0].fileName;
};

TEST_F(ShortcutsTest, CreateShortcutWritesALinkWithTargetAndDescription) {
    // The folder's buffer, in which the link's path is built.
    auto create = [&](const std::string &to, const char *name) {
        std::wstring folder = Wide(scratch.path());
        folder.resize(MAX_PATH);
        return UnderTest([&] { return CreateShortcut(to.c_str(), &folder[0], name); });
    };
    EXPECT_EQ(1, create(target, "Program"));
    ExpectLink(scratch / "Program.lnk", target, "Program");

    // A link of that name is replaced.
    WriteWholeFile(scratch / "Other.lnk", "not a link at all");
    const std::string other = scratch / "Other.exe";
    EXPECT_EQ(1, create(other, "Other"));
    ExpectLink(scratch / "Other.lnk", other, "Other");
}

TEST_F(ShortcutsTest, BothShortcuts) {
    Place(1, 1);
    ExpectLink(startLink, target, startName);
    ExpectLink(desktopLink, target, desktopName);
    EXPECT_TRUE(boxes->boxes().empty());
}

// Without the administrator's rights (a limited account installing into a
// folder of its own), the links are the user's own.
class UserShortcutsTest : public ShortcutsTest {
protected:
    UserShortcutsTest() : ShortcutsTest(CSIDL_PROGRAMS, CSIDL_DESKTOPDIRECTORY) {}
    Hooks::Installed rights = TokenMembership::Install("advapi32.dll", "CheckTokenMembership");
};

TEST_F(UserShortcutsTest, WithoutTheAdministratorsRightsTheLinksAreTheUsersOwn) {
    const std::string common = SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\" + desktopName + ".lnk";
    DeleteFileA(common.c_str());
    for (BOOL answered : {FALSE, TRUE}) {   // the call fails, or says "not a member"
        Clean();
        TokenMembership::base = [answered](HANDLE, PSID, PBOOL member) -> BOOL {
            *member = FALSE;
            return answered;
        };
        Place(1, 1);
        ExpectLink(startLink, target, startName);
        ExpectLink(desktopLink, target, desktopName);
        EXPECT_FALSE(FileExists(common));
    }
    Clean();
}

TEST_F(ShortcutsTest, OnlyTheDesktop) {
    Place(0, 1);
    ExpectLink(desktopLink, target, desktopName);
    EXPECT_FALSE(FolderExists(group)) << "the group is made only for its shortcut";
}

TEST_F(ShortcutsTest, OnlyTheStartMenu) {
    Place(1, 0);
    ExpectLink(startLink, target, startName);
    EXPECT_FALSE(FileExists(desktopLink));
}

TEST_F(ShortcutsTest, NeitherShortcut) {
    Place(0, 0);
    EXPECT_FALSE(FolderExists(group));
    EXPECT_FALSE(FileExists(desktopLink));
}

TEST_F(ShortcutsTest, AnEntryWithoutADesktopNameGetsNone) {
    PackageEntry entry = PackageTable[0];
    entry.desktopLinkName = nullptr;
    UnderTest([&] { PlaceShortcuts(&entry, target.c_str(), 1, 1); });
    EXPECT_FALSE(FolderExists(group));
    EXPECT_FALSE(FileExists(desktopLink));
}

TEST_F(ShortcutsTest, ExistingLinksAreReplaced) {
    Place(1, 1);
    std::string newer = scratch / ("elsewhere\\" + std::string(PackageTable[0].fileName));
    PlaceShortcuts(&PackageTable[0], newer.c_str(), 1, 1);
    ExpectLink(startLink, newer, startName);
    ExpectLink(desktopLink, newer, desktopName);
}

TEST_F(ShortcutsTest, AGroupFolderThatCannotBeMadeIsReportedAndTheRestGoesOn) {
    Hooks::Installed mkdir = MakeWideFolder::Install("kernel32.dll", "CreateDirectoryW");
    MakeWideFolder::base = [this](LPCWSTR path, LPSECURITY_ATTRIBUTES sa) -> BOOL {
        if (Wide(group) != path) return MakeWideFolder::real(path, sa);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    };
    Place(1, 1);
    ASSERT_EQ(1u, boxes->boxes().size());
    EXPECT_EQ(Format("%sフォルダが作成できませんでした。", group), boxes->boxes()[0].text);
    EXPECT_EQ(UINT(MB_OK), boxes->boxes()[0].type);
    EXPECT_FALSE(FileExists(startLink));
    ExpectLink(desktopLink, target, desktopName);
}

// Links point only at a complete installation: a run that stops at its
// second file makes none; one that completes makes both.
TEST_F(ShortcutsTest, ARunLinksToTheInstalledProgramOnlyWhenComplete) {
    std::string folder = scratch / "inst";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string second = folder + "\\" + PackageTable[1].fileName;
    WriteWholeFile(folder + "\\" + PackageTable[0].fileName, "an earlier program");   // an update: no question
    WriteWholeFile(second, "kept");
    SetFileAttributesA(second.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(0, Run(folder, 1, 1));
    EXPECT_FALSE(FolderExists(group));
    EXPECT_FALSE(FileExists(desktopLink));

    SetFileAttributesA(second.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_EQ(1, Run(folder, 1, 1));
    const std::string program = folder + "\\" + PackageTable[0].fileName;
    ExpectLink(startLink, program, startName);
    ExpectLink(desktopLink, program, desktopName);
}

// The user's folders are taken by their exact names, even ones the code
// page cannot spell: a best fit would put the links into other folders.
TEST_F(ShortcutsTest, LinksGoIntoFoldersNamedOutsideTheCodePage) {
    const std::wstring programs = Wide(scratch.path()) + L"\\Zo\u00EB\u00A5..\u00A5Programs";
    const std::wstring desktop = Wide(scratch.path()) + L"\\Zo\u00EB Desktop";
    ASSERT_TRUE(CreateDirectoryW(programs.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(desktop.c_str(), nullptr));
    std::map<LPITEMIDLIST, int> lists;
    Hooks::Installed special = SpecialFolder::Install("shell32.dll", "SHGetSpecialFolderLocation");
    SpecialFolder::after = [&](CallRecord &, HRESULT hr, HWND, int csidl, LPITEMIDLIST *out) {
        if (hr == S_OK) lists[*out] = csidl;
    };
    Hooks::Installed path = PathFromList::Install("shell32.dll", "SHGetPathFromIDListW");
    PathFromList::base = [&](LPCITEMIDLIST list, LPWSTR out) -> BOOL {
        lstrcpyW(out, (lists[const_cast<LPITEMIDLIST>(list)] == CSIDL_COMMON_PROGRAMS ? programs : desktop).c_str());
        return TRUE;
    };
    Place(1, 1);
    EXPECT_TRUE(boxes->boxes().empty());
    const std::wstring group = programs + L"\\" + Wide(PackageConfig.ProgramGroupName);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((group + L"\\" + Wide(startName) + L".lnk").c_str()));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((desktop + L"\\" + Wide(desktopName) + L".lnk").c_str()));
    EXPECT_EQ(2u, ListFolder(scratch.path()).size()) << "nothing made under a look-alike name";
}

}  // namespace
