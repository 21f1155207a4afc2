// Fuzz target: any text as a status format with any file and site names,
// into buffers of every small size; nothing may be written past them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/status_text.h"
#include "download/fetch_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t first = input.find('\n');
    size_t second = first == std::string::npos ? std::string::npos : input.find('\n', first + 1);
    std::string format = input.substr(0, first);
    std::string file = first == std::string::npos ? "" : input.substr(first + 1, second - first - 1);
    std::string site = second == std::string::npos ? "" : input.substr(second + 1);
    char out[80];
    int limit = static_cast<int>(size % sizeof out);
    FormatFileStatus(format.c_str(), file.c_str(), site.c_str(), out, limit);
    if (limit > 0 && strlen(out) >= static_cast<size_t>(limit)) __builtin_trap();
    BuildRemotePath(file.c_str(), site.c_str(), static_cast<int>(size & 1), out, limit);
    if (limit > 0 && strlen(out) >= static_cast<size_t>(limit)) __builtin_trap();
    return 0;
}
