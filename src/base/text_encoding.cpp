// Telling a file's encoding from its bytes.
#include "base/text_encoding.h"

namespace {
bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Bytes of the sequence starting at `p` when it is valid UTF-8, else 0.
size_t ValidSequence(const unsigned char* p, size_t left) {
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;   // overlong
        if (c == 0xED) high = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;   // overlong
        if (c == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (!IsContinuation(p[i])) return 0;
    return length;
}
}  // namespace

bool IsValidUtf8(const unsigned char* bytes, size_t length) {
    size_t i = 0;
    while (i < length) {
        const size_t n = ValidSequence(bytes + i, length - i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

TextEncoding DetectTextEncoding(const unsigned char* bytes, size_t length) {
    if (length >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return EncodingUtf16Le;
    if (length >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) return EncodingUtf16Be;
    if (length >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) return EncodingUtf8Bom;
    bool ascii = true;
    for (size_t i = 0; i < length && ascii; ++i) ascii = bytes[i] < 0x80;
    if (ascii) return EncodingAscii;
    return IsValidUtf8(bytes, length) ? EncodingUtf8 : EncodingLegacy;
}
