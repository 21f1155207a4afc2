// Entry names checked and turned into paths below the target folder, and
// entry files written under a temporary name first, so that an archive that
// turns out damaged never leaves a half-written file behind a real name.
#include "output_folder.h"

#include <string.h>
#include <wchar.h>

namespace {

int IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

int IsRefusedCharacter(wchar_t c) {
    return c < 32 || wcschr(L"<>\"|?*:", c) != nullptr;
}

int EqualNoCaseAscii(const wchar_t* a, int length, const wchar_t* b) {
    for (int i = 0; i < length; ++i) {
        wchar_t x = a[i], y = b[i];
        if (!y) return 0;
        if (x >= L'a' && x <= L'z') x = (wchar_t)(x - 32);
        if (x != y) return 0;
    }
    return b[length] == 0;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension: the
// system opens the device instead of a file.
int IsDeviceName(const wchar_t* part, int length) {
    int base = 0;
    while (base < length && part[base] != L'.' && part[base] != L' ') ++base;
    static const wchar_t* const names[] = {L"CON", L"PRN", L"AUX", L"NUL"};
    for (const wchar_t* name : names)
        if (EqualNoCaseAscii(part, base, name)) return 1;
    if (base == 4 && part[3] >= L'1' && part[3] <= L'9' &&
        (EqualNoCaseAscii(part, 3, L"COM") || EqualNoCaseAscii(part, 3, L"LPT")))
        return 1;
    return 0;
}

int OnlyDotsAndBlanks(const wchar_t* part, int length) {
    for (int i = 0; i < length; ++i)
        if (part[i] != L'.' && part[i] != L' ') return 0;
    return 1;
}

// Creates every folder of `path` after its first `keep` characters.
int CreateFolders(wchar_t* path, int keep) {
    size_t n = wcslen(path);
    for (size_t i = (size_t)keep; i <= n; ++i) {
        if (path[i] != L'\\' && path[i] != 0) continue;
        if (i == 0 || path[i - 1] == L'\\' || path[i - 1] == L':') continue;
        wchar_t saved = path[i];
        path[i] = 0;
        if (!CreateDirectoryW(path, nullptr)) {
            DWORD attributes = GetFileAttributesW(path);
            if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                path[i] = saved;
                return 0;
            }
        }
        path[i] = saved;
    }
    return 1;
}

// Length of the part of a full path that names its drive or share
// ("C:\", "\\server\share\"), which is never created.
int RootLength(const wchar_t* path) {
    if (path[0] && path[1] == L':') return path[2] == L'\\' ? 3 : 2;
    if (path[0] == L'\\' && path[1] == L'\\') {
        int slashes = 0;
        int i = 2;
        for (; path[i]; ++i)
            if (path[i] == L'\\' && ++slashes == 2) return i + 1;
        return i;
    }
    return 0;
}

int JoinPath(const OutputFolder* folder, const wchar_t* relative, wchar_t* out) {
    size_t a = wcslen(folder->root);
    size_t b = wcslen(relative);
    if (a + 1 + b >= MAX_PATH) return 0;
    memcpy(out, folder->root, a * sizeof(wchar_t));
    out[a] = L'\\';
    memcpy(out + a + 1, relative, (b + 1) * sizeof(wchar_t));
    return 1;
}

}  // namespace

