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

// Lets the user pick a folder with the shell's chooser; a choice replaces the
// folder text, a cancel leaves it. The folder's exact (UTF-16) name must have
// an exact form in the code page: a best fit would turn a character that the
// code page lacks into a look-alike, even a backslash, and name another folder.
static void BrowseForFolder(HWND hwnd)
{
    BROWSEINFOA info;
    LPITEMIDLIST list;
    IMalloc *allocator;
    WCHAR wide[MAX_PATH];
    char folder[MAX_PATH];
    BOOL inexact = FALSE;

    ZeroMemory(&info, sizeof(info));
    info.hwndOwner = hwnd;
    info.lpszTitle = "フォルダの選択";
    info.ulFlags = BIF_RETURNONLYFSDIRS;

    list = SHBrowseForFolderA(&info);
    if (list == NULL)
        return;
    if (SHGetPathFromIDListW(list, wide)) {
        if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, folder, MAX_PATH, NULL, &inexact)
            && !inexact)
            SetWindowTextA(GetDlgItem(hwnd, IDC_FOLDER), folder);
        else
            ShowMessage(MSG_UNUSABLE_NAME, MB_OK);
    }
    if (SHGetMalloc(&allocator) == NOERROR) {
        allocator->Free(list);
        allocator->Release();
    }
}

INT_PTR CALLBACK InstallDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    char folder[MAX_PATH];
    HWND edit;

    (void)lParam;
    g_hDlg = hwnd;

    if (message == WM_INITDIALOG) {
        CentreDialog(hwnd);
        GetDefaultInstallFolder(folder);
        SetWindowTextA(GetDlgItem(hwnd, IDC_FOLDER), folder);
        CheckDlgButton(hwnd, IDC_ADD_STARTMENU, 1);
        CheckDlgButton(hwnd, IDC_ADD_DESKTOP, 1);
        return 0;   // no focus is set, by us or by the dialog manager
    }
    if (message != WM_COMMAND)
        return 0;

    switch (LOWORD(wParam)) {
    case IDOK:
        // Without the field the text is empty (the platform may answer a
        // null window with another window's text).
        folder[0] = '\0';
        edit = GetDlgItem(hwnd, IDC_FOLDER);
        if (edit)
            GetWindowTextA(edit, folder, MAX_PATH);
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
