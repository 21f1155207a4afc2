// Reading and writing the converted files, in the process's own folder.
#include "base/unicode_file_win.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "base/own_folder_win.h"

namespace {
char conversionFolder[MAX_PATH];

void RemoveConversionFolder() {
    char pattern[MAX_PATH + 4];
    if (std::strlen(conversionFolder) + 3 >= sizeof pattern) return;
    std::strcpy(pattern, conversionFolder);
    std::strcat(pattern, "\\*");
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(pattern, &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            char path[MAX_PATH * 2];
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            std::strcpy(path, conversionFolder);
            std::strcat(path, "\\");
            std::strcat(path, entry.cFileName);
            DeleteFileA(path);
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(conversionFolder);
}

// The folder, made on first use; null when none can be made.
const char* ConversionFolder() {
    if (conversionFolder[0]) return conversionFolder;
    char temp[MAX_PATH];
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp) return nullptr;
    if (!MakeOwnFolder(temp, "cvu", FolderOfThisElevation, conversionFolder, sizeof conversionFolder)) {
        conversionFolder[0] = 0;
        return nullptr;
    }
    std::atexit(RemoveConversionFolder);
    return conversionFolder;
}
}  // namespace

bool ReadWholeFile(const char* path, unsigned limit, char** bytes, unsigned* size) {
    *bytes = nullptr;
    *size = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    const DWORD length = GetFileSize(file, &high);
    bool read = false;
    if (length != INVALID_FILE_SIZE && high == 0 && length <= limit) {
        *bytes = static_cast<char*>(std::malloc(length ? length : 1));
        DWORD got = 0;
        read = *bytes && ReadFile(file, *bytes, length, &got, nullptr) && got == length;
        if (read) {
            *size = length;
        } else {
            std::free(*bytes);
            *bytes = nullptr;
        }
    }
    CloseHandle(file);
    return read;
}

bool WriteUtf16File(char* path, const char* text, int length, unsigned codePage) {
    const int units = length > 0 ? MultiByteToWideChar(codePage, 0, text, length, nullptr, 0) : 0;
    if (length > 0 && units <= 0) return false;
    WCHAR* wide = static_cast<WCHAR*>(std::malloc((static_cast<size_t>(units) + 1) * sizeof(WCHAR)));
    if (!wide) return false;
    wide[0] = 0xFEFF;
    if (units > 0) MultiByteToWideChar(codePage, 0, text, length, wide + 1, units);
    bool written = false;
    const bool named = path[0] != 0;
    const char* folder = named ? nullptr : ConversionFolder();
    if (named || (folder && GetTempFileNameA(folder, "cvu", 0, path))) {
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  named ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            const DWORD bytes = static_cast<DWORD>(units + 1) * sizeof(WCHAR);
            DWORD put = 0;
            written = WriteFile(file, wide, bytes, &put, nullptr) && put == bytes;
            CloseHandle(file);
        }
        if (!written && !named) {
            DeleteFileA(path);
            path[0] = 0;
        }
    }
    std::free(wide);
    return written;
}

bool ReadUtf16File(const char* path, unsigned codePage, char** text, int* length, bool* lossy) {
    *text = nullptr;
    *length = 0;
    *lossy = false;
    char* bytes = nullptr;
    unsigned size = 0;
    if (!ReadWholeFile(path, 1u << 24, &bytes, &size)) return false;
    const WCHAR* wide = reinterpret_cast<const WCHAR*>(bytes);
    int units = static_cast<int>(size / sizeof(WCHAR));
    if (units < 1 || wide[0] != 0xFEFF) {
        std::free(bytes);
        return false;
    }
    ++wide;
    --units;
    // No best fit: a character the code page lacks must not turn into
    // another one (a look-alike separator in a path, say).
    const bool utf8 = codePage == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* replacement = utf8 ? nullptr : "?";
    BOOL defaulted = FALSE;
    BOOL* usedDefault = utf8 ? nullptr : &defaulted;
    const int n = units > 0 ? WideCharToMultiByte(codePage, flags, wide, units, nullptr, 0,
                                                  replacement, usedDefault)
                            : 0;
    bool converted = units == 0;
    if (n > 0) {
        *text = static_cast<char*>(std::malloc(static_cast<size_t>(n)));
        if (*text && WideCharToMultiByte(codePage, flags, wide, units, *text, n, replacement,
                                         usedDefault) == n) {
            *length = n;
            *lossy = defaulted != FALSE;
            converted = true;
        }
    }
    if (!converted) {
        std::free(*text);
        *text = nullptr;
    }
    std::free(bytes);
    return converted;
}
