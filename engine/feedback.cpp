// How the run talks to the user: message boxes, the progress label and the
// dialog's two states. Every text is shown in UTF-16, so that it reads the
// same whatever the system's code page: the run's own texts are code page 932,
// the names placed into them are the system's (the ANSI code page).
#include "engine.h"
#include "messages.h"
#include "resource.h"

HINSTANCE g_hInstance;
HWND g_hDlg;

static const int g_InputControls[] = { IDC_INPUT_CONTROLS };

int FormatText(WCHAR *text, const char *format, const char *name, int number)
{
    WCHAR wideFormat[MESSAGE_SIZE];
    WCHAR wideName[MAX_PATH];

    if (!MultiByteToWideChar(MESSAGE_CODE_PAGE, 0, format, -1, wideFormat, MESSAGE_SIZE))
        return 0;
    if (!name) {
        wsprintfW(text, wideFormat, number);
        return 1;
    }
    if (!MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, MAX_PATH))
        return 0;
    wsprintfW(text, wideFormat, wideName, number);
    return 1;
}

int ShowMessage(const char *format, const char *name, int number, UINT type)
{
    WCHAR text[MESSAGE_SIZE];
    WCHAR title[256];

    // A text that cannot be converted whole is not shown at all.
    if (!FormatText(text, format, name, number))
        return 0;
    // Without a dialog, or with an empty caption, the box is titled "Message".
    // No caption is asked of a null window: the platform may fill the buffer anyway.
    if (!g_hDlg || GetWindowTextW(g_hDlg, title, 256) <= 0)
        lstrcpyW(title, L"" MSG_DEFAULT_TITLE);
    return MessageBoxW(g_hDlg, text, title, type);
}

int ShowFailure(const char *format, const char *argument)
{
    ShowMessage(format, argument, 0, MB_OK);
    return 0;
}

void ShowProgress(int percent)
{
    WCHAR text[MESSAGE_SIZE];

    if (FormatText(text, MSG_PROGRESS, NULL, percent))
        SetWindowTextW(GetDlgItem(g_hDlg, IDC_PROGRESS), text);
}

void SetInstallingState(int installing)
{
    int i;

    for (i = 0; i < (int)(sizeof(g_InputControls) / sizeof(g_InputControls[0])); i++)
        ShowWindow(GetDlgItem(g_hDlg, g_InputControls[i]), installing ? SW_HIDE : SW_SHOW);
    EnableWindow(GetDlgItem(g_hDlg, IDOK), !installing);
    EnableWindow(GetDlgItem(g_hDlg, IDCANCEL), !installing);
    ShowWindow(GetDlgItem(g_hDlg, IDC_PROGRESS), installing ? SW_SHOW : SW_HIDE);
    // Back to input, the keyboard is in the folder field, its text selected,
    // as the dialog manager moves the focus (the run hid the focused control).
    if (!installing && g_hDlg)
        SendMessageW(g_hDlg, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(g_hDlg, IDC_FOLDER), TRUE);
}

int WaitWithDialog(const HANDLE *objects, int count, DWORD deadline)
{
    HANDLE waiting[MAXIMUM_WAIT_OBJECTS - 1];
    MSG message;
    DWORD result;
    LONG left;
    int i, enabled;

    if (count > MAXIMUM_WAIT_OBJECTS - 1)
        return 0;
    // Never a copy from null: the compiler turns the loop into memcpy, whose
    // pointers it then takes to be valid, and would drop the test below.
    if (objects)
        for (i = 0; i < count; i++)
            waiting[i] = objects[i];
    // The dialog paints, but a click or a key meanwhile would reach it in
    // the middle of the run.
    enabled = g_hDlg && !EnableWindow(g_hDlg, FALSE);
    while (count > 0 || !objects) {
        left = (LONG)(deadline - GetTickCount());
        if (left <= 0)
            break;
        result = MsgWaitForMultipleObjects(count, waiting, FALSE, (DWORD)left, QS_ALLINPUT);
        if (result < WAIT_OBJECT_0 + (DWORD)count) {
            waiting[result - WAIT_OBJECT_0] = waiting[--count];
        } else if (result == WAIT_OBJECT_0 + (DWORD)count) {
            while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        } else {
            break;   // the deadline, or a wait that failed
        }
    }
    if (enabled)
        EnableWindow(g_hDlg, TRUE);
    return count == 0;
}
