// The built installer as it ships: exactly its resources, the dialog template
// byte for byte, the icon images, the version information, imports from the
// six system DLLs only, and the loader's exploit mitigations. ZORVIK_SETUP_IMAGE
// in the environment names another build of it to check (a signed one).
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <string>
#include <vector>

#include "package.h"
#include "resource.h"
#include "scratch.h"
#include "zorvik_version.h"

namespace {

const std::string kInstaller = HostPath(getenv("ZORVIK_SETUP_IMAGE") ? getenv("ZORVIK_SETUP_IMAGE") : ZORVIK_SETUP_EXE);
const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);  // 1041

std::string Cp932(const wchar_t *wide, int length) {
    std::string out(length * 2 + 1, '\0');
    int n = WideCharToMultiByte(932, 0, wide, length, &out[0], static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n);
    return out;
}

// Reads a dialog template in place.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE *base) : base_(base), p_(base) {}
    WORD Word() { WORD v; std::memcpy(&v, p_, 2); p_ += 2; return v; }
    DWORD Dword() { DWORD v; std::memcpy(&v, p_, 4); p_ += 4; return v; }
    short Short() { return static_cast<short>(Word()); }
    void AlignDword() { p_ = base_ + ((p_ - base_ + 3) & ~3); }
    // A string as cp932 bytes, or "#n" for an ordinal.
    std::string StringOrOrdinal() {
        if (Word() == 0xFFFF) return "#" + std::to_string(Word());
        p_ -= 2;
        const wchar_t *start = reinterpret_cast<const wchar_t *>(p_);
        int length = 0;
        while (Word() != 0) length++;
        return Cp932(start, length);
    }

private:
    const BYTE *base_;
    const BYTE *p_;
};

struct Control {
    DWORD style;
    DWORD exStyle;
    WORD id;
    std::string className;
    std::string text;
    short x, y, cx, cy;
    WORD extraBytes;
};

struct Resource {
    std::string type, name;
    WORD language;
    bool operator<(const Resource &o) const {
        return std::tie(type, name, language) < std::tie(o.type, o.name, o.language);
    }
};

std::string Id(LPCSTR id) {
    return IS_INTRESOURCE(id) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(id)) : std::string(id);
}

class Executable : public testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExA(kInstaller.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << "cannot load " << kInstaller;
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }

    const BYTE *Load(LPCSTR type, int id, DWORD *size = nullptr) {
        HRSRC found = FindResourceExA(module_, type, MAKEINTRESOURCEA(id), kJapanese);
        if (!found) return nullptr;
        if (size) *size = SizeofResource(module_, found);
        return static_cast<const BYTE *>(LockResource(LoadResource(module_, found)));
    }

    std::set<Resource> Inventory() {
        std::set<Resource> all;
        EnumResourceTypesA(module_, &OnType, reinterpret_cast<LONG_PTR>(&all));
        return all;
    }

    struct NameContext {
        std::set<Resource> *all;
        std::string type, name;
    };
    static BOOL CALLBACK OnType(HMODULE m, LPSTR type, LONG_PTR all) {
        EnumResourceNamesA(m, type, &OnName, all);
        return TRUE;
    }
    static BOOL CALLBACK OnName(HMODULE m, LPCSTR type, LPSTR name, LONG_PTR all) {
        NameContext context{reinterpret_cast<std::set<Resource> *>(all), Id(type), Id(name)};
        EnumResourceLanguagesA(m, type, name, &OnLanguage, reinterpret_cast<LONG_PTR>(&context));
        return TRUE;
    }
    static BOOL CALLBACK OnLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR context) {
        auto *c = reinterpret_cast<NameContext *>(context);
        c->all->insert({c->type, c->name, language});
        return TRUE;
    }

    HMODULE module_ = nullptr;
};

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colorCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

