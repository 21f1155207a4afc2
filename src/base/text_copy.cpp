// Cut-to-fit copies into fixed-size buffers; in the bottom layer because the
// portable download and install code uses them as much as start-up.
#include "base/text_copy.h"

#include <cstring>

namespace {
bool textsUtf8 = false;

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Bytes of the character a lead byte starts; 0 for a byte that starts none
// (ASCII, a continuation, or a lead that UTF-8 never uses).
int SequenceLength(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Where the character that ends `length` bytes into `text` starts, when it
// would need more bytes than lie before `length`; -1 otherwise. Stray
// continuation bytes belong to no character and are never dropped.
int OpenCharacterStart(const char* text, int length) {
    int start = length - 1;
    int back = 0;
    while (start >= 0 && back < 3 && IsContinuation(static_cast<unsigned char>(text[start]))) {
        --start;
        ++back;
    }
    if (start < 0) return -1;
    const int needed = SequenceLength(static_cast<unsigned char>(text[start]));
    return needed > 0 && start + needed > length ? start : -1;
}
}  // namespace

void SetTextsUtf8(bool on) { textsUtf8 = on; }

bool TextsUtf8() { return textsUtf8; }

int CharacterCut(const char* kept, int length, unsigned char next) {
    if (!textsUtf8 || length <= 0 || !IsContinuation(next)) return length;
    const int start = OpenCharacterStart(kept, length);
    return start >= 0 ? start : length;
}

void TrimCutCharacter(char* text) {
    if (!textsUtf8 || !text) return;
    const int start = OpenCharacterStart(text, static_cast<int>(std::strlen(text)));
    if (start >= 0) text[start] = 0;
}

bool LimitCharacters(char* text, int count) {
    if (!text) return false;
    if (count < 0) count = 0;
    int characters = 0;
    for (int i = 0; text[i]; ++i) {
        if (textsUtf8 && IsContinuation(static_cast<unsigned char>(text[i])) && i > 0) continue;
        if (characters == count) {
            text[i] = 0;
            return true;
        }
        ++characters;
    }
    return false;
}

bool CopyTruncated(char* out, int size, const char* text) {
    if (size <= 0) return false;
    if (!text) text = "";
    int n = 0;
    while (text[n] && n < size - 1) {
        out[n] = text[n];
        ++n;
    }
    const bool whole = text[n] == 0;
    if (!whole) n = CharacterCut(text, n, static_cast<unsigned char>(text[n]));
    out[n] = 0;
    return whole;
}

void AppendTruncated(char* out, int size, const char* text) {
    if (size <= 0) return;
    int used = static_cast<int>(strnlen(out, static_cast<size_t>(size)));
    if (used >= size) {
        out[size - 1] = 0;
        return;
    }
    CopyTruncated(out + used, size - used, text);
}
