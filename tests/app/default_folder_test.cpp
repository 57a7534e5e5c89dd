// The proposed folder and the registry reads behind it, against the registry
// of the test prefix (inside a sandbox key, see registry_fixture.h).
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "import_hook.h"
#include "platform_hooks.h"
#include "installer_dialog.h"
#include "registry_fixture.h"

namespace {

const char kSettings[] = "Software\\Ostrevan\\ZORVIK\\Settings\\ExePath";
const char kProgramFiles[] = "Software\\Microsoft\\Windows\\CurrentVersion\\ProgramFilesDir";
const size_t kGuard = 64;   // bytes past the MAX_PATH buffer that must stay untouched
const char kCanary = '\x7F';

// A MAX_PATH buffer followed by a guard zone.
struct GuardedBuffer {
    std::vector<char> bytes = std::vector<char>(MAX_PATH + kGuard, kCanary);
    char *data() { return bytes.data(); }
    bool GuardIntact() const {
        for (size_t i = MAX_PATH; i < bytes.size(); i++)
            if (bytes[i] != kCanary) return false;
        return true;
    }
    bool TerminatedInside() const { return std::memchr(bytes.data(), 0, MAX_PATH) != nullptr; }
    std::string Text() const { return TerminatedInside() ? std::string(bytes.data()) : "<unterminated>"; }
};

// GetWindowsDirectoryA as a test wants it.
enum class WindowsFolder { Fails, TooSmallBuffer, Given };

class DefaultFolder : public testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(reg.ClosedNewestFirst()); }

    std::string Proposal() {
        GuardedBuffer buffer;
        UnderTest([&] { GetDefaultInstallFolder(buffer.data()); });
        EXPECT_TRUE(buffer.GuardIntact());
        EXPECT_TRUE(buffer.TerminatedInside());
        return buffer.Text();
    }

    void UseWindowsFolder(WindowsFolder mode, const std::string &folder = "") {
        if (!windowsHook_) windowsHook_.emplace(WindowsDirectory::Install("kernel32.dll", "GetWindowsDirectoryA"));
        WindowsDirectory::base = [mode, folder](LPSTR buffer, UINT size) -> UINT {
            switch (mode) {
            case WindowsFolder::Fails:
                return 0;
            case WindowsFolder::TooSmallBuffer:
                std::memset(buffer, 'W', size);  // contents undefined: no terminator
                return size + 40;
            default:
                lstrcpynA(buffer, folder.c_str(), size);
                return static_cast<UINT>(folder.size());
            }
        };
    }

    RegistrySandbox reg;

private:
    std::optional<Hooks::Installed> windowsHook_;
};

TEST_F(DefaultFolder, RecordedFolderIsTheProposalUnchanged) {
    reg.SetString(reg.localMachine(), kProgramFiles, "D:\\Programs");
    for (const std::string folder : {"D:\\Mine\\Zorvik Data\\", "C:\\ソフト\\表", "relative"}) {
        reg.SetString(reg.currentUser(), kSettings, folder);
        EXPECT_EQ(Proposal(), folder);
    }
    EXPECT_EQ(reg.opened().size(), 3u * 4u);  // never reached the machine's key
}

TEST_F(DefaultFolder, EmptyRecordedFolderGivesAnEmptyProposal) {
    reg.SetString(reg.localMachine(), kProgramFiles, "D:\\Programs");
    reg.SetString(reg.currentUser(), kSettings, "");
    EXPECT_EQ(Proposal(), "");
}

TEST_F(DefaultFolder, ProgramFilesFolderGetsTheFolderName) {
    reg.SetString(reg.localMachine(), kProgramFiles, "D:\\Programs");
    EXPECT_EQ(Proposal(), "D:\\Programs\\Zorvik");
    // A recorded folder longer than the buffer counts as missing.
    reg.SetString(reg.currentUser(), kSettings, "C:\\" + std::string(300, 'x'));
    EXPECT_EQ(Proposal(), "D:\\Programs\\Zorvik");
    // So does a recorded value that is not there under its own name.
    reg.SetString(reg.currentUser(), "Software\\Ostrevan\\ZORVIK\\Settings\\Other", "E:\\Elsewhere");
    RegDeleteKeyValueA(reg.currentUser(), "Software\\Ostrevan\\ZORVIK\\Settings", "ExePath");
    EXPECT_EQ(Proposal(), "D:\\Programs\\Zorvik");
}

