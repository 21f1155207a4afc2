// Install actions: action lines of a component, registry sections, the
// extraction library and the client's folders.
#pragma once
#include <windows.h>
#include "install/install_rules.h"
#include "setup/component.h"

// Handle of the program an install action waits for; INVALID_HANDLE_VALUE
// (-1) when none. When Windows ends the session the download dialog sets
// restartPending, which ends the wait (the program itself runs on).
extern HANDLE waitedProcess;

// Carries out one action line "verb,file[,arguments]" of the component
// ("ispackage", "run", "package", "copy" or a shell verb). Returns 0 for a
// line without verb or file, or whose file leads out of the component's
// folder (nothing else happens then), when an archive cannot be unpacked, a
// copy fails, a program cannot be started, or a waited-for program left
// "Failed" in the registry; 1 otherwise, also for a "package" or "copy"
// whose target does not exist (the client is not installed). A "copy"
// creates the folders its target path lacks. Every action with verb and
// file marks the component enabled for the client.
// `resultSource` (install_rules.h): with ResultFromExitCode the exit code
// of a "run" or "ispackage" program decides too (a failing one fails the
// action); what it said goes to *outcome (may be null), which is only
// ever set, never cleared.
struct ActionOutcome {
    int exitCodeSuccess;  // a program's exit code meant success
    int restartNeeded;    // ... and that a restart is needed (3010, 1641)
};
int RunAction(const Component* component, const char* actionLine, int resultSource = ResultFromStateFile,
              ActionOutcome* outcome = nullptr);
// Imports the registry section named by "section" or "section@file" (the
// file lies beside infPath). Returns 1 when every line was written; 0 for a
// file that is no safe name (absolute, a drive, a ".." part), a missing or
// empty section, a root other than HKCR, HKCU, HKLM and HKU (the import
// stops there), a key that cannot be created (it stops), or a DWORD whose
// data is no number (written as 0, the import goes on).
int ImportRegistrySection(const char* infPath, const char* registryLine);
// Unpacks an archive through "UnzipPackage" of cvgetex.dll, loaded once per
// process by its full path in the download folder, and from nowhere else
// (not from beside the program, not by bare name). flag 1
// keeps files already in the target. Returns the library's result, or 0
// when the library or its entry point is missing.
int UnpackArchive(const char* archive, const char* targetFolder, int flag, const char* downloadFolder);
// Queues a ".exe", ".dll" or ".ocx" for COM registration by the client;
// 0 for any other extension or when the key cannot be created.
int QueueComServer(const char* path);
// The client's folder (260 bytes) from its App Paths entry, without a last
// "\Program"; with dataFlag its data folder ("Data Path" with a trailing
// "\", else the client's folder + "\data"). Returns whether it was found.
int FindClientFolder(char* buffer, int dataFlag);
