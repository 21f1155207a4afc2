// The FTP transport's Windows side: sockets requested with WSAAsyncSelect,
// the local file, the time-out timer, and the hidden window's messages.
#include "download/ftp_downloader_win.h"

#include <cstdio>
#include <cstring>

#include "base/process_win.h"
#include "base/run_log.h"
#include "download/report_bytes.h"
#include "setup/download_folder_win.h"

namespace {

const UINT_PTR kTimerId = 1;

// Room for several blocks, so that each receive finds a whole block.
void WidenReceiveBuffer(SOCKET s) {
    int size = 1 << 20;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
}

}  // namespace

FtpDownloader::FtpDownloader(unsigned timeoutMs)
    : controlSocket(INVALID_SOCKET),
      listenSocket(INVALID_SOCKET),
      dataSocket(INVALID_SOCKET),
      outputFile(INVALID_HANDLE_VALUE),
      protocol(*this),
      site(),
      timeout(timeoutMs),
      lastProgress(0),
      timerRunning(false) {
    memset(&serverAddress, 0, sizeof serverAddress);
}

FtpDownloader::~FtpDownloader() { CloseAll(); }

void FtpDownloader::CloseAll() {
    protocol.Close();
    // Whatever the protocol did not know of (it always should) goes too.
    CloseDataConnection();
    CloseControlConnection();
    if (timerRunning && hwnd) KillTimer(hwnd, kTimerId);
    timerRunning = false;
}

void FtpDownloader::SetCredentials(const char* user, const char* password) {
    AddLogSecret(password);
    protocol.SetCredentials(user, password);
}

void FtpDownloader::SetProxyCredentials(const char*, const char*) {}

int FtpDownloader::Open(const char* text, const char*, const char*) {
    bool named = ParseFtpSite(text, &site);
    protocol.BeginOpen(site.host);
    lastProgress = GetTickCount();
    // A site that names no host is never looked up (an empty name would be
    // this machine's own). A lookup that cannot start ends with the
    // time-out's "dl1" 1, so the caller, which waits for "dl1", is never
    // left waiting.
    int started = named ? ResolveHost(site.host) : 0;
    UpdateTimer();
    return started;
}

int FtpDownloader::Close() {
    int result = protocol.Close();
    UpdateTimer();
    return result;
}

int FtpDownloader::Fetch(const char* remotePath, const char* localFile) {
    if (!protocol.CanFetch() || !localFile) return 0;
    if (strchr(localFile, '\\') || strchr(localFile, '/')) CreateParentDirectories(localFile);
    HANDLE file = CreateFileA(localFile, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    outputFile = file;
    lastProgress = GetTickCount();
    // The site's folder goes before the component's path.
    char path[sizeof site.folder + 1024];
    std::snprintf(path, sizeof path, "%s%s", site.folder, remotePath ? remotePath : "");
    bool started = protocol.BeginFetch(path);
    if (!started && outputFile != INVALID_HANDLE_VALUE) {
        CloseHandle(outputFile);
        outputFile = INVALID_HANDLE_VALUE;
    }
    UpdateTimer();
    return started ? 1 : 0;
}

void FtpDownloader::OnReply(const char* reply) {
    protocol.OnReply(reply);
    UpdateTimer();
}

LRESULT FtpDownloader::HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == msgDli1) {
        // The answer to a lookup that was given up (Close, a new Open or a
        // time-out) must not be taken for the current one.
        if (!lookupHandle || reinterpret_cast<HANDLE>(wParam) != lookupHandle) return 0;
        LRESULT result = Downloader::HandleWindowMessage(message, wParam, lParam);
        lastProgress = GetTickCount();
        protocol.LookupDone(hostResolved != 0);
        UpdateTimer();
        return result;
    }
    LRESULT result = Downloader::HandleWindowMessage(message, wParam, lParam);
    if (message == msgDlftp1 || message == msgDlftp2 || message == msgDlftp3) {
        SOCKET socket = static_cast<SOCKET>(wParam);
        WORD event = WSAGETSELECTEVENT(lParam);
        WORD error = WSAGETSELECTERROR(lParam);
        lastProgress = GetTickCount();
        if (message == msgDlftp1) {
            OnControlEvent(socket, event, error);
        } else if (message == msgDlftp2) {
            OnListenEvent(socket, event, error);
        } else {
            OnDataEvent(socket, event, error);
        }
        UpdateTimer();
        return 0;
    }
    if (message == WM_TIMER && wParam == kTimerId) {
        if (protocol.AwaitsPeer() && GetTickCount() - lastProgress >= timeout) protocol.TimedOut();
        UpdateTimer();
        return 0;
    }
    return result;
}

