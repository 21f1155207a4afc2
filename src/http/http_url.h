// URL texts of the HTTP client taken apart: scheme, user information, host,
// port and path, and the rule of where a redirect may lead. Portable code.
#pragma once
#include <cstdint>

// A URL text "[http://|https://][user[:password]@]host[:port][/path]" taken
// apart. Absent texts are null; an empty user name or password is an empty
// text. Without a port, 80 for http and 443 for https. User information and
// port are found only before the first "/"; "%XX" escapes in the user name
// and password are decoded.
class IAD_URL {
public:
    explicit IAD_URL(const char* text);
    ~IAD_URL();
    IAD_URL(const IAD_URL&) = delete;
    IAD_URL& operator=(const IAD_URL&) = delete;

    // Takes over copies of the other record's user name and password
    // (absent there, absent here).
    void copy_credentials(const IAD_URL& other);
    // Same scheme, same host (without regard to case) and same port.
    bool same_site(const IAD_URL& other) const;

    char* user;
    char* password;
    char* host;  // null only when memory ran out
    char* path;  // from the first "/" after the host, query included
    uint16_t port;
    bool secure;  // "https://": fetched over TLS
};

// A redirect may go from http to https, never from https back to http:
// that would hand the rest of the fetch to anyone on the path.
bool RedirectAllowed(const IAD_URL& from, const IAD_URL& to);
