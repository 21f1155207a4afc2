// The run-mode loop of the program: wait in the tray, run a download
// session, or leave. Portable: the loop decides, a host carries out the
// steps against the system (the tray, the dialogs, the registry), so that
// every transition can be driven without a real tray.
#pragma once

#include "app/switches.h"

// Answers of the resume prompt (the message-box button ids).
enum PromptAnswer { AnswerCancel = 2, AnswerYes = 6, AnswerNo = 7 };

class RunModeHost {
public:
    // Waits in the notification area: 1 when the user chose Open, 0 for
    // Quit or a closed tray window.
    virtual int TrayWait() = 0;
    // The resume prompt; returns the button that closed it.
    virtual int AskToResume() = 0;
    // One download session: 1 when it was suspended, 0 otherwise.
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

// Runs the loop from the parsed switches until the mode is Exit.
void RunModeLoop(const Switches& switches, RunModeHost* host);
