// Portable rules of the component catalogue: protocol names, version
// requirements and the directory of the program file.
#include "setup/component.h"

#include <cstdio>
#include <cstring>


namespace {

bool EqualsIgnoringCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
        if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
        if (ca != cb) return false;
        if (!ca) return true;
    }
}

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
    if (EqualsIgnoringCase(value, "copy")) return ProtocolCopy;
    if (EqualsIgnoringCase(value, "cdrom")) return ProtocolCdrom;
    if (EqualsIgnoringCase(value, "ftp")) return ProtocolFtp;
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
