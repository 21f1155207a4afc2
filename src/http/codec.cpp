// Base64 in the standard and the variant alphabet, the de-scrambling of
// stored credentials, and MD5 written from its RFC. Portable code: no
// allocation outlives a call, nothing touches files or the network.
#include "http/codec.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kVariant[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789()";
const unsigned char kSkip = 127;  // not a character of the alphabet

struct DecodeTable {
    unsigned char value[256];
    explicit DecodeTable(const char* alphabet) {
        std::memset(value, kSkip, sizeof value);
        for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(alphabet[i])] = static_cast<unsigned char>(i);
    }
};

const DecodeTable& TableFor(int alphabet) {
    static const DecodeTable standard(kStandard);
    static const DecodeTable variant(kVariant);
    return alphabet == 1 ? variant : standard;
}

}  // namespace

int IAD_Base64::encode(const unsigned char* bytes, int count, char* out, int capacity, int alphabet) {
    const char* a = alphabet == 1 ? kVariant : kStandard;
    int written = 0;
    for (int i = 0; i < count; i += 3) {
        if (capacity - written < 4) return -1;
        int left = count - i;
        unsigned b0 = bytes[i];
        unsigned b1 = left > 1 ? bytes[i + 1] : 0;
        unsigned b2 = left > 2 ? bytes[i + 2] : 0;
        out[written++] = a[b0 >> 2];
        out[written++] = a[((b0 & 3) << 4) | (b1 >> 4)];
        out[written++] = left > 1 ? a[((b1 & 15) << 2) | (b2 >> 6)] : '=';
        out[written++] = left > 2 ? a[b2 & 63] : '=';
    }
    return written;
}

int IAD_Base64::decode(const char* text, int length, unsigned char* out, int capacity, int alphabet) {
    const unsigned char* table = TableFor(alphabet).value;
    const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
    bool ended = false;
    int written = 0;
    int pos = 0;
    while (pos < length) {
        unsigned char c0 = t[pos++];
        if (ended || (c0 != '=' && table[c0] == kSkip)) continue;
        unsigned char c[3];
        for (int k = 0; k < 3; ++k) {
            while (pos < length && t[pos] != '=' && table[t[pos]] == kSkip) ++pos;
            if (pos >= length) return -1;
            c[k] = t[pos++];
        }
        if (c0 == '=' || c[0] == '=') {
            ended = true;
            continue;
        }
        unsigned w = table[c0], x = table[c[0]];
        unsigned y = c[1] == '=' ? 0 : table[c[1]];
        unsigned z = c[2] == '=' ? 0 : table[c[2]];
        if (written >= capacity) return -1;
        out[written++] = static_cast<unsigned char>(((w << 2) | (x >> 4)) & 255);
        if (c[1] == '=') continue;
        if (written >= capacity) return -1;
        out[written++] = static_cast<unsigned char>(((x << 4) | (y >> 2)) & 255);
        if (c[2] == '=') continue;
        if (written >= capacity) return -1;
        out[written++] = static_cast<unsigned char>(((y << 6) | z) & 255);
    }
    return written;
}

int descramble(const char* text, int length, unsigned char* out, int capacity, int* plainLength) {
    if (length < 0) return 0;
    unsigned char* temp = static_cast<unsigned char*>(std::malloc(length > 0 ? length : 1));
    if (!temp) return 0;
    int decoded = IAD_Base64::decode(text, length, temp, length, 1);
    // A text shorter than its own header has no key to undo: it is refused
    // rather than reported with a negative length.
    if (decoded < 4 || decoded > capacity) {
        std::free(temp);
        return 0;
    }
    unsigned key = temp[0];
    unsigned rotation = temp[1] & 7;
    unsigned subtrahend = temp[1] >> 3;
    int plain = decoded - 4;
    *plainLength = plain;
    for (int i = 0; i < plain; ++i) {
        unsigned b = temp[4 + i];
        for (unsigned r = 0; r < rotation; ++r) b = ((b >> 1) | (b << 7)) & 255;
        b = (b - subtrahend) & 255;
        out[i] = static_cast<unsigned char>(b ^ ((key + i) & 255));
    }
    std::free(temp);
    return 1;
}

// ---- MD5 ------------------------------------------------------------------

