// The transport base: an object that owns a hidden "Downloader" window,
// reports to a notify window with the registered messages "dl1" to "dl4",
// and can resolve a host name asynchronously ("dli1").
#pragma once
#include <winsock2.h>
#include <windows.h>
#include "http/sha256.h"
#include "ui/window_win.h"

class Downloader : public WindowBase {
public:
    Downloader();
    // Destroys the hidden window, so that nothing queued for it reaches a
    // transport that no longer exists. A lookup still running keeps its own
    // buffer, which is then left to it.
    ~Downloader();

    // Slot 1: handles "dli1", everything else goes to the default procedure.
    LRESULT HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Slot 2..6.
    virtual int Open(const char* site, const char* proxy, const char* port) = 0;
    virtual int Close() = 0;
    virtual int Fetch(const char* remotePath, const char* localFile) = 0;
    virtual void SetCredentials(const char* user, const char* password) {}
    virtual void SetProxyCredentials(const char* user, const char* password) {}

    // Registers the class "Downloader" (once) and makes the hidden window;
    // true when the window exists.
    bool CreateMessageWindow(HWND notify);
    // Starts WSAAsyncGetHostByName for `name`; 1 when started, 0 when not.
    int ResolveHost(const char* name);

    // The fingerprint the file of the next Fetch must have (over HTTP, its
    // part list as served); null for none. The transport that can check it
    // does; the dialog checks the others' files.
    void SetFingerprint(const unsigned char* digest);
    // Failed tries of the next Fetch on its site before it is given up, as
    // the setup description gives them (TriesFromSetting); 0 leaves the
    // transport's own. Only a transport that tries again heeds it.
    void SetTries(int count) { setupTries = count; }

    HWND notifyWindow;
    int pinned;
    unsigned char pin[kSha256Size];
    int setupTries = 0;
    // The host entry of the last lookup that ended without error, copied
    // here on "dli1" before a subclass sees the message.
    char hostEntry[MAXGETHOSTSTRUCT];
    HANDLE lookupHandle;
    int hostResolved;

private:
    // The system writes the answer of a lookup when the lookup ends, which
    // may be after this object is gone; so it writes into a buffer of its own.
    char* lookupBuffer;
    // The lookup that may still write into lookupBuffer, null when none.
    HANDLE bufferOwner;

protected:
    // Sends a report to the notify window (when there is one) and waits
    // until it has been handled.
    LRESULT Notify(UINT message, WPARAM wParam, LPARAM lParam);
};

// WSAStartup for version 1.1 exactly; 0 on success, -1 otherwise.
int StartSockets();
