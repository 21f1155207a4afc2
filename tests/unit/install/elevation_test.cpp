// The install's route on each kind of system, and the elevated copy's
// command line as the copy's own switch parser reads it back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/switches.h"
#include "install/elevation.h"

TEST(Elevation, OnlyAnUnelevatedFirstRunOnASystemWithElevationHandsOver) {
    for (int has = 0; has < 2; ++has)
        for (int elevated = 0; elevated < 2; ++elevated)
            for (int kept = 0; kept < 2; ++kept)
                EXPECT_EQ(has && !elevated && !kept ? InstallInElevatedCopy : InstallHere,
                          ChooseInstallRoute(has, elevated, kept))
                    << has << elevated << kept;
}

const char kSum[] = "00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";

TEST(Elevation, ArgumentsCarryTheRunsSwitchesTheListsSumAndTheFolderLast) {
    char out[300];
    ASSERT_EQ(1, BuildInstallKeptArguments("C:\\Users\\A B\\Temp\\inst1.tmp", nullptr, 0, 0, 1, kSum,
                                           out, sizeof out));
    EXPECT_EQ(std::string(" /SaveProxySettings /KeptSum:") + kSum + " /InstallKept C:\\Users\\A B\\Temp\\inst1.tmp",
              out);
    Switches s;
    ParseSwitches(out, &s);
    EXPECT_EQ(1, s.installKept);
    EXPECT_STREQ("C:\\Users\\A B\\Temp\\inst1.tmp", s.keptFolder);
    EXPECT_STREQ(kSum, s.keptSum);
    EXPECT_EQ(1, s.saveProxySettings);
    EXPECT_EQ(RunSession, s.mode);

    ASSERT_EQ(1, BuildInstallKeptArguments("C:\\setup", "C:\\setup\\cv.inf", 1, 1, 0, kSum, out,
                                           sizeof out));
    EXPECT_EQ(std::string(" -run2 /is /KeptSum:") + kSum + " /InstallKept -inf C:\\setup\\cv.inf", out);
    ParseSwitches(out, &s);
    EXPECT_EQ(1, s.run2);
    EXPECT_EQ(1, s.deferPackageSetup);
    EXPECT_EQ(nullptr, s.keptFolder);
    EXPECT_STREQ("C:\\setup\\cv.inf", s.setupPath);
    EXPECT_STREQ(kSum, s.keptSum);
}

TEST(Elevation, TheCopyTakesTheRunsOwnSwitchesAlong) {
    char out[300];
    ASSERT_EQ(1, BuildInstallKeptArguments("C:\\T\\inst1.tmp", nullptr, 0, 0, 0, kSum, out, sizeof out,
                                           " /quiet /proxy p:1"));
    EXPECT_EQ(std::string(" /quiet /proxy p:1 /KeptSum:") + kSum + " /InstallKept C:\\T\\inst1.tmp", out);
    Switches s;
    ParseSwitches(out, &s);
    EXPECT_EQ(1, s.quiet);
    EXPECT_STREQ(kSum, s.keptSum);
    // Cut short they would name another proxy: no copy then.
    EXPECT_EQ(0, BuildInstallKeptArguments("C:\\T", nullptr, 0, 0, 0, kSum, out, 12, " /quiet /proxy p:1"));
    EXPECT_STREQ("", out);
}

TEST(Elevation, AFolderThatDoesNotFitStartsNoCopy) {
    const std::string folder(240, 'f');
    char out[400];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(1, BuildInstallKeptArguments(folder.c_str(), nullptr, 0, 0, 0, kSum, out, 329));
    EXPECT_EQ(std::string(" /KeptSum:") + kSum + " /InstallKept " + folder, out);
    EXPECT_EQ(0, BuildInstallKeptArguments(folder.c_str(), nullptr, 1, 1, 1, kSum, out, 329));
    EXPECT_STREQ("", out);
    EXPECT_EQ(0, BuildInstallKeptArguments(folder.c_str(), nullptr, 0, 0, 0, kSum, out, 0));
}

TEST(Elevation, TheCopyIsTheProgramsNameInTheFolder) {
    char out[40];
    EXPECT_EQ(1, BuildCopyPath("C:\\T\\inst12.tmp", "D:\\x\\setup.exe", out, sizeof out));
    EXPECT_STREQ("C:\\T\\inst12.tmp\\setup.exe", out);
    EXPECT_EQ(0, BuildCopyPath("C:\\T\\a-rather-long-folder-name", "D:\\x\\setup.exe", out,
                               sizeof out));
    EXPECT_EQ(0, BuildCopyPath("C:\\T", "setup.exe", out, sizeof out));  // no name to take
}
