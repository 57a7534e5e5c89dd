// Shortcuts: the Start-menu program group and the desktop of the prefix,
// real shell links read back through the shell.
#include "engine_test_support.h"
#include "platform_hooks.h"

#include <shlobj.h>

namespace {

std::string SpecialFolder(int csidl) {
    char path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, csidl, TRUE))
        throw std::runtime_error("no special folder " + std::to_string(csidl));
    return path;
}


class ShortcutsTest : public EngineTest {
protected:
    ShortcutsTest()
        : group(SpecialFolder(CSIDL_PROGRAMS) + "\\" + PackageConfig.ProgramGroupName),
          startLink(group + "\\" + startName + ".lnk"),
          desktopLink(SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "\\" + desktopName + ".lnk") {
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
    EXPECT_EQ(1, UnderTest([&] { return CreateShortcut(target.c_str(), scratch.path().c_str(), "Program"); }));
    ExpectLink(scratch / "Program.lnk", target, "Program");

    // A link of that name is replaced.
    WriteWholeFile(scratch / "Other.lnk", "not a link at all");
    const std::string other = scratch / "Other.exe";
    EXPECT_EQ(1, UnderTest([&] { return CreateShortcut(other.c_str(), scratch.path().c_str(), "Other"); }));
    ExpectLink(scratch / "Other.lnk", other, "Other");
}

TEST_F(ShortcutsTest, BothShortcuts) {
    Place(1, 1);
    ExpectLink(startLink, target, startName);
    ExpectLink(desktopLink, target, desktopName);
    EXPECT_TRUE(boxes->boxes().empty());
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
    Hooks::Installed mkdir = MakeFolder::Install("kernel32.dll", "CreateDirectoryA");
    MakeFolder::base = [this](LPCSTR path, LPSECURITY_ATTRIBUTES sa) -> BOOL {
        if (group != path) return MakeFolder::real(path, sa);
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

TEST_F(ShortcutsTest, ARunLinksToTheInstalledProgram) {
    std::string folder = scratch / "inst";
    ASSERT_EQ(1, Run(folder, 1, 1));
    const std::string program = folder + "\\" + PackageTable[0].fileName;
    ExpectLink(startLink, program, startName);
    ExpectLink(desktopLink, program, desktopName);
}

}  // namespace
