// The manifest is the installer's only description of what goes where.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "package.h"

namespace {

struct Expected {
    int id;
    char dest;
    const char *name;
    int overwrite;
    bool links;
};

const Expected kTable[PACKAGE_ENTRY_COUNT] = {
    {9003, 'D', "Zorvik.exe", 1, true},    {9004, 'D', "Zorvik.htm", 1, false},
    {9005, 'D', "Notes.txt", 1, false},    {9006, 'D', "Banner.gif", 1, false},
    {9007, 'D', "Backdrop.gif", 1, false}, {9008, 'D', "PageA.gif", 1, false},
    {9009, 'D', "PageB.gif", 1, false},    {9010, 'D', "PageC.gif", 1, false},
    {9011, 'D', "PageD.gif", 1, false},    {9012, 'D', "PageE.gif", 1, false},
    {9013, 'D', "PageF.gif", 1, false},    {9014, 'D', "Extra.gif", 1, false},
    {9015, 'D', "History.txt", 1, false},  {9016, 'D', "Intro.txt", 1, false},
    {9002, 'S', "Msvcrt.dll", 0, false},   {9001, 'S', "Mfc42.dll", 0, false},
};

TEST(Manifest, SixteenEntriesInInstallationOrder) {
    for (int i = 0; i < PACKAGE_ENTRY_COUNT; ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        const PackageEntry &e = PackageTable[i];
        EXPECT_EQ(e.resourceId, kTable[i].id);
        EXPECT_EQ(e.destination, kTable[i].dest);
        EXPECT_STREQ(e.fileName, kTable[i].name);
        EXPECT_EQ(e.overwrite, kTable[i].overwrite);
        if (kTable[i].links) {
            EXPECT_STREQ(e.desktopLinkName, "Zorvik");
            EXPECT_STREQ(e.startMenuLinkName, "Zorvik");
        } else {
            EXPECT_EQ(e.desktopLinkName, nullptr);
            EXPECT_EQ(e.startMenuLinkName, nullptr);
        }
    }
}

TEST(Manifest, FieldsHaveTheFixedWidthsOfTheRecord) {
    EXPECT_EQ(sizeof(PackageEntry), 24u);  // four 32-bit fields and two pointers on i386
    EXPECT_EQ(offsetof(PackageEntry, fileName), 8u);
    EXPECT_EQ(offsetof(PackageEntry, startMenuLinkName), 20u);
}

TEST(Manifest, ConfigurationStrings) {
    EXPECT_STREQ(PackageConfig.DefaultFolderName, "Zorvik");
    EXPECT_STREQ(PackageConfig.ProgramGroupName, "Zorvik");
    EXPECT_STREQ(PackageConfig.TempFilePrefix, "ZIN");
    EXPECT_STREQ(PackageConfig.LaunchArguments, "");
    EXPECT_STREQ(PackageConfig.SettingsValuePath, "Software\\Ostrevan\\ZORVIK\\Settings\\ExePath");
}

}  // namespace