TEST_F(Executable, CarriesExactlyTheDialogTheIconAndThePayloads) {
    DWORD size = 0;
    const BYTE *group = Load(RT_GROUP_ICON, IDI_APP, &size);
    ASSERT_NE(group, nullptr);
    WORD count;
    std::memcpy(&count, group + 4, 2);
    ASSERT_EQ(count, 3);
    ASSERT_EQ(size, 6u + 3 * sizeof(GroupIconEntry));

    std::set<Resource> expected = {{"#5", "#102", kJapanese}, {"#14", "#101", kJapanese}, {"#24", "#1", kJapanese},
                                   {"#16", "#1", kJapanese}};
    // Width, height, colours (0 = 256) and bits per pixel of the three images, in order.
    const int images[3][4] = {{32, 32, 16, 4}, {32, 32, 0, 8}, {16, 16, 16, 4}};
    for (int i = 0; i < 3; i++) {
        GroupIconEntry e;
        std::memcpy(&e, group + 6 + i * sizeof e, sizeof e);
        EXPECT_EQ(e.width, images[i][0]) << i;
        EXPECT_EQ(e.height, images[i][1]) << i;
        EXPECT_EQ(e.colorCount, images[i][2]) << i;
        EXPECT_EQ(e.bitCount, images[i][3]) << i;
        DWORD imageSize = 0;
        EXPECT_NE(Load(RT_ICON, e.id, &imageSize), nullptr) << i;
        EXPECT_EQ(imageSize, e.bytesInRes) << i;
        expected.insert({"#3", "#" + std::to_string(e.id), kJapanese});
    }
    for (const PackageEntry &e : PackageTable) expected.insert({"#10", "#" + std::to_string(e.resourceId), kJapanese});

    std::set<Resource> actual = Inventory();
    for (const Resource &r : actual)
        EXPECT_TRUE(expected.count(r)) << "unexpected resource type " << r.type << " name " << r.name
                                       << " language " << r.language;
    for (const Resource &r : expected)
        EXPECT_TRUE(actual.count(r)) << "missing resource type " << r.type << " name " << r.name;
}

TEST_F(Executable, CarriesTheManifestByteForByte) {
    DWORD size = 0;
    const BYTE *data = Load(RT_MANIFEST, 1, &size);
    ASSERT_NE(data, nullptr);
    std::ifstream in(ZORVIK_MANIFEST, std::ios::binary);
    std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(source.empty()) << ZORVIK_MANIFEST;
    EXPECT_EQ(source, std::string(reinterpret_cast<const char *>(data), size));
}

