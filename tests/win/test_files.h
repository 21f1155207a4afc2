// File helpers shared by the Windows test programs: whole-file reads and
// writes, existence, and the Windows view of a Unix path under Wine.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

inline std::string ReadFileText(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return "<missing>";
    std::string text;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    fclose(f);
    return text;
}

inline void WriteFileText(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

inline bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A Unix path as Windows programs under Wine see it (drive Z:).
inline std::string WindowsPath(const char* unixPath) {
    std::string path = "Z:";
    for (const char* p = unixPath; *p; ++p) path += *p == '/' ? '\\' : *p;
    return path;
}
