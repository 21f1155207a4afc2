// Portable rules of the component catalogue: protocol names, version
// requirements, the directory of the program file and the names a
// component's file list may use.
#include "setup/component.h"

#include <cstdio>
#include <cstring>

#include "base/ascii_case.h"

namespace {

// Leading decimal digits of a number, at most 65535; no digits read as 0.
uint32_t VersionNumber(const char* text) {
    uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<uint32_t>(*text - '0');
        if (value > 0xFFFF) return 0xFFFF;
    }
    return value;
}

}  // namespace

int ProtocolFromName(const char* value) {
    if (!value) return ProtocolSelfext;
    if (EqualNoCase(value, "copy")) return ProtocolCopy;
    if (EqualNoCase(value, "cdrom")) return ProtocolCdrom;
    if (EqualNoCase(value, "ftp")) return ProtocolFtp;
    if (!std::strcmp(value, "http")) return ProtocolHttp;
    return ProtocolSelfext;
}

void ParseVersionRequirement(const char* text, VersionRequirement* out) {
    out->useFileVersion = 0;
    out->high = 0;
    out->low = 0;
    if (!text) return;
    if (*text == '#') {
        out->useFileVersion = 1;
        ++text;
    }
    // Every "." ends a number, so an empty place ("4..21") is a 0 there
    // and the later numbers keep their places.
    uint32_t parts[4] = {0, 0, 0, 0};
    const char* cursor = text;
    for (int i = 0; i < 4; ++i) {
        parts[i] = VersionNumber(cursor);
        cursor = std::strchr(cursor, '.');
        if (!cursor) break;
        ++cursor;
    }
    out->high = (parts[0] << 16) | parts[1];
    out->low = (parts[2] << 16) | parts[3];
}

int VersionAtLeast(uint32_t high, uint32_t low, const VersionRequirement* required) {
    if (high != required->high) return high > required->high;
    return low >= required->low;
}

void ProgramDirectory(const char* programPath, char* out, int size) {
    if (!out || size <= 0) return;
    const char* slash = programPath ? std::strrchr(programPath, '\\') : nullptr;
    if (!slash) {
        // A bare file name lies in the current directory.
        std::snprintf(out, static_cast<size_t>(size), "%s", ".");
        return;
    }
    int length = static_cast<int>(slash - programPath);
    if (length > size - 1) length = size - 1;
    std::memcpy(out, programPath, static_cast<size_t>(length));
    out[length] = '\0';
}

namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A path part made of dots and blanks only, with at least two dots: the
// file system reads it as "..".
bool ClimbsOut(const char* part, size_t length) {
    int dots = 0;
    for (size_t i = 0; i < length; ++i) {
        if (part[i] == '.')
            ++dots;
        else if (part[i] != ' ')
            return false;
    }
    return dots >= 2;
}
}  // namespace

int IsSafeFileName(const char* name) {
    if (!name || !*name || IsSeparator(name[0])) return 0;
    if (std::strchr(name, ':')) return 0;
    const char* part = name;
    for (const char* p = name;; ++p) {
        if (*p == '\0' || IsSeparator(*p)) {
            if (ClimbsOut(part, static_cast<size_t>(p - part))) return 0;
            if (*p == '\0') break;
            part = p + 1;
        }
    }
    return 1;
}

int AreFileNamesSafe(const char* list) {
    if (!list) return 1;
    const char* p = list;
    char name[300];
    for (;;) {
        while (*p == ',' || *p == ' ') ++p;
        if (!*p) return 1;
        size_t n = 0;
        while (p[n] && p[n] != ',' && p[n] != ' ') ++n;
        // A name longer than any list the catalogue reads is no file name.
        if (n >= sizeof name) return 0;
        std::memcpy(name, p, n);
        name[n] = '\0';
        if (!IsSafeFileName(name)) return 0;
        p += n;
    }
}
