// The socket layer over Windows Sockets 1.1 for the Windows build of the
// client. A pending connect is watched in the exception set too, where
// Windows Sockets reports a refused connection.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "http/net.h"

int NetStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(1, 1), &data) == 0 ? 0 : -1;
}

int NetLastError() { return WSAGetLastError(); }

const char* NetErrorText(int error, char* buffer, int size) {
    if (error >= WSABASEERR) {
        std::snprintf(buffer, size, "socket error %d", error);
    } else {
        std::snprintf(buffer, size, "%s", std::strerror(error));
    }
    return buffer;
}

bool NetWouldBlock(int error) { return error == WSAEWOULDBLOCK; }
bool NetInProgress(int error) { return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS; }

NetSocket NetTcpSocket() {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return kNoSocket;
    // A receive buffer of several body blocks lets each receive take a
    // whole block; failure to enlarge it only costs speed.
    int size = 512 * 1024;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
    return NetSocket(s);
}

int NetSetNonBlocking(NetSocket s) {
    u_long on = 1;
    return ioctlsocket(SOCKET(s), FIONBIO, &on) == 0 ? 0 : -1;
}

int NetConnect(NetSocket s, const NetAddress& to) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = short(to.family);
    sa.sin_port = to.port;
    sa.sin_addr.s_addr = to.address;
    return ::connect(SOCKET(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? 0 : -1;
}

void NetClose(NetSocket s) {
    if (s != kNoSocket) closesocket(SOCKET(s));
}

namespace {

// 1 when the socket is in the set that became ready, 0 time-out, -1 failure.
int Select(NetSocket s, bool read, bool write, bool except, int milliseconds, bool* inExcept) {
    fd_set r, w, e;
    FD_ZERO(&r);
    FD_ZERO(&w);
    FD_ZERO(&e);
    if (read) FD_SET(SOCKET(s), &r);
    if (write) FD_SET(SOCKET(s), &w);
    if (except) FD_SET(SOCKET(s), &e);
    if (milliseconds < 0) milliseconds = 0;
    timeval tv;
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    int n = ::select(0, read ? &r : nullptr, write ? &w : nullptr, except ? &e : nullptr, &tv);
    if (n == SOCKET_ERROR) return -1;
    if (n == 0) return 0;
    if (inExcept) *inExcept = except && FD_ISSET(SOCKET(s), &e);
    return 1;
}

}  // namespace

int NetWaitReadable(NetSocket s, int milliseconds) { return Select(s, true, false, false, milliseconds, nullptr); }

int NetWaitWritable(NetSocket s, int milliseconds) { return Select(s, false, true, false, milliseconds, nullptr); }

int NetWaitConnected(NetSocket s, int milliseconds, int* error) {
    bool failed = false;
    int r = Select(s, false, true, true, milliseconds, &failed);
    if (r < 0) {
        *error = WSAGetLastError();
        return -1;
    }
    if (r == 0) return 0;
    if (failed) {
        int soError = 0;
        int len = sizeof soError;
        if (getsockopt(SOCKET(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) != 0 || !soError)
            soError = WSAECONNREFUSED;
        *error = soError;
        return -2;
    }
    return 1;
}

int NetSend(NetSocket s, const char* bytes, int count) { return ::send(SOCKET(s), bytes, count, 0); }

int NetRecv(NetSocket s, char* buffer, int size) { return ::recv(SOCKET(s), buffer, size, 0); }

int NetParseDotted(const char* text, uint32_t* address) {
    if (!text) return -1;
    unsigned long a = inet_addr(text);
    if (a == INADDR_NONE) return -1;
    *address = uint32_t(a);
    return 0;
}

int NetLookup(const char* host, uint32_t* address, int* error) {
    hostent* h = gethostbyname(host);
    if (!h || h->h_addrtype != AF_INET || !h->h_addr_list || !h->h_addr_list[0]) {
        *error = WSAGetLastError();
        return -1;
    }
    std::memcpy(address, h->h_addr_list[0], 4);
    return 0;
}

int NetFamilyInet() { return AF_INET; }

uint16_t NetPort(unsigned port) { return htons(u_short(port)); }

void NetSleepMs(int milliseconds) { Sleep(DWORD(milliseconds)); }
