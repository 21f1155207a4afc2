// Base64 in two alphabets, the de-scrambling of stored credentials, and the
// MD5 digest with the 32-bit sums that part lists carry. Portable code.
#pragma once
#include <cstdint>

class IAD_Base64 {
public:
    // alphabet 0: standard ("+/"), 1: variant ("()").
    // Returns characters written, or -1 when the next group of four does not
    // fit; writes no terminator.
    static int encode(const unsigned char* bytes, int count, char* out, int capacity, int alphabet);
    // Returns bytes written, or -1 on an incomplete group or a full output.
    static int decode(const char* text, int length, unsigned char* out, int capacity, int alphabet);
};

// Turns a scrambled credential text into plain bytes (no terminator).
// 1 on success, 0 on failure (bad text, output too small, shorter than the
// 4-byte header).
int descramble(const char* text, int length, unsigned char* out, int capacity, int* plainLength);

// The publisher's side of descramble: writes the variant-alphabet Base64 of
// the header (key, rotation 0..7, subtrahend 0..31) and the scrambled bytes.
// Returns characters written (no terminator), or -1 when out is too small.
int scramble(const unsigned char* plain, int length, unsigned key, unsigned rotation, unsigned subtrahend,
             char* out, int capacity);

class IAD_MD5 {
public:
    void init();
    void update(const void* bytes, unsigned count);
    // Writes the digest and starts a new one.
    void final(unsigned char digest[16]);
    // First four digest bytes as a little-endian number; starts a new digest.
    uint32_t sum32();

private:
    uint32_t state[4];
    uint32_t count[2];
    unsigned char buffer[64];
};
