#include "import_hook.h"

#include <windows.h>
#include "scratch.h"

namespace {

void **FindSlot(const char *dll, const char *function) {
    auto *base = reinterpret_cast<BYTE *>(GetModuleHandleA(nullptr));
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto *desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress);
    for (; desc->Name; ++desc) {
        if (lstrcmpiA(reinterpret_cast<char *>(base + desc->Name), dll) != 0) continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(
            base + (desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk));
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<char *>(byName->Name), function) == 0)
                return reinterpret_cast<void **>(&slots->u1.Function);
        }
    }
    throw std::runtime_error(std::string("no import of ") + dll + "!" + function + " in this executable");
}

void WriteSlot(void **slot, void *value) {
    DWORD old;
    VirtualProtect(slot, sizeof(void *), PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof(void *), old, &old);
}

}  // namespace

ImportHook::ImportHook(const char *dll, const char *function, void *replacement)
    : slot_(FindSlot(dll, function)), original_(*slot_) {
    WriteSlot(slot_, replacement);
}

ImportHook::~ImportHook() { WriteSlot(slot_, original_); }

namespace Hooks {

void ResetCalls() {
    for (Counter *c : counters) {
        c->calls = 0;
        c->failAt = 0;
        c->variant = 0;
    }
    trace.clear();
    violations.clear();
    entry = -1;
    phase = 0;
}

void Violation(const std::string &what) {
    std::lock_guard<std::recursive_mutex> held(lock);
    violations.push_back(what);
}

bool CountCall(Counter &function, const std::string &path) {
    if (!On()) return false;
    std::lock_guard<std::recursive_mutex> held(lock);
    CallRecord rec;
    rec.function = &function;
    rec.number = ++function.calls;
    rec.entry = entry;
    rec.phase = phase;
    rec.otherThread = !OnTestThread();
    rec.path = path;
    rec.faulted = rec.number == function.failAt && !function.variants.empty();
    trace.push_back(rec);
    if (rec.faulted) ++faultsInjected;
    return rec.faulted;
}

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

std::vector<CallRecord> Calls(std::initializer_list<const Counter *> functions) {
    std::vector<CallRecord> out;
    for (const CallRecord &c : trace)
        if (std::find(functions.begin(), functions.end(), c.function) != functions.end()) out.push_back(c);
    return out;
}

std::vector<std::string> Paths(std::initializer_list<const Counter *> functions) {
    std::vector<std::string> out;
    for (const CallRecord &c : Calls(functions)) out.push_back(c.path);
    return out;
}

UINT AnswerFolder(const std::string &folder, LPSTR buffer, UINT size) {
    if (folder.size() + 1 > size) return static_cast<UINT>(folder.size() + 1);
    lstrcpyA(buffer, folder.c_str());
    return static_cast<UINT>(folder.size());
}

UINT AnswerFolder(const std::string &folder, LPWSTR buffer, UINT size) {
    const std::wstring wide = Wide(folder);
    if (wide.size() + 1 > size) return static_cast<UINT>(wide.size() + 1);
    lstrcpyW(buffer, wide.c_str());
    return static_cast<UINT>(wide.size());
}

}  // namespace Hooks
