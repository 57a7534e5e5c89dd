// The package manifest and configuration strings. The runtime libraries
// (9001, 9002) come last so that the program is in place before them.
#include "package.h"

PackageEntry PackageTable[PACKAGE_ENTRY_COUNT] = {
    { 9003, DEST_INSTALL_FOLDER, "Zorvik.exe",   1, "Zorvik", "Zorvik" },
    { 9004, DEST_INSTALL_FOLDER, "Zorvik.htm",   1, NULL, NULL },
    { 9005, DEST_INSTALL_FOLDER, "Notes.txt",    1, NULL, NULL },
    { 9006, DEST_INSTALL_FOLDER, "Banner.gif",   1, NULL, NULL },
    { 9007, DEST_INSTALL_FOLDER, "Backdrop.gif", 1, NULL, NULL },
    { 9008, DEST_INSTALL_FOLDER, "PageA.gif",    1, NULL, NULL },
    { 9009, DEST_INSTALL_FOLDER, "PageB.gif",    1, NULL, NULL },
    { 9010, DEST_INSTALL_FOLDER, "PageC.gif",    1, NULL, NULL },
    { 9011, DEST_INSTALL_FOLDER, "PageD.gif",    1, NULL, NULL },
    { 9012, DEST_INSTALL_FOLDER, "PageE.gif",    1, NULL, NULL },
    { 9013, DEST_INSTALL_FOLDER, "PageF.gif",    1, NULL, NULL },
    { 9014, DEST_INSTALL_FOLDER, "Extra.gif",    1, NULL, NULL },
    { 9015, DEST_INSTALL_FOLDER, "History.txt",  1, NULL, NULL },
    { 9016, DEST_INSTALL_FOLDER, "Intro.txt",    1, NULL, NULL },
    { 9002, DEST_SYSTEM_FOLDER,  "Msvcrt.dll",   0, NULL, NULL },
    { 9001, DEST_SYSTEM_FOLDER,  "Mfc42.dll",    0, NULL, NULL },
};

const PackageConfigStrings PackageConfig = {
    "Zorvik",                                   // DefaultFolderName
    "Zorvik",                                   // ProgramGroupName
    "ZIN",                                      // TempFilePrefix (the platform takes three)
    "",                                         // LaunchArguments
    "Software\\Ostrevan\\ZORVIK\\Settings\\ExePath", // SettingsValuePath
};
