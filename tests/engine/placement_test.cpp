// Placement of the sixteen entries: expansion through a temporary file into
// new files beside the destinations, the system-folder rule, putting them in
// place all or none, and every failure of the chain with its message.
#include "engine_test_support.h"
#include "platform_hooks.h"

#include <algorithm>
#include <thread>

namespace {


// The LZ functions hooked: the real LZ32 unless a test answers or fails a call.
struct LzHooks {
    Hooks::Installed copy = LzCopy::InstallPointer(&g_LZCopy, "LZCopy");
};

// The resource functions; a test chooses which call fails.
struct ResourceFaults {
    Hooks::Installed find = FindResourceHook::Install("kernel32.dll", "FindResourceA");
    Hooks::Installed load = LoadResourceHook::Install("kernel32.dll", "LoadResource");
    Hooks::Installed lock = LockResourceHook::Install("kernel32.dll", "LockResource");
    ResourceFaults() {
        FindResourceHook::fail = [](int, HMODULE, LPCSTR, LPCSTR) -> HRSRC { return nullptr; };
        LoadResourceHook::fail = [](int, HMODULE, HRSRC) -> HGLOBAL { return nullptr; };
        LockResourceHook::fail = [](int, HGLOBAL) -> LPVOID { return nullptr; };
    }
};

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
    ExpectInstalled(Install(), 0, kLastFolderEntry);
    ExpectInstalled(system.path(), kFirstSystemEntry, kLastEntry);
    ExpectNotInstalled(Install(), kFirstSystemEntry, kLastEntry);
    // Per entry, one name in the temporary folder and one beside the destination.
    EXPECT_EQ(32u, TempNames().size());
    EXPECT_TRUE(SurvivingTempNames().empty());
    ExpectOnlyPackageFiles(Install());
    ExpectOnlyPackageFiles(system.path());
    EXPECT_EQ(0, PackageTable[kFirstSystemEntry].overwrite);
    EXPECT_EQ(0, PackageTable[kLastEntry].overwrite);
}

TEST_F(PlacementTest, EveryRunReplacesTheInstallationFolderFiles) {
    CreateDirectoryA(Install().c_str(), nullptr);
    for (int i = 0; i < kFirstSystemEntry; ++i)
        WriteWholeFile(Dest(i), std::string(400000, 'x'));  // longer than any of them
    ASSERT_EQ(1, Run(Install()));
    ExpectInstalled(Install(), 0, kLastFolderEntry);
}

TEST_F(PlacementTest, ARuntimeLibraryInTheSystemFolderGetsAPrivateCopy) {
    // The last library is in the system folder; the first one is absent.
    const int present = kLastEntry, absent = kFirstSystemEntry;
    std::string systemCopy = system / PackageTable[present].fileName;
    WriteWholeFile(systemCopy, "the system's own copy");
    ASSERT_EQ(1, Run(Install()));
    EXPECT_EQ("the system's own copy", ReadWholeFile(systemCopy));
    ExpectInstalled(Install(), present, present);
    ExpectInstalled(system.path(), absent, absent);
    ExpectNotInstalled(Install(), absent, absent);
    EXPECT_EQ(1, PackageTable[present].overwrite);
    EXPECT_EQ(0, PackageTable[absent].overwrite);

    // The next run finds both in the system folder: two private copies, the
    // system's files untouched, a changed private copy replaced.
    std::string systemAbsent = ReadWholeFile(system / PackageTable[absent].fileName);
    WriteWholeFile(Dest(present), "stale private copy");
    ASSERT_EQ(1, Run(Install()));
    EXPECT_EQ("the system's own copy", ReadWholeFile(systemCopy));
    EXPECT_EQ(systemAbsent, ReadWholeFile(system / PackageTable[absent].fileName));
    ExpectInstalled(Install(), kFirstSystemEntry, kLastEntry);
    EXPECT_TRUE(SurvivingTempNames().empty());
}

