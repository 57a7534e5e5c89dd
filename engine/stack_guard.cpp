// The guard word that the compiler's stack checks compare against, what a
// failed check does, and the load configuration that names the guard to the
// loader as the image's security cookie.
#include "engine.h"

// The compiler's default value, which the loaders of newer Windows versions
// (and Wine's) replace with a random one when they map the image.
#define DEFAULT_GUARD 0xBB40E64EUL
#ifndef FAST_FAIL_STACK_COOKIE_CHECK_FAILURE
#define FAST_FAIL_STACK_COOKIE_CHECK_FAILURE 2
#endif

// The load configuration as far as Windows 2000 to 11 read it for a 32-bit
// image: up to the table of the exception handlers that may be called,
// which is empty because the image registers none (the header says so with
// NO_SEH too). Pointers, so that the linker relocates them.
struct LoadConfiguration {
    DWORD size;
    DWORD timeDateStamp;
    WORD majorVersion, minorVersion;
    DWORD globalFlagsClear, globalFlagsSet;
    DWORD criticalSectionDefaultTimeout;
    DWORD deCommitFreeBlockThreshold, deCommitTotalFreeThreshold;
    void *lockPrefixTable;
    DWORD maximumAllocationSize, virtualMemoryThreshold;
    DWORD processHeapFlags, processAffinityMask;
    WORD csdVersion, dependentLoadFlags;
    void *editList;
    DWORD *securityCookie;
    void *handlerTable;
    DWORD handlerCount;
};

extern "C" {

DWORD __stack_chk_guard = DEFAULT_GUARD;

// The linker finds the directory by this name and gives the header its
// address; the header's size for it is the first field's.
extern const LoadConfiguration _load_config_used = {
    sizeof(LoadConfiguration), 0, 0, 0, 0, 0, 0, 0, 0, NULL, 0, 0, 0, 0, 0, 0, NULL, &__stack_chk_guard, NULL, 0,
};

// A check failed: the stack has been overwritten, and nothing of the process
// can be trusted any more, neither its data nor its return addresses. The
// processor's fast-fail (Windows 8 on, and Wine) ends the process at once
// with STATUS_STACK_BUFFER_OVERRUN, calling no handler and no DLL; an older
// Windows takes the instruction for a fault, which ends it as well, since
// the image has no handler of its own.
__attribute__((noreturn, no_stack_protector)) void __stack_chk_fail(void)
{
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
    __builtin_trap();
}

}

__attribute__((no_stack_protector)) void InitStackGuard(void)
{
    // Read through the directory, as the loader does, so that the linker
    // keeps the directory in the image.
    DWORD *guard = *(DWORD *const volatile *)&_load_config_used.securityCookie;
    unsigned long long counter = __builtin_ia32_rdtsc();
    DWORD value;

    if (*guard != DEFAULT_GUARD)
        return;
    // A loader that left the default (an older Windows): the processor's
    // cycle counter, the time since start, the process and where its stack
    // lies make one.
    value = (DWORD)counter ^ (DWORD)(counter >> 32) ^ GetTickCount() ^ (GetCurrentProcessId() << 16)
        ^ (DWORD)(UINT_PTR)&counter;
    if (value == DEFAULT_GUARD)
        value++;
    // A guard with its high half zero is one a string copy can write.
    if (!(value & 0xFFFF0000UL))
        value |= (value | 0x4711) << 16;
    *guard = value;
}
