// The one way tests replace, record or fail a platform call. ImportHook
// patches one entry of this executable's import address table; Counted<Tag,
// Fn> puts a hook generated from the function's signature there. While the
// code under test runs (Hooks::active) the hook counts every call, records it
// in Hooks::trace with its path-like arguments, and answers it through `base`
// (default: the platform) or, on the chosen call, through `fail`. Outside the
// code under test, and inside another hook, calls go straight to the platform,
// so a test's own calls are never seen. Threads that the code under test
// starts are seen while Hooks::otherThreads is set; records are kept under
// one lock, which is never held while the platform's function runs.
#pragma once
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

class ImportHook {
public:
    ImportHook(const char *dll, const char *function, void *replacement);
    ~ImportHook();
    ImportHook(const ImportHook &) = delete;
    ImportHook &operator=(const ImportHook &) = delete;

    template <class F> F original_as() const { return reinterpret_cast<F>(original_); }

private:
    void **slot_ = nullptr;
    void *original_ = nullptr;
};

struct Counter {
    Counter() = default;
    explicit Counter(std::string n) : name(std::move(n)) {}
    std::string name;
    int calls = 0;
    int failAt = 0;                     // 0: no call fails
    int variant = 0;                    // which of `variants` the failing call gives
    std::vector<std::string> variants;  // the kinds of failure a sweep tries in turn
    std::string whyNotFailable;
};

// One call as a hook saw it.
struct CallRecord {
    Counter *function = nullptr;
    int number = 0;        // 1-based, per function
    int entry = -1;        // Hooks::entry and Hooks::phase when the call was made
    int phase = 0;
    std::string path;      // the path-like argument, or what a test records of the call
    std::string output;    // a path the call handed back
    long mode = 0;         // open mode, control id, CSIDL... (per function)
    bool faulted = false;
    bool otherThread = false;  // made on a thread that the code under test started
};

namespace Hooks {
inline bool active = false;                   // on the test's own thread
inline std::atomic<bool> otherThreads{false}; // on the threads the code under test starts
inline const DWORD testThread = GetCurrentThreadId();
// Inside a hook, on the test's thread and on the one other thread that the
// code under test runs. Not thread_local: the runtime's thread storage calls
// GetLastError, which a test may hook.
inline bool inHook = false, inHookOther = false;
inline std::recursive_mutex lock;             // counts, trace, violations, and a test's own records
inline bool OnTestThread() { return GetCurrentThreadId() == testThread; }
inline bool On() { return OnTestThread() ? active : otherThreads.load(); }
// What the caller is doing, copied into every record: the package entry being
// placed, and a phase of the caller's own.
inline int entry = -1;
inline int phase = 0;
inline std::vector<CallRecord> trace;
inline std::vector<std::string> violations;  // invariant breaches seen inside hooks
inline std::vector<Counter *> counters;      // of the hooks installed, in order
inline long faultsInjected = 0;

void ResetCalls();   // counts, failure choice, trace, violations, context
void Violation(const std::string &what);
// Counts and records a call that no import hook sees (a method of an object
// that a test hands out): true when this call is the one to fail.
bool CountCall(Counter &function, const std::string &path);
// The bytes at `p` up to their terminator, which must come within `limit`
// bytes; a breach is recorded as a violation of `function`.
std::string CheckedPath(const Counter &function, const char *p, size_t limit = MAX_PATH);
std::string CheckedWidePath(const Counter &function, const WCHAR *p, size_t limit = MAX_PATH);
// The recorded calls of `functions`, and their path-like arguments, in call order.
std::vector<CallRecord> Calls(std::initializer_list<const Counter *> functions);
std::vector<std::string> Paths(std::initializer_list<const Counter *> functions);
// `folder` answered as GetSystemDirectoryA and its kin (or, in UTF-16,
// GetTempPathW) answer: its length, or the size needed when the buffer is too small.
UINT AnswerFolder(const std::string &folder, LPSTR buffer, UINT size);
UINT AnswerFolder(const std::string &folder, LPWSTR buffer, UINT size);

// The hooks act while this lives: the code under test runs inside it.
class Active {
public:
    Active() : saved_(active) { active = true; }
    ~Active() { active = saved_; }

private:
    bool saved_;
};

// A hook in place; when it goes, the platform's function is back and the
// hook's behaviour and counts are cleared.
class Installed {
public:
    explicit Installed(std::function<void()> undo) : undo_(std::move(undo)) {}
    Installed(Installed &&o) noexcept : undo_(std::move(o.undo_)) { o.undo_ = nullptr; }
    Installed &operator=(Installed &&) = delete;
    ~Installed() {
        if (undo_) undo_();
    }

private:
    std::function<void()> undo_;
};
}  // namespace Hooks

