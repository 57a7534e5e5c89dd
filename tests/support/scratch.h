// Folders and files for tests, inside the test prefix's drive C:.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// A fresh, empty folder C:\zt\<name>-<unique>, removed with everything in it
// when the object goes.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string &name);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &child) const { return path_ + "\\" + child; }

private:
    std::string path_;
};

bool FileExists(const std::string &path);     // a file, not a folder
bool FolderExists(const std::string &path);
std::string ReadWholeFile(const std::string &path);  // throws when unreadable
void WriteWholeFile(const std::string &path, const std::string &bytes);
void RemoveTree(const std::string &path);
std::vector<std::string> ListFolder(const std::string &folder, const std::string &pattern = "*");

// Text of the ANSI code page (or another) in UTF-16, and back (with the code page's best fit).
std::wstring Wide(const std::string &text, UINT page = CP_ACP);
std::string Narrow(const std::wstring &wide, UINT page = CP_ACP);
// A Linux path as Wine sees it on drive Z:.
std::string HostPath(const std::string &unixPath);
// The folder of the staged package files (the originals of the payloads).
std::string PackageFile(const std::string &name);
// The platform's temporary folder and the ZIN*.tmp files in it.
std::string TempFolder();
std::vector<std::string> TempFiles();
