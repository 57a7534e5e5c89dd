#include "sweep_support.h"

#include "package.h"

#include <algorithm>

namespace Sweep {
int EntryOfResource(LPCSTR name) {
    for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i)
        if (reinterpret_cast<UINT_PTR>(name) == static_cast<UINT_PTR>(PackageTable[i].resourceId)) return i;
    return -2;
}
int EntryOfName(const std::string &name) {
    for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i)
        if (lstrcmpiA(name.c_str(), PackageTable[i].fileName) == 0) return i;
    return -2;
}
}  // namespace Sweep

std::vector<std::string> g_linkEvents;

LinkCounters &Links() {
    static LinkCounters links;
    return links;
}

void RegisterLinkCounters() {
    LinkCounters &l = Links();
    for (Counter *c : {&l.setPath, &l.setDescription, &l.queryInterface, &l.save}) {
        c->variants = {"E_FAIL"};
        if (std::find(Hooks::counters.begin(), Hooks::counters.end(), c) == Hooks::counters.end())
            Hooks::counters.push_back(c);
    }
    l.queryInterface.variants = {"E_NOINTERFACE"};
}

namespace {

class PersistFileProxy : public IPersistFile {
public:
    explicit PersistFileProxy(IPersistFile *inner) : inner_(inner) {}
    virtual ~PersistFileProxy() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (inner_) return inner_->QueryInterface(iid, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG r = --refs_;
        if (r == 0) {
            if (inner_) inner_->Release();
            delete this;
        }
        return r;
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *id) override { return inner_ ? inner_->GetClassID(id) : E_FAIL; }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return inner_ ? inner_->IsDirty() : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR name, DWORD mode) override {
        return inner_ ? inner_->Load(name, mode) : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR name, BOOL remember) override {
        // The conversion is the test's own: no hook may count it.
        const bool saved = Hooks::inHook;
        Hooks::inHook = true;
        std::string path = Hooks::CheckedWidePath(Links().save, name);
        Hooks::inHook = saved;
        g_linkEvents.push_back("save " + path);
        if (Hooks::CountCall(Links().save, path)) return E_FAIL;
        return inner_ ? inner_->Save(name, remember) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR name) override {
        return inner_ ? inner_->SaveCompleted(name) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR *name) override {
        return inner_ ? inner_->GetCurFile(name) : E_FAIL;
    }

private:
    IPersistFile *inner_;
    ULONG refs_ = 1;
};

class ShellLinkProxy : public IShellLinkA {
public:
    explicit ShellLinkProxy(IShellLinkA *inner) : inner_(inner) {}
    virtual ~ShellLinkProxy() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IShellLinkA) {
            AddRef();
            *out = static_cast<IShellLinkA *>(this);
            return S_OK;
        }
        if (iid == IID_IPersistFile) {
            if (Hooks::CountCall(Links().queryInterface, "")) return E_NOINTERFACE;
            IPersistFile *file = nullptr;
            if (inner_) {
                HRESULT hr = inner_->QueryInterface(iid, reinterpret_cast<void **>(&file));
                if (FAILED(hr)) return hr;
            }
            *out = static_cast<IPersistFile *>(new PersistFileProxy(file));
            return S_OK;
        }
        return inner_ ? inner_->QueryInterface(iid, out) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG r = --refs_;
        if (r == 0) {
            if (inner_) inner_->Release();
            delete this;
        }
        return r;
    }
    HRESULT STDMETHODCALLTYPE GetPath(LPSTR f, int n, WIN32_FIND_DATAA *d, DWORD fl) override {
        return inner_ ? inner_->GetPath(f, n, d, fl) : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE GetIDList(LPITEMIDLIST *l) override { return inner_ ? inner_->GetIDList(l) : E_FAIL; }
    HRESULT STDMETHODCALLTYPE SetIDList(LPCITEMIDLIST l) override { return inner_ ? inner_->SetIDList(l) : S_OK; }
    HRESULT STDMETHODCALLTYPE GetDescription(LPSTR s, int n) override {
        return inner_ ? inner_->GetDescription(s, n) : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR s) override {
        std::string text = Hooks::CheckedPath(Links().setDescription, s, INFOTIPSIZE);
        g_linkEvents.push_back("description " + text);
        if (Hooks::CountCall(Links().setDescription, text)) return E_FAIL;
        return inner_ ? inner_->SetDescription(s) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR s, int n) override {
        return inner_ ? inner_->GetWorkingDirectory(s, n) : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR s) override {
        g_linkEvents.push_back("unexpected SetWorkingDirectory");
        return inner_ ? inner_->SetWorkingDirectory(s) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetArguments(LPSTR s, int n) override { return inner_ ? inner_->GetArguments(s, n) : E_FAIL; }
    HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR s) override {
        g_linkEvents.push_back("unexpected SetArguments");
        return inner_ ? inner_->SetArguments(s) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD *h) override { return inner_ ? inner_->GetHotkey(h) : E_FAIL; }
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD h) override {
        g_linkEvents.push_back("unexpected SetHotkey");
        return inner_ ? inner_->SetHotkey(h) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetShowCmd(int *c) override { return inner_ ? inner_->GetShowCmd(c) : E_FAIL; }
    HRESULT STDMETHODCALLTYPE SetShowCmd(int c) override {
        g_linkEvents.push_back("unexpected SetShowCmd");
        return inner_ ? inner_->SetShowCmd(c) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR s, int n, int *i) override {
        return inner_ ? inner_->GetIconLocation(s, n, i) : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR s, int i) override {
        g_linkEvents.push_back("unexpected SetIconLocation");
        return inner_ ? inner_->SetIconLocation(s, i) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR s, DWORD r) override {
        return inner_ ? inner_->SetRelativePath(s, r) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Resolve(HWND h, DWORD f) override { return inner_ ? inner_->Resolve(h, f) : S_OK; }
    HRESULT STDMETHODCALLTYPE SetPath(LPCSTR s) override {
        std::string path = Hooks::CheckedPath(Links().setPath, s);
        g_linkEvents.push_back("path " + path);
        if (Hooks::CountCall(Links().setPath, path)) return E_FAIL;
        return inner_ ? inner_->SetPath(s) : S_OK;
    }

private:
    IShellLinkA *inner_;
    ULONG refs_ = 1;
};

}  // namespace