void FtpDownloader::OnControlEvent(SOCKET socket, WORD event, WORD error) {
    if (socket != controlSocket) return;  // a socket closed since
    switch (event) {
        case FD_CONNECT:
            protocol.ControlConnected(error);
            break;
        case FD_READ:
            if (error) {
                protocol.ControlClosed();
            } else {
                ReadControl();
            }
            break;
        case FD_CLOSE:
            // What the server said before closing still counts.
            while (socket == controlSocket && ReadControl()) {
            }
            if (socket == controlSocket) protocol.ControlClosed();
            break;
        default:
            break;
    }
}

// One receive into the reply buffer; true when bytes came.
bool FtpDownloader::ReadControl() {
    int room;
    char* area = protocol.ReceiveArea(&room);
    int n = recv(controlSocket, area, room, 0);
    if (n > 0) {
        protocol.ControlReceived(n);
        return true;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return false;
    protocol.ControlClosed();
    return false;
}

void FtpDownloader::OnListenEvent(SOCKET socket, WORD event, WORD error) {
    if (socket != listenSocket || event != FD_ACCEPT) return;
    if (error) {
        protocol.DataFailed();
        return;
    }
    sockaddr_in peer;
    int peerLength = sizeof peer;
    SOCKET accepted = accept(listenSocket, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (accepted == INVALID_SOCKET) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) protocol.DataFailed();
        return;
    }
    // Only the server may deliver the file; anyone else is turned away and
    // the socket keeps listening.
    if (peer.sin_addr.s_addr != serverAddress.sin_addr.s_addr || dataSocket != INVALID_SOCKET) {
        closesocket(accepted);
        return;
    }
    dataSocket = accepted;
    WSAAsyncSelect(dataSocket, hwnd, msgDlftp3, FD_READ | FD_CLOSE);
    closesocket(listenSocket);
    listenSocket = INVALID_SOCKET;
    DropQueued(msgDlftp2);
}

void FtpDownloader::OnDataEvent(SOCKET socket, WORD event, WORD error) {
    if (socket != dataSocket) return;
    switch (event) {
        case FD_CONNECT:
            protocol.DataConnected(error);
            break;
        case FD_READ:
            if (error) {
                protocol.DataFailed();
            } else {
                protocol.DataReadable();
            }
            break;
        case FD_CLOSE:
            protocol.DataClosed(error);
            break;
        default:
            break;
    }
}

bool FtpDownloader::SendCommand(const char* text, int length) {
    if (controlSocket == INVALID_SOCKET) return false;
    LogEvent("ftp > %.*s", length > 2 ? length - 2 : length, text);  // without its "\r\n"
    return send(controlSocket, text, length, 0) == length;
}

void FtpDownloader::Report(FtpReport report, int code, long long value) {
    UINT message = msgDl1;
    switch (report) {
        case FtpReport::Dl1: message = msgDl1; break;
        case FtpReport::Dl2: message = msgDl2; break;
        case FtpReport::Dl3: message = msgDl3; break;
        case FtpReport::Dl4: message = msgDl4; break;
    }
    if (report == FtpReport::Dl2 || report == FtpReport::Dl3) {
        uintptr_t wParam = 0;
        intptr_t lParam = 0;
        PackReportBytes(code, value, &wParam, &lParam);
        Notify(message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
        return;
    }
    Notify(message, static_cast<WPARAM>(code), static_cast<LPARAM>(value));
}

int FtpDownloader::StartControlConnection() {
    const hostent* host = reinterpret_cast<const hostent*>(hostEntry);
    if (!host->h_addr_list || !host->h_addr_list[0] || host->h_length != 4) return kFtpConnectFailed;
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return kFtpNoSocket;
    controlSocket = s;
    sockaddr_in local;
    memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local);
    WSAAsyncSelect(s, hwnd, msgDlftp1, FD_READ | FD_CONNECT | FD_CLOSE);
    memset(&serverAddress, 0, sizeof serverAddress);
    serverAddress.sin_family = AF_INET;
    serverAddress.sin_port = htons(static_cast<u_short>(site.port));
    memcpy(&serverAddress.sin_addr, host->h_addr_list[0], 4);
    if (connect(s, reinterpret_cast<sockaddr*>(&serverAddress), sizeof serverAddress) == SOCKET_ERROR &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        return kFtpConnectFailed;
    }
    return kFtpConnectStarted;
}

