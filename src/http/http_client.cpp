// The HTTP/1.0 client's fetch: resolve, connect, the request, the answer and
// its body written to a file or a buffer as it arrives, with bounded retries
// after time-outs, the proxy's logins and redirects. Portable code: the
// socket calls go through net.h.
#include "http/http_client.h"

#include <errno.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "http/http_redirect.h"
#include "http/http_url.h"
#include "http/net.h"
#include "http/proxy_auth.h"

namespace {

// Where a body goes as it arrives: the space for the next receive, then the
// count received into it. A failure is logged where it happens.
class BodySink {
public:
    virtual ~BodySink() {}
    // Room for the next receive (at least one byte), or null.
    virtual char* Space(int* room) = 0;
    // `count` bytes arrived in the space: 0, or -1.
    virtual int Commit(int count) = 0;
    // The body ended: 0, or -1.
    virtual int Finish() = 0;
    // Bytes that arrived before the body was reached.
    int Put(const char* bytes, int count) {
        while (count > 0) {
            int room = 0;
            char* space = Space(&room);
            if (!space) return -1;
            int n = count < room ? count : room;
            std::memcpy(space, bytes, size_t(n));
            if (Commit(n) < 0) return -1;
            bytes += n;
            count -= n;
        }
        return 0;
    }
};

// A file written in blocks of kBodyBlock bytes: blocks are large already,
// so the stream has no buffer of its own that would only copy them.
class FileSink : public BodySink {
public:
    // `limit`: the most bytes the body may have, 0 for no limit.
    FileSink(HttpLog& log, const char* path, long long limit) : log(log), path(path), limit(limit) {
        file = std::fopen(path, "wb");
        if (!file) {
            log.Log(1, "recv_file", "Can't open %s (errno=%d)\n", path, errno);
            return;
        }
        std::setvbuf(file, nullptr, _IONBF, 0);
        block = static_cast<char*>(std::malloc(IAD_HTTPClient::kBodyBlock));
    }
    ~FileSink() override {
        if (file) std::fclose(file);
        std::free(block);
    }
    bool ready() const { return file && block; }
    char* Space(int* room) override {
        *room = IAD_HTTPClient::kBodyBlock - used;
        return block + used;
    }
    int Commit(int count) override {
        used += count;
        total += count;
        if (limit > 0 && total > limit) {
            log.Log(1, "recv_file", "Body longer than %lld bytes\n", limit);
            return -1;
        }
        return used == IAD_HTTPClient::kBodyBlock ? Flush() : 0;
    }
    int Finish() override {
        int result = Flush();
        int closed = std::fclose(file);
        file = nullptr;
        if (closed != 0 && result == 0) {
            log.Log(1, "recv_file", "Can't write to %s (errno=%d)\n", path, errno);
            result = -1;
        }
        return result;
    }

private:
    int Flush() {
        if (used > 0 && std::fwrite(block, 1, size_t(used), file) != size_t(used)) {
            log.Log(1, "recv_file", "Can't write to %s (errno=%d)\n", path, errno);
            return -1;
        }
        used = 0;
        return 0;
    }
    HttpLog& log;
    const char* path;
    long long limit;
    long long total = 0;
    FILE* file = nullptr;
    char* block = nullptr;
    int used = 0;
};

// The caller's buffer, received into in place; one byte more than it holds
// fails the body.
class BufferSink : public BodySink {
public:
    BufferSink(HttpLog& log, char* buffer, int capacity, int* length)
        : log(log), buffer(buffer), capacity(capacity), length(length) {
        *length = 0;
    }
    char* Space(int* room) override {
        *room = capacity - used;
        if (*room > 0) return buffer + used;
        // Full: the next receive must find the end of the body.
        *room = 1;
        return &spare;
    }
    int Commit(int count) override {
        if (used == capacity) {
            log.Log(1, "recv_file", "Body longer than %d bytes\n", capacity);
            return -1;
        }
        used += count;
        return 0;
    }
    int Finish() override {
        *length = used;
        return 0;
    }

private:
    HttpLog& log;
    char* buffer;
    int capacity;
    int* length;
    int used = 0;
    char spare = 0;
};

}  // namespace

IAD_HTTPClient::IAD_HTTPClient(int level, const HttpTimeouts& timeouts)
    : log(level),
      waits(timeouts, log),
      connection(waits, log),
      handshake(log),
      url(nullptr),
      proxy(nullptr),
      host_name(""),
      channelFactory(NewSecureChannel),
      tlsFailure(TlsNone),
      tlsRevocation(RevocationChecked) {
    tlsFailureHost[0] = '\0';
    tlsFailureCertificate[0] = '\0';
}

IAD_HTTPClient::~IAD_HTTPClient() {
    connection.close();
    delete url;
    delete proxy;
}

