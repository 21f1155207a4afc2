// The HTTP/1.0 client: URL texts, the request, bounded waits on a
// non-blocking socket, the response header and the body written to a file as
// it arrives. Portable code: the socket calls go through net.h.
#include "http/http_client.h"

#include <errno.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "base/ascii_case.h"
#include "http/codec.h"
#include "http/http_url.h"
#include "http/net.h"
#include "http/secure_channel.h"
#include "http/proxy_auth.h"

namespace {

char* CopyText(const char* begin, size_t length) {
    char* s = static_cast<char*>(std::malloc(length + 1));
    if (!s) return nullptr;
    std::memcpy(s, begin, length);
    s[length] = '\0';
    return s;
}

char* CopyText(const char* text) { return text ? CopyText(text, std::strlen(text)) : nullptr; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// User names and passwords come "%XX"-escaped where they hold a character
// that would end them ("/", "@", ":"); a "%" not followed by two hex
// digits stands for itself.
char* CopyDecoded(const char* begin, size_t length) {
    char* s = static_cast<char*>(std::malloc(length + 1));
    if (!s) return nullptr;
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) {
        int hi = -1, lo = -1;
        if (begin[i] == '%' && i + 2 < length) {
            hi = HexValue(begin[i + 1]);
            lo = hi < 0 ? -1 : HexValue(begin[i + 2]);
        }
        if (hi >= 0 && lo >= 0) {
            s[n++] = char(hi * 16 + lo);
            i += 2;
        } else {
            s[n++] = begin[i];
        }
    }
    s[n] = '\0';
    return s;
}

// Searches bytes that may hold NULs.
const char* Find(const char* begin, const char* end, const char* needle) {
    size_t n = std::strlen(needle);
    for (const char* p = begin; p + n <= end; ++p)
        if (std::memcmp(p, needle, n) == 0) return p;
    return nullptr;
}

// The same, with letters in either case.
const char* FindNoCase(const char* begin, const char* end, const char* needle) {
    for (const char* p = begin; p < end; ++p)
        if (StartsNoCase(p, size_t(end - p), needle)) return p;
    return nullptr;
}

// Copies the value after a header name up to the first CR or LF, cut to the
// field's size.
void TakeValue(const char* from, const char* end, char* out, int capacity) {
    int n = 0;
    while (from < end && *from != '\r' && *from != '\n' && n < capacity - 1) out[n++] = *from++;
    out[n] = '\0';
}

// Appends pieces to the request buffer; remembers when one did not fit.
struct Request {
    char* buffer;
    int size;
    int length;
    bool overflow;

    void Add(const char* format, ...) {
        if (overflow) return;
        va_list args;
        va_start(args, format);
        int n = std::vsnprintf(buffer + length, size_t(size - length), format, args);
        va_end(args);
        if (n < 0 || n >= size - length) {
            overflow = true;
            buffer[length] = '\0';
            return;
        }
        length += n;
    }
};

// "Basic" credentials: the standard Base64 of "user:password".
bool BasicCredentials(const char* user, const char* password, char* out, int capacity) {
    size_t u = std::strlen(user), p = std::strlen(password);
    size_t raw = u + 1 + p;
    if (raw > size_t(IAD_HTTPClient::kRequestSize)) return false;
    unsigned char joined[IAD_HTTPClient::kRequestSize + 1];
    std::memcpy(joined, user, u);
    joined[u] = ':';
    std::memcpy(joined + u + 1, password, p);
    int n = IAD_Base64::encode(joined, int(raw), out, capacity - 1, 0);
    if (n < 0) return false;
    out[n] = '\0';
    return true;
}

}  // namespace

// ---- IAD_URL ----------------------------------------------------------------

IAD_URL::IAD_URL(const char* text)
    : user(nullptr), password(nullptr), host(nullptr), path(nullptr), port(80), secure(false) {
    if (!text) text = "";
    const char* rest = text;
    if (StartsNoCase(rest, "http://")) {
        rest += 7;
    } else if (StartsNoCase(rest, "https://")) {
        rest += 8;
        secure = true;
        port = 443;
    }
    // User information and port belong to the authority alone, the text up
    // to the first "/": an "@" or ":" in the path must never move the host
    // (and the credentials with it) somewhere else.
    const char* slash = std::strchr(rest, '/');
    const char* authorityEnd = slash ? slash : rest + std::strlen(rest);
    const char* at = nullptr;
    for (const char* p = rest; p < authorityEnd; ++p)
        if (*p == '@') at = p;
    const char* hostPart = rest;
    if (at) {
        const char* colon = static_cast<const char*>(std::memchr(rest, ':', size_t(at - rest)));
        if (colon) {
            user = CopyDecoded(rest, size_t(colon - rest));
            password = CopyDecoded(colon + 1, size_t(at - colon - 1));
        } else {
            user = CopyDecoded(rest, size_t(at - rest));
        }
        hostPart = at + 1;
    }
    const char* colon = static_cast<const char*>(std::memchr(hostPart, ':', size_t(authorityEnd - hostPart)));
    if (colon) {
        host = CopyText(hostPart, size_t(colon - hostPart));
        uint16_t p = 0;
        for (const char* d = colon + 1; *d >= '0' && *d <= '9'; ++d) p = uint16_t(p * 10 + (*d - '0'));
        port = p;
    } else {
        host = CopyText(hostPart, size_t(authorityEnd - hostPart));
    }
    if (slash) path = CopyText(slash);
}

IAD_URL::~IAD_URL() {
    std::free(user);
    std::free(password);
    std::free(host);
    std::free(path);
}