void FtpDownloader::CloseControlConnection() {
    if (lookupHandle) {
        WSACancelAsyncRequest(lookupHandle);
        lookupHandle = nullptr;
    }
    if (controlSocket != INVALID_SOCKET) {
        closesocket(controlSocket);
        controlSocket = INVALID_SOCKET;
        DropQueued(msgDlftp1);
    }
}

bool FtpDownloader::OpenPassiveData(int port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return false;
    dataSocket = s;
    WidenReceiveBuffer(s);
    sockaddr_in local;
    memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local);
    WSAAsyncSelect(s, hwnd, msgDlftp3, FD_READ | FD_ACCEPT | FD_CONNECT | FD_CLOSE);
    // The data comes from the machine the control connection reaches, at
    // the port the reply names.
    sockaddr_in peer;
    int peerLength = sizeof peer;
    if (getpeername(controlSocket, reinterpret_cast<sockaddr*>(&peer), &peerLength) == SOCKET_ERROR ||
        peer.sin_family != AF_INET) {
        peer = serverAddress;
    }
    peer.sin_port = htons(static_cast<u_short>(port));
    if (connect(s, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == SOCKET_ERROR &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        // Reported like a failed connect event, once the reply is handled.
        PostMessageA(hwnd, msgDlftp3, static_cast<WPARAM>(s),
                     WSAMAKESELECTREPLY(FD_CONNECT, WSAECONNREFUSED));
    }
    return true;
}

bool FtpDownloader::OpenActiveData(FtpAddress* local) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return false;
    listenSocket = s;
    WidenReceiveBuffer(s);  // inherited by the accepted connection
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    int length = sizeof address;
    sockaddr_in own;
    int ownLength = sizeof own;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
        WSAAsyncSelect(s, hwnd, msgDlftp2, FD_ACCEPT | FD_CLOSE) == SOCKET_ERROR ||
        listen(s, 1) == SOCKET_ERROR ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == SOCKET_ERROR ||
        getsockname(controlSocket, reinterpret_cast<sockaddr*>(&own), &ownLength) == SOCKET_ERROR) {
        closesocket(s);
        listenSocket = INVALID_SOCKET;
        DropQueued(msgDlftp2);
        return false;
    }
    memcpy(local->bytes, &own.sin_addr, 4);
    local->port = ntohs(address.sin_port);
    return true;
}

int FtpDownloader::ReceiveData(char* buffer, int size) {
    // In active mode the server may announce the file before it connects.
    if (dataSocket == INVALID_SOCKET) return listenSocket != INVALID_SOCKET ? kFtpWouldBlock : kFtpReceiveError;
    int n = recv(dataSocket, buffer, size, 0);
    if (n >= 0) return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? kFtpWouldBlock : kFtpReceiveError;
}

bool FtpDownloader::WriteData(const char* data, int length) {
    if (outputFile == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    return WriteFile(outputFile, data, static_cast<DWORD>(length), &written, nullptr) &&
           written == static_cast<DWORD>(length);
}

void FtpDownloader::CloseDataConnection() {
    if (outputFile != INVALID_HANDLE_VALUE) {
        CloseHandle(outputFile);
        outputFile = INVALID_HANDLE_VALUE;
    }
    if (dataSocket != INVALID_SOCKET) {
        closesocket(dataSocket);
        dataSocket = INVALID_SOCKET;
        DropQueued(msgDlftp3);
    }
    if (listenSocket != INVALID_SOCKET) {
        closesocket(listenSocket);
        listenSocket = INVALID_SOCKET;
        DropQueued(msgDlftp2);
    }
}

// Events of a closed socket must not be taken for those of a later socket
// that gets the same handle.
void FtpDownloader::DropQueued(UINT message) {
    if (!hwnd) return;
    MSG m;
    while (PeekMessageA(&m, hwnd, message, message, PM_REMOVE)) {
    }
}

void FtpDownloader::UpdateTimer() {
    if (!hwnd) return;
    bool wanted = protocol.AwaitsPeer();
    if (wanted && !timerRunning) {
        UINT period = timeout / 4;
        if (period < 10) period = 10;
        if (period > 1000) period = 1000;
        timerRunning = SetTimer(hwnd, kTimerId, period, nullptr) != 0;
    } else if (!wanted && timerRunning) {
        KillTimer(hwnd, kTimerId);
        timerRunning = false;
    }
}
