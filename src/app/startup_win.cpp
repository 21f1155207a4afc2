// Start-up: claims the instance mutex or hands over to the running
// instance, then runs the run-mode loop against the real system.
#include "app/startup_win.h"

#include <cstdlib>
#include <cstring>

#include "base/process_win.h"
#include "app/run_modes.h"
#include "app/session_win.h"
#include "app/message_box_win.h"
#include "app/switches.h"
#include "base/text_copy.h"
#include "app/tray_win.h"
#include "base/resume_shortcut_win.h"
#include "base/system_dll_win.h"
#include "install/elevation.h"
#include "download/http_downloader_win.h"
#include "download/shared_http_settings.h"
#include "base/run_log.h"
#include "base/run_log_win.h"
#include "setup/defs_peek_win.h"
#include "setup/download_folder_win.h"
#include "ui/window_win.h"

namespace {
// The common controls (list view, progress bar of the download dialog) come
// from the system folder at run time: the program imports only DLLs that
// Windows always takes from there.
void InitCommonControlsFromSystem() {
    typedef void(WINAPI * InitFunction)();
    InitFunction init =
        reinterpret_cast<InitFunction>(SystemProcedure("comctl32.dll", "InitCommonControls"));
    if (init) init();
}

class SystemRunModeHost : public RunModeHost {
public:
    int TrayWait() override { return RunTrayWait(); }
    int AskToResume() override { return ShowMessage(595, MB_YESNOCANCEL | MB_ICONQUESTION); }
    int RunSession(int showIntro, int resuming, const char* setupPath,
                   int saveProxySettings) override {
        return RunDownloadSession(showIntro, resuming, setupPath, saveProxySettings, installKept,
                                  keptFolder, keptSum);
    }
    void SetSessionActive(int active) override { sessionActive = active; }
    void RemoveShortcut() override { SetResumeShortcut(0, nullptr, nullptr); }
    void RemoveRecordedFolder() override {
        // A second instance never removes the folder; opening it would only
        // make and record a new empty one when none is recorded yet.
        if (secondInstance) return;
        // A suspended session's worker may still be ending its part.
        WaitForFetchWorkers(kTransportStopMs);
        DownloadFolder folder = {};
        folder.instance = GetModuleInstance();
        OpenDownloadFolder(&folder);
        RemoveDownloadFolder(&folder);
    }

    int installKept = 0;
    const char* keptFolder = nullptr;
    const char* keptSum = nullptr;
};

// The run that hands its install over to its elevated copy ends right
// after starting it; the copy waits that long for the instance mutex.
const DWORD kHandOverWait = 30000;

bool TakeOverFromHandingRun(HANDLE mutex) {
    const DWORD waited = WaitForSingleObject(mutex, kHandOverWait);
    return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}
}  // namespace

