// Fuzz target: any bytes as a part list, then the lookups the fetch worker
// makes on it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "download/line_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LineFile list;
    if (list.LoadText(reinterpret_cast<const char*>(data), static_cast<unsigned>(size)) != 0) return 0;
    PartPlan plan;
    ReadPartPlan(list, &plan);
    int value = 0;
    list.GetValue("sums", "total_sum", &value);
    list.GetValue("sums", "file000.bin", &value);
    // A strong sum read is always a digest whose hexadecimal form reads back
    // the same; a failed read leaves the digest alone.
    for (const char* key : {"file000.bin", kSha256TotalKey}) {
        unsigned char digest[kSha256Size], before[kSha256Size];
        std::memset(digest, 0xa5, sizeof digest);
        std::memcpy(before, digest, sizeof before);
        const int result = list.GetSha256(key, digest);
        if (result == 0) {
            char hex[kSha256HexLength + 1];
            unsigned char back[kSha256Size];
            Sha256Hex(digest, hex);
            if (!ParseSha256Hex(hex, back) || std::memcmp(back, digest, sizeof back) != 0) __builtin_trap();
        } else if (result != -1 && result != -2) {
            __builtin_trap();
        } else if (std::memcmp(digest, before, sizeof digest) != 0) {
            __builtin_trap();
        }
        if (plan.strongSums != (list.FindSection(kSha256Section) != nullptr)) __builtin_trap();
    }
    char name[400];
    for (LineNode* node = list.first; node; node = node->next) {
        LineFile::SectionName(node, name, sizeof name);
        LineFile::KeyMatches(node, "file000.bin");
        LineFile::ParseValue(node);
    }
    return 0;
}