// Runs the code under test with the hooks acting.
template <class F> auto UnderTest(F &&code) {
    Hooks::Active on;
    return code();
}

template <class Tag, class F>
struct Counted;

template <class Tag, class R, class... A>
struct Counted<Tag, R(WINAPI *)(A...)> {
    using Fn = R(WINAPI *)(A...);
    static inline Counter counter;
    static inline Fn real = nullptr;
    // What the call does when it does not fail (default: the platform).
    static inline std::function<R(A...)> base;
    // The failure, by variant; without one no call fails.
    static inline std::function<R(int, A...)> fail;
    // Records the call's arguments before it is made.
    static inline std::function<void(CallRecord &, A...)> inspect;
    // Sees the result afterwards (non-void functions).
    static inline std::function<void(CallRecord &, std::conditional_t<std::is_void_v<R>, int, R>, A...)> after;

    static R WINAPI Hook(A... a) {
        bool &inHook = Hooks::OnTestThread() ? Hooks::inHook : Hooks::inHookOther;
        if (!Hooks::On() || inHook) return real(a...);
        struct InHook {
            bool &flag;
            explicit InHook(bool &f) : flag(f) { flag = true; }
            ~InHook() { flag = false; }
        } guard(inHook);
        size_t index;
        bool faulted;
        {
            std::lock_guard<std::recursive_mutex> held(Hooks::lock);
            index = Hooks::trace.size();
            CallRecord rec;
            rec.function = &counter;
            rec.number = ++counter.calls;
            rec.entry = Hooks::entry;
            rec.phase = Hooks::phase;
            rec.otherThread = !Hooks::OnTestThread();
            if (inspect) inspect(rec, a...);
            rec.faulted = rec.number == counter.failAt && fail != nullptr;
            Hooks::trace.push_back(rec);
            faulted = rec.faulted;
            if (faulted) ++Hooks::faultsInjected;
        }
        if constexpr (std::is_void_v<R>) {
            if (base) base(a...); else real(a...);
        } else {
            R r = faulted ? fail(counter.variant, a...) : (base ? base(a...) : real(a...));
            if (after) {
                std::lock_guard<std::recursive_mutex> held(Hooks::lock);
                after(Hooks::trace[index], r, a...);
            }
            return r;
        }
    }

    // Replaces the import of dll!name by the hook.
    static Hooks::Installed Install(const char *dll, const char *name) {
        auto hook = std::make_shared<ImportHook>(dll, name, reinterpret_cast<void *>(&Hook));
        Begin(hook->original_as<Fn>(), name);
        return Hooks::Installed([hook]() mutable {
            hook.reset();
            End();
        });
    }
    // For a function reached through a pointer (the bound LZ functions).
    static Hooks::Installed InstallPointer(Fn *pointer, const char *name) {
        Begin(*pointer, name);
        *pointer = &Hook;
        return Hooks::Installed([pointer] {
            *pointer = real;
            End();
        });
    }
    // The next call fails, answering what `failure` gives.
    static void FailNext(std::function<R(int, A...)> failure) {
        fail = std::move(failure);
        counter.failAt = counter.calls + 1;
    }

private:
    static void Begin(Fn original, const char *name) {
        if (real) throw std::logic_error(std::string(name) + " is hooked twice");
        real = original;
        counter = Counter(name);
        Hooks::counters.push_back(&counter);
    }
    static void End() {
        auto &all = Hooks::counters;
        all.erase(std::remove(all.begin(), all.end(), &counter), all.end());
        counter = Counter();
        real = nullptr;
        base = nullptr;
        fail = nullptr;
        inspect = nullptr;
        after = nullptr;
    }
};

#define COUNTED(fn) Counted<struct CountedTag_##fn, decltype(&fn)>