bool RedirectAllowed(const IAD_URL& from, const IAD_URL& to) { return to.secure || !from.secure; }

bool IAD_URL::same_site(const IAD_URL& other) const {
    return host && other.host && port == other.port && secure == other.secure && EqualNoCase(host, other.host);
}

void IAD_URL::copy_credentials(const IAD_URL& other) {
    char* u = CopyText(other.user);
    char* p = CopyText(other.password);
    std::free(user);
    std::free(password);
    user = u;
    password = p;
}

// ---- IAD_HTTPHeader -----------------------------------------------------------

void IAD_HTTPHeader::clear() {
    header_length = 0;
    status = 0;
    location[0] = '\0';
    content_type[0] = '\0';
}

int IAD_HTTPHeader::parse(const char* bytes, int count) {
    if (count < 15 || std::memcmp(bytes, "HTTP/", 5) != 0) {
        status = 1;
        return -1;
    }
    status = (bytes[9] - 48) * 100 + (bytes[10] - 48) * 10 + (bytes[11] - 48);
    const char* end = bytes + count;
    // The block ends at whichever blank line comes first: preferring a
    // CR LF CR LF further on would take body bytes of an LF-only response
    // for header and cut them from the file.
    const char* crlf = Find(bytes, end, "\r\n\r\n");
    const char* lf = Find(bytes, crlf ? crlf : end, "\n\n");
    if (lf) {
        header_length = int(lf - bytes) + 2;
    } else if (crlf) {
        header_length = int(crlf - bytes) + 4;
    } else {
        status = 1;
        return -1;
    }
    const char* found = FindNoCase(bytes, bytes + header_length, "location: ");
    if (found) TakeValue(found + 10, end, location, sizeof location);
    found = FindNoCase(bytes, bytes + header_length, "content-type: ");
    if (found) TakeValue(found + 14, end, content_type, sizeof content_type);
    return 0;
}

// ---- IAD_HTTPClient -------------------------------------------------------------

namespace {
// The client's socket as the raw link under a secure channel.
class SocketLink : public TlsLink {
public:
    SocketLink(IAD_HTTPClient* client, intptr_t socket) : client(client), socket(socket) {}
    int SendAll(const char* bytes, int count) override { return client->raw_send(socket, bytes, count); }
    int RecvSome(char* buffer, int size) override { return client->raw_recv_some(socket, buffer, size); }

private:
    IAD_HTTPClient* client;
    intptr_t socket;
};
}  // namespace

IAD_HTTPClient::IAD_HTTPClient(int level, const HttpTimeouts& timeouts)
    : level(level),
      timeouts(timeouts),
      url(nullptr),
      proxy(nullptr),
      host_name(""),
      channel(nullptr),
      link(nullptr),
      channelFactory(NewSecureChannel),
      receiveLimit(0),
      tlsFailure(TlsNone),
      tunnelExtraCount(0),
      proxy_login(nullptr),
      own_login_allowed(true),
      own_login_refusal(false),
      basic_memory(nullptr),
      own_basic_memory(new (std::nothrow) BasicProxyMemory),
      basic_sent(false),
      proxy_offer(0),
      login_scheme(0),
      tunnel_login(false),
      last_status(0),
      cancelCheck(nullptr),
      cancelContext(nullptr) {
    tlsFailureHost[0] = '\0';
    failure[0] = 0;
    basic_memory = own_basic_memory;
}

IAD_HTTPClient::~IAD_HTTPClient() {
    delete own_basic_memory;
    delete channel;
    delete link;
    delete url;
    delete proxy;
}

void IAD_HTTPClient::Note(const char* operation, const char* text) {
    size_t used = std::strlen(failure);
    std::snprintf(failure + used, sizeof failure - used, "%s%s: %s", used ? "; " : "", operation, text);
    // The texts end in a line feed, the note does not.
    size_t end = std::strlen(failure);
    while (end > 0 && (failure[end - 1] == '\n' || failure[end - 1] == '\r')) failure[--end] = 0;
}

void IAD_HTTPClient::Log(int minLevel, const char* operation, const char* format, ...) {
    // Failures are kept for last_failure() whatever the verbosity.
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

int IAD_HTTPClient::ConnectMs() const {
    return timeouts.connectMs > 0 ? timeouts.connectMs : timeouts.connectSeconds * 1000;
}

int IAD_HTTPClient::IoMs() const { return timeouts.ioMs > 0 ? timeouts.ioMs : timeouts.ioSeconds * 1000; }

namespace {
bool SameText(const char* a, const char* b) {
    if (!a || !b) return a == b;
    return std::strcmp(a, b) == 0;
}
}  // namespace
void IAD_HTTPClient::set_basic_memory(BasicProxyMemory* memory) {
    basic_memory = memory ? memory : own_basic_memory;
}

void IAD_HTTPClient::set_cancel(HttpCancelCheck check, void* context) {
    cancelCheck = check;
    cancelContext = context;
}

bool IAD_HTTPClient::Cancelled() {
    if (!cancelCheck || !cancelCheck(cancelContext)) return false;
    Log(2, "GetFile", "cancelled\n");
    return true;
}

int IAD_HTTPClient::WaitSliced(int (*wait)(intptr_t, int), intptr_t s, int milliseconds) {
    // Without a cancel question one wait does; with one, a slice is short
    // enough that a stop is heard at once and long enough to cost nothing.
    const int kSliceMs = 50;
    if (!cancelCheck) return wait(s, milliseconds);
    int left = milliseconds;
    for (;;) {
        if (Cancelled()) return -3;
        int slice = left < kSliceMs ? left : kSliceMs;
        int r = wait(s, slice);
        left -= slice;
        if (r != 0 || left <= 0) return r;
    }
}

int IAD_HTTPClient::set_urls(const char* target, const char* proxyText) {
    // A login that got through is kept for the same proxy and user only.
    IAD_URL* next = proxyText && *proxyText ? new (std::nothrow) IAD_URL(proxyText) : nullptr;
    if (!next || !proxy || !SameText(next->host, proxy->host) || next->port != proxy->port ||
        !SameText(next->user, proxy->user) || !SameText(next->password, proxy->password))
        login_scheme = 0;
    delete next;
    delete url;
    delete proxy;
    url = nullptr;
    proxy = nullptr;
    host_name = "";
    url = new (std::nothrow) IAD_URL(target);
    if (proxyText && *proxyText) {
        proxy = new (std::nothrow) IAD_URL(proxyText);
        if (!proxy || !proxy->host) return -1;
    }
    if (!url || !url->host) return -1;
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
            Log(1, "resolve_host_name", "Can't find host %s (err=%d)\n", via->host, error);
            return -1;
        }
        address->address = a;
    }
    address->family = NetFamilyInet();
    address->port = NetPort(via->port);
    return 0;
}

