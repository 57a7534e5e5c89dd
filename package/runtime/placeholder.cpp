// A placeholder runtime library of the Zorvik sample package. It stands in
// for the library the package ships next to the program; nothing imports it
// and it does nothing but load and unload. Its tables give the file a
// realistic size and content for the installer's tests.
#include <windows.h>

#ifndef PLACEHOLDER_WAVE_ENTRIES
#define PLACEHOLDER_WAVE_ENTRIES 4096
#endif

struct PlaceholderTables {
    unsigned long crc[256];                          // CRC-32, reflected
    unsigned char upper[256];                        // ASCII upper case
    unsigned short wave[PLACEHOLDER_WAVE_ENTRIES];   // quarter sine, 0..65535
};

// Sine of x in [0, pi/2] by its Taylor series; precise enough for 16 bits.
static constexpr double Sine(double x)
{
    double term = x, sum = x;
    for (int n = 1; n < 12; n++) {
        term = -term * x * x / ((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}

static constexpr PlaceholderTables BuildTables()
{
    PlaceholderTables t{};
    for (unsigned long i = 0; i < 256; i++) {
        unsigned long c = i;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? 0xEDB88320UL ^ (c >> 1) : c >> 1;
        t.crc[i] = c;
        t.upper[i] = (unsigned char)((i >= 'a' && i <= 'z') ? i - 32 : i);
    }
    for (int i = 0; i < PLACEHOLDER_WAVE_ENTRIES; i++) {
        double x = 1.5707963267948966 * i / (PLACEHOLDER_WAVE_ENTRIES - 1);
        t.wave[i] = (unsigned short)(Sine(x) * 65535.0 + 0.5);
    }
    return t;
}

extern "C" __declspec(dllexport) const PlaceholderTables g_PlaceholderTables = BuildTables();

// Version of the placeholder, 0x0100 for 1.0; lets a test call into it.
extern "C" __declspec(dllexport) int WINAPI PlaceholderVersion(void)
{
    return g_PlaceholderTables.upper['z'] == 'Z' ? 0x0100 : 0;
}

extern "C" BOOL WINAPI PlaceholderEntry(HINSTANCE hModule, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(hModule);
    return TRUE;
}
