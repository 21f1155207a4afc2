// The download folder: found through its registry record or made fresh in
// the temporary directory, removed together with the record, and the path
// helpers used when files are written into it.
#include "setup/download_folder_win.h"

#include <cstdio>
#include <cstring>

#include "base/own_folder_win.h"
#include "base/process_win.h"
#include "base/run_log.h"
#include "base/work_folder.h"
#include "resources/resource.h"

namespace {

const UINT kRecordKeyString = IDS_FOLDER_KEY;
const char kRecordKeyFallback[] = "Software\\Corvane\\CvGet";
const char kPathValue[] = "Path";
// Set beside "Path" when a run that was over could not remove its folder:
// the next start removes it. A folder taken up again loses the mark.
const char kRemovePendingValue[] = "RemovePending";
// A file still held by someone is tried again this often, this far apart.
const int kRemoveAttempts = 10;
const DWORD kRemoveRetryMs = 100;

// The record's key name from the string table; the built-in name when the
// table lacks it, so that a folder is never recorded under an empty key
// (which would be HKEY_CURRENT_USER itself).
void LoadRecordKey(HINSTANCE instance, char* key, int size) {
    if (LoadStringA(instance, kRecordKeyString, key, size) <= 0) {
        std::snprintf(key, static_cast<size_t>(size), "%s", kRecordKeyFallback);
    }
}

// Reads the recorded folder; false when there is no usable record.
// `removePending` (when given) tells whether the record carries the mark;
// `takeUp` clears the mark, as the folder is in use again.
bool ReadRecordedPath(const char* key, char* path, bool* removePending = nullptr, bool takeUp = false) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = MAX_PATH;
    LONG status = RegQueryValueExA(handle, kPathValue, nullptr, &type,
                                   reinterpret_cast<BYTE*>(path), &size);
    if (removePending) {
        DWORD mark = 0;
        DWORD markType = 0;
        DWORD markSize = sizeof mark;
        *removePending = RegQueryValueExA(handle, kRemovePendingValue, nullptr, &markType,
                                          reinterpret_cast<BYTE*>(&mark), &markSize) == ERROR_SUCCESS &&
                         markType == REG_DWORD && mark != 0;
    }
    if (takeUp) RegDeleteValueA(handle, kRemovePendingValue);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS || type != REG_SZ) return false;
    // The stored value need not carry its terminator.
    path[size < MAX_PATH ? size : MAX_PATH - 1] = '\0';
    // An empty record would name no folder at all; make a new one instead.
    return path[0] != '\0';
}

// Keeps the record of a folder that could not be removed, marked so that
// the next start removes it rather than leave it to nobody.
void MarkForRemoval(const char* key, const char* path) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &handle, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(handle, kPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                   static_cast<DWORD>(std::strlen(path) + 1));
    DWORD mark = 1;
    RegSetValueExA(handle, kRemovePendingValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mark),
                   sizeof mark);
    RegCloseKey(handle);
}

bool Gone(const char* path) {
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return false;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A file that another thread or program closes a moment later (a virus
// scanner, a worker that was slow to stop) does not keep the folder.
bool DeleteTreeWithRetries(const char* path) {
    for (int attempt = 1;; ++attempt) {
        DeleteTree(path);
        if (Gone(path)) return true;
        if (attempt >= kRemoveAttempts) return false;
        Sleep(kRemoveRetryMs);
    }
}

bool TemporaryFolder(char* out, DWORD size) {
    DWORD n = GetTempPathA(size, out);
    return n > 0 && n < size;
}

// Whether `path` has a download folder's name and lies directly in the
// current user's temporary folder, in the form either was written or in
// their long forms.
bool IsDownloadFolderOfThisUser(const char* path) {
    char temp[MAX_PATH];
    if (!TemporaryFolder(temp, sizeof temp)) return false;
    if (IsDownloadFolderPath(path, temp)) return true;
    char longPath[MAX_PATH];
    char longTemp[MAX_PATH];
    DWORD a = GetLongPathNameA(path, longPath, sizeof longPath);
    DWORD b = GetLongPathNameA(temp, longTemp, sizeof longTemp);
    return a > 0 && a < sizeof longPath && b > 0 && b < sizeof longTemp &&
           IsDownloadFolderPath(longPath, longTemp);
}

// A recorded folder is taken up again only when it is one the program
// made: the record is a value any program of the user can write.
bool TakeUpRecordedFolder(const char* path) {
    if (!IsDownloadFolderOfThisUser(path)) {
        LogEvent("the recorded download folder %s is not one of this program's: a new one is made", path);
        return false;
    }
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        // Gone meanwhile: made again under the same name, unless someone
        // else was quicker.
        if (CreateOwnFolder(path, FolderOfTheAccount)) {
            LogEvent("made the download folder %s again", path);
            return true;
        }
    } else if (IsOwnFolder(path)) {
        return true;
    }
    LogEvent("the recorded download folder %s is not the program's own: a new one is made", path);
    return false;
}

}  // namespace

