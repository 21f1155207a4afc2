// URL texts taken apart, and where a redirect may lead.
#include "http/http_url.h"

#include <cstdlib>
#include <cstring>

#include "base/ascii_case.h"

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

}  // namespace

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
