// Text of the run log: stamps, masking of secrets, transfer figures and the
// names of log files.
#include "base/log_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/ascii_case.h"

namespace {
const char kMask[] = "***";

// Appends to a terminated text in a fixed buffer; what does not fit is cut.
struct Out {
    char* text;
    int size;
    int length;

    Out(char* out, int size) : text(out), size(size), length(0) {
        if (size > 0) out[0] = 0;
    }
    void Put(char c) {
        if (length + 1 >= size) return;
        text[length++] = c;
        text[length] = 0;
    }
    void Put(const char* s, int n) {
        for (int i = 0; i < n; ++i) Put(s[i]);
    }
    void Put(const char* s) { Put(s, static_cast<int>(std::strlen(s))); }
};

bool EndsWithText(const char* a, int n, const char* suffix) {
    int m = static_cast<int>(std::strlen(suffix));
    return n >= m && EqualNoCase(a + n - m, static_cast<size_t>(m), suffix);
}

bool IsBlank(char c) { return c == ' '; }
bool EndsToken(char c) { return c == 0 || c == ' ' || c == '"' || c == '\''; }

// A key whose value is a secret: "...password" followed by '=' or ':'.
// Returns the position of the separator within the token, or -1.
int SecretKeyEnd(const char* token, int n) {
    for (int i = 0; i < n; ++i) {
        if (token[i] != '=' && token[i] != ':') continue;
        return EndsWithText(token, i, "password") ? i : -1;
    }
    return -1;
}

// The password of "user:password@host" within a token: [begin, end) or
// false. The last '@' ends the user part, so a password holding '@' is
// covered whole; after "://" the user part starts there.
bool AddressPassword(const char* token, int n, int* begin, int* end) {
    int at = -1;
    for (int i = 0; i < n; ++i)
        if (token[i] == '@') at = i;
    if (at < 0) return false;
    int start = 0;
    for (int i = 0; i + 2 < at; ++i) {
        if (token[i] == ':' && token[i + 1] == '/' && token[i + 2] == '/') {
            start = i + 3;
            break;
        }
    }
    for (int i = start; i < at; ++i) {
        if (token[i] == ':') {
            *begin = i + 1;
            *end = at;
            return *begin < *end;
        }
    }
    return false;
}

// Text of a non-negative integer; long long without printf's length
// modifiers, which not every C library of the targets reads alike.
void PutNumber(Out* out, unsigned long long value) {
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    while (n > 0) out->Put(digits[--n]);
}

// value / 10 with one decimal: "48.8".
void PutTenths(Out* out, unsigned long long tenths) {
    PutNumber(out, tenths / 10);
    out->Put('.');
    out->Put(static_cast<char>('0' + tenths % 10));
}

// a * b / c for non-negative values without overflow of the product, cut
// at the largest value when the result itself does not fit.
unsigned long long MulDiv(unsigned long long a, unsigned long long b, unsigned long long c) {
    const unsigned long long kMax = ~0ULL >> 1;
    unsigned long long q = a / c;
    unsigned long long r = a % c;
    if (q != 0 && b > kMax / q) return kMax;
    unsigned long long whole = q * b;
    // r < c, so r * b fits whenever b and c are the small scales used here.
    unsigned long long part = (b != 0 && r > kMax / b) ? MulDiv(b, r, c) : r * b / c;
    if (whole > kMax - part) return kMax;
    return whole + part;
}

const char* BaseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    return name;
}

// Length of the program part of a module name: without its extension.
int StemLength(const char* name) {
    const char* dot = std::strrchr(name, '.');
    return dot ? static_cast<int>(dot - name) : static_cast<int>(std::strlen(name));
}

// Case-blind order: names that differ only in the case of the program part
// (the file system keeps either) still sort by their stamps.
int CompareText(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = AsciiLower(*a), y = AsciiLower(*b);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
        if (!x) return 0;
    }
}

bool AllDigits(const char* s, int n) {
    for (int i = 0; i < n; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}
}  // namespace

void FormatLogStamp(const LogTime& t, char* out, int size) {
    std::snprintf(out, static_cast<size_t>(size > 0 ? size : 0), "%04d-%02d-%02d %02d:%02d:%02d.%03d",
                  t.year % 10000, t.month % 100, t.day % 100, t.hour % 100, t.minute % 100,
                  t.second % 100, t.millisecond % 1000);
}

