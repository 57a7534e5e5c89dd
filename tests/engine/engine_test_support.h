// Shared pieces of the engine tests: a stand-in dialog, hooks on the platform
// calls that the run makes, and a fixture that keeps each test's
// installation, system folder and package state apart from the others.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "import_hook.h"
#include "platform_hooks.h"
#include "message_boxes.h"
#include "package_entries.h"
#include "scratch.h"

// The dialog's caption, as the front end sets it.
extern const char kDialogCaption[];

// The installer dialog, made from its own template, with a procedure that
// does nothing: the engine's view of the dialog. Becomes g_hDlg while it lives.
class TemplateDialog {
public:
    TemplateDialog();
    ~TemplateDialog();
    HWND hwnd() const { return dialog_; }
    HWND item(int id) const { return GetDlgItem(dialog_, id); }
    bool Visible(int id) const;   // the control's own WS_VISIBLE bit
    bool Enabled(int id) const;
    // Input state: the six input controls shown, both buttons enabled, progress hidden.
    bool InInputState() const;
    bool InInstallingState() const;

private:
    HWND dialog_ = nullptr;
};

// The platform calls that every engine test answers: the system folder is a
// scratch folder, there is no desktop's shell to start the program, WinExec
// records its command line and show command and answers 33 without starting
// anything, and temporary names are remembered.
using SystemFolder = COUNTED(GetSystemDirectoryA);
using StartProgram = COUNTED(WinExec);

// The base of the tests that run the engine: a dialog, scripted message
// boxes, a scratch installation folder and system folder, and the hooks
// above. Restores the package flags and the LZ pointers afterwards.
class EngineTest : public ::testing::Test {
protected:
    EngineTest();
    ~EngineTest() override;

    // Runs OnStart, with the hooks acting, on a copy of `folder` in a
    // 260-byte buffer; the buffer afterwards is kept in folderAfter.
    int Run(const std::string &folder, int startMenu = 0, int desktop = 0);
    // Entries from..to are (are not) in `folder`, byte for byte the package files.
    void ExpectInstalled(const std::string &folder, int from, int to);
    void ExpectNotInstalled(const std::string &folder, int from, int to);
    // Replaces the message-box script: questions get `answers` in order.
    void Answer(std::deque<int> answers);
    // What WinExec was given.
    std::vector<std::string> CommandLines() const { return Hooks::Paths({&StartProgram::counter}); }
    std::vector<UINT> ShowCommands() const;
    // The names handed out for payload copies and for files beside a
    // destination, and those whose files still exist.
    std::vector<std::string> TempNames() const;
    std::vector<std::string> SurvivingTempNames() const;

    std::string folderAfter;
    std::unique_ptr<MessageBoxScript> boxes;
    TemplateDialog dialog;
    ScratchFolder scratch;
    ScratchFolder system;

private:
    INT32 savedOverwrite_[PACKAGE_ENTRY_COUNT];
    LZCopyProc savedCopy_;
    LZCloseProc savedClose_;
    LZInitProc savedInit_;
    std::vector<Hooks::Installed> hooks_;
};

// The original package file of entry i.
std::string OriginalOf(int index);
// Loads a shell link back: its target path and its description.
bool ReadShortcut(const std::string &linkPath, std::string *target, std::string *description);
