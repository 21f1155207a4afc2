// The run-mode loop. Every session after the first follows a tray wait, a
// prompt or an unattended start, so only a plain first start shows the
// introduction.
#include "app/run_modes.h"

#include "base/run_log.h"

const char* ExitCodeName(int code) {
    switch (code) {
    case ExitFinished: return "finished";
    case ExitHandedOver: return "handed over to another instance";
    case ExitSuspended: return "suspended";
    case ExitFailed: return "failed or files kept";
    case ExitQuit: return "the user quit";
    }
    return "unknown";
}

int SessionExitCode(int dialogResult, int userQuit, int handedOver) {
    switch (dialogResult) {
    case 1003: return userQuit ? ExitQuit : ExitFinished;
    case 1004: return ExitSuspended;
    // The files stay for the elevated copy; nothing failed here.
    case 1009: return handedOver ? ExitHandedOver : ExitFailed;
    default: return ExitFailed;
    }
}

int RunModeLoop(const Switches& switches, RunModeHost* host) {
    int exitCode = ExitFinished;
    RunMode mode = switches.mode;
    int askForRestart = switches.askForRestart;
    int resumed = switches.resumed;
    while (mode != Exit) {
        if (mode == TrayWait) {
            host->SetSessionActive(0);
            resumed = 1;
            LogEvent("tray: waiting in the notification area");
            int end = host->TrayWait();
            if (end == TrayOpen) {
                LogEvent("tray: Open chosen, the download resumes");
                mode = RunSession;
            } else if (end == TraySessionEnds) {
                // The download resumes after the next log-on: everything stays.
                LogEvent("tray: Windows ends the session; the files and the resume shortcut stay");
                exitCode = ExitSuspended;
                mode = Exit;
            } else {
                LogEvent("tray: Quit chosen or the tray window closed; giving up the download");
                host->RemoveShortcut();
                host->RemoveRecordedFolder();
                exitCode = ExitQuit;
                mode = Exit;
            }
            continue;
        }
        int answer = AnswerYes;
        if (askForRestart) {
            answer = host->AskToResume();
            LogEvent("resume prompt answered %s", answer == AnswerYes ? "Yes" : answer == AnswerNo ? "No"
                                                  : answer == AnswerCancel ? "Cancel" : "otherwise");
            askForRestart = 0;
            resumed = 1;
        }
        if (answer == AnswerYes) {
            host->SetSessionActive(1);
            exitCode = host->RunSession(!resumed, resumed || switches.unattended,
                                        switches.setupPath, switches.saveProxySettings);
            mode = exitCode == ExitSuspended ? TrayWait : Exit;
        } else if (answer == AnswerNo) {
            mode = TrayWait;
        } else if (answer == AnswerCancel) {
            // A download described by a file of the user's ("-inf ") has no
            // recorded folder to give up; opening one here would only make
            // an empty folder and a registry record that nobody removes.
            if (!switches.setupPath) host->RemoveRecordedFolder();
            host->RemoveShortcut();
            exitCode = ExitQuit;
            mode = Exit;
        }
        // Any other answer: the session runs on the next pass, unasked.
    }
    return exitCode;
}
