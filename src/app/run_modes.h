// The run-mode loop of the program: wait in the tray, run a download
// session, or leave. Portable: the loop decides, a host carries out the
// steps against the system (the tray, the dialogs, the registry), so that
// every transition can be driven without a real tray.
#pragma once

#include "app/switches.h"

// Answers of the resume prompt (the message-box button ids).
enum PromptAnswer { AnswerCancel = 2, AnswerYes = 6, AnswerNo = 7 };

// The process's exit code: how the run ended, for scripts that start it.
enum ExitCode {
    ExitFinished = 0,    // installed (or nothing was left to do)
    ExitHandedOver = 1,  // another instance carries the run on: the one that
                         // ran already, or the elevated copy given the install
    ExitSuspended = 2,   // the download waits for the next start
    ExitFailed = 3,      // a failure, or the files were kept for later
    ExitQuit = 4,        // the user quit
};
const char* ExitCodeName(int code);

// Ends of a tray wait.
enum TrayEnd { TrayQuit = 0, TrayOpen = 1, TraySessionEnds = 2 };

// The exit code of a session from the download dialog's result (1003 over,
// 1004 suspended, 1009 keep files, anything else a dialog that could not
// run), whether the user chose to end it and whether the install was handed
// to the elevated copy (whose outcome this run never learns).
int SessionExitCode(int dialogResult, int userQuit, int handedOver);

class RunModeHost {
public:
    // Waits in the notification area: TrayOpen when the user chose Open,
    // TrayQuit for Quit or a closed tray window, TraySessionEnds when
    // Windows ends the user's session meanwhile.
    virtual int TrayWait() = 0;
    // The resume prompt; returns the button that closed it.
    virtual int AskToResume() = 0;
    // One download session: its exit code; ExitSuspended when it was
    // suspended and waits in the tray.
    virtual int RunSession(int showIntro, int resuming, const char* setupPath,
                           int saveProxySettings) = 0;
    virtual void SetSessionActive(int active) = 0;
    // Deletes the resume shortcut.
    virtual void RemoveShortcut() = 0;
    // Removes the download folder recorded in the registry, and the record.
    virtual void RemoveRecordedFolder() = 0;

protected:
    ~RunModeHost() {}
};

// Runs the loop from the parsed switches until the mode is Exit; returns
// the exit code of the run.
int RunModeLoop(const Switches& switches, RunModeHost* host);
