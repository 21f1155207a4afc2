// Fuzzes Base64 decoding and descramble: the first byte picks the alphabet
// and the output capacity, the rest is the text. Nothing is written past the
// capacity, and what decodes re-encodes to a text that decodes the same.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "http/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    int alphabet = data[0] & 1;
    int capacity = data[0] >> 1;
    const char* text = reinterpret_cast<const char*>(data + 1);
    int length = int(size - 1);
    std::vector<char> exact(text, text + length);  // exact size: overreads are caught

    std::vector<unsigned char> out(size_t(capacity) + 1, 0xa5);
    int n = IAD_Base64::decode(exact.data(), length, out.data(), capacity, alphabet);
    if (n > capacity || out[size_t(capacity)] != 0xa5) __builtin_trap();
    if (n > 0) {
        std::vector<char> enc(4 * ((size_t(n) + 2) / 3));
        int e = IAD_Base64::encode(out.data(), n, enc.data(), int(enc.size()), alphabet);
        if (e != int(enc.size())) __builtin_trap();
        std::vector<unsigned char> back(static_cast<size_t>(n), 0);
        if (IAD_Base64::decode(enc.data(), e, back.data(), n, alphabet) != n) __builtin_trap();
        if (std::memcmp(back.data(), out.data(), size_t(n)) != 0) __builtin_trap();
    }

    std::vector<unsigned char> plain(size_t(capacity) + 1, 0xa5);
    int plainLength = -12345;
    int ok = descramble(exact.data(), length, plain.data(), capacity, &plainLength);
    if (plain[size_t(capacity)] != 0xa5) __builtin_trap();
    if (ok && (plainLength < 0 || plainLength + 4 > capacity)) __builtin_trap();
    return 0;
}
