// Text rules of browser proxy discovery.
#include "download/proxy_rules.h"

#include <cstdio>
#include <cstring>

#include "base/ascii_case.h"
#include "base/text_copy.h"
#include "download/line_file.h"

namespace {
const char kPrefix[] = "http://";
const char kKey[] = "network.proxy.http";

// Skips up to `count` characters, never past the end of the text.
const char* SkipAtMost(const char* p, int count) {
    while (count-- > 0 && *p) ++p;
    return p;
}

void CutAtLast(char* text, char c) {
    char* p = std::strrchr(text, c);
    if (p) *p = 0;
}
}  // namespace

void StripHttpPrefix(char* text) {
    size_t n = sizeof kPrefix - 1;
    if (std::strncmp(text, kPrefix, n) == 0) std::memmove(text, text + n, std::strlen(text + n) + 1);
}

void ReadPrefsLine(const char* line, char* address, int addressSize, int* addressFound,
                   char* port, int portSize) {
    const char* key = std::strstr(line, kKey);
    if (!key) return;
    const char* after = key + sizeof kKey - 1;
    if (*after == '"') {
        // "network.proxy.http", "host"  -> skip the quote, comma, blank, quote.
        const char* p = SkipAtMost(after, 4);
        if (std::strncmp(p, kPrefix, sizeof kPrefix - 1) == 0) p += sizeof kPrefix - 1;
        CopyTruncated(address, addressSize, p);
        CutAtLast(address, '"');
        *addressFound = 1;
    } else if (std::strncmp(after, "_port", 5) == 0) {
        // "network.proxy.http_port", 8080)  -> skip the quote, comma, blank.
        const char* p = SkipAtMost(after + 5, 3);
        CopyTruncated(port, portSize, p);
        CutAtLast(port, ')');
    }
}

bool PickHttpProxyEntry(char* value) {
    if (!std::strchr(value, '=')) return true;
    const char* p = value;
    while (*p) {
        while (*p == ';' || *p == ' ' || *p == '\t') ++p;
        const char* end = p;
        while (*end && *end != ';') ++end;
        if (StartsNoCase(p, static_cast<size_t>(end - p), "http=")) {
            const char* from = p + 5;
            while (from < end && (*from == ' ' || *from == '\t')) ++from;
            const char* to = end;
            while (to > from && (to[-1] == ' ' || to[-1] == '\t')) --to;
            size_t n = static_cast<size_t>(to - from);
            std::memmove(value, from, n);
            value[n] = 0;
            return n > 0;
        }
        p = end;
    }
    value[0] = 0;
    return false;
}

void SplitProxyServer(char* address, char* port, int portSize) {
    // The prefix goes first, so that "http://host" is not split at its own
    // colon; with a port after the host the result is the same either way.
    StripHttpPrefix(address);
    char* colon = std::strrchr(address, ':');
    if (colon) {
        CopyTruncated(port, portSize, colon + 1);
        *colon = 0;
    } else if (portSize > 0) {
        port[0] = 0;
    }
}

bool PrefsFilePath(const char* installDirectory, const char* profile, char* out, int size) {
    const char* slash = std::strrchr(installDirectory, '\\');
    if (!slash) return false;
    int n = static_cast<int>(slash - installDirectory) + 1;
    int written = std::snprintf(out, size, "%.*sUsers\\%s\\prefs.js", n, installDirectory, profile);
    return written >= 0 && written < size;
}

namespace {
// "*" matches any run, every other character itself without regard to
// case. Iterative, with one point to go back to, so a long pattern of
// stars costs no more than the text's length times the pattern's.
bool MatchesPattern(const char* text, const char* pattern, const char* patternEnd) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*text) {
        if (pattern < patternEnd && *pattern == '*') {
            star = pattern++;
            resume = text;
        } else if (pattern < patternEnd && AsciiLower(*pattern) == AsciiLower(*text)) {
            ++pattern;
            ++text;
        } else if (star) {
            pattern = star + 1;
            text = ++resume;
        } else {
            return false;
        }
    }
    while (pattern < patternEnd && *pattern == '*') ++pattern;
    return pattern == patternEnd;
}

bool IsSingleLabel(const char* host) {
    bool letter = false;
    for (const char* p = host; *p; ++p) {
        char c = AsciiLower(*p);
        bool digit = c >= '0' && c <= '9';
        if (!digit && !(c >= 'a' && c <= 'z') && c != '-' && c != '_') return false;
        letter |= !digit;
    }
    return letter;
}

// Letters, digits, "-", "_" and "." only: anything else is no host name
// (and "<local>" in the list must never match a host called so).
bool IsHostName(const char* host) {
    for (const char* p = host; *p; ++p) {
        char c = AsciiLower(*p);
        if (!(c >= 'a' && c <= 'z') && !(c >= '0' && c <= '9') && c != '-' && c != '_' && c != '.') return false;
    }
    return true;
}
}  // namespace

