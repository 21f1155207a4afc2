// The download dialog: carries one download run from loading the setup
// description through the fetch loop to the completion step, which installs
// the components and ends the run with the result start-up acts on.
#pragma once
#include <winsock2.h>
#include <windows.h>
#include "download/ftp_downloader_win.h"
#include "download/http_downloader_win.h"
#include "install/completion_win.h"
#include "setup/component.h"
#include "ui/window_win.h"

class DownloadDialog : public DialogBase, public CompletionHost {
public:
    DownloadDialog(const char* downloadFolder, int showIntro, int resuming, const char* setupPath,
                   int saveProxySettings);
    ~DownloadDialog();

    INT_PTR HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Slot 3: the start sequence, on WM_INITDIALOG.
    virtual INT_PTR OnInitDialog();

    // Reads one setup description's [defs] and adds its components.
    void ReadSetupDescription(const char* infPath);
    // The completion step: checks, asks, installs, records, ends the dialog.
    void Complete();
    // After the run: stops both transports and waits up to `milliseconds`
    // for the HTTP workers, so that no file in the download folder is held
    // open or made any more; false when a worker did not end in time.
    bool StopTransports(DWORD milliseconds);

    const char* downloadFolder;
    HWND listControl;
    HWND statusControl;
    int componentCount;
    const char* setupPath;
    int currentIndex;
    Component* currentComponent;
    char fileList[300];
    char* fileCursor;
    int fileNumber;   // of currentFile in the component's "files", from 1
    // The pin of currentFile, read when its fetch starts.
    int filePinned;   // a PinRead
    unsigned char filePin[kSha256Size];
    int pinFailures;  // fetches of currentFile its pin refused
    char currentFile[260];
    char remoteDir[260];
    char siteName[80];
    int siteNumber;  // 1 for "site", n for "site<n>"
    char proxyName[80];
    char proxyPort[80];
    char connectedSite[80];
    int connectPending;
    long long totalBytes;
    int usesNetwork;
    int allowIntervention;  // the user may suspend, quit and answer questions
    int showIntro;
    int resuming;
    int saveProxySettings;
    // The elevated copy of a run that handed its install over: straight to
    // the install of the kept files, without asking again.
    int installKept;
    // The user ended the run: Quit, left the introduction, "&Delete files".
    int userQuit;
    // The install was handed to the elevated copy, which carries the run on.
    int handedOver;

    FtpDownloader ftpDownloader;
    HttpDownloader httpDownloader;
    // The transports the fetch loop drives; they are the two members unless
    // a test puts its own in their place before the dialog runs.
    Downloader* ftpTransport;
    Downloader* httpTransport;

protected:
    // Seams for the questions and the interruption of the HTTP worker, so
    // that tests can answer and observe them.
    INT_PTR RunQuestion(WORD templateId) override;
    int ShowRunMessage(UINT textId, UINT type) override;
    virtual void InterruptHttp(int pause);
    virtual void ClearHttpInterrupt();

private:
    int NextComponent();
    int NextFile();
    void OnConnected(WPARAM error);
    void OnTransferStart(WPARAM wParam, LPARAM lParam);
    void OnProgress(WPARAM wParam, LPARAM lParam);
    void ShowProgress();
    void OnFileDone(WPARAM error, LPARAM detail);
    // Reads the pin of currentFile and hands it to the transport.
    void ReadFilePin(Downloader* transport);
    // False (and the run stopped) when a file the transport could not
    // check itself does not match its pin, or its fetch is tried again.
    bool FileMatchesPin(const char* temporary);
    void FingerprintFailed();
    // After a failed fetch of currentFile with "dl4" code `error` (or
    // kSiteUnreachable): true when the component names a further site and
    // the fetch goes on there, false when the component fails.
    bool TryNextSite(int error);
    void OnQuit();
    // The completion step's view of the run.
    void HideRunWindow() override;
    void EndRun(int result) override;
    int RunEnded() const override { return endedWith; }
    void NoteUserQuit() override { userQuit = 1; }
    void NoteHandedOver() override { handedOver = 1; }
    bool LocalFilesMatchPins(const Component* component) override;
    void PostDone(int failed);
    void SetStatus(const char* text);
    void SetStatusFromString(UINT id, const char* fileName, const char* site);
    void ShowRunWindow();
    Downloader* CurrentTransport();

    // The transport of the connection that `connectedSite` names: a site
    // reached over one transport is not connected on the other.
    Downloader* connectedTransport;
    int windowShown;   // the window may become visible
    int fetchOver;     // "dldone" has been posted
    int completing;    // the completion step has started
    int endedWith;     // result given to EndDialog, 0 while running
    // Progress is painted at most every kProgressPaintMs: a transport may
    // report a thousand blocks a second, and each paint costs more than
    // the block. The latest report waits here until it is shown.
    long long progressBytes;
    int progressPending;
    DWORD progressPaintedAt;
    UINT_PTR progressTimer;
};
