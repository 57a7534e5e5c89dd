// The desktop's shell, faked with C-style vtables: only the methods that the
// chain calls are filled in, each named as the interface names it, so that no
// slot is counted by hand. Every object is a singleton whose references count
// into one total. The identifiers are the SDK's, so that the installer's own
// copies of them are checked too.
#define CINTERFACE
#include "desktop_shell_fake.h"

#include <atomic>

#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>

namespace DesktopShell {
std::vector<Request> requests;
}

namespace {

std::atomic<int> g_references{0};
// A step held past the run's deadline waits here until the scenario lets it go on.
HANDLE g_release = CreateEventW(nullptr, TRUE, TRUE, nullptr);

// The step's failure, if this call is the one to fail: true when it must
// answer with the variant's error; a held step waits, then answers normally.
bool Fails(Counter &step) {
    if (!Hooks::CountCall(step, "")) return false;
    if (step.variant != 2) return true;
    WaitForSingleObject(g_release, INFINITE);
    return false;
}

struct Steps {
    Counter findWindow{"IShellWindows::FindWindowSW"};
    Counter provider{"QueryInterface(IServiceProvider)"};
    Counter browser{"IServiceProvider::QueryService(IShellBrowser)"};
    Counter view{"IShellBrowser::QueryActiveShellView"};
    Counter background{"IShellView::GetItemObject(SVGIO_BACKGROUND)"};
    Counter folderView{"QueryInterface(IShellFolderViewDual)"};
    Counter application{"IShellFolderViewDual::get_Application"};
    Counter dispatch2{"QueryInterface(IShellDispatch2)"};
    Counter execute{"IShellDispatch2::ShellExecute"};
};
Steps &TheSteps() {
    static Steps steps;
    return steps;
}

// A step hands out `object`, or fails as its counter's variant says:
// 0 an error with garbage left in the output, 1 success with no object, 2
// held past the deadline, then success.
HRESULT HandOut(Counter &step, void *object, void **out) {
    if (Fails(step)) {
        if (step.variant == 0) {
            *out = reinterpret_cast<void *>(0xBAADF00D);
            return E_FAIL;
        }
        *out = nullptr;
        return S_FALSE;
    }
    *out = object;
    ++g_references;
    return S_OK;
}

ULONG STDMETHODCALLTYPE AddRef(void *) { return static_cast<ULONG>(++g_references); }
ULONG STDMETHODCALLTYPE Release(void *) {
    const int left = --g_references;
    if (left < 0) Hooks::Violation("an interface of the desktop's shell released once too often");
    return static_cast<ULONG>(left < 0 ? 0 : left);
}

// One object per interface of the chain; each answers QueryInterface only
// for the interface that the chain asks of it next.
template <class Vtbl> struct Fake {
    Vtbl *lpVtbl;
    Vtbl table;
};
Fake<IShellWindowsVtbl> g_windows;
Fake<IDispatchVtbl> g_desktop;
Fake<IServiceProviderVtbl> g_provider;
Fake<IShellBrowserVtbl> g_browser;
Fake<IShellViewVtbl> g_view;
Fake<IDispatchVtbl> g_background;
Fake<IShellFolderViewDualVtbl> g_folderView;
Fake<IDispatchVtbl> g_application;
Fake<IShellDispatch2Vtbl> g_shell;

HRESULT NoInterface(void **out) {
    *out = nullptr;
    Hooks::Violation("an unexpected interface asked of the desktop's shell");
    return E_NOINTERFACE;
}

std::wstring Text(const VARIANT &v, const char *what) {
    if (v.vt != VT_BSTR || !v.bstrVal) {
        Hooks::Violation(std::string("ShellExecute's ") + what + " is not a string");
        return L"";
    }
    if (SysStringLen(v.bstrVal) != static_cast<UINT>(lstrlenW(v.bstrVal)))
        Hooks::Violation(std::string("ShellExecute's ") + what + " has a wrong length");
    return v.bstrVal;
}

#define METHOD(name, ...) HRESULT STDMETHODCALLTYPE name(__VA_ARGS__)

METHOD(FindDesktop, IShellWindows *, VARIANT *location, VARIANT *root, int kind, LONG *window, int options,
       IDispatch **out) {
    if (kind != SWC_DESKTOP || !(options & SWFO_NEEDDISPATCH) || !location || !root || !window)
        Hooks::Violation("FindWindowSW not asked for the desktop's dispatch");
    *window = 0x10010;
    return HandOut(TheSteps().findWindow, &g_desktop, reinterpret_cast<void **>(out));
}
METHOD(DesktopQuery, IDispatch *, REFIID iid, void **out) {
    return iid == IID_IServiceProvider ? HandOut(TheSteps().provider, &g_provider, out) : NoInterface(out);
}
METHOD(QueryBrowser, IServiceProvider *, REFGUID service, REFIID iid, void **out) {
    if (service != SID_STopLevelBrowser || iid != IID_IShellBrowser) return NoInterface(out);
    return HandOut(TheSteps().browser, &g_browser, out);
}
METHOD(ActiveView, IShellBrowser *, IShellView **out) {
    return HandOut(TheSteps().view, &g_view, reinterpret_cast<void **>(out));
}
METHOD(ItemObject, IShellView *, UINT item, REFIID iid, void **out) {
    if (item != SVGIO_BACKGROUND || iid != IID_IDispatch) return NoInterface(out);
    return HandOut(TheSteps().background, &g_background, out);
}
METHOD(BackgroundQuery, IDispatch *, REFIID iid, void **out) {
    return iid == IID_IShellFolderViewDual ? HandOut(TheSteps().folderView, &g_folderView, out) : NoInterface(out);
}
METHOD(Application, IShellFolderViewDual *, IDispatch **out) {
    return HandOut(TheSteps().application, &g_application, reinterpret_cast<void **>(out));
}
METHOD(ApplicationQuery, IDispatch *, REFIID iid, void **out) {
    return iid == IID_IShellDispatch2 ? HandOut(TheSteps().dispatch2, &g_shell, out) : NoInterface(out);
}
METHOD(Execute, IShellDispatch2 *, BSTR file, VARIANT arguments, VARIANT folder, VARIANT operation, VARIANT show) {
    VARIANT name;
    name.vt = VT_BSTR;
    name.bstrVal = file;
    DesktopShell::Request r{Text(name, "file"), Text(arguments, "arguments"), Text(folder, "folder"), operation.vt,
                            show.vt == VT_I4 ? show.lVal : -1};
    Counter &step = TheSteps().execute;
    if (Fails(step)) return step.variant == 0 ? E_FAIL : S_FALSE;
    DesktopShell::requests.push_back(r);
    return S_OK;
}

template <class Vtbl, class Object> void Counted(Fake<Vtbl> &fake) {
    fake.lpVtbl = &fake.table;
    fake.table.AddRef = reinterpret_cast<ULONG(STDMETHODCALLTYPE *)(Object *)>(&AddRef);
    fake.table.Release = reinterpret_cast<ULONG(STDMETHODCALLTYPE *)(Object *)>(&Release);
}

void Build() {
    Counted<IShellWindowsVtbl, IShellWindows>(g_windows);
    g_windows.table.FindWindowSW = FindDesktop;
    Counted<IDispatchVtbl, IDispatch>(g_desktop);
    g_desktop.table.QueryInterface = DesktopQuery;
    Counted<IServiceProviderVtbl, IServiceProvider>(g_provider);
    g_provider.table.QueryService = QueryBrowser;
    Counted<IShellBrowserVtbl, IShellBrowser>(g_browser);
    g_browser.table.QueryActiveShellView = ActiveView;
    Counted<IShellViewVtbl, IShellView>(g_view);
    g_view.table.GetItemObject = ItemObject;
    Counted<IDispatchVtbl, IDispatch>(g_background);
    g_background.table.QueryInterface = BackgroundQuery;
    Counted<IShellFolderViewDualVtbl, IShellFolderViewDual>(g_folderView);
    g_folderView.table.get_Application = Application;
    Counted<IDispatchVtbl, IDispatch>(g_application);
    g_application.table.QueryInterface = ApplicationQuery;
    Counted<IShellDispatch2Vtbl, IShellDispatch2>(g_shell);
    g_shell.table.ShellExecute = Execute;
}

}  // namespace

