// The list tokenizer, the cache of string sections and the %name%
// substitution that every text value of a setup description goes through.
#include "setup/profile.h"

#include <cstdlib>
#include <cstring>

#include "base/text_copy.h"

namespace {

// One loaded section; its entries follow the block in the same allocation,
// as the profile reader returned them and closed by an empty text. Blocks
// are never merged, so a section loaded later hides the same keys of
// earlier ones.
struct ProfileCacheBlock {
    ProfileCacheBlock* next;
    unsigned length;  // bytes of the entries, both closing NULs included
};

char* Entries(ProfileCacheBlock* block) { return reinterpret_cast<char*>(block + 1); }

ProfileCacheBlock* profileCache = nullptr;

// Names longer than this never match: cutting them could select another
// variable whose name happens to be the cut prefix.
const int kMaxVariableName = 127;

int LowerAscii(int c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// True when `key` (length keyLength) equals `name` without regard to ASCII case.
bool KeyMatches(const char* key, size_t keyLength, const char* name) {
    size_t i = 0;
    for (; i < keyLength; ++i) {
        if (!name[i]) return false;
        if (LowerAscii(static_cast<unsigned char>(key[i])) !=
            LowerAscii(static_cast<unsigned char>(name[i])))
            return false;
    }
    return name[i] == '\0';
}

}  // namespace

char* NextToken(char** cursor, const char* separators) {
    if (!cursor || !*cursor) return nullptr;
    char* p = *cursor;
    while (*p && std::strchr(separators, *p)) ++p;
    if (!*p) {
        *cursor = p;
        return nullptr;
    }
    char* token = p;
    while (*p && !std::strchr(separators, *p)) ++p;
    if (*p) {
        *p = '\0';
        ++p;
    }
    *cursor = p;
    return token;
}

void AddProfileSection(const char* entries, unsigned length) {
    if (!entries || length == 0 || length > 0x100000u) return;  // sections are 2 KB at most
    // Two closing NULs whatever the reader counted: the last entry's own
    // terminator and the empty text that ends the block.
    ProfileCacheBlock* block =
        static_cast<ProfileCacheBlock*>(std::malloc(sizeof(ProfileCacheBlock) + length + 2));
    if (!block) return;
    char* copy = Entries(block);
    std::memcpy(copy, entries, length);
    copy[length] = '\0';
    copy[length + 1] = '\0';
    block->length = length + 2;
    block->next = profileCache;
    profileCache = block;
}

const char* FindVariable(const char* name) {
    if (!name) return nullptr;
    for (ProfileCacheBlock* block = profileCache; block; block = block->next) {
        const char* end = Entries(block) + block->length;
        for (const char* entry = Entries(block); entry < end && *entry;
             entry += std::strlen(entry) + 1) {
            if (*entry == ';') continue;
            const char* equals = std::strchr(entry, '=');
            if (!equals) continue;
            if (KeyMatches(entry, static_cast<size_t>(equals - entry), name)) return equals + 1;
        }
    }
    return nullptr;
}

void ExpandVariables(const char* text, char* out, int size) {
    if (!out || size <= 0) return;
    const int limit = size - 1;
    int written = 0;
    bool full = false;
    // The first byte that does not fit ends the expansion; the cut falls
    // where that byte's character begins.
    auto put = [&](char c) {
        if (full) return;
        if (written >= limit) {
            written = CharacterCut(out, written, static_cast<unsigned char>(c));
            full = true;
            return;
        }
        out[written++] = c;
    };
    const char* p = text ? text : "";
    while (*p && !full) {
        if (*p != '%') {
            put(*p++);
            continue;
        }
        if (p[1] == '%') {
            put('%');
            p += 2;
            continue;
        }
        const char* nameStart = p + 1;
        const char* close = std::strchr(nameStart, '%');
        if (!close) break;  // unfinished reference: dropped, expansion ends
        const size_t nameLength = static_cast<size_t>(close - nameStart);
        if (nameLength <= static_cast<size_t>(kMaxVariableName)) {
            char name[kMaxVariableName + 1];
            std::memcpy(name, nameStart, nameLength);
            name[nameLength] = '\0';
            const char* value = FindVariable(name);
            while (value && *value && !full) put(*value++);
        }
        p = close + 1;
    }
    out[written] = '\0';
}

void ClearProfileCache() {
    while (profileCache) {
        ProfileCacheBlock* next = profileCache->next;
        std::free(profileCache);
        profileCache = next;
    }
}

SetupReading ChooseSetupReading(TextEncoding encoding, bool textsUtf8) {
    if (!textsUtf8) return ReadSetupAsItIs;
    // The mark is left to no profile reader: not every system skips it.
    if (encoding == EncodingUtf8Bom) return ReadSetupUtf16FromUtf8;
    if (encoding == EncodingLegacy) return ReadSetupUtf16FromLegacy;
    return ReadSetupAsItIs;
}
