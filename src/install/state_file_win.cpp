// The state file in the Windows directory, read and written with the
// system's private-profile functions.
#include "install/state_file_win.h"

#include <windows.h>

#include <cstring>

#include "base/run_log.h"

void GetStateFilePath(char* out) {
    const char name[] = "\\tessark.ini";
    UINT length = GetWindowsDirectoryA(out, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) length = 0;
    out[length] = '\0';
    // A root directory ("C:\") already ends in the separator.
    const char* append = (length > 0 && out[length - 1] == '\\') ? name + 1 : name;
    if (length + strlen(append) >= MAX_PATH) return;
    strcpy(out + length, append);
}

int ReadStateInt(const char* section, const char* key, int defaultValue) {
    char path[MAX_PATH];
    GetStateFilePath(path);
    return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, path));
}

void WriteStateText(const char* section, const char* key, const char* value) {
    char path[MAX_PATH];
    GetStateFilePath(path);
    BOOL written = WritePrivateProfileStringA(section, key, value, path);
    // Flush the profile cache so that a program started next reads it.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path);
    LogEvent("state file %s: [%s] %s=%s%s", path, section, key, value, written ? "" : " (not written)");
}

void DeleteStateFile() {
    char path[MAX_PATH];
    GetStateFilePath(path);
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path);
    if (DeleteFileA(path)) LogEvent("state file %s removed", path);
}
