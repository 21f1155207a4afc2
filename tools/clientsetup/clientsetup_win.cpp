// A stand-in for the client product's setup program. An install action
// starts it; it records that it ran and, as the real client's setup does
// when it has finished, reports success in the state file.
//   -log FILE     append the tag (and the rest of the command line) to FILE
//   -tag TEXT     the tag to log (default "setup")
//   -success      write [result] success=1 into the state file
//   -fail         leave "Failed" under the client's InstallComponents key
//   -exit N       end with exit code N (default 0), as installers report
//                 success (0), a needed restart (3010) or a failure
//   -copy A B     copy file A to B (B's folders are created)
//   -wait FILE    write FILE.waiting, then wait (up to a minute) until FILE
//                 exists, so that a test can look at the installer meanwhile
//   -readstate SECTION KEY FILE
//                 append the state file's value as the client reads it
//                 (the ANSI profile functions, in the system's code page:
//                 this program does not choose UTF-8) and a line end to FILE
// Unknown words (the installer appends its own switches) are ignored.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// Next blank-separated word of the command line ("..." keeps blanks).
const char* NextWord(const char* p, char* out, int size) {
    while (*p == ' ' || *p == '\t') ++p;
    int used = 0;
    bool quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
        if (*p == '"') {
            quoted = !quoted;
        } else if (used < size - 1) {
            out[used++] = *p;
        }
        ++p;
    }
    out[used] = '\0';
    return p;
}

void MakeParents(const char* path) {
    char buffer[MAX_PATH];
    lstrcpynA(buffer, path, MAX_PATH);
    for (char* p = buffer + 3; *p; ++p) {
        if (*p != '\\') continue;
        *p = '\0';
        CreateDirectoryA(buffer, nullptr);
        *p = '\\';
    }
}

bool StatePath(char* path) {
    UINT length = GetWindowsDirectoryA(path, MAX_PATH - 16);
    if (!length || length >= MAX_PATH - 16) return false;
    lstrcatA(path, "\\tessark.ini");
    return true;
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    char word[MAX_PATH];
    char logPath[MAX_PATH] = "";
    char tag[100] = "setup";
    bool success = false;
    bool fail = false;
    int exitCode = 0;
    const char* p = commandLine;
    while (*p) {
        p = NextWord(p, word, sizeof word);
        if (!word[0]) break;
        if (strcmp(word, "-log") == 0) {
            p = NextWord(p, logPath, sizeof logPath);
        } else if (strcmp(word, "-tag") == 0) {
            p = NextWord(p, tag, sizeof tag);
        } else if (strcmp(word, "-success") == 0) {
            success = true;
        } else if (strcmp(word, "-exit") == 0) {
            char number[32];
            p = NextWord(p, number, sizeof number);
            exitCode = static_cast<int>(strtoul(number, nullptr, 10));
        } else if (strcmp(word, "-fail") == 0) {
            fail = true;
        } else if (strcmp(word, "-wait") == 0) {
            char flag[MAX_PATH];
            p = NextWord(p, flag, sizeof flag);
            char marker[MAX_PATH + 8];
            snprintf(marker, sizeof marker, "%s.waiting", flag);
            FILE* waiting = fopen(marker, "w");
            if (waiting) fclose(waiting);
            for (int i = 0; i < 1200 && GetFileAttributesA(flag) == INVALID_FILE_ATTRIBUTES; ++i)
                Sleep(50);
        } else if (strcmp(word, "-readstate") == 0) {
            char section[100], key[100], report[MAX_PATH];
            p = NextWord(p, section, sizeof section);
            p = NextWord(p, key, sizeof key);
            p = NextWord(p, report, sizeof report);
            char path[MAX_PATH];
            char value[1000] = "";
            if (StatePath(path)) GetPrivateProfileStringA(section, key, "<none>", value, sizeof value, path);
            FILE* out = fopen(report, "ab");
            if (out) {
                fprintf(out, "%s\n", value);
                fclose(out);
            }
        } else if (strcmp(word, "-copy") == 0) {
            char from[MAX_PATH];
            char to[MAX_PATH];
            p = NextWord(p, from, sizeof from);
            p = NextWord(p, to, sizeof to);
            MakeParents(to);
            CopyFileA(from, to, FALSE);
        }
    }
    if (logPath[0]) {
        FILE* log = fopen(logPath, "a");
        if (log) {
            fprintf(log, "%s|%s\n", tag, commandLine);
            fclose(log);
        }
    }
    if (fail) {
        HKEY key;
        if (RegCreateKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Corvane\\Corvane\\InstallComponents", &key) ==
            ERROR_SUCCESS) {
            RegSetValueExA(key, "Failed", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
            RegCloseKey(key);
        }
    }
    if (success) {
        char path[MAX_PATH];
        if (StatePath(path)) {
            WritePrivateProfileStringA("result", "success", "1", path);
            WritePrivateProfileStringA(nullptr, nullptr, nullptr, path);
        }
    }
    return exitCode;
}
