// The run-mode loop, driven through a scripted host: each transition of
// the loop shows as the steps the host was asked to take.
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "app/run_modes.h"

namespace {
class ScriptedHost : public RunModeHost {
public:
    std::deque<int> trayResults;    // what each tray wait returns
    std::deque<int> promptAnswers;  // what each resume prompt returns
    std::deque<int> sessionResults; // what each session returns
    std::string log;
    int sessionActive = -1;
    int exitCode = -1;

    int TrayWait() override {
        log += "tray(active=" + std::to_string(sessionActive) + ")";
        return Next(&trayResults, "tray");
    }
    int AskToResume() override {
        log += "ask";
        return Next(&promptAnswers, "prompt");
    }
    int RunSession(int showIntro, int resuming, const char* setupPath, int saveProxySettings) override {
        log += "session(intro=" + std::to_string(showIntro) + ",resuming=" + std::to_string(resuming) +
               ",inf=" + (setupPath ? setupPath : "-") + ",proxy=" + std::to_string(saveProxySettings) +
               ",active=" + std::to_string(sessionActive) + ")";
        return Next(&sessionResults, "session");
    }
    void SetSessionActive(int active) override { sessionActive = active; }
    void RemoveShortcut() override { log += "unlink "; }
    void RemoveRecordedFolder() override { log += "rmfolder "; }

private:
    int Next(std::deque<int>* q, const char* what) {
        if (q->empty()) {
            ADD_FAILURE() << "unexpected " << what << " after: " << log;
            return 0;
        }
        int v = q->front();
        q->pop_front();
        log += " ";
        return v;
    }
};

std::string Drive(const char* commandLine, ScriptedHost* host) {
    Switches s;
    ParseSwitches(commandLine, &s);
    host->exitCode = RunModeLoop(s, host);
    EXPECT_TRUE(host->trayResults.empty() && host->promptAnswers.empty() &&
                host->sessionResults.empty())
        << "unused script steps after: " << host->log;
    return host->log;
}
}  // namespace

TEST(RunModes, PlainStartRunsOneIntroducedSessionAndLeaves) {
    ScriptedHost h;
    h.sessionResults = {ExitFinished};
    EXPECT_EQ("session(intro=1,resuming=0,inf=-,proxy=0,active=1) ", Drive("", &h));
}

TEST(RunModes, SuspendWaitsInTheTrayAndOpenResumes) {
    ScriptedHost h;
    h.sessionResults = {ExitSuspended, ExitSuspended, ExitFinished};
    h.trayResults = {TrayOpen, TrayOpen};
    EXPECT_EQ("session(intro=1,resuming=0,inf=-,proxy=0,active=1) tray(active=0) "
              "session(intro=0,resuming=1,inf=-,proxy=0,active=1) tray(active=0) "
              "session(intro=0,resuming=1,inf=-,proxy=0,active=1) ",
              Drive("", &h));
}

TEST(RunModes, QuitFromTheTrayRemovesShortcutThenFolder) {
    ScriptedHost h;
    h.trayResults = {TrayQuit};
    EXPECT_EQ("tray(active=0) unlink rmfolder ", Drive("/tray", &h));
}

TEST(RunModes, TrayStartResumesWithoutIntroduction) {
    ScriptedHost h;
    h.trayResults = {TrayOpen};
    h.sessionResults = {ExitFinished};
    EXPECT_EQ("tray(active=0) session(intro=0,resuming=1,inf=-,proxy=1,active=1) ",
              Drive("-traylater /SaveProxySettings", &h));
}

TEST(RunModes, NoInterventionStartsAResumedSessionAtOnce) {
    ScriptedHost h;
    h.sessionResults = {ExitFinished};
    EXPECT_EQ("session(intro=0,resuming=1,inf=-,proxy=0,active=1) ", Drive("/tray /NoIntervention", &h));
}

TEST(RunModes, PromptYesRunsAResumedSession) {
    ScriptedHost h;
    h.promptAnswers = {AnswerYes};
    h.sessionResults = {ExitFinished};
    EXPECT_EQ("ask session(intro=0,resuming=1,inf=-,proxy=0,active=1) ",
              Drive("/tray /AskForRestart", &h));
}

TEST(RunModes, PromptNoWaitsInTheTrayAndIsNotRepeated) {
    ScriptedHost h;
    h.promptAnswers = {AnswerNo};
    h.trayResults = {TrayOpen};
    h.sessionResults = {ExitFinished};
    EXPECT_EQ("ask tray(active=0) session(intro=0,resuming=1,inf=-,proxy=0,active=1) ",
              Drive("/tray /AskForRestart", &h));
}

