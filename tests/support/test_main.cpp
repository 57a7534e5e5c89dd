// Every Windows test program starts here: the code under test speaks code
// page 932, so a prefix that runs in another code page makes every text
// comparison meaningless. Fail loudly instead.
#include <windows.h>
#include <gtest/gtest.h>
#include <cstdio>

#include "scratch.h"

int main(int argc, char **argv) {
    if (GetACP() != 932) {
        std::fprintf(stderr,
                     "FATAL: the ANSI code page is %u, not 932. Run the tests under Wine with "
                     "LANG=ja_JP.UTF-8 and the ja_JP.UTF-8 locale generated (scripts/bootstrap.sh "
                     "does both; tests/support/wine-run.sh sets LANG).\n",
                     GetACP());
        return 1;
    }
    // A temporary folder of this process's own: test programs run side by
    // side in one prefix, and one must never see another's temporary files.
    ScratchFolder temp("temp");
    SetEnvironmentVariableA("TMP", (temp.path() + "\\").c_str());
    SetEnvironmentVariableA("TEMP", (temp.path() + "\\").c_str());
    CoInitialize(nullptr);
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
