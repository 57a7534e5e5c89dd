// Placement of the sixteen entries: expansion through a temporary file, the
// system-folder rule, and every failure of the chain with its message.
#include "engine_test_support.h"

#include <algorithm>

namespace {

const int kFirstSystemEntry = 14;  // Msvcrt.dll, then Mfc42.dll

// LZ entries that fail on demand; the rest is the real LZ32.
struct LzFaults {
    static LZOpenFileAProc realOpen;
    static LZCopyProc realCopy;
    static std::string mangleIn;       // OF_CREATE in this folder opens the name ending in '_' instead,
                                       // as LZ32 does when the name itself cannot be created
    static bool failRead;              // OF_READ fails
    static LONG copyResult;            // LZCopy answers this without copying (when nonzero)

    static INT WINAPI Open(LPSTR path, LPOFSTRUCT ofs, WORD mode) {
        std::string p = path;
        if ((mode & OF_CREATE) && p.rfind(mangleIn + "\\", 0) == 0) {
            p.back() = '_';
            return realOpen(&p[0], ofs, mode);
        }
        if (!(mode & OF_CREATE) && failRead) return LZERROR_BADINHANDLE;
        return realOpen(path, ofs, mode);
    }
    static LONG WINAPI Copy(INT source, INT target) {
        return copyResult ? copyResult : realCopy(source, target);
    }
    LzFaults() {
        realOpen = g_LZOpenFileA;
        realCopy = g_LZCopy;
        mangleIn = "?";
        failRead = false;
        copyResult = 0;
        g_LZOpenFileA = &Open;
        g_LZCopy = &Copy;
    }
};
LZOpenFileAProc LzFaults::realOpen;
LZCopyProc LzFaults::realCopy;
std::string LzFaults::mangleIn;
bool LzFaults::failRead;
LONG LzFaults::copyResult;

// Resource functions that fail for one payload.
struct ResourceFaults {
    static INT32 failFind;
    static bool failLoad, failLock;
    static decltype(&FindResourceA) find;
    static decltype(&LoadResource) load;
    static decltype(&LockResource) lock;
    static HRSRC WINAPI Find(HMODULE m, LPCSTR name, LPCSTR type) {
        if (reinterpret_cast<UINT_PTR>(name) == static_cast<UINT_PTR>(failFind)) return nullptr;
        return find(m, name, type);
    }
    static HGLOBAL WINAPI Load(HMODULE m, HRSRC r) { return failLoad ? nullptr : load(m, r); }
    static LPVOID WINAPI Lock(HGLOBAL g) { return failLock ? nullptr : lock(g); }
    ImportHook findHook{"kernel32.dll", "FindResourceA", reinterpret_cast<void *>(&Find)};
    ImportHook loadHook{"kernel32.dll", "LoadResource", reinterpret_cast<void *>(&Load)};
    ImportHook lockHook{"kernel32.dll", "LockResource", reinterpret_cast<void *>(&Lock)};
    ResourceFaults(INT32 missing, bool noLoad, bool noLock) {
        failFind = missing;
        failLoad = noLoad;
        failLock = noLock;
        find = findHook.original_as<decltype(&FindResourceA)>();
        load = loadHook.original_as<decltype(&LoadResource)>();
        lock = lockHook.original_as<decltype(&LockResource)>();
    }
};
INT32 ResourceFaults::failFind;
bool ResourceFaults::failLoad, ResourceFaults::failLock;
decltype(&FindResourceA) ResourceFaults::find;
decltype(&LoadResource) ResourceFaults::load;
decltype(&LockResource) ResourceFaults::lock;

// OpenFile records "openfile <path>" and passes through.
decltype(&OpenFile) g_originalOpenFile;
HFILE WINAPI LogOpenFile(LPCSTR path, LPOFSTRUCT ofs, UINT mode) {
    Log().events.push_back(std::string("openfile ") + path);
    return g_originalOpenFile(path, ofs, mode);
}

// CreateFileA refuses the temporary files of the run.
decltype(&CreateFileA) g_originalCreateFile;
HANDLE WINAPI RefuseTempFile(LPCSTR path, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f,
                             HANDLE t) {
    if (std::string(path).find("\\ZIN") != std::string::npos) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return g_originalCreateFile(path, a, s, sa, c, f, t);
}

UINT WINAPI FailTempFileName(LPCSTR, LPCSTR, UINT, LPSTR) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

class PlacementTest : public EngineTest {
protected:
    std::string Install() const { return scratch / "inst"; }
    std::string Dest(int index) const { return Install() + "\\" + PackageTable[index].fileName; }
    // Only package files in the folder: no file expanded into and left behind.
    void ExpectOnlyPackageFiles(const std::string &folder) const {
        for (const std::string &name : ListFolder(folder)) {
            bool known = false;
            for (const PackageEntry &e : PackageTable) known = known || lstrcmpiA(e.fileName, name.c_str()) == 0;
            EXPECT_TRUE(known) << "left in " << folder << ": " << name;
        }
    }
    const ShownBox &OnlyBox() const {
        EXPECT_EQ(1u, boxes->boxes().size());
        static ShownBox none{};
        return boxes->boxes().empty() ? none : boxes->boxes().back();
    }
};

TEST_F(PlacementTest, AllSixteenFilesAreExpandedByteForByte) {
    ASSERT_EQ(1, Run(Install()));
    EXPECT_TRUE(boxes->boxes().empty());
    ExpectInstalled(Install(), 0, 13);
    ExpectInstalled(system.path(), kFirstSystemEntry, 15);
    ExpectNotInstalled(Install(), kFirstSystemEntry, 15);
    // Per entry, one name in the temporary folder and one beside the destination.
    EXPECT_EQ(32u, tempNames.Names().size());
    EXPECT_TRUE(tempNames.Surviving().empty());
    ExpectOnlyPackageFiles(Install());
    ExpectOnlyPackageFiles(system.path());
    EXPECT_EQ(0, PackageTable[14].overwrite);
    EXPECT_EQ(0, PackageTable[15].overwrite);
}

TEST_F(PlacementTest, EveryRunReplacesTheInstallationFolderFiles) {
    CreateDirectoryA(Install().c_str(), nullptr);
    for (int i = 0; i < kFirstSystemEntry; ++i)
        WriteWholeFile(Dest(i), std::string(400000, 'x'));  // longer than any of them
    ASSERT_EQ(1, Run(Install()));
    ExpectInstalled(Install(), 0, 13);
}

TEST_F(PlacementTest, ARuntimeLibraryInTheSystemFolderGetsAPrivateCopy) {
    std::string systemMfc = system / "Mfc42.dll";
    WriteWholeFile(systemMfc, "the system's own copy");
    ASSERT_EQ(1, Run(Install()));
    EXPECT_EQ("the system's own copy", ReadWholeFile(systemMfc));
    ExpectInstalled(Install(), 15, 15);
    ExpectInstalled(system.path(), 14, 14);  // Msvcrt.dll was absent: it went to the system folder
    ExpectNotInstalled(Install(), 14, 14);
    EXPECT_EQ(1, PackageTable[15].overwrite);
    EXPECT_EQ(0, PackageTable[14].overwrite);

    // The next run finds both in the system folder: two private copies, the
    // system's files untouched, a changed private copy replaced.
    std::string systemMsvcrt = ReadWholeFile(system / "Msvcrt.dll");
    WriteWholeFile(Dest(15), "stale private copy");
    ASSERT_EQ(1, Run(Install()));
    EXPECT_EQ("the system's own copy", ReadWholeFile(systemMfc));
    EXPECT_EQ(systemMsvcrt, ReadWholeFile(system / "Msvcrt.dll"));
    ExpectInstalled(Install(), 14, 15);
    EXPECT_TRUE(tempNames.Surviving().empty());
}

TEST_F(PlacementTest, TheChangedFlagLastsForLaterRunsInTheProcess) {
    WriteWholeFile(system / "Mfc42.dll", "old");
    ASSERT_EQ(1, Run(Install()));
    ASSERT_EQ(1, PackageTable[15].overwrite);

    // With the system copy gone, the entry goes back to the system folder,
    // written without the existence test.
    DeleteFileA((system / "Mfc42.dll").c_str());
    ImportHook open("kernel32.dll", "OpenFile", reinterpret_cast<void *>(&LogOpenFile));
    g_originalOpenFile = open.original_as<decltype(&OpenFile)>();
    ASSERT_EQ(1, Run(Install()));
    ExpectInstalled(system.path(), 15, 15);
    std::vector<std::string> probes = Log().Matching("openfile ");
    EXPECT_EQ(1, std::count(probes.begin(), probes.end(), system / "Mfc42.dll")) << "only the probe";
}

TEST_F(PlacementTest, AReadOnlyDestinationStopsAtItsEntryAndIsKept) {
    CreateDirectoryA(Install().c_str(), nullptr);
    WriteWholeFile(Dest(5), "a file the user protected");
    SetFileAttributesA(Dest(5).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(0, Run(Install()));
    SetFileAttributesA(Dest(5).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Format("%sが書き込めませんでした。", Dest(5)), OnlyBox().text);
    EXPECT_EQ(UINT(MB_OK), OnlyBox().type);
    EXPECT_EQ("a file the user protected", ReadWholeFile(Dest(5)));
    ExpectInstalled(Install(), 0, 4);
    ExpectNotInstalled(Install(), 6, 13);
    EXPECT_TRUE(tempNames.Surviving().empty());
    ExpectOnlyPackageFiles(Install());
    EXPECT_TRUE(dialog.InInputState());
    EXPECT_TRUE(winExec.CommandLines().empty());
}

TEST_F(PlacementTest, AMissingResourceNamesIndexAndIdentifier) {
    ResourceFaults faults(9010, false, false);
    EXPECT_EQ(0, Run(Install()));
    EXPECT_EQ("Internal error in OnStart():FindResource(7,9010).", OnlyBox().text);
    ExpectInstalled(Install(), 0, 6);
    ExpectNotInstalled(Install(), 7, 13);
    EXPECT_EQ(14u, tempNames.Names().size());
}

TEST_F(PlacementTest, ResourcesThatCannotBeLoadedOrLocked) {
    {
        ResourceFaults faults(0, true, false);
        EXPECT_EQ(0, Run(Install()));
        EXPECT_EQ("Internal error in OnStart():LoadResource().", OnlyBox().text);
    }
    boxes->clear();
    {
        ResourceFaults faults(0, false, true);
        EXPECT_EQ(0, Run(Install()));
        EXPECT_EQ("Internal error in OnStart():LockResource().", OnlyBox().text);
    }
    EXPECT_TRUE(tempNames.Names().empty());
    ExpectNotInstalled(Install(), 0, 0);
}

TEST_F(PlacementTest, NoTemporaryNameStopsBeforeAnyWrite) {
    ImportHook fail("kernel32.dll", "GetTempFileNameA", reinterpret_cast<void *>(&FailTempFileName));
    EXPECT_EQ(0, Run(Install()));
    EXPECT_EQ(Format("一時ファイル%sが作成できませんでした。", TempFolder()), OnlyBox().text);
    ExpectNotInstalled(Install(), 0, 0);
    EXPECT_TRUE(dialog.InInputState());
}

TEST_F(PlacementTest, ATemporaryFileThatCannotBeWrittenIsNamedAndRemoved) {
    ImportHook hook("kernel32.dll", "CreateFileA", reinterpret_cast<void *>(&RefuseTempFile));
    g_originalCreateFile = hook.original_as<decltype(&CreateFileA)>();
    EXPECT_EQ(0, Run(Install()));
    ASSERT_EQ(1u, tempNames.Names().size());
    EXPECT_EQ(Format("一時ファイル%sが作成できませんでした。", tempNames.Names()[0]), OnlyBox().text);
    EXPECT_TRUE(tempNames.Surviving().empty());
}

TEST_F(PlacementTest, ATemporaryFileThatCannotBeOpenedForExpansion) {
    LzFaults lz;
    lz.failRead = true;
    EXPECT_EQ(0, Run(Install()));
    ASSERT_EQ(1u, tempNames.Names().size());
    EXPECT_EQ(Format("一時ファイル%sが読み込めませんでした。", tempNames.Names()[0]), OnlyBox().text);
    EXPECT_TRUE(tempNames.Surviving().empty());
}

TEST_F(PlacementTest, WithoutLz32TheFirstEntryFails) {
    // The system folder is a scratch folder without lz32.dll, and nothing is bound yet.
    g_LZOpenFileA = nullptr;
    g_LZCopy = nullptr;
    g_LZClose = nullptr;
    EXPECT_EQ(0, Run(Install()));
    ASSERT_EQ(1u, tempNames.Names().size());
    EXPECT_EQ(Format("一時ファイル%sが読み込めませんでした。", tempNames.Names()[0]), OnlyBox().text);
    EXPECT_TRUE(tempNames.Surviving().empty());
    EXPECT_EQ(nullptr, g_LZCopy);
}

TEST_F(PlacementTest, AFailedExpansionKeepsTheOldFile) {
    CreateDirectoryA(Install().c_str(), nullptr);
    WriteWholeFile(Dest(0), "an older program");
    LzFaults lz;
    lz.copyResult = LZERROR_WRITE;
    EXPECT_EQ(0, Run(Install()));
    EXPECT_EQ(Format("%sがインストールませんでした。", Dest(0)), OnlyBox().text);
    EXPECT_EQ("an older program", ReadWholeFile(Dest(0)));
    EXPECT_TRUE(tempNames.Surviving().empty());
    ExpectOnlyPackageFiles(Install());

    // LZCopy reports the full length but nothing reaches the new file.
    boxes->clear();
    lz.copyResult = static_cast<LONG>(OriginalOf(0).size());
    EXPECT_EQ(0, Run(Install()));
    EXPECT_EQ(Format("%sがインストールませんでした。", Dest(0)), OnlyBox().text);
    EXPECT_EQ("an older program", ReadWholeFile(Dest(0)));
    EXPECT_TRUE(tempNames.Surviving().empty());
}

TEST_F(PlacementTest, AFileCreatedUnderTheLzFallbackNameIsRemoved) {
    CreateDirectoryA(Install().c_str(), nullptr);
    WriteWholeFile(Dest(0), "an older program");
    LzFaults lz;
    lz.mangleIn = Install();
    EXPECT_EQ(0, Run(Install()));
    EXPECT_EQ(Format("%sが書き込めませんでした。", Dest(0)), OnlyBox().text);
    EXPECT_EQ("an older program", ReadWholeFile(Dest(0)));
    EXPECT_TRUE(tempNames.Surviving().empty());
    ExpectOnlyPackageFiles(Install());
}

// The bound that the run applies to the folder is the platform's: the file an
// entry is expanded into must be opened through the open-file record too.
TEST_F(PlacementTest, TheOpenFileRecordLimitsTheDestinationPath) {
    char launch[MAX_PATH] = {};
    const int backdrop = 4;  // "Backdrop.gif", the longest name
    ASSERT_EQ(12, lstrlenA(PackageTable[backdrop].fileName));
    std::string fits = scratch / std::string(127 - 12 - 1 - scratch.path().size() - 1, 'a');
    std::string over = fits + std::string(5, 'b');  // even "ZIN1.tmp" reaches 128 bytes
    CreateDirectoryA(fits.c_str(), nullptr);
    CreateDirectoryA(over.c_str(), nullptr);
    EXPECT_EQ(1, PlaceEntry(backdrop, fits.c_str(), 0, 0, launch));
    ExpectInstalled(fits, backdrop, backdrop);
    EXPECT_EQ(0, PlaceEntry(backdrop, over.c_str(), 0, 0, launch));
    EXPECT_EQ(Format("%sが書き込めませんでした。", over + "\\Backdrop.gif"), OnlyBox().text);
    EXPECT_TRUE(tempNames.Surviving().empty());
    EXPECT_TRUE(ListFolder(over).empty());
}

}  // namespace