namespace {

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

const uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
// One step of a round: a = b + ((a + f(b, c, d) + x + t) <<< s). The 64
// steps are written out: a loop that picks the function and the word at run
// time costs almost twice as much, and every byte of a download passes here.
#define MD5_STEP(f, a, b, c, d, x, t, s) \
    a += f(b, c, d) + (x) + (t);         \
    a = Rotl(a, s) + b;
#define MD5_F(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define MD5_G(b, c, d) ((c) ^ ((d) & ((b) ^ (c))))
#define MD5_H(b, c, d) ((b) ^ (c) ^ (d))
#define MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))

void Transform(uint32_t state[4], const unsigned char block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = uint32_t(block[4 * i]) | (uint32_t(block[4 * i + 1]) << 8) | (uint32_t(block[4 * i + 2]) << 16) |
               (uint32_t(block[4 * i + 3]) << 24);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    MD5_STEP(MD5_F, a, b, c, d, x[0], kT[0], 7)
    MD5_STEP(MD5_F, d, a, b, c, x[1], kT[1], 12)
    MD5_STEP(MD5_F, c, d, a, b, x[2], kT[2], 17)
    MD5_STEP(MD5_F, b, c, d, a, x[3], kT[3], 22)
    MD5_STEP(MD5_F, a, b, c, d, x[4], kT[4], 7)
    MD5_STEP(MD5_F, d, a, b, c, x[5], kT[5], 12)
    MD5_STEP(MD5_F, c, d, a, b, x[6], kT[6], 17)
    MD5_STEP(MD5_F, b, c, d, a, x[7], kT[7], 22)
    MD5_STEP(MD5_F, a, b, c, d, x[8], kT[8], 7)
    MD5_STEP(MD5_F, d, a, b, c, x[9], kT[9], 12)
    MD5_STEP(MD5_F, c, d, a, b, x[10], kT[10], 17)
    MD5_STEP(MD5_F, b, c, d, a, x[11], kT[11], 22)
    MD5_STEP(MD5_F, a, b, c, d, x[12], kT[12], 7)
    MD5_STEP(MD5_F, d, a, b, c, x[13], kT[13], 12)
    MD5_STEP(MD5_F, c, d, a, b, x[14], kT[14], 17)
    MD5_STEP(MD5_F, b, c, d, a, x[15], kT[15], 22)
    MD5_STEP(MD5_G, a, b, c, d, x[1], kT[16], 5)
    MD5_STEP(MD5_G, d, a, b, c, x[6], kT[17], 9)
    MD5_STEP(MD5_G, c, d, a, b, x[11], kT[18], 14)
    MD5_STEP(MD5_G, b, c, d, a, x[0], kT[19], 20)
    MD5_STEP(MD5_G, a, b, c, d, x[5], kT[20], 5)
    MD5_STEP(MD5_G, d, a, b, c, x[10], kT[21], 9)
    MD5_STEP(MD5_G, c, d, a, b, x[15], kT[22], 14)
    MD5_STEP(MD5_G, b, c, d, a, x[4], kT[23], 20)
    MD5_STEP(MD5_G, a, b, c, d, x[9], kT[24], 5)
    MD5_STEP(MD5_G, d, a, b, c, x[14], kT[25], 9)
    MD5_STEP(MD5_G, c, d, a, b, x[3], kT[26], 14)
    MD5_STEP(MD5_G, b, c, d, a, x[8], kT[27], 20)
    MD5_STEP(MD5_G, a, b, c, d, x[13], kT[28], 5)
    MD5_STEP(MD5_G, d, a, b, c, x[2], kT[29], 9)
    MD5_STEP(MD5_G, c, d, a, b, x[7], kT[30], 14)
    MD5_STEP(MD5_G, b, c, d, a, x[12], kT[31], 20)
    MD5_STEP(MD5_H, a, b, c, d, x[5], kT[32], 4)
    MD5_STEP(MD5_H, d, a, b, c, x[8], kT[33], 11)
    MD5_STEP(MD5_H, c, d, a, b, x[11], kT[34], 16)
    MD5_STEP(MD5_H, b, c, d, a, x[14], kT[35], 23)
    MD5_STEP(MD5_H, a, b, c, d, x[1], kT[36], 4)
    MD5_STEP(MD5_H, d, a, b, c, x[4], kT[37], 11)
    MD5_STEP(MD5_H, c, d, a, b, x[7], kT[38], 16)
    MD5_STEP(MD5_H, b, c, d, a, x[10], kT[39], 23)
    MD5_STEP(MD5_H, a, b, c, d, x[13], kT[40], 4)
    MD5_STEP(MD5_H, d, a, b, c, x[0], kT[41], 11)
    MD5_STEP(MD5_H, c, d, a, b, x[3], kT[42], 16)
    MD5_STEP(MD5_H, b, c, d, a, x[6], kT[43], 23)
    MD5_STEP(MD5_H, a, b, c, d, x[9], kT[44], 4)
    MD5_STEP(MD5_H, d, a, b, c, x[12], kT[45], 11)
    MD5_STEP(MD5_H, c, d, a, b, x[15], kT[46], 16)
    MD5_STEP(MD5_H, b, c, d, a, x[2], kT[47], 23)
    MD5_STEP(MD5_I, a, b, c, d, x[0], kT[48], 6)
    MD5_STEP(MD5_I, d, a, b, c, x[7], kT[49], 10)
    MD5_STEP(MD5_I, c, d, a, b, x[14], kT[50], 15)
    MD5_STEP(MD5_I, b, c, d, a, x[5], kT[51], 21)
    MD5_STEP(MD5_I, a, b, c, d, x[12], kT[52], 6)
    MD5_STEP(MD5_I, d, a, b, c, x[3], kT[53], 10)
    MD5_STEP(MD5_I, c, d, a, b, x[10], kT[54], 15)
    MD5_STEP(MD5_I, b, c, d, a, x[1], kT[55], 21)
    MD5_STEP(MD5_I, a, b, c, d, x[8], kT[56], 6)
    MD5_STEP(MD5_I, d, a, b, c, x[15], kT[57], 10)
    MD5_STEP(MD5_I, c, d, a, b, x[6], kT[58], 15)
    MD5_STEP(MD5_I, b, c, d, a, x[13], kT[59], 21)
    MD5_STEP(MD5_I, a, b, c, d, x[4], kT[60], 6)
    MD5_STEP(MD5_I, d, a, b, c, x[11], kT[61], 10)
    MD5_STEP(MD5_I, c, d, a, b, x[2], kT[62], 15)
    MD5_STEP(MD5_I, b, c, d, a, x[9], kT[63], 21)
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

#undef MD5_STEP
#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

}  // namespace

void IAD_MD5::init() {
    state[0] = 0x67452301;
    state[1] = 0xefcdab89;
    state[2] = 0x98badcfe;
    state[3] = 0x10325476;
    count[0] = count[1] = 0;
    std::memset(buffer, 0, sizeof buffer);
}

void IAD_MD5::update(const void* bytes, unsigned n) {
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    unsigned have = (count[0] >> 3) & 63;
    uint32_t bitsLow = uint32_t(n) << 3;
    count[0] += bitsLow;
    if (count[0] < bitsLow) ++count[1];
    count[1] += uint32_t(n) >> 29;
    unsigned i = 0;
    if (have) {
        unsigned take = 64 - have;
        if (n < take) {
            std::memcpy(buffer + have, p, n);
            return;
        }
        std::memcpy(buffer + have, p, take);
        Transform(state, buffer);
        i = take;
    }
    for (; i + 64 <= n; i += 64) Transform(state, p + i);
    if (i < n) std::memcpy(buffer, p + i, n - i);
}

void IAD_MD5::final(unsigned char digest[16]) {
    unsigned char bits[8];
    for (int i = 0; i < 4; ++i) {
        bits[i] = static_cast<unsigned char>(count[0] >> (8 * i));
        bits[4 + i] = static_cast<unsigned char>(count[1] >> (8 * i));
    }
    static const unsigned char padding[64] = {0x80};
    unsigned have = (count[0] >> 3) & 63;
    unsigned padLen = have < 56 ? 56 - have : 120 - have;
    update(padding, padLen);
    update(bits, 8);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<unsigned char>(state[i] >> (8 * j));
    std::memset(state, 0, sizeof state);
    init();
}

uint32_t IAD_MD5::sum32() {
    unsigned char d[16];
    final(d);
    return uint32_t(d[0]) | (uint32_t(d[1]) << 8) | (uint32_t(d[2]) << 16) | (uint32_t(d[3]) << 24);
}

int scramble(const unsigned char* plain, int length, unsigned key, unsigned rotation, unsigned subtrahend,
             char* out, int capacity) {
    if (length < 0) return -1;
    unsigned char* raw = static_cast<unsigned char*>(std::malloc(length + 4));
    if (!raw) return -1;
    rotation &= 7;
    subtrahend &= 31;
    raw[0] = static_cast<unsigned char>(key);
    raw[1] = static_cast<unsigned char>(rotation | (subtrahend << 3));
    raw[2] = raw[3] = 0;
    for (int i = 0; i < length; ++i) {
        unsigned b = (plain[i] ^ ((key + i) & 255)) & 255;
        b = (b + subtrahend) & 255;
        for (unsigned r = 0; r < rotation; ++r) b = ((b << 1) | (b >> 7)) & 255;
        raw[4 + i] = static_cast<unsigned char>(b);
    }
    int n = IAD_Base64::encode(raw, length + 4, out, capacity, 1);
    std::free(raw);
    return n;
}
