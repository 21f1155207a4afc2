// The system's side of elevation: whether the system asks before a program
// gets administrator rights, whether this process has them, and starting a
// program through the "runas" verb. Behind a seam, so that the Windows tests
// can play each kind of system under Wine (where every program runs
// elevated).
#pragma once
#include <windows.h>

class ElevationSystem {
public:
    virtual int HasElevation() = 0;
    virtual int IsElevated() = 0;
    // Starts `program` elevated with `arguments` in `folder`, the system's
    // prompt owned by `owner`; 1 when it started, else 0 and the system's
    // error (ERROR_CANCELLED when the user refused the prompt).
    virtual int StartElevated(HWND owner, const char* program, const char* arguments,
                              const char* folder, DWORD* error) = 0;

protected:
    ~ElevationSystem() {}
};

// The real system unless a test has put another in its place; null puts
// the real one back.
ElevationSystem* CurrentElevationSystem();
void ReplaceElevationSystem(ElevationSystem* system);

// Starts the program's copy in `folder` (the program itself when no copy
// is there, as in a "-inf " run without network components) elevated, with
// the switch that goes straight to the install of the kept files and the
// SHA-256 of their list (`keptSum`). 1 when it started: this process then
// ends keeping the files.
int HandInstallOver(HWND owner, const char* folder, const char* setupPath, int secondInstance,
                    int deferPackageSetup, int saveProxySettings, const char* keptSum);
