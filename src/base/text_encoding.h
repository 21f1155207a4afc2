// Which encoding a file's bytes are in, told from the bytes alone: a
// byte-order mark, or UTF-8 that decodes, or else the system's legacy code
// page. Portable: no Windows header.
#pragma once

#include <cstddef>

enum TextEncoding {
    EncodingAscii,    // no byte above 127: the same text in every encoding
    EncodingUtf8,     // valid UTF-8 without a byte-order mark
    EncodingUtf8Bom,  // begins with the UTF-8 byte-order mark
    EncodingUtf16Le,  // begins with FF FE
    EncodingUtf16Be,  // begins with FE FF
    EncodingLegacy,   // none of these: a legacy code page
};

TextEncoding DetectTextEncoding(const unsigned char* bytes, size_t length);
// Whether the bytes are UTF-8 as the standard allows it: no overlong
// forms, no surrogates, nothing above U+10FFFF, no sequence cut short.
bool IsValidUtf8(const unsigned char* bytes, size_t length);
