// Small helpers of the HTTP unit tests: files, temporary directories, running
// a command and taking its output.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace cvtest {

inline std::string Env(const char* name, const char* fallback = "") {
    const char* v = std::getenv(name);
    return v ? v : fallback;
}

inline std::string BinDir() { return Env("CV_BIN_DIR", "."); }

inline bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

inline std::string TempDir(const char* tag) {
    std::string templ = Env("TMPDIR", "/tmp") + "/cvtest-" + tag + "-XXXXXX";
    char* p = ::mkdtemp(&templ[0]);
    return p ? std::string(p) : std::string();
}

inline void RemoveTree(const std::string& dir) {
    if (dir.size() > 5) (void)std::system(("rm -rf '" + dir + "'").c_str());
}

inline bool WriteFile(const std::string& path, const std::string& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

inline bool ReadFile(const std::string& path, std::string* data) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    data->clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data->append(buf, n);
    std::fclose(f);
    return true;
}

inline std::string RunCapture(const std::string& cmd) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
}

}  // namespace cvtest
