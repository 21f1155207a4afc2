// Rules of the download run that need no window: remote paths, status
// texts, shortcut arguments, the install order and how a run ends.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "download/fetch_rules.h"

namespace {

std::string Remote(const char* dir, const char* file, int ftp, int size = 260) {
    char out[260];
    BuildRemotePath(dir, file, ftp, out, size);
    return out;
}

std::string Status(const char* format, const char* file, const char* site, int size = 200) {
    char out[200];
    FormatFileStatus(format, file, site, out, size);
    return out;
}

TEST(RemotePath, HttpNamesTheDirectoryFtpAddsTheFile) {
    EXPECT_EQ(Remote("pub/client", "a.cab", 0), "pub/client/");
    EXPECT_EQ(Remote("pub/client", "a.cab", 1), "pub/client/a.cab");
    // Without a directory the FTP file is still named; HTTP gets nothing.
    EXPECT_EQ(Remote("", "a.cab", 1), "a.cab");
    EXPECT_EQ(Remote("", "a.cab", 0), "");
    EXPECT_EQ(Remote(nullptr, "a.cab", 1), "a.cab");
}

TEST(RemotePath, CutToTheBuffer) {
    char out[8];
    memset(out, 'x', sizeof out);
    BuildRemotePath("abcdef", "zz", 1, out, 6);
    EXPECT_STREQ(out, "abcde");
    EXPECT_EQ(out[6], 'x');  // nothing written past the given size
    BuildRemotePath("abc", "zz", 1, out, 0);
    EXPECT_EQ(out[0], 'a');
}

TEST(StatusText, FileThenSite) {
    EXPECT_EQ(Status("Error in receiving file '%s' from '%s'.", "a.cab", "host"),
              "Error in receiving file 'a.cab' from 'host'.");
    EXPECT_EQ(Status("Connecting to '%s'... Please wait...", "host", "host"),
              "Connecting to 'host'... Please wait...");
}

TEST(StatusText, PercentOneShowsTheFileName) {
    EXPECT_EQ(Status("Error while downloading %1: Out of disk space. Remove some files and run again.",
                     "a.cab", "host"),
              "Error while downloading a.cab: Out of disk space. Remove some files and run again.");
}

TEST(StatusText, OtherConversionsAreInertAndCut) {
    // A third "%s" or a "%d" must never read an argument that is not there.
    EXPECT_EQ(Status("%s %s %s %d %%", "f", "s"), "f s  %d %");
    EXPECT_EQ(Status("trailing %", "f", "s"), "trailing %");
    EXPECT_EQ(Status("%s", nullptr, nullptr), "");
    EXPECT_EQ(Status("file '%s'", "abcdefgh", "s", 9), "file 'ab");
}

TEST(ShortcutArguments, ProxySwitchFollowsTheFlag) {
    EXPECT_STREQ(StartShortcutArguments(0), " /NoIntervention");
    EXPECT_STREQ(StartShortcutArguments(1), " /NoIntervention /SaveProxySettings");
    // A run of a named setup description carries it, whole or not at all.
    char out[64] = " /NoIntervention";
    EXPECT_TRUE(AppendSetupPathArgument("C:\\a b\\cv.inf", out, sizeof out));
    EXPECT_STREQ(" /NoIntervention -inf \"C:\\a b\\cv.inf\"", out);
    char small[30] = " /NoIntervention";
    EXPECT_FALSE(AppendSetupPathArgument("C:\\a b\\cv.inf", small, sizeof small));
    EXPECT_STREQ(" /NoIntervention", small);
}

TEST(SiteNames, CompareWithoutCase) {
    EXPECT_TRUE(SameSiteName("Host.Example", "host.example"));
    EXPECT_FALSE(SameSiteName("host", "host2"));
    EXPECT_FALSE(SameSiteName("", "host"));
    EXPECT_TRUE(SameSiteName("", ""));
}

TEST(InstallOrder, SmallestOrderOfDownloadedRowsBelowTheLimit) {
    const int states[] = {1, 2, 1, 1, 7, 1};
    const int orders[] = {50, 1, 20, 20, 5, 10000};
    // Row 1 is not downloaded, row 4 is done, row 5 is never installed;
    // rows 2 and 3 tie and the earlier one wins.
    EXPECT_EQ(PickInstallRow(states, orders, 6), 2);
    const int done[] = {7, 7};
    EXPECT_EQ(PickInstallRow(done, orders, 2), -1);
    EXPECT_EQ(PickInstallRow(states, orders, 0), -1);
    const int negative[] = {1, 1};
    const int negativeOrders[] = {3, -5};
    EXPECT_EQ(PickInstallRow(negative, negativeOrders, 2), 1);
}

TEST(RunEnd, OnlyReportedSuccessFinishesANetworkRun) {
    RunEnd end = DecideRunEnd(0, 1, 0, 0, 1);
    EXPECT_EQ(end.result, 1003);
    EXPECT_EQ(end.deleteStateFile, 1);
    end = DecideRunEnd(0, 0, 0, 0, 1);
    EXPECT_EQ(end.result, 1009);
    EXPECT_EQ(end.deleteStateFile, 0);
    // Any value other than 1 is not success.
    EXPECT_EQ(DecideRunEnd(0, 2, 0, 0, 1).result, 1009);
}

TEST(RunEnd, LocalRunsFinishUnlessASecondInstance) {
    RunEnd end = DecideRunEnd(0, 0, 1, 0, 0);
    EXPECT_EQ(end.result, 1003);
    EXPECT_EQ(end.deleteStateFile, 0);  // only network runs remove the file
    EXPECT_EQ(DecideRunEnd(0, 0, 1, 1, 0).result, 1009);
    EXPECT_EQ(DecideRunEnd(0, 1, 1, 1, 0).result, 1003);
}

TEST(RunEnd, AFailedInstallKeepsTheFilesWhateverTheClientWrote) {
    for (int success : {0, 1})
        for (int allLocal : {0, 1})
            for (int network : {0, 1}) {
                RunEnd end = DecideRunEnd(1, success, allLocal, 0, network);
                EXPECT_EQ(end.result, 1009);
                EXPECT_EQ(end.deleteStateFile, 0);
            }
}

}  // namespace
