// The HTTP client's connection: connect with bounded attempts, the one wait
// rule, the one receive, and the secure channel over the socket.
#include "http/http_connection.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "http/http_message.h"

// ---- HttpLog --------------------------------------------------------------------

void HttpLog::Note(const char* operation, const char* text) {
    size_t used = std::strlen(failure);
    std::snprintf(failure + used, sizeof failure - used, "%s%s: %s", used ? "; " : "", operation, text);
    // The texts end in a line feed, the note does not.
    size_t end = std::strlen(failure);
    while (end > 0 && (failure[end - 1] == '\n' || failure[end - 1] == '\r')) failure[--end] = 0;
}

void HttpLog::Log(int minLevel, const char* operation, const char* format, ...) {
    // Failures are kept for the caller whatever the verbosity.
    if (minLevel <= 1) {
        char text[300];
        va_list kept;
        va_start(kept, format);
        std::vsnprintf(text, sizeof text, format, kept);
        va_end(kept);
        Note(operation, text);
    }
    if (level < minLevel) return;
    std::fprintf(stderr, "IAD_HTTPClient::%s: ", operation);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

// ---- HttpWaits ------------------------------------------------------------------

void HttpWaits::set_cancel(HttpCancelCheck check, void* context) {
    cancelCheck = check;
    cancelContext = context;
}

bool HttpWaits::Cancelled() {
    if (!cancelCheck || !cancelCheck(cancelContext)) return false;
    log.Log(2, "GetFile", "cancelled\n");
    return true;
}

int HttpWaits::ConnectMs() const {
    return timeouts.connectMs > 0 ? timeouts.connectMs : timeouts.connectSeconds * 1000;
}

int HttpWaits::IoMs() const { return timeouts.ioMs > 0 ? timeouts.ioMs : timeouts.ioSeconds * 1000; }

namespace {
// Never 0, so that 0 can mean "no request under way".
long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + 1;
}
}  // namespace

long long HttpWaits::AllowanceMs() const {
    long long ms = timeouts.deadlineMs > 0 ? timeouts.deadlineMs : timeouts.deadlineSeconds * 1000LL;
    return ms > 0 ? ms : 1;
}

void HttpWaits::start_request() {
    started = NowMs();
    deadline = started + AllowanceMs();
    overdueLogged = false;
}

void HttpWaits::expect_body(long long bytes) {
    if (deadline == 0 || bytes <= 0) return;
    long long rate = timeouts.deadlineBytesPerSecond > 0 ? timeouts.deadlineBytesPerSecond : 1;
    // A stated length is the server's word: capped so that no length can
    // make the sum wrap (some 11 days at most).
    const long long kMostMs = 1000LL * 1000 * 1000;
    long long bodyMs = kMostMs;
    if (bytes / rate < kMostMs / 1000) bodyMs = bytes / rate * 1000 + bytes % rate * 1000 / rate;
    long long next = started + AllowanceMs() + bodyMs;
    if (next > deadline) deadline = next;
}

long long HttpWaits::deadline_left_ms() const {
    if (deadline == 0) return -1;
    long long left = deadline - NowMs();
    return left > 0 ? left : 0;
}

bool HttpWaits::Overdue() {
    if (deadline == 0 || NowMs() < deadline) return false;
    if (!overdueLogged) {
        overdueLogged = true;
        log.Log(1, "GetFile", "Request past its deadline of %lld ms\n", deadline - started);
    }
    return true;
}

int HttpWaits::Wait(For what, NetSocket s, int milliseconds, int* error) {
    // Without a cancel question one wait does; with one, a slice is short
    // enough that a stop is heard at once and long enough to cost nothing.
    // No wait reaches past the request's deadline.
    const int kSliceMs = 50;
    int left = milliseconds;
    for (;;) {
        if (Cancelled()) return -3;
        if (Overdue()) return -4;
        int slice = cancelCheck && left > kSliceMs ? kSliceMs : left;
        long long due = deadline_left_ms();
        if (due >= 0 && due < slice) slice = int(due) + 1;
        int r = what == Readable    ? NetWaitReadable(s, slice)
                : what == Writable  ? NetWaitWritable(s, slice)
                                    : NetWaitConnected(s, slice, error);
        left -= slice;
        if (r != 0) return r;
        if (Overdue()) return -4;
        if (left <= 0) return 0;
    }
}

// ---- HttpConnection -------------------------------------------------------------

namespace {
// The connection's socket as the raw link under a secure channel.
class SocketLink : public TlsLink {
public:
    explicit SocketLink(HttpConnection* connection) : connection(connection) {}
    int SendAll(const char* bytes, int count) override { return connection->raw_send(bytes, count); }
    int RecvSome(char* buffer, int size) override { return connection->raw_recv_some(buffer, size); }

private:
    HttpConnection* connection;
};
}  // namespace

int HttpConnection::connect_host(const NetAddress& address, const char* name) {
    close();
    char text[128];
    for (int attempt = 1;; ++attempt) {
        NetSocket s = NetTcpSocket();
        if (s == kNoSocket) {
            log.Log(1, "connect_host", "Bad socket(): errno=%d\n", NetLastError());
            return -1;
        }
        if (NetSetNonBlocking(s) < 0) {
            log.Log(1, "connect_host", "Bad ioctl(): %s\n", NetErrorText(NetLastError(), text, sizeof text));
            NetClose(s);
            return -1;
        }
        if (NetConnect(s, address) < 0) {
            int error = NetLastError();
            if (!NetInProgress(error)) {
                log.Log(1, "connect_host", "Bad connect(): (err=%d)\n", error);
                NetClose(s);
                return -1;
            }
            int waitError = 0;
            int r = waits.Wait(HttpWaits::Connected, s, waits.ConnectMs(), &waitError);
            if (r <= -3) {
                NetClose(s);
                return -1;
            }
            if (r == -1) {
                log.Log(1, "connect_host", "Bad select(): (err=%d)\n", waitError);
                NetClose(s);
                return -1;
            }
            if (r != 1) {
                // A time-out, or a connection the far side refused: either
                // way this attempt is over and counts as one of seven.
                if (r == -2) log.Log(2, "connect_host", "connection failed (err=%d)\n", waitError);
                NetClose(s);
                if (attempt >= 7) {
                    log.Log(1, "connect_host", "connect(): Too many time-outs\n");
                    return -1;
                }
                continue;
            }
        }
        log.Log(2, "connect_host", "connected to %s\n", name);
        socket = s;
        ++made;
        return 0;
    }
}

