// The kept files: the list the handing run writes, and the checked copy the
// elevated copy makes of them before it installs.
#include "install/kept_files_win.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/own_folder_win.h"
#include "base/run_log.h"
#include "base/text_copy.h"
#include "base/work_folder.h"
#include "install/action_line.h"
#include "install/kept_list.h"
#include "setup/catalogue_win.h"
#include "setup/download_folder_win.h"
#include "setup/profile.h"
#include "setup/profile_win.h"

namespace {
const DWORD kBlock = 256 * 1024;
const char kExtractionLibrary[] = "cvgetex.dll";
// Rounds of install lines looked at for the names they read: more than any
// setup description has.
const int kMaxRounds = 9999;

bool IsPlainFile(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Adds `name` (relative to the folder) when such a file is there.
void AddPresent(KeptNames* names, const char* folder, const char* name) {
    char path[MAX_PATH];
    if (std::snprintf(path, sizeof path, "%s\\%s", folder, name) >= static_cast<int>(sizeof path)) return;
    if (IsPlainFile(path)) AddKeptName(names, name);
}

// Adds the file of `fullPath` when it lies in the folder.
void AddPresentPath(KeptNames* names, const char* folder, const char* fullPath) {
    char name[MAX_PATH];
    if (NameInFolder(fullPath, folder, name, sizeof name)) AddPresent(names, folder, name);
}

// What one component's install reads from the download folder.
void AddComponentNames(KeptNames* names, const char* folder, const Component* component) {
    AddPresentPath(names, folder, component->infPath);
    // "copy" and "cdrom" components are read where they are, not from the
    // download folder.
    const int protocol = GetProtocol(component);
    const bool fromFolder = protocol != ProtocolCopy && protocol != ProtocolCdrom;
    char list[300];
    if (fromFolder) {
        ReadSetting(component->section, "files", "", list, sizeof list, component->infPath);
        char* cursor = list;
        while (char* name = NextToken(&cursor, ", ")) AddPresent(names, folder, name);
    }
    int rounds = static_cast<int>(GetPrivateProfileIntA(component->section, "count", 1, component->infPath));
    if (rounds > kMaxRounds) rounds = kMaxRounds;
    for (int i = 1; i <= rounds; ++i) {
        char key[32];
        char line[512];
        static const char* const kActionKeys[] = {"extract", "install"};
        for (const char* kind : kActionKeys) {
            std::snprintf(key, sizeof key, "%s%d", kind, i);
            ReadSetting(component->section, key, "", line, sizeof line, component->infPath);
            ActionLine action;
            if (fromFolder && line[0] && SplitActionLine(line, &action)) AddPresent(names, folder, action.file);
        }
        std::snprintf(key, sizeof key, "registry%d", i);
        ReadSetting(component->section, key, "", line, sizeof line, component->infPath);
        char section[260];
        char file[MAX_PATH];
        if (line[0] && SplitRegistryReference(line, component->infPath, section, sizeof section, file, sizeof file))
            AddPresentPath(names, folder, file);
    }
}

// Opens a kept file itself for reading, sharing nothing but reading, so
// that nobody writes it while it is read. Refused: a link or other reparse
// point (also in a folder on its way), a directory, a file with more than
// one name (another name may be anyone's to write).
HANDLE OpenKeptFile(const char* folder, const char* name, unsigned long long* size) {
    char path[MAX_PATH];
    if (std::snprintf(path, sizeof path, "%s\\%s", folder, name) >= static_cast<int>(sizeof path))
        return INVALID_HANDLE_VALUE;
    // The folders between the kept folder and the file (Wine shows a link
    // in the attributes of its path only).
    for (char* p = path + std::strlen(folder) + 1; *p; ++p) {
        if (*p != '\\' && *p != '/') continue;
        const char separator = *p;
        *p = '\0';
        const DWORD attributes = GetFileAttributesA(path);
        *p = separator;
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            LogEvent("kept file %s: a folder on its way is a link or missing", path);
            return INVALID_HANDLE_VALUE;
        }
    }
    BY_HANDLE_FILE_INFORMATION information;
    HANDLE file = OpenEntryItself(path, GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_SEQUENTIAL_SCAN, &information);
    if (file == INVALID_HANDLE_VALUE) {
        LogEvent("kept file %s cannot be opened (error %lu)", path, GetLastError());
        return file;
    }
    const char* refusal = nullptr;
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        refusal = "is a link";
    else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        refusal = "is a folder";
    else if (information.nNumberOfLinks != 1)
        refusal = "has more than one name";
    if (refusal) {
        LogEvent("kept file %s %s: refused", path, refusal);
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    *size = (static_cast<unsigned long long>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    return file;
}

// Reads `file` to its end into the digest and, when `copy` is given, into
// it as well; the bytes copied are the bytes digested.
bool DigestFile(HANDLE file, BYTE* buffer, unsigned char digest[kSha256Size], unsigned long long* total,
                HANDLE copy) {
    Sha256 sha;
    *total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, kBlock, &got, nullptr)) return false;
        if (got == 0) break;
        sha.update(buffer, got);
        *total += got;
        DWORD written = 0;
        if (copy != INVALID_HANDLE_VALUE && (!WriteFile(copy, buffer, got, &written, nullptr) || written != got))
            return false;
    }
    sha.final(digest);
    return true;
}

bool WriteWhole(const char* path, const char* text, size_t length) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr) && written == length;
    CloseHandle(file);
    return ok;
}

struct CopyRun {
    const char* keptFolder;
    const char* ownFolder;
    BYTE* buffer;
};

