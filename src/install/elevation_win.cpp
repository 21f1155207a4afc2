// Elevation on the real system: the version, the process token and
// ShellExecuteEx with "runas".
#include "install/elevation_win.h"

#include <shellapi.h>

#include "base/process_win.h"
#include "base/resume_shortcut_win.h"
#include "base/run_log.h"
#include "install/elevation.h"

namespace {

// TokenElevation (Vista and later), named here because the headers are set
// for the oldest system the program runs on.
const TOKEN_INFORMATION_CLASS kTokenElevation = static_cast<TOKEN_INFORMATION_CLASS>(20);

class RealElevationSystem final : public ElevationSystem {
public:
    int HasElevation() override { return GetSystemHasElevation(); }
    int IsElevated() override {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
        DWORD elevated = 0;
        DWORD size = 0;
        // A failed query counts as not elevated: the user is asked rather
        // than the install left to fail without rights.
        const BOOL ok = GetTokenInformation(token, kTokenElevation, &elevated, sizeof elevated,
                                            &size);
        CloseHandle(token);
        return ok && elevated ? 1 : 0;
    }
    int StartElevated(HWND owner, const char* program, const char* arguments, const char* folder,
                      DWORD* error) override {
        SHELLEXECUTEINFOA run = {};
        run.cbSize = sizeof run;
        // No message of the shell's own: the caller says what happened.
        run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
        run.hwnd = owner;
        run.lpVerb = "runas";
        run.lpFile = program;
        run.lpParameters = arguments;
        run.lpDirectory = folder;
        run.nShow = SW_SHOWNORMAL;
        if (!ShellExecuteExA(&run)) {
            *error = GetLastError();
            return 0;
        }
        if (run.hProcess) CloseHandle(run.hProcess);
        *error = 0;
        return 1;
    }
};

RealElevationSystem realSystem;
ElevationSystem* current = &realSystem;

}  // namespace

ElevationSystem* CurrentElevationSystem() { return current; }

void ReplaceElevationSystem(ElevationSystem* system) { current = system ? system : &realSystem; }

int HandInstallOver(HWND owner, const char* folder, const char* setupPath, int secondInstance,
                    int deferPackageSetup, int saveProxySettings, const char* keptSum) {
    char module[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, module, sizeof module);
    char program[MAX_PATH];
    if (!BuildCopyPath(folder, module, program, sizeof program) ||
        GetFileAttributesA(program) == INVALID_FILE_ATTRIBUTES)
        lstrcpynA(program, module, MAX_PATH);
    char arguments[MAX_PATH + 160 + sizeof carriedSwitches];
    if (!BuildInstallKeptArguments(folder, setupPath, secondInstance, deferPackageSetup,
                                   saveProxySettings, keptSum, arguments, sizeof arguments, carriedSwitches))
        return 0;
    DWORD error = 0;
    const int started = current->StartElevated(owner, program, arguments, folder, &error);
    if (started)
        LogEvent("install handed over: started %s %s elevated; it logs on its own", program, arguments);
    else
        LogEvent("install not handed over: %s %s could not start elevated (error %lu)", program,
                 arguments, error);
    return started;
}