intptr_t IAD_HTTPClient::connect_host(const NetAddress& address) {
    char text[128];
    for (int attempt = 1;; ++attempt) {
        NetSocket s = NetTcpSocket();
        if (s == kNoSocket) {
            Log(1, "connect_host", "Bad socket(): errno=%d\n", NetLastError());
            return -1;
        }
        if (NetSetNonBlocking(s) < 0) {
            Log(1, "connect_host", "Bad ioctl(): %s\n", NetErrorText(NetLastError(), text, sizeof text));
            NetClose(s);
            return -1;
        }
        if (NetConnect(s, address) < 0) {
            int error = NetLastError();
            if (!NetInProgress(error)) {
                Log(1, "connect_host", "Bad connect(): (err=%d)\n", error);
                NetClose(s);
                return -1;
            }
            int waitError = 0;
            int r = 0;
            // In slices, so that a cancel is heard while the far side is silent.
            for (int left = ConnectMs(); left > 0;) {
                if (Cancelled()) {
                    NetClose(s);
                    return -1;
                }
                int slice = cancelCheck && left > 50 ? 50 : left;
                r = NetWaitConnected(s, slice, &waitError);
                left -= slice;
                if (r != 0) break;
            }
            if (r == -1) {
                Log(1, "connect_host", "Bad select(): (err=%d)\n", waitError);
                NetClose(s);
                return -1;
            }
            if (r != 1) {
                // A time-out, or a connection the far side refused: either
                // way this attempt is over and counts as one of seven.
                if (r == -2) Log(2, "connect_host", "connection failed (err=%d)\n", waitError);
                NetClose(s);
                if (attempt >= 7) {
                    Log(1, "connect_host", "connect(): Too many time-outs\n");
                    return -1;
                }
                continue;
            }
        }
        Log(2, "connect_host", "connected to %s\n", host_name);
        return s;
    }
}

int IAD_HTTPClient::build_request(char* buffer, const char* path) {
    return compose_request(buffer, kRequestSize, path, nullptr, nullptr, false);
}

int IAD_HTTPClient::compose_request(char* buffer, int size, const char* path, const char* loginScheme,
                                    const char* loginToken, bool keepAlive) {
    Request r = {buffer, size, 0, false};
    buffer[0] = '\0';
    basic_sent = false;
    if (!url || !url->host) return -1;
    const char* p = path ? path : url->path;
    // A URL without a path asks for the root.
    if (!p) p = "/";
    // Through a tunnel the proxy sees only encrypted bytes: the request is
    // the one for the server itself, and the proxy's credentials went with
    // the CONNECT.
    const IAD_URL* viaProxy = url->secure ? nullptr : proxy;
    if (viaProxy) {
        if (url->port == 80)
            r.Add("GET http://%s%s HTTP/1.0\r\n", url->host, p);
        else
            r.Add("GET http://%s:%d%s HTTP/1.0\r\n", url->host, int(url->port), p);
    } else {
        r.Add("GET %s HTTP/1.0\r\n", p);
    }
    char basic[kRequestSize + 64];
    if (viaProxy && loginScheme) {
        // A Windows login's token instead of the Basic credentials.
        r.Add("Proxy-Authorization: %s %s\r\n", loginScheme, loginToken);
    } else if (viaProxy) {
        if (!basic_line(basic, sizeof basic)) return -1;
        r.Add("%s", basic);
    }
    // The handshake of a Windows login needs the same connection for its
    // next token.
    if (viaProxy && keepAlive) r.Add("Proxy-Connection: Keep-Alive\r\n");
    if (url->user && url->password) {
        if (!BasicCredentials(url->user, url->password, basic, kRequestSize)) return -1;
        r.Add("Authorization: Basic %s\r\n", basic);
    }
    if (url->secure && url->port != 443)
        r.Add("Host: %s:%d\r\n", url->host, int(url->port));
    else
        r.Add("Host: %s\r\n", url->host);
    r.Add("Accept: image/gif, image/jpeg, image/pjpeg, */*\r\n");
    // One blank line ends the request, and nothing follows it. Bytes after
    // the blank line are a body no header announces; a proxy that relays
    // them (tinyproxy does) cuts the response short, and the body would be
    // taken as complete.
    r.Add("\r\n");
    if (r.overflow) {
        buffer[0] = '\0';
        return -1;
    }
    return r.length;
}

int IAD_HTTPClient::full_send(intptr_t s, const char* bytes, int length) {
    if (channel) return channel->Send(bytes, length);
    return raw_send(s, bytes, length);
}

