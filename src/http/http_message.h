// Framing of the HTTP client's messages: the request texts (a GET, directly
// or through a proxy, and the CONNECT of a tunnel) with their credential
// lines, and the header block of an answer with the few headers the client
// reads. Portable code; nothing here touches a socket.
#pragma once
#include <cstring>

#include "base/ascii_case.h"

class IAD_URL;

// A request without a login token must fit this many bytes, terminator
// included; an answer's header block must end within the first
// kHttpHeaderBlock bytes.
const int kHttpRequestSize = 1024;
const int kHttpHeaderBlock = 2048;

struct IAD_HTTPHeader {
    int header_length;
    int status;
    char location[1025];
    char content_type[41];
    // The body's length as the answer announces it; -1 when it does not,
    // and the body then ends where the connection does.
    long long content_length;

    void clear();
    // 0, or -1 with status 1 when the bytes are not a response header block.
    int parse(const char* bytes, int count);
};

// Offset just past the blank line that ends the header block in
// bytes[0, count): whichever of CR LF CR LF and LF LF comes first (a body
// that holds the other form must not be taken for header); -1 when the
// block does not end within the bytes.
int HeaderBlockEnd(const char* bytes, int count);

// Calls `each(value, valueEnd)` with the value of every header line named
// `name` (any case), its blanks trimmed. The status line is skipped, and
// nothing past the block's blank line or past `length` is read.
template <typename F>
void EachHeader(const char* header, int length, const char* name, F each) {
    const char* p = header;
    const char* end = header + length;
    while (p < end && *p != '\n') ++p;  // the status line
    while (p < end) {
        ++p;  // past the line feed
        const char* line = p;
        while (p < end && *p != '\n') ++p;
        const char* lineEnd = p;
        if (lineEnd > line && lineEnd[-1] == '\r') --lineEnd;
        if (lineEnd == line) break;  // the blank line ends the block
        const char* colon = static_cast<const char*>(std::memchr(line, ':', size_t(lineEnd - line)));
        if (!colon || !EqualNoCase(line, size_t(colon - line), name)) continue;
        const char* v = colon + 1;
        while (v < lineEnd && (*v == ' ' || *v == '\t')) ++v;
        const char* ve = lineEnd;
        while (ve > v && (ve[-1] == ' ' || ve[-1] == '\t')) --ve;
        each(v, ve);
    }
}

// The value of Content-Length in a header block, -1 when there is none or
// it is not a number.
long long HeaderContentLength(const char* header, int length);

// Whether the answer keeps the connection open: an HTTP/1.1 answer unless
// it says "close", an HTTP/1.0 one only with "keep-alive" in its
// Proxy-Connection or Connection header.
int HeaderKeepsConnection(const char* header, int length);

// The text after a scheme name in an authorization header: the scheme
// ("Basic", "NTLM", "Negotiate") and its Base64 token. A null scheme
// means no header.
struct HttpCredentials {
    const char* scheme;
    const char* token;
};

// The Basic token, the standard Base64 of "user:password"; false when it
// does not fit `capacity` (terminator included) or would not fit a request.
bool BasicToken(const char* user, const char* password, char* out, int capacity);

// A GET of `url` (its path, or `path` in its place; "/" without either):
// in absolute form when it goes to a proxy as plain http, with the proxy's
// credentials, and a request to keep the connection when asked
// (Proxy-Connection to a proxy, Connection to the server), the
// URL's Basic credentials when it has a login (IAD_URL::has_login), Host
// (with the port when it is not the scheme's own) and Accept. Returns the length written (terminated), or -1 when it does not
// fit `size` bytes or the URL has no host; the buffer then holds "".
struct GetRequest {
    const IAD_URL* url;
    const char* path;
    bool viaProxy;
    HttpCredentials proxy;
    bool keepAlive;
};
int ComposeGet(const GetRequest& request, char* buffer, int size);

// The CONNECT for a tunnel to the target's host and port, as ComposeGet.
int ComposeConnect(const IAD_URL& target, HttpCredentials proxy, bool keepAlive, char* buffer, int size);
