// Fuzzes the %name% substitution: the input's first line becomes a string
// section (entries split at "|"), the rest is the text; the first byte
// chooses the output size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "setup/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int outSize = data[0] % 64;
    std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t newline = input.find('\n');
    std::string section = newline == std::string::npos ? std::string() : input.substr(0, newline);
    std::string text = newline == std::string::npos ? input : input.substr(newline + 1);
    for (char& c : section)
        if (c == '|') c = '\0';
    ClearProfileCache();
    AddProfileSection(section.data(), static_cast<unsigned>(section.size()));
    AddProfileSection(section.data(), static_cast<unsigned>(section.size() / 2));
    // The text as a C string: up to its first NUL.
    std::vector<char> out(static_cast<size_t>(outSize) + 1, '\x7f');
    ExpandVariables(text.c_str(), out.data(), outSize);
    if (outSize > 0 && std::strlen(out.data()) >= static_cast<size_t>(outSize)) __builtin_trap();
    if (out[static_cast<size_t>(outSize)] != '\x7f') __builtin_trap();
    std::vector<char> tokens(text.begin(), text.end());
    tokens.push_back('\0');
    char* cursor = tokens.data();
    while (char* token = NextToken(&cursor, ", ")) {
        if (!*token || std::strpbrk(token, ", ")) __builtin_trap();
    }
    return 0;
}