int IAD_HTTPClient::raw_send(intptr_t s, const char* bytes, int length) {
    char text[128];
    int done = 0;
    while (done < length) {
        int n = NetSend(s, bytes + done, length - done);
        Log(2, "full_send", "sent %d bytes\n", n);
        if (n >= 0) {
            done += n;
            continue;
        }
        int error = NetLastError();
        if (!NetWouldBlock(error)) {
            Log(2, "full_send", "Bad write(): %s\n", NetErrorText(error, text, sizeof text));
            return -1;
        }
        int r = WaitSliced(NetWaitWritable, s, IoMs());
        if (r == -3) return -1;
        if (r == 0) return -2;
        if (r < 0) {
            Log(1, "full_send", "Bad select(): %s\n", NetErrorText(NetLastError(), text, sizeof text));
            return -1;
        }
    }
    return length;
}

int IAD_HTTPClient::raw_recv_some(intptr_t s, char* buffer, int size) {
    char text[128];
    if (receiveLimit > 0 && size > receiveLimit) size = receiveLimit;
    bool waited = false;
    for (;;) {
        if (Cancelled()) return -1;
        int n = NetRecv(s, buffer, size);
        if (n >= 0) return n;
        int error = NetLastError();
        if (!NetWouldBlock(error)) {
            Log(1, "raw_recv_some", "Bad recv(): %s\n", NetErrorText(error, text, sizeof text));
            return -1;
        }
        // Readable, yet nothing to take: pause before waiting again.
        if (waited) NetSleepMs(timeouts.retrySleepMs);
        int r = WaitSliced(NetWaitReadable, s, IoMs());
        if (r == -3) return -1;
        if (r == 0) return -2;
        if (r < 0) {
            Log(1, "raw_recv_some", "Bad select(): %s\n", NetErrorText(NetLastError(), text, sizeof text));
            return -1;
        }
        waited = true;
    }
}

int IAD_HTTPClient::full_recv(intptr_t s, char* buffer, int size) {
    if (channel) {
        int done = 0;
        while (done < size) {
            if (Cancelled()) return -1;
            int n = channel->Recv(buffer + done, size - done);
            if (n == 0) break;
            if (n < 0) return n;
            done += n;
        }
        return done;
    }
    char text[128];
    int done = 0;
    // Each receive is tried before any wait, and the bounded wait comes only
    // when nothing is there yet: while the body streams in this saves a
    // select per block, the dearest socket call under some platforms.
    bool waited = false;
    while (done < size) {
        // Between blocks: a transfer that is no longer wanted ends here.
        if (Cancelled()) return -1;
        int n = NetRecv(s, buffer + done, size - done);
        if (n < 0 && !waited && NetWouldBlock(NetLastError())) {
            int r = WaitSliced(NetWaitReadable, s, IoMs());
            if (r == -3) return -1;
            if (r == 0) return -2;
            if (r < 0) {
                Log(1, "full_recv", "Bad select(): %s\n", NetErrorText(NetLastError(), text, sizeof text));
                return -1;
            }
            waited = true;
            continue;
        }
        Log(2, "full_recv", "recved %d bytes\n", n);
        if (level >= 2) std::fflush(stderr);
        waited = false;
        if (n > 0) {
            done += n;
        } else if (n == 0) {
            Log(1, "full_recv", "Conenction closed by remote host\n");
            return done;
        } else {
            int error = NetLastError();
            if (NetWouldBlock(error)) {
                // Readable, yet nothing to take: pause before waiting again.
                NetSleepMs(timeouts.retrySleepMs);
                continue;
            }
            Log(1, "full_recv", "Bad recv(): %s\n", NetErrorText(error, text, sizeof text));
            return -1;
        }
    }
    return done;
}

// What a proxy's 407 asks for, to a GET or a CONNECT, decides whether a
// Windows login or Basic follows, and is shown to the user when nothing
// gets through.
void IAD_HTTPClient::note_proxy_offer(const char* head, int headerLength) {
    ProxyChallenge* offer = new (std::nothrow) ProxyChallenge;
    if (!offer) return;
    ParseProxyChallenge(head, headerLength, offer);
    proxy_offer = offer->schemes;
    delete offer;
    if ((proxy_offer & (kSchemeNtlm | kSchemeNegotiate)) && proxy && basic_memory)
        basic_memory->Forget(proxy->host, proxy->port);
}

bool IAD_HTTPClient::basic_line(char* line, int size) {
    line[0] = 0;
    basic_sent = false;
    if (!proxy || !proxy->user || !proxy->password || !basic_memory || !basic_memory->Knows(proxy->host, proxy->port))
        return true;
    char basic[kRequestSize];
    if (!BasicCredentials(proxy->user, proxy->password, basic, sizeof basic)) return false;
    int n = std::snprintf(line, size_t(size), "Proxy-Authorization: Basic %s\r\n", basic);
    if (n < 0 || n >= size) return false;
    basic_sent = true;
    return true;
}

bool IAD_HTTPClient::basic_wanted() {
    if (last_status != 407 || !proxy || !AnswerWithBasic(proxy_offer)) return false;
    if (basic_sent) {
        Log(1, "GetFile", "The proxy refused the Basic login\n");
        return false;
    }
    if (!proxy->user || !proxy->password || !basic_memory) return false;
    basic_memory->Remember(proxy->host, proxy->port);
    return basic_memory->Knows(proxy->host, proxy->port);
}

int IAD_HTTPClient::recv_file(intptr_t s, const char* localPath) { return recv_answer(s, localPath, nullptr, 0); }