int IAD_HTTPClient::set_urls(const char* target, const char* proxyText) {
    IAD_URL* next = proxyText && *proxyText ? new (std::nothrow) IAD_URL(proxyText) : nullptr;
    handshake.use_proxy(next);
    delete url;
    delete proxy;
    proxy = next;
    host_name = "";
    url = new (std::nothrow) IAD_URL(target);
    // A URL without a host, or with a port that is no port, goes nowhere.
    if (proxyText && *proxyText && (!proxy || !proxy->host || !proxy->host[0] || !proxy->valid)) return -1;
    if (!url || !url->host || !url->host[0] || !url->valid) return -1;
    return 0;
}

int IAD_HTTPClient::resolve_host_name(NetAddress* address) {
    const IAD_URL* via = proxy ? proxy : url;
    if (!via || !via->host) return -1;
    host_name = via->host;
    std::memset(address, 0, sizeof *address);
    uint32_t a = 0;
    if (NetParseDotted(via->host, &a) == 0) {
        address->address = a;
    } else {
        int error = 0;
        if (NetLookup(via->host, &a, &error) < 0) {
            log.Log(1, "resolve_host_name", "Can't find host %s (err=%d)\n", via->host, error);
            return -1;
        }
        address->address = a;
    }
    address->family = NetFamilyInet();
    address->port = NetPort(via->port);
    return 0;
}

int IAD_HTTPClient::build_request(char* buffer, const char* path) {
    // Through a tunnel the proxy sees only encrypted bytes: the request is
    // the one for the server itself, and the proxy's credentials went with
    // the CONNECT.
    bool viaProxy = proxy && url && !url->secure;
    char token[kRequestSize];
    HttpCredentials basic = {nullptr, nullptr};
    buffer[0] = '\0';
    if (viaProxy && !handshake.basic_credentials(token, &basic)) return -1;
    return ComposeGet(GetRequest{url, path, viaProxy, basic, true}, buffer, kRequestSize);
}

int IAD_HTTPClient::start_secure(bool withLogin) {
    tlsFailure = TlsNone;
    tlsFailureHost[0] = '\0';
    if (proxy && handshake.open_tunnel(connection, *url, withLogin) < 0) return -1;
    SecureChannel* fresh = channelFactory ? channelFactory(kTlsReceiveBlock) : nullptr;
    TlsFailure why = TlsUnavailable;
    if (connection.start_secure(fresh, url->host, handshake.tunnel_extra(), proxy ? handshake.tunnel_extra_count() : 0,
                                &why, tlsFailureCertificate, sizeof tlsFailureCertificate) == 0) {
        if (connection.revocation() > tlsRevocation) tlsRevocation = connection.revocation();
        return 0;
    }
    tlsFailure = why;
    std::snprintf(tlsFailureHost, sizeof tlsFailureHost, "%s", url->host);
    log.Log(1, "start_secure", "No secure connection to %s (%d%s%s)\n", url->host, int(why),
            *connection.tls_detail() ? ": " : "", connection.tls_detail());
    return -1;
}

void IAD_HTTPClient::connection_key(char* out, int size) const {
    const IAD_URL* p = proxy;
    std::snprintf(out, size_t(size), "%d|%s|%d|%s|%d", url && url->secure ? 1 : 0, p && p->host ? p->host : "",
                  p ? int(p->port) : 0, url && url->host ? url->host : "", url ? int(url->port) : 0);
}

void IAD_HTTPClient::drop_connection() {
    connection.close();
    keptFor[0] = '\0';
}

int IAD_HTTPClient::GetBuffer(const char* path, char* buffer, int capacity, int* length) {
    *length = 0;
    if (!buffer || capacity < 0) return -1;
    bodyBuffer = buffer;
    bodyCapacity = capacity;
    bodyLength = length;
    int result = GetFile(path, nullptr);
    bodyBuffer = nullptr;
    bodyCapacity = 0;
    bodyLength = nullptr;
    return result;
}

int IAD_HTTPClient::GetFile(const char* path, const char* localPath) {
    log.Clear();
    handshake.fetch_starts();
    tlsFailure = TlsNone;
    tlsFailureHost[0] = '\0';
    tlsFailureCertificate[0] = '\0';
    tlsRevocation = RevocationChecked;
    NetAddress address;
    int redirects = 0;
    int sendTimeouts = 0;
    int recvTimeouts = 0;
    if (resolve_host_name(&address) < 0) return -1;
    for (;;) {
        if (waits.Cancelled()) return -1;
        // Each request has its deadline, the logins and tunnel its proxy
        // asks for within it; one taken anew after a time-out or a
        // redirect has its own.
        waits.start_request();
        // A proxy known to want a Windows login gets it at once.
        keepable = false;
        int r = proxy && !url->secure && handshake.login_known()
                    ? request_with_login(address, path, localPath)
                    : request_once(address, path, localPath, &sendTimeouts);
        if (r == 0 && keepable) {
            connection_key(keptFor, sizeof keptFor);
        } else {
            drop_connection();
        }
        waits.end_request();
        switch (r) {
            case 0:
                return 0;
            case kAgain:
            case kStale:
                continue;
            case -2:
                log.Log(2, "GetFile", "recv timed-out\n");
                if (recvTimeouts++ > 5) {
                    log.Log(1, "GetFile", "recv_file too many time-outs\n");
                    return -1;
                }
                continue;
            case -3:
                if (!follow_redirect(&redirects, &path, &address)) return -1;
                sendTimeouts = recvTimeouts = 0;
                continue;
            default:
                return -1;
        }
    }
}

