// The installer's front end: process entry, the dialog procedure and the
// folder that the dialog proposes.
#ifndef ZORVIK_INSTALLER_DIALOG_H
#define ZORVIK_INSTALLER_DIALOG_H

#include <windows.h>

// Key names a registry path may nest (20 handles with the root).
#define MAX_KEY_NAMES 19

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);
INT_PTR CALLBACK InstallDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Fills a MAX_PATH buffer with the proposed installation folder.
void GetDefaultInstallFolder(char *buffer);
// Reads the value named by the last segment of `path` (key names separated by
// backslashes) into a MAX_PATH buffer; 1 when the buffer holds a terminated
// string, 0 otherwise.
int ReadRegistryValue(char *buffer, HKEY root, const char *path);

#endif