int IAD_HTTPClient::recv_answer(intptr_t s, const char* localPath, const char* read, int count) {
    char first[kHeaderBlock];
    int had = count < int(sizeof first) ? count : int(sizeof first);
    if (had > 0) std::memcpy(first, read, size_t(had));
    int n = had;
    if (had < int(sizeof first)) {
        int more = full_recv(s, first + had, int(sizeof first) - had);
        if (more < 0) return more;
        n += more;
    }
    IAD_HTTPHeader header;
    header.clear();
    header.parse(first, n);
    last_status = header.status;
    if (header.status == 407) note_proxy_offer(first, header.header_length);
    if (header.status == 200) {
        if (!localPath) {
            if (!bodyBuffer) return -1;
            int beyond = count - had;
            return recv_into_buffer(s, first, n, header.header_length, read + had, beyond > 0 ? beyond : 0);
        }
        FILE* f = std::fopen(localPath, "wb");
        if (!f) {
            Log(1, "recv_file", "Can't open %s (errno=%d)\n", localPath, errno);
            return -1;
        }
        // Blocks are large already; a stream buffer would only copy them.
        std::setvbuf(f, nullptr, _IONBF, 0);
        int rest = n - header.header_length;
        if (rest > 0 && std::fwrite(first + header.header_length, 1, size_t(rest), f) != size_t(rest)) {
            Log(1, "recv_file", "Can't write to %s (errno=%d)\n", localPath, errno);
            std::fclose(f);
            return -1;
        }
        // Bytes read before the call beyond the first block belong to the body.
        int beyond = count - had;
        if (beyond > 0 && std::fwrite(read + had, 1, size_t(beyond), f) != size_t(beyond)) {
            Log(1, "recv_file", "Can't write to %s (errno=%d)\n", localPath, errno);
            std::fclose(f);
            return -1;
        }
        // The first block was short: the server has closed the connection
        // and the body is complete.
        int result = 0;
        if (n == int(sizeof first)) {
            char* block = static_cast<char*>(std::malloc(kBodyBlock));
            if (!block) {
                std::fclose(f);
                return -1;
            }
            for (;;) {
                int got = full_recv(s, block, kBodyBlock);
                if (got == 0) break;
                if (got == -1) {
                    Log(1, "recv_file", "Can't read (errno=%d)\n", NetLastError());
                    result = -1;
                    break;
                }
                if (got == -2) {
                    Log(1, "recv_file", "Can't read TIME-OUT\n");
                    result = -2;
                    break;
                }
                Log(3, "recv_file", "full_recv returned %d\n", got);
                if (std::fwrite(block, 1, size_t(got), f) != size_t(got)) {
                    Log(1, "recv_file", "Can't write to %s (errno=%d)\n", localPath, errno);
                    result = -1;
                    break;
                }
                if (got < kBodyBlock) break;  // closed by the server
            }
            std::free(block);
        }
        if (std::fclose(f) != 0 && result == 0) {
            Log(1, "recv_file", "Can't write to %s (errno=%d)\n", localPath, errno);
            result = -1;
        }
        return result;
    }
    if (header.status == 301 || header.status == 302) {
        if (!header.location[0]) {
            Log(1, "recv_file", "Status-Code = %d but no Location: field\n", header.status);
            return -1;
        }
        IAD_URL* next = new (std::nothrow) IAD_URL(header.location);
        if (!next) return -1;
        if (url && !RedirectAllowed(*url, *next)) {
            Log(1, "recv_file", "Refused redirect from https to %s\n", header.location);
            delete next;
            return -1;
        }
        // The user name and password go only to the host (and port) they
        // were given for; another site gets none, nor any of the Location's.
        if (url && url->same_site(*next)) {
            next->copy_credentials(*url);
        } else {
            IAD_URL none(nullptr);
            next->copy_credentials(none);
        }
        delete url;
        url = next;
        return -3;
    }
    Log(2, "recv_file", "Got HTTP code %d\n", header.status);
    char status[40];
    std::snprintf(status, sizeof status, "HTTP status %d", header.status);
    Note("recv_file", status);
    return -1;
}

int IAD_HTTPClient::compose_connect(char* buffer, int size, const char* loginScheme, const char* loginToken,
                                    bool keepAlive) {
    Request r = {buffer, size, 0, false};
    buffer[0] = '\0';
    basic_sent = false;
    r.Add("CONNECT %s:%d HTTP/1.0\r\n", url->host, int(url->port));
    r.Add("Host: %s:%d\r\n", url->host, int(url->port));
    if (loginScheme) {
        r.Add("Proxy-Authorization: %s %s\r\n", loginScheme, loginToken);
    } else {
        char basic[kRequestSize + 64];
        if (!basic_line(basic, sizeof basic)) return -1;
        r.Add("%s", basic);
    }
    if (keepAlive) r.Add("Proxy-Connection: Keep-Alive\r\n");
    r.Add("\r\n");
    if (r.overflow) {
        buffer[0] = '\0';
        return -1;
    }
    return r.length;
}

