// Reading one value of a setup description from its text, and the first
// look at a package's setup descriptions.
#include "setup/defs_peek.h"

#include <cstdlib>
#include <cstring>

#include "base/ascii_case.h"
#include "setup/setup_keys.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Narrows [*begin, *end) to its text without blanks around it.
void Trim(const char** begin, const char** end) {
    while (*begin < *end && IsBlank(**begin)) ++*begin;
    while (*end > *begin && IsBlank((*end)[-1])) --*end;
}

bool Matches(const char* begin, const char* end, const char* name) {
    return EqualNoCase(begin, static_cast<size_t>(end - begin), name);
}

bool HasInfExtension(const char* name) {
    const size_t n = std::strlen(name);
    return n >= 4 && EqualNoCase(name + n - 4, ".inf");
}

}  // namespace

int IniTextValue(const char* text, size_t length, const char* section, const char* key, char* out,
                 int size) {
    if (out && size > 0) out[0] = '\0';
    if (!text || !section || !key) return 0;
    const char* p = text;
    const char* const stop = text + length;
    if (length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) p += 3;
    // 0: before the section, 1: in it, 2: past it.
    int place = 0;
    while (p < stop && place < 2) {
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(stop - p)));
        if (!lineEnd) lineEnd = stop;
        const char* begin = p;
        const char* end = lineEnd;
        p = lineEnd < stop ? lineEnd + 1 : stop;
        Trim(&begin, &end);
        if (begin == end) continue;
        if (*begin == '[') {
            const char* close = static_cast<const char*>(std::memchr(begin, ']', static_cast<size_t>(end - begin)));
            const char* nameBegin = begin + 1;
            const char* nameEnd = close ? close : end;
            Trim(&nameBegin, &nameEnd);
            if (place == 1) place = 2;
            else if (Matches(nameBegin, nameEnd, section)) place = 1;
            continue;
        }
        if (place != 1) continue;
        const char* equals = static_cast<const char*>(std::memchr(begin, '=', static_cast<size_t>(end - begin)));
        if (!equals) continue;
        const char* keyEnd = equals;
        const char* keyBegin = begin;
        Trim(&keyBegin, &keyEnd);
        if (!Matches(keyBegin, keyEnd, key)) continue;
        const char* valueBegin = equals + 1;
        const char* valueEnd = end;
        Trim(&valueBegin, &valueEnd);
        if (valueEnd - valueBegin >= 2 && (*valueBegin == '"' || *valueBegin == '\'') &&
            valueEnd[-1] == *valueBegin) {
            ++valueBegin;
            --valueEnd;
        }
        if (out && size > 0) {
            size_t n = static_cast<size_t>(valueEnd - valueBegin);
            if (n > static_cast<size_t>(size) - 1) n = static_cast<size_t>(size) - 1;
            std::memcpy(out, valueBegin, n);
            out[n] = '\0';
        }
        return 1;
    }
    return 0;
}

int TextForbidsIntervention(const char* text, size_t length) {
    char value[16];
    return IniTextValue(text, length, kDefsSection, SetupKeyName(KeyAllowIntervention), value, sizeof value) &&
           std::strcmp(value, "FALSE") == 0;
}

int PackageForbidsIntervention(PackageFile* package) {
    uint32_t offset = FirstRecordOffset(package);
    for (;;) {
        char name[kPackageNameMax];
        uint32_t length = 0;
        if (ReadRecord(package, &offset, name, sizeof name, &length) != RecordRead) return 0;
        if (!HasInfExtension(name) || length > kPeekLimit) continue;
        char* text = static_cast<char*>(std::malloc(length ? length : 1));
        if (!text) return 0;
        const int forbids = ReadRecordData(package, text, length) && TextForbidsIntervention(text, length);
        std::free(text);
        if (forbids) return 1;
    }
}
