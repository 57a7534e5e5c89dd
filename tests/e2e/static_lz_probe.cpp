// The control case of the DLL-planting test: a program that imports LZ32
// statically, as a plain installer would. Beside a planted lz32.dll, under the
// DLL override the test uses, it must load the planted one.
#include <windows.h>
#include <lzexpand.h>

int main() {
    OFSTRUCT ofs;
    char missing[] = "C:\\no-such-file-for-the-probe";
    INT h = LZOpenFileA(missing, &ofs, OF_READ);
    if (h >= 0) LZClose(h);
    return 0;
}
