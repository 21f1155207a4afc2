// Loading of system DLLs by full path.
#include "base/system_library_win.h"

#include <cstdio>

HMODULE LoadSystemLibrary(const char* fileName) {
    char folder[MAX_PATH];
    UINT n = GetSystemDirectoryA(folder, sizeof folder);
    if (n == 0 || n >= sizeof folder) return nullptr;
    char path[MAX_PATH + 64];
    int written = std::snprintf(path, sizeof path, "%s\\%s", folder, fileName);
    if (written < 0 || written >= static_cast<int>(sizeof path)) return nullptr;
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