TEST_F(DefaultFolder, ProgramFilesFolderMustLeaveRoomForTheFolderName) {
    UseWindowsFolder(WindowsFolder::Given, "E:\\WIN");
    const std::string fits = "D:\\" + std::string(MAX_PATH - 1 - 7 - 3, 'p');   // 252 + "\Zorvik" = 259
    reg.SetString(reg.localMachine(), kProgramFiles, fits);
    EXPECT_EQ(Proposal(), fits + "\\Zorvik");
    reg.SetString(reg.localMachine(), kProgramFiles, fits + "p");
    EXPECT_EQ(Proposal(), "E:\\Program Files\\Zorvik");
}

TEST_F(DefaultFolder, WindowsFolderGivesTheDriveWhenNothingIsRecorded) {
    UseWindowsFolder(WindowsFolder::Given, "E:\\WIN");
    EXPECT_EQ(Proposal(), "E:\\Program Files\\Zorvik");
    UseWindowsFolder(WindowsFolder::Given, "D:\\WINNT\\SYSTEM");
    EXPECT_EQ(Proposal(), "D:\\Program Files\\Zorvik");
    UseWindowsFolder(WindowsFolder::Fails);
    EXPECT_EQ(Proposal(), "C:\\Program Files\\Zorvik");
    // No backslash: there is no drive root to keep.
    UseWindowsFolder(WindowsFolder::Given, "WINDOWS");
    EXPECT_EQ(Proposal(), "C:\\Program Files\\Zorvik");
    // A buffer too small: the platform leaves it unterminated.
    UseWindowsFolder(WindowsFolder::TooSmallBuffer);
    EXPECT_EQ(Proposal(), "C:\\Program Files\\Zorvik");
    // A root too long to take the rest of the proposal.
    UseWindowsFolder(WindowsFolder::Given, std::string(250, 'r') + "\\WIN");
    EXPECT_EQ(Proposal(), "C:\\Program Files\\Zorvik");
}

TEST_F(DefaultFolder, RealWindowsFolderOfThePrefix) {
    EXPECT_EQ(Proposal(), "C:\\Program Files\\Zorvik");
}

TEST(DefaultFolderRealRegistry, ProgramFilesDirOfThePrefix) {
    GuardedBuffer buffer;
    ASSERT_EQ(ReadRegistryValue(buffer.data(), HKEY_LOCAL_MACHINE, kProgramFiles), 1);
    EXPECT_EQ(buffer.Text(), "C:\\Program Files");
}

class ReadValue : public DefaultFolder {
protected:
    // Reads `path` below the current-user stand-in; the text when the result is 1.
    int Read(const std::string &path, std::string *text = nullptr) {
        GuardedBuffer buffer;
        int result = UnderTest([&] { return ReadRegistryValue(buffer.data(), reg.currentUser(), path.c_str()); });
        EXPECT_TRUE(buffer.GuardIntact()) << path.substr(0, 40);
        if (result == 1) {
            EXPECT_TRUE(buffer.TerminatedInside()) << path.substr(0, 40);
            if (text) *text = buffer.Text();
        }
        return result;
    }
};

TEST_F(ReadValue, DataSizesAndTypes) {
    struct Case {
        const char *what;
        DWORD type;
        std::string data;
        int result;
        std::string text;
    };
    const std::string a259(259, 'a'), a260(260, 'a');
    const Case cases[] = {
        {"string of 259 bytes with terminator", REG_SZ, a259 + '\0', 1, a259},
        {"string of 260 bytes with terminator", REG_SZ, a260 + '\0', 0, ""},
        {"binary of 259 bytes, no terminator", REG_BINARY, a259, 1, a259},
        {"binary of 260 bytes, no terminator", REG_BINARY, a260, 0, ""},
        {"binary of 260 bytes ending in a terminator", REG_BINARY, a259 + '\0', 1, a259},
        {"binary of 260 bytes with an early terminator", REG_BINARY,
         std::string(100, 'x') + '\0' + std::string(159, 'y'), 1, std::string(100, 'x')},
        {"dword with a zero high byte", REG_DWORD, std::string("ABC\0", 4), 1, "ABC"},
        {"dword without zero bytes", REG_DWORD, "ABCD", 1, "ABCD"},
        {"empty string without any byte", REG_SZ, "", 1, ""},
        {"multi-string", REG_MULTI_SZ, std::string("a\0b\0\0", 5), 1, "a"},
        {"binary of 1000 bytes", REG_BINARY, std::string(1000, 'z'), 0, ""},
    };
    for (const Case &c : cases) {
        reg.Set(reg.currentUser(), "Key\\Value", c.type, c.data);
        std::string text;
        reg.ClearLog();
        EXPECT_EQ(Read("Key\\Value", &text), c.result) << c.what;
        if (c.result == 1) {
            EXPECT_EQ(text, c.text) << c.what;
        }
        EXPECT_TRUE(reg.ClosedNewestFirst()) << c.what;
        EXPECT_EQ(reg.opened().size(), 1u) << c.what;
    }
    // A string stored without its terminator: whatever the platform hands
    // back, the result is a terminated string inside the buffer or nothing.
    for (size_t n : {259u, 260u}) {
        reg.Set(reg.currentUser(), "Key\\Value", REG_SZ, std::string(n, 's'));
        std::string text;
        if (Read("Key\\Value", &text) == 1) {
            EXPECT_LE(text.size(), 259u);
        }
    }
}

