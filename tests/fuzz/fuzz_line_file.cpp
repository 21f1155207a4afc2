// Fuzz target: any bytes as a part list, then the lookups the fetch worker
// makes on it.
#include <cstddef>
#include <cstdint>

#include "download/line_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LineFile list;
    if (list.LoadText(reinterpret_cast<const char*>(data), static_cast<unsigned>(size)) != 0) return 0;
    PartPlan plan;
    ReadPartPlan(list, &plan);
    int value = 0;
    list.GetValue("sums", "total_sum", &value);
    list.GetValue("sums", "file000.bin", &value);
    char name[400];
    for (LineNode* node = list.first; node; node = node->next) {
        LineFile::SectionName(node, name, sizeof name);
        LineFile::KeyMatches(node, "file000.bin");
        LineFile::ParseValue(node);
    }
    return 0;
}
