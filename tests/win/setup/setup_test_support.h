// Scratch directories and files for the setup tests under Wine.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>

namespace setuptest {

inline bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline void WriteFile(const std::string& path, const std::string& content) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
}

inline std::string ReadFile(const std::string& path) {
    std::string result;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "<missing>";
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) result.append(buffer, n);
    std::fclose(f);
    return result;
}

// Removes a tree whatever its attributes (independent of the code under test).
inline void RemoveAll(const std::string& path) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveAll(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

// A fresh, empty directory in the temporary directory, removed again by the
// destructor.
class ScratchDir {
public:
    explicit ScratchDir(const char* tag) {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        char name[MAX_PATH];
        std::snprintf(name, sizeof name, "%scvst-%s-%lu", temp, tag,
                      static_cast<unsigned long>(GetCurrentProcessId()));
        path = name;
        RemoveAll(path);
        CreateDirectoryA(path.c_str(), nullptr);
    }
    ~ScratchDir() { RemoveAll(path); }
    std::string operator/(const std::string& name) const { return path + "\\" + name; }
    std::string path;
};

// Windows path of a file of the build tree's bin directory.
inline std::string BinPath(const char* name) {
    const char* bin = std::getenv("CV_BIN_DIR");
    std::string path = bin ? bin : "";
    for (char& c : path)
        if (c == '/') c = '\\';
    if (!path.empty() && path[0] == '\\') path = "Z:" + path;
    return path + "\\" + name;
}

}  // namespace setuptest