bool IsIntranetHost(const char* host, const char* intranetNames) {
    if (!host || !host[0] || !IsHostName(host)) return false;
    if (IsSingleLabel(host)) return true;
    const char* p = intranetNames ? intranetNames : "";
    while (*p) {
        while (*p == ';' || *p == ' ' || *p == '\t') ++p;
        const char* end = p;
        while (*end && *end != ';') ++end;
        const char* last = end;
        while (last > p && (last[-1] == ' ' || last[-1] == '\t')) --last;
        // "<local>" (the single labels, let through above) matches no name.
        if (last > p && MatchesPattern(host, p, last)) return true;
        p = end;
    }
    return false;
}

bool MayOfferOwnLogin(ProxyOrigin origin, const char* host, const char* intranetNames) {
    return origin == ProxyConfigured || IsIntranetHost(host, intranetNames);
}

namespace {
bool IsHostCharacter(char c) {
    c = AsciiLower(c);
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
}

// "host:port" of [from, end) into host and port; false for anything that is
// not exactly a host and a port of 1 to 65535 (or a missing one, when
// `defaultPort` is given), or does not fit.
bool SplitHostPort(const char* from, const char* end, const char* defaultPort, char* host, int hostSize, char* port,
                   int portSize) {
    const char* hostEnd = nullptr;
    if (from < end && *from == '[') {
        const char* close = from + 1;
        while (close < end && *close != ']') {
            char c = AsciiLower(*close);
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == ':' || c == '.')) return false;
            ++close;
        }
        if (close >= end || close == from + 1) return false;
        hostEnd = close + 1;
    } else {
        hostEnd = from;
        while (hostEnd < end && IsHostCharacter(*hostEnd)) ++hostEnd;
        if (hostEnd == from) return false;
    }
    const char* digits = nullptr;
    if (hostEnd == end) {
        if (!defaultPort) return false;
    } else {
        if (*hostEnd != ':' || hostEnd + 1 == end) return false;
        digits = hostEnd + 1;
    }
    long number = 0;
    if (digits) {
        for (const char* p = digits; p < end; ++p) {
            if (*p < '0' || *p > '9') return false;
            number = number * 10 + (*p - '0');
            if (number > 65535) return false;
        }
        if (number < 1) return false;
    }
    size_t hostLength = static_cast<size_t>(hostEnd - from);
    if (hostSize <= 0 || hostLength >= static_cast<size_t>(hostSize)) return false;
    char portText[8];
    if (digits) std::snprintf(portText, sizeof portText, "%ld", number);
    else CopyTruncated(portText, sizeof portText, defaultPort);
    if (portSize <= 0 || std::strlen(portText) >= static_cast<size_t>(portSize)) return false;
    std::memcpy(host, from, hostLength);
    host[hostLength] = 0;
    CopyTruncated(port, portSize, portText);
    return true;
}

void Empty(char* text, int size) {
    if (size > 0) text[0] = 0;
}

bool StartsWithNoCase(const char* from, const char* end, const char* prefix) {
    for (; *prefix; ++prefix, ++from)
        if (from >= end || AsciiLower(*from) != AsciiLower(*prefix)) return false;
    return true;
}
}  // namespace

RunProxyKind ParseRunProxy(const char* value, char* host, int hostSize, char* port, int portSize) {
    Empty(host, hostSize);
    Empty(port, portSize);
    if (!value) return RunProxyUnset;
    const char* end = value + std::strlen(value);
    if (end - value == 6 && StartsWithNoCase(value, end, "direct")) return RunProxyDirect;
    if (SplitHostPort(value, end, nullptr, host, hostSize, port, portSize)) return RunProxyNamed;
    Empty(host, hostSize);
    Empty(port, portSize);
    return RunProxyInvalid;
}

bool PickMachineProxy(const char* list, char* host, int hostSize, char* port, int portSize) {
    Empty(host, hostSize);
    Empty(port, portSize);
    if (!list) return false;
    // The entry to take: the first "http=" one, else the first plain one.
    const char* chosen = nullptr;
    const char* chosenEnd = nullptr;
    bool chosenNamed = false;
    for (const char* p = list; *p;) {
        while (*p == ';' || *p == ' ' || *p == '\t') ++p;
        const char* end = p;
        while (*end && *end != ';' && *end != ' ' && *end != '\t') ++end;
        if (end == p) break;
        const char* equals = static_cast<const char*>(std::memchr(p, '=', static_cast<size_t>(end - p)));
        if (equals) {
            if (!chosenNamed && equals - p == 4 && StartsWithNoCase(p, equals, "http")) {
                chosen = equals + 1;
                chosenEnd = end;
                chosenNamed = true;
            }
        } else if (!chosen && (!std::strstr(p, "://") || std::strstr(p, "://") >= end ||
                               StartsWithNoCase(p, end, "http://"))) {
            // An entry of another scheme ("https://", "socks://") does not
            // serve plain HTTP requests.
            chosen = p;
            chosenEnd = end;
        }
        p = end;
    }
    if (!chosen) return false;
    if (StartsWithNoCase(chosen, chosenEnd, "http://")) chosen += 7;
    if (!SplitHostPort(chosen, chosenEnd, "80", host, hostSize, port, portSize)) {
        Empty(host, hostSize);
        Empty(port, portSize);
        return false;
    }
    return true;
}