namespace {
// Whether anybody attends this run: "/quiet" says not, and so does a setup
// description with allowintervention=FALSE.
void DecideUnattended(const Switches& switches) {
    if (switches.quiet) {
        unattendedRun = 1;
        LogEvent("unattended run (\"/quiet\"): nothing is asked, and every message goes to this log only");
        return;
    }
    char program[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
    if (length == 0 || length >= sizeof program) return;
    if (SetupForbidsIntervention(program, switches.setupPath)) {
        unattendedRun = 1;
        LogEvent("unattended run (allowintervention=FALSE): nothing is asked, and every message goes to this log "
                 "only");
    }
}

// The proxy "/proxy" gives this run, tried before every other arrangement;
// a value that is no host and port is ignored, and the log says so.
void DecideRunProxy(const Switches& switches) {
    if (!switches.proxyGiven) return;
    RunProxy.kind = ParseRunProxy(switches.proxy, RunProxy.host, sizeof RunProxy.host, RunProxy.port,
                                  sizeof RunProxy.port);
    if (RunProxy.kind == RunProxyNamed)
        LogEvent("this run's proxy (\"/proxy\"): %s:%s, tried first, without credentials", RunProxy.host,
                 RunProxy.port);
    else if (RunProxy.kind == RunProxyDirect)
        LogEvent("this run's proxy (\"/proxy direct\"): none, a direct connection is tried first");
    else  // a value with a login in it is not repeated: it may hold a password
        LogEvent("\"/proxy\" ignored: \"%s\" is neither HOST:PORT nor \"direct\"",
                 std::strchr(switches.proxy, '@') ? "***" : switches.proxy);
}

// Ends the log with the exit code and hands the code back.
int EndRun(int code) {
    LogEvent("end: exit code %d (%s)", code, ExitCodeName(code));
    CloseRunLog();
    return code;
}
}  // namespace

int StartProgram(HINSTANCE instance, const char* cmdLine) {
    const char* given = cmdLine ? cmdLine : "";
    // "-log PATH" is the log's own: the rest of the program, and the
    // programs the install actions start, see the command line without it.
    // The copy lives as long as the process; commandLine points into it.
    size_t length = std::strlen(given);
    char* rest = static_cast<char*>(std::malloc(length + 1));
    char logPath[MAX_PATH] = "";
    if (rest) CutLogSwitch(given, logPath, sizeof logPath, rest, static_cast<int>(length + 1));
    const char* cl = rest ? rest : given;
    OpenRunLog(logPath);
    LogProgramStart(given);
    Switches switches;
    ParseSwitches(cl, &switches);
    // The setup path as the profile functions need it: unquoted and
    // absolute (they would read a relative one from the Windows folder).
    static char setupPath[MAX_PATH];
    if (switches.setupPath) {
        char cleaned[MAX_PATH];
        CleanSetupPath(switches.setupPath, cleaned, sizeof cleaned);
        DWORD n = GetFullPathNameA(cleaned, sizeof setupPath, setupPath, nullptr);
        if (n == 0 || n >= sizeof setupPath) CopyTruncated(setupPath, sizeof setupPath, cleaned);
        switches.setupPath = setupPath;
    }
    // Known before the first message: a run under a management tool has
    // nobody to click one away, not even "another instance runs".
    DecideUnattended(switches);
    DecideRunProxy(switches);
    BuildCarriedSwitches(switches.quiet, RunProxy.kind == RunProxyUnset || RunProxy.kind == RunProxyInvalid
                                             ? nullptr
                                             : switches.proxy,
                         carriedSwitches, sizeof carriedSwitches);
    SetLastError(0);
    HANDLE mutex = CreateMutexA(nullptr, TRUE, INSTANCE_MUTEX_NAME);
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        if (!switches.run2 &&
            !(switches.installKept && TakeOverFromHandingRun(mutex))) {
            // The running instance comes back from the tray; if it has not
            // waited there yet, it cannot be reached.
            HWND tray = FindWindowA(TRAY_WINDOW_CLASS, TRAY_WINDOW_CLASS);
            if (tray) {
                PostMessageA(tray, WM_COMMAND, TrayOpenCommand, 0);
                LogEvent("another instance runs: asked it to resume from the tray");
            } else {
                SetModuleInstance(instance);
                LogEvent("another instance runs and waits nowhere: message 594");
                ShowMessage(594, MB_ICONERROR);
            }
            CloseHandle(mutex);
            return EndRun(ExitHandedOver);
        }
        if (switches.run2) {
            secondInstance = 1;
            LogEvent("another instance runs; \"-run2\": running beside it");
        } else {
            LogEvent("the run that handed its install over has ended: installing the kept files");
        }
    }
    commandLine = cl;
    InitCommonControlsFromSystem();
    SetModuleInstance(instance);

    deferPackageSetup = switches.deferPackageSetup;
    // A folder that an earlier run could not remove goes now; not in the
    // elevated copy, which takes no orders from the user's registry.
    if (!switches.installKept) RemoveLeftoverDownloadFolder(instance);
    SystemRunModeHost host;
    host.installKept = switches.installKept;
    host.keptFolder = switches.keptFolder;
    host.keptSum = switches.keptSum;
    int code = RunModeLoop(switches, &host);

    EndTray();
    if (mutex) CloseHandle(mutex);
    return EndRun(code);
}
