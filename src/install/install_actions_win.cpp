// Carries out one install action of a component (unpack, start and wait,
// copy, queue a COM server, shell verb), imports registry sections, and
// finds the installed client's folders. The rules themselves live in
// action_line.cpp; this file binds them to the system.
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <string.h>

#include "base/own_folder_win.h"
#include "base/process_win.h"
#include "base/run_log.h"
#include "base/system_dll_win.h"
#include "base/work_folder.h"
#include "install/action_line.h"
#include "install/install_rules.h"
#include "install/install_win.h"
#include "setup/catalogue_win.h"
#include "setup/download_folder_win.h"
#include "setup/profile_win.h"

HANDLE waitedProcess = INVALID_HANDLE_VALUE;

namespace {

const char kInstallComponentsKey[] = "SOFTWARE\\Corvane\\Corvane\\InstallComponents";
const char kClientKey[] = "SOFTWARE\\Corvane\\Corvane";
const char kPublicComponentsKey[] = "Software\\Corvane\\Corvane\\Public\\Components\\";
const char kComQueueKey[] = "Software\\Corvane\\Corvane\\ComponentsToRegister";
const char kAppPathsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\corvane.exe";

const int kCommandSize = 2048;
const int kRegistrySectionSize = 16384;

typedef int(__cdecl* UnzipPackageFunction)(const char* archive, const char* target, int flag);

HMODULE extractionLibrary = nullptr;
int packageCounter = 1;  // the next "INS%d"

void ClearFailedValues() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInstallComponentsKey, 0, KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, "Failed");
    RegDeleteValueA(key, "FailedMessage");
    RegCloseKey(key);
}

// Whether the program left "Failed" behind. A value longer than the 260
// bytes read still exists: it reports a failure all the same.
int ProgramReportedFailure() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInstallComponentsKey, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return 0;
    BYTE data[260];
    DWORD size = sizeof data;
    LONG status = RegQueryValueExA(key, "Failed", nullptr, nullptr, data, &size);
    RegCloseKey(key);
    return (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) && size != 0;
}

void MarkComponentEnabled(const Component* component) {
    char path[200];
    CopyTruncated(path, sizeof path, kPublicComponentsKey);
    AppendTruncated(path, sizeof path, component->section);
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    DWORD one = 1;
    RegSetValueExA(key, "enable", 0, REG_DWORD, (const BYTE*)&one, sizeof one);
    RegCloseKey(key);
}

// A fresh folder of the program's own in the temporary folder, for the
// package to unpack into and its setup to run from. An elevated install
// keeps the user's unelevated processes out of it: they could change the
// setup program between its unpacking and its start.
int MakePackageFolder(char* out) {
    char temp[MAX_PATH];
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp) return 0;
    if (!MakeOwnFolder(temp, kPackageFolderPrefix, FolderOfThisElevation, out, MAX_PATH)) {
        LogEvent("cannot make a folder to unpack into in %s (error %lu)", temp, GetLastError());
        return 0;
    }
    return 1;
}

void RecordDeferredPackage(const char* folder) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Corvane\\Corvane\\InstallComponents", 0,
                        nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    char name[32];
    snprintf(name, sizeof name, "INS%d", packageCounter);
    char value[MAX_PATH + 16];
    snprintf(value, sizeof value, "%s\\setup.ins", folder);
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)value, (DWORD)strlen(value) + 1);
    RegCloseKey(key);
}

HANDLE StartProgram(char* command, const char* folder) {
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE,
                        nullptr, folder, &startup, &process)) {
        LogEvent("cannot start %s (error %lu)", command, GetLastError());
        return nullptr;
    }
    LogEvent("started %s in %s", command, folder ? folder : "");
    CloseHandle(process.hThread);
    return process.hProcess;
}