// The dialog template is byte for byte the one installer.rc compiles to (this
// test program links the same compiled script), and holds what the code and
// the user rely on.
TEST_F(Executable, DialogTemplateByteForByte) {
    DWORD size = 0;
    const BYTE *data = Load(RT_DIALOG, IDD_INSTALLER, &size);
    ASSERT_NE(data, nullptr);
    HRSRC own = FindResourceExA(nullptr, RT_DIALOG, MAKEINTRESOURCEA(IDD_INSTALLER), kJapanese);
    ASSERT_NE(own, nullptr);
    const BYTE *script = static_cast<const BYTE *>(LockResource(LoadResource(nullptr, own)));
    ASSERT_EQ(std::basic_string<BYTE>(data, size), std::basic_string<BYTE>(script, SizeofResource(nullptr, own)));

    TemplateReader in(data);
    in.Dword();
    in.Dword();
    const WORD count = in.Word();
    in.Short();
    in.Short();
    const short width = in.Short(), height = in.Short();
    for (int i = 0; i < 3; i++) in.StringOrOrdinal();   // menu, class, caption
    EXPECT_EQ(in.Word(), 12);
    EXPECT_EQ(in.StringOrOrdinal(), "ＭＳ Ｐゴシック") << "the face that the Wine prefix replaces";

    const std::string kButton = "#128", kEdit = "#129", kStatic = "#130";
    std::map<WORD, Control> named;
    std::vector<Control> unnamed;
    for (int i = 0; i < count; i++) {
        in.AlignDword();
        Control c;
        c.style = in.Dword();
        c.exStyle = in.Dword();
        c.x = in.Short();
        c.y = in.Short();
        c.cx = in.Short();
        c.cy = in.Short();
        c.id = in.Word();
        c.className = in.StringOrOrdinal();
        c.text = in.StringOrOrdinal();
        c.extraBytes = in.Word();
        SCOPED_TRACE("control " + std::to_string(i + 1) + " " + c.text);
        EXPECT_EQ(c.exStyle, 0u);
        EXPECT_EQ(c.extraBytes, 0);
        EXPECT_TRUE(c.style & WS_CHILD);
        EXPECT_TRUE(c.x >= 0 && c.y >= 0 && c.x + c.cx <= width && c.y + c.cy <= height) << "outside the dialog";
        EXPECT_EQ((c.style & WS_VISIBLE) == 0, c.id == IDC_PROGRESS) << "only the progress label starts hidden";
        EXPECT_EQ((c.style & WS_TABSTOP) != 0, c.className != kStatic) << "a tab stop on each control one works";
        if (c.id == 0xFFFF)
            unnamed.push_back(c);
        else
            EXPECT_TRUE(named.emplace(c.id, c).second) << "identifier " << c.id << " twice";
    }

    // Each control the code names, of the class it expects; besides them only
    // the program's icon and the introduction.
    const std::map<WORD, std::string> classes = {
        {IDC_DESCRIPTION, kStatic}, {IDC_FOLDER_LABEL, kStatic},   {IDC_FOLDER, kEdit},
        {IDC_BROWSE, kButton},      {IDC_SHORTCUT_LABEL, kStatic}, {IDC_ADD_STARTMENU, kButton},
        {IDC_ADD_DESKTOP, kButton}, {IDOK, kButton},               {IDCANCEL, kButton},
        {IDC_SPACE_LABEL, kStatic}, {IDC_PROGRESS, kStatic}};
    ASSERT_EQ(named.size(), classes.size());
    for (const auto &[id, className] : classes) EXPECT_EQ(named[id].className, className) << id;
    ASSERT_EQ(unnamed.size(), 2u);
    EXPECT_EQ(unnamed[0].style & SS_TYPEMASK, static_cast<DWORD>(SS_ICON));
    EXPECT_EQ(unnamed[0].text, "#" + std::to_string(IDI_APP));
    EXPECT_EQ(unnamed[1].className, kStatic);

    // The start button answers Enter, the boxes check themselves, a folder
    // longer than its box can be typed, and the stated space is the package's.
    EXPECT_EQ(named[IDOK].style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    for (WORD id : {IDC_ADD_STARTMENU, IDC_ADD_DESKTOP})
        EXPECT_EQ(named[id].style & BS_TYPEMASK, static_cast<DWORD>(BS_AUTOCHECKBOX)) << id;
    EXPECT_TRUE(named[IDC_FOLDER].style & ES_AUTOHSCROLL);
    EXPECT_EQ(named[IDC_SPACE_LABEL].text,
              "必要ディスク容量：" + std::to_string(PACKAGE_REQUIRED_SPACE / 1000) + "Kbytes");
    EXPECT_EQ(named[IDC_DESCRIPTION].text.substr(0, 2), "　") << "begins with an ideographic space";
    EXPECT_NE(named[IDC_DESCRIPTION].text.find("Zorvik"), std::string::npos);
}

// The executable's file, with RVAs mapped to file offsets.
class PeFile {
public:
    explicit PeFile(std::string bytes) : bytes_(std::move(bytes)) {
        std::memcpy(&dos_, bytes_.data(), sizeof dos_);
        std::memcpy(&nt_, bytes_.data() + dos_.e_lfanew, sizeof nt_);
        const char *sections = bytes_.data() + dos_.e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                               nt_.FileHeader.SizeOfOptionalHeader;
        sections_.resize(nt_.FileHeader.NumberOfSections);
        std::memcpy(sections_.data(), sections, sections_.size() * sizeof(IMAGE_SECTION_HEADER));
    }
    const IMAGE_NT_HEADERS32 &nt() const { return nt_; }
    const std::vector<IMAGE_SECTION_HEADER> &Sections() const { return sections_; }
    const IMAGE_SECTION_HEADER *SectionOf(DWORD rva) const {
        for (const IMAGE_SECTION_HEADER &s : sections_)
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.Misc.VirtualSize) return &s;
        return nullptr;
    }
    const char *At(DWORD rva) const {
        for (const IMAGE_SECTION_HEADER &s : sections_)
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + std::max(s.Misc.VirtualSize, s.SizeOfRawData))
                return bytes_.data() + s.PointerToRawData + (rva - s.VirtualAddress);
        throw std::runtime_error("RVA outside every section");
    }
    // DLL name -> imported function names.
    std::vector<std::pair<std::string, std::vector<std::string>>> Imports() const {
        std::vector<std::pair<std::string, std::vector<std::string>>> out;
        DWORD rva = nt_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        if (!rva) return out;
        for (auto *d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(At(rva)); d->Name; ++d) {
            std::vector<std::string> functions;
            auto *thunk = reinterpret_cast<const IMAGE_THUNK_DATA32 *>(
                At(d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
            for (; thunk->u1.AddressOfData; ++thunk)
                functions.push_back(IMAGE_SNAP_BY_ORDINAL32(thunk->u1.Ordinal)
                                        ? "#" + std::to_string(IMAGE_ORDINAL32(thunk->u1.Ordinal))
                                        : std::string(At(thunk->u1.AddressOfData) + 2));
            out.emplace_back(At(d->Name), functions);
        }
        return out;
    }

private:
    std::string bytes_;
    IMAGE_DOS_HEADER dos_;
    IMAGE_NT_HEADERS32 nt_;
    std::vector<IMAGE_SECTION_HEADER> sections_;
};

TEST(ExecutableFile, GuiProgramImportingOnlyTheSixSystemDlls) {
    PeFile pe(ReadWholeFile(kInstaller));
    EXPECT_EQ(pe.nt().FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(pe.nt().OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

    const std::set<std::string> allowed = {"KERNEL32.DLL", "USER32.DLL", "SHELL32.DLL",
                                           "OLE32.DLL",    "OLEAUT32.DLL", "ADVAPI32.DLL"};
    std::set<std::string> dlls;
    for (const auto &[dll, functions] : pe.Imports()) {
        std::string upper = dll;
        CharUpperA(&upper[0]);
        dlls.insert(upper);
        EXPECT_TRUE(allowed.count(upper)) << "imports " << dll;
        for (const std::string &f : functions) {
            // Bound at run time, so the program starts where they are missing
            // and takes no LZ32 from beside itself.
            EXPECT_NE(f, "SetDefaultDllDirectories");
            EXPECT_NE(f.rfind("LZ", 0), 0u) << f;
        }
    }
    EXPECT_EQ(dlls, allowed);
}

// The version information of a file: its fixed part and its strings of
// Japanese in UTF-16, the one translation it names.
struct VersionInfo {
    VS_FIXEDFILEINFO fixed{};
    std::map<std::string, std::string> strings;
    DWORD translation = 0;
    // A string of the file, empty when it has none of that name.
    std::string Text(const std::string &name) const {
        auto found = strings.find(name);
        return found == strings.end() ? "" : found->second;
    }
};

VersionInfo ReadVersion(const std::string &file) {
    VersionInfo v;
    std::wstring path = Wide(file);
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    std::vector<BYTE> block(size);
    if (!size || !GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return v;
    void *p = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), L"\\", &p, &length) && length == sizeof v.fixed) std::memcpy(&v.fixed, p, length);
    if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &p, &length) && length == 4)
        std::memcpy(&v.translation, p, 4);
    for (const char *name : {"CompanyName", "FileDescription", "FileVersion", "InternalName", "LegalCopyright",
                             "OriginalFilename", "ProductName", "ProductVersion"}) {
        std::wstring key = L"\\StringFileInfo\\041104B0\\" + Wide(name);
        if (VerQueryValueW(block.data(), key.c_str(), &p, &length) && length)
            v.strings[name] = Narrow(static_cast<const wchar_t *>(p), CP_UTF8);
    }
    return v;
}

