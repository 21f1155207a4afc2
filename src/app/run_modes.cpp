// The run-mode loop. Every session after the first follows a tray wait, a
// prompt or an unattended start, so only a plain first start shows the
// introduction.
#include "app/run_modes.h"

void RunModeLoop(const Switches& switches, RunModeHost* host) {
    RunMode mode = switches.mode;
    int askForRestart = switches.askForRestart;
    int resumed = switches.resumed;
    while (mode != Exit) {
        if (mode == TrayWait) {
            host->SetSessionActive(0);
            resumed = 1;
            if (host->TrayWait() == 1) {
                mode = RunSession;
            } else {
                host->RemoveShortcut();
                host->RemoveRecordedFolder();
                mode = Exit;
            }
            continue;
        }
        int answer = AnswerYes;
        if (askForRestart) {
            answer = host->AskToResume();
            askForRestart = 0;
            resumed = 1;
        }
        if (answer == AnswerYes) {
            host->SetSessionActive(1);
            int suspended = host->RunSession(!resumed, resumed || switches.unattended,
                                             switches.setupPath, switches.saveProxySettings);
            mode = suspended == 1 ? TrayWait : Exit;
        } else if (answer == AnswerNo) {
            mode = TrayWait;
        } else if (answer == AnswerCancel) {
            // A download described by a file of the user's ("-inf ") has no
            // recorded folder to give up; opening one here would only make
            // an empty folder and a registry record that nobody removes.
            if (!switches.setupPath) host->RemoveRecordedFolder();
            host->RemoveShortcut();
            mode = Exit;
        }
        // Any other answer: the session runs on the next pass, unasked.
    }
}
