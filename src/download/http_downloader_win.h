// The HTTP transport: Open confirms on a short thread that sockets work,
// Fetch runs a fetch worker thread that brings a component's file in part by
// part. The transport and its threads share one reference-counted state
// block, so a thread that outlives its transport (the download dialog ends
// on Suspend or Quit while a request is still running) finds the stop flag
// and ends without touching freed memory.
#pragma once
#include "download/downloader_win.h"
#include "download/shared_http_settings.h"
#include "http/http_client.h"

struct HttpTransferState {
    volatile LONG references;
    // Null once the transport is gone: nothing is reported any more.
    HWND volatile notifyWindow;
    char site[260];           // host and path, no "http://", ends in "/"
    HttpSettings settings;    // proxy address, port, user, password; site user, password
    char remotePath[1000];
    char localFile[260];
    volatile LONG stopRequested;
    volatile LONG pauseRequested;
    volatile LONG abandoned;  // the transport has been destroyed
    HANDLE wake;              // set whenever a flag changes
    volatile LONG pauseWaits; // waits of one second spent paused, for observers
    volatile LONG waitingForEarlier; // 1 while a worker waits for an earlier one
    // The settings dialog the worker shows, null when none: a transport
    // that goes away cancels it rather than leave it to a session that ended.
    HWND volatile settingsDialog;
    // The part list must have this SHA-256 when `pinned`.
    int pinned;
    unsigned char pin[kSha256Size];
    HttpTimeouts timeouts;    // of the worker's HTTP client
    // The proxy auto-configuration script of the setup description, asked
    // before the browser's; empty for none.
    char proxyScript[260];
    // How long one script lookup may take before it is given up.
    int scriptTimeoutMs;
    // Failed tries after which a part, or the part list, is given up.
    int tries;
    // Parts fetched at once, each over a connection of its own; 1 unless
    // the caller says otherwise (the download dialog passes the setup's).
    int connections;
    // Bytes of checked parts that may wait in memory to be joined; larger
    // parts go through their files (kPartMemoryBytes; tests set less).
    long long partMemory;
    // Nobody may answer questions (allowintervention=FALSE): no settings
    // dialog; the part list's attempts start over after a pause instead.
    volatile LONG unattended;
};

// A new block held once; null when memory or the event is missing.
HttpTransferState* NewTransferState(int tries);
void HoldTransferState(HttpTransferState* state);
// Frees the block when the last holder lets go.
void ReleaseTransferState(HttpTransferState* state);

class HttpDownloader : public Downloader {
public:
    // Ten tries of a failing part take about two and a half minutes with
    // the pauses between them; tests give fewer.
    static const int kDefaultTries = 10;

    explicit HttpDownloader(int tries = kDefaultTries);
    // Stops the worker at its next check, cuts it off from the notify
    // window and lets go of the shared block; never waits for threads.
    ~HttpDownloader();
    HttpDownloader(const HttpDownloader&) = delete;
    HttpDownloader& operator=(const HttpDownloader&) = delete;

    int Open(const char* site, const char* proxy, const char* port) override;
    int Close() override;
    int Fetch(const char* remotePath, const char* localFile) override;
    void SetCredentials(const char* user, const char* password) override;
    void SetProxyCredentials(const char* user, const char* password) override;
    // The setup description's proxy auto-configuration script.
    void SetProxyScript(const char* url);
    // Parts fetched at once from now on (held to 1 .. kMostConnections).
    void SetConnections(int count);
    // A run nobody watches: the settings dialog is never shown.
    void SetUnattended(bool unattended);
    // Slot 7: non-zero pauses the worker between parts, zero stops it.
    virtual void Interrupt(int pause);
    // Slot 8: clears both requests.
    virtual void ClearInterrupt();
    // The transport's last act before its files are removed: stops the
    // worker, cuts it off from the notify window, and waits (handling the
    // messages sent to this thread meanwhile) until every fetch worker has
    // ended and so closed its files. False when the time ran out. The
    // transport takes no further work afterwards.
    bool Shutdown(DWORD milliseconds);

    HttpTransferState* state;
    HANDLE startThread;
    HANDLE workerThread;
    // The last SetCredentials gave a password; an empty one keeps the
    // earlier password only for the same site.
    bool sitePasswordGiven;
    // The tries it was made with, for a fetch the setup gives none.
    int ownTries;

private:
    void Abandon();
};

// Thread routine of Fetch; its argument is made by Fetch. Ends with 0 after
// success or a stop, -1 after a failure.
DWORD WINAPI FetchWorker(LPVOID start);

// Waits until every fetch worker started so far has ended; false when the
// time runs out. Workers run one after another, so the last one is enough.
// Messages sent to the calling thread are handled while it waits, so a
// worker inside a report to one of its windows is not held up.
bool WaitForFetchWorkers(DWORD milliseconds);

// What Fetch hands to a new worker thread.
struct FetchWorkerStart {
    HttpTransferState* state;  // held for the worker
    HANDLE previous;           // the worker started before it, or null
};
