// A registry sandbox for the front end's tests. While it lives, the keys
// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE, as the code under test opens them
// with RegOpenKeyExA, lead to two fresh keys under HKCU\Software\ZorvikTests
// instead, so tests never touch the prefix's real values and can run side by
// side. Every open and close made by the code under test (inside UnderTest)
// is recorded.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "import_hook.h"

class RegistrySandbox {
public:
    RegistrySandbox();
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox &) = delete;
    RegistrySandbox &operator=(const RegistrySandbox &) = delete;

    // The stand-ins for the two roots.
    HKEY currentUser() const { return currentUser_; }
    HKEY localMachine() const { return localMachine_; }

    // Writes a value; `path` is key names and the value name, separated by
    // backslashes, below `root` (one of the stand-ins). Missing keys are made.
    void Set(HKEY root, const std::string &path, DWORD type, const std::string &data);
    // A REG_SZ value with its terminator.
    void SetString(HKEY root, const std::string &path, const std::string &text);
    // Creates the keys of `keyPath` (no value).
    void CreateKeys(HKEY root, const std::string &keyPath);

    // The handles RegOpenKeyExA gave the code under test, in order, and the
    // handles it passed to RegCloseKey.
    const std::vector<HKEY> &opened() const { return opened_; }
    const std::vector<HKEY> &closed() const { return closed_; }
    int openCalls() const { return openCalls_; }
    void ClearLog();

    // Since the last ClearLog, every key opened has been closed exactly once,
    // the newest first (each close took the most recently opened key still
    // open), and no other key, a root above all, has been closed.
    testing::AssertionResult ClosedNewestFirst() const;

private:
    std::string sandboxPath_;
    HKEY sandbox_ = nullptr;
    HKEY currentUser_ = nullptr;
    HKEY localMachine_ = nullptr;
    std::vector<HKEY> opened_;
    std::vector<HKEY> closed_;
    std::vector<HKEY> live_;
    std::vector<std::string> faults_;
    int openCalls_ = 0;
    Hooks::Installed openHook_, closeHook_;
};
