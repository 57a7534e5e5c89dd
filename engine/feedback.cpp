// How the run talks to the user: message boxes and the dialog's two states.
#include "engine.h"
#include "messages.h"
#include "resource.h"

HINSTANCE g_hInstance;
HWND g_hDlg;

static const int g_InputControls[] = { IDC_INPUT_CONTROLS };

int ShowMessage(const char *text, UINT type)
{
    char title[256];

    // Without a dialog, or with an empty caption, the box is titled "Message".
    // No caption is asked of a null window: the platform may fill the buffer anyway.
    if (!g_hDlg || GetWindowTextA(g_hDlg, title, sizeof(title)) <= 0)
        lstrcpyA(title, MSG_DEFAULT_TITLE);
    return MessageBoxA(g_hDlg, text, title, type);
}

int ShowFailure(const char *format, const char *argument)
{
    char text[MESSAGE_SIZE];

    wsprintfA(text, format, argument, 0);
    ShowMessage(text, MB_OK);
    return 0;
}

void SetInstallingState(int installing)
{
    int i;

    for (i = 0; i < (int)(sizeof(g_InputControls) / sizeof(g_InputControls[0])); i++)
        ShowWindow(GetDlgItem(g_hDlg, g_InputControls[i]), installing ? SW_HIDE : SW_SHOW);
    EnableWindow(GetDlgItem(g_hDlg, IDOK), !installing);
    EnableWindow(GetDlgItem(g_hDlg, IDCANCEL), !installing);
    ShowWindow(GetDlgItem(g_hDlg, IDC_PROGRESS), installing ? SW_SHOW : SW_HIDE);
}
