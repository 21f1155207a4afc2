// Narrowing the DLL search and loading DLLs by full path (see
// system_dll_win.h). The newer loader functions are looked up at run time,
// so the program still starts on systems that lack them.
#include "base/system_dll_win.h"

#include <cstring>

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {
// Set once the process searches the system folder only: a DLL loaded by
// full path then takes its dependencies from there as well.
bool searchRestricted = false;

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryFunction)(LPCSTR);

FARPROC KernelProcedure(const char* name) {
    // kernel32 is mapped into every process before the program runs; asking
    // for its handle loads nothing.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? GetProcAddress(kernel, name) : nullptr;
}

bool IsFullPath(const char* path) {
    if (!path) return false;
    if (path[0] == '\\' && path[1] == '\\') return true;  // \\server\share\...
    return ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
           path[1] == ':' && path[2] == '\\';
}
}  // namespace

bool RestrictDllSearch() {
    SetDefaultDllDirectoriesFunction setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        KernelProcedure("SetDefaultDllDirectories"));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        searchRestricted = true;
        return true;
    }
    // Older systems: an empty DLL directory takes the current directory out
    // of the search order.
    SetDllDirectoryFunction setDirectory =
        reinterpret_cast<SetDllDirectoryFunction>(KernelProcedure("SetDllDirectoryA"));
    if (setDirectory) setDirectory("");
    return false;
}

HMODULE LoadSystemLibrary(const char* name) {
    if (!name || !*name || std::strchr(name, '\\') || std::strchr(name, '/')) return nullptr;
    char path[MAX_PATH];
    UINT n = GetSystemDirectoryA(path, sizeof path);
    if (n == 0 || n >= sizeof path) return nullptr;
    size_t used = n;
    size_t length = std::strlen(name);
    if (used + 1 + length + 1 > sizeof path) return nullptr;
    path[used++] = '\\';
    std::memcpy(path + used, name, length + 1);
    // Without the restriction, the altered order looks for the library's
    // own dependencies in its folder, the system folder, first.
    return LoadLibraryExA(path, nullptr, searchRestricted ? 0 : LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadLibraryByFullPath(const char* path) {
    if (!IsFullPath(path)) return nullptr;
    return LoadLibraryExA(path, nullptr, 0);
}

FARPROC SystemProcedure(const char* dllName, const char* procedureName) {
    HMODULE module = LoadSystemLibrary(dllName);
    return module ? GetProcAddress(module, procedureName) : nullptr;
}
