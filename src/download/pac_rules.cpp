// Text rules of proxy auto-configuration answers and lookup addresses.
#include "download/pac_rules.h"

#include <cstdio>
#include <cstring>

#include "base/ascii_case.h"
#include "base/text_copy.h"
#include "http/http_url.h"

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// True when [p, end) begins with `word` (any case) followed by a blank or
// the end; *after then points past the blanks behind it.
bool TakeWord(const char* p, const char* end, const char* word, const char** after) {
    if (!StartsNoCase(p, size_t(end - p), word)) return false;
    const char* q = p + std::strlen(word);
    if (q < end && !IsBlank(*q)) return false;
    while (q < end && IsBlank(*q)) ++q;
    *after = q;
    return true;
}

// One entry [p, end) with its blanks trimmed; false when it gives nothing
// this client can use.
bool ParseEntry(const char* p, const char* end, PacEntry* out) {
    const char* after;
    if (TakeWord(p, end, "direct", &after)) {
        if (after != end) return false;
        out->direct = 1;
        out->address[0] = out->port[0] = 0;
        return true;
    }
    if (TakeWord(p, end, "proxy", &after) || TakeWord(p, end, "http", &after)) {
        p = after;
    } else {
        // A bare list entry; a selector names the protocol it is for.
        const char* eq = static_cast<const char*>(std::memchr(p, '=', size_t(end - p)));
        if (eq) {
            if (!StartsNoCase(p, size_t(end - p), "http=")) return false;
            p = eq + 1;
        }
        for (const char* q = p; q < end; ++q)
            if (IsBlank(*q)) return false;  // "SOCKS host:1" and other schemes
    }
    if (StartsNoCase(p, size_t(end - p), "http://")) p += 7;
    // Anything after the host and port (a path, a second word) is not ours.
    const char* stop = p;
    while (stop < end && !IsBlank(*stop) && *stop != '/') ++stop;
    if (stop != end && *stop != '/') return false;
    const char* colon = nullptr;
    for (const char* q = p; q < stop; ++q)
        if (*q == ':') colon = q;
    const char* hostEnd = colon ? colon : stop;
    size_t hostLength = size_t(hostEnd - p);
    if (hostLength == 0 || hostLength >= sizeof out->address) return false;
    size_t portLength = colon ? size_t(stop - colon - 1) : 0;
    if (portLength >= sizeof out->port) return false;
    for (size_t i = 0; i < portLength; ++i)
        if (colon[1 + i] < '0' || colon[1 + i] > '9') return false;
    out->direct = 0;
    std::memcpy(out->address, p, hostLength);
    out->address[hostLength] = 0;
    if (portLength) std::memcpy(out->port, colon + 1, portLength);
    out->port[portLength] = 0;
    return true;
}

bool SameEntry(const PacEntry& a, const PacEntry& b) {
    return a.direct == b.direct && std::strcmp(a.address, b.address) == 0 && std::strcmp(a.port, b.port) == 0;
}
}  // namespace

int ParsePacAnswer(const char* answer, PacEntry* entries, int capacity) {
    if (!answer || capacity <= 0) return 0;
    int count = 0;
    const char* p = answer;
    while (*p && count < capacity) {
        const char* end = p;
        while (*end && *end != ';') ++end;
        const char* b = p;
        const char* e = end;
        while (b < e && IsBlank(*b)) ++b;
        while (e > b && IsBlank(e[-1])) --e;
        PacEntry entry;
        if (b < e && ParseEntry(b, e, &entry)) {
            bool seen = false;
            for (int i = 0; i < count && !seen; ++i) seen = SameEntry(entries[i], entry);
            if (!seen) entries[count++] = entry;
        }
        p = *end ? end + 1 : end;
    }
    return count;
}

bool PacLookupUrl(const char* site, const char* remotePath, const char* fileName, char* out, int size) {
    // The site's own scheme, host and port: an https site is asked about as
    // https, and user information never goes to the script.
    IAD_URL parsed(site ? site : "");
    return FormatUrl(out, size, parsed, nullptr, nullptr, remotePath, fileName);
}
