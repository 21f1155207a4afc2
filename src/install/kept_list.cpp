// The list of kept files: its lines, its reading and the names it is made of.
#include "install/kept_list.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/ascii_case.h"
#include "base/text_copy.h"
#include "setup/component.h"

const char kKeptListName[] = "cvkept.lst";
const char kKeptSumSwitch[] = "/KeptSum:";

namespace {
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool HasLineBreak(const char* name) { return std::strchr(name, '\n') || std::strchr(name, '\r'); }

// A decimal number of 64 bits at most.
bool ParseSize(const char* text, size_t length, unsigned long long* size) {
    if (length == 0 || length > 20) return false;
    unsigned long long value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (value > (~0ULL - digit) / 10) return false;
        value = value * 10 + digit;
    }
    *size = value;
    return true;
}
}  // namespace

int FormatKeptLine(const KeptFile& file, char* out, int size) {
    if (size <= 0) return 0;
    out[0] = '\0';
    if (!IsSafeFileName(file.name) || HasLineBreak(file.name)) return 0;
    char hex[kSha256HexLength + 1];
    Sha256Hex(file.digest, hex);
    int n = std::snprintf(out, static_cast<size_t>(size), "%s %llu %s\n", hex, file.size, file.name);
    if (n < 0 || n >= size) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

int ParseKeptList(const char* text, size_t length, int (*take)(const KeptFile& file, void* context),
                  void* context) {
    // The names seen so far, to refuse one listed twice.
    KeptNames set = {static_cast<char(*)[260]>(std::malloc(sizeof(char[260]) * kMaxKeptFiles)), 0};
    if (!set.names) return 0;
    int ok = 1;
    size_t at = 0;
    while (ok && at < length) {
        const char* line = text + at;
        const char* end = static_cast<const char*>(std::memchr(line, '\n', length - at));
        if (!end) {
            ok = 0;
            break;
        }
        const size_t lineLength = static_cast<size_t>(end - line);
        at += lineLength + 1;
        KeptFile file;
        // "<64 hex> <size> <name>"
        const char* sizeText = line + kSha256HexLength + 1;
        const char* blank = lineLength > static_cast<size_t>(kSha256HexLength) + 1
                                ? static_cast<const char*>(std::memchr(sizeText, ' ', static_cast<size_t>(end - sizeText)))
                                : nullptr;
        char hex[kSha256HexLength + 1];
        if (!blank || line[kSha256HexLength] != ' ') {
            ok = 0;
            break;
        }
        std::memcpy(hex, line, kSha256HexLength);
        hex[kSha256HexLength] = '\0';
        const size_t nameLength = static_cast<size_t>(end - blank - 1);
        if (!ParseSha256Hex(hex, file.digest) ||
            !ParseSize(sizeText, static_cast<size_t>(blank - sizeText), &file.size) || nameLength == 0 ||
            nameLength >= sizeof file.name || std::memchr(blank + 1, '\0', nameLength) ||
            std::memchr(blank + 1, '\r', nameLength)) {
            ok = 0;
            break;
        }
        std::memcpy(file.name, blank + 1, nameLength);
        file.name[nameLength] = '\0';
        const int before = set.count;
        if (!AddKeptName(&set, file.name) || set.count == before || !take(file, context)) ok = 0;
    }
    std::free(set.names);
    return ok;
}

int AddKeptName(KeptNames* set, const char* name) {
    if (!name || !IsSafeFileName(name) || HasLineBreak(name) || std::strlen(name) >= sizeof set->names[0])
        return 0;
    for (int i = 0; i < set->count; ++i)
        if (EqualNoCase(set->names[i], name)) return 1;
    if (set->count >= kMaxKeptFiles) return 0;
    CopyTruncated(set->names[set->count++], sizeof set->names[0], name);
    return 1;
}

int NameInFolder(const char* path, const char* folder, char* out, int size) {
    if (size <= 0) return 0;
    out[0] = '\0';
    if (!path || !folder) return 0;
    size_t length = std::strlen(folder);
    while (length > 0 && IsSeparator(folder[length - 1])) --length;
    if (length == 0 || std::strlen(path) <= length + 1 || !EqualNoCaseN(path, folder, length) ||
        !IsSeparator(path[length]))
        return 0;
    const char* name = path + length + 1;
    if (IsSeparator(*name)) return 0;
    return CopyTruncated(out, size, name) ? 1 : (out[0] = '\0', 0);
}