// Starts a document or program through the shell. False when the shell
// could not; a started program's handle goes to *process (null when the
// shell handed the work to a program already running).
bool StartWithShell(const char* verb, const char* file, const char* parameters,
                    const char* folder, HANDLE* process) {
    SHELLEXECUTEINFOA info;
    ZeroMemory(&info, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_DOENVSUBST;
    info.lpVerb = verb;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = folder;
    info.nShow = SW_HIDE;
    *process = nullptr;
    if (!ShellExecuteExA(&info)) {
        LogEvent("shell verb %s on %s %s failed (error %lu)", verb, file, parameters ? parameters : "",
                 GetLastError());
        return false;
    }
    LogEvent("shell verb %s on %s %s done%s", verb, file, parameters ? parameters : "",
             info.hProcess ? ", waiting for its program" : "");
    *process = info.hProcess;
    return true;
}

// Waits for the program while the dialog's messages keep flowing: one
// message per wake-up, so a flood of messages cannot starve the check of the
// process or of restartPending. Returns the program's exit code, or
// STILL_ACTIVE when the wait ended before the program.
DWORD WaitForProgram(HANDLE process) {
    waitedProcess = process;
    int quit = 0;
    WPARAM quitCode = 0;
    // Windows ending the session sets restartPending while one of the
    // dispatched messages is handled: the wait ends right after it.
    while (!restartPending) {
        DWORD woke = MsgWaitForMultipleObjects(1, &process, FALSE, 200, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED || restartPending) break;
        MSG msg;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Meant for the loop that runs the dialog: handed back to it
                // once the program has ended.
                quit = 1;
                quitCode = msg.wParam;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(process, &exitCode);
    if (exitCode == STILL_ACTIVE) LogEvent("stopped waiting for the program: Windows ends the session");
    else LogEvent("the program ended with exit code %lu", exitCode);
    const DWORD ended = exitCode;
    CloseHandle(process);
    waitedProcess = INVALID_HANDLE_VALUE;
    if (quit) PostQuitMessage((int)quitCode);
    return ended;
}

int TargetFolder(int flags, char* out, int size) {
    out[0] = 0;
    TargetKind kind = ChooseTarget(flags);
    if (kind == TargetWindows) {
        UINT n = GetWindowsDirectoryA(out, (UINT)size);
        if (n == 0 || n >= (UINT)size) out[0] = 0;
    } else if (kind == TargetSystem) {
        UINT n = GetSystemDirectoryA(out, (UINT)size);
        if (n == 0 || n >= (UINT)size) out[0] = 0;
    } else {
        char client[MAX_PATH];
        if (FindClientFolder(client, kind == TargetClientData))
            ComposeClientTarget(kind, client, out, size);
    }
    if (!out[0]) LogEvent("no target folder for flags %d (is the client installed?)", flags);
    return out[0] != 0;
}

HKEY RootKey(RegistryRoot root) {
    switch (root) {
        case RootClassesRoot: return HKEY_CLASSES_ROOT;
        case RootCurrentUser: return HKEY_CURRENT_USER;
        case RootLocalMachine: return HKEY_LOCAL_MACHINE;
        case RootUsers: return HKEY_USERS;
    }
    return nullptr;
}

}  // namespace

int RunAction(const Component* component, const char* actionLine, int resultSource, ActionOutcome* outcome) {
    LogEvent("install action of %s: %s", component->section, actionLine);
    ActionLine line;
    if (!SplitActionLine(actionLine, &line)) {
        LogEvent("install action of %s not understood: failed", component->section);
        return 0;
    }
    char source[MAX_PATH];
    GetSourcePath(component, line.file, source, sizeof source);
    const char* ownCommandLine = commandLine ? commandLine : "";

    ClearFailedValues();

    // Anything that was meant to happen and did not (an archive that does
    // not unpack, a copy that fails, a program that does not start) fails
    // the action: the run must not go on as if the component were there.
    // Only a target that does not exist (the client is not installed) is
    // nothing to do.
    int result = 1;
    HANDLE process = nullptr;
    char command[kCommandSize];
    switch (line.kind) {
        case VerbIsPackage: {
            char folder[MAX_PATH];
            if (!MakePackageFolder(folder) ||
                !UnpackArchive(source, folder, 0, component->downloadFolder)) {
                result = 0;
                break;
            }
            if (deferPackageSetup) {
                RecordDeferredPackage(folder);
            } else {
                BuildPackageSetupCommand(folder, line.arguments, ownCommandLine, command,
                                         sizeof command);
                process = StartProgram(command, folder);
                if (!process) result = 0;
            }
            ++packageCounter;
            break;
        }
        case VerbRun:
            BuildRunCommand(source, line.arguments, ownCommandLine, command, sizeof command);
            process = StartProgram(command, component->downloadFolder);
            if (!process) result = 0;
            break;
        case VerbPackage: {
            int flags = ParseTargetFlags(line.arguments);
            char target[MAX_PATH];
            if (TargetFolder(flags, target, sizeof target) &&
                !UnpackArchive(source, target, (flags & TargetComFlag) ? 1 : 0,
                               component->downloadFolder))
                result = 0;
            break;
        }
        case VerbCopy: {
            int flags = ParseTargetFlags(line.arguments);
            char target[MAX_PATH];
            if (!TargetFolder(flags, target, sizeof target)) break;
            // A path cut to fit would name another file.
            if (strlen(target) + 1 + strlen(line.file) >= sizeof target) {
                LogEvent("copy %s: the target path is too long", source);
                result = 0;
                break;
            }
            AppendTruncated(target, sizeof target, "\\");
            AppendTruncated(target, sizeof target, line.file);
            // The file may sit in a folder of its own ("sub\file") that the
            // client does not have yet.
            CreateParentDirectories(target);
            BOOL copied = CopyFileA(source, target, FALSE);
            LogEvent("copy %s to %s: %s", source, target, copied ? "done" : "failed");
            if (!copied)
                result = 0;
            else if (flags & TargetComFlag)
                QueueComServer(target);
            break;
        }
        case VerbShell: {
            const char* parameters = line.arguments ? line.arguments : ownCommandLine;
            if (!StartWithShell(line.verb, source, parameters, component->downloadFolder,
                                &process))
                result = 0;
            break;
        }
    }

    if (process) {
        const DWORD exitCode = WaitForProgram(process);
        if (ProgramReportedFailure()) {
            result = 0;
            LogEvent("the program left \"Failed\" in the registry");
        }
        // A setup that reports through its exit code: a program of the
        // shell's (a document's viewer) has no result to tell.
        const bool judged = resultSource == ResultFromExitCode && line.kind != VerbShell;
        if (judged && exitCode != STILL_ACTIVE) {
            const int verdict = JudgeExitCode(exitCode);
            LogEvent("exit code %lu of %s: %s", static_cast<unsigned long>(exitCode), component->section,
                     ExitCodeMeaning(exitCode));
            if (verdict == ExitCodeFailure) {
                result = 0;
            } else if (outcome) {
                outcome->exitCodeSuccess = 1;
                if (verdict == ExitCodeRestartNeeded) outcome->restartNeeded = 1;
            }
        }
    }
    MarkComponentEnabled(component);
    return result;
}

int FindClientFolder(char* buffer, int dataFlag) {
    buffer[0] = 0;
    HKEY key;
    if (dataFlag && RegOpenKeyExA(HKEY_CURRENT_USER, kClientKey, 0, KEY_QUERY_VALUE, &key) ==
                        ERROR_SUCCESS) {
        DWORD size = MAX_PATH - 1;
        DWORD type = 0;
        LONG status =
            RegQueryValueExA(key, "Data Path", nullptr, &type, (BYTE*)buffer, &size);
        RegCloseKey(key);
        if (status == ERROR_SUCCESS && type == REG_SZ) {
            buffer[size < MAX_PATH ? size : MAX_PATH - 1] = 0;
            if (buffer[0]) {
                EnsureTrailingBackslash(buffer, MAX_PATH);
                return 1;
            }
        }
        buffer[0] = 0;
    }
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAppPathsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD size = MAX_PATH - 1;
    LONG status = RegQueryValueExA(key, "Path", nullptr, nullptr, (BYTE*)buffer, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        buffer[0] = 0;
        return 0;
    }
    buffer[size < MAX_PATH ? size : MAX_PATH - 1] = 0;
    ShapeClientFolder(buffer, MAX_PATH, dataFlag);
    return 1;
}

int QueueComServer(const char* path) {
    const char* type = ComRegistrationType(path);
    if (!type) return 0;
    char keyName[MAX_PATH + 64];
    CopyTruncated(keyName, sizeof keyName, kComQueueKey);
    char subkey[MAX_PATH];
    ComServerSubkey(path, subkey, sizeof subkey);
    AppendTruncated(keyName, sizeof keyName, subkey);
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return 0;
    RegSetValueExA(key, "Path", 0, REG_SZ, (const BYTE*)path, (DWORD)strlen(path) + 1);
    RegSetValueExA(key, "RegType", 0, REG_SZ, (const BYTE*)type, (DWORD)strlen(type) + 1);
    RegCloseKey(key);
    return 1;
}

namespace {
// "<folder>\cvgetex.dll" loaded by that full path; null when the folder is
// empty or the library is not there.
HMODULE LoadExtractionLibraryFrom(const char* folder) {
    if (!folder || !*folder) return nullptr;
    char path[MAX_PATH];
    if (!CopyTruncated(path, sizeof path, folder)) return nullptr;
    if (path[strlen(path) - 1] != '\\') AppendTruncated(path, sizeof path, "\\");
    AppendTruncated(path, sizeof path, "cvgetex.dll");
    if (strlen(path) >= sizeof path - 1) return nullptr;  // cut: not that file
    return LoadLibraryByFullPath(path);
}
}  // namespace

int UnpackArchive(const char* archive, const char* targetFolder, int flag,
                  const char* downloadFolder) {
    if (!extractionLibrary) {
        // Only from the folder the program filled itself (its package, or
        // the setup description's folder in a "-inf " run), by full path:
        // never from beside the program, which is often the user's
        // downloads where any web site may leave a file, and never by bare
        // name.
        extractionLibrary = LoadExtractionLibraryFrom(downloadFolder);
        if (!extractionLibrary) {
            LogEvent("cannot unpack %s: cvgetex.dll not found in the download folder %s", archive,
                     downloadFolder ? downloadFolder : "");
            return 0;
        }
        char loaded[MAX_PATH] = "";
        GetModuleFileNameA(extractionLibrary, loaded, sizeof loaded);
        LogEvent("loaded the extraction library %s", loaded);
    }
    UnzipPackageFunction unzip =
        (UnzipPackageFunction)GetProcAddress(extractionLibrary, "UnzipPackage");
    if (!unzip) {
        LogEvent("cannot unpack %s: cvgetex.dll has no UnzipPackage", archive);
        return 0;
    }
    int unpacked = unzip(archive, targetFolder, flag);
    LogEvent("unpacked %s into %s (flag %d): result %d", archive, targetFolder, flag, unpacked);
    return unpacked;
}

int ImportRegistrySection(const char* infPath, const char* registryLine) {
    char section[260];
    char file[MAX_PATH];
    if (!SplitRegistryReference(registryLine ? registryLine : "", infPath, section,
                                sizeof section, file, sizeof file))
        return 0;
    char entries[kRegistrySectionSize];
    DWORD length = GetPrivateProfileSectionA(section, entries, sizeof entries, ReadablePath(file));
    if (length == 0) return 0;

    int allWritten = 1;
    for (char* entry = entries; *entry; entry += strlen(entry) + 1) {
        char text[kRegistrySectionSize];
        CopyTruncated(text, sizeof text, entry);
        RegistryLine line;
        RegistryLineKind kind = SplitRegistryLine(text, &line);
        if (kind == RegistryLineSkipped) continue;
        if (kind == RegistryLineBadRoot) return 0;
        HKEY key;
        if (RegCreateKeyA(RootKey(line.root), line.subkey, &key) != ERROR_SUCCESS) return 0;
        LONG status;
        if (line.isDword) {
            unsigned number;
            if (!ParseDecimalDword(line.data, &number)) allWritten = 0;
            DWORD value = number;
            status = RegSetValueExA(key, line.valueName, 0, REG_DWORD, (const BYTE*)&value,
                                    sizeof value);
        } else {
            status = RegSetValueExA(key, line.valueName, 0, REG_SZ, (const BYTE*)line.data,
                                    (DWORD)strlen(line.data) + 1);
        }
        if (status != ERROR_SUCCESS) allWritten = 0;
        RegCloseKey(key);
    }
    return allWritten;
}
