// The compiled-in description of the package: which payload goes where.
#ifndef ZORVIK_PACKAGE_H
#define ZORVIK_PACKAGE_H

#include <windows.h>

#define PACKAGE_ENTRY_COUNT 16

// Destination codes of a PackageEntry.
#define DEST_INSTALL_FOLDER 'D'
#define DEST_SYSTEM_FOLDER  'S'

struct PackageEntry {
    INT32 resourceId;             // RT_RCDATA payload in SZDD format
    INT32 destination;            // DEST_INSTALL_FOLDER or DEST_SYSTEM_FOLDER
    const char *fileName;         // name of the installed file, no folder
    INT32 overwrite;              // 0: write only when absent; set to 1 for a private copy
    const char *desktopLinkName;  // null: the entry has no shortcuts at all
    const char *startMenuLinkName;
};

struct PackageConfigStrings {
    const char *DefaultFolderName;
    const char *ProgramGroupName;
    const char *TempFilePrefix;
    const char *LaunchArguments;
    const char *SettingsValuePath;
};

extern PackageEntry PackageTable[PACKAGE_ENTRY_COUNT];
extern const PackageConfigStrings PackageConfig;

#endif
