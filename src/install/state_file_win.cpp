// The state file in the Windows directory, read and written with the
// system's private-profile functions, in an encoding its readers (the
// installed client, with the ANSI functions) read right.
#include "install/state_file_win.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "base/code_page_win.h"
#include "base/run_log.h"
#include "base/text_copy.h"
#include "base/text_encoding.h"
#include "base/unicode_file_win.h"
#include "install/install_rules.h"

namespace {
// State files are a few lines; one beyond this is written as it is.
const unsigned kMaxStateFileBytes = 1u << 20;

bool IsAscii(const char* text) {
    for (; text && *text; ++text)
        if (static_cast<unsigned char>(*text) >= 0x80) return false;
    return true;
}

// The file made before its first value: only the UTF-16 mark, so that the
// profile functions write it in UTF-16.
bool CreateUtf16StateFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    static const unsigned char kMark[2] = {0xFF, 0xFE};
    DWORD put = 0;
    const bool written = WriteFile(file, kMark, sizeof kMark, &put, nullptr) && put == sizeof kMark;
    CloseHandle(file);
    return written;
}

bool ReplaceContents(const char* path, const char* bytes, int length) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool written = length == 0 || (WriteFile(file, bytes, static_cast<DWORD>(length), &put, nullptr) &&
                                         put == static_cast<DWORD>(length));
    CloseHandle(file);
    return written;
}

// Writes the value into a file in the legacy code page through a UTF-16
// copy: the profile functions edit the copy, and its text goes back in the
// legacy code page. `lossy` tells that the value held characters the code
// page lacks (written as "?").
bool WriteKeepingLegacy(const char* path, const char* bytes, unsigned size, const char* section,
                        const char* key, const char* value, bool* lossy) {
    *lossy = false;
    const unsigned legacy = LegacyCodePage();
    char copy[MAX_PATH] = "";
    if (!WriteUtf16File(copy, bytes, static_cast<int>(size), legacy)) return false;
    bool written = false;
    if (WritePrivateProfileStringA(section, key, value, copy)) {
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, copy);
        char* text = nullptr;
        int length = 0;
        if (ReadUtf16File(copy, legacy, &text, &length, lossy))
            written = ReplaceContents(path, text, length);
        std::free(text);
    }
    DeleteFileA(copy);
    return written;
}
}  // namespace

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
    char* bytes = nullptr;
    unsigned size = 0;
    const bool exists = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    const bool read = exists && ReadWholeFile(path, kMaxStateFileBytes, &bytes, &size);
    const TextEncoding encoding =
        read ? DetectTextEncoding(reinterpret_cast<const unsigned char*>(bytes), size) : EncodingAscii;
    StateFileWriting writing = ChooseStateFileWriting(exists, encoding, IsAscii(value), TextsUtf8());
    // A file that cannot be read is left to the profile functions.
    if (exists && !read) writing = WriteStateAsItIs;
    BOOL written = FALSE;
    bool lossy = false;
    const char* how = "";
    if (writing == WriteStateKeepingLegacy) {
        written = WriteKeepingLegacy(path, bytes, size, section, key, value, &lossy);
        how = lossy ? " (kept in the legacy code page, which lacks some of its characters: written as ?)"
                    : " (kept in the legacy code page)";
    } else {
        if (writing == WriteStateNewUtf16 && CreateUtf16StateFile(path)) how = " (new file, UTF-16)";
        written = WritePrivateProfileStringA(section, key, value, path);
    }
    std::free(bytes);
    // Flush the profile cache so that a program started next reads it.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path);
    LogEvent("state file %s: [%s] %s=%s%s%s", path, section, key, value, written ? "" : " (not written)", how);
}

void DeleteStateFile() {
    char path[MAX_PATH];
    GetStateFilePath(path);
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path);
    if (DeleteFileA(path)) LogEvent("state file %s removed", path);
}
