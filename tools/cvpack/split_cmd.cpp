// cvpack split: cuts a file into the numbered parts of an HTTP site and writes
// the part list with each part's size, its 32-bit sum and its SHA-256, and
// both for the whole file; then prints the fingerprint of the part list for
// the setup description. cvpack pin: prints the fingerprints of files.
// cvpack scramble: prints the stored form of a credential, which the
// installer's descramble turns back into the text.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "cvpack.h"
#include "http/codec.h"
#include "http/sha256.h"

namespace {

const long long kDefaultPartSize = 1024 * 1024;

bool ParseNumber(const char* text, long long* value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    long long v = std::strtoll(text, &end, 10);
    if (*end || v < 0) return false;
    *value = v;
    return true;
}

// Sums are written as signed 32-bit numbers: readers that accumulate into a
// plain int then see the same value as readers that wrap modulo 2^32.
void AppendSum(std::string& out, const char* key, uint32_t sum) {
    char line[80];
    std::snprintf(line, sizeof line, "%s=%" PRId32 "\n", key, static_cast<int32_t>(sum));
    out += line;
}

void AppendSha256(std::string& out, const char* key, Sha256& sha) {
    unsigned char digest[kSha256Size];
    sha.final(digest);
    char hex[kSha256HexLength + 1];
    Sha256Hex(digest, hex);
    out += key;
    out += '=';
    out += hex;
    out += '\n';
}

// The line a setup description pins a file with.
void PrintPin(const char* key, const unsigned char digest[kSha256Size]) {
    char hex[kSha256HexLength + 1];
    Sha256Hex(digest, hex);
    std::printf("%s=%s\n", key, hex);
}

}  // namespace

int CmdSplit(int argc, char** argv) {
    const char* file = nullptr;
    const char* dir = nullptr;
    long long partSize = kDefaultPartSize;
    for (int i = 0; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--part-size")) {
            if (i + 1 >= argc || !ParseNumber(argv[i + 1], &partSize) || partSize <= 0 ||
                partSize > 0x7fffffff) {
                std::fprintf(stderr, "cvpack split: --part-size needs a positive number of bytes\n");
                return 2;
            }
            ++i;
        } else if (!file) {
            file = argv[i];
        } else if (!dir) {
            dir = argv[i];
        } else {
            std::fprintf(stderr, "cvpack split: unexpected argument %s\n", argv[i]);
            return 2;
        }
    }
    if (!file || !dir) {
        std::fprintf(stderr, "usage: cvpack split FILE DIR [--part-size BYTES]\n");
        return 2;
    }
    FILE* in = std::fopen(file, "rb");
    if (!in) {
        std::fprintf(stderr, "cvpack split: cannot open %s\n", file);
        return 1;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "cvpack split: cannot create %s\n", dir);
        std::fclose(in);
        return 1;
    }
    std::vector<unsigned char> buffer(static_cast<size_t>(partSize));
    std::string files = "[files]\n", sums = "[sums]\n", strong = "[sha256]\n";
    IAD_MD5 total, part;
    total.init();
    part.init();
    Sha256 strongTotal, strongPart;
    int status = 0;
    for (int n = 0;; ++n) {
        size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        if (got == 0) {
            if (std::ferror(in)) {
                std::fprintf(stderr, "cvpack split: cannot read %s\n", file);
                status = 1;
            }
            break;
        }
        char name[32];
        std::snprintf(name, sizeof name, "file%03d.bin", n);
        std::string path = std::string(dir) + "/" + name;
        FILE* out = std::fopen(path.c_str(), "wb");
        bool ok = out && std::fwrite(buffer.data(), 1, got, out) == got;
        if (out && std::fclose(out) != 0) ok = false;
        if (!ok) {
            std::fprintf(stderr, "cvpack split: cannot write %s\n", path.c_str());
            status = 1;
            break;
        }
        total.update(buffer.data(), static_cast<unsigned>(got));
        part.update(buffer.data(), static_cast<unsigned>(got));
        strongTotal.update(buffer.data(), got);
        strongPart.update(buffer.data(), got);
        char line[64];
        std::snprintf(line, sizeof line, "%s=%zu\n", name, got);
        files += line;
        AppendSum(sums, name, part.sum32());
        AppendSha256(strong, name, strongPart);
        if (got < buffer.size()) break;
    }
    std::fclose(in);
    if (status) return status;
    AppendSum(sums, "total_sum", total.sum32());
    AppendSha256(strong, "total", strongTotal);
    std::string info = files + "\n" + sums + "\n" + strong;
    std::string infoPath = std::string(dir) + "/pkginfo.txt";
    FILE* out = std::fopen(infoPath.c_str(), "wb");
    bool ok = out && std::fwrite(info.data(), 1, info.size(), out) == info.size();
    if (out && std::fclose(out) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "cvpack split: cannot write %s\n", infoPath.c_str());
        return 1;
    }
    // The part list exactly as written is what the program fetches and
    // compares with the pinned fingerprint. The layout is the work done:
    // a caller without standard output (cvpack pin pkginfo.txt gives the
    // same line) still gets success.
    unsigned char digest[kSha256Size];
    Sha256Of(info.data(), info.size(), digest);
    PrintPin("sha256", digest);
    std::fflush(stdout);
    return 0;
}

int CmdPin(int argc, char** argv) {
    if (argc < 1) {
        std::fprintf(stderr, "usage: cvpack pin FILE...\n");
        return 2;
    }
    // One file: "sha256="; several: "sha256_1=" ... in the order given, as
    // a component's "files" list names them.
    for (int i = 0; i < argc; ++i) {
        unsigned char digest[kSha256Size];
        const int hashed = Sha256OfFile(argv[i], digest);
        if (hashed != 0) {
            std::fprintf(stderr, "cvpack pin: cannot %s %s\n", hashed == kSha256FileNotOpened ? "open" : "read",
                         argv[i]);
            return 1;
        }
        char key[32];
        if (argc == 1)
            std::snprintf(key, sizeof key, "sha256");
        else
            std::snprintf(key, sizeof key, "sha256_%d", i + 1);
        PrintPin(key, digest);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int CmdScramble(int argc, char** argv) {
    const char* text = nullptr;
    bool seeded = false;
    long long seed = 0;
    for (int i = 0; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--seed")) {
            if (i + 1 >= argc || !ParseNumber(argv[i + 1], &seed)) {
                std::fprintf(stderr, "cvpack scramble: --seed needs a number\n");
                return 2;
            }
            seeded = true;
            ++i;
        } else if (!text) {
            text = argv[i];
        } else {
            std::fprintf(stderr, "cvpack scramble: unexpected argument %s\n", argv[i]);
            return 2;
        }
    }
    if (!text) {
        std::fprintf(stderr, "usage: cvpack scramble TEXT [--seed N]\n");
        return 2;
    }
    std::mt19937 rng(seeded ? static_cast<std::mt19937::result_type>(seed) : std::random_device{}());
    unsigned key = rng() & 255, rotation = rng() & 7, subtrahend = rng() & 31;
    int length = static_cast<int>(std::strlen(text));
    std::vector<char> out(4 * ((length + 4 + 2) / 3) + 1);
    int n = scramble(reinterpret_cast<const unsigned char*>(text), length, key, rotation, subtrahend, out.data(),
                     static_cast<int>(out.size()));
    if (n < 0) return 1;
    std::fwrite(out.data(), 1, n, stdout);
    std::fputc('\n', stdout);
    return 0;
}