// Another installer puts a library into the system folder after the run
// looked for it: the program gets its private copy, as if the library had
// been there from the start, and the other installer's file stays.
TEST_F(PlacementTest, ALibraryThatAppearsBeforeItIsPlacedGetsAPrivateCopy) {
    const std::string library = system / PackageTable[kLastEntry].fileName;
    const std::string program = Dest(0);
    CreateFileHook::inspect = [&](CallRecord &r, LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                                  DWORD, HANDLE) {
        r.path = path;
        // The program's old file opened to be replaced: placing has begun.
        if (program == path && access & DELETE && !FileExists(library))
            WriteWholeFile(library, "another installer's copy");
    };
    ASSERT_EQ(1, Run(Install()));
    EXPECT_TRUE(boxes->boxes().empty());
    EXPECT_EQ("another installer's copy", ReadWholeFile(library));
    ExpectInstalled(Install(), kLastEntry, kLastEntry);
    ExpectInstalled(system.path(), kFirstSystemEntry, kLastEntry - 1);
    ExpectOnlyPackageFiles(system.path());
    EXPECT_EQ(1, PackageTable[kLastEntry].overwrite);
    EXPECT_TRUE(SurvivingTempNames().empty());
}

TEST_F(PlacementTest, TheChangedFlagLastsForLaterRunsInTheProcess) {
    const std::string library = system / PackageTable[kLastEntry].fileName;
    WriteWholeFile(library, "old");
    ASSERT_EQ(1, Run(Install()));
    ASSERT_EQ(1, PackageTable[kLastEntry].overwrite);

    // With the system copy gone, the entry goes back to the system folder,
    // written without the existence test.
    DeleteFileA(library.c_str());
    Hooks::Installed open = OpenFileHook::Install("kernel32.dll", "OpenFile");
    OpenFileHook::inspect = [](CallRecord &r, LPCSTR path, LPOFSTRUCT, UINT) { r.path = path; };
    ASSERT_EQ(1, Run(Install()));
    ExpectInstalled(system.path(), kLastEntry, kLastEntry);
    std::vector<std::string> probes = Hooks::Paths({&OpenFileHook::counter});
    EXPECT_EQ(1, std::count(probes.begin(), probes.end(), library)) << "only the probe";
}