IShellLinkA *WrapShellLink(IShellLinkA *inner) { return new ShellLinkProxy(inner); }

// ASCII letters only; the trail byte of a double-byte character stays as it is.
std::string Lower(std::string s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(s[i])) && i + 1 < s.size()) {
            ++i;
            continue;
        }
        if (s[i] >= 'A' && s[i] <= 'Z') s[i] = static_cast<char>(s[i] - 'A' + 'a');
    }
    return s;
}

std::string ProtectedFolderFault(PSECURITY_DESCRIPTOR descriptor) {
    if (!descriptor) return "no descriptor";
    if (!IsValidSecurityDescriptor(descriptor)) return "not a valid descriptor";
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(descriptor, &control, &revision)) return "its control cannot be read";
    if (!(control & SE_SELF_RELATIVE)) return "not self-relative";
    if (!(control & SE_DACL_PROTECTED)) return "the DACL is not protected: the parent's entries would be inherited";
    if (!(control & SE_DACL_AUTO_INHERITED)) return "the DACL is not marked as propagated to the folder's contents";
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present)
        return "no DACL";
    if (!dacl) return "a null DACL: everyone in full control";
    ACL_SIZE_INFORMATION size{};
    if (!GetAclInformation(dacl, &size, sizeof size, AclSizeInformation) || size.AceCount != 3)
        return "the DACL does not hold exactly three entries";

    // The three accounts and what each may do.
    struct Account {
        WELL_KNOWN_SID_TYPE type;
        ACCESS_MASK mask;
        const char *who;
        BYTE sid[SECURITY_MAX_SID_SIZE];
    };
    static Account accounts[] = {{WinLocalSystemSid, FILE_ALL_ACCESS, "SYSTEM", {}},
                                 {WinBuiltinAdministratorsSid, FILE_ALL_ACCESS, "Administrators", {}},
                                 {WinBuiltinUsersSid, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, "Users", {}}};
    static const bool made = [] {
        for (Account &a : accounts) {
            DWORD length = sizeof a.sid;
            if (!CreateWellKnownSid(a.type, nullptr, a.sid, &length)) return false;
        }
        return true;
    }();
    if (!made) return "the accounts' SIDs cannot be made";
    bool seen[3] = {};
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void *raw = nullptr;
        if (!GetAce(dacl, i, &raw)) return "entry " + std::to_string(i) + " cannot be read";
        const auto *ace = static_cast<const ACCESS_ALLOWED_ACE *>(raw);
        if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) return "entry " + std::to_string(i) + " does not allow";
        if (ace->Header.AceFlags != (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE))
            return "entry " + std::to_string(i) + " is not inherited by every file and folder inside";
        PSID sid = const_cast<DWORD *>(&ace->SidStart);
        int k = 0;
        while (k < 3 && !(IsValidSid(sid) && EqualSid(sid, accounts[k].sid))) ++k;
        if (k == 3) return "entry " + std::to_string(i) + " is for another account";
        if (seen[k]) return std::string(accounts[k].who) + " has two entries";
        if (ace->Mask != accounts[k].mask) return std::string(accounts[k].who) + " has the wrong access mask";
        seen[k] = true;
    }
    return "";
}
