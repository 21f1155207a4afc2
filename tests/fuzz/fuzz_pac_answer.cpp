// Fuzzes the parser of proxy auto-configuration answers: any text as the
// answer of a script. Entries stay within the capacity, their fields
// terminated, a proxy entry always has a host and a port of digits only.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "download/pac_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string answer(reinterpret_cast<const char*>(data), size);
    PacEntry entries[5];
    std::memset(entries, 0x5a, sizeof entries);
    int n = ParsePacAnswer(answer.c_str(), entries, 4);
    if (n < 0 || n > 4) __builtin_trap();
    for (size_t i = 0; i < sizeof entries[4]; ++i)
        if (reinterpret_cast<const unsigned char*>(&entries[4])[i] != 0x5a) __builtin_trap();
    for (int i = 0; i < n; ++i) {
        const PacEntry& e = entries[i];
        if (!std::memchr(e.address, 0, sizeof e.address) || !std::memchr(e.port, 0, sizeof e.port)) __builtin_trap();
        if (e.direct) {
            if (e.address[0] || e.port[0]) __builtin_trap();
            continue;
        }
        if (!e.address[0] || std::strchr(e.address, ';')) __builtin_trap();
        for (const char* p = e.port; *p; ++p)
            if (*p < '0' || *p > '9') __builtin_trap();
    }
    char url[64];
    std::string site = answer.substr(0, answer.size() / 2);
    if (PacLookupUrl(site.c_str(), "d/", "f", url, sizeof url) && std::strncmp(url, "http://", 7) != 0) __builtin_trap();
    if (!std::memchr(url, 0, sizeof url)) __builtin_trap();
    return 0;
}
