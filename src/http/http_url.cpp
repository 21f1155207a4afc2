// URL texts taken apart and built again, references resolved, and where a
// redirect may lead.
#include "http/http_url.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

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

// The characters that would end a user name or password, or move the host,
// are written "%XX" in URL texts ("%" itself included).
bool EscapedInUserInformation(char c) { return c == '%' || c == '/' || c == ':' || c == '@'; }

// User names and passwords come "%XX"-escaped where they hold a character
// that would end them; a "%" not followed by two hex digits stands for
// itself.
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

// Appends to a text of fixed size; remembers when something did not fit.
struct TextOut {
    char* out;
    int size;
    int used;
    bool cut;

    void Add(const char* text) {
        for (; *text; ++text) Put(*text);
    }
    void Put(char c) {
        if (used + 1 >= size) {
            cut = true;
            return;
        }
        out[used++] = c;
        out[used] = '\0';
    }
    void AddUserInformation(const char* user, const char* password) {
        AddEscaped(user);
        Put(':');
        AddEscaped(password ? password : "");
        Put('@');
    }
    void AddEscaped(const char* text) {
        static const char hex[] = "0123456789ABCDEF";
        for (; *text; ++text) {
            unsigned char c = static_cast<unsigned char>(*text);
            if (!EscapedInUserInformation(*text)) {
                Put(*text);
                continue;
            }
            Put('%');
            Put(hex[c >> 4]);
            Put(hex[c & 15]);
        }
    }
};

const char* SchemeText(UrlScheme scheme) {
    return scheme == kUrlHttps ? "https" : scheme == kUrlFtp ? "ftp" : "http";
}

uint16_t DefaultPort(UrlScheme scheme) { return scheme == kUrlHttps ? 443 : scheme == kUrlFtp ? 21 : 80; }

// "scheme:" of a reference: a letter, then letters, digits, "+", "-", "."
// up to a ":" before any "/", "?" or "#".
bool NamesAScheme(const char* reference) {
    const char* p = reference;
    bool letter = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z');
    if (!letter) return false;
    for (++p; *p && *p != '/' && *p != '?' && *p != '#'; ++p) {
        if (*p == ':') return true;
        bool ok = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') || *p == '+' ||
                  *p == '-' || *p == '.';
        if (!ok) return false;
    }
    return false;
}

// A path beginning with "/" with its "." and ".." segments resolved, as a
// new text: "/a/b/../c" is "/a/c", a ".." at the root stays at the root.
char* WithoutDotSegments(const char* path, size_t length) {
    char* out = static_cast<char*>(std::malloc(length + 2));
    if (!out) return nullptr;
    size_t o = 0;
    const char* p = path;
    const char* end = path + length;
    while (p < end) {
        const char* segment = p + 1;  // p is at a "/"
        const char* next = segment;
        while (next < end && *next != '/') ++next;
        size_t n = size_t(next - segment);
        bool last = next == end;
        if (n == 1 && segment[0] == '.') {
            if (last) out[o++] = '/';
        } else if (n == 2 && segment[0] == '.' && segment[1] == '.') {
            while (o > 0 && out[o - 1] != '/') --o;
            if (o > 0) --o;
            if (last) out[o++] = '/';
        } else {
            out[o++] = '/';
            std::memcpy(out + o, segment, n);
            o += n;
        }
        p = next;
    }
    if (o == 0) out[o++] = '/';
    out[o] = '\0';
    return out;
}

}  // namespace

