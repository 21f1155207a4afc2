// Binds the code-page choice and the file conversions to the system.
#include "base/code_page_win.h"

#include <windows.h>

#include <cstdlib>

#include "base/text_copy.h"

void UseProgramCodePage() { SetTextsUtf8(GetACP() == CP_UTF8); }

unsigned LegacyCodePage() {
    const UINT active = GetACP();
    if (active != CP_UTF8) return active;
    // The system locale's code page, which the program's manifest does not
    // change; a system that runs everything in UTF-8 has no legacy one, and
    // the files of older programs there are most likely Western.
    DWORD page = 0;
    if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<LPWSTR>(&page), sizeof page / sizeof(WCHAR)) &&
        page != 0 && page != CP_UTF8 && IsValidCodePage(page))
        return page;
    return 1252;
}

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
    char folder[MAX_PATH];
    DWORD n = named ? 0 : GetTempPathA(sizeof folder, folder);
    if (named || (n > 0 && n < sizeof folder && GetTempFileNameA(folder, "cvu", 0, path))) {
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
