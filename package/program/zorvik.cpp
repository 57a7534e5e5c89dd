// Zorvik: the application of the sample package.
// A small Win32 program without the C runtime: it must not import the
// package's runtime libraries, because private copies of those may sit next to it.
#include <windows.h>

#include "zorvik_version.h"

#define IDM_EXIT   100
#define IDM_ABOUT  101

static const char g_ClassName[] = "ZorvikMainWindow";
static const char g_Title[] = "Zorvik";

static HINSTANCE g_hInstance;
static HFONT g_hTitleFont;
static HFONT g_hTextFont;

// Lines shown below the title; the first is the tag line.
static const char *const g_Lines[] = {
    "クリップボードとメモの整理ツール",
    "",
    "コピーした文章やメモを「トレイ」ごとに分けて保存し、",
    "あとから検索してすぐに貼り付けることができます。",
    "",
    "使い方はインストールフォルダの Zorvik.htm をご覧ください。",
};

static const char g_AboutText[] =
    "Zorvik Version " ZORVIK_VERSION_TEXT "\r\n"
    "クリップボードとメモの整理ツール\r\n\r\n"
    ZORVIK_COPYRIGHT;

static HFONT MakeFont(int height, int weight)
{
    return CreateFontA(height, 0, 0, 0, weight, 0, 0, 0, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, "MS UI Gothic");
}

static void PaintMain(HWND hWnd)
{
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hWnd, &ps);
    RECT rc;
    GetClientRect(hWnd, &rc);

    // Header band with the application name.
    RECT band = rc;
    band.bottom = 56;
    HBRUSH hBand = CreateSolidBrush(RGB(0, 70, 140));
    FillRect(hdc, &band, hBand);
    DeleteObject(hBand);

    SetBkMode(hdc, TRANSPARENT);
    HGDIOBJ hOld = SelectObject(hdc, g_hTitleFont);
    SetTextColor(hdc, RGB(255, 255, 255));
    TextOutA(hdc, 16, 10, g_Title, lstrlenA(g_Title));

    SelectObject(hdc, g_hTextFont);
    SetTextColor(hdc, RGB(20, 20, 20));
    int y = 72;
    for (unsigned int i = 0; i < sizeof(g_Lines) / sizeof(g_Lines[0]); i++) {
        TextOutA(hdc, 18, y, g_Lines[i], lstrlenA(g_Lines[i]));
        y += 20;
    }
    SelectObject(hdc, hOld);
    EndPaint(hWnd, &ps);
}

static LRESULT CALLBACK MainWndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CREATE:
        g_hTitleFont = MakeFont(32, FW_BOLD);
        g_hTextFont = MakeFont(14, FW_NORMAL);
        return 0;
    case WM_PAINT:
        PaintMain(hWnd);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDM_ABOUT)
            MessageBoxA(hWnd, g_AboutText, "バージョン情報", MB_OK | MB_ICONINFORMATION);
        else if (LOWORD(wParam) == IDM_EXIT)
            DestroyWindow(hWnd);
        return 0;
    case WM_ENDSESSION:
        // The session ends, or an installer closes the program to update it:
        // end as on WM_CLOSE.
        if (wParam)
            DestroyWindow(hWnd);
        return 0;
    case WM_DESTROY:
        DeleteObject(g_hTitleFont);
        DeleteObject(g_hTextFont);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

static HMENU BuildMenu(void)
{
    HMENU hBar = CreateMenu();
    HMENU hFile = CreatePopupMenu();
    HMENU hHelp = CreatePopupMenu();
    AppendMenuA(hFile, MF_STRING, IDM_EXIT, "終了(&X)");
    AppendMenuA(hHelp, MF_STRING, IDM_ABOUT, "バージョン情報(&A)...");
    AppendMenuA(hBar, MF_POPUP, (UINT_PTR)hFile, "ファイル(&F)");
    AppendMenuA(hBar, MF_POPUP, (UINT_PTR)hHelp, "ヘルプ(&H)");
    return hBar;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow)
{
    g_hInstance = hInstance;

    WNDCLASSA wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconA(hInstance, MAKEINTRESOURCEA(1));
    if (!wc.hIcon)
        wc.hIcon = LoadIconA(NULL, (LPCSTR)IDI_APPLICATION);
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszMenuName = NULL;
    wc.lpszClassName = g_ClassName;
    if (!RegisterClassA(&wc))
        return 1;

    HWND hWnd = CreateWindowExA(0, g_ClassName, g_Title, WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 480, 260,
                                NULL, BuildMenu(), hInstance, NULL);
    if (!hWnd)
        return 1;
    ShowWindow(hWnd, nCmdShow);
    UpdateWindow(hWnd);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}

// Entry point in place of the C runtime's start-up code.
extern "C" void WINAPI ZorvikEntry(void)
{
    STARTUPINFOA si;
    si.cb = sizeof(si);
    GetStartupInfoA(&si);
    int show = (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : SW_SHOWDEFAULT;
    ExitProcess((UINT)WinMain(GetModuleHandleA(NULL), NULL, GetCommandLineA(), show));
}
