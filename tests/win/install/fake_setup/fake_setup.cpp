// A stand-in for a component's setup program, started by the install action
// tests. Steered through its environment, since its command line is what the
// tests look at:
//   CV_FAKE_LOG     file to write: the command line, then the working folder
//   CV_FAKE_HOLD    name of an event: keep running until it is set (at most
//                   30 s); at the very end signal the event named the same
//                   plus "_done"
//   CV_FAKE_FAILED  text left as "Failed" for the installer to find, written
//                   when the program is about to end
//   CV_FAKE_EXIT    the exit code to end with (default 0)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main() {
    char log[MAX_PATH];
    if (GetEnvironmentVariableA("CV_FAKE_LOG", log, sizeof log)) {
        char folder[MAX_PATH] = "";
        GetCurrentDirectoryA(sizeof folder, folder);
        FILE* f = fopen(log, "wb");
        if (f) {
            fprintf(f, "%s\n%s\n", GetCommandLineA(), folder);
            fclose(f);
        }
    }
    char hold[200];
    int holding = GetEnvironmentVariableA("CV_FAKE_HOLD", hold, sizeof hold) != 0;
    if (holding) {
        HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, hold);
        if (release) {
            WaitForSingleObject(release, 30000);
            CloseHandle(release);
        }
    }
    char failed[1024];
    if (GetEnvironmentVariableA("CV_FAKE_FAILED", failed, sizeof failed)) {
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Corvane\\Corvane\\InstallComponents", 0,
                            nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
            RegSetValueExA(key, "Failed", 0, REG_SZ, (const BYTE*)failed,
                           (DWORD)strlen(failed) + 1);
            RegSetValueExA(key, "FailedMessage", 0, REG_SZ, (const BYTE*)"stand-in failed", 16);
            RegCloseKey(key);
        }
    }
    if (holding) {
        strncat(hold, "_done", sizeof hold - strlen(hold) - 1);
        HANDLE done = OpenEventA(EVENT_MODIFY_STATE, FALSE, hold);
        if (done) {
            SetEvent(done);
            CloseHandle(done);
        }
    }
    char exitCode[32];
    if (GetEnvironmentVariableA("CV_FAKE_EXIT", exitCode, sizeof exitCode))
        return static_cast<int>(strtoul(exitCode, nullptr, 10));
    return 0;
}
