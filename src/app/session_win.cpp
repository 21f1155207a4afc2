// The download session around the download dialog.
#include "app/session_win.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>

#include "base/process_win.h"
#include "app/message_box_win.h"
#include "app/switches.h"
#include "base/text_copy.h"
#include "app/tray_win.h"
#include "base/resume_shortcut_win.h"
#include "app/run_modes.h"
#include "base/run_log.h"
#include "download/download_dialog_win.h"
#include "install/kept_files_win.h"
#include "install/kept_list.h"
#include "resources/resource.h"
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
    char arguments[600 + sizeof carriedSwitches];
    if (BuildRelaunchArguments(dialog.allowIntervention, restartPending, dialog.saveProxySettings,
                               setupPath, arguments, sizeof arguments, carriedSwitches))
        SetResumeShortcut(1, program, arguments);
}

// Removes the elevated copy's own folder, which no record names; a program
// the install started may still hold a file there for a moment.
void RemoveOwnFolder(const char* path) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        DeleteTree(path);
        if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
            LogEvent("removed %s, the copy of the kept files", path);
            return;
        }
        Sleep(100);
    }
    LogEvent("%s, the copy of the kept files, cannot be removed wholly", path);
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
                       int installKept, const char* keptFolder, const char* keptSum) {
    WSADATA sockets;
    if (WSAStartup(MAKEWORD(1, 1), &sockets) != 0) {
        LogEvent("session: Windows Sockets 1.1 cannot start: message 17");
        ShowMessage(17, MB_ICONERROR);
        return ExitFailed;
    }
    DownloadFolder folder = {};
    folder.instance = GetModuleInstance();
    // The elevated copy: where the run that handed over kept its files.
    DownloadFolder kept = {};
    kept.instance = folder.instance;
    // The setup description the dialog reads: in the elevated copy, its
    // checked copy.
    const char* runSetupPath = setupPath;
    char ownSetupPath[MAX_PATH];
    if (installKept) {
        // Named by the run that handed over: an elevated copy may run as
        // another user, whose registry records no folder.
        if (setupPath)
            SetupFolderOf(setupPath, kept.path, sizeof kept.path, IsLeadByte);
        else
            CopyTruncated(kept.path, sizeof kept.path, keptFolder);
        char setupName[MAX_PATH];
        if (!TakeKeptFiles(kept.path, keptSum, folder.path, sizeof folder.path) ||
            (setupPath && (!NameInFolder(setupPath, kept.path, setupName, sizeof setupName) ||
                           std::snprintf(ownSetupPath, sizeof ownSetupPath, "%s\\%s", folder.path, setupName) >=
                               static_cast<int>(sizeof ownSetupPath)))) {
            if (folder.path[0]) DeleteTree(folder.path);
            LogEvent("session: the kept files of %s are not installed: message %d", kept.path,
                     IDS_KEPT_FILES_CHANGED);
            ShowMessageWith(IDS_KEPT_FILES_CHANGED, kept.path, MB_ICONERROR | MB_SETFOREGROUND);
            WSACleanup();
            return ExitFailed;
        }
        if (setupPath) runSetupPath = ownSetupPath;
    } else if (setupPath) {
        SetupFolderOf(setupPath, folder.path, sizeof folder.path, IsLeadByte);
    } else if (!OpenDownloadFolder(&folder)) {
        LogEvent("session: no download folder can be made: message 18");
        ShowMessage(18, MB_ICONERROR);
        WSACleanup();
        return ExitFailed;
    }
    LogEvent("session: download folder %s%s", folder.path, resuming ? ", resuming" : "");

    DownloadDialog dialog(folder.path, showIntro, resuming, runSetupPath, saveProxySettings);
    dialog.installKept = installKept;
    // "/quiet" stands in for allowintervention=FALSE.
    if (unattendedRun) dialog.allowIntervention = 0;
    INT_PTR result = dialog.ShowModal(nullptr);
    LogEvent("download dialog ended: %d (%s)%s", static_cast<int>(result), DialogResultName(result),
             dialog.userQuit ? ", by the user" : dialog.handedOver ? ", install handed to the elevated copy" : "");
    // A run that is over leaves nothing working in its folder: a worker that
    // still wrote a part, or an open "tmp.tmp", would keep the folder from
    // being removed. A suspended run's worker stops by itself meanwhile.
    if (result != kResultSuspended) dialog.StopTransports(kTransportStopMs);
    // The elevated copy's own folder has served its install whatever the
    // result; from here on the run's folder is the one the files were kept
    // in.
    if (installKept) {
        RemoveOwnFolder(folder.path);
        folder = kept;
    }
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