int CopyOneKeptFile(const KeptFile& listed, void* context) {
    CopyRun* run = static_cast<CopyRun*>(context);
    unsigned long long size = 0;
    HANDLE source = OpenKeptFile(run->keptFolder, listed.name, &size);
    if (source == INVALID_HANDLE_VALUE) return 0;
    char target[MAX_PATH];
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (std::snprintf(target, sizeof target, "%s\\%s", run->ownFolder, listed.name) < static_cast<int>(sizeof target)) {
        CreateParentDirectories(target);
        copy = CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    unsigned char digest[kSha256Size];
    unsigned long long total = 0;
    const bool read = copy != INVALID_HANDLE_VALUE && DigestFile(source, run->buffer, digest, &total, copy);
    CloseHandle(source);
    if (copy != INVALID_HANDLE_VALUE) CloseHandle(copy);
    if (!read) {
        LogEvent("kept file %s cannot be copied into %s", listed.name, run->ownFolder);
        return 0;
    }
    if (total != listed.size || std::memcmp(digest, listed.digest, sizeof digest) != 0) {
        LogEvent("kept file %s differs from the list (%llu bytes, listed %llu): refused", listed.name, total,
                 listed.size);
        return 0;
    }
    return 1;
}
}  // namespace

int WriteKeptList(const char* downloadFolder, const char* setupPath, int componentCount,
                  char listSum[kSha256HexLength + 1]) {
    listSum[0] = '\0';
    KeptNames names = {static_cast<char(*)[260]>(std::malloc(sizeof(char[260]) * kMaxKeptFiles)), 0};
    const size_t capacity = kMaxKeptListBytes;
    char* text = static_cast<char*>(std::malloc(capacity));
    BYTE* buffer = static_cast<BYTE*>(std::malloc(kBlock));
    int ok = names.names && text && buffer;
    if (ok) {
        if (setupPath) AddPresentPath(&names, downloadFolder, setupPath);
        for (int row = 0; row < componentCount; ++row) AddComponentNames(&names, downloadFolder, GetRowComponent(row));
        AddPresent(&names, downloadFolder, kExtractionLibrary);
    }
    size_t used = 0;
    for (int i = 0; ok && i < names.count; ++i) {
        KeptFile file;
        CopyTruncated(file.name, sizeof file.name, names.names[i]);
        unsigned long long size = 0;
        HANDLE handle = OpenKeptFile(downloadFolder, file.name, &size);
        ok = handle != INVALID_HANDLE_VALUE && DigestFile(handle, buffer, file.digest, &file.size, INVALID_HANDLE_VALUE) &&
             FormatKeptLine(file, text + used, static_cast<int>(capacity - used));
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        if (ok) used += std::strlen(text + used);
        else LogEvent("kept file %s\\%s cannot be listed", downloadFolder, file.name);
    }
    char path[MAX_PATH];
    if (ok) ok = std::snprintf(path, sizeof path, "%s\\%s", downloadFolder, kKeptListName) < static_cast<int>(sizeof path) &&
                 WriteWhole(path, text, used);
    if (ok) {
        unsigned char digest[kSha256Size];
        Sha256Of(text, used, digest);
        Sha256Hex(digest, listSum);
        LogEvent("listed %d kept files in %s, SHA-256 %s", names.count, path, listSum);
    }
    std::free(names.names);
    std::free(text);
    std::free(buffer);
    return ok;
}

int TakeKeptFiles(const char* keptFolder, const char* listSum, char* ownFolder, int size) {
    if (size > 0) ownFolder[0] = '\0';
    unsigned char expected[kSha256Size];
    if (!listSum || !ParseSha256Hex(listSum, expected)) {
        LogEvent("no SHA-256 of the kept files' list on the command line: nothing is installed");
        return 0;
    }
    unsigned long long length = 0;
    HANDLE list = OpenKeptFile(keptFolder, kKeptListName, &length);
    if (list == INVALID_HANDLE_VALUE) return 0;
    char* text = length <= kMaxKeptListBytes ? static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1)) : nullptr;
    DWORD got = 0;
    const bool read = text && ReadFile(list, text, static_cast<DWORD>(length), &got, nullptr) && got == length;
    CloseHandle(list);
    unsigned char digest[kSha256Size];
    if (read) Sha256Of(text, static_cast<size_t>(length), digest);
    if (!read || std::memcmp(digest, expected, sizeof digest) != 0) {
        LogEvent("the list of kept files in %s differs from the SHA-256 on the command line: nothing is installed",
                 keptFolder);
        std::free(text);
        return 0;
    }
    char temp[MAX_PATH];
    DWORD n = GetTempPathA(sizeof temp, temp);
    BYTE* buffer = static_cast<BYTE*>(std::malloc(kBlock));
    int ok = buffer && n > 0 && n < sizeof temp &&
             MakeOwnFolder(temp, kDownloadFolderPrefix, FolderOfThisElevation, ownFolder, size);
    if (ok) {
        CopyRun run = {keptFolder, ownFolder, buffer};
        ok = ParseKeptList(text, static_cast<size_t>(length), CopyOneKeptFile, &run);
        if (ok) {
            LogEvent("copied the kept files of %s into %s, each matching its SHA-256", keptFolder, ownFolder);
        } else {
            LogEvent("the kept files of %s do not match their list: nothing is installed", keptFolder);
            DeleteTree(ownFolder);
            ownFolder[0] = '\0';
        }
    }
    std::free(buffer);
    std::free(text);
    return ok;
}
