// Reads the setup description through the system's private-profile
// functions; the cache and the substitution live in the portable half.
#include "setup/profile_win.h"

#include <windows.h>

#include <cstdlib>

void LoadSection(const char* section, const char* iniPath) {
    char buffer[2048];
    DWORD n = GetPrivateProfileSectionA(section, buffer, sizeof buffer, iniPath);
    if (n == 0) return;
    if (n > sizeof buffer - 2) n = sizeof buffer - 2;
    AddProfileSection(buffer, n);
}

void ReadSetting(const char* section, const char* key, const char* defaultValue, char* out,
                 int size, const char* iniPath) {
    if (!out || size <= 0) return;
    out[0] = '\0';
    char* scratch = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (!scratch) return;
    scratch[0] = '\0';
    GetPrivateProfileStringA(section, key, defaultValue ? defaultValue : "", scratch,
                             static_cast<DWORD>(size), iniPath);
    scratch[size - 1] = '\0';
    ExpandVariables(scratch, out, size);
    std::free(scratch);
}
