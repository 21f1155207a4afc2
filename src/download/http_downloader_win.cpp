// The HTTP transport's own operations: the shared state block, Open and its
// start thread, Fetch and the order of worker threads, the credentials and
// the pause and stop requests.
#include "download/http_downloader_win.h"
#include "download/fetch_rules.h"

#include <cstring>
#include <new>

#include "base/ascii_case.h"
#include "base/process_win.h"
#include "base/run_log.h"
#include "download/line_file.h"
#include "http/codec.h"

namespace {
// The worker started last in this process. Only the user-interface thread
// starts workers, so no lock guards it.
HANDLE lastWorker = nullptr;

HANDLE Duplicate(HANDLE handle) {
    HANDLE copy = nullptr;
    if (!handle) return nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0))
        return nullptr;
    return copy;
}

void CloseIfOpen(HANDLE* handle) {
    if (*handle) CloseHandle(*handle);
    *handle = nullptr;
}

DWORD WINAPI StartThread(LPVOID argument) {
    HttpTransferState* state = static_cast<HttpTransferState*>(argument);
    // A failure is reported too, so that the dialog does not wait for ever.
    WPARAM result = StartSockets() == 0 ? 0 : 3;
    HWND notify = state->notifyWindow;
    if (notify && !state->abandoned) SendMessageA(notify, msgDl1, result, 0);
    ReleaseTransferState(state);
    return result == 0 ? 0 : static_cast<DWORD>(-1);
}

// Passwords of the setup description are stored scrambled. The field always
// ends with a terminator; a text that does not descramble leaves it empty.
void DescrambleInto(char* field, int size, const char* text) {
    unsigned char plain[260];
    int length = 0;
    int capacity = size - 1 < static_cast<int>(sizeof plain) ? size - 1 : static_cast<int>(sizeof plain);
    if (descramble(text, static_cast<int>(std::strlen(text)), plain, capacity, &length) &&
        length >= 0 && length <= capacity) {
        std::memcpy(field, plain, length);
        field[length] = 0;
    } else {
        field[0] = 0;
    }
}
}  // namespace

HttpTransferState* NewTransferState(int tries) {
    HttpTransferState* state = new (std::nothrow) HttpTransferState();
    if (!state) return nullptr;  // value-initialised: every field zero
    state->timeouts = HttpTimeouts();
    state->scriptTimeoutMs = 10000;
    state->tries = tries > 0 ? tries : 1;
    state->connections = 1;
    state->partMemory = kPartMemoryBytes;
    state->references = 1;
    state->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!state->wake) {
        delete state;
        return nullptr;
    }
    return state;
}

void HoldTransferState(HttpTransferState* state) { InterlockedIncrement(&state->references); }

void ReleaseTransferState(HttpTransferState* state) {
    if (InterlockedDecrement(&state->references) != 0) return;
    CloseHandle(state->wake);
    delete state;
}

HttpDownloader::HttpDownloader(int tries)
    : state(NewTransferState(tries)), startThread(nullptr), workerThread(nullptr), sitePasswordGiven(false),
      ownTries(tries > 0 ? tries : 1) {}

HttpDownloader::~HttpDownloader() {
    Abandon();
    CloseIfOpen(&startThread);
    CloseIfOpen(&workerThread);
}

void HttpDownloader::Abandon() {
    if (state) {
        state->notifyWindow = nullptr;
        InterlockedExchange(&state->abandoned, 1);
        state->stopRequested = 1;
        SetEvent(state->wake);
        // A settings dialog opening just now sees the abandonment itself.
        HWND dialog = state->settingsDialog;
        if (dialog) PostMessageA(dialog, WM_COMMAND, 1009, 0);
        ReleaseTransferState(state);
        state = nullptr;
    }
}

bool HttpDownloader::Shutdown(DWORD milliseconds) {
    Abandon();
    return WaitForFetchWorkers(milliseconds);
}

