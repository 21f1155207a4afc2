// Reads allowintervention before the run starts: from the "-inf " file
// through the profile reader, as the download dialog will, or from the
// package's setup descriptions in memory, before anything is written.
#include "setup/defs_peek_win.h"

#include <windows.h>

#include <cstring>

#include "setup/defs_peek.h"
#include "setup/package_win.h"
#include "setup/profile_win.h"
#include "setup/setup_keys.h"

int SetupForbidsIntervention(const char* programPath, const char* setupPath) {
    if (setupPath) {
        char value[16];
        ReadSetting(kDefsSection, SetupKeyName(KeyAllowIntervention), "TRUE", value, sizeof value, setupPath);
        return std::strcmp(value, "FALSE") == 0;
    }
    PackageFile package;
    if (!OpenPackage(&package, programPath, 0)) return 0;
    const int forbids = PackageForbidsIntervention(&package);
    ClosePackage(&package);
    return forbids;
}
