// Windows kinds, elevation and their Startup folders.
#include "base/os_kind.h"

int OsKindOf(unsigned long platformId, unsigned long majorVersion) {
    const unsigned long win32s = 0, nt = 2;
    if (platformId == nt) return majorVersion < 4 ? OsOldNt : OsNt4OrLater;
    if (platformId == win32s) return OsWin32s;
    return OsWindows95Family;
}

int SystemHasElevation(unsigned long platformId, unsigned long majorVersion) {
    const unsigned long nt = 2;
    return platformId == nt && majorVersion >= 6;
}

int StartupFolderOf(int osKind, int hasElevation) {
    const int userStartup = 7, commonStartup = 24;
    if (osKind == OsWindows95Family) return userStartup;
    if (osKind == OsNt4OrLater && hasElevation) return userStartup;
    if (osKind == OsNt4OrLater) return commonStartup;
    // Before NT 4.0 and on Win32s there is no Startup folder the shell can
    // name, so no shortcut is made there.
    return -1;
}
