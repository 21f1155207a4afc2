// The FTP transport: logs in on the site's port (21 unless the site names
// another) and fetches one file per Fetch, driven by socket events that
// Windows Sockets posts to its hidden window.
// The protocol decisions live in FtpProtocol; this class binds them to
// sockets, the local file and the window's messages.
#pragma once
#include "download/downloader_win.h"
#include "download/ftp_protocol.h"

class FtpDownloader : public Downloader, private FtpLink {
public:
    static const unsigned kDefaultTimeout = 60000;

    // `timeoutMs`: how long the lookup, the connect, the login and a
    // transfer may go without any event before they are given up.
    explicit FtpDownloader(unsigned timeoutMs = kDefaultTimeout);
    // Closes sockets and file; the base then destroys the window, so no
    // event queued for this object is ever handled.
    ~FtpDownloader();
    FtpDownloader(const FtpDownloader&) = delete;
    FtpDownloader& operator=(const FtpDownloader&) = delete;

    LRESULT HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    int Open(const char* site, const char* proxy, const char* port) override;
    int Close() override;
    int Fetch(const char* remotePath, const char* localFile) override;
    void SetCredentials(const char* user, const char* password) override;
    void SetProxyCredentials(const char* user, const char* password) override;
    // Slot 7: one complete reply of the control connection.
    virtual void OnReply(const char* reply);
    // The transport's last act before its files are removed: closes every
    // socket and the local file whatever the state (Close leaves a
    // transport that never connected alone), and stops its timer.
    void Shutdown() { CloseAll(); }

    FtpState state() const { return protocol.state(); }
    const FtpProtocol& Protocol() const { return protocol; }

    SOCKET controlSocket;
    SOCKET listenSocket;
    SOCKET dataSocket;
    sockaddr_in serverAddress;
    HANDLE outputFile;

private:
    bool SendCommand(const char* text, int length) override;
    void Report(FtpReport report, int code, long long value) override;
    int StartControlConnection() override;
    void CloseControlConnection() override;
    bool OpenPassiveData(int port) override;
    bool OpenActiveData(FtpAddress* local) override;
    int ReceiveData(char* buffer, int size) override;
    bool WriteData(const char* data, int length) override;
    void CloseDataConnection() override;

    void OnControlEvent(SOCKET socket, WORD event, WORD error);
    void OnListenEvent(SOCKET socket, WORD event, WORD error);
    void OnDataEvent(SOCKET socket, WORD event, WORD error);
    bool ReadControl();
    void DropQueued(UINT message);
    void UpdateTimer();
    void CloseAll();

    FtpProtocol protocol;
    FtpSite site;  // of the last Open; port 0 before any
    unsigned timeout;
    DWORD lastProgress;
    bool timerRunning;
};