bool IAD_HTTPClient::follow_redirect(int* redirects, const char** path, NetAddress* address) {
    if ((*redirects)++ >= kMostRedirects) {
        log.Log(1, "GetFile", "Too many links. (last link is %s/%s)\n", url->host ? url->host : "",
                url->path ? url->path : "");
        return false;
    }
    *path = nullptr;
    return resolve_host_name(address) == 0;
}

int IAD_HTTPClient::request_once(const NetAddress& address, const char* path, const char* localPath,
                                 int* sendTimeouts) {
    char text[128];
    char request[kRequestSize];
    // Built before connecting: a request that cannot fit is refused
    // without a connection and without a byte sent.
    int length = build_request(request, path);
    if (length < 0) {
        log.Log(1, "GetFile", "Request does not fit %d bytes\n", kRequestSize);
        return -1;
    }
    // A connection kept from the answer before serves this request when it
    // leads to the same place and the server has not dropped it meanwhile.
    char key[sizeof keptFor];
    connection_key(key, sizeof key);
    bool reused = keptFor[0] && std::strcmp(key, keptFor) == 0 && connection.idle_usable();
    keptFor[0] = '\0';
    if (reused) {
        log.Log(2, "GetFile", "request on the kept connection\n");
    } else if (connection.connect_host(address, host_name) < 0) {
        log.Log(1, "GetFile", "Can't connect.\n");
        return -1;
    }
    // A secure connection that cannot be made is a failed fetch, never a
    // fall back to plain http.
    if (!reused && url->secure && start_secure(false) < 0) {
        connection.close();
        // A proxy that asks for Basic alone gets the CONNECT again with it,
        // on a new connection.
        if (proxy && handshake.basic_wanted()) return kAgain;
        // A proxy that asks for a Windows login this client can give gets
        // the handshake on a tunnel connection of its own; one known to
        // want it had it already.
        if (!proxy || handshake.login_scheme() || !handshake.windows_login_wanted()) return -1;
        if (connection.connect_host(address, host_name) < 0) {
            log.Log(1, "GetFile", "Can't connect.\n");
            return -1;
        }
        if (start_secure(true) < 0) return -1;
    }
    int sent = connection.full_send(request, length);
    // A kept connection that the server closed between the idle check and
    // the request: the request goes once more on a new connection.
    if (reused && sent == -1) {
        log.Log(2, "GetFile", "kept connection closed by the server; connecting anew\n");
        connection.close();
        return kStale;
    }
    if (sent == -1) {
        log.Log(1, "GetFile", "Bad full_send(): %s\n", NetErrorText(NetLastError(), text, sizeof text));
        return -1;
    }
    if (sent == -2) {
        log.Log(2, "GetFile", "send timed-out\n");
        if ((*sendTimeouts)++ > 5) {
            log.Log(1, "GetFile", "full_send too many time-outs\n");
            return -1;
        }
        return kAgain;
    }
    answerStarted = false;
    int r = recv_answer(localPath, nullptr, 0);
    if (r != 0 || !keepable) connection.close();
    // A kept connection that ends (or breaks) before the answer's first
    // byte was dropped by the server while idle: not the answer's fault.
    if (reused && r == -1 && !answerStarted && !waits.Cancelled()) {
        log.Log(2, "GetFile", "kept connection closed by the server; connecting anew\n");
        return kStale;
    }
    // A proxy that asks for a Windows login this client can give gets the
    // handshake on a connection of its own; one that asks for Basic alone
    // gets the request again with it.
    if (r == -1 && proxy && !url->secure) {
        if (handshake.windows_login_wanted())
            r = request_with_login(address, path, localPath);
        else if (handshake.basic_wanted())
            return kAgain;
    }
    if (r == -1) log.Log(1, "GetFile", "Bad recv_file(): %s\n", NetErrorText(NetLastError(), text, sizeof text));
    return r;
}

