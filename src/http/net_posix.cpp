// The socket layer over BSD sockets, for the native build of the client.
// poll() rather than select(): a descriptor number is never limited by the
// size of an fd_set.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "http/net.h"

int NetStartup() { return 0; }

int NetLastError() { return errno; }

const char* NetErrorText(int error, char* buffer, int size) {
    std::snprintf(buffer, size, "%s", std::strerror(error));
    return buffer;
}

bool NetWouldBlock(int error) { return error == EWOULDBLOCK || error == EAGAIN; }
bool NetInProgress(int error) { return error == EINPROGRESS || error == EALREADY; }

NetSocket NetTcpSocket() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return s < 0 ? kNoSocket : s;
}

int NetSetNonBlocking(NetSocket s) {
    int flags = ::fcntl(int(s), F_GETFL, 0);
    if (flags < 0 || ::fcntl(int(s), F_SETFL, flags | O_NONBLOCK) < 0) return -1;
    return 0;
}

int NetConnect(NetSocket s, const NetAddress& to) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = sa_family_t(to.family);
    sa.sin_port = to.port;
    sa.sin_addr.s_addr = to.address;
    return ::connect(int(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? 0 : -1;
}

void NetClose(NetSocket s) {
    if (s != kNoSocket) ::close(int(s));
}

namespace {

long long NowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// poll() with a deadline that survives interruptions by signals.
int Wait(NetSocket s, short events, int milliseconds, short* revents) {
    long long deadline = NowMs() + (milliseconds < 0 ? 0 : milliseconds);
    for (;;) {
        pollfd p = {int(s), events, 0};
        long long left = deadline - NowMs();
        int r = ::poll(&p, 1, left < 0 ? 0 : int(left));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) return 0;
        *revents = p.revents;
        return 1;
    }
}

}  // namespace

int NetWaitReadable(NetSocket s, int milliseconds) {
    short revents = 0;
    // Hang-up and error count as readable: the recv that follows reports them.
    return Wait(s, POLLIN, milliseconds, &revents);
}

int NetWaitWritable(NetSocket s, int milliseconds) {
    short revents = 0;
    return Wait(s, POLLOUT, milliseconds, &revents);
}

int NetWaitConnected(NetSocket s, int milliseconds, int* error) {
    short revents = 0;
    int r = Wait(s, POLLOUT, milliseconds, &revents);
    if (r < 0) {
        *error = errno;
        return -1;
    }
    if (r == 0) return 0;
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(int(s), SOL_SOCKET, SO_ERROR, &soError, &len) < 0) {
        *error = errno;
        return -1;
    }
    if (soError != 0) {
        *error = soError;
        return -2;
    }
    return 1;
}

int NetSend(NetSocket s, const char* bytes, int count) {
    // A peer that has gone away must give an error, not SIGPIPE.
    return int(::send(int(s), bytes, size_t(count), MSG_NOSIGNAL));
}

int NetRecv(NetSocket s, char* buffer, int size) { return int(::recv(int(s), buffer, size_t(size), 0)); }

int NetParseDotted(const char* text, uint32_t* address) {
    in_addr a;
    if (!text || ::inet_aton(text, &a) == 0) return -1;
    *address = a.s_addr;
    return 0;
}

int NetLookup(const char* host, uint32_t* address, int* error) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    int r = ::getaddrinfo(host, nullptr, &hints, &result);
    if (r != 0 || !result) {
        *error = r;
        return -1;
    }
    *address = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(result);
    return 0;
}

int NetFamilyInet() { return AF_INET; }

uint16_t NetPort(unsigned port) { return htons(uint16_t(port)); }

void NetSleepMs(int milliseconds) {
    timespec ts = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}
