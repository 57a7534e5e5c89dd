// dialog_floor: the floor of the installer's opening. It shows the
// installer's own dialog template, modal, and nothing else: no C runtime
// (its own entry point, as the installer's), no COM, no shell, no registry,
// no centring. The bench times it from its start until its dialog is ready,
// as it times the installer.
#include <windows.h>

#include "resource.h"

namespace {

INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, 0);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

extern "C" void WINAPI FloorEntry() {
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_INSTALLER), nullptr, Proc, 0);
  ExitProcess(0);
}
