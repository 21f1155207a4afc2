// Which kind of Windows the program runs on, and which Startup folder
// takes the resume shortcut there. Portable (no Windows header); in the
// bottom layer with the shortcut itself.
#pragma once

enum OsKind {
    OsWindows95Family = 1,  // any platform other than NT and Win32s
    OsOldNt = 2,            // Windows NT before 4.0
    OsWin32s = 3,           // Win32s on Windows 3.1
    OsNt4OrLater = 4
};

// From the platform id (0 Win32s, 1 the 95 family, 2 NT) and the major
// version that the system reports.
int OsKindOf(unsigned long platformId, unsigned long majorVersion);

// Shell folder id of the Startup folder for the shortcut: the user's own
// on the 95 family (7), all users' on NT 4.0 and later (24); -1 where no
// folder is chosen.
int StartupFolderOf(int osKind);