TEST_F(ReadValue, MissingKeysAtEachLevelAreClosedNewestFirst) {
    const std::string path = "L1\\L2\\L3\\Value";
    const char *levels[] = {"", "L1", "L1\\L2", "L1\\L2\\L3"};
    for (int depth = 0; depth < 4; depth++) {
        if (depth > 0) reg.CreateKeys(reg.currentUser(), levels[depth]);
        reg.ClearLog();
        EXPECT_EQ(Read(path), 0) << depth;
        EXPECT_EQ(reg.opened().size(), static_cast<size_t>(depth));
        EXPECT_TRUE(reg.ClosedNewestFirst()) << depth;
    }
    reg.SetString(reg.currentUser(), path, "found");
    reg.ClearLog();
    std::string text;
    EXPECT_EQ(Read(path, &text), 1);
    EXPECT_EQ(text, "found");
    EXPECT_EQ(reg.opened().size(), 3u);
    EXPECT_TRUE(reg.ClosedNewestFirst());
}

TEST_F(ReadValue, AtMostNineteenKeyNames) {
    std::string keys;
    for (int i = 1; i <= 20; i++) keys += (i > 1 ? "\\K" : "K") + std::to_string(i);
    reg.CreateKeys(reg.currentUser(), keys);
    std::string nineteen = keys.substr(0, keys.rfind('\\'));
    reg.SetString(reg.currentUser(), nineteen + "\\V", "deep");
    reg.SetString(reg.currentUser(), keys + "\\V", "too deep");

    reg.ClearLog();
    std::string text;
    EXPECT_EQ(Read(nineteen + "\\V", &text), 1);
    EXPECT_EQ(text, "deep");
    EXPECT_EQ(reg.opened().size(), 19u);
    EXPECT_TRUE(reg.ClosedNewestFirst());

    reg.ClearLog();
    EXPECT_EQ(Read(keys + "\\V"), 0);
    EXPECT_EQ(reg.openCalls(), 0) << "a path too deep is refused before anything is opened";
}

TEST_F(ReadValue, SegmentsMustFitTheBuffer) {
    const std::string name259(259, 'v'), name260(260, 'v');
    reg.SetString(reg.currentUser(), "K\\" + name259, "long name");
    reg.SetString(reg.currentUser(), "K\\" + name260, "longer name");
    std::string text;
    EXPECT_EQ(Read("K\\" + name259, &text), 1);
    EXPECT_EQ(text, "long name");

    reg.ClearLog();
    EXPECT_EQ(Read("K\\" + name260), 0);
    EXPECT_EQ(Read(std::string(260, 'k') + "\\V"), 0);
    EXPECT_EQ(Read("K\\" + std::string(300, 'k') + "\\V"), 0);
    EXPECT_EQ(reg.openCalls(), 0);
}

TEST_F(ReadValue, PathForms) {
    std::string text;
    // No backslash: a value straight under the root, nothing opened.
    reg.SetString(reg.currentUser(), "Direct", "under the root");
    EXPECT_EQ(Read("Direct", &text), 1);
    EXPECT_EQ(text, "under the root");
    EXPECT_EQ(reg.openCalls(), 0);
    // Empty value name: the key's default value.
    reg.SetString(reg.currentUser(), "Key\\", "default");
    EXPECT_EQ(Read("Key\\", &text), 1);
    EXPECT_EQ(text, "default");
    // Key names whose double-byte characters end in the byte of a backslash
    // (ソ = 83 5C, 表 = 95 5C) are opened whole.
    reg.SetString(reg.currentUser(), "ソフト\\表\\Value", "dbcs");
    reg.ClearLog();
    EXPECT_EQ(Read("ソフト\\表\\Value", &text), 1);
    EXPECT_EQ(text, "dbcs");
    EXPECT_EQ(reg.openCalls(), 2);
}

}  // namespace
