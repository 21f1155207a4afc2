// The run log written to a file: one WriteFile per line under a lock, each
// line pushed to the disk before the next event, so that a run killed or a
// machine turned off keeps every line up to then. Failures to open or write
// are swallowed: the log is a witness, never a reason to stop.
#include "base/run_log_win.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/code_page_win.h"
#include "base/run_log.h"
#include "base/text_copy.h"

namespace {
const int kNameSize = MAX_PATH;

class FileLogSink : public LogSink {
public:
    FileLogSink() : file(INVALID_HANDLE_VALUE) { InitializeCriticalSection(&lock); }

    void Now(LogTime* t) override {
        SYSTEMTIME now;
        GetLocalTime(&now);
        t->year = now.wYear;
        t->month = now.wMonth;
        t->day = now.wDay;
        t->hour = now.wHour;
        t->minute = now.wMinute;
        t->second = now.wSecond;
        t->millisecond = now.wMilliseconds;
    }

    void Write(const char* line, int length) override {
        EnterCriticalSection(&lock);
        if (file != INVALID_HANDLE_VALUE) {
            // Another run may add to the same file ("-log" twice).
            SetFilePointer(file, 0, nullptr, FILE_END);
            DWORD written = 0;
            WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
            FlushFileBuffers(file);
        }
        LeaveCriticalSection(&lock);
    }

    void Close() {
        EnterCriticalSection(&lock);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
        LeaveCriticalSection(&lock);
    }

    // The critical section lives as long as the process: a worker thread
    // may still log after the log was closed.
    CRITICAL_SECTION lock;
    HANDLE file;
    char path[kNameSize];
};

FileLogSink* sink = nullptr;

void ModuleName(char* out, int size) {
    DWORD n = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(size));
    if (n >= static_cast<DWORD>(size)) n = 0;
    out[n] = 0;
}

bool TempFolder(char* out, int size) {
    DWORD n = GetTempPathA(static_cast<DWORD>(size), out);
    if (n == 0 || n >= static_cast<DWORD>(size)) return false;
    if (out[n - 1] != '\\') {
        if (n + 1 >= static_cast<DWORD>(size)) return false;
        out[n] = '\\';
        out[n + 1] = 0;
    }
    return true;
}

HANDLE OpenForAppending(const char* path) {
    return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A new file in the temporary folder; the stamp moves on by a millisecond
// when a run that started in the same one has the name already.
HANDLE CreateDefaultLog(const char* module, char* path, int size) {
    char folder[kNameSize];
    if (!TempFolder(folder, sizeof folder)) return INVALID_HANDLE_VALUE;
    LogTime start = {};
    sink->Now(&start);
    for (int attempt = 0; attempt < 20; ++attempt) {
        char name[kNameSize];
        FormatLogFileName(module, start, name, sizeof name);
        int written = std::snprintf(path, static_cast<size_t>(size), "%s%s", folder, name);
        if (written < 0 || written >= size) return INVALID_HANDLE_VALUE;
        HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
        if (++start.millisecond >= 1000) start.millisecond = 999;
    }
    return INVALID_HANDLE_VALUE;
}

// Removes the program's logs in the temporary folder beyond the newest
// `keep`, the one being written excepted.
void RemoveOldLogs(const char* module, const char* current, int keep) {
    char folder[kNameSize];
    if (!TempFolder(folder, sizeof folder)) return;
    char pattern[kNameSize];
    if (std::snprintf(pattern, sizeof pattern, "%s*.log", folder) >= static_cast<int>(sizeof pattern))
        return;
    const char* currentName = std::strrchr(current, '\\');
    currentName = currentName ? currentName + 1 : current;
    int count = 0, capacity = 0;
    char (*names)[kNameSize] = nullptr;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!IsRunLogName(module, found.cFileName) || lstrcmpiA(found.cFileName, currentName) == 0)
            continue;
        if (count == capacity) {
            int grown = capacity ? capacity * 2 : 32;
            void* more = std::realloc(names, sizeof *names * static_cast<size_t>(grown));
            if (!more) break;
            names = static_cast<char (*)[kNameSize]>(more);
            capacity = grown;
        }
        std::snprintf(names[count++], kNameSize, "%s", found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    const char** list = static_cast<const char**>(std::malloc(sizeof(char*) * (count ? count : 1)));
    int* remove = static_cast<int*>(std::malloc(sizeof(int) * (count ? count : 1)));
    if (list && remove) {
        for (int i = 0; i < count; ++i) list[i] = names[i];
        SelectOldLogs(list, count, keep, remove);
        for (int i = 0; i < count; ++i) {
            if (!remove[i]) continue;
            char path[kNameSize];
            if (std::snprintf(path, sizeof path, "%s%s", folder, names[i]) < static_cast<int>(sizeof path))
                DeleteFileA(path);
        }
    }
    std::free(list);
    std::free(remove);
    std::free(names);
}

// The file version from the program's own version resource, read in place:
// the version library is no DLL the program may import by name.
void DescribeVersion(char* out, int size) {
    std::snprintf(out, static_cast<size_t>(size), "unknown");
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));  // RT_VERSION
    if (!found) return;
    HGLOBAL loaded = LoadResource(nullptr, found);
    const unsigned char* block = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
    DWORD length = SizeofResource(nullptr, found);
    if (!block) return;
    // The fixed part follows the key on a 4-byte boundary; its signature
    // marks it.
    for (DWORD at = 0; at + sizeof(VS_FIXEDFILEINFO) <= length; at += 4) {
        VS_FIXEDFILEINFO fixed;
        std::memcpy(&fixed, block + at, sizeof fixed);
        if (fixed.dwSignature != 0xFEEF04BD) continue;
        std::snprintf(out, static_cast<size_t>(size), "%u.%u.%u.%u",
                      static_cast<unsigned>(HIWORD(fixed.dwFileVersionMS)),
                      static_cast<unsigned>(LOWORD(fixed.dwFileVersionMS)),
                      static_cast<unsigned>(HIWORD(fixed.dwFileVersionLS)),
                      static_cast<unsigned>(LOWORD(fixed.dwFileVersionLS)));
        return;
    }
}