void ReplaceSecrets(const char* text, const char* const* secrets, int count, char* out, int size) {
    Out o(out, size);
    if (!text) return;
    for (const char* p = text; *p;) {
        int matched = 0;
        for (int i = 0; i < count && !matched; ++i) {
            const char* s = secrets[i];
            int n = s ? static_cast<int>(std::strlen(s)) : 0;
            if (n >= kMinSecretLength && std::strncmp(p, s, static_cast<size_t>(n)) == 0) matched = n;
        }
        if (matched) {
            o.Put(kMask);
            p += matched;
        } else {
            o.Put(*p++);
        }
    }
}

void MaskSecrets(const char* text, char* out, int size) {
    Out o(out, size);
    if (!text) return;
    // Control characters first, in a copy that the token rules then read.
    size_t length = std::strlen(text);
    char* clean = static_cast<char*>(std::malloc(length + 1));
    if (!clean) return;  // nothing at all rather than something unmasked
    for (size_t i = 0; i <= length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        clean[i] = (c != 0 && (c < 0x20 || c == 0x7f)) ? ' ' : static_cast<char>(c);
    }
    bool maskNext = false;  // the token after "PASS" or "password:"
    for (const char* p = clean; *p;) {
        if (EndsToken(*p)) {
            o.Put(*p++);
            continue;
        }
        const char* token = p;
        int n = 0;
        while (!EndsToken(token[n])) ++n;
        p = token + n;
        if (maskNext) {
            maskNext = false;
            o.Put(kMask);
            continue;
        }
        if (EndsWithText(token, n, "authorization:")) {
            o.Put(token, n);
            o.Put(" ");
            o.Put(kMask);
            break;
        }
        if (n == 4 && std::strncmp(token, "PASS", 4) == 0 && IsBlank(*p)) {
            o.Put(token, n);
            maskNext = true;
            continue;
        }
        int key = SecretKeyEnd(token, n);
        if (key >= 0) {
            o.Put(token, key + 1);
            if (key + 1 < n) o.Put(kMask);
            else if (token[key] == ':' && IsBlank(*p)) maskNext = true;
            continue;
        }
        int begin = 0, end = 0;
        if (AddressPassword(token, n, &begin, &end)) {
            o.Put(token, begin);
            o.Put(kMask);
            o.Put(token + end, n - end);
            continue;
        }
        o.Put(token, n);
    }
    std::free(clean);
}

int FormatLogLine(const LogTime& time, const char* text, char* out, int size) {
    if (size <= 0) return 0;
    out[0] = 0;
    if (size < 3) return 0;
    char stamp[32];
    FormatLogStamp(time, stamp, sizeof stamp);
    Out o(out, size - 2);  // room for "\r\n" whatever the text's length
    o.Put(stamp);
    o.Put(' ');
    MaskSecrets(text, out + o.length, size - 2 - o.length);
    int length = o.length + static_cast<int>(std::strlen(out + o.length));
    out[length++] = '\r';
    out[length++] = '\n';
    out[length] = 0;
    return length;
}

long long AverageRate(long long bytes, long long milliseconds) {
    if (bytes <= 0) return 0;
    if (milliseconds < 1) milliseconds = 1;
    return static_cast<long long>(MulDiv(static_cast<unsigned long long>(bytes), 1000,
                                         static_cast<unsigned long long>(milliseconds)));
}

void FormatTransfer(long long bytes, long long milliseconds, char* out, int size) {
    Out o(out, size);
    if (bytes < 0) bytes = 0;
    if (milliseconds < 0) milliseconds = 0;
    PutNumber(&o, static_cast<unsigned long long>(bytes));
    o.Put(bytes == 1 ? " byte in " : " bytes in ");
    PutNumber(&o, static_cast<unsigned long long>(milliseconds / 1000));
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(milliseconds % 1000));
    o.Put(fraction);
    o.Put(" s (");
    unsigned long long rate = static_cast<unsigned long long>(AverageRate(bytes, milliseconds));
    if (rate < 1024) {
        PutNumber(&o, rate);
        o.Put(" B/s)");
    } else if (rate < 1024ULL * 1024) {
        PutTenths(&o, MulDiv(rate, 10, 1024));
        o.Put(" KB/s)");
    } else {
        PutTenths(&o, MulDiv(rate, 10, 1024ULL * 1024));
        o.Put(" MB/s)");
    }
}