TEST(RunModes, PromptCancelRemovesFolderAndShortcut) {
    ScriptedHost h;
    h.promptAnswers = {AnswerCancel};
    EXPECT_EQ("ask rmfolder unlink ", Drive("/tray /AskForRestart", &h));
}

TEST(RunModes, PromptCancelKeepsTheFolderOfASetupFile) {
    ScriptedHost h;
    h.promptAnswers = {AnswerCancel};
    EXPECT_EQ("ask unlink ", Drive("/AskForRestart -inf C:\\setup\\cv.inf", &h));
}

TEST(RunModes, OtherPromptAnswerRunsTheSessionUnasked) {
    ScriptedHost h;
    h.promptAnswers = {0};  // for example a failed message box
    h.sessionResults = {ExitFinished};
    EXPECT_EQ("ask session(intro=0,resuming=1,inf=-,proxy=0,active=1) ", Drive("-AskForRestart", &h));
}

TEST(RunModes, SetupPathReachesEverySession) {
    ScriptedHost h;
    h.sessionResults = {ExitSuspended, ExitFinished};
    h.trayResults = {TrayOpen};
    EXPECT_EQ("session(intro=1,resuming=0,inf=C:\\s\\cv.inf,proxy=0,active=1) tray(active=0) "
              "session(intro=0,resuming=1,inf=C:\\s\\cv.inf,proxy=0,active=1) ",
              Drive("-inf C:\\s\\cv.inf", &h));
}

TEST(RunModes, SuspendAfterPromptGoesToTheTrayThenQuit) {
    ScriptedHost h;
    h.promptAnswers = {AnswerYes};
    h.sessionResults = {ExitSuspended};
    h.trayResults = {TrayQuit};
    EXPECT_EQ("ask session(intro=0,resuming=1,inf=-,proxy=0,active=1) tray(active=0) unlink rmfolder ",
              Drive("/AskForRestart", &h));
}

TEST(RunModes, ExitCodeTellsHowTheRunEnded) {
    struct Case {
        const char* commandLine;
        std::deque<int> sessions, trays, prompts;
        int expected;
    } cases[] = {
        {"", {ExitFinished}, {}, {}, ExitFinished},
        {"", {ExitFailed}, {}, {}, ExitFailed},
        {"", {ExitQuit}, {}, {}, ExitQuit},
        // The last session decides, not an earlier suspension.
        {"", {ExitSuspended, ExitFailed}, {TrayOpen}, {}, ExitFailed},
        {"", {ExitSuspended}, {TrayQuit}, {}, ExitQuit},
        {"/tray", {}, {TrayQuit}, {}, ExitQuit},
        {"/AskForRestart", {}, {}, {AnswerCancel}, ExitQuit},
    };
    for (auto& c : cases) {
        ScriptedHost h;
        h.sessionResults = c.sessions;
        h.trayResults = c.trays;
        h.promptAnswers = c.prompts;
        std::string log = Drive(c.commandLine, &h);
        EXPECT_EQ(c.expected, h.exitCode) << log;
    }
}

TEST(RunModes, EndOfTheWindowsSessionInTheTrayKeepsEverything) {
    ScriptedHost h;
    h.sessionResults = {ExitSuspended};
    h.trayResults = {TraySessionEnds};
    EXPECT_EQ("session(intro=1,resuming=0,inf=-,proxy=0,active=1) tray(active=0) ", Drive("", &h));
    EXPECT_EQ(ExitSuspended, h.exitCode);
}

TEST(RunModes, SessionExitCodeFromTheDialogResult) {
    EXPECT_EQ(ExitFinished, SessionExitCode(1003, 0, 0));
    EXPECT_EQ(ExitQuit, SessionExitCode(1003, 1, 0));
    EXPECT_EQ(ExitSuspended, SessionExitCode(1004, 1, 0));
    EXPECT_EQ(ExitFailed, SessionExitCode(1009, 0, 0));
    EXPECT_EQ(ExitFailed, SessionExitCode(1009, 1, 0));
    // Files kept for the elevated copy: handed over, not failed.
    EXPECT_EQ(ExitHandedOver, SessionExitCode(1009, 0, 1));
    // A dialog that could not be made or was ended by the system otherwise.
    EXPECT_EQ(ExitFailed, SessionExitCode(-1, 0, 0));
    EXPECT_EQ(ExitFailed, SessionExitCode(2, 0, 1));
    EXPECT_STREQ("the user quit", ExitCodeName(ExitQuit));
    EXPECT_STREQ("unknown", ExitCodeName(9));
}
