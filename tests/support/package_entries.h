// Entries of the package picked by what they are, from its one definition,
// so that no test spells a file name or an index of the table.
#pragma once
#include <cstring>

#include "package.h"

// The first entry placed in the system folder: the runtime libraries come
// last, after every installation-folder entry.
inline const int kFirstSystemEntry = [] {
    int i = 0;
    while (PackageTable[i].destination != DEST_SYSTEM_FOLDER) ++i;
    return i;
}();
inline const int kLastFolderEntry = kFirstSystemEntry - 1;
inline const int kLastEntry = PACKAGE_ENTRY_COUNT - 1;

// The entry with the longest file name.
inline const int kLongestNameEntry = [] {
    int longest = 0;
    for (int i = 1; i < PACKAGE_ENTRY_COUNT; ++i)
        if (std::strlen(PackageTable[i].fileName) > std::strlen(PackageTable[longest].fileName)) longest = i;
    return longest;
}();