IAD_URL::IAD_URL(const char* text, UrlScheme assumed)
    : user(nullptr), password(nullptr), host(nullptr), path(nullptr), port(0), scheme(assumed), secure(false),
      valid(true) {
    if (!text) text = "";
    const char* rest = text;
    if (StartsNoCase(rest, "http://")) {
        rest += 7;
        scheme = kUrlHttp;
    } else if (StartsNoCase(rest, "https://")) {
        rest += 8;
        scheme = kUrlHttps;
    } else if (StartsNoCase(rest, "ftp://")) {
        rest += 6;
        scheme = kUrlFtp;
    }
    secure = scheme == kUrlHttps;
    port = default_port();
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
        // Digits only, within 1 to 65535: anything else would connect to a
        // port nobody wrote.
        unsigned long value = 0;
        const char* d = colon + 1;
        for (; d < authorityEnd && *d >= '0' && *d <= '9' && value <= 65535; ++d) value = value * 10 + (*d - '0');
        valid = d == authorityEnd && d > colon + 1 && value >= 1 && value <= 65535;
        port = valid ? uint16_t(value) : 0;
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

uint16_t IAD_URL::default_port() const { return DefaultPort(scheme); }

bool RedirectAllowed(const IAD_URL& from, const IAD_URL& to) {
    return to.scheme != kUrlFtp && (to.secure || !from.secure);
}

bool IAD_URL::same_site(const IAD_URL& other) const {
    return host && other.host && port == other.port && scheme == other.scheme && EqualNoCase(host, other.host);
}

void IAD_URL::copy_credentials(const IAD_URL& other) {
    char* u = CopyText(other.user);
    char* p = CopyText(other.password);
    std::free(user);
    std::free(password);
    user = u;
    password = p;
}

bool FormatUserInformation(char* out, int size, const char* user, const char* password) {
    if (size <= 0) return false;
    out[0] = '\0';
    TextOut t = {out, size, 0, false};
    t.AddUserInformation(user ? user : "", password);
    if (t.cut) out[0] = '\0';
    return !t.cut;
}

bool FormatUrl(char* out, int size, const IAD_URL& site, const char* user, const char* password, const char* more,
               const char* name) {
    if (size <= 0) return false;
    out[0] = '\0';
    if (!site.host || !site.host[0] || !site.valid) return false;
    TextOut t = {out, size, 0, false};
    t.Add(SchemeText(site.scheme));
    t.Add("://");
    if (user) t.AddUserInformation(user, password);
    t.Add(site.host);
    if (site.port != site.default_port()) {
        char port[8];
        std::snprintf(port, sizeof port, ":%u", unsigned(site.port));
        t.Add(port);
    }
    t.Add(site.path ? site.path : "/");
    t.Add(more ? more : "");
    t.Add(name ? name : "");
    if (t.cut) out[0] = '\0';
    return !t.cut;
}

IAD_URL* ResolveReference(const IAD_URL& base, const char* reference) {
    // Blanks around the value are not part of it.
    while (*reference == ' ' || *reference == '\t') ++reference;
    size_t length = std::strlen(reference);
    while (length > 0 && (reference[length - 1] == ' ' || reference[length - 1] == '\t')) --length;
    // A fragment names a place inside the answer; it never goes to a server.
    const char* hash = static_cast<const char*>(std::memchr(reference, '#', length));
    if (hash) length = size_t(hash - reference);
    char* ref = CopyText(reference, length);
    if (!ref) return nullptr;
    IAD_URL* result = nullptr;
    if (StartsNoCase(ref, "http://") || StartsNoCase(ref, "https://")) {
        result = new (std::nothrow) IAD_URL(ref);
    } else if (NamesAScheme(ref)) {
        result = nullptr;  // ftp:, file:, javascript: ... are no place to fetch from
    } else if (ref[0] == '/' && ref[1] == '/') {
        size_t n = std::strlen(SchemeText(base.scheme)) + 1 + length + 1;
        char* text = static_cast<char*>(std::malloc(n));
        if (text) {
            std::snprintf(text, n, "%s:%s", SchemeText(base.scheme), ref);
            result = new (std::nothrow) IAD_URL(text);
            std::free(text);
        }
    } else {
        // A path: absolute, or merged with the directory of base's path.
        // Without a path of its own the reference keeps base's, and its
        // query unless it brings one.
        const char* basePath = base.path ? base.path : "/";
        size_t baseLength = std::strcspn(basePath, "?");
        const char* query = std::strchr(ref, '?');
        size_t refPath = query ? size_t(query - ref) : length;
        if (!query && refPath == 0) query = basePath[baseLength] ? basePath + baseLength : nullptr;
        size_t dir = baseLength;
        if (ref[0] != '/' && refPath > 0)
            while (dir > 0 && basePath[dir - 1] != '/') --dir;
        size_t merged = (ref[0] == '/' ? 0 : dir) + refPath;
        char* joined = static_cast<char*>(std::malloc(merged + 2));
        if (joined) {
            size_t j = 0;
            if (ref[0] != '/') {
                std::memcpy(joined, basePath, refPath > 0 ? dir : baseLength);
                j = refPath > 0 ? dir : baseLength;
            }
            std::memcpy(joined + j, ref, refPath);
            j += refPath;
            if (j == 0 || joined[0] != '/') {
                std::memmove(joined + 1, joined, j);
                joined[0] = '/';
                ++j;
            }
            joined[j] = '\0';
            char* clean = WithoutDotSegments(joined, j);
            std::free(joined);
            if (clean && base.host) {
                // Built from base's parts, so its host and port stay as they are.
                size_t n = std::strlen(base.host) + std::strlen(clean) + (query ? std::strlen(query) : 0) + 24;
                char* text = static_cast<char*>(std::malloc(n));
                if (text) {
                    std::snprintf(text, n, "%s://%s:%u%s%s", SchemeText(base.scheme), base.host, unsigned(base.port),
                                  clean, query ? query : "");
                    result = new (std::nothrow) IAD_URL(text);
                    std::free(text);
                }
            }
            std::free(clean);
        }
    }
    std::free(ref);
    if (result && (!result->host)) {
        delete result;
        result = nullptr;
    }
    return result;
}
