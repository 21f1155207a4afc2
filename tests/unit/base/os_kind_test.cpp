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
    for (int elevation = 0; elevation < 2; ++elevation) {
        EXPECT_EQ(7, StartupFolderOf(1, elevation));
        EXPECT_EQ(-1, StartupFolderOf(2, elevation));
        EXPECT_EQ(-1, StartupFolderOf(3, elevation));
        EXPECT_EQ(-1, StartupFolderOf(0, elevation));
    }
    EXPECT_EQ(24, StartupFolderOf(4, 0));  // NT 4.0 to XP: all users'
    // With elevation the common folder needs administrator rights, and the
    // system starts no item that asks for them at log-on: the user's own.
    EXPECT_EQ(7, StartupFolderOf(4, 1));
}

TEST(OsKind, OnlyNtSixAndLaterHaveElevation) {
    const unsigned long win32s = 0, win95 = 1, nt = 2;
    EXPECT_EQ(0, SystemHasElevation(win95, 4));  // 95, 98, Me
    EXPECT_EQ(0, SystemHasElevation(win32s, 3));
    EXPECT_EQ(0, SystemHasElevation(nt, 4));     // NT 4.0
    EXPECT_EQ(0, SystemHasElevation(nt, 5));     // 2000, XP, Server 2003
    EXPECT_EQ(1, SystemHasElevation(nt, 6));     // Vista, 7, 8, 8.1
    EXPECT_EQ(1, SystemHasElevation(nt, 10));    // 10, 11
}
