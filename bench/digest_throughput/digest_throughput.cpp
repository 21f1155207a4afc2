// Throughput of the digests that check downloaded bytes: MD5 (the 32-bit
// sums of the part lists) and SHA-256 through the processor's instructions
// and through the portable rounds. Each digests 64 MiB in the 1 MiB pieces
// a part arrives in, best of several rounds, and prints MB/s (10^6 bytes).
// Usage: digest_throughput [MiB] [rounds]. Not part of the test tiers.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "http/codec.h"
#include "http/sha256.h"

namespace {

const size_t kPiece = 1024 * 1024;

template <typename Digest>
double BestRate(const std::vector<unsigned char>& data, int rounds, Digest digest) {
    double best = 0;
    for (int r = 0; r < rounds; ++r) {
        const auto start = std::chrono::steady_clock::now();
        digest(data);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double rate = data.size() / seconds / 1e6;
        if (rate > best) best = rate;
    }
    return best;
}

unsigned char sink;  // keeps the digests from being optimised away

}  // namespace

int main(int argc, char** argv) {
    const long mib = argc > 1 ? std::atol(argv[1]) : 64;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (mib <= 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: digest_throughput [MiB] [rounds]\n");
        return 2;
    }
    std::vector<unsigned char> data(static_cast<size_t>(mib) * kPiece);
    unsigned x = 12345;
    for (auto& b : data) b = static_cast<unsigned char>((x = x * 1103515245u + 12345u) >> 24);

    const double md5 = BestRate(data, rounds, [](const std::vector<unsigned char>& d) {
        IAD_MD5 m;
        m.init();
        for (size_t at = 0; at < d.size(); at += kPiece) m.update(&d[at], static_cast<unsigned>(kPiece));
        sink ^= static_cast<unsigned char>(m.sum32());
    });
    auto sha = [](const std::vector<unsigned char>& d) {
        Sha256 s;
        for (size_t at = 0; at < d.size(); at += kPiece) s.update(&d[at], kPiece);
        unsigned char digest[kSha256Size];
        s.final(digest);
        sink ^= digest[0];
    };
    const bool instructions = Sha256Accelerated();
    const double shaFast = BestRate(data, rounds, sha);
    Sha256SetAcceleration(false);
    const double shaPortable = BestRate(data, rounds, sha);

    std::printf("%ld MiB, best of %d rounds\n", mib, rounds);
    std::printf("md5                     %8.1f MB/s\n", md5);
    if (instructions)
        std::printf("sha256 (SHA instructions) %6.1f MB/s\n", shaFast);
    else
        std::printf("sha256 (no SHA instructions on this processor)\n");
    std::printf("sha256 (portable rounds) %7.1f MB/s\n", shaPortable);
    return sink == 0x100 ? 1 : 0;
}
