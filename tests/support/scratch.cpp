#include "scratch.h"

#include <windows.h>
#include <stdexcept>

ScratchFolder::ScratchFolder(const std::string &name) {
    static int counter = 0;
    CreateDirectoryA("C:\\zt", nullptr);
    path_ = "C:\\zt\\" + name + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    RemoveTree(path_);
    if (!CreateDirectoryA(path_.c_str(), nullptr))
        throw std::runtime_error("cannot create scratch folder " + path_);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

bool FileExists(const std::string &path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string &path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadWholeFile(const std::string &path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot read " + path);
    std::string bytes(GetFileSize(h, nullptr), '\0');
    DWORD got = 0;
    if (!bytes.empty()) ReadFile(h, &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(h);
    bytes.resize(got);
    return bytes;
}

void WriteWholeFile(const std::string &path, const std::string &bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + path);
    DWORD put = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
    CloseHandle(h);
}

std::vector<std::string> ListFolder(const std::string &folder, const std::string &pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((folder + "\\" + pattern).c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        std::string n = fd.cFileName;
        if (n != "." && n != "..") names.push_back(n);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

namespace {
// By exact (UTF-16) names: a test may leave names the code page cannot spell.
void RemoveWideTree(const std::wstring &path) {
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((path + L"\\*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::wstring n = fd.cFileName;
                if (n != L"." && n != L"..") RemoveWideTree(path + L"\\" + n);
            } while (FindNextFileW(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryW(path.c_str());
    } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    }
}
}  // namespace

void RemoveTree(const std::string &path) { RemoveWideTree(Wide(path)); }

std::string HostPath(const std::string &unixPath) {
    std::string p = "Z:" + unixPath;
    for (char &c : p)
        if (c == '/') c = '\\';
    return p;
}

std::string PackageFile(const std::string &name) {
    return HostPath(ZORVIK_PACKAGE_FILES) + "\\" + name;
}

std::string TempFolder() {
    char buf[MAX_PATH];
    GetTempPathA(MAX_PATH, buf);
    return buf;
}

std::vector<std::string> TempFiles() { return ListFolder(TempFolder(), "ZIN*.tmp"); }

std::wstring Wide(const std::string &text, UINT page) {
    std::wstring out(text.size() + 1, L'\0');
    out.resize(MultiByteToWideChar(page, 0, text.c_str(), -1, &out[0], static_cast<int>(out.size())));
    if (!out.empty()) out.pop_back();
    return out;
}

std::string Narrow(const std::wstring &wide, UINT page) {
    std::string out(wide.size() * 3 + 1, '\0');
    out.resize(WideCharToMultiByte(page, 0, wide.c_str(), -1, &out[0], static_cast<int>(out.size()), nullptr,
                                   nullptr));
    if (!out.empty()) out.pop_back();
    return out;
}
