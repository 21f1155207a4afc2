// Which kind of Windows the program runs on, whether it has elevation, and
// which Startup folder takes the resume shortcut there. Portable (no Windows
// header); in the bottom layer with the shortcut itself.
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

// Vista (NT 6.0) and later ask the user before a program gets
// administrator rights; earlier systems give a program the user's own.
int SystemHasElevation(unsigned long platformId, unsigned long majorVersion);

// Shell folder id of the Startup folder for the shortcut: the user's own
// on the 95 family and on systems with elevation (7), where the program
// writes it without administrator rights and the system starts it at
// log-on without a prompt; all users' on NT 4.0 to XP (24); -1 where no
// folder is chosen.
int StartupFolderOf(int osKind, int hasElevation);
