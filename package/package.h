// The compiled-in description of the package: which payload goes where.
// This header is the one place the package is described: the installer, the
// build (payload resources, package table, size check), the tests and the
// bench all read PACKAGE_ENTRIES and PACKAGE_REQUIRED_SPACE from here.
#ifndef ZORVIK_PACKAGE_H
#define ZORVIK_PACKAGE_H

#include <windows.h>

// One entry per line, in the order of placement: resource identifier,
// destination (DEST_INSTALL_FOLDER 'D' or DEST_SYSTEM_FOLDER 'S'), file name,
// overwrite flag, desktop and Start-menu link names. The runtime libraries
// come last so that the program is in place before them.
#define PACKAGE_ENTRIES(ENTRY) \
    ENTRY(9003, 'D', "Zorvik.exe",   1, "Zorvik", "Zorvik") \
    ENTRY(9004, 'D', "Zorvik.htm",   1, NULL, NULL) \
    ENTRY(9005, 'D', "Notes.txt",    1, NULL, NULL) \
    ENTRY(9006, 'D', "Banner.gif",   1, NULL, NULL) \
    ENTRY(9007, 'D', "Backdrop.gif", 1, NULL, NULL) \
    ENTRY(9008, 'D', "PageA.gif",    1, NULL, NULL) \
    ENTRY(9009, 'D', "PageB.gif",    1, NULL, NULL) \
    ENTRY(9010, 'D', "PageC.gif",    1, NULL, NULL) \
    ENTRY(9011, 'D', "PageD.gif",    1, NULL, NULL) \
    ENTRY(9012, 'D', "PageE.gif",    1, NULL, NULL) \
    ENTRY(9013, 'D', "PageF.gif",    1, NULL, NULL) \
    ENTRY(9014, 'D', "Extra.gif",    1, NULL, NULL) \
    ENTRY(9015, 'D', "History.txt",  1, NULL, NULL) \
    ENTRY(9016, 'D', "Intro.txt",    1, NULL, NULL) \
    ENTRY(9002, 'S', "Msvcrt.dll",   0, NULL, NULL) \
    ENTRY(9001, 'S', "Mfc42.dll",    0, NULL, NULL)

#define PACKAGE_ENTRY_COUNT 16

// The bytes the installation-folder files expand to at most: the space the
// dialog states and the run asks for.
#define PACKAGE_REQUIRED_SPACE 500000

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
