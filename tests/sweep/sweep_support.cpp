#include "sweep_support.h"

#include "package.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace Sweep {
bool counting = false;
bool inHook = false;
int entry = -1;
Phase phase = kPhaseNone;
std::vector<CallRecord> trace;
std::vector<std::string> violations;
std::vector<Counter *> counters;
long faultsInjected = 0;

void ResetCalls() {
    for (Counter *c : counters) {
        c->calls = 0;
        c->failAt = 0;
        c->variant = 0;
    }
    trace.clear();
    violations.clear();
    entry = -1;
    phase = kPhaseNone;
}

void Violation(const std::string &what) { violations.push_back(what); }

std::string CheckedPath(const Counter &function, const char *p, size_t limit) {
    if (!p) return "<null>";
    size_t n = 0;
    while (n < limit && p[n]) ++n;
    if (n == limit) {
        Violation(function.name + ": path not terminated within " + std::to_string(limit) +
                  " bytes: " + std::string(p, 60) + "...");
        return std::string(p, limit);
    }
    return std::string(p, n);
}

std::string CheckedWidePath(const Counter &function, const WCHAR *p, size_t limit) {
    if (!p) return "<null>";
    size_t n = 0;
    while (n < limit && p[n]) ++n;
    if (n == limit) {
        Violation(function.name + ": wide path not terminated within " + std::to_string(limit) +
                  " characters");
        return "<unterminated>";
    }
    std::wstring wide(p, n);
    char narrow[4 * MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, narrow, sizeof narrow, nullptr, nullptr);
    return narrow;
}

int EntryOfResource(LPCSTR name) {
    for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i)
        if (reinterpret_cast<UINT_PTR>(name) == static_cast<UINT_PTR>(PackageTable[i].resourceId)) return i;
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
        if (std::find(Sweep::counters.begin(), Sweep::counters.end(), c) == Sweep::counters.end())
            Sweep::counters.push_back(c);
    }
    l.queryInterface.variants = {"E_NOINTERFACE"};
}

namespace {

// Counts a call of a link method; true when this call is to fail.
bool CountLinkCall(Counter &c, const std::string &path) {
    if (!Sweep::counting) return false;
    CallRecord rec;
    rec.function = &c;
    rec.number = ++c.calls;
    rec.entry = Sweep::entry;
    rec.phase = Sweep::phase;
    rec.path = path;
    rec.faulted = rec.number == c.failAt && !c.variants.empty();
    Sweep::trace.push_back(rec);
    if (rec.faulted) ++Sweep::faultsInjected;
    return rec.faulted;
}

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
        std::string path = Sweep::CheckedWidePath(Links().save, name);
        g_linkEvents.push_back("save " + path);
        if (CountLinkCall(Links().save, path)) return E_FAIL;
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
            if (CountLinkCall(Links().queryInterface, "")) return E_NOINTERFACE;
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
        std::string text = Sweep::CheckedPath(Links().setDescription, s, INFOTIPSIZE);
        g_linkEvents.push_back("description " + text);
        if (CountLinkCall(Links().setDescription, text)) return E_FAIL;
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
        std::string path = Sweep::CheckedPath(Links().setPath, s);
        g_linkEvents.push_back("path " + path);
        if (CountLinkCall(Links().setPath, path)) return E_FAIL;
        return inner_ ? inner_->SetPath(s) : S_OK;
    }

private:
    IShellLinkA *inner_;
    ULONG refs_ = 1;
};

}  // namespace

IShellLinkA *WrapShellLink(IShellLinkA *inner) { return new ShellLinkProxy(inner); }

std::string FormatInt(const char *format, const std::string &argument, int number) {
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, format, argument.c_str(), number);
    return buffer;
}

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

bool StartsWithNoCase(const std::string &text, const std::string &prefix) {
    return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == Lower(prefix);
}