int IAD_HTTPClient::open_tunnel(intptr_t s) {
    tunnelExtraCount = 0;
    last_status = 0;
    // A proxy known to want a Windows login, or that has just asked for
    // one on a connection of its own, gets the handshake on this one.
    if (proxy_login && (login_scheme || tunnel_login)) return windows_login(s, nullptr, nullptr, nullptr);
    char request[kRequestSize];
    int length = compose_connect(request, kRequestSize, nullptr, nullptr, false);
    if (length < 0) return -1;
    if (raw_send(s, request, length) != length) {
        Log(1, "open_tunnel", "Can't send CONNECT\n");
        return -1;
    }
    // The answer is read until its blank line; the server has said nothing
    // yet, so bytes after it are rare, and kept for the channel.
    char answer[kHeaderBlock];
    int have = 0;
    IAD_HTTPHeader header;
    for (;;) {
        int n = raw_recv_some(s, answer + have, int(sizeof answer) - have);
        if (n <= 0) {
            Log(1, "open_tunnel", "No answer to CONNECT (%d)\n", n);
            return -1;
        }
        have += n;
        header.clear();
        if (header.parse(answer, have) == 0) break;
        if (have == int(sizeof answer)) {
            Log(1, "open_tunnel", "Answer to CONNECT too long\n");
            return -1;
        }
    }
    last_status = header.status;
    if (header.status == 407) note_proxy_offer(answer, header.header_length);
    if (header.status != 200) {
        Log(1, "open_tunnel", "Proxy refused CONNECT: %d\n", header.status);
        return -1;
    }
    tunnelExtraCount = have - header.header_length;
    std::memcpy(tunnelExtra, answer + header.header_length, size_t(tunnelExtraCount));
    return 0;
}

int IAD_HTTPClient::start_secure(intptr_t s) {
    delete channel;
    channel = nullptr;
    tlsFailure = TlsNone;
    tlsFailureHost[0] = '\0';
    if (proxy && open_tunnel(s) < 0) return -1;
    SecureChannel* fresh = channelFactory ? channelFactory(kTlsReceiveBlock) : nullptr;
    TlsFailure why = TlsUnavailable;
    delete link;
    // The channel uses the link for the whole connection.
    link = fresh ? new (std::nothrow) SocketLink(this, s) : nullptr;
    if (fresh && link) {
        if (fresh->Start(link, url->host, tunnelExtra, proxy ? tunnelExtraCount : 0) == 0) {
            channel = fresh;
            return 0;
        }
        why = fresh->failure();
    }
    delete fresh;
    tlsFailure = why;
    std::snprintf(tlsFailureHost, sizeof tlsFailureHost, "%s", url->host);
    Log(1, "start_secure", "No secure connection to %s (%d)\n", url->host, int(why));
    return -1;
}

void IAD_HTTPClient::close_connection(intptr_t s) {
    if (channel) {
        channel->Shutdown();
        delete channel;
        channel = nullptr;
    }
    delete link;
    link = nullptr;
    NetClose(s);
}

int IAD_HTTPClient::recv_into_buffer(intptr_t s, const char* first, int n, int headerLength, const char* extra,
                                     int extraCount) {
    int length = n - headerLength;
    *bodyLength = 0;
    if (length > bodyCapacity || extraCount > bodyCapacity - length) {
        Log(1, "recv_file", "Body longer than %d bytes\n", bodyCapacity);
        return -1;
    }
    if (length > 0) std::memcpy(bodyBuffer, first + headerLength, size_t(length));
    // Bytes read before the answer was parsed, beyond its first block.
    if (extraCount > 0) {
        std::memcpy(bodyBuffer + length, extra, size_t(extraCount));
        length += extraCount;
    }
    // Received straight into place, as much as each receive finds; the
    // last receive, into a spare byte, must find the end of the body.
    bool more = n == kHeaderBlock;
    while (more) {
        int room = bodyCapacity - length;
        char spare;
        int got = room > 0 ? full_recv(s, bodyBuffer + length, room) : full_recv(s, &spare, 1);
        if (got == -1) {
            Log(1, "recv_file", "Can't read (errno=%d)\n", NetLastError());
            return -1;
        }
        if (got == -2) {
            Log(1, "recv_file", "Can't read TIME-OUT\n");
            return -2;
        }
        Log(3, "recv_file", "full_recv returned %d\n", got);
        if (room == 0 && got > 0) {
            Log(1, "recv_file", "Body longer than %d bytes\n", bodyCapacity);
            return -1;
        }
        length += got;
        more = got == room && room > 0;
    }
    *bodyLength = length;
    return 0;
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
    failure[0] = 0;
    own_login_refusal = false;
    char text[128];
    char request[kRequestSize];
    NetAddress address;
    int redirects = 0;
    tlsFailure = TlsNone;
    tlsFailureHost[0] = '\0';
    if (resolve_host_name(&address) < 0) return -1;
    for (;;) {
        int sendTimeouts = 0;
        int recvTimeouts = 0;
        bool redirected = false;
        while (!redirected) {
            if (Cancelled()) return -1;
            // A proxy known to want a Windows login gets it at once.
            if (proxy && !url->secure && proxy_login && login_scheme) {
                int r = windows_login(-1, &address, path, localPath);
                if (r == 0) return 0;
                if (r == -2 && recvTimeouts++ <= 5) continue;
                if (r == -3) {
                    if (redirects++ > 5) {
                        Log(1, "GetFile", "Too many links. (last link is %s/%s)\n", url->host ? url->host : "",
                            url->path ? url->path : "");
                        return -1;
                    }
                    path = nullptr;
                    if (resolve_host_name(&address) < 0) return -1;
                    redirected = true;
                    continue;
                }
                return -1;
            }
            // Built before connecting: a request that cannot fit is refused
            // without a connection and without a byte sent.
            int length = build_request(request, path);
            if (length < 0) {
                Log(1, "GetFile", "Request does not fit %d bytes\n", kRequestSize);
                return -1;
            }
            intptr_t s = connect_host(address);
            if (s < 0) {
                Log(1, "GetFile", "Can't connect.\n");
                return -1;
            }
            // A secure connection that cannot be made is a failed fetch,
            // never a fall back to plain http.
            if (url->secure && start_secure(s) < 0) {
                close_connection(s);
                // A proxy that asks for Basic alone gets the CONNECT again
                // with it, on a new connection.
                if (proxy && basic_wanted()) continue;
                // A proxy that asks for a Windows login this client can
                // give gets the handshake on a tunnel connection of its own;
                // one known to want it had it already.
                if (!proxy || login_scheme || !windows_login_wanted()) return -1;
                s = connect_host(address);
                if (s < 0) {
                    Log(1, "GetFile", "Can't connect.\n");
                    return -1;
                }
                tunnel_login = true;
                int opened = start_secure(s);
                tunnel_login = false;
                if (opened < 0) {
                    close_connection(s);
                    return -1;
                }
            }
            int sent = full_send(s, request, length);
            if (sent == -1) {
                Log(1, "GetFile", "Bad full_send(): %s\n", NetErrorText(NetLastError(), text, sizeof text));
                close_connection(s);
                return -1;
            }
            if (sent == -2) {
                Log(2, "GetFile", "send timed-out\n");
                close_connection(s);
                if (sendTimeouts++ > 5) {
                    Log(1, "GetFile", "full_send too many time-outs\n");
                    return -1;
                }
                continue;
            }
            int r = recv_file(s, localPath);
            close_connection(s);
            // A proxy that asks for a Windows login this client can give
            // gets the handshake on a connection of its own; one that asks
            // for Basic alone gets the request again with it.
            if (r == -1 && proxy && !url->secure) {
                if (windows_login_wanted())
                    r = windows_login(-1, &address, path, localPath);
                else if (basic_wanted())
                    continue;
            }
            switch (r) {
                case 0:
                    return 0;
                case -2:
                    Log(2, "GetFile", "recv timed-out\n");
                    if (recvTimeouts++ > 5) {
                        Log(1, "GetFile", "recv_file too many time-outs\n");
                        return -1;
                    }
                    continue;
                case -3:
                    if (redirects++ > 5) {
                        Log(1, "GetFile", "Too many links. (last link is %s/%s)\n", url->host ? url->host : "",
                            url->path ? url->path : "");
                        return -1;
                    }
                    path = nullptr;
                    if (resolve_host_name(&address) < 0) return -1;
                    redirected = true;
                    break;
                default:
                    Log(1, "GetFile", "Bad recv_file(): %s\n", NetErrorText(NetLastError(), text, sizeof text));
                    return -1;
            }
        }
    }
}

