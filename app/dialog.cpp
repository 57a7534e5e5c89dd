// The installer dialog: proposes a folder, lets the user browse for another,
// and hands the start button to the installation run.
#include "installer_dialog.h"
#include "engine.h"
#include "messages.h"
#include "resource.h"

#include <shlobj.h>

// Centres the dialog in the area a full-screen window's client area covers.
static void CentreDialog(HWND hwnd)
{
    RECT rect;
    int w, h;

    // Without the dialog's rectangle there is nothing to centre (and no size to keep).
    if (!GetWindowRect(hwnd, &rect))
        return;
    w = rect.right - rect.left;
    h = rect.bottom - rect.top;
    MoveWindow(hwnd, (GetSystemMetrics(SM_CXFULLSCREEN) - w) / 2,
               (GetSystemMetrics(SM_CYFULLSCREEN) - h) / 2, w, h, FALSE);
}

// The folder's exact (UTF-16) name in the ANSI code page, into a buffer of
// `size` bytes; 0 when it has no exact form there. A best fit would turn a
// character that the code page lacks into a look-alike, even a backslash, and
// name another folder. UTF-8 spells every character (it takes no best-fit
// flags, and refuses a lone surrogate).
static int ExactCodePageName(const WCHAR *wide, char *name, int size)
{
    BOOL inexact = FALSE;
    int utf8 = GetACP() == CP_UTF8;

    return WideCharToMultiByte(CP_ACP, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, wide, -1, name, size,
                               NULL, utf8 ? NULL : &inexact)
        && !inexact;
}

// Lets the user pick a folder with the shell's chooser; a choice replaces the
// folder text, a cancel leaves it. A folder without an exact name in the code
// page is refused.
static void BrowseForFolder(HWND hwnd)
{
    BROWSEINFOW info;
    LPITEMIDLIST list;
    IMalloc *allocator;
    WCHAR title[64];
    WCHAR wide[MAX_PATH];
    char folder[MAX_PATH];

    StartCom();
    ZeroMemory(&info, sizeof(info));
    info.hwndOwner = hwnd;
    if (MultiByteToWideChar(MESSAGE_CODE_PAGE, 0, MSG_BROWSE_TITLE, -1, title, 64))
        info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS;

    list = SHBrowseForFolderW(&info);
    if (list == NULL)
        return;
    if (SHGetPathFromIDListW(list, wide)) {
        if (ExactCodePageName(wide, folder, MAX_PATH))
            SetWindowTextA(GetDlgItem(hwnd, IDC_FOLDER), folder);
        else
            ShowMessage(MSG_UNUSABLE_NAME, NULL, 0, MB_OK);
    }
    if (SHGetMalloc(&allocator) == NOERROR) {
        allocator->Free(list);
        allocator->Release();
    }
}

INT_PTR CALLBACK InstallDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    char folder[MAX_PATH];
    char text[3 * MAX_PATH];   // up to three bytes a character in UTF-8
    WCHAR typed[MAX_PATH];
    HWND edit;

    (void)lParam;
    g_hDlg = hwnd;

    if (message == WM_INITDIALOG) {
        CentreDialog(hwnd);
        GetDefaultInstallFolder(folder);
        SetWindowTextA(GetDlgItem(hwnd, IDC_FOLDER), folder);
        CheckDlgButton(hwnd, IDC_ADD_STARTMENU, 1);
        CheckDlgButton(hwnd, IDC_ADD_DESKTOP, 1);
        // The dialog is made, and shows next: the desktop's shell is
        // connected while it shows and is read.
        StartShellConnection();
        return 0;   // no focus is set, by us or by the dialog manager
    }
    if (message != WM_COMMAND)
        return 0;

    switch (LOWORD(wParam)) {
    case IDOK:
        // Without the field the text is empty (the platform may answer a
        // null window with another window's text). The text is read as
        // typed, in UTF-16: a name with characters outside the code page is
        // refused, not run with '?' in their places. A text too long for a
        // path is cut, and the run refuses it as too long.
        typed[0] = L'\0';
        edit = GetDlgItem(hwnd, IDC_FOLDER);
        if (edit)
            GetWindowTextW(edit, typed, MAX_PATH);
        if (!ExactCodePageName(typed, text, sizeof(text))) {
            ShowMessage(MSG_UNUSABLE_NAME, NULL, 0, MB_OK);
            return 0;
        }
        lstrcpynA(folder, text, MAX_PATH);
        if (OnStart(folder, IsDlgButtonChecked(hwnd, IDC_ADD_STARTMENU),
                    IsDlgButtonChecked(hwnd, IDC_ADD_DESKTOP)))
            EndDialog(hwnd, wParam);
        return 0;
    case IDCANCEL:
        EndDialog(hwnd, wParam);
        return 1;
    case IDC_BROWSE:
        BrowseForFolder(hwnd);
        return 0;
    }
    return 0;
}