void DescribeSystem(char* out, int size) {
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) {
        std::snprintf(out, static_cast<size_t>(size), "Windows (version unknown)");
        return;
    }
    const char* family = version.dwPlatformId == VER_PLATFORM_WIN32_NT        ? "NT"
                         : version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? "95 family"
                                                                               : "Win32s";
    std::snprintf(out, static_cast<size_t>(size), "Windows %lu.%lu build %lu (%s)%s%s",
                  static_cast<unsigned long>(version.dwMajorVersion),
                  static_cast<unsigned long>(version.dwMinorVersion),
                  static_cast<unsigned long>(version.dwBuildNumber & 0xffff), family,
                  version.szCSDVersion[0] ? " " : "", version.szCSDVersion);
}

// "yes" or "no" from the token's elevation (systems with user account
// control), else whether the user is an administrator, else "unknown"
// (the 95 family has no tokens).
const char* DescribeElevation() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "unknown";
    const TOKEN_INFORMATION_CLASS kTokenElevation = static_cast<TOKEN_INFORMATION_CLASS>(20);
    DWORD elevated = 0;
    DWORD size = 0;
    BOOL known = GetTokenInformation(token, kTokenElevation, &elevated, sizeof elevated, &size);
    CloseHandle(token);
    if (known) return elevated ? "yes" : "no";
    typedef BOOL(WINAPI * IsAdmin)();
    HMODULE shell = GetModuleHandleA("shell32.dll");
    IsAdmin isAdmin = shell ? reinterpret_cast<IsAdmin>(
                                  reinterpret_cast<void*>(GetProcAddress(shell, "IsUserAnAdmin")))
                            : nullptr;
    if (!isAdmin) return "unknown";
    return isAdmin() ? "no user account control, administrator" : "no user account control, not administrator";
}
}  // namespace

bool OpenRunLog(const char* path) {
    if (!sink) sink = new FileLogSink;
    sink->Close();
    sink->path[0] = 0;
    char module[kNameSize];
    ModuleName(module, sizeof module);
    DWORD chosenError = 0;
    if (path && path[0]) {
        sink->file = OpenForAppending(path);
        if (sink->file != INVALID_HANDLE_VALUE) std::snprintf(sink->path, sizeof sink->path, "%s", path);
        else chosenError = GetLastError() ? GetLastError() : ERROR_INVALID_NAME;
    }
    if (sink->file == INVALID_HANDLE_VALUE)
        sink->file = CreateDefaultLog(module, sink->path, sizeof sink->path);
    if (sink->file == INVALID_HANDLE_VALUE) sink->path[0] = 0;
    SetLogSink(sink);
    if (chosenError) LogEvent("log: cannot open %s (error %lu), writing here instead", path,
                              static_cast<unsigned long>(chosenError));
    RemoveOldLogs(module, sink->path, kKeptOldLogs);
    return sink->file != INVALID_HANDLE_VALUE;
}

void CloseRunLog() {
    if (sink) sink->Close();
}

const char* RunLogPath() { return sink ? sink->path : ""; }

void LogProgramStart(const char* commandLine) {
    char module[kNameSize];
    ModuleName(module, sizeof module);
    char version[40];
    DescribeVersion(version, sizeof version);
    char system[200];
    DescribeSystem(system, sizeof system);
    LogEvent("start: %s version %s; command line \"%s\"; %s; elevated: %s; texts in %s (legacy code page %u)",
             module, version, commandLine ? commandLine : "", system, DescribeElevation(),
             TextsUtf8() ? "UTF-8" : "the legacy code page", LegacyCodePage());
}