// ---- Windows logins towards the proxy ------------------------------------------

int IAD_HTTPClient::read_head(intptr_t s, char* buffer, int size, int* headerLength) {
    char text[128];
    int n = 0;
    int idle = 0;
    while (n < size) {
        // A stop is heard while the proxy thinks, not only after it.
        int r = WaitSliced(NetWaitReadable, s, IoMs());
        if (r == -3) return -1;
        if (r == 0) return -2;
        if (r < 0) {
            Log(1, "full_recv", "Bad select(): %s\n", NetErrorText(NetLastError(), text, sizeof text));
            return -1;
        }
        int got = NetRecv(s, buffer + n, size - n);
        if (got == 0) {
            Log(1, "full_recv", "Conenction closed by remote host\n");
            return -1;
        }
        if (got < 0) {
            int error = NetLastError();
            if (!NetWouldBlock(error) || ++idle > 40) {
                Log(1, "full_recv", "Bad recv(): %s\n", NetErrorText(error, text, sizeof text));
                return -1;
            }
            NetSleepMs(timeouts.retrySleepMs);
            continue;
        }
        n += got;
        // The block ends at whichever blank line comes first.
        const char* crlf = Find(buffer, buffer + n, "\r\n\r\n");
        const char* lf = Find(buffer, crlf ? crlf : buffer + n, "\n\n");
        if (lf || crlf) {
            *headerLength = lf ? int(lf - buffer) + 2 : int(crlf - buffer) + 4;
            return n;
        }
    }
    return -1;
}

int IAD_HTTPClient::skip_body(intptr_t s, long long count) {
    char scratch[4096];
    while (count > 0) {
        int r = WaitSliced(NetWaitReadable, s, IoMs());
        if (r == -3) return -1;
        if (r == 0) return -2;
        if (r < 0) return -1;
        int want = count < (long long)sizeof scratch ? int(count) : int(sizeof scratch);
        int got = NetRecv(s, scratch, want);
        if (got == 0) return -1;
        if (got < 0) {
            if (!NetWouldBlock(NetLastError())) return -1;
            continue;
        }
        count -= got;
    }
    return 0;
}

bool IAD_HTTPClient::windows_login_wanted() {
    return last_status == 407 && proxy_login &&
           (PickProxyScheme(proxy_offer, proxy_login->Schemes()) & (kSchemeNtlm | kSchemeNegotiate)) &&
           !own_login_refused();
}

bool IAD_HTTPClient::own_login_refused() {
    if (own_login_allowed || (proxy->user && proxy->user[0])) return false;
    own_login_refusal = true;
    Log(1, "GetFile", "The logged-on user's Windows login is not offered to the proxy %s\n", proxy->host);
    return true;
}

