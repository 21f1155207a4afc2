// The completion step of a download run: checks that every component is
// present, asks whether to install, runs the install rounds of each
// component in install order, records the run in the state file and ends
// the run with the result that tells start-up what to clean up. It talks to
// the window that runs it only through CompletionHost.
#pragma once
#include <windows.h>

#include "base/http_settings.h"
#include "setup/component.h"

// Results of the modal run, as start-up reads them.
enum DownloadResult {
    ResultFinished = 1003,   // remove the download folder and the shortcut
    ResultSuspended = 1004,  // write the resume shortcut, wait in the tray
    ResultKeepFiles = 1009,  // leave everything in place for the next start
};

// What the completion step asks of the run's window.
class CompletionHost {
public:
    // Runs one of the run's question dialogs; its result.
    virtual INT_PTR RunQuestion(WORD templateId) = 0;
    // Shows string `textId` in a message box of the run.
    virtual int ShowRunMessage(UINT textId, UINT type) = 0;
    // Hides the run's window while "Ready to Install" is asked.
    virtual void HideRunWindow() = 0;
    // Ends the run with a DownloadResult; the first ending holds.
    virtual void EndRun(int result) = 0;
    // Non-zero once the run has ended (Windows may end the session while a
    // question or an install action is on the stack).
    virtual int RunEnded() const = 0;
    // The user chose to end the run ("&Delete files"): the process's exit
    // code says so.
    virtual void NoteUserQuit() {}
    // The install went to the elevated copy, which goes on after this run:
    // the exit code says the run was handed over.
    virtual void NoteHandedOver() {}
    // Whether the files of a component taken where they lie (a copy, cdrom
    // or package component) are those its setup description pins; false,
    // once the host has said which is not, when one differs. Nothing of
    // such a component may be installed.
    virtual bool LocalFilesMatchPins(const Component*) { return true; }

protected:
    ~CompletionHost() {}
};

// The run's window and the setup description's choices that the
// completion step reads.
struct CompletionRun {
    HWND window;         // the download dialog
    HWND statusControl;  // its status line
    HWND listControl;    // its component list
    int componentCount;
    int usesNetwork;
    int allowIntervention;
    int saveProxySettings;
    // The elevated copy of a run that handed its install over: it installs
    // without asking again and never hands over itself.
    int installKept;
    const char* downloadFolder;
    const char* setupPath;  // the "-inf " file, or null
    // The settings that last reached a part list: their proxy goes to the
    // state file for the installed client.
    const HttpSettings* proxySettings;
};

// The completion step, run once when the fetch phase is over.
void CompleteRun(CompletionHost* host, const CompletionRun& run);
// Installs the downloaded components in install order; 0 when an action
// failed (the remaining steps and components are not started) or Windows
// ended the session meanwhile. What the exit codes of components with
// resultFrom=exitcode said goes to *outcome (may be null).
struct ActionOutcome;
int InstallAll(const CompletionRun& run, ActionOutcome* outcome = nullptr);
