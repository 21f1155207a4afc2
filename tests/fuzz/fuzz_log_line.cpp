// Fuzz target: any text as a log event (with control characters, quotes,
// "@", ":" and "=" in every order) masked and cut into buffers of every
// small size, and any command line searched for the "-log" switch. Nothing
// may be written past a buffer, and a known secret that appears whole in
// the text must never appear in the masked line.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/log_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    std::string secret = newline == std::string::npos ? "" : input.substr(0, newline);
    std::string text = newline == std::string::npos ? input : input.substr(newline + 1);
    text = text.c_str();  // up to the first NUL, as the program sees it
    secret = secret.c_str();

    char out[120];
    int limit = static_cast<int>(size % sizeof out);
    MaskSecrets(text.c_str(), out, limit);
    if (limit > 0 && std::strlen(out) >= static_cast<size_t>(limit)) __builtin_trap();

    const char* secrets[] = {secret.c_str()};
    std::string replaced(text.size() + 1, '\0');
    ReplaceSecrets(text.c_str(), secrets, 1, &replaced[0], static_cast<int>(replaced.size()));
    const LogTime time = {2026, 12, 7, 13, 4, 11, 123};
    char line[160];
    int lineLimit = static_cast<int>(size % sizeof line);
    int length = FormatLogLine(time, replaced.c_str(), line, lineLimit);
    if (lineLimit > 0 && (length >= lineLimit || std::strlen(line) != static_cast<size_t>(length)))
        __builtin_trap();
    // The text part of the line starts after the stamp and its blank.
    if (static_cast<int>(secret.size()) >= kMinSecretLength && length > 24 &&
        secret.find_first_of("*\r\n\t ") == std::string::npos && std::strstr(line + 24, secret.c_str()))
        __builtin_trap();

    char path[40];
    std::string rest(text.size() + 1, '\0');
    int pathLimit = static_cast<int>(size % sizeof path);
    CutLogSwitch(text.c_str(), path, pathLimit, &rest[0], static_cast<int>(rest.size()));
    if (pathLimit > 0 && std::strlen(path) >= static_cast<size_t>(pathLimit)) __builtin_trap();
    if (std::strlen(rest.c_str()) > text.size()) __builtin_trap();
    return 0;
}
