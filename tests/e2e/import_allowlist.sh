#!/usr/bin/env bash
# Fails when the installer's import table names a DLL or a function outside the
# allowlist. Only the platform's always-present system DLLs may be imported
# statically: a DLL that is not one of the known DLLs (LZ32 above all) would be
# looked up in the installer's own folder first, where anyone may have left one.
#   import_allowlist.sh <objdump> <ZorvikSetup.exe>
set -euo pipefail
objdump=$1 exe=$2

# The installer's own platform calls; then, per DLL, the loader functions that
# bind LZ32 at run time, the code page helpers, the functions the engine
# uses to check lengths, to tell a complete file from a torn one and to find
# what a killed run left beside the destinations, those that reach a folder or file by its exact
# (UTF-16) name or tell one folder from another, and those that ask the
# desktop's shell to start the program (the strings it takes, and the thread
# that connects to it beside the dialog) and tell whether
# the run has the administrator's rights, and those that find the package's
# program running from the installation folder, ask it to end and wait for it
# (never TerminateProcess: nothing is ended by force), and the one that gives
# the folder field the keyboard back. Every DLL here is a known DLL.
declare -A allowed=(
  [KERNEL32.DLL]="
    CloseHandle CreateDirectoryA CreateFileA DeleteFileA ExitProcess FindResourceA
    GetCurrentDirectoryA GetDiskFreeSpaceA GetLastError GetSystemDirectoryA
    GetWindowsDirectoryA LoadResource LockResource MultiByteToWideChar OpenFile
    SizeofResource WinExec WriteFile lstrcatA lstrcmpiA lstrcpyA lstrcpynA lstrlenA
    FreeLibrary GetModuleHandleA GetProcAddress LoadLibraryA LoadLibraryExA
    IsDBCSLeadByte
    GetFullPathNameA FlushFileBuffers GetFileSize FindFirstFileA FindNextFileA FindClose GetFileAttributesA
    GetTempPathW GetTempFileNameW CreateFileW SetFilePointer CreateDirectoryW
    WideCharToMultiByte lstrcatW lstrlenW GetFileInformationByHandle GetSystemWindowsDirectoryA
    lstrcpyW GetACP
    CreateToolhelp32Snapshot Process32First Process32Next OpenProcess GetCurrentProcessId GetTickCount
    CreateThread CreateEventA SetEvent WaitForSingleObject"
  [USER32.DLL]="
    CheckDlgButton DialogBoxParamW EnableWindow EndDialog GetDlgItem
    GetSystemMetrics GetWindowRect GetWindowTextW IsDlgButtonChecked MessageBoxW MoveWindow
    SetWindowTextA SetWindowTextW ShowWindow wsprintfA wsprintfW
    EnumWindows GetWindowThreadProcessId SendMessageTimeoutW PostMessageW IsWindow SendMessageW
    MsgWaitForMultipleObjects PeekMessageW TranslateMessage DispatchMessageW"
  [SHELL32.DLL]="SHBrowseForFolderW SHGetMalloc SHGetPathFromIDListW SHGetSpecialFolderLocation"
  [OLE32.DLL]="CoCreateInstance CoInitialize CoInitializeEx CoUninitialize CoTaskMemFree"
  [ADVAPI32.DLL]="RegCloseKey RegOpenKeyExA RegQueryValueExA CheckTokenMembership"
  [OLEAUT32.DLL]="SysAllocString SysFreeString"
)

[ -f "$exe" ] || { echo "import_allowlist: no such file $exe" >&2; exit 1; }
dump=$("$objdump" -p "$exe")

bad=0 dll="" count=0 dlls=()
while IFS= read -r line; do
  if [[ $line =~ DLL\ Name:\ (.+)$ ]]; then
    dll=${BASH_REMATCH[1]^^}
    dlls+=("$dll")
    if [ -z "${allowed[$dll]+x}" ]; then
      echo "import_allowlist: FAIL: imports from $dll, which is not allowed" >&2
      bad=1
    fi
  elif [ -n "$dll" ] && [[ $line =~ ^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+([A-Za-z_][A-Za-z0-9_@]*)$ ]]; then
    fn=${BASH_REMATCH[1]}
    count=$((count + 1))
    if [ -n "${allowed[$dll]+x}" ] && ! [[ " $(echo ${allowed[$dll]}) " == *" $fn "* ]]; then
      echo "import_allowlist: FAIL: $dll!$fn is not in the allowlist" >&2
      bad=1
    fi
  elif [[ $line =~ ^[[:space:]]+[0-9a-f]+[[:space:]]+\<none\>[[:space:]]+([0-9a-f]+)$ ]] || [[ $line =~ Ordinal ]]; then
    echo "import_allowlist: FAIL: $dll is imported by ordinal: $line" >&2
    bad=1
  elif [[ $line =~ ^The\ Import\ Tables ]] || [[ $line =~ ^[[:space:]]*$ ]]; then
    :
  elif [[ $line =~ ^The\ |^PE\ File\ Base|^Characteristics ]]; then
    dll=""
  fi
done <<<"$dump"

[ ${#dlls[@]} -gt 0 ] || { echo "import_allowlist: FAIL: no import table found in $exe" >&2; exit 1; }
echo "import_allowlist: ${#dlls[@]} DLLs (${dlls[*]}), $count functions imported by name"
exit $bad