int OpenDownloadFolder(DownloadFolder* folder) {
    char key[200];
    LoadRecordKey(folder->instance, key, sizeof key);
    if (ReadRecordedPath(key, folder->path, nullptr, true) && TakeUpRecordedFolder(folder->path))
        return 1;
    char temp[MAX_PATH];
    if (!TemporaryFolder(temp, sizeof temp) ||
        !MakeOwnFolder(temp, kDownloadFolderPrefix, FolderOfTheAccount, folder->path, sizeof folder->path)) {
        folder->path[0] = '\0';
        return 0;
    }
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &handle, nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(handle, kPathValue, 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(folder->path),
                       static_cast<DWORD>(std::strlen(folder->path) + 1));
        RegCloseKey(handle);
    }
    LogEvent("made the download folder %s", folder->path);
    return 1;
}

int RemoveDownloadFolder(DownloadFolder* folder) {
    if (secondInstance) {
        LogEvent("download folder %s kept: a second instance never removes it", folder->path);
        return 0;
    }
    // Only a folder of the program's own kind, where it makes them: the
    // path comes from the registry or the command line. An empty path or a
    // drive root never passes.
    if (!IsDownloadFolderOfThisUser(folder->path)) {
        LogEvent("%s is not a download folder of this program in the temporary folder: not removed",
                 folder->path);
        return 0;
    }
    char key[200];
    LoadRecordKey(folder->instance, key, sizeof key);
    if (!DeleteTreeWithRetries(folder->path)) {
        MarkForRemoval(key, folder->path);
        LogEvent("the download folder %s cannot be removed wholly: its record stays, for the next start",
                 folder->path);
        return 0;
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
    LogEvent("removed the download folder %s and its registry record", folder->path);
    return 1;
}

int RemoveLeftoverDownloadFolder(HINSTANCE instance) {
    if (secondInstance) return 0;
    char key[200];
    LoadRecordKey(instance, key, sizeof key);
    DownloadFolder folder = {};
    folder.instance = instance;
    bool pending = false;
    if (!ReadRecordedPath(key, folder.path, &pending) || !pending) return 0;
    return RemoveDownloadFolder(&folder);
}

void DeleteTree(const char* path) {
    // Held without sharing its deletion, so that it cannot be renamed or
    // replaced by a link while the removal works inside it.
    BY_HANDLE_FILE_INFORMATION information;
    HANDLE held = OpenEntryItself(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, &information);
    if (held == INVALID_HANDLE_VALUE) return;
    const DWORD attributes = information.dwFileAttributes;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(held);
        // A link is removed itself; what it points to is not ours. Anything
        // else that is no directory is no tree.
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryA(path);
        return;
    }
    char pattern[MAX_PATH];
    if (std::snprintf(pattern, sizeof pattern, "%s\\*.*", path) < static_cast<int>(sizeof pattern)) {
        WIN32_FIND_DATAA entry;
        HANDLE find = FindFirstFileA(pattern, &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (!std::strcmp(entry.cFileName, ".") || !std::strcmp(entry.cFileName, "..")) continue;
                char child[MAX_PATH];
                // A cut path would name some other file: such entries are left alone.
                if (std::snprintf(child, sizeof child, "%s\\%s", path, entry.cFileName) >=
                    static_cast<int>(sizeof child))
                    continue;
                // The listing only says where to look: a directory is
                // opened and checked itself before anything inside it goes,
                // and deleting a file never follows a link.
                if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    DeleteTree(child);
                else
                    DeleteFileA(child);
            } while (FindNextFileA(find, &entry));
            FindClose(find);
        }
    }
    CloseHandle(held);
    // Attributes beside the directory bit (hidden, system, read-only...)
    // must not keep a directory.
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    RemoveDirectoryA(path);
}

int CreateParentDirectories(const char* path) {
    char copy[MAX_PATH];
    std::snprintf(copy, sizeof copy, "%s", path);
    for (char* p = copy; *p; ++p) {
        if (*p != '\\' && *p != '/') continue;
        *p = '\0';
        if (copy[0] && GetFileAttributesA(copy) == INVALID_FILE_ATTRIBUTES)
            CreateDirectoryA(copy, nullptr);
        *p = '\\';
    }
    return 1;
}

char* JoinPath(const char* directory, const char* name, char* out) {
    std::snprintf(out, MAX_PATH, "%s\\%s", directory, name);
    return out;
}