// A file that cannot be replaced stops the run at its entry, and the files
// placed before it go back: the folder and the system folder are as found.
TEST_F(PlacementTest, AReadOnlyDestinationStopsAtItsEntryAndTheFilesBeforeItGoBack) {
    CreateDirectoryA(Install().c_str(), nullptr);
    WriteWholeFile(Dest(0), "an older program");
    WriteWholeFile(Dest(5), "a file the user protected");
    SetFileAttributesA(Dest(5).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(0, Run(Install()));
    SetFileAttributesA(Dest(5).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Format("%sが書き込めませんでした。", Dest(5)), OnlyBox().text);
    EXPECT_EQ(UINT(MB_OK), OnlyBox().type);
    EXPECT_EQ("a file the user protected", ReadWholeFile(Dest(5)));
    EXPECT_EQ("an older program", ReadWholeFile(Dest(0)));
    EXPECT_EQ(2u, ListFolder(Install()).size());
    EXPECT_TRUE(ListFolder(system.path()).empty());
    EXPECT_TRUE(SurvivingTempNames().empty());
    EXPECT_TRUE(dialog.InInputState());
    EXPECT_TRUE(CommandLines().empty());
}

// Another program holding a file without sharing its deletion: a moment is
// waited for; a hold that outlasts the patience is named, and the
// installation stays as it was.
TEST_F(PlacementTest, AHeldFileIsWaitedForAndNamedWhenItStaysHeld) {
    CreateDirectoryA(Install().c_str(), nullptr);
    for (int i = 0; i <= kLastFolderEntry; ++i) WriteWholeFile(Dest(i), "older " + std::to_string(i));
    const DWORD saved = g_HeldPatience;
    g_HeldPatience = 1500;
    HANDLE held = CreateFileA(Dest(7).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(0, Run(Install()));
    EXPECT_EQ(Format("%sは他のプログラムが使用中です。そのプログラムを終了してから、もう一度「インストール開始」をクリックしてください。",
                     Dest(7)),
              OnlyBox().text);
    for (int i = 0; i <= kLastFolderEntry; ++i) EXPECT_EQ("older " + std::to_string(i), ReadWholeFile(Dest(i)));
    EXPECT_EQ(size_t(kLastFolderEntry + 1), ListFolder(Install()).size());
    EXPECT_TRUE(ListFolder(system.path()).empty());
    // Asked again at intervals, not in a busy loop.
    std::vector<std::string> opened = Hooks::Paths({&CreateFileHook::counter});
    const auto tries = std::count(opened.begin(), opened.end(), Dest(7));
    EXPECT_GE(tries, 5);
    EXPECT_LE(tries, 30);

    // Let go half a second into the next run: it completes.
    boxes->clear();
    std::thread release([held] { Sleep(500); CloseHandle(held); });
    EXPECT_EQ(1, Run(Install()));
    release.join();
    g_HeldPatience = saved;
    EXPECT_TRUE(boxes->boxes().empty());
    ExpectInstalled(Install(), 0, kLastFolderEntry);
    ExpectOnlyPackageFiles(Install());
}

// What a killed run left beside the destinations goes with the next run;
// what a live run holds, and names that are not the run's, stay.
TEST_F(PlacementTest, TheNextRunRemovesWhatAKilledRunLeft) {
    CreateDirectoryA(Install().c_str(), nullptr);
    const std::string left = Install() + "\\ZIN01AF.tmp", leftInSystem = system / "ZINBEEF.tmp";
    const std::string live = Install() + "\\ZIN0002.tmp", other = Install() + "\\ZINotes.tmp";
    for (const std::string &f : {left, leftInSystem, live, other}) WriteWholeFile(f, "x");
    HANDLE held = CreateFileA(live.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(1, Run(Install()));
    CloseHandle(held);
    EXPECT_FALSE(FileExists(left));
    EXPECT_FALSE(FileExists(leftInSystem));
    EXPECT_TRUE(FileExists(live));
    EXPECT_TRUE(FileExists(other));
    EXPECT_TRUE(IsRunName("zin01af.TMP"));
    EXPECT_FALSE(IsRunName("ZIN01AG.tmp"));
    EXPECT_FALSE(IsRunName("ZIN01A.tmp"));
}

// Every payload is looked up before the run makes anything.
TEST_F(PlacementTest, AMissingPayloadStopsTheRunBeforeAnythingIsMade) {
    const int missing = 7;
    ResourceFaults faults;
    FindResourceHook::counter.failAt = missing + 1;   // one lookup per entry
    EXPECT_EQ(0, Run(Install()));
    EXPECT_EQ("Internal error in OnStart():FindResource(" + std::to_string(missing) + "," +
                  std::to_string(PackageTable[missing].resourceId) + ").",
              OnlyBox().text);
    EXPECT_FALSE(FolderExists(Install()));
    EXPECT_TRUE(TempNames().empty());
    EXPECT_TRUE(dialog.InInputState());
}

TEST_F(PlacementTest, ResourcesThatCannotBeLoadedOrLocked) {
    {
        ResourceFaults faults;
        LoadResourceHook::counter.failAt = 1;
        EXPECT_EQ(0, Run(Install()));
        EXPECT_EQ("Internal error in OnStart():LoadResource().", OnlyBox().text);
    }
    boxes->clear();
    {
        ResourceFaults faults;
        LockResourceHook::counter.failAt = 1;
        EXPECT_EQ(0, Run(Install()));
        EXPECT_EQ("Internal error in OnStart():LockResource().", OnlyBox().text);
    }
    EXPECT_TRUE(TempNames().empty());
    ExpectNotInstalled(Install(), 0, 0);
}

TEST_F(PlacementTest, NoTemporaryNameStopsBeforeAnyWrite) {
    TempFileName::FailNext([](int, LPCWSTR, LPCWSTR, UINT, LPWSTR) -> UINT {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    });
    EXPECT_EQ(0, Run(Install()));
    EXPECT_EQ(Format("一時ファイル%sが作成できませんでした。", TempFolder()), OnlyBox().text);
    ExpectNotInstalled(Install(), 0, 0);
    EXPECT_TRUE(dialog.InInputState());
}

TEST_F(PlacementTest, ACopyThatCannotBeCreatedWrittenOrReadIsNamedAndLeavesNothing) {
    {
        Hooks::Installed create = CreateWideFile::Install("kernel32.dll", "CreateFileW");
        CreateWideFile::FailNext([](int, LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        });
        EXPECT_EQ(0, Run(Install()));
    }
    {
        Hooks::Installed write = WriteFileHook::Install("kernel32.dll", "WriteFile");
        WriteFileHook::FailNext([](int, HANDLE, LPCVOID, DWORD, LPDWORD done, LPOVERLAPPED) {
            *done = 0;
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        });
        EXPECT_EQ(0, Run(Install()));
    }
    LzHooks lz;
    Hooks::Installed init = LzInit::InstallPointer(&g_LZInit, "LZInit");
    LzInit::FailNext([](int, INT) -> INT { return LZERROR_BADINHANDLE; });
    EXPECT_EQ(0, Run(Install()));

    const std::vector<std::string> names = TempNames();
    ASSERT_EQ(3u, names.size());
    ASSERT_EQ(3u, boxes->boxes().size());
    EXPECT_EQ(Format("一時ファイル%sが作成できませんでした。", names[0]), boxes->boxes()[0].text);
    EXPECT_EQ(Format("一時ファイル%sが作成できませんでした。", names[1]), boxes->boxes()[1].text);
    EXPECT_EQ(Format("一時ファイル%sが読み込めませんでした。", names[2]), boxes->boxes()[2].text);
    EXPECT_TRUE(SurvivingTempNames().empty());
    EXPECT_TRUE(TempFiles().empty());
    ExpectNotInstalled(Install(), 0, 0);
}

// Every program of the user may write the temporary folder. While the run
// expands its copy of a payload, nothing else can open, replace or delete
// it; a name that is already taken is never opened; and the copy is gone
// once its handle closes.
TEST_F(PlacementTest, ThePayloadCopyIsReachedOnlyThroughItsOwnHandle) {
    const std::string taken = TempFolder() + "ZINtaken.tmp";
    WriteWholeFile(taken, "another program's file");
    const std::string other = scratch / "other.sz";
    WriteWholeFile(other, OriginalOf(0));
    TempFileName::base = [&](LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name) -> UINT {
        if (TempFileName::counter.calls == 1) {
            lstrcpyW(name, Wide(taken).c_str());
            return unique;
        }
        return TempFileName::real(folder, prefix, unique, name);
    };
    LzHooks lz;
    std::vector<std::string> reached;
    LzCopy::base = [&](INT source, INT target) {
        const std::wstring copy = Wide(Hooks::Calls({&TempFileName::counter}).back().output);
        HANDLE h = CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) reached.push_back("opened"), CloseHandle(h);
        if (MoveFileExW(Wide(other).c_str(), copy.c_str(), MOVEFILE_REPLACE_EXISTING)) reached.push_back("replaced");
        if (DeleteFileW(copy.c_str())) reached.push_back("deleted");
        return LzCopy::real(source, target);
    };
    ASSERT_EQ(1, Run(Install()));
    EXPECT_TRUE(reached.empty()) << reached.front();
    EXPECT_EQ("another program's file", ReadWholeFile(taken));
    DeleteFileA(taken.c_str());
    ExpectInstalled(Install(), 0, kLastFolderEntry);
    EXPECT_EQ(size_t(PACKAGE_ENTRY_COUNT + 1), Hooks::Calls({&TempFileName::counter}).size());
    EXPECT_TRUE(SurvivingTempNames().empty());
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(PlacementTest, WithoutLz32TheFirstEntryFails) {
    // The system folder is a scratch folder without lz32.dll, and nothing is bound yet.
    g_LZCopy = nullptr;
    g_LZClose = nullptr;
    g_LZInit = nullptr;
    EXPECT_EQ(0, Run(Install()));
    ASSERT_EQ(1u, TempNames().size());
    EXPECT_EQ(Format("一時ファイル%sが読み込めませんでした。", TempNames()[0]), OnlyBox().text);
    EXPECT_TRUE(SurvivingTempNames().empty());
    EXPECT_EQ(nullptr, g_LZCopy);
}

TEST_F(PlacementTest, AFailedExpansionKeepsTheOldFile) {
    CreateDirectoryA(Install().c_str(), nullptr);
    WriteWholeFile(Dest(0), "an older program");
    LzHooks lz;
    LzCopy::FailNext([](int, INT, INT) -> LONG { return LZERROR_WRITE; });
    EXPECT_EQ(0, Run(Install()));
    EXPECT_EQ(Format("%sがインストールませんでした。", Dest(0)), OnlyBox().text);
    EXPECT_EQ("an older program", ReadWholeFile(Dest(0)));
    EXPECT_TRUE(SurvivingTempNames().empty());
    ExpectOnlyPackageFiles(Install());

    // LZCopy reports the full length but nothing reaches the new file.
    boxes->clear();
    const LONG length = static_cast<LONG>(OriginalOf(0).size());
    LzCopy::FailNext([length](int, INT, INT) { return length; });
    EXPECT_EQ(0, Run(Install()));
    EXPECT_EQ(Format("%sがインストールませんでした。", Dest(0)), OnlyBox().text);
    EXPECT_EQ("an older program", ReadWholeFile(Dest(0)));
    EXPECT_TRUE(SurvivingTempNames().empty());
}

}  // namespace