int HttpConnection::start_secure(SecureChannel* fresh, const char* host, const char* early, int earlyCount,
                                 TlsFailure* why, char* refused, int refusedSize) {
    *why = TlsUnavailable;
    tlsDetail[0] = '\0';
    if (refusedSize > 0) refused[0] = '\0';
    delete channel;
    channel = nullptr;
    delete link;
    // The channel uses the link for the whole connection.
    link = fresh ? new (std::nothrow) SocketLink(this) : nullptr;
    if (fresh && link) {
        if (fresh->Start(link, host, early, earlyCount) == 0) {
            channel = fresh;
            *why = TlsNone;
            return 0;
        }
        *why = fresh->failure();
        std::snprintf(tlsDetail, sizeof tlsDetail, "%s", fresh->detail());
        if (refusedSize > 0) std::snprintf(refused, size_t(refusedSize), "%s", fresh->refused_certificate());
    }
    delete fresh;
    return -1;
}

int HttpConnection::full_send(const char* bytes, int length) {
    if (channel) return channel->Send(bytes, length);
    return raw_send(bytes, length);
}

int HttpConnection::raw_send(const char* bytes, int length) {
    char text[128];
    int done = 0;
    while (done < length) {
        int n = NetSend(socket, bytes + done, length - done);
        log.Log(2, "full_send", "sent %d bytes\n", n);
        if (n >= 0) {
            done += n;
            continue;
        }
        int error = NetLastError();
        if (!NetWouldBlock(error)) {
            log.Log(2, "full_send", "Bad write(): %s\n", NetErrorText(error, text, sizeof text));
            return -1;
        }
        int r = waits.Wait(HttpWaits::Writable, socket, waits.IoMs());
        if (r <= -3) return -1;
        if (r == 0) return -2;
        if (r < 0) {
            log.Log(1, "full_send", "Bad select(): %s\n", NetErrorText(NetLastError(), text, sizeof text));
            return -1;
        }
    }
    return length;
}

int HttpConnection::raw_recv_some(char* buffer, int size) {
    char text[128];
    if (receiveLimit > 0 && size > receiveLimit) size = receiveLimit;
    // Each receive is tried before any wait, and the bounded wait comes only
    // when nothing is there yet: while a body streams in this saves a
    // select per block, the dearest socket call under some platforms.
    bool waited = false;
    for (;;) {
        if (waits.Cancelled()) return -1;
        int n = NetRecv(socket, buffer, size);
        if (n >= 0) return n;
        int error = NetLastError();
        if (!NetWouldBlock(error)) {
            log.Log(1, "full_recv", "Bad recv(): %s\n", NetErrorText(error, text, sizeof text));
            return -1;
        }
        // Readable, yet nothing to take: pause before waiting again.
        if (waited) NetSleepMs(waits.RetrySleepMs());
        int r = waits.Wait(HttpWaits::Readable, socket, waits.IoMs());
        if (r <= -3) return -1;
        if (r == 0) return -2;
        if (r < 0) {
            log.Log(1, "full_recv", "Bad select(): %s\n", NetErrorText(NetLastError(), text, sizeof text));
            return -1;
        }
        waited = true;
    }
}

int HttpConnection::recv_some(char* buffer, int size) {
    if (waits.Cancelled()) return -1;
    int n = channel ? channel->Recv(buffer, size) : raw_recv_some(buffer, size);
    if (n >= 0) {
        log.Log(2, "full_recv", "recved %d bytes\n", n);
        if (log.level >= 2) std::fflush(stderr);
    }
    if (n == 0) log.Log(1, "full_recv", "Conenction closed by remote host\n");
    return n;
}

int HttpConnection::full_recv(char* buffer, int size) {
    int done = 0;
    while (done < size) {
        int n = recv_some(buffer + done, size - done);
        if (n < 0) return n;
        if (n == 0) break;
        done += n;
    }
    return done;
}

int HttpConnection::read_head(char* buffer, int size, int have, int* end) {
    *end = HeaderBlockEnd(buffer, have);
    while (*end < 0 && have < size) {
        int n = recv_some(buffer + have, size - have);
        if (n < 0) return n;
        if (n == 0) break;
        have += n;
        *end = HeaderBlockEnd(buffer, have);
    }
    return have;
}

int HttpConnection::skip(long long count) {
    char scratch[4096];
    while (count > 0) {
        int want = count < (long long)sizeof scratch ? int(count) : int(sizeof scratch);
        int got = recv_some(scratch, want);
        if (got < 0) return got;
        if (got == 0) return -1;
        count -= got;
    }
    return 0;
}

bool HttpConnection::idle_usable() {
    if (socket == kNoSocket) return false;
    return NetWaitReadable(socket, 0) == 0;
}

void HttpConnection::close() {
    if (channel) {
        channel->Shutdown();
        delete channel;
        channel = nullptr;
    }
    delete link;
    link = nullptr;
    if (socket != kNoSocket) NetClose(socket);
    socket = kNoSocket;
}
