// The SHA-256 digest (FIPS 180-4): the strong fingerprint of part lists,
// parts and whole files, which a 32-bit sum cannot be, since anyone can
// make other bytes with the same 32-bit sum. Streaming, in pieces of any
// size, and its 64-digit hexadecimal form. Portable code; on x86 processors
// with the SHA extensions the blocks go through them.
#pragma once
#include <cstddef>
#include <cstdint>

const int kSha256Size = 32;
const int kSha256HexLength = 64;

class Sha256 {
public:
    Sha256() { init(); }
    void init();
    void update(const void* bytes, size_t count);
    // Writes the digest and starts a new one.
    void final(unsigned char digest[kSha256Size]);

private:
    uint32_t state[8];
    uint64_t count;  // bytes taken in
    unsigned char buffer[64];
};

// The digest of one piece of memory.
void Sha256Of(const void* bytes, size_t count, unsigned char digest[kSha256Size]);

// The digest of a file's bytes as they are on the disk: 0, or
// kSha256FileNotOpened / kSha256FileNotRead (digest untouched).
const int kSha256FileNotOpened = -1;
const int kSha256FileNotRead = -2;
int Sha256OfFile(const char* path, unsigned char digest[kSha256Size]);

// Lower-case hexadecimal, 64 digits and a NUL.
void Sha256Hex(const unsigned char digest[kSha256Size], char out[kSha256HexLength + 1]);
// Exactly 64 hexadecimal digits (either case) and nothing else: 1 and the
// digest; 0 (digest untouched) otherwise.
int ParseSha256Hex(const char* text, unsigned char digest[kSha256Size]);

// Whether blocks go through the processor's SHA instructions. Turning them
// off (tests, benchmarks) makes every digest use the portable rounds.
bool Sha256Accelerated();
void Sha256SetAcceleration(bool allowed);
