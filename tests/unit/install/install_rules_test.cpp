// Decisions of the install that need no window: the install order and how
// a run that reached the install ends.
#include <gtest/gtest.h>

#include "install/install_rules.h"

namespace {

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
            for (int network : {0, 1})
                for (int exitCodes : {0, 1}) {
                    RunEnd end = DecideRunEnd(1, success, allLocal, 0, network, exitCodes);
                    EXPECT_EQ(end.result, 1009);
                    EXPECT_EQ(end.deleteStateFile, 0);
                }
}

// A setup that tells its result by its exit code finishes a network run
// without writing the state file.
TEST(RunEnd, ExitCodesThatSaySuccessFinishTheRun) {
    RunEnd end = DecideRunEnd(0, 0, 0, 0, 1, 1);
    EXPECT_EQ(end.result, 1003);
    EXPECT_EQ(end.deleteStateFile, 1);
    EXPECT_EQ(DecideRunEnd(0, 0, 0, 1, 0, 1).result, 1003);
}

TEST(ResultSource, StateFileByDefaultExitCodeWhenSaidInAnyCase) {
    EXPECT_EQ(ResultFromStateFile, ResultSourceOf(nullptr));
    EXPECT_EQ(ResultFromStateFile, ResultSourceOf(""));
    EXPECT_EQ(ResultFromStateFile, ResultSourceOf("StateFile"));
    EXPECT_EQ(ResultFromExitCode, ResultSourceOf("exitcode"));
    EXPECT_EQ(ResultFromExitCode, ResultSourceOf("ExitCode"));
    for (const char* other : {"exitcodes", "exit code", " exitcode", "TRUE", "0"})
        EXPECT_EQ(ResultFromUnknown, ResultSourceOf(other)) << other;
}

TEST(ResultSource, WhatExitCodesSay) {
    EXPECT_EQ(ExitCodeSuccess, JudgeExitCode(0));
    EXPECT_EQ(ExitCodeRestartNeeded, JudgeExitCode(3010));
    EXPECT_EQ(ExitCodeRestartNeeded, JudgeExitCode(1641));
    for (unsigned long code : {1ul, 2ul, 1602ul, 3011ul, 0x80070005ul, 0xFFFFFFFFul})
        EXPECT_EQ(ExitCodeFailure, JudgeExitCode(code)) << code;
    EXPECT_STREQ("success", ExitCodeMeaning(0));
    EXPECT_STREQ("success, a restart is needed", ExitCodeMeaning(3010));
    EXPECT_STREQ("success, the program has started a restart", ExitCodeMeaning(1641));
    EXPECT_STREQ("a failure", ExitCodeMeaning(1603));
}

}  // namespace

// The installed client reads the state file in the legacy code page: a new
// file is UTF-16 (read as Unicode by every reader), a Unicode one stays as
// it is, a legacy one is kept legacy whenever anything beyond ASCII is in
// play; a program whose texts are not UTF-8 writes as it always did.
TEST(StateFileWritingTest, NewFilesAreUtf16AndLegacyFilesStayLegacy) {
    for (bool ascii : {true, false}) {
        EXPECT_EQ(WriteStateNewUtf16, ChooseStateFileWriting(false, EncodingAscii, ascii, true));
        for (TextEncoding e : {EncodingUtf16Le, EncodingUtf16Be, EncodingUtf8Bom})
            EXPECT_EQ(WriteStateAsItIs, ChooseStateFileWriting(true, e, ascii, true)) << e;
        for (TextEncoding e : {EncodingUtf8, EncodingLegacy})
            EXPECT_EQ(WriteStateKeepingLegacy, ChooseStateFileWriting(true, e, ascii, true)) << e;
        for (bool exists : {true, false})
            for (TextEncoding e : {EncodingAscii, EncodingLegacy, EncodingUtf16Le})
                EXPECT_EQ(WriteStateAsItIs, ChooseStateFileWriting(exists, e, ascii, false));
    }
    EXPECT_EQ(WriteStateAsItIs, ChooseStateFileWriting(true, EncodingAscii, true, true));
    EXPECT_EQ(WriteStateKeepingLegacy, ChooseStateFileWriting(true, EncodingAscii, false, true));
}
