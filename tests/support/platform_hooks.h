// One hook type per platform function that the installer calls, named once
// for every test: a test installs the ones it needs (import_hook.h).
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include "engine.h"
#include "import_hook.h"

// Kernel: files, folders, resources, processes.
using CloseHandleHook = COUNTED(CloseHandle);
using CreateFileHook = COUNTED(CreateFileA);
using CreateWideFile = COUNTED(CreateFileW);
using CurrentDirectory = COUNTED(GetCurrentDirectoryA);
using DeleteFileHook = COUNTED(DeleteFileA);
using DiskFreeSpace = COUNTED(GetDiskFreeSpaceA);
using FileInformation = COUNTED(GetFileInformationByHandle);
using FilePointer = COUNTED(SetFilePointer);
using FindResourceHook = COUNTED(FindResourceA);
using FindFirst = COUNTED(FindFirstFileA);
using FindNext = COUNTED(FindNextFileA);
using FindEnd = COUNTED(FindClose);
using FileSize = COUNTED(GetFileSize);
using FlushHook = COUNTED(FlushFileBuffers);
using FullPathName = COUNTED(GetFullPathNameA);
using LastError = COUNTED(GetLastError);
using LoadResourceHook = COUNTED(LoadResource);
using LockResourceHook = COUNTED(LockResource);
using MakeFolder = COUNTED(CreateDirectoryA);
using MakeWideFolder = COUNTED(CreateDirectoryW);
using OpenFileHook = COUNTED(OpenFile);
using PlainAttributes = COUNTED(GetFileAttributesA);
using SizeofResourceHook = COUNTED(SizeofResource);
using SystemDirectory = COUNTED(GetSystemDirectoryA);
using SystemWindowsDirectory = COUNTED(GetSystemWindowsDirectoryA);
using TempFileName = COUNTED(GetTempFileNameW);   // the payload's copy in the temporary folder
using TempPath = COUNTED(GetTempPathW);
using ToNarrow = COUNTED(WideCharToMultiByte);
using ToWide = COUNTED(MultiByteToWideChar);
using WindowsDirectory = COUNTED(GetWindowsDirectoryA);
using WinExecHook = COUNTED(WinExec);
using WriteFileHook = COUNTED(WriteFile);
using Snapshot = COUNTED(CreateToolhelp32Snapshot);
using FirstProcess = COUNTED(Process32First);
using NextProcess = COUNTED(Process32Next);
using OpenProcessHook = COUNTED(OpenProcess);
using WaitHook = COUNTED(MsgWaitForMultipleObjects);

// The dialog and message boxes.
using CheckButton = COUNTED(CheckDlgButton);
using EnableWindowHook = COUNTED(EnableWindow);
using EndDialogHook = COUNTED(EndDialog);
using GetDlgItemHook = COUNTED(GetDlgItem);
using IsChecked = COUNTED(IsDlgButtonChecked);
using MessageBoxHook = COUNTED(MessageBoxW);
using MoveWindowHook = COUNTED(MoveWindow);
using ReadText = COUNTED(GetWindowTextW);
using ShowWindowHook = COUNTED(ShowWindow);
using SystemMetrics = COUNTED(GetSystemMetrics);
using WindowRect = COUNTED(GetWindowRect);
using WriteText = COUNTED(SetWindowTextA);
using WriteWideText = COUNTED(SetWindowTextW);
using ListWindows = COUNTED(EnumWindows);
using SendTimeout = COUNTED(SendMessageTimeoutW);
using PostHook = COUNTED(PostMessageW);
using SendHook = COUNTED(SendMessageW);

// Shell, COM and registry.
using BrowseHook = COUNTED(SHBrowseForFolderW);
using CreateInstance = COUNTED(CoCreateInstance);
using PathFromList = COUNTED(SHGetPathFromIDListW);
using ShellMalloc = COUNTED(SHGetMalloc);
using SpecialFolder = COUNTED(SHGetSpecialFolderLocation);
using AllocString = COUNTED(SysAllocString);
using FreeString = COUNTED(SysFreeString);
using TokenMembership = COUNTED(CheckTokenMembership);
using RegClose = COUNTED(RegCloseKey);
using RegOpen = COUNTED(RegOpenKeyExA);
using RegQuery = COUNTED(RegQueryValueExA);

// The LZ expand functions are reached through the engine's bound pointers,
// not the import table, so they are hooked by their pointer types.
using LzCopy = Counted<struct CountedTag_LzCopy, LZCopyProc>;
using LzClose = Counted<struct CountedTag_LzClose, LZCloseProc>;
using LzInit = Counted<struct CountedTag_LzInit, LZInitProc>;
// Marking a file for deletion and renaming it by its handle, bound at run
// time from the kernel.
using SetInformation = Counted<struct CountedTag_SetInformation, SetInformationFileProc>;
// Another process's image path, bound at run time from the kernel.
using ImageName = Counted<struct CountedTag_ImageName, QueryImageNameProc>;
