// The built installer as it ships: exactly its resources, the dialog template
// byte for byte, the icon images, and imports from the five system DLLs only.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <string>
#include <vector>

#include "resource.h"
#include "scratch.h"

namespace {

const std::string kInstaller = HostPath(ZORVIK_SETUP_EXE);
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

    std::set<Resource> expected = {{"#5", "#102", kJapanese}, {"#14", "#101", kJapanese}, {"#24", "#1", kJapanese}};
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
    for (int id = 9001; id <= 9016; id++) expected.insert({"#10", "#" + std::to_string(id), kJapanese});

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

TEST_F(Executable, DialogTemplateByteForByte) {
    DWORD size = 0;
    const BYTE *data = Load(RT_DIALOG, IDD_INSTALLER, &size);
    ASSERT_NE(data, nullptr);
    TemplateReader in(data);

    EXPECT_EQ(in.Dword(), static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(in.Dword(), 0u) << "extended style";
    const WORD count = in.Word();
    ASSERT_EQ(count, 13);
    in.Short();
    in.Short();
    EXPECT_EQ(in.Short(), 214);
    EXPECT_EQ(in.Short(), 164);
    EXPECT_EQ(in.StringOrOrdinal(), "") << "menu";
    EXPECT_EQ(in.StringOrOrdinal(), "") << "class";
    EXPECT_EQ(in.StringOrOrdinal(), "Zorvikインストーラ");
    EXPECT_EQ(in.Word(), 12);
    EXPECT_EQ(in.StringOrOrdinal(), "ＭＳ Ｐゴシック");

    const std::string kButton = "#128", kEdit = "#129", kStatic = "#130";
    const DWORD C = WS_CHILD, V = WS_VISIBLE, T = WS_TABSTOP;
    const std::string kDescription = "<description>";
    const Control expected[13] = {
        {C | V | SS_ICON, 0, 0xFFFF, kStatic, "#101", 5, 5, 20, 20, 0},
        {C | V | SS_LEFT, 0, IDC_DESCRIPTION, kStatic, kDescription, 20, 4, 185, 35, 0},
        {C | V | SS_LEFT, 0, IDC_FOLDER_LABEL, kStatic, "インストール先フォルダ(&F)：", 16, 64, 82, 8, 0},
        {C | V | WS_BORDER | T | ES_AUTOHSCROLL, 0, IDC_FOLDER, kEdit, "", 26, 74, 145, 14, 0},
        {C | V | T | BS_PUSHBUTTON, 0, IDC_BROWSE, kButton, "参照(&B)...", 176, 74, 32, 14, 0},
        {C | V | SS_LEFT, 0, IDC_SHORTCUT_LABEL, kStatic, "ショートカットの作成：", 16, 94, 63, 8, 0},
        {C | V | T | BS_AUTOCHECKBOX, 0, IDC_ADD_STARTMENU, kButton, "スタートメニューに追加(&S)", 26, 104, 93, 10, 0},
        {C | V | T | BS_AUTOCHECKBOX, 0, IDC_ADD_DESKTOP, kButton, "デスクトップに追加(&D)", 26, 114, 85, 10, 0},
        {C | V | T | BS_DEFPUSHBUTTON, 0, IDOK, kButton, "ｲﾝｽﾄｰﾙ開始", 101, 144, 50, 14, 0},
        {C | V | T | BS_PUSHBUTTON, 0, IDCANCEL, kButton, "ｷｬﾝｾﾙ", 156, 144, 52, 14, 0},
        {C | V | WS_GROUP | SS_LEFT, 0, IDC_SPACE_LABEL, kStatic, "必要ディスク容量：500Kbytes", 16, 129, 190, 8, 0},
        {C | SS_LEFT, 0, IDC_PROGRESS, kStatic, "インストール中．．．", 26, 94, 112, 8, 0},
        {C | V | WS_GROUP | SS_LEFT, 0, 0xFFFF, kStatic,
         "　Zorvikのインストールをします。インストール先フォルダを選択し、「インストール開始」をクリックしてください。",
         20, 44, 188, 20, 0},
    };
    for (int i = 0; i < 13; i++) {
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
        const Control &e = expected[i];
        SCOPED_TRACE("control " + std::to_string(i + 1));
        EXPECT_EQ(c.style, e.style);
        EXPECT_EQ(c.exStyle, e.exStyle);
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(c.className, e.className);
        if (e.text == kDescription) {
            EXPECT_EQ(c.text.substr(0, 2), "　") << "begins with an ideographic space";
            EXPECT_NE(c.text.find("Zorvik"), std::string::npos);
        } else {
            EXPECT_EQ(c.text, e.text);
        }
        EXPECT_EQ(c.x, e.x);
        EXPECT_EQ(c.y, e.y);
        EXPECT_EQ(c.cx, e.cx);
        EXPECT_EQ(c.cy, e.cy);
        EXPECT_EQ(c.extraBytes, 0);
    }
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

TEST(ExecutableFile, GuiProgramImportingOnlyTheFiveSystemDlls) {
    PeFile pe(ReadWholeFile(kInstaller));
    EXPECT_EQ(pe.nt().FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(pe.nt().OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);

    const std::set<std::string> allowed = {"KERNEL32.DLL", "USER32.DLL", "SHELL32.DLL", "OLE32.DLL", "ADVAPI32.DLL"};
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

}  // namespace
