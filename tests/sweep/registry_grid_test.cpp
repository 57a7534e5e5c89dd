// The proposed folder over a grid of registry inputs: the settings key missing
// at each level or holding values of every awkward size and type, crossed with
// the same for the program-files value and with unusual Windows folders. The
// settings key is the prefix's real one (restored afterwards); the program-
// files value is read from a stand-in key that takes the machine root's place,
// so the prefix's machine settings are never changed. Then every registry call
// of a few of these inputs is made to fail in turn.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "installer_dialog.h"
#include "sweep_support.h"
#include "platform_hooks.h"

namespace {

const char kSettingsKeys[] = "Software\\Ostrevan\\ZORVIK\\Settings";
const char *const kSettingsLevels[] = {"Software\\Ostrevan", "Software\\Ostrevan\\ZORVIK",
                                       "Software\\Ostrevan\\ZORVIK\\Settings"};
const char kMachineKeys[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char *const kMachineLevels[] = {"Software", "Software\\Microsoft", "Software\\Microsoft\\Windows",
                                      "Software\\Microsoft\\Windows\\CurrentVersion"};

struct Value {
    const char *what;
    DWORD type;
    std::string data;
};

std::vector<Value> Values() {
    const std::string sJis = "D:\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C";   // D:\ソフト\表
    std::vector<Value> v;
    for (size_t n : {0u, 1u, 200u, 252u, 253u, 258u, 259u, 260u, 261u, 300u, 1000u})
        v.push_back({"REG_SZ with terminator", REG_SZ, std::string(n, 'd') + '\0'});
    for (size_t n : {1u, 259u, 260u, 261u})
        v.push_back({"REG_SZ without terminator", REG_SZ, std::string(n, 's')});
    v.push_back({"REG_SZ in cp932", REG_SZ, sJis + '\0'});
    v.push_back({"REG_EXPAND_SZ", REG_EXPAND_SZ, "%SystemDrive%\\Apps" + std::string(1, '\0')});
    v.push_back({"REG_MULTI_SZ", REG_MULTI_SZ, std::string("E:\\One\0E:\\Two\0\0", 16)});
    for (size_t n : {0u, 4u, 258u, 259u, 260u, 261u, 1000u})
        v.push_back({"REG_BINARY without zero", REG_BINARY, std::string(n, 'b')});
    v.push_back({"REG_BINARY of 260 ending in zero", REG_BINARY, std::string(259, 'b') + '\0'});
    v.push_back({"REG_BINARY with an early zero", REG_BINARY, "F:\\Bin" + std::string(1, '\0') + std::string(290, 'x')});
    v.push_back({"REG_BINARY ending in a lead byte", REG_BINARY, std::string(258, 'l') + '\x83'});
    v.push_back({"REG_DWORD with zero bytes", REG_DWORD, std::string("AB\0\0", 4)});
    v.push_back({"REG_DWORD without zero bytes", REG_DWORD, "ABCD"});
    return v;
}

// A state of one value: missing at key level k (0..levels), or present.
struct State {
    int missingLevel = -1;   // -1: the value exists
    const Value *value = nullptr;
    std::string Describe() const {
        return missingLevel >= 0 ? "missing from level " + std::to_string(missingLevel)
                                 : std::string(value->what) + " of " + std::to_string(value->data.size()) + " bytes";
    }
};


std::vector<HKEY> g_open;
HKEY g_machine = nullptr;       // stands in for HKEY_LOCAL_MACHINE
std::string g_windows;          // what GetWindowsDirectoryA answers ("" = fails)
std::vector<Hooks::Installed> g_hooks;

void InstallHooks() {
    g_hooks.push_back(RegOpen::Install("advapi32.dll", "RegOpenKeyExA"));
    RegOpen::counter.variants = {"ERROR_ACCESS_DENIED"};
    RegOpen::base = [](HKEY parent, LPCSTR name, DWORD options, REGSAM sam, PHKEY out) -> LONG {
        if (parent == HKEY_LOCAL_MACHINE) parent = g_machine;
        return RegOpen::real(parent, name, options, sam, out);
    };
    RegOpen::inspect = [](CallRecord &r, HKEY, LPCSTR name, DWORD, REGSAM, PHKEY) {
        r.path = Hooks::CheckedPath(RegOpen::counter, name);
    };
    RegOpen::fail = [](int, HKEY, LPCSTR, DWORD, REGSAM, PHKEY out) -> LONG {
        *out = reinterpret_cast<HKEY>(0x0BAD0000);
        return ERROR_ACCESS_DENIED;
    };
    RegOpen::after = [](CallRecord &r, LONG status, HKEY, LPCSTR, DWORD, REGSAM, PHKEY out) {
        if (!r.faulted && status == ERROR_SUCCESS) g_open.push_back(*out);
    };
    g_hooks.push_back(RegQuery::Install("advapi32.dll", "RegQueryValueExA"));
    RegQuery::counter.variants = {"ERROR_MORE_DATA, buffer filled without terminator"};
    RegQuery::inspect = [](CallRecord &r, HKEY, LPCSTR name, LPDWORD reserved, LPDWORD, LPBYTE, LPDWORD size) {
        r.path = Hooks::CheckedPath(RegQuery::counter, name);
        if (reserved) Hooks::Violation("RegQueryValueExA with a reserved pointer");
        if (!size || *size > MAX_PATH) Hooks::Violation("RegQueryValueExA given more than MAX_PATH bytes");
    };
    RegQuery::fail = [](int, HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE data, LPDWORD size) -> LONG {
        if (data && size) std::memset(data, 'R', *size);
        return ERROR_MORE_DATA;
    };
    g_hooks.push_back(RegClose::Install("advapi32.dll", "RegCloseKey"));
    RegClose::inspect = [](CallRecord &, HKEY key) {
        if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) Hooks::Violation("a root key was closed");
        if (g_open.empty() || g_open.back() != key) {
            Hooks::Violation("RegCloseKey of a key that is not the newest open one");
            return;
        }
        g_open.pop_back();
    };
    g_hooks.push_back(WindowsDirectory::Install("kernel32.dll", "GetWindowsDirectoryA"));
    WindowsDirectory::counter.variants = {"0, buffer filled without terminator"};
    WindowsDirectory::base = [](LPSTR b, UINT n) -> UINT {
        if (n > MAX_PATH) Hooks::Violation("GetWindowsDirectoryA given more than MAX_PATH");
        if (g_windows.empty()) {
            std::memset(b, 'W', n);
            return 0;
        }
        return Hooks::AnswerFolder(g_windows, b, n);
    };
    WindowsDirectory::fail = [](int, LPSTR b, UINT n) -> UINT {
        std::memset(b, 'W', n);
        return 0;
    };
}

// Puts `state` under `root`: the keys up to its missing level, or all keys and the value.
void Apply(HKEY root, const char *const *levels, int levelCount, const char *valueName, const State &state) {
    RegDeleteTreeA(root, levels[0]);
    int create = state.missingLevel >= 0 ? state.missingLevel : levelCount;
    for (int i = 0; i < create; ++i) {
        HKEY k;
        if (RegCreateKeyExA(root, levels[i], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) == ERROR_SUCCESS)
            RegCloseKey(k);
    }
    if (state.missingLevel < 0) {
        HKEY k;
        ASSERT_EQ(RegOpenKeyExA(root, levels[levelCount - 1], 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
        const std::string &d = state.value->data;
        ASSERT_EQ(RegSetValueExA(k, valueName, 0, state.value->type, reinterpret_cast<const BYTE *>(d.data()),
                                 static_cast<DWORD>(d.size())),
                  ERROR_SUCCESS);
        RegCloseKey(k);
    }
}

// What the front end may take from a value: its bytes up to the first zero,
// when the value fits 260 bytes and that string leaves room for its terminator.
bool Usable(HKEY root, const char *keys, const char *valueName, std::string *text) {
    HKEY k;
    if (RegOpenKeyExA(root, keys, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    std::string data(4096, '\0');
    DWORD size = static_cast<DWORD>(data.size());
    LONG status = RegQueryValueExA(k, valueName, nullptr, nullptr, reinterpret_cast<BYTE *>(&data[0]), &size);
    RegCloseKey(k);
    if (status != ERROR_SUCCESS || size > MAX_PATH) return false;
    data.resize(size);
    std::string s = data.substr(0, data.find('\0'));
    if (s.size() > MAX_PATH - 1) return false;
    *text = s;
    return true;
}

std::string FromWindowsFolder(const std::string &windows) {
    const std::string fallback = "C:\\Program Files";
    if (windows.empty() || windows.size() >= MAX_PATH) return fallback;
    size_t i = 0;
    while (i < windows.size() && windows[i] != '\\')
        i += IsDBCSLeadByte(static_cast<BYTE>(windows[i])) && i + 1 < windows.size() ? 2 : 1;
    if (i >= windows.size() || i + 1 + 13 + 1 + 6 >= MAX_PATH) return fallback;
    return windows.substr(0, i + 1) + "Program Files";
}

class RegistryGrid : public testing::Test {
protected:
    void SetUp() override {
        // Remember the prefix's settings, to be put back.
        HKEY k;
        hadSettings_ = RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeys, 0, KEY_READ, &k) == ERROR_SUCCESS;
        if (hadSettings_) {
            savedData_.assign(4096, '\0');
            DWORD size = static_cast<DWORD>(savedData_.size());
            hadValue_ = RegQueryValueExA(k, "ExePath", nullptr, &savedType_, reinterpret_cast<BYTE *>(&savedData_[0]),
                                         &size) == ERROR_SUCCESS;
            savedData_.resize(size);
            RegCloseKey(k);
        }
        hadOstrevan_ = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Ostrevan", 0, KEY_READ, &k) == ERROR_SUCCESS;
        if (hadOstrevan_) RegCloseKey(k);
        machinePath_ = "Software\\ZorvikSweep\\" + std::to_string(GetCurrentProcessId());
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, machinePath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &g_machine, nullptr),
                  ERROR_SUCCESS);
        if (g_hooks.empty()) InstallHooks();
    }
    static void TearDownTestSuite() { g_hooks.clear(); }
    void TearDown() override {
        Hooks::active = false;
        RegCloseKey(g_machine);
        RegDeleteTreeA(HKEY_CURRENT_USER, machinePath_.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\ZorvikSweep");
        if (!hadOstrevan_) {
            RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Ostrevan");
        } else if (hadSettings_) {
            HKEY k;
            RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeys, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
            if (hadValue_)
                RegSetValueExA(k, "ExePath", 0, savedType_, reinterpret_cast<const BYTE *>(savedData_.data()),
                               static_cast<DWORD>(savedData_.size()));
            else
                RegDeleteValueA(k, "ExePath");
            RegCloseKey(k);
        }
    }

    // One proposal, with its guards, terminator, key balance and value checked.
    void Propose(const std::string &what, const std::string &expected, bool exact = true) {
        unsigned char guarded[16 + MAX_PATH + 16];
        std::memset(guarded, 0xA5, sizeof guarded);
        char *buffer = reinterpret_cast<char *>(guarded + 16);
        g_open.clear();
        Hooks::violations.clear();
        Hooks::active = true;
        GetDefaultInstallFolder(buffer);
        Hooks::active = false;
        bool guards = true;
        for (int i = 0; i < 16; ++i) guards = guards && guarded[i] == 0xA5 && guarded[16 + MAX_PATH + i] == 0xA5;
        Check(guards, what, "written outside the 260-byte buffer");
        size_t n = 0;
        while (n < MAX_PATH && buffer[n]) ++n;
        Check(n < MAX_PATH, what, "proposal not terminated within 260 bytes");
        if (n < MAX_PATH && exact) Check(std::string(buffer) == expected, what, "proposal \"" + std::string(buffer) +
                                                                               "\", expected \"" + expected + "\"");
        Check(g_open.empty(), what, std::to_string(g_open.size()) + " keys left open");
        for (const std::string &v : Hooks::violations) Check(false, what, v);
    }
    void Check(bool ok, const std::string &what, const std::string &message) {
        ++checks;
        if (ok) return;
        if (++failures <= 10) ADD_FAILURE() << what << ": " << message;
    }

    long checks = 0, failures = 0;

private:
    bool hadSettings_ = false, hadValue_ = false, hadOstrevan_ = false;
    DWORD savedType_ = 0;
    std::string savedData_;
    std::string machinePath_;
};

std::vector<State> States(const std::vector<Value> &values, int levels) {
    std::vector<State> out;
    for (int m = 0; m <= levels; ++m) out.push_back({m, nullptr});
    for (const Value &v : values) out.push_back({-1, &v});
    return out;
}

const char *const kWindowsFolders[] = {"C:\\windows", "E:\\WIN", "", "C:", "D:\\\x83\x5C\\WIN",
                                       nullptr /* 259 bytes */};

std::string WindowsFolder(int i) {
    return kWindowsFolders[i] ? kWindowsFolders[i] : "Q:\\" + std::string(256, 'w');
}

TEST_F(RegistryGrid, EveryCombinationGivesATerminatedProposalAndClosesEveryKey) {
    const std::vector<Value> values = Values();
    const std::vector<State> user = States(values, 3), machine = States(values, 4);
    long proposals = 0, fromUser = 0, fromMachine = 0, fromWindows = 0;
    for (const State &u : user) {
        Apply(HKEY_CURRENT_USER, kSettingsLevels, 3, "ExePath", u);
        std::string userText;
        const bool userUsable = Usable(HKEY_CURRENT_USER, kSettingsKeys, "ExePath", &userText);
        for (const State &m : machine) {
            Apply(g_machine, kMachineLevels, 4, "ProgramFilesDir", m);
            std::string machineText;
            bool machineUsable = Usable(g_machine, kMachineKeys, "ProgramFilesDir", &machineText) &&
                                 machineText.size() + 1 + 6 < MAX_PATH;
            for (int w = 0; w < static_cast<int>(sizeof kWindowsFolders / sizeof *kWindowsFolders); ++w) {
                g_windows = WindowsFolder(w);
                ++(userUsable ? fromUser : machineUsable ? fromMachine : fromWindows);
                std::string expected = userUsable      ? userText
                                       : machineUsable ? machineText + "\\Zorvik"
                                                       : FromWindowsFolder(g_windows) + "\\Zorvik";
                Propose("settings " + u.Describe() + ", program files " + m.Describe() + ", Windows folder \"" +
                            g_windows.substr(0, 20) + "\"",
                        expected);
                ++proposals;
            }
        }
    }
    std::printf("[registry] summary: %ld proposals (%zu settings states x %zu program-files states x %zu Windows "
                "folders; %ld from the settings value, %ld from program files, %ld from the Windows folder), "
                "invariant checks %ld, failures %ld\n",
                proposals, user.size(), machine.size(), sizeof kWindowsFolders / sizeof *kWindowsFolders, fromUser,
                fromMachine, fromWindows, checks, failures);
    EXPECT_GT(fromUser, 0);
    EXPECT_GT(fromMachine, 0);
    EXPECT_GT(fromWindows, 0);
}

// Each registry call of a proposal fails in turn: the next choice is taken,
// the proposal stays terminated and every key opened is closed.
TEST_F(RegistryGrid, EveryRegistryCallFailingInTurn) {
    const std::vector<Value> values = Values();
    const Value *usable = &values[2];      // 200 bytes with terminator
    const Value *tooLong = &values[10];    // 1000 bytes
    struct Case {
        State user, machine;
    } cases[] = {{{-1, usable}, {-1, usable}}, {{-1, tooLong}, {-1, usable}}, {{2, nullptr}, {-1, usable}},
                 {{3, nullptr}, {-1, tooLong}}};
    long runs = 0;
    g_windows = "C:\\windows";
    for (const Case &c : cases) {
        Apply(HKEY_CURRENT_USER, kSettingsLevels, 3, "ExePath", c.user);
        Apply(g_machine, kMachineLevels, 4, "ProgramFilesDir", c.machine);
        std::string userText, machineText;
        const bool userUsable = Usable(HKEY_CURRENT_USER, kSettingsKeys, "ExePath", &userText);
        const bool machineUsable = Usable(g_machine, kMachineKeys, "ProgramFilesDir", &machineText);

        Hooks::ResetCalls();
        Propose("clean", userUsable ? userText : machineUsable ? machineText + "\\Zorvik" : "C:\\Program Files\\Zorvik");
        std::vector<CallRecord> clean = Hooks::trace;
        // The calls before the first one on the machine path belong to the settings value.
        size_t machineStart = clean.size();
        for (size_t i = 0; i < clean.size(); ++i)
            if (clean[i].function == &RegOpen::counter && clean[i].path == "Software" && i > 0) {
                machineStart = i;
                break;
            }
        for (Counter *fn : {&RegOpen::counter, &RegQuery::counter, &WindowsDirectory::counter}) {
            int calls = 0;
            for (const CallRecord &r : clean) calls += r.function == fn;
            for (int n = 1; n <= calls; ++n) {
                size_t at = 0;
                while (at < clean.size() && !(clean[at].function == fn && clean[at].number == n)) ++at;
                // A failing call on the settings path makes that read fail (it
                // may have failed anyway); one on the machine path leaves only
                // the Windows folder, as does a failing Windows folder.
                const std::string fallback = "C:\\Program Files\\Zorvik";
                const bool inUser = at < machineStart;
                std::string expected = fn == &WindowsDirectory::counter ? fallback
                                       : inUser ? (machineUsable ? machineText + "\\Zorvik" : fallback)
                                                : fallback;
                Hooks::ResetCalls();
                fn->failAt = n;
                Propose(fn->name + " call " + std::to_string(n) + " fails", expected);
                ++runs;
            }
        }
    }
    std::printf("[registry] faults: %ld runs with one registry call failing, invariant checks %ld, failures %ld\n",
                runs, checks, failures);
}

}  // namespace