int OpenOutputFolder(OutputFolder* out, const char* target, int flag, int verifyOnly) {
    out->keepExisting = (flag & 1) != 0;
    out->verifyOnly = verifyOnly;
    out->root[0] = 0;
    if (!target || !*target) return 0;
    wchar_t wide[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, target, -1, wide, MAX_PATH)) return 0;
    DWORD n = GetFullPathNameW(wide, MAX_PATH, out->root, nullptr);
    if (n == 0 || n >= MAX_PATH) return 0;
    int keep = RootLength(out->root);
    while ((int)n > keep && out->root[n - 1] == L'\\') out->root[--n] = 0;
    if (verifyOnly) return 1;
    if (!CreateFolders(out->root, keep)) return 0;
    DWORD attributes = GetFileAttributesW(out->root);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int MakeEntryPath(const OutputFolder* folder, const char* name, int nameLength, UINT codePage,
                  wchar_t* relative, int* isFolder) {
    relative[0] = 0;
    *isFolder = 0;
    if (nameLength <= 0 || nameLength >= MAX_PATH) return 0;
    wchar_t wide[MAX_PATH];
    DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    int n = MultiByteToWideChar(codePage, flags, name, nameLength, wide, MAX_PATH - 1);
    if (n <= 0 && codePage != CP_ACP && codePage != CP_UTF8)
        n = MultiByteToWideChar(CP_ACP, 0, name, nameLength, wide, MAX_PATH - 1);
    if (n <= 0) return 0;
    wide[n] = 0;
    if (IsSeparator(wide[0])) return 0;  // absolute, or a share

    int used = 0;
    const wchar_t* part = wide;
    while (*part) {
        int length = 0;
        while (part[length] && !IsSeparator(part[length])) ++length;
        if (length > 0 && !(length == 1 && part[0] == L'.')) {
            if (OnlyDotsAndBlanks(part, length) || IsDeviceName(part, length)) return 0;
            for (int i = 0; i < length; ++i)
                if (IsRefusedCharacter(part[i])) return 0;
            if (used + (used ? 1 : 0) + length >= MAX_PATH) return 0;
            if (used) relative[used++] = L'\\';
            memcpy(relative + used, part, length * sizeof(wchar_t));
            used += length;
            relative[used] = 0;
        }
        part += length;
        if (*part) {
            ++part;
            if (!*part) *isFolder = 1;
        }
    }
    wchar_t full[MAX_PATH];
    return JoinPath(folder, relative, full);
}

int BeginEntry(const OutputFolder* folder, const wchar_t* relative, EntryWriter* writer) {
    writer->file = INVALID_HANDLE_VALUE;
    writer->temp[0] = 0;
    writer->skipped = 1;
    if (!JoinPath(folder, relative, writer->final)) return 0;
    if (folder->verifyOnly) return 1;
    if (folder->keepExisting && GetFileAttributesW(writer->final) != INVALID_FILE_ATTRIBUTES)
        return 1;
    wchar_t parent[MAX_PATH];
    wcscpy(parent, writer->final);
    wchar_t* last = wcsrchr(parent, L'\\');
    if (!last) return 0;
    *last = 0;
    if (!CreateFolders(parent, RootLength(parent))) return 0;
    if (!GetTempFileNameW(parent, L"cvx", 0, writer->temp)) {
        writer->temp[0] = 0;
        return 0;
    }
    writer->file = CreateFileW(writer->temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writer->file == INVALID_HANDLE_VALUE) {
        DeleteFileW(writer->temp);
        writer->temp[0] = 0;
        return 0;
    }
    writer->skipped = 0;
    return 1;
}

int WriteEntry(EntryWriter* writer, const void* data, unsigned length) {
    if (writer->skipped) return 1;
    const char* p = (const char*)data;
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(writer->file, p, length, &written, nullptr) || written == 0) return 0;
        p += written;
        length -= written;
    }
    return 1;
}

int CommitEntry(EntryWriter* writer, unsigned short dosDate, unsigned short dosTime) {
    if (writer->skipped) return 1;
    FILETIME local, utc;
    if (dosDate && DosDateTimeToFileTime(dosDate, dosTime, &local) &&
        LocalFileTimeToFileTime(&local, &utc))
        SetFileTime(writer->file, nullptr, nullptr, &utc);
    int closed = CloseHandle(writer->file);
    writer->file = INVALID_HANDLE_VALUE;
    if (!closed || !MoveFileExW(writer->temp, writer->final, MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(writer->temp);
        writer->temp[0] = 0;
        return 0;
    }
    writer->temp[0] = 0;
    writer->skipped = 1;
    return 1;
}

void AbandonEntry(EntryWriter* writer) {
    if (writer->file != INVALID_HANDLE_VALUE) CloseHandle(writer->file);
    writer->file = INVALID_HANDLE_VALUE;
    if (writer->temp[0]) DeleteFileW(writer->temp);
    writer->temp[0] = 0;
    writer->skipped = 1;
}

int MakeFolderEntry(const OutputFolder* folder, const wchar_t* relative) {
    if (folder->verifyOnly || !relative[0]) return 1;
    wchar_t full[MAX_PATH];
    if (!JoinPath(folder, relative, full)) return 0;
    return CreateFolders(full, (int)wcslen(folder->root) + 1);
}
