// Counting hooks for the fault sweeps. Every platform function that the
// installer calls gets one replacement, generated from its signature: it counts
// the calls, records the path arguments with the call's context, and on the
// chosen call answers a failure instead of calling through. The replacements
// only count while `Sweep::counting` is set, so the test's own calls (which go
// through the same import table) pass straight to the platform.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "engine.h"
#include "import_hook.h"
#include "message_boxes.h"

// What the caller was doing when a platform call was made.
enum Phase { kPhaseNone, kPhaseInit, kPhaseBrowse, kPhaseStart };

struct Counter {
    Counter() = default;
    explicit Counter(std::string n) : name(std::move(n)) {}
    std::string name;
    int calls = 0;
    int failAt = 0;                     // 0: no call fails
    int variant = 0;                    // which of `variants` the failing call gives
    std::vector<std::string> variants;  // empty: the function cannot fail sensibly
    std::string whyNotFailable;
};

// One call as the sweep saw it.
struct CallRecord {
    Counter *function = nullptr;
    int number = 0;        // 1-based, per function
    int entry = -1;        // manifest entry being placed (-1 before the first, 16 at the start)
    Phase phase = kPhaseNone;
    std::string path;      // the path-like argument (empty when there is none)
    std::string output;    // a path the call handed back
    long mode = 0;         // open mode, control id, CSIDL... (per function)
    bool faulted = false;
};

namespace Sweep {
extern bool counting;
extern bool inHook;
extern int entry;
// The manifest entry whose payload a resource name names; -2 for none.
int EntryOfResource(LPCSTR name);
extern Phase phase;
extern std::vector<CallRecord> trace;
extern std::vector<std::string> violations;  // invariant breaches seen inside hooks
extern std::vector<Counter *> counters;
extern long faultsInjected;

void ResetCalls();   // counts, failure choice, trace, violations
void Violation(const std::string &what);
// The bytes at `p` up to their terminator, which must come within `limit`
// bytes; a breach is recorded as a violation of `function`.
std::string CheckedPath(const Counter &function, const char *p, size_t limit = MAX_PATH);
std::string CheckedWidePath(const Counter &function, const WCHAR *p, size_t limit = MAX_PATH);
}  // namespace Sweep

struct InHookGuard {
    bool saved;
    InHookGuard() : saved(Sweep::inHook) { Sweep::inHook = true; }
    ~InHookGuard() { Sweep::inHook = saved; }
};

template <class Tag, class F>
struct Counted;

template <class Tag, class R, class... A>
struct Counted<Tag, R(WINAPI *)(A...)> {
    using Fn = R(WINAPI *)(A...);
    static inline Counter counter;
    static inline Fn real = nullptr;
    // What the call does when it does not fail (default: the platform).
    static inline std::function<R(A...)> base;
    // The failure, by variant.
    static inline std::function<R(int, A...)> fail;
    // Records the call's arguments before it is made.
    static inline std::function<void(CallRecord &, A...)> inspect;
    // Sees the result afterwards (non-void functions).
    static inline std::function<void(CallRecord &, std::conditional_t<std::is_void_v<R>, int, R>, A...)> after;

    static R WINAPI Hook(A... a) {
        if (!Sweep::counting || Sweep::inHook) return real(a...);
        InHookGuard guard;
        size_t index = Sweep::trace.size();
        {
            CallRecord rec;
            rec.function = &counter;
            rec.number = ++counter.calls;
            rec.entry = Sweep::entry;
            rec.phase = Sweep::phase;
            if (inspect) inspect(rec, a...);
            rec.faulted = rec.number == counter.failAt && !counter.variants.empty();
            Sweep::trace.push_back(rec);
        }
        bool faulted = Sweep::trace[index].faulted;
        if (faulted) ++Sweep::faultsInjected;
        if constexpr (std::is_void_v<R>) {
            if (base) base(a...); else real(a...);
        } else {
            R r = faulted ? fail(counter.variant, a...) : (base ? base(a...) : real(a...));
            if (after) after(Sweep::trace[index], r, a...);
            return r;
        }
    }

    // Replaces the import of `dll` by the counting hook.
    static std::unique_ptr<ImportHook> Install(const char *dll, const char *name) {
        auto hook = std::make_unique<ImportHook>(dll, name, reinterpret_cast<void *>(&Hook));
        real = hook->original_as<Fn>();
        Register(name);
        return hook;
    }
    // For a function reached through a pointer (the bound LZ functions).
    static void InstallPointer(Fn *pointer, const char *name) {
        real = *pointer;
        *pointer = &Hook;
        Register(name);
    }
    static void Register(const char *name) {
        counter.name = name;
        for (Counter *c : Sweep::counters)
            if (c == &counter) return;
        Sweep::counters.push_back(&counter);
    }
};

#define COUNTED(fn) Counted<struct CountedTag_##fn, decltype(&fn)>

// The LZ expand functions are reached through the engine's bound pointers,
// not the import table, so they are counted by their pointer types.
using LzOpen = Counted<struct CountedTag_LzOpen, LZOpenFileAProc>;
using LzCopy = Counted<struct CountedTag_LzCopy, LZCopyProc>;
using LzClose = Counted<struct CountedTag_LzClose, LZCloseProc>;

// A shell link object seen through counting proxies: IShellLinkA's SetPath,
// SetDescription and QueryInterface, and IPersistFile's Save, can be made to
// fail; without an inner object (inner == null) the link only records.
struct LinkCounters {
    Counter setPath{"IShellLinkA::SetPath"};
    Counter setDescription{"IShellLinkA::SetDescription"};
    Counter queryInterface{"IShellLinkA::QueryInterface"};
    Counter save{"IPersistFile::Save"};
};
LinkCounters &Links();
void RegisterLinkCounters();
// The recorded link calls: "path <target>", "description <name>", "save <path>".
extern std::vector<std::string> g_linkEvents;
IShellLinkA *WrapShellLink(IShellLinkA *inner);

// Format() is the test support's (message_boxes.h); this one takes a number too.
std::string FormatInt(const char *format, const std::string &argument, int number);
std::string Lower(std::string s);
bool StartsWithNoCase(const std::string &text, const std::string &prefix);
