// SHA-256: the portable rounds, the same rounds through the x86 SHA
// instructions where the processor has them (chosen once, at the first
// digest), block buffering, padding and the hexadecimal form.
#include "http/sha256.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#include <immintrin.h>
#define CV_SHA256_X86 1
#endif

namespace {

alignas(16) const uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t BigEndian32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// One round; the caller rotates the roles of the eight working variables
// instead of moving their values.
#define SHA256_ROUND(a, b, c, d, e, f, g, h, i)                                            \
    do {                                                                                   \
        uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + \
                      kRoundConstants[i] + w[i];                                           \
        d += t1;                                                                           \
        h = t1 + (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c)); \
    } while (0)

void PortableBlocks(uint32_t state[8], const unsigned char* data, size_t blocks) {
    uint32_t w[64];
    for (; blocks > 0; --blocks, data += 64) {
        for (int i = 0; i < 16; ++i) w[i] = BigEndian32(data + 4 * i);
        for (int i = 16; i < 64; ++i) {
            const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int i = 0; i < 64; i += 8) {
            SHA256_ROUND(a, b, c, d, e, f, g, h, i);
            SHA256_ROUND(h, a, b, c, d, e, f, g, i + 1);
            SHA256_ROUND(g, h, a, b, c, d, e, f, i + 2);
            SHA256_ROUND(f, g, h, a, b, c, d, e, i + 3);
            SHA256_ROUND(e, f, g, h, a, b, c, d, i + 4);
            SHA256_ROUND(d, e, f, g, h, a, b, c, i + 5);
            SHA256_ROUND(c, d, e, f, g, h, a, b, i + 6);
            SHA256_ROUND(b, c, d, e, f, g, h, a, i + 7);
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#undef SHA256_ROUND

#ifdef CV_SHA256_X86
// The instructions keep the state as two vectors (A B E F and C D G H) and
// do two rounds per sha256rnds2; four message words are scheduled at a time.
__attribute__((target("sha,sse4.1"))) void AcceleratedBlocks(uint32_t state[8], const unsigned char* data,
                                                              size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i w[4];
#pragma GCC unroll 16
        for (int group = 0; group < 16; ++group) {
            __m128i& words = w[group & 3];
            if (group < 4) {
                words = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * group)),
                                         byteSwap);
            } else {
                // W[t-16] + s0(W[t-15]), plus W[t-7], plus s1(W[t-2]).
                const __m128i& last = w[(group + 3) & 3];
                words = _mm_sha256msg1_epu32(words, w[(group + 1) & 3]);
                words = _mm_add_epi32(words, _mm_alignr_epi8(last, w[(group + 2) & 3], 4));
                words = _mm_sha256msg2_epu32(words, last);
            }
            __m128i k = _mm_add_epi32(
                words, _mm_load_si128(reinterpret_cast<const __m128i*>(&kRoundConstants[4 * group])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, k);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(k, 0x0E));
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), _mm_alignr_epi8(dchg, feba, 8));
}

bool ProcessorHasShaInstructions() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool sse41 = (c & (1u << 19)) != 0, ssse3 = (c & (1u << 9)) != 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return sse41 && ssse3 && (b & (1u << 29)) != 0;
}
#else
void AcceleratedBlocks(uint32_t state[8], const unsigned char* data, size_t blocks) {
    PortableBlocks(state, data, blocks);
}
bool ProcessorHasShaInstructions() { return false; }
#endif

std::atomic<bool> accelerationAllowed{true};

bool ShaInstructionsPresent() {
    static const bool present = ProcessorHasShaInstructions();
    return present;
}

void Blocks(uint32_t state[8], const unsigned char* data, size_t blocks) {
    if (ShaInstructionsPresent() && accelerationAllowed.load(std::memory_order_relaxed))
        AcceleratedBlocks(state, data, blocks);
    else
        PortableBlocks(state, data, blocks);
}

}  // namespace

void Sha256::init() {
    static const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(state, kInitial, sizeof state);
    count = 0;
}

void Sha256::update(const void* bytes, size_t n) {
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    const unsigned have = static_cast<unsigned>(count & 63);
    count += n;
    if (have) {
        const size_t take = 64 - have;
        if (n < take) {
            std::memcpy(buffer + have, p, n);
            return;
        }
        std::memcpy(buffer + have, p, take);
        Blocks(state, buffer, 1);
        p += take;
        n -= take;
    }
    const size_t whole = n / 64;
    if (whole) Blocks(state, p, whole);
    if (n % 64) std::memcpy(buffer, p + whole * 64, n % 64);
}

void Sha256::final(unsigned char digest[kSha256Size]) {
    const uint64_t bits = count * 8;
    const unsigned have = static_cast<unsigned>(count & 63);
    static const unsigned char padding[64] = {0x80};
    update(padding, have < 56 ? 56 - have : 120 - have);
    unsigned char length[8];
    for (int i = 0; i < 8; ++i) length[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    update(length, 8);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<unsigned char>(state[i] >> (24 - 8 * j));
    init();
}

void Sha256Of(const void* bytes, size_t count, unsigned char digest[kSha256Size]) {
    Sha256 sha;
    sha.update(bytes, count);
    sha.final(digest);
}

int Sha256OfFile(const char* path, unsigned char digest[kSha256Size]) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return kSha256FileNotOpened;
    static const size_t kPiece = 64 * 1024;
    char* piece = static_cast<char*>(std::malloc(kPiece));
    if (!piece) {
        std::fclose(f);
        return kSha256FileNotRead;
    }
    Sha256 sha;
    size_t n;
    while ((n = std::fread(piece, 1, kPiece, f)) > 0) sha.update(piece, n);
    const bool read = !std::ferror(f);
    std::free(piece);
    std::fclose(f);
    if (!read) return kSha256FileNotRead;
    sha.final(digest);
    return 0;
}

void Sha256Hex(const unsigned char digest[kSha256Size], char out[kSha256HexLength + 1]) {
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < kSha256Size; ++i) {
        out[2 * i] = digits[digest[i] >> 4];
        out[2 * i + 1] = digits[digest[i] & 15];
    }
    out[kSha256HexLength] = '\0';
}

namespace {
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

int ParseSha256Hex(const char* text, unsigned char digest[kSha256Size]) {
    if (!text) return 0;
    unsigned char parsed[kSha256Size];
    for (int i = 0; i < kSha256Size; ++i) {
        const int high = HexValue(text[2 * i]);
        if (high < 0) return 0;
        const int low = HexValue(text[2 * i + 1]);
        if (low < 0) return 0;
        parsed[i] = static_cast<unsigned char>(high * 16 + low);
    }
    if (text[kSha256HexLength] != '\0') return 0;
    std::memcpy(digest, parsed, sizeof parsed);
    return 1;
}

bool Sha256Accelerated() {
    return ShaInstructionsPresent() && accelerationAllowed.load(std::memory_order_relaxed);
}

void Sha256SetAcceleration(bool allowed) { accelerationAllowed.store(allowed, std::memory_order_relaxed); }
