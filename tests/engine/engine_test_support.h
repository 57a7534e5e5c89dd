// Shared pieces of the engine tests: a stand-in dialog, recorders for the
// platform calls that the run makes, and a fixture that keeps each test's
// installation, system folder and package state apart from the others.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "import_hook.h"
#include "message_boxes.h"
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

// One ordered log of the observable calls, shared by the recorders below so
// that tests can check the order between them.
struct CallLog {
    std::vector<std::string> events;
    std::vector<std::string> Matching(const std::string &prefix) const;
};
CallLog &Log();

// SetWindowTextA on IDC_PROGRESS: "progress <text>".
class ProgressRecorder {
public:
    ProgressRecorder();
    std::vector<std::string> Texts() const;

private:
    ImportHook hook_;
};

// WinExec: records "winexec <show> <command line>" and answers `result`
// without starting anything.
class WinExecRecorder {
public:
    explicit WinExecRecorder(UINT result = 33);
    ~WinExecRecorder();
    std::vector<std::string> CommandLines() const { return lines_; }
    std::vector<UINT> ShowCommands() const { return shows_; }

private:
    static UINT WINAPI Hook(LPCSTR, UINT);
    UINT result_;
    std::vector<std::string> lines_;
    std::vector<UINT> shows_;
    ImportHook hook_;
};

// GetSystemDirectoryA answers `folder` (binds LZ32 first, from the real one).
class SystemFolderRedirect {
public:
    explicit SystemFolderRedirect(const std::string &folder);
    ~SystemFolderRedirect();

private:
    static UINT WINAPI Hook(LPSTR, UINT);
    std::string folder_;
    ImportHook hook_;
};

// GetTempFileNameA passes through and remembers every name it handed out.
class TempNameRecorder {
public:
    TempNameRecorder();
    ~TempNameRecorder();
    const std::vector<std::string> &Names() const { return names_; }
    // Names handed out whose files still exist.
    std::vector<std::string> Surviving() const;

private:
    static UINT WINAPI Hook(LPCSTR, LPCSTR, UINT, LPSTR);
    std::vector<std::string> names_;
    ImportHook hook_;
};

// The base of the tests that run the engine: a dialog, scripted message
// boxes, a scratch installation folder and system folder, and WinExec that
// only records. Restores the package flags and the LZ pointers afterwards.
class EngineTest : public ::testing::Test {
protected:
    EngineTest();
    ~EngineTest() override;

    // Runs OnStart on a copy of `folder` in a 260-byte buffer; the buffer
    // afterwards is kept in folderAfter.
    int Run(const std::string &folder, int startMenu = 0, int desktop = 0);
    // Entries from..to are (are not) in `folder`, byte for byte the package files.
    void ExpectInstalled(const std::string &folder, int from, int to);
    void ExpectNotInstalled(const std::string &folder, int from, int to);
    // Replaces the message-box script: questions get `answers` in order.
    void Answer(std::deque<int> answers);

    std::string folderAfter;
    std::unique_ptr<MessageBoxScript> boxes;
    TemplateDialog dialog;
    ScratchFolder scratch;
    ScratchFolder system;
    std::unique_ptr<SystemFolderRedirect> systemRedirect;
    WinExecRecorder winExec;
    TempNameRecorder tempNames;

private:
    INT32 savedOverwrite_[PACKAGE_ENTRY_COUNT];
    LZOpenFileAProc savedOpen_;
    LZCopyProc savedCopy_;
    LZCloseProc savedClose_;
};

// The original package file of entry i.
std::string OriginalOf(int index);
// Loads a shell link back: its target path and its description.
bool ReadShortcut(const std::string &linkPath, std::string *target, std::string *description);
