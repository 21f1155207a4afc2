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
    RunModeLoop(s, host);
    EXPECT_TRUE(host->trayResults.empty() && host->promptAnswers.empty() &&
                host->sessionResults.empty())
        << "unused script steps after: " << host->log;
    return host->log;
}
}  // namespace

TEST(RunModes, PlainStartRunsOneIntroducedSessionAndLeaves) {
    ScriptedHost h;
    h.sessionResults = {0};
    EXPECT_EQ("session(intro=1,resuming=0,inf=-,proxy=0,active=1) ", Drive("", &h));
}

TEST(RunModes, SuspendWaitsInTheTrayAndOpenResumes) {
    ScriptedHost h;
    h.sessionResults = {1, 1, 0};
    h.trayResults = {1, 1};
    EXPECT_EQ("session(intro=1,resuming=0,inf=-,proxy=0,active=1) tray(active=0) "
              "session(intro=0,resuming=1,inf=-,proxy=0,active=1) tray(active=0) "
              "session(intro=0,resuming=1,inf=-,proxy=0,active=1) ",
              Drive("", &h));
}

TEST(RunModes, QuitFromTheTrayRemovesShortcutThenFolder) {
    ScriptedHost h;
    h.trayResults = {0};
    EXPECT_EQ("tray(active=0) unlink rmfolder ", Drive("/tray", &h));
}

TEST(RunModes, TrayStartResumesWithoutIntroduction) {
    ScriptedHost h;
    h.trayResults = {1};
    h.sessionResults = {0};
    EXPECT_EQ("tray(active=0) session(intro=0,resuming=1,inf=-,proxy=1,active=1) ",
              Drive("-traylater /SaveProxySettings", &h));
}

TEST(RunModes, NoInterventionStartsAResumedSessionAtOnce) {
    ScriptedHost h;
    h.sessionResults = {0};
    EXPECT_EQ("session(intro=0,resuming=1,inf=-,proxy=0,active=1) ", Drive("/tray /NoIntervention", &h));
}

TEST(RunModes, PromptYesRunsAResumedSession) {
    ScriptedHost h;
    h.promptAnswers = {AnswerYes};
    h.sessionResults = {0};
    EXPECT_EQ("ask session(intro=0,resuming=1,inf=-,proxy=0,active=1) ",
              Drive("/tray /AskForRestart", &h));
}

TEST(RunModes, PromptNoWaitsInTheTrayAndIsNotRepeated) {
    ScriptedHost h;
    h.promptAnswers = {AnswerNo};
    h.trayResults = {1};
    h.sessionResults = {0};
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
    h.sessionResults = {0};
    EXPECT_EQ("ask session(intro=0,resuming=1,inf=-,proxy=0,active=1) ", Drive("-AskForRestart", &h));
}

TEST(RunModes, SetupPathReachesEverySession) {
    ScriptedHost h;
    h.sessionResults = {1, 0};
    h.trayResults = {1};
    EXPECT_EQ("session(intro=1,resuming=0,inf=C:\\s\\cv.inf,proxy=0,active=1) tray(active=0) "
              "session(intro=0,resuming=1,inf=C:\\s\\cv.inf,proxy=0,active=1) ",
              Drive("-inf C:\\s\\cv.inf", &h));
}

TEST(RunModes, SuspendAfterPromptGoesToTheTrayThenQuit) {
    ScriptedHost h;
    h.promptAnswers = {AnswerYes};
    h.sessionResults = {1};
    h.trayResults = {0};
    EXPECT_EQ("ask session(intro=0,resuming=1,inf=-,proxy=0,active=1) tray(active=0) unlink rmfolder ",
              Drive("/AskForRestart", &h));
}