int IAD_HTTPClient::windows_login(intptr_t tunnel, const NetAddress* address, const char* path,
                                  const char* localPath) {
    int usable = proxy_login->Schemes();
    int offered = login_scheme ? login_scheme : proxy_offer;
    // With a proxy user, that user's credentials; without, the logged-on
    // user's own, where the caller lets them go to this proxy.
    bool own = proxy->user && proxy->user[0];
    if (own_login_refused()) return -1;
    char domain[260], user[260];
    domain[0] = user[0] = 0;
    if (own) SplitDomainUser(proxy->user, domain, sizeof domain, user, sizeof user);
    // Buffers for the largest token the packages may give, as Base64 text,
    // and a request around it.
    int tokenBytes = 0;
    for (int candidate : {int(kSchemeNegotiate), int(kSchemeNtlm)})
        if (offered & usable & candidate) {
            int most = proxy_login->MaxTokenBytes(candidate);
            if (most > tokenBytes) tokenBytes = most;
        }
    const int kMostTokenBytes = 1 << 20;
    if (tokenBytes <= 0) tokenBytes = kDefaultLoginToken;
    if (tokenBytes > kMostTokenBytes) tokenBytes = kMostTokenBytes;
    const int tokenSize = (tokenBytes + 2) / 3 * 4 + 1;
    const int requestSize = tokenSize + kRequestSize + 256;
    char* token = static_cast<char*>(std::malloc(size_t(tokenSize)));
    char* request = static_cast<char*>(std::malloc(size_t(requestSize)));
    char* head = static_cast<char*>(std::malloc(kLoginHeadSize));
    ProxyChallenge* challenge = new (std::nothrow) ProxyChallenge;
    int result = -1;
    int scheme = 0;
    int more = -1;
    intptr_t s = tunnel;
    if (!token || !request || !head || !challenge) goto done;
    // Negotiate first; where it cannot be used, NTLM.
    for (int candidate : {int(kSchemeNegotiate), int(kSchemeNtlm)}) {
        if (!(offered & usable & candidate)) continue;
        more = proxy_login->Begin(candidate, proxy->host, own ? domain : nullptr, own ? user : nullptr,
                                  own ? (proxy->password ? proxy->password : "") : nullptr, token, tokenSize);
        if (more >= 0) {
            scheme = candidate;
            break;
        }
        Log(1, "GetFile", "No %s login with these credentials\n", ProxySchemeName(candidate));
    }
    if (!scheme) goto done;
    if (tunnel < 0) {
        s = connect_host(*address);
        if (s < 0) {
            Log(1, "GetFile", "Can't connect.\n");
            goto done;
        }
    }
    // A handshake has a few legs; more than that is a proxy going round in
    // circles, and a 407 after the last token is a refused login.
    for (int leg = 0; leg < 4; ++leg) {
        const char* name = ProxySchemeName(scheme);
        int length = tunnel >= 0 ? compose_connect(request, requestSize, name, token, more == 1)
                                 : compose_request(request, requestSize, path, name, token, more == 1);
        if (length < 0) {
            Log(1, "GetFile", "Request does not fit %d bytes\n", requestSize);
            break;
        }
        int sent = full_send(s, request, length);
        if (sent < 0) {
            result = sent;
            break;
        }
        if (more == 0 && tunnel < 0) {
            // No keep-alive asked: the answer ends with the connection.
            result = recv_answer(s, localPath, nullptr, 0);
            if (result == -1 && last_status == 407) Log(1, "GetFile", "The proxy refused the %s login\n", name);
            if (result == 0 || result == -3) login_scheme = scheme;
            break;
        }
        int headerLength = 0;
        int n = read_head(s, head, kLoginHeadSize, &headerLength);
        if (n < 0) {
            result = n;
            break;
        }
        IAD_HTTPHeader header;
        header.clear();
        header.parse(head, n);
        if (tunnel >= 0 && header.status != 407) {
            last_status = header.status;
            if (header.status != 200) {
                Log(1, "open_tunnel", "Proxy refused CONNECT: %d\n", header.status);
                break;
            }
            // The tunnel is open; the site has said nothing yet, so bytes
            // after the answer are rare, and kept for the channel.
            int extra = n - headerLength;
            if (extra > int(sizeof tunnelExtra)) {
                Log(1, "open_tunnel", "Too many bytes after the answer to CONNECT\n");
                break;
            }
            std::memcpy(tunnelExtra, head + headerLength, size_t(extra));
            tunnelExtraCount = extra;
            login_scheme = scheme;
            result = 0;
            break;
        }
        if (header.status != 407) {
            // Let through before the handshake ended: this is the answer.
            result = recv_answer(s, localPath, head, n);
            if (result == 0 || result == -3) login_scheme = scheme;
            break;
        }
        last_status = 407;
        ParseProxyChallenge(head, headerLength, challenge);
        proxy_offer = challenge->schemes;
        const char* answer = scheme == kSchemeNtlm ? challenge->ntlmToken : challenge->negotiateToken;
        if (more == 0 || !answer[0]) {
            Log(1, "GetFile", "The proxy refused the %s login\n", name);
            break;
        }
        // The 407's body is read whole, so that the next token goes out on
        // the same connection.
        long long bodyLength = HeaderContentLength(head, headerLength);
        long long already = n - headerLength;
        if (bodyLength < 0 || already > bodyLength || !HeaderKeepsConnection(head, headerLength)) {
            Log(1, "GetFile", "The proxy does not keep the connection for the login\n");
            break;
        }
        int skipped = skip_body(s, bodyLength - already);
        if (skipped < 0) {
            result = skipped;
            break;
        }
        more = proxy_login->Continue(answer, token, tokenSize);
        if (more < 0) {
            Log(1, "GetFile", "The %s challenge cannot be answered\n", name);
            break;
        }
    }
done:
    if (s >= 0 && tunnel < 0) NetClose(s);
    if (scheme) proxy_login->End();
    delete challenge;
    std::free(head);
    std::free(request);
    std::free(token);
    return result;
}