// The installer says what it is, with the release's version, and the
// program it installs carries the same.
TEST(ExecutableFile, VersionInformationOfTheInstallerAndItsProgram) {
    const WORD numbers[4] = {ZORVIK_VERSION_NUMBERS};
    const VersionInfo setup = ReadVersion(kInstaller), program = ReadVersion(PackageFile(PackageTable[0].fileName));
    for (const VersionInfo *v : {&setup, &program}) {
        SCOPED_TRACE(v == &setup ? "installer" : "program");
        EXPECT_EQ(v->fixed.dwSignature, 0xFEEF04BDu);
        EXPECT_EQ(v->fixed.dwFileVersionMS, MAKELONG(numbers[1], numbers[0]));
        EXPECT_EQ(v->fixed.dwFileVersionLS, MAKELONG(numbers[3], numbers[2]));
        EXPECT_EQ(v->fixed.dwProductVersionMS, v->fixed.dwFileVersionMS);
        EXPECT_EQ(v->fixed.dwProductVersionLS, v->fixed.dwFileVersionLS);
        EXPECT_EQ(v->fixed.dwFileType, static_cast<DWORD>(VFT_APP));
        EXPECT_EQ(v->translation, MAKELONG(kJapanese, 1200u)) << "Japanese, UTF-16";
        EXPECT_EQ(v->Text("FileVersion"), ZORVIK_VERSION_TEXT);
        EXPECT_EQ(v->Text("ProductVersion"), ZORVIK_VERSION_TEXT);
        EXPECT_EQ(v->Text("ProductName"), "Zorvik");
        EXPECT_EQ(v->Text("CompanyName"), ZORVIK_COMPANY);
        EXPECT_EQ(v->Text("LegalCopyright"), ZORVIK_COPYRIGHT);
    }
    EXPECT_EQ(setup.Text("FileDescription"), ZORVIK_SETUP_DESCRIPTION);
    EXPECT_EQ(setup.Text("OriginalFilename"), ZORVIK_SETUP_NAME ".exe");
    EXPECT_EQ(program.Text("OriginalFilename"), PackageTable[0].fileName);
}

