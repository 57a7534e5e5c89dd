// The package manifest (from PACKAGE_ENTRIES) and configuration strings.
#include "package.h"

#define PACKAGE_TABLE_ROW(resource, destination, file, overwrite, desktopLink, startMenuLink) \
    { resource, destination, file, overwrite, desktopLink, startMenuLink },

#define PACKAGE_COUNT_ROW(...) +1
static_assert(0 PACKAGE_ENTRIES(PACKAGE_COUNT_ROW) == PACKAGE_ENTRY_COUNT, "PACKAGE_ENTRY_COUNT");

PackageEntry PackageTable[PACKAGE_ENTRY_COUNT] = {
    PACKAGE_ENTRIES(PACKAGE_TABLE_ROW)
};

const PackageConfigStrings PackageConfig = {
    "Zorvik",                                   // DefaultFolderName
    "Zorvik",                                   // ProgramGroupName
    "ZIN",                                      // TempFilePrefix (the platform takes three)
    "",                                         // LaunchArguments
    "Software\\Ostrevan\\ZORVIK\\Settings\\ExePath", // SettingsValuePath
};
