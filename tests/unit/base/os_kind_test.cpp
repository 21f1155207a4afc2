// Windows kinds and the Startup folder each of them gets.
#include <gtest/gtest.h>

#include "base/os_kind.h"

TEST(OsKind, FromPlatformAndVersion) {
    EXPECT_EQ(3, OsKindOf(0, 3));   // Win32s
    EXPECT_EQ(1, OsKindOf(1, 4));   // Windows 95
    EXPECT_EQ(1, OsKindOf(7, 9));   // unknown platforms count as the 95 family
    EXPECT_EQ(2, OsKindOf(2, 3));   // NT 3.51
    EXPECT_EQ(4, OsKindOf(2, 4));   // NT 4.0
    EXPECT_EQ(4, OsKindOf(2, 10));
}

TEST(OsKind, StartupFolders) {
    EXPECT_EQ(7, StartupFolderOf(1));
    EXPECT_EQ(24, StartupFolderOf(4));
    EXPECT_EQ(-1, StartupFolderOf(2));
    EXPECT_EQ(-1, StartupFolderOf(3));
    EXPECT_EQ(-1, StartupFolderOf(0));
}
