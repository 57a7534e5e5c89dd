// A stand-in lz32.dll for the DLL-planting test. Loaded into any process, it
// leaves a marker file beside itself; its LZ functions only fail.
#define WIN32_LEAN_AND_MEAN  // keeps lzexpand.h (and its imports) out
#include <windows.h>

namespace {

void LeaveMarker(HINSTANCE self) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    while (n > 0 && path[n - 1] != '\\') --n;
    lstrcpyA(path + n, "lz32-planted-loaded.txt");
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) LeaveMarker(self);
    return TRUE;
}

extern "C" __declspec(dllexport) INT WINAPI LZOpenFileA(LPSTR, LPOFSTRUCT, WORD) { return -1; }
extern "C" __declspec(dllexport) LONG WINAPI LZCopy(INT, INT) { return -1; }
extern "C" __declspec(dllexport) void WINAPI LZClose(INT) {}
extern "C" __declspec(dllexport) INT WINAPI LZInit(INT) { return -1; }
extern "C" __declspec(dllexport) INT WINAPI LZRead(INT, LPSTR, INT) { return -1; }
extern "C" __declspec(dllexport) LONG WINAPI LZSeek(INT, LONG, INT) { return -1; }
extern "C" __declspec(dllexport) INT WINAPI GetExpandedNameA(LPSTR, LPSTR) { return -1; }
extern "C" __declspec(dllexport) LONG WINAPI CopyLZFile(INT, INT) { return -1; }
