// Each payload of the built installer is a whole SZDD file that the
// platform's LZ expand library turns back into the package file.
#include <windows.h>
#include <lzexpand.h>
#include <gtest/gtest.h>

#include <string>

#include "package.h"
#include "scratch.h"

namespace {

std::string g_installer;  // Z: path of ZorvikSetup.exe, from the command line

class Payloads : public testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExA(g_installer.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << "cannot load " << g_installer;
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }

    std::string Resource(int id, WORD language) {
        HRSRC found = FindResourceExA(module_, RT_RCDATA, MAKEINTRESOURCEA(id), language);
        if (!found) return {};
        HGLOBAL loaded = LoadResource(module_, found);
        const char *data = static_cast<const char *>(LockResource(loaded));
        return std::string(data, SizeofResource(module_, found));
    }

    HMODULE module_ = nullptr;
};

std::string ExpandWithLz32(const std::string &compressedPath, const std::string &outPath) {
    OFSTRUCT of;
    INT source = LZOpenFileA(const_cast<char *>(compressedPath.c_str()), &of, OF_READ);
    if (source < 0) return "<LZOpenFileA failed on the payload>";
    INT target = LZOpenFileA(const_cast<char *>(outPath.c_str()), &of, OF_CREATE | OF_WRITE);
    LONG copied = LZCopy(source, target);
    LZClose(source);
    LZClose(target);
    if (copied < 0) return "<LZCopy failed>";
    return ReadWholeFile(outPath);
}

TEST_F(Payloads, EveryEntryIsAJapaneseRcdataResourceThatExpandsToItsPackageFile) {
    ScratchFolder scratch("payloads");
    for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i) {
        const PackageEntry &e = PackageTable[i];
        SCOPED_TRACE(std::string("entry ") + std::to_string(i) + " " + e.fileName);
        EXPECT_NE(FindResourceA(module_, MAKEINTRESOURCEA(e.resourceId), RT_RCDATA), nullptr);
        std::string payload = Resource(e.resourceId, MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
        ASSERT_GE(payload.size(), 14u) << "no Japanese RT_RCDATA resource " << e.resourceId;

        std::string original = ReadWholeFile(PackageFile(e.fileName));
        const unsigned char magic[] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33, 0x41, 0x00};
        EXPECT_EQ(payload.compare(0, 10, reinterpret_cast<const char *>(magic), 10), 0);
        const auto *len = reinterpret_cast<const unsigned char *>(payload.data() + 10);
        EXPECT_EQ(len[0] | len[1] << 8 | len[2] << 16 | static_cast<size_t>(len[3]) << 24, original.size());

        std::string packed = scratch / (std::to_string(e.resourceId) + ".sz");
        WriteWholeFile(packed, payload);
        std::string expanded = ExpandWithLz32(packed, scratch / e.fileName);
        EXPECT_TRUE(expanded == original) << "expanded " << expanded.size() << " bytes, package file "
                                          << original.size();
    }
}

TEST_F(Payloads, TheInstallationFolderFilesFitTheStatedRequirement) {
    size_t sum = 0;
    for (const PackageEntry &e : PackageTable)
        if (e.destination == DEST_INSTALL_FOLDER) sum += ReadWholeFile(PackageFile(e.fileName)).size();
    EXPECT_LE(sum, static_cast<unsigned>(PACKAGE_REQUIRED_SPACE));
}

}  // namespace

// The installer's path arrives as the last argument, a Linux path that Wine
// sees on drive Z:.
const int kInstallerArgument = [] {
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc > 1) {
        char path[MAX_PATH * 2];
        WideCharToMultiByte(CP_ACP, 0, argv[argc - 1], -1, path, sizeof path, nullptr, nullptr);
        g_installer = path[0] == '/' ? HostPath(path) : path;
    }
    LocalFree(argv);
    return 0;
}();
