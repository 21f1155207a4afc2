// Reads the setup description through the system's private-profile
// functions; the cache and the substitution live in the portable half.
// Every read goes through ReadablePath, which keeps the encoding rule; the
// copies it makes leave with the conversion folder when the process ends.
#include "setup/profile_win.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "base/code_page_win.h"
#include "base/run_log.h"
#include "base/text_copy.h"
#include "base/unicode_file_win.h"

namespace {

// Setup descriptions are small; a file beyond this is read as it is.
const DWORD kMaxConvertedBytes = 4u << 20;

// A setup description and the UTF-16 copy the profile functions read in
// its place, made for the file as it was written at `written`.
struct ReadableCopy {
    char original[MAX_PATH];
    char copy[MAX_PATH];  // empty: the file is read as it is
    FILETIME written;
    DWORD size;
};

const int kMaxCopies = 16;
ReadableCopy copies[kMaxCopies];
int copyCount = 0;
int nextReused = 0;

// Makes the entry's copy for the file as it is now; leaves the copy
// empty when the file is to be read as it is.
void MakeReadableCopy(ReadableCopy* entry) {
    char* bytes = nullptr;
    unsigned size = 0;
    SetupReading reading = ReadSetupAsItIs;
    if (ReadWholeFile(entry->original, kMaxConvertedBytes, &bytes, &size))
        reading = ChooseSetupReading(
            DetectTextEncoding(reinterpret_cast<const unsigned char*>(bytes), size), TextsUtf8());
    if (reading == ReadSetupAsItIs) {
        if (entry->copy[0]) DeleteFileA(entry->copy);
        entry->copy[0] = 0;
    } else {
        const bool fromUtf8 = reading == ReadSetupUtf16FromUtf8;
        const int skip = fromUtf8 ? 3 : 0;
        const UINT codePage = fromUtf8 ? CP_UTF8 : LegacyCodePage();
        if (WriteUtf16File(entry->copy, bytes + skip, static_cast<int>(size) - skip, codePage))
            LogEvent("setup description %s is %s: read through a UTF-16 copy", entry->original,
                     fromUtf8 ? "UTF-8 with a byte-order mark" : "in the legacy code page");
        else {
            LogEvent("setup description %s: no UTF-16 copy can be made: read as it is", entry->original);
            if (entry->copy[0]) DeleteFileA(entry->copy);
            entry->copy[0] = 0;
        }
    }
    std::free(bytes);
}

}  // namespace

const char* ReadablePath(const char* iniPath) {
    if (!iniPath || !TextsUtf8()) return iniPath;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(iniPath, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || data.nFileSizeHigh != 0 ||
        data.nFileSizeLow > kMaxConvertedBytes || std::strlen(iniPath) >= MAX_PATH)
        return iniPath;
    ReadableCopy* entry = nullptr;
    for (int i = 0; i < copyCount && !entry; ++i)
        if (std::strcmp(copies[i].original, iniPath) == 0) entry = &copies[i];
    if (entry && entry->size == data.nFileSizeLow &&
        CompareFileTime(&entry->written, &data.ftLastWriteTime) == 0)
        return entry->copy[0] ? entry->copy : iniPath;
    if (!entry) {
        if (copyCount < kMaxCopies) {
            entry = &copies[copyCount++];
        } else {
            entry = &copies[nextReused];
            nextReused = (nextReused + 1) % kMaxCopies;
            if (entry->copy[0]) DeleteFileA(entry->copy);
        }
        entry->copy[0] = 0;
        std::strcpy(entry->original, iniPath);
    }
    entry->written = data.ftLastWriteTime;
    entry->size = data.nFileSizeLow;
    MakeReadableCopy(entry);
    return entry->copy[0] ? entry->copy : iniPath;
}

void LoadSection(const char* section, const char* iniPath) {
    char buffer[2048];
    DWORD n = GetPrivateProfileSectionA(section, buffer, sizeof buffer, ReadablePath(iniPath));
    if (n == 0) return;
    if (n >= sizeof buffer - 2) {
        // Cut by the reader: the last entry must not end in half a character.
        n = sizeof buffer - 2;
        buffer[n] = '\0';
        DWORD last = n;
        while (last > 0 && buffer[last - 1]) --last;
        TrimCutCharacter(buffer + last);
        n = last + static_cast<DWORD>(std::strlen(buffer + last));
        if (n == 0) return;
    }
    AddProfileSection(buffer, n);
}

void ReadSetting(const char* section, const char* key, const char* defaultValue, char* out,
                 int size, const char* iniPath) {
    if (!out || size <= 0) return;
    out[0] = '\0';
    // Zeroed: a reader that cannot fit a character may leave its bytes
    // unwritten, and they must end the text rather than join it.
    char* scratch = static_cast<char*>(std::calloc(static_cast<size_t>(size), 1));
    if (!scratch) return;
    GetPrivateProfileStringA(section, key, defaultValue ? defaultValue : "", scratch,
                             static_cast<DWORD>(size), ReadablePath(iniPath));
    scratch[size - 1] = '\0';
    TrimCutCharacter(scratch);
    ExpandVariables(scratch, out, size);
    std::free(scratch);
}

int ReadSettingInt(const char* section, const char* key, int defaultValue, const char* iniPath) {
    return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, ReadablePath(iniPath)));
}
