// Request texts and answer header blocks of the HTTP client.
#include "http/http_message.h"

#include <cstdarg>
#include <cstdio>

#include "http/codec.h"
#include "http/http_url.h"

namespace {

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
    // An authorization header of any scheme: the one form for the site's
    // and for the proxy's.
    void Authorization(const char* name, HttpCredentials credentials) {
        if (credentials.scheme) Add("%s: %s %s\r\n", name, credentials.scheme, credentials.token);
    }
    int End() {
        if (!overflow) return length;
        buffer[0] = '\0';
        return -1;
    }
};

}  // namespace

void IAD_HTTPHeader::clear() {
    header_length = 0;
    status = 0;
    location[0] = '\0';
    content_type[0] = '\0';
    content_length = -1;
}

int HeaderBlockEnd(const char* bytes, int count) {
    const char* end = bytes + count;
    const char* crlf = Find(bytes, end, "\r\n\r\n");
    const char* lf = Find(bytes, crlf ? crlf : end, "\n\n");
    if (lf) return int(lf - bytes) + 2;
    if (crlf) return int(crlf - bytes) + 4;
    return -1;
}

int IAD_HTTPHeader::parse(const char* bytes, int count) {
    if (count < 15 || std::memcmp(bytes, "HTTP/", 5) != 0) {
        status = 1;
        return -1;
    }
    status = (bytes[9] - 48) * 100 + (bytes[10] - 48) * 10 + (bytes[11] - 48);
    header_length = HeaderBlockEnd(bytes, count);
    if (header_length < 0) {
        header_length = 0;
        status = 1;
        return -1;
    }
    const char* end = bytes + count;
    const char* found = FindNoCase(bytes, bytes + header_length, "location: ");
    if (found) TakeValue(found + 10, end, location, sizeof location);
    found = FindNoCase(bytes, bytes + header_length, "content-type: ");
    if (found) TakeValue(found + 14, end, content_type, sizeof content_type);
    content_length = HeaderContentLength(bytes, header_length);
    return 0;
}

long long HeaderContentLength(const char* header, int length) {
    long long result = -1;
    EachHeader(header, length, "content-length", [&](const char* v, const char* e) {
        if (result >= 0 || v == e) return;
        long long n = 0;
        for (const char* p = v; p < e; ++p) {
            if (*p < '0' || *p > '9' || n > 1000000000000LL) return;
            n = n * 10 + (*p - '0');
        }
        result = n;
    });
    return result;
}

int HeaderKeepsConnection(const char* header, int length) {
    bool http11 = length >= 8 && std::memcmp(header, "HTTP/1.1", 8) == 0;
    int said = -1;  // -1 nothing said, 0 close, 1 keep-alive
    auto look = [&](const char* v, const char* e) {
        for (const char* p = v; p < e; ++p) {
            if (StartsNoCase(p, size_t(e - p), "close")) said = 0;
            if (StartsNoCase(p, size_t(e - p), "keep-alive") && said != 0) said = 1;
        }
    };
    EachHeader(header, length, "proxy-connection", look);
    EachHeader(header, length, "connection", look);
    if (said == 0) return 0;
    return said == 1 || http11 ? 1 : 0;
}

bool BasicToken(const char* user, const char* password, char* out, int capacity) {
    size_t u = std::strlen(user), p = std::strlen(password);
    size_t raw = u + 1 + p;
    if (raw > size_t(kHttpRequestSize)) return false;
    unsigned char joined[kHttpRequestSize + 1];
    std::memcpy(joined, user, u);
    joined[u] = ':';
    std::memcpy(joined + u + 1, password, p);
    int n = IAD_Base64::encode(joined, int(raw), out, capacity - 1, 0);
    if (n < 0) return false;
    out[n] = '\0';
    return true;
}

int ComposeGet(const GetRequest& get, char* buffer, int size) {
    Request r = {buffer, size, 0, false};
    buffer[0] = '\0';
    const IAD_URL* url = get.url;
    if (!url || !url->host) return -1;
    const char* p = get.path ? get.path : url->path;
    // A URL without a path asks for the root.
    if (!p) p = "/";
    if (get.viaProxy) {
        if (url->port == url->default_port())
            r.Add("GET http://%s%s HTTP/1.0\r\n", url->host, p);
        else
            r.Add("GET http://%s:%d%s HTTP/1.0\r\n", url->host, int(url->port), p);
        r.Authorization("Proxy-Authorization", get.proxy);
    } else {
        r.Add("GET %s HTTP/1.0\r\n", p);
    }
    // Only a user name makes a login: an empty one with an empty password
    // would be refused by hosts that take no login at all.
    if (url->has_login()) {
        char basic[kHttpRequestSize];
        if (!BasicToken(url->user, url->password, basic, sizeof basic)) return -1;
        r.Authorization("Authorization", HttpCredentials{"Basic", basic});
    }
    if (url->port != url->default_port())
        r.Add("Host: %s:%d\r\n", url->host, int(url->port));
    else
        r.Add("Host: %s\r\n", url->host);
    r.Add("Accept: image/gif, image/jpeg, image/pjpeg, */*\r\n");
    // Still HTTP/1.0, so that no server answers in chunks; the connection
    // is asked to stay for the next request all the same (the handshake of
    // a Windows login needs it for its next token). A proxy is asked in
    // its own header, which it does not pass on to the server.
    if (get.keepAlive) r.Add(get.viaProxy ? "Proxy-Connection: Keep-Alive\r\n" : "Connection: keep-alive\r\n");
    // One blank line ends the request, and nothing follows it. Bytes after
    // the blank line are a body no header announces; a proxy that relays
    // them (tinyproxy does) cuts the response short, and the body would be
    // taken as complete.
    r.Add("\r\n");
    return r.End();
}

int ComposeConnect(const IAD_URL& target, HttpCredentials proxy, bool keepAlive, char* buffer, int size) {
    Request r = {buffer, size, 0, false};
    buffer[0] = '\0';
    if (!target.host) return -1;
    r.Add("CONNECT %s:%d HTTP/1.0\r\n", target.host, int(target.port));
    r.Add("Host: %s:%d\r\n", target.host, int(target.port));
    r.Authorization("Proxy-Authorization", proxy);
    if (keepAlive) r.Add("Proxy-Connection: Keep-Alive\r\n");
    r.Add("\r\n");
    return r.End();
}
