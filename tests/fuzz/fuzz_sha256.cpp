// Fuzzes SHA-256 streaming: the input is cut into pieces whose lengths come
// from its first two bytes; the pieces fed one by one must give the digest
// of the whole in one call, the processor's instructions and the portable
// rounds taking turns on either side, and the hexadecimal form must read
// back to the same digest.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "http/sha256.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    uint32_t seed = uint32_t(data[0]) | (uint32_t(data[1]) << 8);
    data += 2;
    size -= 2;

    Sha256SetAcceleration(seed & 1);
    unsigned char whole[kSha256Size];
    Sha256Of(data, size, whole);

    Sha256SetAcceleration(!(seed & 1));
    Sha256 sha;
    uint32_t x = seed * 2654435761u + 1;
    for (size_t at = 0; at < size;) {
        x = x * 1103515245u + 12345u;
        // Empty pieces, pieces inside one block and pieces over many.
        size_t piece = (x >> 16) % ((seed & 2) ? 300 : 70);
        if (piece > size - at) piece = size - at;
        sha.update(data + at, piece);
        at += piece;
    }
    unsigned char streamed[kSha256Size];
    sha.final(streamed);
    if (std::memcmp(whole, streamed, sizeof whole) != 0) __builtin_trap();

    char hex[kSha256HexLength + 1];
    Sha256Hex(whole, hex);
    unsigned char back[kSha256Size];
    if (!ParseSha256Hex(hex, back) || std::memcmp(back, whole, sizeof back) != 0) __builtin_trap();
    return 0;
}
