// Part files: checking a part where it lies, and reading, writing and
// comparing whole part files.
#include "download/part_files_win.h"

namespace fetch_worker {
PartFileCheck CheckPartFile(const char* path, int size, uint32_t sum, const LineFile& list, const char* name,
                            char* block, long long* length) {
    *length = 0;
    FILE* f = std::fopen(path, "rb");
    if (!f) return PartFileUnreadable;
    std::setvbuf(f, nullptr, _IONBF, 0);
    IAD_MD5 weak;
    weak.init();
    Sha256 strong;
    for (;;) {
        size_t n = std::fread(block, 1, kPartFileBlock, f);
        if (n == 0) break;
        *length += static_cast<long long>(n);
        // Past its size the rest no longer matters.
        if (*length > size) break;
        weak.update(block, static_cast<unsigned>(n));
        strong.update(block, n);
    }
    bool readWhole = !std::ferror(f);
    std::fclose(f);
    if (!readWhole) return PartFileUnreadable;
    if (*length != size) return PartFileWrongSize;
    if (weak.sum32() != sum) return PartFileWrongSum;
    unsigned char digest[kSha256Size];
    strong.final(digest);
    return CheckStrongSum(list, name, digest) == StrongSumDiffers ? PartFileWrongStrongSum : PartFileMatches;
}

bool ReadWholePart(const char* path, char* buffer, int size) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    // One read of the whole part; a stream buffer would only copy it.
    std::setvbuf(f, nullptr, _IONBF, 0);
    char extra;
    bool whole = std::fread(buffer, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size) &&
                 std::fread(&extra, 1, 1, f) == 0;
    std::fclose(f);
    return whole;
}

bool WriteWholePart(const char* path, const char* bytes, int size) {
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    std::setvbuf(f, nullptr, _IONBF, 0);
    bool written = std::fwrite(bytes, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size);
    return std::fclose(f) == 0 && written;
}

uint32_t Sum32(const char* bytes, int size) {
    IAD_MD5 digest;
    digest.init();
    digest.update(bytes, static_cast<unsigned>(size));
    return digest.sum32();
}

PartFileCheck CheckPartBytes(const char* bytes, int size, uint32_t sum, const LineFile& list, const char* name) {
    StrongSumCheck strong = CheckStrongSumOf(list, name, bytes, static_cast<size_t>(size));
    if (strong == StrongSumMatches) return PartFileMatches;
    if (Sum32(bytes, size) != sum) return PartFileWrongSum;
    return strong == StrongSumDiffers ? PartFileWrongStrongSum : PartFileMatches;
}
bool SameFileBytes(const char* pathA, const char* pathB) {
    FILE* a = std::fopen(pathA, "rb");
    FILE* b = a ? std::fopen(pathB, "rb") : nullptr;
    bool same = a && b;
    char blockA[4096], blockB[4096];
    while (same) {
        size_t n = std::fread(blockA, 1, sizeof blockA, a);
        size_t m = std::fread(blockB, 1, sizeof blockB, b);
        same = n == m && std::memcmp(blockA, blockB, n) == 0;
        if (n == 0) break;
    }
    if (a) std::fclose(a);
    if (b) std::fclose(b);
    return same;
}
}  // namespace fetch_worker
