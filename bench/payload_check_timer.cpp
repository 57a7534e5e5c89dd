// payload_check_timer: times the installer's check of its payloads (each
// payload resource's CRC-32 against the value the build recorded), with the
// installer's own engine and payloads linked in.
//
//   payload_check_timer RUNS
//
// Prints "check_us=<median> bytes=<payload bytes> runs=<each run's us>".
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine.h"

int main(int argc, char **argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 25;
    g_hInstance = GetModuleHandleA(nullptr);
    DWORD bytes = 0;
    for (const PackageEntry &e : PackageTable)
        bytes += SizeofResource(g_hInstance, FindResourceA(g_hInstance, MAKEINTRESOURCEA(e.resourceId), RT_RCDATA));
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    std::vector<double> us;
    std::string each;
    for (int r = 0; r < runs; ++r) {
        QueryPerformanceCounter(&t0);
        int ok = CheckPayloads();
        QueryPerformanceCounter(&t1);
        if (!ok) {
            std::printf("the payloads do not match their checksums\n");
            return 1;
        }
        us.push_back(1e6 * double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart));
        each += (r ? "," : "") + std::to_string(int(us.back()));
    }
    std::vector<double> sorted = us;
    std::sort(sorted.begin(), sorted.end());
    std::printf("check_us=%.0f bytes=%lu runs=%s\n", sorted[sorted.size() / 2], static_cast<unsigned long>(bytes),
                each.c_str());
    return 0;
}
