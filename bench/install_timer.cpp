// install_timer: runs one installation and measures it from the start of the
// installer process until the installer has exited and the installed
// program's main window exists.
//
//   install_timer dialog EXE   start EXE, press button 1 (the start button) of
//                              its dialog as soon as the dialog shows
//   install_timer pages EXE    start EXE, a wizard (an outer dialog showing one
//                              page dialog at a time), press its button 1 (the
//                              default button: Install) as soon as the first
//                              page shows
//   install_timer silent EXE   start "EXE /S" (a silent installer)
//   install_timer floor EXE    as dialog, for a program that installs nothing:
//                              it ends when the dialog is pressed
//   install_timer warmup       start the session's desktop, then exit
//
// Prints "ms=<elapsed> peak_kb=<peak working set> exit=<exit code>", then the
// moments (ms from the start) the button was pressed, the installer exited
// and the program's window was found. The peak
// is the installer process's PeakWorkingSetSize, sampled every millisecond
// while it runs (the same method for every installer). Closes the installed
// program afterwards. Exit code 0 on success.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr double kTimeoutMs = 120000;
const char kDialogClass[] = "#32770";
const char kProgramClass[] = "ZorvikMainWindow";
const char kProgramTitle[] = "Zorvik";

double Now() {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

struct DialogSearch {
  bool withPage;
  HWND found;
};

// A dialog that is ready for its button 1: shown, the button enabled and, in
// a wizard, the current page (a child dialog) shown as well.
BOOL CALLBACK MatchReadyDialog(HWND w, LPARAM param) {
  auto& search = *reinterpret_cast<DialogSearch*>(param);
  char cls[16] = "";
  GetClassNameA(w, cls, sizeof cls);
  if (lstrcmpA(cls, kDialogClass) != 0 || !IsWindowVisible(w)) return TRUE;
  const HWND button = GetDlgItem(w, IDOK);
  if (!button || !IsWindowVisible(button) || !IsWindowEnabled(button)) return TRUE;
  if (search.withPage) {
    const HWND page = FindWindowExA(w, nullptr, kDialogClass, nullptr);
    if (!page || !IsWindowVisible(page)) return TRUE;
  }
  search.found = w;
  return FALSE;
}

// The dialog of the installer's main thread once it is ready for a click,
// else null. Only that thread's few windows are looked at, every millisecond.
HWND FindReadyDialog(DWORD thread, bool withPage) {
  DialogSearch search{withPage, nullptr};
  EnumThreadWindows(thread, MatchReadyDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void CloseProgram(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
  PostMessageA(w, WM_CLOSE, 0, 0);
  if (h) {
    WaitForSingleObject(h, 10000);
    CloseHandle(h);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "warmup") {
    // Brings up the session's desktop process before any clock runs.
    FindWindowA(kProgramClass, kProgramTitle);
    return GetDesktopWindow() ? 0 : 1;
  }
  const std::string mode = argc == 3 ? argv[1] : "";
  const bool floor = mode == "floor";
  if (mode != "dialog" && mode != "pages" && mode != "silent" && !floor) {
    std::fputs("usage: install_timer dialog|pages|silent|floor EXE, or install_timer warmup\n", stderr);
    return 2;
  }
  std::string cmd = "\"" + std::string(argv[2]) + "\"";
  if (mode == "silent") cmd += " /S";

  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const double t0 = Now();
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "install_timer: cannot start %s (error %lu)\n", argv[2], GetLastError());
    return 1;
  }
  bool pressed = mode == "silent";
  double exitedAt = -1, shownAt = -1, pressedAt = -1;
  SIZE_T peak = 0;
  HWND program = nullptr;
  for (;;) {
    const double now = Now();
    if (exitedAt < 0) {
      PROCESS_MEMORY_COUNTERS pmc{};
      pmc.cb = sizeof pmc;
      if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc)) peak = std::max(peak, pmc.PeakWorkingSetSize);
      if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) exitedAt = now;
    }
    if (!pressed) {
      if (HWND dlg = FindReadyDialog(pi.dwThreadId, mode == "pages")) {
        PostMessageA(GetDlgItem(dlg, IDOK), BM_CLICK, 0, 0);
        pressed = true;
        pressedAt = now;
      }
    }
    if (shownAt < 0 && (program = FindWindowA(kProgramClass, kProgramTitle)) != nullptr) shownAt = now;
    if (exitedAt >= 0 && (shownAt >= 0 || floor)) break;
    if (now - t0 > kTimeoutMs) {
      std::fprintf(stderr, "install_timer: timed out (installer %s, program window %s)\n",
                   exitedAt >= 0 ? "exited" : "running", shownAt >= 0 ? "shown" : "missing");
      TerminateProcess(pi.hProcess, 1);
      return 1;
    }
    Sleep(1);
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::printf("ms=%.1f peak_kb=%lu exit=%lu pressed_ms=%.1f exited_ms=%.1f shown_ms=%.1f\n",
              std::max(exitedAt, shownAt) - t0, static_cast<unsigned long>(peak / 1024),
              static_cast<unsigned long>(code), pressedAt < 0 ? 0.0 : pressedAt - t0, exitedAt - t0,
              shownAt < 0 ? 0.0 : shownAt - t0);
  if (program) CloseProgram(program);
  return code == 0 ? 0 : 1;
}
