// The resume shortcut "Corvane Lite Installer.lnk" in the Startup folder
// that starts the program's copy again after the next log-on, and the kind
// of Windows that decides which Startup folder takes it.
#pragma once
#include <windows.h>

// On: creates or replaces the shortcut; off: deletes it.
void SetResumeShortcut(int on, const char* target, const char* arguments);
// 1 the 95 family, 2 NT before 4.0, 3 Win32s, 4 NT 4.0 or later.
int GetOsKind();
// 1 on Vista and later, which ask before a program gets administrator
// rights. Both ask the system once per process.
int GetSystemHasElevation();
// Full path of the resume shortcut in the Startup folder that GetOsKind
// and GetSystemHasElevation select; false when there is none.
bool GetResumeShortcutPath(char* path, int size);