int HttpDownloader::Open(const char* site, const char* proxy, const char* port) {
    if (!state) {
        if (notifyWindow) PostMessageA(notifyWindow, msgDl1, 3, 0);
        return 1;
    }
    HttpSettings& own = state->settings;
    if (settingsConfirmed) {
        CopyTruncated(own.proxyAddress, sizeof own.proxyAddress, SharedHttpSettings.proxyAddress);
        CopyTruncated(own.proxyPort, sizeof own.proxyPort, SharedHttpSettings.proxyPort);
    } else {
        CopyTruncated(own.proxyAddress, sizeof own.proxyAddress, proxy);
        CopyTruncated(own.proxyPort, sizeof own.proxyPort, port);
    }
    if (!site) site = "";
    if (StartsNoCase(site, "http://")) site += 7;
    // Site credentials go only to the host and port they belong to: a kept
    // password only to the site it was kept from, the confirmed ones only
    // to the site that confirmed them.
    if (!sitePasswordGiven && !SameHttpSite(state->site, site)) own.sitePassword[0] = 0;
    if (settingsConfirmed && SameHttpSite(SharedSettingsSite, site)) {
        CopyTruncated(own.siteUser, sizeof own.siteUser, SharedHttpSettings.siteUser);
        CopyTruncated(own.sitePassword, sizeof own.sitePassword, SharedHttpSettings.sitePassword);
    }
    // Room for the "/" that always ends the site.
    CopyTruncated(state->site, sizeof state->site - 1, site);
    std::strcat(state->site, "/");
    state->notifyWindow = notifyWindow;

    CloseIfOpen(&startThread);
    HoldTransferState(state);
    startThread = CreateThread(nullptr, 0, StartThread, state, 0, nullptr);
    if (!startThread) {
        ReleaseTransferState(state);
        // Posted: the dialog is inside its own call of Open.
        if (notifyWindow) PostMessageA(notifyWindow, msgDl1, 3, 0);
    }
    return 1;
}

int HttpDownloader::Close() { return 0; }

int HttpDownloader::Fetch(const char* remotePath, const char* localFile) {
    if (!state) return 0;
    CloseIfOpen(&workerThread);
    CopyTruncated(state->remotePath, sizeof state->remotePath, remotePath);
    CopyTruncated(state->localFile, sizeof state->localFile, localFile);
    state->pinned = pinned;
    std::memcpy(state->pin, pin, sizeof state->pin);
    state->tries = setupTries > 0 ? setupTries : ownTries;
    state->notifyWindow = notifyWindow;

    FetchWorkerStart* start = new (std::nothrow) FetchWorkerStart;
    if (!start) return 0;
    start->state = state;
    // The new worker waits for the one before it, so that two workers never
    // write the same part files (a quick resume after a Suspend).
    start->previous = Duplicate(lastWorker);
    HoldTransferState(state);
    workerThread = CreateThread(nullptr, 0, FetchWorker, start, 0, nullptr);
    if (!workerThread) {
        ReleaseTransferState(state);
        if (start->previous) CloseHandle(start->previous);
        delete start;
        return 0;
    }
    HANDLE copy = Duplicate(workerThread);
    if (copy) {
        CloseIfOpen(&lastWorker);
        lastWorker = copy;
    }
    return 1;
}

void HttpDownloader::SetCredentials(const char* user, const char* password) {
    if (!state) return;
    HttpSettings& own = state->settings;
    // Confirmed site credentials replace these in Open, and only for their
    // own site.
    CopyTruncated(own.siteUser, sizeof own.siteUser, user);
    sitePasswordGiven = password && password[0];
    if (sitePasswordGiven) DescrambleInto(own.sitePassword, sizeof own.sitePassword, password);
    AddLogSecret(own.sitePassword);
}

void HttpDownloader::SetProxyCredentials(const char* user, const char* password) {
    if (!state) return;
    HttpSettings& own = state->settings;
    if (settingsConfirmed) {
        CopyTruncated(own.proxyUser, sizeof own.proxyUser, SharedHttpSettings.proxyUser);
        CopyTruncated(own.proxyPassword, sizeof own.proxyPassword, SharedHttpSettings.proxyPassword);
        return;
    }
    CopyTruncated(own.proxyUser, sizeof own.proxyUser, user);
    if (password && password[0]) DescrambleInto(own.proxyPassword, sizeof own.proxyPassword, password);
    AddLogSecret(own.proxyPassword);
}

void HttpDownloader::SetProxyScript(const char* url) {
    if (state) CopyTruncated(state->proxyScript, sizeof state->proxyScript, url ? url : "");
}

void HttpDownloader::SetConnections(int count) {
    if (state) state->connections = count < 1 ? 1 : count > kMostConnections ? kMostConnections : count;
}

void HttpDownloader::SetUnattended(bool unattended) {
    if (state) InterlockedExchange(&state->unattended, unattended ? 1 : 0);
}

void HttpDownloader::Interrupt(int pause) {
    if (!state) return;
    if (pause) state->pauseRequested = 1;
    else state->stopRequested = 1;
    SetEvent(state->wake);
}

void HttpDownloader::ClearInterrupt() {
    if (!state) return;
    state->pauseRequested = 0;
    state->stopRequested = 0;
    SetEvent(state->wake);
}

bool WaitForFetchWorkers(DWORD milliseconds) {
    if (!lastWorker) return true;
    DWORD start = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - start;
        DWORD left = spent < milliseconds ? milliseconds - spent : 0;
        DWORD woken = MsgWaitForMultipleObjects(1, &lastWorker, FALSE, left, QS_SENDMESSAGE);
        if (woken == WAIT_OBJECT_0) return true;
        if (woken != WAIT_OBJECT_0 + 1) return false;
        // Peeking delivers the messages other threads sent to this one.
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
