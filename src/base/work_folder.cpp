// The names of the working folders and the rule that tells a download folder.
#include "base/work_folder.h"

#include <cstdio>
#include <cstring>

#include "base/ascii_case.h"

const char kDownloadFolderPrefix[] = "inst";
const char kPackageFolderPrefix[] = "INS";

namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsHex(char c) {
    c = AsciiLower(c);
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// prefix, minDigits..maxDigits hex digits, ".tmp", nothing after.
bool HasShape(const char* name, const char* prefix, size_t minDigits, size_t maxDigits) {
    if (!StartsNoCase(name, prefix)) return false;
    const char* p = name + std::strlen(prefix);
    size_t digits = 0;
    while (IsHex(p[digits])) ++digits;
    if (digits < minDigits || digits > maxDigits) return false;
    p += digits;
    return StartsNoCase(p, ".tmp") && p[4] == '\0';
}
}  // namespace

int FormatWorkFolderName(const char* prefix, unsigned long number, char* out, int size) {
    if (size <= 0) return 0;
    int n = std::snprintf(out, static_cast<size_t>(size), "%s%08lx.tmp", prefix ? prefix : "",
                          number & 0xffffffffUL);
    if (n < 0 || n >= size) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

int IsDownloadFolderName(const char* name) {
    if (!name) return 0;
    return HasShape(name, kDownloadFolderPrefix, 1, 8) || HasShape(name, "ins", 1, 4);
}

int IsDownloadFolderPath(const char* path, const char* tempFolder) {
    if (!path || !tempFolder) return 0;
    size_t folderLength = std::strlen(tempFolder);
    while (folderLength > 0 && IsSeparator(tempFolder[folderLength - 1])) --folderLength;
    if (folderLength == 0) return 0;
    if (std::strlen(path) <= folderLength || !EqualNoCaseN(path, tempFolder, folderLength)) return 0;
    // Exactly one separator between the folder and the name, and the name
    // is the last part.
    const char* name = path + folderLength;
    if (!IsSeparator(*name)) return 0;
    ++name;
    for (const char* p = name; *p; ++p)
        if (IsSeparator(*p)) return 0;
    // The temporary folder itself must be named plainly: "." and ".." parts
    // would let a path look like it lies there while it does not.
    for (const char* p = tempFolder; p < tempFolder + folderLength; ++p) {
        if (*p != '.') continue;
        const bool starts = p == tempFolder || IsSeparator(p[-1]);
        const char* q = p;
        while (q < tempFolder + folderLength && *q == '.') ++q;
        const bool ends = q == tempFolder + folderLength || IsSeparator(*q);
        if (starts && ends) return 0;
    }
    return IsDownloadFolderName(name);
}
