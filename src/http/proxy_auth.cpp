// Parsing of proxy login offers and of the few headers the handshake needs.
#include "http/proxy_auth.h"

#include <cstdio>
#include <cstring>

#include "base/ascii_case.h"
#include "http/http_message.h"

namespace {
// Copies a text cut to the buffer's size, always terminated.
void CopyCut(char* out, int size, const char* text) {
    if (size <= 0) return;
    int n = 0;
    while (text[n] && n < size - 1) {
        out[n] = text[n];
        ++n;
    }
    out[n] = 0;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A word of a challenge: letters, digits and "-_." only.
bool IsTokenChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == '!' || c == '#' || c == '$' || c == '%' || c == '&' || c == '\'' || c == '*' ||
           c == '+' || c == '^' || c == '`' || c == '|' || c == '~';
}

bool IsBase64Char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=' || c == '-' || c == '_' || c == '.' || c == '~';
}

// One challenge [p, e): a scheme, then a token or parameters.
void TakeChallenge(const char* p, const char* e, ProxyChallenge* out) {
    const char* w = p;
    while (w < e && IsTokenChar(*w)) ++w;
    if (w == p) return;
    // "name=value" is a parameter of the challenge before it.
    if (w < e && *w == '=') return;
    if (w < e && !IsBlank(*w)) return;
    int n = static_cast<int>(w - p);
    int scheme = EqualNoCase(p, size_t(n), "basic") ? kSchemeBasic
                 : EqualNoCase(p, size_t(n), "ntlm") ? kSchemeNtlm
                 : EqualNoCase(p, size_t(n), "negotiate") ? kSchemeNegotiate
                                                 : 0;
    if (!scheme) {
        out->others = 1;
        return;
    }
    out->schemes |= scheme;
    if (scheme == kSchemeBasic) return;
    while (w < e && IsBlank(*w)) ++w;
    const char* t = w;
    while (t < e && IsBase64Char(*t)) ++t;
    if (t == w || t != e) return;  // no token, or something that is not one
    char* token = scheme == kSchemeNtlm ? out->ntlmToken : out->negotiateToken;
    int size = static_cast<int>(sizeof out->ntlmToken);
    if (t - w >= size) {
        out->tokenCut = 1;
        return;
    }
    std::memcpy(token, w, size_t(t - w));
    token[t - w] = 0;
}
}  // namespace

void ParseProxyChallenge(const char* header, int length, ProxyChallenge* out) {
    out->schemes = 0;
    out->others = 0;
    out->ntlmToken[0] = out->negotiateToken[0] = 0;
    out->tokenCut = 0;
    EachHeader(header, length, "proxy-authenticate", [&](const char* v, const char* e) {
        // Challenges are separated by commas outside quoted strings.
        const char* start = v;
        bool quoted = false;
        for (const char* p = v; p <= e; ++p) {
            if (p < e && *p == '"') quoted = !quoted;
            if (p == e || (*p == ',' && !quoted)) {
                const char* a = start;
                const char* b = p;
                while (a < b && IsBlank(*a)) ++a;
                while (b > a && IsBlank(b[-1])) --b;
                if (a < b) TakeChallenge(a, b, out);
                start = p + 1;
            }
        }
    });
}

int PickProxyScheme(int offered, int usable) {
    int both = offered & usable;
    if (both & kSchemeNegotiate) return kSchemeNegotiate;
    if (both & kSchemeNtlm) return kSchemeNtlm;
    if (both & kSchemeBasic) return kSchemeBasic;
    return 0;
}

int AnswerWithBasic(int offered) {
    return (offered & kSchemeBasic) && !(offered & (kSchemeNtlm | kSchemeNegotiate)) ? 1 : 0;
}

int BasicProxyMemory::Find(const char* host, int port) const {
    if (!host) return -1;
    for (int i = 0; i < count; ++i) {
        const Entry& e = entries[i];
        if (e.port == port && EqualNoCase(host, e.host)) return i;
    }
    return -1;
}

bool BasicProxyMemory::Knows(const char* host, int port) const { return Find(host, port) >= 0; }

void BasicProxyMemory::Remember(const char* host, int port) {
    if (!host || Find(host, port) >= 0) return;
    // A name too long for the entry is not remembered: a cut one could
    // stand for another proxy.
    if (std::strlen(host) >= sizeof entries[0].host) return;
    Entry& e = count < kEntries ? entries[count++] : entries[next++ % kEntries];
    for (int i = 0; host[i]; ++i) e.host[i] = AsciiLower(host[i]);
    e.host[std::strlen(host)] = 0;
    e.port = port;
}

void BasicProxyMemory::Forget(const char* host, int port) {
    int i = Find(host, port);
    if (i < 0) return;
    entries[i] = entries[--count];
}

const char* ProxySchemeName(int scheme) {
    switch (scheme) {
    case kSchemeNegotiate: return "Negotiate";
    case kSchemeNtlm: return "NTLM";
    case kSchemeBasic: return "Basic";
    default: return "";
    }
}

void DescribeProxySchemes(int schemes, char* out, int size) {
    if (size <= 0) return;
    out[0] = 0;
    const int order[] = {kSchemeNegotiate, kSchemeNtlm, kSchemeBasic};
    char text[64] = "";
    for (int scheme : order) {
        if (!(schemes & scheme)) continue;
        if (text[0]) std::strcat(text, ", ");
        std::strcat(text, ProxySchemeName(scheme));
    }
    CopyCut(out, size, text);
}

void SplitDomainUser(const char* text, char* domain, int domainSize, char* user, int userSize) {
    const char* slash = text ? std::strchr(text, '\\') : nullptr;
    if (!slash) {
        CopyCut(domain, domainSize, "");
        CopyCut(user, userSize, text ? text : "");
        return;
    }
    char d[260];
    int n = static_cast<int>(slash - text);
    if (n >= static_cast<int>(sizeof d)) n = static_cast<int>(sizeof d) - 1;
    std::memcpy(d, text, size_t(n));
    d[n] = 0;
    CopyCut(domain, domainSize, d);
    CopyCut(user, userSize, slash + 1);
}