void FormatLogFileName(const char* moduleFileName, const LogTime& t, char* out, int size) {
    Out o(out, size);
    const char* name = BaseName(moduleFileName ? moduleFileName : "");
    int stem = StemLength(name);
    if (stem == 0) {
        name = "cvget";
        stem = 5;
    }
    o.Put(name, stem);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "-%04d%02d%02d-%02d%02d%02d-%03d.log", t.year % 10000,
                  t.month % 100, t.day % 100, t.hour % 100, t.minute % 100, t.second % 100,
                  t.millisecond % 1000);
    // The stamp always fits whole: a cut program name still sorts by time.
    int room = size - 1 - static_cast<int>(std::strlen(stamp));
    if (room < 0) {
        if (size > 0) out[0] = 0;
        return;
    }
    if (o.length > room) {
        o.length = room;
        out[room] = 0;
    }
    o.Put(stamp);
}

bool IsRunLogName(const char* moduleFileName, const char* fileName) {
    const char* name = BaseName(moduleFileName ? moduleFileName : "");
    int stem = StemLength(name);
    if (stem == 0) {
        name = "cvget";
        stem = 5;
    }
    // <stem>-YYYYMMDD-HHMMSS-mmm.log
    const char* f = fileName ? fileName : "";
    if (static_cast<int>(std::strlen(f)) != stem + 24) return false;
    if (!EqualNoCaseN(f, name, static_cast<size_t>(stem))) return false;
    const char* t = f + stem;
    return t[0] == '-' && AllDigits(t + 1, 8) && t[9] == '-' && AllDigits(t + 10, 6) &&
           t[16] == '-' && AllDigits(t + 17, 3) && EqualNoCase(t + 20, 4, ".log");
}

int SelectOldLogs(const char* const* names, int count, int keep, int* remove) {
    int marked = 0;
    for (int i = 0; i < count; ++i) {
        // The names sort by start time: count the newer ones.
        int newer = 0;
        for (int j = 0; j < count; ++j) {
            int order = CompareText(names[j], names[i]);
            if (order > 0 || (order == 0 && j > i)) ++newer;
        }
        remove[i] = newer >= keep ? 1 : 0;
        marked += remove[i];
    }
    return marked;
}

bool CutLogSwitch(const char* commandLine, char* path, int pathSize, char* rest, int restSize) {
    return CutValueSwitch(commandLine, "-log ", path, pathSize, rest, restSize);
}

bool CutValueSwitch(const char* commandLine, const char* name, char* value, int valueSize, char* rest,
                    int restSize) {
    const char* cl = commandLine ? commandLine : "";
    Out p(value, valueSize);
    Out r(rest, restSize);
    const size_t nameLength = std::strlen(name);
    const char* inf = std::strstr(cl, "-inf ");
    const char* end = inf ? inf : cl + std::strlen(cl);
    const char* found = nullptr;
    for (const char* s = cl; s + nameLength <= end; ++s) {
        if (std::strncmp(s, name, nameLength) == 0 && (s == cl || IsBlank(s[-1]) || s[-1] == '\t')) {
            found = s;
            break;
        }
    }
    const char* begin = nullptr;
    const char* stop = nullptr;
    const char* after = nullptr;
    if (found) {
        const char* q = found + nameLength;
        while (q < end && IsBlank(*q)) ++q;
        if (q < end && *q == '"') {
            begin = q + 1;
            stop = begin;
            while (stop < end && *stop != '"') ++stop;
            after = stop < end ? stop + 1 : stop;
        } else {
            begin = q;
            stop = begin;
            while (stop < end && !IsBlank(*stop)) ++stop;
            after = stop;
        }
        if (stop == begin) found = nullptr;
    }
    if (!found) {
        r.Put(cl);
        return false;
    }
    p.Put(begin, static_cast<int>(stop - begin));
    // The switch goes with the blanks after it, or before it at the end of
    // the line, so that the rest reads as if it had never been there.
    const char* cutFrom = found;
    const char* cutTo = after;
    while (*cutTo && IsBlank(*cutTo)) ++cutTo;
    if (cutTo == after && !*cutTo)
        while (cutFrom > cl && IsBlank(cutFrom[-1])) --cutFrom;
    r.Put(cl, static_cast<int>(cutFrom - cl));
    r.Put(cutTo);
    return true;
}
