// Start-up: claims the instance mutex or hands over to the running
// instance, then runs the run-mode loop against the real system.
#include "app/startup_win.h"

#include <commctrl.h>
#include <cstring>

#include "base/process_win.h"
#include "app/run_modes.h"
#include "app/session_win.h"
#include "app/message_box_win.h"
#include "app/switches.h"
#include "app/tray_win.h"
#include "base/resume_shortcut_win.h"
#include "download/http_downloader_win.h"
#include "setup/download_folder_win.h"
#include "ui/window_win.h"

namespace {
class SystemRunModeHost : public RunModeHost {
public:
    int TrayWait() override { return RunTrayWait(); }
    int AskToResume() override { return ShowMessage(595, MB_YESNOCANCEL | MB_ICONQUESTION); }
    int RunSession(int showIntro, int resuming, const char* setupPath,
                   int saveProxySettings) override {
        return RunDownloadSession(showIntro, resuming, setupPath, saveProxySettings);
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
};
}  // namespace

int StartProgram(HINSTANCE instance, const char* cmdLine) {
    const char* cl = cmdLine ? cmdLine : "";
    SetLastError(0);
    HANDLE mutex = CreateMutexA(nullptr, TRUE, INSTANCE_MUTEX_NAME);
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        if (!std::strstr(cl, "-run2")) {
            // The running instance comes back from the tray; if it has not
            // waited there yet, it cannot be reached.
            HWND tray = FindWindowA(TRAY_WINDOW_CLASS, TRAY_WINDOW_CLASS);
            if (tray) {
                PostMessageA(tray, WM_COMMAND, TrayOpenCommand, 0);
            } else {
                SetModuleInstance(instance);
                ShowMessage(594, MB_ICONERROR);
            }
            CloseHandle(mutex);
            return 1;
        }
        secondInstance = 1;
    }
    commandLine = cl;
    InitCommonControls();
    SetModuleInstance(instance);

    Switches switches;
    ParseSwitches(cl, &switches);
    deferPackageSetup = switches.deferPackageSetup;
    // A folder that an earlier run could not remove goes now.
    RemoveLeftoverDownloadFolder(instance);
    SystemRunModeHost host;
    RunModeLoop(switches, &host);

    EndTray();
    if (mutex) CloseHandle(mutex);
    return 0;
}
