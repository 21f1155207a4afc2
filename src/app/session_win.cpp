// The download session around the download dialog.
#include "app/session_win.h"

#include <winsock2.h>
#include <windows.h>

#include "base/process_win.h"
#include "app/message_box_win.h"
#include "app/switches.h"
#include "base/text_copy.h"
#include "app/tray_win.h"
#include "base/resume_shortcut_win.h"
#include "app/run_modes.h"
#include "base/run_log.h"
#include "download/download_dialog_win.h"
#include "setup/download_folder_win.h"
#include "ui/window_win.h"

namespace {
const INT_PTR kResultOver = 1003;
const INT_PTR kResultSuspended = 1004;

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != 0; }

void WriteResumeShortcut(const DownloadFolder& folder, const DownloadDialog& dialog,
                         const char* setupPath) {
    char module[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, module, sizeof module);
    char program[260];
    BuildRelaunchProgram(folder.path, module, program, sizeof program);
    // Room for the switches and a whole setup path.
    char arguments[600];
    if (BuildRelaunchArguments(dialog.allowIntervention, restartPending, dialog.saveProxySettings,
                               setupPath, arguments, sizeof arguments))
        SetResumeShortcut(1, program, arguments);
}

const char* DialogResultName(INT_PTR result) {
    switch (result) {
    case kResultOver: return "over";
    case kResultSuspended: return "suspended";
    case 1009: return "keep files";
    }
    return "not run";
}
}  // namespace

int RunDownloadSession(int showIntro, int resuming, const char* setupPath, int saveProxySettings,
                       int installKept, const char* keptFolder) {
    WSADATA sockets;
    if (WSAStartup(MAKEWORD(1, 1), &sockets) != 0) {
        LogEvent("session: Windows Sockets 1.1 cannot start: message 17");
        ShowMessage(17, MB_ICONERROR);
        return ExitFailed;
    }
    DownloadFolder folder = {};
    folder.instance = GetModuleInstance();
    if (setupPath) {
        SetupFolderOf(setupPath, folder.path, sizeof folder.path, IsLeadByte);
    } else if (keptFolder) {
        // Named by the run that handed over: an elevated copy may run as
        // another user, whose registry records no folder.
        CopyTruncated(folder.path, sizeof folder.path, keptFolder);
    } else if (!OpenDownloadFolder(&folder)) {
        LogEvent("session: no download folder can be made: message 18");
        ShowMessage(18, MB_ICONERROR);
        WSACleanup();
        return ExitFailed;
    }
    LogEvent("session: download folder %s%s", folder.path, resuming ? ", resuming" : "");

    DownloadDialog dialog(folder.path, showIntro, resuming, setupPath, saveProxySettings);
    dialog.installKept = installKept;
    INT_PTR result = dialog.ShowModal(nullptr);
    LogEvent("download dialog ended: %d (%s)%s", static_cast<int>(result), DialogResultName(result),
             dialog.userQuit ? ", by the user" : dialog.handedOver ? ", install handed to the elevated copy" : "");
    // A run that is over leaves nothing working in its folder: a worker that
    // still wrote a part, or an open "tmp.tmp", would keep the folder from
    // being removed. A suspended run's worker stops by itself meanwhile.
    if (result != kResultSuspended) dialog.StopTransports(kTransportStopMs);
    if (result == kResultOver) {
        if (!setupPath) RemoveDownloadFolder(&folder);
        SetResumeShortcut(0, nullptr, nullptr);
        if (setupPath) LogEvent("kept %s, the folder of the setup file", folder.path);
    } else if (result != kResultSuspended) {
        LogEvent("kept the download folder %s with its files, and the resume shortcut", folder.path);
    }
    if (result != kResultSuspended) {
        WSACleanup();
        return SessionExitCode(static_cast<int>(result), dialog.userQuit, dialog.handedOver);
    }
    WriteResumeShortcut(folder, dialog, setupPath);
    // A session ended by Windows itself resumes after the next log-on;
    // there is nobody to read a message now.
    if (restartPending) {
        restartPending = 0;
    } else {
        ShowMessage(592, MB_OK);
    }
    return ExitSuspended;
}