// What the loader checks before it runs the installer with the
// administrator's token: a relocatable image whose data does not execute,
// that registers no exception handler, that is Terminal Server aware, and
// whose stack checks' guard is the security cookie of a load configuration
// that Windows 2000 and XP accept.
TEST(ExecutableFile, ExploitMitigationsTheLoaderChecks) {
    PeFile pe(ReadWholeFile(kInstaller));
    const IMAGE_OPTIONAL_HEADER32 &o = pe.nt().OptionalHeader;
    for (WORD flag : {IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, IMAGE_DLLCHARACTERISTICS_NX_COMPAT,
                      IMAGE_DLLCHARACTERISTICS_NO_SEH, IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE})
        EXPECT_TRUE(o.DllCharacteristics & flag) << std::hex << flag;
    EXPECT_FALSE(pe.nt().FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED);
    EXPECT_NE(o.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u);

    const IMAGE_DATA_DIRECTORY &d = o.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
    ASSERT_NE(d.VirtualAddress, 0u) << "no load configuration";
    EXPECT_EQ(d.Size, 64u) << "the size Windows 2000 and XP require";
    DWORD config[18];
    std::memcpy(config, pe.At(d.VirtualAddress), sizeof config);
    EXPECT_EQ(config[0], sizeof config) << "up to the handler table";
    const DWORD cookie = config[15], handlerTable = config[16], handlerCount = config[17];
    EXPECT_EQ(handlerTable, 0u);
    EXPECT_EQ(handlerCount, 0u);
    ASSERT_GE(cookie, o.ImageBase);
    const IMAGE_SECTION_HEADER *holder = pe.SectionOf(cookie - o.ImageBase);
    ASSERT_NE(holder, nullptr) << "the cookie lies outside the image";
    EXPECT_TRUE(holder->Characteristics & IMAGE_SCN_MEM_WRITE) << "the cookie is not in writable data";
    DWORD value;
    std::memcpy(&value, pe.At(cookie - o.ImageBase), 4);
    EXPECT_EQ(value, 0xBB40E64Eu) << "the compiler's default, which the loader replaces";

    // No code registers a handler: nothing writes the head of the thread's
    // handler chain (mov fs:[0], r32 / eax; pop fs:[0]).
    for (const IMAGE_SECTION_HEADER &s : pe.Sections()) {
        if (!(s.Characteristics & IMAGE_SCN_MEM_EXECUTE)) continue;
        const auto *code = reinterpret_cast<const BYTE *>(pe.At(s.VirtualAddress));
        const DWORD size = std::min(s.Misc.VirtualSize, s.SizeOfRawData);
        for (DWORD i = 0; i + 6 < size; ++i) {
            if (code[i] != 0x64) continue;
            const BYTE *a = code + i + 1;
            const bool moveEax = a[0] == 0xA3 && !a[1] && !a[2] && !a[3] && !a[4];
            const bool move = (a[0] == 0x89 || a[0] == 0x8F) && (a[1] & 0xC7) == 0x05 && i + 7 < size && !a[2] &&
                              !a[3] && !a[4] && !a[5];
            EXPECT_FALSE(moveEax || move) << "an exception handler is registered at RVA " << std::hex
                                          << s.VirtualAddress + i;
        }
    }
}

}  // namespace
