// The connection under the HTTP client: one TCP connection to the server or
// to the proxy, plain or with a secure channel over it, with one receive
// primitive and one rule for every wait (bounded, and in slices short enough
// that a cancel is heard). The diagnostics every unit of the client writes
// to live here too. Portable code over net.h.
#pragma once
#include <cstdint>

#include "http/net.h"
#include "http/secure_channel.h"

struct HttpTimeouts {
    int connectSeconds = 15;  // per connection attempt
    int ioSeconds = 40;       // per send or receive wait
    int retrySleepMs = 1000;  // after a receive that would block
    // Every request as a whole (connect, secure handshake, the proxy's
    // login legs, head and body) ends within this, plus the time its body
    // takes at deadlineBytesPerSecond: a peer that sends a byte now and then,
    // each within the wait above, holds the request no longer than that.
    int deadlineSeconds = 60;
    int deadlineBytesPerSecond = 16 * 1024;
    // When above 0, these take the place of the seconds above, so that
    // tests of time-outs run in a fraction of a second.
    int connectMs = 0;
    int ioMs = 0;
    int deadlineMs = 0;
};

// Asked between received blocks and during every wait of a transfer; when
// it answers true the transfer is given up at once (GetFile fails). The
// fetch worker uses it so that a stopped download lets go of its files
// within moments rather than at the end of a part.
typedef bool (*HttpCancelCheck)(void* context);

// The client's log on standard error, graded by the level given at
// construction (0 writes nothing), and the failures of the current fetch
// kept as one text whatever the level.
class HttpLog {
public:
    explicit HttpLog(int level) : level(level) { failure[0] = 0; }
    // A line "IAD_HTTPClient::<operation>: <text>"; lines of level 1 are
    // failures and are kept.
    void Log(int minLevel, const char* operation, const char* format, ...);
    // Keeps a failure without writing a line.
    void Note(const char* operation, const char* text);
    void Clear() { failure[0] = 0; }
    // "operation: text; ..." in order, "" when there was none.
    const char* failures() const { return failure; }
    const int level;

private:
    char failure[400];
};

// The one rule for waiting on a socket: at most the given time and never
// past the request's deadline, in slices while a cancel question is set, so
// that a stop is heard within one.
class HttpWaits {
public:
    HttpWaits(const HttpTimeouts& timeouts, HttpLog& log) : timeouts(timeouts), log(log) {}
    void set_cancel(HttpCancelCheck check, void* context);
    // Asks the cancel question (logged when it says yes).
    bool Cancelled();
    int ConnectMs() const;
    int IoMs() const;
    int RetrySleepMs() const { return timeouts.retrySleepMs; }

    // A request starts: its deadline is the fixed allowance from now.
    void start_request();
    // The request's body is expected to be `bytes` long (or has reached
    // that many without a stated length): the deadline becomes the start
    // plus the allowance plus their time at the expected rate. It only
    // grows.
    void expect_body(long long bytes);
    // No request under way: waits are bounded by their own time alone.
    void end_request() { deadline = 0; }
    // Milliseconds until the deadline (0 when it has passed), or -1 when
    // no request is under way.
    long long deadline_left_ms() const;

    enum For { Readable, Writable, Connected };
    // 1 ready, 0 time-out, -1 the wait failed, -2 the connection failed
    // (Connected only), -3 given up (cancelled), -4 given up (the request's
    // deadline passed; logged). *error gets the error number of -1 and -2
    // for Connected.
    int Wait(For what, NetSocket s, int milliseconds, int* error = nullptr);

private:
    long long AllowanceMs() const;
    // Whether the deadline has passed (logged once per request).
    bool Overdue();

    HttpTimeouts timeouts;
    HttpLog& log;
    HttpCancelCheck cancelCheck = nullptr;
    void* cancelContext = nullptr;
    // Steady-clock milliseconds of the request's start and deadline; 0
    // when no request is under way.
    long long started = 0;
    long long deadline = 0;
    bool overdueLogged = false;
};

class HttpConnection {
public:
    HttpConnection(HttpWaits& waits, HttpLog& log) : waits(waits), log(log) {}
    ~HttpConnection() { close(); }
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    bool is_open() const { return socket != kNoSocket; }
    // Connects to `address` (`name` is what the log shows), closing any
    // connection before: at most seven attempts of the connect wait, each
    // with a new socket, which stays non-blocking. 0, or -1.
    int connect_host(const NetAddress& address, const char* name);
    // The handshake of `channel` (taken over either way) with `host` over
    // this connection, `early` holding bytes received already. 0, or -1
    // with *why telling the reason and `refused` the certificate at fault
    // (its subject; "" when not known), cut to `refusedSize`.
    int start_secure(SecureChannel* channel, const char* host, const char* early, int earlyCount, TlsFailure* why,
                     char* refused, int refusedSize);
    bool is_secure() const { return channel != nullptr; }
    // After recv_some gave 0: whether the end can be trusted as the end of
    // the stream (always for a plain connection; with a channel only after
    // the peer's close-notify).
    bool closed_cleanly() const { return !channel || channel->closed_cleanly(); }
    // What the open channel's check knew of revocation.
    TlsRevocation revocation() const { return channel ? channel->revocation() : RevocationChecked; }
    // After start_secure failed: the channel's own account of why, for the log.
    const char* tls_detail() const { return tlsDetail; }

    // Every byte, through the channel when one is open: the length, -1 on
    // failure, -2 on a time-out.
    int full_send(const char* bytes, int length);
    // The one receive: what one receive gives after a bounded wait, through
    // the channel when one is open: a count, 0 when the peer closed (for a
    // channel, the end of its stream), -1 on failure, -2 on a time-out.
    int recv_some(char* buffer, int size);
    // Receives until the buffer is full or the peer closes: the count, or
    // -1, -2 as recv_some.
    int full_recv(char* buffer, int size);
    // Receives until the header block ends within buffer[0, count) (the
    // first `have` bytes are there already) or the buffer is full or the
    // peer closes: the count, with *end just past the block's blank line,
    // or -1 in *end when the block did not end; -1, -2 as recv_some.
    int read_head(char* buffer, int size, int have, int* end);
    // Receives and drops `count` bytes: 0, -1 (also when the peer closes
    // before), -2.
    int skip(long long count);

    // The socket under any channel, as the channel's link uses it.
    int raw_send(const char* bytes, int length);
    int raw_recv_some(char* buffer, int size);
    // Each receive of the raw socket is cut to `bytes` when above 0, so
    // that tests see records arrive split.
    void set_receive_limit(int bytes) { receiveLimit = bytes; }

    // Ends the secure channel (close-notify) if one is open, then the socket.
    void close();

    // Whether a connection kept open after an answer is still worth a
    // request: nothing may be waiting on it, since a server that dropped
    // it while idle (or sent anything unasked) left its end readable.
    bool idle_usable();
    // Connections made so far by connect_host.
    int connections_made() const { return made; }

private:
    HttpWaits& waits;
    HttpLog& log;
    NetSocket socket = kNoSocket;
    SecureChannel* channel = nullptr;  // open on the connection, or null
    TlsLink* link = nullptr;           // the channel's socket
    int receiveLimit = 0;
    char tlsDetail[128] = "";
    int made = 0;
};