int IAD_HTTPClient::request_with_login(const NetAddress& address, const char* path, const char* localPath) {
    int r = handshake.windows_login(connection, false, &address, host_name, *url, path);
    if (r == ProxyHandshake::kAnswerFollows)
        r = recv_answer(localPath, nullptr, 0);
    else if (r == ProxyHandshake::kAnswerRead)
        r = recv_answer(localPath, handshake.answer(), handshake.answer_count());
    else
        return r;
    handshake.login_answered(r);
    // Every request to such a proxy makes its own login on a connection of
    // its own (the handshake connects anew), so none is kept.
    keepable = false;
    return r;
}

int IAD_HTTPClient::recv_answer(const char* localPath, const char* read, int count) {
    char first[kHeaderBlock];
    int had = count < int(sizeof first) ? count : int(sizeof first);
    if (had > 0) std::memcpy(first, read, size_t(had));
    int end = -1;
    int n = connection.read_head(first, int(sizeof first), had, &end);
    if (n > 0) answerStarted = true;
    if (n < 0) return n;
    IAD_HTTPHeader header;
    header.clear();
    header.parse(first, n);
    handshake.note_answer(header.status, first, header.header_length);
    if (header.status == 200) {
        // Bytes read before the call beyond the first block belong to the
        // body too.
        int beyond = count - had;
        int r = recv_body(localPath, header.content_length, first + header.header_length, n - header.header_length,
                          read + had, beyond > 0 ? beyond : 0);
        // Bytes beyond the announced length would be taken for the next
        // answer: such a connection is not kept.
        keepable = r == 0 && header.content_length >= 0 && count == 0 &&
                   n - header.header_length <= header.content_length &&
                   HeaderKeepsConnection(first, header.header_length) == 1;
        return r;
    }
    if (IsFollowedRedirect(header.status)) {
        IAD_URL* next = url ? RedirectTarget(header, *url, log) : nullptr;
        if (!next) return -1;
        delete url;
        url = next;
        return -3;
    }
    log.Log(2, "recv_file", "Got HTTP code %d\n", header.status);
    char status[40];
    std::snprintf(status, sizeof status, "HTTP status %d", header.status);
    log.Note("recv_file", status);
    return -1;
}

int IAD_HTTPClient::recv_body(const char* localPath, long long length, const char* first, int count,
                              const char* extra, int extraCount) {
    // A body of announced length is read to that length and no further; one
    // that ends short is a failed fetch, never a file taken as whole.
    if (!localPath && length > bodyCapacity) {
        log.Log(1, "recv_file", "Body longer than %d bytes\n", bodyCapacity);
        return -1;
    }
    if (localPath && fileLimit > 0 && length > fileLimit) {
        log.Log(1, "recv_file", "Body longer than %lld bytes\n", fileLimit);
        return -1;
    }
    long long left = length;
    // The deadline grows with the body: by its stated length, or without
    // one by what has come so far.
    long long received = 0;
    if (length > 0) waits.expect_body(length);
    auto take = [&left](int available) {
        if (left < 0 || available <= left) return available;
        return int(left);
    };
    FileSink* file = nullptr;
    BufferSink* buffer = nullptr;
    BodySink* sink = nullptr;
    if (localPath) {
        file = new (std::nothrow) FileSink(log, localPath, fileLimit);
        if (file && file->ready()) sink = file;
    } else if (bodyBuffer) {
        buffer = new (std::nothrow) BufferSink(log, bodyBuffer, bodyCapacity, bodyLength);
        sink = buffer;
    }
    int result = -1;
    if (sink) {
        int head = take(count);
        result = sink->Put(first, head);
        if (left > 0) left -= head;
        int early = take(extraCount);
        if (result == 0) result = sink->Put(extra, early);
        if (left > 0) left -= early;
    }
    // Without a length the body ends where the server closes the connection.
    while (result == 0 && left != 0) {
        int room = 0;
        char* space = sink->Space(&room);
        int got = connection.recv_some(space, take(room));
        if (got == 0) {
            if (left > 0) {
                log.Log(1, "recv_file", "Body ended %lld bytes short of its %lld\n", left, length);
                result = -1;
            } else if (!connection.closed_cleanly()) {
                log.Log(1, "recv_file", "Secure connection closed without close-notify and without a length\n");
                result = -1;
            }
            break;
        }
        if (got == -1) {
            log.Log(1, "recv_file", "Can't read (errno=%d)\n", NetLastError());
            result = -1;
        } else if (got == -2) {
            log.Log(1, "recv_file", "Can't read TIME-OUT\n");
            result = -2;
        } else {
            log.Log(3, "recv_file", "full_recv returned %d\n", got);
            result = sink->Commit(got);
            if (left > 0) left -= got;
            received += got;
            if (length < 0) waits.expect_body(received);
        }
    }
    if (result == 0) result = sink->Finish();
    delete file;
    delete buffer;
    return result;
}