namespace DesktopShell {

bool IsShellWindows(REFCLSID clsid) { return clsid == CLSID_ShellWindows; }

HRESULT Create(REFIID iid, void **out) {
    static bool built = (Build(), true);
    (void)built;
    if (iid != IID_IShellWindows) return NoInterface(out);
    *out = &g_windows;
    ++g_references;
    return S_OK;
}

void RegisterCounters() {
    Steps &s = TheSteps();
    for (Counter *c : {&s.findWindow, &s.provider, &s.browser, &s.view, &s.background, &s.folderView,
                       &s.application, &s.dispatch2, &s.execute}) {
        c->variants = {"E_FAIL, garbage left in the output", "S_FALSE, no object", "held past the deadline"};
        if (std::find(Hooks::counters.begin(), Hooks::counters.end(), c) == Hooks::counters.end())
            Hooks::counters.push_back(c);
    }
    TheSteps().execute.variants = {"E_FAIL", "S_FALSE (not started)", "held past the deadline"};
}

bool IsConnectionStep(const Counter *counter) {
    Steps &s = TheSteps();
    return counter >= &s.findWindow && counter < &s.execute;
}

bool IsStep(const Counter *counter) { return IsConnectionStep(counter) || counter == &TheSteps().execute; }

int Outstanding() { return g_references; }

void Reset() {
    requests.clear();
    ResetEvent(g_release);
}

void Release() { SetEvent(g_release); }

}  // namespace DesktopShell
